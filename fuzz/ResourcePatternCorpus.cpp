// Writes starting inputs for fuzz_resource_pattern: the rules real seals carry, each with a path.
#include <string>

#include "CorpusFolder.h"

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const char* rules[] = {"^.*",
                           "^Resources/",
                           "^Resources/.*\\.lproj/",
                           "^Resources/.*\\.lproj/locversion.plist$",
                           "^Resources/Base\\.lproj/",
                           "^[^/]+$",
                           "^(.*/)?\\.DS_Store$",
                           ".*\\.dSYM($|/)",
                           "^Info\\.plist$",
                           "^(Frameworks|SharedFrameworks|PlugIns|Plug-ins|XPCServices|Helpers|MacOS|Library/"
                           "(Automator|Spotlight|LoginItems))/",
                           "(^|/)CVS($|/)",
                           "[[:alpha:]]{2,4}\\.nib$",
                           "^version\\.plist$"};
    const char* paths[] = {"Resources/en.lproj/Main.strings", "Frameworks/A.framework/A", "Info.plist",
                           "Resources/deep/.DS_Store",        "x.dSYM/Contents",          "PlugIns/p/CVS/Root"};
    int n = 0;
    for (const char* rule : rules)
        for (const char* path : paths)
            if (!tessarin::fuzz::writeInput(*folder + "/rule-" + std::to_string(n++), std::string(rule) + '\0' + path))
                return 1;
    return 0;
}
