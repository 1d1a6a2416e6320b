// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundProbe.h"

#include <QCoreApplication>
#include <QProcess>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

double monotonicMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

namespace {

// pactl with `args`; its standard output, or a null text on failure.
QString pactl(const QStringList& args, QString* error)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("pactl %1: %2")
                         .arg(args.join(' '), QString::fromLocal8Bit(p.readAllStandardError()));
        return QString();
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

} // namespace

NullSink::NullSink(const QString& prefix)
{
    static std::atomic<int> counter{0};
    m_name = QStringLiteral("%1_%2_%3").arg(prefix).arg(getpid()).arg(counter++);
    const QString id = pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                              QStringLiteral("sink_name=") + m_name},
                             &m_error);
    bool ok = false;
    const long module = id.toLong(&ok);
    if (!ok) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("pactl gave no module id");
        return;
    }
    m_module = module;
    m_oldSink = qgetenv("PULSE_SINK");
    qputenv("PULSE_SINK", m_name.toLocal8Bit());
}

NullSink::~NullSink()
{
    if (m_module < 0)
        return;
    if (m_oldSink.isEmpty())
        qunsetenv("PULSE_SINK");
    else
        qputenv("PULSE_SINK", m_oldSink);
    pactl({QStringLiteral("unload-module"), QString::number(m_module)}, nullptr);
}

// ---------------------------------------------------------------------------

bool MonitorCapture::start(const QString& sink, QString* error)
{
    int fds[2];
    if (pipe(fds) != 0) {
        *error = QStringLiteral("pipe failed");
        return false;
    }
    const QByteArray device = (sink + QStringLiteral(".monitor")).toLocal8Bit();
    const pid_t pid = fork();
    if (pid < 0) {
        *error = QStringLiteral("fork failed");
        close(fds[0]), close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]), close(fds[1]);
        execlp("parec", "parec", "-d", device.constData(), "--raw", "--format=s16le",
               "--rate=48000", "--channels=2", "--latency-msec=10", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    m_pid = pid;
    m_reader = std::thread([this, fd = fds[0]] { readLoop(fd); });
    return true;
}

void MonitorCapture::readLoop(int fd)
{
    std::vector<char> buffer(1 << 16);
    size_t carry = 0; // bytes of an incomplete frame kept from the last read
    for (;;) {
        const ssize_t n = read(fd, buffer.data() + carry, buffer.size() - carry);
        if (n <= 0)
            break;
        const double arrival = monotonicMs();
        const size_t have = carry + size_t(n);
        const size_t frames = have / 4;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < frames; ++i) {
            int16_t left;
            std::memcpy(&left, buffer.data() + 4 * i, 2);
            m_samples.push_back(left);
        }
        m_chunks.push_back({arrival, int64_t(m_samples.size())});
        carry = have - frames * 4;
        std::memmove(buffer.data(), buffer.data() + frames * 4, carry);
    }
    close(fd);
}

void MonitorCapture::stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_reader.joinable())
        m_reader.join();
}

int64_t MonitorCapture::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int64_t(m_samples.size());
}

bool MonitorCapture::waitFrames(int64_t count, int timeoutMs) const
{
    const double end = monotonicMs() + timeoutMs;
    while (frames() < count) {
        if (monotonicMs() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<int16_t> MonitorCapture::samples(int64_t from, int64_t to) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    from = std::clamp<int64_t>(from, 0, int64_t(m_samples.size()));
    to = std::clamp<int64_t>(to, from, int64_t(m_samples.size()));
    return std::vector<int16_t>(m_samples.begin() + from, m_samples.begin() + to);
}

double MonitorCapture::frameTime(int64_t frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_chunks.empty())
        return 0;
    // A chunk arrives some time after its last frame was played; the
    // shortest of those delays nearby is the truest.
    const auto own = std::upper_bound(m_chunks.begin(), m_chunks.end(), frame,
                                      [](int64_t f, const Chunk& c) { return f < c.end; });
    const int64_t window = kRate;
    double best = 1e300;
    for (auto c = own; c != m_chunks.end() && c->end <= frame + window; ++c)
        best = std::min(best, c->arrival - c->end * 1000.0 / kRate);
    for (auto c = own; c != m_chunks.begin() && (c - 1)->end >= frame - window;) {
        --c;
        best = std::min(best, c->arrival - c->end * 1000.0 / kRate);
    }
    if (best > 1e299)
        best = m_chunks.back().arrival - m_chunks.back().end * 1000.0 / kRate;
    return frame * 1000.0 / kRate + best - m_calibration;
}

int64_t MonitorCapture::frameAt(double ms) const
{
    int64_t lo = 0, hi = frames();
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (frameTime(mid) < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

bool MonitorCapture::calibrate(const QString& sink, QString* error)
{
    const int rate = kRate;
    pa_sample_spec sampleFormat;
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = rate;
    sampleFormat.channels = 2;
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(rate / 1000 * 4 * 5); // 5 ms
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    int err = 0;
    const QByteArray device = sink.toLocal8Bit();
    pa_simple* s = pa_simple_new(nullptr, "sound-probe", PA_STREAM_PLAYBACK, device.constData(),
                                 "calibration click", &sampleFormat, nullptr, &attr, &err);
    if (!s) {
        *error = QStringLiteral("calibration stream: %1").arg(QString::fromLocal8Bit(pa_strerror(err)));
        return false;
    }
    std::vector<int16_t> silence(size_t(rate / 100) * 2, 0); // 10 ms
    for (int i = 0; i < 30; ++i)
        pa_simple_write(s, silence.data(), silence.size() * 2, &err);
    const double before = monotonicMs();
    const pa_usec_t queued = pa_simple_get_latency(s, &err);
    const double expected = before + queued / 1000.0;
    std::vector<int16_t> click(silence.size(), 20000);
    pa_simple_write(s, click.data(), click.size() * 2, &err);
    for (int i = 0; i < 30; ++i)
        pa_simple_write(s, silence.data(), silence.size() * 2, &err);
    pa_simple_drain(s, &err);
    pa_simple_free(s);

    const double saved = m_calibration;
    m_calibration = 0;
    const int64_t from = frameAt(before - 200);
    const double deadline = monotonicMs() + 2000;
    while (monotonicMs() < deadline) {
        const std::vector<int16_t> heard = samples(from, frames());
        const std::vector<int64_t> onsets = soundOnsets(heard, from, 10000, 20);
        if (!onsets.empty()) {
            m_calibration = frameTime(onsets.front()) - expected;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_calibration = saved;
    *error = QStringLiteral("the calibration click was not heard");
    return false;
}

// ---------------------------------------------------------------------------

std::vector<int64_t> soundOnsets(const std::vector<int16_t>& samples, int64_t first,
                                 int threshold, int quietMs)
{
    std::vector<int64_t> onsets;
    const int64_t quietFrames = int64_t(quietMs) * MonitorCapture::kRate / 1000;
    int64_t quiet = quietFrames; // the start counts as quiet
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) > threshold) {
            if (quiet >= quietFrames)
                onsets.push_back(first + int64_t(i));
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}

int64_t lastLoud(const std::vector<int16_t>& samples, int64_t first, int threshold)
{
    for (size_t i = samples.size(); i > 0; --i)
        if (std::abs(int(samples[i - 1])) > threshold)
            return first + int64_t(i - 1);
    return -1;
}

int64_t longestQuiet(const std::vector<int16_t>& samples, int threshold)
{
    int64_t run = 0, longest = 0;
    for (int16_t s : samples) {
        run = std::abs(int(s)) <= threshold ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

int peak(const std::vector<int16_t>& samples)
{
    int p = 0;
    for (int16_t s : samples)
        p = std::max(p, std::abs(int(s)));
    return p;
}

double toneFrequency(const std::vector<int16_t>& samples)
{
    // Upward zero crossings, interpolated between samples.
    double firstCross = -1, lastCross = -1;
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            const double at = double(i - 1) + double(-samples[i - 1]) / double(samples[i] - samples[i - 1]);
            if (firstCross < 0)
                firstCross = at;
            lastCross = at;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * double(MonitorCapture::kRate) / (lastCross - firstCross);
}

std::vector<double> pairOffsets(const std::vector<double>& pictures,
                                const std::vector<double>& sounds, double windowMs,
                                int* unmatched)
{
    std::vector<double> offsets;
    int missing = 0;
    for (double p : pictures) {
        double best = 1e300;
        for (double s : sounds)
            if (std::fabs(s - p) < std::fabs(best))
                best = s - p;
        if (std::fabs(best) <= windowMs)
            offsets.push_back(best);
        else
            ++missing;
    }
    if (unmatched)
        *unmatched = missing;
    return offsets;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
