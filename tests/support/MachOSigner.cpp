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

void append32(Bytes& b, std::uint32_t v) { putU32(b, b.size(), v, true); }

ByteSpan span(const Bytes& b) { return {reinterpret_cast<const std::byte*>(b.data()), b.size()}; }

std::uint64_t align(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

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

// The requirements set given, else a designated requirement of `identifier "..."` as a signer writes
// one, or an empty set.
Bytes requirementsOf(const SignOptions& o) {
    if (o.requirements) return *o.requirements;
    if (!o.designatedRequirement) return RequirementBuilder::set({});
    return RequirementBuilder::set(
        {{kSecDesignatedRequirementType, RequirementBuilder().ident(o.identifier).requirement()}});
}

// The code a CodeDirectory hashes, [0, limit) of `bytes`, and what it says of a Mach-O's text.
struct Code {
    const Bytes& bytes;
    std::uint64_t limit;
    std::uint64_t textSize = 0;
    bool mainBinary = false;
};

Bytes buildCodeDirectory(const SignOptions& o, std::uint8_t hashType, const Code& code,
                         const std::map<std::uint32_t, Bytes>& specials) {
    const std::uint32_t flags =
        o.flags | (o.cms && !o.linkerSigned ? 0 : CS_ADHOC) | (o.linkerSigned ? CS_LINKER_SIGNED : 0);
    const std::uint32_t nSpecial = specials.empty() ? 0 : specials.rbegin()->first;
    const std::uint32_t hs = hashTypeLength(hashType);
    // Page size 0: one hash over all the code.
    const std::uint64_t page = o.pageSizeLog2 ? 1ull << o.pageSizeLog2 : std::max<std::uint64_t>(code.limit, 1);
    const std::uint32_t nCode = static_cast<std::uint32_t>((code.limit + page - 1) / page);
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
    for (const auto& [slot, bytes] : specials) {
        auto d = codeSignatureDigest(hashType, span(bytes));
        std::memcpy(&cd[hashOffset - slot * hs], d.data(), hs);
    }
    for (std::uint32_t i = 0; i < nCode; ++i) {
        const std::uint64_t start = i * page, end = std::min<std::uint64_t>(start + page, code.limit);
        auto d = codeSignatureDigest(hashType, span(code.bytes).subspan(start, end - start));
        std::memcpy(&cd[hashOffset + i * hs], d.data(), hs);
    }
    std::size_t at = 0;
    for (std::uint32_t v : {CSMAGIC_CODEDIRECTORY, static_cast<std::uint32_t>(cd.size()), o.version, flags, hashOffset,
                            identOffset, nSpecial, nCode, static_cast<std::uint32_t>(code.limit)}) {
        putU32(cd, at, v, true);
        at += 4;
    }
    cd[36] = static_cast<std::uint8_t>(hs);
    cd[37] = hashType;
    cd[39] = o.pageSizeLog2;
    if (o.version >= 0x20200) putU32(cd, 48, teamOffset, true);
    if (o.version >= 0x20400) {
        putU64(cd, 72, code.textSize, true);
        putU64(cd, 80, code.mainBinary ? CS_EXECSEG_MAIN_BINARY : 0, true);
    }
    if (o.version >= 0x20500) putU32(cd, 88, o.runtime, true);
    return cd;
}

// The CodeDirectories, primary first (SHA-1 with a SHA-256 alternate, or SHA-256 alone), and their
// CDHashes as the CMS signature lists them.
struct Directories {
    std::vector<Bytes> cds, cdhashes;
};

Directories directoriesOf(const SignOptions& o, const Code& code, const std::map<std::uint32_t, Bytes>& specials) {
    std::vector<std::uint8_t> types{CS_HASHTYPE_SHA256};
    if (o.sha1Primary && !o.linkerSigned) types.insert(types.begin(), CS_HASHTYPE_SHA1);
    Directories d;
    for (std::uint8_t type : types) {
        d.cds.push_back(buildCodeDirectory(o, type, code, specials));
        d.cdhashes.push_back(codeSignatureDigest(type, span(d.cds.back())));
        d.cdhashes.back().resize(CS_CDHASH_LEN);
    }
    return d;
}

// The CMS signature over the primary CodeDirectory; nothing for ad hoc code.
Bytes cmsOf(const SignOptions& o, const Directories& d) { return o.cms ? o.cms(d.cds[0], d.cdhashes) : Bytes{}; }

// `blobs` with the CodeDirectories and the signature's wrapper (none when linker-signed) as a SuperBlob.
Bytes superBlobOf(const SignOptions& o, const Directories& d, std::vector<std::pair<std::uint32_t, Bytes>> blobs) {
    for (std::size_t i = 0; i < d.cds.size(); ++i)
        blobs.emplace_back(i == 0 ? CSSLOT_CODEDIRECTORY : CSSLOT_ALTERNATE_CODEDIRECTORIES + std::uint32_t(i - 1),
                           d.cds[i]);
    if (!o.linkerSigned) blobs.emplace_back(CSSLOT_SIGNATURESLOT, wrapperBlob(cmsOf(o, d)));
    return assembleSuperBlob(std::move(blobs));
}

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
    putU32(super, 4, static_cast<std::uint32_t>(super.size()), true);
    return super;
}

Bytes wrapperBlob(const Bytes& payload) { return blob(CSMAGIC_BLOBWRAPPER, payload); }

Bytes signatureOver(const Bytes& code, std::uint64_t codeLimit, std::map<std::uint32_t, Bytes> specials,
                    const SignOptions& o) {
    const Bytes req = requirementsOf(o);
    specials[CSSLOT_REQUIREMENTS] = req;
    return superBlobOf(o, directoriesOf(o, {code, codeLimit}, specials), {{CSSLOT_REQUIREMENTS, req}});
}

Bytes signMachO(Bytes image, const SignOptions& o) {
    if (image.size() < 32) throw std::invalid_argument("image too small to sign");
    const std::uint32_t magic = getU32(image, 0, false);
    const bool bigEndian = magic == 0xcefaedfe || magic == 0xcffaedfe;
    const bool is64 = magic == 0xfeedfacf || magic == 0xcffaedfe;
    const std::uint32_t ncmds = getU32(image, 16, bigEndian), sizeofcmds = getU32(image, 20, bigEndian);
    const std::size_t segSize = is64 ? 72 : 56;
    std::size_t c = (is64 ? 32 : 28) + sizeofcmds;
    if (c + segSize + 16 > image.size()) throw std::invalid_argument("no room for load commands");
    const Code code{image, align(image.size(), 16), image.size(), getU32(image, 12, bigEndian) == 2};
    image.resize(code.limit, 0);

    // Blobs other than the CodeDirectories, and the special slots they fill.
    std::map<std::uint32_t, Bytes> specials;
    std::vector<std::pair<std::uint32_t, Bytes>> others;
    auto add = [&](std::uint32_t slot, const Bytes& b) {
        specials[slot] = b;
        others.emplace_back(slot, b);
    };
    if (!o.linkerSigned) add(CSSLOT_REQUIREMENTS, requirementsOf(o));
    if (o.entitlementsXml)
        add(CSSLOT_ENTITLEMENTS,
            blob(CSMAGIC_EMBEDDED_ENTITLEMENTS, Bytes(o.entitlementsXml->begin(), o.entitlementsXml->end())));
    if (o.entitlementsDer) add(CSSLOT_DER_ENTITLEMENTS, blob(CSMAGIC_EMBEDDED_DER_ENTITLEMENTS, *o.entitlementsDer));
    if (o.infoPlist) specials[CSSLOT_INFOSLOT] = *o.infoPlist;
    if (o.codeResources) specials[CSSLOT_RESOURCEDIR] = *o.codeResources;

    // The signature's size is part of page 0 (in the load commands), so it is reserved first: what an
    // ad hoc signature takes, and room for a CMS signature.
    SignOptions adhoc = o;
    adhoc.cms = nullptr;
    const std::uint64_t adhocSize = superBlobOf(adhoc, directoriesOf(adhoc, code, specials), others).size();
    const std::uint64_t reserve = align(adhocSize + (o.cms && !o.linkerSigned ? 18000 : 0), 16);

    // Load commands: __LINKEDIT over the signature, then LC_CODE_SIGNATURE.
    putSegment(image, c, "__LINKEDIT", {align(code.limit, 0x4000), align(reserve, 0x4000), code.limit, reserve}, 1,
               is64, bigEndian);
    c += segSize;
    for (std::uint32_t v : {0x1du, 16u, static_cast<std::uint32_t>(code.limit), static_cast<std::uint32_t>(reserve)}) {
        putU32(image, c, v, bigEndian);
        c += 4;
    }
    putU32(image, 16, ncmds + 2, bigEndian);
    putU32(image, 20, static_cast<std::uint32_t>(sizeofcmds + segSize + 16), bigEndian);

    Bytes super = superBlobOf(o, directoriesOf(o, code, specials), std::move(others));
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
    auto sig = parseEmbeddedSignature(span(file).subspan(signatureOffset(file)));
    if (!sig) throw std::invalid_argument("bad signature: " + sig.error());
    const CodeDirectory* best = &sig->codeDirectories.front();
    for (const auto& cd : sig->codeDirectories)
        if (hashTypeStrength(cd.hashType) > hashTypeStrength(best->hashType)) best = &cd;
    return codeDirectoryHash(*best);
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

Bytes fileBytes(const std::string& path) {
    std::string s = readFile(path);
    return Bytes(s.begin(), s.end());
}

bool isMachOFile(const std::string& path) {
    const Bytes head = fileBytes(path);
    if (head.size() < 4) return false;
    const std::uint32_t m = getU32(head, 0, true);
    return m == 0xcafebabe || m == 0xcafebabf || m == 0xcefaedfe || m == 0xcffaedfe || m == 0xfeedface ||
           m == 0xfeedfacf;
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
void signSeparately(const std::string& contentRoot, const SignOptions& o, const Bytes& code, const Bytes& info,
                    const std::string& seal) {
    const Bytes req = requirementsOf(o);
    const Directories d = directoriesOf(
        o, {code, code.size()},
        {{CSSLOT_INFOSLOT, info}, {CSSLOT_REQUIREMENTS, req}, {CSSLOT_RESOURCEDIR, Bytes(seal.begin(), seal.end())}});
    const std::string dir = contentRoot + "/_CodeSignature/";
    writeFile(dir + "CodeDirectory", d.cds[0]);
    if (d.cds.size() > 1) writeFile(dir + "CodeRequirements-1", d.cds[1]);
    writeFile(dir + "CodeRequirements", req);
    writeFile(dir + "CodeSignature", cmsOf(o, d));
}

// The CDHash a container seals for a bundle signed with files: its strongest (last) CodeDirectory's.
Bytes codelessSealCdhash(const std::string& contentRoot) {
    const std::string dir = contentRoot + "/_CodeSignature/";
    const bool alternate = fs::exists(dir + "CodeRequirements-1");
    Bytes cd = fileBytes(dir + (alternate ? "CodeRequirements-1" : "CodeDirectory"));
    auto parsed = parseCodeDirectory(span(cd), 0);
    if (!parsed) throw std::invalid_argument("no code-less signature in " + contentRoot);
    return codeDirectoryHash(*parsed);
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
            auto nested = it->path().has_extension() ? layoutOf(it->path().string()) : std::nullopt;
            if (!nested) continue;
            auto ni = parsePlist(span(fileBytes(nested->infoPlist)));
            const std::string nexe = ni ? infoString(*ni, "CFBundleExecutable") : "";
            if (!r2 || r2->omit || !(r2->nested || (ni && nexe.empty()))) continue;
            it.disable_recursion_pending();
            BundleSignOptions inner = options;
            inner.code.identifier = ni ? infoString(*ni, "CFBundleIdentifier") : rel;
            if (inner.code.identifier.empty()) inner.code.identifier = it->path().filename().string();
            inner.code.entitlementsXml.reset();
            inner.code.entitlementsDer.reset();
            if (options.signNested) signBundleAt(it->path().string(), inner, depth + 1);
            // A bundle signed with files in _CodeSignature is sealed by the signature they hold.
            const std::string& nroot = nested->contentRoot;
            PlistDict e;
            e["cdhash"] = data(fs::exists(nroot + "/_CodeSignature/CodeDirectory")
                                   ? codelessSealCdhash(nroot)
                                   : sealCdhash(fileBytes(nroot + (nested->app ? "/MacOS/" : "/") + nexe)));
            e["requirement"] = PlistValue(sealedRequirement(options, rel, inner.code.identifier));
            files2[rel] = PlistValue(std::move(e));
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
            const PlistValue h(data(codeSignatureDigest(CS_HASHTYPE_SHA1, span(b))));
            files[rel] = r1->optional ? PlistValue(PlistDict{{"hash", h}, {"optional", PlistValue(true)}}) : h;
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

    SignOptions code = options.code;
    if (exeRel.empty()) {
        code.pageSizeLog2 = 0;
        signSeparately(root, code, infoBytes, infoBytes, xml);
        return;
    }
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
