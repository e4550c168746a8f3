// The headless report: in process with fake tools (the reports against what Save writes, their
// order when later items finish first, the JSON against its schema document), and as the real
// program (interrupted by signals, with and without a terminal, bad usage).
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTextStream>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <csignal>

#include "DocumentController.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "HeadlessReport.h"
#include "LookAlikeItems.h"
#include "MachOBuilder.h"
#include "SampleBundle.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "ViewController.h"
#include "XarBuilder.h"

using namespace tessarin;
using namespace Qt::StringLiterals;
using tessarin::test::endsSoon;
using tessarin::test::TempDir;
using tessarin::test::writeFile;
using tessarin::test::writeScript;

namespace {

constexpr std::int32_t kX86_64 = 0x01000007, kI386 = 7, kArm64 = 0x0100000C;

// One of each kind of item, under `dir`; the ones whose path holds "slow" make the fake spctl wait.
struct Items {
    std::string thinSlow, fat, appSlow, folder, package;

    explicit Items(const TempDir& dir) {
        thinSlow = dir / "slow/tool";
        writeFile(thinSlow, test::thinMachO(kX86_64, 3));
        fat = dir / "fat";
        writeFile(fat, test::fatMachO({{kI386, 3}, {kArm64, 0}}));
        test::makeDirectories(dir / "slow");
        test::SampleOptions sample;
        sample.sign = false;
        appSlow = test::makeSampleApp(dir / "slow", sample);
        folder = dir / "folder";
        writeFile(folder + "/old", test::thinMachO(kI386, 3));
        package = dir / "Example.pkg";
        test::XarBuildOptions xar;
        xar.files = test::sampleProductFiles();
        writeFile(package, test::buildXar(xar).bytes);
    }
};

// spctl waits two seconds for a "slow" item and notes each item as it finishes.
ToolSet fakeTools(const TempDir& dir) {
    ToolSet tools;
    tools.override(kSpctlPath, writeScript(dir / "fake/spctl",
                                           "case \"$*\" in *slow*) sleep 2;; esac\n"
                                           "echo \"spctl $*\"\necho \"$*\" >>'" +
                                               dir / "finished" + "'"));
    tools.override(kCodesignPath, writeScript(dir / "fake/codesign", "echo \"codesign $*\"; exit 1"));
    tools.override(kPkgutilPath, writeScript(dir / "fake/pkgutil", "echo \"pkgutil $*\" >&2"));
    return tools;
}

// The moment of the checks differs from window to window; everything else must not.
QString withoutDates(QString report) {
    static const QRegularExpression date(u"^on [^\n]*\n"_s, QRegularExpression::MultilineOption);
    return report.replace(date, u"on <date>\n"_s);
}

// What Save writes for the item's window, opened as the application opens it.
QString savedReport(DocumentController& documents, const std::string& item, const TempDir& dir) {
    DocumentWindowController* controller = documents.openDocument(item, true);
    if (!controller) return {};
    ViewController* view = controller->contentViewController();
    if (view->runningChecks() > 0) {
        QSignalSpy spy(view, &ViewController::checksCompleted);
        if (!spy.wait(30000)) return {};
    }
    const QString file = QString::fromStdString(dir / "saved.text");
    if (!view->writeReport(file)) return {};
    controller->window()->close();
    return QString::fromStdString(test::readFile(dir / "saved.text"));
}

struct Captured {
    int status = -1;
    QString out, err;
};

Captured runInProcess(const std::vector<std::string>& items, const HeadlessOptions& options, const ToolSet& tools) {
    Captured c;
    QTextStream out(&c.out), err(&c.err);
    c.status = runHeadlessReport(items, options, out, err, tools);
    return c;
}

// Member names (`name` in the first column) of the tables under the heading that starts with `heading`.
QSet<QString> documentedMembers(const QString& schema, const QString& heading, bool tables) {
    const qsizetype start = schema.indexOf(heading);
    const qsizetype end = schema.indexOf(u"\n## "_s, start + 1);
    const QString section = schema.mid(start, end < 0 ? -1 : end - start);
    static const QRegularExpression row(u"^\\| `(\\w+)` \\|"_s, QRegularExpression::MultilineOption);
    static const QRegularExpression word(u"`(\\w+)`"_s);
    QSet<QString> names;
    for (const auto& m : (tables ? row : word).globalMatch(section)) names.insert(m.captured(1));
    if (!tables) names.remove(heading.section(QLatin1Char('`'), 1, 1));  // the heading's own name
    return names;
}

QSet<QString> keysOf(const QJsonValue& object) {
    const QStringList keys = object.toObject().keys();
    return {keys.begin(), keys.end()};
}

QStringList linesOf(const std::string& path) {
    return QString::fromStdString(test::readFile(path)).split(u'\n', Qt::SkipEmptyParts);
}

const QString kProgram = QStringLiteral(TESSARIN_PROGRAM);

}  // namespace

class HeadlessTest : public QObject {
    Q_OBJECT
private slots:
    void textReportsAreWhatSaveWritesInArgumentOrder();
    void jsonObjectsCarryExactlyTheDocumentedMembers();
    void namesThatDifferInOneByteAreTwoItemsEachWithItsOwnVerdict();
    void releaseGateNamesEachShortfall_data();
    void releaseGateNamesEachShortfall();
    void interruptEndsToolsAndLeavesTheArrayOpen_data();
    void interruptEndsToolsAndLeavesTheArrayOpen();
    void progressLineOnlyOnATerminal();
    void usage_data();
    void usage();
    void helpDescribesEveryOptionAndStatus();
};

void HeadlessTest::textReportsAreWhatSaveWritesInArgumentOrder() {
    TempDir dir;
    const Items items(dir);
    const ToolSet tools = fakeTools(dir);
    // The first item is slow, so later ones finish before it; the same item twice gets two reports.
    const std::vector<std::string> arguments{items.thinSlow, items.fat, items.appSlow,       items.folder,
                                             items.package,  items.fat, dir / "no-such-item"};
    HeadlessOptions options;
    options.concurrency = 4;
    const Captured batch = runInProcess(arguments, options, tools);
    const QStringList finished = linesOf(dir / "finished");
    QVERIFY2(!finished.isEmpty() && !finished.first().contains(u"slow"_s),
             "the batch did not run later items while the first was still running");

    DocumentController documents;
    documents.setToolSet(tools);
    QStringList saved;
    for (const std::string& item : arguments) {
        if (item == arguments.back()) continue;
        const QString report = savedReport(documents, item, dir);
        QVERIFY2(!report.isEmpty(), item.c_str());
        saved << report;
    }
    QCOMPARE(withoutDates(batch.out), withoutDates(saved.join(QLatin1Char('\n'))));
    QCOMPARE(batch.status, kExitItemMissing);
    QVERIFY(batch.err.contains(u"no-such-item"_s));
}

void HeadlessTest::jsonObjectsCarryExactlyTheDocumentedMembers() {
    TempDir dir;
    const Items items(dir);
    HeadlessOptions options;
    options.json = true;
    options.concurrency = 2;
    const Captured batch =
        runInProcess({items.fat, items.appSlow, items.package, items.folder}, options, fakeTools(dir));
    QCOMPARE(batch.status, kExitInspected);
    QJsonParseError error{};
    const QJsonDocument parsed = QJsonDocument::fromJson(batch.out.toUtf8(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QVERIFY(parsed.isArray());
    // One object to a line, between the brackets' own lines.
    QCOMPARE(batch.out.count(QLatin1Char('\n')), 4 + 2);

    const QString schema = QString::fromStdString(test::readFile(TESSARIN_SOURCE_DIR "/docs/json-schema.md"));
    const QSet<QString> members = documentedMembers(schema, u"## Members of an item object"_s, true);
    const QSet<QString> boxes = documentedMembers(schema, u"## Members of `checkBoxes`"_s, false);
    QCOMPARE(members.size(), 24);
    QCOMPARE(boxes.size(), 13);

    const QJsonArray array = parsed.array();
    QCOMPARE(array.size(), 4);
    const QStringList titles{u"fat"_s, u"Sample.app"_s, u"Example.pkg"_s, u"folder"_s};
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject object = array[i].toObject();
        QCOMPARE(keysOf(object), members);
        QCOMPARE(keysOf(object[u"checkBoxes"]), boxes);
        QCOMPARE(object[u"schemaVersion"].toInt(), 1);
        QCOMPARE(object[u"title"].toString(), titles[i]);
        QVERIFY(object[u"report"].toString().endsWith(object[u"log"].toString()));
    }
    // Version 2: every version 1 member, byte for byte in the same order, and the documented additions.
    options.jsonVersion = 2;
    const Captured v2 = runInProcess({items.fat, items.appSlow, items.package, items.folder}, options, fakeTools(dir));
    QCOMPARE(v2.status, kExitInspected);
    const QSet<QString> added = documentedMembers(schema, u"## Members added in version 2"_s, true);
    QCOMPARE(added.size(), 8);
    const QJsonArray array2 = QJsonDocument::fromJson(v2.out.toUtf8()).array();
    const QStringList lines1 = batch.out.split(QLatin1Char('\n'));
    static const QRegularExpression date(u"on \\w+day, [^\\\\]*\\\\n"_s);
    for (qsizetype i = 0; i < array2.size(); ++i) {
        QJsonObject object = array2[i].toObject();
        QCOMPARE(keysOf(object), members + added);
        QCOMPARE(object[u"schemaVersion"].toInt(), 2);
        for (const QString& name : added) object.remove(name);
        object.insert(u"schemaVersion"_s, 1);
        QString line1 = lines1[i + 1];
        if (line1.endsWith(QLatin1Char(','))) line1.chop(1);
        QCOMPARE(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)).replace(date, QString()),
                 line1.replace(date, QString()));
    }
    QCOMPARE(array2[1][u"kind"].toString(), u"app"_s);
    // The fake codesign prints no component list: the tree says so in one sentence.
    QVERIFY(array2[1][u"components"_s][u"problem"_s].toString().startsWith(u"The component list of "_s));

    const QJsonObject app = array[1].toObject();
    QCOMPARE(app[u"theArches"].toArray(), (QJsonArray{kX86_64, kArm64}));
    QCOMPARE(app[u"isApp"].toBool(), true);
    QCOMPARE(app[u"checkBoxes"][u"theAppleSilicon"].toInt(), 1);
    QCOMPARE(app[u"theBundleVersion"].toString(), u"1.0"_s);
}

void HeadlessTest::namesThatDifferInOneByteAreTwoItemsEachWithItsOwnVerdict() {
    TempDir dir;
    const test::LookAlikeItems items(dir);
    const QString folder = QString::fromStdString(items.folder);
    const QString fffd(QChar(0xFFFD));
    // Title, valid box, version: the byte 0xFF shows as an escape; the valid neighbour's U+FFFD as itself.
    const std::tuple<QString, int, QString> expected[] = {{u"evil\\xFF.app"_s, 0, u"6.6"_s},
                                                          {u"evil"_s + fffd + u".app"_s, 1, u"1.0"_s}};

    HeadlessOptions options;
    options.concurrency = 2;
    options.json = true;
    const Captured json = runInProcess({items.tampered, items.valid}, options, items.tools);
    QCOMPARE(json.status, kExitInspected);
    QJsonParseError error{};
    const QJsonArray objects = QJsonDocument::fromJson(json.out.toUtf8(), &error).array();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QCOMPARE(objects.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject object = objects[i].toObject();
        const auto& [title, validSignatures, version] = expected[i];
        QCOMPARE(object[u"title"].toString(), title);
        QCOMPARE(object[u"thePath"].toString(), folder + QLatin1Char('/') + title);
        QCOMPARE(object[u"bundleVer"].toString(), version);
        QCOMPARE(object[u"checkBoxes"][u"validSignatures"].toInt(), validSignatures);
        const QString log = object[u"log"].toString();
        // The tools' lines and the 32-bit scan name the item as the title does.
        QVERIFY2(log.contains(folder + QLatin1Char('/') + title + u"/Contents/Frameworks/"_s), qPrintable(log));
        // No substitute in the tampered item's log, no escape in its neighbour's.
        QVERIFY2(!log.contains(i == 0 ? fffd : u"\\x"_s), qPrintable(log));
        QVERIFY(object[u"report"].toString().startsWith(u"Details for "_s + title + u" version "_s + version + "\n"));
    }
    QVERIFY(objects[0][u"log"].toString().contains(u"rejected"_s));

    // The tools got the exact bytes of each item, never the other's name.
    QVERIFY(items.eachRunGotItsOwnItem());

    // From the program's own command line, as a shell hands it the name: never decoded on the way,
    // so it is the tampered item that is reported, not its valid neighbour.
    QProcess run;
    run.start(u"/bin/sh"_s,
              {u"-c"_s, u"exec \"$0\" --report --json \"$1/evil$(printf '\\377').app\""_s, kProgram, folder});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), kExitInspected);
    const QJsonObject fromProgram = QJsonDocument::fromJson(run.readAllStandardOutput()).array().at(0).toObject();
    QCOMPARE(fromProgram[u"title"].toString(), std::get<0>(expected[0]));
    QCOMPARE(fromProgram[u"bundleVer"].toString(), u"6.6"_s);
}

// A Developer ID app (team T1, runtime) holding an ad hoc framework (claiming T1) without the runtime and an XPC
// service of another team with a weakening entitlement, as the fake codesign lists it.
const char* const kGateTree = R"j({"componentsVersion": 1, "walkTruncated": false, "findings": [
  {"kind": "adhoc-inside", "path": "Contents/Frameworks/A.framework", "detail": "", "finding": "ad hoc inside"},
  {"kind": "no-hardened-runtime", "path": "Contents/Frameworks/A.framework", "detail": "", "finding": "no runtime"},
  {"kind": "other-team", "path": "Contents/XPCServices/S.xpc", "detail": "T2", "finding": "another team"},
  {"kind": "weakening-entitlement", "path": "Contents/XPCServices/S.xpc", "detail": "allow-jit", "finding": "jit"}],
 "item": {"path": "/A.app", "kind": "app", "signature": "certificate", "valid": true, "trusted": true,
  "teamIdentifier": "T1", "flags": 65536, "components": [
   {"path": "Contents/Frameworks/A.framework", "kind": "framework", "signature": "ad hoc", "valid": true,
    "teamIdentifier": "T1"},
   {"path": "Contents/XPCServices/S.xpc", "kind": "XPC service", "signature": "certificate", "valid": false,
    "teamIdentifier": "T2", "flags": 65536, "problems": ["a sealed resource is missing or invalid"]}]}})j";

void HeadlessTest::releaseGateNamesEachShortfall_data() {
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("shortfalls");  // after "tessarin: ITEM: ", in order
    QTest::addColumn<bool>("archive");            // the tree's root is an archive holding the two
    const auto row = [](const char* words, int status, const QStringList& shortfalls, bool archive = false) {
        QTest::newRow(archive ? "archive" : words) << QString::fromLatin1(words) << status << shortfalls << archive;
    };
    row("no-32bit", kExitInspected, {});
    row("no-unsigned,no-32bit", kExitInspected, {});
    row("no-adhoc", kExitRequirementsUnmet,
        {"Contents/Frameworks/A.framework: does not meet no-adhoc: it is signed ad hoc"});
    row("team=T1", kExitRequirementsUnmet,
        {"Contents/Frameworks/A.framework: does not meet team=T1: it is not signed with a certificate, so its team is "
         "only claimed",
         "Contents/XPCServices/S.xpc: does not meet team=T1: its team is T2"});
    row("hardened-runtime,no-weakening-entitlements", kExitRequirementsUnmet,
        {"Contents/Frameworks/A.framework: does not meet hardened-runtime: no runtime",
         "Contents/XPCServices/S.xpc: does not meet no-weakening-entitlements: jit"});
    // The fake tools reject the item as a whole; the invalid service is named beside it.
    row("valid,notarized", kExitRequirementsUnmet,
        {"does not meet valid: its signature check did not pass",
         "Contents/XPCServices/S.xpc: does not meet valid: a sealed resource is missing or invalid",
         "does not meet notarized: it is not notarized"});
    // An archive has no signature of its own: what it carries must be valid and notarized.
    row("valid,notarized", kExitRequirementsUnmet,
        {"Contents/XPCServices/S.xpc: does not meet valid: a sealed resource is missing or invalid",
         "Contents/Frameworks/A.framework: does not meet notarized: it is not notarized",
         "Contents/XPCServices/S.xpc: does not meet notarized: it is not notarized"},
        true);
}

void HeadlessTest::releaseGateNamesEachShortfall() {
    QFETCH(QString, words);
    QFETCH(int, status);
    QFETCH(QStringList, shortfalls);
    QFETCH(bool, archive);
    TempDir dir;
    const Items items(dir);
    ToolSet tools = fakeTools(dir);
    std::string tree = kGateTree;
    if (archive) tree.replace(tree.find("\"kind\": \"app\""), 13, "\"kind\": \"archive\"");
    writeFile(dir / "tree.json", tree);
    // Speaks our spctl's option: the tree on standard output, the assessment on standard error.
    tools.override(
        kSpctlPath,
        writeScript(dir / "fake/spctl-tree",
                    "echo \"spctl $*\" >&2; case \"$1\" in --components-json) cat '" + dir / "tree.json" + "';; esac"),
        true);
    HeadlessOptions options;
    QVERIFY(addRequirements(options.gate, words.toStdString()).empty());
    const Captured run = runInProcess({items.fat}, options, tools);
    QCOMPARE(run.status, status);
    QStringList expected;
    for (const QString& s : shortfalls) expected << u"tessarin: %1: %2"_s.arg(QString::fromStdString(items.fat), s);
    QCOMPARE(run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    // A missing item fails the gate too.
    if (status == kExitInspected) QCOMPARE(runInProcess({dir / "gone"}, options, tools).status, kExitRequirementsUnmet);
}

void HeadlessTest::interruptEndsToolsAndLeavesTheArrayOpen_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::newRow("SIGINT") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
}

void HeadlessTest::interruptEndsToolsAndLeavesTheArrayOpen() {
    QFETCH(int, signal);
    QFETCH(int, status);
    if (::access(kSpctlPath, X_OK) == 0) QSKIP("the platform's own spctl would run, not the stand-in");
    // The program as installed, with stand-ins that never finish and leave a child of their own.
    TempDir dir;
    const std::string program = dir / "bin/tessarin";
    test::makeDirectories(dir / "bin");
    QVERIFY(QFile::copy(kProgram, QString::fromStdString(program)));
    const std::string pids = dir / "pids";
    for (const char* tool : {"spctl", "codesign", "pkgutil", "lipo"})
        writeScript(dir / (std::string("libexec/tessarin/") + tool),
                    "sleep 300 & echo $! >>'" + pids + "'; echo $$ >>'" + pids + "'; wait");
    const Items items(dir);

    QProcess run;
    run.start(QString::fromStdString(program),
              {u"--report"_s, u"--json"_s, QString::fromStdString(items.fat), QString::fromStdString(items.appSlow),
               QString::fromStdString(items.package)});
    QVERIFY(run.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(linesOf(pids).size() >= 2, 60000);
    ::kill(static_cast<pid_t>(run.processId()), signal);
    QVERIFY(run.waitForFinished(30000));

    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), status);
    const QByteArray out = run.readAllStandardOutput();
    QVERIFY2(out.startsWith("[\n") && !out.contains(']'), out.constData());
    const QStringList started = linesOf(pids);
    for (const QString& pid : started) QVERIFY2(endsSoon(pid.toLongLong()), qPrintable(pid));
}

void HeadlessTest::progressLineOnlyOnATerminal() {
    TempDir dir;
    const std::string first = dir / "one", second = dir / "two";
    writeFile(first, test::thinMachO(kX86_64, 3));
    writeFile(second, test::thinMachO(kArm64, 0));
    const QStringList arguments{u"--report"_s, QString::fromStdString(first), QString::fromStdString(second)};

    QProcess piped;
    piped.start(kProgram, arguments);
    QVERIFY(piped.waitForFinished(60000));
    QCOMPARE(piped.exitCode(), kExitInspected);
    QCOMPARE(piped.readAllStandardError(), QByteArray());
    const QByteArray reports = piped.readAllStandardOutput();
    QCOMPARE(reports.count("Details for "), 2);

    int master = -1, slave = -1;
    winsize size{};
    size.ws_col = 200;
    size.ws_row = 24;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, &size) == 0);
    QProcess onTerminal;
    onTerminal.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    onTerminal.start(kProgram, arguments);
    const bool finished = onTerminal.waitForFinished(60000);
    ::close(slave);
    QByteArray terminal;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) terminal.append(buffer, n);
    ::close(master);
    QVERIFY(finished);
    QCOMPARE(onTerminal.exitCode(), kExitInspected);
    QVERIFY2(terminal.startsWith("[0/2] one\r"), terminal.constData());
    // Blanked at the end: the last thing on the line is a carriage return after blanks.
    QVERIFY2(QRegularExpression(u"\r +\r$"_s).match(QString::fromUtf8(terminal)).hasMatch(), terminal.constData());
    // Standard output is the same either way.
    QCOMPARE(withoutDates(QString::fromUtf8(onTerminal.readAllStandardOutput())),
             withoutDates(QString::fromUtf8(reports)));
}

void HeadlessTest::usage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");  // on standard output, or for a mistake on standard error
    const auto row = [](const char* name, const QStringList& arguments, int status, const char* expected) {
        QTest::newRow(name) << arguments << status << QString::fromUtf8(expected);
    };
    row("json without report", {"--json", "item"}, kExitBadUsage, "--json goes with --report");
    row("online without report", {"--online", "item"}, kExitBadUsage, "--online goes with --report");
    row("components without report", {"--components", "item"}, kExitBadUsage, "--components goes with --report");
    row("unknown require word", {"--report", "--require", "valid,bogus", "item"}, kExitBadUsage,
        "unknown --require word 'bogus'");
    row("require without words", {"--report", "--require"}, kExitBadUsage, "--require needs a list of words");
    row("empty require word", {"--report", "--require=valid,", "item"}, kExitBadUsage, "an empty word");
    row("unknown JSON version", {"--report", "--json=3", "item"}, kExitBadUsage, "'--json=3' asks for an unknown");
    row("report without items", {"--report"}, kExitBadUsage, "--report needs at least one item");
    row("report, json, no items", {"--report", "--json"}, kExitBadUsage, "at least one item");
    row("unknown option", {"--report", "--bogus", "item"}, kExitBadUsage, "'--bogus'");
    // Qt's own options are not taken: the command line is the program's alone.
    row("unknown option for a window", {"-style", "fusion"}, kExitBadUsage, "'-style'");
    row("help", {"--help"}, kExitInspected, "Exit status:");
    row("short help, after an item", {"item", "-h"}, kExitInspected, "--version");
    row("version", {"--version"}, kExitInspected, "tessarin " TESSARIN_VERSION "\n");
}

// Each answered at once, with no display: without DISPLAY Qt would abort before a word is printed.
void HeadlessTest::usage() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(QLatin1String(name));
    run.setProcessEnvironment(environment);
    run.start(kProgram, arguments);
    QVERIFY(run.waitForFinished(30000));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), status);
    const QString out = QString::fromLocal8Bit(run.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    if (status == kExitBadUsage) {
        // One plain line for a script's log, nothing on standard output.
        QVERIFY2(err.startsWith("tessarin: ") && err.endsWith('\n') && err.count('\n') == 1, qPrintable(err));
        QVERIFY2(err.contains(expected), qPrintable(err));
        QCOMPARE(out, QString());
    } else {
        QVERIFY2(out.contains(expected), qPrintable(out));
        QCOMPARE(err, QString());
    }
}

// The help names every option the program accepts, and every exit status it can end with.
void HeadlessTest::helpDescribesEveryOptionAndStatus() {
    const QString help = tessarin::helpText();
    for (const char* option : {"--report", "--json", "--json=VERSION", "--online", "--components", "--require WORD",
                               "-h, --help", "--version", "  --  "})
        QVERIFY2(help.contains(QLatin1String(option)), option);
    for (int status : {kExitInspected, kExitItemMissing, kExitBadUsage, kExitRequirementsUnmet,
                       kExitSignalBase + SIGINT, kExitSignalBase + SIGTERM, kExitSignalBase + SIGPIPE})
        QVERIFY2(QRegularExpression(u"\\n  (\\d+, )?%1[ ,]"_s.arg(status)).match(help).hasMatch(),
                 qPrintable(QString::number(status)));
    for (const char* option :
         {"--report", "--json", "--json=2", "--online", "--components", "--help", "-h", "--version"})
        QVERIFY2(tessarin::parseCommandLine({option, "--report", "item"}).mode != tessarin::CommandLine::Mode::BadUsage,
                 option);
}

QTEST_MAIN(HeadlessTest)
#include "HeadlessTest.moc"
