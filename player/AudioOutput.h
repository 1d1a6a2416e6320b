#pragma once

#include <QAudioDevice>
#include <QAudioFormat>

#include <functional>

class QAudioSink;
class QIODevice;

// The output of one recorded audio stream ("Cap" or "Spk") on the default
// audio device: opened for the stream's first unit, opened again whenever
// the stream's channel count changes, written to with each unit's samples
// (interleaved signed 16-bit at 48000 Hz, written as recorded).
//
// Player thread only: the output is created there, written there and must be
// closed there (Qt's sink runs timers of the thread that made it).
//
// The output's buffer holds two units like the one that opened it (at least
// kMinBufferMs, at most kMaxBufferMs of sound), so that a whole unit is taken
// at once; the buffer is also the sound's delay behind the picture. A unit
// that does not fit is written in parts as the output drains, for at most
// the playing time of what did not fit; what is left then is dropped and
// logged.
class AudioOutput
{
public:
    static constexpr int kRate = 48000;
    static constexpr int kMinBufferMs = 250;
    static constexpr int kMaxBufferMs = 4000;

    // `name` names the stream in log lines; it must outlive the output.
    explicit AudioOutput(const char* name);
    ~AudioOutput();

    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Ready for a unit of `channels` channels and `unitBytes` bytes: opens
    // the output when the channel count differs from the one it was last
    // opened for (a stream never opened differs from every count). False
    // when there is no device or it refused the format; the stream then
    // stays silent until its channel count changes.
    bool prepare(int channels, int unitBytes);
    // Writes `size` bytes of samples. When the output's buffer is full it
    // waits for room, in short sleeps, until `giveUp` returns true or the
    // rest's playing time has passed.
    void write(const unsigned char* data, int size, const std::function<bool()>& giveUp);
    // Stops and deletes the output; the next prepare() opens a new one.
    void close();

    bool isReady() const { return m_ready; }

private:
    bool open(int channels, int unitBytes);

    const char* m_name;
    bool m_ready = false;
    QAudioFormat m_format;          // as recorded; sample rate 0 until first opened
    QAudioDevice m_device;
    QIODevice* m_sink = nullptr;    // owned by m_output
    QAudioSink* m_output = nullptr;
};
