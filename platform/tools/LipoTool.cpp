// The lipo stand-in: lists the architectures of a Mach-O or fat file from its headers alone.
#include <cstdio>
#include <string>
#include <vector>

#include "base/MappedFile.h"
#include "macho/MachO.h"

namespace {

using tessarin::MachOFile;

// The whole usage, for --help and after a mistake: only the operations that read the headers.
const char* usageText() {
    return "usage: lipo -archs <input_file>\n"
           "       lipo -info <input_file> ...\n"
           "       lipo --help\n"
           "  -archs  print the architectures of the input file on one line\n"
           "  -info   describe each input file as fat or thin and name its architectures\n"
           "  --help  print this usage and exit\n"
           "Tessarin's stand-in for Apple's lipo; none of its other operations. Exit status: 0 when\n"
           "every file was read, 1 for an unreadable file or a mistake on the command line.\n";
}

int usage(const std::string& problem) {
    std::fprintf(stderr, "lipo: %s\n%s", problem.c_str(), usageText());
    return 1;
}

struct Parsed {
    std::string error;  // empty on success
    MachOFile file;
};

Parsed read(const std::string& path) {
    auto mapped = tessarin::MappedFile::open(path);
    if (!mapped) return {mapped.error(), {}};
    auto parsed = tessarin::parseMachO(mapped->bytes());
    if (!parsed) return {"'" + path + "': " + parsed.error(), {}};
    return {{}, std::move(parsed).value()};
}

// Names separated by blanks, each followed by one, as lipo prints them.
std::string namesOf(const MachOFile& file) {
    std::string text;
    for (const auto& s : file.slices) text += tessarin::architectureName(s.cputype, s.cpusubtype) + " ";
    return text;
}

bool put(const std::string& text) { return std::fwrite(text.data(), 1, text.size(), stdout) == text.size(); }

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") return std::fputs(usageText(), stdout) < 0 ? 1 : 0;
    enum class Operation { None, Archs, Info } operation = Operation::None;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        Operation op = Operation::None;
        if (arg == "-archs")
            op = Operation::Archs;
        else if (arg == "-info")
            op = Operation::Info;
        else if (arg.size() > 1 && arg[0] == '-')
            return usage("unknown option '" + arg + "'");
        else {
            inputs.push_back(arg);
            continue;
        }
        if (operation != Operation::None && operation != op) return usage("only one of -archs and -info may be given");
        operation = op;
    }
    if (operation == Operation::None) return usage("no operation given");
    if (inputs.empty()) return usage("no input file given");
    if (operation == Operation::Archs && inputs.size() != 1) return usage("-archs takes exactly one input file");

    for (const auto& path : inputs) {
        Parsed p = read(path);
        if (!p.error.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "lipo: %s\n", p.error.c_str());
            return 1;
        }
        std::string line;
        if (operation == Operation::Archs)
            line = namesOf(p.file) + "\n";
        else if (p.file.fat)
            line = "Architectures in the fat file: " + path + " are: " + namesOf(p.file) + "\n";
        else
            line = "Non-fat file: " + path + " is architecture: " +
                   tessarin::architectureName(p.file.slices[0].cputype, p.file.slices[0].cpusubtype) + "\n";
        if (!put(line)) {
            std::fprintf(stderr, "lipo: cannot write the architectures of '%s' to standard output\n", path.c_str());
            return 1;
        }
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "lipo: cannot write to standard output\n");
        return 1;
    }
    return 0;
}
