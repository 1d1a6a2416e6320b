// SPDX-License-Identifier: GPL-3.0-or-later
// Orientation changes: mirroring, quarter turns and rotation by any angle.

#include "VideoFrame.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "ImagePixels.h"

using imaging::pixelCount;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Number of clockwise quarter turns when angle is a multiple of 90 degrees
// (within a small tolerance), otherwise -1.
int quarterTurns(double angle)
{
    double a = std::fmod(angle, 360.0);
    if (a < 0)
        a += 360.0;
    const double turns = a / 90.0;
    const double nearest = std::round(turns);
    if (std::fabs(turns - nearest) > 1e-9)
        return -1;
    return static_cast<int>(nearest) % 4;
}

int wholeSize(double v)
{
    const double r = std::round(v);
    double size = std::fabs(v - r) < 1e-6 ? r : std::ceil(v);
    if (size < 1)
        size = 1;
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

// Bilinear sample at continuous source position (u, v) in pixel-centre
// coordinates; neighbours outside the image count as the background colour,
// which gives the turned edges a soft border.
unsigned int sampleSmooth(const unsigned int* src, int width, int height, double u, double v,
                          unsigned int background)
{
    const double fu = std::floor(u), fv = std::floor(v);
    if (fu < -1 || fv < -1 || fu >= width || fv >= height)
        return background;
    const int x0 = static_cast<int>(fu), y0 = static_cast<int>(fv);
    const int fx = static_cast<int>((u - fu) * 256), fy = static_cast<int>((v - fv) * 256);
    auto at = [&](int x, int y) {
        return x < 0 || y < 0 || x >= width || y >= height
            ? background
            : src[static_cast<long long>(y) * width + x];
    };
    const unsigned int a = at(x0, y0), b = at(x0 + 1, y0), c = at(x0, y0 + 1),
                       d = at(x0 + 1, y0 + 1);
    unsigned int result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        const int cc = (c >> shift) & 0xFF, cd = (d >> shift) & 0xFF;
        const int top = ca * (256 - fx) + cb * fx;
        const int bottom = cc * (256 - fx) + cd * fx;
        result |= static_cast<unsigned int>((top * (256 - fy) + bottom * fy) >> 16) << shift;
    }
    return result;
}

} // namespace

void VideoFrame::flipXAxis(unsigned int* buffer, int width, int height)
{
    if (pixelCount(buffer, width, height) < 0)
        return;
    for (long long y = 0; y < height; ++y)
        std::reverse(buffer + y * width, buffer + (y + 1) * width);
}

void VideoFrame::flipYAxis(unsigned int* buffer, int width, int height)
{
    if (pixelCount(buffer, width, height) < 0)
        return;
    for (long long top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(buffer + top * width, buffer + (top + 1) * width, buffer + bottom * width);
}

void VideoFrame::rotate90(const unsigned int* src, int width, int height, unsigned int* dst)
{
    if (!dst || pixelCount(src, width, height) < 0)
        return;
    // (x, y) goes to column height - 1 - y of row x in the height-wide result.
    for (long long y = 0; y < height; ++y) {
        const unsigned int* row = src + y * width;
        for (long long x = 0; x < width; ++x)
            dst[x * height + (height - 1 - y)] = row[x];
    }
}

void VideoFrame::rotate180(unsigned int* buffer, int width, int height)
{
    const int n = pixelCount(buffer, width, height);
    if (n > 0)
        std::reverse(buffer, buffer + n);
}

void VideoFrame::rotate270(const unsigned int* src, int width, int height, unsigned int* dst)
{
    if (!dst || pixelCount(src, width, height) < 0)
        return;
    // (x, y) goes to column y of row width - 1 - x.
    for (long long y = 0; y < height; ++y) {
        const unsigned int* row = src + y * width;
        for (long long x = 0; x < width; ++x)
            dst[(width - 1 - x) * height + y] = row[x];
    }
}

double VideoFrame::max4(double a, double b, double c, double d)
{
    return std::max(std::max(a, b), std::max(c, d));
}

void VideoFrame::calcRotationDestSize(int width, int height, double angle, int& dstWidth,
                                      int& dstHeight)
{
    dstWidth = dstHeight = 0;
    if (width <= 0 || height <= 0 || !std::isfinite(angle))
        return;
    const double t = angle * kPi / 180.0;
    const double c = std::cos(t), s = std::sin(t);
    const double hw = width / 2.0, hh = height / 2.0;
    // The four corners about the centre, turned.
    const double x1 = -hw * c + hh * s, y1 = -hw * s - hh * c;
    const double x2 = hw * c + hh * s, y2 = hw * s - hh * c;
    const double x3 = hw * c - hh * s, y3 = hw * s + hh * c;
    const double x4 = -hw * c - hh * s, y4 = -hw * s + hh * c;
    dstWidth = wholeSize(max4(x1, x2, x3, x4) + max4(-x1, -x2, -x3, -x4));
    dstHeight = wholeSize(max4(y1, y2, y3, y4) + max4(-y1, -y2, -y3, -y4));
}

void VideoFrame::rotate(const unsigned int* src, int width, int height, VideoFrame& dst,
                        double angle, unsigned int background, bool smooth)
{
    if (pixelCount(src, width, height) < 0 || !std::isfinite(angle))
        return;
    // Built apart from dst, so src may be dst's own pixels.
    Array<unsigned int, int> result;
    const int turns = quarterTurns(angle);
    if (turns >= 0) {
        result.setCount(width * height);
        const bool upright = turns % 2 == 0;
        if (turns == 1)
            rotate90(src, width, height, result.data());
        else if (turns == 3)
            rotate270(src, width, height, result.data());
        else
            std::memcpy(result.data(), src, static_cast<size_t>(width) * height * sizeof(unsigned int));
        if (turns == 2)
            rotate180(result.data(), width, height);
        dst.setPixels(result.data(), upright ? width : height, upright ? height : width);
        return;
    }

    int dstWidth = 0, dstHeight = 0;
    calcRotationDestSize(width, height, angle, dstWidth, dstHeight);
    result.setCount(imaging::allocationCount(dstWidth, dstHeight));
    const double t = angle * kPi / 180.0;
    const double c = std::cos(t), s = std::sin(t);
    for (int j = 0; j < dstHeight; ++j) {
        unsigned int* out = result.data() + static_cast<long long>(j) * dstWidth;
        const double dy = j + 0.5 - dstHeight / 2.0;
        for (int i = 0; i < dstWidth; ++i) {
            const double dx = i + 0.5 - dstWidth / 2.0;
            // Turn the destination point back (anticlockwise) into the source.
            const double sx = dx * c + dy * s + width / 2.0;
            const double sy = -dx * s + dy * c + height / 2.0;
            if (smooth) {
                out[i] = sampleSmooth(src, width, height, sx - 0.5, sy - 0.5, background);
            } else {
                const double fx = std::floor(sx), fy = std::floor(sy);
                out[i] = fx >= 0 && fy >= 0 && fx < width && fy < height
                    ? src[static_cast<long long>(fy) * width + static_cast<long long>(fx)]
                    : background;
            }
        }
    }
    dst.setPixels(result.data(), dstWidth, dstHeight);
}

void VideoFrame::flipXAxis() { flipXAxis(m_pixels.data(), m_width, m_height); }

void VideoFrame::flipYAxis() { flipYAxis(m_pixels.data(), m_width, m_height); }

void VideoFrame::rotate90()
{
    if (isEmpty())
        return;
    m_scratch.setCount(m_width * m_height);
    rotate90(m_pixels.data(), m_width, m_height, m_scratch.data());
    setPixels(m_scratch.data(), m_height, m_width);
}

void VideoFrame::rotate180() { rotate180(m_pixels.data(), m_width, m_height); }

void VideoFrame::rotate270()
{
    if (isEmpty())
        return;
    m_scratch.setCount(m_width * m_height);
    rotate270(m_pixels.data(), m_width, m_height, m_scratch.data());
    setPixels(m_scratch.data(), m_height, m_width);
}

void VideoFrame::rotate(double angle, unsigned int background, bool smooth)
{
    rotate(m_pixels.data(), m_width, m_height, *this, angle, background, smooth);
}
