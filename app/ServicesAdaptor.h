// The Services entry on the session bus: other programs hand Tessarin a pasteboard holding a list
// of file names, and each one opens as a document.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusVariant>

namespace tessarin {

class AppDelegate;

inline constexpr const char* kServicesBusName = "org.tessarin.Tessarin";
inline constexpr const char* kServicesObjectPath = "/org/tessarin/Tessarin";
inline constexpr const char* kServicesInterface = "org.tessarin.Tessarin.Services";

class ServicesAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tessarin.Tessarin.Services")
public:
    explicit ServicesAdaptor(AppDelegate* delegate);

public slots:
    // The pasteboard is a variant; only an array of strings ("as") or of byte strings ("aay", for
    // names that are not valid text) is taken. The reply is always empty: a request the entry
    // cannot use is dropped without an error, as Services requests are.
    void HandleServicesWithPasteboard(const QDBusVariant& pasteboard);

private:
    AppDelegate* delegate_;
};

}  // namespace tessarin
