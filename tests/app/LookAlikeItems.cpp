// Builds the look-alike pair from the sample app, signed with a Developer ID leaf of the test chain.
#include "LookAlikeItems.h"

#include <algorithm>
#include <filesystem>

#include "MachOSigner.h"
#include "SampleBundle.h"
#include "SigningChain.h"

namespace tessarin::test {

namespace fs = std::filesystem;

LookAlikeItems::LookAlikeItems(const TempDir& dir)
    : folder(dir / "look-alike"),
      tampered(folder + "/evil\xFF.app"),
      valid(folder + "/evil\xEF\xBF\xBD.app"),
      record_(dir / "look-alike-tools.record") {
    SampleOptions sample;
    sample.name = "evil";
    sample.sign = false;
    const std::string staged = makeSampleApp(dir / "look-alike-stage", sample);
    BundleSignOptions sign;
    sign.code.identifier = sample.identifier;
    sign.code.teamId = SigningChain::teamId();
    sign.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    signBundle(staged, sign);

    makeDirectories(folder);
    fs::copy(staged, valid, fs::copy_options::recursive);
    fs::rename(staged, tampered);
    const std::string info = tampered + "/Contents/Info.plist";
    std::string text = readFile(info);
    const std::string version = "<string>1.0</string>";
    text.replace(text.find(version), version.size(), "<string>6.6</string>");
    writeFile(info, text);

    const std::string root = dir / "look-alike-root.der";
    const Bytes& der = SigningChain::shared().root().certificateDer;
    writeFile(root, std::string(der.begin(), der.end()));
    for (const char* tool : {"spctl", "codesign"}) {
        const std::string launchPath = std::string(tool) == "spctl" ? kSpctlPath : kCodesignPath;
        tools.override(launchPath, writeScript(dir / (std::string("look-alike-") + tool),
                                               std::string("exec '" TESSARIN_TEST_VERIFIER "' ") + tool + " '" + root +
                                                   "' '" + record_ + "' \"$@\""));
    }
}

bool LookAlikeItems::eachRunGotItsOwnItem() const {
    std::vector<std::string> paths, sent{tampered, tampered, valid, valid};
    const std::string text = readFile(record_);
    for (std::size_t at = 0, end; (end = text.find("\0\n", at, 2)) != std::string::npos; at = end + 2) {
        const std::size_t start = text.rfind('\0', end - 1) + 1;
        paths.push_back(text.substr(start, end - start));
    }
    std::sort(paths.begin(), paths.end());
    std::sort(sent.begin(), sent.end());
    return paths == sent;
}

}  // namespace tessarin::test
