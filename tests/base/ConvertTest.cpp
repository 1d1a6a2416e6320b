// SPDX-License-Identifier: GPL-3.0-or-later
#include "Convert.h"
#include "DateTime.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

TEST(ConvertTest, IntegersToTextInAnyRadix)
{
    EXPECT_EQ(Convert::int642str(-255, 16), "-ff");
    EXPECT_EQ(Convert::int642str(0, 2), "0");
    EXPECT_EQ(Convert::int642str(LLONG_MIN, 10), "-9223372036854775808");
    EXPECT_EQ(Convert::int2str(INT_MIN, 16), "-80000000");
    EXPECT_EQ(Convert::int2str(10, 1), "10"); // no such radix: decimal
    EXPECT_EQ(Convert::uint642str(ULLONG_MAX, 2), String().leftJustified(64, '1'));
}

TEST(ConvertTest, GroupsAndSizes)
{
    EXPECT_EQ(Convert::int2groupStr(1234567, 3), "1,234,567");
    EXPECT_EQ(Convert::int2groupStr(-1234, 3), "-1,234");
    EXPECT_EQ(Convert::int642groupStr(LLONG_MIN, 4), "-922,3372,0368,5477,5808");

    EXPECT_EQ(Convert::int2size(1536), "1.5 KB");
    EXPECT_EQ(Convert::int2size(1048575), "1023.9 KB"); // rounded down, never "1024.0"
    EXPECT_EQ(Convert::int2size(LLONG_MIN), "-8.0 EB");
}

TEST(ConvertTest, FloatingPointToText)
{
    EXPECT_EQ(Convert::double2str(3.14159, -1), "3.141590");
    EXPECT_EQ(Convert::double2str(0.125, 2), "0.12"); // exact tie: to even
    EXPECT_EQ(Convert::double2str(-0.001, 2), "-0.00");
    EXPECT_EQ(Convert::double2str(1e300, 0).length(), 301);
    EXPECT_EQ(Convert::double2str(-INFINITY, 2), "-inf");
    // A huge precision is capped instead of allocating without bound.
    EXPECT_EQ(Convert::double2str(1.0, INT_MAX).length(), 2 + 1100);
}

TEST(ConvertTest, HexadecimalBothWays)
{
    EXPECT_EQ(Convert::uint322hexString(0x1A2B), "00001a2b");
    EXPECT_EQ(Convert::uint642hexString(0x0123456789ABCDEFULL), "0123456789abcdef");

    EXPECT_EQ(Convert::hexString2byte(String("Ff")), 0xFF);
    EXPECT_EQ(Convert::hexString2uint32(String("1a2bzz")), 0x1A2Bu);
    EXPECT_EQ(Convert::hexString2uint32(String("123456789")), 0x12345678u); // at most 8 digits

    Array<unsigned char, int> bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<unsigned char>(i));
    String text;
    Convert::array2hexString(bytes, text);
    ASSERT_EQ(text.length(), 512);
    EXPECT_TRUE(text.startsWith("000102"));
    Array<unsigned char, int> back;
    EXPECT_TRUE(Convert::hexString2array(text, back));
    ASSERT_EQ(back.count(), 256);
    EXPECT_EQ(std::memcmp(back.data(), bytes.data(), 256), 0);
    EXPECT_EQ(ptr2str(nullptr), "00000000");
    if (sizeof(void*) == 8) { // pointers keep their high half
        const uintptr_t high = static_cast<uintptr_t>(0x7f12ULL << 32) | 0x1a2bu;
        EXPECT_EQ(ptr2str(reinterpret_cast<const void*>(high)), "7f1200001a2b");
    }

    for (const char* bad : {"0a0", "0ag0ff"}) { // odd length, not a digit
        EXPECT_FALSE(Convert::hexString2array(String(bad), back));
        EXPECT_EQ(back.count(), 1);
    }
}

TEST(ConvertTest, TextToIntegersSaturates)
{
    EXPECT_EQ(Convert::str2int(String("  -42abc")), -42);
    EXPECT_EQ(Convert::str2int(String("\xa0\t+7")), 7);
    EXPECT_EQ(Convert::str2int(String("99999999999")), INT_MAX);
    EXPECT_EQ(Convert::str2int(String("-99999999999")), INT_MIN);
    EXPECT_EQ(Convert::str2int64(String("-9223372036854775808")), LLONG_MIN);
    EXPECT_EQ(Convert::str2int64(String("99999999999999999999999")), LLONG_MAX);
    EXPECT_EQ(Convert::str2uint32(String("4294967296")), UINT_MAX);
    EXPECT_EQ(Convert::str2uint64(String("18446744073709551616")), ULLONG_MAX);
}

TEST(ConvertTest, TextToFloatsAndBooleans)
{
    EXPECT_DOUBLE_EQ(Convert::str2double(String(" 2.5e3")), 2500.0);
    EXPECT_TRUE(Convert::str2bool(String("TRUE")));
    EXPECT_TRUE(Convert::str2bool(String("Yes")));
    EXPECT_FALSE(Convert::str2bool(String("2")));
}

TEST(ConvertTest, UrlCoding)
{
    EXPECT_EQ(Convert::urlEncodeCharacter('\xff'), "%FF");
    EXPECT_EQ(Convert::urlEncode("a b/c"), "a%20b/c");
    EXPECT_EQ(Convert::urlEncode("~:?#[]@!$&'()*,;=-._"), "~:?#[]@!$&'()*,;=-._");

    // Every byte except NUL survives the round trip.
    char all[256];
    for (int i = 1; i < 256; ++i)
        all[i - 1] = static_cast<char>(i);
    all[255] = 0;
    const String encoded = Convert::urlEncode(all);
    EXPECT_LT(encoded.findOneOf(" \"<>\\^`{|}\x7f\x80"), 0);
    EXPECT_EQ(Convert::urlDecode(encoded.c_str()), all);

    EXPECT_EQ(Convert::urlDecode("100%zz%4"), "100%zz%4"); // malformed escapes stay
    EXPECT_EQ(Convert::urlDecode("a+b%2fc"), "a+b/c");
    EXPECT_EQ(Convert::urlDecode("%00").length(), 1);
}

TEST(ConvertTest, TimesUseLocalFields)
{
    const long t = DateTime(2009, 3, 1, 7, 5, 9).getTime();
    EXPECT_EQ(Convert::time2UserStr(t), "01.03.2009 07:05");
    EXPECT_EQ(Convert::time2str(t), "20090301070509");
    EXPECT_EQ(Convert::str2time(Convert::time2str(t)), t);
    EXPECT_EQ(Convert::str2time(String("2009030107050")), -1);
    EXPECT_EQ(Convert::str2time(String("20090230070509")), -1); // 30 February
}

