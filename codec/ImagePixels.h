// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers shared by the image library's source files (not part of the
// public interface): channel access, the pair average and size checks.

#include <climits>
#include <new>

#include "Array.h"

namespace imaging {

inline int red(unsigned int p) { return static_cast<int>((p >> 16) & 0xFF); }
inline int green(unsigned int p) { return static_cast<int>((p >> 8) & 0xFF); }
inline int blue(unsigned int p) { return static_cast<int>(p & 0xFF); }

// Packs three channels (each already within 0..255) with alpha 0.
inline unsigned int rgb(int r, int g, int b)
{
    return (static_cast<unsigned int>(r) << 16) | (static_cast<unsigned int>(g) << 8)
        | static_cast<unsigned int>(b);
}

inline int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline unsigned int rgbClamped(int r, int g, int b)
{
    return rgb(clampByte(r), clampByte(g), clampByte(b));
}

// Mean of two pixels per channel, rounded down, alpha 0: the common bits plus
// half of the differing ones, with the shift kept inside each channel.
inline unsigned int pairAverage(unsigned int a, unsigned int b)
{
    return ((a & b) & 0xFFFFFFu) + (((a ^ b) >> 1) & 0x7F7F7Fu);
}

// Pixel count of an image that a routine may work on, or -1 when a size is
// not positive, the product does not fit in an int or (pixelCount) the
// buffer is null.
inline int sizeCount(int width, int height)
{
    if (width <= 0 || height <= 0)
        return -1;
    const long long n = static_cast<long long>(width) * height;
    return n > INT_MAX ? -1 : static_cast<int>(n);
}

inline int pixelCount(const void* buffer, int width, int height)
{
    return buffer ? sizeCount(width, height) : -1;
}

// The same for a size that is about to be allocated: too large is an
// allocation failure, never a wrapped-round small count.
inline int allocationCount(long long width, long long height, long long perPixel = 1)
{
    if (width < 0 || height < 0 || perPixel < 0)
        throw std::bad_alloc();
    const long long n = width * height;
    if (n > INT_MAX || n * perPixel > INT_MAX)
        throw std::bad_alloc();
    return static_cast<int>(n * perPixel);
}

// dst(x, y) = src[rowOffsets[y] + stepsX[x]] for a dstWidth x dstHeight dst.
void sampleNearest(const unsigned int* src, unsigned int* dst, int dstWidth, int dstHeight,
                   const int* stepsX, const int* rowOffsets);

} // namespace imaging
