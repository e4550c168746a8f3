// Builds the sample application bundle from MachOBuilder images and a hand-written Info.plist.
#include "SampleBundle.h"

#include <string>

#include "MachOBuilder.h"
#include "TempDir.h"

#ifdef TESSARIN_SAMPLE_CAN_SIGN
#include "MachOSigner.h"
#endif

namespace tessarin::test {

namespace {

constexpr std::int32_t kCpuI386 = 7;
constexpr std::int32_t kCpuX86_64 = 0x01000007;
constexpr std::int32_t kCpuArm64 = 0x0100000C;
constexpr std::uint32_t kMhDylib = 6;

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string infoPlist(const SampleOptions& o) {
    auto entry = [](const char* key, const std::string& value) {
        return "\t<key>" + std::string(key) + "</key>\n\t<string>" + xmlEscaped(value) + "</string>\n";
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           entry("CFBundleExecutable", o.name) + entry("CFBundleIdentifier", o.identifier) +
           entry("CFBundleName", o.name) + entry("CFBundlePackageType", "APPL") +
           entry("CFBundleShortVersionString", o.shortVersion) + entry("CFBundleVersion", "1") +
           entry("DTSDKName", o.sdkName) + "</dict>\n</plist>\n";
}

}  // namespace

bool sampleSigningAvailable() {
#ifdef TESSARIN_SAMPLE_CAN_SIGN
    return true;
#else
    return false;
#endif
}

std::string makeSampleApp(const std::string& directory, const SampleOptions& o) {
    const std::string app = directory + "/" + o.name + ".app";
    const std::string contents = app + "/Contents";

    std::vector<std::pair<std::int32_t, std::int32_t>> types{{kCpuX86_64, 3}};
    if (o.universal) types.push_back({kCpuArm64, 0});
    writeFile(contents + "/MacOS/" + o.name, o.universal ? fatMachO(types) : thinMachO(kCpuX86_64, 3));
    writeFile(contents + "/Info.plist", infoPlist(o));
    writeFile(contents + "/PkgInfo", std::string_view("APPL????"));
    if (o.helper32) {
        SliceSpec helper;
        helper.cputype = kCpuI386;
        helper.cpusubtype = 3;
        helper.filetype = kMhDylib;
        writeFile(contents + "/Frameworks/libSampleHelper.dylib", thinMachO(helper));
    }

#ifdef TESSARIN_SAMPLE_CAN_SIGN
    if (o.sign) {
        BundleSignOptions sign;
        sign.code.identifier = o.identifier;
        signBundle(app, sign);
    }
#endif
    return app;
}

}  // namespace tessarin::test
