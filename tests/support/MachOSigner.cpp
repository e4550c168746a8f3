// Writes real embedded signatures and bundle seals for tests, independently of the verifier's code
// paths where it matters (layout and hashing are done here from the format's rules).
#include "MachOSigner.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "MachOBuilder.h"
#include "RequirementBuilder.h"
#include "TempDir.h"
#include "codesign/CodeSignature.h"
#include "macho/MachO.h"
#include "plist/Plist.h"

namespace fs = std::filesystem;

namespace tessarin::test {

namespace {

void be32(Bytes& b, std::size_t at, std::uint32_t v) { putU32(b, at, v, true); }
void be64(Bytes& b, std::size_t at, std::uint64_t v) { putU64(b, at, v, true); }
void append32(Bytes& b, std::uint32_t v) { be32(b, b.size(), v); }

ByteSpan span(const Bytes& b) { return {reinterpret_cast<const std::byte*>(b.data()), b.size()}; }

std::uint32_t cdHeaderSize(std::uint32_t version) {
    if (version >= 0x20600) return 108;
    if (version >= 0x20500) return 96;
    if (version >= 0x20400) return 88;
    if (version >= 0x20300) return 64;
    if (version >= 0x20200) return 52;
    if (version >= 0x20100) return 48;
    return 44;
}

Bytes blob(std::uint32_t magic, const Bytes& payload) {
    Bytes b;
    append32(b, magic);
    append32(b, static_cast<std::uint32_t>(payload.size() + 8));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// A designated requirement of `identifier "..."`, as a signer writes one, or an empty set.
Bytes requirementsBlob(const std::string& identifier, bool designated) {
    if (!designated) return RequirementBuilder::set({});
    return RequirementBuilder::set(
        {{kSecDesignatedRequirementType, RequirementBuilder().ident(identifier).requirement()}});
}

struct CdPlan {
    std::uint8_t hashType;
    std::uint32_t slot;
};

std::uint32_t cdLength(const SignOptions& o, std::uint8_t hashType, std::uint32_t nSpecial, std::uint32_t nCode) {
    std::uint32_t n = cdHeaderSize(o.version) + static_cast<std::uint32_t>(o.identifier.size()) + 1;
    if (!o.teamId.empty() && o.version >= 0x20200) n += static_cast<std::uint32_t>(o.teamId.size()) + 1;
    return n + (nSpecial + nCode) * hashTypeLength(hashType);
}

Bytes buildCodeDirectory(const SignOptions& o, std::uint8_t hashType, const Bytes& image, std::uint64_t codeLimit,
                         const std::map<std::uint32_t, Bytes>& specials, std::uint32_t nSpecial, std::uint64_t textSize,
                         bool mainBinary, std::uint32_t flags) {
    const std::uint32_t hs = hashTypeLength(hashType);
    // Page size 0: one hash over all the code.
    const std::uint64_t page = o.pageSizeLog2 ? 1ull << o.pageSizeLog2 : std::max<std::uint64_t>(codeLimit, 1);
    const std::uint32_t nCode = static_cast<std::uint32_t>((codeLimit + page - 1) / page);
    Bytes cd(cdHeaderSize(o.version), 0);
    const std::uint32_t identOffset = static_cast<std::uint32_t>(cd.size());
    cd.insert(cd.end(), o.identifier.begin(), o.identifier.end());
    cd.push_back(0);
    std::uint32_t teamOffset = 0;
    if (!o.teamId.empty() && o.version >= 0x20200) {
        teamOffset = static_cast<std::uint32_t>(cd.size());
        cd.insert(cd.end(), o.teamId.begin(), o.teamId.end());
        cd.push_back(0);
    }
    const std::uint32_t hashOffset = static_cast<std::uint32_t>(cd.size()) + nSpecial * hs;
    cd.resize(hashOffset + nCode * hs, 0);
    for (std::uint32_t k = 1; k <= nSpecial; ++k) {
        auto it = specials.find(k);
        if (it == specials.end()) continue;
        auto d = codeSignatureDigest(hashType, span(it->second));
        std::memcpy(&cd[hashOffset - k * hs], d.data(), hs);
    }
    for (std::uint32_t i = 0; i < nCode; ++i) {
        const std::uint64_t start = i * page, end = std::min<std::uint64_t>(start + page, codeLimit);
        auto d = codeSignatureDigest(hashType, span(image).subspan(start, end - start));
        std::memcpy(&cd[hashOffset + i * hs], d.data(), hs);
    }
    be32(cd, 0, CSMAGIC_CODEDIRECTORY);
    be32(cd, 4, static_cast<std::uint32_t>(cd.size()));
    be32(cd, 8, o.version);
    be32(cd, 12, flags);
    be32(cd, 16, hashOffset);
    be32(cd, 20, identOffset);
    be32(cd, 24, nSpecial);
    be32(cd, 28, nCode);
    be32(cd, 32, static_cast<std::uint32_t>(codeLimit));
    cd[36] = static_cast<std::uint8_t>(hs);
    cd[37] = hashType;
    cd[38] = 0;
    cd[39] = o.pageSizeLog2;
    if (o.version >= 0x20200) be32(cd, 48, teamOffset);
    if (o.version >= 0x20400) {
        be64(cd, 64, 0);
        be64(cd, 72, textSize);
        be64(cd, 80, mainBinary ? CS_EXECSEG_MAIN_BINARY : 0);
    }
    if (o.version >= 0x20500) be32(cd, 88, o.runtime);
    return cd;
}

std::uint64_t align(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

}  // namespace

Bytes assembleSuperBlob(std::vector<std::pair<std::uint32_t, Bytes>> blobs) {
    std::sort(blobs.begin(), blobs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Bytes super;
    append32(super, CSMAGIC_EMBEDDED_SIGNATURE);
    append32(super, 0);
    append32(super, static_cast<std::uint32_t>(blobs.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(12 + 8 * blobs.size());
    for (const auto& b : blobs) {
        append32(super, b.first);
        append32(super, offset);
        offset += static_cast<std::uint32_t>(b.second.size());
    }
    for (const auto& b : blobs) super.insert(super.end(), b.second.begin(), b.second.end());
    be32(super, 4, static_cast<std::uint32_t>(super.size()));
    return super;
}

Bytes wrapperBlob(const Bytes& payload) { return blob(CSMAGIC_BLOBWRAPPER, payload); }

Bytes signatureOver(const Bytes& code, std::uint64_t codeLimit, std::map<std::uint32_t, Bytes> specials,
                    const SignOptions& o) {
    const bool adhoc = !o.cms;
    const std::uint32_t flags = o.flags | (adhoc ? CS_ADHOC : 0);
    const Bytes req = o.requirements ? *o.requirements : requirementsBlob(o.identifier, o.designatedRequirement);
    specials[CSSLOT_REQUIREMENTS] = req;
    const std::uint32_t nSpecial = specials.rbegin()->first;
    std::vector<std::uint8_t> types{CS_HASHTYPE_SHA256};
    if (o.sha1Primary) types.insert(types.begin(), CS_HASHTYPE_SHA1);
    std::vector<std::pair<std::uint32_t, Bytes>> blobs{{CSSLOT_REQUIREMENTS, req}};
    std::vector<Bytes> cdhashes;
    for (std::size_t i = 0; i < types.size(); ++i) {
        Bytes cd = buildCodeDirectory(o, types[i], code, codeLimit, specials, nSpecial, 0, false, flags);
        auto h = codeSignatureDigest(types[i], span(cd));
        h.resize(CS_CDHASH_LEN);
        cdhashes.push_back(h);
        blobs.emplace_back(i == 0 ? CSSLOT_CODEDIRECTORY : CSSLOT_ALTERNATE_CODEDIRECTORIES + std::uint32_t(i - 1),
                           std::move(cd));
    }
    blobs.emplace_back(CSSLOT_SIGNATURESLOT, wrapperBlob(adhoc ? Bytes{} : o.cms(blobs[1].second, cdhashes)));
    return assembleSuperBlob(std::move(blobs));
}

Bytes signMachO(Bytes image, const SignOptions& o) {
    if (image.size() < 32) throw std::invalid_argument("image too small to sign");
    const std::uint32_t magicLE = image[0] | image[1] << 8 | image[2] << 16 | std::uint32_t(image[3]) << 24;
    const bool bigEndian = magicLE == 0xcefaedfe || magicLE == 0xcffaedfe;
    const bool is64 = magicLE == 0xfeedfacf || magicLE == 0xcffaedfe;
    auto get32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t(image[at + i]) << (bigEndian ? (3 - i) * 8 : i * 8);
        return v;
    };
    const std::size_t header = is64 ? 32 : 28;
    const std::uint32_t filetype = get32(12);
    const std::uint32_t ncmds = get32(16);
    const std::uint32_t sizeofcmds = get32(20);
    const std::size_t segSize = is64 ? 72 : 56;
    const std::size_t cmdsEnd = header + sizeofcmds;
    if (cmdsEnd + segSize + 16 > image.size()) throw std::invalid_argument("no room for load commands");
    const std::uint64_t textSize = image.size();
    const std::uint64_t sigOffset = align(image.size(), 16);
    image.resize(sigOffset, 0);

    const bool adhoc = !o.cms;
    std::uint32_t flags = o.flags | (adhoc ? CS_ADHOC : 0) | (o.linkerSigned ? CS_LINKER_SIGNED | CS_ADHOC : 0);

    // Blobs other than the CodeDirectories, and the special slots they fill.
    std::map<std::uint32_t, Bytes> specials;
    std::vector<std::pair<std::uint32_t, Bytes>> others;
    if (!o.linkerSigned) {
        Bytes req = o.requirements ? *o.requirements : requirementsBlob(o.identifier, o.designatedRequirement);
        specials[CSSLOT_REQUIREMENTS] = req;
        others.emplace_back(CSSLOT_REQUIREMENTS, req);
    }
    if (o.entitlementsXml) {
        Bytes e = blob(CSMAGIC_EMBEDDED_ENTITLEMENTS, Bytes(o.entitlementsXml->begin(), o.entitlementsXml->end()));
        specials[CSSLOT_ENTITLEMENTS] = e;
        others.emplace_back(CSSLOT_ENTITLEMENTS, e);
    }
    if (o.entitlementsDer) {
        Bytes e = blob(CSMAGIC_EMBEDDED_DER_ENTITLEMENTS, *o.entitlementsDer);
        specials[CSSLOT_DER_ENTITLEMENTS] = e;
        others.emplace_back(CSSLOT_DER_ENTITLEMENTS, e);
    }
    if (o.infoPlist) specials[CSSLOT_INFOSLOT] = *o.infoPlist;
    if (o.codeResources) specials[CSSLOT_RESOURCEDIR] = *o.codeResources;
    const std::uint32_t nSpecial = specials.empty() ? 0 : specials.rbegin()->first;

    std::vector<CdPlan> plans;
    if (o.sha1Primary && !o.linkerSigned) {
        plans.push_back({CS_HASHTYPE_SHA1, CSSLOT_CODEDIRECTORY});
        plans.push_back({CS_HASHTYPE_SHA256, CSSLOT_ALTERNATE_CODEDIRECTORIES});
    } else {
        plans.push_back({CS_HASHTYPE_SHA256, CSSLOT_CODEDIRECTORY});
    }

    // The signature's size is part of page 0 (in the load commands), so it is reserved first.
    const std::uint64_t page = o.pageSizeLog2 ? 1ull << o.pageSizeLog2 : std::max<std::uint64_t>(sigOffset, 1);
    const std::uint32_t nCode = static_cast<std::uint32_t>((sigOffset + page - 1) / page);
    std::size_t count = plans.size() + others.size() + (o.linkerSigned ? 0 : 1);
    std::uint64_t reserve = 12 + 8 * count;
    for (const auto& p : plans) reserve += cdLength(o, p.hashType, nSpecial, nCode);
    for (const auto& b : others) reserve += b.second.size();
    if (!o.linkerSigned) reserve += 8 + (adhoc ? 0 : 18000);
    reserve = align(reserve, 16);

    // Load commands: __LINKEDIT over the signature, then LC_CODE_SIGNATURE.
    std::size_t c = cmdsEnd;
    putU32(image, c, is64 ? 0x19 : 0x1, bigEndian);
    putU32(image, c + 4, static_cast<std::uint32_t>(segSize), bigEndian);
    std::memcpy(&image[c + 8], "__LINKEDIT", 10);
    const std::uint64_t vmaddr = align(sigOffset, 0x4000);
    if (is64) {
        putU64(image, c + 24, vmaddr, bigEndian);
        putU64(image, c + 32, align(reserve, 0x4000), bigEndian);
        putU64(image, c + 40, sigOffset, bigEndian);
        putU64(image, c + 48, reserve, bigEndian);
        putU32(image, c + 56, 1, bigEndian);
        putU32(image, c + 60, 1, bigEndian);
    } else {
        putU32(image, c + 24, static_cast<std::uint32_t>(vmaddr), bigEndian);
        putU32(image, c + 28, static_cast<std::uint32_t>(align(reserve, 0x4000)), bigEndian);
        putU32(image, c + 32, static_cast<std::uint32_t>(sigOffset), bigEndian);
        putU32(image, c + 36, static_cast<std::uint32_t>(reserve), bigEndian);
        putU32(image, c + 40, 1, bigEndian);
        putU32(image, c + 44, 1, bigEndian);
    }
    c += segSize;
    putU32(image, c, 0x1d, bigEndian);
    putU32(image, c + 4, 16, bigEndian);
    putU32(image, c + 8, static_cast<std::uint32_t>(sigOffset), bigEndian);
    putU32(image, c + 12, static_cast<std::uint32_t>(reserve), bigEndian);
    putU32(image, 16, ncmds + 2, bigEndian);
    putU32(image, 20, static_cast<std::uint32_t>(sizeofcmds + segSize + 16), bigEndian);

    std::vector<std::pair<std::uint32_t, Bytes>> blobs;
    std::vector<Bytes> cdhashes;
    Bytes primary;
    for (const auto& p : plans) {
        Bytes cd =
            buildCodeDirectory(o, p.hashType, image, sigOffset, specials, nSpecial, textSize, filetype == 2, flags);
        auto full = codeSignatureDigest(p.hashType, span(cd));
        full.resize(CS_CDHASH_LEN);
        cdhashes.push_back(full);
        if (p.slot == CSSLOT_CODEDIRECTORY) primary = cd;
        blobs.emplace_back(p.slot, std::move(cd));
    }
    for (auto& b : others) blobs.push_back(std::move(b));
    if (!o.linkerSigned)
        blobs.emplace_back(CSSLOT_SIGNATURESLOT, blob(CSMAGIC_BLOBWRAPPER, adhoc ? Bytes{} : o.cms(primary, cdhashes)));
    std::sort(blobs.begin(), blobs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    Bytes super = assembleSuperBlob(std::move(blobs));
    if (super.size() > reserve) throw std::runtime_error("signature larger than its reserved space");
    super.resize(reserve, 0);
    image.insert(image.end(), super.begin(), super.end());
    return image;
}

Bytes signMachOFile(const Bytes& file, const SignOptions& options) {
    auto parsed = parseMachO(span(file));
    if (!parsed) throw std::invalid_argument("not a Mach-O file: " + parsed.error());
    if (!parsed->fat) return signMachO(file, options);
    std::vector<Bytes> slices;
    std::vector<std::pair<std::int32_t, std::int32_t>> types;
    for (const auto& s : parsed->slices) {
        Bytes slice(file.begin() + static_cast<std::ptrdiff_t>(s.offset),
                    file.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
        slices.push_back(signMachO(std::move(slice), options));
        types.emplace_back(s.cputype, s.cpusubtype);
    }
    return fatMachO(slices, types, parsed->fat64);
}

Bytes sealCdhash(const Bytes& file) {
    auto parsed = parseMachO(span(file));
    if (!parsed || parsed->slices.empty()) throw std::invalid_argument("not a Mach-O file");
    auto loc = findCodeSignature(span(file), parsed->slices[0]);
    if (!loc || !*loc) throw std::invalid_argument("not signed");
    auto sig = parseEmbeddedSignature(span(file).subspan(parsed->slices[0].offset + (*loc)->offset, (*loc)->size));
    if (!sig) throw std::invalid_argument("bad signature: " + sig.error());
    const CodeDirectory* best = &sig->codeDirectories.front();
    for (const auto& cd : sig->codeDirectories)
        if (hashTypeStrength(cd.hashType) > hashTypeStrength(best->hashType)) best = &cd;
    auto h = codeDirectoryHash(*best);
    return Bytes(h.begin(), h.end());
}

std::size_t signatureOffset(const Bytes& file) {
    auto parsed = parseMachO(span(file));
    if (!parsed || parsed->slices.empty()) throw std::invalid_argument("not a Mach-O file");
    auto loc = findCodeSignature(span(file), parsed->slices[0]);
    if (!loc || !*loc) throw std::invalid_argument("not signed");
    return parsed->slices[0].offset + (*loc)->offset;
}

std::size_t blobOffset(const Bytes& file, std::uint32_t slot) {
    const std::size_t base = signatureOffset(file);
    const std::uint32_t count = getU32(file, base + 8, true);
    for (std::uint32_t i = 0; i < count && base + 20 + 8 * i <= file.size(); ++i)
        if (getU32(file, base + 12 + 8 * i, true) == slot) return base + getU32(file, base + 16 + 8 * i, true);
    throw std::invalid_argument("no blob in slot " + std::to_string(slot));
}

std::vector<ResourceRule> defaultRules() {
    return {
        {"^.*", false, false, false, 1},
        {"^Resources/", false, false, false, 1},
        {"^Resources/.*\\.lproj/", false, true, false, 1000},
        {"^Resources/.*\\.lproj/locversion.plist$", true, false, false, 1100},
        {"^Resources/Base\\.lproj/", false, false, false, 1010},
        {"^version.plist$", false, false, false, 1},
    };
}

std::vector<ResourceRule> defaultRules2() {
    return {
        {".*\\.dSYM($|/)", false, false, false, 11},
        {"^(.*/)?\\.DS_Store$", true, false, false, 2000},
        {"^(Frameworks|SharedFrameworks|PlugIns|Plug-ins|XPCServices|Helpers|MacOS|Library/"
         "(Automator|Spotlight|LoginItems))/",
         false, false, true, 10},
        {"^.*", false, false, false, 1},
        {"^Info\\.plist$", true, false, false, 20},
        {"^PkgInfo$", true, false, false, 20},
        {"^Resources/", false, false, false, 20},
        {"^Resources/.*\\.lproj/", false, true, false, 1000},
        {"^Resources/.*\\.lproj/locversion.plist$", true, false, false, 1100},
        {"^Resources/Base\\.lproj/", false, false, false, 1010},
        {"^[^/]+$", false, false, true, 10},
        {"^embedded\\.provisionprofile$", false, false, false, 20},
        {"^version\\.plist$", false, false, false, 20},
    };
}

namespace {

PlistValue rulesPlist(const std::vector<ResourceRule>& rules) {
    PlistDict d;
    for (const auto& r : rules) {
        if (!r.omit && !r.optional && !r.nested && r.weight == 1) {
            d[r.pattern] = PlistValue(true);
            continue;
        }
        PlistDict e;
        if (r.omit) e["omit"] = PlistValue(true);
        if (r.optional) e["optional"] = PlistValue(true);
        if (r.nested) e["nested"] = PlistValue(true);
        if (r.weight != 1) e["weight"] = PlistValue(static_cast<std::int64_t>(r.weight));
        d[r.pattern] = PlistValue(std::move(e));
    }
    return PlistValue(std::move(d));
}

PlistData data(const std::vector<std::uint8_t>& v) { return PlistData{v}; }

bool isMachOFile(const std::string& path) {
    std::string head = readFile(path).substr(0, 4);
    if (head.size() < 4) return false;
    const unsigned char* m = reinterpret_cast<const unsigned char*>(head.data());
    const std::uint32_t be = std::uint32_t(m[0]) << 24 | m[1] << 16 | m[2] << 8 | m[3];
    return be == 0xcafebabe || be == 0xcafebabf || be == 0xcefaedfe || be == 0xcffaedfe || be == 0xfeedface ||
           be == 0xfeedfacf;
}

Bytes fileBytes(const std::string& path) {
    std::string s = readFile(path);
    return Bytes(s.begin(), s.end());
}

struct Layout {
    std::string contentRoot;
    std::string infoPlist;
    bool app = false;
};

std::optional<Layout> layoutOf(const std::string& bundle) {
    std::error_code ec;
    if (fs::exists(bundle + "/Contents/Info.plist", ec))
        return Layout{bundle + "/Contents", bundle + "/Contents/Info.plist", true};
    if (fs::exists(bundle + "/Versions/Current", ec)) {
        std::string root = bundle + "/Versions/" + fs::read_symlink(bundle + "/Versions/Current", ec).string();
        return Layout{root, root + "/Resources/Info.plist", false};
    }
    if (fs::exists(bundle + "/Info.plist", ec)) return Layout{bundle, bundle + "/Info.plist", false};
    return std::nullopt;
}

std::string infoString(const PlistValue& info, const char* key) {
    const PlistValue* v = info.find(key);
    return v && v->string() ? *v->string() : std::string();
}

std::string sealedRequirement(const BundleSignOptions& options, const std::string& rel, const std::string& identifier) {
    auto it = options.nestedRequirements.find(rel);
    return it != options.nestedRequirements.end() ? it->second : "identifier \"" + identifier + "\"";
}

void signBundleAt(const std::string& bundlePath, const BundleSignOptions& options, int depth);

// Writes a signature's parts as files in _CodeSignature, as codesign does for a bundle without code
// (whose code is then its Info.plist, hashed whole) or whose executable carries no signature of its
// own; the alternate SHA-256 CodeDirectory goes into "CodeRequirements-1".
void signSeparately(const std::string& contentRoot, SignOptions o, const Bytes& code, const Bytes& info,
                    const std::string& seal) {
    const bool adhoc = !o.cms;
    const std::uint32_t flags = o.flags | (adhoc ? CS_ADHOC : 0);
    const Bytes req = o.requirements ? *o.requirements : requirementsBlob(o.identifier, o.designatedRequirement);
    std::map<std::uint32_t, Bytes> specials{
        {CSSLOT_INFOSLOT, info}, {CSSLOT_REQUIREMENTS, req}, {CSSLOT_RESOURCEDIR, Bytes(seal.begin(), seal.end())}};
    std::vector<std::uint8_t> types{CS_HASHTYPE_SHA256};
    if (o.sha1Primary) types.insert(types.begin(), CS_HASHTYPE_SHA1);
    std::vector<Bytes> directories, cdhashes;
    for (std::uint8_t type : types) {
        directories.push_back(
            buildCodeDirectory(o, type, code, code.size(), specials, CSSLOT_RESOURCEDIR, 0, false, flags));
        auto h = codeSignatureDigest(type, span(directories.back()));
        h.resize(CS_CDHASH_LEN);
        cdhashes.push_back(h);
    }
    const std::string dir = contentRoot + "/_CodeSignature/";
    writeFile(dir + "CodeDirectory", directories[0]);
    if (directories.size() > 1) writeFile(dir + "CodeRequirements-1", directories[1]);
    writeFile(dir + "CodeRequirements", req);
    writeFile(dir + "CodeSignature", adhoc ? Bytes{} : o.cms(directories[0], cdhashes));
}

// The CDHash a container seals for a bundle signed with files: its strongest (last) CodeDirectory's.
Bytes codelessSealCdhash(const std::string& contentRoot) {
    const std::string dir = contentRoot + "/_CodeSignature/";
    const bool alternate = fs::exists(dir + "CodeRequirements-1");
    Bytes cd = fileBytes(dir + (alternate ? "CodeRequirements-1" : "CodeDirectory"));
    auto parsed = parseCodeDirectory(span(cd), 0);
    if (!parsed) throw std::invalid_argument("no code-less signature in " + contentRoot);
    auto h = codeDirectoryHash(*parsed);
    return Bytes(h.begin(), h.end());
}

void signNestedFile(const std::string& path, const SignOptions& base) {
    SignOptions o = base;
    o.identifier = fs::path(path).filename().string();
    o.infoPlist.reset();
    o.codeResources.reset();
    o.entitlementsXml.reset();
    o.entitlementsDer.reset();
    writeFile(path, signMachOFile(fileBytes(path), o));
}

void signBundleAt(const std::string& bundlePath, const BundleSignOptions& options, int depth) {
    if (depth > 8) throw std::runtime_error("bundles nested too deeply to sign");
    auto layout = layoutOf(bundlePath);
    if (!layout) throw std::invalid_argument("not a bundle: " + bundlePath);
    Bytes infoBytes = fileBytes(layout->infoPlist);
    auto info = parsePlist(span(infoBytes));
    if (!info || !info->dict()) throw std::invalid_argument("no readable Info.plist in " + bundlePath);
    const std::string exeName = infoString(*info, "CFBundleExecutable");
    const std::string exeRel = exeName.empty() ? "" : (layout->app ? "MacOS/" + exeName : exeName);

    auto rules = ResourceRuleSet::compile(options.rules);
    auto rules2 = ResourceRuleSet::compile(options.rules2);
    if (!rules || !rules2) throw std::invalid_argument("bad rules");
    PlistDict files, files2;
    const std::string root = layout->contentRoot;
    std::error_code ec;
    std::vector<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string rel = it->path().lexically_relative(root).generic_string();
        if (it.depth() == 0 && (rel == "_CodeSignature" || rel == "CodeResources")) {
            it.disable_recursion_pending();
            continue;
        }
        if (rel == exeRel) continue;
        const ResourceRule* r2 = rules2->match(rel);
        if (it->is_directory() && !it->is_symlink()) {
            // Only a folder with an extension can be nested code ("Resources" holds an Info.plist too).
            // A bundle without code is sealed as nested code wherever it lies.
            auto nestedLayout = it->path().has_extension() ? layoutOf(it->path().string()) : std::nullopt;
            bool codeless = false;
            if (nestedLayout) {
                auto ni = parsePlist(span(fileBytes(nestedLayout->infoPlist)));
                codeless = ni && infoString(*ni, "CFBundleExecutable").empty();
            }
            if (r2 && !r2->omit && (r2->nested || codeless) && nestedLayout) {
                it.disable_recursion_pending();
                BundleSignOptions inner = options;
                std::string nestedInfo = layoutOf(it->path().string())->infoPlist;
                auto nested = parsePlist(span(fileBytes(nestedInfo)));
                inner.code.identifier = nested ? infoString(*nested, "CFBundleIdentifier") : rel;
                if (inner.code.identifier.empty()) inner.code.identifier = it->path().filename().string();
                inner.code.entitlementsXml.reset();
                inner.code.entitlementsDer.reset();
                if (options.signNested) signBundleAt(it->path().string(), inner, depth + 1);
                auto nl = layoutOf(it->path().string());
                auto ni = parsePlist(span(fileBytes(nl->infoPlist)));
                std::string nexe = ni ? infoString(*ni, "CFBundleExecutable") : "";
                std::string nexePath = nl->contentRoot + (nl->app ? "/MacOS/" : "/") + nexe;
                PlistDict e;
                // A bundle signed with files in _CodeSignature is sealed by the signature they hold.
                const bool files = fs::exists(nl->contentRoot + "/_CodeSignature/CodeDirectory");
                e["cdhash"] = data(files ? codelessSealCdhash(nl->contentRoot) : sealCdhash(fileBytes(nexePath)));
                e["requirement"] = PlistValue(sealedRequirement(options, rel, inner.code.identifier));
                files2[rel] = PlistValue(std::move(e));
            }
            continue;
        }
        paths.push_back(rel);
    }
    for (const auto& rel : paths) {
        const std::string abs = root + "/" + rel;
        const ResourceRule* r1 = rules->match(rel);
        const ResourceRule* r2 = rules2->match(rel);
        const bool link = fs::is_symlink(abs);
        if (r2 && !r2->omit) {
            PlistDict e;
            if (link) {
                e["symlink"] = PlistValue(fs::read_symlink(abs).string());
            } else if (r2->nested && isMachOFile(abs)) {
                if (options.signNested) signNestedFile(abs, options.code);
                e["cdhash"] = data(sealCdhash(fileBytes(abs)));
                e["requirement"] = PlistValue(sealedRequirement(options, rel, fs::path(abs).filename().string()));
            } else {
                Bytes b = fileBytes(abs);
                e["hash"] = data(codeSignatureDigest(CS_HASHTYPE_SHA1, span(b)));
                e["hash2"] = data(codeSignatureDigest(CS_HASHTYPE_SHA256, span(b)));
                if (r2->optional) e["optional"] = PlistValue(true);
            }
            files2[rel] = PlistValue(std::move(e));
        }
        if (r1 && !r1->omit) {
            // The first generation hashes a link's target text.
            std::string target = link ? fs::read_symlink(abs).string() : std::string();
            Bytes b = link ? Bytes(target.begin(), target.end()) : fileBytes(abs);
            auto h = data(codeSignatureDigest(CS_HASHTYPE_SHA1, span(b)));
            if (r1->optional) {
                PlistDict e;
                e["hash"] = h;
                e["optional"] = PlistValue(true);
                files[rel] = PlistValue(std::move(e));
            } else {
                files[rel] = PlistValue(h);
            }
        }
    }
    PlistDict seal;
    seal["files"] = PlistValue(std::move(files));
    seal["rules"] = rulesPlist(options.rules);
    if (!options.version1Only) {
        seal["files2"] = PlistValue(std::move(files2));
        seal["rules2"] = rulesPlist(options.rules2);
    }
    std::string xml = toXmlPlist(PlistValue(std::move(seal)));
    writeFile(root + "/_CodeSignature/CodeResources", xml);

    if (exeRel.empty()) {
        SignOptions code = options.code;
        code.pageSizeLog2 = 0;
        signSeparately(root, code, infoBytes, infoBytes, xml);
        return;
    }
    SignOptions code = options.code;
    code.infoPlist = infoBytes;
    code.codeResources = Bytes(xml.begin(), xml.end());
    const std::string exePath = root + "/" + exeRel;
    if (options.separateSignature)
        signSeparately(root, options.code, fileBytes(exePath), infoBytes, xml);
    else
        writeFile(exePath, signMachOFile(fileBytes(exePath), code));
    ::chmod(exePath.c_str(), 0755);
}

}  // namespace

void signBundle(const std::string& bundlePath, const BundleSignOptions& options) {
    signBundleAt(bundlePath, options, 0);
}

}  // namespace tessarin::test
