// The component tree in words: the codesign stand-in's --components text and --components-json, and
// the phrases the report and the window will share (the signer, the kind, a slice's platform).
#pragma once

#include <cstdint>
#include <string>

#include "verify/ComponentTree.h"

namespace tessarin {

// "Apple", "Mac App Store", "Developer ID Application: Name (TEAM)", "Apple Development: Name (ID)",
// "ad hoc", "linker-signed (ad hoc)", "unsigned", "invalid: <the first problem>".
std::string signerWords(const CodeItem& item);
// "app", "framework", "XPC service", "plug-in (.appex)", "loose Mach-O", "link", ...
std::string componentKindName(const CodeItem& item);
// "macOS", "Mac Catalyst", "iOS", ...; "platform N" for a number without a name.
std::string platformName(std::uint32_t platform);
// "12.3" or "10.15.4" from the xxxx.yy.zz nibbles of a build version.
std::string osVersionText(std::uint32_t version);
// How notarization stands, with how it was established.
std::string notarizationWords(NotarizationStatus status);
// A finding's kind as one stable word for machines ("other-team", "no-hardened-runtime", ...).
const char* treeFindingToken(TreeFindingKind kind);
// One line for a finding across the tree, naming the item.
std::string treeFindingLine(const TreeFinding& finding);

// The tree as indented lines: each item's heading ("path: kind, signer") then its facts as
// Key=value lines, then the findings.
std::string componentTreeText(const ComponentTree& tree);
// The tree as one JSON document (names escaped as the text shows them).
std::string componentTreeJson(const ComponentTree& tree);

}  // namespace tessarin
