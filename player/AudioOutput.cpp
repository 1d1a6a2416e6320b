// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioOutput.h"

#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>

#include "Log.h"

AudioOutput::AudioOutput(const char* name) : m_name(name) {}

AudioOutput::~AudioOutput()
{
    close();
}

bool AudioOutput::prepare(int channels)
{
    if (m_format.sampleRate() == 0 || channels != m_format.channelCount())
        m_ready = open(channels);
    return m_ready;
}

QAudioDevice AudioOutput::outputDevice()
{
    // PULSE_SINK names the sink a PulseAudio client plays to; Qt's sink
    // opens the device it is given (the server's default) and would not
    // honour it, so it is looked up here.
    const QByteArray wanted = qgetenv("PULSE_SINK");
    if (!wanted.isEmpty())
        for (const QAudioDevice& device : QMediaDevices::audioOutputs())
            if (device.id() == wanted)
                return device;
    return QMediaDevices::defaultAudioOutput();
}

bool AudioOutput::open(int channels)
{
    close();
    // The recorded format, kept for the channel-count comparison even when
    // the output cannot be opened.
    m_format = QAudioFormat();
    m_format.setSampleRate(kRate);
    m_format.setChannelCount(channels);
    m_format.setSampleFormat(QAudioFormat::Int16);

    m_device = outputDevice();
    if (m_device.isNull() || channels <= 0 || channels > 32) {
        logDebug2("Audio output %1 opened: %2", m_name, "no");
        return false;
    }
    QAudioFormat used = m_format;
    if (!m_device.isFormatSupported(used)) {
        // Keep the recorded rate and channel count where the device takes
        // them; the samples are written as recorded either way.
        const QAudioFormat preferred = m_device.preferredFormat();
        if (channels < m_device.minimumChannelCount() || channels > m_device.maximumChannelCount())
            used.setChannelCount(preferred.channelCount());
        if (kRate < m_device.minimumSampleRate() || kRate > m_device.maximumSampleRate())
            used.setSampleRate(preferred.sampleRate());
        if (!m_device.supportedSampleFormats().contains(QAudioFormat::Int16))
            used.setSampleFormat(preferred.sampleFormat());
    }
    m_bytesPerFrame = 2 * channels;

    m_output = new QAudioSink(m_device, used);
    m_output->setBufferSize(static_cast<qsizetype>(used.bytesForDuration(qint64(kBufferMs) * 1000)));
    m_output->setVolume(m_volume);
    m_sink = m_output->start();
    const bool ok = m_sink && m_output->error() == QAudio::NoError;
    logDebug2("Audio output %1 opened: %2", m_name, ok ? "yes" : "no");
    if (!ok)
        m_sink = nullptr;
    m_written = 0;
    m_segments.clear();
    m_suspended = false;
    return ok;
}

int AudioOutput::framesFree() const
{
    if (!m_sink || m_suspended || m_bytesPerFrame <= 0)
        return 0;
    return static_cast<int>(std::max<qsizetype>(0, m_output->bytesFree()) / m_bytesPerFrame);
}

int AudioOutput::write(const short* samples, int frames, double mediaMs, double msPerFrame)
{
    const int n = std::min(frames, framesFree());
    if (n <= 0 || !samples)
        return 0;
    const qint64 took =
        m_sink->write(reinterpret_cast<const char*>(samples), qint64(n) * m_bytesPerFrame);
    // The free space was just asked for, so the sink takes whole frames.
    const qint64 wrote = std::max<qint64>(0, took) / m_bytesPerFrame;
    if (wrote <= 0)
        return 0;
    Segment* last = m_segments.empty() ? nullptr : &m_segments.back();
    const double lastEnd = last ? last->mediaMs + last->frames * last->msPerFrame : 0;
    if (last && last->msPerFrame == msPerFrame && std::abs(lastEnd - mediaMs) < 0.01)
        last->frames += wrote;
    else
        m_segments.push_back({m_written, wrote, mediaMs, msPerFrame});
    m_written += wrote;
    m_writtenEnd = mediaMs + wrote * msPerFrame;
    return static_cast<int>(wrote);
}

qint64 AudioOutput::framesHeard() const
{
    if (!m_output)
        return 0;
    return std::min(m_written, m_output->processedUSecs() * kRate / 1000000);
}

qint64 AudioOutput::framesQueued() const
{
    return m_written - framesHeard();
}

bool AudioOutput::heard(double& mediaMs)
{
    const qint64 heard = framesHeard();
    if (m_segments.empty() || heard >= m_written)
        return false;
    // The segment being played: the last one that starts at or before it.
    auto s = std::upper_bound(m_segments.begin(), m_segments.end(), heard,
                              [](qint64 f, const Segment& seg) { return f < seg.firstFrame; });
    if (s == m_segments.begin())
        return false;
    --s;
    mediaMs = s->mediaMs + double(heard - s->firstFrame) * s->msPerFrame;
    // Segments played to their end are not needed any more.
    while (m_segments.size() > 1 && m_segments[1].firstFrame <= heard)
        m_segments.pop_front();
    return true;
}

void AudioOutput::suspend()
{
    if (m_output && !m_suspended) {
        m_output->suspend();
        m_suspended = true;
    }
}

void AudioOutput::resume()
{
    if (m_output && m_suspended) {
        m_output->resume();
        m_suspended = false;
    }
}

void AudioOutput::flush()
{
    m_written = 0;
    m_segments.clear();
    m_suspended = false;
    if (!m_output || !m_ready)
        return;
    // reset() drops what the device holds at once (stop() would too);
    // start() gives a new stream whose played position counts from zero.
    m_output->reset();
    m_sink = m_output->start();
    m_output->setVolume(m_volume);
    if (!m_sink || m_output->error() != QAudio::NoError) {
        logDebug1("Audio output %1 lost", m_name);
        m_sink = nullptr;
    }
}

void AudioOutput::setVolume(double volume)
{
    m_volume = std::clamp(volume, 0.0, 1.0);
    if (m_output)
        m_output->setVolume(m_volume);
}

void AudioOutput::close()
{
    if (m_output) {
        m_output->stop();
        delete m_output;
        m_output = nullptr;
    }
    m_sink = nullptr;
    m_ready = false;
    m_suspended = false;
    m_format = QAudioFormat();
    m_written = 0;
    m_segments.clear();
}
