// Stapled tickets as a stapling tool sees them: found beside a bundle's signature or after a flat
// package's archive, fetched when asked, and always judged the same way against the item's digests.
#include "verify/Stapling.h"

#include <sys/stat.h>

#include <algorithm>

#include "base/FileRead.h"
#include "base/MappedFile.h"
#include "codesign/CodeSignatureConstants.h"
#include "diskimage/Udif.h"
#include "notary/TicketConstants.h"
#include "package/Xar.h"
#include "package/XarConstants.h"
#include "verify/CodeSignVerifier.h"

namespace tessarin {
namespace {

bool isDirectory(const std::string& path, bool followLinks) {
    struct stat st {};
    const int r = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return r == 0 && S_ISDIR(st.st_mode);
}

// Any entry at all (a link, a FIFO, a directory): something stapled that is not a readable ticket
// must still count as stapled, so that it fails validation instead of passing for "no ticket".
bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string hashName(std::uint8_t csHashType) {
    switch (csHashType) {
    case CS_HASHTYPE_SHA1: return "SHA-1";
    case CS_HASHTYPE_SHA256: return "SHA-256";
    case CS_HASHTYPE_SHA256_TRUNCATED: return "SHA-256 truncated";
    case CS_HASHTYPE_SHA384: return "SHA-384";
    default: return "hash type " + std::to_string(csHashType);
    }
}

// The SHA-256 kind first: tickets name those, and the online lookup asks for them first.
void addCodeDigests(const CodeVerdict& v, std::vector<ItemDigest>& out) {
    for (bool sha1 : {false, true}) {
        for (const auto& cd : v.codeDirectories) {
            if (cd.cdhash.size() < TICKET_HASH_LENGTH || (cd.hashType == CS_HASHTYPE_SHA1) != sha1) continue;
            out.push_back(
                {(v.architecture.empty() ? "" : v.architecture + " ") + "CDHash (" + hashName(cd.hashType) + ")",
                 cd.cdhash, ticketHashTypeFor(cd.hashType)});
        }
    }
}

// Every slice's CDHashes: a Mac runs its own slice, and the ticket must name the one it runs.
std::vector<ItemDigest> codeDigests(const std::string& path, std::string& problem) {
    CodeVerifyOptions options;
    options.checkContents = false;
    const TrustAnchors none;
    CodeVerdict first = verifyCode(path, options, none);
    std::vector<ItemDigest> digests;
    if (!first.isSigned) {
        problem = first.kind == CodeKind::AppBundle || first.kind == CodeKind::FrameworkBundle ||
                          first.kind == CodeKind::Bundle
                      ? "its code is not signed, so no ticket can name it"
                      : "it is not code whose signature could be read";
        return digests;
    }
    if (first.architectures.size() <= 1) {
        addCodeDigests(first, digests);
        return digests;
    }
    for (const auto& arch : first.architectures) {
        options.architecture = arch;
        addCodeDigests(verifyCode(path, options, none), digests);
    }
    return digests;
}

void readFlatPackage(const std::string& path, StapledItem& item) {
    auto file = MappedFile::open(path);
    if (!file) {
        item.problem = file.error();
        return;
    }
    const ByteReader bytes = file->reader();
    auto archive = parseXar(bytes);
    if (!archive) {
        item.problem = archive.error();
        return;
    }
    auto stapled = findStapledTicket(bytes, archive->archiveEnd);
    if (!stapled) {
        // A trailer that says a ticket is there but does not hold up is stapled and broken.
        item.stapled = true;
        item.problem = stapled.error();
    } else if (*stapled) {
        item.stapled = true;
        item.ticket = std::move((*stapled)->ticket);
    }
    if (auto digest = computeXarTocDigest(bytes, *archive); digest && digest->size() >= TICKET_HASH_LENGTH) {
        const std::uint8_t type = archive->checksumStyle == "sha1" ? TICKET_HASH_SHA1 : TICKET_HASH_SHA256;
        item.digests.push_back({"package checksum (" + archive->checksumStyle + ")", std::move(*digest), type});
    }
}

bool isDiskImage(const std::string& path) {
    if (isDirectory(path, true)) return false;
    auto file = MappedFile::open(path);
    return file && findUdifTrailer(file->bytes());
}

// A disk image keeps its ticket in its own signature's ticket slot, beside the CodeDirectory that
// names the image's CDHash (DiskImageRep::copyStapledTicket).
void readDiskImage(const std::string& path, StapledItem& item) {
    CodeVerifyOptions options;
    options.checkContents = false;
    const TrustAnchors none;
    const CodeVerdict v = verifyCode(path, options, none);
    if (!v.isSigned) {
        item.problem = "the disk image is not signed, so no ticket can name it";
        return;
    }
    if (v.ticketStapled) {
        item.stapled = true;
        item.ticket = v.ticket;
    }
    addCodeDigests(v, item.digests);
}

}  // namespace

std::uint8_t ticketHashTypeFor(std::uint8_t codeDirectoryHashType) {
    return codeDirectoryHashType == CS_HASHTYPE_SHA1 ? TICKET_HASH_SHA1 : TICKET_HASH_SHA256;
}

StapledItem readStapledItem(const std::string& path) {
    StapledItem item;
    if (isDirectory(path, true)) {
        if (!isDirectory(path + "/Contents", false)) return item;
        item.kind = StapleKind::Bundle;
        const std::string ticketPath = path + "/Contents/CodeResources";
        if (exists(ticketPath)) {
            item.stapled = true;
            if (auto bytes = readSmallFile(ticketPath, kXarMaxTicketSize, false)) item.ticket = std::move(*bytes);
        }
        item.digests = codeDigests(path, item.problem);
        return item;
    }
    if (regularFileStartsWith(path, "xar!")) {
        item.kind = StapleKind::FlatPackage;
        readFlatPackage(path, item);
        return item;
    }
    if (isDiskImage(path)) {
        item.kind = StapleKind::DiskImage;
        readDiskImage(path, item);
        return item;
    }
    // Nowhere to staple, but a signed Mach-O's CDHashes can still be looked up.
    std::string ignored;
    item.digests = codeDigests(path, ignored);
    return item;
}

TicketValidation validateTicket(ByteSpan ticket, const std::vector<ItemDigest>& digests, const TicketAnchors& anchors) {
    TicketValidation v;
    auto parsed = parseTicket(ticket);
    if (!parsed) {
        v.verdict.failure = TicketFailure::Malformed;
        v.verdict.detail = ticket.empty() ? "the stapled ticket could not be read" : parsed.error();
        return v;
    }
    v.entryCount = parsed->entries.size();
    v.verdict = verifyTicket(*parsed, anchors);
    for (const auto& d : digests)
        if (ticketNames(*parsed, d.digest)) v.matched.push_back(d);
    return v;
}

OnlineTicket lookUpTicket(TicketService& service, const std::vector<ItemDigest>& digests) {
    OnlineTicket result;
    result.lookup.status = TicketLookup::Status::NotFound;
    result.lookup.detail = "the item has no code signature or checksum a ticket could name";
    // Code signed with SHA-256 too is notarized under that digest; a SHA-1 record is asked for only
    // when there is nothing else, which saves a round trip per slice when nothing is found.
    const bool anySha256 =
        std::any_of(digests.begin(), digests.end(), [](const ItemDigest& d) { return d.hashType != TICKET_HASH_SHA1; });
    for (const auto& d : digests) {
        if (anySha256 && d.hashType == TICKET_HASH_SHA1) continue;
        result.digest = d;
        result.lookup = service.lookUp(d.digest, d.hashType);
        if (result.lookup.status != TicketLookup::Status::NotFound) return result;
    }
    return result;
}

bool StaplerValidation::succeeded() const {
    if (!stapled || !stapled->valid()) return false;
    // The service deletes the record of a notarization Apple has revoked.
    return !(lookedUp && online.lookup.status == TicketLookup::Status::NotFound);
}

StaplerValidation validateStapledItem(const std::string& path, const TicketAnchors& anchors, TicketService* service) {
    StaplerValidation v;
    v.item = readStapledItem(path);
    if (v.item.stapled) v.stapled = validateTicket(asByteSpan(v.item.ticket), v.item.digests, anchors);
    if (!service) return v;
    // A stapled ticket is compared under the digests it names; only those can have its record.
    const std::vector<ItemDigest>& digests =
        v.stapled && !v.stapled->matched.empty() ? v.stapled->matched : v.item.digests;
    v.lookedUp = true;
    v.online = lookUpTicket(*service, digests);
    if (v.online.lookup.status == TicketLookup::Status::Found) {
        v.fetched = validateTicket(asByteSpan(v.online.lookup.ticket), v.item.digests, anchors);
        v.fetchedIsStapled = v.item.stapled && v.online.lookup.ticket == v.item.ticket;
    }
    return v;
}

}  // namespace tessarin
