// SPDX-License-Identifier: GPL-3.0-or-later
#include "DateTime.h"
#include "BaseTestSupport.h"

#include <gtest/gtest.h>

namespace {

const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

} // namespace

TEST(DateTimeTest, InvalidFieldsLeaveTheTimeUnchanged)
{
    ZoneGuard zone(kCentralEurope);
    DateTime d(2011, 3, 4, 17, 5, 9);
    const long before = d.getTime();
    d.setDate(2040, 1, 1);
    d.setDate(2011, 13, 1);
    d.setDate(2011, 2, 29); // not a leap year: no rolling over into March
    d.setDate(1969, 12, 31);
    d.setTime(24, 0, 0);
    d.setTime(12, 60, 0);
    d.setDateTime(2011, 4, 31, 0, 0, 0);
    EXPECT_EQ(d.getTime(), before);

    d.setDate(2012, 2, 29);
    EXPECT_EQ(d.getDate(), 29);
    EXPECT_EQ(d.getHour(), 17); // the time of day stays
    EXPECT_EQ(d.getDayOfWeek(), 3); // a Wednesday
}

TEST(DateTimeTest, ParsesTheNumericNotations)
{
    ZoneGuard zone(kCentralEurope);
    const long expected = DateTime(2011, 3, 4, 17, 5, 9).getTime();
    DateTime d(0L);
    ASSERT_TRUE(d.parse("20110304170509"));
    EXPECT_EQ(d.getTime(), 1299254709); // 16:05:09 UTC
    ASSERT_TRUE(d.parse("04.03.2011 17:05:09"));
    EXPECT_EQ(d.getTime(), expected);
    ASSERT_TRUE(d.parseUS("3.4.2011 17:05"));
    EXPECT_EQ(d.getTime(), expected - 9);
    ASSERT_TRUE(d.parseBG("04.03.2011 16:05:09 GMT"));
    EXPECT_EQ(d.getTime(), expected);

    const long midnight = DateTime(2011, 3, 4).getTime();
    for (const char* text : { "04.03.2011", "03/04/2011" }) {
        ASSERT_TRUE(d.parse(text));
        EXPECT_EQ(d.getTime(), midnight) << text;
    }
    ASSERT_TRUE(d.parseBG("04-03-2011"));
    EXPECT_EQ(d.getTime(), midnight);

    // Refusals keep the previous value.
    const char* bad[] = { "2011030417050",  "20110230170509", "20110304240000", "31.04.2011",
                          "04.03.1969",     "04.03.2039",     "04.03",          "04.03.2011.1",
                          "04.x3.2011",     "04.03.2011 25:00", "04.03.2011 10:00 XYZ", "",
                          "13/01/2011" };
    for (const char* text : bad) {
        DateTime keep(expected);
        EXPECT_FALSE(keep.parse(text)) << text;
        EXPECT_EQ(keep.getTime(), expected) << text;
    }
}

TEST(DateTimeTest, TextsCarryTheZoneAndParseBack)
{
    {
        ZoneGuard zone(kCentralEurope);
        const DateTime d(2011, 3, 4, 17, 5, 9);
        EXPECT_EQ(d.getString(), "March 04, 2011 17:05:09 GMT+01");
        EXPECT_EQ(d.getGMTString(), "March 04, 2011 16:05:09 GMT+00");
        EXPECT_EQ(d.getDateString(), "March, 04 2011");
        EXPECT_EQ(d.getTimeString(), "17:05:09");
        EXPECT_EQ(d.format("%Y/%j %a"), "2011/063 Fri");
        EXPECT_EQ(DateTime(2011, 7, 1).getTimeZone(), 2); // summer time

        for (const String& text : { d.getString(), d.getGMTString(),
                                    String("Fri, 04 Mar 2011 16:05:09 GMT"),
                                    String("March 04, 2011 21:35:09 GMT+05:30") }) {
            DateTime back(0L);
            EXPECT_TRUE(back.parse(text.c_str())) << text.c_str();
            EXPECT_EQ(back.getTime(), d.getTime()) << text.c_str();
        }
        DateTime back(0L);
        ASSERT_TRUE(back.parseUTC("4 mARCH 2011"));
        EXPECT_EQ(back.getTime(), DateTime(2011, 3, 4).getTime());
        ASSERT_TRUE(back.parseUTC("4 MAR 2011"));
        EXPECT_EQ(back.getTime(), DateTime(2011, 3, 4).getTime());
        EXPECT_FALSE(back.parseUTC("March 2011 10:00"));       // no day
        EXPECT_FALSE(back.parseUTC("Foo 04 March 2011"));      // unknown word
        EXPECT_FALSE(back.parseUTC("Feb 30 2011"));
        EXPECT_FALSE(back.parseUTC("4 Sept 2011"));
    }
    {
        ZoneGuard zone("EST5");
        EXPECT_TRUE(DateTime(2011, 3, 4, 17, 5, 9).getString().endsWith("GMT-05"));
    }
    {
        ZoneGuard zone("NST3:30"); // UTC-3:30: whole hours truncate toward zero
        EXPECT_EQ(DateTime(2011, 3, 4).getTimeZone(), -3);
    }
}

TEST(DateTimeTest, TimeOfDayAndZoneShift)
{
    ZoneGuard zone(kCentralEurope);
    DateTime d(2011, 3, 4, 1, 2, 3);
    ASSERT_TRUE(d.parseTime("17:05"));
    EXPECT_EQ(d.getTime(), DateTime(2011, 3, 4, 17, 5, 0).getTime());
    ASSERT_TRUE(d.parseTime("17:05:09 UTC+3"));
    EXPECT_EQ(d.getTime(), DateTime(2011, 3, 4, 15, 5, 9).getTime());
    EXPECT_FALSE(d.parseTime("17"));
    EXPECT_FALSE(d.parseTime("17:5:99"));
    EXPECT_FALSE(d.parseTime("17:05 GMT+15"));

    // 12:00 read as a wall-clock time of UTC+3 is 10:00 here (UTC+1).
    DateTime noon(2011, 3, 4, 12, 0, 0);
    noon.setTimeZone(3);
    EXPECT_EQ(noon.getHour(), 10);
}

