// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Recordings for judging sound against picture: a dark 320 x 240 screen that
// turns white for kFlashMs at given media times while "Spk" beeps (1 kHz)
// at the same times, optionally with stretches of a steady tone, "Cap"
// carrying silence beside it, and the audio cut into units of any length.
// Needs the recording writer (tools/).

#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

#include "RecordingWriter.h"
#include "VideoFrame.h"

struct FlashBeep
{
    static constexpr int kRate = 48000;
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    static constexpr unsigned kDark = 0xFF202020u;
    static constexpr unsigned kWhite = 0xFFFFFFFFu;
    static constexpr int kFlashMs = 300;
    static constexpr int kBeepMs = 150;
    static constexpr double kBeepHz = 1000.0;

    struct Tone
    {
        int fromMs, toMs;
        double hz;
    };

    std::vector<int> flashesMs;    // flash and beep times
    std::vector<Tone> tones;       // steady tones on "Spk"
    int durationMs = 10000;
    int audioUnitMs = 100;         // audio is cut into units of this length
    int channels = 2;
    bool capSilence = true;        // "Cap" plays silence beside "Spk"
    bool compressed = false;

    // The "Spk" samples of one channel over the whole recording (and on to
    // the end of the last tone, which a long unit may carry past it).
    std::vector<int16_t> speaker() const
    {
        int endMs = durationMs;
        for (const Tone& t : tones)
            endMs = std::max(endMs, t.toMs);
        std::vector<int16_t> s(size_t(endMs) * kRate / 1000, 0);
        auto put = [&](int fromMs, int toMs, double hz, double amplitude) {
            const size_t a = size_t(fromMs) * kRate / 1000;
            const size_t b = std::min(s.size(), size_t(toMs) * kRate / 1000);
            for (size_t i = a; i < b; ++i)
                s[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * double(i - a) / kRate)));
        };
        for (const Tone& t : tones)
            put(t.fromMs, t.toMs, t.hz, 9000);
        for (int f : flashesMs)
            put(f, f + kBeepMs, kBeepHz, 12000);
        return s;
    }

    void write(const QString& path) const
    {
        RecordingWriter w;
        w.open(path);
        w.setCompression(compressed);
        VideoFrame dark, white;
        dark.resize(kWidth, kHeight), dark.clear(kDark);
        white.resize(kWidth, kHeight), white.clear(kWhite);

        // Screen changes, in time order with the audio units.
        std::vector<std::pair<int, bool>> screens{{0, false}};
        for (int f : flashesMs)
            screens.push_back({f, true}), screens.push_back({f + kFlashMs, false});
        const std::vector<int16_t> mono = speaker();
        std::vector<int16_t> unit;
        size_t next = 0;
        for (int t = 0; t < durationMs; t += audioUnitMs) {
            while (next < screens.size() && screens[next].first <= t) {
                w.writeScreenFrame(uint64_t(screens[next].first),
                                   screens[next].second ? white : dark);
                ++next;
            }
            const size_t a = size_t(t) * kRate / 1000;
            const size_t frames = std::min(mono.size() - a, size_t(audioUnitMs) * kRate / 1000);
            unit.assign(frames * size_t(channels), 0);
            if (capSilence)
                w.writeAudio(uint64_t(t), RecordingWriter::CAP, unit.data(), int(frames), channels);
            for (size_t i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    unit[i * size_t(channels) + size_t(c)] = mono[a + i];
            w.writeAudio(uint64_t(t), RecordingWriter::SPK, unit.data(), int(frames), channels);
        }
        for (; next < screens.size(); ++next)
            w.writeScreenFrame(uint64_t(screens[next].first), screens[next].second ? white : dark);
        w.writeMousePos(uint64_t(durationMs), 1, 1, 1);
        w.finish(durationMs);
    }
};
