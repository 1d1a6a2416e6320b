#include "VtrCursor.h"

#include <vector>

#include <QByteArray>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

std::vector<unsigned char> record(int type, int w, int h, int hotX, int hotY, int pixelBytes,
                                  unsigned char fill = 0)
{
    std::vector<unsigned char> r;
    r.push_back(static_cast<unsigned char>(type));
    for (int v : {w, h, hotX, hotY, pixelBytes}) {
        r.push_back(static_cast<unsigned char>(v >> 8));
        r.push_back(static_cast<unsigned char>(v));
    }
    r.resize(r.size() + pixelBytes, fill);
    return r;
}

int readAll(VtrCursor& c, const std::vector<unsigned char>& r)
{
    return c.deserialize(r.data(), static_cast<int>(r.size()));
}

// A w x h cursor of one opaque colour.
std::vector<unsigned char> solid(int w, int h, int hotX, int hotY, QRgb colour)
{
    auto r = record(2, w, h, hotX, hotY, w * h * 4);
    for (int i = 0; i < w * h * 4; ++i)
        r[11 + i] = static_cast<unsigned char>(colour >> (8 * (i % 4)));
    return r;
}

QImage canvas()
{
    QImage img(200, 100, QImage::Format_ARGB32);
    img.fill(0xFF000000u);
    return img;
}

} // namespace

TEST(VtrCursorTest, TwoByOneRecordRoundTrips)
{
    const std::vector<unsigned char> r = {2, 0, 2, 0, 1, 0, 1, 0, 0, 0, 8,
                                          0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    VtrCursor c;
    EXPECT_EQ(readAll(c, r), 19);
    EXPECT_EQ(c.width(), 2);
    EXPECT_EQ(c.height(), 1);
    EXPECT_EQ(c.hotspotX(), 1);
    EXPECT_EQ(c.hotspotY(), 0);
    EXPECT_EQ(c.image().format(), QImage::Format_ARGB32);
    EXPECT_EQ(c.image().pixel(0, 0), 0x40302010u);
    EXPECT_EQ(c.image().pixel(1, 0), 0x80706050u);

    QByteArray out;
    ASSERT_TRUE(c.serialize(out));
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.end()), r);
}

TEST(VtrCursorTest, PixelCountDiffersFromTheImage)
{
    // Surplus bytes are consumed but not stored.
    auto longer = record(2, 2, 1, 0, 0, 20, 0xAB);
    VtrCursor c;
    EXPECT_EQ(readAll(c, longer), 31);
    EXPECT_EQ(c.image().pixel(1, 0), 0xABABABABu);

    // Missing bytes leave zeros, also in a partly covered pixel.
    auto shorter = record(2, 2, 2, 0, 0, 5, 0xCD);
    EXPECT_EQ(readAll(c, shorter), 16);
    EXPECT_EQ(c.image().pixel(0, 0), 0xCDCDCDCDu);
    EXPECT_EQ(c.image().pixel(1, 0), 0x000000CDu);
    EXPECT_EQ(c.image().pixel(0, 1), 0u);
    EXPECT_EQ(c.image().pixel(1, 1), 0u);
}

TEST(VtrCursorTest, RefusedRecordLeavesTheCursorAsItWas)
{
    VtrCursor c;
    ASSERT_EQ(readAll(c, solid(3, 2, 1, 1, 0xFF112233)), 35);
    const QImage before = c.image();
    auto unchanged = [&] {
        return c.width() == 3 && c.height() == 2 && c.hotspotX() == 1 && c.type() == 2
            && c.image() == before;
    };

    const auto good = record(1, 4, 4, 2, 2, 8, 0x55);
    for (int n = 0; n < 11; ++n) {
        EXPECT_EQ(c.deserialize(good.data(), n), 0) << "header cut at " << n;
        EXPECT_TRUE(unchanged());
    }
    EXPECT_EQ(c.deserialize(good.data(), 18), 0) << "pixels cut at L - 1";
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(c.deserialize(nullptr, 19), 0);
    EXPECT_EQ(c.deserialize(good.data(), -1), 0);
    EXPECT_TRUE(unchanged());

    EXPECT_EQ(c.deserialize(good.data(), 19), 19);
    EXPECT_EQ(c.width(), 4);
}

struct SizeRow {
    int w, h;
    bool accepted;
};

void PrintTo(const SizeRow& row, std::ostream* os)
{
    *os << row.w << "x" << row.h << (row.accepted ? " accepted" : " refused");
}

class VtrCursorSizeTest : public ::testing::TestWithParam<SizeRow>
{
};

TEST_P(VtrCursorSizeTest, ImageSizeIsBounded)
{
    const SizeRow row = GetParam();
    VtrCursor c;
    const int consumed = readAll(c, record(2, row.w, row.h, 0, 0, 4, 0xFF));
    if (row.accepted) {
        EXPECT_EQ(consumed, 15);
        EXPECT_EQ(c.image().size(), QSize(row.w, row.h));
        // Only the first pixel came with the record; the last one is zero.
        EXPECT_EQ(c.image().pixel(row.w - 1, row.h - 1), row.w * row.h == 1 ? 0xFFFFFFFFu : 0u);
    } else {
        EXPECT_EQ(consumed, 0);
        EXPECT_TRUE(c.image().isNull());
        EXPECT_EQ(c.width(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, VtrCursorSizeTest,
                         ::testing::Values(SizeRow{1, 1, true}, SizeRow{256, 256, true},
                                           SizeRow{256, 1, true}, SizeRow{257, 1, false},
                                           SizeRow{1, 257, false}, SizeRow{0, 4, false},
                                           SizeRow{4, 0, false}, SizeRow{65535, 65535, false}));

TEST(VtrCursorTest, SerializeRefusesWhatARecordCannotCarry)
{
    QImage fits(127, 129, QImage::Format_ARGB32); // 16,383 pixels: L = 65,532
    fits.fill(0xFF00FF00u);
    VtrCursor c(&fits, 3, 4);
    QByteArray out;
    ASSERT_TRUE(c.serialize(out));
    ASSERT_EQ(out.size(), 11 + 65532);
    VtrCursor back;
    EXPECT_EQ(back.deserialize(reinterpret_cast<const unsigned char*>(out.constData()), out.size()),
              out.size());
    EXPECT_EQ(back.image(), c.image());

    QImage tooBig(128, 128, QImage::Format_ARGB32);
    tooBig.fill(0);
    VtrCursor big(&tooBig, 0, 0);
    EXPECT_FALSE(big.serialize(out));
    EXPECT_TRUE(out.isEmpty());

    VtrCursor badHotSpot(&fits, -1, 0);
    EXPECT_FALSE(badHotSpot.serialize(out));
}

TEST(VtrCursorTest, CreateConvertsToArgbAndRefusesNull)
{
    QImage mono(3, 2, QImage::Format_Mono);
    mono.fill(1);
    VtrCursor c;
    EXPECT_TRUE(c.create(&mono, 1, 1));
    EXPECT_EQ(c.image().format(), QImage::Format_ARGB32);
    QByteArray out;
    ASSERT_TRUE(c.serialize(out));
    EXPECT_EQ(out.size(), 11 + 24);

    EXPECT_FALSE(c.create(nullptr, 1, 1));
    EXPECT_TRUE(c.image().isNull());
    EXPECT_EQ(c.width(), 0);
}

TEST(VtrCursorTest, DrawPutsTheHotSpotOnThePoint)
{
    VtrCursor c;
    auto r = solid(3, 2, 4, 6, 0xFFFF0000u);
    r[11 + 3] = 0; // pixel (0, 0) fully transparent: source-over keeps the canvas
    readAll(c, r);
    QImage img = canvas();
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    c.draw(&p, 100, 50);
    EXPECT_EQ(p.compositionMode(), QPainter::CompositionMode_Source);
    p.end();

    EXPECT_EQ(img.pixel(96, 44), 0xFF000000u);
    EXPECT_EQ(img.pixel(97, 44), 0xFFFF0000u);
    EXPECT_EQ(img.pixel(98, 45), 0xFFFF0000u);
    EXPECT_EQ(img.pixel(99, 44), 0xFF000000u);
    EXPECT_EQ(img.pixel(96, 46), 0xFF000000u);
    EXPECT_EQ(img.pixel(95, 45), 0xFF000000u);
}

TEST(VtrCursorTest, StretchScalesTheHotSpot)
{
    // 4 x 2 scaled to 6 x 3: hot spot (3, 1) becomes (trunc 4.5, trunc 1.5) = (4, 1).
    VtrCursor c;
    readAll(c, solid(4, 2, 3, 1, 0xFF00FF00u));
    QImage img = canvas();
    QPainter p(&img);
    c.stretch(&p, 50, 20, 6, 3);
    p.end();

    EXPECT_EQ(img.pixel(46, 19), 0xFF00FF00u);
    EXPECT_EQ(img.pixel(51, 21), 0xFF00FF00u);
    EXPECT_EQ(img.pixel(45, 19), 0xFF000000u);
    EXPECT_EQ(img.pixel(46, 18), 0xFF000000u);
    EXPECT_EQ(img.pixel(52, 21), 0xFF000000u);
    EXPECT_EQ(img.pixel(51, 22), 0xFF000000u);
}

TEST(VtrCursorTest, NothingIsDrawnForOtherTypesOrAClearedCursor)
{
    VtrCursor c;
    auto r = solid(4, 4, 0, 0, 0xFFFFFFFFu);
    r[0] = 1;
    readAll(c, r);
    EXPECT_EQ(c.type(), 1);
    EXPECT_EQ(c.image().format(), QImage::Format_RGB32);

    QImage img = canvas();
    const QImage untouched = img;
    QPainter p(&img);
    c.draw(&p, 10, 10);
    c.stretch(&p, 10, 10, 8, 8);
    c.drawCursor(p, 10, 10, c.image());

    readAll(c, solid(4, 4, 0, 0, 0xFFFFFFFFu));
    c.clear();
    c.draw(&p, 10, 10);
    c.stretch(&p, 10, 10, 8, 8); // sizes are 0: must not divide by them
    p.end();
    EXPECT_EQ(img, untouched);
}
