// Apple's stapler lines for validate, and the account of what was verified that -v adds.
#include "tools/print/StaplerText.h"

#include <algorithm>
#include <ctime>

#include "base/Hex.h"
#include "tools/print/NotarizationText.h"
#include "tools/print/Printable.h"

namespace tessarin {
namespace {

std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    return slash == std::string::npos || p.size() == 1 ? p : p.substr(slash + 1);
}

std::string utc(std::time_t t) {
    std::tm tm{};
    char text[64];
    if (!::gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0)
        return std::to_string(t);
    return text;
}

std::string digestText(const ItemDigest& d) {
    return d.label + " " + hex(d.digest.data(), std::min<std::size_t>(d.digest.size(), 20));
}

// The lines -v adds for one ticket: who signed it, when, what it names and what of the item matched.
std::string ticketAccount(const std::string& what, const TicketValidation& t, const std::vector<ItemDigest>& digests) {
    std::string out;
    const TicketVerdict& v = t.verdict;
    if (v.failure == TicketFailure::Malformed) {
        out += what + ": " + ticketFailureText(v.failure);
        if (!v.detail.empty()) out += " (" + printable(v.detail) + ")";
        return out + "\n";
    }
    out += what + ": issued " + (v.issued ? utc(*v.issued) : std::string("at an unreadable time")) + ", naming " +
           std::to_string(t.entryCount) + (t.entryCount == 1 ? " hash\n" : " hashes\n");
    if (!v.chain.empty()) {
        out += "Signed by: ";
        for (std::size_t i = 0; i < v.chain.size(); ++i)
            out += (i ? ", issued by " : "") + printable(v.chain[i].commonName);
        out += "\n";
    }
    if (!v.verified) {
        out += "Not genuine: " + ticketFailureText(v.failure);
        if (!v.detail.empty()) out += " (" + printable(v.detail) + ")";
        out += "\n";
    }
    for (const auto& d : digests) {
        const bool named =
            std::any_of(t.matched.begin(), t.matched.end(), [&](const ItemDigest& m) { return m.digest == d.digest; });
        out += (named ? "Names: " : "Does not name: ") + digestText(d) + "\n";
    }
    if (digests.empty()) out += "The item has no digest a ticket could name.\n";
    return out;
}

}  // namespace

std::string onlineLookupLine(const StaplerValidation& v) {
    const TicketLookup& l = v.online.lookup;
    std::string out = "Online lookup";
    if (v.online.digest) out += " of " + ticketRecordName(v.online.digest->digest, v.online.digest->hashType);
    if (l.status != TicketLookup::Status::Found) return out + ": " + printable(l.detail);
    if (!v.fetched || !v.fetched->verdict.verified)
        return out + ": the service's ticket is not genuine (" +
               ticketFailureText(v.fetched ? v.fetched->verdict.failure : TicketFailure::Malformed) + ").";
    if (v.fetched->matched.empty()) return out + ": the service's ticket is genuine but does not name this item.";
    if (v.item.stapled) {
        return out + (v.fetchedIsStapled ? ": the service holds the same genuine ticket."
                                         : ": the service holds a genuine ticket that differs from the stapled one.");
    }
    return out + ": the service holds a genuine ticket that names this item.";
}

std::string staplerValidateText(const std::string& path, const StaplerValidation& v, bool verbose) {
    const std::string shown = printable(path);
    std::string out = "Processing: " + shown + "\n";
    if (verbose && !v.item.problem.empty()) out += "Item: " + printable(v.item.problem) + "\n";
    if (verbose && v.stapled) out += ticketAccount("Stapled ticket", *v.stapled, v.item.digests);
    if (verbose && v.fetched) out += ticketAccount("Ticket from the service", *v.fetched, v.item.digests);
    if (v.lookedUp) out += onlineLookupLine(v) + "\n";
    if (!v.item.stapled) return out + printable(lastComponent(path)) + " does not have a ticket stapled to it.\n";
    if (v.succeeded()) return out + "The validate action worked!\n";
    return out + "Could not validate ticket for " + shown + "\nThe validate action failed! Error 65.\n";
}

}  // namespace tessarin
