// The pkgutil stand-in: `--check-signature PATH` judges an Installer package's signature and prints
// the verdict and the certificate chain in the real tool's layout; `--payload-files PATH` lists what
// the package installs, and our own `--scripts` and `--contents-json` show its scripts and the whole.
#include <cstdio>
#include <ctime>
#include <string>

#include "package/Package.h"
#include "package/PackageContents.h"
#include "tools/print/PackageContentsText.h"
#include "tools/print/PackageReport.h"
#include "tools/print/Printable.h"

using namespace tessarin;

namespace {

// The whole usage, for --help and after a mistake: of the real tool's commands, only these.
const char* usageText() {
    return "Usage: pkgutil --check-signature PATH\n"
           "       pkgutil --payload-files PATH\n"
           "       pkgutil --scripts PATH\n"
           "       pkgutil --contents-json PATH\n"
           "       pkgutil --help\n"
           "  --check-signature PATH  judge the Installer package's signature and print its\n"
           "                          certificate chain\n"
           "  --payload-files PATH    list the paths the package's payloads install\n"
           "  --scripts PATH          print the package's scripts as text (Tessarin's own)\n"
           "  --contents-json PATH    the component packages, payloads and scripts as JSON\n"
           "                          (Tessarin's own)\n"
           "  --help                  print this usage and exit\n"
           "Tessarin's stand-in for Apple's pkgutil; none of its receipt commands. Exit status: 0 for\n"
           "a package signed by a trusted certificate, or whose contents could all be read; 1\n"
           "otherwise or for a mistake on the command line.\n";
}

bool write(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

int checkSignature(const std::string& path) {
    auto check = checkPackageSignature(path, TrustAnchors::appleRoots(), std::time(nullptr));
    if (!check) {
        std::fprintf(stderr, "pkgutil: %s\n", printable(check.error()).c_str());
        return 1;
    }
    if (!write(packageSignatureReport(path, *check))) return 1;
    return isTrustedPackageStatus(check->status) ? 0 : 1;
}

// What could be read is printed; each component that could not be read fully adds a sentence on
// standard error and makes the exit status 1.
int contents(const std::string& option, const std::string& path) {
    auto read = readPackageContents(path);
    if (!read) {
        std::fprintf(stderr, "pkgutil: %s\n", printable(read.error()).c_str());
        return 1;
    }
    std::string text = option == "--payload-files" ? payloadFilesText(*read)
                       : option == "--scripts"     ? scriptsText(*read)
                                                   : packageContentsJson(path, *read);
    if (!write(text)) return 1;
    int status = 0;
    for (const auto& c : read->components) {
        if (c.failure.empty()) continue;
        std::fprintf(stderr, "pkgutil: The package %s: %s: %s.\n", printable(path).c_str(), componentTitle(c).c_str(),
                     printable(c.failure).c_str());
        status = 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") return std::fputs(usageText(), stdout) < 0 ? 1 : 0;
    const std::string option = argc == 3 ? argv[1] : "";
    if (option == "--check-signature") return checkSignature(argv[2]);
    if (option == "--payload-files" || option == "--scripts" || option == "--contents-json")
        return contents(option, argv[2]);
    std::fputs(usageText(), stderr);
    return 1;
}
