// The bounded reader, and the DER frames read through it, refuse every read that leaves their bytes.
#include "base/ByteReader.h"
#include "base/Der.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

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
    using tessarin::readDerElement;
    const std::array<unsigned char, 6> shortForm{0x30, 0x03, 0x02, 0x01, 0x05, 0xff};
    auto e = readDerElement(ByteReader(shortForm.data(), shortForm.size()), 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->tag, 0x30);
    EXPECT_EQ(e->contentOffset(), 2u);
    EXPECT_EQ(e->end(), 5u);
    auto inner = readDerElement(ByteReader(shortForm.data(), shortForm.size()), 2);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->end(), 5u);

    std::vector<unsigned char> longForm{0x30, 0x82, 0x01, 0x00};
    longForm.resize(4 + 0x100, 0);
    e = readDerElement(ByteReader(longForm.data(), longForm.size()), 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->headerLength, 4u);
    EXPECT_EQ(e->contentLength, 0x100u);
    // One byte short of what the length claims, lengths of four billion, indefinite lengths,
    // length octets past the end and multi-byte tags are all refused.
    EXPECT_FALSE(readDerElement(ByteReader(longForm.data(), longForm.size() - 1), 0));
    const std::array<unsigned char, 6> huge{0x30, 0x84, 0xff, 0xff, 0xff, 0xff};
    EXPECT_FALSE(readDerElement(ByteReader(huge.data(), huge.size()), 0));
    const std::array<unsigned char, 9> tooManyOctets{0x30, 0x85, 0, 0, 0, 0, 1, 0, 0};
    EXPECT_FALSE(readDerElement(ByteReader(tooManyOctets.data(), tooManyOctets.size()), 0));
    const std::array<unsigned char, 4> indefinite{0x30, 0x80, 0x00, 0x00};
    EXPECT_FALSE(readDerElement(ByteReader(indefinite.data(), indefinite.size()), 0));
    const std::array<unsigned char, 3> cut{0x30, 0x82, 0x01};
    EXPECT_FALSE(readDerElement(ByteReader(cut.data(), cut.size()), 0));
    const std::array<unsigned char, 4> highTag{0x1f, 0x81, 0x01, 0x00};
    EXPECT_FALSE(readDerElement(ByteReader(highTag.data(), highTag.size()), 0));
    EXPECT_FALSE(readDerElement(ByteReader(shortForm.data(), shortForm.size()), 5));
    EXPECT_FALSE(readDerElement(ByteReader(shortForm.data(), shortForm.size()), 6));
}
