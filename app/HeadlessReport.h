// The command line, and the headless report: `tessarin --report [--json] ITEM...` inspects the
// items in document windows that never reach a screen, several at a time, and prints what Save
// would write for each, in the order given, for scripts and CI.
#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "ToolRunner.h"

class QTextStream;

namespace tessarin {

class DocumentWindowController;

struct HeadlessOptions {
    bool json = false;
    int jsonVersion = 1;      // with json: 1 (what --json prints) or 2 (--json=2, docs/json-schema.md)
    bool online = false;      // every check also asks Apple's ticket service (spctl --online)
    ReleaseGate gate;         // --require: shortfalls go to the error stream
    bool components = false;  // each text report is followed by the item's component tree
    int concurrency = 0;      // items inspected at once; 0: one for each processor core
    bool progress = false;    // a progress line on the error stream, redrawn in place (for a terminal)
};

// SIGINT and SIGTERM, turned into a call of the handler on a thread of its own: the signal
// handler itself only writes the signal's number to a pipe. With no handler set, on a second
// signal, or when the program is still running a few seconds after the handler, the program
// exits at once with 128 and the signal's number.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();  // the signals' default actions come back
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    void setHandler(std::function<void(int signal)> handler);

private:
    void watch();

    int pipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::function<void(int)> handler_;
    std::thread thread_;
};

// Inspects the items, at most `options.concurrency` at once, each through the document machinery's
// window and ViewController exactly as the application shows it, and streams their reports to
// `out` in the order given. Needs a QApplication; returns kExitInspected, kExitItemMissing when an
// item did not exist (the others are still reported), or 128 and the signal's number when
// `interrupts` saw one; with a release gate, kExitRequirementsUnmet when an item fell short or was
// missing. `tools` is for tests; the application passes the platform's.
int runHeadlessReport(const std::vector<std::string>& items, const HeadlessOptions& options, QTextStream& out,
                      QTextStream& err, const ToolSet& tools = ToolSet::platform(),
                      InterruptWatch* interrupts = nullptr);

// What the JSON form holds for one item (schema version 1, see docs/json-schema.md).
QJsonObject reportJsonObject(const DocumentWindowController& controller);

}  // namespace tessarin
