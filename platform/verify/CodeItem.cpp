// Turns a verification's result into the code item tree: kinds by place and extension, the signer's
// chain, the entitlements decoded.
#include "verify/CodeItem.h"

#include <algorithm>
#include <array>
#include <filesystem>

#include "codesign/CodeSignatureConstants.h"
#include "codesign/DerEntitlements.h"

namespace fs = std::filesystem;

namespace tessarin {
namespace {

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

bool plugInExtension(const std::string& ext) {
    static const std::array<const char*, 8> kinds = {".appex",      ".plugin", ".bundle",   ".qlgenerator",
                                                     ".mdimporter", ".saver",  ".prefPane", ".kext"};
    return std::any_of(kinds.begin(), kinds.end(), [&](const char* k) { return ext == k; });
}

// Where a bundle lies says what it is to its container: the folders Apple's templates put helpers in.
CodeItemKind nestedBundleKind(const std::string& relative, const std::string& ext) {
    if (ext == ".xpc") return CodeItemKind::XpcService;
    if (contains(relative, "Library/LoginItems/")) return CodeItemKind::LoginItem;
    if (contains(relative, "Library/SystemExtensions/")) return CodeItemKind::SystemExtension;
    if (ext == ".app")
        return contains(relative, "Helpers/") || contains(relative, "Library/LaunchServices/")
                   ? CodeItemKind::HelperApp
                   : CodeItemKind::NestedApp;
    if (ext == ".framework") return CodeItemKind::Framework;
    if (plugInExtension(ext)) return CodeItemKind::PlugIn;
    return CodeItemKind::OtherBundle;
}

CodeItemKind kindOf(const CodeVerdict& v, const std::string& relative) {
    const std::string ext = fs::path(v.path).extension().string();
    const bool nested = !relative.empty();
    switch (v.kind) {
    case CodeKind::MachO:
        if (!nested) return CodeItemKind::MachO;
        return ext == ".dylib" || ext == ".so" ? CodeItemKind::Dylib : CodeItemKind::HelperTool;
    case CodeKind::AppBundle:
    case CodeKind::FrameworkBundle:
    case CodeKind::Bundle:
        if (v.executablePath.empty()) return CodeItemKind::CodelessBundle;
        if (!nested) {
            if (v.kind == CodeKind::AppBundle) return CodeItemKind::App;
            if (v.kind == CodeKind::FrameworkBundle) return CodeItemKind::Framework;
            return ext == ".appex" || ext == ".plugin" ? CodeItemKind::PlugIn : CodeItemKind::OtherBundle;
        }
        return nestedBundleKind(relative, ext);
    case CodeKind::DiskImage: return CodeItemKind::DiskImage;
    case CodeKind::SignedFile: return CodeItemKind::SignedFile;
    case CodeKind::Missing:
    case CodeKind::NotCode:
    case CodeKind::UnrecognizedDirectory: return CodeItemKind::NotCode;
    }
    return CodeItemKind::NotCode;
}

SignatureKind signatureOf(const CodeVerdict& v) {
    if (!v.isSigned) return SignatureKind::Unsigned;
    if (v.cms) return SignatureKind::Certificate;
    return (v.flags & CS_LINKER_SIGNED) ? SignatureKind::LinkerSigned : SignatureKind::AdHoc;
}

void readEntitlements(CodeItem& item, const CodeVerdict& v) {
    item.entitlementsDer = !v.entitlementsDer.empty();
    if (v.hasEntitlements) {
        auto xml = parsePlist({reinterpret_cast<const std::byte*>(v.entitlementsXml.data()), v.entitlementsXml.size()},
                              kSmallPlistLimits);
        if (xml && xml->dict())
            item.entitlements = std::move(*xml);
        else
            item.entitlementsProblem = xml ? "the entitlements are no dictionary" : xml.error();
    }
    if (!item.entitlements && item.entitlementsDer) {
        auto der = decodeDerEntitlements(asByteSpan(v.entitlementsDer));
        if (der)
            item.entitlements = std::move(*der);
        else if (item.entitlementsProblem.empty())
            item.entitlementsProblem = der.error();
    }
    if (!item.entitlements) return;
    for (const auto& [key, value] : *item.entitlements->dict())
        if (weakensRuntime(key) && value.boolean() && *value.boolean()) item.weakeningEntitlements.push_back(key);
}

}  // namespace

bool weakensRuntime(const std::string& e) {
    static const std::array<const char*, 8> keys = {
        "com.apple.security.get-task-allow",
        "get-task-allow",
        "com.apple.security.cs.disable-library-validation",
        "com.apple.security.cs.allow-unsigned-executable-memory",
        "com.apple.security.cs.allow-dyld-environment-variables",
        "com.apple.security.cs.allow-jit",
        "com.apple.security.cs.disable-executable-page-protection",
        "com.apple.security.cs.debugger",
    };
    return std::any_of(keys.begin(), keys.end(), [&](const char* k) { return e == k; });
}

CodeItem codeItemOf(const CodeVerdict& v, const std::string& root) {
    const std::string top = root.empty() ? v.path : root;
    CodeItem item;
    if (v.path != top) item.relativePath = fs::path(v.path).lexically_relative(top).generic_string();
    item.kind = kindOf(v, item.relativePath);
    item.path = v.path;
    item.executablePath = v.executablePath;
    item.slices = v.architectures;
    item.identifier = v.identifier;
    item.teamId = v.teamId;
    item.flags = v.flags;
    item.runtimeVersion = v.runtimeVersion;
    item.signature = signatureOf(v);
    item.valid = v.valid;
    item.cause = v.cause;
    if (v.cms) {
        for (const auto& c : v.cms->certificates) {
            CertificateInfo shown = c;
            shown.der.clear();
            item.chain.push_back(std::move(shown));
        }
        item.chainTrusted = v.cms->chainTrusted;
        item.signingTime = v.cms->signingTime;
        item.timestamp = v.cms->timestampTime;
    }
    readEntitlements(item, v);
    item.problems = v.problems;
    for (const auto& child : v.children) item.children.push_back(codeItemOf(child, top));
    return item;
}

}  // namespace tessarin
