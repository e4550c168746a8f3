// Hands Services requests from the bus to the application delegate, on the main thread.
#include "ServicesAdaptor.h"

#include "AppDelegate.h"

namespace tessarin {

ServicesAdaptor::ServicesAdaptor(AppDelegate* delegate) : QDBusAbstractAdaptor(delegate), delegate_(delegate) {}

void ServicesAdaptor::HandleServicesWithPasteboard(const QDBusVariant& pasteboard)
{
    delegate_->handleServicesWithPasteboard(pasteboard.variant());
}

}  // namespace tessarin
