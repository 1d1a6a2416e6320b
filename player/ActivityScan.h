// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include "ActivityMap.h"
#include "RecordScan.h"

// Fills an ActivityMap from the walk over a recording's units (a
// RecordScan::Visitor): screen updates by their stored size (their payloads
// are not read, let alone decoded), pointer moves from the control units'
// mouse positions, the sound's level per 100 ms window from the audio
// payloads (16-bit PCM at 48 kHz; a compressed one is inflated within Zip's
// cap by the reader) and the damaged stretches the reader passes over.
//
// Runs on the walk's thread; one walk at a time (begin() before each). The
// map is published as the walk goes, every kPublishUnits units.
class ActivityScan : public RecordScan::Visitor
{
public:
    static constexpr int kRate = 48000;
    static constexpr int kPublishUnits = 512;

    explicit ActivityScan(ActivityMap& map) : m_map(map) {}

    // Clears the map and the per-stream state for a new walk.
    void begin();

    bool wantsPayload(const RecordUnitHeader& header) override;
    void onUnit(const RecordUnitHeader& header, quint64 storedBytes,
                const Array<unsigned char, int>* payload) override;
    void onDamage(const RecordReader::Damage& damage) override;
    void onEnd(const RecordScan::Result& result) override;

    // The level in dBFS of `count` samples whose squares sum to `sumSquares`
    // (full scale = 32768); ActivityMap::kNoSound for silence or no samples.
    static int levelDb(quint64 sumSquares, quint64 count);

private:
    // The 100 ms window a stream is adding up.
    struct Level
    {
        quint64 bin = ~quint64(0);
        quint64 sumSquares = 0;
        quint64 count = 0;
    };

    void addSamples(Level& level, quint64 timeMs, const unsigned char* data, int bytes,
                    int channels);
    void flush(Level& level);

    ActivityMap& m_map;
    Level m_levels[2]; // "Cap", "Spk"
    int m_lastX = -1;
    int m_lastY = -1;
    quint64 m_lastTime = 0;
    int m_units = 0;
};
