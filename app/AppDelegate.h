// The application delegate: Services provider, Help and the two web pages, and the launcher
// window that stands in for the application-wide menu bar when no document window is open.
#pragma once

#include <QObject>
#include <QUrl>
#include <QVariant>

class QWidget;

#include <memory>
#include <string>
#include <vector>

namespace tessarin {

struct ApplicationMenuTargets;
class DocumentController;
class HelpWindowController;
class LauncherWindow;

// The maker's web site; both pages hang off this one host.
inline constexpr const char* kWebSiteHost = "tessarin.example";
inline constexpr const char* kSupportPath = "/marrowly-tessarin/";
inline constexpr const char* kUpdatesPath = "/updates-sierra-and-high-sierra/";

class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(DocumentController& documents, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The start of the windowed program: opens the items it was given, registers the Services
    // entry, and shows the launcher when no document window came of it (no items, or none that
    // exists), never an untitled document. When another copy of Tessarin already runs, the items
    // go to it instead, so that an item open there is brought forward rather than opened twice;
    // then the result is false and this copy has nothing left to do. The items are the command
    // line's bytes, kept exactly on the way to the document or to the other copy.
    bool launch(const std::vector<std::string>& items);

    // Registers the Services entry on the session bus; without a bus, silently nothing.
    void applicationDidFinishLaunching();
    // Ends the tools of checks still running, so that the program does not wait for them.
    void applicationWillTerminate();
    // Never an empty document: with nothing to open the launcher is shown instead.
    bool applicationShouldOpenUntitledFile() const { return false; }
    // Takes a list of absolute file names and opens each item; any other pasteboard is ignored.
    // The names come as text (QStringList) or, when a name need not be valid text, as the exact
    // bytes of each (QByteArrayList). The items open once the request has been answered, so the
    // sender never waits for them.
    void handleServicesWithPasteboard(const QVariant& pasteboard);

    const std::vector<std::unique_ptr<HelpWindowController>>& myHelpWindow() const { return myHelpWindow_; }
    bool servicesRegistered() const { return servicesRegistered_; }

    LauncherWindow* launcher() const { return launcher_.get(); }
    void showLauncher();

    static QUrl supportUrl();
    static QUrl updatesUrl();

public slots:
    void openSupport();
    void openHelp();
    void openUpdates();

signals:
    // The user asked to quit, or closed the last Tessarin window (the launcher or a help window;
    // closing the last document window brings the launcher back instead).
    void terminateRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowDidClose();
    // Hands `paths` (absolute) to the copy of Tessarin that owns the Services entry, if there is
    // one other than this, as byte strings; true when it took them.
    bool handOverToRunningCopy(const std::vector<std::string>& paths);
    // What the menus of the launcher and of a help window do; dialogs open over `window`.
    ApplicationMenuTargets menuTargets(QWidget* window);

    DocumentController& documents_;
    std::vector<std::unique_ptr<HelpWindowController>> myHelpWindow_;
    std::unique_ptr<LauncherWindow> launcher_;
    bool servicesRegistered_ = false;
};

}  // namespace tessarin
