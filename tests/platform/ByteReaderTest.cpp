// The bounded reader refuses every read that leaves its bytes, whatever the offsets; the cursor on
// it keeps the first such refusal and fails every read after it; DER frames read through it stay
// within their bytes.
#include "base/ByteCursor.h"
#include "base/ByteReader.h"
#include "base/Der.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <tuple>
#include <vector>

using tessarin::ByteCursor;
using tessarin::ByteReader;

TEST(ByteReader, ReadsBothByteOrders) {
    const std::array<unsigned char, 8> raw{0xCA, 0xFE, 0xBA, 0xBE, 0x01, 0x02, 0x03, 0x04};
    ByteReader r(raw.data(), raw.size());
    EXPECT_EQ(*r.u32be(0), 0xCAFEBABEu);
    EXPECT_EQ(*r.u32le(0), 0xBEBAFECAu);
    EXPECT_EQ(*r.u16be(4), 0x0102u);
    EXPECT_EQ(*r.u64be(0), 0xCAFEBABE01020304ull);
}

TEST(ByteReader, RefusesReadsPastTheEndAndWrappingOffsets) {
    const std::array<unsigned char, 4> raw{1, 2, 3, 4};
    ByteReader r(raw.data(), raw.size());
    EXPECT_FALSE(r.u32be(1));
    EXPECT_FALSE(r.u8(4));
    EXPECT_FALSE(r.bytes(2, std::numeric_limits<std::uint64_t>::max()));
    EXPECT_FALSE(r.bytes(std::numeric_limits<std::uint64_t>::max(), 2));
    EXPECT_TRUE(r.bytes(4, 0));
    EXPECT_FALSE(r.sub(3, 2));
}

TEST(ByteReader, CStringNeedsItsTerminatorInRange) {
    const char raw[] = {'a', 'b', 0, 'c', 'd'};
    ByteReader r(raw, sizeof raw);
    EXPECT_EQ(*r.cstring(0, 10), "ab");
    EXPECT_FALSE(r.cstring(3, 10));  // runs off the end
    EXPECT_FALSE(r.cstring(0, 1));   // longer than allowed
    EXPECT_EQ(*r.cstring(2, 0), "");
}

TEST(DerFrames, ShortAndLongLengthsWithinTheBytesOnly) {
    using Raw = std::vector<unsigned char>;
    auto read = [](const Raw& b, std::uint64_t at) {
        return tessarin::readDerElement(ByteReader(b.data(), b.size()), at);
    };
    const Raw shortForm{0x30, 0x03, 0x02, 0x01, 0x05, 0xff};
    auto e = read(shortForm, 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->tag, 0x30);
    EXPECT_EQ(e->contentOffset(), 2u);
    EXPECT_EQ(e->end(), 5u);
    EXPECT_EQ(read(shortForm, 2)->end(), 5u);
    Raw longForm{0x30, 0x82, 0x01, 0x00};
    longForm.resize(4 + 0x100, 0);
    e = read(longForm, 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->headerLength, 4u);
    EXPECT_EQ(e->contentLength, 0x100u);
    const std::tuple<const char*, Raw, std::uint64_t> refused[] = {
        {"one byte short of its length", Raw(longForm.begin(), longForm.end() - 1), 0},
        {"a length of four billion", {0x30, 0x84, 0xff, 0xff, 0xff, 0xff}, 0},
        {"five length octets", {0x30, 0x85, 0, 0, 0, 0, 1, 0, 0}, 0},
        {"an indefinite length", {0x30, 0x80, 0x00, 0x00}, 0},
        {"length octets past the end", {0x30, 0x82, 0x01}, 0},
        {"a multi-byte tag", {0x1f, 0x81, 0x01, 0x00}, 0},
        {"the last byte", shortForm, 5},
        {"the end", shortForm, 6},
    };
    for (const auto& [what, bytes, at] : refused) EXPECT_FALSE(read(bytes, at)) << what;
}

TEST(ByteCursor, ReadsARunOfFieldsInBothByteOrders) {
    const std::array<unsigned char, 16> raw{0xCA, 0xFE, 0xBA, 0xBE, 0x01, 0x02, 0x03, 0x04,
                                            0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
    ByteReader r(raw.data(), raw.size());
    ByteCursor c(r, 0);
    EXPECT_EQ(c.u32be(), 0xCAFEBABEu);
    EXPECT_EQ(c.u16le(), 0x0201u);
    EXPECT_EQ(c.u8(), 0x03u);
    EXPECT_EQ(c.u8(), 0x04u);
    EXPECT_EQ(c.u64le(), 0x0C0B0A0908070605ull);
    EXPECT_TRUE(c);
    EXPECT_EQ(c.offset(), 16u);
    EXPECT_FALSE(c.failedAt());
    EXPECT_EQ(c.error(), "");

    ByteCursor d(ByteReader(raw.data(), raw.size()), 4);  // a temporary reader: the cursor keeps a copy
    EXPECT_EQ(d.u32(true), 0x01020304u);
    EXPECT_EQ(d.u32(false), 0x08070605u);
    EXPECT_EQ(d.uintBE(3), 0x090A0Bu);
    EXPECT_EQ(d.uintBE(1), 0x0Cu);
    EXPECT_TRUE(d);
}

TEST(ByteCursor, FirstFailureSticksAndLaterReadsYieldZero) {
    const std::array<unsigned char, 6> raw{1, 2, 3, 4, 5, 6};
    ByteReader r(raw.data(), raw.size());
    ByteCursor c(r, 0);
    EXPECT_EQ(c.u32be(), 0x01020304u);
    EXPECT_EQ(c.u32be(), 0u);  // two bytes left: refused, position kept
    EXPECT_FALSE(c);
    EXPECT_EQ(c.failedAt(), 4u);
    EXPECT_EQ(c.offset(), 4u);
    // A read that would fit on its own still fails once the cursor has failed.
    EXPECT_EQ(c.u8(), 0u);
    EXPECT_EQ(c.u16be(), 0u);
    EXPECT_TRUE(c.bytes(1).empty());
    EXPECT_EQ(c.failedAt(), 4u);
    EXPECT_EQ(c.error(), "a read of 4 bytes at offset 4 extends past the end of 6 bytes");
}

TEST(ByteCursor, RefusesStartsPastTheEndHugeLengthsAndBadSizes) {
    const std::array<unsigned char, 4> raw{1, 2, 3, 4};
    ByteReader r(raw.data(), raw.size());

    ByteCursor past(r, std::numeric_limits<std::uint64_t>::max() - 1);
    EXPECT_EQ(past.u32be(), 0u);  // offset + 4 would wrap
    EXPECT_FALSE(past);

    ByteCursor huge(r, 1);
    EXPECT_TRUE(huge.bytes(std::numeric_limits<std::uint64_t>::max()).empty());
    EXPECT_EQ(huge.failedAt(), 1u);

    ByteCursor wide(r, 0);
    EXPECT_EQ(wide.uintBE(9), 0u);
    EXPECT_FALSE(wide);
    ByteCursor none(r, 0);
    EXPECT_EQ(none.uintBE(0), 0u);
    EXPECT_FALSE(none);

    ByteCursor exact(r, 0);
    exact.skip(2);
    auto rest = exact.bytes(2);
    EXPECT_EQ(rest.size(), 2u);
    EXPECT_EQ(static_cast<int>(rest[0]), 3);
    EXPECT_TRUE(exact.bytes(0).empty());
    EXPECT_TRUE(exact);  // an empty read at the very end is in range
    EXPECT_EQ(exact.u8(), 0u);
    EXPECT_EQ(exact.failedAt(), 4u);
}
