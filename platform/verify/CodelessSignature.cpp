// A signature kept apart from its code, part by part: as separate files in a bundle's _CodeSignature
// (a code-less bundle's, whose code is its Info.plist, or one whose executable carries no signature of
// its own: old kernel extensions and plug-ins), or as a plain file's extended attributes (a script or
// data file signed as code). Each part is read with a bound and put together as the SuperBlob a
// Mach-O file would carry, so one parser judges them all.
#include <sys/stat.h>

#include <functional>
#include <optional>

#include "base/ExtendedAttributes.h"
#include "base/FileRead.h"
#include "codesign/CodeSignatureConstants.h"
#include "verify/Verifier.h"

namespace tessarin::detail {
namespace {

// A directory over a whole executable holds one hash per page (16 MB covers 2 GB in SHA-256); the
// other parts are a few kilobytes.
constexpr std::uint64_t kMaxDirectory = 16u << 20;
constexpr std::uint64_t kMaxPart = 1u << 20;

struct Part {
    const char* name;
    std::uint32_t slot;
    bool required;
};

// The file codesign writes for each slot, in slot order. The alternate CodeDirectories' files are
// named after the requirements, as codesign names them.
constexpr Part kParts[] = {
    {"CodeDirectory", CSSLOT_CODEDIRECTORY, true},
    {"CodeRequirements", CSSLOT_REQUIREMENTS, false},
    {"CodeEntitlements", CSSLOT_ENTITLEMENTS, false},
    {"CodeEntitlementDER", CSSLOT_DER_ENTITLEMENTS, false},
    {"CodeRequirements-1", CSSLOT_ALTERNATE_CODEDIRECTORIES, false},
    {"CodeRequirements-2", CSSLOT_ALTERNATE_CODEDIRECTORIES + 1, false},
    {"CodeRequirements-3", CSSLOT_ALTERNATE_CODEDIRECTORIES + 2, false},
    {"CodeRequirements-4", CSSLOT_ALTERNATE_CODEDIRECTORIES + 3, false},
    {"CodeRequirements-5", CSSLOT_ALTERNATE_CODEDIRECTORIES + 4, false},
    {"CodeSignature", CSSLOT_SIGNATURESLOT, false},
};

bool isDirectory(std::uint32_t slot) {
    return slot == CSSLOT_CODEDIRECTORY ||
           (slot >= CSSLOT_ALTERNATE_CODEDIRECTORIES && slot < CSSLOT_ALTERNATE_CODEDIRECTORY_LIMIT);
}

void append32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

enum class Read { Absent, Problem, Read };

// The parts in slot order, each from `read`, as one SuperBlob; `out.present` is already decided.
void assemble(CodelessSignature& out, const std::function<Read(const Part&, Bytes&)>& read) {
    std::vector<std::pair<std::uint32_t, Bytes>> blobs;
    for (const Part& part : kParts) {
        Bytes bytes;
        const Read r = read(part, bytes);
        if (r == Read::Problem || (r == Read::Absent && part.required)) {
            if (out.problem == ProblemKind::None) out.problem = ProblemKind::SignatureMalformed;
            return;
        }
        if (r == Read::Absent) continue;
        if (part.slot == CSSLOT_SIGNATURESLOT) {
            // The part is the bare CMS (empty for ad hoc); inside a SuperBlob it sits in a wrapper.
            Bytes wrapper;
            append32(wrapper, CSMAGIC_BLOBWRAPPER);
            append32(wrapper, static_cast<std::uint32_t>(bytes.size() + 8));
            wrapper.insert(wrapper.end(), bytes.begin(), bytes.end());
            bytes = std::move(wrapper);
        }
        blobs.emplace_back(part.slot, std::move(bytes));
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
}

}  // namespace

CodelessSignature readAttributeSignature(const std::string& path) {
    CodelessSignature out;
    // Apple's FileDiskRep keeps each part in "com.apple.cs." + the slot's name; on Linux the
    // attribute is found under "user." as well.
    auto attribute = [&](const Part& part) { return readExtendedAttribute(path.c_str(), std::string("com.apple.cs.") + part.name); };
    XattrResult directory = attribute(kParts[0]);
    if (!directory.ok) return out;
    out.present = true;
    assemble(out, [&](const Part& part, Bytes& bytes) {
        XattrResult r = part.slot == CSSLOT_CODEDIRECTORY ? std::move(directory) : attribute(part);
        if (!r.ok) return Read::Absent;
        if (r.value.size() > (isDirectory(part.slot) ? kMaxDirectory : kMaxPart)) return Read::Problem;
        bytes.assign(r.value.begin(), r.value.end());
        return Read::Read;
    });
    return out;
}

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
    assemble(out, [&](const Part& part, Bytes& bytes) {
        const std::string path = folder + part.name;
        if (::lstat(path.c_str(), &st) != 0) return Read::Absent;
        if (S_ISLNK(st.st_mode)) {
            out.problem = ProblemKind::LinkInBundleStructure;
            return Read::Problem;
        }
        auto read = readSmallFile(path, isDirectory(part.slot) ? kMaxDirectory : kMaxPart, false);
        if (!read) return Read::Problem;
        bytes = std::move(*read);
        return Read::Read;
    });
    return out;
}

}  // namespace tessarin::detail
