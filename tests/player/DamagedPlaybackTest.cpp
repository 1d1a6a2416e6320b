// SPDX-License-Identifier: GPL-3.0-or-later
// The player on its real thread over recordings damaged on purpose: it never
// waits for a damaged unit, ends where the file ends, says what it skipped
// and when a recording ends early, takes the real end for the length, and
// shows after the damage exactly what it shows of the file `sessiontool
// repair` writes.

#include "PlayerTestSupport.h"

#include "DamagedRecordings.h"
#include "Exception.h"
#include "Playhead.h"
#include "Seeking.h"

namespace {

class DamagedPlayback : public PlayerFixture, public ::testing::WithParamInterface<DamageCase>
{
protected:
    // The screen after the player's own seek to `ms` without an index (a
    // replay from the start through the same reader), on a playhead of its
    // own.
    static VideoFrame screenAt(const QString& path, quint64 ms)
    {
        FakeView view;
        Playhead playhead;
        playhead.setView(&view);
        RecordFileHeader header;
        playhead.open(path, header);
        Seeking seeking(playhead);
        try {
            seeking.seek(static_cast<long long>(ms), false);
        } catch (const IncorrectFormatException&) {
            // Nothing plausible after the damage: the seek ends there (the
            // play loop reports it).
        }
        return view.frame();
    }
};

} // namespace

TEST_P(DamagedPlayback, NeverHangsAndShowsWhatTheRepairedFileShows)
{
    const SampleRecording s = writeSample(GetParam().compressed);
    const Damaged d = GetParam().make(s);
    const QString damaged = dir.filePath("damaged.vro"), mended = dir.filePath("mended.vro");
    ASSERT_TRUE(writeBytes(damaged, d.bytes));
    ASSERT_TRUE(writeBytes(mended, repaired(s, d)));

    // What the player says of each stretch it passes over, in order.
    auto clock = [](quint64 ms) {
        return QStringLiteral("%1:%2").arg(ms / 60000).arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'));
    };
    QStringList skipped;
    for (const auto& [first, last] : d.stretches) {
        if (d.toEnd && last == s.units.size())
            continue;
        const quint64 before = first > 0 ? s.units[first - 1].time : 0;
        const quint64 after = d.notInflating ? s.units[first].time : s.units[last].time;
        skipped << QStringLiteral("Damaged part skipped (%1\u2013%2)").arg(clock(before), clock(after));
    }
    // The last unit that plays.
    quint64 realEnd = 0;
    const QSet<int> lost = d.lost();
    for (int k = 0; k < s.units.size() - (d.truncated ? 1 : 0); ++k)
        if (!lost.contains(k))
            realEnd = std::max(realEnd, s.units[k].time);

    // 20 s at 20x: a second of wall time, whatever times the damage holds.
    VideoFrame last[2];
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "damaged" : "repaired");
        const int messages = view.messages().size();
        const size_t durations = window.durations.size();
        ASSERT_TRUE(open(i == 0 ? damaged : mended));
        // The walk over the units reports the length the window shows.
        ASSERT_TRUE(waitFor([&] { return window.durations.size() > durations; }, 5000));
        const bool incomplete = d.toEnd || (i == 0 && d.truncated);
        EXPECT_EQ(player.getDuration(), incomplete ? realEnd : 20000u);
        EXPECT_EQ(window.durations.back(), player.getDuration());

        player.setRequestedSpeed(20);
        const size_t before = window.statuses.size();
        const int boxes = prompter.count("critical");
        const int opened = view.messages().size();
        player.play();
        ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 10000)) << "still in state " << player.getState();
        const bool invalid = i == 0 && d.toEnd;
        const std::vector<int> statuses =
            invalid ? std::vector<int>{1, 5, 6, 0} : std::vector<int>{1, 6, 0};
        EXPECT_EQ(statusesSince(before), statuses);
        EXPECT_EQ(prompter.count("critical"), boxes + (invalid ? 1 : 0));
        if (invalid) {
            EXPECT_EQ(prompter.last(), "critical|Session Player|Invalid File format");
        }
        last[i] = view.frame();

        // Said once per recording opened; a healthy one is never called
        // incomplete.
        const QStringList all = view.messages().mid(messages);
        const QStringList early = all.filter(QStringLiteral("ends early"));
        EXPECT_EQ(early, incomplete ? QStringList{"The recording ends early at " + clock(realEnd)}
                                    : QStringList{});
        QStringList played = view.messages().mid(opened);
        played.removeIf([](const QString& m) { return m.contains(QStringLiteral("ends early")); });
        EXPECT_EQ(played, i == 0 ? skipped : QStringList{});
    }
    EXPECT_TRUE(sameScreen(last[0], last[1]));

    for (quint64 ms : {5500, 9000, 13000, 17000, 20000}) {
        SCOPED_TRACE(ms);
        const VideoFrame a = screenAt(damaged, ms);
        EXPECT_TRUE(sameScreen(a, screenAt(mended, ms)));
    }
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedPlayback, ::testing::ValuesIn(damageCases()),
                         [](const auto& info) { return std::string(info.param.name); });
