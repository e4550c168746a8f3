// Read-only view of a regular file's bytes, for format code that reads headers and hashes pages.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "base/ByteReader.h"
#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// Maps a regular file read-only (an empty file gives an empty view). Refuses special files,
// which could block, and directories, with a sentence that names the path.
class MappedFile {
public:
    static Result<MappedFile> open(const std::string& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    ByteSpan bytes() const { return {static_cast<const std::byte*>(data_), size_}; }
    ByteReader reader() const { return ByteReader(bytes()); }
    std::size_t size() const { return size_; }

private:
    MappedFile(void* data, std::size_t size) : data_(data), size_(size) {}
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace tessarin
