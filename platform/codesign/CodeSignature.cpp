// Parses the embedded signature of a slice: every offset is checked against the blob that holds it
// before anything is read, and no count from the file sizes an allocation unbounded.
#include "codesign/CodeSignature.h"

#include "base/ByteCursor.h"

#include "base/Bytes.h"
#include "base/Hex.h"

#include <openssl/evp.h>
#include <algorithm>
#include <set>
#include <string>

namespace tessarin {

namespace {

// The header size a CodeDirectory of this version must at least have.
std::uint32_t headerSizeForVersion(std::uint32_t version) {
    if (version >= CS_SUPPORTSLINKAGE) return 108;
    if (version >= CS_SUPPORTSRUNTIME) return 96;
    if (version >= CS_SUPPORTSEXECSEG) return 88;
    if (version >= CS_SUPPORTSCODELIMIT64) return 64;
    if (version >= CS_SUPPORTSTEAMID) return 52;
    if (version >= CS_SUPPORTSSCATTER) return 48;
    return 44;
}

const EVP_MD* mdFor(std::uint8_t hashType) {
    // Fetched once: implicit fetches on every page would cost more than hashing a small page.
    static const EVP_MD* sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    static const EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    static const EVP_MD* sha384 = EVP_MD_fetch(nullptr, "SHA384", nullptr);
    switch (hashType) {
    case CS_HASHTYPE_SHA1: return sha1;
    case CS_HASHTYPE_SHA256:
    case CS_HASHTYPE_SHA256_TRUNCATED: return sha256;
    case CS_HASHTYPE_SHA384: return sha384;
    default: return nullptr;
    }
}

}  // namespace

std::uint32_t hashTypeLength(std::uint8_t hashType) {
    switch (hashType) {
    case CS_HASHTYPE_SHA1: return CS_SHA1_LEN;
    case CS_HASHTYPE_SHA256: return CS_SHA256_LEN;
    case CS_HASHTYPE_SHA256_TRUNCATED: return CS_SHA256_TRUNCATED_LEN;
    case CS_HASHTYPE_SHA384: return CS_SHA384_LEN;
    default: return 0;
    }
}

int hashTypeStrength(std::uint8_t hashType) {
    switch (hashType) {
    case CS_HASHTYPE_SHA1: return 1;
    case CS_HASHTYPE_SHA256_TRUNCATED: return 2;
    case CS_HASHTYPE_SHA256: return 3;
    case CS_HASHTYPE_SHA384: return 4;
    default: return 0;
    }
}

Hasher::Hasher(std::uint8_t hashType) : hashType_(hashType) {
    const EVP_MD* md = mdFor(hashType);
    if (!md) return;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) return;
    if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        return;
    }
    context_ = ctx;
}

Hasher::Hasher(Hasher&& other) noexcept : context_(other.context_), hashType_(other.hashType_) {
    other.context_ = nullptr;
}

Hasher& Hasher::operator=(Hasher&& other) noexcept {
    if (this != &other) {
        if (context_) EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
        context_ = other.context_;
        hashType_ = other.hashType_;
        other.context_ = nullptr;
    }
    return *this;
}

Hasher::~Hasher() {
    if (context_) EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

void Hasher::update(ByteSpan bytes) {
    if (context_ && !bytes.empty()) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes.data(), bytes.size());
}

Bytes Hasher::finish() {
    if (!context_) return {};
    auto* ctx = static_cast<EVP_MD_CTX*>(context_);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx, out, &n);
    EVP_DigestInit_ex(ctx, mdFor(hashType_), nullptr);
    n = std::min<unsigned int>(n, hashTypeLength(hashType_));
    return Bytes(out, out + n);
}

Bytes codeSignatureDigest(std::uint8_t hashType, ByteSpan bytes) {
    const EVP_MD* md = mdFor(hashType);
    if (!md) return {};
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out, &n, md, nullptr) != 1) return {};
    n = std::min<unsigned int>(n, hashTypeLength(hashType));
    return Bytes(out, out + n);
}

Bytes codeDirectoryHashFull(const CodeDirectory& cd) {
    // The full digest is the untruncated one even for the truncated SHA-256 type.
    std::uint8_t type = cd.hashType == CS_HASHTYPE_SHA256_TRUNCATED ? CS_HASHTYPE_SHA256 : cd.hashType;
    return codeSignatureDigest(type, cd.blob);
}

Bytes codeDirectoryHash(const CodeDirectory& cd) {
    auto full = codeDirectoryHashFull(cd);
    if (full.size() > CS_CDHASH_LEN) full.resize(CS_CDHASH_LEN);
    return full;
}

Result<CodeDirectory> parseCodeDirectory(ByteSpan blob, std::uint32_t slot) {
    ByteReader r(blob);
    CodeDirectory cd;
    cd.slot = slot;
    cd.blob = blob;
    ByteCursor c(r, 0);
    const std::uint32_t magic = c.u32be();
    const std::uint32_t length = c.u32be();
    cd.version = c.u32be();
    cd.flags = c.u32be();
    cd.hashOffset = c.u32be();
    cd.identOffset = c.u32be();
    cd.nSpecialSlots = c.u32be();
    cd.nCodeSlots = c.u32be();
    cd.codeLimit32 = c.u32be();
    cd.hashSize = c.u8();
    cd.hashType = c.u8();
    cd.platform = c.u8();
    cd.pageSizeLog2 = c.u8();
    if (!c || r.size() < 44) return fail("truncated code directory (fewer than 44 bytes)");
    if (magic != CSMAGIC_CODEDIRECTORY) return fail("code directory has the wrong magic " + hexNumber(magic));
    if (length != r.size()) return fail("code directory length does not match its blob");
    if ((cd.version >> 16) != 2 || cd.version < 0x20001)
        return fail("code directory version " + hexNumber(cd.version) + " is not supported");
    const std::uint32_t header = headerSizeForVersion(cd.version);
    const std::string shortHeader =
        "code directory of version " + hexNumber(cd.version) + " is shorter than its header";
    if (r.size() < header) return fail(shortHeader);
    // Each later version appends fields; the cursor still refuses any that the blob does not hold.
    c = ByteCursor(r, 44);
    if (cd.version >= CS_SUPPORTSSCATTER) cd.scatterOffset = c.u32be();
    if (cd.version >= CS_SUPPORTSTEAMID) cd.teamOffset = c.u32be();
    if (cd.version >= CS_SUPPORTSCODELIMIT64) {
        c.skip(4);  // spare3
        cd.codeLimit64 = c.u64be();
    }
    if (cd.version >= CS_SUPPORTSEXECSEG) {
        ExecSegment seg;
        seg.base = c.u64be();
        seg.limit = c.u64be();
        seg.flags = c.u64be();
        cd.execSegment = seg;
    }
    if (cd.version >= CS_SUPPORTSRUNTIME) {
        cd.runtimeVersion = c.u32be();
        cd.preEncryptOffset = c.u32be();
    }
    if (!c) return fail(shortHeader);
    const std::uint32_t expected = hashTypeLength(cd.hashType);
    if (expected == 0) return fail("code directory has unknown hash type " + std::to_string(cd.hashType));
    if (cd.hashSize != expected)
        return fail("code directory hash size " + std::to_string(cd.hashSize) + " does not fit its hash type");
    if (cd.pageSizeLog2 != 0 && (cd.pageSizeLog2 < 9 || cd.pageSizeLog2 > 24))
        return fail("code directory page size 2^" + std::to_string(cd.pageSizeLog2) + " is out of range");
    // Slot arrays: special slots before hashOffset, code slots after, all inside the blob and past
    // the header (64-bit arithmetic: the products cannot wrap).
    const std::uint64_t specialBytes = std::uint64_t(cd.nSpecialSlots) * cd.hashSize;
    const std::uint64_t codeBytes = std::uint64_t(cd.nCodeSlots) * cd.hashSize;
    if (cd.hashOffset < header || specialBytes > cd.hashOffset - header)
        return fail("code directory special slots overlap its header");
    if (!r.contains(cd.hashOffset, codeBytes)) return fail("code directory hash slots extend past its end");
    if (cd.identOffset < header || cd.identOffset >= r.size())
        return fail("code directory identifier offset is outside the directory");
    auto ident = r.cstring(cd.identOffset, r.size());
    if (!ident) return fail("code directory identifier is not terminated");
    cd.identifier = *ident;
    if (const std::uint32_t teamOffset = cd.teamOffset.value_or(0); teamOffset != 0) {
        if (teamOffset < header || teamOffset >= r.size())
            return fail("code directory team identifier offset is outside the directory");
        auto team = r.cstring(teamOffset, r.size());
        if (!team) return fail("code directory team identifier is not terminated");
        cd.teamId = *team;
    }
    if (const std::uint32_t scatter = cd.scatterOffset.value_or(0);
        scatter != 0 && (scatter < header || scatter >= r.size()))
        return fail("code directory scatter offset is outside the directory");
    // The page count must be the one codeLimit implies, so that verification covers all the code.
    const std::uint64_t limit = cd.codeLimit();
    if (cd.pageSizeLog2 != 0) {
        const std::uint64_t page = cd.pageSize();
        if (cd.nCodeSlots != (limit + page - 1) / page)
            return fail("code directory has " + std::to_string(cd.nCodeSlots) +
                        " code slots where its code limit needs " + std::to_string((limit + page - 1) / page));
    } else if (cd.nCodeSlots > 1) {
        return fail("code directory without pages has more than one code slot");
    }
    return cd;
}

Result<EmbeddedSignature> parseEmbeddedSignature(ByteSpan superBlob) {
    ByteReader r(superBlob);
    auto magic = r.u32be(0);
    auto length = r.u32be(4);
    auto count = r.u32be(8);
    if (!magic || !length || !count) return fail("truncated code signature (no SuperBlob header)");
    if (*magic != CSMAGIC_EMBEDDED_SIGNATURE)
        return fail("code signature has the wrong magic " + hexNumber(*magic) + " (no embedded signature)");
    if (*length < 12 || *length > r.size()) return fail("code signature length extends past its load command's data");
    r = ByteReader(superBlob.first(*length));
    const std::uint64_t indexEnd = 12 + std::uint64_t(*count) * 8;
    if (indexEnd > r.size())
        return fail("code signature index of " + std::to_string(*count) + " entries does not fit in its " +
                    std::to_string(*length) + " bytes");

    EmbeddedSignature sig;
    sig.length = *length;
    sig.index.reserve(*count);  // bounded above: count * 8 <= length
    std::set<std::uint32_t> seenTypes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    ByteCursor entries(r, 12);
    for (std::uint32_t i = 0; i < *count; ++i) {
        BlobIndexEntry e;
        e.type = entries.u32be();
        e.offset = entries.u32be();
        if (!entries)
            return fail("code signature index of " + std::to_string(*count) + " entries does not fit in its " +
                        std::to_string(*length) + " bytes");
        const std::string which = "blob " + std::to_string(i) + " (slot " + hexNumber(e.type) + ")";
        if (!seenTypes.insert(e.type).second) return fail("code signature lists slot " + hexNumber(e.type) + " twice");
        if (e.offset < indexEnd) return fail("code signature " + which + " overlaps the SuperBlob's index");
        auto m = r.u32be(e.offset);
        auto l = r.u32be(std::uint64_t(e.offset) + 4);
        if (!m || !l) return fail("code signature " + which + " starts past the SuperBlob's end");
        if (*l < 8 || !r.contains(e.offset, *l))
            return fail("code signature " + which + " extends past the SuperBlob's end");
        e.magic = *m;
        e.length = *l;
        ranges.emplace_back(e.offset, std::uint64_t(e.offset) + e.length);
        sig.index.push_back(e);
    }
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second) return fail("code signature blobs overlap");

    std::vector<BlobIndexEntry> sorted = sig.index;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.type < b.type; });
    for (const auto& e : sorted) {
        auto cut = r.bytes(e.offset, e.length);
        if (!cut) return fail("code signature blob (slot " + hexNumber(e.type) + ") extends past the SuperBlob's end");
        const ByteSpan blob = *cut;
        auto expectMagic = [&](std::uint32_t want, const char* what) -> Status {
            if (e.magic != want)
                return fail(std::string("code signature ") + what + " blob has the wrong magic " + hexNumber(e.magic));
            return Ok{};
        };
        if (e.type == CSSLOT_CODEDIRECTORY ||
            (e.type >= CSSLOT_ALTERNATE_CODEDIRECTORIES && e.type < CSSLOT_ALTERNATE_CODEDIRECTORY_LIMIT)) {
            auto cd = parseCodeDirectory(blob, e.type);
            if (!cd) return fail(cd.error());
            sig.codeDirectories.push_back(std::move(*cd));
        } else if (e.type == CSSLOT_REQUIREMENTS) {
            if (auto s = expectMagic(CSMAGIC_REQUIREMENTS, "requirements"); !s) return fail(s.error());
            ByteReader req(blob);
            auto n = req.u32be(8);
            if (!n || 12 + std::uint64_t(*n) * 8 > req.size())
                return fail("code signature requirements count does not fit in its blob");
            for (std::uint32_t k = 0; k < *n; ++k) {
                auto off = req.u32be(16 + std::uint64_t(k) * 8);
                auto rm = off ? req.u32be(*off) : std::nullopt;
                auto rl = off ? req.u32be(std::uint64_t(*off) + 4) : std::nullopt;
                if (!rm || !rl || *rm != CSMAGIC_REQUIREMENT || *off < 12 + std::uint64_t(*n) * 8 ||
                    !req.contains(*off, *rl))
                    return fail("code signature requirement " + std::to_string(k) + " is malformed");
            }
            sig.requirements = blob;
            sig.requirementsCount = *n;
        } else if (e.type == CSSLOT_ENTITLEMENTS) {
            if (auto s = expectMagic(CSMAGIC_EMBEDDED_ENTITLEMENTS, "entitlements"); !s) return fail(s.error());
            sig.entitlements = blob;
        } else if (e.type == CSSLOT_DER_ENTITLEMENTS) {
            if (auto s = expectMagic(CSMAGIC_EMBEDDED_DER_ENTITLEMENTS, "DER entitlements"); !s) return fail(s.error());
            sig.entitlementsDer = blob;
        } else if (e.type == CSSLOT_SIGNATURESLOT) {
            if (auto s = expectMagic(CSMAGIC_BLOBWRAPPER, "signature"); !s) return fail(s.error());
            sig.cms = blob.subspan(8);
        } else if (e.type == CSSLOT_TICKETSLOT) {
            // Stapled after signing, wrapped as the CMS signature is (EmbeddedSignatureBlob::component).
            if (auto s = expectMagic(CSMAGIC_BLOBWRAPPER, "ticket"); !s) return fail(s.error());
            sig.ticket = blob.subspan(8);
        }
        // Other slots (identification, application-specific) are kept in the index only.
    }
    if (sig.codeDirectories.empty() || sig.codeDirectories.front().slot != CSSLOT_CODEDIRECTORY)
        return fail("code signature has no code directory");
    return sig;
}

Result<std::optional<SignatureLocation>> findCodeSignature(ByteSpan fileBytes, const MachOSlice& slice) {
    auto commands = parseLoadCommands(fileBytes, slice);
    if (!commands) return fail(commands.error());
    ByteReader file(fileBytes);
    auto sliceReader = file.sub(slice.offset, slice.size);
    if (!sliceReader) return fail("Mach-O slice extends past the end of the file");
    std::optional<SignatureLocation> found;
    for (const auto& c : *commands) {
        if (c.cmd != LC_CODE_SIGNATURE) continue;
        if (found) return fail("Mach-O slice has more than one LC_CODE_SIGNATURE");
        if (c.cmdsize < 16) return fail("LC_CODE_SIGNATURE command is shorter than 16 bytes");
        auto off = sliceReader->u32(c.offset + 8, slice.bigEndian);
        auto size = sliceReader->u32(c.offset + 12, slice.bigEndian);
        if (!off || !size) return fail("LC_CODE_SIGNATURE command extends past its slice");
        if (!sliceReader->contains(*off, *size))
            return fail("LC_CODE_SIGNATURE data (offset plus size) extends past the end of its slice");
        found = SignatureLocation{*off, *size};
    }
    return found;
}

}  // namespace tessarin
