// SPDX-License-Identifier: GPL-3.0-or-later
// Line-by-line scalers: nearest neighbour with quotient and remainder
// stepping, and the smoothed form that mixes in the right neighbour when a
// sample falls past the middle of its source pixel.

#include "VideoFrame.h"

#include <cstring>
#include <vector>

#include "ImagePixels.h"

namespace {

// Walks source positions in steps of src / dst: index plus a remainder in
// units of 1 / dst.
struct Stepper {
    int quotient;
    int remainder;
    int divisor;
    int index = 0;
    int error = 0;

    Stepper(int srcCount, int dstCount)
        : quotient(srcCount / dstCount), remainder(srcCount % dstCount), divisor(dstCount)
    {
    }

    void advance()
    {
        index += quotient;
        error += remainder;
        if (error >= divisor) {
            error -= divisor;
            ++index;
        }
    }
    // At or past half a step beyond the current source pixel.
    bool pastHalf() const { return error >= divisor / 2 && error > 0; }
};

// Leading samples that repeat the first source pixel when enlarging.
int leadingRepeats(int srcCount, int dstCount)
{
    if (dstCount <= srcCount)
        return 0;
    const long long k = dstCount / (2LL * srcCount) + 1;
    return static_cast<int>(k < dstCount ? k : dstCount);
}

} // namespace

void VideoFrame::ScaleLine(unsigned int* dst, const unsigned int* src, int srcCount, int dstCount)
{
    if (!dst || !src || srcCount <= 0 || dstCount <= 0)
        return;
    Stepper step(srcCount, dstCount);
    for (int n = 0; n < dstCount; ++n) {
        dst[n] = src[step.index];
        step.advance();
    }
}

void VideoFrame::ScaleRect(unsigned int* dst, const unsigned int* src, int srcWidth,
                           int srcHeight, int dstWidth, int dstHeight)
{
    if (imaging::pixelCount(src, srcWidth, srcHeight) < 0
        || imaging::pixelCount(dst, dstWidth, dstHeight) < 0)
        return;
    Stepper rows(srcHeight, dstHeight);
    int previous = -1;
    for (int y = 0; y < dstHeight; ++y) {
        unsigned int* out = dst + static_cast<long long>(y) * dstWidth;
        if (rows.index == previous)
            std::memcpy(out, out - dstWidth, static_cast<size_t>(dstWidth) * sizeof(unsigned int));
        else
            ScaleLine(out, src + static_cast<long long>(rows.index) * srcWidth, srcWidth, dstWidth);
        previous = rows.index;
        rows.advance();
    }
}

void VideoFrame::ScaleLineAvg(const unsigned int* src, int srcCount, unsigned int* dst,
                              int dstCount)
{
    if (!dst || !src || srcCount <= 0 || dstCount <= 0)
        return;
    const int repeats = leadingRepeats(srcCount, dstCount);
    for (int n = 0; n < repeats; ++n)
        dst[n] = src[0];
    Stepper step(srcCount, dstCount);
    for (int n = repeats; n < dstCount; ++n) {
        unsigned int p = src[step.index];
        // The last source pixel has no right neighbour to mix in.
        if (step.pastHalf() && step.index + 1 < srcCount)
            p = imaging::pairAverage(p, src[step.index + 1]);
        dst[n] = p;
        step.advance();
    }
}

void VideoFrame::ScaleRectAvg(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight)
{
    if (imaging::pixelCount(src, srcWidth, srcHeight) < 0
        || imaging::pixelCount(dst, dstWidth, dstHeight) < 0)
        return;
    std::vector<unsigned int> below(static_cast<size_t>(dstWidth));
    auto sourceRow = [&](int index) { return src + static_cast<long long>(index) * srcWidth; };
    const int repeats = leadingRepeats(srcHeight, dstHeight);
    Stepper rows(srcHeight, dstHeight);
    for (int y = 0; y < dstHeight; ++y) {
        unsigned int* out = dst + static_cast<long long>(y) * dstWidth;
        if (y < repeats) {
            ScaleLineAvg(sourceRow(0), srcWidth, out, dstWidth);
            continue;
        }
        ScaleLineAvg(sourceRow(rows.index), srcWidth, out, dstWidth);
        if (rows.pastHalf() && rows.index + 1 < srcHeight) {
            ScaleLineAvg(sourceRow(rows.index + 1), srcWidth, below.data(), dstWidth);
            for (int x = 0; x < dstWidth; ++x)
                out[x] = imaging::pairAverage(out[x], below[x]);
        }
        rows.advance();
    }
}
