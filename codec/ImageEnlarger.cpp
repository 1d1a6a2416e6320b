#include "ImageEnlarger.h"

#include "ImagePixels.h"
#include "VideoFrame.h"

ImageEnlarger::~ImageEnlarger() = default;

void ImageEnlarger::enlarge(const VideoFrame* src, VideoFrame* dst)
{
    if (!src || !dst)
        return;
    enlarge(src->pixels(), src->width(), src->height(), dst->pixels(), dst->width(),
            dst->height());
}

void ImageEnlarger::enlarge(const unsigned int* src, int srcWidth, int srcHeight,
                            unsigned int* dst, int dstWidth, int dstHeight)
{
    if (imaging::pixelCount(src, srcWidth, srcHeight) < 0
        || imaging::pixelCount(dst, dstWidth, dstHeight) < 0)
        return;
    if (srcWidth != m_srcWidth || srcHeight != m_srcHeight || dstWidth != m_dstWidth
        || dstHeight != m_dstHeight)
        initializeSteps(srcWidth, srcHeight, dstWidth, dstHeight);
    imaging::sampleNearest(src, dst, dstWidth, dstHeight, m_stepsX.data(), m_stepsY.data());
}

void ImageEnlarger::initializeSteps(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    if (imaging::sizeCount(srcWidth, srcHeight) < 0 || imaging::sizeCount(dstWidth, dstHeight) < 0) {
        m_stepsX.setCount(0);
        m_stepsY.setCount(0);
        m_srcWidth = m_srcHeight = m_dstWidth = m_dstHeight = 0;
        return;
    }
    imaging::axisSteps(srcWidth, dstWidth, m_stepsX);
    imaging::axisSteps(srcHeight, dstHeight, m_stepsY);
    m_stepsYAreOffsets = false;
    optimizeStepsY(srcWidth);
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    ++m_tableBuilds;
}

void ImageEnlarger::fillSteps(int srcCount, int dstCount, Array<int, int>& steps)
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

void ImageEnlarger::optimizeStepsY(int srcWidth)
{
    if (m_stepsYAreOffsets || srcWidth <= 0)
        return;
    for (int i = 0; i < m_stepsY.count(); ++i)
        m_stepsY[i] *= srcWidth;
    m_stepsYAreOffsets = true;
}
