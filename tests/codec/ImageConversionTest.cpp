// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmap import, YUY2 and packed 3-byte pixels.

#include "VideoFrame.h"

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

using namespace imagetest;

namespace {

using Bytes = std::vector<unsigned char>;

int channelDistance(unsigned int a, unsigned int b)
{
    int worst = 0;
    for (int shift = 0; shift <= 16; shift += 8)
        worst = std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return worst;
}

} // namespace

TEST(ImageConversionTest, BitmapsAreImportedTopDown)
{
    // 24 bits, 3 x 2: rows of 9 bytes padded to 12, bottom row first.
    const Bytes bgr = {
        1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE,          // bottom row
        10, 20, 30, 40, 50, 60, 70, 80, 90, 0xEE, 0xEE, 0xEE, // top row
    };
    Pixels out(6, 0xDEAD);
    ASSERT_TRUE(VideoFrame::setBitmapPixels(bgr.data(), 24, 3, 2, 24, 0, out.data()));
    EXPECT_EQ(out, (Pixels{0x1E140Au, 0x3C3228u, 0x5A5046u, 0x030201u, 0x060504u, 0x090807u}));

    // One byte short, or a depth we do not read: refused, nothing written.
    Pixels untouched(6, 0xDEAD);
    EXPECT_FALSE(VideoFrame::setBitmapPixels(bgr.data(), 23, 3, 2, 24, 0, untouched.data()));
    EXPECT_FALSE(VideoFrame::setBitmapPixels(bgr.data(), 24, 3, 2, 8, 0, untouched.data()));
    EXPECT_EQ(untouched, Pixels(6, 0xDEAD));

    // 16 bits 5-6-5, width 1 padded to 2 pixels; full scale widens to 255.
    const Bytes rgb565 = {0x10, 0x84, 0, 0, 0xFF, 0xFF, 0, 0};
    ASSERT_TRUE(VideoFrame::setBitmapPixels(rgb565.data(), 8, 1, 2, 16, 0, out.data()));
    EXPECT_EQ(Pixels(out.begin(), out.begin() + 2), (Pixels{0xFFFFFFu, 0x848284u}));

    // YUY2 goes through the converter (which reads bottom-up itself).
    const Bytes yuy2 = {235, 128, 235, 128, 16, 128, 16, 128};
    ASSERT_TRUE(VideoFrame::setBitmapPixels(yuy2.data(), 8, 2, 2, 16, VideoFrame::FORMAT_YUY2, out.data()));
    EXPECT_EQ(Pixels(out.begin(), out.begin() + 4), (Pixels{0, 0, 0xFFFFFFu, 0xFFFFFFu}));
    EXPECT_FALSE(VideoFrame::setBitmapPixels(yuy2.data(), 7, 2, 2, 16, VideoFrame::FORMAT_YUY2, out.data()));
}

TEST(ImageConversionTest, Yuy2RoundTripStaysClose)
{
    EXPECT_EQ(VideoFrame::yuy2Size(3, 2), 16); // an odd pixel still takes a pair
    EXPECT_EQ(VideoFrame::yuy2Size(70000, 70000), -1);

    // A smooth picture (chroma changes slowly, as subsampling assumes),
    // including an odd width. Red climbs 8 levels a pixel, so the shared
    // chroma of a pair costs a few levels besides the studio-range rounding.
    for (int w : {32, 31}) {
        const int h = 16;
        Pixels src(w * h), back(w * h);
        for (int i = 0; i < w * h; ++i)
            src[i] = rgb(i % w * 8, i / w * 16, 255 - i % w * 4);
        Bytes yuy2(VideoFrame::yuy2Size(w, h));
        VideoFrame::convertRGBtoYUY2(src.data(), w, h, yuy2.data());
        VideoFrame::convertYUY2toRGB(yuy2.data(), w, h, back.data());
        for (int i = 0; i < w * h; ++i)
            ASSERT_LE(channelDistance(src[i], back[i]), 6) << "pixel " << i;
    }
    // Studio-range luma of 0x808080, the first pixel of the bottom row.
    const Pixels greys = {0x000000u, 0xFFFFFFu, 0x808080u, 0x404040u};
    Bytes yuy2(8);
    VideoFrame::convertRGBtoYUY2(greys.data(), 2, 2, yuy2.data());
    EXPECT_EQ(yuy2[0], 126);
}

TEST(ImageConversionTest, PackedPixels)
{
    const Pixels src = randomImage(5, 3, 3);
    Bytes packed(5 * 3 * 3), bgr(5 * 3 * 3);
    VideoFrame::compactFrame(src.data(), 5, 3, packed.data());
    VideoFrame::compactFrameBGR(src.data(), 5, 3, bgr.data());
    EXPECT_EQ(packed[0], (src[0] >> 16) & 0xFF);
    EXPECT_EQ(bgr[0], src[0] & 0xFF);

    Pixels back(15);
    ASSERT_TRUE(VideoFrame::uncompactFrame(back.data(), 5, 3, packed.data(), int(packed.size())));
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(back[i], src[i] & 0xFFFFFFu); // alpha 0
    Pixels untouched(15, 7);
    EXPECT_FALSE(VideoFrame::uncompactFrame(untouched.data(), 5, 3, packed.data(), int(packed.size()) - 1));
    EXPECT_EQ(untouched, Pixels(15, 7));
}
