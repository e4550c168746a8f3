// Builds the sample application bundle with BundleBuilder from MachOBuilder images.
#include "SampleBundle.h"

#include <string>

#include "BundleBuilder.h"
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

}  // namespace

bool sampleSigningAvailable() {
#ifdef TESSARIN_SAMPLE_CAN_SIGN
    return true;
#else
    return false;
#endif
}

std::string makeSampleApp(const std::string& directory, const SampleOptions& o) {
    BundleBuilder b(directory + "/" + o.name + ".app");
    b.info("CFBundleIdentifier", PlistValue(o.identifier))
        .info("CFBundleName", PlistValue(o.name))
        .info("CFBundleShortVersionString", PlistValue(o.shortVersion))
        .info("CFBundleVersion", PlistValue("1"))
        .info("DTSDKName", PlistValue(o.sdkName))
        .executable(o.name, o.universal ? fatMachO({{kCpuX86_64, 3}, {kCpuArm64, 0}}) : thinMachO(kCpuX86_64, 3))
        .file("Contents/PkgInfo", std::string_view("APPL????"));
    if (o.helper32) {
        SliceSpec helper;
        helper.cputype = kCpuI386;
        helper.cpusubtype = 3;
        helper.filetype = kMhDylib;
        b.file("Contents/Frameworks/libSampleHelper.dylib", thinMachO(helper));
    }
    const std::string app = b.build();
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
