// Colour routines and dithering.

#include "VideoFrame.h"

#include <algorithm>
#include <climits>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Pixels = std::vector<unsigned int>;
using Routine = void (*)(unsigned int*, int, int);

unsigned int rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }
unsigned int grey(int v) { return rgb(v, v, v); }

// Applies a routine to single pixels.
Pixels apply(Routine routine, Pixels in)
{
    routine(in.data(), static_cast<int>(in.size()), 1);
    return in;
}

unsigned int apply(Routine routine, unsigned int p) { return apply(routine, Pixels{p})[0]; }

// Pixels whose channel sums run through 0 .. 765.
Pixels everySum()
{
    Pixels p;
    for (int s = 0; s <= 765; ++s) {
        const int r = std::min(s, 255), g = std::min(std::max(s - 255, 0), 255);
        p.push_back(rgb(r, g, s - r - g));
    }
    return p;
}

std::set<unsigned int> distinct(const Pixels& p) { return std::set<unsigned int>(p.begin(), p.end()); }

} // namespace

TEST(ImageColourTest, GreyScales)
{
    EXPECT_EQ(apply(VideoFrame::makeGray, 0xFF0A1421u), grey(21));
    EXPECT_EQ(apply(VideoFrame::makeGray4Levels, 0xFFFFFFu), grey(255));
    EXPECT_EQ(apply(VideoFrame::makeGray4Levels, 0u), 0u);

    // Each level routine yields its levels, in order of brightness.
    struct Case {
        Routine routine;
        std::vector<int> levels;
    };
    const Case cases[] = {
        {VideoFrame::makeGray4Levels, {0, 85, 170, 255}},
        {VideoFrame::makeGray8Levels, {0, 36, 72, 108, 147, 183, 219, 255}},
        {VideoFrame::makeGray16Levels,
         {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}},
    };
    for (const Case& c : cases) {
        const Pixels out = apply(c.routine, everySum());
        std::set<unsigned int> expected;
        for (int v : c.levels)
            expected.insert(grey(v));
        EXPECT_EQ(distinct(out), expected);
        for (size_t i = 1; i < out.size(); ++i)
            ASSERT_LE(out[i - 1], out[i]);
    }
}

TEST(ImageColourTest, SepiaAndLineArt)
{
    // Grey g: red g + 51, green 0 below 28 then g + 38, blue g; all capped.
    EXPECT_EQ(apply(VideoFrame::makeSepia, Pixels{grey(27), grey(28), grey(204), grey(205), grey(217), grey(218)}),
              (Pixels{rgb(78, 0, 27), rgb(79, 66, 28), rgb(255, 242, 204), rgb(255, 243, 205),
                      rgb(255, 255, 217), rgb(255, 255, 218)}));
    // Every row of the matrix reads the original channels.
    EXPECT_EQ(apply(VideoFrame::makeColorSepia, Pixels{rgb(255, 0, 0), 0xFFFFFFFFu, 0u}),
              (Pixels{rgb(100, 88, 69), rgb(255, 255, 238), 0u}));
    EXPECT_EQ(apply(VideoFrame::makeLineArt, Pixels{0x808000u, 0x808080u, 0xFF7F7F7Fu}),
              (Pixels{0u, 0xFFFFFFu, 0u}));
}

TEST(ImageColourTest, ColourReduction)
{
    EXPECT_EQ(apply(VideoFrame::decreaseColors12bit, 0xFF123456u), 0x1F3F5Fu);
    EXPECT_EQ(apply(VideoFrame::decreaseColors15bit, 0x123456u), 0x173757u);
    EXPECT_EQ(apply(VideoFrame::decreaseColors9bit, 0xABCDEFu), 0xBFDFFFu);
    EXPECT_EQ(apply(VideoFrame::make3bppColor, rgb(0x7F, 0x80, 0xFF)), rgb(0, 255, 255));
    EXPECT_EQ(apply(VideoFrame::make6bppColor, Pixels{rgb(0x3F, 0x40, 0x80), rgb(0xC0, 0, 0)}),
              (Pixels{rgb(0, 85, 190), rgb(255, 0, 0)}));
    EXPECT_EQ(apply(VideoFrame::make9bppColor, rgb(0x20, 0xDF, 0xE0)), rgb(36, 216, 255));
}

TEST(ImageColourTest, BrightnessContrastGammaAndLevels)
{
    VideoFrame f;
    f.resize(3, 1);
    auto set = [&f](unsigned a, unsigned b, unsigned c) {
        f.pixels()[0] = a;
        f.pixels()[1] = b;
        f.pixels()[2] = c;
    };
    auto get = [&f]() { return Pixels(f.pixels(), f.pixels() + 3); };

    set(grey(5), grey(100), grey(250));
    f.makeBrightness(-10);
    EXPECT_EQ(get(), (Pixels{0, grey(90), grey(240)}));
    f.makeBrightness(INT_MAX);
    EXPECT_EQ(get(), Pixels(3, grey(255)));

    set(grey(100), grey(200), 0xFF808080u);
    f.makeContrast(200);
    EXPECT_EQ(get(), (Pixels{grey(72), grey(255), grey(128)}));
    f.makeContrast(0);
    EXPECT_EQ(get(), Pixels(3, grey(128)));
    set(grey(1), grey(2), grey(3));
    f.makeContrast(100);
    EXPECT_EQ(get(), (Pixels{grey(1), grey(2), grey(3)}));

    set(grey(64), grey(0), grey(255));
    f.makeGamma(2.0);
    EXPECT_EQ(get(), (Pixels{grey(128), 0, grey(255)}));
    f.makeGamma(0.0);
    f.makeGamma(-1.0);
    EXPECT_EQ(get(), (Pixels{grey(128), 0, grey(255)}));

    set(grey(127), grey(128), rgb(0, 200, 63));
    f.discretize(2);
    EXPECT_EQ(get(), (Pixels{0, grey(255), rgb(0, 255, 0)}));
    set(grey(63), grey(200), grey(128));
    f.discretize(3);
    EXPECT_EQ(get(), (Pixels{0, grey(255), grey(128)}));
    f.discretize(1);
    f.discretize(257);
    EXPECT_EQ(get(), (Pixels{0, grey(255), grey(128)}));
}

TEST(ImageColourTest, BlurWeightsTheNeighbourhood)
{
    VideoFrame f;
    f.resize(5, 5);
    f.clear(0xFF000000u);
    f.setPixel(2, 2, 0xFFA0A0A0u);
    f.blur(4); // centre weight 4, sides 2, corners 1, divided by 16
    EXPECT_EQ(f.getPixel(2, 2), grey(40));
    EXPECT_EQ(f.getPixel(1, 2), grey(20));
    EXPECT_EQ(f.getPixel(3, 3), grey(10));
    // The outer ring stays as it was.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(f.getPixel(i, 0), 0xFF000000u);
        EXPECT_EQ(f.getPixel(0, i), 0xFF000000u);
        EXPECT_EQ(f.getPixel(4, i), 0xFF000000u);
    }
    f.blur(-1);
    EXPECT_EQ(f.getPixel(2, 2), grey(40));
}

TEST(ImageColourTest, OrderedDither)
{
    EXPECT_EQ(VideoFrame::ditherPixel(0, 0, 0x808080u), 0u);
    EXPECT_EQ(VideoFrame::ditherPixel(1, 0, 0x808080u), 0xFFFFFFu);
    EXPECT_EQ(VideoFrame::ditherGrayValue(0, 0, 128), 0);
    EXPECT_EQ(VideoFrame::ditherGrayValue(1, 0, 128), 255);
    EXPECT_EQ(VideoFrame::ditherGrayValue(-3, -4, 1000), 255);

    // Brighter levels never light fewer pixels of the 4 x 4 tile; level 0 is
    // black and level 15 white.
    const unsigned char (*rows[4])[4] = {VideoFrame::DITHERS_UP, VideoFrame::DITHERS_UM,
                                         VideoFrame::DITHERS_DM, VideoFrame::DITHERS_DN};
    int previous = -1;
    for (int level = 0; level < 16; ++level) {
        int lit = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                lit += rows[y][level][x];
        EXPECT_GE(lit, previous);
        previous = lit;
        if (level == 0) {
            EXPECT_EQ(lit, 0);
        }
    }
    EXPECT_EQ(previous, 16);

    VideoFrame tile;
    tile.resize(8, 4);
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
        VideoFrame f;
        f.resize(4, 2);
        f.clear(grey(100));
        routine(f.pixels(), 4, 2);
        return Pixels{f.getPixel(0, 0), f.getPixel(1, 0)};
    };
    EXPECT_EQ(firstTwo(VideoFrame::makeFSDither), (Pixels{0, grey(255)}));       // 100 + 43
    EXPECT_EQ(firstTwo(VideoFrame::make9bppFSDither), (Pixels{grey(72), grey(108)})); // 100 + 12
    EXPECT_EQ(firstTwo(VideoFrame::make6bppFSDither), (Pixels{grey(85), grey(85)}));  // 100 + 6

    // Over an area the written values keep the mean and use only the
    // allowed levels.
    struct Case {
        Routine routine;
        std::set<int> levels;
    };
    const Case cases[] = {
        {VideoFrame::makeFSDither, {0, 255}},
        {VideoFrame::makeFSRGBDither, {0, 255}},
        {VideoFrame::make6bppFSDither, {0, 85, 190, 255}},
        {VideoFrame::make9bppFSDither, {0, 36, 72, 108, 144, 180, 216, 255}},
    };
    for (const Case& c : cases) {
        VideoFrame f;
        f.resize(64, 64);
        f.clear(rgb(100, 30, 220));
        c.routine(f.pixels(), 64, 64);
        long long sums[3] = {0, 0, 0};
        for (int i = 0; i < 64 * 64; ++i) {
            const unsigned int p = f.pixels()[i];
            const int ch[3] = {static_cast<int>(p >> 16), static_cast<int>((p >> 8) & 0xFF),
                               static_cast<int>(p & 0xFF)};
            for (int k = 0; k < 3; ++k) {
                ASSERT_TRUE(c.levels.count(ch[k]));
                sums[k] += ch[k];
            }
        }
        if (c.routine == static_cast<Routine>(VideoFrame::makeFSDither)) {
            EXPECT_NEAR(sums[0] / 4096.0, 116.0, 4.0); // the grey (100 + 30 + 220) / 3
        } else {
            EXPECT_NEAR(sums[0] / 4096.0, 100.0, 4.0);
            EXPECT_NEAR(sums[1] / 4096.0, 30.0, 4.0);
            EXPECT_NEAR(sums[2] / 4096.0, 220.0, 4.0);
        }
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
