// SPDX-License-Identifier: GPL-3.0-or-later
#include "DateTime.h"

#include "Convert.h"

#include <ctime>
#include <locale.h>
#include <memory>
#include <mutex>
#include <sys/time.h>

namespace {

// The calendar conversions read the process-wide time-zone state; one
// recursive lock serialises them. Never destroyed, so that logging from
// static destructors still finds it.
std::recursive_mutex& calendarLock()
{
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

bool localFields(long t, std::tm& out)
{
    std::lock_guard<std::recursive_mutex> guard(calendarLock());
    const std::time_t tt = static_cast<std::time_t>(t);
    return localtime_r(&tt, &out) != nullptr;
}

bool utcFields(long t, std::tm& out)
{
    std::lock_guard<std::recursive_mutex> guard(calendarLock());
    const std::time_t tt = static_cast<std::time_t>(t);
    return gmtime_r(&tt, &out) != nullptr;
}

// Local fields back to seconds; false when the system cannot represent them.
bool fromLocalFields(std::tm fields, long& t)
{
    std::lock_guard<std::recursive_mutex> guard(calendarLock());
    fields.tm_isdst = -1;
    // -1 is also a valid result; a failing mktime leaves tm_wday alone.
    fields.tm_wday = -1;
    const std::time_t tt = std::mktime(&fields);
    if (tt == static_cast<std::time_t>(-1) && fields.tm_wday == -1)
        return false;
    t = static_cast<long>(tt);
    return true;
}

// One local field of t, or fallback when the conversion fails.
int localField(long t, int std::tm::*field, int fallback)
{
    std::tm fields{};
    return localFields(t, fields) ? fields.*field : fallback;
}

long localOffsetAt(long t)
{
    std::tm fields{};
    return localFields(t, fields) ? fields.tm_gmtoff : 0;
}

bool isLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool validDate(int year, int month, int day)
{
    static const int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (year < 1970 || year > 2038 || month < 1 || month > 12 || day < 1)
        return false;
    const int last = days[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
    return day <= last;
}

bool validTime(int hour, int minute, int second)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

String formatFields(const std::tm& fields, const char* fmt)
{
    if (!fmt || !*fmt)
        return String();
    // strftime gives 0 both for "too small" and for an empty result; stop
    // growing at a bound far beyond any sensible format.
    for (size_t size = 128; size <= 65536; size *= 4) {
        std::unique_ptr<char[]> buf(new char[size]);
        const locale_t loc = cLocale();
        const size_t n = loc ? strftime_l(buf.get(), size, fmt, &fields, loc)
                             : std::strftime(buf.get(), size, fmt, &fields);
        if (n > 0)
            return String(buf.get(), static_cast<int>(n));
    }
    return String();
}

bool allDigits(const String& s, int minLength, int maxLength)
{
    if (s.length() < minLength || s.length() > maxLength)
        return false;
    for (int i = 0; i < s.length(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
    }
    return true;
}

bool isWeekdayName(String word)
{
    static const char* const names[] = { "sunday", "monday", "tuesday", "wednesday",
                                         "thursday", "friday", "saturday" };
    word.makeLower();
    for (const char* name : names) {
        if (word == name || word == String(name, 3))
            return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------

DateTime::DateTime()
    : m_time(static_cast<long>(std::time(nullptr)))
{
}

DateTime::DateTime(long t)
    : m_time(t)
{
}

DateTime::DateTime(int year, int month, int day)
    : m_time(0)
{
    setDateTime(year, month, day, 0, 0, 0);
}

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second)
    : m_time(0)
{
    setDateTime(year, month, day, hour, minute, second);
}

void DateTime::setDate(int year, int month, int day)
{
    std::tm f{};
    if (validDate(year, month, day) && localFields(m_time, f))
        assignParsed(year, month, day, f.tm_hour, f.tm_min, f.tm_sec, false, 0);
}

void DateTime::setTime(int hour, int minute, int second)
{
    std::tm f{};
    if (validTime(hour, minute, second) && localFields(m_time, f))
        assignParsed(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, hour, minute, second, false, 0);
}

void DateTime::setDateTime(int year, int month, int day, int hour, int minute, int second)
{
    assignParsed(year, month, day, hour, minute, second, false, 0);
}

bool DateTime::assignParsed(int year, int month, int day, int hour, int minute, int second,
                            bool hasZone, long zoneSeconds)
{
    if (!validDate(year, month, day) || !validTime(hour, minute, second))
        return false;
    std::tm f{};
    f.tm_year = year - 1900;
    f.tm_mon = month - 1;
    f.tm_mday = day;
    f.tm_hour = hour;
    f.tm_min = minute;
    f.tm_sec = second;
    long t = 0;
    if (!fromLocalFields(f, t))
        return false;
    if (hasZone)
        t += localOffsetAt(t) - zoneSeconds;
    m_time = t;
    return true;
}

int DateTime::getYear() const
{
    return localField(m_time, &std::tm::tm_year, 2012 - 1900) + 1900;
}

int DateTime::getMonth() const
{
    return localField(m_time, &std::tm::tm_mon, 0) + 1;
}

int DateTime::getDate() const
{
    return localField(m_time, &std::tm::tm_mday, 1);
}

int DateTime::getDayOfWeek() const
{
    return localField(m_time, &std::tm::tm_wday, 0);
}

int DateTime::getHour() const
{
    return localField(m_time, &std::tm::tm_hour, 0);
}

int DateTime::getMinute() const
{
    return localField(m_time, &std::tm::tm_min, 0);
}

int DateTime::getSecond() const
{
    return localField(m_time, &std::tm::tm_sec, 0);
}

int DateTime::getTimeZone() const
{
    return static_cast<int>(localOffsetAt(m_time) / 3600);
}

void DateTime::setTimeZone(int h)
{
    if (h < -12 || h > 12)
        return;
    m_time += localOffsetAt(m_time) - static_cast<long>(h) * 3600;
}

// ---------------------------------------------------------------------------
// Texts

String DateTime::format(const char* fmt) const
{
    std::lock_guard<std::recursive_mutex> guard(calendarLock());
    std::tm f{};
    if (!localFields(m_time, f))
        return String();
    return formatFields(f, fmt);
}

String DateTime::getDateString() const
{
    return format("%B, %d %Y");
}

String DateTime::getTimeString() const
{
    return format("%H:%M:%S");
}

String DateTime::getString() const
{
    const String base = format("%B %d, %Y %H:%M:%S");
    return String::format("%s GMT%+03d", base.c_str(), getTimeZone());
}

String DateTime::getGMTString() const
{
    std::lock_guard<std::recursive_mutex> guard(calendarLock());
    std::tm f{};
    if (!utcFields(m_time, f))
        return String();
    return formatFields(f, "%B %d, %Y %H:%M:%S GMT+00");
}

// ---------------------------------------------------------------------------
// Parsers

bool DateTime::parse(const char* text)
{
    if (!text)
        return false;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ')
            return parseUTC(text);
        if (*p == '.')
            return parseBG(text);
        if (*p == '/')
            return parseUS(text);
    }
    return parseDT14(text);
}

bool DateTime::parseBG(const char* text)
{
    return parseNumericDate(text, true);
}

bool DateTime::parseUS(const char* text)
{
    return parseNumericDate(text, false);
}

bool DateTime::parseNumericDate(const char* text, bool dayFirst)
{
    const String all = String(text).trimmed();
    if (all.isEmpty())
        return false;
    const int space = all.find(" ");
    const String datePart = space < 0 ? all : all.mid(0, space);
    const String timePart = space < 0 ? String() : all.mid(space + 1).trimmed();

    const char* seps = dayFirst ? "./-" : "/.-";
    Array<String, int> parts;
    for (const char* sep = seps; *sep; ++sep) {
        if (datePart.find(String(sep, 1)) >= 0) {
            datePart.split(*sep, parts, true);
            break;
        }
    }
    if (parts.count() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (!allDigits(parts[i], 1, 4))
            return false;
    }
    const int first = Convert::str2int(parts[0]);
    const int second = Convert::str2int(parts[1]);
    const int year = Convert::str2int(parts[2]);
    const int day = dayFirst ? first : second;
    const int month = dayFirst ? second : first;

    int hour = 0, minute = 0, sec = 0;
    bool hasZone = false;
    long zone = 0;
    if (!timePart.isEmpty() && !parseClock(timePart, hour, minute, sec, hasZone, zone))
        return false;
    return assignParsed(year, month, day, hour, minute, sec, hasZone, zone);
}

bool DateTime::parseDT14(const char* text)
{
    const String s(text);
    if (!allDigits(s, 14, 14))
        return false;
    auto field = [&](int pos, int n) { return Convert::str2int(s.mid(pos, n)); };
    return assignParsed(field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2),
                        field(12, 2), false, 0);
}

bool DateTime::parseUTC(const char* text)
{
    Array<String, int> words;
    String(text).split(' ', words, true);
    int day = -1, month = -1, year = -1;
    int hour = 0, minute = 0, sec = 0;
    bool hasTime = false, hasZone = false;
    long zone = 0;

    for (int i = 0; i < words.count(); ++i) {
        String word = words[i];
        word.replace(",", nullptr);
        if (word.isEmpty())
            continue;
        long z = 0;
        bool clockZone = false;
        if (parseZone(word, z)) {
            if (hasZone)
                return false;
            hasZone = true;
            zone = z;
        } else if (word.find(":") >= 0) {
            if (hasTime || !parseClock(word, hour, minute, sec, clockZone, z))
                return false;
            hasTime = true;
        } else if (parseMonth(word) > 0) {
            if (month > 0)
                return false;
            month = parseMonth(word);
        } else if (isWeekdayName(word)) {
            continue;
        } else if (allDigits(word, 1, 4)) {
            const int v = Convert::str2int(word);
            if (word.length() <= 2 && day < 0)
                day = v;
            else if (year < 0 && word.length() == 4)
                year = v;
            else
                return false;
        } else {
            return false;
        }
    }
    if (day < 0 || month < 0 || year < 0)
        return false;
    return assignParsed(year, month, day, hour, minute, sec, hasZone, zone);
}

bool DateTime::parseTime(const char* text)
{
    std::tm f{};
    int hour, minute, sec;
    bool hasZone;
    long zone;
    if (!localFields(m_time, f) || !parseClock(String(text).trimmed(), hour, minute, sec, hasZone, zone))
        return false;
    return assignParsed(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, hour, minute, sec, hasZone, zone);
}

bool DateTime::parseClock(const String& text, int& hour, int& minute, int& second, bool& hasZone,
                          long& zoneSeconds)
{
    const int space = text.find(" ");
    const String clock = space < 0 ? text : text.mid(0, space);
    const String rest = space < 0 ? String() : text.mid(space + 1).trimmed();

    Array<String, int> parts;
    clock.split(':', parts, false);
    if (parts.count() < 2 || parts.count() > 3)
        return false;
    for (int i = 0; i < parts.count(); ++i) {
        if (!allDigits(parts[i], 1, 2))
            return false;
    }
    const int h = Convert::str2int(parts[0]);
    const int m = Convert::str2int(parts[1]);
    const int s = parts.count() == 3 ? Convert::str2int(parts[2]) : 0;
    if (!validTime(h, m, s))
        return false;

    long zone = 0;
    const bool zoned = !rest.isEmpty();
    if (zoned && !parseZone(rest, zone))
        return false;
    hour = h;
    minute = m;
    second = s;
    hasZone = zoned;
    zoneSeconds = zone;
    return true;
}

bool DateTime::parseZone(const String& textIn, long& zoneSeconds)
{
    String text = textIn;
    text.makeUpper();
    if (text.startsWith("GMT") || text.startsWith("UTC"))
        text = text.mid(3);
    else if (text == "Z")
        text = String();
    else if (!text.startsWith("+") && !text.startsWith("-"))
        return false;
    if (text.isEmpty()) {
        zoneSeconds = 0;
        return true;
    }
    if (text[0] != '+' && text[0] != '-')
        return false;
    const long sign = text[0] == '-' ? -1 : 1;
    String digits = text.mid(1);
    digits.replace(":", nullptr);
    int hours = 0, minutes = 0;
    if (allDigits(digits, 1, 2)) {
        hours = Convert::str2int(digits);
    } else if (allDigits(digits, 4, 4)) {
        hours = Convert::str2int(digits.mid(0, 2));
        minutes = Convert::str2int(digits.mid(2, 2));
    } else {
        return false;
    }
    if (hours > 14 || minutes > 59)
        return false;
    zoneSeconds = sign * (hours * 3600L + minutes * 60L);
    return true;
}

int DateTime::parseMonth(const String& name)
{
    static const char* const names[] = { "january", "february", "march", "april",
                                         "may", "june", "july", "august",
                                         "september", "october", "november", "december" };
    for (int i = 0; i < 12; ++i) {
        if (name.equalsIgnoreCase(names[i]) || name.equalsIgnoreCase(String(names[i], 3).c_str()))
            return i + 1;
    }
    return -1;
}

unsigned long long DateTime::currentTimeMillis()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<unsigned long long>(tv.tv_sec) * 1000ULL
        + static_cast<unsigned long long>(tv.tv_usec) / 1000ULL;
}

unsigned long long DateTime::currentTimeNanos()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<unsigned long long>(tv.tv_sec) * 1000000000ULL
        + static_cast<unsigned long long>(tv.tv_usec) * 1000ULL;
}
