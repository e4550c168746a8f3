// The pkgutil stand-in: `--check-signature PATH` judges an Installer package's signature and prints
// the verdict and the certificate chain in the real tool's layout.
#include <cstdio>
#include <ctime>
#include <string>

#include "package/Package.h"
#include "tools/print/PackageReport.h"
#include "tools/print/Printable.h"

using namespace tessarin;

namespace {

constexpr const char* kUsage = "Usage: pkgutil --check-signature PATH\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "--check-signature") {
        std::fputs(kUsage, stderr);
        return 1;
    }
    const std::string path = argv[2];
    auto check = checkPackageSignature(path, TrustAnchors::appleRoots(), std::time(nullptr));
    if (!check) {
        std::fprintf(stderr, "pkgutil: %s\n", printable(check.error()).c_str());
        return 1;
    }
    std::string text = packageSignatureReport(path, *check);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) return 1;
    return isTrustedPackageStatus(check->status) ? 0 : 1;
}
