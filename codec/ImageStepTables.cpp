#include "ImageStepTables.h"

#include "ImageEnlarger.h"
#include "ImagePixels.h"
#include "ImageShrinker.h"
#include "VideoFrame.h"

namespace imaging {

void axisSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    if (dstCount <= srcCount)
        ImageShrinker::fillSteps(srcCount, dstCount, steps);
    else
        ImageEnlarger::fillSteps(srcCount, dstCount, steps);
}

void sampleNearest(const unsigned int* src, unsigned int* dst, int dstWidth, int dstHeight,
                   const int* stepsX, const int* rowOffsets)
{
    for (int y = 0; y < dstHeight; ++y) {
        const unsigned int* row = src + rowOffsets[y];
        unsigned int* out = dst + static_cast<long long>(y) * dstWidth;
        for (int x = 0; x < dstWidth; ++x)
            out[x] = row[stepsX[x]];
    }
}

void StepTables::resample(const VideoFrame* src, VideoFrame* dst)
{
    if (!src || !dst)
        return;
    resample(src->pixels(), src->width(), src->height(), dst->pixels(), dst->width(),
             dst->height());
}

void StepTables::resample(const unsigned int* src, int srcWidth, int srcHeight,
                          unsigned int* dst, int dstWidth, int dstHeight)
{
    if (pixelCount(src, srcWidth, srcHeight) < 0 || pixelCount(dst, dstWidth, dstHeight) < 0)
        return;
    if (srcWidth != m_srcWidth || srcHeight != m_srcHeight || dstWidth != m_dstWidth
        || dstHeight != m_dstHeight)
        initialize(srcWidth, srcHeight, dstWidth, dstHeight);
    sampleNearest(src, dst, dstWidth, dstHeight, m_stepsX.data(), m_stepsY.data());
}

void StepTables::initialize(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    if (sizeCount(srcWidth, srcHeight) < 0 || sizeCount(dstWidth, dstHeight) < 0) {
        m_stepsX.setCount(0);
        m_stepsY.setCount(0);
        m_srcWidth = m_srcHeight = m_dstWidth = m_dstHeight = 0;
        return;
    }
    axisSteps(srcWidth, dstWidth, m_stepsX);
    axisSteps(srcHeight, dstHeight, m_stepsY);
    m_stepsYAreOffsets = false;
    optimizeStepsY(srcWidth);
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    ++m_builds;
}

void StepTables::optimizeStepsY(int srcWidth)
{
    if (m_stepsYAreOffsets || srcWidth <= 0)
        return;
    for (int i = 0; i < m_stepsY.count(); ++i)
        m_stepsY[i] *= srcWidth;
    m_stepsYAreOffsets = true;
}

} // namespace imaging
