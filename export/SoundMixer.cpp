// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundMixer.h"

#include <algorithm>

SoundMixer::SoundMixer(quint64 fromMs, Sink sink) : m_from(fromMs), m_sink(std::move(sink)) {}

int64_t SoundMixer::frameAt(quint64 timeMs, quint64 fromMs)
{
    return (static_cast<int64_t>(timeMs) - static_cast<int64_t>(fromMs)) * (kRate / 1000);
}

void SoundMixer::add(int stream, quint64 timeMs, const unsigned char* bytes, int size, int channels)
{
    if (stream < 0 || stream > 1 || !bytes || channels <= 0 || size <= 0)
        return;
    const int frames = size / (2 * channels);
    if (frames <= 0)
        return;
    int64_t start = frameAt(timeMs, m_from);
    const int64_t joinFrames = kJoinMs * (kRate / 1000);
    if (m_next[stream] >= 0 && std::abs(start - m_next[stream]) <= joinFrames)
        start = m_next[stream];
    m_next[stream] = start + frames;

    // What lies before the range, or was handed on already, is dropped.
    int first = 0;
    if (start < m_out)
        first = static_cast<int>(std::min<int64_t>(frames, m_out - start));
    if (first >= frames)
        return;
    const int64_t end = start + frames;
    const size_t need = static_cast<size_t>(end - m_out) * 2;
    if (m_mix.size() < need)
        m_mix.resize(need, 0);
    auto sample = [bytes](int index) {
        return static_cast<int16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
    };
    for (int f = first; f < frames; ++f) {
        const int base = f * channels;
        const int32_t left = sample(base);
        const int32_t right = channels > 1 ? sample(base + 1) : left;
        const size_t at = static_cast<size_t>(start + f - m_out) * 2;
        m_mix[at] += left;
        m_mix[at + 1] += right;
    }
}

void SoundMixer::advanceTo(quint64 timeMs)
{
    const int64_t hold = static_cast<int64_t>(kHoldMs) * (kRate / 1000);
    const int64_t final = frameAt(timeMs, m_from) - hold;
    if (final > m_out)
        flushTo(final);
}

void SoundMixer::finish(quint64 endMs)
{
    const int64_t end = frameAt(endMs, m_from);
    if (end > m_out)
        flushTo(end);
    m_mix.clear();
}

void SoundMixer::flushTo(int64_t frame)
{
    // In pieces, so a long silence never needs a large buffer.
    constexpr int kPiece = kRate / 10;
    std::vector<int16_t> out;
    while (m_out < frame) {
        const int n = static_cast<int>(std::min<int64_t>(kPiece, frame - m_out));
        out.assign(static_cast<size_t>(n) * 2, 0);
        const size_t have = std::min(m_mix.size(), out.size());
        for (size_t i = 0; i < have; ++i)
            out[i] = static_cast<int16_t>(std::clamp<int32_t>(m_mix[i], -32768, 32767));
        m_mix.erase(m_mix.begin(), m_mix.begin() + static_cast<std::ptrdiff_t>(have));
        m_sink(out.data(), n);
        m_out += n;
    }
}
