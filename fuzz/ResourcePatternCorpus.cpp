// Writes starting inputs for fuzz_resource_pattern: the rules real seals carry, each with a path.
#include <vector>

#include "CorpusFolder.h"

int main(int argc, char** argv) {
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
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const char* rule : rules)
        for (const char* path : paths)
            inputs.emplace_back("rule-" + std::to_string(inputs.size()), std::string(rule) + '\0' + path);
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
