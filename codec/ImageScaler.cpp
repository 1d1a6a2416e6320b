#include "ImageScaler.h"

#include "ImagePixels.h"
#include "VideoFrame.h"

ImageScaler::~ImageScaler() = default;

void ImageScaler::fillShrinkSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    if (srcCount <= 0 || dstCount <= 0) {
        steps.setCount(0);
        return;
    }
    steps.setCount(dstCount);
    int* out = steps.data();
    // Walk the source; the destination index advances whenever the error
    // term is non-negative, and a destination index keeps the first source
    // index that reaches it. 64-bit terms: 2 * count may exceed an int.
    long long e = 2LL * dstCount - 2 - srcCount;
    int d = 0;
    int given = 0;
    for (int s = 0; s < srcCount && given < dstCount; ++s) {
        if (d == given)
            out[given++] = s;
        if (e >= 0) {
            ++d;
            e += 2 - 2LL * srcCount;
        }
        e += 2LL * dstCount - 2;
    }
    // Only reached when the axis grows: the walk advances at most once per
    // source index, so the tail repeats the last one instead of staying unset.
    for (; given < dstCount; ++given)
        out[given] = srcCount - 1;
}

void ImageScaler::fillEnlargeSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    if (srcCount <= 0 || dstCount <= 0) {
        steps.setCount(0);
        return;
    }
    steps.setCount(dstCount);
    int* out = steps.data();
    // Walk the destination; the source index advances whenever the error
    // term is non-negative. It is held at the last pixel when the walk is
    // used on an axis that shrinks.
    long long e = 2LL * srcCount - 2 - dstCount;
    int s = 0;
    for (int d = 0; d < dstCount; ++d) {
        out[d] = s;
        if (e >= 0) {
            if (s < srcCount - 1)
                ++s;
            e += 2 - 2LL * dstCount;
        }
        e += 2LL * srcCount - 2;
    }
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
