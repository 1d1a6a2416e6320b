#pragma once

#include "Array.h"

class VideoFrame;

namespace imaging {

// The step tables of the nearest-neighbour scaler objects (ImageShrinker,
// ImageEnlarger) and the four sizes they were built for. Both objects resample
// the same way and differ only in their own fillSteps walk; each axis takes
// the walk of its direction (see axisSteps in ImagePixels.h). The tables are
// kept between calls, so scaling many images between the same two sizes
// builds them once. Not for concurrent use.
class StepTables
{
public:
    // Rebuilds the tables when one of the four sizes differs from the
    // recorded ones, then sets dst(x, y) = src[stepsY[y] + stepsX[x]] for
    // every pixel of dst. Null buffers, sizes of 0 or less and images of more
    // than INT_MAX pixels do nothing.
    void resample(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                  int dstWidth, int dstHeight);
    // The same from src into dst at dst's current size; null frames do nothing.
    void resample(const VideoFrame* src, VideoFrame* dst);
    // Builds the x table from the widths and the y table from the heights,
    // turns the y table into row offsets and records the four sizes. Invalid
    // sizes empty both tables and record zeros.
    void initialize(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    // Multiplies every y step by srcWidth, turning row indices into row
    // offsets. initialize already does this; a second call on the same
    // tables is ignored, so the offsets can never be scaled twice.
    void optimizeStepsY(int srcWidth);

    const Array<int, int>& stepsX() const { return m_stepsX; }
    const Array<int, int>& stepsY() const { return m_stepsY; }
    int builds() const { return m_builds; }

private:
    Array<int, int> m_stepsX;
    Array<int, int> m_stepsY;
    int m_srcWidth = 0;
    int m_srcHeight = 0;
    int m_dstWidth = 0;
    int m_dstHeight = 0;
    bool m_stepsYAreOffsets = false;
    int m_builds = 0;
};

} // namespace imaging
