// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFeed.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cmath>

#include "Log.h"
#include "RecordFileHeader.h"

namespace {

constexpr double kRate = AudioOutput::kRate;
constexpr double kMsPerFrame = 1000.0 / kRate;
// Decoded frames taken from a unit at a time (100 ms), fed to the stretcher
// at a time (20 ms), and kept ready for the device (100 ms).
constexpr int kSliceFrames = 4800;
constexpr int kStretchStep = 960;
constexpr int kReadyFrames = 4800;
// Unit headers read per pump at most, units waiting per stream at most,
// remembered unit positions per stream.
constexpr int kHeadersPerPump = 256;
constexpr size_t kMaxUnits = 256;
constexpr size_t kMaxKnown = 512;
// The stretcher takes this many channels at most.
constexpr int kStretchChannels = 16;

} // namespace

struct AudioFeed::Stream
{
    explicit Stream(const char* name) : output(name) {}

    AudioOutput output;
    std::deque<UnitRef> units;   // read ahead, not yet sliced
    std::deque<Known> known;     // where this stream's units lie, newest last
    SampleSlicer slicer;
    double sliceMedia = 0;       // media time of the slicer's next frame
    int sliceChannels = 0;

    // The run: decoded frames, contiguous in media time, flowing through
    // `input` (only while stretching) and the stretcher into `ready`, from
    // which the device is written.
    int channels = 0;            // 0: no run
    double runEnd = 0;           // media time after the last frame taken in
    std::vector<short> input;
    size_t inputPos = 0;         // samples of `input` already stretched
    std::unique_ptr<soundtouch::SoundTouch> stretcher;
    double stretchMedia = 0;     // media time of the stretcher's first frame
    qint64 stretchOut = 0;       // frames it gave out since
    bool stretchFlushed = false;
    std::vector<short> ready;
    size_t readyPos = 0;         // samples of `ready` already written
    double readyMedia = 0;       // media time of the frame at readyPos
    std::vector<float> floats;

    int readyFrames() const { return channels ? int((ready.size() - readyPos) / size_t(channels)) : 0; }
    int inputFrames() const { return channels ? int((input.size() - inputPos) / size_t(channels)) : 0; }
    bool stretcherHolds() const
    {
        return stretcher && (stretcher->numSamples() > 0 || stretcher->numUnprocessedSamples() > 0);
    }
};

AudioFeed::AudioFeed()
    : m_cap(std::make_unique<Stream>("Cap")), m_spk(std::make_unique<Stream>("Spk"))
{
    m_reader.setDevice(&m_file);
}

AudioFeed::~AudioFeed() = default;

AudioFeed::Stream& AudioFeed::stream(int kind)
{
    return kind == RecordUnitHeader::KIND_AUDIO_SPK ? *m_spk : *m_cap;
}

double AudioFeed::tempoFor(int speed, bool stretch)
{
    if (speed == 0 || speed == 1)
        return 1.0;
    if (!stretch)
        return 0;
    switch (speed) {
    case -2: return 0.5;
    case 2: return 2.0;
    case 3: return 3.0;
    default: return 0;
    }
}

double AudioFeed::msPerFrame() const
{
    return kMsPerFrame * m_tempo;
}

// ---------------------------------------------------------------------------
// Any thread, no output touched

bool AudioFeed::open(const QString& path)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        logDebug1("Audio reader cannot open the recording: %1",
                  m_file.errorString().toUtf8().constData());
        return false;
    }
    return true;
}

void AudioFeed::close()
{
    if (m_file.isOpen())
        m_file.close();
    m_readEnded = true;
    for (Stream* s : {m_cap.get(), m_spk.get()}) {
        resetPipeline(*s);
        s->known.clear();
    }
    m_flushPending = true;
}

void AudioFeed::setSpeed(int speed, bool stretch)
{
    m_nextTempo = tempoFor(speed, stretch);
}

void AudioFeed::remember(Stream& s, qint64 offset, quint64 time)
{
    // The newest few are where a repeated note would be.
    for (auto k = s.known.rbegin(); k != s.known.rend() && k - s.known.rbegin() < 8; ++k)
        if (k->offset == offset)
            return;
    s.known.push_back({offset, time});
    if (s.known.size() > kMaxKnown)
        s.known.pop_front();
}

void AudioFeed::noteUnit(int kind, qint64 offset, quint64 time)
{
    if (kind == RecordUnitHeader::KIND_AUDIO_CAP || kind == RecordUnitHeader::KIND_AUDIO_SPK)
        remember(stream(kind), offset, time);
}

void AudioFeed::restart(double mediaMs, qint64 offset)
{
    m_floor = std::max(0.0, mediaMs);
    qint64 start = offset;
    for (Stream* s : {m_cap.get(), m_spk.get()}) {
        // The stream's last unit that starts at or before the restart point
        // holds its first samples (unless a gap lies there).
        const Known* best = nullptr;
        for (const Known& k : s->known)
            if (double(k.time) <= m_floor && double(k.time) + kKnownReachMs >= m_floor
                && (!best || k.time > best->time || (k.time == best->time && k.offset < best->offset)))
                best = &k;
        if (best && (start < 0 || best->offset < start))
            start = best->offset;
        resetPipeline(*s);
    }
    m_readPos = std::max<qint64>(start, RecordReader::FIRST_UNIT_OFFSET);
    m_readTime = quint64(m_floor);
    m_readEnded = !m_file.isOpen();
    m_tempo = m_nextTempo;
    m_flushPending = true;
}

void AudioFeed::resetPipeline(Stream& s)
{
    s.units.clear();
    s.slicer.reset();
    s.channels = 0;
    s.input.clear();
    s.inputPos = 0;
    s.ready.clear();
    s.readyPos = 0;
    if (s.stretcher)
        s.stretcher->clear();
    s.stretchOut = 0;
    s.stretchFlushed = false;
}

// ---------------------------------------------------------------------------
// Player thread

void AudioFeed::silence()
{
    m_cap->output.flush();
    m_spk->output.flush();
    m_flushPending = false;
}

void AudioFeed::pause()
{
    m_cap->output.suspend();
    m_spk->output.suspend();
}

void AudioFeed::resume()
{
    m_cap->output.resume();
    m_spk->output.resume();
}

void AudioFeed::setVolume(double volume)
{
    m_cap->output.setVolume(volume);
    m_spk->output.setVolume(volume);
}

void AudioFeed::closeOutputs()
{
    m_cap->output.close();
    m_spk->output.close();
}

bool AudioFeed::heard(double& mediaMs)
{
    if (m_tempo <= 0)
        return false;
    return m_spk->output.heard(mediaMs) || m_cap->output.heard(mediaMs);
}

bool AudioFeed::pipelineEmpty(const Stream& s) const
{
    return s.slicer.done() && s.inputFrames() == 0 && s.readyFrames() == 0 && !s.stretcherHolds();
}

bool AudioFeed::drained()
{
    if (!m_readEnded && m_tempo > 0)
        return false;
    for (Stream* s : {m_cap.get(), m_spk.get()})
        if (!s->units.empty() || !pipelineEmpty(*s) || s->output.framesQueued() > 0)
            return false;
    return true;
}

void AudioFeed::pump(double clockMs)
{
    if (m_flushPending)
        silence();
    if (m_tempo <= 0 || !m_file.isOpen())
        return;
    readAhead(clockMs);
    for (Stream* s : {m_spk.get(), m_cap.get()}) {
        decode(*s, clockMs);
        if (m_tempo != 1.0)
            stretchInput(*s);
        write(*s, clockMs);
    }
}

void AudioFeed::readAhead(double clockMs)
{
    if (m_readEnded)
        return;
    const double horizon = std::max(clockMs, m_floor) + kReadAheadMs * std::max(1.0, m_tempo);
    RecordUnitHeader h;
    for (int i = 0; i < kHeadersPerPump; ++i) {
        RecordReader::Result r = RecordReader::End;
        try {
            // The slicer reads the same file: position it again each time.
            if (m_reader.seekUnit(m_readPos, m_readTime))
                r = m_reader.readUnitHeader(h);
        } catch (...) {
            r = RecordReader::End; // a read error: the sound ends there
        }
        if (r == RecordReader::Damaged && !m_reader.damage().toEnd) {
            // The picture's reader reports the stretch; the sound goes on
            // after it.
            m_readPos = m_reader.damage().to;
            m_readTime = m_reader.damage().timeBefore;
            continue;
        }
        if (r != RecordReader::Unit) {
            m_readEnded = true;
            return;
        }
        if (double(h.m_time) > horizon)
            return; // read again when its time comes near
        const int kind = h.kind();
        if (kind == RecordUnitHeader::KIND_AUDIO_CAP || kind == RecordUnitHeader::KIND_AUDIO_SPK) {
            Stream& s = stream(kind);
            if (s.units.size() >= kMaxUnits)
                return;
            remember(s, m_readPos, h.m_time);
            s.units.push_back({m_readPos + RecordUnitHeader::SIZE, h.m_size, h.m_time,
                               int(h.m_channels), h.isCompressed()});
        }
        m_readPos += RecordUnitHeader::SIZE + qint64(h.m_size);
        m_readTime = h.m_time;
    }
}

void AudioFeed::decode(Stream& s, double clockMs)
{
    const double ahead = std::max(clockMs, m_floor) + kDecodeAheadMs * m_tempo;
    for (int step = 0; step < 16; ++step) {
        if (s.channels && (s.runEnd >= ahead || s.inputFrames() + s.readyFrames() > 2 * int(kRate)))
            return;
        if (s.slicer.done()) {
            if (s.units.empty()) {
                // The last samples the stretcher holds come out when nothing
                // follows them.
                if (m_readEnded && s.stretcher && s.inputFrames() == 0 && !s.stretchFlushed
                    && s.stretcherHolds()) {
                    s.stretcher->flush();
                    s.stretchFlushed = true;
                }
                return;
            }
            const UnitRef& u = s.units.front();
            if (double(u.time) >= ahead)
                return;
            if (s.channels && (u.channels != s.channels || double(u.time) - s.runEnd > kGapFillMs)) {
                // A new run: the old one plays out first, the stretcher's
                // tail included.
                if (s.inputFrames() > 0)
                    return;
                if (s.stretcherHolds() && !s.stretchFlushed) {
                    s.stretcher->flush();
                    s.stretchFlushed = true;
                }
                if (s.stretcherHolds() || s.readyFrames() > 0)
                    return;
                s.channels = 0;
            }
            if (!s.output.prepare(u.channels)) {
                // No device, or it refused the format: nothing to read.
                s.units.pop_front();
                continue;
            }
            s.slicer.start(u.payload, qint64(u.stored), u.compressed, u.channels);
            s.sliceMedia = double(u.time);
            s.sliceChannels = u.channels;
            s.units.pop_front();
        }
        m_slice.clear();
        const int n = s.slicer.next(m_file, m_slice, kSliceFrames);
        if (n <= 0)
            continue;
        const double media = s.sliceMedia;
        s.sliceMedia += n * kMsPerFrame;
        append(s, m_slice.data(), n, s.sliceChannels, media);
    }
}

void AudioFeed::append(Stream& s, const short* frames, int count, int channels, double mediaMs)
{
    // Nothing before the restart point is played.
    if (mediaMs < m_floor) {
        const int skip = int(std::ceil((m_floor - mediaMs) / kMsPerFrame));
        if (skip >= count)
            return;
        frames += size_t(skip) * size_t(channels);
        count -= skip;
        mediaMs += skip * kMsPerFrame;
    }
    const bool stretching = m_tempo != 1.0;
    std::vector<short>& to = stretching ? s.input : s.ready;
    if (s.channels == 0) {
        if (!s.output.isReady() || (stretching && channels > kStretchChannels))
            return; // nothing to play it on: the stream is silent
        s.channels = channels;
        s.runEnd = mediaMs;
        if (stretching) {
            if (!s.stretcher)
                s.stretcher = std::make_unique<soundtouch::SoundTouch>();
            s.stretcher->clear();
            s.stretcher->setSampleRate(uint(kRate));
            s.stretcher->setChannels(uint(channels));
            s.stretcher->setTempo(m_tempo);
            s.stretcher->setSetting(SETTING_USE_QUICKSEEK, 1);
            s.stretchMedia = mediaMs;
            s.stretchOut = 0;
            s.stretchFlushed = false;
        }
    }
    if (!stretching && s.readyFrames() == 0) {
        // Written to its end: the buffer starts over.
        s.ready.clear();
        s.readyPos = 0;
    }
    const double gap = mediaMs - s.runEnd;
    if (gap >= kMsPerFrame) {
        // A short gap within the stream: silence keeps its clock going.
        to.insert(to.end(), size_t(std::lround(gap / kMsPerFrame)) * size_t(channels), 0);
    } else if (gap <= -kMsPerFrame) {
        // Overlapping units: what was already taken wins.
        const int drop = int(std::lround(-gap / kMsPerFrame));
        if (drop >= count)
            return;
        frames += size_t(drop) * size_t(channels);
        count -= drop;
        mediaMs += drop * kMsPerFrame;
    }
    to.insert(to.end(), frames, frames + size_t(count) * size_t(channels));
    s.runEnd = mediaMs + count * kMsPerFrame;
    if (!stretching)
        s.readyMedia = s.runEnd - s.readyFrames() * kMsPerFrame;
}

void AudioFeed::stretchInput(Stream& s)
{
    if (!s.stretcher || s.channels == 0)
        return;
    const size_t ch = size_t(s.channels);
    auto receive = [&] {
        for (;;) {
            s.floats.resize(4096 * ch);
            const uint got = s.stretcher->receiveSamples(s.floats.data(), 4096);
            if (got == 0)
                return;
            if (s.readyFrames() == 0) {
                s.ready.clear();
                s.readyPos = 0;
                s.readyMedia = s.stretchMedia + double(s.stretchOut) * kMsPerFrame * m_tempo;
            }
            const size_t at = s.ready.size();
            s.ready.resize(at + got * ch);
            for (size_t i = 0; i < got * ch; ++i)
                s.ready[at + i] = short(std::lround(std::clamp(s.floats[i], -32768.0f, 32767.0f)));
            s.stretchOut += got;
        }
    };
    receive();
    while (s.readyFrames() < kReadyFrames && s.inputFrames() > 0) {
        const int n = std::min(kStretchStep, s.inputFrames());
        s.floats.resize(size_t(n) * ch);
        for (size_t i = 0; i < size_t(n) * ch; ++i)
            s.floats[i] = float(s.input[s.inputPos + i]);
        s.inputPos += size_t(n) * ch;
        s.stretcher->putSamples(s.floats.data(), uint(n));
        receive();
    }
    if (s.inputPos > 0 && s.inputPos == s.input.size()) {
        s.input.clear();
        s.inputPos = 0;
    }
}

void AudioFeed::write(Stream& s, double clockMs)
{
    int avail = s.readyFrames();
    if (avail == 0 || !s.output.isReady())
        return;
    const size_t ch = size_t(s.channels);
    const double mpf = msPerFrame();
    auto consume = [&](int frames) {
        s.readyPos += size_t(frames) * ch;
        s.readyMedia += frames * mpf;
        avail -= frames;
    };
    auto silence = [&](double fromMs, int frames) {
        if (m_zeros.size() < size_t(frames) * ch)
            m_zeros.assign(size_t(frames) * ch, 0);
        return s.output.write(m_zeros.data(), frames, fromMs, mpf) == frames;
    };
    const double fill = kGapFillMs * m_tempo;
    if (s.output.framesQueued() == 0) {
        // Idle: what is written now is heard at about the clock's time.
        const double late = clockMs - s.readyMedia;
        if (late >= mpf) {
            consume(std::min(avail, int(late / mpf)));
            if (avail == 0)
                return;
        }
        const double gap = s.readyMedia - clockMs;
        if (gap > fill)
            return;
        if (gap >= mpf && !silence(clockMs, int(gap / mpf)))
            return;
    } else {
        const double end = s.output.writtenEnd();
        const double gap = s.readyMedia - end;
        if (gap <= -mpf) {
            consume(std::min(avail, int(std::lround(-gap / mpf))));
            if (avail == 0)
                return;
        } else if (gap > fill) {
            return; // what the output holds plays out first
        } else if (gap >= mpf && !silence(end, int(std::lround(gap / mpf)))) {
            return;
        }
    }
    while (avail > 0) {
        const int n = s.output.write(s.ready.data() + s.readyPos, avail, s.readyMedia, mpf);
        if (n <= 0)
            break;
        consume(n);
    }
    if (s.readyPos > (1u << 16) && s.readyPos * 2 > s.ready.size()) {
        s.ready.erase(s.ready.begin(), s.ready.begin() + long(s.readyPos));
        s.readyPos = 0;
    }
}
