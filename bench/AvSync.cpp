// SPDX-License-Identifier: GPL-3.0-or-later
// The A/V measurement that scripts/av-sync runs on a virtual display with a
// null sink: how far the sound of a flash-and-beep recording lies from its
// picture, and how long sound goes on after a pause.
//
//   av_sync make FILE.vro [--unit-ms N]       writes the recording
//   av_sync mp4-filter                        prints the ffmpeg filter graphs
//                                             of the same media as an MP4
//   av_sync ours FILE.vro --sink S            plays it in this process in
//                                             the player's window; the picture
//                                             from the view's paint hook
//   av_sync external --sink S (--mpv-ipc SOCK | --keys) -- COMMAND...
//                                             plays it in another program;
//                                             the picture from one pixel of
//                                             the screen, read every 2 ms
//
// The script of a run (media times): flashes and beeps at 2, 4, 6, 8 s; a
// steady tone from 10 to 13.5 s, paused at about 10.6 s for 1.5 s; flashes
// at 14 and 16 s after the resume; a seek of +2 s at about 16.6 s; flashes
// at 20 and 22 s; 2x from about 22.6 s, flashes at 24 and 26 s; 1x again at
// about 26.6 s, flashes at 28 and 30 s. Each offset printed is sound minus
// picture in ms; the phases are reported apart.

#include <QApplication>
#include <QImage>
#include <QLocalSocket>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "DrawingScene.h"
#include "FlashBeep.h"
#include "SessionPlayer.h"
#include "SoundProbe.h"

namespace {

const std::vector<int> kFlashes{2000, 4000, 6000, 8000, 14000, 16000, 20000, 22000,
                                24000, 26000, 28000, 30000};
constexpr int kDuration = 32000;
constexpr int kToneFrom = 10000, kToneTo = 13500;

FlashBeep scenario(int unitMs)
{
    FlashBeep fb;
    fb.flashesMs = kFlashes;
    fb.tones = {{kToneFrom, kToneTo, 440.0}};
    fb.durationMs = kDuration;
    fb.audioUnitMs = unitMs;
    return fb;
}

// The commands a run gives the player.
struct Controls
{
    std::function<void()> pause, resume, seekForward2, speed2, speed1;
};

void spin(double ms, const std::function<void()>& each = {})
{
    const double end = monotonicMs() + ms;
    while (monotonicMs() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (each)
            each();
        else
            QThread::msleep(1);
    }
}

// Waits (running `each`) until the picture has shown `count` flashes.
bool waitFlashes(const PictureLog& log, size_t count, double timeoutMs,
                 const std::function<void()>& each)
{
    const double end = monotonicMs() + timeoutMs;
    while (log.flashes().size() < count) {
        if (monotonicMs() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (each)
            each();
        else
            QThread::msleep(1);
    }
    return true;
}

void printPhase(const char* name, const std::vector<double>& offsets, int unmatched)
{
    std::printf("%-26s", name);
    std::vector<double> abs;
    for (double o : offsets) {
        std::printf(" %+6.0f", o);
        abs.push_back(std::fabs(o));
    }
    if (unmatched)
        std::printf("  (%d flash(es) without a beep near)", unmatched);
    if (!offsets.empty())
        std::printf("  | median %+.0f, median |x| %.0f, max |x| %.0f", median(offsets),
                    median(abs), *std::max_element(abs.begin(), abs.end()));
    std::printf("\n");
}

// Runs the script: `each` is called between event-loop steps (the pixel
// poll of the external mode).
int runScript(MonitorCapture& capture, const PictureLog& picture, const Controls& c,
              const std::function<void()>& each)
{
    double pauseAt = 0, resumeAt = 0;
    auto after = [&](size_t flashes, double delayMs) {
        if (!waitFlashes(picture, flashes, 30000, each)) {
            std::printf("the picture showed %zu of %zu flashes\n", picture.flashes().size(), flashes);
            return false;
        }
        spin(picture.flashes()[flashes - 1] + delayMs - monotonicMs(), each);
        return true;
    };
    bool ok = after(4, 2600);
    if (ok) {
        pauseAt = monotonicMs();
        c.pause();
        spin(1500, each);
        resumeAt = monotonicMs();
        c.resume();
    }
    ok = ok && after(6, 600);
    if (ok)
        c.seekForward2();
    ok = ok && after(8, 600);
    if (ok)
        c.speed2();
    ok = ok && after(10, 300);
    if (ok)
        c.speed1();
    ok = ok && after(12, 800);
    spin(500, each);

    // Sound onsets over the whole run.
    const std::vector<int16_t> heard = capture.samples(0, capture.frames());
    std::vector<double> sounds;
    for (int64_t f : soundOnsets(heard, 0, 3000, 100))
        sounds.push_back(capture.frameTime(f));
    const std::vector<double> flashes = picture.flashes();
    auto phase = [&](const char* name, size_t from, size_t to) {
        std::vector<double> pics;
        for (size_t i = from; i < to && i < flashes.size(); ++i)
            pics.push_back(flashes[i]);
        int unmatched = 0;
        // A beep onset that belongs to the tone region is far from any flash.
        const std::vector<double> offsets = pairOffsets(pics, sounds, 1900, &unmatched);
        printPhase(name, offsets, unmatched);
        return offsets;
    };
    std::vector<double> all;
    for (auto& [name, from, to] : std::vector<std::tuple<const char*, size_t, size_t>>{
             {"1x from the start", 0, 4},
             {"after pause and resume", 4, 6},
             {"after a seek", 6, 8},
             {"at 2x", 8, 10},
             {"after 2x, back at 1x", 10, 12}}) {
        const std::vector<double> o = phase(name, from, to);
        if (std::string(name) != "at 2x")
            all.insert(all.end(), o.begin(), o.end());
    }
    std::vector<double> abs;
    for (double o : all)
        abs.push_back(std::fabs(o));
    if (!abs.empty())
        std::printf("all at 1x: median |x| %.0f ms, max |x| %.0f ms over %zu flashes\n",
                    median(abs), *std::max_element(abs.begin(), abs.end()), abs.size());

    if (pauseAt > 0) {
        const int64_t from = capture.frameAt(pauseAt), to = capture.frameAt(resumeAt);
        const int64_t last = lastLoud(capture.samples(from, to), from, 1500);
        std::printf("sound after pause: %.0f ms\n", last < 0 ? 0.0 : capture.frameTime(last) - pauseAt);
        // The tone after the resume: the first sound after it.
        const int64_t r = capture.frameAt(resumeAt);
        const std::vector<int64_t> on = soundOnsets(capture.samples(r, r + 2 * 48000), r, 1500, 1);
        if (!on.empty())
            std::printf("sound after resume: %.0f ms\n", capture.frameTime(on.front()) - resumeAt);
    }
    std::printf("load average: ");
    std::fflush(stdout);
    std::system("cut -d' ' -f1-3 /proc/loadavg");
    return ok ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: av_sync make FILE.vro [--unit-ms N] [--channels N] [--speaker-only]\n"
                 "       av_sync mp4-filter\n"
                 "       av_sync ours FILE.vro --sink SINK\n"
                 "       av_sync external --sink SINK (--mpv-ipc SOCKET | --keys) -- COMMAND...\n");
    return 2;
}

QString option(const QStringList& args, const QString& name, const QString& fallback = {})
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

// The ffmpeg inputs of the same media: a picture that is white for 300 ms at
// each flash, and sound with the beeps and the tone.
void printMp4Filter()
{
    QString white, beeps;
    for (int f : kFlashes) {
        const double a = f / 1000.0;
        white += QStringLiteral("+between(t,%1,%2)").arg(a, 0, 'f', 3).arg(a + 0.3 - 0.001, 0, 'f', 3);
        beeps += QStringLiteral("+between(t,%1,%2)").arg(a, 0, 'f', 3).arg(a + 0.15, 0, 'f', 3);
    }
    const double d = kDuration / 1000.0;
    std::printf("color=c=0x202020:s=320x240:r=100:d=%.1f,"
                "drawbox=c=white:t=fill:enable='0%s'\n",
                d, qPrintable(white));
    std::printf("aevalsrc='0.366*sin(2*PI*1000*t)*(0%s)+0.275*sin(2*PI*440*t)*between(t,%.1f,%.1f)'"
                ":s=48000:c=stereo:d=%.1f\n",
                qPrintable(beeps), kToneFrom / 1000.0, kToneTo / 1000.0, d);
}

int external(const QStringList& args, MonitorCapture& capture)
{
    const int dash = args.indexOf(QStringLiteral("--"));
    if (dash < 0 || dash + 1 >= args.size())
        return usage();
    const QString ipc = option(args, QStringLiteral("--mpv-ipc"));
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(args[dash + 1], args.mid(dash + 2));
    if (!program.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(args[dash + 1]));
        return 1;
    }

    // The picture: the dark area on screen (the recording's background),
    // watched a quarter of the way down its middle, clear of control bars.
    QScreen* screen = QGuiApplication::primaryScreen();
    QPoint at(-1, -1);
    const double end = monotonicMs() + 20000;
    while (at.x() < 0 && monotonicMs() < end) {
        const QImage shot = screen->grabWindow(0).toImage();
        QRect dark;
        for (int y = 0; y < shot.height(); y += 4)
            for (int x = 0; x < shot.width(); x += 4) {
                const QRgb p = shot.pixel(x, y);
                if (std::abs(qRed(p) - 32) < 6 && std::abs(qGreen(p) - 32) < 6
                    && std::abs(qBlue(p) - 32) < 6)
                    dark |= QRect(x, y, 1, 1);
            }
        if (dark.width() >= 100 && dark.height() >= 60)
            at = QPoint(dark.center().x(), dark.top() + dark.height() / 4);
        else
            spin(50);
    }
    if (at.x() < 0) {
        screen->grabWindow(0).save(QStringLiteral("av-sync-screen.png"));
        std::fprintf(stderr, "no picture found on screen (see av-sync-screen.png)\n");
        program.kill();
        program.waitForFinished();
        return 1;
    }
    PictureLog picture;
    double lastPoll = 0;
    auto poll = [&]() {
        const double now = monotonicMs();
        if (now - lastPoll < 2) {
            QThread::usleep(200);
            return;
        }
        lastPoll = now;
        const QImage px = screen->grabWindow(0, at.x(), at.y(), 1, 1).toImage();
        picture.sample(monotonicMs(), qGray(px.pixel(0, 0)));
    };

    QLocalSocket socket;
    auto mpv = [&](const char* json) {
        if (socket.state() != QLocalSocket::ConnectedState) {
            socket.connectToServer(ipc);
            socket.waitForConnected(1000);
        }
        socket.write(json);
        socket.write("\n");
        socket.flush();
    };
    auto key = [](const char* k) {
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("key"), QString::fromLatin1(k)});
    };
    Controls c;
    if (!ipc.isEmpty()) {
        c.pause = [&] { mpv(R"({"command":["set_property","pause",true]})"); };
        c.resume = [&] { mpv(R"({"command":["set_property","pause",false]})"); };
        c.seekForward2 = [&] { mpv(R"({"command":["seek",2,"relative+exact"]})"); };
        c.speed2 = [&] { mpv(R"({"command":["set_property","speed",2.0]})"); };
        c.speed1 = [&] { mpv(R"({"command":["set_property","speed",1.0]})"); };
    } else {
        c.pause = c.resume = [&] { key("space"); };
        c.seekForward2 = [&] { key("Right"); };
        c.speed2 = c.speed1 = [] {};
    }
    const int rc = runScript(capture, picture, c, poll);
    program.terminate();
    if (!program.waitForFinished(3000)) {
        program.kill();
        program.waitForFinished();
    }
    return rc;
}

int ours(const QStringList& args, MonitorCapture& capture)
{
    const QString file = args.value(2);
    SessionPlayer window;
    window.show();
    PictureLog picture;
    // The paint hook: the middle of the picture as it was painted.
    window.drawingScene()->setPaintHook([&picture](const QPixmap& painted) {
        if (painted.isNull())
            return;
        const QImage px = painted.copy(painted.width() / 2, painted.height() / 2, 1, 1).toImage();
        picture.sample(monotonicMs(), qGray(px.pixel(0, 0)));
    });
    window.openAndPlay(file);
    FilePlayer& player = window.player();
    Controls c;
    c.pause = [&] { player.pause(); };
    c.resume = [&] { player.play(); };
    c.seekForward2 = [&] { player.seek(2, FilePlayer::SEEK_RELATIVE); };
    c.speed2 = [&] { window.onBtnIncSpeedClicked(); };
    c.speed1 = [&] { window.onBtnDecSpeedClicked(); };
    const int rc = runScript(capture, picture, c, {});
    window.shutdownPlayer();
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString mode = args.value(1);
    if (mode == QLatin1String("make")) {
        if (args.size() < 3)
            return usage();
        FlashBeep fb =
            scenario(option(args, QStringLiteral("--unit-ms"), QStringLiteral("100")).toInt());
        fb.channels = option(args, QStringLiteral("--channels"), QStringLiteral("2")).toInt();
        fb.capSilence = !args.contains(QStringLiteral("--speaker-only"));
        fb.write(args[2]);
        return 0;
    }
    if (mode == QLatin1String("mp4-filter")) {
        printMp4Filter();
        return 0;
    }
    if (mode != QLatin1String("ours") && mode != QLatin1String("external"))
        return usage();
    const QString sink = option(args, QStringLiteral("--sink"));
    if (sink.isEmpty())
        return usage();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("SessionPlayerAvSync"));

    MonitorCapture capture;
    QString error;
    if (!capture.start(sink, &error) || !capture.waitFrames(4800, 5000)
        || !capture.calibrate(sink, &error)) {
        std::fprintf(stderr, "capture: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("capture path calibrated: %.1f ms\n", capture.calibrationMs());
    const int rc = mode == QLatin1String("ours") ? ours(args, capture) : external(args, capture);
    capture.stop();
    return rc;
}
