// SPDX-License-Identifier: GPL-3.0-or-later
// Image scaling: the ratio dispatcher on a full-HD frame, to the two sizes a
// thumbnail or export tool asks for most (1280 x 720 takes bilinear zoom,
// 960 x 540 the exact 2 x 2 halving), and the other resamplers at the same
// sizes for comparison.

#include "ImageScaler.h"
#include "VideoFrame.h"

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr int kSrcWidth = 1920, kSrcHeight = 1080;

// A screen-like picture: flat areas with noise, as a recorded desktop has.
const std::vector<unsigned int>& source()
{
    static const std::vector<unsigned int> pixels = [] {
        std::vector<unsigned int> p(static_cast<size_t>(kSrcWidth) * kSrcHeight);
        std::mt19937 rng(1);
        for (int y = 0; y < kSrcHeight; ++y)
            for (int x = 0; x < kSrcWidth; ++x)
                p[static_cast<size_t>(y) * kSrcWidth + x] =
                    0xFF000000u | ((x / 64 * 40) << 16) | ((y / 36 * 8) << 8) | (rng() & 0x1F);
        return p;
    }();
    return pixels;
}

using Resampler = void (*)(const unsigned int*, int, int, unsigned int*, int, int);

void run(benchmark::State& state, Resampler resample)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const std::vector<unsigned int>& src = source();
    std::vector<unsigned int> dst(static_cast<size_t>(w) * h);
    for (auto _ : state) {
        resample(src.data(), kSrcWidth, kSrcHeight, dst.data(), w, h);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSrcWidth * kSrcHeight);
}

void BM_StretchPixels(benchmark::State& state) { run(state, VideoFrame::stretchPixels); }
void BM_ZoomBilinear(benchmark::State& state)
{
    run(state, [](const unsigned int* s, int sw, int sh, unsigned int* d, int dw, int dh) {
        VideoFrame::zoom(s, sw, sh, d, dw, dh, true);
    });
}
void BM_ShrinkPixels(benchmark::State& state) { run(state, VideoFrame::shrinkPixels); }
void BM_ShrinkPixelsQ(benchmark::State& state) { run(state, VideoFrame::shrinkPixelsQ); }
void BM_ShrinkPixelsF(benchmark::State& state) { run(state, VideoFrame::shrinkPixelsF); }

// The scaler object keeps its step tables between frames.
void BM_ImageShrinker(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const std::vector<unsigned int>& src = source();
    std::vector<unsigned int> dst(static_cast<size_t>(w) * h);
    ImageShrinker shrinker;
    for (auto _ : state) {
        shrinker.shrink(src.data(), kSrcWidth, kSrcHeight, dst.data(), w, h);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSrcWidth * kSrcHeight);
}

} // namespace

#define SIZES ->Args({1280, 720})->Args({960, 540})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_StretchPixels) SIZES;
BENCHMARK(BM_ZoomBilinear) SIZES;
BENCHMARK(BM_ShrinkPixels) SIZES;
BENCHMARK(BM_ShrinkPixelsQ) SIZES;
BENCHMARK(BM_ShrinkPixelsF) SIZES;
BENCHMARK(BM_ImageShrinker) SIZES;
