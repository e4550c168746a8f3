// The application shell with fake tools, offscreen and on a private session bus: when the launcher
// shows, one window per item however it is named or reached, minimize and restore, a check that
// outlives its window, the Services entry, and the menus, help window and manual.
#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfView>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "AppDelegate.h"
#include "Document.h"
#include "DocumentController.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "HelpViewController.h"
#include "HelpWindowController.h"
#include "LauncherWindow.h"
#include "LookAlikeItems.h"
#include "NoTouchButtonCell.h"
#include "ServicesAdaptor.h"
#include "TempDir.h"
#include "ViewController.h"

using namespace tessarin;
using namespace Qt::StringLiterals;
using namespace std::literals;
using tessarin::test::makeDirectories;
using tessarin::test::TempDir;
using tessarin::test::writeScript;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Takes what the application hands the desktop's URL handler.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

// Answers the modal open dialog that `trigger` brings up by choosing `path`.
void chooseInOpenDialog(const QString& path, const std::function<void()>& trigger) {
    QTimer::singleShot(0, [path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    trigger();
}

// The URLs a file manager puts on a drag: every byte of a name that is not plain ASCII as a
// percent escape, so that a name that is not UTF-8 goes over exactly.
void dropOn(QWidget* target, const std::vector<std::string>& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& p : paths)
        urls << QUrl::fromEncoded("file://" + QByteArray::fromStdString(p).toPercentEncoding("/"), QUrl::StrictMode);
    mime.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

    TempDir dir_;
    TempDir mimeData_;
    ToolSet tools_;
    std::string one_, two_;

    // A document machinery with the fake tools; codesign takes `codesignDelay` seconds.
    std::unique_ptr<DocumentController> machinery(int codesignDelay = 0) {
        auto documents = std::make_unique<DocumentController>();
        ToolSet tools = tools_;
        tools.override(kCodesignPath, writeScript(dir_ / ("codesign" + std::to_string(codesignDelay)),
                                                  "sleep " + std::to_string(codesignDelay) + "; echo \"codesign $*\""));
        documents->setToolSet(tools);
        return documents;
    }

    static bool waitForChecks(DocumentWindowController* c) {
        ViewController* view = c->contentViewController();
        if (view->runningChecks() == 0) return true;
        QSignalSpy spy(view, &ViewController::checksCompleted);
        return spy.wait(20000);
    }

private slots:
    void initTestCase() {
        tools_.override(kSpctlPath, writeScript(dir_ / "spctl", "echo \"spctl $*\""));
        tools_.override(kPkgutilPath, writeScript(dir_ / "pkgutil", "echo \"pkgutil $*\""));
        tools_.override(kLipoPath, writeScript(dir_ / "lipo", "exit 1"));
        makeDirectories(dir_ / "items/One");
        makeDirectories(dir_ / "items/Two");
        one_ = dir_ / "items/One";
        two_ = dir_ / "items/Two";
        std::filesystem::create_directory_symlink(dir_ / "items/One", dir_ / "items/Link");
        // Two more whose names differ in one byte: 0xFF, and U+FFFD, what decoding makes of it.
        makeDirectories(dir_ / "items/Odd\xFF");
        makeDirectories(dir_ / "items/Odd\xEF\xBF\xBD");
    }

    // Qt says nothing about how we use it; only the offscreen platform's own limits are let pass.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support )"_s)); }

    // First, before anything in this process has asked Qt for a file's type.
    void desktopEntryAndTypesOfferTessarinForEveryKindOfItem() {
        const QString resources = QStringLiteral(TESSARIN_APP_RESOURCES);
        const QString desktopFile = resources + "/tessarin.desktop";
        if (const QString validator = QStandardPaths::findExecutable("desktop-file-validate"); !validator.isEmpty()) {
            QProcess validate;
            validate.start(validator, {desktopFile});
            QVERIFY(validate.waitForFinished());
            QVERIFY2(validate.exitCode() == 0, validate.readAllStandardOutput().constData());
        }
        QFile entry(desktopFile);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QStringList offered;
        for (const QByteArray& line : entry.readAll().split('\n'))
            if (line.startsWith("MimeType=")) offered = QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);

        const QString update = QStandardPaths::findExecutable("update-mime-database");
        const QString system = "/usr/share/mime/packages/freedesktop.org.xml";
        if (update.isEmpty() || !QFile::exists(system)) QSKIP("no shared MIME database to build on");
        // The desktop's type database as it is once Tessarin is installed, and only that; kept
        // while the process runs, as Qt goes on reading it for a while.
        const TempDir& data = mimeData_;
        makeDirectories(data / "mime/packages");
        QVERIFY(QFile::copy(system, qs(data / "mime/packages/freedesktop.org.xml")));
        QVERIFY(QFile::copy(resources + "/tessarin-mime.xml", qs(data / "mime/packages/tessarin.xml")));
        QProcess build;
        build.start(update, {qs(data / "mime")});
        QVERIFY(build.waitForFinished() && build.exitCode() == 0);
        // Restored as they were; an empty value means the default, as an unset one does.
        const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS"), dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(data.path()));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data / "home"));

        // The first bytes of each kind (a folder where there are none); a Java class is not offered.
        const std::tuple<const char*, std::string_view, const char*> kinds[] = {
            {"Tool", "\xCF\xFA\xED\xFE\x07\x00\x00\x01"sv, "application/x-mach-binary"},       // 64-bit Intel
            {"Old", "\xCE\xFA\xED\xFE\x07\x00\x00\x00"sv, "application/x-mach-binary"},        // 32-bit Intel
            {"Classic", "\xFE\xED\xFA\xCE\x00\x00\x00\x12"sv, "application/x-mach-binary"},    // PowerPC
            {"Universal", "\xCA\xFE\xBA\xBE\x00\x00\x00\x02"sv, "application/x-mach-binary"},  // two slices
            {"Wide", "\xCA\xFE\xBA\xBF\x00\x00\x00\x02"sv, "application/x-mach-binary"},       // 64-bit fat
            {"libThing.dylib", "\xCF\xFA\xED\xFE"sv, "application/x-mach-binary"},
            {"Flat.pkg", "xar!\x00\x1c\x00\x01"sv, "application/x-xar"},
            {"Meta.mpkg", "xar!\x00\x1c\x00\x01"sv, "application/vnd.apple.installer+xml"},
            {"Some.app", "", "inode/directory"},
            {"Main", "\xCA\xFE\xBA\xBE\x00\x00\x00\x34"sv, "application/x-java"},
        };
        QMimeDatabase types;
        for (const auto& [name, bytes, type] : kinds) {
            const std::string item = dir_ / ("kinds/" + std::string(name));
            bytes.empty() ? makeDirectories(item + "/Contents") : test::writeFile(item, bytes);
            const QString found = types.mimeTypeForFile(qs(item)).name();
            QVERIFY2(found == QLatin1String(type), qPrintable(QString(name) + ": " + found));
            QCOMPARE(offered.contains(found), found != u"application/x-java"_s);
        }
        qputenv("XDG_DATA_DIRS", dataDirs);
        qputenv("XDG_DATA_HOME", dataHome);
    }

    void launcherShowsOnlyWhileNoDocumentWindowIsOpen() {
        {
            auto documents = machinery();
            AppDelegate delegate(*documents);
            QSignalSpy quit(&delegate, &AppDelegate::terminateRequested);
            delegate.launch({one_});
            QCOMPARE(documents->documents().size(), 1u);
            QVERIFY(!delegate.launcher() || !delegate.launcher()->isVisible());
            // Closing the last document window brings the launcher back; the program goes on.
            documents->documents().front()->window()->close();
            QVERIFY(delegate.launcher() && delegate.launcher()->isVisible());
            QTest::qWait(10);
            QCOMPARE(quit.count(), 0);
            // A window that opens takes over from the launcher again.
            dropOn(delegate.launcher(), {two_});
            QTRY_COMPARE(documents->documents().size(), 1u);
            QVERIFY(!delegate.launcher()->isVisible());
        }
        for (const std::vector<std::string>& items :
             {std::vector<std::string>{}, std::vector<std::string>{dir_ / "items/Missing"}}) {
            auto documents = machinery();
            AppDelegate delegate(*documents);
            QSignalSpy quit(&delegate, &AppDelegate::terminateRequested);
            delegate.launch(items);
            QVERIFY(documents->documents().empty());
            QVERIFY(delegate.launcher() && delegate.launcher()->isVisible());
            // No untitled document: the launcher is no document window.
            QVERIFY(!delegate.launcher()->findChild<ViewController*>());
            // With nothing else of Tessarin on screen, closing the launcher ends the program.
            delegate.launcher()->close();
            QTRY_COMPARE(quit.count(), 1);
        }
    }

    void oneItemGetsOneWindowHoweverItIsNamedOrReached() {
        auto documents = machinery();
        int opened = 0;
        connect(documents.get(), &DocumentController::documentOpened, this, [&] { ++opened; });
        documents->openDocuments({one_, one_ + "/", dir_ / "items/./One", dir_ / "items/Link"});
        QCOMPARE(opened, 1);
        DocumentWindowController* first = documents->documents().front();
        QCOMPARE(first->window()->windowTitle(), u"One"_s);
        QVERIFY(waitForChecks(first));
        const QString log = first->contentViewController()->outputText();

        // Dropping on the log of a window (not just the window's own frame) opens through the
        // machinery too: the same item once more, and a new one. The same item's window comes out of
        // the minimized state, and is no new appearance: no check runs, the log is as it was.
        first->window()->showMinimized();
        dropOn(first->contentViewController()->theOutputTextbox()->viewport(), {one_, two_});
        QTRY_COMPARE(documents->documents().size(), 2u);
        DocumentWindowController* second = documents->documents().back();
        QCOMPARE(second->window()->windowTitle(), u"Two"_s);
        QVERIFY(second->document() != first->document());
        QCOMPARE(qs(second->document()->thePath), qs(two_));
        QVERIFY(!first->window()->isMinimized() && first->window()->isVisible());
        QCOMPARE(first->contentViewController()->runningChecks(), 0);
        QVERIFY(waitForChecks(second));
        QCOMPARE(first->contentViewController()->outputText(), log);

        // Both open dialogs lead to the same machinery.
        chooseInOpenDialog(qs(one_), [&] { documents->runOpenFolderPanel(); });
        chooseInOpenDialog(qs(two_), [&] { documents->runOpenFolderPanel(); });
        QCOMPARE(documents->documents().size(), 2u);
    }

    // Names are the file system's bytes all the way: "evil\xFF.app" (tampered) and its valid
    // neighbour "evil\xEF\xBF\xBD.app" (U+FFFD) are two items, two windows, two verdicts, and the
    // first is shown with an escape, never as the second.
    void namesThatDifferInOneByteOpenTwoWindowsEachWithItsOwnVerdict() {
        TempDir dir;
        const test::LookAlikeItems items(dir);
        auto documents = std::make_unique<DocumentController>();
        documents->setToolSet(items.tools);
        documents->openDocuments({items.tampered, items.valid, items.tampered + "/"});
        QCOMPARE(documents->documents().size(), 2u);
        DocumentWindowController* tampered = documents->documents()[0];
        DocumentWindowController* valid = documents->documents()[1];
        QVERIFY(tampered->document()->thePath == items.tampered);
        QVERIFY(valid->document()->thePath == items.valid);
        const QString escaped = u"evil\\xFF.app"_s, substitute = u"evil\uFFFD.app"_s;
        QCOMPARE(tampered->window()->windowTitle(), escaped);
        QCOMPARE(valid->window()->windowTitle(), substitute);
        QVERIFY(waitForChecks(tampered) && waitForChecks(valid));

        QVERIFY(!tampered->contentViewController()->validSignatures()->isChecked());
        QVERIFY(valid->contentViewController()->validSignatures()->isChecked());
        // Their logs and reports, from these same windows, are HeadlessTest's.

        // Dropped, or handed over as bytes, either name brings its own window forward.
        tampered->window()->showMinimized();
        valid->window()->showMinimized();
        dropOn(valid->window(), {items.tampered});
        QTRY_VERIFY(!tampered->window()->isMinimized());
        QVERIFY(valid->window()->isMinimized());
        AppDelegate delegate(*documents);
        delegate.handleServicesWithPasteboard(
            QVariant::fromValue(QByteArrayList{QByteArray::fromStdString(items.valid)}));
        QTRY_VERIFY(!valid->window()->isMinimized());
        QCOMPARE(documents->documents().size(), 2u);
        QVERIFY(items.eachRunGotItsOwnItem());  // and none ran again
    }

    // The program ending while such a check still runs is endingTheProgramEndsTheToolsOfRunningChecks.
    void checkFinishingAfterItsWindowClosedIsSafe() {
        auto documents = machinery(1);
        DocumentWindowController* c = documents->openDocument(one_);
        QPointer<DocumentWindowController> alive(c);
        ViewController* view = c->contentViewController();
        QCOMPARE(view->runningChecks(), 1);
        QString logWhenDone;
        connect(view, &ViewController::checksCompleted, this, [&] { logWhenDone = view->outputText(); });
        c->window()->close();
        QVERIFY(documents->documents().empty());
        QCOMPARE(documents->closingCount(), 1);
        // Reopening while the old window still finishes makes a new document.
        DocumentWindowController* again = documents->openDocument(one_);
        QVERIFY(again != c);
        QVERIFY(alive);
        QTRY_VERIFY_WITH_TIMEOUT(!alive, 20000);
        QCOMPARE(documents->closingCount(), 0);
        QVERIFY(logWhenDone.endsWith(u"codesign -dvvv "_s + qs(one_) + u"\n\n"_s));
        QVERIFY(waitForChecks(again));
    }

    // Quitting ends the tools of checks still running, in open and in closed windows alike, rather
    // than waiting for them: a long verification must not hold the program up.
    void endingTheProgramEndsTheToolsOfRunningChecks() {
        const std::string pids = dir_ / "long-codesign.pids";
        auto documents = std::make_unique<DocumentController>();
        ToolSet tools = tools_;
        tools.override(kCodesignPath, writeScript(dir_ / "long-codesign", "echo $$ >> '" + pids + "'; exec sleep 600"));
        documents->setToolSet(tools);
        documents->openDocument(one_)->window()->close();
        documents->openDocument(two_);
        auto started = [&pids] {
            std::vector<pid_t> found;
            std::ifstream in(pids);
            for (pid_t pid; in >> pid;) found.push_back(pid);
            return found;
        };
        QTRY_COMPARE_WITH_TIMEOUT(started().size(), 2u, 20000);
        for (pid_t pid : started()) QCOMPARE(::kill(pid, 0), 0);
        documents.reset();
        // Killed and reaped: no such process any more.
        for (pid_t pid : started()) QCOMPARE(::kill(pid, 0), -1);
    }

    void servicesEntryOpensAcceptedPathsAndIgnoresAnythingElse() {
        if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus (run under dbus-run-session)");
        auto documents = machinery();
        AppDelegate delegate(*documents);
        delegate.launch({});
        QVERIFY(delegate.servicesRegistered());
        QVERIFY(delegate.launcher()->isVisible());

        // Another program on the bus, in a process of its own: nothing that this process has set up
        // for its own use of the bus may stand in for what the entry needs.
        const QString gdbus = QStandardPaths::findExecutable(u"gdbus"_s);
        if (gdbus.isEmpty()) QSKIP("no gdbus to call the entry with");
        auto send = [&](const QString& pasteboard) {
            QProcess call;
            call.start(gdbus,
                       {"call", "--session", "--dest", kServicesBusName, "--object-path", kServicesObjectPath,
                        "--method", QLatin1String(kServicesInterface) + ".HandleServicesWithPasteboard", pasteboard});
            // The entry answers from this process's event loop, which must keep running meanwhile.
            QTRY_VERIFY_WITH_TIMEOUT(call.state() == QProcess::NotRunning, 20000);
            QVERIFY2(call.exitStatus() == QProcess::NormalExit && call.exitCode() == 0,
                     call.readAllStandardError().constData());
        };
        auto text = [](const std::string& path) { return "'" + qs(path) + "'"; };
        // A name that is not text goes over as bytes ("aay"), as a second copy sends every name
        // (aSecondCopyHandsItsItemsToTheRunningOne).
        auto bytes = [](const std::string& path) {
            QStringList values;
            for (unsigned char c : path) values << u"0x%1"_s.arg(c, 2, 16, QLatin1Char('0'));
            return "[byte " + values.join(", ") + "]";
        };

        const QString bad[] = {
            "<42>",
            "<" + text(one_) + ">",                 // one name, not a list
            "<[" + text(one_) + ", 'items/Two']>",  // a relative name spoils the list
            "<[" + text(one_) + ", '']>",
            "<[<" + text(one_) + ">, <7>]>",
            "<[" + bytes("items/Odd\xFF") + "]>",  // a relative name is no file name as bytes either
        };
        for (const QString& pasteboard : bad) send(pasteboard);
        QTest::qWait(20);
        QVERIFY(documents->documents().empty());
        QVERIFY(delegate.launcher()->isVisible());

        send("<[" + text(one_) + ", " + text(two_) + ", " + text(one_ + "/") + "]>");
        QTRY_COMPARE(documents->documents().size(), 2u);
        QCOMPARE(documents->documents()[0]->window()->windowTitle(), u"One"_s);
        QCOMPARE(documents->documents()[1]->window()->windowTitle(), u"Two"_s);
        QVERIFY(documents->documents()[1]->window()->isVisible());
        QVERIFY(!delegate.launcher()->isVisible());

        for (DocumentWindowController* c : documents->documents()) QVERIFY(waitForChecks(c));
    }

    void aSecondCopyHandsItsItemsToTheRunningOne() {
        if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus (run under dbus-run-session)");
        auto documents = machinery();
        AppDelegate delegate(*documents);
        delegate.launch({});
        QVERIFY(delegate.servicesRegistered());

        // The program itself, started as a file manager would start it, from another folder.
        const QString program = QCoreApplication::applicationDirPath() + u"/tessarin"_s;
        QString said;  // what the second copy wrote on its error stream
        auto runSecondCopy = [&](const QStringList& items) {
            QProcess copy;
            copy.setWorkingDirectory(qs(dir_ / "items"));
            copy.start(program, items);
            // It waits for this process's answer, so this event loop has to keep running.
            QTRY_VERIFY_WITH_TIMEOUT(copy.state() == QProcess::NotRunning, 60000);
            QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
            said = QString::fromLocal8Bit(copy.readAllStandardError());
            QCOMPARE(copy.exitCode(), 0);
        };
        runSecondCopy({u"One"_s, u"Missing"_s});
        // The copy that was asked says what it could not open.
        QVERIFY2(said.contains(u"cannot open Missing"_s), qPrintable(said));
        QTRY_COMPARE(documents->documents().size(), 1u);
        DocumentWindowController* c = documents->documents().front();
        QCOMPARE(c->window()->windowTitle(), u"One"_s);
        QVERIFY(waitForChecks(c));
        const QString log = c->contentViewController()->outputText();

        // Asked again for the same item, the running copy brings its window forward.
        c->window()->showMinimized();
        runSecondCopy({qs(one_ + "/")});
        QTRY_VERIFY(!c->window()->isMinimized());
        QCOMPARE(documents->documents().size(), 1u);
        QCOMPARE(c->contentViewController()->outputText(), log);

        // Names that are not text, as a shell passes them: the bytes reach the running copy as they
        // were given, so the two look-alikes are two items, and the first is not the second.
        QProcess copy;
        copy.setWorkingDirectory(qs(dir_ / "items"));
        copy.start(u"/bin/sh"_s,
                   {u"-c"_s, u"exec \"$0\" \"Odd$(printf '\\377')\" \"Odd$(printf '\\357\\277\\275')\""_s, program});
        QTRY_VERIFY_WITH_TIMEOUT(copy.state() == QProcess::NotRunning, 60000);
        QCOMPARE(copy.exitCode(), 0);
        QTRY_COMPARE(documents->documents().size(), 3u);
        QVERIFY(documents->documents()[1]->document()->thePath == dir_ / "items/Odd\xFF");
        QCOMPARE(documents->documents()[1]->window()->windowTitle(), u"Odd\\xFF"_s);
        QVERIFY(documents->documents()[2]->document()->thePath == dir_ / "items/Odd\xEF\xBF\xBD");
        for (DocumentWindowController* d : documents->documents()) QVERIFY(waitForChecks(d));
    }

    void menusOfEveryWindowReachTheirCommandsAndHelpShowsTheManual() {
        UrlCatcher browser;
        QDesktopServices::setUrlHandler(u"https"_s, &browser, "open");
        auto documents = machinery();
        AppDelegate delegate(*documents);
        delegate.launch({});
        DocumentWindowController* c = documents->openDocument(one_);
        QVERIFY(waitForChecks(c));

        // The launcher, a document window and a help window carry the same menus.
        auto useMenus = [](QWidget* window) {
            for (const char* action : {"actionSupport", "actionUpdates", "actionHelp"})
                window->findChild<QAction*>(QLatin1String(action))->trigger();
        };
        useMenus(delegate.launcher());
        useMenus(c->window());
        QCOMPARE(delegate.myHelpWindow().size(), 2u);
        useMenus(delegate.myHelpWindow()[0]->window());
        QDesktopServices::unsetUrlHandler(u"https"_s);
        const QUrl support = QUrl(u"https://%1/marrowly-tessarin/"_s.arg(QLatin1String(kWebSiteHost)));
        const QUrl updates = QUrl(u"https://%1/updates-sierra-and-high-sierra/"_s.arg(QLatin1String(kWebSiteHost)));
        QCOMPARE(browser.urls, (QList<QUrl>{support, updates, support, updates, support, updates}));
        // ... and takes dropped items as they do.
        dropOn(delegate.myHelpWindow()[2]->contentViewController()->helpPDFView()->viewport(), {two_});
        QTRY_COMPARE(documents->documents().size(), 2u);
        QVERIFY(waitForChecks(documents->documents().back()));

        // Each Help command makes its own window with its own copy of the manual.
        QCOMPARE(delegate.myHelpWindow().size(), 3u);
        HelpViewController* help[2] = {delegate.myHelpWindow()[0]->contentViewController(),
                                       delegate.myHelpWindow()[1]->contentViewController()};
        QVERIFY(help[0]->thePDFDocument() && help[1]->thePDFDocument());
        QVERIFY(help[0]->thePDFDocument() != help[1]->thePDFDocument());
        QPdfDocument* manual = help[1]->thePDFDocument();
        QCOMPARE(manual->status(), QPdfDocument::Status::Ready);
        QCOMPARE(help[1]->helpPDFView()->document(), manual);

        // The manual is built from its source with the program, and explains every check box and
        // field of the report window by the title the window gives it, and the headless mode.
        QString text;
        for (int page = 0; page < manual->pageCount(); ++page) text += manual->getAllText(page).text() + ' ';
        text.replace(QRegularExpression(u"\\s+"_s), u" "_s);
        QStringList titles;
        for (auto* box : c->contentViewController()->findChildren<NoTouchButtonCell*>()) titles << box->text();
        for (auto* label : c->contentViewController()->findChildren<QLabel*>())
            titles << label->text().remove(QRegularExpression(u":$"_s));
        QVERIFY(titles.size() >= 15);
        titles << u"tessarin --report"_s << u"--json"_s;
        for (const QString& title : titles) QVERIFY2(text.contains(title), qPrintable(title));

        // Closing a help window keeps it in the delegate's list; showing it again reloads the manual.
        delegate.myHelpWindow()[0]->window()->findChild<QAction*>(u"actionClose"_s)->trigger();
        QVERIFY(!delegate.myHelpWindow()[0]->window()->isVisible());
        QCOMPARE(delegate.myHelpWindow().size(), 3u);
        QPointer<QPdfDocument> old(manual);
        delegate.myHelpWindow()[1]->window()->hide();
        delegate.myHelpWindow()[1]->showWindow();
        QVERIFY(!old);
        QCOMPARE(help[1]->thePDFDocument()->status(), QPdfDocument::Status::Ready);
    }
};

QTEST_MAIN(ShellTest)
#include "ShellTest.moc"
