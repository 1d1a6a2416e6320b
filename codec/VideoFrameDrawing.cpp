// SPDX-License-Identifier: GPL-3.0-or-later
// Pixel access and drawing primitives: lines, rectangles, flood fill,
// circles and ellipses. Everything is clipped to the image; coordinates are
// carried in 64 bits so that points near the int limits cannot overflow.

#include "VideoFrame.h"

#include <algorithm>

#include "ImagePixels.h"

using imaging::pixelCount;

namespace {

void plot(unsigned int* buffer, int width, int height, long long x, long long y,
          unsigned int colour)
{
    if (x >= 0 && y >= 0 && x < width && y < height)
        buffer[y * width + x] = colour;
}

// Horizontal run x1..x2 (x1 <= x2) on row y, clipped.
void span(unsigned int* buffer, int width, int height, long long x1, long long x2, long long y,
          unsigned int colour)
{
    if (y < 0 || y >= height)
        return;
    x1 = std::max(x1, 0LL);
    x2 = std::min(x2, width - 1LL);
    if (x1 > x2)
        return;
    std::fill(buffer + y * width + x1, buffer + y * width + x2 + 1, colour);
}

// n / d rounded to the nearest integer, halves away from zero (d > 0).
long long roundDiv(__int128 n, long long d)
{
    const __int128 magnitude = (2 * (n < 0 ? -n : n) + d) / (2 * static_cast<__int128>(d));
    return static_cast<long long>(n < 0 ? -magnitude : magnitude);
}

// Plots the four mirror images of the quadrant point (x, y) or, filled, the
// two spans between them.
void quadrantPoints(unsigned int* buffer, int width, int height, long long cx, long long cy,
                    long long x, long long y, unsigned int colour, bool filled)
{
    if (filled) {
        span(buffer, width, height, cx - x, cx + x, cy - y, colour);
        span(buffer, width, height, cx - x, cx + x, cy + y, colour);
        return;
    }
    plot(buffer, width, height, cx + x, cy + y, colour);
    plot(buffer, width, height, cx - x, cy + y, colour);
    plot(buffer, width, height, cx + x, cy - y, colour);
    plot(buffer, width, height, cx - x, cy - y, colour);
}

// Farthest distance from c to a pixel of an axis of `size` pixels: once a
// walk's offset along that axis exceeds it, nothing it plots there is seen.
long long reach(long long c, int size) { return std::max(c, size - 1 - c); }

// Ends a walk that has left the image sideways for good: the outline has
// nothing more to show, and a filled shape covers every row within dy of
// the centre from edge to edge.
void finishOffscreen(unsigned int* buffer, int width, int height, long long cy, long long dy,
                     unsigned int colour, bool filled)
{
    if (!filled)
        return;
    for (long long y = std::max(cy - dy, 0LL); y <= std::min(cy + dy, height - 1LL); ++y)
        span(buffer, width, height, 0, width - 1, y, colour);
}

// False when the box of radius rx, ry about (cx, cy) misses the image.
bool touchesImage(int width, int height, long long cx, long long cy, long long rx, long long ry)
{
    return cx + rx >= 0 && cx - rx < width && cy + ry >= 0 && cy - ry < height;
}

} // namespace

unsigned int VideoFrame::getPixel(const unsigned int* buffer, int width, int height, int x, int y)
{
    if (pixelCount(buffer, width, height) < 0 || x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    return buffer[static_cast<long long>(y) * width + x];
}

void VideoFrame::setPixel(unsigned int* buffer, int width, int height, int x, int y,
                          unsigned int colour)
{
    if (pixelCount(buffer, width, height) >= 0)
        plot(buffer, width, height, x, y, colour);
}

void VideoFrame::hLine(unsigned int* buffer, int width, int height, int x1, int x2, int y,
                       unsigned int colour)
{
    if (pixelCount(buffer, width, height) < 0)
        return;
    span(buffer, width, height, std::min(x1, x2), std::max(x1, x2), y, colour);
}

void VideoFrame::vLine(unsigned int* buffer, int width, int height, int x, int y1, int y2,
                       unsigned int colour)
{
    if (pixelCount(buffer, width, height) < 0 || x < 0 || x >= width)
        return;
    const int top = std::max(std::min(y1, y2), 0);
    const int bottom = std::min(std::max(y1, y2), height - 1);
    for (long long y = top; y <= bottom; ++y)
        buffer[y * width + x] = colour;
}

void VideoFrame::line(unsigned int* buffer, int width, int height, int x1, int y1, int x2, int y2,
                      unsigned int colour)
{
    if (pixelCount(buffer, width, height) < 0)
        return;
    long long dx = static_cast<long long>(x2) - x1;
    long long dy = static_cast<long long>(y2) - y1;
    if (dx == 0 && dy == 0) {
        plot(buffer, width, height, x1, y1, colour);
        return;
    }
    const bool wide = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    // Sort along the longer axis so both directions give the same pixels,
    // then visit only the part of that axis that lies in the image.
    if ((wide && dx < 0) || (!wide && dy < 0)) {
        std::swap(x1, x2);
        std::swap(y1, y2);
        dx = -dx;
        dy = -dy;
    }
    if (wide) {
        const long long from = std::max<long long>(x1, 0);
        const long long to = std::min<long long>(x2, width - 1LL);
        for (long long x = from; x <= to; ++x)
            plot(buffer, width, height, x, y1 + roundDiv(static_cast<__int128>(x - x1) * dy, dx),
                 colour);
    } else {
        const long long from = std::max<long long>(y1, 0);
        const long long to = std::min<long long>(y2, height - 1LL);
        for (long long y = from; y <= to; ++y)
            plot(buffer, width, height, x1 + roundDiv(static_cast<__int128>(y - y1) * dx, dy), y,
                 colour);
    }
}

void VideoFrame::rectangle(unsigned int* buffer, int width, int height, int x1, int y1, int x2,
                           int y2, unsigned int colour)
{
    hLine(buffer, width, height, x1, x2, y1, colour);
    hLine(buffer, width, height, x1, x2, y2, colour);
    vLine(buffer, width, height, x1, y1, y2, colour);
    vLine(buffer, width, height, x2, y1, y2, colour);
}

void VideoFrame::bar(unsigned int* buffer, int width, int height, int x1, int y1, int x2, int y2,
                     unsigned int colour)
{
    if (pixelCount(buffer, width, height) < 0)
        return;
    const long long top = std::max(std::min(y1, y2), 0);
    const long long bottom = std::min(std::max(y1, y2), height - 1);
    for (long long y = top; y <= bottom; ++y)
        span(buffer, width, height, std::min(x1, x2), std::max(x1, x2), y, colour);
}

void VideoFrame::fill(unsigned int* buffer, int width, int height, int x, int y,
                      unsigned int colour)
{
    Array<int, int> stack;
    scanLineFloodFill(buffer, width, height, x, y, colour, stack);
}

void VideoFrame::floodFillPush(Array<int, int>& stack, int index)
{
    // Array grows by a fixed step; doubling the step keeps a deep fill from
    // copying the stack on every push.
    if (stack.count() == stack.capacity())
        stack.setGrowBy(std::max(64, stack.count()));
    stack.append(index);
}

bool VideoFrame::floodFillPop(Array<int, int>& stack, int& index)
{
    const int n = stack.count();
    if (n <= 0)
        return false;
    index = stack[n - 1];
    stack.setCount(n - 1);
    return true;
}

void VideoFrame::scanLineFloodFill(unsigned int* buffer, int width, int height, int x, int y,
                                   unsigned int colour, Array<int, int>& stack)
{
    if (pixelCount(buffer, width, height) < 0 || x < 0 || y < 0 || x >= width || y >= height)
        return;
    const unsigned int old = buffer[static_cast<long long>(y) * width + x];
    if (old == colour)
        return;
    stack.setCount(0);
    floodFillPush(stack, y * width + x);
    int index = 0;
    while (floodFillPop(stack, index)) {
        const int row = index / width;
        unsigned int* line = buffer + static_cast<long long>(row) * width;
        int left = index % width;
        if (line[left] != old)
            continue; // filled since it was pushed
        while (left > 0 && line[left - 1] == old)
            --left;
        // Fill the run; push the first pixel of every run of the old colour
        // met directly above and below it.
        bool runAbove = false, runBelow = false;
        for (int cx = left; cx < width && line[cx] == old; ++cx) {
            line[cx] = colour;
            if (row > 0) {
                const bool match = line[cx - width] == old;
                if (match && !runAbove)
                    floodFillPush(stack, index - (index % width) - width + cx);
                runAbove = match;
            }
            if (row + 1 < height) {
                const bool match = line[cx + width] == old;
                if (match && !runBelow)
                    floodFillPush(stack, index - (index % width) + width + cx);
                runBelow = match;
            }
        }
    }
}

void VideoFrame::circle(unsigned int* buffer, int width, int height, int cx, int cy, int r,
                        unsigned int colour, bool filled)
{
    rasterCircle(buffer, width, height, cx, cy, r, colour, filled);
}

void VideoFrame::_circle(unsigned int* buffer, int width, int height, int cx, int cy, int x,
                         int y, unsigned int colour, bool filled)
{
    if (pixelCount(buffer, width, height) < 0)
        return;
    quadrantPoints(buffer, width, height, cx, cy, x, y, colour, filled);
    quadrantPoints(buffer, width, height, cx, cy, y, x, colour, filled);
}

void VideoFrame::rasterCircle(unsigned int* buffer, int width, int height, int cx, int cy, int r,
                              unsigned int colour, bool filled)
{
    if (pixelCount(buffer, width, height) < 0 || r < 0
        || !touchesImage(width, height, cx, cy, r, r))
        return;
    // Midpoint walk over the octant from (0, r) to the diagonal; d is the
    // circle equation at the midpoint between the two candidate rows.
    const long long farX = reach(cx, width), farY = reach(cy, height);
    long long x = 0, y = r, d = 1 - static_cast<long long>(r);
    while (x <= y) {
        if (x > farX && x > farY) {
            finishOffscreen(buffer, width, height, cy, y, colour, filled);
            return;
        }
        _circle(buffer, width, height, cx, cy, static_cast<int>(x), static_cast<int>(y), colour,
                filled);
        if (d < 0) {
            d += 2 * x + 3;
        } else {
            d += 2 * (x - y) + 5;
            --y;
        }
        ++x;
    }
}

void VideoFrame::rasterCircle2(unsigned int* buffer, int width, int height, int cx, int cy, int r,
                               unsigned int colour, bool filled)
{
    if (pixelCount(buffer, width, height) < 0 || r < 0
        || !touchesImage(width, height, cx, cy, r, r))
        return;
    // Quadrant walk from (0, r) to (r, 0), one horizontal or vertical step at
    // a time, whichever lands nearer the circle (|x^2 + y^2 - r^2|).
    const long long r2 = static_cast<long long>(r) * r;
    const long long farX = reach(cx, width);
    long long x = 0, y = r;
    for (;;) {
        if (x > farX) {
            finishOffscreen(buffer, width, height, cy, y, colour, filled);
            return;
        }
        quadrantPoints(buffer, width, height, cx, cy, x, y, colour, filled);
        if (x == r && y == 0)
            break;
        const long long right = (x + 1) * (x + 1) + y * y - r2;
        const long long down = x * x + (y - 1) * (y - 1) - r2;
        // On a tie the step outwards wins, which keeps the centre of a
        // radius-1 circle clear.
        const bool goRight =
            y == 0 || (x < r && (right < 0 ? -right : right) <= (down < 0 ? -down : down));
        if (goRight)
            ++x;
        else
            --y;
    }
}

void VideoFrame::ellipse(unsigned int* buffer, int width, int height, int cx, int cy, int rx,
                         int ry, unsigned int colour, bool filled)
{
    if (pixelCount(buffer, width, height) < 0 || rx < 0 || ry < 0
        || !touchesImage(width, height, cx, cy, rx, ry))
        return;
    if (ry == 0) {
        span(buffer, width, height, static_cast<long long>(cx) - rx,
             static_cast<long long>(cx) + rx, cy, colour);
        return;
    }
    // Midpoint algorithm; the decision terms reach rx^2 * ry^2, hence 128
    // bits. Each term is evaluated afresh at the midpoint (scaled by 4).
    const __int128 a2 = static_cast<__int128>(rx) * rx;
    const __int128 b2 = static_cast<__int128>(ry) * ry;
    const long long farX = reach(cx, width);
    long long x = 0, y = ry;
    // Region 1: the curve is flatter than 45 degrees; x steps every time.
    while (b2 * x < a2 * y) {
        if (x > farX) {
            finishOffscreen(buffer, width, height, cy, y, colour, filled);
            return;
        }
        quadrantPoints(buffer, width, height, cx, cy, x, y, colour, filled);
        const __int128 m = 4 * b2 * (x + 1) * (x + 1) + a2 * (2 * y - 1) * (2 * y - 1) - 4 * a2 * b2;
        ++x;
        if (m >= 0)
            --y;
    }
    // Region 2: steeper; y steps every time.
    auto outside = [&](long long px, long long py) {
        // (px + 1/2, py) lies on or outside the ellipse.
        return b2 * (2 * px + 1) * (2 * px + 1) + 4 * a2 * py * py - 4 * a2 * b2 >= 0;
    };
    const long long farY = reach(cy, height);
    if (y > farY + 1 && outside(x, y)) {
        // Rows up to farY + 1 lie beyond the image. The curve is steep here
        // (its half-width grows by at most one a row), so x keeps pace with
        // it: at any later row the walk holds the smallest x (not below the
        // current one) whose right midpoint is not inside. Jump there.
        const long long target = farY + 1;
        long long lo = x, hi = std::max<long long>(x, rx);
        while (lo < hi) {
            const long long mid = lo + (hi - lo) / 2;
            if (outside(mid, target))
                hi = mid;
            else
                lo = mid + 1;
        }
        x = lo;
        y = target;
    }
    while (y >= 0) {
        if (x > farX) {
            finishOffscreen(buffer, width, height, cy, y, colour, filled);
            return;
        }
        quadrantPoints(buffer, width, height, cx, cy, x, y, colour, filled);
        const __int128 m = b2 * (2 * x + 1) * (2 * x + 1) + 4 * a2 * (y - 1) * (y - 1) - 4 * a2 * b2;
        --y;
        if (m < 0)
            ++x;
    }
}

unsigned int VideoFrame::getPixel(int x, int y) const
{
    return getPixel(m_pixels.data(), m_width, m_height, x, y);
}

void VideoFrame::setPixel(int x, int y, unsigned int colour)
{
    setPixel(m_pixels.data(), m_width, m_height, x, y, colour);
}

void VideoFrame::hLine(int x1, int x2, int y, unsigned int colour)
{
    hLine(m_pixels.data(), m_width, m_height, x1, x2, y, colour);
}

void VideoFrame::vLine(int x, int y1, int y2, unsigned int colour)
{
    vLine(m_pixels.data(), m_width, m_height, x, y1, y2, colour);
}

void VideoFrame::line(int x1, int y1, int x2, int y2, unsigned int colour)
{
    line(m_pixels.data(), m_width, m_height, x1, y1, x2, y2, colour);
}

void VideoFrame::rectangle(int x1, int y1, int x2, int y2, unsigned int colour)
{
    rectangle(m_pixels.data(), m_width, m_height, x1, y1, x2, y2, colour);
}

void VideoFrame::bar(int x1, int y1, int x2, int y2, unsigned int colour)
{
    bar(m_pixels.data(), m_width, m_height, x1, y1, x2, y2, colour);
}

void VideoFrame::fill(int x, int y, unsigned int colour)
{
    fill(m_pixels.data(), m_width, m_height, x, y, colour);
}

void VideoFrame::circle(int cx, int cy, int r, unsigned int colour, bool filled)
{
    circle(m_pixels.data(), m_width, m_height, cx, cy, r, colour, filled);
}

void VideoFrame::rasterCircle2(int cx, int cy, int r, unsigned int colour, bool filled)
{
    rasterCircle2(m_pixels.data(), m_width, m_height, cx, cy, r, colour, filled);
}

void VideoFrame::ellipse(int cx, int cy, int rx, int ry, unsigned int colour, bool filled)
{
    ellipse(m_pixels.data(), m_width, m_height, cx, cy, rx, ry, colour, filled);
}
