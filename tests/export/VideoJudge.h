// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The judge of what an export wrote: Debian's ffprobe and ffmpeg, never our
// own code. ffprobe names the streams, codecs, durations and picture times;
// ffmpeg decodes the pictures (as BGRA, the layout of our screens) and the
// sound (48 kHz signed 16-bit stereo).

#include <QByteArray>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace VideoJudge {

inline QByteArray run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(300000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

struct Stream
{
    QString type;   // "video", "audio"
    QString codec;  // "h264", "aac", "vp9", "opus"
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
};

struct Probe
{
    bool ok = false;
    QString format;          // ffprobe's format_name
    double duration = 0;     // s
    std::vector<Stream> streams;
};

inline Probe probe(const QString& path)
{
    int code = -1;
    const QByteArray json = run(QStringLiteral("ffprobe"),
                                {"-v", "error", "-show_streams", "-show_format", "-of", "json", path},
                                &code);
    Probe p;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    p.ok = code == 0 && !root.isEmpty();
    p.format = root.value("format").toObject().value("format_name").toString();
    p.duration = root.value("format").toObject().value("duration").toString().toDouble();
    for (const QJsonValue& v : root.value("streams").toArray()) {
        const QJsonObject s = v.toObject();
        Stream st;
        st.type = s.value("codec_type").toString();
        st.codec = s.value("codec_name").toString();
        st.width = s.value("width").toInt();
        st.height = s.value("height").toInt();
        st.sampleRate = s.value("sample_rate").toString().toInt();
        st.channels = s.value("channels").toInt();
        p.streams.push_back(st);
    }
    return p;
}

// The presentation times of the video's pictures, in s, in order.
inline std::vector<double> pictureTimes(const QString& path)
{
    const QByteArray out = run(QStringLiteral("ffprobe"),
                               {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                "frame=best_effort_timestamp_time", "-of", "csv=p=0", path});
    std::vector<double> times;
    for (const QByteArray& line : out.split('\n')) {
        const QByteArray t = line.trimmed().split(',').value(0);
        if (!t.isEmpty())
            times.push_back(t.toDouble());
    }
    return times;
}

// Every picture of the video, decoded at its own size, in order.
inline std::vector<QImage> pictures(const QString& path, int width, int height)
{
    const QByteArray raw = run(QStringLiteral("ffmpeg"),
                               {"-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode",
                                "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
    const qsizetype size = qsizetype(width) * height * 4;
    std::vector<QImage> images;
    for (qsizetype at = 0; size > 0 && at + size <= raw.size(); at += size) {
        QImage image(reinterpret_cast<const uchar*>(raw.constData() + at), width, height,
                     width * 4, QImage::Format_ARGB32);
        images.push_back(image.convertToFormat(QImage::Format_RGB32));
    }
    return images;
}

// The sound, as 48 kHz interleaved stereo samples.
inline std::vector<int16_t> sound(const QString& path)
{
    const QByteArray raw = run(QStringLiteral("ffmpeg"),
                               {"-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le", "-ac",
                                "2", "-ar", "48000", "-"});
    std::vector<int16_t> samples(static_cast<size_t>(raw.size()) / 2);
    std::memcpy(samples.data(), raw.constData(), samples.size() * 2);
    return samples;
}

// Peak signal-to-noise ratio of two pictures of one size, in dB (99 for
// identical pictures), on the luma (BT.601 weights) as video quality is
// usually judged, or over R, G and B. The RGB figure is bounded by the
// 4:2:0 chroma of ordinary video: about 34 dB on small coloured text, at any
// quality.
inline double psnr(const QImage& a, const QImage& b, bool rgb = false)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const double dr = qRed(pa[x]) - qRed(pb[x]);
            const double dg = qGreen(pa[x]) - qGreen(pb[x]);
            const double db = qBlue(pa[x]) - qBlue(pb[x]);
            if (rgb) {
                sum += (dr * dr + dg * dg + db * db) / 3;
            } else {
                const double dy = 0.299 * dr + 0.587 * dg + 0.114 * db;
                sum += dy * dy;
            }
        }
    }
    const double mse = sum / (double(a.width()) * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The power of `frequency` (Hz) in `count` frames of one channel from
// `start` (Goertzel), normalised to 1 for a full-scale sine.
inline double tonePower(const std::vector<int16_t>& stereo, int channel, size_t start, size_t count,
                        double frequency)
{
    const double w = 2 * M_PI * frequency / 48000;
    const double c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = start; i < start + count && 2 * i + channel < stereo.size(); ++i) {
        const double s0 = stereo[2 * i + channel] / 32768.0 + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return power / (count * count / 4.0);
}

} // namespace VideoJudge
