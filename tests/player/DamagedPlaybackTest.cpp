// The player on its real thread over recordings damaged on purpose: it never
// waits for a damaged unit, ends where the file ends, and shows after the
// damage exactly what it shows of the file `sessiontool repair` writes.

#include "PlayerTestSupport.h"

#include "DamagedRecordings.h"
#include "Exception.h"

namespace {

class DamagedPlayback : public PlayerFixture, public ::testing::WithParamInterface<DamageCase>
{
protected:
    // The screen after a seek to `ms` (no index: a replay from the start
    // through the same reader), with the player thread idle.
    VideoFrame screenAt(const QString& path, quint64 ms)
    {
        EXPECT_TRUE(open(path));
        EXPECT_TRUE(player.prepareSyncPlayback());
        try {
            player.seekSync(static_cast<long long>(ms));
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
    ASSERT_TRUE(writeFile(damaged, d.bytes));
    ASSERT_TRUE(writeFile(mended, repaired(s, d)));

    // 20 s at 20x: a second of wall time, whatever times the damage holds.
    VideoFrame last[2];
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "damaged" : "repaired");
        ASSERT_TRUE(open(i == 0 ? damaged : mended));
        player.setRequestedSpeed(20);
        const size_t before = window.statuses.size();
        const int boxes = prompter.count("critical");
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
