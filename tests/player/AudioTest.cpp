// Audio for real. scripts/test starts a PulseAudio server with a null sink
// and exports what Qt needs to find it; the tone test records the sink's
// monitor with parec while the player plays a recording that carries a
// 1 kHz tone on "Cap", and checks that the tone arrived. The silent test runs
// in a CTest entry whose PULSE_SERVER points nowhere: no output device, and
// playback must go on to the end without a sound or a message.
//
// Without a server the tone test is skipped, unless SP_REQUIRE_AUDIO=1 says
// that one was started for it.

#include "PlayerTestSupport.h"

#include <QFile>
#include <QMediaDevices>
#include <QProcess>

#include <cmath>
#include <vector>


namespace {

constexpr int kRate = 48000;
constexpr double kTone = 1000.0;
constexpr int kToneSeconds = 4;

// `seconds` of a tone on "Cap" (stereo, a unit every 100 ms), and a mouse
// position at the end so that the last unit is not audio.
Units tone(int seconds)
{
    return [=](RecordingWriter& w) {
        const int frames = kRate / 10;
        std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
        for (int unit = 0, n = 0; unit < seconds * 10; ++unit) {
            for (int i = 0; i < frames; ++i, ++n) {
                const double v = 9000.0 * std::sin(2.0 * M_PI * kTone * n / kRate);
                samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(std::lround(v));
            }
            w.writeAudio(uint64_t(unit) * 100, RecordingWriter::CAP, samples.data(), frames, 2);
        }
        w.writeMousePos(uint64_t(seconds) * 1000, 1, 1, 1);
    };
}

// Power of one frequency in the left channel (Goertzel).
double power(const std::vector<int16_t>& stereo, size_t begin, size_t frames, double freq)
{
    const double k = 2.0 * std::cos(2.0 * M_PI * freq / kRate);
    double s1 = 0, s2 = 0;
    for (size_t i = begin; i < begin + frames; ++i) {
        const double s0 = stereo[2 * i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

using AudioTest = PlayerFixture;

} // namespace

TEST_F(AudioTest, ToneReachesTheSink)
{
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        if (qEnvironmentVariable("SP_REQUIRE_AUDIO") == QLatin1String("1"))
            FAIL() << "SP_REQUIRE_AUDIO=1 but there is no audio output";
        GTEST_SKIP() << "no audio output (scripts/test starts a PulseAudio null sink)";
    }
    ASSERT_TRUE(open(write("tone.vro", kToneSeconds * 1000, tone(kToneSeconds))));

    // parec writes to a file: a pipe that is not read fast enough would stall it.
    const QString capture = dir.filePath("capture.raw");
    QProcess parec;
    parec.setStandardOutputFile(capture);
    const QString args("-d null.monitor --raw --format=s16le --rate=48000 --channels=2 "
                       "--latency-msec=20");
    parec.start(QStringLiteral("parec"), args.split(' '));
    ASSERT_TRUE(parec.waitForStarted(5000)) << "parec: " << parec.errorString().toStdString();
    pump(300);

    player.play();
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 15000));
    pump(1500); // the output's buffer plays out
    parec.terminate();
    ASSERT_TRUE(parec.waitForFinished(5000));
    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    const std::vector<int16_t> stereo((const int16_t*)raw.constData(),
                                      (const int16_t*)raw.constData() + raw.size() / 2);
    const size_t frames = stereo.size() / 2;
    ASSERT_GT(frames, static_cast<size_t>(kRate)) << "less than a second recorded";

    // Nothing was dropped: the tone is there for as long as the recording
    // carries it. The threshold is far above what noise or another frequency
    // of the same loudness gives at 1 kHz.
    int loud = 0;
    for (size_t at = 0; at + kRate / 2 <= frames; at += kRate / 2)
        loud += power(stereo, at, kRate / 2, kTone) > 2.5e15 ? 1 : 0; // amplitude above 4200
    EXPECT_GE(loud, 2 * kToneSeconds - 1) << "half-second stretches carrying the tone";
}

TEST_F(AudioTest, PlaybackGoesOnSilentlyWithoutAnOutput)
{
    if (qEnvironmentVariable("SP_EXPECT_NO_AUDIO") == QLatin1String("1")) {
        EXPECT_TRUE(QMediaDevices::defaultAudioOutput().isNull());
    }
    ASSERT_TRUE(open(write("silent.vro", 1000, tone(1))));
    const quint64 t0 = nowMs();
    player.play();
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 15000));
    EXPECT_GE(nowMs() - t0, 950u) << "audio units are paced like any other";
    EXPECT_EQ(view.mouseEvents().size(), 1u);
    EXPECT_EQ(prompter.count("critical"), 0);
}
