// Small whole-file reads with a size bound: Info.plist, resource seals, tickets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Bytes.h"

namespace tessarin {

// The whole file, when it is a regular file of at most `maxSize` bytes; nothing when it is missing,
// unreadable, something else (a FIFO is never opened for reading) or too large. A symbolic link is
// followed only when `followLinks` is set.
std::optional<Bytes> readSmallFile(const std::string& path, std::uint64_t maxSize, bool followLinks = true);

// Up to `size` bytes from the start of a regular file; empty when it is none or cannot be read.
std::string regularFileHead(const std::string& path, std::size_t size, bool followLinks = true);
// Whether the file is a regular file whose first bytes are `magic`.
bool regularFileStartsWith(const std::string& path, const std::string& magic);

}  // namespace tessarin
