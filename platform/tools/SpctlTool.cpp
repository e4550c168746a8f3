// The spctl stand-in: assesses (-a, --assess) code, an installer package or a signed document against
// Apple's roots, writing the real tool's lines on standard error. Offline unless --online is given: a
// missing stapled ticket is then said so.
#include <malloc.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "container/PrivateFolder.h"
#include "contents/Contents.h"
#include "online/TicketServiceClient.h"
#include "tools/print/AssessmentText.h"
#include "tools/print/ComponentText.h"
#include "verify/Assessment.h"
#include "verify/ComponentTree.h"

using namespace tessarin;

namespace {

struct Arguments {
    bool assess = false;
    int verbosity = 0;
    AssessmentType type = AssessmentType::Execute;
    bool online = false;
    bool componentsJson = false;  // ours: the item's component tree from the same verification
    std::string serviceUrl;       // tests point the lookup at a server of their own on the loopback address
    std::string expandUnder;      // ours: where a container's contents are expanded (its caller removes it)
    std::vector<std::string> paths;
};

// The whole usage, for --help and after a mistake: what this stand-in implements of the real options.
const char* usageText() {
    return "Usage: spctl -a [-v...] [--verbose=N] [-t exec | -t install | -t open] [--context "
           "context:primary-signature] [--online] [--components-json] path ...\n"
           "       spctl --help\n"
           "  -a, --assess            assess each path against Apple's roots, offline\n"
           "  --online                also ask Apple's ticket service for a ticket when none stapled names\n"
           "                          the item (Developer ID only)\n"
           "  -v, --verbose[=N]       also print source= (and at 2, origin=); repeatable, or level N\n"
           "  -t, --type TYPE         exec (or execute) for code, install for an Installer package,\n"
           "                          open for a document or disk image, judged by its own signature\n"
           "  --context context:primary-signature\n"
           "                          judge the item's own signature (the only context supported)\n"
           "  --components-json       also print each item's component tree on standard output, as\n"
           "                          codesign --components-json does, from the same verification; a\n"
           "                          disk image's, archive's or package's tree is what it holds\n"
           "  --expand-under DIR      expand containers in private folders under DIR (default: $TMPDIR)\n"
           "  --                      end of the options\n"
           "  --help                  print this usage and exit\n"
           "Tessarin's stand-in for Apple's spctl: assessment only, no policy changes. Exit status:\n"
           "0 when every path was accepted, 3 when one was rejected, 2 for a mistake on the command line.\n";
}

std::optional<AssessmentType> parseType(const std::string& s) {
    if (s == "exec" || s == "execute") return AssessmentType::Execute;
    if (s == "install") return AssessmentType::Install;
    if (s == "open") return AssessmentType::Open;
    return std::nullopt;
}

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments a;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (endOfOptions || s.empty() || s[0] != '-' || s == "-") {
            a.paths.push_back(s);
        } else if (s == "--") {
            endOfOptions = true;
        } else if (s == "--assess") {
            a.assess = true;
        } else if (s == "--online") {
            a.online = true;
        } else if (s == "--components-json") {
            a.componentsJson = true;
        } else if (s == "--expand-under") {
            if (i + 1 >= argc || argv[i + 1][0] != '/') return std::nullopt;
            a.expandUnder = argv[++i];
        } else if (s == "--ticket-service-url") {
            if (i + 1 >= argc) return std::nullopt;
            a.serviceUrl = argv[++i];
        } else if (s == "--verbose") {
            ++a.verbosity;
        } else if (s.rfind("--verbose=", 0) == 0) {
            std::string n = s.substr(10);
            if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos || n.size() > 3)
                return std::nullopt;
            a.verbosity = std::stoi(n);
        } else if (s == "--context" || s.rfind("--context=", 0) == 0) {
            // Documents are assessed by their primary signature; no other context is implemented.
            std::string value;
            if (s == "--context") {
                if (i + 1 >= argc) return std::nullopt;
                value = argv[++i];
            } else {
                value = s.substr(10);
            }
            if (value != "context:primary-signature") return std::nullopt;
        } else if (s == "--type" || s.rfind("--type=", 0) == 0) {
            std::string value;
            if (s == "--type") {
                if (i + 1 >= argc) return std::nullopt;
                value = argv[++i];
            } else {
                value = s.substr(7);
            }
            auto t = parseType(value);
            if (!t) return std::nullopt;
            a.type = *t;
        } else if (s[1] != '-') {
            // Clustered short options: -avv, -a -t exec, -at install.
            for (std::size_t k = 1; k < s.size(); ++k) {
                char c = s[k];
                if (c == 'a') {
                    a.assess = true;
                } else if (c == 'v') {
                    ++a.verbosity;
                } else if (c == 't') {
                    std::string value = s.substr(k + 1);
                    if (value.empty()) {
                        if (i + 1 >= argc) return std::nullopt;
                        value = argv[++i];
                    }
                    auto t = parseType(value);
                    if (!t) return std::nullopt;
                    a.type = *t;
                    break;
                } else {
                    return std::nullopt;
                }
            }
        } else {
            return std::nullopt;
        }
    }
    if (!a.assess || a.paths.empty()) return std::nullopt;
    return a;
}

}  // namespace

// Expanded contents never outlive an interrupted run.
extern "C" void removeFoldersAndDie(int signal) {
    removeRegisteredPrivateFolders();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

int main(int argc, char** argv) {
    // One heap for every thread: the seal is parsed on a thread of its own, and glibc grows a
    // thread's own heap a page at a time, with a system call each (8,000 for a 20,000-file seal).
    ::mallopt(M_ARENA_MAX, 1);
    if (argc == 2 && std::string(argv[1]) == "--help") return (std::cout << usageText() << std::flush) ? 0 : 1;
    auto args = parseArguments(argc, argv);
    if (!args) {
        std::cerr << "spctl: only assessment (-a) of one or more paths is supported\n" << usageText();
        return 2;
    }
    const std::unique_ptr<TicketService> service = ticketServiceFor(args->online, args->serviceUrl);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, removeFoldersAndDie);
    int status = 0;
    for (const auto& path : args->paths) {
        ComponentTree tree;
        const TrustAnchors& anchors = TrustAnchors::appleRoots();
        const ContainerKind kind = args->componentsJson ? containerKindOf(path) : ContainerKind::None;
        Assessment a;
        const auto assess = [&] {
            a = assessPath(path, args->type, anchors, service.get(), args->componentsJson ? &tree : nullptr);
        };
        if (kind == ContainerKind::None) {
            assess();
        } else {
            // The container's own signature is verified while what it holds is expanded and verified:
            // the two read different bytes and share only the trust anchors. Online, the ticket
            // service is asked by one of them at a time.
            // A package's or an archive's own check is cheap beside its expansion, and reads the same
            // table of contents: only a disk image's (which hashes the whole image) runs beside it.
            std::thread own;
            if (service || kind != ContainerKind::DiskImage)
                assess();
            else
                own = std::thread(assess);
            ComponentTree contents;
            std::optional<PrivateFolder> folder;
            std::string under = args->expandUnder;
            if (under.empty()) {
                auto made = PrivateFolder::create("tessarin-spctl-");
                if (made) {
                    folder.emplace(std::move(*made));
                    under = folder->path();
                } else {
                    contents.notes.push_back(made.error());
                }
            }
            if (!under.empty()) contents = containerContents(path, kind, under, anchors, service.get());
            if (own.joinable()) own.join();
            addContainerContents(tree, std::move(contents), kind, anchors, service.get());
        }
        std::cerr << assessmentText(path, a, args->verbosity);
        if (args->componentsJson) std::cout << componentTreeJson(tree) << std::flush;
        if (!a.accepted) status = 3;
    }
    return status;
}
