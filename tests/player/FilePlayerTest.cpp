// SPDX-License-Identifier: GPL-3.0-or-later
// The player on its real thread: opening (read-only), the first screen, paced
// playback, pause, speed and stop during a wait, the end of a recording and
// the errors that reach the user.

#include "PlayerTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "UnitDispatch.h"

namespace {

// Wall time of mouse event `i` after `t0`, once it has arrived.
long long arrival(const FakeView& view, size_t i, quint64 t0)
{
    EXPECT_TRUE(waitFor([&] { return view.mouseEvents().size() > i; }, 10000)) << "event " << i;
    const auto events = view.mouseEvents();
    return events.size() > i ? static_cast<long long>(events[i].wallMs - t0) : -1;
}

// Never early beyond the clock's granularity, late by a few polling steps at
// most on a busy machine.
void expectDue(long long at, long long due)
{
    EXPECT_GE(at, due - 20);
    EXPECT_LE(at, due + 250);
}

class PacingTest : public PlayerFixture, public ::testing::WithParamInterface<int>
{
};

using FilePlayerTest = PlayerFixture;

} // namespace

TEST_F(FilePlayerTest, OpensReadOnlyShowsTheFirstScreenAndPlaysToTheEnd)
{
    // The last unit, a mouse position, is cut short: that is the end.
    const QString p = dir.filePath("a.vro");
    ASSERT_TRUE(writeBytes(p, recordingBytes(600, screenUnits(64, 48, 100, 600)).chopped(3)));
    ASSERT_TRUE(open(p));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 0)));

    const size_t before = window.statuses.size();
    player.play();
    // The access mode of every descriptor open on the file (0 is read-only).
    std::vector<int> modes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System)) {
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (QFile::symLinkTarget(fds.filePath(fd)) == QFileInfo(p).canonicalFilePath()
            && info.open(QIODevice::ReadOnly)) {
            const QByteArray all = info.readAll();
            const int at = all.indexOf("flags:") + 6;
            modes.push_back(all.mid(at, all.indexOf('\n', at) - at).trimmed().toInt(nullptr, 8));
        }
    }
    EXPECT_FALSE(modes.empty());
    EXPECT_EQ(std::count_if(modes.begin(), modes.end(), [](int m) { return m & 3; }), 0);

    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    EXPECT_EQ(statusesSince(before), (std::vector<int>{1, 6, 0}));
    EXPECT_EQ(view.statusTexts().mid(view.statusTexts().size() - 2),
              (QStringList{"STOPPED", "The End"}));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 600)));
    EXPECT_EQ(view.mouseEvents().size(), 6u); // the seventh is cut short
}

// A command given while the player thread is still starting (play() from
// the command line) is not undone by the thread's first report.
TEST_F(FilePlayerTest, PlayGivenBeforeTheThreadRunsIsCarriedOut)
{
    const QString p = write("early.vro", 600, screenUnits(64, 48, 100, 600));
    FakeView earlyView;
    FakeWindow earlyWindow;
    FakePrompter earlyPrompter;
    FilePlayer early;
    early.setSessionPlayer(&earlyWindow);
    early.setDrawingScene(&earlyView);
    early.setPrompter(&earlyPrompter);
    earlyPrompter.answer(IPrompter::No);
    ASSERT_TRUE(early.openFile(p));
    early.play();
    ASSERT_EQ(early.getState(), FilePlayer::STATE_PLAYING);
    early.start();
    EXPECT_TRUE(waitFor([&] { return earlyView.mouseEvents().size() == 7; }, 5000))
        << earlyView.mouseEvents().size() << " of 7 units played";
    EXPECT_TRUE(waitFor([&] { return early.getState() == FilePlayer::STATE_IDLE; }, 5000));
    early.stop();
    early.Thread::stop(true);
}

TEST_P(PacingTest, UnitsAreDueOnTheSpeedScaledClock)
{
    // A unit every 250 ms of wall time at the speed under test.
    const int speed = GetParam();
    const quint64 step = speed > 0 ? 250 * quint64(speed) : 250 / quint64(-speed);
    const std::vector<quint64> times = {0, step, 2 * step, 3 * step, 4 * step, 5 * step, 6 * step};
    ASSERT_TRUE(open(write("pace.vro", times.back(), mouseUnits(times))));
    player.setRequestedSpeed(speed);
    const quint64 t0 = nowMs();
    player.play();
    for (size_t i = 0; i < times.size(); ++i)
        expectDue(arrival(view, i, t0), 250 * static_cast<long long>(i));
}

INSTANTIATE_TEST_SUITE_P(Speeds, PacingTest, ::testing::Values(1, 20), [](const auto& i) {
    return (i.param < 0 ? "slower" : "speed") + std::to_string(abs(i.param));
});

TEST_F(FilePlayerTest, PauseSpeedAndStopEndTheWaitForTheNextUnit)
{
    ASSERT_TRUE(open(write("ctl.vro", 20000, mouseUnits({0, 1000, 3000, 9000}))));
    const size_t before = window.statuses.size();
    const quint64 t0 = nowMs();
    player.play();
    ASSERT_GE(arrival(view, 0, t0), 0);
    pump(300);

    // Paused while waiting for the unit at 1 s: it does not come while
    // "PAUSE" is shown, and after the resume it is due as much later as the
    // pause lasted.
    const long long paused = static_cast<long long>(nowMs() - t0);
    player.pause();
    EXPECT_EQ(view.statusTexts().last(), QStringLiteral("PAUSE"));
    pump(800);
    EXPECT_EQ(view.mouseEvents().size(), 1u) << "nothing plays while paused";
    const long long resumed = static_cast<long long>(nowMs() - t0);
    player.play();
    EXPECT_EQ(view.statusTexts().last(), QString());
    const long long second = arrival(view, 1, t0);
    expectDue(second, resumed + 1000 - paused);

    // Speed 4 just after the unit at 1 s: the unit at 3 s is due after a
    // quarter of the media time left, not after all of it.
    player.setRequestedSpeed(4);
    const long long changed = static_cast<long long>(nowMs() - t0);
    expectDue(arrival(view, 2, t0), changed + (3000 - (changed - resumed + paused)) / 4);

    // Stopped while waiting for the last unit, at 9 s, which has been read:
    // at once, without "The End", and nothing more plays.
    pump(200);
    const quint64 stopAt = nowMs();
    player.stop();
    EXPECT_LT(nowMs() - stopAt, 1000u);
    EXPECT_EQ(statusesSince(before), (std::vector<int>{1, 2, 1, 6, 0}));
    EXPECT_EQ(view.statusTexts().last(), QStringLiteral("STOPPED"));
    EXPECT_FALSE(view.statusTexts().contains(QStringLiteral("The End")));

    // Nothing more played: playing again starts from the beginning (x = 0),
    // and the window hears of it after it heard of the end of the stop.
    player.play();
    ASSERT_GE(arrival(view, 3, t0), 0);
    EXPECT_EQ(view.mouseEvents()[3].x, 0);
    EXPECT_EQ(statusesSince(before).back(), FilePlayer::STATE_PLAYING);
}

TEST_F(FilePlayerTest, FailuresReachTheUserOnce)
{
    // During playback: nothing plausible after a unit of unknown kind.
    {
        const QString p = write("7.vro", 300, [&](RecordingWriter& w) {
            // The first frame ends at once, so opening reads no further.
            w.writeScreenMessage(0, UnitDispatch::SCREEN_END, QByteArray());
            w.writeMousePos(100, 0, 0, 1);
            w.writeRawUnit(7, 200, "what is this?");
        });
        ASSERT_TRUE(open(p));
        const size_t before = window.statuses.size();
        const int boxes = prompter.count("critical");
        player.play();
        ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
        EXPECT_EQ(statusesSince(before), (std::vector<int>{1, 5, 6, 0}));
        EXPECT_EQ(prompter.count("critical"), boxes + 1);
        EXPECT_EQ(prompter.last(), QLatin1String("critical|Session Player|Invalid File format"));
    }

    // On opening. A wrong suffix: invalidFileFormat(), the file is not even
    // read.
    EXPECT_FALSE(player.openFile(write("x.txt", 100, mouseUnits({0}))));
    EXPECT_TRUE(waitFor([&] { return window.invalidFormats == 1; }, 2000));
    const QString bad = write("bad.vro", 100, [](RecordingWriter& w) { w.setMagic(0); });
    EXPECT_FALSE(player.openFile(bad));
    EXPECT_EQ(prompter.last(), "critical|Session Player|The file is in invalid format. "
                               "This is not a valid recorded session:\n" + bad);
    // The system's reason follows the path.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.vro"));
    const std::pair<QString, const char*> unopenable[] = {
        {dir.filePath("missing.vro"), "No such file or directory"},
        {dir.filePath("folder.vro"), "Is a directory"},
    };
    for (const auto& [path, reason] : unopenable) {
        EXPECT_FALSE(player.openFile(path));
        EXPECT_EQ(prompter.last(),
                  "critical|Session Player|Unable to open the file:\n" + path + "\n" + reason);
    }
}

TEST_F(FilePlayerTest, RelativeStepsCountFromTheTimeOnScreen)
{
    // Frames every 500 ms up to 2 s, then nothing until the last unit at 8 s.
    const QString p = write("still.vro", 8000, [](RecordingWriter& w) {
        screenUnits(48, 32, 500, 2000)(w);
        w.writeMousePos(8000, 99, 0, 1);
    });
    ASSERT_TRUE(open(p));

    // 3 s in, the unit of 8 s has been read and waits; back 2 s goes back.
    player.play();
    ASSERT_TRUE(waitFor([&] { return player.screenTimeMs() >= 3000; }, 5000));
    player.pause();
    const quint64 shown = player.screenTimeMs(); // within a polling step of the pause
    player.seek(-2, FilePlayer::SEEK_RELATIVE);
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    const quint64 target = player.screenTimeMs();
    EXPECT_NEAR(double(target), double(shown) - 2000, 60);
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, target, false)));

    // After a stop, and after the end, steps count from the start, where
    // playback starts again: forward 2 s shows the frame of 2 s.
    for (bool toTheEnd : {false, true}) {
        SCOPED_TRACE(toTheEnd ? "after the end" : "after a stop");
        player.stop();
        if (toTheEnd) {
            player.setRequestedSpeed(20);
            player.play();
            ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
            EXPECT_EQ(view.statusTexts().last(), QStringLiteral("The End"));
            player.setRequestedSpeed(1);
        }
        player.seek(2, FilePlayer::SEEK_RELATIVE); // the seek is under way on return
        ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
        player.pause();
        EXPECT_GE(player.screenTimeMs(), 2000u);
        EXPECT_LT(player.screenTimeMs(), 8000u);
        EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 2000)));
    }
}

TEST_F(FilePlayerTest, HalfSpeedWhilePlayingAndAfterASeek)
{
    // A mouse position every 500 ms up to 12 s (x = its number).
    std::vector<quint64> times;
    for (quint64 t = 0; t <= 12000; t += 500)
        times.push_back(t);
    ASSERT_TRUE(open(write("half.vro", 12000, mouseUnits(times))));
    const quint64 t0 = nowMs();
    player.play();
    ASSERT_GE(arrival(view, 1, t0), 0);
    // 1/2x from 600 ms on: the unit of 1 s comes 800 ms later, the next one
    // a second after it.
    ASSERT_TRUE(waitFor([&] { return nowMs() - t0 >= 600; }, 2000));
    player.setRequestedSpeed(-2);
    const long long changed = static_cast<long long>(nowMs() - t0);
    // The player takes the new speed up within a polling step (50 ms) of
    // it: each unit may then come that much earlier.
    for (size_t i : {2, 3}) {
        const long long at = arrival(view, i, t0), due = changed + (500 * long(i) - changed) * 2;
        EXPECT_GE(at, due - 80) << i;
        EXPECT_LE(at, due + 250) << i;
    }

    // A seek to 10 s at 1/2x: the unit of 10 s comes at once, the next one
    // a second later.
    const size_t before = view.mouseEvents().size();
    const quint64 seekAt = nowMs();
    player.seek(10, FilePlayer::SEEK_ABSOLUTE);
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().back().x == 21; }, 5000));
    const auto events = view.mouseEvents();
    const auto tenth = std::find_if(events.begin() + long(before), events.end(),
                                    [](const FakeView::MouseEvent& e) { return e.x == 20; });
    ASSERT_NE(tenth, events.end());
    EXPECT_LE(tenth->wallMs - seekAt, 500u);
    EXPECT_NEAR(double(events.back().wallMs - tenth->wallMs), 1000.0, 250.0);
}
