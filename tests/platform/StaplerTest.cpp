// Stapled and fetched notarization tickets: what makes one validate for an item, what each answer of
// the ticket service proves (against a server on the loopback address), and the stapler stand-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "LoopbackServer.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "RealTicket.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "ToolRun.h"
#include "XarBuilder.h"
#include "online/TicketServiceClient.h"
#include "tools/print/StaplerText.h"
#include "verify/Assessment.h"
#include "verify/Stapling.h"

using namespace tessarin;
using tessarin::test::HttpReply;
using tessarin::test::LeafKind;
using tessarin::test::LoopbackServer;
using tessarin::test::SigningChain;
using tessarin::test::TempDir;
using tessarin::test::TicketBuilder;

namespace {

constexpr std::int32_t kArm64 = 0x0100000C;
constexpr std::int32_t kX86_64 = 0x01000007;

// A Developer ID-signed universal app (x86_64, arm64), nothing stapled.
std::string universalApp(const TempDir& dir, const std::string& name = "Example.app") {
    const std::string app = test::BundleBuilder(dir / name)
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", test::fatMachO({{kX86_64, 3}, {kArm64, 0}}))
                                .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    o.code.teamId = SigningChain::teamId();
    o.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    test::signBundle(app, o);
    return app;
}

std::vector<ItemDigest> digestsOf(const std::string& path) { return readStapledItem(path).digests; }

// A ticket from `builder` naming every digest given.
Bytes ticketNaming(const std::vector<ItemDigest>& digests, TicketBuilder builder = TicketBuilder()) {
    for (const auto& d : digests) builder.naming(d.digest);
    return builder.build();
}

TicketAnchors testTicketAnchors() { return SigningChain::shared().ticketSigners().anchors(); }

std::string lookupReply(const Bytes& ticket) {
    const std::string b64 = test::base64(ticket);
    return R"({"records":[{"recordName":"2/2/x","recordType":"DeveloperIDTicket","deleted":false,)"
           R"("fields":{"signedTicket":{"type":"BYTES","value":")" +
           b64 + "\"}}}]}";
}

const char* kNotFoundReply =
    R"({"records":[{"recordName":"2/2/x","reason":"Record not found","serverErrorCode":"NOT_FOUND"}]})";

}  // namespace

TEST(StapledTickets, OnlyAGenuineTicketNamingOneOfTheAppsSlicesValidates) {
    TempDir dir;
    const std::string app = universalApp(dir);
    const std::vector<ItemDigest> digests = digestsOf(app);
    ASSERT_GE(digests.size(), 2u);  // a CDHash for each slice at least
    const std::string ticketPath = app + "/Contents/CodeResources";

    const Bytes genuine = ticketNaming(digests);
    const Bytes forged = ticketNaming(digests, TicketBuilder(test::makeTicketSigners(true)));
    TicketBuilder unmarked;
    unmarked.signedBy(SigningChain::shared().ticketSigners().unmarkedLeaf);
    Bytes shaped = {'s', '8', 'c', 'h', 1, 0, 0, 0, 0, 0, 0, 0};
    shaped.insert(shaped.end(), digests[0].digest.begin(), digests[0].digest.begin() + 20);

    struct Row {
        const char* what;
        Bytes ticket;
        TicketAnchors anchors;
        bool valid;
        TicketFailure failure;
        std::size_t matched;
    };
    const std::vector<Row> rows = {
        {"genuine, every slice", genuine, testTicketAnchors(), true, TicketFailure::None, digests.size()},
        {"genuine, the last slice only", TicketBuilder().naming(digests.back().digest).build(), testTicketAnchors(),
         true, TicketFailure::None, 1},
        {"genuine, other code", TicketBuilder().naming(Bytes(32, 0x5a)).build(), testTicketAnchors(), false,
         TicketFailure::None, 0},
        {"under a root that only copies Apple's names", forged, testTicketAnchors(), false,
         TicketFailure::ChainUntrusted, digests.size()},
        {"by a leaf without the ticket-signing mark", ticketNaming(digests, unmarked), testTicketAnchors(), false,
         TicketFailure::NotTicketSigningLeaf, digests.size()},
        {"ticket-shaped bytes holding the CDHash", shaped, testTicketAnchors(), false, TicketFailure::Malformed, 0},
        {"genuine for tests, judged by Apple's root", genuine, TicketAnchors::apple(), false,
         TicketFailure::ChainUntrusted, digests.size()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        test::writeFile(ticketPath, row.ticket);
        StaplerValidation v = validateStapledItem(app, row.anchors);
        EXPECT_EQ(v.item.kind, StapleKind::Bundle);
        ASSERT_TRUE(v.stapled);
        EXPECT_EQ(v.succeeded(), row.valid);
        EXPECT_EQ(v.stapled->verdict.failure, row.failure) << v.stapled->verdict.detail;
        EXPECT_EQ(v.stapled->matched.size(), row.matched);
    }

    // The assessment is stricter: a Mac runs its own slice, so the ticket must name every one.
    const TrustAnchors anchors = SigningChain::shared().anchors();
    test::writeFile(ticketPath, TicketBuilder().naming(digests.back().digest).build());
    EXPECT_EQ(assessPath(app, AssessmentType::Execute, anchors).source, AssessmentSource::DeveloperID);
    test::writeFile(ticketPath, genuine);
    EXPECT_EQ(assessPath(app, AssessmentType::Execute, anchors).source, AssessmentSource::NotarizedDeveloperID);

    // A link in the ticket's place is stapled, and not followed: it fails instead of reading elsewhere.
    test::writeFile(dir / "elsewhere", genuine);
    std::filesystem::remove(ticketPath);
    std::filesystem::create_symlink(dir / "elsewhere", ticketPath);
    StaplerValidation linked = validateStapledItem(app, testTicketAnchors());
    EXPECT_TRUE(linked.item.stapled);
    EXPECT_FALSE(linked.succeeded());

    std::filesystem::remove(ticketPath);
    StaplerValidation none = validateStapledItem(app, testTicketAnchors());
    EXPECT_FALSE(none.item.stapled);
    EXPECT_FALSE(none.succeeded());
}

TEST(StapledTickets, FlatPackageTicketNamesTheTableOfContentsChecksum) {
    TempDir dir;
    test::XarBuildOptions o;
    o.files = test::sampleProductFiles();
    const test::XarBuild xar = test::buildXar(o);
    const Bytes checksum(xar.bytes.begin() + xar.checksumOffset,
                         xar.bytes.begin() + xar.checksumOffset + xar.checksumSize);
    for (bool namesPackage : {true, false}) {
        SCOPED_TRACE(namesPackage ? "names the checksum" : "names another package");
        const Bytes ticket = TicketBuilder().naming(namesPackage ? checksum : Bytes(20, 1), 1).build();
        test::writeFile(dir / "Example.pkg", test::stapleTicket(xar.bytes, ticket));
        StaplerValidation v = validateStapledItem(dir / "Example.pkg", testTicketAnchors());
        EXPECT_EQ(v.item.kind, StapleKind::FlatPackage);
        ASSERT_EQ(v.item.digests.size(), 1u);
        EXPECT_EQ(v.item.digests[0].hashType, 1);  // a SHA-1 checksum is looked up as type 1
        EXPECT_TRUE(v.item.stapled);
        EXPECT_EQ(v.succeeded(), namesPackage);
    }
}

// Every answer the service may give for an app with nothing stapled: only a genuine ticket naming the
// app notarizes it, and each other outcome is one sentence.
TEST(OnlineLookup, EachAnswerOfTheServiceGivesOneLineAndOnlyAGenuineTicketNotarizes) {
    TempDir dir;
    const std::string app = universalApp(dir);
    const std::vector<ItemDigest> digests = digestsOf(app);
    const std::string deleted = R"({"records":[{"recordName":"2/2/x","deleted":true}]})";

    using S = TicketLookup::Status;
    auto ok = [](std::string body) { return HttpReply{200, std::move(body)}; };
    const std::string notJson = "Apple's ticket service sent a reply that is not its JSON.";
    struct Row {
        const char* what;
        HttpReply reply;
        S status;
        bool notarized;
        std::string line;  // what the line says after the record name
        std::string url;   // instead of the server's
    };
    const std::vector<Row> rows = {
        {"a genuine ticket", ok(lookupReply(ticketNaming(digests))), S::Found, true,
         "the service holds a genuine ticket that names this item.", ""},
        {"a forged ticket", ok(lookupReply(ticketNaming(digests, TicketBuilder(test::makeTicketSigners(true))))),
         S::Found, false,
         "the service's ticket is not genuine (its certificates do not reach Apple's ticket root at the time it "
         "was issued).",
         ""},
        {"no record", ok(kNotFoundReply), S::NotFound, false, "Apple's ticket service has no ticket for it.", ""},
        {"a deleted record", ok(deleted), S::NotFound, false,
         "Apple's ticket service has deleted its ticket for it (a revoked notarization).", ""},
        {"malformed JSON", ok(R"({"records":[{"fields":)"), S::Failed, false, notJson, ""},
        {"deeply nested JSON", ok(std::string(100000, '[')), S::Failed, false, notJson, ""},
        {"a ticket that is not base64", ok(R"({"records":[{"fields":{"signedTicket":{"value":"@@"}}}]})"), S::Failed,
         false, "Apple's ticket service sent a ticket that is not base64.", ""},
        {"an oversized reply", HttpReply{200, std::string(2u << 20, ' '), false}, S::Failed, false,
         "Apple's ticket service sent a reply larger than 1024 KB.", ""},
        {"a server error", HttpReply{503, "{}"}, S::Failed, false,
         "Apple's ticket service answered with HTTP status 503.", ""},
        {"a stalled server", HttpReply{200, "", true, true}, S::Failed, false,
         "Apple's ticket service did not answer within 300 ms.", ""},
        {"a refused connection", HttpReply{}, S::Failed, false,
         "Apple's ticket service could not be reached (the connection failed).", LoopbackServer::refusingUrl()},
        {"plain HTTP off the loopback address", HttpReply{}, S::Failed, false,
         "The ticket service's address is not an HTTPS address.", "http://192.0.2.1/lookup"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        LoopbackServer server([&](const std::string&) { return row.reply; });
        TicketServiceEndpoint endpoint;
        endpoint.url = row.url.empty() ? server.url() : row.url;
        endpoint.timeoutMs = 300;
        TicketServiceClient client(endpoint);
        StaplerValidation v = validateStapledItem(app, testTicketAnchors(), &client);
        EXPECT_EQ(v.online.lookup.status, row.status) << v.online.lookup.detail;
        EXPECT_EQ(v.fetched && v.fetched->valid(), row.notarized);
        EXPECT_FALSE(v.succeeded());  // nothing is stapled, whatever the service says
        const std::string line = onlineLookupLine(v);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(line.substr(line.find(": ") + 2), row.line);
        if (row.url.empty()) {
            // Asked for each slice's SHA-256 CDHash until a record turns up; a failure ends the search.
            const auto requests = server.requests();
            ASSERT_FALSE(requests.empty());
            EXPECT_EQ(requests[0],
                      R"({"records":[{"recordName":")" + ticketRecordName(digests[0].digest, 2) + R"("}]})");
            EXPECT_EQ(requests.size(), row.status == S::NotFound ? 2u : 1u);  // one a slice
        }
    }
}

TEST(OnlineLookup, AStapledTicketTheServiceNoLongerHoldsFails) {
    TempDir dir;
    const std::string app = universalApp(dir);
    const Bytes stapled = ticketNaming(digestsOf(app));
    test::writeFile(app + "/Contents/CodeResources", stapled);
    for (bool held : {true, false}) {
        SCOPED_TRACE(held ? "held" : "withdrawn");
        LoopbackServer server([&](const std::string&) {
            return HttpReply{200, held ? lookupReply(stapled) : kNotFoundReply};
        });
        TicketServiceEndpoint endpoint;
        endpoint.url = server.url();
        TicketServiceClient client(endpoint);
        StaplerValidation v = validateStapledItem(app, testTicketAnchors(), &client);
        EXPECT_EQ(v.succeeded(), held);
        if (held) {
            const std::string line = onlineLookupLine(v);
            EXPECT_EQ(line.substr(line.find(": ") + 2), "the service holds the same genuine ticket.");
        }
    }
}

TEST(StaplerTool, LinesAndStatuses) {
    TempDir dir;
    const std::string app = universalApp(dir);
    auto stapler = [](std::vector<std::string> args) {
        args.insert(args.begin(), "validate");
        return test::runStandin("stapler", args);
    };

    test::ToolRun r = stapler({app});
    EXPECT_EQ(r.status, 65);
    EXPECT_EQ(r.out, "Processing: " + app + "\nExample.app does not have a ticket stapled to it.\n");

    // Genuine under the test root only: the tool trusts Apple's ticket root alone.
    test::writeFile(app + "/Contents/CodeResources", ticketNaming(digestsOf(app)));
    r = stapler({app});
    EXPECT_EQ(r.status, 65);
    EXPECT_EQ(r.out, "Processing: " + app + "\nCould not validate ticket for " + app +
                         "\nThe validate action failed! Error 65.\n");

    // Apple's own ticket: genuine, and -v says what it is, but it names other code.
    test::writeFile(app + "/Contents/CodeResources", test::realTicket());
    r = stapler({"-v", app});
    EXPECT_EQ(r.status, 65);
    const auto lines = test::lines(r.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Stapled ticket: issued 2018-11-04 05:03:19 UTC, naming 11 hashes");
    EXPECT_EQ(lines[2],
              "Signed by: Software Ticket Signing, issued by Apple System Integration CA 4, issued by "
              "Apple Root CA - G3");
    EXPECT_EQ(lines[3].rfind("Does not name: x86_64 CDHash (SHA-256) ", 0), 0u) << r.out;
    EXPECT_EQ(lines.back(), "The validate action failed! Error 65.");

    // The service asked through the tool: the same ticket is genuine and still does not name the app.
    LoopbackServer server([](const std::string&) { return HttpReply{200, lookupReply(test::realTicket())}; });
    r = stapler({"--online", "--ticket-service-url", server.url(), app});
    EXPECT_EQ(r.status, 65);
    EXPECT_NE(r.out.find(": the service's ticket is genuine but does not name this item.\n"), std::string::npos)
        << r.out;

    // A name made to print a verdict of its own stays on its line, escaped.
    const std::string evil = universalApp(dir, "X.app\nThe validate action worked!");
    r = stapler({evil});
    EXPECT_EQ(r.status, 65);
    for (const auto& line : test::lines(r.out)) EXPECT_NE(line, "The validate action worked!");

    EXPECT_EQ(test::runStandin("stapler", {"--help"}).status, 0);
    EXPECT_EQ(test::runStandin("stapler", {"staple", app}).status, 64);
    EXPECT_EQ(stapler({app, app}).status, 64);
    r = stapler({dir / "missing"});
    EXPECT_EQ(r.status, 65);
    EXPECT_EQ(r.out, "Processing: " + (dir / "missing") + "\nmissing does not have a ticket stapled to it.\n");
}

// spctl --online through the shipped client, on a real Developer ID tool: whatever the service
// answers, nothing it can return without Apple's key makes the tool notarized, and offline (the
// default) nothing is asked at all.
TEST(StaplerTool, SpctlAsksTheServiceOnlyWhenToldAndNeverTakesItsWordAlone) {
    const std::string tool = std::string(TESSARIN_CODESIGN_SAMPLES) + "/sentry_cli-darwin-3.8.0/package/bin/sentry-cli";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "the fetched samples are missing";
    const std::vector<ItemDigest> digests = digestsOf(tool);
    ASSERT_FALSE(digests.empty());

    struct Row {
        const char* what;
        std::string reply;
        std::string note;
    };
    const std::vector<Row> rows = {
        {"no record", kNotFoundReply, "note: the online lookup found no ticket for this code"},
        {"Apple's ticket for other code", lookupReply(test::realTicket()),
         "note: the online lookup returned a ticket that does not name this code"},
        {"a ticket naming it under another root", lookupReply(ticketNaming(digests)),
         "note: the online lookup returned a ticket that was not accepted: its certificates do not reach Apple's "
         "ticket root at the time it was issued"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        LoopbackServer server([&](const std::string&) { return HttpReply{200, row.reply}; });
        test::ToolRun r = test::runStandin("spctl", {"-a", "-vv", "-t", "install", tool});
        EXPECT_TRUE(server.requests().empty());
        r = test::runStandin("spctl",
                             {"-a", "-vv", "-t", "install", "--online", "--ticket-service-url", server.url(), tool});
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(r.err.find("source=Notarized"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("\n" + row.note + "\n"), std::string::npos) << r.err;
        const auto requests = server.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_NE(requests[0].find(ticketRecordName(digests[0].digest, digests[0].hashType)), std::string::npos)
            << requests[0];
    }
    test::ToolRun refused = test::runStandin("spctl", {"-a", "-vv", "-t", "install", "--online", "--ticket-service-url",
                                                       LoopbackServer::refusingUrl(), tool});
    EXPECT_NE(refused.err.find("\nnote: the online lookup failed: Apple's ticket service could not be reached (the "
                               "connection failed).\n"),
              std::string::npos)
        << refused.err;
}
