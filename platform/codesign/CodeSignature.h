// The embedded code signature of one Mach-O slice: its SuperBlob, CodeDirectories, requirements,
// entitlements and CMS wrapper, parsed through ByteReader with every offset and count bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/Bytes.h"
#include "base/Result.h"
#include "codesign/CodeSignatureConstants.h"
#include "macho/MachO.h"

namespace tessarin {

struct BlobIndexEntry {
    std::uint32_t type = 0;    // CSSLOT_*
    std::uint32_t offset = 0;  // from the SuperBlob's start
    std::uint32_t magic = 0;
    std::uint32_t length = 0;
};

// The executable segment a CodeDirectory describes (version CS_SUPPORTSEXECSEG and later).
struct ExecSegment {
    std::uint64_t base = 0;
    std::uint64_t limit = 0;
    std::uint64_t flags = 0;  // CS_EXECSEG_*
};

struct CodeDirectory {
    std::uint32_t slot = CSSLOT_CODEDIRECTORY;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint32_t hashOffset = 0;
    std::uint32_t identOffset = 0;
    std::uint32_t nSpecialSlots = 0;
    std::uint32_t nCodeSlots = 0;
    std::uint32_t codeLimit32 = 0;
    std::uint8_t hashSize = 0;
    std::uint8_t hashType = 0;
    std::uint8_t platform = 0;
    std::uint8_t pageSizeLog2 = 0;
    // Fields each later version appends: present exactly when the directory's version has them.
    std::optional<std::uint32_t> scatterOffset;     // CS_SUPPORTSSCATTER
    std::optional<std::uint32_t> teamOffset;        // CS_SUPPORTSTEAMID
    std::optional<std::uint64_t> codeLimit64;       // CS_SUPPORTSCODELIMIT64
    std::optional<ExecSegment> execSegment;         // CS_SUPPORTSEXECSEG
    std::optional<std::uint32_t> runtimeVersion;    // CS_SUPPORTSRUNTIME
    std::optional<std::uint32_t> preEncryptOffset;  // CS_SUPPORTSRUNTIME
    std::string identifier;
    std::string teamId;
    ByteSpan blob;  // the whole CodeDirectory, header included: what its CDHash covers

    // A zero 64-bit limit defers to the 32-bit one.
    std::uint64_t codeLimit() const { return codeLimit64.value_or(0) != 0 ? *codeLimit64 : codeLimit32; }
    std::uint32_t pageSize() const { return pageSizeLog2 == 0 ? 0 : (1u << pageSizeLog2); }
    // Hash of code page i (i < nCodeSlots); the parser proved these ranges lie inside the blob.
    ByteSpan codeSlot(std::uint32_t i) const {
        return blob.subspan(hashOffset + std::uint64_t(i) * hashSize, hashSize);
    }
    // Hash of special slot -k (1 <= k <= nSpecialSlots).
    ByteSpan specialSlot(std::uint32_t k) const {
        return blob.subspan(hashOffset - std::uint64_t(k) * hashSize, hashSize);
    }
};

struct EmbeddedSignature {
    std::uint32_t length = 0;                    // of the SuperBlob
    std::vector<BlobIndexEntry> index;           // as the file lists it
    std::vector<CodeDirectory> codeDirectories;  // primary first, then alternates by slot
    std::optional<ByteSpan> requirements;        // whole blob, what special slot -2 hashes
    std::uint32_t requirementsCount = 0;
    std::optional<ByteSpan> entitlements;     // whole blob (-5)
    std::optional<ByteSpan> entitlementsDer;  // whole blob (-7)
    std::optional<ByteSpan> cms;              // DER inside the wrapper; empty span for ad hoc wrappers
    std::optional<ByteSpan> ticket;           // inside the wrapper in slot CSSLOT_TICKETSLOT, when present

    const CodeDirectory* primary() const { return codeDirectories.empty() ? nullptr : &codeDirectories.front(); }
    // The XML payload of the entitlements blob (after its 8-byte header).
    std::optional<ByteSpan> entitlementsPayload() const {
        if (!entitlements) return std::nullopt;
        return entitlements->subspan(8);
    }
};

// Parses a SuperBlob (CSMAGIC_EMBEDDED_SIGNATURE). Rejects counts the bytes cannot hold, blobs past
// the SuperBlob's end, blobs that overlap each other or its index, duplicate slots, and malformed
// CodeDirectories, with a sentence that names what was wrong.
Result<EmbeddedSignature> parseEmbeddedSignature(ByteSpan superBlob);

// Parses one CodeDirectory blob (already cut to its own length).
Result<CodeDirectory> parseCodeDirectory(ByteSpan blob, std::uint32_t slot);

// Where LC_CODE_SIGNATURE puts the signature, relative to the slice's start.
struct SignatureLocation {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
// Nothing when the slice has no LC_CODE_SIGNATURE; an error when the command or its range is broken.
Result<std::optional<SignatureLocation>> findCodeSignature(ByteSpan fileBytes, const MachOSlice& slice);

// Digest of bytes with a CodeDirectory hash type, at that type's length (SHA-256 truncated: 20 bytes).
// Empty for unknown types.
Bytes codeSignatureDigest(std::uint8_t hashType, ByteSpan bytes);
// The digest length of a hash type, 0 when unknown.
std::uint32_t hashTypeLength(std::uint8_t hashType);
// The CDHash: the CodeDirectory's digest with its own hash type, full, and cut to 20 bytes.
Bytes codeDirectoryHashFull(const CodeDirectory& cd);
Bytes codeDirectoryHash(const CodeDirectory& cd);

// Incremental digest through OpenSSL EVP (which uses the CPU's SHA extensions where present).
class Hasher {
public:
    explicit Hasher(std::uint8_t hashType);
    Hasher(Hasher&& other) noexcept;
    Hasher& operator=(Hasher&& other) noexcept;
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    ~Hasher();
    bool usable() const { return context_ != nullptr; }
    void update(ByteSpan bytes);
    // The digest at the hash type's length; the hasher starts over afterwards.
    Bytes finish();

private:
    void* context_ = nullptr;  // EVP_MD_CTX
    std::uint8_t hashType_ = 0;
};

// Strength order for choosing the CodeDirectory to display: sha384 > sha256 > sha256-truncated > sha1.
int hashTypeStrength(std::uint8_t hashType);

}  // namespace tessarin
