// The gate's words mapped onto the window's verdicts and the component tree. Words about the
// whole item use the verdicts the report shows; words about the parts use the tree and its
// findings, so a gate never judges anything the report or codesign --components would not say.
#include "ReleaseGate.h"

#include <functional>

namespace tessarin {

namespace {

struct Known {
    const char* text;
    GateWord word;
};

constexpr Known kWords[] = {
    {"valid", GateWord::Valid},
    {"notarized", GateWord::Notarized},
    {"hardened-runtime", GateWord::HardenedRuntime},
    {"no-32bit", GateWord::No32Bit},
    {"no-adhoc", GateWord::NoAdHoc},
    {"no-unsigned", GateWord::NoUnsigned},
    {"no-weakening-entitlements", GateWord::NoWeakeningEntitlements},
};

void eachComponent(const Component& c, const std::string& path,
                   const std::function<void(const Component&, const std::string&)>& f) {
    f(c, path);
    for (const Component& child : c.components) eachComponent(child, child.path, f);
}

bool isSigned(const Component& c) { return !c.signature.empty() && c.signature != "unsigned"; }

// The code an archive carries, outermost first: each item that runs is judged as a whole (its nested
// code follows its own verdict), containers inside are looked into.
void eachCarriedItem(const Component& c, const std::function<void(const Component&)>& f) {
    for (const Component& child : c.components) {
        if (child.kind == "archive" || child.kind == "installer package")
            eachCarriedItem(child, f);
        else if (child.holdsCode())
            f(child);
    }
}

// A team is established only by a genuine certificate from Apple's roots: anybody can write any
// team into an ad hoc signature or into a certificate of their own.
template <typename Add>
void teamShortfall(const Component& c, const std::string& team, Add add) {
    if (c.signature != "certificate")
        add(c.teamIdentifier.empty() ? "it names no team"
                                     : "it is not signed with a certificate, so its team is only claimed");
    else if (c.teamIdentifier != team)
        add(c.teamIdentifier.empty() ? "it names no team" : "its team is " + c.teamIdentifier);
    else if (!c.valid)
        add("its signature does not hold, so its team is not established");
    else if (!c.trusted)
        add("its certificate does not come from Apple's roots, so its team is not established");
}

}  // namespace

bool ReleaseGate::needsComponents() const {
    for (const Requirement& r : requirements)
        if (r.word != GateWord::Notarized) return true;
    return false;
}

std::string addRequirements(ReleaseGate& gate, const std::string& list) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string text = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        Requirement r{GateWord::Valid, {}, text};
        bool known = false;
        for (const Known& k : kWords)
            if (text == k.text) {
                r.word = k.word;
                known = true;
            }
        if (!known && text.rfind("team=", 0) == 0) {
            if (text.size() == 5) return "--require's team= needs a team identifier";
            r.word = GateWord::Team;
            r.team = text.substr(5);
            known = true;
        }
        if (text.empty()) return "--require has an empty word";
        if (!known)
            return "unknown --require word '" + text +
                   "' (known: valid, notarized, hardened-runtime, no-32bit, no-adhoc, no-unsigned, team=TEAMID, "
                   "no-weakening-entitlements)";
        bool seen = false;
        for (const Requirement& had : gate.requirements) seen = seen || had.text == text;
        if (!seen) gate.requirements.push_back(std::move(r));
        if (comma == std::string::npos) return {};
        start = comma + 1;
    }
}

std::vector<Shortfall> shortfallsOf(const ReleaseGate& gate, const ItemVerdicts& verdicts,
                                    const ComponentsResult& components) {
    std::vector<Shortfall> out;
    for (const Requirement& r : gate.requirements) {
        auto add = [&](const std::string& path, const std::string& why) { out.push_back({path, r.text, why}); };
        // The findings that are exactly this word's shortfalls.
        auto findings = [&](const char* kind) {
            for (const ComponentFinding& f : components.findings)
                if (f.kind == kind) add(f.path, f.finding);
        };
        // An archive has no signature of its own to pass or fail: what it carries is judged instead.
        const bool archive = components.ok() && components.item.kind == "archive";
        if (archive && (r.word == GateWord::Notarized || r.word == GateWord::Valid)) {
            bool any = false;
            eachCarriedItem(components.item, [&](const Component& c) {
                any = true;
                if (r.word == GateWord::Notarized && c.notarization.rfind("notarized", 0) != 0)
                    add(c.path, "it is not notarized");
            });
            if (!any) add({}, "it holds no code");
        } else if (r.word == GateWord::Notarized) {
            if (!verdicts.notarized) add({}, "it is not notarized");
            continue;
        } else if (r.word == GateWord::Valid && !verdicts.valid) {
            add({}, "its signature check did not pass");
        }
        if (r.word == GateWord::Notarized) continue;
        if (!components.ok()) {
            add({}, components.problem);
            continue;
        }
        const Component& root = components.item;
        switch (r.word) {
        case GateWord::Valid:
            for (const Component& child : root.components)
                eachComponent(child, child.path, [&](const Component& c, const std::string& path) {
                    if (c.holdsCode() && !c.valid)
                        add(path, c.problems.empty() ? "its signature is not valid" : c.problems.front());
                });
            break;
        case GateWord::HardenedRuntime:
            if (root.holdsCode() && (!isSigned(root) || !(root.flags & kCodeDirectoryRuntimeFlag)))
                add({}, "it runs without the hardened runtime");
            findings("no-hardened-runtime");
            break;
        case GateWord::No32Bit: findings("32bit-only"); break;
        case GateWord::NoWeakeningEntitlements: findings("weakening-entitlement"); break;
        case GateWord::NoAdHoc:
        case GateWord::NoUnsigned:
        case GateWord::Team:
            eachComponent(root, {}, [&](const Component& c, const std::string& path) {
                if (!c.holdsCode()) return;
                if (r.word == GateWord::NoAdHoc && (c.signature == "ad hoc" || c.signature == "linker-signed"))
                    add(path, "it is signed ad hoc");
                else if (r.word == GateWord::NoUnsigned && c.signature == "unsigned")
                    add(path, "it is unsigned");
                else if (r.word == GateWord::Team)
                    teamShortfall(c, r.team, [&](std::string why) { add(path, std::move(why)); });
            });
            break;
        case GateWord::Notarized: break;
        }
    }
    return out;
}

std::string shortfallLine(const std::string& itemName, const Shortfall& s) {
    return itemName + ": " + (s.component.empty() ? std::string() : s.component + ": ") + "does not meet " + s.word +
           ": " + s.why;
}

}  // namespace tessarin
