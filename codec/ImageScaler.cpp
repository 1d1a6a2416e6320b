// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageScaler.h"

#include "ImagePixels.h"
#include "VideoFrame.h"

ImageScaler::~ImageScaler() = default;

namespace {

// The Bresenham walk of both tables: `major` runs over majorCount indices
// and `minor` advances whenever the error term (starting at
// 2 * minorCount - 2 - majorCount) is non-negative; visit(major, minor) sees
// every step. 64-bit terms: 2 * count may exceed an int.
template <class Visit>
void walk(int majorCount, int minorCount, Visit visit)
{
    long long e = 2LL * minorCount - 2 - majorCount;
    int minor = 0;
    for (int major = 0; major < majorCount; ++major) {
        visit(major, minor);
        if (e >= 0) {
            ++minor;
            e += 2 - 2LL * majorCount;
        }
        e += 2LL * minorCount - 2;
    }
}

} // namespace

void ImageScaler::fillShrinkSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    steps.setCount(srcCount > 0 && dstCount > 0 ? dstCount : 0);
    if (steps.count() == 0)
        return;
    // Walk the source: a destination index keeps the first source index
    // that reaches it.
    int* out = steps.data();
    int given = 0;
    walk(srcCount, dstCount, [&](int s, int d) {
        if (d == given && given < dstCount)
            out[given++] = s;
    });
    // Only reached when the axis grows: the walk advances at most once per
    // source index, so the tail repeats the last one instead of staying unset.
    for (; given < dstCount; ++given)
        out[given] = srcCount - 1;
}

void ImageScaler::fillEnlargeSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    steps.setCount(srcCount > 0 && dstCount > 0 ? dstCount : 0);
    if (steps.count() == 0)
        return;
    // Walk the destination; the source index is held at the last pixel when
    // the walk is used on an axis that shrinks.
    int* out = steps.data();
    walk(dstCount, srcCount, [&](int d, int s) { out[d] = s < srcCount - 1 ? s : srcCount - 1; });
}

void ImageScaler::fillAxisSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    if (dstCount <= srcCount)
        fillShrinkSteps(srcCount, dstCount, steps);
    else
        fillEnlargeSteps(srcCount, dstCount, steps);
}

void ImageScaler::scale(const VideoFrame* src, VideoFrame* dst)
{
    if (!src || !dst)
        return;
    scale(src->pixels(), src->width(), src->height(), dst->pixels(), dst->width(), dst->height());
}

void ImageScaler::scale(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                        int dstWidth, int dstHeight)
{
    if (imaging::pixelCount(src, srcWidth, srcHeight) < 0
        || imaging::pixelCount(dst, dstWidth, dstHeight) < 0)
        return;
    if (srcWidth != m_srcWidth || srcHeight != m_srcHeight || dstWidth != m_dstWidth
        || dstHeight != m_dstHeight)
        initializeSteps(srcWidth, srcHeight, dstWidth, dstHeight);
    imaging::sampleNearest(src, dst, dstWidth, dstHeight, m_stepsX.data(), m_stepsY.data());
}

void ImageScaler::initializeSteps(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    if (imaging::sizeCount(srcWidth, srcHeight) < 0 || imaging::sizeCount(dstWidth, dstHeight) < 0) {
        m_stepsX.setCount(0);
        m_stepsY.setCount(0);
        m_srcWidth = m_srcHeight = m_dstWidth = m_dstHeight = 0;
        return;
    }
    fillAxisSteps(srcWidth, dstWidth, m_stepsX);
    fillAxisSteps(srcHeight, dstHeight, m_stepsY);
    m_stepsYAreOffsets = false;
    optimizeStepsY(srcWidth);
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    ++m_builds;
}

void ImageScaler::optimizeStepsY(int srcWidth)
{
    if (m_stepsYAreOffsets || srcWidth <= 0)
        return;
    for (int i = 0; i < m_stepsY.count(); ++i)
        m_stepsY[i] *= srcWidth;
    m_stepsYAreOffsets = true;
}

void imaging::sampleNearest(const unsigned int* src, unsigned int* dst, int dstWidth,
                            int dstHeight, const int* stepsX, const int* rowOffsets)
{
    for (int y = 0; y < dstHeight; ++y) {
        const unsigned int* row = src + rowOffsets[y];
        unsigned int* out = dst + static_cast<long long>(y) * dstWidth;
        for (int x = 0; x < dstWidth; ++x)
            out[x] = row[stepsX[x]];
    }
}
