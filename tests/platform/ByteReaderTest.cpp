// The bounded reader refuses every read that leaves its bytes, whatever the offsets.
#include "base/ByteReader.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

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
