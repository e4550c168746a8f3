// What the headless run prints for one item whose checks are done: its report or JSON object, with
// the component tree where asked for, and where it falls short of the release gate.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

#include "ComponentsCheck.h"
#include "HeadlessReport.h"

namespace tessarin {

class DocumentWindowController;

struct HeadlessItemOutput {
    QString printed;         // the report, or the JSON object's line
    QStringList shortfalls;  // lines for standard error
};

// Whether the run lists each item's components (codesign --components-json, off the main thread).
bool needsComponents(const HeadlessOptions& options);

// `item` is the argument as given, for naming the item.
HeadlessItemOutput headlessItemOutput(const DocumentWindowController& controller, const ComponentsResult& components,
                                      const HeadlessOptions& options, const std::string& item);

}  // namespace tessarin
