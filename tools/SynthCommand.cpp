// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool synth: writes a demo recording of a desktop session.

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "CursorShapes.h"
#include "DemoScene.h"
#include "Exception.h"
#include "RecordingWriter.h"
#include "SessionTool.h"
#include "VideoFrame.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool synth -o FILE [--seconds N] [--size WxH] [--seed N] [--audio]\n"
    "                         [--compress]\n"
    "\n"
    "Writes a demo recording: a desktop with an editor in which notes are typed,\n"
    "a document that is scrolled, a photo viewer (photographic content, stored\n"
    "as JPEG boxes) whose window is dragged, a taskbar clock, a moving pointer\n"
    "with several shapes and a three-second pause. The story takes a minute;\n"
    "shorter recordings tell it faster, longer ones repeat it. The same\n"
    "arguments always give the same file.\n"
    "\n"
    "Options:\n"
    "  -o FILE        the recording to write\n"
    "  --seconds N    its length in seconds (default 60)\n"
    "  --size WxH     the screen size (default 1280x800)\n"
    "  --seed N       varies the text, the pictures and the typing (default 1)\n"
    "  --audio        add a tone on the \"Cap\" stream (stereo) and speech-like\n"
    "                 sound on the \"Spk\" stream (mono), 48 kHz\n"
    "  --compress     store every unit compressed\n"
    "  --help         show this text\n";

constexpr uint64_t kTick = 50;         // pointer positions, 20 per second
constexpr uint64_t kFrameTick = 100;   // screen updates, at most 10 per second
constexpr int kRate = 48000;
constexpr int kAudioFrames = kRate * static_cast<int>(kFrameTick) / 1000;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2 * kPi;

const uint32_t kCursorIds[DemoScene::SHAPES] = {0x00010011, 0x00010012, 0x00010013, 0x00010014};

struct Shape
{
    QImage image;
    int hotX;
    int hotY;
};

// A two-pole resonator, the formant filter of the speech-like sound.
class Resonator
{
public:
    void tune(double frequency, double bandwidth)
    {
        const double r = std::exp(-kPi * bandwidth / kRate);
        m_a1 = 2 * r * std::cos(kTwoPi * frequency / kRate);
        m_a2 = -r * r;
        m_gain = 1 - r;
    }
    double step(double x)
    {
        const double y = m_gain * x + m_a1 * m_y1 + m_a2 * m_y2;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

private:
    double m_a1 = 0, m_a2 = 0, m_gain = 0, m_y1 = 0, m_y2 = 0;
};

// The two audio streams: a steady 440 Hz tone, and a voice-like sound made of
// syllables (a pulse train at a gliding pitch through two formants, with
// some breath noise) grouped into phrases with pauses between them.
class AudioSynth
{
public:
    explicit AudioSynth(uint64_t seed) : m_state(seed * 2654435761ULL + 17) { nextPhrase(); }

    void tone(std::vector<int16_t>& out, int frames)
    {
        out.resize(static_cast<size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i) {
            const double fade = std::min(1.0, m_toneSamples / (0.02 * kRate));
            const double v = 0.18 * fade * std::sin(m_tonePhase);
            m_tonePhase = std::fmod(m_tonePhase + kTwoPi * 440.0 / kRate, kTwoPi);
            ++m_toneSamples;
            const int16_t s = static_cast<int16_t>(std::lround(v * 32767));
            out[2 * i] = s;
            out[2 * i + 1] = s;
        }
    }

    void voice(std::vector<int16_t>& out, int frames)
    {
        out.resize(static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i)
            out[i] = static_cast<int16_t>(std::lround(std::clamp(sample(), -1.0, 1.0) * 32767));
    }

private:
    double unit() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
    uint64_t next()
    {
        uint64_t x = (m_state += 0x9E3779B97F4A7C15ULL);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        return x ^ (x >> 31);
    }

    void nextPhrase()
    {
        m_phraseLeft = static_cast<int>((1.2 + 2.8 * unit()) * kRate);
        m_phraseLength = m_phraseLeft;
        m_gapLeft = static_cast<int>((0.35 + 0.9 * unit()) * kRate);
        m_pitch = 105 + 60 * unit();
        nextSyllable();
    }

    void nextSyllable()
    {
        m_syllableLength = static_cast<int>((0.11 + 0.16 * unit()) * kRate);
        m_syllablePos = 0;
        m_voiced = unit() < 0.8;
        static const double vowels[][2] = {{730, 1090}, {530, 1840}, {270, 2290}, {570, 840},
                                           {300, 870}, {660, 1720}, {490, 1350}};
        const int v = static_cast<int>(unit() * 7) % 7;
        m_f1.tune(vowels[v][0] * (0.9 + 0.2 * unit()), 90);
        m_f2.tune(vowels[v][1] * (0.9 + 0.2 * unit()), 120);
        m_loudness = 0.6 + 0.4 * unit();
    }

    double sample()
    {
        if (m_phraseLeft <= 0) {
            if (m_gapLeft-- > 0)
                return 0.3 * (m_f1.step(0) + m_f2.step(0)); // let the filters ring out
            nextPhrase();
        }
        --m_phraseLeft;
        if (++m_syllablePos >= m_syllableLength)
            nextSyllable();
        const double p = double(m_syllablePos) / m_syllableLength;
        const double envelope = std::pow(std::sin(p * kPi), 0.7) * m_loudness;
        // Pitch falls a little over the phrase and wavers.
        const double progress = 1.0 - double(m_phraseLeft) / m_phraseLength;
        const double f0 = m_pitch * (1.0 - 0.18 * progress) * (1 + 0.015 * std::sin(m_vibrato));
        m_vibrato += kTwoPi * 5.5 / kRate;
        m_glottal += f0 / kRate;
        if (m_glottal >= 1)
            m_glottal -= 1;
        double source = m_glottal < 0.4 ? std::pow(std::sin(m_glottal / 0.4 * kPi), 2)
                                        : 0.0;
        source = m_voiced ? source - 0.2 : 0.0;
        const double noise = unit() * 2 - 1;
        const double breath = (noise - m_lastNoise) * (m_voiced ? 0.05 : 0.35);
        m_lastNoise = noise;
        const double shaped = m_f1.step(source + breath) * 2.2 + m_f2.step(source + breath) * 1.4;
        // A soft limit keeps the peaks of the resonances from clipping.
        return 0.6 * std::tanh(shaped * envelope * 0.08 / 0.6);
    }

    uint64_t m_state;
    double m_tonePhase = 0;
    uint64_t m_toneSamples = 0;
    int m_phraseLeft = 0, m_phraseLength = 1, m_gapLeft = 0;
    int m_syllableLength = 1, m_syllablePos = 0;
    bool m_voiced = true;
    double m_pitch = 120, m_loudness = 1, m_vibrato = 0, m_glottal = 0, m_lastNoise = 0;
    Resonator m_f1, m_f2;
};

Shape shapeImage(DemoScene::Shape shape)
{
    switch (shape) {
    case DemoScene::BEAM:
        return {CursorShapes::textBeam(), 4, 8};
    case DemoScene::HAND:
        return {CursorShapes::hand(), 5, 0};
    case DemoScene::MOVE:
        return {CursorShapes::moveCross(), 8, 8};
    default:
        return {CursorShapes::arrow(), 0, 0};
    }
}

struct Options
{
    QString path;
    uint64_t seconds = 60;
    int width = 1280;
    int height = 800;
    uint64_t seed = 1;
    bool audio = false;
    bool compress = false;
};

// Writes the recording; throws what the writer throws.
void write(const Options& o, bool progress)
{
    const uint64_t duration = o.seconds * 1000;
    DemoScene scene(o.width, o.height, duration, o.seed);
    AudioSynth audio(o.seed);

    RecordingWriter writer;
    writer.setCompression(o.compress);
    writer.setJpegQuality(75);
    const QByteArray sessionId = QByteArray::number(100000000 + o.seed * 7919 % 900000000);
    writer.open(o.path, sessionId);
    writer.writeInfo(0, QByteArrayLiteral("demo session; presenter: Ana; ") + "seed "
                            + QByteArray::number(static_cast<qulonglong>(o.seed)));

    VideoFrame frame;
    bool haveFrame = false;
    uint64_t lastSignature = 0;
    bool pausedBefore = false;
    bool resumed = false;
    bool cursorSent[DemoScene::SHAPES] = {};
    DemoScene::Pointer lastPointer{-1, -1, DemoScene::ARROW};
    std::vector<int16_t> samples;
    uint64_t lastReport = ~uint64_t(0);

    for (uint64_t t = 0; t < duration; t += kTick) {
        if (progress && t / 1000 != lastReport) {
            lastReport = t / 1000;
            std::fprintf(stderr, "\rsynth: %llu of %llu s", static_cast<unsigned long long>(lastReport),
                         static_cast<unsigned long long>(o.seconds));
            std::fflush(stderr);
        }
        // The presenter's pause: one pause message, then nothing at all.
        if (scene.isPaused(t)) {
            if (!pausedBefore)
                writer.writePause(t);
            pausedBefore = true;
            continue;
        }
        if (pausedBefore) {
            pausedBefore = false;
            resumed = true;
        }

        if (t % kFrameTick == 0) {
            const uint64_t signature = scene.signature(t);
            if (!haveFrame || resumed || signature != lastSignature) {
                scene.render(t, frame);
                // The first frame after a pause resets the view, which drops
                // the "PAUSE" text and the cached cursors.
                writer.writeScreenFrame(t, frame, resumed ? 0xEB : 0xED);
                if (resumed) {
                    for (bool& sent : cursorSent)
                        sent = false;
                    lastPointer.x = -1;
                }
                resumed = false;
                haveFrame = true;
                lastSignature = signature;
            }
        }

        const DemoScene::Pointer p = scene.pointer(t);
        if (p.x != lastPointer.x || p.y != lastPointer.y || p.shape != lastPointer.shape) {
            if (!cursorSent[p.shape]) {
                const Shape s = shapeImage(p.shape);
                writer.writeCursor(t, kCursorIds[p.shape], s.image, s.hotX, s.hotY);
                cursorSent[p.shape] = true;
            }
            writer.writeMousePos(t, p.x, p.y, kCursorIds[p.shape]);
            lastPointer = p;
        }

        if (o.audio && t % kFrameTick == 0) {
            audio.tone(samples, kAudioFrames);
            writer.writeAudio(t, RecordingWriter::CAP, samples.data(), kAudioFrames, 2);
            audio.voice(samples, kAudioFrames);
            writer.writeAudio(t, RecordingWriter::SPK, samples.data(), kAudioFrames, 1);
        }
    }
    writer.finish(static_cast<long long>(duration));
    if (progress) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

} // namespace

namespace SessionTool {

int synth(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption out(QStringLiteral("o"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QString(), QStringLiteral("N"));
    const QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
    const QCommandLineOption seed(QStringLiteral("seed"), QString(), QStringLiteral("N"));
    const QCommandLineOption audio(QStringLiteral("audio"));
    const QCommandLineOption compress(QStringLiteral("compress"));
    parser.addOptions({out, seconds, size, seed, audio, compress});
    if (const int status = parseCommand(parser, "synth", kHelp, args); status >= 0)
        return status;
    if (!parser.isSet(out) || !parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("synth takes -o FILE and options only (try 'sessiontool synth "
                                  "--help')"));
        return ExitUsage;
    }

    Options o;
    o.path = parser.value(out);
    o.audio = parser.isSet(audio);
    o.compress = parser.isSet(compress);
    bool ok = true;
    if (parser.isSet(seconds)) {
        o.seconds = parser.value(seconds).toULongLong(&ok);
        if (!ok || o.seconds < 1 || o.seconds > 24 * 3600) {
            printError(QStringLiteral("--seconds wants a whole number from 1 to 86400, not '%1'")
                           .arg(parser.value(seconds)));
            return ExitUsage;
        }
    }
    if (parser.isSet(size)) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$")).match(parser.value(size));
        o.width = m.hasMatch() ? m.captured(1).toInt() : 0;
        o.height = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (o.width < 320 || o.height < 200 || o.width > 7680 || o.height > 4320) {
            printError(QStringLiteral("--size wants WxH from 320x200 to 7680x4320, not '%1'")
                           .arg(parser.value(size)));
            return ExitUsage;
        }
    }
    if (parser.isSet(seed)) {
        o.seed = parser.value(seed).toULongLong(&ok);
        if (!ok) {
            printError(QStringLiteral("--seed wants a whole number, not '%1'").arg(parser.value(seed)));
            return ExitUsage;
        }
    }

    try {
        write(o, isatty(STDERR_FILENO) == 1);
    } catch (const Exception& e) {
        printError(QStringLiteral("%1: %2").arg(o.path, describe(e)));
        return ExitFailed;
    }
    printOut(QStringLiteral("%1: %2 s, %3 x %4, %5 bytes\n")
                 .arg(o.path)
                 .arg(o.seconds)
                 .arg(o.width)
                 .arg(o.height)
                 .arg(QFileInfo(o.path).size()));
    return ExitOk;
}

} // namespace SessionTool
