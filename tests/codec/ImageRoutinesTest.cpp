// SPDX-License-Identifier: GPL-3.0-or-later
// Orientation changes and the bitmap font.

#include "VideoFrame.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

using namespace imagetest;

namespace {

VideoFrame numbered(int w, int h)
{
    VideoFrame f = blank(w, h);
    for (int i = 0; i < w * h; ++i)
        f.pixels()[i] = 0xFF000000u | (i + 1);
    return f;
}

// The frame after `change`, as numbers 1.. of the original pixels.
template <typename Change>
std::vector<int> order(VideoFrame f, Change change)
{
    change(f);
    std::vector<int> out;
    for (unsigned int p : pixelsOf(f))
        out.push_back(static_cast<int>(p & 0xFFFFFF));
    return out;
}

} // namespace

TEST(ImageRoutinesTest, FlipsAndTurns)
{
    using V = std::vector<int>; // numbered(3, 2) is 1 2 3 / 4 5 6
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.flipXAxis(); }), (V{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.flipYAxis(); }), (V{4, 5, 6, 1, 2, 3}));
    // Clockwise: the left column, read bottom-up, becomes the top row.
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.rotate90(); }), (V{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.rotate270(); }), (V{3, 6, 2, 5, 1, 4}));
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.rotate180(); }), (V{6, 5, 4, 3, 2, 1}));
    // Any angle: multiples of 90 degrees as the quarter turns.
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.rotate(90.0, 0, true); }), (V{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(order(numbered(3, 2), [](VideoFrame& g) { g.rotate(-90.0, 0, false); }), (V{3, 6, 2, 5, 1, 4}));

    // Four turns either way, two half turns, a full 720 degrees: identity.
    const VideoFrame original = numbered(5, 3);
    const std::vector<int> same = order(original, [](VideoFrame&) {});
    EXPECT_EQ(order(original, [](VideoFrame& g) {
                  for (int i = 0; i < 4; ++i)
                      g.rotate90();
                  for (int i = 0; i < 4; ++i)
                      g.rotate270();
                  g.rotate180();
                  g.rotate180();
                  g.rotate(720.0, 0, false);
              }),
              same);
}

TEST(ImageRoutinesTest, RotationByAnyAngle)
{
    int w = 0, h = 0;
    VideoFrame::calcRotationDestSize(10, 10, 45.0, w, h);
    EXPECT_EQ(w * 100 + h, 15 * 100 + 15); // 10 * sqrt(2) = 14.14

    // 45 degrees: the centre keeps its colour, the corners show background.
    VideoFrame square = blank(10, 10);
    square.clear(0xFF204080u);
    square.rotate(45.0, 0xFFFFFFFFu, false);
    ASSERT_EQ(square.width(), 15);
    EXPECT_EQ(square.getPixel(7, 7), 0xFF204080u);
    EXPECT_EQ(square.getPixel(0, 0) & square.getPixel(14, 14), 0xFFFFFFFFu);

    // A static call may rotate a frame's own pixels into itself; a
    // non-finite angle does nothing.
    VideoFrame self = numbered(4, 2);
    VideoFrame::rotate(self.pixels(), 4, 2, self, 180.0, 0, false);
    EXPECT_EQ(self.pixels()[0], 0xFF000008u);
    self.rotate(std::numeric_limits<double>::quiet_NaN(), 0, false);
    EXPECT_EQ(self.width(), 4);
}

TEST(ImageRoutinesTest, FontAndText)
{
    // Each font pixel is a size x size square; the pen moves 8 x size.
    VideoFrame text = blank(40, 20), glyphs = blank(40, 20);
    text.drawText(1, 2, "Hi", 0xFFFFFFu, 2);
    glyphs.drawChar(1, 2, 'H', 0xFFFFFFu, 2);
    glyphs.drawChar(17, 2, 'i', 0xFFFFFFu, 2);
    EXPECT_EQ(pixelsOf(text), pixelsOf(glyphs));
    for (int r = 0; r < VideoFrame::FONT_HEIGHT; ++r)
        for (int c = 0; c < VideoFrame::FONT_WIDTH; ++c) {
            const bool on = VideoFrame::fontRow('H', r) & (0x80 >> c);
            for (int d = 0; d < 4; ++d)
                ASSERT_EQ(text.getPixel(1 + 2 * c + d % 2, 2 + 2 * r + d / 2), on ? 0xFFFFFFu : 0u);
        }
    // Control bytes and bytes above 127 neither draw nor take room; numbers
    // go through the same glyphs.
    VideoFrame skipped = blank(40, 20);
    skipped.drawText(1, 2, "H\n\x01\xC3i", 0xFFFFFFu, 2);
    EXPECT_EQ(pixelsOf(skipped), pixelsOf(text));
    VideoFrame number = blank(60, 12), digits = blank(60, 12);
    number.drawNumber(0, 0, -120, 7);
    digits.drawText(0, 0, "-120", 7);
    EXPECT_EQ(pixelsOf(number), pixelsOf(digits));

    // Clipped anywhere, even at the int limits and with huge sizes.
    VideoFrame edge = blank(8, 8);
    edge.drawText(-5, -3, "WW", 9, 1);
    edge.drawText(INT_MIN, INT_MIN, "W", 9, 1 << 30);
    edge.drawTextOutline(INT_MAX - 3, -4, "WW", 9, 2);
    VideoFrame::drawText(nullptr, 8, 8, 0, 0, "W", 9, 1);
}
