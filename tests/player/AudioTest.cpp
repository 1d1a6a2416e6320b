// SPDX-License-Identifier: GPL-3.0-or-later
// Playback without a sound device: this case runs in a CTest entry whose
// PULSE_SERVER points nowhere, and playback must go on to the end, paced by
// the wall clock, without a sound or a message. (Sound through a device is
// tested through the window, tests/app/SoundTest.cpp.)

#include "PlayerTestSupport.h"

#include <QMediaDevices>

#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kTone = 1000.0;

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

using AudioTest = PlayerFixture;

} // namespace

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
