// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoFrame.h"

#include <climits>
#include <cmath>
#include <deque>
#include <random>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

using namespace imagetest;

namespace {

using Point = std::pair<int, int>;

constexpr unsigned int kInk = 0xFF00FF00u;

// Points of an image that carry the ink colour.
std::set<Point> inked(const VideoFrame& f)
{
    std::set<Point> s;
    for (int y = 0; y < f.height(); ++y)
        for (int x = 0; x < f.width(); ++x)
            if (f.getPixel(x, y) == kInk)
                s.insert({x, y});
    return s;
}

// Whether the points form one piece through their 8 (or 4) neighbours.
bool connected(const std::set<Point>& points, bool diagonals)
{
    if (points.empty())
        return true;
    std::set<Point> seen = {*points.begin()};
    std::deque<Point> todo = {*points.begin()};
    while (!todo.empty()) {
        const auto [px, py] = todo.front();
        todo.pop_front();
        for (int d = 0; d < 9; ++d) {
            const int dx = d % 3 - 1, dy = d / 3 - 1;
            const Point q = {px + dx, py + dy};
            if ((diagonals || dx == 0 || dy == 0) && points.count(q) && seen.insert(q).second)
                todo.push_back(q);
        }
    }
    return seen.size() == points.size();
}

} // namespace

TEST(ImageDrawingTest, PixelsAndStraightLinesAreClipped)
{
    VideoFrame f = blank(8, 6);
    const struct {
        void (*draw)(VideoFrame&);
        size_t count;
    } cases[] = {
        {[](VideoFrame& g) { g.setPixel(-1, 0, kInk); g.setPixel(8, 5, kInk); g.setPixel(7, 5, kInk); }, 1},
        {[](VideoFrame& g) { g.hLine(INT_MAX, INT_MIN, 2, kInk); }, 8}, // reversed and far outside
        {[](VideoFrame& g) { g.vLine(3, 4, -100, kInk); }, 5},
        {[](VideoFrame& g) { g.rectangle(6, 4, 1, 1, kInk); }, 16},    // the outline only
        {[](VideoFrame& g) { g.bar(-5, 3, 100, 100, kInk); }, 8 * 3},
        {[](VideoFrame& g) { g.line(INT_MIN, 2, INT_MAX, 2, kInk); }, 8}, // bounded by the image
    };
    for (const auto& c : cases) {
        f.clear(0);
        c.draw(f);
        EXPECT_EQ(inked(f).size(), c.count);
    }
}

TEST(ImageDrawingTest, LinesIncludeBothEndsAndIgnoreDirection)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coord(-20, 40);
    for (int i = 0; i < 300; ++i) {
        const int x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
        VideoFrame a = blank(24, 24), b = blank(24, 24);
        a.line(x1, y1, x2, y2, kInk);
        b.line(x2, y2, x1, y1, kInk);
        const std::set<Point> pa = inked(a);
        ASSERT_EQ(pa, inked(b)) << x1 << "," << y1 << " " << x2 << "," << y2;
        EXPECT_TRUE(connected(pa, true));
        if (std::min({x1, x2, y1, y2}) >= 0 && std::max({x1, x2, y1, y2}) < 24) {
            EXPECT_TRUE(pa.count({x1, y1}) && pa.count({x2, y2}));
            EXPECT_EQ(pa.size(), static_cast<size_t>(std::max(std::abs(x2 - x1), std::abs(y2 - y1))) + 1);
        }
    }
}

TEST(ImageDrawingTest, FloodFillMatchesAReferenceFill)
{
    std::mt19937 rng(9);
    for (int round = 0; round < 40; ++round) {
        const int w = 1 + rng() % 30, h = 1 + rng() % 30;
        VideoFrame f = blank(w, h);
        for (int i = 0; i < w * h; ++i)
            f.pixels()[i] = rng() % 3; // three colours: many small regions
        const int sx = rng() % w, sy = rng() % h;
        Pixels expected = pixelsOf(f);
        const unsigned int old = expected[sy * w + sx];
        std::deque<Point> todo = {{sx, sy}};
        expected[sy * w + sx] = kInk;
        while (!todo.empty()) {
            const auto [x, y] = todo.front();
            todo.pop_front();
            for (const auto& [nx, ny] : {Point{x + 1, y}, Point{x - 1, y}, Point{x, y + 1}, Point{x, y - 1}})
                if (nx >= 0 && ny >= 0 && nx < w && ny < h && expected[ny * w + nx] == old) {
                    expected[ny * w + nx] = kInk;
                    todo.push_back({nx, ny});
                }
        }
        f.fill(sx, sy, kInk);
        ASSERT_EQ(pixelsOf(f), expected);
    }

    // A comb leaves many pending seeds; the stack stays proportional to the
    // image and is empty at the end.
    VideoFrame comb = blank(200, 200);
    for (int x = 1; x < 200; x += 2)
        comb.vLine(x, 0, 198, 1);
    Array<int, int> stack;
    VideoFrame::scanLineFloodFill(comb.pixels(), 200, 200, 0, 0, kInk, stack);
    EXPECT_EQ(stack.count(), 0);
    EXPECT_LE(stack.capacity(), 4 * 200 * 200 + 64);
    EXPECT_EQ(comb.getPixel(198, 0), kInk);
}

TEST(ImageDrawingTest, CirclesAndEllipses)
{
    for (int r = 0; r <= 25; ++r) {
        VideoFrame f = blank(61, 61), g = blank(61, 61), disc = blank(61, 61);
        f.circle(30, 30, r, kInk, false);
        g.rasterCircle2(30, 30, r, kInk, false);
        disc.circle(30, 30, r, kInk, true);
        const std::set<Point> ring = inked(f), ring4 = inked(g), inside = inked(disc);
        EXPECT_TRUE(connected(ring, true));
        EXPECT_TRUE(connected(ring4, false)) << "r=" << r;
        for (const auto& [x, y] : ring) {
            ASSERT_LE(std::fabs(std::hypot(x - 30, y - 30) - r), 0.5 + 1e-9) << "r=" << r;
            ASSERT_TRUE(ring.count({60 - x, y}) && ring.count({y, x})); // symmetric
        }
        // Filled: the outline and everything between its ends on each row.
        for (int y = 0; y < 61; ++y) {
            int first = 61, last = -1;
            for (const auto& [px, py] : ring)
                if (py == y) {
                    first = std::min(first, px);
                    last = std::max(last, px);
                }
            for (int x = 0; x < 61; ++x)
                ASSERT_EQ(inside.count({x, y}) == 1, x >= first && x <= last);
        }
    }

    VideoFrame f = blank(40, 30);
    f.ellipse(20, 15, 12, 5, kInk, false);
    const std::set<Point> curve = inked(f);
    EXPECT_TRUE(connected(curve, true));
    for (const auto& [x, y] : curve)
        EXPECT_NEAR(std::pow((x - 20) / 12.0, 2) + std::pow((y - 15) / 5.0, 2), 1.0, 0.3);
}

TEST(ImageDrawingTest, ShapesLargerThanTheImageAreClippedCheaply)
{
    // Drawn straight into a small image or into a large canvas and cut out:
    // the same pixels, whether or not the walks stop early.
    using Shape = void (*)(VideoFrame&, int, int, bool);
    const Shape shapes[] = {
        [](VideoFrame& f, int cx, int cy, bool filled) { f.circle(cx, cy, 37, kInk, filled); },
        [](VideoFrame& f, int cx, int cy, bool filled) { f.ellipse(cx, cy, 19, 52, kInk, filled); },
    };
    for (const Shape& shape : shapes)
        for (bool filled : {false, true})
            for (const auto& [cx, cy] : {Point{10, 10}, Point{-20, 5}, Point{40, -31}, Point{5, 50}}) {
                VideoFrame small = blank(20, 16), big = blank(200, 200);
                shape(small, cx, cy, filled);
                shape(big, cx + 90, cy + 90, filled);
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 20; ++x)
                        ASSERT_EQ(small.getPixel(x, y), big.getPixel(x + 90, y + 90))
                            << x << "," << y << " filled " << filled;
            }

    // Radii at the int limit about a centre in the image finish at once:
    // outlines lie outside, filled shapes cover everything.
    const struct {
        void (*draw)(VideoFrame&);
        size_t count;
    } cases[] = {
        {[](VideoFrame& f) {
             f.circle(8, 8, INT_MAX, kInk, false);
             f.rasterCircle2(8, 8, INT_MAX, kInk, false);
             f.ellipse(8, 8, INT_MAX, INT_MAX, kInk, false);
         }, 0},
        {[](VideoFrame& f) { f.circle(8, 8, INT_MAX, kInk, true); }, 256},
        {[](VideoFrame& f) { f.ellipse(8, 8, INT_MAX, INT_MAX - 1, kInk, true); }, 256},
        {[](VideoFrame& f) { f.rasterCircle2(8, 8, INT_MAX, kInk, true); }, 256},
        {[](VideoFrame& f) { f.ellipse(8, 8, 3, INT_MAX, kInk, false); }, 32}, // two columns
        {[](VideoFrame& f) { f.circle(INT_MAX, INT_MAX, 5, kInk, true); f.circle(8, 8, -1, kInk, true); }, 0},
    };
    for (const auto& c : cases) {
        VideoFrame f = blank(16, 16);
        c.draw(f);
        EXPECT_EQ(inked(f).size(), c.count);
    }
}
