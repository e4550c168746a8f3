// The release gate: --require's words, and where an item or one of its components falls short of
// them. Plain C++: the verdicts come in as values, the tree as the component list read back.
#pragma once

#include <string>
#include <vector>

#include "ComponentsCheck.h"

namespace tessarin {

enum class GateWord {
    Valid,                    // the item's signature check passed, and every component's signature is valid
    Notarized,                // the item counts as notarized
    HardenedRuntime,          // the item runs with the hardened runtime, and no component inside it without
    No32Bit,                  // no 32-bit-only component
    NoAdHoc,                  // no code signed ad hoc (linker-signed included)
    NoUnsigned,               // no unsigned code
    Team,                     // every piece of code signed by the team named
    NoWeakeningEntitlements,  // no entitlement that weakens the runtime
};

struct Requirement {
    GateWord word;
    std::string team;  // for Team
    std::string text;  // the word as given
};

struct ReleaseGate {
    std::vector<Requirement> requirements;
    bool empty() const { return requirements.empty(); }
    bool needsComponents() const;
};

// Adds the words of one --require value ("valid,notarized,team=ABCDE12345"). Returns what was wrong
// with it in one sentence, or nothing; a word given twice counts once.
std::string addRequirements(ReleaseGate& gate, const std::string& list);

// The window's verdicts on the item as a whole.
struct ItemVerdicts {
    bool valid = false;
    bool notarized = false;
};

struct Shortfall {
    std::string component;  // its path in the tree; empty for the item itself
    std::string word;       // the requirement as given
    std::string why;
};

std::vector<Shortfall> shortfallsOf(const ReleaseGate& gate, const ItemVerdicts& verdicts,
                                    const ComponentsResult& components);

// "ITEM: COMPONENT: does not meet WORD: why" (no COMPONENT for the item itself).
std::string shortfallLine(const std::string& itemName, const Shortfall& shortfall);

}  // namespace tessarin
