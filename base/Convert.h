// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"
#include "String.h"

// Conversions between numbers, booleans, bytes, times and String text.
//
// The functions that build text never throw: a failure inside (out of
// memory) writes "Unhandled C Exception in Convert::<name>" to the standard
// error stream and gives an empty string.
//
// Choices made here:
// - Radix: 2…36, digits above 9 as lower-case letters; any other radix is
//   taken as 10.
// - Grouping (int2groupStr, int642groupStr): `group` is the number of digits
//   per group, counted from the right, separated by ','; group <= 0 means no
//   separators ("1,234,567" for group 3). A sign stays in front.
// - int2size: binary units, dividing by 1024 (a shift by 10 bits) while the
//   value reaches 1024: "512 B", "1.5 KB", "3.0 MB", "2.0 GB" … up to "EB",
//   with one decimal, rounded down. Negative sizes get a "-".
// - float2str, double2str: fixed-point, exactly `precision` fraction digits
//   (trailing zeros kept; no "." for precision 0), correctly rounded to
//   nearest from the binary value, locale-independent; "inf", "-inf", "nan".
//   Precision -1 means 6; precisions above 1100 are taken as 1100.
// - Text to integer: saturates at the limits of the result type (and of 64
//   bits while reading); a negative text gives 0 for the unsigned forms.
// - Text to floating point: locale-independent ('.' decimal point), leading
//   blanks skipped, 0 when there is no number; out of range gives ±inf or 0.
// - Hexadecimal input: upper or lower case, optional leading blanks and
//   "0x"; at most 2, 4, 8 or 16 digits are read and reading stops at the
//   first byte that is not a hex digit (later bytes are ignored); no digit
//   at all gives 0. hexString2array reports whether the whole text was pairs
//   of hex digits; the bytes before the first bad pair are kept in any case.
// - urlDecode: a '%' not followed by two hex digits is kept as it is; '+'
//   stays '+'.
// - str2time: -1 for a text that is not 14 digits of a valid local date and
//   time from 1970 to 2038.
class Convert
{
public:
    static String int642str(long long v, int radix = 10);
    static String int2str(int v, int radix = 10);
    static String int322str(long v, int radix = 10);
    static String uint322str(unsigned long v, int radix = 10);
    static String uint642str(unsigned long long v, int radix = 10);
    static String int2groupStr(int v, int group = 3);
    static String int642groupStr(long long v, int group = 3);
    static String float2str(float v, int precision = -1);
    static String double2str(double v, int precision = -1);
    static String longDouble2str(long double v, int precision = -1);
    static String bool2str(bool b);
    static String byte2hexString(unsigned char b);
    static String uint162hexString(unsigned short v);
    static String uint322hexString(unsigned int v);
    static String uint642hexString(unsigned long long v);
    static String int2HexStr(int v);
    static void array2hexString(const Array<unsigned char, int>& a, String& out);
    static String int2size(long long bytes);

    static int str2int(const String& s);
    static short str2int16(const String& s);
    static int str2int32(const String& s);
    static long long str2int64(const String& s);
    static unsigned short str2uint16(const String& s);
    static unsigned int str2uint32(const String& s);
    static unsigned long long str2uint64(const String& s);
    static float str2float(const String& s);
    static double str2double(const String& s);
    static bool str2bool(const String& s);

    static unsigned char hexString2byte(const String& s);
    static unsigned short hexString2uint16(const String& s);
    static unsigned int hexString2uint32(const String& s);
    static unsigned long long hexString2uint64(const String& s);
    static bool hexString2array(const String& s, Array<unsigned char, int>& out);

    static String urlEncodeCharacter(char c);
    static String urlEncode(const char* text);
    static String urlDecode(const char* text);

    // Times are seconds since 1970, shown in local time.
    static String time2UserStr(long t);     // "dd.mm.yyyy hh:mm"
    static String time2UserDateStr(long t); // "dd.mm.yyyy"
    static String time2UserHMStr(long t);   // "hh:mm"
    static String time2str(long t);         // "yyyymmddhhmmss"
    static long str2time(const String& s);
};

// The address as lower-case hexadecimal digits, zero-filled to at least 8
// digits ('00001a2b'); on 64-bit systems an address above 32 bits keeps all
// its digits so that distinct objects never share a tag.
String ptr2str(const void* p);
