// libFuzzer entry: hostile xar archives and tables of contents must parse or fail cleanly, and every
// range the reader accepts must be readable; what the package installs must list or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "notary/Ticket.h"
#include "package/PackageContents.h"
#include "package/Xar.h"
#include "plist/XmlTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessarin::ByteReader bytes(data, size);
    auto archive = tessarin::parseXar(bytes);
    if (archive) {
        auto digest = tessarin::verifyXarChecksum(bytes, *archive);
        if (archive->signature) (void)tessarin::xarHeapBytes(bytes, *archive, archive->signature->range);
        if (archive->cmsSignature) (void)tessarin::xarHeapBytes(bytes, *archive, archive->cmsSignature->range);
        for (const auto& file : archive->files) (void)tessarin::extractXarFile(bytes, *archive, file, 1u << 20);
        auto ticket = tessarin::findStapledTicket(bytes, archive->archiveEnd);
        if (ticket && *ticket && digest)
            (void)tessarin::checkTicketFor(tessarin::asByteSpan((*ticket)->ticket), {*digest},
                                           tessarin::TicketAnchors::apple());
    }
    // What the package installs: the Distribution's references, PackageInfo, Payload and Scripts.
    tessarin::PayloadLimits limits;
    limits.maxExpandedBytes = 16ull << 20;
    limits.ratioFloor = 1ull << 20;
    (void)tessarin::readPackageContents(bytes, limits);
    // The table's XML reader on the raw bytes: inside an archive it only sees what inflates.
    (void)tessarin::parseXml(std::string_view(reinterpret_cast<const char*>(data), size));
    // The trailer reader on its own, as if the archive ended anywhere.
    (void)tessarin::findStapledTicket(bytes, size / 2);
    return 0;
}
