// One finished item of a headless run, from its window's verdicts and its component list.
#include "HeadlessItem.h"

#include <QAbstractButton>
#include <QJsonDocument>

#include "ComponentsView.h"
#include "DocumentController.h"
#include "DocumentWindowController.h"
#include "ReportJsonV2.h"
#include "ViewController.h"

namespace tessarin {

bool needsComponents(const HeadlessOptions& options) {
    return (options.json ? options.jsonVersion >= 2 : options.components) || options.gate.needsComponents();
}

HeadlessItemOutput headlessItemOutput(const DocumentWindowController& controller, const ComponentsResult& components,
                                      const HeadlessOptions& options, const std::string& item) {
    const ViewController& view = *controller.contentViewController();
    HeadlessItemOutput output;
    if (options.json) {
        const QJsonObject object =
            options.jsonVersion >= 2 ? reportJsonObjectV2(controller, components) : reportJsonObject(controller);
        output.printed = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    } else {
        output.printed = view.composeReport();
        if (options.components) {
            // One blank line before the tree, as between the report's own sections.
            if (!output.printed.endsWith(QStringLiteral("\n\n"))) output.printed += QLatin1Char('\n');
            output.printed += componentsText(components);
        }
    }
    if (!options.gate.empty()) {
        const QAbstractButton* valid = view.findChild<QAbstractButton*>(QStringLiteral("validSignatures"));
        const QAbstractButton* notarized = view.findChild<QAbstractButton*>(QStringLiteral("isNotarized"));
        const ItemVerdicts verdicts{valid && valid->isChecked(), notarized && notarized->isChecked()};
        const std::string name = displayPathText(item).toStdString();
        for (const Shortfall& s : shortfallsOf(options.gate, verdicts, components))
            output.shortfalls << QString::fromStdString(shortfallLine(name, s));
    }
    return output;
}

}  // namespace tessarin
