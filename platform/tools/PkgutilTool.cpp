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

// The whole usage, for --help and after a mistake: of the real tool's commands, only this one.
const char* usageText() {
    return "Usage: pkgutil --check-signature PATH\n"
           "       pkgutil --help\n"
           "  --check-signature PATH  judge the Installer package's signature and print its\n"
           "                          certificate chain\n"
           "  --help                  print this usage and exit\n"
           "Tessarin's stand-in for Apple's pkgutil; none of its receipt commands. Exit status: 0 for\n"
           "a package signed by a trusted certificate, 1 otherwise or for a mistake on the command line.\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") return std::fputs(usageText(), stdout) < 0 ? 1 : 0;
    if (argc != 3 || std::string(argv[1]) != "--check-signature") {
        std::fputs(usageText(), stderr);
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
