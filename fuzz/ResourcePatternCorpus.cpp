// Writes starting inputs for fuzz_resource_pattern: the rules real seals carry, each with a path.
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const char* rules[] = {
        "^.*", "^Resources/", "^Resources/.*\\.lproj/", "^Resources/.*\\.lproj/locversion.plist$",
        "^Resources/Base\\.lproj/", "^[^/]+$", "^(.*/)?\\.DS_Store$", ".*\\.dSYM($|/)", "^Info\\.plist$",
        "^(Frameworks|SharedFrameworks|PlugIns|Plug-ins|XPCServices|Helpers|MacOS|Library/(Automator|Spotlight|LoginItems))/",
        "(^|/)CVS($|/)", "[[:alpha:]]{2,4}\\.nib$", "^version\\.plist$"};
    const char* paths[] = {"Resources/en.lproj/Main.strings", "Frameworks/A.framework/A", "Info.plist",
                           "Resources/deep/.DS_Store", "x.dSYM/Contents", "PlugIns/p/CVS/Root"};
    int n = 0;
    for (const char* rule : rules)
        for (const char* path : paths) {
            std::ofstream out(std::string(argv[1]) + "/rule-" + std::to_string(n++), std::ios::binary);
            out << rule << '\0' << path;
        }
    return 0;
}
