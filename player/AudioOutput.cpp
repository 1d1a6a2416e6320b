#include "AudioOutput.h"

#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>

#include "Log.h"
#include "Thread.h"

AudioOutput::AudioOutput(const char* name) : m_name(name) {}

AudioOutput::~AudioOutput()
{
    close();
}

bool AudioOutput::prepare(int channels, int unitBytes)
{
    if (m_format.sampleRate() == 0 || channels != m_format.channelCount())
        m_ready = open(channels, unitBytes);
    return m_ready;
}

bool AudioOutput::open(int channels, int unitBytes)
{
    close();
    // The recorded format, kept for the channel-count comparison even when
    // the output cannot be opened.
    m_format = QAudioFormat();
    m_format.setSampleRate(kRate);
    m_format.setChannelCount(channels);
    m_format.setSampleFormat(QAudioFormat::Int16);

    m_device = QMediaDevices::defaultAudioOutput();
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

    m_output = new QAudioSink(m_device, used);
    // The output starts playing once its buffer is full, so the buffer is
    // also the sound's delay: room for two units, within the bounds.
    const qint64 minimum = used.bytesForDuration(qint64(kMinBufferMs) * 1000);
    const qint64 maximum = used.bytesForDuration(qint64(kMaxBufferMs) * 1000);
    m_output->setBufferSize(static_cast<qsizetype>(
        std::min(maximum, std::max(minimum, 2 * static_cast<qint64>(unitBytes)))));
    m_sink = m_output->start();
    const bool ok = m_sink && m_output->error() == QAudio::NoError;
    logDebug2("Audio output %1 opened: %2", m_name, ok ? "yes" : "no");
    if (!ok)
        m_sink = nullptr;
    return ok;
}

void AudioOutput::write(const unsigned char* data, int size, const std::function<bool()>& giveUp)
{
    if (!m_sink || !data || size <= 0)
        return;
    const char* p = reinterpret_cast<const char*>(data);
    qint64 written = std::max<qint64>(0, m_sink->write(p, size));
    if (written >= size)
        return;
    // The buffer is full: give it the rest as it drains, for at most as long
    // as that rest takes to play.
    const qint64 bytesPerMs = m_output->format().bytesForDuration(1000);
    const quint64 budget =
        (bytesPerMs > 0 ? static_cast<quint64>((size - written) / bytesPerMs) : 0) + 50;
    quint64 waited = 0;
    while (written < size && waited < budget && !(giveUp && giveUp())) {
        Thread::sleep(10);
        waited += 10;
        const qint64 n = m_sink->write(p + written, size - written);
        if (n > 0)
            written += n;
    }
    if (written < size)
        logDebug1("Audio: %1 bytes dropped", QByteArray::number(size - written).constData());
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
    m_format = QAudioFormat();
}
