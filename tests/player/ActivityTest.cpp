// SPDX-License-Identifier: GPL-3.0-or-later
// The activity of a recording as the walk over its units finds it (busy and
// still stretches, sound, pointer moves, damage), and the player skipping
// the idle stretches on its real thread.

#include <QBuffer>

#include <cstdint>

#include "ActivityMap.h"
#include "ActivityScan.h"
#include "PlayerTestSupport.h"
#include "RecordScan.h"

namespace {

using Stretches = std::vector<std::pair<quint64, quint64>>;

// 320 x 240. Screen changes at 0, 2000, 7000, 8500 and 12600 ms, unchanged
// frames at 4000 and 10000; the pointer shows at 500, stays put at 5000 and
// moves at 15000; quiet sound (-56 dBFS) every 100 ms up to 16 s, loud
// (-12 dBFS) from 14000 to 14499; a last unit at 20000. Idle: 2000-7000,
// 8500-12600 and 15000-20000 (the gaps of 1.4 and 1.5 s are not).
const Stretches kIdle = {{2000, 7000}, {8500, 12600}, {15000, 20000}};

Units activityUnits(bool damaged)
{
    return [=](RecordingWriter& w) {
        const std::vector<std::pair<quint64, int>> screens = {
            {0, 0}, {2000, 1}, {4000, 1}, {7000, 2}, {8500, 3}, {10000, 3}, {12600, 4}};
        size_t next = 0;
        std::vector<int16_t> samples(4800 * 2);
        for (quint64 t = 0; t <= 16000; t += 100) {
            while (next < screens.size() && screens[next].first <= t) {
                VideoFrame f = paintScreen(320, 240, screens[next].second);
                w.writeScreenFrame(screens[next].first, f);
                ++next;
            }
            if (t == 500 || t == 5000)
                w.writeMousePos(t, 10, 10, 1);
            if (t == 15000)
                w.writeMousePos(t, 20, 20, 1);
            if (damaged && t == 9000)
                w.writeRawUnit(0x1F, 9000, QByteArray(40, '\x5A'));
            const int16_t amplitude = t >= 14000 && t < 14500 ? 8000 : 50;
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = (i / 2) % 2 ? amplitude : int16_t(-amplitude);
            w.writeAudio(t, RecordingWriter::CAP, samples.data(), 4800, 2);
        }
        w.writeInfo(20000, "end");
    };
}

Stretches pairs(const std::vector<ActivityMap::Stretch>& s)
{
    Stretches out;
    for (const ActivityMap::Stretch& x : s)
        out.emplace_back(x.from, x.to);
    return out;
}

struct ScanCase
{
    bool compressed;
    bool damaged;
};

// The name ctest shows for a row.
void PrintTo(const ScanCase& c, std::ostream* os)
{
    *os << (c.compressed ? "compressed" : "plain") << (c.damaged ? ", damaged" : "");
}

class ActivityScanTest : public ::testing::TestWithParam<ScanCase>
{
};

TEST_P(ActivityScanTest, FindsBusyAndStillStretchesSoundPointerAndDamage)
{
    const ScanCase c = GetParam();
    QByteArray bytes = recordingBytes(20000, [&](RecordingWriter& w) {
        w.setCompression(c.compressed);
        activityUnits(c.damaged)(w);
    });
    QBuffer device(&bytes);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    ActivityMap map;
    ActivityScan scan(map);
    scan.begin();
    const RecordScan::Result r = RecordScan::scan(device, nullptr, &scan);
    ASSERT_TRUE(r.readable);
    EXPECT_EQ(r.damageCount, c.damaged ? 1 : 0);
    ASSERT_TRUE(map.isComplete());

    EXPECT_EQ(pairs(map.idleStretches()), kIdle);
    const std::vector<ActivityMap::Second> s = map.seconds(0, 100);
    // Up to the last second with a unit of screen, pointer or sound (16).
    ASSERT_EQ(s.size(), 17u);
    // Changes where the frames change; an unchanged frame is a few bytes.
    for (int second : {0, 2, 7, 8, 12})
        EXPECT_GT(s[second].screenBytes, ActivityMap::kStillScreenBytes) << second;
    for (int second : {1, 3, 4, 5, 6, 10, 11, 13, 16})
        EXPECT_EQ(s[second].screenBytes, 0u) << second;
    // Sound: quiet everywhere but for second 14; none after 16 s.
    EXPECT_GT(s[14].soundDb, -15);
    for (int second : {0, 5, 13, 15, 16})
        EXPECT_TRUE(s[second].soundDb < ActivityMap::kQuietDb
                    && s[second].soundDb > ActivityMap::kNoSound) << second << ' ' << int(s[second].soundDb);
    EXPECT_TRUE(s[0].pointerMoved);
    EXPECT_FALSE(s[5].pointerMoved);
    EXPECT_TRUE(s[15].pointerMoved);
    for (int second = 0; second < 17; ++second)
        // Between the units of 8900 and 9000 ms.
        EXPECT_EQ(s[second].damaged, c.damaged && (second == 8 || second == 9)) << second;

    // Inside a stretch and outside, by the millisecond.
    ActivityMap::Stretch at;
    EXPECT_TRUE(map.idleStretchAt(2001, at));
    EXPECT_EQ(std::make_pair(at.from, at.to), std::make_pair(quint64(2000), quint64(7000)));
    EXPECT_TRUE(map.idleStretchAt(19999, at));
    EXPECT_EQ(at.to, 20000u);
    for (quint64 ms : {2000, 7000, 7001, 8000, 13000, 14200})
        EXPECT_FALSE(map.idleStretchAt(ms, at)) << ms;
}

INSTANTIATE_TEST_SUITE_P(Stored, ActivityScanTest,
                         ::testing::Values(ScanCase{false, false}, ScanCase{true, false},
                                           ScanCase{false, true}));

TEST(ActivityMapTest, UnknownAheadOfTheScanIsNotIdleAndFarTimesAreNotKept)
{
    ActivityMap map;
    map.addScreen(1000, 5000);
    map.setScanned(1000);
    ActivityMap::Stretch at;
    // Nothing is known past 1000: the stretch might end any time.
    EXPECT_FALSE(map.idleStretchAt(3000, at));
    map.addScreen(9000, 5000);
    EXPECT_FALSE(map.idleStretchAt(3000, at));
    map.setScanned(9000);
    EXPECT_TRUE(map.idleStretchAt(3000, at));
    // A time field far beyond the bound allocates nothing.
    map.addScreen(quint64(ActivityMap::kMaxSeconds) * 1000 + 5, 5000);
    map.addSoundWindow(~quint64(0) / 2, -3);
    map.addDamage(0, ~quint64(0));
    EXPECT_EQ(map.secondCount(), ActivityMap::kMaxSeconds);
}

// ---------------------------------------------------------------------------
// Skipping on the player thread

class SkipIdleTest : public PlayerFixture
{
};

TEST_F(SkipIdleTest, JumpsExactlyOverTheStretchesLongerThanThreeSeconds)
{
    const QString p = write(QStringLiteral("idle.vro"), 20000, activityUnits(false));
    ASSERT_TRUE(open(p));
    ASSERT_TRUE(waitFor([&] { return player.activity().isComplete(); }, 10000));
    Stretches skipped;
    QObject::connect(&player, &FilePlayer::idleSkipped, &window,
                     [&](quint64 from, quint64 to) { skipped.emplace_back(from, to); });
    player.setSkipIdle(true);
    player.setRequestedSpeed(2);
    const quint64 start = nowMs();
    player.play();
    ASSERT_TRUE(waitFor([&] { return window.statuses.back() == FilePlayer::STATE_IDLE
                                     && player.getState() == FilePlayer::STATE_IDLE; },
                        20000));
    const quint64 wall = nowMs() - start;
    EXPECT_EQ(skipped, kIdle);
    const QStringList messages = view.messages();
    EXPECT_EQ(messages.filter(QStringLiteral("skipped")),
              QStringList({QStringLiteral("Idle 0:05 skipped"), QStringLiteral("Idle 0:04 skipped"),
                           QStringLiteral("Idle 0:05 skipped")}));
    // 20 s at 2x is 10 s; with 14.1 s skipped about 3 s are left.
    EXPECT_LT(wall, 7000u);
    // The position follows the recording: the end is reported.
    EXPECT_EQ(window.positions.back(), 20u);
}

} // namespace
