#include "VideoFrame.h"

#include <vector>

#include <gtest/gtest.h>

TEST(VideoFrameTest, ResizeKeepsPixelsOnlyForTheSameSize)
{
    VideoFrame f;
    f.resize(4, 3);
    f.clear(0xFF123456);
    f.resize(4, 3);
    EXPECT_EQ(f.pixels()[11], 0xFF123456u);
    f.resize(-1, 3);
    EXPECT_EQ(f.width(), 4);
    EXPECT_EQ(f.pixels()[0], 0xFF123456u);
    f.resize(3, 4);
    EXPECT_EQ(f.pixels()[11], 0u);

    VideoFrame empty;
    empty.clear(1); // nothing to fill, must not crash
    EXPECT_TRUE(empty.isEmpty());
}

TEST(VideoFrameTest, SetPixelsTakesSizeAndIgnoresNullSource)
{
    VideoFrame f;
    const unsigned int src[6] = {1, 2, 3, 4, 5, 6};
    f.setPixels(src, 3, 2);
    EXPECT_EQ(f.width(), 3);
    EXPECT_EQ(f.pixels()[5], 6u);
    f.setPixels(nullptr, 10, 10);
    EXPECT_EQ(f.width(), 3);
    EXPECT_EQ(f.pixels()[0], 1u);
}

// Copies a numbered 16 x 16 box into a guarded screen and checks that
// exactly the expected pixels changed.
class CopyTest : public ::testing::Test
{
protected:
    static constexpr int W = 40, H = 30;
    unsigned int box[256];
    std::vector<unsigned int> screen;

    void SetUp() override
    {
        for (int i = 0; i < 256; ++i)
            box[i] = 0x1000u + i;
        screen.assign(W * H, 0xDEADu);
    }
    int changed() const
    {
        int n = 0;
        for (unsigned int p : screen)
            n += p != 0xDEADu;
        return n;
    }
};

TEST_F(CopyTest, ClipsAtTheRightAndBottomEdges)
{
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, W - 8, H - 8, 8, 8, 0, 0);
    EXPECT_EQ(changed(), 64);
    EXPECT_EQ(screen[(H - 8) * W + W - 8], box[0]);
    EXPECT_EQ(screen[(H - 1) * W + W - 1], box[7 * 16 + 7]);

    screen.assign(W * H, 0xDEADu);
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, W - 4, H - 4, 16, 16, 0, 0);
    EXPECT_EQ(changed(), 16);
}

TEST_F(CopyTest, NegativeDestinationTakesTheLaterSourceColumns)
{
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, -4, 0, 16, 16, 0, 0);
    EXPECT_EQ(changed(), 12 * 16);
    EXPECT_EQ(screen[0], box[4]);
    EXPECT_EQ(screen[11], box[15]);
}

TEST_F(CopyTest, NothingIsCopiedOutsideEitherImage)
{
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, W, 0, 16, 16, 0, 0);
    VideoFrame::copy(screen.data(), W, H, box, 0, 16, 0, 0, 16, 16, 0, 0);
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, 0, 0, 16, 16, 16, 0);
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, 0, 0, 16, 16, -20, 0);
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, 0, 500, 16, 16, 0, 0);
    EXPECT_EQ(changed(), 0);

    // A negative source offset moves the destination right; the row must
    // still be cut at the destination's edge.
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, W - 2, 0, 16, 1, -4, 0);
    EXPECT_EQ(changed(), 0);
    VideoFrame::copy(screen.data(), W, H, box, 16, 16, W - 8, 0, 16, 1, -4, 0);
    EXPECT_EQ(changed(), 4);
    EXPECT_EQ(screen[W - 4], box[0]);
}
