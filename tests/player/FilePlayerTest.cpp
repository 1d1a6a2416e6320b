// The player on its real thread: opening, the first screen, paced playback,
// pause, stop, the end of a recording and the errors that reach the user.

#include "PlayerFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "UnitDispatch.h"

namespace {

// Mouse positions at the given times (x = index), nothing else.
std::vector<TestUnit> mouseUnits(const std::vector<quint64>& times)
{
    std::vector<TestUnit> units;
    for (quint64 t : times)
        units.push_back({RecordUnitHeader::KIND_CONTROL, t, mousePayload(int(units.size()), 0, 7)});
    return units;
}

std::vector<quint64> every(quint64 step, quint64 last)
{
    std::vector<quint64> out;
    for (quint64 t = 0; t <= last; t += step)
        out.push_back(t);
    return out;
}

// Units are mouse positions; the view notes the wall time of each. From unit
// `from` on, unit i must arrive `due(times[i])` ms after `t0`: never early
// beyond the clock's granularity, late by a few polling steps at most on a
// busy machine.
void expectOnTime(const FakeView& view, const std::vector<quint64>& times, quint64 t0,
                  size_t from, const std::function<long long(long long)>& due, long long early = 15)
{
    const auto events = view.mouseEvents();
    ASSERT_EQ(events.size(), times.size());
    for (size_t i = from; i < times.size(); ++i) {
        const long long at = static_cast<long long>(events[i].wallMs - t0);
        const long long expected = due(static_cast<long long>(times[i]));
        EXPECT_GE(at, expected - early) << "unit at " << times[i] << " ms";
        EXPECT_LE(at, expected + 200) << "unit at " << times[i] << " ms";
    }
}

struct Pace
{
    int speed;
    quint64 step;
    quint64 last;
};

void PrintTo(const Pace& p, std::ostream* os)
{
    *os << "speed " << p.speed;
}

class PacingTest : public PlayerFixture, public ::testing::WithParamInterface<Pace>
{
};

using FilePlayerTest = PlayerFixture;

} // namespace

TEST_F(FilePlayerTest, OpensShowsTheFirstScreenAndPlaysToTheEnd)
{
    // The last unit, a mouse position, is cut short: that is the end.
    const QString p = path("a.vro");
    ASSERT_TRUE(writeFile(p, recordingBytes(600, screenUnits(64, 48, 100, 600)).chopped(3)));
    ASSERT_TRUE(open(p));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 0)));
    EXPECT_EQ(player.getIndexFileName(), p + "x");
    EXPECT_EQ(player.getSessionId(), QStringLiteral("123456789"));
    EXPECT_EQ(player.getDuration(), 600u);

    const size_t before = window.statuses.size();
    player.play();
    EXPECT_EQ(window.title(), QStringLiteral("Session Player - a.vro"));
    EXPECT_TRUE(window.visible());
    ASSERT_TRUE(sawStatus(FilePlayer::STATE_STOPPING, before));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    EXPECT_EQ(statusesSince(before), (std::vector<int>{1, 6, 0}));
    const QStringList texts = view.statusTexts();
    EXPECT_EQ(texts.mid(texts.size() - 2), (QStringList{"STOPPED", "The End"}));
    EXPECT_TRUE(sameScreen(view.frame(), straightDecode(p, 600)));
    EXPECT_EQ(view.mouseEvents().size(), 5u);
    EXPECT_TRUE(prompter.texts("critical").isEmpty());
}

TEST_P(PacingTest, UnitsAreDueOnTheSpeedScaledClock)
{
    const Pace pace = GetParam();
    const std::vector<quint64> times = every(pace.step, pace.last);
    ASSERT_TRUE(open(write("pace.vro", pace.last, mouseUnits(times))));
    player.setRequestedSpeed(pace.speed);

    const quint64 t0 = nowMs();
    player.play();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() == times.size(); }, 15000));
    expectOnTime(view, times, t0, 0, [&](long long t) {
        quint64 wall = static_cast<quint64>(t);
        fixTime(wall, pace.speed);
        return static_cast<long long>(wall);
    });
    EXPECT_TRUE(waitState(FilePlayer::STATE_IDLE));
}

INSTANTIATE_TEST_SUITE_P(Speeds, PacingTest,
                         ::testing::Values(Pace{1, 250, 1500}, Pace{2, 500, 3000},
                                           Pace{-2, 125, 750}, Pace{20, 2000, 20000},
                                           Pace{0, 250, 1000}));

TEST_F(FilePlayerTest, ASpeedChangeKeepsMediaTimeContinuous)
{
    const std::vector<quint64> times = every(200, 4000);
    ASSERT_TRUE(open(write("speed.vro", 4000, mouseUnits(times))));
    const quint64 t0 = nowMs();
    player.play();
    // The units up to 1 s play at normal speed.
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() >= 6; }, 5000));
    const long long change = static_cast<long long>(nowMs() - t0);
    player.setRequestedSpeed(2);

    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() == times.size(); }, 10000));
    size_t first = 0;
    while (static_cast<long long>(times[first]) <= change + 50)
        ++first;
    // The test knows the moment of the change only roughly: 50 ms more on
    // the early side.
    expectOnTime(
        view, times, t0, first, [&](long long t) { return change + (t - change) / 2; }, 65);
    EXPECT_TRUE(log.contains("Speed has been changed 1 -> 2"));
}

TEST_F(FilePlayerTest, PauseHoldsMediaTimeAndResumeGoesOn)
{
    const std::vector<quint64> times = every(200, 1600);
    ASSERT_TRUE(open(write("pause.vro", 1600, mouseUnits(times))));
    const quint64 t0 = nowMs();
    player.play();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() >= 3; }, 5000));
    const long long paused = static_cast<long long>(nowMs() - t0);
    player.pause();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_PAUSED);
    EXPECT_EQ(view.statusTexts().last(), QStringLiteral("PAUSE"));
    const size_t atPause = view.mouseEvents().size();
    pump(1000);
    EXPECT_EQ(view.mouseEvents().size(), atPause) << "nothing plays while paused";

    const long long resumed = static_cast<long long>(nowMs() - t0);
    player.play();
    EXPECT_EQ(view.statusTexts().last(), QString());
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() == times.size(); }, 10000));
    expectOnTime(view, times, t0, atPause, [&](long long t) { return resumed + t - paused; });
    EXPECT_NE(std::find(window.statuses.begin(), window.statuses.end(), 2), window.statuses.end());
}

TEST_F(FilePlayerTest, StopEndsPlaybackWithoutTheEnd)
{
    ASSERT_TRUE(open(write("stop.vro", 5000, mouseUnits(every(100, 5000)))));
    const size_t before = window.statuses.size();
    player.play();
    pump(300);
    player.stop();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(statusesSince(before), (std::vector<int>{1, 6, 0}));
    EXPECT_EQ(view.statusTexts().last(), QStringLiteral("STOPPED"));
    EXPECT_FALSE(view.statusTexts().contains(QStringLiteral("The End")));
    const size_t played = view.mouseEvents().size();
    pump(300);
    EXPECT_EQ(view.mouseEvents().size(), played);

    // Playing again starts from the beginning, and the window hears of it
    // after it heard of the end of the stop.
    player.play();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() > played; }, 3000));
    EXPECT_EQ(view.mouseEvents()[played].x, 0);
    EXPECT_EQ(statusesSince(before).back(), FilePlayer::STATE_PLAYING);
}

TEST_F(FilePlayerTest, FailuresDuringPlaybackReachTheUserOnce)
{
    const std::pair<TestUnit, const char*> cases[] = {
        {{7, 200, QByteArray("xyz")}, "Invalid File format"},
        {{0x12, 200, QByteArray("not a zlib stream")}, "Unknown Data Compression format"},
    };
    for (const auto& [bad, text] : cases) {
        SCOPED_TRACE(text);
        // The first frame ends at once, so opening reads no further.
        std::vector<TestUnit> units = mouseUnits({0, 100});
        units.insert(units.begin(), {RecordUnitHeader::KIND_SCREEN, 0,
                                     screenPayload(UnitDispatch::SCREEN_END, QByteArray())});
        units.push_back(bad);
        units.push_back({RecordUnitHeader::KIND_CONTROL, 300, mousePayload(9, 9, 1)});
        ASSERT_TRUE(open(write(QString::fromLatin1(text).left(7) + ".vro", 300, units)));
        const size_t before = window.statuses.size();
        const int boxes = prompter.texts("critical").size();
        player.play();
        ASSERT_TRUE(sawStatus(FilePlayer::STATE_ERROR, before));
        ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
        EXPECT_EQ(statusesSince(before), (std::vector<int>{1, 5, 6, 0}));
        const QStringList texts = prompter.texts("critical");
        ASSERT_EQ(texts.size(), boxes + 1);
        EXPECT_EQ(texts.last(), QString::fromLatin1(text));
        EXPECT_EQ(prompter.boxes().back().title, QStringLiteral("Session Player"));
        EXPECT_EQ(player.getStatusText(), QString::fromLatin1(text));
    }
}

TEST_F(FilePlayerTest, OpeningRejectsWhatIsNotARecording)
{
    // Wrong suffix: invalidFileFormat(), the file is not even read.
    EXPECT_FALSE(player.openFile(write("x.txt", 100, mouseUnits({0}))));
    EXPECT_TRUE(waitFor([&] { return window.invalidFormats == 1; }, 2000));
    EXPECT_TRUE(prompter.boxes().empty());
    player.play();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE) << "nothing was opened";

    // The suffix is compared in lower case.
    EXPECT_TRUE(open(write("x.VR4", 100, mouseUnits({0}))));

    QByteArray bytes = recordingBytes(100, mouseUnits({0}));
    bytes[0] = 0;
    ASSERT_TRUE(writeFile(path("bad.vro"), bytes));
    EXPECT_FALSE(player.openFile(path("bad.vro")));
    EXPECT_EQ(prompter.texts("critical").last(),
              "The file is in invalid format. This is not a valid recorded session:\n"
                  + path("bad.vro"));
    EXPECT_EQ(player.getDuration(), 0u) << "a rejected file does not count as loaded";

    EXPECT_FALSE(player.openFile(path("missing.vro")));
    EXPECT_EQ(prompter.texts("critical").last(),
              "Unable to open the file:\n" + path("missing.vro"));

    // A first screen that does not decompress is reported, not thrown.
    EXPECT_FALSE(player.openFile(write("firstscreen.vro", 100, {{0x12, 0, "garbage"}})));
    EXPECT_EQ(prompter.texts("critical").last(), QStringLiteral("Unknown Data Compression format"));
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
}

TEST_F(FilePlayerTest, AnEmptyPathAsksForAFileAndRemembersItsFolder)
{
    prompter.openAnswer = write("chosen.vro", 100, mouseUnits({0}));
    ASSERT_TRUE(open(QString()));
    const FakePrompter::Box box = prompter.boxes().front();
    EXPECT_EQ(box.kind, QStringLiteral("open"));
    EXPECT_EQ(box.title, QStringLiteral("Open File"));
    EXPECT_TRUE(
        box.text.endsWith(QStringLiteral("|Recorded Sessions(*.vro *.vr4);;All Files(*.*)")));
    QString folder;
    player.loadFolder(folder);
    EXPECT_EQ(folder, dir.path() + "/");

    // Cancelling the dialog opens nothing.
    prompter.openAnswer.clear();
    EXPECT_FALSE(player.openFile(QString()));
}

TEST_F(FilePlayerTest, TheRecordingIsOpenedReadOnly)
{
    const QString p = write("ro.vro", 5000, mouseUnits(every(500, 5000)));
    ASSERT_TRUE(open(p));
    player.play();
    ASSERT_TRUE(waitFor([&] { return !view.mouseEvents().empty(); }, 3000));
    int found = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QDir::Filters all = QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System;
    for (const QString& fd : fds.entryList(all)) {
        if (QFile::symLinkTarget(fds.filePath(fd)) != QFileInfo(p).canonicalFilePath())
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        ASSERT_TRUE(info.open(QIODevice::ReadOnly));
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("flags:")) {
                const int flags = line.mid(6).trimmed().toInt(nullptr, 8);
                EXPECT_EQ(flags & 3, 0) << "opened with access mode " << (flags & 3);
                ++found;
            }
        }
    }
    EXPECT_GE(found, 1);
}
