// SPDX-License-Identifier: GPL-3.0-or-later
#include "ByteReader.h"

#include <gtest/gtest.h>

TEST(ByteReaderTest, ReadsBothByteOrders)
{
    const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    ByteReader be(bytes, 8), le(bytes, 8);
    unsigned v16 = 0;
    uint32_t v32 = 0;
    uint64_t v64 = 0;
    ASSERT_TRUE(be.readU16BE(v16));
    EXPECT_EQ(v16, 0x1234u);
    ASSERT_TRUE(be.readU32BE(v32));
    EXPECT_EQ(v32, 0x56789ABCu);
    ASSERT_TRUE(le.readU64LE(v64));
    EXPECT_EQ(v64, 0xF0DEBC9A78563412ull);
    EXPECT_TRUE(le.atEnd());
}

TEST(ByteReaderTest, RefusesEveryReadPastTheEndWithoutMoving)
{
    const unsigned char bytes[] = {1, 2, 3};
    ByteReader r(bytes, 3);
    uint32_t v = 0;
    EXPECT_FALSE(r.readU32LE(v));
    EXPECT_EQ(r.position(), 0);
    EXPECT_FALSE(r.skip(4));
    EXPECT_FALSE(r.skip(-1));
    EXPECT_FALSE(r.has(-1));
    const unsigned char* p = nullptr;
    EXPECT_TRUE(r.take(3, p));
    EXPECT_EQ(p, bytes);
    unsigned b = 0;
    EXPECT_FALSE(r.readU8(b));
    EXPECT_TRUE(r.has(0));

    ByteReader none(nullptr, 10);
    EXPECT_EQ(none.length(), 0);
    EXPECT_FALSE(none.readU8(b));

    // Peeking looks ahead without moving; copying takes all or nothing.
    ByteReader q(bytes, 3);
    EXPECT_TRUE(q.peekU8(2, b));
    EXPECT_EQ(b, 3u);
    EXPECT_FALSE(q.peekU8(3, b));
    EXPECT_FALSE(q.peekU8(-1, b));
    EXPECT_EQ(q.position(), 0);
    unsigned char copy[4] = {9, 9, 9, 9};
    EXPECT_FALSE(q.readBytes(copy, 4));
    EXPECT_EQ(copy[0], 9);
    EXPECT_TRUE(q.readBytes(copy, 3));
    EXPECT_EQ(copy[2], 3);
    EXPECT_EQ(copy[3], 9);
    EXPECT_TRUE(q.atEnd());
}
