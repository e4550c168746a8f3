// Expands Payload and Scripts archives with zlib and liblzma, piece by piece, so that no declared size
// ever sizes a buffer and a bomb is stopped at the first piece past the bounds. Each compression is a
// source that yields its next piece on demand; the decoder counts them against the limits.
#include "package/PayloadStream.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
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

}  // namespace

struct PayloadDecoder::Source {
    virtual ~Source() = default;
    // The next piece, empty at the end.
    virtual Result<ByteSpan> next() = 0;
};

namespace {

using Source = PayloadDecoder::Source;

class PlainSource : public Source {
public:
    explicit PlainSource(ByteSpan input) : rest_(input) {}
    Result<ByteSpan> next() override {
        ByteSpan piece = rest_.first(std::min(kPiece, rest_.size()));
        rest_ = rest_.subspan(piece.size());
        return piece;
    }

private:
    ByteSpan rest_;
};

class GzipSource : public Source {
public:
    explicit GzipSource(ByteSpan input) : input_(input) { started_ = inflateInit2(&z_, 15 + 32) == Z_OK; }
    ~GzipSource() override {
        if (started_) inflateEnd(&z_);
    }
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    Result<ByteSpan> next() override {
        if (!started_) return fail("cannot start decompressing the gzip data");
        while (!done_) {
            if (z_.avail_in == 0 && offset_ < input_.size()) {
                auto n = static_cast<uInt>(std::min<std::uint64_t>(input_.size() - offset_, 1u << 30));
                z_.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(input_.data() + offset_));
                z_.avail_in = n;
                offset_ += n;
            }
            z_.next_out = out_.data();
            z_.avail_out = out_.size();
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                return fail("the gzip data is damaged" + (z_.msg ? " (" + std::string(z_.msg) + ")" : std::string()));
            const std::size_t n = out_.size() - z_.avail_out;
            if (rc == Z_STREAM_END) {
                // gzip allows members one after another; anything else after the end is not payload.
                const std::uint64_t left = z_.avail_in + (input_.size() - offset_);
                if (!startsWith(input_.subspan(input_.size() - left), GZIP_MAGIC, sizeof GZIP_MAGIC))
                    done_ = true;
                else if (inflateReset(&z_) != Z_OK)
                    return fail("cannot restart decompressing the gzip data");
            } else if (rc == Z_BUF_ERROR && z_.avail_in == 0 && offset_ == input_.size()) {
                return fail("the gzip data ends before its end of stream");
            }
            if (n > 0) return std::as_bytes(std::span(out_.data(), n));
        }
        return ByteSpan{};
    }

private:
    ByteSpan input_;
    std::uint64_t offset_ = 0;
    z_stream z_{};
    bool started_ = false, done_ = false;
    std::array<unsigned char, kPiece> out_{};
};

// One xz stream (or several in a row where `concatenated`); `exactly` is the size a pbzx chunk
// declares for it, checked as the bytes come.
class XzSource : public Source {
public:
    XzSource(ByteSpan input, bool concatenated, std::string what, std::optional<std::uint64_t> exactly = {})
        : what_(std::move(what)), exactly_(exactly) {
        started_ = lzma_stream_decoder(&z_, kXzMemoryLimit, concatenated ? LZMA_CONCATENATED : 0) == LZMA_OK;
        z_.next_in = reinterpret_cast<const std::uint8_t*>(input.data());
        z_.avail_in = input.size();
    }
    ~XzSource() override { lzma_end(&z_); }
    XzSource(const XzSource&) = delete;
    XzSource& operator=(const XzSource&) = delete;

    Result<ByteSpan> next() override {
        if (!started_) return fail("cannot start decompressing " + what_);
        while (!done_) {
            z_.next_out = out_.data();
            z_.avail_out = out_.size();
            const lzma_ret rc = lzma_code(&z_, LZMA_FINISH);
            const std::size_t n = out_.size() - z_.avail_out;
            produced_ += n;
            if (exactly_ && produced_ > *exactly_)
                return fail(what_ + " expands to more than the " + std::to_string(*exactly_) + " bytes it declares");
            if (rc == LZMA_STREAM_END) {
                done_ = true;
                if (exactly_ && produced_ != *exactly_)
                    return fail(what_ + " expands to " + std::to_string(produced_) + " bytes, not the " +
                                std::to_string(*exactly_) + " it declares");
            } else if (rc == LZMA_MEMLIMIT_ERROR) {
                return fail(what_ + " asks for more than " + std::to_string(kXzMemoryLimit >> 20) +
                            " MB of memory to decompress");
            } else if (rc == LZMA_BUF_ERROR) {
                return fail(what_ + " ends before its xz stream does");
            } else if (rc != LZMA_OK) {
                return fail(what_ + " is not valid xz data");
            }
            if (n > 0) return std::as_bytes(std::span(out_.data(), n));
        }
        return ByteSpan{};
    }

private:
    std::string what_;
    std::optional<std::uint64_t> exactly_;
    lzma_stream z_ = LZMA_STREAM_INIT;
    bool started_ = false, done_ = false;
    std::uint64_t produced_ = 0;
    std::array<std::uint8_t, kPiece> out_{};
};

// A pbzx stream: a header, then chunks each stored as they are or as one xz stream.
class PbzxSource : public Source {
public:
    explicit PbzxSource(ByteSpan input) : reader_(input), c_(reader_, 4) {
        c_.u64be();  // the chunk size the writer used; each chunk declares its own
        headerRead_ = static_cast<bool>(c_);
    }

    Result<ByteSpan> next() override {
        if (!headerRead_) return fail("the pbzx stream is shorter than its header");
        for (;;) {
            if (xz_) {
                auto piece = xz_->next();
                if (!piece || !piece->empty()) return piece;
                xz_.reset();
            }
            if (!stored_.empty()) {
                ByteSpan piece = stored_.first(std::min(kPiece, stored_.size()));
                stored_ = stored_.subspan(piece.size());
                return piece;
            }
            if (c_.offset() >= reader_.size()) return ByteSpan{};
            const std::string what = "pbzx chunk " + std::to_string(++index_);
            const std::uint64_t expanded = c_.u64be();
            const std::uint64_t stored = c_.u64be();
            if (!c_) return fail(what + " has a truncated header");
            if (stored > reader_.size() - c_.offset())
                return fail(what + " declares " + std::to_string(stored) + " bytes, more than the " +
                            std::to_string(reader_.size() - c_.offset()) + " left in the stream");
            ByteSpan data = c_.bytes(stored);
            if (stored == expanded) {
                stored_ = data;
            } else {
                if (!startsWith(data, XZ_MAGIC, sizeof XZ_MAGIC))
                    return fail(what + " is neither stored nor an xz stream");
                xz_ = std::make_unique<XzSource>(data, false, what, expanded);
            }
        }
    }

private:
    ByteReader reader_;
    ByteCursor c_;
    bool headerRead_ = false;
    std::uint64_t index_ = 0;
    ByteSpan stored_;
    std::unique_ptr<XzSource> xz_;
};

}  // namespace

PayloadCompression payloadCompression(ByteSpan archive) {
    if (startsWith(archive, GZIP_MAGIC, sizeof GZIP_MAGIC)) return PayloadCompression::Gzip;
    if (startsWith(archive, XZ_MAGIC, sizeof XZ_MAGIC)) return PayloadCompression::Xz;
    if (ByteReader(archive).u32be(0) == PBZX_MAGIC) return PayloadCompression::Pbzx;
    return PayloadCompression::None;
}

PayloadDecoder::PayloadDecoder(ByteSpan archive, PayloadCompression compression, const PayloadLimits& limits)
    : archive_(archive), limits_(limits) {
    switch (compression) {
    case PayloadCompression::Gzip: source_ = std::make_unique<GzipSource>(archive); break;
    case PayloadCompression::Xz: source_ = std::make_unique<XzSource>(archive, true, "the xz data"); break;
    case PayloadCompression::Pbzx: source_ = std::make_unique<PbzxSource>(archive); break;
    // A plain archive is handed on in pieces too, so the consumer sees one shape of input.
    case PayloadCompression::None: source_ = std::make_unique<PlainSource>(archive); break;
    }
}

PayloadDecoder::~PayloadDecoder() = default;

Result<ByteSpan> PayloadDecoder::next() {
    if (!error_.empty()) return fail(error_);
    auto piece = source_->next();
    if (piece && piece->size() > limits_.maxExpandedBytes - expanded_) {
        piece = fail("the payload expands to more than " + std::to_string(limits_.maxExpandedBytes) +
                     " bytes, the most accepted");
    } else if (piece) {
        expanded_ += piece->size();
        const std::uint64_t compressed = std::max<std::uint64_t>(archive_.size(), 1);
        if (expanded_ > limits_.ratioFloor && expanded_ / compressed >= limits_.maxRatio)
            piece = fail("the payload expands more than " + std::to_string(limits_.maxRatio) +
                         " times its compressed size, as only a decompression bomb does");
    }
    if (!piece) error_ = piece.error();
    return piece;
}

Status expandPayload(ByteSpan archive, PayloadCompression compression, const PayloadLimits& limits,
                     const PayloadSink& sink) {
    PayloadDecoder decoder(archive, compression, limits);
    for (;;) {
        auto piece = decoder.next();
        if (!piece) return fail(piece.error());
        if (piece->empty()) return Ok{};
        if (auto s = sink(*piece); !s) return s;
    }
}

}  // namespace tessarin
