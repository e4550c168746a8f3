// The stapler stand-in: validates (validate) the notarization ticket stapled to an app, a flat
// package or a disk image, writing Xcode's stapler lines on standard output. Offline unless --online
// is given.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "online/TicketServiceClient.h"
#include "tools/print/StaplerText.h"
#include "verify/Stapling.h"

using namespace tessarin;

namespace {

constexpr int kExitFailure = 65;  // EX_DATAERR, as the real tool reports a failed action
constexpr int kExitUsage = 64;    // EX_USAGE

struct Arguments {
    bool verbose = false;
    bool online = false;
    std::string serviceUrl;  // tests point the lookup at a server of their own on the loopback address
    std::string path;
};

const char* usageText() {
    return "Usage: stapler validate [-v] [--online] path\n"
           "       stapler --help\n"
           "  validate                check the notarization ticket stapled to an app (any bundle), a\n"
           "                          flat Installer package or a disk image against the item and\n"
           "                          Apple's ticket root\n"
           "  -v, --verbose           also print what was verified: the ticket's signer chain, when\n"
           "                          Apple issued it, how many hashes it names and which of the item's\n"
           "                          hashes it names\n"
           "  --online                also ask Apple's ticket service: for a ticket when none is stapled,\n"
           "                          or whether it still holds the stapled one\n"
           "  --help                  print this usage and exit\n"
           "Tessarin's stand-in for Apple's stapler: validation only, nothing is stapled. Exit status: 0\n"
           "when the ticket is genuine and names the item, 65 when it is not or none is stapled, 64 for a\n"
           "mistake on the command line.\n";
}

std::optional<Arguments> parseArguments(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) != "validate") return std::nullopt;
    Arguments a;
    bool endOfOptions = false, havePath = false;
    for (int i = 2; i < argc; ++i) {
        const std::string s = argv[i];
        if (!endOfOptions && s == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && (s == "-v" || s == "--verbose")) {
            a.verbose = true;
        } else if (!endOfOptions && s == "--online") {
            a.online = true;
        } else if (!endOfOptions && s == "--ticket-service-url") {
            if (i + 1 >= argc) return std::nullopt;
            a.serviceUrl = argv[++i];
        } else if (!endOfOptions && s.size() > 1 && s[0] == '-') {
            return std::nullopt;
        } else if (!havePath && !s.empty()) {
            a.path = s;
            havePath = true;
        } else {
            return std::nullopt;
        }
    }
    if (!havePath) return std::nullopt;
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") return (std::cout << usageText() << std::flush) ? 0 : 1;
    auto args = parseArguments(argc, argv);
    if (!args) {
        std::cerr << "stapler: only validate with one path is supported\n" << usageText();
        return kExitUsage;
    }
    const std::unique_ptr<TicketService> service = ticketServiceFor(args->online, args->serviceUrl);
    StaplerValidation v = validateStapledItem(args->path, TrustAnchors::appleRoots().tickets, service.get());
    std::cout << staplerValidateText(args->path, v, args->verbose) << std::flush;
    return v.succeeded() ? 0 : kExitFailure;
}
