// tessarin-expand ARCHIVE [-- COMMAND...]: expands a zip or tar archive into a private temporary
// folder, lists what it holds (type, mode, size, name, link target, extended attributes) and every
// refusal, runs COMMAND inside the folder if given, then removes the folder. A proof of the
// container library for people and scripts; not installed.
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <string>

#include "base/DisplayText.h"
#include "container/Archive.h"

using namespace tessarin;

namespace {

void removeAndReraise(int signal) {
    removeRegisteredPrivateFolders();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

char typeLetter(EntryKind kind) {
    switch (kind) {
    case EntryKind::Folder: return 'd';
    case EntryKind::SymbolicLink: return 'l';
    case EntryKind::HardLink: return 'h';
    case EntryKind::File: break;
    }
    return '-';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (argc > 2 && (argc < 4 || std::string(argv[2]) != "--"))) {
        std::fprintf(stderr, "usage: tessarin-expand ARCHIVE [-- COMMAND...]\n");
        return 2;
    }
    std::signal(SIGINT, removeAndReraise);
    std::signal(SIGTERM, removeAndReraise);
    auto folder = PrivateFolder::create();
    if (!folder) {
        std::fprintf(stderr, "tessarin-expand: %s\n", folder.error().c_str());
        return 1;
    }
    auto expansion = expandArchive(argv[1], *folder);
    if (!expansion) {
        std::fprintf(stderr, "tessarin-expand: %s\n", expansion.error().c_str());
        return 1;
    }
    std::printf("format: %s\n", expansion->format.c_str());
    for (const auto& e : expansion->entries) {
        std::printf("%c %04o %12llu %s", typeLetter(e.kind), e.mode, static_cast<unsigned long long>(e.size),
                    displayText(e.path).c_str());
        if (!e.linkTarget.empty())
            std::printf(" -> %s%s", displayText(e.linkTarget).c_str(),
                        e.linkLeavesFolder ? " (leaves the folder)" : "");
        std::printf("\n");
        for (const auto& a : e.attributes)
            std::printf("    @ %s (%zu bytes%s): %s\n", displayText(a.name).c_str(), a.value.size(),
                        e.attributesOnDisk ? ", on disk" : "", displayText(a.value.substr(0, 80)).c_str());
    }
    for (const auto& r : expansion->refusals) std::printf("refused: %s\n", r.reason.c_str());
    std::printf("%llu bytes in %zu entries%s%s\n", static_cast<unsigned long long>(expansion->bytes),
                expansion->entries.size(), expansion->complete() ? "" : "; ", expansion->stopSentence.c_str());
    if (argc > 3) {
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(folder->path().c_str()) == 0) ::execvp(argv[3], argv + 3);
            std::perror("tessarin-expand");
            ::_exit(127);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) < 0) return 1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    return expansion->complete() && expansion->refusals.empty() ? 0 : 3;
}
