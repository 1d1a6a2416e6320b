// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamedArray.h"

#include <gtest/gtest.h>

TEST(NamedArrayTest, AddRefusesEmptyNamesAndLookupsIgnoreAsciiCase)
{
    NamedArray a;
    EXPECT_EQ(a.add("", "x"), -1);
    EXPECT_EQ(a.add(String(), String("x")), -1);
    EXPECT_EQ(a.add("Name", nullptr), 0);
    EXPECT_EQ(a.add("other", "2"), 1);
    EXPECT_EQ(a.add("NAME", "3"), 2);
    EXPECT_EQ(a[0].value, "");

    EXPECT_EQ(a.getItemIndex("name"), 0);
    EXPECT_EQ(a.getItemIndex("name", 1), 2);
    EXPECT_EQ(a.getItemIndex("name", 3), -1);
    EXPECT_EQ(a.count("nAmE"), 2);
    EXPECT_EQ(a.getValue("OTHER"), "2");
    EXPECT_EQ(a.getValue("missing"), "");
    // Only ASCII letters fold: other bytes must match exactly.
    a.add("\xc4x", "4");
    EXPECT_EQ(a.getItemIndex("\xe4x"), -1);
    EXPECT_EQ(a.getItemIndex("\xc4X"), 3);
}

TEST(NamedArrayTest, RemoveTakesEveryMatchAndKeepsOrder)
{
    NamedArray a;
    for (int i = 0; i < 30; ++i) // past the first growth step
        a.add(i % 3 == 0 ? "drop" : "keep", String::format("%d", i).c_str());
    EXPECT_TRUE(a.remove("DROP"));
    EXPECT_FALSE(a.remove("drop"));
    ASSERT_EQ(a.count(), 20);
    EXPECT_EQ(a[0].value, "1");
    EXPECT_EQ(a[2].value, "4");
    EXPECT_EQ(a[19].value, "29");

    // The name may be the text of an item that the removal overwrites.
    NamedArray b;
    b.add("x", "1");
    b.add("y", "2");
    b.add("x", "3");
    EXPECT_TRUE(b.remove(b[0].name.c_str()));
    ASSERT_EQ(b.count(), 1);
    EXPECT_EQ(b[0].name, "y");
}
