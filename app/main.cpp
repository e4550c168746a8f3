// Program entry: the windowed application, or with --report the same windows off screen.
#include <QApplication>
#include <QTextStream>

#include <cstdio>
#include <vector>

#include "AppDelegate.h"
#include "DocumentController.h"
#include "HeadlessReport.h"

namespace {

using tessarin::CommandLine;

// Headless is decided before Qt sees the arguments, because it chooses Qt's platform itself.
bool asksForHeadless(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--")) return false;
        if (argument == QLatin1String("--report") || argument == QLatin1String("--json")) return true;
    }
    return false;
}

int finishUsage(const CommandLine& line)
{
    if (line.mode == CommandLine::Mode::Usage) {
        QTextStream(stdout) << tessarin::usageLine() << "\n";
        return tessarin::kExitInspected;
    }
    QTextStream(stderr) << "tessarin: " << line.problem << "\n" << tessarin::usageLine() << "\n";
    return tessarin::kExitBadUsage;
}

int runHeadless(char* program, const CommandLine& line)
{
    // The platform is chosen here, not through the environment, which the application never reads.
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    std::vector<char*> qtArgv{program, platformOption, platformName, nullptr};
    int qtArgc = 3;
    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return tessarin::runHeadlessReport(line.items, line.json, out, err);
}

int runWindows(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessarin"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessarin"));
    // The delegate decides when the program ends: closing the last document window brings the
    // launcher back rather than quitting.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt has taken its own options out by now.
    const CommandLine line = tessarin::parseCommandLine(QApplication::arguments().mid(1));
    if (line.mode != CommandLine::Mode::Windows) return finishUsage(line);

    tessarin::DocumentController documents;
    QObject::connect(&documents, &tessarin::DocumentController::openFailed, &documents,
                     [](const QString& path, const QString& reason) {
                         QTextStream(stderr) << "tessarin: cannot open " << path << ": " << reason << "\n";
                     });
    tessarin::AppDelegate delegate(documents);
    QObject::connect(&delegate, &tessarin::AppDelegate::terminateRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    documents.openDocuments(line.items);
    delegate.applicationDidFinishLaunching();
    if (documents.documents().empty() && !delegate.applicationShouldOpenUntitledFile()) delegate.showLauncher();

    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (asksForHeadless(arguments)) {
        const CommandLine line = tessarin::parseCommandLine(arguments);
        if (line.mode != CommandLine::Mode::Report) return finishUsage(line);
        return runHeadless(argv[0], line);
    }
    return runWindows(argc, argv);
}
