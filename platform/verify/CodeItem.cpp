// Turns a verification's result into the code item tree.
#include "verify/CodeItem.h"

#include <filesystem>

#include "codesign/CodeSignatureConstants.h"

namespace tessarin {
namespace {

CodeItemKind kindOf(const CodeVerdict& v) {
    switch (v.kind) {
    case CodeKind::MachO: return CodeItemKind::MachO;
    case CodeKind::AppBundle: return v.executablePath.empty() ? CodeItemKind::CodelessBundle : CodeItemKind::App;
    case CodeKind::FrameworkBundle:
        return v.executablePath.empty() ? CodeItemKind::CodelessBundle : CodeItemKind::Framework;
    case CodeKind::Bundle: {
        if (v.executablePath.empty()) return CodeItemKind::CodelessBundle;
        const std::string ext = std::filesystem::path(v.path).extension().string();
        return ext == ".appex" || ext == ".plugin" ? CodeItemKind::PlugIn : CodeItemKind::OtherBundle;
    }
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

}  // namespace

CodeItem codeItemOf(const CodeVerdict& v) {
    CodeItem item;
    item.kind = kindOf(v);
    item.path = v.path;
    item.slices = v.architectures;
    item.identifier = v.identifier;
    item.teamId = v.teamId;
    item.flags = v.flags;
    item.signature = signatureOf(v);
    item.problems = v.problems;
    for (const auto& child : v.children) item.children.push_back(codeItemOf(child));
    return item;
}

}  // namespace tessarin
