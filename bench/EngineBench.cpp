// SPDX-License-Identifier: GPL-3.0-or-later
// The playback engine on a one-hour 1920 x 1080 demo recording: the walk over
// its unit headers that finds its real end, building its index side by side
// with a straight decode of the same hour, seeking with and without the index
// (the seek's own work, without the play loop's polling), and the player
// thread's load at 20x; and its load playing ten minutes with sound at 1x
// and 2x.
//
// The recording is made once by `sessiontool synth` in the build folder
// (bench/engine-60min-1080p.vro, about 230 MB); the index build writes its
// index beside it, which the seek benchmarks then use. Run the whole program
// in the order the benchmarks are declared.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QProcess>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "Exception.h"
#include "FilePlayer.h"
#include "GridDecoder.h"
#include "HeadlessView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "ActivityMap.h"
#include "ActivityScan.h"
#include "Playhead.h"
#include "PreviewMaker.h"
#include "RecordReader.h"
#include "RecordScan.h"
#include "ScreenFrame.h"
#include "Seeking.h"
#include "UnitDispatch.h"
#include "Zip.h"

namespace {

constexpr int kSeconds = 3600;
constexpr long long kDurationMs = kSeconds * 1000LL;
constexpr int kTargets = 100;
constexpr long long kFiftyMinutes = 50 * 60 * 1000LL;

QCoreApplication* app()
{
    static int argc = 1;
    static char name[] = "engine_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return instance;
}

QString recording()
{
    return QStringLiteral(SP_BENCH_DATA_DIR "/engine-60min-1080p.vro");
}

// The same recording under another name, so that it has no index.
QString unindexedRecording()
{
    return QStringLiteral(SP_BENCH_DATA_DIR "/engine-60min-1080p-noindex.vro");
}

bool ensureRecording()
{
    app();
    const QString path = recording();
    if (QFileInfo(path).size() < 1000000) {
        std::fprintf(stderr, "making %s with sessiontool synth (a few minutes)...\n",
                     path.toUtf8().constData());
        QProcess synth;
        synth.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        synth.start(QStringLiteral(SESSIONTOOL_PATH),
                    {QStringLiteral("synth"), QStringLiteral("-o"), path, QStringLiteral("--seconds"),
                     QString::number(kSeconds), QStringLiteral("--size"),
                     QStringLiteral("1920x1080"), QStringLiteral("--seed"), QStringLiteral("1")});
        if (!synth.waitForFinished(-1) || synth.exitCode() != 0)
            return false;
    }
    const QString other = unindexedRecording();
    QFile::remove(other + QLatin1Char('x'));
    if (!QFile::exists(other) && !QFile::link(path, other))
        return false;
    return true;
}

double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock;
    timespec ts{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &ts) != 0)
        return 0;
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double childrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double loadAverage()
{
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1;
        std::fclose(f);
    }
    return load;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs sessiontool with `arguments` to its end: its CPU time (user and
// system) and wall time, or false when it failed.
bool runTool(const QStringList& arguments, double& cpu, double& wall)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.setStandardOutputFile(QProcess::nullDevice());
    const double c0 = childrenCpuSeconds(), w0 = wallSeconds();
    tool.start(QStringLiteral(SESSIONTOOL_PATH), arguments);
    const bool ok = tool.waitForFinished(600000) && tool.exitStatus() == QProcess::NormalExit
        && tool.exitCode() == 0;
    wall = wallSeconds() - w0;
    cpu = childrenCpuSeconds() - c0;
    return ok;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double rank = p * (v.size() - 1);
    const size_t lo = static_cast<size_t>(rank);
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (rank - lo);
}

std::vector<long long> randomTargets()
{
    std::mt19937_64 rnd(42);
    std::vector<long long> t(kTargets);
    for (long long& x : t)
        x = static_cast<long long>(rnd() % static_cast<unsigned long long>(kDurationMs));
    return t;
}

// The window and the prompter of a player without widgets.
class BenchWindow : public QObject, public IPlayerWindow
{
    Q_OBJECT

public:
    QObject* receiver() override { return this; }
    void setTitle(const QString&) override {}
    void setVisible(bool) override {}
    bool playOnOpen() const override { return false; }

    int state = -1;
    quint64 position = 0;

public slots:
    void onPlayerStatus(int status) { state = status; }
    void onPlayerPositionChanged(quint64 seconds) { position = seconds; }
    void onPlayerDurationChanged(quint64) {}
    void onInvalidFileFormat() {}
};

class BenchPrompter : public IPrompter
{
public:
    void critical(const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", title.toUtf8().constData(), text.toUtf8().constData());
    }
    // The index question: No, so that seeks replay from the start.
    Answer question(const QString&, const QString&) override { return No; }
    Answer warning(const QString&, const QString&) override { return Yes; }
    QString getOpenFileName(const QString&, const QString&, const QString&) override
    {
        return QString();
    }
};

// The real player thread with a headless view, a window that notes what it
// hears and a prompter that answers on its own; started, and stopped (the
// thread ended) when it goes.
struct BenchPlayer
{
    std::unique_ptr<HeadlessView> view = std::make_unique<HeadlessView>();
    std::unique_ptr<BenchWindow> window = std::make_unique<BenchWindow>();
    BenchPrompter prompter;
    std::unique_ptr<FilePlayer> player = std::make_unique<FilePlayer>();

    BenchPlayer()
    {
        player->setSessionPlayer(window.get());
        player->setDrawingScene(view.get());
        player->setPrompter(&prompter);
        player->start();
    }
    ~BenchPlayer() { player->Thread::stop(true); }
};

// A recording opened for seeks as the player thread carries them out (the
// entry choice, the key-frame restore and the catch-up of Seeking), on a
// playhead of its own, with its index when it has one; no player thread.
struct SeekBench
{
    explicit SeekBench(const QString& path)
    {
        playhead.setView(&view);
        RecordFileHeader header;
        try {
            playhead.open(path, header);
        } catch (const Exception&) {
            return;
        }
        index.setFileName(IndexFile::indexFileName(path));
        indexed = index.open(QIODevice::ReadOnly)
            && IndexFile::load(index, indexHeader, entries, QFileInfo(path).size());
        if (indexed)
            seeking.setIndex(&index, &entries, indexHeader.m_flags);
        ok = true;
    }

    HeadlessView view;
    Playhead playhead;
    Seeking seeking{playhead};
    QFile index;
    IndexFileHeader indexHeader;
    Array<IndexEntryPoint, int> entries;
    bool indexed = false;
    bool ok = false;
};

struct SeekTimes
{
    std::vector<double> wall;
    std::vector<double> cpu;
};

SeekTimes timeSeeks(SeekBench& p, const std::vector<long long>& targets)
{
    SeekTimes times;
    const pthread_t self = pthread_self();
    for (long long target : targets) {
        const double w0 = wallSeconds(), c0 = threadCpuSeconds(self);
        p.seeking.seek(target, false);
        times.wall.push_back((wallSeconds() - w0) * 1000);
        times.cpu.push_back((threadCpuSeconds(self) - c0) * 1000);
    }
    return times;
}

void report(benchmark::State& state, const SeekTimes& t)
{
    state.counters["median_ms"] = percentile(t.wall, 0.5);
    state.counters["p95_ms"] = percentile(t.wall, 0.95);
    state.counters["cpu_median_ms"] = percentile(t.cpu, 0.5);
    state.counters["cpu_p95_ms"] = percentile(t.cpu, 0.95);
}

// The counters of a walk over the hour's unit headers (`complete`: it read
// what it should), or an error when it did not reach the end; true when
// reported.
bool reportWalk(benchmark::State& state, bool complete, const RecordScan::Result& result,
                const std::vector<double>& cpu, const std::vector<double>& wall)
{
    if (!complete || result.realEnd + 1000 < kDurationMs) {
        state.SkipWithError("the walk did not reach the end");
        return false;
    }
    state.counters["units"] = double(result.units);
    state.counters["median_ms"] = percentile(wall, 0.5);
    state.counters["max_ms"] = percentile(wall, 1.0);
    state.counters["cpu_median_ms"] = percentile(cpu, 0.5);
    return true;
}

// The walk over the unit headers that finds the real end of a recording,
// which the player makes when a file opens; with the file in the page cache
// (one walk first), as it is when the player has just read its first screen.
void headerScan(benchmark::State& state, const QString& path)
{
    RecordScan::Result result = RecordScan::scanFile(path);
    std::vector<double> wall, cpu;
    for (auto _ : state) {
        const double w0 = wallSeconds(), c0 = threadCpuSeconds(pthread_self());
        result = RecordScan::scanFile(path);
        cpu.push_back((threadCpuSeconds(pthread_self()) - c0) * 1000);
        wall.push_back((wallSeconds() - w0) * 1000);
    }
    reportWalk(state, result.readable, result, cpu, wall);
}

void BM_HeaderScan(benchmark::State& state)
{
    if (!ensureRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    headerScan(state, recording());
}
BENCHMARK(BM_HeaderScan)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// The hour with both sound streams, made by sessiontool synth on first use.
QString soundRecording()
{
    return QStringLiteral(SP_BENCH_DATA_DIR "/engine-60min-sound.vro");
}

bool ensureSoundRecording()
{
    app();
    const QString path = soundRecording();
    if (QFileInfo(path).size() >= 1000000)
        return true;
    std::fprintf(stderr, "making %s with sessiontool synth (a minute or two)...\n",
                 path.toUtf8().constData());
    QProcess synth;
    synth.start(QStringLiteral(SESSIONTOOL_PATH),
                {QStringLiteral("synth"), QStringLiteral("-o"), path, QStringLiteral("--seconds"),
                 QString::number(kSeconds), QStringLiteral("--audio")});
    return synth.waitForFinished(-1) && synth.exitCode() == 0;
}

// The same walk over an hour with both sound streams: three times the units
// (a 1 GB recording, made on the first run).
void BM_HeaderScanWithSound(benchmark::State& state)
{
    if (!ensureSoundRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    headerScan(state, soundRecording());
}
BENCHMARK(BM_HeaderScanWithSound)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();


// Every screen unit of the recording decoded into a screen, as sessiontool
// frame rebuilds the last second without an index: the work an index build
// cannot avoid.
bool straightDecode(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    RecordReader reader;
    reader.setDevice(&file);
    RecordFileHeader header;
    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed;
    GridDecoder decoder;
    ScreenFrame screen;
    decoder.m_listener = &screen;
    bool started = false;
    try {
        reader.readFileHeader(header);
        for (;;) {
            // Damage is passed over, as the player and the index build do.
            const RecordReader::Result r = reader.readUnitHeader(unit);
            if (r == RecordReader::Damaged)
                continue;
            if (r != RecordReader::Unit)
                break;
            if (unit.kind() != RecordUnitHeader::KIND_SCREEN) {
                reader.skipPayload(unit);
                continue;
            }
            const RecordReader::Result p = reader.readPayload(unit, payload, packed);
            if (p == RecordReader::Damaged)
                continue;
            if (p != RecordReader::Unit)
                break;
            UnitDispatch::processScreenUnit(payload.data(), payload.count(), decoder, nullptr,
                                            started);
        }
    } catch (const Exception&) {
        return false;
    }
    return screen.width() > 0;
}

// The size the index had with every key frame compressed by zlib at its
// default level, as it was before the fast compressor: the same table and
// prefixes, each key frame recompressed.
qint64 zlibDefaultIndexSize(const QString& indexPath)
{
    QFile index(indexPath);
    IndexFileHeader header;
    Array<IndexEntryPoint, int> table;
    if (!index.open(QIODevice::ReadOnly) || !IndexFile::load(index, header, table))
        return -1;
    qint64 size = index.size();
    Array<unsigned char, int> packed, plain, again;
    for (int i = 0; i < table.count(); ++i) {
        IndexFile::KeyFrame kf;
        if (!IndexFile::readKeyFrame(index, table[i], header.m_flags, packed, plain, kf)
            || !Zip::zipBuffer(kf.data, kf.length, again, Zip::COMPRESSION_DEFAULT))
            return -1;
        size += again.count() - static_cast<qint64>(table[i].m_size);
    }
    return size;
}

// The index build and the straight decode of the same hour, one after the
// other, three times each; the medians are compared. CPU is the whole
// process's (the build's second thread included); the build's own thread
// (the decoding one) is reported apart. Then the same pair as sessiontool
// commands (`frame FILE --at 3599` without an index, and `index FILE`),
// each a process of its own, measured from outside: tool_cpu_ratio and
// tool_wall_ratio.
void BM_IndexBuild(benchmark::State& state)
{
    if (!ensureRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    constexpr int kRounds = 3;
    std::vector<double> decodeCpu, decodeWall, buildCpu, buildThreadCpu, buildWall;
    std::vector<double> toolFrameCpu, toolFrameWall, toolIndexCpu, toolIndexWall;
    const double load0 = loadAverage();
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            double w0 = wallSeconds(), c0 = processCpuSeconds();
            if (!straightDecode(unindexedRecording())) {
                state.SkipWithError("decode failed");
                return;
            }
            decodeCpu.push_back(processCpuSeconds() - c0);
            decodeWall.push_back(wallSeconds() - w0);

            IndexBuilder builder;
            w0 = wallSeconds();
            c0 = processCpuSeconds();
            const double t0 = threadCpuSeconds(pthread_self());
            const bool ok = builder.makeIndex(recording(), FilePlayer::kIndexInterval);
            buildThreadCpu.push_back(threadCpuSeconds(pthread_self()) - t0);
            buildCpu.push_back(processCpuSeconds() - c0);
            buildWall.push_back(wallSeconds() - w0);
            if (!ok) {
                state.SkipWithError("index build failed");
                return;
            }

            // The same two as a user runs them: sessiontool's picture at the
            // end of the hour without an index, and its index build.
            double cpu = 0, wall = 0;
            const QString png = QStringLiteral(SP_BENCH_DATA_DIR "/engine-bench-frame.png");
            if (!runTool({QStringLiteral("frame"), unindexedRecording(), QStringLiteral("--at"),
                          QStringLiteral("3599"), QStringLiteral("-o"), png},
                         cpu, wall)) {
                state.SkipWithError("sessiontool frame failed");
                return;
            }
            toolFrameCpu.push_back(cpu);
            toolFrameWall.push_back(wall);
            if (!runTool({QStringLiteral("index"), recording()}, cpu, wall)) {
                state.SkipWithError("sessiontool index failed");
                return;
            }
            toolIndexCpu.push_back(cpu);
            toolIndexWall.push_back(wall);
        }
    }
    const QString indexPath = IndexFile::indexFileName(recording());
    QFile index(indexPath);
    int entries = 0;
    if (index.open(QIODevice::ReadOnly)) {
        IndexFileHeader header;
        Array<IndexEntryPoint, int> table;
        IndexFile::load(index, header, table);
        entries = table.count();
    }
    const double size = double(QFileInfo(indexPath).size());
    const double before = double(zlibDefaultIndexSize(indexPath));
    const double dc = percentile(decodeCpu, 0.5), dw = percentile(decodeWall, 0.5);
    const double bc = percentile(buildCpu, 0.5), bw = percentile(buildWall, 0.5);
    const double bt = percentile(buildThreadCpu, 0.5);
    state.counters["key_frames"] = entries;
    state.counters["decode_cpu_s"] = dc;
    state.counters["decode_wall_s"] = dw;
    state.counters["build_cpu_s"] = bc;
    state.counters["build_thread_cpu_s"] = bt;
    state.counters["build_wall_s"] = bw;
    state.counters["cpu_ratio"] = bc / dc;
    state.counters["thread_cpu_ratio"] = bt / dc;
    state.counters["wall_ratio"] = bw / dw;
    const double tfc = percentile(toolFrameCpu, 0.5), tfw = percentile(toolFrameWall, 0.5);
    const double tic = percentile(toolIndexCpu, 0.5), tiw = percentile(toolIndexWall, 0.5);
    state.counters["tool_frame_cpu_s"] = tfc;
    state.counters["tool_index_cpu_s"] = tic;
    state.counters["tool_cpu_ratio"] = tic / tfc;
    state.counters["tool_wall_ratio"] = tiw / tfw;
    state.counters["index_MB"] = size / 1e6;
    state.counters["size_ratio"] = before > 0 ? size / before : 0;
    state.counters["load_before"] = load0;
    state.counters["load_after"] = loadAverage();
}
BENCHMARK(BM_IndexBuild)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The key frames of the index just built, decompressed once and compressed
// again by zlib (first argument 0) or libdeflate (1) at the level of the
// second argument, or (2) by the index builder's own compressor: the CPU
// time of compressing them all and their total size against zlib's default
// level, which the index used before.
void BM_KeyFrameCompression(benchmark::State& state)
{
    QFile index(IndexFile::indexFileName(recording()));
    IndexFileHeader header;
    Array<IndexEntryPoint, int> table;
    if (!index.open(QIODevice::ReadOnly) || !IndexFile::load(index, header, table)) {
        state.SkipWithError("run BM_IndexBuild first");
        return;
    }
    std::vector<std::vector<unsigned char>> frames;
    Array<unsigned char, int> packed, plain, out;
    for (int i = 0; i < table.count(); ++i) {
        IndexFile::KeyFrame kf;
        if (!IndexFile::readKeyFrame(index, table[i], header.m_flags, packed, plain, kf)) {
            state.SkipWithError("unreadable key frame");
            return;
        }
        frames.emplace_back(kf.data, kf.data + kf.length);
    }
    // 0: zlib, 1: libdeflate, 2: what the index builder uses (ISA-L where
    // the build has it; the level is its own).
    const int compressor = static_cast<int>(state.range(0));
    const int level = static_cast<int>(state.range(1));
    if (compressor == 2 && !Zip::fastestIsIsal())
        state.SetLabel("ISA-L not built: libdeflate level 1");
    auto compressAll = [&](double& bytes) {
        bytes = 0;
        for (const auto& f : frames) {
            const bool ok = compressor == 2 ? Zip::zipBufferFastest(f.data(), int(f.size()), out)
                : compressor == 1           ? Zip::zipBufferFast(f.data(), int(f.size()), out, level)
                                            : Zip::zipBuffer(f.data(), int(f.size()), out, level);
            if (!ok)
                return false;
            bytes += out.count();
        }
        return true;
    };
    double reference = 0, bytes = 0, plainBytes = 0;
    for (const auto& f : frames)
        plainBytes += double(f.size());
    if (!compressAll(bytes))
        state.SkipWithError("compression failed");
    for (const auto& f : frames) {
        Zip::zipBuffer(f.data(), int(f.size()), out, Zip::COMPRESSION_DEFAULT);
        reference += out.count();
    }
    double cpu = 0;
    for (auto _ : state) {
        const double c0 = threadCpuSeconds(pthread_self());
        compressAll(bytes);
        cpu = threadCpuSeconds(pthread_self()) - c0;
    }
    state.counters["cpu_s"] = cpu;
    state.counters["plain_MB"] = plainBytes / 1e6;
    state.counters["packed_MB"] = bytes / 1e6;
    state.counters["size_vs_zlib_default"] = bytes / reference;
}
BENCHMARK(BM_KeyFrameCompression)
    ->ArgNames({"compressor", "level"})
    ->Args({0, 6})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({1, 4})
    ->Args({1, 6})
    ->Args({2, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The random targets on the recording with its index, or on its twin without.
void seekRandomTargets(benchmark::State& state, bool indexed)
{
    if (!ensureRecording()
        || (indexed && !QFile::exists(IndexFile::indexFileName(recording())))) {
        state.SkipWithError(indexed ? "run BM_IndexBuild first" : "no recording");
        return;
    }
    SeekBench p(indexed ? recording() : unindexedRecording());
    if (!p.ok || p.indexed != indexed) {
        state.SkipWithError("player not ready");
        return;
    }
    SeekTimes t;
    for (auto _ : state)
        t = timeSeeks(p, randomTargets());
    report(state, t);
}

void BM_SeekWithIndex(benchmark::State& state)
{
    seekRandomTargets(state, true);
}
BENCHMARK(BM_SeekWithIndex)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SeekWithoutIndex(benchmark::State& state)
{
    seekRandomTargets(state, false);
}
BENCHMARK(BM_SeekWithoutIndex)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The 50-minute mark, five times each way.
void BM_SeekAt50Minutes(benchmark::State& state)
{
    if (!ensureRecording() || !QFile::exists(IndexFile::indexFileName(recording()))) {
        state.SkipWithError("run BM_IndexBuild first");
        return;
    }
    SeekBench indexed(recording());
    SeekBench plain(unindexedRecording());
    if (!indexed.ok || !plain.ok) {
        state.SkipWithError("player not ready");
        return;
    }
    const std::vector<long long> targets(5, kFiftyMinutes);
    SeekTimes with, without;
    for (auto _ : state) {
        with = timeSeeks(indexed, targets);
        without = timeSeeks(plain, targets);
    }
    state.counters["with_index_ms"] = percentile(with.wall, 0.5);
    state.counters["without_index_ms"] = percentile(without.wall, 0.5);
    state.counters["speedup"] = percentile(without.wall, 0.5) / percentile(with.wall, 0.5);
    state.counters["cpu_speedup"] = percentile(without.cpu, 0.5) / percentile(with.cpu, 0.5);
}
BENCHMARK(BM_SeekAt50Minutes)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 20x from minute 10 for 30 s of wall time, on the real player thread.
void BM_Play20x(benchmark::State& state)
{
    if (!ensureRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    constexpr double kWall = 30.0;
    BenchPlayer bench;
    auto& window = bench.window;
    auto& player = bench.player;
    auto spin = [&](double seconds) {
        const double end = wallSeconds() + seconds;
        while (wallSeconds() < end) {
            QCoreApplication::processEvents();
            Thread::sleep(10);
        }
    };
    double cpu = 0, media = 0, wall = 0;
    for (auto _ : state) {
        if (!player->openFile(recording())) {
            state.SkipWithError("cannot open");
            break;
        }
        player->setRequestedSpeed(20);
        player->seek(600, FilePlayer::SEEK_ABSOLUTE);
        spin(1.0); // the seek and the clock's first steps
        const pthread_t thread = static_cast<pthread_t>(player->getThreadId());
        QCoreApplication::processEvents();
        const quint64 p0 = window->position;
        const double c0 = threadCpuSeconds(thread), w0 = wallSeconds();
        spin(kWall);
        cpu = threadCpuSeconds(thread) - c0;
        wall = wallSeconds() - w0;
        QCoreApplication::processEvents();
        media = double(window->position - p0);
        player->stop();
    }
    state.counters["media_s"] = media;
    state.counters["clock_ratio"] = media / (20.0 * wall); // 1 = on its clock
    state.counters["busy_fraction"] = cpu / wall;
    state.counters["cpu_ms_per_media_s"] = media > 0 ? cpu * 1000 / media : 0;
}
BENCHMARK(BM_Play20x)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// ---------------------------------------------------------------------------
// What the window shows beside the position bar

// The walk that fills the activity overview (headers, control and audio
// payloads, levels per 100 ms) over the hour with both sound streams, on the
// calling thread, file in the page cache (the first of the iterations warms
// it).
void BM_ActivityScanWithSound(benchmark::State& state)
{
    if (!ensureSoundRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    std::vector<double> cpu, wall;
    ActivityMap map;
    RecordScan::Result result;
    for (auto _ : state) {
        ActivityScan scan(map);
        scan.begin();
        const double w0 = wallSeconds(), c0 = threadCpuSeconds(pthread_self());
        result = RecordScan::scanFile(soundRecording(), nullptr, &scan);
        cpu.push_back((threadCpuSeconds(pthread_self()) - c0) * 1000);
        wall.push_back((wallSeconds() - w0) * 1000);
    }
    if (reportWalk(state, map.isComplete(), result, cpu, wall))
        state.counters["idle_stretches"] = double(map.idleStretches().size());
}
BENCHMARK(BM_ActivityScanWithSound)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same as the player does it: from openFile() (the first screen shown
// on the calling thread, the walk on the scanner's) until the overview is
// complete; and how long the first picture took.
void BM_ActivityFromOpen(benchmark::State& state)
{
    if (!ensureSoundRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    std::vector<double> complete, firstPicture;
    for (auto _ : state) {
        HeadlessView view;
        BenchPrompter prompter;
        FilePlayer player;
        player.setDrawingScene(&view);
        player.setPrompter(&prompter);
        const double w0 = wallSeconds();
        if (!player.openFile(soundRecording())) {
            state.SkipWithError("cannot open");
            return;
        }
        firstPicture.push_back((wallSeconds() - w0) * 1000);
        while (!player.activity().isComplete())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        complete.push_back((wallSeconds() - w0) * 1000);
    }
    state.counters["complete_median_ms"] = percentile(complete, 0.5);
    state.counters["complete_max_ms"] = percentile(complete, 1.0);
    state.counters["first_picture_median_ms"] = percentile(firstPicture, 0.5);
}
BENCHMARK(BM_ActivityFromOpen)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Hover to picture: a request for each of 100 random times over the hour,
// the time from the request until previewReady carries its picture
// (decoded on the maker's thread). Cold: the cache holds nothing (every
// request decodes a key frame); warm: the default cache after one pass.
// Then the cache with every key frame of the hour in it.
void BM_PreviewLatency(benchmark::State& state)
{
    const bool warm = state.range(0) != 0;
    if (!ensureRecording()) {
        state.SkipWithError("no recording");
        return;
    }
    const QString index = IndexFile::indexFileName(recording());
    if (!QFile::exists(index)) {
        IndexBuilder builder;
        if (!builder.makeIndex(recording(), FilePlayer::kIndexInterval)) {
            state.SkipWithError("no index");
            return;
        }
    }
    PreviewMaker maker;
    std::atomic<quint64> answered{~quint64(0)};
    std::atomic<double> answeredAt{0};
    std::atomic<bool> picture{false};
    QObject::connect(&maker, &PreviewMaker::previewReady, &maker,
                     [&](quint64 ms, quint64, const QImage& image) {
                         answeredAt.store(wallSeconds());
                         picture.store(!image.isNull());
                         answered.store(ms);
                     }, Qt::DirectConnection);
    maker.setSource(recording(), index);
    maker.setCacheLimit(warm ? PreviewMaker::kDefaultCacheBytes : 0);
    auto ask = [&](quint64 ms) {
        const double t0 = wallSeconds();
        maker.request(ms);
        while (answered.load() != ms)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        answered.store(~quint64(0));
        return (answeredAt.load() - t0) * 1000;
    };
    const std::vector<long long> targets = randomTargets();
    std::vector<double> latency;
    bool allPictures = true;
    for (auto _ : state) {
        if (warm)
            for (long long t : targets)
                ask(quint64(t));
        for (long long t : targets) {
            latency.push_back(ask(quint64(t)));
            allPictures = allPictures && picture.load();
        }
    }
    if (!allPictures) {
        state.SkipWithError("a preview had no picture");
        return;
    }
    state.counters["median_ms"] = percentile(latency, 0.5);
    state.counters["p95_ms"] = percentile(latency, 0.95);
    state.counters["max_ms"] = percentile(latency, 1.0);
    // Every key frame of the hour in the default cache.
    if (!warm) {
        maker.setCacheLimit(PreviewMaker::kDefaultCacheBytes);
        for (quint64 ms = 0; ms < quint64(kDurationMs); ms += FilePlayer::kIndexInterval)
            ask(ms + 1);
        state.counters["cache_pictures"] = maker.cacheCount();
        state.counters["cache_MB"] = double(maker.cacheBytes()) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_PreviewLatency)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Ten minutes of the demo with sound ("Cap" and "Spk"), played from the
// start at speed state.range(0) (1 or 2; 2 time-stretches the speech) for
// 20 s of wall time on the real player thread, with a sound device: the
// player thread's CPU per second of media, the sound's feeding and
// stretching included. Needs a PulseAudio server (scripts/av-sync runs it on
// its own null sink).
void BM_PlayWithSound(benchmark::State& state)
{
    app();
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        state.SkipWithError("no audio output (start a PulseAudio server)");
        return;
    }
    const QString path = QStringLiteral(SP_BENCH_DATA_DIR "/sound-10min.vro");
    if (QFileInfo(path).size() < 100000) {
        QProcess synth;
        synth.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        synth.start(QStringLiteral(SESSIONTOOL_PATH),
                    {QStringLiteral("synth"), QStringLiteral("-o"), path, QStringLiteral("--seconds"),
                     QStringLiteral("600"), QStringLiteral("--audio")});
        if (!synth.waitForFinished(-1) || synth.exitCode() != 0) {
            state.SkipWithError("sessiontool synth failed");
            return;
        }
    }
    constexpr double kWall = 20.0;
    const int speed = int(state.range(0));
    BenchPlayer bench;
    auto& player = bench.player;
    double cpu = 0, media = 0, wall = 0;
    for (auto _ : state) {
        if (!player->openFile(path)) {
            state.SkipWithError("cannot open");
            break;
        }
        player->setRequestedSpeed(speed);
        player->play();
        const pthread_t thread = static_cast<pthread_t>(player->getThreadId());
        const double c0 = threadCpuSeconds(thread), w0 = wallSeconds();
        const quint64 m0 = player->screenTimeMs();
        while (wallSeconds() < w0 + kWall) {
            QCoreApplication::processEvents();
            Thread::sleep(10);
        }
        cpu = threadCpuSeconds(thread) - c0;
        wall = wallSeconds() - w0;
        media = (player->screenTimeMs() - m0) / 1000.0;
        player->stop();
    }
    state.counters["media_s"] = media;
    state.counters["clock_ratio"] = media / (std::max(1, speed) * wall);
    state.counters["cpu_ms_per_media_s"] = media > 0 ? cpu * 1000 / media : 0;
    state.counters["busy_fraction"] = cpu / wall;
}
BENCHMARK(BM_PlayWithSound)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

#include "EngineBench.moc"
