// tessarin-make-sample: writes the sample application bundle into a folder, for scripts/run.sh.
// Usage: tessarin-make-sample [--unsigned] DIRECTORY
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "SampleBundle.h"

int main(int argc, char** argv) {
    tessarin::test::SampleOptions options;
    std::string directory;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--unsigned") {
            options.sign = false;
        } else if (!arg.empty() && arg[0] != '-' && directory.empty()) {
            directory = arg;
        } else {
            directory.clear();
            break;
        }
    }
    if (directory.empty()) {
        std::fprintf(stderr, "usage: tessarin-make-sample [--unsigned] DIRECTORY\n");
        return 2;
    }
    try {
        std::error_code ec;
        std::filesystem::remove_all(directory + "/" + options.name + ".app", ec);
        const std::string app = tessarin::test::makeSampleApp(directory, options);
        std::printf("%s\n", app.c_str());
        if (options.sign && !tessarin::test::sampleSigningAvailable())
            std::fprintf(stderr, "tessarin-make-sample: this build has no test signer; %s is unsigned.\n", app.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessarin-make-sample: cannot make the sample in %s: %s.\n", directory.c_str(), e.what());
        return 1;
    }
    return 0;
}
