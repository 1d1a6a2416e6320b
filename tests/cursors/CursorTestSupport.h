// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <vector>

#include <QRgb>

// A serialised cursor record: type, then width, height, hot spot and the
// pixel-byte count L as big-endian 16-bit numbers, then L bytes of fill.
inline std::vector<unsigned char> cursorRecord(int type, int w, int h, int hotX, int hotY,
                                               int pixelBytes, unsigned char fill = 0)
{
    std::vector<unsigned char> r = {static_cast<unsigned char>(type)};
    for (int v : {w, h, hotX, hotY, pixelBytes}) {
        r.push_back(static_cast<unsigned char>(v >> 8));
        r.push_back(static_cast<unsigned char>(v));
    }
    r.resize(r.size() + pixelBytes, fill);
    return r;
}

// A w x h record of type 2 in one colour (pixels stored B, G, R, A).
inline std::vector<unsigned char> solidCursor(int w, int h, QRgb colour, int hotX = 0, int hotY = 0)
{
    auto r = cursorRecord(2, w, h, hotX, hotY, w * h * 4);
    for (int i = 0; i < w * h * 4; ++i)
        r[11 + i] = static_cast<unsigned char>(colour >> (8 * (i % 4)));
    return r;
}
