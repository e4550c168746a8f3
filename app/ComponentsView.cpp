// The component tree for terminals. The stand-in has already escaped every name, so its text is
// shown as it stands.
#include "ComponentsView.h"

#include <QStringList>

#include "ComponentDetails.h"

namespace tessarin {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

// The report's marks: fine, worth a look, and wrong.
QString mark(const Component& c) {
    switch (componentBadge(c)) {
    case ComponentBadge::Link:
    case ComponentBadge::NoCode: return QStringLiteral("   ");
    case ComponentBadge::Unsigned:
    case ComponentBadge::Invalid: return QStringLiteral("\u26D4\uFE0F ");
    case ComponentBadge::Untrusted:
    case ComponentBadge::AdHoc: return QStringLiteral("\u26A0\uFE0F ");
    case ComponentBadge::Signed: break;
    }
    return c.weakeningEntitlements.empty() ? QStringLiteral("\u2705 ") : QStringLiteral("\u26A0\uFE0F ");
}

void componentLines(const Component& c, int depth, QString& out) {
    const QString pad(2 * depth, QLatin1Char(' '));
    out += pad + mark(c) + text(c.path) + QStringLiteral(": ") + text(c.kind);
    if (c.holdsCode()) out += QStringLiteral(", ") + text(c.signer);
    out += QLatin1Char('\n');
    const QString facts = pad + QStringLiteral("      ");
    QStringList parts;
    if (!c.architectures.empty()) {
        QStringList arches;
        for (const ComponentSlice& s : c.architectures)
            arches << text(s.architecture) +
                          (s.platform.empty() ? QString() : QStringLiteral(" (%1)").arg(text(s.platform)));
        parts << arches.join(QStringLiteral(", "));
    }
    if (!c.teamIdentifier.empty()) parts << QStringLiteral("team ") + text(c.teamIdentifier);
    if (c.signature == "certificate" || c.signature == "ad hoc" || c.signature == "linker-signed")
        parts << ((c.flags & kCodeDirectoryRuntimeFlag) ? QStringLiteral("hardened runtime")
                                                        : QStringLiteral("no hardened runtime"));
    if (!c.notarization.empty() && c.notarization != "not applicable")
        parts << QStringLiteral("notarization: ") + text(c.notarization);
    if (!c.installLocation.empty()) parts << QStringLiteral("installs into ") + text(c.installLocation);
    if (!c.scripts.empty()) {
        QStringList names;
        for (const ComponentScript& script : c.scripts) names << text(script.name);
        parts << QStringLiteral("scripts: ") + names.join(QStringLiteral(", "));
    }
    if (!parts.isEmpty()) out += facts + parts.join(QStringLiteral("; ")) + QLatin1Char('\n');
    for (const std::string& e : c.weakeningEntitlements)
        out += facts + QStringLiteral("\u26A0\uFE0F %1 weakens the runtime.\n").arg(text(e));
    for (const std::string& p : c.problems) out += facts + QStringLiteral("\u26D4\uFE0F %1\n").arg(text(p));
    for (const Component& child : c.components) componentLines(child, depth + 1, out);
}

}  // namespace

QString componentsText(const ComponentsResult& components) {
    QString out = QStringLiteral("Components:\n");
    if (!components.ok()) return out + QStringLiteral("\u26D4\uFE0F ") + text(components.problem) + QLatin1Char('\n');
    componentLines(components.item, 0, out);
    if (components.walkTruncated)
        out += QStringLiteral("\u26A0\uFE0F The walk stopped at its limit: components beyond it are not shown.\n");
    for (const std::string& note : components.notes) out += QStringLiteral("\u26A0\uFE0F %1\n").arg(text(note));
    if (components.findings.empty()) {
        out += QStringLiteral("\u2705 Nothing was found across the components.\n");
    } else {
        out += QStringLiteral("Across the components:\n");
        for (const ComponentFinding& f : components.findings)
            out += QStringLiteral("\u26A0\uFE0F %1.\n").arg(text(f.finding));
    }
    return out;
}

}  // namespace tessarin
