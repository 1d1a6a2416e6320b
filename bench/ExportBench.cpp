// SPDX-License-Identifier: GPL-3.0-or-later
// The export on a ten-minute 1920 x 1080 demo recording with sound, at the
// defaults (H.264 with x264's "veryfast" preset, crf 23, at most 15 pictures
// a second, AAC): media seconds per wall second, against FFmpeg's own
// program encoding the very pictures our export makes, piped to it raw
// (`ffmpeg -f rawvideo ... -c:v libx264`, same preset and crf, nothing
// written to disk); and on a recording shaped like a real session (bursts of
// work between long still stretches).
//
// The recordings are made once in the build folder: the demo by
// `sessiontool synth` (export-10min-1080p.vro), the session by
// RecordingWriter (export-session-1080p.vro). Each benchmark reports
// media_x_realtime (media s per wall s) and the process's peak resident
// memory so far (peak_rss_mb; run one benchmark per process to read it for
// that one alone).

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "ClipExporter.h"
#include "RecordingWriter.h"
#include "VideoFrame.h"

namespace {

constexpr int kSeconds = 600;

QString demo()
{
    const QString path = QStringLiteral(SP_BENCH_DATA_DIR "/export-10min-1080p.vro");
    if (!QFile::exists(path)) {
        QProcess::execute(QStringLiteral(SESSIONTOOL_PATH),
                          {"synth", "-o", path, "--seconds", QString::number(kSeconds), "--size",
                           "1920x1080", "--audio"});
    }
    return path;
}

// Ten minutes of 1920 x 1080: in each minute, 12 s of work (a 480 x 320
// window redrawn every 100 ms, the pointer moving 20 times a second) and 48 s
// in which only the sound goes on.
QString session()
{
    const QString path = QStringLiteral(SP_BENCH_DATA_DIR "/export-session-1080p.vro");
    if (QFile::exists(path))
        return path;
    RecordingWriter w;
    w.open(path + ".tmp");
    VideoFrame frame;
    frame.resize(1920, 1080);
    for (int i = 0; i < 1920 * 1080; ++i)
        frame.pixels()[i] = 0xFF000000u | ((i % 1920) / 64 % 2 ? 0xE8E8E8u : 0xF4F4F4u);
    std::vector<int16_t> sound(960 * 2);
    for (int t = 0; t < kSeconds * 1000; t += 20) {
        const bool busy = t % 60000 < 12000;
        if (t == 0 || (busy && t % 100 == 0)) {
            for (int y = 300; y < 620; ++y)
                for (int x = 600; x < 1080; ++x)
                    frame.pixels()[y * 1920 + x] =
                        0xFF000000u | static_cast<uint32_t>((x * 7 + y * 13 + t / 100 * 977) & 0xFFFFFF);
            w.writeScreenFrame(static_cast<uint64_t>(t), frame);
        }
        if (busy && t % 50 == 0)
            w.writeMousePos(static_cast<uint64_t>(t), 600 + (t / 50) % 480, 300 + (t / 30) % 320, 1);
        for (int i = 0; i < 960; ++i)
            sound[2 * i] = sound[2 * i + 1] =
                static_cast<int16_t>(3000 * std::sin(2 * M_PI * 440 * (t * 48 + i) / 48000.0));
        w.writeAudio(static_cast<uint64_t>(t), RecordingWriter::CAP, sound.data(), 960, 2);
    }
    w.finish(kSeconds * 1000LL);
    QFile::rename(path + ".tmp", path);
    return path;
}

// CPU seconds of this process (all its threads) and of its waited-for
// children: on a shared machine the fair figure next to the wall time.
double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
            + usage.ru_stime.tv_usec / 1e6;
    }
    return total;
}

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void report(benchmark::State& state, double wallSeconds, double cpu, int runs)
{
    state.counters["media_x_realtime"] = kSeconds * runs / wallSeconds;
    state.counters["cpu_s_all_threads"] = cpu / runs;
    state.counters["media_s_per_cpu_s"] = kSeconds * runs / cpu;
    state.counters["peak_rss_mb"] = peakRssMb();
}

void exportOnce(const QString& recording, bool sound, const QString& output)
{
    ExportSettings settings;
    settings.recording = recording;
    settings.output = output;
    settings.sound = sound;
    ClipExporter(settings).run();
}

// Our export, to a file in a temporary folder.
void BM_Export(benchmark::State& state, QString (*recording)(), bool sound)
{
    const QString path = recording();
    QTemporaryDir dir;
    double wall = 0, cpu = 0;
    int runs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuSeconds();
        exportOnce(path, sound, dir.filePath("out.mp4"));
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += cpuSeconds() - cpuStart;
        ++runs;
    }
    report(state, wall, cpu, runs);
}

// The same replay, its pictures piped raw into FFmpeg's program: the time of
// the whole (our replay and pointer drawing, the pipe, FFmpeg's conversion and
// x264 at the same settings).
void BM_FramesIntoFfmpeg(benchmark::State& state)
{
    const QString path = demo();
    QTemporaryDir dir;
    double wall = 0, cpu = 0;
    int runs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuSeconds();
        ExportSettings settings;
        settings.recording = path;
        settings.output = dir.filePath("empty.mp4");
        settings.sound = false;
        ClipExporter exporter(settings);
        FILE* ffmpeg = nullptr;
        exporter.setPictureSink([&](const uint32_t* pixels, int width, int height, qint64) {
            if (!ffmpeg) {
                const QByteArray command = QStringLiteral(
                    "ffmpeg -v error -f rawvideo -pix_fmt bgra -s %1x%2 -r 15 -i - "
                    "-c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -f null -")
                                               .arg(width).arg(height).toUtf8();
                ffmpeg = popen(command.constData(), "w");
            }
            if (ffmpeg)
                fwrite(pixels, 4, static_cast<size_t>(width) * height, ffmpeg);
        });
        exporter.run();
        if (ffmpeg)
            pclose(ffmpeg);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += cpuSeconds() - cpuStart;
        ++runs;
    }
    report(state, wall, cpu, runs);
}

BENCHMARK_CAPTURE(BM_Export, demo_with_sound, demo, true)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_Export, demo_no_sound, demo, false)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_FramesIntoFfmpeg)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_Export, session_with_sound, session, true)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
