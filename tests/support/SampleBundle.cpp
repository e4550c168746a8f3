// Builds the sample application bundle with BundleBuilder from MachOBuilder images.
#include "SampleBundle.h"

#include <string>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "TempDir.h"
#include "macho/MachOConstants.h"

#ifdef TESSARIN_SAMPLE_CAN_SIGN
#include "MachOSigner.h"
#endif

namespace tessarin::test {

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
        .executable(o.name,
                    o.universal ? fatMachO({{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}}) : thinMachO(CPU_TYPE_X86_64, 3))
        .file("Contents/PkgInfo", std::string_view("APPL????"));
    if (o.helper32) {
        SliceSpec helper;
        helper.cputype = CPU_TYPE_I386;
        helper.cpusubtype = 3;
        helper.filetype = MH_DYLIB;
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
