// Hands Services requests from the bus to the application delegate, on the main thread.
#include "ServicesAdaptor.h"

#include <QDBusArgument>
#include <QDBusMetaType>

#include "AppDelegate.h"

namespace tessarin {

ServicesAdaptor::ServicesAdaptor(AppDelegate* delegate) : QDBusAbstractAdaptor(delegate), delegate_(delegate) {
    // The bus describes the entry's method from its parameter types by name, which Qt knows only
    // once the type is registered; without it the description leaves the method out, with a warning.
    qRegisterMetaType<QDBusVariant>();
    qDBusRegisterMetaType<QByteArrayList>();
}

void ServicesAdaptor::HandleServicesWithPasteboard(const QDBusVariant& pasteboard) {
    const QVariant value = pasteboard.variant();
    // The bus hands a list of byte strings over still marshalled; anything else of that kind is
    // no file-name list.
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("aay")) return;
        delegate_->handleServicesWithPasteboard(QVariant::fromValue(qdbus_cast<QByteArrayList>(argument)));
        return;
    }
    delegate_->handleServicesWithPasteboard(value);
}

}  // namespace tessarin
