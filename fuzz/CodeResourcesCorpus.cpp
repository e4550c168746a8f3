// Writes the resource-seal fuzzer's starting inputs: the seal the test signer writes for a bundle
// with resources, localizations, a link and a nested framework, and a first-generation seal.
#include <cstdio>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "CorpusFolder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "TempDir.h"
#include "plist/Plist.h"

using namespace tessarin;
using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    TempDir scratch;
    BundleBuilder app(scratch / "Tool.app");
    app.executable("Tool", thinMachO(0x0100000C, 0)).resource("a.txt", "a\n").resource("b/c.png", "png");
    app.localized("en", {{"CFBundleName", "Tool"}}).localized("fr", {{"CFBundleName", "Outil"}});
    app.symlink("Contents/Resources/link", "a.txt");
    app.build();
    BundleBuilder kit = app.nested("Contents/Frameworks/Kit.framework", BundleBuilder::Kind::Framework);
    kit.executable("Kit", thinMachO(0x0100000C, 0)).build();
    BundleSignOptions options;
    signBundle(app.path(), options);

    PlistDict files, optional, rules, omitted;
    files["Resources/a.txt"] = PlistData{std::vector<std::uint8_t>(20, 3)};
    optional["hash"] = PlistData{std::vector<std::uint8_t>(20, 4)};
    optional["optional"] = true;
    files["Resources/en.lproj/InfoPlist.strings"] = optional;
    omitted["omit"] = true;
    omitted["weight"] = std::int64_t{10};
    rules["^Resources/"] = true;
    rules["^Resources/.*\\.lproj/"] = optional;
    rules["^version.plist$"] = omitted;
    PlistDict first;
    first["files"] = files;
    first["rules"] = rules;

    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"seal-signed-bundle", readFile(app.contentsPath() + "/_CodeSignature/CodeResources")},
        {"seal-first-generation", toXmlPlist(PlistValue(first))},
    };
    for (const auto& [name, bytes] : inputs) {
        if (bytes.empty() || !tessarin::fuzz::writeInput(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
