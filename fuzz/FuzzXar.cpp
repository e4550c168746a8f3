// libFuzzer entry: hostile xar archives and tables of contents must parse or fail cleanly, and every
// range the reader accepts must be readable; what the package installs must list or fail cleanly.
#include "FuzzEntry.h"
#include "notary/Ticket.h"
#include "package/PackageContents.h"
#include "package/Xar.h"
#include "plist/XmlTree.h"

void tessarin::fuzz::fuzzOne(Input in) {
    const ByteReader bytes(in.data, in.size);
    if (auto archive = parseXar(bytes)) {
        auto digest = verifyXarChecksum(bytes, *archive);
        if (archive->signature) (void)xarHeapBytes(bytes, *archive, archive->signature->range);
        if (archive->cmsSignature) (void)xarHeapBytes(bytes, *archive, archive->cmsSignature->range);
        for (const auto& file : archive->files) (void)extractXarFile(bytes, *archive, file, 1u << 20);
        auto ticket = findStapledTicket(bytes, archive->archiveEnd);
        if (ticket && *ticket && digest)
            (void)checkTicketFor(asByteSpan((*ticket)->ticket), {*digest}, TicketAnchors::apple());
    }
    // What the package installs: the Distribution's references, PackageInfo, Payload and Scripts.
    PayloadLimits limits;
    limits.maxExpandedBytes = 16ull << 20;
    limits.ratioFloor = 1ull << 20;
    (void)readPackageContents(bytes, limits);
    // The table's XML reader on the raw bytes: inside an archive it only sees what inflates.
    (void)parseXml(in.text());
    // The trailer reader on its own, as if the archive ended anywhere.
    (void)findStapledTicket(bytes, in.size / 2);
}
