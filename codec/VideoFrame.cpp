// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoFrame.h"

#include <algorithm>
#include <climits>

VideoFrame::~VideoFrame() = default;

void VideoFrame::clear(unsigned int colour)
{
    unsigned int* p = m_pixels.data();
    const int n = m_pixels.count();
    if (!p || n <= 0)
        return;
    std::fill(p, p + n, colour);
}

void VideoFrame::setPixels(const unsigned int* source, int width, int height)
{
    if (!source || width < 0 || height < 0)
        return;
    const size_t count = takeSize(width, height);
    if (count > 0)
        std::memcpy(m_pixels.data(), source, count * sizeof(unsigned int));
}

namespace {

// One axis of the clipped copy: the destination offset, the source offset and
// the length, cut to both images. 64-bit, so that offsets and lengths may be
// any int without a sum or difference wrapping round. False when nothing of
// the axis is left.
bool clipAxis(long long& dst, long long& src, long long& n, int dstSize, int srcSize)
{
    if (dst > dstSize)
        return false;
    if (dst < 0) {
        n += dst;
        src -= dst;
        dst = 0;
    }
    n = std::min(n, dstSize - dst);
    if (src >= srcSize)
        return false;
    if (src < 0) {
        n += src;
        dst -= src;
        src = 0;
    }
    n = std::min(n, srcSize - src);
    // Moving dst right above may have pushed the rectangle off the
    // destination again.
    n = std::min(n, dstSize - dst);
    return n > 0;
}

} // namespace

void VideoFrame::copy(unsigned int* dst, int dstWidth, int dstHeight, const unsigned int* src,
                      int srcWidth, int srcHeight, int dstX, int dstY, int width, int height,
                      int srcX, int srcY)
{
    if (!dst || !src || dstWidth <= 0 || dstHeight <= 0 || srcWidth <= 0 || srcHeight <= 0)
        return;
    long long dx = dstX, dy = dstY, sx = srcX, sy = srcY, w = width, h = height;
    if (!clipAxis(dx, sx, w, dstWidth, srcWidth) || !clipAxis(dy, sy, h, dstHeight, srcHeight))
        return;
    unsigned int* d = dst + static_cast<size_t>(dy) * dstWidth + dx;
    const unsigned int* s = src + static_cast<size_t>(sy) * srcWidth + sx;
    if (w == 16) {
        // The grid decoder's boxes: a row of known size is copied inline
        // rather than through a library call per row (read whole before it
        // is written, so overlapping rows still copy as memmove would).
        for (long long r = 0; r < h; ++r, d += dstWidth, s += srcWidth) {
            unsigned int row[16];
            std::memcpy(row, s, sizeof row);
            std::memcpy(d, row, sizeof row);
        }
        return;
    }
    for (long long r = 0; r < h; ++r, d += dstWidth, s += srcWidth)
        std::memmove(d, s, static_cast<size_t>(w) * sizeof(unsigned int));
}
