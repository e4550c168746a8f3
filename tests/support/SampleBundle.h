// The sample application bundle that scripts/run.sh opens when it is given no item, and that the
// application's tests open as a realistic item: universal main executable plus a 32-bit helper.
#pragma once

#include <string>

namespace tessarin::test {

struct SampleOptions {
    std::string name = "Sample";  // bundle is <name>.app, executable <name>
    std::string identifier = "com.example.sample";
    std::string shortVersion = "1.0";
    std::string sdkName = "macosx11.0";
    bool universal = true;  // x86_64 + arm64; else x86_64 only
    bool helper32 = true;   // Contents/Frameworks/libSampleHelper.dylib, thin i386
    bool sign = true;       // ad hoc, where the test signer is built in
};

// Writes <directory>/<name>.app (replacing nothing: the directory should be fresh) and returns its
// path. Throws std::runtime_error when a file cannot be written.
std::string makeSampleApp(const std::string& directory, const SampleOptions& options = {});

// Whether makeSampleApp can sign (the test signer is part of this build).
bool sampleSigningAvailable();

}  // namespace tessarin::test
