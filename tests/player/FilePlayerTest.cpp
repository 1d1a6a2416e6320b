// The player on its real thread: opening, the first screen, paced playback,
// pause, stop, the end of a recording and the errors that reach the user.

#include "PlayerFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "IndexFile.h"
#include "UnitDispatch.h"

namespace {

// Mouse positions at the given times (x = index), nothing else.
std::vector<TestUnit> mouseUnits(const std::vector<quint64>& times)
{
    std::vector<TestUnit> units;
    int i = 0;
    for (quint64 t : times)
        units.push_back({RecordUnitHeader::KIND_CONTROL, t, mousePayload(i++, 0, 7)});
    return units;
}

std::vector<quint64> every(quint64 step, quint64 last)
{
    std::vector<quint64> out;
    for (quint64 t = 0; t <= last; t += step)
        out.push_back(t);
    return out;
}

} // namespace

using FilePlayerTest = PlayerFixture;

TEST_F(FilePlayerTest, OpensShowsTheFirstScreenAndPlaysToTheEnd)
{
    const QString p = write("a.vro", 600, screenUnits(64, 48, 100, 600));
    ASSERT_TRUE(open(p));
    EXPECT_TRUE(sameFrame(view.frame(), straightDecode(p, 0)));
    EXPECT_EQ(player.getDisplayName(), QStringLiteral("a.vro"));
    EXPECT_EQ(player.getIndexFileName(), p + "x");
    EXPECT_EQ(IndexFile::indexFileName(QStringLiteral("/a/b.vr4")), QStringLiteral("/a/b.vr4x"));
    EXPECT_EQ(player.getSessionId(), QStringLiteral("123456789"));
    EXPECT_EQ(player.getDuration(), 600u);

    const size_t before = window.statuses.size();
    player.play();
    EXPECT_EQ(window.title(), QStringLiteral("Session Player - a.vro"));
    EXPECT_TRUE(window.visible());
    ASSERT_TRUE(sawStatus(FilePlayer::STATE_STOPPING, before));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    pump(50);
    const std::vector<int> tail(window.statuses.begin() + before, window.statuses.end());
    EXPECT_EQ(tail, (std::vector<int>{1, 6, 0}));
    const QStringList texts = view.statusTexts();
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts[texts.size() - 2], QStringLiteral("STOPPED"));
    EXPECT_EQ(texts.last(), QStringLiteral("The End"));
    EXPECT_TRUE(sameFrame(view.frame(), straightDecode(p, 600)));
    EXPECT_EQ(view.mouseEvents().size(), 6u);
}

// ---------------------------------------------------------------------------
// Pacing. Units are mouse positions; the view notes the wall time of each.
// A unit may be late by a few polling steps on a busy machine, never early.

namespace {

constexpr long long kEarly = 15; // clock granularity
constexpr long long kLate = 200; // polling steps and a busy machine

struct Pace
{
    int speed;
    quint64 step;
    quint64 last;
};

// Wall time (ms after `t0`) at which media time `t` is due at `speed`.
long long dueAt(quint64 t, int speed)
{
    quint64 w = t;
    fixTime(w, speed);
    return static_cast<long long>(w);
}

} // namespace

class PacingTest : public PlayerFixture, public ::testing::WithParamInterface<Pace>
{
};

TEST_P(PacingTest, UnitsAreDueOnTheSpeedScaledClock)
{
    const Pace pace = GetParam();
    const std::vector<quint64> times = every(pace.step, pace.last);
    const QString p = write("pace.vro", pace.last, mouseUnits(times));
    ASSERT_TRUE(open(p));
    player.setRequestedSpeed(pace.speed);

    const quint64 t0 = nowMs();
    player.play();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() == times.size(); }, 15000));
    const auto events = view.mouseEvents();
    for (size_t i = 0; i < times.size(); ++i) {
        const long long at = static_cast<long long>(events[i].wallMs - t0);
        const long long due = dueAt(times[i], pace.speed);
        EXPECT_GE(at, due - kEarly) << "unit " << times[i] << " ms at speed " << pace.speed;
        EXPECT_LE(at, due + kLate) << "unit " << times[i] << " ms at speed " << pace.speed;
    }
    EXPECT_TRUE(waitState(FilePlayer::STATE_IDLE));
}

INSTANTIATE_TEST_SUITE_P(Speeds, PacingTest,
                         ::testing::Values(Pace{1, 250, 1500}, Pace{2, 500, 3000},
                                           Pace{-2, 125, 750}, Pace{20, 2000, 20000},
                                           Pace{0, 250, 1000}));

TEST_F(FilePlayerTest, ASpeedChangeKeepsMediaTimeContinuous)
{
    const std::vector<quint64> times = every(200, 4000);
    const QString p = write("speed.vro", 4000, mouseUnits(times));
    ASSERT_TRUE(open(p));

    const quint64 t0 = nowMs();
    player.play();
    // Let the units up to 1 s play at normal speed.
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() >= 6; }, 5000));
    const quint64 tc = nowMs();
    player.setRequestedSpeed(2);
    const long long mediaAtChange = static_cast<long long>(tc - t0);

    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() == times.size(); }, 10000));
    const auto events = view.mouseEvents();
    for (size_t i = 0; i < times.size(); ++i) {
        const long long t = static_cast<long long>(times[i]);
        if (t <= mediaAtChange + 50)
            continue;
        const long long due = static_cast<long long>(tc - t0) + (t - mediaAtChange) / 2;
        const long long at = static_cast<long long>(events[i].wallMs - t0);
        EXPECT_GE(at, due - kEarly - 50) << "unit " << t;
        EXPECT_LE(at, due + kLate) << "unit " << t;
    }
    EXPECT_TRUE(log.contains("Speed has been changed 1 -> 2"));
}

TEST_F(FilePlayerTest, PauseHoldsMediaTimeAndResumeGoesOn)
{
    const std::vector<quint64> times = every(200, 1600);
    const QString p = write("pause.vro", 1600, mouseUnits(times));
    ASSERT_TRUE(open(p));

    const quint64 t0 = nowMs();
    player.play();
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() >= 3; }, 5000));
    const quint64 tp = nowMs();
    player.pause();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_PAUSED);
    EXPECT_EQ(view.statusTexts().last(), QStringLiteral("PAUSE"));
    const size_t atPause = view.mouseEvents().size();
    pump(1000);
    EXPECT_EQ(view.mouseEvents().size(), atPause) << "nothing plays while paused";

    const quint64 tr = nowMs();
    player.play();
    EXPECT_EQ(view.statusTexts().last(), QString());
    const long long mediaAtPause = static_cast<long long>(tp - t0);
    ASSERT_TRUE(waitFor([&] { return view.mouseEvents().size() == times.size(); }, 10000));
    const auto events = view.mouseEvents();
    for (size_t i = atPause; i < times.size(); ++i) {
        const long long due =
            static_cast<long long>(tr - t0) + static_cast<long long>(times[i]) - mediaAtPause;
        const long long at = static_cast<long long>(events[i].wallMs - t0);
        EXPECT_GE(at, due - kEarly) << "unit " << times[i];
        EXPECT_LE(at, due + kLate) << "unit " << times[i];
    }
    pump(50);
    EXPECT_NE(std::find(window.statuses.begin(), window.statuses.end(), 2), window.statuses.end());
}

TEST_F(FilePlayerTest, StopEndsPlaybackWithoutTheEnd)
{
    const QString p = write("stop.vro", 5000, mouseUnits(every(100, 5000)));
    ASSERT_TRUE(open(p));
    const size_t before = window.statuses.size();
    player.play();
    pump(300);
    player.stop();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
    pump(50);
    const std::vector<int> tail(window.statuses.begin() + before, window.statuses.end());
    EXPECT_EQ(tail, (std::vector<int>{1, 6, 0}));
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
    pump(50);
    EXPECT_EQ(window.statuses.back(), FilePlayer::STATE_PLAYING);
}

TEST_F(FilePlayerTest, ATruncatedLastUnitIsTheEnd)
{
    QByteArray bytes = recordingBytes(300, mouseUnits({0, 100, 200, 300}));
    bytes.chop(3);
    const QString p = path("cut.vro");
    ASSERT_TRUE(writeFile(p, bytes));
    ASSERT_TRUE(open(p));
    player.play();
    ASSERT_TRUE(sawStatus(FilePlayer::STATE_STOPPING));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    EXPECT_EQ(view.mouseEvents().size(), 3u);
    EXPECT_EQ(view.statusTexts().last(), QStringLiteral("The End"));
    EXPECT_TRUE(prompter.texts("critical").isEmpty());
}

// ---------------------------------------------------------------------------
// Errors

TEST_F(FilePlayerTest, FailuresDuringPlaybackReachTheUserOnce)
{
    struct Case
    {
        const char* name;
        TestUnit bad;
        const char* text;
    };
    const Case cases[] = {
        {"kind7.vro", {7, 200, QByteArray("xyz")}, "Invalid File format"},
        {"zlib.vro", {0x12, 200, QByteArray("not a zlib stream")}, "Unknown Data Compression format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The first frame ends at once, so opening reads no further.
        std::vector<TestUnit> units = {{RecordUnitHeader::KIND_SCREEN, 0,
                                        screenPayload(UnitDispatch::SCREEN_END, QByteArray())}};
        for (const TestUnit& u : mouseUnits({0, 100}))
            units.push_back(u);
        units.push_back(c.bad);
        units.push_back({RecordUnitHeader::KIND_CONTROL, 300, mousePayload(9, 9, 1)});
        const QString p = write(c.name, 300, units);
        ASSERT_TRUE(open(p));
        const size_t before = window.statuses.size();
        const int boxes = prompter.texts("critical").size();
        player.play();
        ASSERT_TRUE(sawStatus(FilePlayer::STATE_ERROR, before));
        ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
        pump(50);
        const std::vector<int> tail(window.statuses.begin() + before, window.statuses.end());
        EXPECT_EQ(tail, (std::vector<int>{1, 5, 6, 0}));
        const QStringList texts = prompter.texts("critical");
        ASSERT_EQ(texts.size(), boxes + 1);
        EXPECT_EQ(texts.last(), QString::fromLatin1(c.text));
        EXPECT_EQ(prompter.boxes().back().title, QStringLiteral("Session Player"));
        EXPECT_EQ(player.getStatusText(), QString::fromLatin1(c.text));
        view.clearRecord();
    }
}

TEST_F(FilePlayerTest, OpeningRejectsWhatIsNotARecording)
{
    // Wrong suffix: invalidFileFormat(), the file is not even read.
    const QString txt = write("x.txt", 100, mouseUnits({0}));
    EXPECT_FALSE(player.openFile(txt));
    EXPECT_TRUE(waitFor([&] { return window.invalidFormats == 1; }, 2000));
    EXPECT_TRUE(prompter.boxes().empty());
    player.play();
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE) << "nothing was opened";

    // The suffix is compared in lower case.
    const QString upper = write("x.VR4", 100, mouseUnits({0}));
    EXPECT_TRUE(open(upper));

    // Wrong magic.
    QByteArray bytes = recordingBytes(100, mouseUnits({0}));
    bytes[0] = 0;
    const QString bad = path("bad.vro");
    ASSERT_TRUE(writeFile(bad, bytes));
    EXPECT_FALSE(player.openFile(bad));
    EXPECT_EQ(prompter.texts("critical").last(),
              "The file is in invalid format. This is not a valid recorded session:\n" + bad);
    EXPECT_EQ(player.getDuration(), 0u) << "a rejected file does not count as loaded";

    // Missing file.
    const QString missing = path("missing.vro");
    EXPECT_FALSE(player.openFile(missing));
    EXPECT_EQ(prompter.texts("critical").last(), "Unable to open the file:\n" + missing);

    // A first screen that does not decompress is reported, not thrown.
    std::vector<TestUnit> units = {{0x12, 0, QByteArray("garbage")}};
    const QString zlib = write("firstscreen.vro", 100, units);
    EXPECT_FALSE(player.openFile(zlib));
    EXPECT_EQ(prompter.texts("critical").last(), QStringLiteral("Unknown Data Compression format"));
    EXPECT_EQ(player.getState(), FilePlayer::STATE_IDLE);
}

TEST_F(FilePlayerTest, AnEmptyPathAsksForAFileAndRemembersItsFolder)
{
    const QString p = write("chosen.vro", 100, mouseUnits({0}));
    prompter.openAnswer = p;
    prompter.answer(IPrompter::No);
    ASSERT_TRUE(player.openFile(QString()));
    const auto boxes = prompter.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front().kind, QStringLiteral("open"));
    EXPECT_EQ(boxes.front().title, QStringLiteral("Open File"));
    EXPECT_TRUE(boxes.front().text.endsWith(
        QStringLiteral("|Recorded Sessions(*.vro *.vr4);;All Files(*.*)")));
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
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
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
