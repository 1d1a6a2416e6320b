// SPDX-License-Identifier: GPL-3.0-or-later
// The speed-scaled clock as tables of hand-worked times.

#include "PlaybackClock.h"

#include <gtest/gtest.h>

TEST(PlaybackClockTest, ScaleAndUnscale)
{
    // Speed, wall time, the media time that passes in it; and back.
    const struct { int speed; quint64 wall, media, back; } rows[] = {
        {1, 100, 100, 100}, {0, 100, 100, 100}, {2, 100, 200, 100}, {20, 7, 140, 7},
        {-2, 100, 50, 100}, {-2, 101, 50, 100}, // whole milliseconds
        {3, 0, 0, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(PlaybackClock::scale(r.wall, r.speed), r.media) << r.speed << " " << r.wall;
        EXPECT_EQ(PlaybackClock::unscale(r.media, r.speed), r.back) << r.speed << " " << r.media;
    }
}

TEST(PlaybackClockTest, MediaTimeAndTheWaitForAUnit)
{
    // Started at wall time 1000 with `start` ms of media time at `speed`;
    // at wall time `now` the media time, and the wait for a unit at `unit`.
    const struct { int speed; quint64 start, now, media, unit, wait; } rows[] = {
        {1, 0, 1500, 500, 800, 300},       // 5000 ms after the start, 5 s of wall time
        {0, 0, 1500, 500, 800, 300},       // speed 0 runs at real time
        {2, 0, 1500, 1000, 1600, 300},     // twice as fast: half the wall time
        {20, 0, 1100, 2000, 2019, 0},      // due within the last wall millisecond
        {-2, 0, 1600, 300, 500, 400},      // half speed: twice the wall time
        {-2, 0, 1601, 300, 301, 2},
        {1, 0, 1500, 500, 400, 0},         // already due
        {1, 0, 900, 0, 100, 100},          // before the clock's start
        {-2, 10000, 1000, 10000, 10500, 1000}, // after a seek to 10 s at 1/2x
        {4, 20000, 1250, 21000, 22000, 250},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "speed " << r.speed << ", " << r.start << " at 1000, now "
                                        << r.now);
        PlaybackClock clock;
        clock.start(1000, r.start, r.speed);
        EXPECT_EQ(clock.mediaTime(r.now), r.media);
        EXPECT_EQ(clock.waitFor(r.unit, r.now), r.wait);
    }
}

TEST(PlaybackClockTest, SpeedChangesAndPausesKeepMediaTimeContinuous)
{
    // One clock through a sequence of steps: at each wall time, an action
    // and the media time it must read then.
    PlaybackClock clock;
    clock.start(1000, 0, 1);
    const struct { quint64 now; int speed; quint64 hold, media; } steps[] = {
        {1600, -2, 0, 600},  // 1/2x after 600 ms: no jump
        {2400, 0, 0, 1000},  // 800 ms at 1/2x: 400 ms on
        {2400, 4, 0, 1000},  // 4x
        {2500, 0, 0, 1400},
        {2800, 0, 300, 1400}, // a pause of 300 ms: nothing passed
        {2900, 1, 0, 1800},   // back to 1x
        {3000, 0, 0, 1900},
    };
    for (const auto& s : steps) {
        clock.hold(s.hold);
        if (s.speed != 0)
            clock.changeSpeed(s.now, s.speed);
        EXPECT_EQ(clock.mediaTime(s.now), s.media) << "at " << s.now;
    }
    EXPECT_EQ(clock.speed(), 1);
}

TEST(PlaybackClockTest, FollowsWhatIsHeardAndTheWallClockBetweenReports)
{
    // One clock through playback with sound: at each wall time an action
    // and the media time the clock must read then. Reports of what is
    // heard move it (back or forth); between them, and without sound, the
    // wall clock paces it at its speed.
    enum Action { None, Heard, Hold, Speed, Seek };
    PlaybackClock clock;
    clock.start(1000, 0, 1);
    const struct { quint64 now; Action action; quint64 value, media; } steps[] = {
        {1100, Heard, 60, 60},     // the device started 40 ms late
        {1150, None, 0, 110},      // wall pace between reports
        {1200, Heard, 155, 155},   // a device clock a little slow
        {1300, Heard, 255, 255},   // paused here: the device stops, no reports
        {1800, Hold, 500, 255},    // resumed after 500 ms: nothing passed
        {1800, Heard, 255, 255},   // the device goes on from the same sample
        {2000, Speed, 2, 454},     // 2x, continuous to the ms (455 halves to 227)
        {2100, None, 0, 654},
        {2100, Heard, 640, 640},   // the stretched sound is a little behind
        {2150, None, 0, 740},      // still 2x between reports
        {2200, Seek, 10000, 10000}, // a seek: speed 0 until the loop re-bases
        {2300, None, 0, 10100},
        {2300, Speed, 4, 10100},   // 4x: no sound, the wall clock alone
        {2400, None, 0, 10500},
    };
    for (const auto& s : steps) {
        switch (s.action) {
        case Heard: clock.follow(s.now, s.value); break;
        case Hold: clock.hold(s.value); break;
        case Speed: clock.changeSpeed(s.now, int(s.value)); break;
        case Seek: clock.start(s.now, s.value, 0); break;
        case None: break;
        }
        EXPECT_EQ(clock.mediaTime(s.now), s.media) << "at " << s.now;
    }
}
