// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Listening to what the player really plays, for the sound tests and the
// A/V measurement (bench/AvSync.cpp): a null sink of one's own on the
// PulseAudio server that PULSE_SERVER names, its monitor read through parec
// with every chunk time-stamped on arrival, and the analysis of what was
// heard (onsets, silence, the pitch of a tone). Times are milliseconds of
// monotonicMs(), the clock a paint hook of the view stamps its paints with.
//
// Needs pactl and parec (pulseaudio-utils) and libpulse-simple for the
// calibration click.

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Monotonic milliseconds (steady clock), fractional.
double monotonicMs();

// A null sink loaded for this object alone (module-null-sink with a name
// made unique by the process id and a counter) and made the process's sink
// through PULSE_SINK; unloaded by its module id when the object goes.
class NullSink
{
public:
    explicit NullSink(const QString& prefix);
    ~NullSink();
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;

    bool ok() const { return m_module >= 0; }
    QString name() const { return m_name; }
    QString error() const { return m_error; }

private:
    QString m_name;
    QString m_error;
    long m_module = -1;
    QByteArray m_oldSink;
};

// The monitor of a sink, read by parec (--latency-msec=10) on a thread of
// its own. The first channel of each frame is kept.
class MonitorCapture
{
public:
    static constexpr int kRate = 48000;

    MonitorCapture() = default;
    ~MonitorCapture() { stop(); }
    MonitorCapture(const MonitorCapture&) = delete;
    MonitorCapture& operator=(const MonitorCapture&) = delete;

    // Starts parec on `sink`.monitor; false with `error` set when it cannot.
    bool start(const QString& sink, QString* error);
    // Ends parec (by its pid) and the reader.
    void stop();

    // Frames captured so far.
    int64_t frames() const;
    // Waits (in 5 ms steps, no event processing) until `count` frames have
    // arrived; false after `timeoutMs`.
    bool waitFrames(int64_t count, int timeoutMs) const;
    // The first channel of frames [from, to), clipped to what arrived.
    std::vector<int16_t> samples(int64_t from, int64_t to) const;

    // When frame `frame` reached the sink, in monotonicMs(): its chunk's
    // arrival, less the shortest delay seen within a second of it, less the
    // calibration.
    double frameTime(int64_t frame) const;
    // The first frame that reached the sink at or after `ms`.
    int64_t frameAt(double ms) const;

    // Writes a click straight to the sink, with a stream of a few
    // milliseconds of latency, and takes the difference between when it was
    // heard by the capture and when the server said it would play as the
    // capture path's delay (subtracted by frameTime from then on). False
    // when the click was not heard within two seconds.
    bool calibrate(const QString& sink, QString* error);
    double calibrationMs() const { return m_calibration; }

private:
    struct Chunk
    {
        double arrival;  // monotonicMs() when the read returned
        int64_t end;     // frames captured up to and including this chunk
    };
    void readLoop(int fd);

    mutable std::mutex m_mutex;
    std::vector<int16_t> m_samples;     // guarded by m_mutex
    std::vector<Chunk> m_chunks;        // guarded by m_mutex
    std::thread m_reader;
    int m_pid = -1;
    double m_calibration = 0;
};

// What a picture showed over time: the moments it turned white (a rising
// edge of brightness above 200, after it was dark, below 80). Fed by a
// paint hook or a pixel read off the screen, on any thread.
class PictureLog
{
public:
    void sample(double atMs, int gray)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (gray > 200 && !m_white)
            m_flashes.push_back(atMs);
        if (gray > 200 || gray < 80)
            m_white = gray > 200;
    }
    std::vector<double> flashes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_flashes;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<double> m_flashes;
    bool m_white = false;
};

// ---- What was heard ----

// Frames in [from, to) where the sound starts: the first sample above
// `threshold` (absolute) after at least `quietMs` below it.
std::vector<int64_t> soundOnsets(const std::vector<int16_t>& samples, int64_t first,
                                 int threshold, int quietMs);
// The last frame above `threshold`, or -1.
int64_t lastLoud(const std::vector<int16_t>& samples, int64_t first, int threshold);
// The longest run of frames at or below `threshold` within the samples.
int64_t longestQuiet(const std::vector<int16_t>& samples, int threshold);
// Peak absolute sample.
int peak(const std::vector<int16_t>& samples);
// The tone's frequency in Hz, from the zero crossings of the samples (a
// clean tone of some hundred milliseconds or more).
double toneFrequency(const std::vector<int16_t>& samples);

// The offsets in ms (sound minus picture) of each picture event to the
// nearest sound onset within `windowMs`; events with no onset near get no
// entry and are counted in `unmatched`.
std::vector<double> pairOffsets(const std::vector<double>& pictures,
                                const std::vector<double>& sounds, double windowMs,
                                int* unmatched);
double median(std::vector<double> values);
