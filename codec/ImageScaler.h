// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"

class VideoFrame;

// Nearest-neighbour scaling of 32-bit images through Bresenham step tables.
// The tables and the four sizes they were made for are kept between calls,
// so scaling many images between the same two sizes (a thumbnail strip, say)
// builds them once. Each axis takes the walk of its direction: the shrinking
// walk when it shrinks or keeps its size (each destination index gets the
// first source index mapped onto it), the enlarging walk when it grows; so
// every destination pixel is always written. An object is not meant for
// concurrent use; give each thread its own.
class ImageScaler
{
public:
    ImageScaler() = default;
    virtual ~ImageScaler();

    // Resamples src into dst at dst's current size; dst is not resized. Null
    // or empty frames do nothing.
    void scale(const VideoFrame* src, VideoFrame* dst);
    // The same on raw buffers; dst must hold dstWidth x dstHeight pixels.
    // Null buffers, sizes of 0 or less and images of more than INT_MAX
    // pixels do nothing. Rebuilds the tables only when a size changed.
    void scale(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
               int dstWidth, int dstHeight);
    template <class... Args> void shrink(Args... args) { scale(args...); }
    template <class... Args> void enlarge(Args... args) { scale(args...); }

    // Builds the x table from the widths and the y table from the heights,
    // turns the y table into row offsets and records the four sizes. Invalid
    // sizes empty both tables and record zeros.
    void initializeSteps(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    // Multiplies every y step by srcWidth, turning row indices into row
    // offsets. initializeSteps already does this; a second call on the same
    // tables is ignored, so the offsets can never be scaled twice.
    void optimizeStepsY(int srcWidth);

    // One shrinking table of dstCount entries: entry d is the first source
    // index that the Bresenham walk (error term starting at
    // 2 * dstCount - 2 - srcCount) maps to d. Entries the walk cannot reach
    // (dstCount > srcCount) repeat the last source index.
    static void fillShrinkSteps(int srcCount, int dstCount, Array<int, int>& steps);
    // One enlarging table of dstCount entries: the walk runs over the
    // destination indices with the error term starting at
    // 2 * srcCount - 2 - dstCount; the source index never passes
    // srcCount - 1.
    // Non-positive counts give an empty table, in both walks.
    static void fillEnlargeSteps(int srcCount, int dstCount, Array<int, int>& steps);
    // The walk of the axis's direction (see above).
    static void fillAxisSteps(int srcCount, int dstCount, Array<int, int>& steps);

    const Array<int, int>& stepsX() const { return m_stepsX; }
    const Array<int, int>& stepsY() const { return m_stepsY; }
    // How often the tables were built (for callers that check reuse).
    int tableBuilds() const { return m_builds; }

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

// The names the library's users know: each is this scaler, shrink and
// enlarge both being scale.
using ImageShrinker = ImageScaler;
using ImageEnlarger = ImageScaler;
