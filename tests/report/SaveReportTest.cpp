// The saved report's text for the cases that matter: headers, the one quarantine and signature
// line, the optional verdict lines, architecture lines of both kinds, and the log copied unchanged.
#include <QtTest>

#include "SaveReport.h"

using namespace tessarin;

// Each row names only the inputs it sets; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const std::string kSet = "\u26A0\uFE0F When checked, the quarantine flag was SET.\n";
const std::string kNotSet = "\u2705 When checked, the quarantine flag was NOT set.\n";
const std::string kNoSignature = "\u26A0\uFE0F No signature was found, or the signature was NOT valid.\n";

const struct {
    const char* name;
    SaveReportInputs in;
    std::string text;
} kRows[] = {
    {"version, date and log",
     {.title = "Foo.app",
      .bundleVer = "2.1",
      .dateText = "6 December 2026 12:00:00 UTC",
      .inQuarantine = 1,
      .logText = "log\n"},
     "Details for Foo.app version 2.1\non 6 December 2026 12:00:00 UTC\n" + kNotSet + kNoSignature + "log\n"},
    {"no title, version or date", {}, "Details for \n" + kSet + kNoSignature},
    {"verdict lines in order",
     {.title = "t", .inQuarantine = 1, .validSignatures = 1, .isNotarized = 1, .isAppStore = 1, .isApple = 1},
     "Details for t\n" + kNotSet +
         "\u2705 Signatures were found to be valid.\n\u2705 It has been notarized.\n"
         "\u2705 It was supplied through App Store and doesn't require notarization.\n"
         "\u2705 It is supplied by Apple and doesn't require notarization.\n"},
    // A folder's lines come from its list alone, in order and with repeats.
    {"a folder's architectures",
     {.isFolder = true, .theArches = {16777223, 16777228, 12, 7, 18, 16777234, 7}, .is64Bit = true},
     "Details for \n" + kSet + kNoSignature +
         "Has 64-bit Intel code.\nHas Apple Silicon code.\nHas code for an unknown architecture.\n"
         "Has 32-bit Intel code.\nHas 32-bit PowerPC code.\nHas 64-bit PowerPC code.\nHas 32-bit Intel code.\n"},
    // A single file's list is never read; its lines come in a fixed order.
    {"a single file's architectures",
     {.theArches = {18}, .is32Bit = true, .is64Bit = true, .isARM = true, .logText = "no final line feed"},
     "Details for \n" + kSet + kNoSignature +
         "Has 32-bit Intel code.\nHas 64-bit Intel code.\nHas ARM-64 code.\nno final line feed"},
};

}  // namespace

class SaveReportTest : public QObject {
    Q_OBJECT
private slots:
    void wholeText_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kRows)); ++i) QTest::newRow(kRows[i].name) << i;
    }
    void wholeText() {
        QFETCH(int, row);
        QCOMPARE(QString::fromStdString(buildSaveString(kRows[row].in)), QString::fromStdString(kRows[row].text));
    }
    void defaultName() {
        QCOMPARE(QString::fromStdString(defaultReportName("")), "Untitled-Tessarin.text");
        QCOMPARE(QString::fromStdString(defaultReportName("Foo.app")), "Foo.app-Tessarin.text");
    }
};

int runSaveReportTest(int argc, char** argv) {
    SaveReportTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "SaveReportTest.moc"
