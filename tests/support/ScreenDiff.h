// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Comparing screens in tests and fuzz harnesses. Header only, codec library
// only; a target uses it by adding tests/support to its include path.

#include <algorithm>
#include <cstdlib>

#include "VideoFrame.h"

// How far two pixel areas lie apart in their colour channels (the alpha byte
// is not interpreted).
struct PixelDiff
{
    int differing = 0; // pixels of another colour
    int worst = 0;     // the largest difference of one channel
    double mean = 0;   // the mean difference per channel
};

// Compares the w x h area at (x, y) of two screens `stride` pixels wide.
inline PixelDiff diffPixels(const unsigned int* a, const unsigned int* b, int stride, int x,
                            int y, int w, int h)
{
    PixelDiff d;
    long long total = 0;
    for (int row = y; row < y + h; ++row) {
        for (int col = x; col < x + w; ++col) {
            const unsigned int p = a[row * stride + col], q = b[row * stride + col];
            d.differing += ((p ^ q) & 0xFFFFFFu) != 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int c = std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF));
                d.worst = std::max(d.worst, c);
                total += c;
            }
        }
    }
    if (w > 0 && h > 0)
        d.mean = double(total) / (3.0 * w * h);
    return d;
}

// Same size and the same colour in every pixel.
inline bool sameScreen(const VideoFrame& a, const VideoFrame& b)
{
    return a.width() == b.width() && a.height() == b.height()
        && diffPixels(a.pixels(), b.pixels(), a.width(), 0, 0, a.width(), a.height()).differing
        == 0;
}
