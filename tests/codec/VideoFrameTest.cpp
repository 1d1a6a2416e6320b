// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoFrame.h"

#include <climits>
#include <vector>

#include <gtest/gtest.h>

TEST(VideoFrameTest, CopyIsClippedToBothImages)
{
    // A numbered 16 x 16 box into a guarded 40 x 30 screen: the number of
    // pixels changed and where box pixel 0 lands (or -1 when none).
    constexpr int W = 40, H = 30;
    unsigned int box[256];
    for (int i = 0; i < 256; ++i)
        box[i] = 0x1000u + i;
    const struct {
        int srcW, dstX, dstY, w, h, srcX;
        int changed, firstAt, firstBoxPixel;
    } cases[] = {
        {16, W - 8, H - 8, 8, 8, 0, 64, (H - 8) * W + W - 8, 0},  // right and bottom edges
        {16, W - 4, H - 4, 16, 16, 0, 16, (H - 4) * W + W - 4, 0},
        {16, -4, 0, 16, 16, 0, 12 * 16, 0, 4},                     // later source columns
        {16, W, 0, 16, 16, 0, 0, -1, 0},                           // outside either image
        {0, 0, 0, 16, 16, 0, 0, -1, 0},
        {16, 0, 0, 16, 16, 16, 0, -1, 0},
        {16, 0, 0, 16, 16, -20, 0, -1, 0},
        {16, 0, 500, 16, 16, 0, 0, -1, 0},
        // A negative source offset moves the destination right; the row
        // must still be cut at the destination's edge.
        {16, W - 2, 0, 16, 1, -4, 0, -1, 0},
        {16, W - 8, 0, 16, 1, -4, 4, W - 4, 0},
        // Offsets and sizes at the ends of int: no sum or difference may
        // wrap round into the images.
        {16, INT_MIN, 0, INT_MAX, 16, INT_MAX, 0, -1, 0},
        {16, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, -1, 0},
        {16, 0, 0, INT_MAX, INT_MAX, INT_MIN, 0, -1, 0},
        {16, W - 1, 0, INT_MAX, 1, INT_MIN + 1, 0, -1, 0},
        {16, -1, 0, INT_MIN, 16, 0, 0, -1, 0},
        {16, 0, 0, INT_MAX, INT_MAX, 0, 16 * 16, 0, 0},
        {16, INT_MAX, INT_MAX, 16, 16, INT_MIN, 0, -1, 0},
    };
    for (const auto& c : cases) {
        std::vector<unsigned int> screen(W * H, 0xDEADu);
        VideoFrame::copy(screen.data(), W, H, box, c.srcW, 16, c.dstX, c.dstY, c.w, c.h, c.srcX, 0);
        int changed = 0;
        for (unsigned int p : screen)
            changed += p != 0xDEADu;
        EXPECT_EQ(changed, c.changed) << c.dstX << "," << c.dstY << " from " << c.srcX;
        if (c.firstAt >= 0) {
            EXPECT_EQ(screen[c.firstAt], box[c.firstBoxPixel]);
        }
    }
}

TEST(VideoFrameTest, ResizeSetPixelsAndClearAtTheirEdges)
{
    VideoFrame f;
    EXPECT_TRUE(f.isEmpty());
    f.clear(0x123456); // nothing to fill
    EXPECT_EQ(f.pixelArray().count(), 0);

    // A new size is all zero; the same size keeps the pixels; a negative
    // size changes nothing.
    f.resize(3, 2);
    EXPECT_EQ(std::vector<unsigned int>(f.pixels(), f.pixels() + 6), std::vector<unsigned int>(6, 0));
    f.clear(0xAB);
    f.resize(3, 2);
    EXPECT_EQ(f.pixels()[5], 0xABu);
    f.resize(-1, 2);
    f.resize(3, -1);
    EXPECT_EQ(f.width() * 10 + f.height(), 32);
    EXPECT_EQ(f.pixels()[5], 0xABu);
    // Shrinking keeps the storage; 0 x 0 is an empty frame.
    const int capacity = f.pixelArray().capacity();
    f.resize(1, 1);
    EXPECT_EQ(f.pixels()[0], 0u);
    EXPECT_EQ(f.pixelArray().capacity(), capacity);
    f.resize(0, 0);
    EXPECT_TRUE(f.isEmpty());
    EXPECT_EQ(f.pixelArray().count(), 0);
    // More pixels than an int counts is an allocation failure, never a
    // wrapped-round small frame.
    EXPECT_THROW(f.resize(65536, 65536), std::bad_alloc);
    EXPECT_TRUE(f.isEmpty());

    // setPixels copies exactly width x height pixels and takes the size; a
    // null source or a negative size changes nothing; nothing is zero-filled.
    const unsigned int src[6] = {1, 2, 3, 4, 5, 6};
    f.setPixels(src, 2, 3);
    EXPECT_EQ(std::vector<unsigned int>(f.pixels(), f.pixels() + 6), std::vector<unsigned int>(src, src + 6));
    f.setPixels(nullptr, 1, 1);
    f.setPixels(src, -2, 3);
    EXPECT_EQ(f.width() * 10 + f.height(), 23);
    EXPECT_EQ(f.pixels()[5], 6u);
    f.setPixels(src, 0, 5);
    EXPECT_TRUE(f.isEmpty());
    EXPECT_THROW(f.setPixels(src, INT_MAX, 2), std::bad_alloc);

    f.setPixels(src, 3, 2);
    f.clear(0xFF00FF00u);
    EXPECT_EQ(std::vector<unsigned int>(f.pixels(), f.pixels() + 6), std::vector<unsigned int>(6, 0xFF00FF00u));
}
