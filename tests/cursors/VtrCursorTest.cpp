// SPDX-License-Identifier: GPL-3.0-or-later
#include "VtrCursor.h"

#include <vector>

#include <QByteArray>
#include <QPainter>

#include <gtest/gtest.h>

#include "CursorTestSupport.h"

namespace {

int readAll(VtrCursor& c, const std::vector<unsigned char>& r)
{
    return c.deserialize(r.data(), static_cast<int>(r.size()));
}

QImage canvas()
{
    QImage img(200, 100, QImage::Format_ARGB32);
    img.fill(0xFF000000u);
    return img;
}

} // namespace

TEST(VtrCursorTest, RecordsRoundTripWhateverTheirPixelCount)
{
    const std::vector<unsigned char> r = {2, 0, 2, 0, 1, 0, 1, 0, 0, 0, 8,
                                          0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    VtrCursor c;
    EXPECT_EQ(readAll(c, r), 19);
    EXPECT_EQ(c.image().size(), QSize(2, 1));
    EXPECT_EQ(c.image().pixel(0, 0), 0x40302010u);
    EXPECT_EQ(c.image().pixel(1, 0), 0x80706050u);

    QByteArray out;
    ASSERT_TRUE(c.serialize(out));
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.end()), r);

    // Surplus pixel bytes are consumed but not stored.
    EXPECT_EQ(readAll(c, cursorRecord(2, 2, 1, 0, 0, 20, 0xAB)), 31);
    EXPECT_EQ(c.image().pixel(1, 0), 0xABABABABu);

    // Missing bytes leave zeros, also in a partly covered pixel.
    EXPECT_EQ(readAll(c, cursorRecord(2, 2, 2, 0, 0, 5, 0xCD)), 16);
    EXPECT_EQ(c.image().pixel(0, 0), 0xCDCDCDCDu);
    EXPECT_EQ(c.image().pixel(1, 0), 0x000000CDu);
    EXPECT_EQ(c.image().pixel(1, 1), 0u);
}

TEST(VtrCursorTest, RefusedRecordsLeaveTheCursorAsItWas)
{
    VtrCursor c;
    ASSERT_EQ(readAll(c, solidCursor(3, 2, 0xFF112233, 1, 1)), 35);
    const QImage before = c.image();
    // Cuts of the header, the pixels one byte short, no data.
    const auto good = cursorRecord(1, 4, 4, 2, 2, 8, 0x55);
    for (int n : {-1, 0, 5, 10, 18})
        EXPECT_EQ(c.deserialize(good.data(), n), 0) << "cut at " << n;
    EXPECT_EQ(c.deserialize(nullptr, 19), 0);
    EXPECT_TRUE(c.width() == 3 && c.hotspotX() == 1 && c.type() == 2 && c.image() == before);
    EXPECT_EQ(c.deserialize(good.data(), 19), 19);

    // The image is bounded at 256 x 256.
    const struct {
        int w, h;
        bool accepted;
    } rows[] = {{1, 1, true},    {256, 256, true}, {257, 1, false},
                {1, 257, false}, {0, 4, false},    {65535, 65535, false}};
    for (const auto& row : rows) {
        VtrCursor fresh;
        EXPECT_EQ(readAll(fresh, cursorRecord(2, row.w, row.h, 0, 0, 4, 0xFF)), row.accepted ? 15 : 0)
            << row.w << "x" << row.h;
        EXPECT_EQ(fresh.image().size(), row.accepted ? QSize(row.w, row.h) : QSize(0, 0));
    }
}

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
    VtrCursor big(&tooBig, 0, 0);
    EXPECT_FALSE(big.serialize(out));
    EXPECT_TRUE(out.isEmpty());

    // Other formats are converted, so the record holds 4 bytes a pixel.
    QImage mono(3, 2, QImage::Format_Mono);
    ASSERT_TRUE(c.create(&mono, 1, 1));
    ASSERT_TRUE(c.serialize(out));
    EXPECT_EQ(out.size(), 11 + 24);
}

TEST(VtrCursorTest, DrawAndStretchPutTheHotSpotOnThePoint)
{
    VtrCursor c;
    auto r = solidCursor(3, 2, 0xFFFF0000u, 4, 6);
    r[11 + 3] = 0; // pixel (0, 0) fully transparent: source-over keeps the canvas
    readAll(c, r);
    QImage img = canvas();
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    c.draw(&p, 100, 50); // corner at (96, 44)
    EXPECT_EQ(p.compositionMode(), QPainter::CompositionMode_Source);
    // 4 x 2 scaled to 6 x 3: hot spot (3, 1) becomes (trunc 4.5, trunc 1.5).
    readAll(c, solidCursor(4, 2, 0xFF00FF00u, 3, 1));
    c.stretch(&p, 50, 20, 6, 3); // corner at (46, 19)
    p.end();

    const QRgb black = 0xFF000000u, red = 0xFFFF0000u, green = 0xFF00FF00u;
    const struct {
        int x, y;
        QRgb colour;
    } probes[] = {{96, 44, black}, {97, 44, red},   {98, 45, red},   {99, 44, black}, {96, 46, black},
                  {46, 19, green}, {51, 21, green}, {45, 19, black}, {52, 21, black}, {51, 22, black}};
    for (const auto& probe : probes)
        EXPECT_EQ(img.pixel(probe.x, probe.y), probe.colour) << probe.x << "," << probe.y;
}

TEST(VtrCursorTest, NothingIsDrawnForOtherTypesOrAClearedCursor)
{
    VtrCursor c;
    auto r = solidCursor(4, 4, 0xFFFFFFFFu);
    r[0] = 1;
    readAll(c, r);
    QImage img = canvas();
    const QImage untouched = img;
    QPainter p(&img);
    c.draw(&p, 10, 10);
    readAll(c, solidCursor(4, 4, 0xFFFFFFFFu));
    c.clear();
    c.draw(&p, 10, 10);
    c.stretch(&p, 10, 10, 8, 8); // sizes are 0: must not divide by them
    p.end();
    EXPECT_EQ(img, untouched);
}
