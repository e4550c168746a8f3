// Program entry: the windowed application, or with --report the same windows off screen.
#include <QApplication>
#include <QTextStream>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "DocumentController.h"
#include "HeadlessReport.h"

namespace {

using tessarin::CommandLine;

// Headless output is for scripts: Qt's own remarks about the missing display (no runtime folder,
// no raise() on this platform) are dropped; only its critical errors still reach standard error.
void headlessMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "tessarin: %s\n", qPrintable(message));
}

// Until the windows' platform is up, Qt's fatal error (no display to connect to) would end in an
// abort and a core dump; it ends instead with Qt's reason, a pointer to the headless report and a
// status of its own.
void startupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type != QtFatalMsg) return;
    std::fprintf(stderr,
                 "tessarin: no window can be opened here; tessarin --report ITEM prints the report without one\n");
    std::fflush(stderr);
    ::_exit(tessarin::kExitNoDisplay);
}

// Help, version and mistakes, all before any QApplication exists: they need no display.
int answerWithoutWindows(const CommandLine& line) {
    QTextStream out(stdout);
    switch (line.mode) {
    case CommandLine::Mode::Help: out << tessarin::helpText(); return tessarin::kExitInspected;
    case CommandLine::Mode::Version: out << tessarin::versionText(); return tessarin::kExitInspected;
    default: break;
    }
    QTextStream(stderr) << "tessarin: " << line.problem << " (see tessarin --help)\n";
    return tessarin::kExitBadUsage;
}

int runHeadless(char* program, const CommandLine& line) {
    // From the first moment, so that an early Ctrl-C already ends the program with its status.
    tessarin::InterruptWatch interrupts;
    qInstallMessageHandler(headlessMessages);
    // The platform is chosen here, not through the environment, which the application never reads.
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    std::vector<char*> qtArgv{program, platformOption, platformName, nullptr};
    int qtArgc = 3;
    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    tessarin::HeadlessOptions options;
    options.json = line.json;
    options.online = line.online;
    options.components = line.components;
    options.jsonVersion = line.jsonVersion;
    options.gate = line.gate;
    options.progress = ::isatty(STDERR_FILENO) == 1;
    return tessarin::runHeadlessReport(line.itemPaths, options, out, err, tessarin::ToolSet::platform(), &interrupts);
}

int runWindows(char* program, const CommandLine& line) {
    // Ctrl-C in the terminal that started the program, or SIGTERM when the session ends, quits as
    // the Quit command does, ending the tools of running checks rather than leaving them behind.
    tessarin::InterruptWatch interrupts;
    std::atomic<int> interruptedBy{0};
    // Qt gets no options of its own: the command line is Tessarin's alone, checked already.
    int qtArgc = 1;
    std::vector<char*> qtArgv{program, nullptr};
    qInstallMessageHandler(startupMessages);
    QApplication app(qtArgc, qtArgv.data());
    qInstallMessageHandler(nullptr);
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessarin"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessarin"));
    // The delegate decides when the program ends: closing the last document window brings the
    // launcher back rather than quitting.
    QApplication::setQuitOnLastWindowClosed(false);

    tessarin::DocumentController documents;
    QObject::connect(&documents, &tessarin::DocumentController::openFailed, &documents,
                     [](const QString& path, const QString& reason) {
                         QTextStream(stderr) << "tessarin: cannot open " << path << ": " << reason << "\n";
                     });
    tessarin::AppDelegate delegate(documents);
    QObject::connect(&delegate, &tessarin::AppDelegate::terminateRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    // With another copy running, the items have gone to it and this one is done.
    if (!delegate.launch(line.itemPaths)) return 0;

    // Only while the event loop runs; a signal before or after it ends the program at once.
    interrupts.setHandler([&app, &interruptedBy](int signal) {
        interruptedBy.store(signal);
        QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
    });
    const int status = QApplication::exec();
    interrupts.setHandler({});
    delegate.applicationWillTerminate();
    if (const int signal = interruptedBy.load()) return tessarin::kExitSignalBase + signal;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = tessarin::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.mode) {
    case CommandLine::Mode::Report: return runHeadless(argv[0], line);
    case CommandLine::Mode::Windows: return runWindows(argv[0], line);
    default: return answerWithoutWindows(line);
    }
}
