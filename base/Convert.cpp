// SPDX-License-Identifier: GPL-3.0-or-later
#include "Convert.h"

#include "DateTime.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <limits>
#include <memory>

namespace {

const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Runs a text builder; a failure inside (out of memory) is reported with the
// function's fixed text and gives an empty string.
template <typename F>
String guarded(const char* failureText, F build)
{
    try {
        return build();
    } catch (...) {
        std::fwrite(failureText, 1, std::strlen(failureText), stderr);
        return String();
    }
}

int checkedRadix(int radix)
{
    return radix >= 2 && radix <= 36 ? radix : 10;
}

String unsignedDigits(unsigned long long v, int radix, bool negative)
{
    char buf[66];
    char* end = buf + sizeof buf;
    char* p = end;
    const unsigned long long r = static_cast<unsigned long long>(checkedRadix(radix));
    do {
        *--p = kDigits[v % r];
        v /= r;
    } while (v != 0);
    if (negative)
        *--p = '-';
    return String(p, static_cast<int>(end - p));
}

unsigned long long magnitudeOf(long long v)
{
    return v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
}

String groupedDecimal(long long v, int group)
{
    const String digits = unsignedDigits(magnitudeOf(v), 10, false);
    String out;
    if (v < 0)
        out += '-';
    const int n = digits.length();
    for (int i = 0; i < n; ++i) {
        if (group > 0 && i > 0 && (n - i) % group == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

String fixedHex(unsigned long long v, int digits)
{
    char buf[16];
    for (int i = digits - 1; i >= 0; --i) {
        buf[i] = kDigits[v & 0xF];
        v >>= 4;
    }
    return String(buf, digits);
}

constexpr int kMaxPrecision = 1100;

int effectivePrecision(int precision)
{
    if (precision < 0)
        return 6;
    return precision > kMaxPrecision ? kMaxPrecision : precision;
}

// Fixed-point text of any floating type through to_chars, which is exact,
// locale-independent and never goes through the printf family.
template <typename Float>
String fixedText(Float v, int precision)
{
    if (v != v)
        return String("nan");
    // Widest fixed text: sign, every integer digit of the largest value,
    // point, fraction digits.
    const size_t size = static_cast<size_t>(std::numeric_limits<Float>::max_exponent10) + 4
        + static_cast<size_t>(kMaxPrecision);
    std::unique_ptr<char[]> buf(new char[size]);
    const std::to_chars_result r =
        std::to_chars(buf.get(), buf.get() + size, v, std::chars_format::fixed,
                      effectivePrecision(precision));
    if (r.ec != std::errc())
        return String();
    return String(buf.get(), static_cast<int>(r.ptr - buf.get()));
}

// Leading bytes below 33 and of 128 and above are skipped, then an optional
// sign and decimal digits; the magnitude saturates at 2^64 - 1.
void parseDecimal(const String& s, bool& negative, unsigned long long& magnitude)
{
    negative = false;
    magnitude = 0;
    int i = 0;
    const int n = s.length();
    while (i < n && (static_cast<unsigned char>(s[i]) < 33 || static_cast<unsigned char>(s[i]) >= 128))
        ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
        const unsigned d = static_cast<unsigned>(s[i] - '0');
        if (magnitude > (ULLONG_MAX - d) / 10) {
            magnitude = ULLONG_MAX;
            continue;
        }
        magnitude = magnitude * 10 + d;
    }
}

long long parseSigned(const String& s, long long lo, long long hi)
{
    bool negative;
    unsigned long long m;
    parseDecimal(s, negative, m);
    if (negative) {
        const unsigned long long limit = magnitudeOf(lo);
        return m >= limit ? lo : -static_cast<long long>(m);
    }
    return m >= static_cast<unsigned long long>(hi) ? hi : static_cast<long long>(m);
}

unsigned long long parseUnsigned(const String& s, unsigned long long hi)
{
    bool negative;
    unsigned long long m;
    parseDecimal(s, negative, m);
    if (negative)
        return 0;
    return m > hi ? hi : m;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

unsigned long long parseHex(const String& s, int maxDigits)
{
    int i = 0;
    const int n = s.length();
    while (i < n && static_cast<unsigned char>(s[i]) < 33)
        ++i;
    if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X'))
        i += 2;
    unsigned long long v = 0;
    for (int k = 0; k < maxDigits && i < n; ++k, ++i) {
        const int d = hexValue(s[i]);
        if (d < 0)
            break;
        v = (v << 4) | static_cast<unsigned>(d);
    }
    return v;
}

// Null only if the system cannot build the "C" locale; callers then fall
// back to the process locale.
locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

} // namespace

// ---------------------------------------------------------------------------
// Number to text

String Convert::int642str(long long v, int radix)
{
    return guarded("Unhandled C Exception in Convert::int642str",
                   [&] { return unsignedDigits(magnitudeOf(v), radix, v < 0); });
}

String Convert::int2str(int v, int radix)
{
    return guarded("Unhandled C Exception in Convert::int2str",
                   [&] { return unsignedDigits(magnitudeOf(v), radix, v < 0); });
}

String Convert::int322str(long v, int radix)
{
    return guarded("Unhandled C exception in Convert::int322str",
                   [&] { return unsignedDigits(magnitudeOf(v), radix, v < 0); });
}

String Convert::uint322str(unsigned long v, int radix)
{
    return guarded("Unhandled C Exception in Convert::uint322str",
                   [&] { return unsignedDigits(v, radix, false); });
}

String Convert::uint642str(unsigned long long v, int radix)
{
    return guarded("Unhandled C Exception in Convert::uint642str",
                   [&] { return unsignedDigits(v, radix, false); });
}

String Convert::int2groupStr(int v, int group)
{
    return guarded("Unhandled C exception in Convert::int2groupStr",
                   [&] { return groupedDecimal(v, group); });
}

String Convert::int642groupStr(long long v, int group)
{
    return guarded("Unhandled C Exception in Convert::int642groupStr",
                   [&] { return groupedDecimal(v, group); });
}

String Convert::float2str(float v, int precision)
{
    return guarded("Unhandled C Exception in Convert::float2str",
                   [&] { return fixedText(v, precision); });
}

String Convert::double2str(double v, int precision)
{
    return guarded("Unhandled C Exception in Convert::double2str",
                   [&] { return fixedText(v, precision); });
}

String Convert::longDouble2str(long double v, int precision)
{
    return guarded("Unhandled C Exception in Convert::longDouble2str",
                   [&] { return fixedText(v, precision); });
}

String Convert::bool2str(bool b)
{
    return guarded("Unhandled C Exception in Convert::bool2str",
                   [&] { return String(b ? "yes" : "no"); });
}

String Convert::byte2hexString(unsigned char b)
{
    return guarded("Unhandled C Exception in Convert::byte2hexString",
                   [&] { return fixedHex(b, 2); });
}

String Convert::uint162hexString(unsigned short v)
{
    return guarded("Unhandled C Exception in Convert::uint162hexString",
                   [&] { return fixedHex(v, 4); });
}

String Convert::uint322hexString(unsigned int v)
{
    return guarded("Unhandled C Exception in Convert::uint322hexString",
                   [&] { return fixedHex(v, 8); });
}

String Convert::uint642hexString(unsigned long long v)
{
    return guarded("Unhandled C Exception in Convert::uint642hexString",
                   [&] { return fixedHex(v, 16); });
}

String Convert::int2HexStr(int v)
{
    return uint322hexString(static_cast<unsigned int>(v));
}

void Convert::array2hexString(const Array<unsigned char, int>& a, String& out)
{
    out = guarded("Unhandled C Exception in Convert::array2hexString", [&] {
        String text;
        char pair[2];
        for (int i = 0; i < a.count(); ++i) {
            pair[0] = kDigits[a[i] >> 4];
            pair[1] = kDigits[a[i] & 0xF];
            text.append(pair, 2);
        }
        return text;
    });
}

String Convert::int2size(long long bytes)
{
    return guarded("Unhandled C Exception in Convert::int2size", [&] {
        static const char* const units[] = { "B", "KB", "MB", "GB", "TB", "PB", "EB" };
        const unsigned long long m = magnitudeOf(bytes);
        int unit = 0;
        while (unit < 6 && (m >> (10 * (unit + 1))) != 0)
            ++unit;
        String text = bytes < 0 ? String("-") : String();
        if (unit == 0) {
            text += unsignedDigits(m, 10, false);
        } else {
            const int shift = 10 * unit;
            const unsigned long long whole = m >> shift;
            const unsigned long long rest = m & ((1ULL << shift) - 1);
            text += unsignedDigits(whole, 10, false);
            text += '.';
            text += static_cast<char>('0' + ((rest * 10) >> shift));
        }
        text += ' ';
        text += units[unit];
        return text;
    });
}

// ---------------------------------------------------------------------------
// Text to number

int Convert::str2int(const String& s)
{
    return static_cast<int>(parseSigned(s, INT_MIN, INT_MAX));
}

short Convert::str2int16(const String& s)
{
    return static_cast<short>(parseSigned(s, SHRT_MIN, SHRT_MAX));
}

int Convert::str2int32(const String& s)
{
    return static_cast<int>(parseSigned(s, INT_MIN, INT_MAX));
}

long long Convert::str2int64(const String& s)
{
    return parseSigned(s, LLONG_MIN, LLONG_MAX);
}

unsigned short Convert::str2uint16(const String& s)
{
    return static_cast<unsigned short>(parseUnsigned(s, USHRT_MAX));
}

unsigned int Convert::str2uint32(const String& s)
{
    return static_cast<unsigned int>(parseUnsigned(s, UINT_MAX));
}

unsigned long long Convert::str2uint64(const String& s)
{
    return parseUnsigned(s, ULLONG_MAX);
}

float Convert::str2float(const String& s)
{
    const locale_t loc = cLocale();
    return loc ? strtof_l(s.c_str(), nullptr, loc) : std::strtof(s.c_str(), nullptr);
}

double Convert::str2double(const String& s)
{
    const locale_t loc = cLocale();
    return loc ? strtod_l(s.c_str(), nullptr, loc) : std::strtod(s.c_str(), nullptr);
}

bool Convert::str2bool(const String& s)
{
    String lower = s;
    lower.makeLower();
    return lower == "yes" || lower == "true" || lower == "1";
}

unsigned char Convert::hexString2byte(const String& s)
{
    return static_cast<unsigned char>(parseHex(s, 2));
}

unsigned short Convert::hexString2uint16(const String& s)
{
    return static_cast<unsigned short>(parseHex(s, 4));
}

unsigned int Convert::hexString2uint32(const String& s)
{
    return static_cast<unsigned int>(parseHex(s, 8));
}

unsigned long long Convert::hexString2uint64(const String& s)
{
    return parseHex(s, 16);
}

bool Convert::hexString2array(const String& s, Array<unsigned char, int>& out)
{
    out.setCount(0);
    // One grow call to the final size rather than one per byte.
    out.reallocate(s.length() / 2);
    int i = 0;
    for (; i + 1 < s.length(); i += 2) {
        const int hi = hexValue(s[i]);
        const int lo = hexValue(s[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.append(static_cast<unsigned char>((hi << 4) | lo));
    }
    return i == s.length();
}

// ---------------------------------------------------------------------------
// URL coding

String Convert::urlEncodeCharacter(char c)
{
    return guarded("Unhandled C Exception in Convert::urlEncodeCharacter", [&] {
        const unsigned char b = static_cast<unsigned char>(c);
        const char text[3] = { '%', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0xF] };
        return String(text, 3);
    });
}

String Convert::urlEncode(const char* text)
{
    return guarded("Unhandled C Exception in Convert::urlEncode", [&] {
        static const char kept[] = "-._~:/?#[]@!$&'()*,;=";
        String out;
        for (const char* p = text; p && *p; ++p) {
            const char c = *p;
            const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (alnum || std::strchr(kept, c))
                out += c;
            else
                out += urlEncodeCharacter(c);
        }
        return out;
    });
}

String Convert::urlDecode(const char* text)
{
    return guarded("Unhandled C Exception in Convert::urlDecode", [&] {
        String out;
        for (const char* p = text; p && *p; ++p) {
            if (*p == '%' && hexValue(p[1]) >= 0 && hexValue(p[2]) >= 0) {
                out += static_cast<char>((hexValue(p[1]) << 4) | hexValue(p[2]));
                p += 2;
            } else {
                out += *p;
            }
        }
        return out;
    });
}

// ---------------------------------------------------------------------------
// Times

String Convert::time2UserStr(long t)
{
    return guarded("Unhandled C Exception in Convert::time2UserStr", [&] {
        const DateTime d(t);
        return String::format("%02d.%02d.%04d %02d:%02d", d.getDate(), d.getMonth(), d.getYear(),
                              d.getHour(), d.getMinute());
    });
}

String Convert::time2UserDateStr(long t)
{
    return guarded("Unhandled C Exception in Convert::time2UserDateStr", [&] {
        const DateTime d(t);
        return String::format("%02d.%02d.%04d", d.getDate(), d.getMonth(), d.getYear());
    });
}

String Convert::time2UserHMStr(long t)
{
    return guarded("Unhandled C Exception in Convert::time2UserHMStr", [&] {
        const DateTime d(t);
        return String::format("%02d:%02d", d.getHour(), d.getMinute());
    });
}

String Convert::time2str(long t)
{
    return guarded("Unhandled C Exception in Convert::time2str", [&] {
        const DateTime d(t);
        return String::format("%04d%02d%02d%02d%02d%02d", d.getYear(), d.getMonth(), d.getDate(),
                              d.getHour(), d.getMinute(), d.getSecond());
    });
}

long Convert::str2time(const String& s)
{
    DateTime d(0L);
    return d.parseDT14(s.c_str()) ? d.getTime() : -1;
}

String ptr2str(const void* p)
{
    return guarded("Unhandled C Exception in Convert::ptr2str", [&] {
        const String digits =
            unsignedDigits(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)), 16, false);
        return digits.rightJustified(8, '0');
    });
}
