#include "VideoFrame.h"

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
