// Property lists: the entry points that pick the XML or binary reader and hold both to the limits.
// XML is read by our own reader (plist/XmlPlist.cpp); binary lists go through libplist once their
// known weak spots are closed (plist/PlistBounds.cpp): more values than the limits allow, shared
// references that would expand into an unbounded tree or never end, and dictionary keys holding a
// NUL. Writing is libplist's (plist/PlistWriter.cpp).
#include "plist/Plist.h"

#include <string>
#include <string_view>

#include "base/MappedFile.h"
#include "plist/BinaryPlist.h"
#include "plist/PlistBounds.h"
#include "plist/XmlPlist.h"

namespace tessarin {

const PlistValue* PlistValue::find(const std::string& key) const {
    const PlistDict* d = dict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Result<PlistValue> parsePlist(ByteSpan bytes, const PlistLimits& limits) {
    if (bytes.size() > limits.maxBytes)
        return fail("property list is larger than " + std::to_string(limits.maxBytes / (1024 * 1024)) + " MB");
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bool binary = text.substr(0, 8) == "bplist00";
    Status checked = binary ? checkBinaryGraph(bytes, limits.maxValues) : checkXmlNesting(text, limits.maxValues);
    if (!checked) return fail(checked.error());
    if (!binary) return parseXmlPlist(text, limits.maxValues);
    return parseBinaryPlist(bytes);
}

Result<PlistValue> readPlistFile(const std::string& path, const PlistLimits& limits) {
    auto file = MappedFile::open(path);
    if (!file) return fail(file.error());
    auto parsed = parsePlist(file->bytes(), limits);
    if (!parsed) return fail("'" + path + "': " + parsed.error());
    return parsed;
}

}  // namespace tessarin
