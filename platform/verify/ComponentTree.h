// Everything inside an item as one tree: the code verification judged (each item with its signer,
// entitlements and notarization), the Mach-O files and links a bounded walk finds beside it, and what
// the tree shows as a whole. Built from a deep verification's verdict, so nothing is hashed again.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "crypto/Trust.h"
#include "notary/TicketService.h"
#include "verify/CodeItem.h"
#include "verify/CodeSignVerifier.h"
#include "verify/CodeVerdict.h"

namespace tessarin {

// What the tree shows across its items.
enum class TreeFindingKind {
    OtherTeam,              // nested code signed by another team than the outermost item (detail: its team)
    UnsignedInDeveloperId,  // unsigned code inside Developer ID code
    AdHocInDeveloperId,     // ad hoc or linker-signed code inside Developer ID code
    NoHardenedRuntime,      // signed code without the runtime inside code that has it
    WeakeningEntitlement,   // detail: the entitlement
    ThirtyTwoBitOnly,       // Mach-O with 32-bit slices only
};

struct TreeFinding {
    TreeFindingKind kind;
    std::string relativePath;  // of the item; empty for the outermost
    std::string detail;
};

struct ComponentTreeLimits {
    int maxDepth = 64;                  // folder levels below the item
    std::size_t maxEntries = 1u << 18;  // directory entries visited
};

struct ComponentTree {
    CodeItem root;
    std::vector<TreeFinding> findings;
    bool walkTruncated = false;  // the walk stopped at a limit: items beyond it are not shown
    std::vector<std::string> notes;  // what could not be read inside a container, one sentence each
};

// How notarization stands for an item its assessment judged; `containerTicket`: a ticket it borrowed.
NotarizationStatus notarizationStatusOf(const Assessment& a, bool containerTicket = false);

// The verification the tree rests on: Gatekeeper's (strict, nested code verified, every slice).
CodeVerifyOptions componentTreeOptions();

// The tree of the item at `path` from its verdict made with componentTreeOptions() (consumed).
// `service` (null: offline) is asked for tickets where none stapled names an item. `containerTicket`:
// the ticket stapled to the disk image the item came in, which names its code as the item's own would.
ComponentTree buildComponentTree(CodeVerdict verdict, const TrustAnchors& anchors, TicketService* service = nullptr,
                                 const ComponentTreeLimits& limits = {}, const Bytes* containerTicket = nullptr);
// Verifies the item and builds its tree.
ComponentTree componentTreeOf(const std::string& path, const TrustAnchors& anchors, TicketService* service = nullptr,
                              const ComponentTreeLimits& limits = {}, const Bytes* containerTicket = nullptr);

}  // namespace tessarin
