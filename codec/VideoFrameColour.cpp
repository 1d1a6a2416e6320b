// SPDX-License-Identifier: GPL-3.0-or-later
// Colour routines: grey scales, sepia, colour reduction, brightness,
// contrast, gamma, blur and posterising. Results carry alpha 0.

#include "VideoFrame.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "ImagePixels.h"

using imaging::blue;
using imaging::clampByte;
using imaging::green;
using imaging::red;
using imaging::rgb;

namespace {

template <typename Map>
void forEachPixel(unsigned int* buffer, int width, int height, Map map)
{
    const int n = imaging::pixelCount(buffer, width, height);
    for (int i = 0; i < n; ++i)
        buffer[i] = map(buffer[i]);
}

// Applies one 256-entry table to every channel.
void mapChannels(unsigned int* buffer, int width, int height, const unsigned char* table)
{
    forEachPixel(buffer, width, height, [table](unsigned int p) {
        return rgb(table[red(p)], table[green(p)], table[blue(p)]);
    });
}

unsigned int grey(int v) { return rgb(v, v, v); }

int channelSum(unsigned int p) { return red(p) + green(p) + blue(p); }

} // namespace

void VideoFrame::makeGray(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height, [](unsigned int p) { return grey(channelSum(p) / 3); });
}

void VideoFrame::makeGray4Levels(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height, [](unsigned int p) {
        const int s = channelSum(p);
        return grey(((s / 3) & 192) + (s / 192) * 21);
    });
}

void VideoFrame::makeGray8Levels(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height, [](unsigned int p) {
        const int s = channelSum(p);
        int v = ((s / 3) & 224) + (s / 96) * 4;
        if (s >= 384)
            v |= 3;
        return grey(v);
    });
}

void VideoFrame::makeGray16Levels(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height, [](unsigned int p) {
        const int s = channelSum(p);
        return grey(((s / 3) & 240) + s / 48);
    });
}

void VideoFrame::makeSepia(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height, [](unsigned int p) {
        const int g = channelSum(p) / 3;
        const int r = g >= 205 ? 255 : g + 51;
        const int gr = g < 28 ? 0 : (g <= 217 ? g + 38 : 255);
        return rgb(r, gr, g);
    });
}

void VideoFrame::makeColorSepia(unsigned int* buffer, int width, int height)
{
    // Coefficients in thousandths: integer sums truncate exactly as the real
    // products would.
    forEachPixel(buffer, width, height, [](unsigned int p) {
        const int r = red(p), g = green(p), b = blue(p);
        const int nr = (393 * r + 769 * g + 189 * b) / 1000;
        const int ng = (349 * r + 686 * g + 168 * b) / 1000;
        const int nb = (272 * r + 534 * g + 131 * b) / 1000;
        return rgb(nr > 255 ? 255 : nr, ng > 255 ? 255 : ng, nb > 255 ? 255 : nb);
    });
}

void VideoFrame::makeLineArt(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height,
                 [](unsigned int p) { return channelSum(p) >= 384 ? 0xFFFFFFu : 0u; });
}

void VideoFrame::make3bppColor(unsigned int* buffer, int width, int height)
{
    unsigned char table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = v & 0x80 ? 255 : 0;
    mapChannels(buffer, width, height, table);
}

void VideoFrame::make6bppColor(unsigned int* buffer, int width, int height)
{
    static const unsigned char levels[4] = {0, 85, 190, 255};
    unsigned char table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = levels[v >> 6];
    mapChannels(buffer, width, height, table);
}

void VideoFrame::make9bppColor(unsigned int* buffer, int width, int height)
{
    static const unsigned char levels[8] = {0, 36, 72, 108, 144, 180, 216, 255};
    unsigned char table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = levels[v >> 5];
    mapChannels(buffer, width, height, table);
}

void VideoFrame::decreaseColors15bit(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height,
                 [](unsigned int p) { return (p & 0xF8F8F8u) | 0x070707u; });
}

void VideoFrame::decreaseColors12bit(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height,
                 [](unsigned int p) { return (p & 0xF0F0F0u) | 0x0F0F0Fu; });
}

void VideoFrame::decreaseColors9bit(unsigned int* buffer, int width, int height)
{
    forEachPixel(buffer, width, height,
                 [](unsigned int p) { return (p & 0xE0E0E0u) | 0x1F1F1Fu; });
}

void VideoFrame::makeBrightness(unsigned int* buffer, int width, int height, int delta)
{
    // Beyond +-255 every channel saturates anyway; limiting first keeps
    // v + delta inside an int.
    delta = delta < -255 ? -255 : (delta > 255 ? 255 : delta);
    unsigned char table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = static_cast<unsigned char>(clampByte(v + delta));
    mapChannels(buffer, width, height, table);
}

void VideoFrame::makeContrast(unsigned int* buffer, int width, int height, int contrast)
{
    unsigned char table[256];
    for (int v = 0; v < 256; ++v) {
        const long long c = (v - 128LL) * contrast / 100 + 128;
        table[v] = static_cast<unsigned char>(c < 0 ? 0 : (c > 255 ? 255 : c));
    }
    mapChannels(buffer, width, height, table);
}

void VideoFrame::makeGamma(unsigned int* buffer, int width, int height, double gamma)
{
    if (!(gamma > 0) || !std::isfinite(gamma))
        return;
    unsigned char table[256];
    for (int v = 0; v < 256; ++v) {
        const double c = 255.0 * std::pow(v / 255.0, 1.0 / gamma) + 0.5;
        table[v] = static_cast<unsigned char>(c >= 255 ? 255 : (c <= 0 ? 0 : static_cast<int>(c)));
    }
    mapChannels(buffer, width, height, table);
}

void VideoFrame::blur(unsigned int* buffer, int width, int height, int strength)
{
    const int n = imaging::pixelCount(buffer, width, height);
    if (n < 0 || strength < 0 || width < 3 || height < 3)
        return;
    // Read from a copy, so every pixel sees its neighbours' original values.
    std::vector<unsigned int> original(buffer, buffer + n);
    const long long divisor = strength + 12LL;
    for (int y = 1; y + 1 < height; ++y) {
        const unsigned int* above = original.data() + static_cast<long long>(y - 1) * width;
        const unsigned int* here = above + width;
        const unsigned int* below = here + width;
        unsigned int* out = buffer + static_cast<long long>(y) * width;
        for (int x = 1; x + 1 < width; ++x) {
            unsigned int result = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                auto c = [shift](unsigned int p) { return static_cast<long long>((p >> shift) & 0xFF); };
                const long long sum = strength * c(here[x])
                    + 2 * (c(here[x - 1]) + c(here[x + 1]) + c(above[x]) + c(below[x]))
                    + c(above[x - 1]) + c(above[x + 1]) + c(below[x - 1]) + c(below[x + 1]);
                result |= static_cast<unsigned int>(sum / divisor) << shift;
            }
            out[x] = result;
        }
    }
}

void VideoFrame::discretize(unsigned int* buffer, int width, int height, int levels)
{
    if (levels < 2 || levels > 256)
        return;
    const int steps = levels - 1;
    unsigned char table[256];
    for (int v = 0; v < 256; ++v) {
        const int k = (v * steps + 127) / 255;
        table[v] = static_cast<unsigned char>((k * 255 + steps / 2) / steps);
    }
    mapChannels(buffer, width, height, table);
}

void VideoFrame::makeGray() { makeGray(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeGray4Levels() { makeGray4Levels(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeGray8Levels() { makeGray8Levels(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeGray16Levels() { makeGray16Levels(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeSepia() { makeSepia(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeColorSepia() { makeColorSepia(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeLineArt() { makeLineArt(m_pixels.data(), m_width, m_height); }
void VideoFrame::make3bppColor() { make3bppColor(m_pixels.data(), m_width, m_height); }
void VideoFrame::make6bppColor() { make6bppColor(m_pixels.data(), m_width, m_height); }
void VideoFrame::make9bppColor() { make9bppColor(m_pixels.data(), m_width, m_height); }
void VideoFrame::decreaseColors15bit() { decreaseColors15bit(m_pixels.data(), m_width, m_height); }
void VideoFrame::decreaseColors12bit() { decreaseColors12bit(m_pixels.data(), m_width, m_height); }
void VideoFrame::decreaseColors9bit() { decreaseColors9bit(m_pixels.data(), m_width, m_height); }
void VideoFrame::makeBrightness(int delta) { makeBrightness(m_pixels.data(), m_width, m_height, delta); }
void VideoFrame::makeContrast(int contrast) { makeContrast(m_pixels.data(), m_width, m_height, contrast); }
void VideoFrame::makeGamma(double gamma) { makeGamma(m_pixels.data(), m_width, m_height, gamma); }
void VideoFrame::blur(int strength) { blur(m_pixels.data(), m_width, m_height, strength); }
void VideoFrame::discretize(int levels) { discretize(m_pixels.data(), m_width, m_height, levels); }
