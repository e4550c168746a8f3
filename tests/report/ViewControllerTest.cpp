// The report window's flow with fake tools: lines and widget states per kind of item, the checks'
// completion and the spinner, appearances, the read-only check box, and writing the report.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

#include <memory>

#include "BusySpinner.h"
#include "Document.h"
#include "DocumentWindow.h"
#include "NoTouchButtonCell.h"
#include "SaveReportTest.h"
#include "TempDir.h"
#include "ViewController.h"
#include "WindowController.h"

using namespace tessarin;
using tessarin::test::TempDir;
using tessarin::test::writeScript;

namespace {

const QString kSpctlText = QStringLiteral("P: accepted\nsource=Notarized Developer ID\n");
const QString kCodesignText = QStringLiteral("Executable=P\n");

class Holder : public WindowController {
public:
    Document doc;
    Document* document() const override { return const_cast<Document*>(&doc); }
};

// A document window as the app makes it, with fake tools that answer at once or after a pause.
struct Window {
    TempDir dir;
    Holder holder;
    std::unique_ptr<DocumentWindow> window = std::make_unique<DocumentWindow>();
    ViewController* view = new ViewController;

    explicit Window(const QString& pkgutilDelay = QStringLiteral("0")) {
        ToolSet tools;
        tools.override(kSpctlPath, writeScript(dir / "spctl", "printf 'P: accepted\\nsource=Notarized Developer ID\\n' >&2"));
        tools.override(kCodesignPath, writeScript(dir / "codesign", "printf 'Executable=P\\n' >&2"));
        tools.override(kPkgutilPath,
                       writeScript(dir / "pkgutil", "sleep " + pkgutilDelay.toStdString() + "; echo 'Status: no signature'; exit 1"));
        view->setToolSet(tools);
        window->setCentralWidget(view);
        window->setWindowController(&holder);
        window->setWindowTitle(QStringLiteral("Item"));
    }
    void appear() { window->show(); }
    bool waitForChecks() {
        if (view->runningChecks() == 0) return true;
        QSignalSpy spy(view, &ViewController::checksCompleted);
        return spy.wait(20000);
    }
    QString log() const { return view->theOutputTextbox()->toPlainText(); }
};

}  // namespace

class ViewControllerTest : public QObject {
    Q_OBJECT
private slots:
    void singleMachOFileShowsItsArchitecturesAndVerdicts() {
        Window w;
        w.holder.doc.isMacho = w.holder.doc.is64Bit = w.holder.doc.isARM = true;
        w.holder.doc.thePath = "/x/tool";
        w.appear();
        QCOMPARE(w.view->outputText(), QStringLiteral("No quarantine flag found.\nThis is a Mach-O file.\n"));
        QVERIFY(w.view->busySpinner()->isVisible());
        QVERIFY(w.waitForChecks());
        QCOMPARE(w.view->outputText(), QStringLiteral("No quarantine flag found.\nThis is a Mach-O file.\n"
                                                       "\nMachO signature check:\n") +
                                           kSpctlText + QStringLiteral("\ncodesign check:\n") + kCodesignText +
                                           QStringLiteral("\n"));
        QVERIFY(w.view->the64Intel()->isChecked());
        QVERIFY(w.view->theAppleSilicon()->isChecked());
        QVERIFY(!w.view->the32Intel()->isChecked());
        QVERIFY(w.view->validSignatures()->isChecked());
        QVERIFY(w.view->isNotarized()->isChecked());
        QVERIFY(!w.view->isApple()->isChecked());
        QVERIFY(w.view->inQuarantine()->isChecked());
        QVERIFY(!w.view->busySpinner()->isVisible());
        QCOMPARE(w.log(), w.view->outputText());
    }

    void appLineWarningsAndScanStandBeforeTheChecks() {
        Window w;
        Document& d = w.holder.doc;
        d.isApp = d.isFolder = d.is1015 = d.is1016 = d.isCatalyst = true;
        d.theArches = {16777223, 7};
        d.thePath = w.dir.path();
        d.setFileURL(FileURL{w.dir.path() + "/", true});
        d.bundleVer = "3.0";
        w.appear();
        QCOMPARE(w.view->outputText(),
                 QString::fromUtf8("No quarantine flag found.\n"
                                   "This is an app built with the 10.15 SDK built with the 11.0 SDK and Catalyst.\n"
                                   "\u26A0\uFE0F this app has no support for Apple Silicon.\n"
                                   "\u2705 No 32-bit only components were found.\n"));
        QVERIFY(w.view->the64Intel()->isChecked());
        QVERIFY(w.view->the32Intel()->isChecked());
        QVERIFY(w.view->isCatalyst()->isChecked() && w.view->is1015()->isChecked() && w.view->is1016()->isChecked());
        QCOMPARE(w.view->theBundleVersion()->text(), QStringLiteral("3.0"));
        QVERIFY(w.waitForChecks());
        QVERIFY(w.view->outputText().contains(QStringLiteral("\nApp signature check:\n")));
    }

    void otherArchitecturesAreListedByNumber() {
        Window w;
        Document& d = w.holder.doc;
        d.isFolder = true;
        d.theArches = {16777228, 12, 14};
        w.appear();
        QCOMPARE(w.view->theOtherArch()->text(), QStringLiteral("12 14 "));
        QVERIFY(w.view->theAppleSilicon()->isChecked());
        QVERIFY(w.view->outputText().startsWith(QString::fromUtf8(
            "No quarantine flag found.\n\nThis is a bundle or folder.\n"
            "\u26A0\uFE0F this app has no support for 64-bit Intel.\n")));
        QVERIFY(w.waitForChecks());
    }

    void spinnerTurnsUntilTheLastCheckCompletes() {
        Window w(QStringLiteral("1"));
        Document& d = w.holder.doc;
        d.isOldPackage = d.isFolder = true;
        d.thePath = "/x/Old.pkg";
        w.appear();
        QCOMPARE(w.view->runningChecks(), 2);
        // The single Mach-O check answers first; the package check is still running.
        QTRY_COMPARE_WITH_TIMEOUT(w.view->runningChecks(), 1, 10000);
        QVERIFY(w.view->busySpinner()->isVisible());
        QVERIFY(w.waitForChecks());
        QVERIFY(!w.view->busySpinner()->isVisible());
        QVERIFY(w.view->outputText().contains(QStringLiteral("\npkgutil signature check:\n\u26D4\uFE0F pkgutil error 1\n")));
        QVERIFY(!w.view->validSignatures()->isChecked());  // the last completion had a failure
    }

    void quarantinedItemSaysSoAndClearsTheBox() {
        Window w;
        w.holder.doc.theQuarStr = "0083";
        w.holder.doc.isQuar = true;
        w.appear();
        QVERIFY(w.view->outputText().startsWith(QStringLiteral("Quarantine flag found: 0083\n")));
        QVERIFY(!w.view->inQuarantine()->isChecked());
        QVERIFY(w.waitForChecks());
    }

    void windowWithoutDocumentShowsNothingButTakesTheDate() {
        DocumentWindow window;
        auto* view = new ViewController;
        window.setCentralWidget(view);
        window.show();
        QVERIFY(view->outputText().isEmpty());
        QVERIFY(view->theDate.has_value());
        QCOMPARE(view->runningChecks(), 0);
    }

    void secondAppearanceAppendsAgain() {
        Window w;
        w.appear();
        QVERIFY(w.waitForChecks());
        const QString first = w.view->outputText();
        w.view->hide();
        w.view->show();
        QVERIFY(w.waitForChecks());
        QVERIFY(w.view->outputText().startsWith(first + QStringLiteral("No quarantine flag found.\nThis is a single file.\n")));
    }

    void closingTheWindowWhileACheckRunsIsSafe() {
        auto w = std::make_unique<Window>(QStringLiteral("1"));
        w->holder.doc.isPackage = true;
        w->appear();
        QCOMPARE(w->view->runningChecks(), 1);
        w->window.reset();  // the controller waits for its tool, and its late completion is dropped
        QTest::qWait(50);
    }

    void checkBoxIgnoresClicksAndKeysButFollowsTheProgram() {
        NoTouchButtonCell box(QStringLiteral("Valid"));
        box.show();
        QSignalSpy toggled(&box, &QAbstractButton::toggled);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, box.height() / 2));
        QTest::keyClick(&box, Qt::Key_Space);
        box.click();
        QVERIFY(!box.isChecked());
        QCOMPARE(toggled.count(), 0);
        box.setChecked(true);
        QVERIFY(box.isChecked());
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, box.height() / 2));
        QVERIFY(box.isChecked());
        box.setChecked(false);
        QVERIFY(!box.isChecked());
    }

    void reportReplacesTheFileAndAFailureIsLogged() {
        Window w;
        w.holder.doc.isMacho = true;
        w.holder.doc.is64Bit = true;
        w.appear();
        QVERIFY(w.waitForChecks());
        const QString path = QString::fromStdString(w.dir / "Item-Tessarin.text");
        tessarin::test::writeFile(path.toStdString(), std::string(100000, 'x'));
        QVERIFY(w.view->writeReport(path));
        QCOMPARE(QString::fromStdString(tessarin::test::readFile(path.toStdString())), w.view->saveString);
        QVERIFY(w.view->saveString.startsWith(QStringLiteral("Details for Item\non ")));
        QVERIFY(w.view->saveString.endsWith(w.view->outputText()));

        const QString before = w.view->outputText();
        const QString blocked = QString::fromStdString(w.dir.path());  // a folder in the way
        QVERIFY(!w.view->writeReport(blocked));
        QVERIFY(w.view->outputText().startsWith(before));
        const QString error = w.view->outputText().mid(before.size());
        QVERIFY(error.contains(blocked));
        QVERIFY(!error.endsWith(QLatin1Char('\n')));
        QVERIFY(QFileInfo(blocked).isDir());
        // The next report ends with the error.
        QVERIFY(w.view->composeReport().endsWith(error));
    }

    void layoutGrab() {
        Window w;
        w.holder.doc.isMacho = w.holder.doc.is64Bit = w.holder.doc.isARM = true;
        w.window->resize(900, 560);
        w.appear();
        QVERIFY(w.waitForChecks());
        w.window->grab().save(QStringLiteral("/tmp/tessarin-report-window.png"));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        ViewControllerTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        SaveReportTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "ViewControllerTest.moc"
