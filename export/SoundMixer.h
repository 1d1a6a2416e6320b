// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <vector>

// Mixes the recording's two audio streams ("Cap" and "Spk") into one
// stereo track of 48 kHz signed 16-bit samples that covers the export's
// range without a gap: each unit's samples are placed at its media time,
// mono streams go to both channels, the streams are added and clipped, and
// wherever neither stream has samples the track is silent.
//
// A unit that follows the previous unit of its stream within kJoinMs of
// where that one ended is joined to it seamlessly (unit times are whole ms;
// a sample-exact gap or overlap of a few samples would click); one further
// away starts at its own time. Samples before the range's start, and before
// what was already handed on, are dropped.
//
// Units arrive in time order; everything kHoldMs before the latest unit's
// time is final and handed to the sink, so the mixer holds at most a few
// seconds of sound whatever the recording's length. One thread.
class SoundMixer
{
public:
    static constexpr int kRate = 48000;
    static constexpr int kJoinMs = 20;
    static constexpr int kHoldMs = 1000;

    // Receives final samples: `frames` interleaved stereo pairs that follow
    // the ones given before, starting at the range's start.
    using Sink = std::function<void(const int16_t* samples, int frames)>;

    SoundMixer(quint64 fromMs, Sink sink);

    // A unit of `stream` (0 for Cap, 1 for Spk) at media time `timeMs`:
    // `bytes` bytes of little-endian interleaved 16-bit samples of
    // `channels` channels. A channel count other than 1 or 2 takes the first
    // two channels (or the one) of each frame; 0 channels or an incomplete
    // frame at the end are ignored.
    void add(int stream, quint64 timeMs, const unsigned char* bytes, int size, int channels);
    // Everything before `timeMs` is final (no unit will come before it).
    void advanceTo(quint64 timeMs);
    // Hands on the track up to `endMs` exactly: what is mixed, then silence.
    void finish(quint64 endMs);

    // Sample frames handed to the sink so far.
    int64_t framesOut() const { return m_out; }

private:
    static int64_t frameAt(quint64 timeMs, quint64 fromMs);
    void flushTo(int64_t frame);

    quint64 m_from;
    Sink m_sink;
    int64_t m_out = 0;                // frames handed on
    std::vector<int32_t> m_mix;       // stereo sums from frame m_out on
    int64_t m_next[2] = {-1, -1};     // where each stream's next unit joins
};
