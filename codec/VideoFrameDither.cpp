// SPDX-License-Identifier: GPL-3.0-or-later
// Ordered (4 x 4 pattern) and Floyd-Steinberg dithering. Results carry
// alpha 0.

#include "VideoFrame.h"

#include <vector>

#include "ImagePixels.h"

using imaging::blue;
using imaging::green;
using imaging::red;
using imaging::rgb;

// Pattern rows for y mod 4 = 0, 1, 2, 3; level 0 (black) to 15 (white).
const unsigned char VideoFrame::DITHERS_UP[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 1, 0}, {0, 1, 0, 0},
    {0, 1, 0, 1}, {0, 1, 0, 1}, {0, 1, 0, 1}, {0, 1, 1, 1}, {1, 1, 0, 1}, {1, 0, 1, 1},
    {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1},
};
const unsigned char VideoFrame::DITHERS_UM[16][4] = {
    {0, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 1, 0},
    {1, 0, 0, 0}, {1, 0, 1, 0}, {1, 0, 1, 0}, {1, 0, 1, 0}, {0, 1, 1, 1}, {1, 1, 1, 0},
    {1, 1, 1, 0}, {1, 1, 1, 0}, {1, 1, 0, 1}, {1, 1, 1, 1},
};
const unsigned char VideoFrame::DITHERS_DM[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 0, 1},
    {0, 1, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1}, {1, 1, 0, 1}, {1, 1, 0, 1}, {0, 1, 1, 1},
    {0, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1},
};
const unsigned char VideoFrame::DITHERS_DN[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 1, 0, 0}, {1, 0, 1, 0},
    {1, 0, 1, 0}, {1, 0, 1, 0}, {1, 0, 1, 0}, {1, 0, 1, 0}, {1, 0, 1, 0}, {1, 1, 0, 1},
    {1, 1, 0, 1}, {1, 0, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1},
};

namespace {

bool patternBit(int x, int y, int level)
{
    static const unsigned char (*const rows[4])[4] = {
        VideoFrame::DITHERS_UP, VideoFrame::DITHERS_UM, VideoFrame::DITHERS_DM,
        VideoFrame::DITHERS_DN};
    // x and y may be negative; the pattern repeats every 4 pixels either way.
    return rows[y & 3][level][x & 3] != 0;
}

// Floyd-Steinberg over one channel plane at a time would need three passes;
// instead the errors of all three channels travel together. quantise maps a
// wanted value (any int) to the value written.
template <typename Quantise>
void diffuse(unsigned int* buffer, int width, int height, bool greyOnly, Quantise quantise)
{
    if (imaging::pixelCount(buffer, width, height) < 0)
        return;
    // Error rows, one spare column on each side so the neighbours need no
    // edge tests; three channels interleaved.
    const size_t rowSize = (static_cast<size_t>(width) + 2) * 3;
    std::vector<int> current(rowSize, 0), next(rowSize, 0);
    for (int y = 0; y < height; ++y) {
        unsigned int* row = buffer + static_cast<long long>(y) * width;
        std::fill(next.begin(), next.end(), 0);
        const bool lastRow = y + 1 == height;
        for (int x = 0; x < width; ++x) {
            const unsigned int p = row[x];
            int wanted[3];
            if (greyOnly) {
                const int g = (red(p) + green(p) + blue(p)) / 3;
                wanted[0] = wanted[1] = wanted[2] = g;
            } else {
                wanted[0] = red(p);
                wanted[1] = green(p);
                wanted[2] = blue(p);
            }
            int written[3];
            const int channels = greyOnly ? 1 : 3;
            for (int c = 0; c < channels; ++c) {
                const size_t at = (static_cast<size_t>(x) + 1) * 3 + c;
                const int value = wanted[c] + current[at];
                written[c] = quantise(value);
                const int error = value - written[c];
                // Shares truncated towards zero, as error * 0.4375 etc. would.
                if (x + 1 < width)
                    current[at + 3] += error * 7 / 16;
                if (!lastRow) {
                    if (x > 0)
                        next[at - 3] += error * 3 / 16;
                    next[at] += error * 5 / 16;
                    if (x + 1 < width)
                        next[at + 3] += error * 1 / 16;
                }
            }
            if (greyOnly)
                written[1] = written[2] = written[0];
            row[x] = rgb(written[0], written[1], written[2]);
        }
        current.swap(next);
    }
}

int threshold128(int v) { return v >= 128 ? 255 : 0; }

// The ordered dithers: every pixel replaced by map(x, y, pixel).
template <typename Map>
void mapWithPosition(unsigned int* buffer, int width, int height, Map map)
{
    if (imaging::pixelCount(buffer, width, height) < 0)
        return;
    for (int y = 0; y < height; ++y) {
        unsigned int* row = buffer + static_cast<long long>(y) * width;
        for (int x = 0; x < width; ++x)
            row[x] = map(x, y, row[x]);
    }
}

} // namespace

unsigned int VideoFrame::ditherPixel(int x, int y, unsigned int colour)
{
    const int level = (red(colour) + green(colour) + blue(colour)) / 48;
    return patternBit(x, y, level) ? 0xFFFFFFu : 0u;
}

int VideoFrame::ditherGrayValue(int x, int y, int grey)
{
    const int level = imaging::clampByte(grey) / 16;
    return patternBit(x, y, level) ? 255 : 0;
}

void VideoFrame::makeDither(unsigned int* buffer, int width, int height)
{
    mapWithPosition(buffer, width, height, ditherPixel);
}

void VideoFrame::makeRGBDither(unsigned int* buffer, int width, int height)
{
    mapWithPosition(buffer, width, height, [](int x, int y, unsigned int p) {
        return rgb(ditherGrayValue(x, y, red(p)), ditherGrayValue(x, y, green(p)),
                   ditherGrayValue(x, y, blue(p)));
    });
}

void VideoFrame::makeFSDither(unsigned int* buffer, int width, int height)
{
    diffuse(buffer, width, height, true, threshold128);
}

void VideoFrame::makeFSRGBDither(unsigned int* buffer, int width, int height)
{
    diffuse(buffer, width, height, false, threshold128);
}

void VideoFrame::make6bppFSDither(unsigned int* buffer, int width, int height)
{
    diffuse(buffer, width, height, false, [](int v) {
        // Nearest of 0, 85, 190, 255; the midpoints are 42.5, 137.5, 222.5,
        // so a tie cannot occur and "lower on a tie" never applies.
        if (v <= 42)
            return 0;
        if (v <= 137)
            return 85;
        if (v <= 222)
            return 190;
        return 255;
    });
}

void VideoFrame::make9bppFSDither(unsigned int* buffer, int width, int height)
{
    static const int levels[8] = {0, 36, 72, 108, 144, 180, 216, 255};
    diffuse(buffer, width, height, false, [](int v) {
        if (v > 255)
            return 255;
        if (v < 0)
            return 0;
        return levels[v / 36];
    });
}

void VideoFrame::makeDither() { makeDither(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeRGBDither() { makeRGBDither(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeFSDither() { makeFSDither(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeFSRGBDither() { makeFSRGBDither(m_pixels.data(), m_width, m_height); }
void VideoFrame::make6bppFSDither() { make6bppFSDither(m_pixels.data(), m_width, m_height); }
void VideoFrame::make9bppFSDither() { make9bppFSDither(m_pixels.data(), m_width, m_height); }
