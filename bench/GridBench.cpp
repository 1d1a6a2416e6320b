// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the grid codec on synthetic 1920 x 1080 screens: decoding a whole
// screen of one kind of box, with a listener that copies every box into a
// screen frame as the player does, and encoding a whole screen the way the
// index builder does (first encode after setScreenDimension, and an
// unchanged re-encode).
#include "GridDecoder.h"
#include "GridEncoder.h"
#include "ScreenFrame.h"

#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

namespace {

constexpr int W = 1920, H = 1080;

enum Content { Runs, TwoColours, SixteenColours, Photo, Mixed };

void paintBox(VideoFrame& f, int bx, int by, Content kind, std::mt19937& rng)
{
    static const unsigned int desk[] = {0xFF204080, 0xFFF0F0F0, 0xFF303030, 0xFF808080, 0xFFE0E0C0};
    unsigned int palette[16];
    for (unsigned int& c : palette)
        c = 0xFF000000u | (rng() & 0xFFFFFF);
    // Single colours come in runs of eight boxes from a small set, as on a
    // desktop.
    const unsigned int flat = desk[((by / 16) * 7 + (bx / 128)) % 5];
    const int base = int(rng() % 128) + 40;
    for (int y = by; y < std::min(by + 16, H); ++y) {
        for (int x = bx; x < bx + 16; ++x) {
            unsigned int p = flat;
            switch (kind) {
            case Runs:
                break;
            case TwoColours:
                p = palette[(rng() % 4) == 0];
                break;
            case SixteenColours:
                p = palette[(x + y + (rng() & 3)) % 16];
                break;
            case Photo: {
                const int v = base + (x - bx) * 3 + (y - by) * 2 + int(rng() % 9);
                p = 0xFF000000u | unsigned(v) << 16 | unsigned(255 - v) << 8 | unsigned(v / 2);
                break;
            }
            case Mixed:
                break;
            }
            f.pixels()[y * W + x] = p;
        }
    }
}

VideoFrame makeScreen(Content content)
{
    std::mt19937 rng(42);
    VideoFrame f;
    f.resize(W, H);
    for (int by = 0; by < H; by += 16) {
        for (int bx = 0; bx < W; bx += 16) {
            Content kind = content;
            if (content == Mixed) {
                // A desktop with windows of text and a picture.
                const int r = int(rng() % 20);
                kind = r < 12 ? Runs : r < 17 ? TwoColours : r < 19 ? SixteenColours : Photo;
            }
            paintBox(f, bx, by, kind, rng);
        }
    }
    return f;
}

// The screen of a player: every decoded box is copied into it.
struct ScreenListener : ScreenFrame
{
    ScreenListener() { resize(W, H); }
};

void BM_Decode(benchmark::State& state)
{
    const Content content = Content(state.range(0));
    VideoFrame frame = makeScreen(content);
    GridEncoder encoder;
    encoder.setScreenDimension(W, H);
    Array<unsigned char, int> unused;
    encoder.encode(&frame, 0, 0, W, H, unused);
    const Array<unsigned char, int> data = encoder.output();

    GridDecoder decoder;
    ScreenListener listener;
    decoder.m_listener = &listener;
    unsigned char header[GridFormat::kScreenHeaderSize];
    GridFormat::writeScreenHeader(W, H, GridFormat::jpegScaleForQuality(90), header);
    decoder.decodeScreen(header, GridFormat::kScreenHeaderSize);
    for (auto _ : state) {
        decoder.decode(data.data(), data.count());
        benchmark::ClobberMemory();
    }
    state.counters["MPix/s"] = benchmark::Counter(W * H / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes"] = data.count();
}
BENCHMARK(BM_Decode)->Arg(Runs)->Arg(TwoColours)->Arg(SixteenColours)->Arg(Photo)->Arg(Mixed)
    ->ArgName("content")->Unit(benchmark::kMillisecond);

// The same pixels as BM_Decode/content:3, a mosaic of photographic boxes,
// decoded by libjpeg-turbo as one 4:4:4 image with the same quantisation
// tables (its quality 87 is our factor 26) and its accurate integer IDCT,
// into a 32-bit frame: the figure the box decode is measured against. It
// pays one JPEG set-up per picture, we pay one per 16 x 16 box.
void BM_DecodeLibjpegTurbo(benchmark::State& state)
{
    VideoFrame frame = makeScreen(Photo);
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(compressor, reinterpret_cast<const unsigned char*>(frame.pixels()), W, W * 4,
                    H, TJPF_BGRX, &jpeg, &size, TJSAMP_444, 87, 0) != 0) {
        state.SkipWithError("tjCompress2 failed");
        return;
    }
    tjhandle decompressor = tjInitDecompress();
    std::vector<unsigned int> out(size_t(W) * H);
    for (auto _ : state) {
        tjDecompress2(decompressor, jpeg, size, reinterpret_cast<unsigned char*>(out.data()), W,
                      W * 4, H, TJPF_BGRX, 0);
        benchmark::ClobberMemory();
    }
    state.counters["MPix/s"] = benchmark::Counter(W * H / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes"] = double(size);
    tjFree(jpeg);
    tjDestroy(compressor);
    tjDestroy(decompressor);
}
BENCHMARK(BM_DecodeLibjpegTurbo)->Unit(benchmark::kMillisecond);

// The floor under every decode figure: the listener's copy of 8160 boxes
// into the screen, with nothing decoded.
void BM_CopyOnly(benchmark::State& state)
{
    ScreenListener listener;
    VideoFrame box;
    box.resize(16, 16);
    box.clear(0xFF123456);
    for (auto _ : state) {
        for (int y = 0; y < H; y += 16)
            for (int x = 0; x < W; x += 16)
                listener.onBoxDecoded(&box, x, y, 16, std::min(16, H - y));
        benchmark::ClobberMemory();
    }
    state.counters["MPix/s"] = benchmark::Counter(W * H / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CopyOnly)->Unit(benchmark::kMillisecond);

void BM_EncodeFirst(benchmark::State& state)
{
    VideoFrame frame = makeScreen(Content(state.range(0)));
    GridEncoder encoder;
    Array<unsigned char, int> unused;
    for (auto _ : state) {
        encoder.setScreenDimension(W, H);
        encoder.encode(&frame, 0, 0, W, H, unused);
    }
    state.counters["MPix/s"] = benchmark::Counter(W * H / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes"] = encoder.output().count();
}
BENCHMARK(BM_EncodeFirst)->Arg(Runs)->Arg(TwoColours)->Arg(SixteenColours)->Arg(Photo)->Arg(Mixed)
    ->ArgName("content")->Unit(benchmark::kMillisecond);

void BM_EncodeUnchanged(benchmark::State& state)
{
    VideoFrame frame = makeScreen(Mixed);
    GridEncoder encoder;
    Array<unsigned char, int> unused;
    encoder.setScreenDimension(W, H);
    encoder.encode(&frame, 0, 0, W, H, unused);
    for (auto _ : state)
        encoder.encode(&frame, 0, 0, W, H, unused);
    state.counters["MPix/s"] = benchmark::Counter(W * H / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EncodeUnchanged)->Unit(benchmark::kMillisecond);

} // namespace
