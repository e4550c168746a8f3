// The command line, and the headless report: `tessarin --report [--json] ITEM...` runs the windows
// of the items off screen and prints what Save would write for each, for scripts and CI.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "ToolRunner.h"

class QTextStream;

namespace tessarin {

class DocumentWindowController;

struct CommandLine {
    enum class Mode { Windows, Report, Usage, BadUsage };
    Mode mode = Mode::Windows;
    bool json = false;
    QStringList items;
    QString problem;  // for BadUsage: what was wrong, in one sentence
};

// `arguments` without the program's name. Options: --report, --json (with --report only),
// --help; "--" ends the options.
CommandLine parseCommandLine(const QStringList& arguments);
QString usageLine();

inline constexpr int kExitInspected = 0;
inline constexpr int kExitItemMissing = 1;
inline constexpr int kExitBadUsage = 2;

// Opens each item in turn as a document with its window (shown, so the window's checks start),
// waits until every check of the window has completed, prints the report and closes the window.
// Needs a running QApplication. Returns kExitInspected, or kExitItemMissing when an item did not
// exist (the others are still reported). `tools` is for tests; the application passes none.
int runHeadlessReport(const QStringList& items, bool json, QTextStream& out, QTextStream& err,
                      const ToolSet& tools = ToolSet::platform());

// Waits, running the event loop, until the window of `controller` has no running check.
void waitForChecks(const DocumentWindowController& controller);

// What the JSON form holds for one item (schema version 1, see docs/json-schema.md).
QJsonObject reportJsonObject(const DocumentWindowController& controller);

}  // namespace tessarin
