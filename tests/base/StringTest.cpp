// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamedArray.h"
#include "String.h"

#include <cstdarg>
#include <climits>
#include <cstdint>
#include <new>
#include <string>

#include <gtest/gtest.h>

// Several formats below are deliberately odd (unknown directives, null
// strings, huge widths); the compiler's printf checker would flag them.
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#pragma GCC diagnostic ignored "-Wformat-overflow"

namespace {

// The pieces of a split, each in brackets: "[a][][b]".
std::string pieces(const char* text, char sep, bool trim)
{
    Array<String, int> out;
    String(text).split(sep, out, trim);
    std::string joined;
    for (int i = 0; i < out.count(); ++i)
        joined += std::string("[") + out[i].c_str() + "]";
    return joined;
}

void appendFormat(String& out, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    out.formatArgumentsList(fmt, args);
    va_end(args);
}

} // namespace

TEST(StringTest, EmptyStringsHoldNoBufferAndAssignmentReusesIt)
{
    for (const String& empty : {String(), String(""), String(nullptr)}) {
        EXPECT_EQ(empty.data(), nullptr);
        EXPECT_STREQ(empty.c_str(), "");
    }

    String s("hello");
    EXPECT_EQ(s.capacity(), 5);
    const char* buffer = s.data();
    s = "hi";
    EXPECT_EQ(s.data(), buffer); // fits: same buffer
    EXPECT_EQ(s, "hi");
    s = "longer text";
    EXPECT_EQ(s.capacity(), 11); // exact size on assignment
    s += "!";
    EXPECT_EQ(s.capacity(), 24); // twice the new length on append
    EXPECT_EQ(s, "longer text!");

    // Embedded NUL bytes count; appending itself reads the buffer that grows.
    String nul("a\0b", 3);
    EXPECT_FALSE(nul == "a");
    EXPECT_EQ(nul.find("b"), 2);
    nul += nul;
    EXPECT_EQ(nul, String("a\0ba\0b", 6));
    EXPECT_EQ(String("abc", -1).length(), 0);
}

TEST(StringTest, SearchEdges)
{
    const String s("abcabc");
    EXPECT_EQ(s.find("bc", 2), 4);
    EXPECT_EQ(s.find("bc", -5), 1);
    EXPECT_EQ(s.find(nullptr), -1);
    EXPECT_EQ(s.find("abcd", 3), -1); // would run past the end
    EXPECT_EQ(s.findBack("abcabcx"), -1);
    EXPECT_EQ(s.findOneOf("xc", 3), 5);
    EXPECT_EQ(s.findOneOf("a", 6), -1);
    EXPECT_EQ(s.findBackOneOf("ab"), 4);
    EXPECT_TRUE(s.startsWith(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(s.startsWith("abcabc1"));
    EXPECT_FALSE(s.endsWith("xabcabc"));
}

TEST(StringTest, RemoveAndJustify)
{
    String s("abcdef");
    s.remove(1, 2);
    EXPECT_EQ(s, "adef");
    s.remove(10, 1);
    s.remove(3, 100);
    EXPECT_EQ(s, "ade");

    EXPECT_EQ(String("ab").leftJustified(5, '.'), "ab...");
    EXPECT_EQ(String("ab").rightJustified(5, '0'), "000ab");
    EXPECT_EQ(String("abcdef").rightJustified(3, ' ', false), "abcdef");
    EXPECT_EQ(String("abcdef").leftJustified(-4, ' ', true), "");
}

TEST(StringTest, ReplaceNeverRescansInsertedText)
{
    String s("aaaa");
    s.replace("aa", "a");
    EXPECT_EQ(s, "aa");

    String same("abab");
    same.replace("b", same.c_str()); // `to` lies in the buffer being rewritten
    EXPECT_EQ(same, "aababaabab");

    String grow("ab");
    grow.replace("b", "bbbb");
    EXPECT_EQ(grow, "abbbb");
    EXPECT_EQ(grow.capacity(), 10);
}

TEST(StringTest, GrowthPastIntMaxFailsWithBadAlloc)
{
    // 2^20 occurrences, each replaced by 2^12 bytes: 2^32 bytes, refused from
    // the computed size before anything is allocated.
    String big = String("a").leftJustified(1 << 20, 'a');
    const String wide = String().leftJustified(1 << 12, 'b');
    EXPECT_THROW(big.replace("a", wide.c_str()), std::bad_alloc);
    EXPECT_EQ(big.length(), 1 << 20); // unchanged

    // A width of INT_MAX after one byte of text is one byte past the limit.
    EXPECT_THROW(String::format("x%*d", INT_MAX, 5), std::bad_alloc);
    EXPECT_THROW(String::format("x%2147483647s", "a"), std::bad_alloc);
    EXPECT_THROW(String::format("x%.2147483647d", 5), std::bad_alloc);
}

TEST(StringTest, SplitKeepsEmptyPiecesAndTrims)
{
    EXPECT_EQ(pieces("a,,b,", ',', false), "[a][][b][]");
    EXPECT_EQ(pieces("", ',', false), "");
    EXPECT_EQ(pieces(" a , b\t\r\n", ',', true), "[a][b]");
    // Bytes of 128 and above are not blanks.
    EXPECT_EQ(pieces("\xa0x\xa0", ',', true), "[\xa0x\xa0]");

    // A second split clears what the first one left, even when the text
    // split is one of the pieces it replaces.
    Array<String, int> p;
    String("a,b,c").split(';', p, false);
    p[0].split(',', p, false);
    ASSERT_EQ(p.count(), 3);
    EXPECT_EQ(p[2], "c");
}

TEST(StringTest, SplitIntoNamedPairs)
{
    NamedArray named;
    named.add("stale", "1");
    String(" host = a.b ; port=80;flag;;=v ").split(';', '=', named, true);
    ASSERT_EQ(named.count(), 3); // the empty item and the empty name are skipped
    EXPECT_EQ(named[0].name, "host");
    EXPECT_EQ(named[0].value, "a.b");
    EXPECT_EQ(named.getValue("PORT"), "80");
    EXPECT_EQ(named[2].name, "flag");
    EXPECT_EQ(named[2].value, "");
}

TEST(StringTest, ComposeSkipsSeparatorsBeforeTheFirstText)
{
    Array<String, int> parts;
    for (const char* part : {"", "", "a", "b"})
        parts.append(String(part));
    String s("old");
    s.compose(", ", parts);
    EXPECT_EQ(s, "a, b");
    s.compose('/', parts);
    EXPECT_EQ(s, "a/b");
}

TEST(StringTest, FormatCases)
{
    EXPECT_EQ(String::format("%02d.%02d.%04d", 5, 3, 2009), "05.03.2009");
    EXPECT_EQ(String::format("%5s|%-5s|100%%", "ab", "ab"), "   ab|ab   |100%");
    EXPECT_EQ(String::format("%i|%u|%o|%x|%X", -7, 7u, 8u, 255u, 255u), "-7|7|10|ff|FF");
    EXPECT_EQ(String::format("%05d|%-5d|%+03d|% d", -42, 42, 1, 3), "-0042|42   |+01| 3");
    EXPECT_EQ(String::format("%.3d|%6.3d", 5, -5), "005|  -005");
    EXPECT_EQ(String::format("%lld", static_cast<long long>(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(String::format("%hhd|%hu", 300, 70000), "44|4464");
    EXPECT_EQ(String::format("%c%3c|%-3c|", 'a', 'b', 'c'), "a  b|c  |");
    EXPECT_EQ(String::format("%*d|%-*d|", 4, 7, 3, 8), "   7|8  |");
    EXPECT_EQ(String::format("%*d|", -5, 7), "7|"); // below -1: no width
    EXPECT_EQ(String::format("[%s]", static_cast<const char*>(nullptr)), "[]");
    EXPECT_EQ(String::format("%p", reinterpret_cast<void*>(0x1a2b)), "1a2b");
    // Floating point is always written in fixed notation.
    EXPECT_EQ(String::format("%f|%.0f", 1.5, 2.5), "1.500000|2");
    EXPECT_EQ(String::format("%08.3f|%+.1f", -3.14159, 2.0), "-003.142|+2.0");
    EXPECT_EQ(String::format("%e", 1e20), "100000000000000000000.000000");
    EXPECT_EQ(String::format("%F|%5f", 1.0 / 0.0, -1.0 / 0.0), "INF| -inf");
}

TEST(StringTest, FormatOddDirectives)
{
    // Unknown conversions stay as written and take no argument.
    EXPECT_EQ(String::format("%q|%d", 5), "%q|5");
    EXPECT_EQ(String::format("%-08.3q"), "%-08.3q");
    // A format that ends inside a directive keeps its text; a last '%' stays.
    EXPECT_EQ(String::format("ab%5"), "ab%5");
    EXPECT_EQ(String::format("50%"), "50%");

    int n = -1;
    long long ln = -1;
    const String s = String::format("abc%n%5d%lln", &n, 1, &ln);
    EXPECT_EQ(s, "abc    1");
    EXPECT_EQ(n, 3);
    EXPECT_EQ(ln, 8);

    // %n counts what this call produced, not what the string held before.
    String appended("xyz");
    int k = -1;
    appendFormat(appended, "ab%n", &k);
    EXPECT_EQ(appended, "xyzab");
    EXPECT_EQ(k, 2);

    // Format and argument may live in the buffer that the expansion grows.
    String self("x%9s");
    appendFormat(self, self.c_str(), self.c_str());
    EXPECT_EQ(self, "x%9sx     x%9s");

    // A precision bounds what %s reads: the text need not be terminated.
    const char unterminated[3] = { 'a', 'b', 'c' };
    EXPECT_EQ(String::format("%.2s|%.9s", unterminated, "xy"), "ab|xy");
}

TEST(StringTest, HashIsStableAndNeverNegative)
{
    EXPECT_EQ(StringHashFunction(String()), 0);
    EXPECT_EQ(StringHashFunction(String("ab")), 97 * 33 + 98);
    // Bytes are signed chars: 0xFF counts as -1, and |-1| = 1.
    EXPECT_EQ(StringHashFunction(String("\xff")), 1);
    for (int i = 0; i < 2000; ++i)
        EXPECT_GE(StringHashFunction(String::format("key-%d-\xf0\x9f-%d", i, i * 7919)), 0);
}
