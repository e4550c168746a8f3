// Headless runs go through the same document machinery and ViewController as the windows do;
// only the printing is their own.
#include "HeadlessReport.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include "Document.h"
#include "DocumentController.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "ViewController.h"

namespace tessarin {

namespace {

constexpr int kSchemaVersion = 1;

// The thirteen check boxes, by outlet name, in the window's order.
const char* const kCheckBoxes[] = {
    "the64Intel", "the32Intel", "the32ppc",      "the64ppc",        "theAppleSilicon", "inQuarantine", "isNotarized",
    "isAppStore", "isApple",    "validSignatures", "isCatalyst",    "is1015",          "is1016",
};

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString widgetText(const ViewController& view, const char* name, const char* property)
{
    const QWidget* widget = view.findChild<QWidget*>(QLatin1String(name));
    return widget ? widget->property(property).toString() : QString();
}

}  // namespace

QString usageLine()
{
    return QStringLiteral("usage: tessarin [ITEM...]  |  tessarin --report [--json] ITEM...");
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine line;
    bool report = false;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("--report")) {
                report = true;
            } else if (argument == QLatin1String("--json")) {
                line.json = true;
            } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
                line.mode = CommandLine::Mode::Usage;
                return line;
            } else {
                line.mode = CommandLine::Mode::BadUsage;
                line.problem = QStringLiteral("Unknown option %1.").arg(argument);
                return line;
            }
        } else {
            line.items << argument;
        }
    }
    if (line.json && !report) {
        line.mode = CommandLine::Mode::BadUsage;
        line.problem = QStringLiteral("--json goes with --report.");
    } else if (report && line.items.isEmpty()) {
        line.mode = CommandLine::Mode::BadUsage;
        line.problem = QStringLiteral("--report needs at least one item.");
    } else {
        line.mode = report ? CommandLine::Mode::Report : CommandLine::Mode::Windows;
    }
    return line;
}

void waitForChecks(const DocumentWindowController& controller)
{
    ViewController* view = controller.contentViewController();
    QEventLoop loop;
    QObject::connect(view, &ViewController::checksCompleted, &loop, &QEventLoop::quit);
    // Completions arrive through the event loop only, so none can slip by between test and wait.
    while (view->runningChecks() > 0) loop.exec();
}

QJsonObject reportJsonObject(const DocumentWindowController& controller)
{
    const Document& d = *controller.document();
    const ViewController& view = *controller.contentViewController();

    QJsonArray arches;
    for (std::int32_t code : d.theArches) arches.append(code);
    QJsonObject checkBoxes;
    for (const char* name : kCheckBoxes) {
        const auto* box = view.findChild<QAbstractButton*>(QLatin1String(name));
        checkBoxes.insert(QLatin1String(name), box && box->isChecked() ? 1 : 0);
    }

    QJsonObject item;
    item.insert(QStringLiteral("schemaVersion"), kSchemaVersion);
    item.insert(QStringLiteral("title"), controller.window()->windowTitle());
    item.insert(QStringLiteral("theArches"), arches);
    item.insert(QStringLiteral("is64Bit"), d.is64Bit);
    item.insert(QStringLiteral("is32Bit"), d.is32Bit);
    item.insert(QStringLiteral("isFolder"), d.isFolder);
    item.insert(QStringLiteral("isMacho"), d.isMacho);
    item.insert(QStringLiteral("isARM"), d.isARM);
    item.insert(QStringLiteral("bundleVer"), text(d.bundleVer));
    item.insert(QStringLiteral("isApp"), d.isApp);
    item.insert(QStringLiteral("isPackage"), d.isPackage);
    item.insert(QStringLiteral("isOldPackage"), d.isOldPackage);
    item.insert(QStringLiteral("isQuar"), d.isQuar);
    item.insert(QStringLiteral("isCatalyst"), d.isCatalyst);
    item.insert(QStringLiteral("is1015"), d.is1015);
    item.insert(QStringLiteral("is1016"), d.is1016);
    item.insert(QStringLiteral("theUTI"), text(d.theUTI));
    item.insert(QStringLiteral("thePath"), text(d.thePath));
    item.insert(QStringLiteral("theQuarStr"), text(d.theQuarStr));
    item.insert(QStringLiteral("checkBoxes"), checkBoxes);
    item.insert(QStringLiteral("theOtherArch"), widgetText(view, "theOtherArch", "text"));
    item.insert(QStringLiteral("theBundleVersion"), widgetText(view, "theBundleVersion", "text"));
    item.insert(QStringLiteral("log"), widgetText(view, "theOutputTextbox", "plainText"));
    item.insert(QStringLiteral("report"), view.composeReport());
    return item;
}

int runHeadlessReport(const QStringList& items, bool json, QTextStream& out, QTextStream& err,
                      const ToolSet& tools)
{
    int status = kExitInspected;
    DocumentController documents;
    documents.setToolSet(tools);
    QObject::connect(&documents, &DocumentController::openFailed, &documents,
                     [&](const QString& path, const QString& reason) {
                         err << "tessarin: cannot open " << path << ": " << reason << "\n";
                         err.flush();
                         status = kExitItemMissing;
                     });

    QJsonArray reports;
    bool first = true;
    bool endedWithNewline = true;
    for (const QString& item : items) {
        // One item at a time: a long list never holds more than one window and its tools.
        DocumentWindowController* controller = documents.openDocument(item, true);
        if (!controller) continue;
        waitForChecks(*controller);
        if (json) {
            reports.append(reportJsonObject(*controller));
        } else {
            const QString report = controller->contentViewController()->composeReport();
            if (!first) out << (endedWithNewline ? "\n" : "\n\n");
            out << report;
            out.flush();
            endedWithNewline = report.endsWith(QLatin1Char('\n'));
            first = false;
        }
        controller->window()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    if (json) {
        out << QJsonDocument(reports).toJson(QJsonDocument::Indented);
        out.flush();
    }
    return status;
}

}  // namespace tessarin
