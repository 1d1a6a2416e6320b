// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "String.h"

// A point in time, held as seconds since 1970-01-01 UTC and read in the local
// time zone. Plain value; the calendar conversions it makes are serialised by
// one process-wide recursive lock, so any thread may use DateTime objects.
//
// Dates are accepted from 1970 to 2038 and only when the day exists in its
// month: setting or parsing 31 February is refused rather than rolled over
// into March. Setters and parsers leave the object unchanged on refusal.
//
// Texts use English month names whatever the process locale, so that what
// getString() writes parseUTC() reads back.
class DateTime
{
public:
    DateTime(); // now
    explicit DateTime(long t);
    // Local date (and time); invalid fields leave the time at 0 (1970 UTC).
    DateTime(int year, int month, int day);
    DateTime(int year, int month, int day, int hour, int minute, int second);

    long getTime() const { return m_time; }
    void setTime(long t) { m_time = t; }

    // Local fields; each setter is ignored unless all its fields are valid
    // (1970 <= year < 2039, month 1…12, an existing day, hour 0…23,
    // minute and second 0…59).
    void setDate(int year, int month, int day);
    void setTime(int hour, int minute, int second);
    void setDateTime(int year, int month, int day, int hour, int minute, int second);

    int getYear() const; // 2012 if the conversion fails
    int getMonth() const; // 1…12
    int getDate() const;  // day of month
    int getDayOfWeek() const; // 0 = Sunday
    int getHour() const;
    int getMinute() const;
    int getSecond() const;

    // Local offset from UTC at this time, in whole hours truncated toward 0.
    int getTimeZone() const;
    // For -12 <= h <= 12: re-reads the stored wall-clock time as a time of
    // zone UTC+h, i.e. moves it by (local offset - h hours). Else ignored.
    void setTimeZone(int h);

    // strftime over the local fields, in the "C" locale.
    String format(const char* fmt) const;
    String getDateString() const; // "March, 04 2011"
    String getTimeString() const; // "17:05:09"
    String getString() const;     // "March 04, 2011 17:05:09 GMT+01"
    String getGMTString() const;  // the UTC fields, "… GMT+00"

    // Picks the notation by the first of ' ', '.', '/' found: a blank
    // parseUTC, '.' parseBG, '/' parseUS, none parseDT14.
    bool parse(const char* text);
    // "dd.mm.yyyy[ time]" (also with '/' or '-'); the time as by parseTime.
    bool parseBG(const char* text);
    // "mm/dd/yyyy[ time]" (also with '.' or '-').
    bool parseUS(const char* text);
    // "yyyymmddhhmmss", exactly 14 digits, local time.
    bool parseDT14(const char* text);
    // A date with an English month name and an optional time and zone, in
    // blank-separated words in any order: "March 04, 2011 17:05:09 GMT+01",
    // "Fri, 04 Mar 2011 17:05:09 GMT", "4 March 2011". Weekday names are
    // skipped; a number above 31 is the year, else the day; commas are
    // ignored. Day, month and year are required; a missing time is 00:00:00;
    // without a zone the time is local.
    bool parseUTC(const char* text);
    // "hh:mm" or "hh:mm:ss" on the current date, optionally followed by a
    // zone: "GMT", "UTC", "GMT+1", "GMT-05", "GMT+0530", "GMT+05:30".
    bool parseTime(const char* text);
    // 1…12 for "january"…"december" or their first three letters, ASCII
    // case ignored; -1 otherwise ("Sept" included).
    static int parseMonth(const String& name);

    // Wall clock from gettimeofday (not monotonic).
    static unsigned long long currentTimeMillis();
    static unsigned long long currentTimeNanos();

    bool operator==(const DateTime& o) const { return m_time == o.m_time; }
    bool operator!=(const DateTime& o) const { return m_time != o.m_time; }
    bool operator<(const DateTime& o) const { return m_time < o.m_time; }

private:
    // Parses "hh:mm[:ss][ zone]" into the fields and the zone offset in
    // seconds east of UTC (hasZone false when there is none).
    static bool parseClock(const String& text, int& hour, int& minute, int& second,
                           bool& hasZone, long& zoneSeconds);
    static bool parseZone(const String& text, long& zoneSeconds);
    bool parseNumericDate(const char* text, bool dayFirst);
    // Sets the local date and time and, with a zone, re-reads it as a time of
    // that zone. False (object unchanged) for invalid fields.
    bool assignParsed(int year, int month, int day, int hour, int minute, int second,
                      bool hasZone, long zoneSeconds);

    long m_time;
};
