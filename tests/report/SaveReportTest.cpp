// The saved report's text for the cases that matter: headers, the one quarantine and signature
// line, the optional verdict lines, architecture lines of both kinds, and the log copied unchanged.
#include "SaveReportTest.h"

#include <QtTest>

#include "SaveReport.h"

using namespace tessarin;

void SaveReportTest::headerWithVersionAndDate() {
    SaveReportInputs in;
    in.title = "Foo.app";
    in.bundleVer = "2.1";
    in.dateText = "6 December 2026 12:00:00 UTC";
    in.inQuarantine = 1;
    in.logText = "log\n";
    QCOMPARE(QString::fromStdString(buildSaveString(in)),
             QString::fromUtf8("Details for Foo.app version 2.1\non 6 December 2026 12:00:00 UTC\n"
                               "\u2705 When checked, the quarantine flag was NOT set.\n"
                               "\u26A0\uFE0F No signature was found, or the signature was NOT valid.\n"
                               "log\n"));
}

void SaveReportTest::emptyTitleNoVersionNoDate() {
    SaveReportInputs in;
    QCOMPARE(QString::fromStdString(buildSaveString(in)),
             QString::fromUtf8("Details for \n"
                               "\u26A0\uFE0F When checked, the quarantine flag was SET.\n"
                               "\u26A0\uFE0F No signature was found, or the signature was NOT valid.\n"));
    QCOMPARE(QString::fromStdString(defaultReportName("")), QStringLiteral("Untitled-Tessarin.text"));
    QCOMPARE(QString::fromStdString(defaultReportName("Foo.app")), QStringLiteral("Foo.app-Tessarin.text"));
}

void SaveReportTest::verdictLinesInOrder() {
    SaveReportInputs in;
    in.title = "t";
    in.inQuarantine = 1;
    in.validSignatures = 1;
    in.isNotarized = 1;
    in.isAppStore = 1;
    in.isApple = 1;
    QCOMPARE(QString::fromStdString(buildSaveString(in)),
             QString::fromUtf8("Details for t\n"
                               "\u2705 When checked, the quarantine flag was NOT set.\n"
                               "\u2705 Signatures were found to be valid.\n"
                               "\u2705 It has been notarized.\n"
                               "\u2705 It was supplied through App Store and doesn't require notarization.\n"
                               "\u2705 It is supplied by Apple and doesn't require notarization.\n"));
}

void SaveReportTest::bundleArchitecturesKeepOrderAndRepeats() {
    SaveReportInputs in;
    in.isFolder = true;
    in.is64Bit = true;  // a folder's lines come from its list alone
    in.theArches = {16777223, 16777228, 12, 7, 18, 16777234, 7};
    const std::string text = buildSaveString(in);
    const std::string expected =
        "Has 64-bit Intel code.\nHas Apple Silicon code.\nHas code for an unknown architecture.\n"
        "Has 32-bit Intel code.\nHas 32-bit PowerPC code.\nHas 64-bit PowerPC code.\nHas 32-bit Intel code.\n";
    QVERIFY(text.size() >= expected.size());
    QCOMPARE(QString::fromStdString(text.substr(text.size() - expected.size())), QString::fromStdString(expected));
}

void SaveReportTest::singleFileArchitecturesInFixedOrder() {
    SaveReportInputs in;
    in.isARM = in.is64Bit = in.is32Bit = true;
    in.theArches = {18};  // never read for a single file
    in.logText = "no final line feed";
    const std::string text = buildSaveString(in);
    const std::string tail = "Has 32-bit Intel code.\nHas 64-bit Intel code.\nHas ARM-64 code.\nno final line feed";
    QCOMPARE(QString::fromStdString(text.substr(text.size() - tail.size())), QString::fromStdString(tail));
}
