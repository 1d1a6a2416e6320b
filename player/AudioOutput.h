// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAudioDevice>
#include <QAudioFormat>

#include <deque>

class QAudioSink;
class QIODevice;

// The output of one recorded audio stream ("Cap" or "Spk") on the default
// audio device, and the clock of what the listener hears from it.
//
// Player thread only: the output is created there, written there and closed
// there (Qt's sink runs timers of the thread that made it).
//
// Never blocks: write() takes only what the device accepts at once and says
// how much that was. The device buffer is short (kBufferMs asked for; the
// server grants about half of it), so that pausing, flushing and a change of
// volume are heard at once and the delay of the sound is small.
//
// What is heard: Qt's sink on PulseAudio reports as processedUSecs() the
// position in the written stream that the device has played, its latency
// included (it follows the server's stream time: measured against the null
// sink's monitor it was within 10 ms of the sound, with device buffers of
// 70 ms to 1.5 s). It stops while the output is suspended and while it has
// run dry, and starts from zero after a flush. Every write says which media
// time its first frame stands for and how much media time each frame
// carries (1/48 ms at normal speed, more or less when time-stretched), so
// the output can turn that position back into the media time being heard.
//
// Samples are interleaved signed 16-bit at 48000 Hz with the stream's
// channel count, written as recorded (also when the device only offered a
// nearby format).
class AudioOutput
{
public:
    static constexpr int kRate = 48000;
    static constexpr int kBufferMs = 200;

    // `name` names the stream in log lines; it must outlive the output.
    explicit AudioOutput(const char* name);
    ~AudioOutput();

    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Ready for samples of `channels` channels: opens the output when the
    // channel count differs from the one it was last opened for (a stream
    // never opened differs from every count; what the old output still held
    // is dropped). False when there is no device or it refused the format;
    // the stream then stays silent until its channel count changes.
    bool prepare(int channels);
    bool isReady() const { return m_ready; }
    int channels() const { return m_format.channelCount(); }

    // Frames the device takes now.
    int framesFree() const;
    // Writes up to `frames` frames from `samples`; returns how many the
    // device took (0 when not ready or suspended). Their first frame stands
    // for media time `mediaMs`, each frame for `msPerFrame` of media time.
    int write(const short* samples, int frames, double mediaMs, double msPerFrame);

    // The media time the listener hears now; false when nothing written is
    // being heard (nothing written since the last flush, or all of it has
    // played: the output ran dry).
    bool heard(double& mediaMs);
    // Media time just after the last frame written; meaningful when
    // something was written since the last flush.
    double writtenEnd() const { return m_writtenEnd; }
    // Written and not yet heard, in frames.
    qint64 framesQueued() const;

    // Pause: the device stops within milliseconds and keeps what it holds;
    // resume() goes on from the same sample.
    void suspend();
    void resume();
    bool isSuspended() const { return m_suspended; }
    // Drops what the device holds; the next write starts a new stream.
    void flush();
    // 0.0 (silent) to 1.0 (as recorded).
    void setVolume(double volume);

    // Stops and deletes the output; the next prepare() opens a new one.
    void close();

    // The device outputs open on: the sink PULSE_SINK names when it is one
    // of the outputs, else the default output (null when there is none).
    static QAudioDevice outputDevice();

private:
    bool open(int channels);
    qint64 framesHeard() const;

    // Which media time a stretch of written frames stands for.
    struct Segment
    {
        qint64 firstFrame;
        qint64 frames;
        double mediaMs;
        double msPerFrame;
    };

    const char* m_name;
    bool m_ready = false;
    bool m_suspended = false;
    double m_volume = 1.0;
    QAudioFormat m_format;          // as recorded; sample rate 0 until first opened
    int m_bytesPerFrame = 0;        // of the format the output was opened with
    QAudioDevice m_device;
    QIODevice* m_sink = nullptr;    // owned by m_output
    QAudioSink* m_output = nullptr;
    qint64 m_written = 0;           // frames since the last flush
    double m_writtenEnd = 0;
    std::deque<Segment> m_segments; // of the frames not yet heard, oldest first
};
