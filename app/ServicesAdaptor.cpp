// Hands Services requests from the bus to the application delegate, on the main thread.
#include "ServicesAdaptor.h"

#include "AppDelegate.h"

namespace tessarin {

ServicesAdaptor::ServicesAdaptor(AppDelegate* delegate) : QDBusAbstractAdaptor(delegate), delegate_(delegate)
{
    // The bus describes the entry's method from its parameter types by name, which Qt knows only
    // once the type is registered; without it the description leaves the method out, with a warning.
    qRegisterMetaType<QDBusVariant>();
}

void ServicesAdaptor::HandleServicesWithPasteboard(const QDBusVariant& pasteboard)
{
    delegate_->handleServicesWithPasteboard(pasteboard.variant());
}

}  // namespace tessarin
