// Expands Payload and Scripts archives with zlib and liblzma, piece by piece, so that no declared size
// ever sizes a buffer and a bomb is stopped at the first piece past the bounds.
#include "package/PayloadStream.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "base/ByteCursor.h"
#include "base/ByteReader.h"
#include "package/PayloadConstants.h"

namespace tessarin {

namespace {

constexpr std::size_t kPiece = 64 * 1024;

bool startsWith(ByteSpan data, const std::uint8_t* magic, std::size_t size) {
    return data.size() >= size && std::memcmp(data.data(), magic, size) == 0;
}

// Counts what is handed on and refuses the piece that would pass the total or the ratio.
class Budget {
public:
    Budget(std::uint64_t compressedSize, const PayloadLimits& limits, const PayloadSink& sink)
        : compressed_(std::max<std::uint64_t>(compressedSize, 1)), limits_(limits), sink_(sink) {}

    Status put(ByteSpan piece) {
        if (piece.empty()) return Ok{};
        if (piece.size() > limits_.maxExpandedBytes - expanded_)
            return fail("the payload expands to more than " + std::to_string(limits_.maxExpandedBytes) +
                        " bytes, the most accepted");
        expanded_ += piece.size();
        if (expanded_ > limits_.ratioFloor && expanded_ / compressed_ >= limits_.maxRatio)
            return fail("the payload expands more than " + std::to_string(limits_.maxRatio) +
                        " times its compressed size, as only a decompression bomb does");
        return sink_(piece);
    }

private:
    std::uint64_t compressed_;
    std::uint64_t expanded_ = 0;
    const PayloadLimits& limits_;
    const PayloadSink& sink_;
};

Status inflateGzip(ByteSpan input, Budget& budget) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 32) != Z_OK) return fail("cannot start decompressing the gzip data");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
    std::array<unsigned char, kPiece> out{};
    std::uint64_t offset = 0;
    for (;;) {
        if (z.avail_in == 0 && offset < input.size()) {
            auto n = static_cast<uInt>(std::min<std::uint64_t>(input.size() - offset, 1u << 30));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(input.data() + offset));
            z.avail_in = n;
            offset += n;
        }
        z.next_out = out.data();
        z.avail_out = out.size();
        int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return fail("the gzip data is damaged" + (z.msg ? " (" + std::string(z.msg) + ")" : std::string()));
        if (auto s = budget.put(std::as_bytes(std::span(out.data(), out.size() - z.avail_out))); !s) return s;
        if (rc == Z_STREAM_END) {
            // gzip allows members one after another; anything else after the end is not payload.
            std::uint64_t left = z.avail_in + (input.size() - offset);
            ByteSpan rest = input.subspan(input.size() - left);
            if (!startsWith(rest, GZIP_MAGIC, sizeof GZIP_MAGIC)) return Ok{};
            if (inflateReset(&z) != Z_OK) return fail("cannot restart decompressing the gzip data");
            continue;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && offset == input.size())
            return fail("the gzip data ends before its end of stream");
    }
}

// One xz stream (or several in a row where `concatenated`), expanded into the budget; `exactly` is
// the size a pbzx chunk declares for it, checked as the bytes come.
Status decodeXz(ByteSpan input, Budget& budget, bool concatenated, const std::string& what,
                std::optional<std::uint64_t> exactly = std::nullopt) {
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&z, kXzMemoryLimit, concatenated ? LZMA_CONCATENATED : 0) != LZMA_OK)
        return fail("cannot start decompressing " + what);
    std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&z, lzma_end);
    z.next_in = reinterpret_cast<const std::uint8_t*>(input.data());
    z.avail_in = input.size();
    std::array<std::uint8_t, kPiece> out{};
    std::uint64_t produced = 0;
    for (;;) {
        z.next_out = out.data();
        z.avail_out = out.size();
        lzma_ret rc = lzma_code(&z, LZMA_FINISH);
        std::size_t n = out.size() - z.avail_out;
        produced += n;
        if (exactly && produced > *exactly)
            return fail(what + " expands to more than the " + std::to_string(*exactly) + " bytes it declares");
        if (auto s = budget.put(std::as_bytes(std::span(out.data(), n))); !s) return s;
        if (rc == LZMA_STREAM_END) break;
        if (rc == LZMA_MEMLIMIT_ERROR)
            return fail(what + " asks for more than " + std::to_string(kXzMemoryLimit >> 20) +
                        " MB of memory to decompress");
        if (rc == LZMA_BUF_ERROR) return fail(what + " ends before its xz stream does");
        if (rc != LZMA_OK) return fail(what + " is not valid xz data");
    }
    if (exactly && produced != *exactly)
        return fail(what + " expands to " + std::to_string(produced) + " bytes, not the " + std::to_string(*exactly) +
                    " it declares");
    return Ok{};
}

Status expandPbzx(ByteSpan input, Budget& budget) {
    ByteReader reader(input);
    ByteCursor c(reader, 4);
    c.u64be();  // the chunk size the writer used; each chunk declares its own
    if (!c) return fail("the pbzx stream is shorter than its header");
    for (std::uint64_t index = 1; c.offset() < reader.size(); ++index) {
        const std::string what = "pbzx chunk " + std::to_string(index);
        std::uint64_t expanded = c.u64be();
        std::uint64_t stored = c.u64be();
        if (!c) return fail(what + " has a truncated header");
        if (stored > reader.size() - c.offset())
            return fail(what + " declares " + std::to_string(stored) + " bytes, more than the " +
                        std::to_string(reader.size() - c.offset()) + " left in the stream");
        ByteSpan data = c.bytes(stored);
        if (stored == expanded) {
            if (auto s = budget.put(data); !s) return s;
        } else {
            if (!startsWith(data, XZ_MAGIC, sizeof XZ_MAGIC)) return fail(what + " is neither stored nor an xz stream");
            if (auto s = decodeXz(data, budget, false, what, expanded); !s) return s;
        }
    }
    return Ok{};
}

}  // namespace

PayloadCompression payloadCompression(ByteSpan archive) {
    if (startsWith(archive, GZIP_MAGIC, sizeof GZIP_MAGIC)) return PayloadCompression::Gzip;
    if (startsWith(archive, XZ_MAGIC, sizeof XZ_MAGIC)) return PayloadCompression::Xz;
    if (ByteReader(archive).u32be(0) == PBZX_MAGIC) return PayloadCompression::Pbzx;
    return PayloadCompression::None;
}

Status expandPayload(ByteSpan archive, PayloadCompression compression, const PayloadLimits& limits,
                     const PayloadSink& sink) {
    Budget budget(archive.size(), limits, sink);
    switch (compression) {
    case PayloadCompression::Gzip: return inflateGzip(archive, budget);
    case PayloadCompression::Xz: return decodeXz(archive, budget, true, "the xz data");
    case PayloadCompression::Pbzx: return expandPbzx(archive, budget);
    case PayloadCompression::None: break;
    }
    // A plain archive is handed on in pieces too, so the consumer sees one shape of input.
    for (std::size_t at = 0; at < archive.size(); at += kPiece)
        if (auto s = budget.put(archive.subspan(at, std::min(kPiece, archive.size() - at))); !s) return s;
    return Ok{};
}

}  // namespace tessarin
