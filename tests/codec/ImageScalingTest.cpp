#include "ImageEnlarger.h"
#include "ImageShrinker.h"
#include "VideoFrame.h"

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Pixels = std::vector<unsigned int>;

Pixels randomImage(int width, int height, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    Pixels p(static_cast<size_t>(width) * height);
    for (auto& v : p)
        v = rng();
    return p;
}

std::vector<int> toVector(const Array<int, int>& a)
{
    return std::vector<int>(a.data(), a.data() + a.count());
}

unsigned int rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }

} // namespace

TEST(ImageScalingTest, StepTablesFollowTheBresenhamWalks)
{
    Array<int, int> steps;
    ImageShrinker::fillSteps(10, 4, steps);
    EXPECT_EQ(toVector(steps), (std::vector<int>{0, 2, 5, 8}));
    ImageEnlarger::fillSteps(4, 10, steps);
    EXPECT_EQ(toVector(steps), (std::vector<int>{0, 0, 1, 1, 1, 2, 2, 2, 3, 3}));

    // Over many size pairs: shrinking tables rise strictly from 0, enlarging
    // tables rise by at most one and end on the last source index; even the
    // walk used against its direction stays inside the source.
    for (int src = 1; src <= 40; ++src) {
        for (int dst = 1; dst <= 40; ++dst) {
            ImageShrinker::fillSteps(src, dst, steps);
            ASSERT_EQ(steps.count(), dst);
            EXPECT_EQ(steps[0], 0);
            for (int i = 0; i < dst; ++i) {
                ASSERT_GE(steps[i], 0);
                ASSERT_LT(steps[i], src);
                if (i > 0 && dst <= src) {
                    ASSERT_GT(steps[i], steps[i - 1]) << src << " -> " << dst;
                }
            }
            ImageEnlarger::fillSteps(src, dst, steps);
            for (int i = 0; i < dst; ++i) {
                ASSERT_LT(steps[i], src);
                if (i > 0) {
                    ASSERT_LE(steps[i] - steps[i - 1], 1);
                }
            }
            if (dst >= src) {
                EXPECT_EQ(steps[dst - 1], src - 1) << src << " -> " << dst;
            }
        }
    }
    ImageShrinker::fillSteps(0, 4, steps);
    EXPECT_EQ(steps.count(), 0);
}

TEST(ImageScalingTest, ScalerObjectsReuseTablesAndCoverEveryAxisDirection)
{
    VideoFrame src, dst;
    src.resize(4, 4);
    for (int i = 0; i < 16; ++i)
        src.pixels()[i] = 0xFF000000u | i;
    dst.resize(2, 2);
    ImageShrinker shrinker;
    shrinker.shrink(&src, &dst);
    shrinker.shrink(&src, &dst);
    EXPECT_EQ(shrinker.tableBuilds(), 1);
    EXPECT_EQ(std::vector<unsigned>(dst.pixels(), dst.pixels() + 4),
              (std::vector<unsigned>{0xFF000000u, 0xFF000002u, 0xFF000008u, 0xFF00000Au}));
    dst.resize(3, 2);
    shrinker.shrink(&src, &dst);
    EXPECT_EQ(shrinker.tableBuilds(), 2);

    // Shrinking one axis while growing the other: every destination pixel is
    // written from the source (no unset entries, no reads past the end).
    Pixels wide = randomImage(8, 2);
    Pixels out(3 * 5, 0xDEADBEEFu);
    shrinker.shrink(wide.data(), 8, 2, out.data(), 3, 5);
    for (unsigned int p : out)
        EXPECT_NE(std::find(wide.begin(), wide.end(), p), wide.end());

    // An enlarger asked to shrink an axis scales it rather than cropping it.
    const Pixels line = {0, 1, 2, 3, 4, 5, 6, 7};
    Pixels half(4);
    ImageEnlarger enlarger;
    enlarger.enlarge(line.data(), 8, 1, half.data(), 4, 1);
    EXPECT_EQ(half, (Pixels{0, 2, 4, 6}));

    // Null and empty inputs change nothing.
    Pixels untouched(4, 7);
    shrinker.shrink(nullptr, 4, 4, untouched.data(), 2, 2);
    shrinker.shrink(line.data(), 0, 1, untouched.data(), 2, 2);
    enlarger.enlarge(static_cast<VideoFrame*>(nullptr), &dst);
    EXPECT_EQ(untouched, Pixels(4, 7));
}

TEST(ImageScalingTest, StretchPicksTheResamplerByRatio)
{
    const Pixels src = randomImage(100, 100);
    Pixels dst(50 * 50), expected;

    // Exact half: 2 x 2 averages of the pair averages, rounding down, alpha 0.
    Pixels block = {rgb(0, 10, 200), rgb(1, 11, 201), rgb(1, 11, 201), rgb(1, 12, 203)};
    Pixels tiny(1);
    VideoFrame::stretchPixels(block.data(), 2, 2, tiny.data(), 1, 1);
    EXPECT_EQ(tiny[0], rgb(0, 10, 201));
    VideoFrame::stretchPixels(src.data(), 100, 100, dst.data(), 50, 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) {
            const unsigned a = src[(2 * y) * 100 + 2 * x], b = src[(2 * y) * 100 + 2 * x + 1];
            const unsigned c = src[(2 * y + 1) * 100 + 2 * x], d = src[(2 * y + 1) * 100 + 2 * x + 1];
            auto avg = [](unsigned p, unsigned q) {
                return ((p & q) & 0xFFFFFFu) + (((p ^ q) >> 1) & 0x7F7F7Fu);
            };
            ASSERT_EQ(dst[y * 50 + x], avg(avg(a, b), avg(c, d)));
        }

    Pixels actual(60 * 60);
    expected.assign(60 * 60, 0);
    VideoFrame::stretchPixels(src.data(), 100, 100, actual.data(), 60, 60);
    VideoFrame::zoom(src.data(), 100, 100, expected.data(), 60, 60, true);
    EXPECT_EQ(actual, expected);

    actual.assign(59 * 59, 0);
    expected.assign(59 * 59, 1);
    VideoFrame::stretchPixels(src.data(), 100, 100, actual.data(), 59, 59);
    VideoFrame::shrinkPixels(src.data(), 100, 100, expected.data(), 59, 59);
    EXPECT_EQ(actual, expected);

    actual.assign(100 * 100, 0);
    VideoFrame::stretchPixels(src.data(), 100, 100, actual.data(), 100, 100);
    EXPECT_EQ(actual, src);

    // Half the width but not half the height must not take the 2 x 2 path,
    // which would write 50 x 50 pixels into this 50 x 30 buffer.
    Pixels guarded(50 * 30 + 16, 0xABCDEF01u);
    VideoFrame::stretchPixels(src.data(), 100, 100, guarded.data(), 50, 30);
    for (int i = 50 * 30; i < 50 * 30 + 16; ++i)
        EXPECT_EQ(guarded[i], 0xABCDEF01u);
}

TEST(ImageScalingTest, InPlaceFormsResizeThroughScratch)
{
    const Pixels src = randomImage(100, 100, 7);
    VideoFrame frame;
    frame.setPixels(src.data(), 100, 100);
    frame.stretchPixels(100, 100);
    EXPECT_EQ(Pixels(frame.pixels(), frame.pixels() + 10000), src);
    EXPECT_EQ(frame.scratch().count(), 0);

    Pixels expected(50 * 50);
    VideoFrame::stretchPixels(src.data(), 100, 100, expected.data(), 50, 50);
    frame.stretchPixels(50, 50);
    ASSERT_EQ(frame.width(), 50);
    EXPECT_EQ(Pixels(frame.pixels(), frame.pixels() + 2500), expected);

    frame.shrinkHalf();
    EXPECT_EQ(frame.width(), 25);
    EXPECT_EQ(frame.height(), 25);
    frame.shrinkFast(10, 40);
    EXPECT_EQ(frame.width(), 10);
    EXPECT_EQ(frame.height(), 40);

    VideoFrame odd;
    odd.resize(5, 3);
    Pixels halfOut(2);
    EXPECT_EQ(VideoFrame::shrinkHalf(halfOut.data(), odd.pixels(), 5, 3), 1);
    odd.shrinkHalf();
    EXPECT_EQ(odd.width(), 2);
    EXPECT_EQ(odd.height(), 1);
    odd.shrinkHalf(); // one row: left alone
    EXPECT_EQ(odd.height(), 1);

    // A size whose pixel count overflows an int is an allocation failure,
    // never a small buffer, and the frame stays as it was.
    EXPECT_THROW(frame.stretchPixels(70000, 70000), std::bad_alloc);
    EXPECT_EQ(frame.width(), 10);
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

    const Pixels quad = {0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u};
    Pixels big(16);
    VideoFrame::zoom(quad.data(), 2, 2, big.data(), 4, 4, false);
    EXPECT_EQ(big[0], 0xFF000001u);
    EXPECT_EQ(big[1], 0xFF000001u);
    EXPECT_EQ(big[3], 0xFF000002u);
    EXPECT_EQ(big[15], 0xFF000004u);

    // A single source pixel has no right or lower neighbour to blend with.
    const Pixels one = {0xFF123456u};
    Pixels three(9);
    VideoFrame::zoom(one.data(), 1, 1, three.data(), 3, 3, true);
    EXPECT_EQ(three, Pixels(9, 0x123456u));
}

TEST(ImageScalingTest, AveragingShrinkers)
{
    // Area averaging: truncated means; one sample is copied with its alpha.
    const Pixels row = {rgb(10, 0, 0), rgb(11, 0, 0), rgb(13, 0, 0)};
    Pixels one(1);
    VideoFrame::shrinkPixels(row.data(), 3, 1, one.data(), 1, 1);
    EXPECT_EQ(one[0], rgb(11, 0, 0));
    const Pixels src = randomImage(7, 5, 3);
    Pixels same(35);
    VideoFrame::shrinkPixels(src.data(), 7, 5, same.data(), 7, 5);
    EXPECT_EQ(same, src);

    // Box filter: 6 -> 2 takes the blocks [0, 3) and [3, 6).
    Pixels six(36);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            six[y * 6 + x] = rgb(x < 3 ? 30 : 60, y < 3 ? 90 : 120, x + y);
    Pixels q(4), qf(4);
    VideoFrame::shrinkPixelsQ(six.data(), 6, 6, q.data(), 2, 2);
    EXPECT_EQ(q, (Pixels{rgb(30, 90, 2), rgb(60, 90, 5), rgb(30, 120, 5), rgb(60, 120, 8)}));

    // The accumulating variant gives the same result for any shrink.
    const Pixels big = randomImage(37, 23, 11);
    for (int dw = 1; dw <= 37; dw += 4) {
        for (int dh = 1; dh <= 23; dh += 3) {
            q.assign(dw * dh, 0);
            qf.assign(dw * dh, 1);
            VideoFrame::shrinkPixelsQ(big.data(), 37, 23, q.data(), dw, dh);
            VideoFrame::shrinkPixelsQF(big.data(), 37, 23, qf.data(), dw, dh);
            ASSERT_EQ(q, qf) << dw << "x" << dh;
        }
    }
    // Only for shrinking: a growing axis or an unchanged size does nothing.
    Pixels untouched(6 * 8, 5);
    VideoFrame::shrinkPixelsQ(six.data(), 6, 6, untouched.data(), 6, 8);
    VideoFrame::shrinkPixelsQF(six.data(), 6, 6, untouched.data(), 6, 6);
    VideoFrame::shrinkPixelsM(six.data(), 6, 6, untouched.data(), 8, 6);
    EXPECT_EQ(untouched, Pixels(6 * 8, 5));

    // Mapped shrinkers average a pixel with the one already at its target.
    const Pixels four = {rgb(0, 0, 0), rgb(0, 0, 101), rgb(50, 0, 0), rgb(50, 1, 0)};
    Pixels two(2);
    VideoFrame::shrinkPixelsM(four.data(), 4, 1, two.data(), 2, 1);
    EXPECT_EQ(two, (Pixels{rgb(0, 0, 50), rgb(50, 0, 0)}));
    VideoFrame::shrinkPixelsMediumQ(four.data(), 4, 1, two.data(), 2, 1);
    EXPECT_EQ(two, (Pixels{rgb(0, 0, 50), rgb(50, 0, 0)}));
    const Pixels column = {rgb(100, 0, 0), rgb(0, 0, 0)};
    VideoFrame::shrinkPixelsM(column.data(), 1, 2, one.data(), 1, 1);
    EXPECT_EQ(one[0], rgb(50, 0, 0));
}

TEST(ImageScalingTest, LineScalers)
{
    const Pixels src = {10, 20, 30, 40};
    Pixels out(2);
    VideoFrame::ScaleLine(out.data(), src.data(), 4, 2);
    EXPECT_EQ(out, (Pixels{10, 30}));
    out.resize(5);
    VideoFrame::ScaleLine(out.data(), src.data(), 3, 5);
    EXPECT_EQ(out, (Pixels{10, 10, 20, 20, 30}));

    // Enlarging 2 -> 8: three leading repeats, then the walk from the start,
    // mixing in the right neighbour from half a step on.
    const Pixels pair = {0xFF000000u, 0xFF0000FEu};
    std::vector<unsigned int> eight(8); // exact size: ASan sees any overrun
    VideoFrame::ScaleLineAvg(pair.data(), 2, eight.data(), 8);
    const unsigned mid = 0x7Fu;
    EXPECT_EQ(eight, (Pixels{0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u, mid,
                             mid, 0xFF0000FEu}));

    // The rectangle forms apply the same stepping to rows.
    Pixels rect(4 * 4);
    VideoFrame::ScaleRect(rect.data(), src.data(), 2, 2, 4, 4);
    EXPECT_EQ(Pixels(rect.begin(), rect.begin() + 4), (Pixels{10, 10, 20, 20}));
    EXPECT_EQ(Pixels(rect.begin() + 4, rect.begin() + 8), (Pixels{10, 10, 20, 20}));
    EXPECT_EQ(Pixels(rect.begin() + 12, rect.end()), (Pixels{30, 30, 40, 40}));
    Pixels columnOut(8);
    VideoFrame::ScaleRectAvg(pair.data(), 1, 2, columnOut.data(), 1, 8);
    EXPECT_EQ(columnOut, eight);

    const Pixels wide = randomImage(13, 9, 5);
    for (int dw : {1, 4, 13, 30})
        for (int dh : {1, 5, 9, 20}) {
            std::vector<unsigned int> a(static_cast<size_t>(dw) * dh);
            VideoFrame::ScaleRectAvg(wide.data(), 13, 9, a.data(), dw, dh);
            VideoFrame::ScaleRect(a.data(), wide.data(), 13, 9, dw, dh);
        }
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
    VideoFrame::ScaleLine(dst.data(), nullptr, 4, 4);
    VideoFrame::ScaleLineAvg(src.data(), 4, dst.data(), 0);
    EXPECT_EQ(dst, Pixels(16, 9));
}
