// A code-less bundle's signature: its parts are separate files in _CodeSignature, read with a bound
// each and put together as the SuperBlob a Mach-O file would carry, so one parser judges both.
#include <sys/stat.h>

#include "base/FileRead.h"
#include "codesign/CodeSignatureConstants.h"
#include "verify/Verifier.h"

namespace tessarin::detail {
namespace {

// A code-less CodeDirectory holds special slots only; requirements and CMS are a few kilobytes.
constexpr std::uint64_t kMaxPart = 1u << 20;

struct Part {
    const char* name;
    std::uint32_t slot;
    bool required;
};

// Where codesign writes each part. The alternate CodeDirectory's file is named after the
// requirements, as codesign names it.
constexpr Part kParts[] = {
    {"CodeDirectory", CSSLOT_CODEDIRECTORY, true},
    {"CodeRequirements", CSSLOT_REQUIREMENTS, false},
    {"CodeRequirements-1", CSSLOT_ALTERNATE_CODEDIRECTORIES, false},
    {"CodeSignature", CSSLOT_SIGNATURESLOT, false},
};

void append32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace

CodelessSignature readCodelessSignature(const std::string& contentRoot) {
    CodelessSignature out;
    const std::string folder = contentRoot + "/_CodeSignature/";
    struct stat st {};
    if (::lstat((folder + "CodeDirectory").c_str(), &st) != 0) return out;
    out.present = true;
    if (linkOnTheWay(contentRoot, "_CodeSignature")) {
        out.problem = ProblemKind::LinkInBundleStructure;
        return out;
    }
    std::vector<std::pair<std::uint32_t, Bytes>> blobs;
    for (const Part& part : kParts) {
        const std::string path = folder + part.name;
        if (::lstat(path.c_str(), &st) != 0) {
            if (!part.required) continue;
            out.problem = ProblemKind::SignatureMalformed;
            return out;
        }
        if (S_ISLNK(st.st_mode)) {
            out.problem = ProblemKind::LinkInBundleStructure;
            return out;
        }
        auto bytes = readSmallFile(path, kMaxPart, false);
        if (!bytes) {
            out.problem = ProblemKind::SignatureMalformed;
            return out;
        }
        if (part.slot == CSSLOT_SIGNATURESLOT) {
            // The file is the bare CMS (empty for ad hoc); inside a SuperBlob it sits in a wrapper.
            Bytes wrapper;
            append32(wrapper, CSMAGIC_BLOBWRAPPER);
            append32(wrapper, static_cast<std::uint32_t>(bytes->size() + 8));
            wrapper.insert(wrapper.end(), bytes->begin(), bytes->end());
            bytes = std::move(wrapper);
        }
        blobs.emplace_back(part.slot, std::move(*bytes));
    }
    Bytes& super = out.superBlob;
    append32(super, CSMAGIC_EMBEDDED_SIGNATURE);
    append32(super, 0);  // the length, once known
    append32(super, static_cast<std::uint32_t>(blobs.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(12 + 8 * blobs.size());
    for (const auto& [slot, blob] : blobs) {
        append32(super, slot);
        append32(super, offset);
        offset += static_cast<std::uint32_t>(blob.size());
    }
    for (const auto& [slot, blob] : blobs) super.insert(super.end(), blob.begin(), blob.end());
    const auto length = static_cast<std::uint32_t>(super.size());
    for (int i = 0; i < 4; ++i) super[4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    return out;
}

}  // namespace tessarin::detail
