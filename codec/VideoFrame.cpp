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
    const long long count = static_cast<long long>(width) * height;
    if (count > INT_MAX)
        throw std::bad_alloc();
    m_width = width;
    m_height = height;
    m_pixels.setCount(static_cast<int>(count));
    if (count > 0)
        std::memcpy(m_pixels.data(), source, static_cast<size_t>(count) * sizeof(unsigned int));
}

void VideoFrame::copy(unsigned int* dst, int dstWidth, int dstHeight, const unsigned int* src,
                      int srcWidth, int srcHeight, int dstX, int dstY, int width, int height,
                      int srcX, int srcY)
{
    if (!dst || !src || dstWidth <= 0 || dstHeight <= 0 || srcWidth <= 0 || srcHeight <= 0)
        return;
    if (dstX > dstWidth || dstY > dstHeight)
        return;
    // Clip against the destination.
    if (dstX < 0) {
        width += dstX;
        srcX -= dstX;
        dstX = 0;
    }
    if (dstY < 0) {
        height += dstY;
        srcY -= dstY;
        dstY = 0;
    }
    width = std::min(width, dstWidth - dstX);
    height = std::min(height, dstHeight - dstY);
    // Clip against the source.
    if (srcX >= srcWidth || srcY >= srcHeight)
        return;
    if (srcX < 0) {
        width += srcX;
        dstX -= srcX;
        srcX = 0;
    }
    if (srcY < 0) {
        height += srcY;
        dstY -= srcY;
        srcY = 0;
    }
    width = std::min(width, srcWidth - srcX);
    height = std::min(height, srcHeight - srcY);
    // Moving dstX/dstY right above may have pushed the rectangle off the
    // destination again; cut it once more so no row runs past the edge.
    width = std::min(width, dstWidth - dstX);
    height = std::min(height, dstHeight - dstY);
    if (width <= 0 || height <= 0)
        return;
    for (int r = 0; r < height; ++r) {
        std::memmove(dst + static_cast<size_t>(dstY + r) * dstWidth + dstX,
                     src + static_cast<size_t>(srcY + r) * srcWidth + srcX,
                     static_cast<size_t>(width) * sizeof(unsigned int));
    }
}
