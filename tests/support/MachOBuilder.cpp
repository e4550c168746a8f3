// Minimal but well-formed Mach-O images: enough for header readers and for signing tests.
#include "MachOBuilder.h"

#include <algorithm>
#include <cstring>

namespace tessarin::test {

void putU32(Bytes& b, std::size_t offset, std::uint32_t v, bool bigEndian) {
    if (b.size() < offset + 4) b.resize(offset + 4);
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? (3 - i) * 8 : i * 8;
        b[offset + i] = static_cast<std::uint8_t>(v >> shift);
    }
}

void putU64(Bytes& b, std::size_t offset, std::uint64_t v, bool bigEndian) {
    if (b.size() < offset + 8) b.resize(offset + 8);
    for (int i = 0; i < 8; ++i) {
        int shift = bigEndian ? (7 - i) * 8 : i * 8;
        b[offset + i] = static_cast<std::uint8_t>(v >> shift);
    }
}

std::uint32_t getU32(const Bytes& b, std::size_t offset, bool bigEndian) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? (3 - i) * 8 : i * 8;
        v |= static_cast<std::uint32_t>(b.at(offset + i)) << shift;
    }
    return v;
}

namespace {

std::size_t putWords(Bytes& b, std::size_t at, std::initializer_list<std::uint64_t> values, bool wide, bool bigEndian) {
    for (std::uint64_t v : values) {
        if (wide)
            putU64(b, at, v, bigEndian);
        else
            putU32(b, at, static_cast<std::uint32_t>(v), bigEndian);
        at += wide ? 8 : 4;
    }
    return at;
}

}  // namespace

void putSegment(Bytes& b, std::size_t at, const char* name, std::initializer_list<std::uint64_t> ranges,
                std::uint32_t prot, bool is64, bool bigEndian) {
    putWords(b, at, {is64 ? 0x19u : 0x1u, is64 ? 72u : 56u}, false, bigEndian);
    std::memcpy(&b[at + 8], name, std::strlen(name));
    putWords(b, putWords(b, at + 24, ranges, is64, bigEndian), {prot, prot}, false, bigEndian);
}

std::size_t addLoadCommand(Bytes& image, std::uint32_t cmd, const Bytes& payload) {
    const std::uint32_t magic = getU32(image, 0, true);
    const bool be = magic == 0xfeedfaceu || magic == 0xfeedfacfu;
    const bool is64 = magic == 0xfeedfacfu || magic == 0xcffaedfeu;
    const std::size_t header = is64 ? 32 : 28;
    const std::size_t word = is64 ? 8 : 4;
    const std::uint32_t ncmds = getU32(image, 16, be);
    const std::uint32_t sizeofcmds = getU32(image, 20, be);
    const std::size_t at = header + sizeofcmds;
    const std::size_t size = (8 + payload.size() + word - 1) / word * word;
    if (image.size() < at + size) image.resize(at + size, 0);
    putU32(image, at, cmd, be);
    putU32(image, at + 4, static_cast<std::uint32_t>(size), be);
    std::copy(payload.begin(), payload.end(), image.begin() + static_cast<std::ptrdiff_t>(at + 8));
    putU32(image, 16, ncmds + 1, be);
    putU32(image, 20, static_cast<std::uint32_t>(sizeofcmds + size), be);
    return at;
}

Bytes thinMachO(const SliceSpec& s, std::size_t size) {
    const std::size_t header = s.is64 ? 32 : 28;
    const std::size_t segment = s.is64 ? 72 : 56;
    Bytes b(std::max(size, header + segment), 0);
    const bool be = s.bigEndian;
    // Header (flags 0), then __TEXT over the whole file, r-x.
    putWords(b, 0,
             {s.is64 ? 0xfeedfacfu : 0xfeedfaceu, static_cast<std::uint32_t>(s.cputype),
              static_cast<std::uint32_t>(s.cpusubtype), s.filetype, 1, segment, 0},
             false, be);
    putSegment(b, header, "__TEXT", {0, b.size(), 0, b.size()}, 5, s.is64, be);
    return b;
}

Bytes thinMachO(std::int32_t cputype, std::int32_t cpusubtype) {
    SliceSpec s;
    s.cputype = cputype;
    s.cpusubtype = cpusubtype;
    s.is64 = (static_cast<std::uint32_t>(cputype) & 0x01000000u) != 0;
    s.bigEndian = (cputype & 0xffffff) == 18 || (cputype & 0xffffff) == 6 || (cputype & 0xffffff) == 14 ||
                  (cputype & 0xffffff) == 11 || (cputype & 0xffffff) == 13;
    return thinMachO(s);
}

Bytes fatMachO(const std::vector<Bytes>& slices, const std::vector<std::pair<std::int32_t, std::int32_t>>& types,
               bool fat64, std::uint32_t align) {
    const std::size_t entry = fat64 ? 32 : 20;
    const std::uint64_t alignment = 1ull << align;
    Bytes b;
    putU32(b, 0, fat64 ? 0xcafebabfu : 0xcafebabeu, true);
    putU32(b, 4, static_cast<std::uint32_t>(slices.size()), true);
    std::uint64_t offset = 8 + entry * slices.size();
    for (std::size_t i = 0; i < slices.size(); ++i) {
        offset = (offset + alignment - 1) / alignment * alignment;
        std::size_t e = 8 + entry * i;
        putWords(b, e, {static_cast<std::uint32_t>(types[i].first), static_cast<std::uint32_t>(types[i].second)}, false,
                 true);
        const std::size_t next = putWords(b, e + 8, {offset, slices[i].size()}, fat64, true);
        putWords(b, next, {align, 0}, false, true);
        if (b.size() < offset) b.resize(offset, 0);
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(offset), slices[i].begin(), slices[i].end());
        b.resize(offset + slices[i].size());
        offset += slices[i].size();
    }
    return b;
}

Bytes fatMachO(const std::vector<std::pair<std::int32_t, std::int32_t>>& types, bool fat64) {
    std::vector<Bytes> slices;
    for (auto [type, subtype] : types) slices.push_back(thinMachO(type, subtype));
    return fatMachO(slices, types, fat64);
}

}  // namespace tessarin::test
