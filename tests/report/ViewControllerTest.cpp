// The report window with fake tools: what the flow writes and sets for each kind of item, the
// architecture codes, the checks' completion and the spinner, the log's appends, the read-only check
// box, and saving the report. Checks that outlive their window are the shell's (ShellTest).
#include <QAccessible>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <memory>

#include "BusySpinner.h"
#include "Document.h"
#include "DocumentWindow.h"
#include "NoTouchButtonCell.h"
#include "Scan32Bit.h"
#include "TempDir.h"
#include "ViewController.h"
#include "WindowController.h"

using namespace tessarin;
using namespace Qt::StringLiterals;
using tessarin::test::TempDir;
using tessarin::test::writeScript;

namespace {

const QString kNoFlag = u"No quarantine flag found.\n"_s;
const QString kFolderLine = u"\nThis is a bundle or folder.\n"_s;
const QString kNo64Intel = u"\u26A0\uFE0F this app has no support for 64-bit Intel.\n"_s;
const QString kNoAppleSilicon = u"\u26A0\uFE0F this app has no support for Apple Silicon.\n"_s;
const QString kPath = u"/items/Thing"_s;

// What the fake tools below make each check append, for an item at `path`.
QString assessment(const QString& args) {
    return "spctl " + args + "\nitem: accepted\nsource=Notarized Developer ID\n";
}
QString machOResult(const QString& p) {
    return "\nMachO signature check:\n" + assessment("-a -vv -t install " + p) + "\ncodesign check:\ncodesign -dvvv " +
           p + "\n\n";
}
QString appResult(const QString& p) {
    return "\nApp signature check:\n" + assessment("-a -vv " + p) + "\ncodesign check:\ncodesign -dvvv " + p + "\n\n";
}
QString packageResult(const QString& p) {
    return "\nInstaller package signature info:\n" + assessment("-a -vv -t install " + p) +
           "\npkgutil signature check:\n\u26D4\uFE0F pkgutil error 1\npkgutil --check-signature " + p + "\n\n\n";
}

const char* const kFindingBoxes[] = {"the64Intel",   "the32Intel", "the32ppc", "the64ppc", "theAppleSilicon",
                                     "inQuarantine", "isCatalyst", "is1015",   "is1016"};

class Holder : public WindowController {
public:
    Document doc;
    Document* document() const override { return const_cast<Document*>(&doc); }
};

void setFlags(Document& d, const QStringList& flags) {
    static const std::map<QString, bool Document::*> fields = {
        {"is64Bit", &Document::is64Bit},     {"is32Bit", &Document::is32Bit},
        {"isFolder", &Document::isFolder},   {"isMacho", &Document::isMacho},
        {"isARM", &Document::isARM},         {"isApp", &Document::isApp},
        {"isPackage", &Document::isPackage}, {"isOldPackage", &Document::isOldPackage},
        {"isQuar", &Document::isQuar},       {"isCatalyst", &Document::isCatalyst},
        {"is1015", &Document::is1015},       {"is1016", &Document::is1016}};
    for (const QString& flag : flags) d.*fields.at(flag) = true;
}

// A document window as the app makes it. spctl answers at once; codesign and pkgutil after the
// given pauses (seconds); pkgutil always fails.
struct Window {
    TempDir dir;
    Holder holder;
    std::unique_ptr<DocumentWindow> window = std::make_unique<DocumentWindow>();
    ViewController* view = new ViewController;

    explicit Window(int codesignDelay = 0, int pkgutilDelay = 0) {
        ToolSet tools;
        tools.override(
            kSpctlPath,
            writeScript(dir / "spctl",
                        "echo \"spctl $*\"; printf 'item: accepted\\nsource=Notarized Developer ID\\n' >&2"));
        tools.override(kCodesignPath,
                       writeScript(dir / "codesign", "echo $$ > '" + dir / "codesign.pid" + "'; sleep " +
                                                         std::to_string(codesignDelay) + "; echo \"codesign $*\""));
        tools.override(kPkgutilPath, writeScript(dir / "pkgutil", "sleep " + std::to_string(pkgutilDelay) +
                                                                      "; echo \"pkgutil $*\"; exit 1"));
        view->setToolSet(tools);
        window->setCentralWidget(view);
        window->setWindowController(&holder);
        window->setWindowTitle(u"Item"_s);
        holder.doc.thePath = kPath.toStdString();
    }
    Document& doc() { return holder.doc; }
    void appear() { window->show(); }
    bool appearAndWait() {
        appear();
        return waitForChecks();
    }
    bool waitForChecks() {
        if (view->runningChecks() == 0) return true;
        QSignalSpy spy(view, &ViewController::checksCompleted);
        return spy.wait(20000);
    }
    QString log() const { return view->theOutputTextbox()->toPlainText(); }
    QStringList boxesOn() const {
        QStringList on;
        for (const char* name : kFindingBoxes)
            if (view->findChild<NoTouchButtonCell*>(QLatin1String(name))->isChecked()) on << QLatin1String(name);
        return on;
    }
};

QFileDialog* openPanel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* panel = qobject_cast<QFileDialog*>(w); panel && panel->isVisible()) return panel;
    return nullptr;
}

}  // namespace

class ViewControllerTest : public QObject {
    Q_OBJECT
private slots:
    void eachItemGetsItsLinesBoxesAndChecks_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QList<int>>("arches");
        QTest::addColumn<QString>("quarStr");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("boxesOn");
        QTest::addColumn<QString>("otherArch");
        const auto row = [](const char* name, const QStringList& flags, const QList<int>& arches, const QString& lines,
                            const QStringList& results, const QStringList& boxesOn, const QString& otherArch = {},
                            const QString& quarStr = {}) {
            QTest::newRow(name) << flags << arches << quarStr << lines << results << boxesOn << otherArch;
        };
        const QString macho = machOResult(kPath), app = appResult(kPath), package = packageResult(kPath);
        const QString file = kNoFlag + "This is a single file.\n";
        row("single Mach-O file", {"isMacho", "is64Bit", "isARM"}, {}, kNoFlag + "This is a Mach-O file.\n", {macho},
            {"the64Intel", "theAppleSilicon", "inQuarantine"});
        row("other single file", {"is32Bit"}, {}, file, {macho}, {"the32Intel", "inQuarantine"});
        row("installer package", {"isPackage", "is64Bit"}, {}, kNoFlag + "This is an Installer package.\n", {package},
            {"inQuarantine"});
        row("app with both SDKs and Catalyst", {"isApp", "isFolder", "is1015", "is1016", "isCatalyst"}, {16777223, 7},
            kNoFlag + "This is an app built with the 10.15 SDK built with the 11.0 SDK and Catalyst.\n" +
                kNoAppleSilicon,
            {app}, {"the64Intel", "the32Intel", "inQuarantine", "isCatalyst", "is1015", "is1016"});
        row("app without executable", {"isApp", "isFolder"}, {}, kNoFlag + "This is an app.\n", {app},
            {"inQuarantine"});
        row("old format package", {"isOldPackage", "isFolder"}, {},
            kNoFlag + "This is an old format Installer package.\n" + kFolderLine, {package, macho}, {"inQuarantine"});
        row("plain folder", {"isFolder"}, {16777223, 16777228}, kNoFlag + kFolderLine, {macho},
            {"the64Intel", "theAppleSilicon", "inQuarantine"});
        // A directory's architecture codes: each known one ticks its box, the others are listed.
        const QStringList folder{"isFolder", "isQuar"};
        const QString lines = kNoFlag + kFolderLine;
        row("Intel 64 and 32", folder, {16777223, 7}, lines + kNoAppleSilicon, {macho}, {"the64Intel", "the32Intel"});
        row("ARM-64 only", folder, {16777228}, lines + kNo64Intel, {macho}, {"theAppleSilicon"});
        row("64-bit Intel and 12", folder, {16777223, 12}, lines + kNoAppleSilicon, {macho}, {"the64Intel"}, "12 ");
        row("two unknown codes", folder, {12, 14}, lines + kNo64Intel + kNoAppleSilicon, {macho}, {}, "12 14 ");
        row("PowerPC and repeats", folder, {18, 16777234, 16777228, 16777223, 18}, lines, {macho},
            {"the64Intel", "the32ppc", "the64ppc", "theAppleSilicon"});
        row("no executable", folder, {}, lines, {macho}, {});
        // The quarantine line and the box follow their own fields.
        row("flags, quarantined", {"isQuar"}, {}, "Quarantine flag found: 0083\nThis is a single file.\n", {macho}, {},
            "", "0083");
        row("flags, not quarantined", {}, {}, "Quarantine flag found: 0081;5f3a\nThis is a single file.\n", {macho},
            {"inQuarantine"}, "", "0081;5f3a");
        row("no flags, quarantined", {"isQuar"}, {}, file, {macho}, {}, "", "abc");
    }
    void eachItemGetsItsLinesBoxesAndChecks() {
        QFETCH(QStringList, flags);
        QFETCH(QList<int>, arches);
        QFETCH(QString, quarStr);
        QFETCH(QString, lines);
        QFETCH(QStringList, results);
        QFETCH(QStringList, boxesOn);
        QFETCH(QString, otherArch);
        Window w;
        setFlags(w.doc(), flags);
        w.doc().theArches.assign(arches.begin(), arches.end());
        w.doc().theQuarStr = quarStr.toStdString();
        w.appear();
        // Everything the appearance writes stands before the first check result.
        QCOMPARE(w.log(), lines);
        QCOMPARE(w.boxesOn(), boxesOn);
        QCOMPARE(w.view->theOtherArch()->text(), otherArch);
        QCOMPARE(w.view->runningChecks(), results.size());
        QVERIFY(w.view->busySpinner()->isVisible() && w.view->busySpinner()->isAnimating());
        QVERIFY(w.waitForChecks());
        if (results.size() == 2)
            QVERIFY(w.log() == lines + results[0] + results[1] || w.log() == lines + results[1] + results[0]);
        else
            QCOMPARE(w.log(), lines + results[0]);
        QVERIFY(w.view->isNotarized()->isChecked());
        QVERIFY(!w.view->isApple()->isChecked() && !w.view->isAppStore()->isChecked());
        QVERIFY(!w.view->busySpinner()->isVisible());
        QCOMPARE(w.view->outputText(), w.log());
        // The first check asked for the components too (the fake spctl cannot list them).
        QVERIFY(w.view->components() && !w.view->components()->ok());
    }

    void scanOfAFolderFollowsTheWarningsAndCanTurnOff64BitIntel() {
        Window w;
        const std::string root = w.dir / "Thing.bundle";
        tessarin::test::writeFile(root + "/Contents/MacOS/old.dylib", std::string("\xCE\xFA\xED\xFE\x07\0\0\0", 8));
        const FileURL url{root + "/", true};
        w.doc().isFolder = true;
        w.doc().theArches = {16777223};
        w.doc().setFileURL(url);
        const QString scanText = QString::fromStdString(tessarin::scan32BitComponents(url, w.doc().theArches).text);
        QVERIFY(scanText.contains(QString::fromStdString(root + "/Contents/MacOS/old.dylib\n")));
        w.appear();
        QCOMPARE(w.log(), kNoFlag + kFolderLine + kNoAppleSilicon + scanText);
        QVERIFY(!w.view->the64Intel()->isChecked());
    }

    void windowWithoutDocumentWritesNothingButTakesTheDate() {
        struct NoDocument : WindowController {
            Document* document() const override { return nullptr; }
        } noDocument;
        // No controller, a controller without a document, and a window that is no document window at all.
        for (int kind = 0; kind < 3; ++kind) {
            std::unique_ptr<QMainWindow> window(kind < 2 ? new DocumentWindow : new QMainWindow);
            auto* view = new ViewController;
            window->setCentralWidget(view);
            if (kind < 2) static_cast<DocumentWindow*>(window.get())->setWindowController(kind ? &noDocument : nullptr);
            window->show();
            QVERIFY(view->outputText().isEmpty() && view->theOutputTextbox()->toPlainText().isEmpty());
            QVERIFY(view->theDate.has_value());
            QCOMPARE(view->runningChecks(), 0);
        }
    }

    void secondAppearanceAppendsAgainAndKeepsTheVersion() {
        Window w;
        w.doc().bundleVer = "3.0";
        QVERIFY(w.appearAndWait());
        const QString first = w.log();
        QCOMPARE(first, kNoFlag + "This is a single file.\n" + machOResult(kPath));
        QCOMPARE(w.view->theBundleVersion()->text(), u"3.0"_s);
        w.view->saveString = u"earlier report"_s;
        w.doc().bundleVer.clear();
        w.view->hide();
        w.view->show();
        QVERIFY(w.view->saveString.isEmpty());
        QCOMPARE(w.log(), first + kNoFlag + "This is a single file.\n");
        QVERIFY(w.view->busySpinner()->isVisible());
        QVERIFY(w.waitForChecks());
        QCOMPARE(w.log(), first + first);
        QCOMPARE(w.view->theBundleVersion()->text(), u"3.0"_s);
    }

    void spinnerTurnsUntilTheLastCheckCompletes_data() {
        QTest::addColumn<int>("codesignDelay");
        QTest::addColumn<int>("pkgutilDelay");
        QTest::addColumn<bool>("packageLast");
        QTest::newRow("package check last") << 0 << 1 << true;
        QTest::newRow("Mach-O check last") << 1 << 0 << false;
    }
    void spinnerTurnsUntilTheLastCheckCompletes() {
        QFETCH(int, codesignDelay);
        QFETCH(int, pkgutilDelay);
        QFETCH(bool, packageLast);
        Window w(codesignDelay, pkgutilDelay);
        w.doc().isOldPackage = w.doc().isFolder = true;
        w.appear();
        QCOMPARE(w.view->runningChecks(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(w.view->runningChecks(), 1, 10000);
        QVERIFY(w.view->busySpinner()->isVisible() && w.view->busySpinner()->isAnimating());
        QVERIFY(w.waitForChecks());
        QVERIFY(!w.view->busySpinner()->isVisible() && !w.view->busySpinner()->isAnimating());
        QVERIFY(w.log().endsWith(packageLast ? packageResult(kPath) : machOResult(kPath)));
        // The boxes show the verdict of the check that completed last.
        QCOMPARE(w.view->validSignatures()->isChecked(), !packageLast);
    }

    // Closing the window ends the tools its checks still run (and so what they expanded) at once
    // instead of waiting for them.
    void closingTheWindowEndsItsChecksTools() {
        Window w(300);
        w.doc().isMacho = true;
        w.appear();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromStdString(w.dir / "codesign.pid")), 10000);
        const pid_t pid = std::stoi(tessarin::test::readFile(w.dir / "codesign.pid"));
        w.window.reset();
        QCOMPARE(::kill(pid, 0), -1);
    }

    // The lookup asks spctl --online about the item as its check judged it, in the background; only
    // spctl's own source line ticks Notarized, and an answer that does not never unticks it.
    void onlineLookupTicksNotarizedOnlyOnSpctlsWord() {
        struct Row {
            const char *offline, *online;
            bool notarizedAfter;
        };
        for (const Row& row :
             {Row{"Developer ID", "Notarized Developer ID", true}, Row{"Notarized Developer ID", "Developer ID", true},
              Row{"Developer ID", "Developer ID", false}}) {
            Window w;
            ToolSet tools;
            const auto answer = [](const char* source) {
                return std::string("printf 'item: accepted\\nsource=") + source + "\\n' >&2";
            };
            tools.override(kSpctlPath,
                           writeScript(w.dir / "online-spctl", "echo \"spctl $*\"; case \"$*\" in *--online*) " +
                                                                   answer(row.online) + ";; *) " + answer(row.offline) +
                                                                   ";; esac"));
            tools.override(kCodesignPath, writeScript(w.dir / "codesign-quick", "echo \"codesign $*\""));
            w.view->setToolSet(tools);
            setFlags(w.doc(), {"isApp", "isFolder"});
            QVERIFY(w.appearAndWait());
            const QString before = w.log();
            w.view->lookUpNotarizationOnline();
            QCOMPARE(w.view->runningChecks(), 1);
            QVERIFY(w.waitForChecks());
            QCOMPARE(w.log(), before + "\nOnline notarization lookup:\nspctl -a -vv --online " + kPath +
                                  "\nitem: accepted\nsource=" + row.online + "\n");
            QCOMPARE(w.view->isNotarized()->isChecked(), row.notarizedAfter);
        }
    }

    void appendedTextCarriesOnlyTheTextColourAndDoesNotScroll() {
        Window w;
        w.window->resize(700, 400);
        QVERIFY(w.appearAndWait());
        QTextEdit* log = w.view->theOutputTextbox();
        for (int i = 0; i < 200; ++i) w.view->appendOutput(u"line %1\n"_s.arg(i));
        w.view->appendOutput(u"no line feed"_s);
        w.view->appendOutput(u", same line\n"_s);
        QVERIFY(w.log().endsWith(u"line 199\nno line feed, same line\n"_s));

        const QColor text = log->palette().color(QPalette::Text);
        for (QTextBlock b = log->document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat f = it.fragment().charFormat();
                QCOMPARE(f.properties().keys(), QList<int>{QTextFormat::ForegroundBrush});
                QCOMPARE(f.foreground().color(), text);
            }

        // Neither the reader's scroll position nor a caret at the end makes the log follow the text.
        QScrollBar* bar = w.view->theOutputScroller()->verticalScrollBar();
        QTextCursor caret = log->textCursor();
        caret.movePosition(QTextCursor::End);
        log->setTextCursor(caret);
        for (int position : {0, bar->maximum() / 2}) {
            bar->setValue(position);
            QCoreApplication::processEvents();
            w.view->appendOutput(u"more\nand more\n"_s);
            QCoreApplication::processEvents();
            QCOMPARE(bar->value(), position);
        }
    }

    void checkBoxIgnoresTheUserButFollowsTheProgram() {
        QWidget window;
        auto* box = new NoTouchButtonCell(u"Valid signatures"_s, &window);
        window.show();
        QVERIFY(box->isEnabled());
        QCOMPARE(box->focusPolicy(), Qt::NoFocus);
        QSignalSpy toggled(box, &QAbstractButton::toggled);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
        QVERIFY(accessible && accessible->actionInterface());
        for (bool state : {false, true}) {
            box->setChecked(state);
            toggled.clear();
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QTest::mouseDClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QTest::keyClick(box, Qt::Key_Space);
            box->click();
            box->animateClick();
            QTest::qWait(250);
            accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QCOMPARE(box->isChecked(), state);
            QCOMPARE(accessible->state().checked, state);
            QCOMPARE(toggled.count(), 0);
        }
        box->setCheckState(Qt::Unchecked);
        QVERIFY(!box->isChecked());
    }

    void reportReplacesAnEarlierOneAndTakesTheDateOfTheChecks() {
        Window w;
        w.doc().isMacho = w.doc().is64Bit = true;
        w.doc().bundleVer = "3.0";
        QVERIFY(w.appearAndWait());
        const std::string path = w.dir / "Item-Tessarin.text";
        tessarin::test::writeFile(path, std::string(100000, 'x'));
        QVERIFY(w.view->writeReport(QString::fromStdString(path)));
        QCOMPARE(QString::fromStdString(tessarin::test::readFile(path)), w.view->saveString);
        QVERIFY(w.view->saveString.startsWith(u"Details for Item version 3.0\non "_s));
        QVERIFY(w.view->saveString.contains(u"\nHas 64-bit Intel code.\n"_s + w.log()));
        QVERIFY(w.view->saveString.endsWith(w.log()));
        QVERIFY(!w.view->saveString.startsWith(QChar(0xFEFF)));

        // Through a link the file it names is replaced, keeping its permissions; the link stays.
        const std::string link = w.dir / "link.text";
        QVERIFY(::symlink(path.c_str(), link.c_str()) == 0 && ::chmod(path.c_str(), 0640) == 0);
        w.view->appendOutput(u"later\n"_s);
        QVERIFY(w.view->writeReport(QString::fromStdString(link)));
        QCOMPARE(QFileInfo(QString::fromStdString(link)).isSymLink(), true);
        QCOMPARE(QString::fromStdString(tessarin::test::readFile(path)), w.view->saveString);
        struct stat st {};
        QVERIFY(::stat(path.c_str(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, 0640u);

        w.view->theDate = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6));
        QCOMPARE(w.view->composeReport().section(QLatin1Char('\n'), 1, 1),
                 "on " + QLocale::system().toString(*w.view->theDate, QLocale::LongFormat));
        w.view->theDate.reset();
        QVERIFY(w.view->composeReport().section(QLatin1Char('\n'), 1, 1).startsWith(u"\u2705 When checked"_s));
    }

    void failedWriteKeepsTheEarlierReportAndSaysSoInTheLog() {
        Window w;
        QVERIFY(w.appearAndWait());
        const std::string path = w.dir / "Item-Tessarin.text";
        const std::string earlier = "an earlier, complete report\n";
        tessarin::test::writeFile(path, earlier);
        const QString before = w.log();

        // A file size limit makes the write fail part way, as a full disk would.
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 16;
        ::setrlimit(RLIMIT_FSIZE, &small);
        const bool written = w.view->writeReport(QString::fromStdString(path));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!written);
        QCOMPARE(tessarin::test::readFile(path), earlier);
        QVERIFY(w.log().startsWith(before));
        const QString error = w.log().mid(before.size());
        QVERIFY(error.startsWith(u"The report could not be saved as \u201C"_s + QString::fromStdString(path)));
        QVERIFY(!error.endsWith(QLatin1Char('\n')) && !error.contains(QChar(0x26A0)) && !error.contains(QChar(0x26D4)));
        // The report keeps the new text, and the next one ends with the error.
        QVERIFY(w.view->saveString.endsWith(before));
        QVERIFY(w.view->composeReport().endsWith(error));

        const QString folder = QString::fromStdString(w.dir.path());  // a folder in the way
        QVERIFY(!w.view->writeReport(folder));
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(w.log().mid(before.size() + error.size()).contains(u"\u201C%1\u201D"_s.arg(folder)));
    }

    void saveCommandProposesTheReportAndWritesOnlyOnAccept() {
        Window w;
        QVERIFY(w.appearAndWait());
        w.view->saveString = u"unchanged"_s;

        w.view->saveCommand();
        QPointer<QFileDialog> panel = openPanel();
        QVERIFY(panel);
        QVERIFY(!panel->parentWidget());
        QCOMPARE(panel->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(panel->directory().absolutePath(), QDir::homePath());
        QCOMPARE(panel->selectedFiles().value(0), QDir::home().filePath(u"Item-Tessarin.text"_s));
        QCOMPARE(panel->defaultSuffix(), u"text"_s);
        QVERIFY(panel->nameFilters().join(' ').contains(u"*.text *.txt"_s));
        panel->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!panel);
        QCOMPARE(w.view->saveString, u"unchanged"_s);

        const QString target = QString::fromStdString(w.dir / "chosen.text");
        w.view->saveCommand();
        panel = openPanel();
        QVERIFY(panel);
        panel->selectFile(target);
        static_cast<QDialog*>(panel.data())->accept();
        QCOMPARE(QString::fromStdString(tessarin::test::readFile(target.toStdString())), w.view->saveString);
        QVERIFY(w.view->saveString.startsWith(u"Details for Item\n"_s));

        // A panel still open when its window goes away closes with it.
        w.view->saveCommand();
        panel = openPanel();
        QVERIFY(panel);
        w.window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!panel);
    }
};

int runComponentsPanelTest(int argc, char** argv);
int runSaveReportTest(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ViewControllerTest t;
    return runComponentsPanelTest(argc, argv) | QTest::qExec(&t, argc, argv) | runSaveReportTest(argc, argv);
}

#include "ViewControllerTest.moc"
