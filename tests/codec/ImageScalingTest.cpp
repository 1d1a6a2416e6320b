// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageScaler.h"
#include "VideoFrame.h"

#include <algorithm>
#include <climits>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

using namespace imagetest;

namespace {

std::vector<int> toVector(const Array<int, int>& a) { return std::vector<int>(a.data(), a.data() + a.count()); }


} // namespace

TEST(ImageScalingTest, StepTablesFollowTheBresenhamWalks)
{
    Array<int, int> steps;
    ImageScaler::fillShrinkSteps(10, 4, steps);
    EXPECT_EQ(toVector(steps), (std::vector<int>{0, 2, 5, 8}));
    ImageScaler::fillEnlargeSteps(4, 10, steps);
    EXPECT_EQ(toVector(steps), (std::vector<int>{0, 0, 1, 1, 1, 2, 2, 2, 3, 3}));
    ImageScaler::fillShrinkSteps(0, 4, steps);
    EXPECT_EQ(steps.count(), 0);

    // Over many size pairs: shrinking tables rise strictly from 0, enlarging
    // tables rise by at most one and end on the last source index; even the
    // walk used against its direction stays inside the source.
    for (int src = 1; src <= 40; ++src) {
        for (int dst = 1; dst <= 40; ++dst) {
            ImageScaler::fillShrinkSteps(src, dst, steps);
            ASSERT_EQ(steps.count(), dst);
            EXPECT_EQ(steps[0], 0);
            for (int i = 0; i < dst; ++i) {
                ASSERT_LT(steps[i], src);
                ASSERT_TRUE(i == 0 || dst > src || steps[i] > steps[i - 1]) << src << " -> " << dst;
            }
            ImageScaler::fillEnlargeSteps(src, dst, steps);
            for (int i = 0; i < dst; ++i)
                ASSERT_TRUE(steps[i] < src && (i == 0 || steps[i] - steps[i - 1] <= 1));
            EXPECT_TRUE(dst < src || steps[dst - 1] == src - 1) << src << " -> " << dst;
        }
    }
    // An enlarger asked to shrink an axis scales it rather than cropping it.
    const Pixels line = {0, 1, 2, 3, 4, 5, 6, 7};
    Pixels half(4);
    ImageEnlarger().enlarge(line.data(), 8, 1, half.data(), 4, 1);
    EXPECT_EQ(half, (Pixels{0, 2, 4, 6}));
}

TEST(ImageScalingTest, StretchPicksTheResamplerByRatio)
{
    const Pixels src = randomImage(100, 100);

    // Exact half: 2 x 2 averages of the pair averages, rounding down, alpha 0
    // (the second block shows the row stride).
    const Pixels block = {rgb(0, 10, 200), rgb(1, 11, 201), 5, 5, rgb(1, 11, 201), rgb(1, 12, 203), 5, 5};
    Pixels tiny(2);
    VideoFrame::stretchPixels(block.data(), 4, 2, tiny.data(), 2, 1);
    EXPECT_EQ(tiny, (Pixels{rgb(0, 10, 201), 5}));

    // 60 % and more: bilinear zoom; below: area averaging; same size: a copy.
    // A ramp of red 0, 10, .. 90 over ten columns (two equal rows) shows
    // which: to six columns the bilinear positions 0, 1.5, 3, .. 7.5 give
    // 0, 15, .. 75; to four columns the shrinking walk's ranges [0, 2),
    // [2, 5), [5, 8), [8, 10) average to 5, 30, 60, 85.
    Pixels ramp(20);
    for (int i = 0; i < 20; ++i)
        ramp[i] = rgb(i % 10 * 10, 0, 0);
    const struct {
        int width;
        Pixels expected;
    } cases[] = {{6, {rgb(0, 0, 0), rgb(15, 0, 0), rgb(30, 0, 0), rgb(45, 0, 0), rgb(60, 0, 0), rgb(75, 0, 0)}},
                 {4, {rgb(5, 0, 0), rgb(30, 0, 0), rgb(60, 0, 0), rgb(85, 0, 0)}}};
    for (const auto& c : cases) {
        Pixels actual(size_t(c.width), 1);
        VideoFrame::stretchPixels(ramp.data(), 10, 2, actual.data(), c.width, 1);
        EXPECT_EQ(actual, c.expected) << c.width;
    }
    Pixels same(20, 1);
    VideoFrame::stretchPixels(ramp.data(), 10, 2, same.data(), 10, 2);
    EXPECT_EQ(same, ramp);

    // Half the width but not half the height must not take the 2 x 2 path,
    // which would write 50 x 50 pixels into this 50 x 30 buffer.
    Pixels guarded(50 * 30 + 16, 0xABCDEF01u);
    VideoFrame::stretchPixels(src.data(), 100, 100, guarded.data(), 50, 30);
    EXPECT_EQ(Pixels(guarded.begin() + 50 * 30, guarded.end()), Pixels(16, 0xABCDEF01u));
}

TEST(ImageScalingTest, InPlaceFormsResizeThroughScratch)
{
    const Pixels src = randomImage(100, 100, 7);
    VideoFrame frame;
    frame.setPixels(src.data(), 100, 100);
    frame.stretchPixels(100, 100);
    EXPECT_EQ(pixelsOf(frame), src);
    EXPECT_EQ(frame.scratch().count(), 0);

    Pixels expected(50 * 50);
    VideoFrame::stretchPixels(src.data(), 100, 100, expected.data(), 50, 50);
    frame.stretchPixels(50, 50);
    EXPECT_EQ(pixelsOf(frame), expected);
    // Halving drops an odd last row and column; one row is left alone.
    VideoFrame odd = blank(5, 3);
    odd.shrinkHalf();
    odd.shrinkHalf();
    EXPECT_EQ(odd.width() * 100 + odd.height(), 2 * 100 + 1);

    // A size whose pixel count overflows an int is an allocation failure,
    // never a small buffer, and the frame stays as it was.
    EXPECT_THROW(frame.stretchPixels(70000, 70000), std::bad_alloc);
    EXPECT_EQ(frame.width(), 50);
    Pixels small(4, 9);
    VideoFrame::stretchPixels(src.data(), 100, 100, small.data(), 70000, 70000);
    EXPECT_EQ(small, Pixels(4, 9));
}

TEST(ImageScalingTest, ZoomSteps)
{
    const Pixels ramp = {0x000000u, 0xFFFFFFu};
    Pixels out(4);
    VideoFrame::zoom(ramp.data(), 2, 1, out.data(), 4, 1, true);
    EXPECT_EQ(out, (Pixels{0x000000u, 0x3F3F3Fu, 0x7F7F7Fu, 0xBFBFBFu}));

    // A single source pixel has no right or lower neighbour to blend with.
    const Pixels one = {0xFF123456u};
    Pixels three(9);
    VideoFrame::zoom(one.data(), 1, 1, three.data(), 3, 3, true);
    EXPECT_EQ(three, Pixels(9, 0x123456u));
}

TEST(ImageScalingTest, AveragingShrinkers)
{
    // Area averaging: truncated means.
    const Pixels row = {rgb(10, 0, 0), rgb(11, 0, 0), rgb(13, 0, 0)};
    Pixels one(1);
    VideoFrame::shrinkPixels(row.data(), 3, 1, one.data(), 1, 1);
    EXPECT_EQ(one[0], rgb(11, 0, 0));

    // Box filter: 6 -> 2 takes the blocks [0, 3) and [3, 6).
    Pixels six(36);
    for (int i = 0; i < 36; ++i)
        six[i] = rgb(i % 6 < 3 ? 30 : 60, i / 6 < 3 ? 90 : 120, i % 6 + i / 6);
    Pixels q(4), qf(4);
    VideoFrame::shrinkPixelsQ(six.data(), 6, 6, q.data(), 2, 2);
    EXPECT_EQ(q, (Pixels{rgb(30, 90, 2), rgb(60, 90, 5), rgb(30, 120, 5), rgb(60, 120, 8)}));

    // The accumulating variant gives the same result for any shrink.
    const Pixels big = randomImage(37, 23, 11);
    for (int dw = 1; dw <= 37; dw += 4)
        for (int dh = 1; dh <= 23; dh += 3) {
            q.assign(dw * dh, 0);
            qf.assign(dw * dh, 1);
            VideoFrame::shrinkPixelsQ(big.data(), 37, 23, q.data(), dw, dh);
            VideoFrame::shrinkPixelsQF(big.data(), 37, 23, qf.data(), dw, dh);
            ASSERT_EQ(q, qf) << dw << "x" << dh;
        }

    // Mapped shrinkers average a pixel with the one already at its target.
    const Pixels four = {rgb(0, 0, 0), rgb(0, 0, 101), rgb(50, 0, 0), rgb(50, 1, 0)};
    Pixels two(2);
    for (auto shrink : {VideoFrame::shrinkPixelsM, VideoFrame::shrinkPixelsMediumQ}) {
        shrink(four.data(), 4, 1, two.data(), 2, 1);
        EXPECT_EQ(two, (Pixels{rgb(0, 0, 50), rgb(50, 0, 0)}));
    }
}

TEST(ImageScalingTest, LineScalers)
{
    const Pixels src = {10, 20, 30, 40};
    Pixels out(5);
    VideoFrame::ScaleLine(out.data(), src.data(), 3, 5);
    EXPECT_EQ(out, (Pixels{10, 10, 20, 20, 30}));

    // Enlarging 2 -> 8: three leading repeats, then the walk from the start,
    // mixing in the right neighbour from half a step on.
    const unsigned int b = 0xFF000000u, mid = 0x7Fu;
    const Pixels pair = {b, 0xFF0000FEu};
    Pixels eight(8); // exact size: ASan sees any overrun
    VideoFrame::ScaleLineAvg(pair.data(), 2, eight.data(), 8);
    EXPECT_EQ(eight, (Pixels{b, b, b, b, b, mid, mid, 0xFF0000FEu}));

    // The rectangle forms step rows the same way.
    Pixels rect(4 * 4);
    VideoFrame::ScaleRect(rect.data(), src.data(), 2, 2, 4, 4);
    EXPECT_EQ(rect, (Pixels{10, 10, 20, 20, 10, 10, 20, 20, 30, 30, 40, 40, 30, 30, 40, 40}));
}

TEST(ImageScalingTest, NullBuffersAndEmptySizesDoNothing)
{
    using Resampler = void (*)(const unsigned int*, int, int, unsigned int*, int, int);
    const Resampler all[] = {VideoFrame::stretchPixels, VideoFrame::shrinkPixels,
                             VideoFrame::shrinkPixelsF, VideoFrame::shrinkPixelsM,
                             VideoFrame::shrinkPixelsMediumQ, VideoFrame::shrinkPixelsQ,
                             VideoFrame::shrinkPixelsQF, VideoFrame::enlargePixels,
                             VideoFrame::ScaleRectAvg};
    const Pixels src(16, 3);
    Pixels dst(16, 9);
    for (Resampler r : all) {
        r(nullptr, 4, 4, dst.data(), 2, 2);
        r(src.data(), 4, 4, nullptr, 2, 2);
        r(src.data(), 0, 4, dst.data(), 2, 2);
        r(src.data(), 4, 4, dst.data(), -2, 2);
        r(src.data(), INT_MAX, INT_MAX, dst.data(), 2, 2);
    }
    VideoFrame::zoom(src.data(), 4, 4, dst.data(), 0, 2, true);
    ImageShrinker().shrink(nullptr, 4, 4, dst.data(), 2, 2);
    ImageEnlarger().enlarge(src.data(), 0, 1, dst.data(), 2, 2);
    VideoFrame::ScaleLine(dst.data(), nullptr, 4, 4);
    VideoFrame::ScaleLineAvg(src.data(), 4, dst.data(), 0);
    EXPECT_EQ(dst, Pixels(16, 9));
}
