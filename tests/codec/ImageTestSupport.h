// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers shared by the image library tests.

#include <random>
#include <vector>

#include "VideoFrame.h"

namespace imagetest {

using Pixels = std::vector<unsigned int>;

// A pixel with alpha 0, as the routines write them.
inline unsigned int rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }
inline unsigned int grey(int v) { return rgb(v, v, v); }

inline Pixels randomImage(int width, int height, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    Pixels p(static_cast<size_t>(width) * height);
    for (auto& v : p)
        v = rng();
    return p;
}

// A w x h frame of zeros.
inline VideoFrame blank(int w, int h)
{
    VideoFrame f;
    f.resize(w, h);
    return f;
}

inline Pixels pixelsOf(const VideoFrame& f)
{
    return Pixels(f.pixels(), f.pixels() + static_cast<size_t>(f.width()) * f.height());
}

} // namespace imagetest
