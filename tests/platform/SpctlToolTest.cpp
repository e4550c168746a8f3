// Assessment: the policy applied to signed fixtures under test anchors, and the spctl stand-in's
// lines and statuses as the app reads them (it trusts only Apple's root).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "ToolRun.h"
#include "XarBuilder.h"
#include "package/Package.h"
#include "tools/print/AssessmentText.h"
#include "tools/print/CodeText.h"
#include "tools/print/PackageReport.h"
#include "verify/Assessment.h"

using namespace tessarin;
using tessarin::test::LeafKind;
using tessarin::test::lines;
using tessarin::test::SigningChain;
using tessarin::test::TempDir;
using tessarin::test::ToolRun;

namespace {

constexpr std::int32_t kArm64 = 0x0100000C;

ToolRun spctl(const std::vector<std::string>& args) { return test::runStandin("spctl", args); }

// A tool's signing options: the test team, and the hardened runtime (as code meant for notarization is
// signed) unless `runtime` is 0.
test::SignOptions toolOptions(test::CmsSigner signer, std::uint32_t runtime = 0x20500) {
    test::SignOptions o;
    o.identifier = "com.example.fixture";
    o.teamId = SigningChain::teamId();
    o.runtime = runtime;
    if (runtime) o.flags = 0x10000;  // CS_RUNTIME
    o.cms = std::move(signer);
    return o;
}

// `timestampAt`: the time the token proves, when not the signing time.
std::string signedFixture(const TempDir& dir, LeafKind kind, bool expired = false, bool timestamp = true,
                          std::optional<std::time_t> timestampAt = std::nullopt) {
    test::CmsOptions cms;
    cms.timestamp = timestamp;
    cms.timestampTime = timestampAt;
    if (expired) cms.signingTime = std::time(nullptr) - 2 * 365 * 24 * 3600;
    std::string path = dir / "fixture";
    test::writeFile(path, test::signMachO(test::thinMachO(kArm64, 0),
                                          toolOptions(SigningChain::shared().signer(kind, expired, cms))));
    return path;
}

// A bundle of `kind` and package type with one resource, signed by `signer` with the hardened runtime,
// sealed with files2/rules2 unless `version1Seal`.
std::string signedBundle(const TempDir& dir, const std::string& name, test::BundleBuilder::Kind kind,
                         const std::string& packageType, const test::CmsSigner& signer, bool version1Seal = false) {
    const std::string stem = name.substr(0, name.find('.'));
    const std::string path = test::BundleBuilder(dir / name, kind)
                                 .info("CFBundlePackageType", PlistValue(packageType))
                                 .executable(stem, test::thinMachO(kArm64, 0))
                                 .resource("a.txt", "a")
                                 .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example." + stem;
    o.code.teamId = SigningChain::teamId();
    o.code.flags = 0x10000;  // CS_RUNTIME
    o.code.runtime = 0x20500;
    o.code.cms = signer;
    o.version1Only = version1Seal;
    test::signBundle(path, o);
    return path;
}

// An app signed for the Mac App Store, with the store's receipt added after signing as the store adds it.
std::string appStoreApp(const TempDir& dir, bool receiptByReceiptSigner = true) {
    const std::string app = signedBundle(dir, "Store.app", test::BundleBuilder::Kind::App, "APPL",
                                         SigningChain::shared().signer(LeafKind::MacAppStore));
    const std::string payload = "receipt payload";
    test::writeFile(
        app + "/Contents/_MASReceipt/receipt",
        SigningChain::shared().signReceipt(test::Bytes(payload.begin(), payload.end()), !receiptByReceiptSigner));
    return app;
}

}  // namespace

// Single files by signer, expiry and trust: only a Developer ID or Apple leaf under a trusted root,
// intact, and valid at a proven time (or now, whose expiry is then forgiven) makes code runnable.
TEST(AssessmentPolicy, SingleFilesAreJudgedBySignerExpiryAndTrust) {
    TempDir dir;
    auto fixture = [&](const char* name, LeafKind kind, bool expired = false, bool timestamp = true,
                       std::optional<std::time_t> at = std::nullopt) {
        std::filesystem::rename(signedFixture(dir, kind, expired, timestamp, at), dir / name);
        return dir / name;
    };
    const std::string devId = fixture("devid", LeafKind::DeveloperIDApplication);
    const std::string apple = fixture("apple", LeafKind::SoftwareSigning, true, false);
    const std::string late =
        fixture("late", LeafKind::DeveloperIDApplication, true, true, std::time(nullptr) - 365 * 24 * 3600 / 2);
    std::string text = test::readFile(devId);
    text[200] ^= 0x01;  // inside the code's first page
    test::writeFile(dir / "tampered", text);
    test::writeFile(dir / "adhoc", test::signMachO(test::thinMachO(kArm64, 0), {}));
    test::writeFile(dir / "unsigned", test::thinMachO(kArm64, 0));
    const TrustAnchors ours = SigningChain::shared().anchors(), foreign = SigningChain::unrelated().anchors();
    const std::string none = "no usable signature";
    struct Row {
        const char* what;
        std::string path;
        const TrustAnchors* anchors;
        bool accepted;
        std::string source;  // empty: not checked
    };
    const Row rows[] = {
        {"Developer ID without a ticket", devId, &ours, true, "Developer ID"},
        {"Developer ID Installer leaf on code", fixture("installer", LeafKind::DeveloperIDInstaller), &ours, false,
         none},
        {"expired, timestamped while valid", fixture("stamped", LeafKind::DeveloperIDApplication, true), &ours, true,
         "Developer ID"},
        // Without a timestamp the chain is judged now and its expiry forgiven, Apple's own code's too.
        {"expired, no timestamp", fixture("expired", LeafKind::DeveloperIDApplication, true, false), &ours, true,
         "Developer ID"},
        {"Apple's, expired, no timestamp", apple, &ours, true, "Apple System"},
        {"a timestamp proving a time after the leaf expired", late, &ours, false, none},
        {"under an untrusted root", devId, &foreign, false, none},
        {"a code page altered", dir / "tampered", &ours, false, ""},
        {"ad hoc", dir / "adhoc", &ours, false, none},
        {"unsigned", dir / "unsigned", &ours, false, ""},
        {"missing", dir / "missing", &ours, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Assessment a =
            assessCodeVerdict(verifyCode(row.path, {}, *row.anchors), AssessmentType::Execute, row.anchors->tickets);
        EXPECT_EQ(a.accepted, row.accepted) << assessmentReason(a);
        EXPECT_EQ(row.source.empty() ? "" : assessmentSource(a), row.source);
        if (row.path == devId && row.anchors == &ours) {
            EXPECT_EQ(a.origin, "Developer ID Application: Test Corp (" + SigningChain::teamId() + ")");
            EXPECT_EQ(assessmentNotes(a), std::vector<std::string>{"note: notarization could not be confirmed "
                                                                   "offline (no stapled ticket)"});
        }
        if (row.path == apple) {
            EXPECT_EQ(a.origin, "Software Signing");
            EXPECT_TRUE(assessmentNotes(a).empty());
        }
    }
    // The late timestamp fails the signature itself, with Apple's error.
    CodeVerdict v = verifyCode(late, {}, ours);
    EXPECT_EQ(v.cause, ProblemKind::ChainExpired);
    EXPECT_EQ(codeFailureSentence(v), "CSSMERR_TP_CERT_EXPIRED");
}

TEST(AssessmentPolicy, OnlyAGenuineTicketNamingTheCodeMakesItNotarized) {
    TempDir dir;
    const TrustAnchors anchors = SigningChain::shared().anchors();
    CodeVerdict v = verifyCode(signedFixture(dir, LeafKind::DeveloperIDApplication), {}, anchors);
    ASSERT_TRUE(v.valid) << codeFailureSentence(v);
    ASSERT_FALSE(v.codeDirectories.empty());
    const Bytes& hash = v.codeDirectories.back().cdhash;
    v.ticketStapled = true;
    v.ticket = test::TicketBuilder().naming(hash).build();
    Assessment a = assessCodeVerdict(v, anchors.tickets);
    EXPECT_TRUE(a.accepted);
    EXPECT_EQ(assessmentSource(a), "Notarized Developer ID");
    EXPECT_TRUE(assessmentNotes(a).empty());

    // The same ticket where only Apple's ticket root is trusted, a genuine ticket for other code, and
    // bytes shaped like a ticket that hold the CDHash: each leaves plain Developer ID and says why.
    a = assessCodeVerdict(v, TicketAnchors::apple());
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(assessmentNotes(a), std::vector<std::string>{"note: notarization could not be confirmed offline (the "
                                                           "stapled ticket was not accepted: its certificates do "
                                                           "not reach Apple's ticket root at the time it was issued)"});
    v.ticket = test::TicketBuilder().naming(Bytes(20, 0x5a)).build();
    a = assessCodeVerdict(v, anchors.tickets);
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(assessmentNotes(a),
              std::vector<std::string>{
                  "note: notarization could not be confirmed offline (the stapled ticket does not name this code)"});
    v.ticket = {'s', '8', 'c', 'h', 1, 0, 0, 0};
    v.ticket.insert(v.ticket.end(), hash.begin(), hash.end());
    a = assessCodeVerdict(v, anchors.tickets);
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(a.ticket.failure, TicketFailure::Malformed);
    EXPECT_EQ(assessmentNotes(a),
              std::vector<std::string>{
                  "note: notarization could not be confirmed offline (the stapled ticket was not accepted: it is not a "
                  "well-formed notarization ticket)"});
}

TEST(AssessmentPolicy, AppStoreAppsAreJudgedByTheirLeafAndShowTheirReceipt) {
    const auto anchors = SigningChain::shared().anchors();
    TempDir dir, other;
    const std::string app = appStoreApp(dir);
    Assessment a = assessPath(app, AssessmentType::Execute, anchors);
    EXPECT_TRUE(a.accepted) << assessmentReason(a);
    EXPECT_EQ(assessmentSource(a), "Mac App Store");
    EXPECT_EQ(assessmentNotes(a), std::vector<std::string>{"note: Mac App Store receipt present, signed by Mac "
                                                           "App Store and iTunes Store Receipt Signing"});
    // The shipped tools trust only Apple's roots: a test chain's receipt does not reach them.
    CodeVerdict v = verifyCode(app, {}, TrustAnchors::appleRoots());
    ASSERT_TRUE(v.receipt);
    EXPECT_FALSE(v.receipt->chainsToApple);
    // A receipt signed by anyone else is shown as such and decides nothing.
    a = assessPath(appStoreApp(other, false), AssessmentType::Execute, anchors);
    EXPECT_TRUE(a.accepted);
    ASSERT_TRUE(a.receipt);
    EXPECT_FALSE(a.receipt->chainsToApple);
    EXPECT_TRUE(a.receipt->signatureValid);
    // Only the receipt itself, a regular file, lies outside the seal.
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> unsealed = {
        {"extra file", [](const std::string& c) { test::writeFile(c + "/_MASReceipt/extra", std::string("x")); }},
        {"receipt as a link",
         [](const std::string& c) {
             std::filesystem::rename(c + "/_MASReceipt/receipt", c + "/../../receipt");
             std::filesystem::create_symlink("../../../receipt", c + "/_MASReceipt/receipt");
         }},
        {"receipt as a folder",
         [](const std::string& c) {
             std::filesystem::remove(c + "/_MASReceipt/receipt");
             test::writeFile(c + "/_MASReceipt/receipt/receipt", std::string("x"));
         }},
    };
    for (const auto& [name, change] : unsealed) {
        TempDir each;
        const std::string changed = appStoreApp(each);
        change(changed + "/Contents");
        a = assessPath(changed, AssessmentType::Execute, anchors);
        EXPECT_FALSE(a.accepted) << name;
        EXPECT_EQ(assessmentReason(a), "a sealed resource is missing or invalid") << name;
    }
}

// How bare tools fare under each policy is in the tables below; bytes that are neither code nor a
// package are no installer package to the install policy.
TEST(AssessmentPolicy, PlainTextIsNoInstallerPackage) {
    TempDir dir;
    test::writeFile(dir / "notes.txt", "plain text");
    EXPECT_EQ(
        assessmentReason(assessPath(dir / "notes.txt", AssessmentType::Install, SigningChain::shared().anchors())),
        "not a flat installer package");
}

namespace {

constexpr std::time_t kMay2019 = 1557878400;   // 2019-05-15 00:00 GMT
constexpr std::time_t kJune2019 = 1559347200;  // 2019-06-01 00:00 GMT: from here on, signing is not legacy

// A Developer ID tool whose leaf carries `account` as its developer account creation date.
struct DeveloperIdCode {
    std::string path;
    CodeVerdict verdict;
};

DeveloperIdCode developerIdCode(const TempDir& dir, const std::string& name, const std::optional<Bytes>& account,
                                std::optional<std::time_t> timestamp, std::uint32_t runtime = 0) {
    const SigningChain& chain = SigningChain::shared();
    test::CmsOptions cms;
    cms.timestamp = timestamp.has_value();
    cms.signingTime = timestamp.value_or(0);
    DeveloperIdCode c{dir / name, {}};
    test::writeFile(c.path, test::signMachO(test::thinMachO(kArm64, 0),
                                            toolOptions(chain.signer(chain.developerIdLeaf(account), cms), runtime)));
    c.verdict = verifyCode(c.path, {}, chain.anchors());
    return c;
}

Bytes withTrailingNull(Bytes der) {
    der.push_back(0x05);
    der.push_back(0x00);
    return der;
}

// Answers lookups from a table keyed by a digest's first 20 bytes, as records are named, and records
// what it was asked.
class FakeTicketService : public TicketService {
public:
    std::map<Bytes, TicketLookup> answers;
    std::vector<std::pair<Bytes, std::uint8_t>> asked;
    TicketLookup lookUp(const Bytes& digest, std::uint8_t hashType) override {
        asked.emplace_back(digest, hashType);
        auto it = answers.find(Bytes(digest.begin(), digest.begin() + std::min<std::size_t>(20, digest.size())));
        if (it != answers.end()) return it->second;
        TicketLookup miss;
        miss.status = TicketLookup::Status::NotFound;
        return miss;
    }
};

TicketLookup found(Bytes ticket) {
    TicketLookup l;
    l.status = TicketLookup::Status::Found;
    l.ticket = std::move(ticket);
    return l;
}

// A bundle signed by a Developer ID leaf with `account` as its creation date.
std::string developerIdBundle(const TempDir& dir, const std::string& name, test::BundleBuilder::Kind kind,
                              const std::string& packageType, const std::optional<Bytes>& account,
                              bool version1Seal = false) {
    const SigningChain& chain = SigningChain::shared();
    return signedBundle(dir, name, kind, packageType, chain.signer(chain.developerIdLeaf(account), test::CmsOptions{}),
                        version1Seal);
}

}  // namespace

// The rules by account date and timestamp, and the notes: until 2020-02-03 the notary service took
// code without the hardened runtime, so only a secure timestamp from then on rules notarization out;
// an unproven date, or a genuine ticket, says nothing.
TEST(AssessmentPolicy, DeveloperIDRulesByTypeAccountDateTimestampAndTicket) {
    const std::string notarized = "Notarized Developer ID", plain = "Developer ID", denied = "Unnotarized Developer ID";
    const std::time_t now = std::time(nullptr);
    const Bytes microsoft = test::extensionDate("20120223000000Z"), deno = test::extensionDate("20231030000000Z");
    const std::string offline = "note: notarization could not be confirmed offline (no stapled ticket)";
    const std::string otherCode =
        "note: notarization could not be confirmed offline (the stapled ticket does not name this code)";
    const std::string unasked = "note: no online lookup was made";
    const std::string noRuntime = "note: this code cannot have been notarized: it does not use the hardened runtime";
    const std::vector<std::string> two = {offline, unasked}, three = {offline, unasked, noRuntime},
                                   forOther = {otherCode, unasked}, none = {};
    constexpr std::time_t kFeb2020 = 1580688000;  // 2020-02-03 00:00 GMT
    enum Ticket { kNoTicket, kTicket, kOtherCodesTicket };
    struct Row {
        const char* what;
        std::optional<Bytes> account;
        std::optional<std::time_t> timestamp;
        Ticket ticket;
        std::string execute, installAndOpen;
        std::uint32_t runtime = 0;
        const std::vector<std::string>* installNotes = nullptr;  // not checked when none
    };
    const Row rows[] = {
        {"Microsoft-style account, timestamped before June 2019", microsoft, kMay2019, kNoTicket, plain, plain},
        {"Microsoft-style account, timestamped now", microsoft, now, kNoTicket, plain, denied},
        {"Microsoft-style account, no timestamp", microsoft, std::nullopt, kNoTicket, plain, denied},
        {"older account, timestamped at the legacy cutoff", microsoft, kJune2019, kNoTicket, plain, denied},
        {"older account, timestamped a second before it", microsoft, kJune2019 - 1, kNoTicket, plain, plain},
        {"no account date, timestamped before June 2019", std::nullopt, kMay2019, kNoTicket, plain, plain},
        {"no account date, timestamped now", std::nullopt, now, kNoTicket, plain, denied},
        {"Deno-style account", deno, now, kNoTicket, denied, denied},
        {"Deno-style account, notarized", deno, now, kTicket, notarized, notarized},
        {"Microsoft-style account, notarized", microsoft, now, kTicket, notarized, notarized},
        {"account from 2019-04-06 23:59:59", test::extensionDate("20190406235959Z"), kMay2019, kNoTicket, plain, plain},
        {"account from 2019-04-07", test::extensionDate("20190407000000Z"), kMay2019, kNoTicket, plain, denied},
        {"account from 2019-04-08", test::extensionDate("20190408000000Z"), kMay2019, kNoTicket, denied, denied},
        // An unreadable date is taken as a new account, never as none.
        {"date not in DER's form", test::extensionDate("2012-02-23T00Z"), kMay2019, kNoTicket, denied, denied},
        // Apple reads the date only from a UTF8String ("extension value wrong tag" otherwise).
        {"date as a GeneralizedTime", test::extensionDate("20120223000000Z", 0x18), kMay2019, kNoTicket, denied,
         denied},
        {"date as UTCTime", test::extensionDate("120223000000Z", 0x17), kMay2019, kNoTicket, denied, denied},
        {"date as a printable string", test::extensionDate("20120223000000Z", 0x13), kMay2019, kNoTicket, denied,
         denied},
        {"month 13", test::extensionDate("20121323000000Z"), kMay2019, kNoTicket, denied, denied},
        {"30 February", test::extensionDate("20120230000000Z"), kMay2019, kNoTicket, denied, denied},
        {"bytes after the date", withTrailingNull(microsoft), kMay2019, kNoTicket, denied, denied},
        {"empty extension value", Bytes{}, kMay2019, kNoTicket, denied, denied},
        {"runtime, timestamped now", deno, now, kNoTicket, denied, denied, 0x20500, &two},
        {"no runtime, timestamped now", deno, now, kNoTicket, denied, denied, 0, &three},
        {"no runtime, timestamped 2020-02-03", deno, kFeb2020, kNoTicket, denied, denied, 0, &three},
        {"no runtime, timestamped a second before", deno, kFeb2020 - 1, kNoTicket, denied, denied, 0, &two},
        {"no runtime, timestamped in May 2019", deno, kMay2019, kNoTicket, denied, denied, 0, &two},
        {"no runtime, no timestamp", deno, std::nullopt, kNoTicket, denied, denied, 0, &two},
        {"no runtime, now, a ticket for other code", deno, now, kOtherCodesTicket, denied, denied, 0, &forOther},
        {"no runtime, May 2019, notarized", deno, kMay2019, kTicket, notarized, notarized, 0, &none},
    };
    TempDir dir;
    const TicketAnchors tickets = SigningChain::shared().anchors().tickets;
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DeveloperIdCode code =
            developerIdCode(dir, "tool" + std::to_string(n++), row.account, row.timestamp, row.runtime);
        ASSERT_TRUE(code.verdict.valid) << codeFailureSentence(code.verdict);
        ASSERT_EQ(code.verdict.cms->timestampTime.has_value(), row.timestamp.has_value());
        if (row.ticket != kNoTicket) {
            test::TicketBuilder ticket;
            for (Bytes named :
                 {code.verdict.codeDirectories.front().cdhash, code.verdict.codeDirectories.back().cdhash}) {
                if (row.ticket == kOtherCodesTicket) named[0] ^= 0xff;
                ticket.naming(named);
            }
            code.verdict.ticketStapled = true;
            code.verdict.ticket = ticket.build();
        }
        for (AssessmentType type : {AssessmentType::Execute, AssessmentType::Install, AssessmentType::Open}) {
            const std::string& expected = type == AssessmentType::Execute ? row.execute : row.installAndOpen;
            Assessment a = assessCodeVerdict(code.verdict, type, tickets);
            EXPECT_EQ(assessmentSource(a), expected) << "type " << static_cast<int>(type);
            EXPECT_EQ(a.accepted, expected != denied) << "type " << static_cast<int>(type);
            if (type == AssessmentType::Install && row.installNotes) EXPECT_EQ(assessmentNotes(a), *row.installNotes);
        }
    }

    // A genuine ticket the online lookup returned, even for other code, silences the note too.
    DeveloperIdCode code = developerIdCode(dir, "looked-up", deno, now, 0);
    FakeTicketService service;
    Bytes other = code.verdict.codeDirectories.back().cdhash;
    other[0] ^= 0xff;
    for (const auto& cd : code.verdict.codeDirectories)
        service.answers[Bytes(cd.cdhash.begin(), cd.cdhash.begin() + 20)] =
            found(test::TicketBuilder().naming(other).build());
    Assessment online = assessCodeVerdict(code.verdict, AssessmentType::Install, tickets, &service);
    EXPECT_EQ(online.lookup.outcome, OnlineLookup::Outcome::Forged);
    for (const auto& note : assessmentNotes(online)) EXPECT_NE(note, noRuntime);
}

// Apple's order (PolicyEngine::evaluateCode): validation first, in which execution asks for an app;
// then the rule list, notarization among its rules. A rule that turns the code away speaks before
// the app check and before the strict-validation errors the rules are consulted over; code the rules
// allow is refused for them, naming only its signer. Anything else failing validation ends it there.
TEST(AssessmentPolicy, ValidationAppLikenessRulesAndNotarizationInApplesOrder) {
    using Kind = test::BundleBuilder::Kind;
    TempDir dir;
    const TrustAnchors anchors = SigningChain::shared().anchors();
    const std::optional<Bytes> oldTeam;  // no creation date: the execution rule allows it unnotarized
    const std::optional<Bytes> newTeam = test::extensionDate("20231030000000Z");
    const std::time_t now = std::time(nullptr);
    const std::string notAnApp = "the code is valid but does not seem to be an app";

    const std::string oldTool = developerIdCode(dir, "old-tool", oldTeam, now, 0x20500).path;
    const DeveloperIdCode newTool = developerIdCode(dir, "new-tool", newTeam, now, 0x20500);
    std::string bytes = test::readFile(newTool.path);
    bytes[200] ^= 0x01;  // inside the code's first page
    test::writeFile(dir / "modified-tool", bytes);
    FakeTicketService notary;  // knows the new tool's CDHashes
    test::TicketBuilder ticket;
    for (const auto& cd : newTool.verdict.codeDirectories) ticket.naming(cd.cdhash);
    for (const auto& cd : newTool.verdict.codeDirectories)
        notary.answers[Bytes(cd.cdhash.begin(), cd.cdhash.begin() + 20)] = found(ticket.build());

    const std::string oldApp = developerIdBundle(dir, "Old.app", Kind::App, "APPL", oldTeam);
    const std::string newApp = developerIdBundle(dir, "New.app", Kind::App, "APPL", newTeam);
    const std::string plugIn = developerIdBundle(dir, "PlugIn.bundle", Kind::App, "BNDL", oldTeam);
    const std::string framework = developerIdBundle(dir, "Kit.framework", Kind::Framework, "FMWK", oldTeam);
    const std::string oldLoose = developerIdBundle(dir, "OldLoose.app", Kind::App, "APPL", oldTeam);
    const std::string newLoose = developerIdBundle(dir, "NewLoose.app", Kind::App, "APPL", newTeam);
    const std::string looseInPlugIn = developerIdBundle(dir, "LoosePlugIn.bundle", Kind::App, "BNDL", oldTeam);
    for (const std::string& bundle : {oldLoose, newLoose, looseInPlugIn})
        test::writeFile(bundle + "/stray.txt", "beside Contents");  // unsealed in the bundle root
    const std::string oldV1 = developerIdBundle(dir, "OldV1.app", Kind::App, "APPL", oldTeam, true);
    const std::string codeless = test::BundleBuilder(dir / "Strings.bundle").resource("a.txt", "a").build();
    test::BundleSignOptions strings;
    strings.code.identifier = "com.example.Strings";
    strings.code.teamId = SigningChain::teamId();
    strings.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    test::signBundle(codeless, strings);
    const std::string newV1 = developerIdBundle(dir, "NewV1.app", Kind::App, "APPL", newTeam, true);

    struct Row {
        const char* what;
        std::string path;
        TicketService* service;
        bool accepted;
        std::string reason, source;
    };
    const std::string unsealed = "unsealed contents present in the bundle root";
    const std::string v1 = "resource envelope is obsolete (version 1 signature)";
    const Row rows[] = {
        {"a tool the rules allow", oldTool, nullptr, false, notAnApp, ""},
        {"a new team's tool, notarized", newTool.path, &notary, false, notAnApp, ""},
        {"a new team's tool, not notarized", newTool.path, nullptr, false, "", "Unnotarized Developer ID"},
        {"a modified tool", dir / "modified-tool", &notary, false,
         "invalid signature (code or signature have been modified)", "no usable signature"},
        {"an app", oldApp, nullptr, true, "", "Developer ID"},
        {"a new team's app", newApp, nullptr, false, "", "Unnotarized Developer ID"},
        {"a plug-in", plugIn, nullptr, false, notAnApp, ""},
        {"a framework", framework, nullptr, false, notAnApp, ""},
        {"a bundle without code", codeless, nullptr, false, notAnApp, ""},
        {"an app with loose files in its root", oldLoose, nullptr, false, unsealed, ""},
        {"a new team's app with loose files in its root", newLoose, nullptr, false, "", "Unnotarized Developer ID"},
        {"a plug-in with loose files in its root", looseInPlugIn, nullptr, false, unsealed, ""},
        {"an app with a version 1 seal", oldV1, nullptr, false, v1, ""},
        {"a new team's app with a version 1 seal", newV1, nullptr, false, "", "Unnotarized Developer ID"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Assessment a = assessPath(row.path, AssessmentType::Execute, anchors, row.service);
        EXPECT_EQ(a.accepted, row.accepted);
        EXPECT_EQ(assessmentReason(a), row.reason);
        EXPECT_EQ(assessmentSource(a), row.source);
        // The signer is named whenever the rules were consulted.
        EXPECT_EQ(a.origin.empty(), row.source == "no usable signature") << a.origin;
    }
}

TEST(AssessmentPolicy, OnlineLookupNotarizesOnlyWithAGenuineTicketNamingTheSlice) {
    TempDir dir;
    const TicketAnchors tickets = SigningChain::shared().anchors().tickets;
    DeveloperIdCode code =
        developerIdCode(dir, "tool", test::extensionDate("20231030000000Z"), std::time(nullptr), 0x20500);
    ASSERT_TRUE(code.verdict.valid) << codeFailureSentence(code.verdict);
    ASSERT_EQ(code.verdict.codeDirectories.size(), 2u);
    const Bytes& sha1 = code.verdict.codeDirectories[0].cdhash;
    const Bytes& sha256 = code.verdict.codeDirectories[1].cdhash;
    auto judge = [&](FakeTicketService& service) {
        return assessCodeVerdict(code.verdict, AssessmentType::Install, tickets, &service);
    };

    // Found and genuine: notarized, and each CDHash was asked for under its own record type.
    FakeTicketService genuine;
    genuine.answers[sha256] = found(test::TicketBuilder().naming(sha256).build());
    Assessment a = judge(genuine);
    EXPECT_TRUE(a.accepted);
    EXPECT_EQ(assessmentSource(a), "Notarized Developer ID");
    EXPECT_EQ(a.lookup.outcome, OnlineLookup::Outcome::Verified);
    EXPECT_EQ(genuine.asked, (std::vector<std::pair<Bytes, std::uint8_t>>{{sha1, 1}, {sha256, 2}}));
    EXPECT_EQ(assessmentNotes(a),
              std::vector<std::string>{"note: notarized by a ticket the online lookup returned (no stapled ticket)"});

    // A ticket from a look-alike of Apple's ticket chain, and a genuine one for other code: neither counts.
    FakeTicketService forged;
    forged.answers[sha256] = found(test::TicketBuilder(test::makeTicketSigners(true)).naming(sha256).build());
    a = judge(forged);
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(assessmentSource(a), "Unnotarized Developer ID");
    EXPECT_EQ(a.lookup.outcome, OnlineLookup::Outcome::Forged);
    EXPECT_EQ(a.lookup.ticket.failure, TicketFailure::ChainUntrusted);
    ASSERT_EQ(assessmentNotes(a).size(), 2u);
    EXPECT_EQ(assessmentNotes(a)[0], "note: notarization could not be confirmed (no stapled ticket)");
    EXPECT_EQ(assessmentNotes(a)[1].rfind("note: the online lookup returned a ticket that was not accepted: ", 0), 0u);
    FakeTicketService other;
    other.answers[sha256] = found(test::TicketBuilder().naming(Bytes(20, 0x5a)).build());
    a = judge(other);
    EXPECT_EQ(assessmentSource(a), "Unnotarized Developer ID");
    EXPECT_EQ(assessmentNotes(a).at(1), "note: the online lookup returned a ticket that does not name this code");

    // No record, and no answer at all.
    FakeTicketService empty;
    a = judge(empty);
    EXPECT_EQ(a.lookup.outcome, OnlineLookup::Outcome::NotFound);
    EXPECT_EQ(assessmentNotes(a).at(1), "note: the online lookup found no ticket for this code");
    FakeTicketService down;
    TicketLookup failure;
    failure.detail = "the network is unreachable";
    down.answers[sha1] = failure;
    a = judge(down);
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(a.lookup.outcome, OnlineLookup::Outcome::Failed);
    EXPECT_EQ(assessmentNotes(a).at(1), "note: the online lookup failed: the network is unreachable");
    EXPECT_EQ(down.asked.size(), 1u);  // a service that failed once is not waited for again

    // A universal file: each slice is looked up by its own CDHashes, and only a ticket for every slice notarizes it.
    {
        const SigningChain& chain = SigningChain::shared();
        const test::CmsSigner signer = chain.signer(chain.developerIdLeaf(test::extensionDate("20231030000000Z")), {});
        test::writeFile(dir / "fat",
                        test::signMachOFile(test::fatMachO({{0x01000007, 3}, {kArm64, 0}}), toolOptions(signer)));
        CodeVerdict fat = verifyCode(dir / "fat", {}, chain.anchors());
        ASSERT_TRUE(fat.valid) << codeFailureSentence(fat);
        ASSERT_EQ(fat.slices.size(), 2u);
        FakeTicketService service;
        service.answers[fat.slices[0].cdhashes.back()] =
            found(test::TicketBuilder().naming(fat.slices[0].cdhashes.back()).build());
        Assessment half = assessCodeVerdict(fat, AssessmentType::Install, tickets, &service);
        EXPECT_EQ(assessmentSource(half), "Unnotarized Developer ID");
        EXPECT_EQ(half.decidingSlice, fat.slices[1].architecture);
        EXPECT_EQ(service.asked.size(), 4u);  // two CodeDirectories in each slice
        service.answers[fat.slices[1].cdhashes.back()] =
            found(test::TicketBuilder().naming(fat.slices[1].cdhashes.back()).build());
        EXPECT_EQ(assessmentSource(assessCodeVerdict(fat, AssessmentType::Install, tickets, &service)),
                  "Notarized Developer ID");
    }

    // A stapled ticket that notarizes the code leaves nothing to ask.
    code.verdict.ticketStapled = true;
    code.verdict.ticket = test::TicketBuilder().naming(sha256).build();
    FakeTicketService unused;
    EXPECT_EQ(assessmentSource(judge(unused)), "Notarized Developer ID");
    EXPECT_TRUE(unused.asked.empty());
}

// A usage mistake exits 2 and says so; how documents are assessed is judged (and turned away: no
// signature), not refused as one.
TEST(SpctlTool, BadUsageExitsTwo) {
    const std::vector<std::string> mistakes[] = {{},
                                                 {"-vv", "/bin/true"},
                                                 {"-a", "-t", "bogus", "/bin/true"},
                                                 {"-a", "-q", "/bin/true"},
                                                 {"-a", "--context", "context:other", "/bin/true"},
                                                 {"-a", "-t", "open", "--context"},
                                                 {"-a"}};
    for (const auto& args : mistakes) {
        ToolRun r = spctl(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(spctl({"-a", "-t", "open", "--context", "context:primary-signature", "/bin/true"}).status, 3);
    EXPECT_EQ(spctl({"-a", "--type=open", "--context=context:primary-signature", "/bin/true"}).status, 3);
}
namespace {

test::XarBuild signedPackage() { return test::buildXar(test::signedProduct(SigningChain::shared())); }

// The table of contents' checksum: what a package's ticket names.
Bytes tocChecksum(const test::XarBuild& b) {
    return Bytes(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                 b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize));
}

Assessment assessPackage(const std::string& path, AssessmentType type = AssessmentType::Install,
                         TicketService* service = nullptr) {
    return assessPath(path, type, SigningChain::shared().anchors(), service);
}

}  // namespace

TEST(PackageAssessment, DeveloperIDInstallerNeedsATicketStapledOrFoundOnline) {
    TempDir dir;
    test::XarBuild b = signedPackage();
    test::writeFile(dir / "plain.pkg", b.bytes);
    // Signed now without a timestamp: not legacy, so both install and open rules want notarization.
    for (AssessmentType type : {AssessmentType::Install, AssessmentType::Open}) {
        Assessment plain = assessPackage(dir / "plain.pkg", type);
        EXPECT_FALSE(plain.accepted);
        EXPECT_EQ(assessmentSource(plain), "Unnotarized Developer ID");
        EXPECT_EQ(plain.origin, "Developer ID Installer: Test Corp (" + SigningChain::teamId() + ")");
        EXPECT_EQ(assessmentNotes(plain),
                  (std::vector<std::string>{"note: notarization could not be confirmed offline (no stapled ticket)",
                                            "note: no online lookup was made"}));
    }

    const Bytes digest = tocChecksum(b);
    test::writeFile(dir / "stapled.pkg", test::stapleTicket(b.bytes, test::TicketBuilder().naming(digest).build()));
    Assessment stapled = assessPackage(dir / "stapled.pkg");
    EXPECT_TRUE(stapled.accepted) << assessmentReason(stapled);
    EXPECT_EQ(assessmentSource(stapled), "Notarized Developer ID");

    Bytes other = digest;
    other[0] ^= 1;
    test::writeFile(dir / "other.pkg", test::stapleTicket(b.bytes, test::TicketBuilder().naming(other).build()));
    Assessment forOther = assessPackage(dir / "other.pkg");
    EXPECT_EQ(assessmentSource(forOther), "Unnotarized Developer ID");
    EXPECT_EQ(assessmentNotes(forOther).at(0),
              "note: notarization could not be confirmed offline (the stapled ticket does not name this package)");

    // Online, the table of contents' checksum is what is asked for, under its own algorithm's record type.
    FakeTicketService service;
    service.answers[Bytes(digest.begin(), digest.begin() + 20)] = found(test::TicketBuilder().naming(digest).build());
    Assessment online = assessPackage(dir / "plain.pkg", AssessmentType::Install, &service);
    EXPECT_TRUE(online.accepted) << assessmentText("plain.pkg", online, 2);
    EXPECT_EQ(assessmentSource(online), "Notarized Developer ID");
    ASSERT_EQ(service.asked.size(), 1u);
    EXPECT_EQ(service.asked[0].second, digest.size() == 20 ? 1 : 2);
}

TEST(PackageAssessment, ForgedTicketsOnAppsAndPackagesAreNamedAndNeverNotarize) {
    TempDir dir;
    const TrustAnchors codeAnchors = SigningChain::shared().anchors();
    const std::string app = developerIdBundle(dir, "Example.app", test::BundleBuilder::Kind::App, "APPL", {});
    CodeVerdict v = verifyCode(app, {}, codeAnchors);
    ASSERT_TRUE(v.valid) << codeFailureSentence(v);
    const Bytes cdhash = v.codeDirectories.back().cdhash;
    test::XarBuild b = signedPackage();
    const Bytes digest = tocChecksum(b);

    auto judged = [](const Assessment& a, const char* item, const std::string& name) {
        // Never notarized: plain Developer ID, accepted or not as the assessment type's rules say.
        EXPECT_NE(assessmentSource(a).find("Developer ID"), std::string::npos) << name;
        EXPECT_NE(assessmentSource(a), "Notarized Developer ID") << name;
        // One note names why: the ticket was refused, or names other code.
        const std::string refused =
            "note: notarization could not be confirmed offline (the stapled ticket was not accepted: ";
        const std::string other =
            std::string("note: notarization could not be confirmed offline (the stapled ticket does not name this ") +
            item + ")";
        std::string why;
        for (const auto& note : assessmentNotes(a))
            if (note.rfind(refused, 0) == 0 || note == other) why = note;
        EXPECT_FALSE(why.empty()) << name;
        EXPECT_EQ(name == "NamingOtherCode", why == other) << name << ": " << why;
    };
    for (const auto& forged : test::forgedTickets(cdhash)) {
        test::writeFile(app + "/Contents/CodeResources", forged.bytes);
        judged(assessPath(app, AssessmentType::Execute, codeAnchors), "code", forged.name);
    }
    for (const auto& forged : test::forgedTickets(digest)) {
        const std::string pkg = dir / (std::string(forged.name) + ".pkg");
        test::writeFile(pkg, test::stapleTicket(b.bytes, forged.bytes));
        judged(assessPath(pkg, AssessmentType::Install, codeAnchors), "package", forged.name);
        auto check = checkPackageSignature(pkg, codeAnchors, std::time(nullptr));
        ASSERT_TRUE(check) << check.error();
        const std::string report = packageSignatureReport(pkg, *check);
        EXPECT_EQ(report.find("trusted by the Apple notary service"), std::string::npos) << report;
        EXPECT_NE(report.find("   Notarization: the stapled ticket "), std::string::npos) << report;
    }
}

// The shipped tool trusts only Apple's roots: the test chains' signatures are no usable signature to
// it, as ad hoc and unsigned code and unsigned packages are.
TEST(SpctlTool, WhatHasNoUsableSignatureIsRejected) {
    TempDir dir;
    test::writeFile(dir / "adhoc", test::signMachO(test::thinMachO(kArm64, 0), {}));
    test::writeFile(dir / "plain", test::thinMachO(kArm64, 0));
    test::XarBuildOptions o;
    o.files = test::sampleProductFiles();
    test::writeFile(dir / "unsigned.pkg", test::buildXar(o).bytes);
    test::writeFile(dir / "signed.pkg", signedPackage().bytes);
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {dir / "adhoc", {"-a", "-vv", "-t", "exec"}},
        {dir / "plain", {"-a", "-vv", "-t", "exec"}},
        {signedFixture(dir, LeafKind::DeveloperIDApplication), {"--assess", "--verbose=2"}},
        {dir / "unsigned.pkg", {"-a", "-vv", "-t", "install"}},
        {dir / "signed.pkg", {"-a", "-vv", "-t", "install"}},
    };
    for (auto [item, args] : rows) {
        SCOPED_TRACE(item);
        args.push_back(item);
        ToolRun r = spctl(args);
        EXPECT_EQ(r.status, 3);
        EXPECT_TRUE(r.out.empty());
        auto l = lines(r.err);
        ASSERT_GE(l.size(), 2u) << r.err;
        EXPECT_EQ(l[0].rfind(item + ": rejected", 0), 0u) << l[0];
        EXPECT_EQ(l[1], "source=no usable signature");
    }
}
