// Seeking on the real player thread: entry choice and key-frame restore with
// the index the player built itself, replay from the start without one, the
// catch-up and its cancellation, and the state a seek returns to.

#include "PlayerFixture.h"

#include <QFile>

#include "IndexFile.h"
#include "UnitDispatch.h"

namespace {

// Two full-screen frames of a large screen alternating every `stepMs`, each
// unit compressed: cheap to write, slow to decode, so that catch-ups and
// index builds take a while.
std::vector<TestUnit> heavyUnits(quint64 stepMs, quint64 lastMs)
{
    const int w = 1024, h = 768;
    GridEncoder encoder;
    encoder.setScreenDimension(w, h);
    QByteArray frames[2];
    for (int i = 0; i < 3; ++i) {
        VideoFrame frame = paintScreen(w, h, i % 2);
        frames[i % 2] = encodeScreen(encoder, frame);
    }
    std::vector<TestUnit> units = {
        {RecordUnitHeader::KIND_SCREEN, 0,
         screenPayload(UnitDispatch::SCREEN_FULL, screenHeader(w, h, 77)), 0, true}};
    int i = 0;
    for (quint64 t = 0; t <= lastMs; t += stepMs, ++i) {
        units.push_back({RecordUnitHeader::KIND_SCREEN, t,
                         screenPayload(UnitDispatch::SCREEN_END, frames[i % 2]), 0, true});
        units.push_back({RecordUnitHeader::KIND_CONTROL, t, mousePayload(i, 0, 1)});
    }
    return units;
}

class SeekTest : public PlayerFixture
{
protected:
    // A 35 s recording with a unit every 500 ms; its index gets key frames at
    // 10, 20 and 30 s.
    QString recording(const QString& name = QStringLiteral("s.vro"))
    {
        return write(name, 35000, screenUnits(48, 32, 500, 35000));
    }

    // Opens `p`, lets the player build the index and waits until it is idle.
    bool openIndexed(const QString& p)
    {
        const size_t before = window.statuses.size();
        if (!open(p, IPrompter::Yes))
            return false;
        return sawStatus(FilePlayer::STATE_INDEXING, before)
            && sawStatus(FilePlayer::STATE_IDLE, before + 1) && player.isIndexLoaded();
    }

    // Seeks from the paused state and waits until the player is paused again.
    bool seekPaused(long long seconds, int mode = FilePlayer::SEEK_ABSOLUTE)
    {
        if (player.getState() == FilePlayer::STATE_IDLE) {
            player.play();
            player.pause();
        }
        const size_t before = window.statuses.size();
        player.seek(seconds, mode);
        return waitFor(
            [&] {
                if (window.statuses.size() < before + 3)
                    return false;
                const std::vector<int> tail(window.statuses.end() - 3, window.statuses.end());
                return tail == std::vector<int>{3, 1, 2};
            },
            10000);
    }

    // Whether `text` was logged since line `from` (take `from` from mark()).
    int mark() const { return log.lines().size(); }
    bool logged(int from, const char* text) const
    {
        return log.find(QLatin1String(text), from) >= 0;
    }
};

} // namespace

TEST_F(SeekTest, SeeksRestoreTheLastKeyFrameAtOrBeforeTheTargetExceptForwardSteps)
{
    const QString p = recording();
    ASSERT_TRUE(openIndexed(p));
    EXPECT_EQ(player.getIndexEntryCount(), 3);

    struct Case
    {
        long long seconds;
        const char* restored; // "" for a replay from the start
        bool correction;
    };
    const Case cases[] = {{25, "20000", false}, {15, "10000", true}, {30, "20000", false},
                          {5, "", false},       {12, "10000", true},  {0, "", false}};
    int from = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        from = mark();
        ASSERT_TRUE(seekPaused(c.seconds));
        if (*c.restored)
            EXPECT_TRUE(log.find(QLatin1String("Key frame restored: ") + c.restored, from) >= 0);
        else
            EXPECT_TRUE(logged(from, "Seek restarts at the beginning"));
        EXPECT_EQ(logged(from, "Backward correction."), c.correction);
        EXPECT_TRUE(logged(from, "Seek finished"));
        // The screen holds every unit before the target and nothing later
        // (at 0: nothing at all, a cleared screen).
        const VideoFrame got = view.frame();
        if (c.seconds > 0) {
            EXPECT_TRUE(sameScreen(got, straightDecode(p, c.seconds * 1000, false)));
        } else {
            EXPECT_TRUE(std::all_of(got.pixels(), got.pixels() + got.width() * got.height(),
                                    [](unsigned int px) { return px == 0; }));
        }
        // A seek while paused ends paused.
        EXPECT_EQ(player.getState(), FilePlayer::STATE_PAUSED);
        EXPECT_EQ(view.statusTexts().last(), QStringLiteral("PAUSE"));
    }

    // Forward: from the current position, without the index.
    ASSERT_TRUE(seekPaused(12));
    from = mark();
    ASSERT_TRUE(seekPaused(3, FilePlayer::SEEK_RELATIVE));
    EXPECT_FALSE(logged(from, "Key frame restored"));
    EXPECT_FALSE(logged(from, "Seek restarts"));
    EXPECT_TRUE(logged(from, "Target time : 15000"));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 15000, false)));

    // Backward: through the index.
    from = mark();
    ASSERT_TRUE(seekPaused(-4, FilePlayer::SEEK_RELATIVE));
    EXPECT_TRUE(logged(from, "Target time : 11000"));
    EXPECT_TRUE(logged(from, "Key frame restored: 10000"));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 11000, false)));
}

TEST_F(SeekTest, AStepBackAtOneSecondGoesToZeroAndTheClockRestartsFromZeroSpeed)
{
    const QString p = recording();
    ASSERT_TRUE(openIndexed(p));
    player.play();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() >= 2; }, 5000)); // 1 s played
    const int from = mark();
    player.seek(-2, FilePlayer::SEEK_RELATIVE);
    ASSERT_TRUE(waitFor([&] { return log.find("Seek finished", from) >= 0; }, 5000));
    EXPECT_TRUE(logged(from, "Target time : 0"));
    // The play loop re-bases its clock after every seek.
    const int finished = log.find("Seek finished", from);
    ASSERT_TRUE(waitFor([&] { return log.find("Speed has been changed", finished) >= 0; }, 3000));
    EXPECT_TRUE(log.lines()[log.find("Speed has been changed", finished)].contains(
        QStringLiteral("Speed has been changed 0 -> 1")));
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
}

TEST_F(SeekTest, WithoutAnIndexNoReplaysAndCancelDoesNothing)
{
    // Answered No: a seek replays from the start.
    const QString p = recording();
    ASSERT_TRUE(open(p, IPrompter::No));
    int from = mark();
    ASSERT_TRUE(seekPaused(20));
    EXPECT_TRUE(logged(from, "Seek restarts at the beginning"));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 20000, false)));
    // ... and backwards too.
    from = mark();
    ASSERT_TRUE(seekPaused(7));
    EXPECT_TRUE(logged(from, "Seek restarts at the beginning"));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 7000, false)));
    player.stop();

    // Answered Cancel: seeking is off.
    const QString q = recording(QStringLiteral("t.vro"));
    ASSERT_TRUE(open(q, IPrompter::Cancel));
    player.play();
    player.pause();
    const VideoFrame before = view.frame();
    from = mark();
    ASSERT_TRUE(seekPaused(20));
    EXPECT_TRUE(logged(from, "Seek not possible"));
    EXPECT_FALSE(logged(from, "Seek restarts"));
    EXPECT_TRUE(sameScreen(view.frame(), before));
    EXPECT_FALSE(QFile::exists(IndexFile::indexFileName(q)));
}

TEST_F(SeekTest, SeekingFromIdleStartsPlayback)
{
    const QString p = recording();
    ASSERT_TRUE(openIndexed(p));
    const int from = mark();
    player.seek(25, FilePlayer::SEEK_ABSOLUTE);
    ASSERT_TRUE(waitFor([&] { return log.find("Seek finished", from) >= 0; }, 5000));
    EXPECT_TRUE(logged(from, "Key frame restored: 20000"));
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_EQ(window.title(), QStringLiteral("Session Player - s.vro"));

    // When play() fails the seek gives up at once instead of waiting.
    player.stop();
    ASSERT_TRUE(QFile::remove(p));
    const quint64 t0 = nowMs();
    player.seek(5, FilePlayer::SEEK_ABSOLUTE);
    EXPECT_LT(nowMs() - t0, 1000u);
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(prompter.texts("critical").last(), "Unable to open the file:\n" + p);
}

TEST_F(SeekTest, StopDuringALongCatchUpCancelsOnlyTheSeek)
{
    const QString p = write("heavy.vro", 60000, heavyUnits(100, 60000));
    ASSERT_TRUE(open(p, IPrompter::No));
    player.play();
    ASSERT_TRUE(waitFor([&] { return !view.mouseEvents().empty(); }, 5000));
    const int from = mark();
    const int clears = view.count("clearScreen");
    player.seek(55, FilePlayer::SEEK_ABSOLUTE);
    // The catch-up has started once the screen was cleared for the replay.
    ASSERT_TRUE(waitFor([&] { return view.count("clearScreen") > clears; }, 5000));
    pump(100);
    player.stop();
    ASSERT_TRUE(waitFor([&] { return log.find("Seek canceled by user", from) >= 0; }, 20000));
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    // Playback goes on from the unit the catch-up reached.
    const int current = log.find("Current time: ", from);
    ASSERT_GE(current, 0);
    const long long reached =
        log.lines()[current].section(QStringLiteral("Current time: "), 1).toLongLong();
    EXPECT_LT(reached, 55000);
    const size_t events = view.mouseEvents().size();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() > events; }, 3000));
    EXPECT_GE(view.mouseEvents().back().x, static_cast<int>(reached / 100) - 1);
}

TEST_F(SeekTest, AnInvalidIndexIsReplacedAndTheNewOneLoadedOnTheNextOpen)
{
    // The invalid index is deleted and a new one offered.
    const QString p = recording();
    ASSERT_TRUE(writeFile(p + "x", QByteArray(100, 'z')));
    ASSERT_TRUE(openIndexed(p));
    EXPECT_EQ(prompter.texts("question").size(), 1);
    ASSERT_TRUE(QFile::exists(p + "x"));
    const int questions = prompter.texts("question").size();
    EXPECT_EQ(prompter.texts("question").last(),
              QStringLiteral("It is recommended that you select to index your recorded file. "
                             "Indexing the file can provide faster playback, especially for "
                             "larger files above a few minutes.\r\n\r\nClick Yes to create an "
                             "index now."));
    EXPECT_EQ(prompter.boxes().back().title, QStringLiteral("Index missing"));

    ASSERT_TRUE(player.openFile(p));
    EXPECT_EQ(prompter.texts("question").size(), questions) << "no question with an index";
    EXPECT_TRUE(player.isIndexLoaded());
    EXPECT_EQ(player.getIndexEntryCount(), 3);

    // With the play-on-open flag the loaded recording starts by itself.
    window.m_playOnOpen = true;
    ASSERT_TRUE(player.openFile(p));
    EXPECT_EQ(player.getState(), FilePlayer::STATE_PLAYING);
}

TEST_F(SeekTest, AKeyFrameThatCannotBeReadEndsPlaybackWithAReadError)
{
    const QString p = recording();
    ASSERT_TRUE(openIndexed(p));
    player.play();
    player.pause();
    // The index file shrinks under the open player.
    QFile index(p + "x");
    ASSERT_TRUE(index.resize(24 + 32 * 3 + 10));
    const size_t before = window.statuses.size();
    player.seek(25, FilePlayer::SEEK_ABSOLUTE);
    ASSERT_TRUE(sawStatus(FilePlayer::STATE_ERROR, before));
    EXPECT_EQ(prompter.texts("critical").last(), QStringLiteral("Error Reading file"));
    EXPECT_TRUE(waitState(FilePlayer::STATE_IDLE));
}

TEST_F(SeekTest, IndexingCanBeCancelledAndLeavesNoIndex)
{
    const QString p = write("heavy.vro", 60000, heavyUnits(100, 60000));
    const size_t before = window.statuses.size();
    ASSERT_TRUE(open(p, IPrompter::Yes));
    ASSERT_TRUE(sawStatus(FilePlayer::STATE_INDEXING, before));

    // No: the build goes on.
    prompter.answer(IPrompter::No);
    player.stop();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_INDEXING);
    EXPECT_EQ(prompter.boxes().back().kind, QStringLiteral("warning"));
    EXPECT_EQ(prompter.boxes().back().title, QStringLiteral("Attention"));
    EXPECT_EQ(prompter.boxes().back().text,
              QStringLiteral("This will cancel the indexing and disable random seek!\n"
                             "Are you sure you want to stop?"));

    // Yes: cancelled, no index, seeking disabled.
    prompter.answer(IPrompter::Yes);
    player.stop();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    EXPECT_FALSE(QFile::exists(p + "x"));
    EXPECT_FALSE(player.isIndexLoaded());
    pump(50);
    // The builder's progress moved the position bar meanwhile.
    EXPECT_FALSE(window.positions.empty());
}
