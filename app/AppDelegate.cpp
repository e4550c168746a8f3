// Services registration and request handling, Help, the web pages, and when to show the launcher.
#include "AppDelegate.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <filesystem>

#include "ApplicationMenu.h"
#include "DocumentController.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "HelpWindowController.h"
#include "ItemDrops.h"
#include "LauncherWindow.h"
#include "ServicesAdaptor.h"

namespace tessarin {

AppDelegate::AppDelegate(DocumentController& documents, QObject* parent) : QObject(parent), documents_(documents) {
    connect(&documents_, &DocumentController::helpRequested, this, &AppDelegate::openHelp);
    connect(&documents_, &DocumentController::supportRequested, this, &AppDelegate::openSupport);
    connect(&documents_, &DocumentController::updatesRequested, this, &AppDelegate::openUpdates);
    connect(&documents_, &DocumentController::quitRequested, this, &AppDelegate::terminateRequested);
    // With no document window left the launcher comes back, so the menus stay within reach.
    connect(&documents_, &DocumentController::lastDocumentClosed, this, &AppDelegate::showLauncher);
    // A document window that opens takes over from the launcher.
    connect(&documents_, &DocumentController::documentOpened, this, [this] {
        if (launcher_) launcher_->hide();
    });
}

AppDelegate::~AppDelegate() = default;

bool AppDelegate::launch(const std::vector<std::string>& items) {
    namespace fs = std::filesystem;
    std::vector<std::string> present;
    for (const std::string& item : items) {
        std::error_code ec;
        if (!item.empty() && item.find('\0') == std::string::npos && fs::exists(item, ec))
            present.push_back(fs::absolute(item, ec).lexically_normal().string());
        else
            documents_.openDocument(item);  // opens nothing, and says why here, where it was asked
    }
    if (handOverToRunningCopy(present)) return false;
    documents_.openDocuments(present);
    applicationDidFinishLaunching();
    if (documents_.documents().empty() && !applicationShouldOpenUntitledFile()) showLauncher();
    return true;
}

bool AppDelegate::handOverToRunningCopy(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (!names) return false;
    const QString owner = names->serviceOwner(QLatin1String(kServicesBusName)).value();
    if (owner.isEmpty() || owner == bus.baseService()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kServicesBusName), QLatin1String(kServicesObjectPath), QLatin1String(kServicesInterface),
        QStringLiteral("HandleServicesWithPasteboard"));
    // Bytes ("aay"), not text ("as"): a bus string must be valid UTF-8, and a file name need not be.
    qDBusRegisterMetaType<QByteArrayList>();
    QByteArrayList items;
    for (const std::string& path : paths) items << QByteArray::fromStdString(path);
    call << QVariant::fromValue(QDBusVariant(QVariant::fromValue(items)));
    // A copy that does not answer soon is left alone; this one then opens the items itself.
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

void AppDelegate::applicationWillTerminate() { documents_.endRunningChecks(); }

void AppDelegate::applicationDidFinishLaunching() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    new ServicesAdaptor(this);
    if (!bus.registerObject(QLatin1String(kServicesObjectPath), this, QDBusConnection::ExportAdaptors)) return;
    // Another copy of Tessarin may own the name already; this one then goes without the entry.
    servicesRegistered_ = bus.registerService(QLatin1String(kServicesBusName));
    if (!servicesRegistered_) bus.unregisterObject(QLatin1String(kServicesObjectPath));
}

void AppDelegate::handleServicesWithPasteboard(const QVariant& pasteboard) {
    std::vector<std::string> fileNames;
    if (pasteboard.metaType() == QMetaType::fromType<QStringList>()) {
        for (const QString& name : pasteboard.toStringList())
            fileNames.push_back(QFile::encodeName(name).toStdString());
    } else if (pasteboard.metaType() == QMetaType::fromType<QByteArrayList>()) {
        for (const QByteArray& name : pasteboard.value<QByteArrayList>()) fileNames.push_back(name.toStdString());
    } else {
        return;
    }
    // A file-name list holds absolute paths only; a relative name would be read against our own
    // working folder, so a list holding one is not a file-name list.
    for (const std::string& name : fileNames) {
        if (name.empty() || name.front() != '/') return;
    }
    // Classifying and scanning a large bundle takes a while; the bus call must not wait for it.
    QTimer::singleShot(0, this, [this, fileNames] { documents_.openDocuments(fileNames); });
}

QUrl AppDelegate::supportUrl() {
    return QUrl(QStringLiteral("https://%1%2").arg(QLatin1String(kWebSiteHost), QLatin1String(kSupportPath)));
}

QUrl AppDelegate::updatesUrl() {
    return QUrl(QStringLiteral("https://%1%2").arg(QLatin1String(kWebSiteHost), QLatin1String(kUpdatesPath)));
}

void AppDelegate::openSupport() { QDesktopServices::openUrl(supportUrl()); }

void AppDelegate::openUpdates() { QDesktopServices::openUrl(updatesUrl()); }

void AppDelegate::openHelp() {
    auto controller = std::make_unique<HelpWindowController>();
    // A help window is a Tessarin window like the others: the same menus, and it takes drops.
    QMainWindow* window = controller->window();
    connectApplicationMenu(window, menuTargets(window));
    if (auto* close = window->findChild<QAction*>(QStringLiteral("actionClose")))
        connect(close, &QAction::triggered, window, &QWidget::close);
    acceptItemDrops(window, [this](const std::vector<std::string>& paths) { documents_.openDocuments(paths); });
    window->installEventFilter(this);
    controller->showWindow();
    myHelpWindow_.push_back(std::move(controller));
}

void AppDelegate::showLauncher() {
    if (!launcher_) {
        launcher_ = std::make_unique<LauncherWindow>();
        LauncherWindow* launcher = launcher_.get();
        connectApplicationMenu(launcher, menuTargets(launcher));
        acceptItemDrops(launcher, [this](const std::vector<std::string>& paths) { documents_.openDocuments(paths); });
        connect(launcher, &LauncherWindow::closed, this, &AppDelegate::windowDidClose);
    }
    launcher_->show();
    launcher_->raise();
    launcher_->activateWindow();
}

ApplicationMenuTargets AppDelegate::menuTargets(QWidget* window) {
    return {
        [this, window] { documents_.runOpenPanel(window); },
        [this, window] { documents_.runOpenFolderPanel(window); },
        [this] { emit terminateRequested(); },
        [this] { openHelp(); },
        [this] { openSupport(); },
        [this] { openUpdates(); },
    };
}

void AppDelegate::windowDidClose() {
    // Checked once the closed window has gone from the screen.
    QTimer::singleShot(0, this, [this] {
        if (!documents_.documents().empty()) return;
        if (launcher_ && launcher_->isVisible()) return;
        for (const auto& help : myHelpWindow_) {
            if (help->window()->isVisible()) return;
        }
        // Nothing of Tessarin is left on screen: closing the last window ends the program.
        emit terminateRequested();
    });
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close) windowDidClose();
    return QObject::eventFilter(watched, event);
}

}  // namespace tessarin
