// Reads cpio archives as they are expanded (cpio(5): the odc header of octal fields and the newc
// header of hexadecimal fields padded to four bytes), checking every name before it is kept. Our own
// reader rather than libarchive's: it is fed from pbzx, which libarchive does not read, keeps only
// names and the bytes asked for, and answers to the same limits as the decompression feeding it.
#include "package/Cpio.h"

#include <algorithm>
#include <string_view>

#include "base/ByteReader.h"
#include "package/PayloadConstants.h"

namespace tessarin {

namespace {

std::uint64_t padTo4(std::uint64_t n) { return (4 - n % 4) % 4; }

// A fixed-width field of octal or hexadecimal digits; nothing for anything else.
std::optional<std::uint64_t> number(std::string_view field, unsigned base) {
    if (field.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : field) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        if (d >= base) return std::nullopt;
        v = v * base + d;  // at most 11 octal or 8 hex digits: no overflow
    }
    return v;
}

}  // namespace

void CpioReader::expect(State state, std::uint64_t bytes) {
    state_ = state;
    need_ = bytes;
}

Status CpioReader::feed(ByteSpan piece) {
    std::size_t at = 0;
    while (at < piece.size() && state_ != State::Done) {
        auto n = static_cast<std::size_t>(std::min<std::uint64_t>(need_, piece.size() - at));
        ByteSpan bytes = piece.subspan(at, n);
        if (state_ == State::Magic || state_ == State::Header || state_ == State::Name) {
            part_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        } else if (state_ == State::Data && entry_.data.size() < keepData_) {
            auto k = static_cast<std::size_t>(std::min<std::uint64_t>(keepData_ - entry_.data.size(), n));
            const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
            entry_.data.insert(entry_.data.end(), p, p + k);
        }
        at += n;
        need_ -= n;
        consumed_ += n;
        // Parts of no bytes (an empty file, no padding) pass at once.
        while (need_ == 0 && state_ != State::Done) {
            Status s = Ok{};
            switch (state_) {
            case State::Magic:
                if (part_ == CPIO_ODC_MAGIC || part_ == CPIO_NEWC_MAGIC || part_ == CPIO_NEWC_CRC_MAGIC) {
                    const bool odc = part_ == CPIO_ODC_MAGIC;
                    if (consumed_ == CPIO_MAGIC_SIZE)
                        format_ = odc ? CpioFormat::Odc : CpioFormat::Newc;
                    else if (odc != (format_ == CpioFormat::Odc))
                        return fail("the payload mixes cpio header formats");
                    expect(State::Header, (odc ? CPIO_ODC_HEADER_SIZE : CPIO_NEWC_HEADER_SIZE) - CPIO_MAGIC_SIZE);
                } else if (consumed_ == CPIO_MAGIC_SIZE) {
                    if (part_.rfind("AA01", 0) == 0 || part_.rfind("YAA1", 0) == 0)
                        return fail("the payload is an Apple Archive, which is not read");
                    return fail("the payload is not a cpio archive");
                } else {
                    return fail("no cpio header at offset " + std::to_string(consumed_ - CPIO_MAGIC_SIZE) +
                                " of the expanded payload");
                }
                break;
            case State::Header: s = fieldsRead(); break;
            case State::Name: s = nameRead(); break;
            case State::Data: dataRead(); break;
            case State::Padding: expect(State::Magic, CPIO_MAGIC_SIZE); break;
            case State::Done: break;
            }
            if (!s) return s;
        }
    }
    return Ok{};
}

Status CpioReader::fieldsRead() {
    const bool odc = format_ == CpioFormat::Odc;
    const std::uint64_t at = consumed_ - part_.size();
    const unsigned base = odc ? 8 : 16;
    ByteReader header(part_.data(), part_.size());
    std::string bad;
    auto field = [&](std::uint64_t offset, std::uint64_t width, const char* name) -> std::uint64_t {
        auto v = number(header.text(offset, width).value_or(""), base);
        if (!v && bad.empty()) bad = name;
        return v.value_or(0);
    };
    entry_ = PayloadEntry{};
    if (odc) {
        entry_.mode = static_cast<std::uint32_t>(field(18, 6, "c_mode"));
        entry_.uid = static_cast<std::uint32_t>(field(24, 6, "c_uid"));
        entry_.gid = static_cast<std::uint32_t>(field(30, 6, "c_gid"));
        nameSize_ = field(59, 6, "c_namesize");
        dataSize_ = field(65, 11, "c_filesize");
    } else {
        entry_.mode = static_cast<std::uint32_t>(field(14, 8, "c_mode"));
        entry_.uid = static_cast<std::uint32_t>(field(22, 8, "c_uid"));
        entry_.gid = static_cast<std::uint32_t>(field(30, 8, "c_gid"));
        dataSize_ = field(54, 8, "c_filesize");
        nameSize_ = field(94, 8, "c_namesize");
    }
    if (!bad.empty())
        return fail("the cpio header at offset " + std::to_string(at) + " of the expanded payload has a malformed " +
                    bad + " field");
    if (nameSize_ == 0) return fail("the cpio header at offset " + std::to_string(at) + " names no file");
    if (nameSize_ - 1 > limits_.maxNameLength)
        return fail("the cpio header at offset " + std::to_string(at) + " has a name of " +
                    std::to_string(nameSize_ - 1) + " bytes, more than the " + std::to_string(limits_.maxNameLength) +
                    " accepted");
    entry_.size = dataSize_;
    expect(State::Name, nameSize_ + (odc ? 0 : padTo4(CPIO_NEWC_HEADER_SIZE + nameSize_)));
    part_.clear();
    return Ok{};
}

Status CpioReader::nameRead() {
    std::string name = part_.substr(0, static_cast<std::size_t>(nameSize_));
    part_.clear();
    if (name.back() != '\0' || name.find('\0') != name.size() - 1)
        return fail("a cpio entry's name is not a single NUL-terminated string");
    name.pop_back();
    if (name == CPIO_TRAILER) {
        state_ = State::Done;
        return Ok{};
    }
    if (entries_.size() >= limits_.maxEntries)
        return fail("the payload holds more than " + std::to_string(limits_.maxEntries) +
                    " entries, the most accepted");
    if (name.empty()) return fail("a cpio entry has an empty name");
    if (name.front() == '/') return fail("the payload names " + name + ", an absolute path");
    std::uint32_t depth = 0;
    for (std::size_t b = 0; b <= name.size();) {
        std::size_t e = std::min(name.find('/', b), name.size());
        std::string_view part(name.data() + b, e - b);
        if (part == "..") return fail("the payload names " + name + ", a path that climbs out with \"..\"");
        if (!part.empty() && part != "." && ++depth > limits_.maxPathDepth)
            return fail("the payload names a path deeper than " + std::to_string(limits_.maxPathDepth) + " folders");
        b = e + 1;
    }
    pathBytes_ += name.size();
    if (pathBytes_ > limits_.maxPathBytes)
        return fail("the payload names more than " + std::to_string(limits_.maxPathBytes) + " bytes of paths");
    entry_.path = std::move(name);
    const std::uint32_t type = entry_.mode & C_ISMASK;
    if (type == C_ISLNK) {
        if (dataSize_ > kCpioMaxLinkTarget)
            return fail("the link " + entry_.path + " has a target of " + std::to_string(dataSize_) + " bytes");
        // Targets are kept whole, so they count with the names.
        pathBytes_ += dataSize_;
        if (pathBytes_ > limits_.maxPathBytes)
            return fail("the payload names more than " + std::to_string(limits_.maxPathBytes) + " bytes of paths");
        keepData_ = dataSize_;
    } else {
        // Past the total, files keep nothing more and show as cut short.
        keepData_ = type == C_ISREG ? std::min({dataSize_, keep_, limits_.maxKeptBytes - keptBytes_}) : 0;
        keptBytes_ += keepData_;
    }
    expect(State::Data, dataSize_);
    return Ok{};
}

void CpioReader::dataRead() {
    if ((entry_.mode & C_ISMASK) == C_ISLNK) {
        entry_.linkTarget.assign(entry_.data.begin(), entry_.data.end());
        entry_.data.clear();
    }
    const std::uint64_t pad = format_ == CpioFormat::Newc ? padTo4(dataSize_) : 0;
    entries_.push_back(std::move(entry_));
    entry_ = PayloadEntry{};
    expect(State::Padding, pad);
}

Status CpioReader::finish() const {
    switch (state_) {
    case State::Done: return Ok{};
    case State::Data:
        return fail("the cpio entry " + entry_.path + " declares " + std::to_string(dataSize_) +
                    " bytes, more than the payload holds");
    case State::Magic:
        if (consumed_ == 0) return fail("the payload is empty");
        if (part_.empty()) return fail("the payload ends before its cpio trailer");
        [[fallthrough]];
    default: return fail("the payload ends inside a cpio header");
    }
}

}  // namespace tessarin
