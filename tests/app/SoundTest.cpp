// SPDX-License-Identifier: GPL-3.0-or-later
// Real sound through the real window: each case loads a null sink of its own
// on the PulseAudio server that scripts/test starts, plays to it through
// PULSE_SINK, and listens to its monitor (parec, chunks stamped on arrival,
// the capture calibrated with a click); the picture is stamped by the
// scene's paint hook with the same clock. Bounds are generous: the goals
// (tens of milliseconds) are measured by scripts/av-sync.
//
// Without a server the cases are skipped, unless SP_REQUIRE_AUDIO=1 says
// that one was started for them. Plain build only (timing).

#include <QFile>
#include <QSettings>
#include <QTest>

#include <cmath>
#include <memory>

#include "DamagedRecordings.h"
#include "FlashBeep.h"
#include "SoundProbe.h"
#include "WindowTestSupport.h"

namespace {

constexpr int kLoud = 1500;   // a sample above this is sound
constexpr int kRate = MonitorCapture::kRate;

class SoundTest : public WindowFixture
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
            if (qEnvironmentVariable("SP_REQUIRE_AUDIO") == QLatin1String("1"))
                FAIL() << "SP_REQUIRE_AUDIO=1 but PULSE_SERVER is not set";
            GTEST_SKIP() << "no PulseAudio server (scripts/test starts one)";
        }
        // Each case starts from the default volume and speech switch.
        QSettings().remove(QLatin1String(SessionPlayer::kVolumeKey));
        QSettings().remove(QLatin1String(SessionPlayer::kSpeechKey));
        sink = std::make_unique<NullSink>(QStringLiteral("sp_sound"));
        ASSERT_TRUE(sink->ok()) << sink->error().toStdString();
        QString error;
        ASSERT_TRUE(capture.start(sink->name(), &error)) << error.toStdString();
        ASSERT_TRUE(capture.waitFrames(kRate / 10, 5000)) << "the monitor gives nothing";
        ASSERT_TRUE(capture.calibrate(sink->name(), &error)) << error.toStdString();
        WindowFixture::SetUp();
        scene()->setPaintHook([this](const QPixmap& painted) {
            if (!painted.isNull())
                picture.sample(monotonicMs(), qGray(painted.copy(painted.width() / 2,
                                                                 painted.height() / 4, 1, 1)
                                                        .toImage()
                                                        .pixel(0, 0)));
        });
    }
    void TearDown() override
    {
        if (window)
            WindowFixture::TearDown();
        capture.stop();
        sink.reset();
    }

    // Opens `fb` written as `name` (no index) and starts it; the wall time
    // of the start.
    double play(const FlashBeep& fb, const QString& name)
    {
        const QString path = dir.filePath(name);
        fb.write(path);
        EXPECT_TRUE(open(path));
        const double t0 = monotonicMs();
        player().play();
        return t0;
    }
    // Waits until the monitor has given what was played up to `ms`.
    bool heardUntil(double ms, int timeoutMs = 15000)
    {
        return waitFor([&] {
            const int64_t n = capture.frames();
            return n > 0 && capture.frameTime(n - 1) >= ms;
        }, timeoutMs);
    }
    std::vector<int16_t> between(double fromMs, double toMs)
    {
        return capture.samples(capture.frameAt(fromMs), capture.frameAt(toMs));
    }
    // Sound onsets (after 100 ms of quiet) from `fromMs` on, as times.
    std::vector<double> onsets(double fromMs)
    {
        const int64_t from = capture.frameAt(fromMs);
        std::vector<double> times;
        for (int64_t f : soundOnsets(capture.samples(from, capture.frames()), from, kLoud, 100))
            times.push_back(capture.frameTime(f));
        return times;
    }
    double rms(double fromMs, double toMs)
    {
        const std::vector<int16_t> s = between(fromMs, toMs);
        double sum = 0;
        for (int16_t v : s)
            sum += double(v) * v;
        return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
    }
    bool screenAt(quint64 ms)
    {
        return waitFor([&] { return player().screenTimeMs() >= ms; }, 15000);
    }

    std::unique_ptr<NullSink> sink;
    MonitorCapture capture;
    PictureLog picture;
};

// A steady 440 Hz tone on "Spk" from `fromMs` to `toMs`, nothing on screen
// but the dark picture.
FlashBeep tone(int fromMs, int toMs, int durationMs)
{
    FlashBeep fb;
    fb.tones = {{fromMs, toMs, 440.0}};
    fb.durationMs = durationMs;
    return fb;
}

} // namespace

TEST_F(SoundTest, BeepsAreHeardWithTheirFlashesAlsoAfterASeek)
{
    // Flashes and beeps every second; after the second one a step of 2 s
    // forward, which passes over those at 3 and 4 s.
    FlashBeep fb;
    fb.flashesMs = {1000, 2000, 3000, 4000, 5000, 6000};
    fb.durationMs = 7000;
    play(fb, QStringLiteral("flashes.vro"));
    ASSERT_TRUE(waitFor([&] { return picture.flashes().size() >= 2; }, 10000));
    ASSERT_TRUE(screenAt(2400));
    window->onBtnForwardClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 15000));
    const std::vector<double> flashes = picture.flashes();
    ASSERT_EQ(flashes.size(), 4u) << "the flashes at 1, 2, 5 and 6 s";
    ASSERT_TRUE(heardUntil(flashes.back() + 500));

    int unmatched = 0;
    const std::vector<double> offsets = pairOffsets(flashes, onsets(flashes[0] - 1000), 900, &unmatched);
    EXPECT_EQ(unmatched, 0);
    for (double o : offsets)
        EXPECT_LE(std::fabs(o), 300) << "sound minus picture, ms";
}

TEST_F(SoundTest, PauseSilencesTheToneAndResumeGoesOnWithoutLossOrRepeat)
{
    const double t0 = play(tone(0, 4000, 4500), QStringLiteral("tone.vro"));
    ASSERT_TRUE(screenAt(1500));
    const double paused = monotonicMs();
    window->onBtnPlayClicked();
    ASSERT_EQ(player().getState(), FilePlayer::STATE_PAUSED);
    ASSERT_TRUE(heardUntil(paused + 800));
    const int64_t last = lastLoud(between(paused, paused + 800), capture.frameAt(paused), kLoud);
    EXPECT_LE(last < 0 ? 0 : capture.frameTime(last) - paused, 300) << "sound after the pause, ms";

    const double resumed = monotonicMs();
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 15000));
    ASSERT_TRUE(heardUntil(monotonicMs() + 300));
    // Within the tone the only gap is the pause; the tone is all there,
    // once: its loud time adds up to its 4 s.
    const std::vector<int16_t> whole = between(t0, monotonicMs());
    const std::vector<int64_t> start = soundOnsets(whole, 0, kLoud, 100);
    ASSERT_FALSE(start.empty());
    const int64_t end = lastLoud(whole, 0, kLoud);
    const std::vector<int16_t> toneSpan(whole.begin() + start[0], whole.begin() + end);
    EXPECT_LE(longestQuiet(toneSpan, kLoud) * 1000.0 / kRate, resumed - paused + 150);
    const double loudMs = double(end - start[0] - (longestQuiet(toneSpan, kLoud))) * 1000 / kRate;
    EXPECT_NEAR(loudMs, 4000, 150);
}

namespace {

struct LongUnit
{
    const char* name;
    bool compressed;
    int unitMs;  // one unit of this many ms of tone at 0 s
};

// The name ctest shows for a row.
void PrintTo(const LongUnit& u, std::ostream* os) { *os << u.name; }

class LongUnitTest : public SoundTest, public ::testing::WithParamInterface<LongUnit>
{
};

} // namespace

TEST_P(LongUnitTest, HoldsNeitherThePictureNorPauseNorStop)
{
    // One audio unit from 0 s (8 s as stored, or compressed and inflating
    // to 40 MB, almost four minutes), then flashes at 4 and 6 s. The tone
    // repeats every 100 samples, so that 40 MB compress to some 40 KB.
    const LongUnit& p = GetParam();
    FlashBeep fb;
    fb.flashesMs = {4000, 6000};
    fb.tones = {{0, p.unitMs, 480.0}};
    fb.durationMs = 8000;
    fb.audioUnitMs = p.unitMs;
    fb.capSilence = false;
    fb.compressed = p.compressed;
    const double t0 = play(fb, QStringLiteral("long.vro"));
    ASSERT_TRUE(waitFor([&] { return picture.flashes().size() >= 2; }, 15000));
    const std::vector<double> flashes = picture.flashes();
    EXPECT_NEAR(flashes[0] - t0, 4000, 300);
    EXPECT_NEAR(flashes[1] - t0, 6000, 300);

    ASSERT_TRUE(screenAt(6500));
    const double paused = monotonicMs();
    window->onBtnPlayClicked();
    EXPECT_LE(monotonicMs() - paused, 300) << "pause returns";
    ASSERT_TRUE(heardUntil(paused + 600));
    const int64_t last = lastLoud(between(paused, paused + 600), capture.frameAt(paused), kLoud);
    EXPECT_LE(last < 0 ? 0 : capture.frameTime(last) - paused, 300) << "sound after the pause, ms";

    const double stopped = monotonicMs();
    player().stop();
    EXPECT_LE(monotonicMs() - stopped, 300) << "stop returns once the player is idle";
}

INSTANTIATE_TEST_SUITE_P(Units, LongUnitTest,
                         ::testing::Values(LongUnit{"EightSeconds", false, 8000},
                                           LongUnit{"FortyMegabytesInflated", true, 218000}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

struct SpeedRow
{
    const char* name;
    int incSteps;      // presses of the faster button from 1x
    bool speech;       // speech at other speeds on
    double heardMs;    // how long the 2 s tone lasts; 0: silent
};

// The name ctest shows for a row.
void PrintTo(const SpeedRow& r, std::ostream* os) { *os << r.name; }

class SpeedTest : public SoundTest, public ::testing::WithParamInterface<SpeedRow>
{
};

} // namespace

TEST_P(SpeedTest, ToneKeepsItsPitchAndScalesItsLengthOrIsSilent)
{
    const SpeedRow& r = GetParam();
    if (!r.speech)
        QTest::keyClick(window.get(), Qt::Key_S);
    EXPECT_EQ(player().speechAtOtherSpeeds(), r.speech);
    EXPECT_EQ(QSettings().value(QLatin1String(SessionPlayer::kSpeechKey), true).toBool(), r.speech);
    for (int i = 0; i < r.incSteps; ++i)
        window->onBtnIncSpeedClicked();
    const double t0 = play(tone(1000, 3000, 4000), QStringLiteral("speed.vro"));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 15000));
    ASSERT_TRUE(heardUntil(monotonicMs() + 300));
    const std::vector<int16_t> heard = between(t0, monotonicMs());
    if (r.heardMs == 0) {
        EXPECT_LT(peak(heard), 100) << "nothing is written";
        return;
    }
    const std::vector<int64_t> start = soundOnsets(heard, 0, kLoud, 100);
    ASSERT_EQ(start.size(), 1u);
    const int64_t end = lastLoud(heard, 0, kLoud);
    EXPECT_NEAR(double(end - start[0]) * 1000 / kRate, r.heardMs, 120);
    // The pitch, away from the edges.
    const int64_t mid = (start[0] + end) / 2, half = kRate / 5;
    const std::vector<int16_t> middle(heard.begin() + (mid - half), heard.begin() + (mid + half));
    EXPECT_NEAR(toneFrequency(middle), 440.0, 440.0 * 0.02);
}

INSTANTIATE_TEST_SUITE_P(Speeds, SpeedTest,
                         ::testing::Values(SpeedRow{"Normal", 0, true, 2000},
                                           SpeedRow{"Twice", 1, true, 1000},
                                           SpeedRow{"FourTimesIsSilent", 3, true, 0},
                                           SpeedRow{"TwiceWithSpeechOff", 1, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SoundTest, VolumeAndMuteChangeTheLevelAndTheLevelIsRemembered)
{
    play(tone(0, 6000, 6000), QStringLiteral("level.vro"));
    ASSERT_TRUE(screenAt(800));
    double now = monotonicMs();
    ASSERT_TRUE(heardUntil(now));
    const double full = rms(now - 400, now);
    ASSERT_GT(full, 3000);

    for (int i = 0; i < 3; ++i)
        QTest::keyClick(window.get(), Qt::Key_Down);
    EXPECT_EQ(scene()->message(), QStringLiteral("Volume 70 %"));
    now = monotonicMs();
    ASSERT_TRUE(heardUntil(now + 700));
    EXPECT_NEAR(rms(now + 300, now + 700) / full, 0.7, 0.1);

    QTest::keyClick(window.get(), Qt::Key_M);
    EXPECT_EQ(scene()->message(), QStringLiteral("Muted"));
    now = monotonicMs();
    ASSERT_TRUE(heardUntil(now + 700));
    EXPECT_LT(peak(between(now + 300, now + 700)), 100) << "muted is silent";

    QTest::keyClick(window.get(), Qt::Key_M);
    EXPECT_EQ(scene()->message(), QStringLiteral("Volume 70 %"));
    now = monotonicMs();
    ASSERT_TRUE(heardUntil(now + 700));
    EXPECT_NEAR(rms(now + 300, now + 700) / full, 0.7, 0.1);

    QTest::keyClick(window.get(), Qt::Key_S);
    EXPECT_EQ(scene()->message(), QStringLiteral("Speech at 1/2x to 3x off"));

    // A new window starts at the level and with the switch left.
    SessionPlayer next;
    EXPECT_EQ(next.player().volume(), 70);
    EXPECT_FALSE(next.player().speechAtOtherSpeeds());
    next.shutdownPlayer();
}

// Random bytes over more than a whole audio unit (headers included) a third
// of the way in: the picture's reader passes over the stretch, and so must
// the sound's own reader, which reads ahead of it.
TEST_F(SoundTest, TheSoundGoesOnAfterADamagedStretch)
{
    const QString path = dir.filePath(QStringLiteral("damaged.vro"));
    tone(0, 6000, 6000).write(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    overwrite(bytes, bytes.size() / 3, 12000, 7);
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();

    ASSERT_TRUE(open(path));
    player().play();
    ASSERT_TRUE(screenAt(5000));
    const double now = monotonicMs();
    ASSERT_TRUE(heardUntil(now));
    EXPECT_GT(rms(now - 400, now), 3000) << "the tone goes on after the damaged stretch";
}
