// Builds UDIF disk images for tests: a data fork of raw or zlib chunks around arbitrary bytes, the
// XML property list with its block table and the "koly" trailer; signed the way Apple's DiskImageRep
// signs an image, and stapled the way a stapling tool staples one.
#pragma once

#include <cstdint>
#include <vector>

#include "MachOSigner.h"

namespace tessarin::test {

struct DiskImageOptions {
    Bytes content;                    // the disk's bytes, padded with zeros to whole 512-byte sectors
    bool zlib = false;                // zlib chunks, else raw ones
    std::uint64_t chunkSectors = 8;   // sectors per chunk
    std::uint64_t lastChunkBias = 0;  // added to the last data chunk's offset: a chunk that lies
    bool licenseAgreement = false;    // an "LPic" resource beside the block table
};

// An unsigned image: data fork at offset 0, then the plist, then the trailer.
Bytes buildDiskImage(const DiskImageOptions& options);

// Signs (or re-signs) the image as DiskImageRep does: SHA-256 only, one hash over every byte before
// the signature (page size 0), the trailer with its signature length zeroed bound in slot -6; the
// SuperBlob fills the room between the data and the trailer. `options` supplies identifier, team,
// flags and the CMS signer (none: ad hoc); its page size, hash choice and version are the image's.
Bytes signDiskImage(const Bytes& image, SignOptions options);

// Adds `ticket` to the image's signature in the ticket slot (0x10002, wrapped), leaving the signed
// bytes and directory as they were, and rewrites the trailer's signature length.
Bytes stapleDiskImage(const Bytes& image, const Bytes& ticket);

// The signed image's CDHash: its primary CodeDirectory's digest, first 20 bytes.
Bytes diskImageCdhash(const Bytes& image);

}  // namespace tessarin::test
