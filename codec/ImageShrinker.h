#pragma once

#include "Array.h"
#include "ImageStepTables.h"

class VideoFrame;

// Nearest-neighbour shrinking of 32-bit images through Bresenham step tables.
// The tables are kept between calls, so scaling many images between the same
// two sizes (a thumbnail strip, say) builds them once. An object is not
// meant for concurrent use; give each thread its own.
//
// Each destination pixel takes the first source pixel that the shrinking walk
// maps onto it. An axis that grows instead of shrinking uses the enlarging
// walk (ImageEnlarger), so every destination pixel is always written.
class ImageShrinker
{
public:
    ImageShrinker() = default;
    virtual ~ImageShrinker();

    // Resamples src into dst at dst's current size; dst is not resized.
    // Null or empty frames do nothing.
    void shrink(const VideoFrame* src, VideoFrame* dst) { m_steps.resample(src, dst); }
    // The same on raw buffers; dst must hold dstWidth x dstHeight pixels.
    // Null buffers, sizes of 0 or less and images of more than INT_MAX
    // pixels do nothing.
    void shrink(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                int dstWidth, int dstHeight)
    {
        m_steps.resample(src, srcWidth, srcHeight, dst, dstWidth, dstHeight);
    }

    // Builds the x table from the widths and the y table from the heights,
    // turns the y table into row offsets and records the four sizes. Invalid
    // sizes empty both tables and record zeros.
    void initializeSteps(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
    {
        m_steps.initialize(srcWidth, srcHeight, dstWidth, dstHeight);
    }
    // One shrinking table of dstCount entries: entry d is the first source
    // index that the Bresenham walk (error term starting at
    // 2 * dstCount - 2 - srcCount) maps to d. Entries the walk cannot reach
    // (dstCount > srcCount) repeat the last source index. Non-positive counts
    // give an empty table.
    static void fillSteps(int srcCount, int dstCount, Array<int, int>& steps);
    // Multiplies every y step by srcWidth, turning row indices into row
    // offsets. initializeSteps already does this; a second call on the same
    // tables is ignored, so the offsets can never be scaled twice.
    void optimizeStepsY(int srcWidth) { m_steps.optimizeStepsY(srcWidth); }

    const Array<int, int>& stepsX() const { return m_steps.stepsX(); }
    const Array<int, int>& stepsY() const { return m_steps.stepsY(); }
    // How often the tables were built (for callers that check reuse).
    int tableBuilds() const { return m_steps.builds(); }

private:
    imaging::StepTables m_steps;
};
