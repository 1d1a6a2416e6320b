#pragma once

#include "Array.h"
#include "ImageStepTables.h"

class VideoFrame;

// Nearest-neighbour enlarging of 32-bit images through Bresenham step tables,
// kept between calls like ImageShrinker's (the two share their table
// machinery, imaging::StepTables). An object is not meant for concurrent use.
//
// Every destination index takes the source index of the enlarging walk. An
// axis that shrinks instead uses the shrinking walk (ImageShrinker).
class ImageEnlarger
{
public:
    ImageEnlarger() = default;
    virtual ~ImageEnlarger();

    // Resamples src into dst at dst's current size; dst is not resized.
    void enlarge(const VideoFrame* src, VideoFrame* dst) { m_steps.resample(src, dst); }
    // The same on raw buffers; dst must hold dstWidth x dstHeight pixels.
    // Null buffers, sizes of 0 or less and images of more than INT_MAX
    // pixels do nothing.
    void enlarge(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                 int dstWidth, int dstHeight)
    {
        m_steps.resample(src, srcWidth, srcHeight, dst, dstWidth, dstHeight);
    }

    // As ImageShrinker::initializeSteps.
    void initializeSteps(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
    {
        m_steps.initialize(srcWidth, srcHeight, dstWidth, dstHeight);
    }
    // One enlarging table of dstCount entries: the walk runs over the
    // destination indices with the error term starting at
    // 2 * srcCount - 2 - dstCount; the source index never passes
    // srcCount - 1. Non-positive counts give an empty table.
    static void fillSteps(int srcCount, int dstCount, Array<int, int>& steps);
    // As ImageShrinker::optimizeStepsY: applied once per build of the tables.
    void optimizeStepsY(int srcWidth) { m_steps.optimizeStepsY(srcWidth); }

    const Array<int, int>& stepsX() const { return m_steps.stepsX(); }
    const Array<int, int>& stepsY() const { return m_steps.stepsY(); }
    int tableBuilds() const { return m_steps.builds(); }

private:
    imaging::StepTables m_steps;
};
