// Orientation changes and the bitmap font.

#include "VideoFrame.h"

#include <climits>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Pixels = std::vector<unsigned int>;

VideoFrame numbered(int w, int h)
{
    VideoFrame f;
    f.resize(w, h);
    for (int i = 0; i < w * h; ++i)
        f.pixels()[i] = 0xFF000000u | (i + 1);
    return f;
}

Pixels pixelsOf(const VideoFrame& f)
{
    return Pixels(f.pixels(), f.pixels() + f.width() * f.height());
}

VideoFrame canvas(int w, int h)
{
    VideoFrame f;
    f.resize(w, h);
    return f;
}

} // namespace

TEST(ImageRoutinesTest, FlipsAndQuarterTurns)
{
    VideoFrame f = numbered(3, 2); // 1 2 3 / 4 5 6
    f.flipXAxis();
    EXPECT_EQ(pixelsOf(f), (Pixels{0xFF000003, 0xFF000002, 0xFF000001, 0xFF000006, 0xFF000005, 0xFF000004}));
    f = numbered(3, 2);
    f.flipYAxis();
    EXPECT_EQ(pixelsOf(f), (Pixels{0xFF000004, 0xFF000005, 0xFF000006, 0xFF000001, 0xFF000002, 0xFF000003}));

    // Clockwise: the left column, read bottom-up, becomes the top row.
    f = numbered(3, 2);
    f.rotate90();
    ASSERT_EQ(f.width(), 2);
    ASSERT_EQ(f.height(), 3);
    EXPECT_EQ(pixelsOf(f), (Pixels{0xFF000004, 0xFF000001, 0xFF000005, 0xFF000002, 0xFF000006, 0xFF000003}));
    f.rotate270();
    EXPECT_EQ(pixelsOf(f), pixelsOf(numbered(3, 2)));

    const VideoFrame original = numbered(5, 3);
    f = original;
    for (int i = 0; i < 4; ++i)
        f.rotate90();
    EXPECT_EQ(pixelsOf(f), pixelsOf(original));
    for (int i = 0; i < 4; ++i)
        f.rotate270();
    EXPECT_EQ(pixelsOf(f), pixelsOf(original));
    f.rotate180();
    VideoFrame mirrored = original;
    mirrored.flipXAxis();
    mirrored.flipYAxis();
    EXPECT_EQ(pixelsOf(f), pixelsOf(mirrored));
    f.rotate180();
    EXPECT_EQ(pixelsOf(f), pixelsOf(original));
}

TEST(ImageRoutinesTest, RotationByAnyAngle)
{
    const VideoFrame original = numbered(5, 3);
    VideoFrame turned = original, quarter = original;
    turned.rotate(90.0, 0, true);
    quarter.rotate90();
    EXPECT_EQ(turned.width(), 3);
    EXPECT_EQ(pixelsOf(turned), pixelsOf(quarter));
    turned = original;
    turned.rotate(-90.0, 0, false);
    quarter = original;
    quarter.rotate270();
    EXPECT_EQ(pixelsOf(turned), pixelsOf(quarter));
    turned = original;
    turned.rotate(720.0, 0, false);
    EXPECT_EQ(pixelsOf(turned), pixelsOf(original));

    int w = 0, h = 0;
    VideoFrame::calcRotationDestSize(100, 50, 90.0, w, h);
    EXPECT_EQ(w, 50);
    EXPECT_EQ(h, 100);
    VideoFrame::calcRotationDestSize(10, 10, 45.0, w, h);
    EXPECT_EQ(w, 15); // 10 * sqrt(2) = 14.14
    EXPECT_EQ(h, 15);

    // 45 degrees: the centre keeps its colour, the corners show background.
    VideoFrame square = canvas(10, 10);
    square.clear(0xFF204080u);
    square.rotate(45.0, 0xFFFFFFFFu, false);
    ASSERT_EQ(square.width(), 15);
    EXPECT_EQ(square.getPixel(7, 7), 0xFF204080u);
    EXPECT_EQ(square.getPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(square.getPixel(14, 14), 0xFFFFFFFFu);
    VideoFrame smooth = canvas(10, 10);
    smooth.clear(0xFF204080u);
    smooth.rotate(30.0, 0, true);
    EXPECT_EQ(smooth.getPixel(smooth.width() / 2, smooth.height() / 2), 0x204080u);

    // A static call may rotate a frame's own pixels into itself; a
    // non-finite angle does nothing.
    VideoFrame self = numbered(4, 2);
    VideoFrame::rotate(self.pixels(), 4, 2, self, 180.0, 0, false);
    EXPECT_EQ(self.pixels()[0], 0xFF000008u);
    self.rotate(std::numeric_limits<double>::quiet_NaN(), 0, false);
    EXPECT_EQ(self.width(), 4);
    VideoFrame::calcRotationDestSize(4, 2, std::numeric_limits<double>::infinity(), w, h);
    EXPECT_EQ(w, 0);
}

TEST(ImageRoutinesTest, FontGlyphsAreDistinctAndKeepTheirMargins)
{
    std::set<std::vector<unsigned char>> shapes;
    for (int c = 32; c <= 127; ++c) {
        std::vector<unsigned char> rows;
        int set = 0;
        for (int r = 0; r < VideoFrame::FONT_HEIGHT; ++r) {
            const unsigned char bits = VideoFrame::fontRow(c, r);
            EXPECT_EQ(bits & 0x83, 0) << "glyph " << c << " touches its neighbours";
            rows.push_back(bits);
            set += bits != 0;
        }
        EXPECT_EQ(set == 0, c == ' ') << "glyph " << c;
        EXPECT_TRUE(shapes.insert(rows).second) << "glyph " << c << " repeats another";
    }
    EXPECT_EQ(VideoFrame::fontRow(31, 0), 0);
    EXPECT_EQ(VideoFrame::fontRow('A', 9), 0);
    // Capital I: a bar with serifs, drawn in rows 0 to 6.
    EXPECT_EQ(VideoFrame::fontRow('I', 0), 0x38);
    EXPECT_EQ(VideoFrame::fontRow('I', 3), 0x10);
}

TEST(ImageRoutinesTest, TextIsDrawnGlyphByGlyph)
{
    // Each font pixel is a size x size square; the pen moves 8 x size.
    VideoFrame text = canvas(40, 20), glyphs = canvas(40, 20);
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

    // Control bytes and bytes above 127 neither draw nor take room.
    VideoFrame skipped = canvas(40, 20);
    skipped.drawText(1, 2, "H\n\x01\xC3i", 0xFFFFFFu, 2);
    EXPECT_EQ(pixelsOf(skipped), pixelsOf(text));

    // Numbers go through the same glyphs.
    VideoFrame a = canvas(60, 12), b = canvas(60, 12);
    a.drawNumber(0, 0, -120, 7);
    b.drawText(0, 0, "-120", 7);
    EXPECT_EQ(pixelsOf(a), pixelsOf(b));
    a.clear(0);
    b.clear(0);
    VideoFrame::drawSingleNumber2(a.pixels(), 60, 12, 0, 0, 5, 7);
    b.drawText(0, 0, "05", 7);
    EXPECT_EQ(pixelsOf(a), pixelsOf(b));
    a.clear(0);
    VideoFrame::drawSingleNumber(a.pixels(), 60, 12, 0, 0, 12, 7);
    VideoFrame::drawSingleNumber2(a.pixels(), 60, 12, 0, 0, 100, 7);
    EXPECT_EQ(pixelsOf(a), Pixels(60 * 12, 0));

    // The outline lies one pixel around the glyph; the glyph keeps its colour.
    VideoFrame outlined = canvas(12, 12), plain = canvas(12, 12);
    outlined.drawTextOutline(2, 1, "o", 1, 2);
    plain.drawText(2, 1, "o", 1);
    int outline = 0;
    for (int i = 0; i < 144; ++i) {
        if (plain.pixels()[i] == 1) {
            ASSERT_EQ(outlined.pixels()[i], 1u);
        }
        outline += outlined.pixels()[i] == 2;
    }
    EXPECT_GT(outline, 0);
    VideoFrame numberOutlined = canvas(12, 12);
    numberOutlined.drawNumberOutline(2, 1, 0, 1, 2);
    EXPECT_EQ(numberOutlined.getPixel(3, 1), 2u); // left of the top of the 0

    // Clipped anywhere, even at the int limits and with huge sizes.
    VideoFrame edge = canvas(8, 8);
    edge.drawText(-5, -3, "WW", 9, 1);
    edge.drawText(INT_MAX - 3, 0, "WW", 9, 1);
    edge.drawText(INT_MIN, INT_MIN, "W", 9, 1 << 30);
    edge.drawText(0, 0, "W", 9, 0);
    edge.drawText(0, 0, nullptr, 9, 1);
    VideoFrame::drawText(nullptr, 8, 8, 0, 0, "W", 9, 1);
}
