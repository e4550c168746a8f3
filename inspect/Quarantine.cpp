// Quarantine flags: the attribute value as UTF-8, counted in user-perceived characters.
#include "Quarantine.h"

#include <string_view>

#include "base/ExtendedAttributes.h"
#include "base/Unicode.h"

namespace tessarin {

namespace {
constexpr const char* kQuarantineAttribute = "com.apple.quarantine";
constexpr std::size_t kShortestValue = 11;  // characters; anything shorter is no real value
constexpr std::size_t kFlagsLength = 4;
}  // namespace

std::string quarantineFlagsFromValue(const std::vector<unsigned char>& value) {
    std::string_view text(reinterpret_cast<const char*>(value.data()), value.size());
    if (!isValidUtf8(text)) return {};
    auto bounds = graphemeClusterBoundaries(text);
    if (bounds.size() - 1 < kShortestValue) return {};
    return std::string(text.substr(0, bounds[kFlagsLength]));
}

std::string quarantineFlags(const FileURL& url) {
    const std::string path = url.path();
    // A path with a NUL cannot be handed to the system.
    if (path.empty() || path.find('\0') != std::string::npos) return {};
    XattrResult read = readExtendedAttribute(path.c_str(), kQuarantineAttribute);
    if (!read.ok) return {};
    return quarantineFlagsFromValue(read.value);
}

bool quarantineFlagIsSet(const std::string& flags) {
    if (graphemeClusterCount(flags) < kFlagsLength) return false;
    auto scalars = unicodeScalars(flags);
    return scalars.size() >= 3 && scalars[2] == U'8';
}

}  // namespace tessarin
