// SPDX-License-Identifier: GPL-3.0-or-later
// Colour routines and dithering.

#include "VideoFrame.h"

#include <algorithm>
#include <climits>
#include <set>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

using namespace imagetest;

namespace {

using Routine = void (*)(unsigned int*, int, int);

// Applies a routine to a row of pixels.
Pixels apply(Routine routine, Pixels in)
{
    routine(in.data(), static_cast<int>(in.size()), 1);
    return in;
}

// Applies a member routine to a row of pixels.
template <typename Call>
Pixels applied(Pixels in, Call call)
{
    VideoFrame f;
    f.setPixels(in.data(), static_cast<int>(in.size()), 1);
    call(f);
    return pixelsOf(f);
}

} // namespace

TEST(ImageColourTest, GreyScalesSepiaAndLineArt)
{
    EXPECT_EQ(apply(VideoFrame::makeGray, {0xFF0A1421u}), Pixels{grey(21)});

    // Each level routine yields its levels, in order of brightness, over
    // pixels whose channel sums run through 0 .. 765.
    Pixels everySum;
    for (int s = 0; s <= 765; ++s) {
        const int r = std::min(s, 255), g = std::min(std::max(s - 255, 0), 255);
        everySum.push_back(rgb(r, g, s - r - g));
    }
    const struct {
        Routine routine;
        std::vector<int> levels;
    } cases[] = {
        {VideoFrame::makeGray4Levels, {0, 85, 170, 255}},
        {VideoFrame::makeGray8Levels, {0, 36, 72, 108, 147, 183, 219, 255}},
        {VideoFrame::makeGray16Levels,
         {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}},
    };
    for (const auto& c : cases) {
        const Pixels out = apply(c.routine, everySum);
        std::set<unsigned int> expected;
        for (int v : c.levels)
            expected.insert(grey(v));
        EXPECT_EQ(std::set<unsigned int>(out.begin(), out.end()), expected);
        EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
    }

    // Grey g: red g + 51, green 0 below 28 then g + 38, blue g; all capped.
    EXPECT_EQ(apply(VideoFrame::makeSepia, {grey(27), grey(28), grey(204), grey(205), grey(217)}),
              (Pixels{rgb(78, 0, 27), rgb(79, 66, 28), rgb(255, 242, 204), rgb(255, 243, 205),
                      rgb(255, 255, 217)}));
    // Every row of the matrix reads the original channels.
    EXPECT_EQ(apply(VideoFrame::makeColorSepia, {rgb(255, 0, 0), 0xFFFFFFFFu, 0u}),
              (Pixels{rgb(100, 88, 69), rgb(255, 255, 238), 0u}));
    EXPECT_EQ(apply(VideoFrame::makeLineArt, {0x808000u, 0x808080u, 0xFF7F7F7Fu}),
              (Pixels{0u, 0xFFFFFFu, 0u}));
}

TEST(ImageColourTest, ColourReduction)
{
    EXPECT_EQ(apply(VideoFrame::decreaseColors12bit, {0xFF123456u}), Pixels{0x1F3F5Fu});
    EXPECT_EQ(apply(VideoFrame::decreaseColors15bit, {0x123456u}), Pixels{0x173757u});
    EXPECT_EQ(apply(VideoFrame::decreaseColors9bit, {0xABCDEFu}), Pixels{0xBFDFFFu});
    EXPECT_EQ(apply(VideoFrame::make3bppColor, {rgb(0x7F, 0x80, 0xFF)}), Pixels{rgb(0, 255, 255)});
    EXPECT_EQ(apply(VideoFrame::make6bppColor, {rgb(0x3F, 0x40, 0x80)}), Pixels{rgb(0, 85, 190)});
    EXPECT_EQ(apply(VideoFrame::make9bppColor, {rgb(0x20, 0xDF, 0xE0)}), Pixels{rgb(36, 216, 255)});
}

TEST(ImageColourTest, BrightnessContrastGammaAndLevels)
{
    EXPECT_EQ(applied({grey(5), grey(100)}, [](VideoFrame& f) { f.makeBrightness(-10); }), (Pixels{0, grey(90)}));
    EXPECT_EQ(applied({grey(5)}, [](VideoFrame& f) { f.makeBrightness(INT_MAX); }), Pixels{grey(255)});
    const Pixels mid = {grey(100), grey(200), 0xFF808080u};
    EXPECT_EQ(applied(mid, [](VideoFrame& f) { f.makeContrast(200); }),
              (Pixels{grey(72), grey(255), grey(128)}));
    // Gamma 2 lifts 64 to 128; a gamma of 0 changes nothing.
    EXPECT_EQ(applied({grey(64), grey(0), grey(255)}, [](VideoFrame& f) {
                  f.makeGamma(2.0);
                  f.makeGamma(0.0);
              }),
              (Pixels{grey(128), 0, grey(255)}));
    // Levels per channel: 3 levels are 0, 128 and 255; 1 level does nothing.
    EXPECT_EQ(applied({grey(63), grey(200), rgb(0, 128, 63)}, [](VideoFrame& f) {
                  f.discretize(3);
                  f.discretize(1);
              }),
              (Pixels{0, grey(255), rgb(0, 128, 0)}));
}

TEST(ImageColourTest, BlurWeightsTheNeighbourhood)
{
    VideoFrame f = blank(5, 5);
    f.clear(0xFF000000u);
    f.setPixel(2, 2, 0xFFA0A0A0u);
    f.blur(4); // centre weight 4, sides 2, corners 1, divided by 16
    f.blur(-1);
    EXPECT_EQ(f.getPixel(2, 2), grey(40));
    EXPECT_EQ(f.getPixel(1, 2), grey(20));
    EXPECT_EQ(f.getPixel(3, 3), grey(10));
    // The outer ring stays as it was.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(f.getPixel(i, 0) & f.getPixel(0, i) & f.getPixel(4, i), 0xFF000000u);
}

TEST(ImageColourTest, OrderedDither)
{
    // Grey 128 at (0, 0) and (1, 0); negative places and values out of
    // range stay inside the matrix and the levels.
    EXPECT_EQ(VideoFrame::ditherPixel(0, 0, 0x808080u), 0u);
    EXPECT_EQ(VideoFrame::ditherPixel(1, 0, 0x808080u), 0xFFFFFFu);
    EXPECT_EQ(VideoFrame::ditherGrayValue(-3, -4, 1000), 255);

    VideoFrame tile = blank(8, 4);
    tile.clear(0xFF808080u);
    tile.makeDither();
    EXPECT_EQ(tile.getPixel(0, 0), 0u);
    EXPECT_EQ(tile.getPixel(5, 0), 0xFFFFFFu); // the pattern repeats every 4
    tile.clear(rgb(128, 0, 255));
    tile.makeRGBDither();
    EXPECT_EQ(tile.getPixel(1, 0), rgb(255, 0, 255));
    EXPECT_EQ(tile.getPixel(0, 0), rgb(0, 0, 255));
}

TEST(ImageColourTest, ErrorDiffusion)
{
    // First two pixels of a uniform grey 100, worked by hand.
    auto firstTwo = [](Routine routine) {
        VideoFrame f = blank(4, 2);
        f.clear(grey(100));
        routine(f.pixels(), 4, 2);
        return Pixels{f.getPixel(0, 0), f.getPixel(1, 0)};
    };
    EXPECT_EQ(firstTwo(VideoFrame::makeFSDither), (Pixels{0, grey(255)}));            // 100 + 43
    EXPECT_EQ(firstTwo(VideoFrame::make9bppFSDither), (Pixels{grey(72), grey(108)})); // 100 + 12
    EXPECT_EQ(firstTwo(VideoFrame::make6bppFSDither), (Pixels{grey(85), grey(85)}));  // 100 + 6

    // Over an area the written values keep the mean (of the grey for the
    // grey routine) and use only the allowed levels.
    const struct {
        Routine routine;
        std::set<int> levels;
        int mean[3];
    } cases[] = {
        {VideoFrame::makeFSDither, {0, 255}, {116, 116, 116}},
        {VideoFrame::make6bppFSDither, {0, 85, 190, 255}, {100, 30, 220}},
        {VideoFrame::make9bppFSDither, {0, 36, 72, 108, 144, 180, 216, 255}, {100, 30, 220}},
    };
    for (const auto& c : cases) {
        VideoFrame f = blank(64, 64);
        f.clear(rgb(100, 30, 220));
        c.routine(f.pixels(), 64, 64);
        long long sums[3] = {0, 0, 0};
        for (unsigned int p : pixelsOf(f))
            for (int k = 0; k < 3; ++k) {
                const int v = static_cast<int>((p >> (16 - 8 * k)) & 0xFF);
                ASSERT_TRUE(c.levels.count(v));
                sums[k] += v;
            }
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(sums[k] / 4096.0, c.mean[k], 4.0);
    }
}

TEST(ImageColourTest, NullAndEmptyImagesAreLeftAlone)
{
    const Routine all[] = {VideoFrame::makeGray, VideoFrame::makeSepia, VideoFrame::makeColorSepia,
                           VideoFrame::makeLineArt, VideoFrame::make6bppColor,
                           VideoFrame::decreaseColors12bit, VideoFrame::makeDither,
                           VideoFrame::makeFSDither, VideoFrame::make9bppFSDither};
    Pixels p(4, 0x123456u);
    for (Routine r : all) {
        r(nullptr, 2, 2);
        r(p.data(), 0, 2);
        r(p.data(), 2, -1);
    }
    VideoFrame::blur(p.data(), 2, 2, 4); // no inner pixels
    EXPECT_EQ(p, Pixels(4, 0x123456u));
}
