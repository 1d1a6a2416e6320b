// SPDX-License-Identifier: GPL-3.0-or-later
#include "Array.h"

#include <climits>
#include <cstring>
#include <new>
#include <string>

#include <gtest/gtest.h>

TEST(ArrayTest, GrowsByTheStepAndReallocatesExactly)
{
    Array<int, int> a;
    for (int i = 0; i < 3; ++i)
        a.append(i);
    EXPECT_EQ(a.capacity(), 3); // growBy 0: one element at a time
    a.reallocate(2);
    EXPECT_EQ(a.count(), 2);
    EXPECT_EQ(a.capacity(), 2);
    EXPECT_EQ(a[1], 1);

    Array<int, int> b;
    b.setGrowBy(10);
    b.append(7);
    EXPECT_EQ(b.capacity(), 11);
}

TEST(ArrayTest, OverlappingCopiesAndRemoveMoveElementsSafely)
{
    Array<std::string, int> a;
    for (const char* s : {"a", "b", "c", "d", "e"})
        a.append(s);
    // Target after the source: must copy backwards.
    a.copy(1, a.data(), 3);
    EXPECT_EQ(a[0] + a[1] + a[2] + a[3] + a[4], "aabce");
    a.remove(1, 2);
    ASSERT_EQ(a.count(), 3);
    EXPECT_EQ(a[0] + a[1] + a[2], "ace");
    // Copying a shorter array overwrites the prefix and keeps the count.
    Array<std::string, int> two;
    two.append("x");
    two.append("y");
    a.copy(two);
    ASSERT_EQ(a.count(), 3);
    EXPECT_EQ(a[0] + a[1] + a[2], "xye");

    // Appending an element of the array itself while the array must grow.
    Array<std::string, int> b;
    b.append("only");
    b.append(b[0]);
    EXPECT_EQ(b[1], "only");

    // Copying from its own storage into a region that needs growing.
    Array<unsigned char, int> c;
    const unsigned char bytes[] = {1, 2, 3};
    c.copy(0, bytes, 3);
    c.copy(3, c.data(), 3);
    ASSERT_EQ(c.count(), 6);
    EXPECT_EQ(std::memcmp(c.data() + 3, bytes, 3), 0);
}

TEST(ArrayTest, SizesThatOverflowIntFailWithAllocationError)
{
    Array<unsigned char, int> a;
    a.setGrowBy(1000);
    EXPECT_THROW(a.setCount(INT_MAX - 10), std::bad_alloc);
    EXPECT_EQ(a.count(), 0);

    Array<unsigned char, int> b;
    const unsigned char byte = 1;
    b.append(byte);
    EXPECT_THROW(b.copy(INT_MAX - 1, &byte, 5), std::bad_alloc);
    EXPECT_EQ(b.count(), 1);
}

TEST(ArrayTest, ValueSemanticsCopyElementsDeeply)
{
    Array<Array<int, int>, int> outer;
    Array<int, int> inner;
    inner.append(42);
    outer.append(inner);
    Array<Array<int, int>, int> copy = outer;
    copy[0][0] = 1;
    EXPECT_EQ(outer[0][0], 42);
}
