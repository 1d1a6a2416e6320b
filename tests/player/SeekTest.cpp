// SPDX-License-Identifier: GPL-3.0-or-later
// Seeking on the real player thread: key-frame restore with the index the
// player built itself (replacing an invalid one, loaded again on the next
// open), replay from the start without one, a seek from idle, the catch-up
// and its cancellation, indexing cancelled and indexing that ends in
// playback.

#include "PlayerTestSupport.h"

#include <QFile>

#include "IndexBuilder.h"
#include "IndexFile.h"

namespace {

class SeekTest : public PlayerFixture
{
protected:
    // Opens `p`, lets the player build the index and waits until it is idle.
    bool openIndexed(const QString& p)
    {
        return open(p, IPrompter::Yes) && waitFor([&] {
                   return player.isIndexLoaded() && player.getState() == FilePlayer::STATE_IDLE;
               }, 10000);
    }

    // Seeks from the paused state (seek() reports "seeking" at once) and
    // waits until the player is paused again.
    bool seekPaused(long long seconds, int mode = FilePlayer::SEEK_ABSOLUTE)
    {
        if (player.getState() == FilePlayer::STATE_IDLE)
            player.play(), player.pause();
        player.seek(seconds, mode);
        return waitState(FilePlayer::STATE_PAUSED);
    }
};

} // namespace

TEST_F(SeekTest, WithTheIndexSeeksRestoreTheLastKeyFrameBeforeTheTarget)
{
    // A 35 s recording with a unit every 500 ms: its index gets key frames at
    // 10, 20 and 30 s. An invalid index is deleted and a new one offered.
    const QString p = write("s.vro", 35000, screenUnits(48, 32, 500, 35000));
    ASSERT_TRUE(writeBytes(p + "x", QByteArray(100, 'z')));
    ASSERT_TRUE(openIndexed(p));
    EXPECT_TRUE(prompter.last().startsWith("question|Index missing|"));
    EXPECT_EQ(player.getIndexEntryCount(), 3);

    // Seconds, mode, and the target in ms: before, between, at and after
    // key frames, absolute and relative to the time on screen.
    const int rel = FilePlayer::SEEK_RELATIVE;
    const long long cases[][3] = {{25, 1, 25000}, {15, 1, 15000}, {30, 1, 30000}, {5, 1, 5000},
                                  {12, 1, 12000}, {3, rel, 15000}, {-4, rel, 11000},
                                  {1, 1, 1000},   {-2, rel, 0}};
    for (const auto& [seconds, mode, target] : cases) {
        SCOPED_TRACE(testing::Message() << seconds << (mode == rel ? " relative" : ""));
        ASSERT_TRUE(seekPaused(seconds, int(mode))); // and paused again
        EXPECT_EQ(player.screenTimeMs(), quint64(target));
        // The screen holds every unit before the target and nothing later.
        if (target > 0) {
            EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, quint64(target), false)));
        }
    }

    // Opened again: the index is loaded without a question, and with the
    // play-on-open flag the recording starts by itself.
    window.m_playOnOpen = true;
    ASSERT_TRUE(player.openFile(p));
    EXPECT_EQ(prompter.count("question"), 1);
    EXPECT_EQ(player.getState(), FilePlayer::STATE_PLAYING);
}

TEST_F(SeekTest, WithoutAnIndexSeeksReplayFromTheStart)
{
    // Answered No. A seek from idle starts playback; every seek replays from
    // the start.
    const QString p = write("s.vro", 35000, screenUnits(48, 32, 500, 35000));
    ASSERT_TRUE(open(p, IPrompter::No));
    player.seek(25, FilePlayer::SEEK_ABSOLUTE);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    player.pause();
    for (long long seconds : {20, 7}) {
        const int clears = view.count("clearScreen");
        ASSERT_TRUE(seekPaused(seconds));
        EXPECT_GT(view.count("clearScreen"), clears); // from an empty screen
        EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, seconds * 1000, false)));
    }

    // When play() fails, a seek from idle gives up at once instead of waiting.
    player.stop();
    ASSERT_TRUE(QFile::remove(p));
    const quint64 t0 = nowMs();
    player.seek(5, FilePlayer::SEEK_ABSOLUTE);
    EXPECT_LT(nowMs() - t0, 1000u);
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(prompter.last(),
              "critical|Session Player|Unable to open the file:\n" + p + "\nNo such file or directory");
}

TEST_F(SeekTest, AStopDuringASeekCancelsOnlyItsCatchUp)
{
    // A catch-up through a minute of whole-screen updates, from paused. The
    // screen then shows where the catch-up stopped, and playback goes on
    // from there.
    const QString p = write("heavy.vro", 60000, heavyUnits(100, 60000));
    ASSERT_TRUE(open(p, IPrompter::No));
    player.play();
    player.pause();
    auto expectCancelled = [&]() {
        ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED, 20000));
        const quint64 reached = player.screenTimeMs();
        EXPECT_LT(reached, 50000u);
        EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, reached, false)));
    };

    // Stopped before the player thread took the seek up (it polls every
    // 200 ms while paused): the stop is not lost.
    player.seek(55, FilePlayer::SEEK_ABSOLUTE);
    player.stop();
    expectCancelled();

    // Stopped while the catch-up paints.
    view.boxGate.arm();
    player.seek(55, FilePlayer::SEEK_ABSOLUTE);
    ASSERT_TRUE(view.boxGate.waitReached(10000));
    player.stop();
    view.boxGate.release();
    expectCancelled();
    player.play();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_PLAYING);
}

TEST_F(SeekTest, IndexingCanBeCancelledAndLeavesNoIndex)
{
    const QString p = write("heavy.vro", 60000, heavyUnits(100, 60000));
    ASSERT_TRUE(open(p, IPrompter::Yes));
    // The build writes beside the recording; the index appears only when
    // complete, so an interrupted build never leaves one.
    const QString temp = IndexBuilder::tempFileName(p + "x");
    ASSERT_TRUE(waitFor([&] { return QFile::exists(temp); }, 10000));
    EXPECT_FALSE(QFile::exists(p + "x"));

    // No: the build goes on.
    prompter.answer(IPrompter::No);
    player.stop();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_INDEXING);
    EXPECT_EQ(prompter.last(), "warning|Attention|This will cancel the indexing and disable "
                               "random seek!\nAre you sure you want to stop?");

    // Yes: cancelled, no index, seeking disabled.
    prompter.answer(IPrompter::Yes);
    player.stop();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    EXPECT_FALSE(QFile::exists(p + "x"));
    EXPECT_FALSE(QFile::exists(temp));
    EXPECT_FALSE(player.isIndexLoaded());
}

// The window hears "indexing" then "playing": playback starts from the
// indexing state, so no command of the window can start it a second time.
TEST_F(SeekTest, PlayOnOpenStartsAfterTheBuildWithoutPassingIdle)
{
    const QString p = write("s.vro", 35000, screenUnits(48, 32, 500, 35000));
    window.m_playOnOpen = true;
    const size_t before = window.statuses.size();
    ASSERT_TRUE(open(p, IPrompter::Yes));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_EQ(statusesSince(before), (std::vector<int>{4, 1}));
}
