// SPDX-License-Identifier: GPL-3.0-or-later
// Resamplers of the image library: the ratio dispatcher, fixed-point zoom,
// area averaging, 2 x 2 halving and the nearest-neighbour and box-filter
// shrinkers.

#include "VideoFrame.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "ImagePixels.h"
#include "ImageScaler.h"

using imaging::pixelCount;

namespace {

bool validPair(const unsigned int* src, int srcWidth, int srcHeight, const unsigned int* dst,
               int dstWidth, int dstHeight)
{
    return pixelCount(src, srcWidth, srcHeight) >= 0 && pixelCount(dst, dstWidth, dstHeight) >= 0;
}

// Per-destination-index source ranges [begin, end) of one axis, from the
// Bresenham table: on a shrinking axis a destination index covers every
// source index from its own first one up to the next one's, on a growing
// axis just its one sample.
void axisRanges(int srcCount, int dstCount, std::vector<int>& begin, std::vector<int>& end)
{
    Array<int, int> steps;
    ImageScaler::fillAxisSteps(srcCount, dstCount, steps);
    begin.assign(steps.data(), steps.data() + dstCount);
    end.resize(static_cast<size_t>(dstCount));
    for (int d = 0; d < dstCount; ++d) {
        if (dstCount <= srcCount)
            end[d] = d + 1 < dstCount ? steps[d + 1] : srcCount;
        else
            end[d] = steps[d] + 1;
    }
}

// Source index -> destination index of the shrinking walk.
std::vector<int> shrinkMap(int srcCount, int dstCount)
{
    std::vector<int> begin, end;
    axisRanges(srcCount, dstCount, begin, end);
    std::vector<int> map(static_cast<size_t>(srcCount));
    for (int d = 0; d < dstCount; ++d)
        for (int s = begin[d]; s < end[d]; ++s)
            map[s] = d;
    return map;
}

// Box-filter bounds: source index s belongs to destination index d when
// d * f - 1/2 <= s < (d + 1) * f - 1/2 with f = src / dst. Worked out exactly
// as ceil((2 * d * src - dst) / (2 * dst)), so neighbouring boxes always meet
// and, since f >= 1, no box is empty.
int boxStart(long long d, long long srcCount, long long dstCount)
{
    const long long num = 2 * d * srcCount - dstCount;
    const long long den = 2 * dstCount;
    if (num <= 0)
        return 0;
    return static_cast<int>((num + den - 1) / den);
}

std::vector<int> boxBounds(int srcCount, int dstCount)
{
    std::vector<int> bounds(static_cast<size_t>(dstCount) + 1);
    for (int d = 0; d < dstCount; ++d)
        bounds[d] = boxStart(d, srcCount, dstCount);
    bounds[dstCount] = srcCount;
    return bounds;
}

bool boxFilterApplies(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    return dstWidth <= srcWidth && dstHeight <= srcHeight
        && (dstWidth < srcWidth || dstHeight < srcHeight);
}

struct ChannelSums {
    uint64_t r = 0, g = 0, b = 0, n = 0;

    void add(unsigned int p)
    {
        r += imaging::red(p);
        g += imaging::green(p);
        b += imaging::blue(p);
        ++n;
    }

    unsigned int mean() const
    {
        return imaging::rgb(static_cast<int>(r / n), static_cast<int>(g / n),
                            static_cast<int>(b / n));
    }
};

// Shared by shrinkPixelsM and shrinkPixelsMediumQ: every source pixel is
// placed at (mapX[x], mapY[y]); a pixel that lands where the current
// destination row already has one is averaged with it.
void shrinkByMapping(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                     int dstWidth, const std::vector<int>& mapX, const std::vector<int>& mapY)
{
    int lastRow = -1;
    for (int y = 0; y < srcHeight; ++y) {
        const int dy = mapY[y];
        const bool freshRow = dy != lastRow;
        lastRow = dy;
        const unsigned int* row = src + static_cast<long long>(y) * srcWidth;
        unsigned int* out = dst + static_cast<long long>(dy) * dstWidth;
        int previous = -1;
        for (int x = 0; x < srcWidth; ++x) {
            const int dx = mapX[x];
            if (freshRow && dx != previous)
                out[dx] = row[x];
            else
                out[dx] = imaging::pairAverage(out[dx], row[x]);
            previous = dx;
        }
    }
}

// Accumulators of shrinkPixelsQF, one set for the whole program.
std::mutex s_qfLock;
std::vector<uint64_t> s_qfRed, s_qfGreen, s_qfBlue, s_qfCount;

} // namespace

void VideoFrame::stretchPixels(const unsigned int* src, int srcWidth, int srcHeight,
                               unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight))
        return;
    if (srcWidth == dstWidth && srcHeight == dstHeight) {
        std::memmove(dst, src, static_cast<size_t>(srcWidth) * srcHeight * sizeof(unsigned int));
        return;
    }
    if (dstWidth > srcWidth) {
        zoom(src, srcWidth, srcHeight, dst, dstWidth, dstHeight, true);
        return;
    }
    const long long percent = static_cast<long long>(dstWidth) * 100 / srcWidth;
    // The 2 x 2 path writes exactly half the source in both directions, so
    // it is taken only when that is the size the caller asked for.
    if (percent == 50 && srcHeight >= 2 && dstWidth == srcWidth / 2
        && dstHeight == srcHeight / 2)
        shrinkHalf(dst, src, srcWidth, srcHeight);
    else if (percent >= 60)
        zoom(src, srcWidth, srcHeight, dst, dstWidth, dstHeight, true);
    else
        shrinkPixels(src, srcWidth, srcHeight, dst, dstWidth, dstHeight);
}

void VideoFrame::stretchPixels(int width, int height)
{
    if (isEmpty() || width <= 0 || height <= 0 || (width == m_width && height == m_height))
        return;
    const int count = imaging::allocationCount(width, height);
    m_scratch.setCount(count);
    stretchPixels(m_pixels.data(), m_width, m_height, m_scratch.data(), width, height);
    resize(width, height);
    std::memcpy(m_pixels.data(), m_scratch.data(), static_cast<size_t>(count) * sizeof(unsigned int));
}

void VideoFrame::stretchPixels(unsigned int* dst, int width, int height) const
{
    stretchPixels(m_pixels.data(), m_width, m_height, dst, width, height);
}

void VideoFrame::zoom(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                      int dstWidth, int dstHeight, bool bilinear)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight))
        return;
    // 16.16 steps; bilinear spreads the source's first to last pixel over the
    // destination so that the right and lower neighbours stay inside.
    const long long stepX = (bilinear ? srcWidth - 1LL : srcWidth) * 65536 / dstWidth;
    const long long stepY = (bilinear ? srcHeight - 1LL : srcHeight) * 65536 / dstHeight;

    // Entry k + 1 = fraction of entry k + step: the upper bits are the whole
    // pixels to advance, the lower 16 the fraction at that column. The
    // positions are summed up front so the inner loop only indexes.
    auto table = [](long long step, int count, std::vector<int>& pos, std::vector<int>& frac,
                    int limit) {
        pos.resize(static_cast<size_t>(count));
        frac.resize(static_cast<size_t>(count));
        long long entry = 0;
        long long at = 0;
        for (int k = 0; k < count; ++k) {
            if (k > 0) {
                entry = (entry & 0xFFFF) + step;
                at += entry >> 16;
            }
            pos[k] = static_cast<int>(at < limit ? at : limit);
            frac[k] = static_cast<int>(entry & 0xFFFF);
        }
    };
    std::vector<int> posX, fracX, posY, fracY;
    table(stepX, dstWidth, posX, fracX, srcWidth - 1);
    table(stepY, dstHeight, posY, fracY, srcHeight - 1);

    for (int y = 0; y < dstHeight; ++y) {
        const unsigned int* row0 = src + static_cast<long long>(posY[y]) * srcWidth;
        unsigned int* out = dst + static_cast<long long>(y) * dstWidth;
        if (!bilinear) {
            for (int x = 0; x < dstWidth; ++x)
                out[x] = row0[posX[x]];
            continue;
        }
        const unsigned int* row1 = posY[y] + 1 < srcHeight ? row0 + srcWidth : row0;
        const unsigned int fy = static_cast<unsigned int>(fracY[y]);
        for (int x = 0; x < dstWidth; ++x) {
            const int x0 = posX[x];
            const int x1 = x0 + 1 < srcWidth ? x0 + 1 : x0;
            const unsigned int fx = static_cast<unsigned int>(fracX[x]);
            const unsigned int a = row0[x0], b = row0[x1], c = row1[x0], d = row1[x1];
            unsigned int result = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                const unsigned int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
                const unsigned int cc = (c >> shift) & 0xFF, cd = (d >> shift) & 0xFF;
                const unsigned int top = (ca * (65536 - fx) + cb * fx) >> 16;
                const unsigned int bottom = (cc * (65536 - fx) + cd * fx) >> 16;
                result |= ((top * (65536 - fy) + bottom * fy) >> 16) << shift;
            }
            out[x] = result;
        }
    }
}

void VideoFrame::shrinkPixels(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight))
        return;
    std::vector<int> xBegin, xEnd, yBegin, yEnd;
    axisRanges(srcWidth, dstWidth, xBegin, xEnd);
    axisRanges(srcHeight, dstHeight, yBegin, yEnd);
    // One accumulator per destination column, restarted for every
    // destination row.
    std::vector<ChannelSums> acc(static_cast<size_t>(dstWidth));
    std::vector<unsigned int> lastSample(static_cast<size_t>(dstWidth));
    for (int dy = 0; dy < dstHeight; ++dy) {
        std::fill(acc.begin(), acc.end(), ChannelSums());
        for (int sy = yBegin[dy]; sy < yEnd[dy]; ++sy) {
            const unsigned int* row = src + static_cast<long long>(sy) * srcWidth;
            for (int dx = 0; dx < dstWidth; ++dx) {
                for (int sx = xBegin[dx]; sx < xEnd[dx]; ++sx)
                    acc[dx].add(row[sx]);
                lastSample[dx] = row[xEnd[dx] - 1];
            }
        }
        unsigned int* out = dst + static_cast<long long>(dy) * dstWidth;
        for (int dx = 0; dx < dstWidth; ++dx)
            out[dx] = acc[dx].n < 2 ? lastSample[dx] : acc[dx].mean();
    }
}

void VideoFrame::shrinkHalf()
{
    if (m_width < 2 || m_height < 2)
        return;
    const int width = m_width / 2, height = m_height / 2;
    const int count = width * height;
    m_scratch.setCount(count);
    shrinkHalf(m_scratch.data(), m_pixels.data(), m_width, m_height);
    resize(width, height);
    std::memcpy(m_pixels.data(), m_scratch.data(), static_cast<size_t>(count) * sizeof(unsigned int));
}

int VideoFrame::shrinkHalf(unsigned int* dst, const unsigned int* src, int width, int height)
{
    if (!dst || pixelCount(src, width, height) < 0 || width < 2 || height < 2)
        return 0;
    const int dstWidth = width / 2, dstHeight = height / 2;
    for (int y = 0; y < dstHeight; ++y) {
        const unsigned int* top = src + 2LL * y * width;
        const unsigned int* bottom = top + width;
        unsigned int* out = dst + static_cast<long long>(y) * dstWidth;
        for (int x = 0; x < dstWidth; ++x) {
            const unsigned int upper = imaging::pairAverage(top[2 * x], top[2 * x + 1]);
            const unsigned int lower = imaging::pairAverage(bottom[2 * x], bottom[2 * x + 1]);
            out[x] = imaging::pairAverage(upper, lower);
        }
    }
    return dstHeight;
}

void VideoFrame::shrinkFast(int width, int height)
{
    if (isEmpty() || width <= 0 || height <= 0 || (width == m_width && height == m_height))
        return;
    const int count = imaging::allocationCount(width, height);
    m_scratch.setCount(count);
    shrinkPixelsF(m_pixels.data(), m_width, m_height, m_scratch.data(), width, height);
    resize(width, height);
    std::memcpy(m_pixels.data(), m_scratch.data(), static_cast<size_t>(count) * sizeof(unsigned int));
}

void VideoFrame::shrinkPixelsF(const unsigned int* src, int srcWidth, int srcHeight,
                               unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight))
        return;
    Array<int, int> stepsX, stepsY;
    ImageScaler::fillAxisSteps(srcWidth, dstWidth, stepsX);
    ImageScaler::fillAxisSteps(srcHeight, dstHeight, stepsY);
    for (int i = 0; i < stepsY.count(); ++i)
        stepsY[i] *= srcWidth;
    imaging::sampleNearest(src, dst, dstWidth, dstHeight, stepsX.data(), stepsY.data());
}

void VideoFrame::enlargePixels(const unsigned int* src, int srcWidth, int srcHeight,
                               unsigned int* dst, int dstWidth, int dstHeight)
{
    // The per-axis choice of walk makes this the same resampler as
    // shrinkPixelsF; both names are kept for their callers.
    shrinkPixelsF(src, srcWidth, srcHeight, dst, dstWidth, dstHeight);
}

void VideoFrame::shrinkPixelsM(const unsigned int* src, int srcWidth, int srcHeight,
                               unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight) || dstWidth > srcWidth
        || dstHeight > srcHeight)
        return;
    // x * dw / sw truncated, in exact integer arithmetic.
    std::vector<int> mapX(static_cast<size_t>(srcWidth)), mapY(static_cast<size_t>(srcHeight));
    for (int x = 0; x < srcWidth; ++x)
        mapX[x] = static_cast<int>(static_cast<long long>(x) * dstWidth / srcWidth);
    for (int y = 0; y < srcHeight; ++y)
        mapY[y] = static_cast<int>(static_cast<long long>(y) * dstHeight / srcHeight);
    shrinkByMapping(src, srcWidth, srcHeight, dst, dstWidth, mapX, mapY);
}

void VideoFrame::shrinkPixelsMediumQ(const unsigned int* src, int srcWidth, int srcHeight,
                                     unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight) || dstWidth > srcWidth
        || dstHeight > srcHeight)
        return;
    shrinkByMapping(src, srcWidth, srcHeight, dst, dstWidth, shrinkMap(srcWidth, dstWidth),
                    shrinkMap(srcHeight, dstHeight));
}

void VideoFrame::shrinkPixelsQ(const unsigned int* src, int srcWidth, int srcHeight,
                               unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight)
        || !boxFilterApplies(srcWidth, srcHeight, dstWidth, dstHeight))
        return;
    const std::vector<int> bx = boxBounds(srcWidth, dstWidth);
    const std::vector<int> by = boxBounds(srcHeight, dstHeight);
    for (int dy = 0; dy < dstHeight; ++dy) {
        unsigned int* out = dst + static_cast<long long>(dy) * dstWidth;
        for (int dx = 0; dx < dstWidth; ++dx) {
            ChannelSums sum;
            for (int sy = by[dy]; sy < by[dy + 1]; ++sy) {
                const unsigned int* row = src + static_cast<long long>(sy) * srcWidth;
                for (int sx = bx[dx]; sx < bx[dx + 1]; ++sx)
                    sum.add(row[sx]);
            }
            out[dx] = sum.mean();
        }
    }
}

void VideoFrame::shrinkPixelsQF(const unsigned int* src, int srcWidth, int srcHeight,
                                unsigned int* dst, int dstWidth, int dstHeight)
{
    if (!validPair(src, srcWidth, srcHeight, dst, dstWidth, dstHeight)
        || !boxFilterApplies(srcWidth, srcHeight, dstWidth, dstHeight))
        return;
    // The accumulators are shared by every caller; without the lock two
    // threads would resize and sum into the same arrays.
    std::lock_guard<std::mutex> guard(s_qfLock);
    const std::vector<int> bx = boxBounds(srcWidth, dstWidth);
    const std::vector<int> by = boxBounds(srcHeight, dstHeight);
    const size_t n = static_cast<size_t>(dstWidth);
    s_qfRed.assign(n, 0);
    s_qfGreen.assign(n, 0);
    s_qfBlue.assign(n, 0);
    s_qfCount.assign(n, 0);
    // Column -> destination column, so each source row is summed in one pass.
    std::vector<int> column(static_cast<size_t>(srcWidth));
    for (int dx = 0; dx < dstWidth; ++dx)
        for (int sx = bx[dx]; sx < bx[dx + 1]; ++sx)
            column[sx] = dx;
    for (int dy = 0; dy < dstHeight; ++dy) {
        for (int sy = by[dy]; sy < by[dy + 1]; ++sy) {
            const unsigned int* row = src + static_cast<long long>(sy) * srcWidth;
            for (int sx = 0; sx < srcWidth; ++sx) {
                const int dx = column[sx];
                s_qfRed[dx] += imaging::red(row[sx]);
                s_qfGreen[dx] += imaging::green(row[sx]);
                s_qfBlue[dx] += imaging::blue(row[sx]);
                ++s_qfCount[dx];
            }
        }
        unsigned int* out = dst + static_cast<long long>(dy) * dstWidth;
        for (int dx = 0; dx < dstWidth; ++dx) {
            const uint64_t c = s_qfCount[dx];
            out[dx] = imaging::rgb(static_cast<int>(s_qfRed[dx] / c),
                                   static_cast<int>(s_qfGreen[dx] / c),
                                   static_cast<int>(s_qfBlue[dx] / c));
            s_qfRed[dx] = s_qfGreen[dx] = s_qfBlue[dx] = s_qfCount[dx] = 0;
        }
    }
}
