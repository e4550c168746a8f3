// A small XML reader for xar tables of contents: elements, attributes and character data as a tree,
// with bounded depth and element count, and no entity definitions (so nothing can expand).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

struct XmlElement {
    std::string name;  // local name: a namespace prefix is dropped
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // the character data directly inside, entities decoded
    std::vector<XmlElement> children;

    const XmlElement* child(std::string_view childName) const;
    std::vector<const XmlElement*> childrenNamed(std::string_view childName) const;
    std::optional<std::string> attribute(std::string_view attributeName) const;
};

struct XmlLimits {
    std::uint32_t maxDepth = 128;
    std::uint64_t maxElements = 250000;  // elements and attributes together
    std::uint32_t maxAttributes = 64;    // on one element (each new one is checked against the others)
};

// The document's root element. Errors name what was malformed and the byte offset where.
Result<XmlElement> parseXml(std::string_view text, const XmlLimits& limits = {});

// Pieces every XML reader here shares. Each works at `pos` in `text`; on failure `pos` is left where
// the fault was found and the error says what it is, without the offset.

// The entity or character reference at `pos` (an '&'), its text appended to `out`.
Status readXmlReference(std::string_view text, std::size_t& pos, std::string& out);

// Blanks, comments, processing instructions and, in the prolog, a document type declaration, whose
// internal subset is skipped whole so that no entity it declares is ever used.
Status skipXmlMisc(std::string_view text, std::size_t& pos, bool prolog);

// Base64 as XML carries it: whitespace anywhere, padding at the end only. `strict` also refuses a
// lone final character, which carries no whole byte.
std::optional<Bytes> decodeXmlBase64(std::string_view text, bool strict);

}  // namespace tessarin
