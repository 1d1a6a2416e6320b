// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

#include "AudioOutput.h"
#include "RecordReader.h"
#include "SampleSlicer.h"

namespace soundtouch {
class SoundTouch;
}

// The sound of a recording: its own reader over the recording's audio units,
// both streams ("Cap", kind 4, and "Spk", kind 5) cut into slices, time-
// stretched with the pitch kept at 1/2x, 2x and 3x (SoundTouch), and written
// to the two AudioOutputs ahead of the picture by what the devices hold.
// What the listener hears of it paces the picture (heard()).
//
// Why a reader of its own: sound has to reach the device before its time
// (the device plays it a buffer later), while the play loop takes units in
// file order when they are due; an audio unit of seconds, or one that
// inflates to megabytes, would hold the picture up as well. So the play loop
// passes audio units over, and this reader takes the headers of the units up
// to a second ahead of the clock, remembering where the audio units lie, and
// reads and inflates their samples a slice at a time as the devices need
// them. It keeps at most the rest of the unit being sliced and about a
// second more decoded per stream.
//
// Timing. Samples are placed by their units' times: a stream whose next
// samples lie a little (up to kGapFillMs) after what it has written gets
// silence in between, so its clock keeps running; a longer gap lets the
// output run dry (the wall clock paces meanwhile), and the stream starts
// again, padded with silence from the clock's time, when its samples come
// due. Samples whose time has passed when they would be written (after a
// restart) are dropped, so sound starts in step.
//
// Threads. open(), close() and restart() touch no output: the GUI thread may
// call them while the player is idle, under the engine's lock. Everything
// else is the player thread's (the outputs are made, written, paused and
// flushed there only).
class AudioFeed
{
public:
    // How far ahead of the clock, in media time at normal speed (scaled by
    // the tempo), unit headers are read and samples decoded.
    static constexpr int kReadAheadMs = 1000;
    static constexpr int kDecodeAheadMs = 500;
    // The longest gap within a stream that is filled with silence.
    static constexpr int kGapFillMs = 300;
    // A remembered unit this much before a restart point is too far back to
    // be worth reading from.
    static constexpr int kKnownReachMs = 60000;

    AudioFeed();
    ~AudioFeed();
    AudioFeed(const AudioFeed&) = delete;
    AudioFeed& operator=(const AudioFeed&) = delete;

    // ---- Any thread, with the engine's lock; no output is touched ----

    // Reads audio from the recording at `path` (read-only); nothing is
    // played until restart(). False when it cannot be opened (then silent).
    bool open(const QString& path);
    void close();
    // Sound from media time `mediaMs` on: what was read and decoded is
    // dropped; reading starts at the last remembered audio unit of each
    // stream at or before that time, or at `offset` (the header of a unit
    // at or before it) when none is remembered. What the outputs hold is
    // flushed at the next pump() or silence().
    void restart(double mediaMs, qint64 offset);
    // An audio unit of kind 4 or 5 whose header lies at `offset` and whose
    // time is `time`, passed by another reader (the seek's catch-up): where
    // a restart near that time may start reading.
    void noteUnit(int kind, qint64 offset, quint64 time);
    // Sound plays at `speed` (the player's speed values): as recorded at 0
    // and 1; time-stretched at -2, 2 and 3 when `stretch` is set; not at
    // all otherwise. Takes effect with the next restart().
    void setSpeed(int speed, bool stretch);
    static double tempoFor(int speed, bool stretch);

    // ---- Player thread ----

    // One step: flushes the outputs when a restart asked for it, reads and
    // decodes what the clock's time `clockMs` needs soon, writes what the
    // devices take. Never waits.
    void pump(double clockMs);
    // The media time the listener hears from the stream that paces
    // playback: "Spk" when it is sounding, else "Cap"; false when neither
    // is (nothing written, or it all played).
    bool heard(double& mediaMs);
    // Pause and resume: the outputs stop within milliseconds and go on from
    // the same sample.
    void pause();
    void resume();
    // Drops what the outputs hold, now.
    void silence();
    // Both streams; 0.0 silent to 1.0 as recorded.
    void setVolume(double volume);
    // Everything read has been played (the reader found no more units,
    // nothing is decoded or queued).
    bool drained();
    // Closes both outputs (the thread that opened them is ending).
    void closeOutputs();
    // Sound is on at the current speed and something may still play.
    bool isActive() const { return m_tempo > 0 && m_file.isOpen(); }

private:
    struct UnitRef
    {
        qint64 payload;      // offset of the stored payload
        quint64 stored;      // its stored size
        quint64 time;
        int channels;
        bool compressed;
    };
    struct Known
    {
        qint64 offset;       // of the unit header
        quint64 time;
    };
    struct Stream;

    void readAhead(double clockMs);
    void decode(Stream& s, double clockMs);
    // Adds decoded frames of media time `mediaMs` to the stream's run.
    void append(Stream& s, const short* frames, int count, int channels, double mediaMs);
    void stretchInput(Stream& s);
    void write(Stream& s, double clockMs);
    bool pipelineEmpty(const Stream& s) const;
    void resetPipeline(Stream& s);
    void remember(Stream& s, qint64 offset, quint64 time);
    Stream& stream(int kind);
    double msPerFrame() const;

    QFile m_file;
    RecordReader m_reader;
    qint64 m_readPos = 0;        // the next unit header to read
    quint64 m_readTime = 0;      // the time of the unit before it
    bool m_readEnded = true;
    double m_floor = 0;          // media time before which nothing is played
    bool m_flushPending = false;
    double m_tempo = 1.0;        // 0: silent at this speed
    double m_nextTempo = 1.0;    // takes effect at the next restart
    std::unique_ptr<Stream> m_cap;
    std::unique_ptr<Stream> m_spk;
    std::vector<short> m_slice;  // scratch
    std::vector<short> m_zeros;
};
