// Makes apps shaped like what vendors ship, for the Components panel's benchmark and for looking at
// the panel: frameworks (versioned), XPC services, plug-ins, a login item, helper tools, ad hoc and
// unsigned parts, entitlements that weaken the runtime, a 32-bit library
// and a link. Signed by the tests' Developer ID-like chain (a root of its own, not Apple's).
//
//   bench-gen-components DIR [N]   writes DIR/Shaped.app, and with N also DIR/Many.app holding N
//                                  signed libraries beside the same shape
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "codesign/CodeSignatureConstants.h"
#include "plist/Plist.h"

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;
using Kind = BundleBuilder::Kind;

namespace {

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kArm64 = 0x0100000C;

Bytes universal() { return fatMachO({{kX86_64, 3}, {kArm64, 0}}); }

SignOptions developerId(const std::string& identifier, bool runtime) {
    SignOptions o;
    o.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    o.teamId = SigningChain::teamId();
    o.identifier = identifier;
    if (runtime) o.flags = CS_RUNTIME;
    return o;
}

std::string entitlements(std::initializer_list<const char*> keys) {
    PlistDict d;
    for (const char* k : keys) d.emplace(k, PlistValue(true));
    return toXmlPlist(PlistValue(std::move(d)));
}

void signAt(const BundleBuilder& b, SignOptions code) {
    BundleSignOptions o;
    o.code = std::move(code);
    o.signNested = false;  // signed already, inner first, each with its own options
    signBundle(b.path(), o);
}

BundleBuilder nested(const BundleBuilder& app, const std::string& relative, Kind kind, const std::string& id,
                     SignOptions options) {
    BundleBuilder n = app.nested(relative, kind);
    n.info("CFBundleIdentifier", PlistValue(id)).info("CFBundleShortVersionString", PlistValue("4.2.1"));
    n.executable(fs::path(relative).stem().string(), universal()).build();
    options.identifier = id;
    signAt(n, std::move(options));
    return n;
}

void writeMachO(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    writeFile(path, bytes);
}

std::string makeApp(const fs::path& dir, const std::string& name, int extraLibraries) {
    BundleBuilder app((dir / (name + ".app")).string());
    app.info("CFBundleIdentifier", PlistValue("com.example." + name))
        .info("CFBundleShortVersionString", PlistValue("3.8.0"))
        .info("CFBundleVersion", PlistValue("3800"));
    app.executable(name, universal());
    app.file("Contents/Resources/legacy/libOldCodec.dylib", thinMachO(kI386, 3));
    app.symlink("Contents/Resources/Frameworks", "../Frameworks");
    app.build();

    nested(app, "Contents/Frameworks/Shaped Core.framework", Kind::Framework, "com.example.core",
           developerId("", true));
    nested(app, "Contents/Frameworks/Analytics.framework", Kind::Framework, "io.analytics.sdk", developerId("", true));
    BundleBuilder updater = app.nested("Contents/Frameworks/Updater.framework", Kind::Framework);
    updater.info("CFBundleIdentifier", PlistValue("org.updater.framework"));
    updater.executable("Updater", universal()).build();
    nested(updater, "Versions/A/XPCServices/Installer.xpc", Kind::App, "org.updater.installer", developerId("", true));
    nested(updater, "Versions/A/XPCServices/Downloader.xpc", Kind::App, "org.updater.downloader",
           developerId("", true));
    signAt(updater, developerId("org.updater.framework", true));

    SignOptions share = developerId("", true);
    share.entitlementsXml = entitlements({"com.apple.security.app-sandbox", "com.apple.security.network.client"});
    nested(app, "Contents/PlugIns/Share.appex", Kind::App, "com.example.share", share);
    nested(app, "Contents/PlugIns/QuickLook.appex", Kind::App, "com.example.quicklook", developerId("", false));
    SignOptions login = developerId("", true);
    login.entitlementsXml = entitlements({"com.apple.security.cs.disable-library-validation"});
    nested(app, "Contents/Library/LoginItems/Shaped Helper.app", Kind::App, "com.example.helper", login);
    SignOptions adhoc;
    adhoc.identifier = "shaped-cli";
    writeMachO(app.path() + "/Contents/Helpers/shaped-cli", signMachOFile(universal(), adhoc));
    writeMachO(app.path() + "/Contents/Frameworks/libcrashpad.dylib",
               signMachOFile(universal(), developerId("libcrashpad.dylib", true)));
    writeMachO(app.path() + "/Contents/Resources/plugins/libunsigned.dylib", thinMachO(kArm64, 0));
    for (int i = 0; i < extraLibraries; ++i) {
        char rel[96];
        std::snprintf(rel, sizeof rel, "/Contents/Frameworks/lib/%03d/libpart%05d.dylib", i / 100, i);
        SignOptions part;
        part.identifier = fs::path(rel).filename().string();  // as the container's seal names it
        writeMachO(app.path() + rel, signMachOFile(thinMachO(kArm64, 0), part));
    }

    SignOptions main = developerId("com.example." + name, true);
    main.entitlementsXml = entitlements({"com.apple.security.cs.allow-jit", "com.apple.security.device.camera"});
    BundleSignOptions o;
    o.code = main;
    o.signNested = false;
    signBundle(app.path(), o);
    return app.path();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench-gen-components DIR [N]\n");
        return 2;
    }
    try {
        const fs::path dir = argv[1];
        fs::create_directories(dir);
        std::printf("%s\n", makeApp(dir, "Shaped", 0).c_str());
        if (argc == 3) std::printf("%s\n", makeApp(dir, "Many", std::stoi(argv[2])).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-gen-components: %s\n", e.what());
        return 1;
    }
    return 0;
}
