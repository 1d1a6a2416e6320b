// Seeking on the real player thread: key-frame restore with the index the
// player built itself (replacing an invalid one, loaded again on the next
// open), replay from the start without one, a seek from idle, the catch-up
// and its cancellation, and cancelled indexing.

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
    ASSERT_TRUE(writeFile(p + "x", QByteArray(100, 'z')));
    ASSERT_TRUE(openIndexed(p));
    EXPECT_TRUE(prompter.last().startsWith("question|Index missing|"));

    // Seconds, mode, the target in ms, and the key frame restored (0: a
    // replay from the start; -1: the catch-up from the current unit).
    const int rel = FilePlayer::SEEK_RELATIVE;
    const long long cases[][4] = {{25, 1, 25000, 20000}, {15, 1, 15000, 10000},
                                  {30, 1, 30000, 20000}, {5, 1, 5000, 0},
                                  {12, 1, 12000, 10000}, {3, rel, 15000, -1},
                                  {-4, rel, 11000, 10000}, {1, 1, 1000, 0},
                                  {-2, rel, 0, 0}};
    for (const auto& [seconds, mode, target, keyFrame] : cases) {
        SCOPED_TRACE(testing::Message() << seconds << (mode == rel ? " relative" : ""));
        const int from = log.size();
        ASSERT_TRUE(seekPaused(seconds, int(mode))); // and paused again
        EXPECT_TRUE(log.contains(QStringLiteral("Target time : %1").arg(target), from));
        EXPECT_EQ(log.contains(keyFrame > 0 ? QStringLiteral("Key frame restored: %1").arg(keyFrame)
                                            : QStringLiteral("Key frame restored"),
                               from),
                  keyFrame > 0);
        EXPECT_EQ(log.contains("Seek restarts at the beginning", from), keyFrame == 0);
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
    EXPECT_EQ(player.getIndexEntryCount(), 3);
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
        const int from = log.size();
        ASSERT_TRUE(seekPaused(seconds));
        EXPECT_TRUE(log.contains("Seek restarts at the beginning", from));
        EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, seconds * 1000, false)));
    }

    // When play() fails, a seek from idle gives up at once instead of waiting.
    player.stop();
    ASSERT_TRUE(QFile::remove(p));
    const quint64 t0 = nowMs();
    player.seek(5, FilePlayer::SEEK_ABSOLUTE);
    EXPECT_LT(nowMs() - t0, 1000u);
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(prompter.last(), "critical|Session Player|Unable to open the file:\n" + p);
}

TEST_F(SeekTest, StopDuringALongCatchUpCancelsOnlyTheSeek)
{
    ASSERT_TRUE(open(write("heavy.vro", 60000, heavyUnits(100, 60000)), IPrompter::No));
    player.play();
    ASSERT_TRUE(waitFor([&] { return !view.mouseEvents().empty(); }, 5000));
    const int from = log.size();
    const int clears = view.count("clearScreen");
    player.seek(55, FilePlayer::SEEK_ABSOLUTE);
    // The catch-up has started once the screen was cleared for the replay.
    ASSERT_TRUE(waitFor([&] { return view.count("clearScreen") > clears; }, 5000));
    pump(100);
    player.stop();
    ASSERT_TRUE(waitFor([&] { return log.contains("Seek canceled by user", from); }, 20000));
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    // Playback goes on from the unit the catch-up reached, short of 55 s.
    const long long reached =
        log.lines().value(log.find("Current time: ", from)).section(": ", 1).toLongLong();
    EXPECT_LT(reached, 55000);
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

TEST_F(SeekTest, AStopRightAfterASeekCancelsItsCatchUp)
{
    ASSERT_TRUE(open(write("heavy.vro", 60000, heavyUnits(100, 60000)), IPrompter::No));
    player.play();
    player.pause();
    const int from = log.size();
    player.seek(55, FilePlayer::SEEK_ABSOLUTE);
    player.stop();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED, 30000));
    EXPECT_TRUE(log.contains("Seek canceled by user", from));
}

TEST_F(SeekTest, PlayOnOpenStartsAfterTheBuildWithoutPassingIdle)
{
    const QString p = write("s.vro", 35000, screenUnits(48, 32, 500, 35000));
    window.m_playOnOpen = true;
    const size_t before = window.statuses.size();
    ASSERT_TRUE(open(p, IPrompter::Yes));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_EQ(statusesSince(before), (std::vector<int>{4, 1}));
}
