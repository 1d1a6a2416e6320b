#pragma once

#include "Array.h"

// A rectangle of 32-bit pixels in memory: row-major, top row first, no
// padding between rows. A pixel is 0xAARRGGBB; the alpha byte is carried but
// nobody interprets it (decoded colours carry 0xFF there). Pixel (x, y) is
// element y * width() + x of pixels().
//
// A frame has no lock: an owner that shares one between threads guards it
// itself (the drawing scene does, with its own mutex).
class VideoFrame
{
public:
    VideoFrame() = default;
    VideoFrame(const VideoFrame& other) = default;
    VideoFrame& operator=(const VideoFrame& other) = default;
    virtual ~VideoFrame();

    // Negative sizes and the current size change nothing (the pixels stay);
    // any other size makes an all-zero frame. The storage never shrinks.
    void resize(int width, int height)
    {
        if (width < 0 || height < 0)
            return;
        if (width == m_width && height == m_height && m_pixels.count() == width * height)
            return;
        const long long count = static_cast<long long>(width) * height;
        if (count > INT_MAX)
            throw std::bad_alloc();
        m_width = width;
        m_height = height;
        m_pixels.setCount(static_cast<int>(count));
        if (count > 0)
            std::memset(m_pixels.data(), 0, static_cast<size_t>(count) * sizeof(unsigned int));
    }

    // Sets every pixel to colour; an empty frame stays as it is.
    void clear(unsigned int colour);

    // Takes the size width x height and copies that many pixels from source,
    // row-major. A null source or a negative size changes nothing.
    void setPixels(const unsigned int* source, int width, int height);

    // Copies the width x height rectangle at (srcX, srcY) of the source image
    // to (dstX, dstY) of the destination image, clipped to both images: it
    // never reads outside the source nor writes outside the destination.
    static void copy(unsigned int* dst, int dstWidth, int dstHeight, const unsigned int* src,
                     int srcWidth, int srcHeight, int dstX, int dstY, int width, int height,
                     int srcX, int srcY);

    unsigned int* pixels() { return m_pixels.data(); }
    const unsigned int* pixels() const { return m_pixels.data(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isEmpty() const { return m_width <= 0 || m_height <= 0; }

    Array<unsigned int, int>& pixelArray() { return m_pixels; }
    // Work buffer of the in-place scaling and image routines.
    Array<unsigned int, int>& scratch() { return m_scratch; }

private:
    Array<unsigned int, int> m_pixels;
    Array<unsigned int, int> m_scratch;
    int m_width = 0;
    int m_height = 0;
};
