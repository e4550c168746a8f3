// Version 2 adds members only: a consumer of version 1 reads a version 2 object as it is. The
// structured members come from the window's verdicts (what the report says), the component list
// (what codesign says of each part) and spctl's lines in the log (what Gatekeeper said).
#include "ReportJsonV2.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include "Document.h"
#include "DocumentWindowController.h"
#include "HeadlessReport.h"
#include "Quarantine.h"
#include "ViewController.h"

namespace tessarin {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

bool boxChecked(const ViewController& view, const char* name) {
    const auto* box = view.findChild<QAbstractButton*>(QLatin1String(name));
    return box && box->isChecked();
}

QJsonValue quarantineJson(const Document& d) {
    const std::optional<QuarantineRecord> record = quarantineRecord(d.fileURL());
    if (!record) return QJsonValue::Null;
    QJsonObject q{{QStringLiteral("raw"), text(record->raw)}, {QStringLiteral("wellFormed"), record->wellFormed()}};
    if (!record->wellFormed()) {
        q.insert(QStringLiteral("problem"), text(record->problem));
        return q;
    }
    QJsonArray names;
    for (const std::string& n : quarantineFlagNames(record->flags)) names.append(text(n));
    q.insert(QStringLiteral("flags"), static_cast<qint64>(record->flags));
    q.insert(QStringLiteral("flagNames"), names);
    q.insert(QStringLiteral("time"),
             QDateTime::fromSecsSinceEpoch(static_cast<qint64>(record->time), Qt::UTC).toString(Qt::ISODate));
    q.insert(QStringLiteral("agent"), text(record->agent));
    q.insert(QStringLiteral("eventId"), text(record->eventId));
    return q;
}

// spctl's verdict as the log holds it: "PATH: accepted" or "PATH: rejected", then source= and origin=.
QJsonObject gatekeeperJson(const QString& log) {
    QJsonObject g{{QStringLiteral("verdict"), QStringLiteral("not assessed")}};
    bool seen = false;
    for (const QString& line : log.split(QLatin1Char('\n'))) {
        if (!seen && (line.endsWith(QLatin1String(": accepted")) || line.endsWith(QLatin1String(": rejected")))) {
            g.insert(QStringLiteral("verdict"), line.section(QLatin1Char(' '), -1));
            seen = true;
        } else if (seen && line.startsWith(QLatin1String("source="))) {
            g.insert(QStringLiteral("source"), line.mid(7));
        } else if (seen && line.startsWith(QLatin1String("origin="))) {
            g.insert(QStringLiteral("origin"), line.mid(7));
        } else if (seen) {
            break;
        }
    }
    return g;
}

}  // namespace

QJsonObject reportJsonObjectV2(const DocumentWindowController& controller, const ComponentsResult& components) {
    const Document& d = *controller.document();
    const ViewController& view = *controller.contentViewController();
    QJsonObject item = reportJsonObject(controller);
    item.insert(QStringLiteral("schemaVersion"), kJsonSchemaLatest);
    item.insert(QStringLiteral("kind"), QString::fromStdString(documentKind(d)));
    item.insert(QStringLiteral("quarantine"), quarantineJson(d));
    item.insert(QStringLiteral("gatekeeper"), gatekeeperJson(view.outputText()));

    // The tree's outermost item is the item itself: its bundle, slices and signature.
    const QJsonObject tree =
        components.ok() ? QJsonDocument::fromJson(QByteArray::fromStdString(components.json)).object() : QJsonObject();
    const QJsonObject root = tree.value(QStringLiteral("item")).toObject();
    QJsonObject bundle;
    for (const char* key : {"bundleIdentifier", "bundleShortVersion", "bundleVersion"})
        if (root.contains(QLatin1String(key))) bundle.insert(QLatin1String(key), root.value(QLatin1String(key)));
    item.insert(QStringLiteral("bundle"), bundle.isEmpty() ? QJsonValue::Null : QJsonValue(bundle));
    item.insert(QStringLiteral("architectures"), root.value(QStringLiteral("architectures")).toArray());

    QJsonObject signature{{QStringLiteral("valid"), boxChecked(view, "validSignatures")},
                          {QStringLiteral("isApple"), boxChecked(view, "isApple")},
                          {QStringLiteral("isAppStore"), boxChecked(view, "isAppStore")}};
    for (const char* key : {"signer", "signature", "teamIdentifier", "flags", "flagNames"})
        if (root.contains(QLatin1String(key))) signature.insert(QLatin1String(key), root.value(QLatin1String(key)));
    signature.insert(QStringLiteral("hardenedRuntime"), components.ok() && components.item.signature != "unsigned" &&
                                                            (components.item.flags & kCodeDirectoryRuntimeFlag) != 0);
    item.insert(QStringLiteral("signature"), signature);

    QJsonObject notarization{{QStringLiteral("notarized"), boxChecked(view, "isNotarized")}};
    notarization.insert(
        QStringLiteral("established"),
        root.contains(QStringLiteral("notarization"))
            ? root.value(QStringLiteral("notarization"))
            : QJsonValue(components.ok() ? QStringLiteral("not applicable") : QStringLiteral("unknown")));
    item.insert(QStringLiteral("notarization"), notarization);

    QJsonObject tree2 = tree;
    if (!components.ok()) tree2.insert(QStringLiteral("problem"), text(components.problem));
    item.insert(QStringLiteral("components"), tree2);
    return item;
}

}  // namespace tessarin
