// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool export: a recording, or a range of it, as an MP4 or WebM video
// with its sound.

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "ClipExporter.h"
#include "MediaWriter.h"
#include "SessionTool.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool export FILE -o OUT.mp4|OUT.webm [--from SECONDS] [--to SECONDS]\n"
    "                          [--fps N] [--height N | --size WxH] [--no-cursor]\n"
    "                          [--no-sound] [--crf N]\n"
    "\n"
    "Writes the recording, or the range --from to --to of it, as an ordinary\n"
    "video with its sound: H.264 and AAC in MP4, or VP9 and Opus in WebM when\n"
    "OUT ends in .webm. The picture is the player's, pointer included; a frame\n"
    "is written only when it changed, at most --fps a second, so still parts\n"
    "cost next to nothing. Both audio streams are mixed into one stereo track.\n"
    "The range starts at the exact picture of --from (through the index when\n"
    "the recording has one). The video is written beside OUT under a hidden\n"
    "name and renamed once complete: Control+C, a crash or a full disk never\n"
    "leave a half-written OUT. Damaged parts are passed over and named.\n"
    "\n"
    "Options:\n"
    "  -o OUT         the video to write (.mp4 or .webm)\n"
    "  --from SECONDS start of the range (default 0; fractions allowed)\n"
    "  --to SECONDS   end of the range (default: the end of the recording)\n"
    "  --fps N        the most frames a second (default 15)\n"
    "  --height N     scale to N lines, the width following the aspect\n"
    "  --size WxH     scale to fit W x H, with black bars where the aspect\n"
    "                 differs (sizes are rounded down to even numbers)\n"
    "  --no-cursor    leave the mouse pointer out\n"
    "  --no-sound     leave the sound out\n"
    "  --crf N        quality, lower is better (default 23 for MP4, 32 for\n"
    "                 WebM; 18 is close to lossless to the eye)\n"
    "  --help         show this text\n";

std::atomic<bool> g_cancel{false};

extern "C" void onCancelSignal(int)
{
    g_cancel.store(true);
}

bool parseSeconds(const QString& text, quint64& ms)
{
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || !std::isfinite(s) || s < 0 || s > 1e9)
        return false;
    ms = static_cast<quint64>(std::llround(s * 1000.0));
    return true;
}

bool parseInt(const QString& text, int low, int high, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= low && value <= high;
}

QString shortTime(double seconds)
{
    const long long s = std::llround(std::max(0.0, seconds));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// The progress line on a terminal: per cent, media time, speed as a
// multiple of real time and the time left; redrawn at most 5 times a second.
class ProgressLine
{
public:
    explicit ProgressLine(bool terminal) : m_terminal(terminal) { m_clock.start(); }

    void update(quint64 done, quint64 total, bool force = false)
    {
        if (!m_terminal || (!force && m_clock.elapsed() - m_shown < 200))
            return;
        m_shown = m_clock.elapsed();
        const double wall = std::max(0.001, m_clock.elapsed() / 1000.0);
        const double speed = done / 1000.0 / wall;
        const double left = speed > 0 ? (total - done) / 1000.0 / speed : 0;
        const QString line = QStringLiteral("\r%1%  %2 of %3  %4\u00d7 real time  %5 left ")
                                 .arg(total ? static_cast<int>(done * 100 / total) : 100, 3)
                                 .arg(shortTime(done / 1000.0), shortTime(total / 1000.0))
                                 .arg(speed, 0, 'f', 1)
                                 .arg(shortTime(left));
        std::fputs(line.toUtf8().constData(), stderr);
        std::fflush(stderr);
        m_open = true;
    }
    // Ends the line so that what follows starts on its own.
    void end()
    {
        if (m_open)
            std::fputs("\n", stderr);
        m_open = false;
    }

private:
    bool m_terminal;
    bool m_open = false;
    QElapsedTimer m_clock;
    qint64 m_shown = -1000;
};

} // namespace

namespace SessionTool {

int exportVideo(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption out(QStringLiteral("o"), QString(), QStringLiteral("OUT"));
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption fps(QStringLiteral("fps"), QString(), QStringLiteral("N"));
    const QCommandLineOption height(QStringLiteral("height"), QString(), QStringLiteral("N"));
    const QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
    const QCommandLineOption noCursor(QStringLiteral("no-cursor"));
    const QCommandLineOption noSound(QStringLiteral("no-sound"));
    const QCommandLineOption crf(QStringLiteral("crf"), QString(), QStringLiteral("N"));
    parser.addOptions({out, from, to, fps, height, size, noCursor, noSound, crf});
    if (const int status = parseCommand(parser, "export", kHelp, args); status >= 0)
        return status;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(out)) {
        printError(QStringLiteral("export takes FILE and -o OUT.mp4 or -o OUT.webm (try "
                                  "'sessiontool export --help')"));
        return ExitUsage;
    }

    ExportSettings settings;
    settings.recording = parser.positionalArguments().first();
    settings.output = parser.value(out);
    settings.cursor = !parser.isSet(noCursor);
    settings.sound = !parser.isSet(noSound);
    if (parser.isSet(from) && !parseSeconds(parser.value(from), settings.fromMs)) {
        printError(QStringLiteral("--from wants a number of seconds, not '%1'").arg(parser.value(from)));
        return ExitUsage;
    }
    if (parser.isSet(to) && (!parseSeconds(parser.value(to), settings.toMs) || settings.toMs == 0)) {
        printError(QStringLiteral("--to wants a number of seconds above 0, not '%1'").arg(parser.value(to)));
        return ExitUsage;
    }
    if (parser.isSet(fps) && !parseInt(parser.value(fps), 1, ExportSettings::kMaxFps, settings.fps)) {
        printError(QStringLiteral("--fps wants a whole number from 1 to %1, not '%2'")
                       .arg(ExportSettings::kMaxFps).arg(parser.value(fps)));
        return ExitUsage;
    }
    if (parser.isSet(height) && parser.isSet(size)) {
        printError(QStringLiteral("--height and --size cannot go together"));
        return ExitUsage;
    }
    if (parser.isSet(height) && !parseInt(parser.value(height), ExportSettings::kMinSide,
                                          ExportSettings::kMaxSide, settings.height)) {
        printError(QStringLiteral("--height wants a whole number from %1 to %2, not '%3'")
                       .arg(ExportSettings::kMinSide).arg(ExportSettings::kMaxSide)
                       .arg(parser.value(height)));
        return ExitUsage;
    }
    if (parser.isSet(size)) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$")).match(parser.value(size));
        const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
        const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (w < ExportSettings::kMinSide || h < ExportSettings::kMinSide
            || w > ExportSettings::kMaxSide || h > ExportSettings::kMaxSide) {
            printError(QStringLiteral("--size wants WxH, each from %1 to %2, not '%3'")
                           .arg(ExportSettings::kMinSide).arg(ExportSettings::kMaxSide)
                           .arg(parser.value(size)));
            return ExitUsage;
        }
        settings.size = QSize(w, h);
    }
    if (parser.isSet(crf) && !parseInt(parser.value(crf), 0, 63, settings.crf)) {
        printError(QStringLiteral("--crf wants a whole number from 0 to 63, not '%1'").arg(parser.value(crf)));
        return ExitUsage;
    }

    // Control+C (and a polite kill) cancel: the part file goes, nothing else
    // is written.
    struct sigaction action = {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    ProgressLine progress(isatty(STDERR_FILENO) == 1);
    ClipExporter exporter(settings);
    exporter.setCancelFlag(&g_cancel);
    exporter.setProgress([&progress](quint64 done, quint64 total) { progress.update(done, total); });
    exporter.setNotice([&progress](const QString& text) {
        progress.end();
        printError(text);
    });
    ClipExporter::Result result;
    try {
        result = exporter.run();
    } catch (const ClipExporter::Failure& f) {
        progress.end();
        printError(f.text);
        return ExitFailed;
    }
    if (result.outcome == ClipExporter::Cancelled) {
        progress.end();
        printError(QStringLiteral("export cancelled; %1 was not written").arg(settings.output));
        return 130;
    }
    progress.update(result.toMs - result.fromMs, result.toMs - result.fromMs, true);
    progress.end();
    printOut(QStringLiteral("%1: %2x%3, %4 to %5, %6 pictures%7%8\n")
                 .arg(settings.output)
                 .arg(result.videoSize.width())
                 .arg(result.videoSize.height())
                 .arg(ClipExporter::timeText(result.fromMs), ClipExporter::timeText(result.toMs))
                 .arg(result.pictures)
                 .arg(settings.sound ? QStringLiteral(", sound") : QString())
                 .arg(result.damagedParts
                          ? QStringLiteral(", %1 damaged part%2 passed over")
                                .arg(result.damagedParts)
                                .arg(result.damagedParts == 1 ? "" : "s")
                          : QString()));
    return ExitOk;
}

} // namespace SessionTool
