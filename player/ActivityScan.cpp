// SPDX-License-Identifier: GPL-3.0-or-later
#include "ActivityScan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "UnitDispatch.h"

void ActivityScan::begin()
{
    m_map.clear();
    m_levels[0] = Level();
    m_levels[1] = Level();
    m_lastX = m_lastY = -1;
    m_lastTime = 0;
    m_units = 0;
}

bool ActivityScan::wantsPayload(const RecordUnitHeader& header)
{
    const int kind = header.kind();
    return kind == RecordUnitHeader::KIND_CONTROL || kind == RecordUnitHeader::KIND_AUDIO_CAP
        || kind == RecordUnitHeader::KIND_AUDIO_SPK;
}

int ActivityScan::levelDb(quint64 sumSquares, quint64 count)
{
    if (count == 0 || sumSquares == 0)
        return ActivityMap::kNoSound;
    const double meanSquare = double(sumSquares) / double(count);
    const double db = 10.0 * std::log10(meanSquare / (32768.0 * 32768.0));
    return std::max(ActivityMap::kNoSound + 1, int(std::floor(db)));
}

void ActivityScan::flush(Level& level)
{
    if (level.count > 0)
        m_map.addSoundWindow(level.bin, levelDb(level.sumSquares, level.count));
    level.sumSquares = 0;
    level.count = 0;
}

void ActivityScan::addSamples(Level& level, quint64 timeMs, const unsigned char* data, int bytes,
                              int channels)
{
    if (channels <= 0)
        return;
    const int frames = bytes / (2 * channels);
    constexpr quint64 kFramesPerBin = quint64(kRate) * ActivityMap::kBinMs / 1000;
    // The frame's place on a 48 kHz grid from the start of the recording.
    quint64 at = timeMs * (kRate / 1000);
    int i = 0;
    while (i < frames) {
        const quint64 bin = at / kFramesPerBin;
        // A stream's units follow each other; one that starts a little before
        // the window being added up joins it.
        if (level.bin == ~quint64(0) || bin > level.bin) {
            flush(level);
            level.bin = bin;
        }
        // at < the window's end here: the unit's own window or a later one.
        const quint64 room = (level.bin + 1) * kFramesPerBin - at;
        const int n = int(std::min<quint64>(quint64(frames - i), room));
        const unsigned char* p = data + size_t(i) * 2 * size_t(channels);
        const int samples = n * channels;
        quint64 sum = 0;
        for (int k = 0; k < samples; ++k) {
            const int v = int16_t(quint16(p[2 * k]) | quint16(p[2 * k + 1]) << 8);
            sum += quint64(qint64(v) * v);
        }
        level.sumSquares += sum;
        level.count += quint64(samples);
        i += n;
        at += quint64(n);
    }
}

void ActivityScan::onUnit(const RecordUnitHeader& header, quint64 storedBytes,
                          const Array<unsigned char, int>* payload)
{
    const quint64 t = header.m_time;
    switch (header.kind()) {
    case RecordUnitHeader::KIND_SCREEN:
        m_map.addScreen(t, storedBytes);
        break;
    case RecordUnitHeader::KIND_CONTROL:
        // 0x0B, x and y (16 bits each, big-endian), the cursor id.
        if (payload && payload->count() >= 5 && (*payload)[0] == UnitDispatch::CONTROL_MOUSE_POS) {
            const unsigned char* p = payload->data();
            const int x = p[1] << 8 | p[2];
            const int y = p[3] << 8 | p[4];
            if (x != m_lastX || y != m_lastY)
                m_map.addPointerMove(t);
            m_lastX = x;
            m_lastY = y;
        }
        break;
    case RecordUnitHeader::KIND_AUDIO_CAP:
    case RecordUnitHeader::KIND_AUDIO_SPK:
        if (payload)
            addSamples(m_levels[header.kind() == RecordUnitHeader::KIND_AUDIO_CAP ? 0 : 1], t,
                       payload->data(), payload->count(), header.m_channels);
        break;
    default:
        break;
    }
    m_lastTime = std::max(m_lastTime, t);
    if (++m_units % kPublishUnits == 0)
        m_map.setScanned(m_lastTime);
}

void ActivityScan::onDamage(const RecordReader::Damage& damage)
{
    m_map.addDamage(damage.timeBefore, damage.timeAfter);
}

void ActivityScan::onEnd(const RecordScan::Result& result)
{
    flush(m_levels[0]);
    flush(m_levels[1]);
    m_map.setComplete(result.realEnd);
}
