// What a stapled ticket and a store receipt add to an assessment: spctl's judgement (assessPath, in
// process) of a small signed app with Apple's real ticket stapled and a receipt in _MASReceipt, and
// without both, interleaved, medians. The real ticket is verified in full (signature, chain to Apple
// Root CA - G3 at its time); it names other code, which costs the same comparisons as a ticket that
// names the app. The receipt's signature and chain are checked in full too.
//
//   ticket-bench            prints key=value lines
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "BenchClock.h"
#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "RealTicket.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "verify/Assessment.h"
#include "verify/Stapling.h"

using namespace tessarin;
using namespace tessarin::test;

namespace {

// This process's CPU time: other work on the machine stretches wall time, not this.
double cpuNow() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main() {
    constexpr std::int32_t kX86_64 = 0x01000007, kArm64 = 0x0100000C;
    TempDir dir;
    const std::string app = BundleBuilder(dir / "Example.app")
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", fatMachO({{kX86_64, 3}, {kArm64, 0}}))
                                .resource("a.txt", "a")
                                .build();
    BundleSignOptions o;
    o.code.identifier = "com.example.app";
    o.code.teamId = SigningChain::teamId();
    o.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    signBundle(app, o);
    // The tests' code root, so that the assessment reaches the ticket; Apple's ticket root.
    TrustAnchors anchors = SigningChain::shared().anchors();
    anchors.tickets = TicketAnchors::apple();
    const std::string ticketPath = app + "/Contents/CodeResources";
    const Bytes ticket = realTicket();
    const std::string receiptPath = app + "/Contents/_MASReceipt/receipt";
    const std::string payload(2048, 'r');  // a receipt's usual few kilobytes
    const Bytes receipt = SigningChain::shared().signReceipt(Bytes(payload.begin(), payload.end()));

    constexpr int kRounds = 15, kRuns = 40;
    std::vector<double> without, with, checkOnly, withoutCpu, withCpu;
    for (int round = 0; round < kRounds; ++round) {
        for (bool stapled : {false, true}) {
            if (stapled) {
                writeFile(ticketPath, ticket);
                writeFile(receiptPath, receipt);
            } else {
                std::filesystem::remove(ticketPath);
                std::filesystem::remove_all(app + "/Contents/_MASReceipt");
            }
            const double start = bench::now(), startCpu = cpuNow();
            for (int i = 0; i < kRuns; ++i) {
                Assessment a = assessPath(app, AssessmentType::Execute, anchors);
                if (!a.accepted || a.ticket.present != stapled || (stapled && !a.ticket.verified) ||
                    a.receipt.has_value() != stapled || (stapled && !a.receipt->chainsToApple)) {
                    std::fprintf(stderr, "ticket-bench: the assessment did not check the ticket and receipt as expected\n");
                    return 1;
                }
            }
            (stapled ? with : without).push_back((bench::now() - start) / kRuns);
            (stapled ? withCpu : withoutCpu).push_back((cpuNow() - startCpu) / kRuns);
        }
        const double start = cpuNow();
        for (int i = 0; i < kRuns; ++i) (void)validateTicket(asByteSpan(ticket), {}, TicketAnchors::apple());
        checkOnly.push_back((cpuNow() - start) / kRuns);
    }
    const double a = bench::median(without), b = bench::median(with);
    const double ac = bench::median(withoutCpu), bc = bench::median(withCpu);
    std::printf(
        "without_ms=%.4f\nwith_ms=%.4f\nadded_ms=%.4f\nwithout_cpu_ms=%.4f\nwith_cpu_ms=%.4f\n"
        "added_cpu_ms=%.4f\nverify_cpu_ms=%.4f\nrounds=%d\nruns=%d\n",
        a * 1e3, b * 1e3, (b - a) * 1e3, ac * 1e3, bc * 1e3, (bc - ac) * 1e3, bench::median(checkOnly) * 1e3, kRounds,
        kRuns);
    return 0;
}
