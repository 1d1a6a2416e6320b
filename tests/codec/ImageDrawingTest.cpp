#include "VideoFrame.h"

#include <climits>
#include <cmath>
#include <deque>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Point = std::pair<int, int>;

constexpr unsigned int kInk = 0xFF00FF00u;

// Points of an image that carry the ink colour.
std::set<Point> inked(const VideoFrame& f)
{
    std::set<Point> s;
    for (int y = 0; y < f.height(); ++y)
        for (int x = 0; x < f.width(); ++x)
            if (f.pixels()[y * f.width() + x] == kInk)
                s.insert({x, y});
    return s;
}

VideoFrame blank(int w, int h)
{
    VideoFrame f;
    f.resize(w, h);
    return f;
}

bool connected(const std::set<Point>& points, bool diagonals)
{
    if (points.empty())
        return true;
    std::set<Point> seen = {*points.begin()};
    std::deque<Point> todo = {*points.begin()};
    while (!todo.empty()) {
        const Point p = todo.front();
        todo.pop_front();
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if ((dx == 0 && dy == 0) || (!diagonals && dx != 0 && dy != 0))
                    continue;
                const Point q = {p.first + dx, p.second + dy};
                if (points.count(q) && seen.insert(q).second)
                    todo.push_back(q);
            }
    }
    return seen.size() == points.size();
}

} // namespace

TEST(ImageDrawingTest, PixelsAndStraightLinesAreClipped)
{
    VideoFrame f = blank(8, 6);
    f.setPixel(-1, 0, kInk);
    f.setPixel(8, 5, kInk);
    f.setPixel(7, 5, kInk);
    EXPECT_EQ(inked(f), (std::set<Point>{{7, 5}}));
    EXPECT_EQ(f.getPixel(7, 5), kInk);
    EXPECT_EQ(f.getPixel(7, 6), 0u);
    EXPECT_EQ(VideoFrame::getPixel(nullptr, 8, 6, 1, 1), 0u);

    f.clear(0);
    f.hLine(INT_MAX, INT_MIN, 2, kInk); // reversed and far outside
    EXPECT_EQ(inked(f).size(), 8u);
    f.clear(0);
    f.vLine(3, 4, -100, kInk);
    EXPECT_EQ(inked(f).size(), 5u);
    f.clear(0);
    f.rectangle(6, 4, 1, 1, kInk);
    EXPECT_EQ(inked(f).size(), 16u);
    EXPECT_EQ(f.getPixel(3, 2), 0u);
    f.clear(0);
    f.bar(-5, 3, 100, 100, kInk);
    EXPECT_EQ(inked(f).size(), 8u * 3);
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
        const bool inside = x1 >= 0 && x2 >= 0 && y1 >= 0 && y2 >= 0 && x1 < 24 && x2 < 24
            && y1 < 24 && y2 < 24;
        if (inside) {
            EXPECT_TRUE(pa.count({x1, y1}) && pa.count({x2, y2}));
            EXPECT_EQ(pa.size(), static_cast<size_t>(std::max(std::abs(x2 - x1), std::abs(y2 - y1))) + 1);
        }
    }
    // The diagonal of a square and a line from one int limit to the other:
    // the work is bounded by the image, not by the coordinates.
    VideoFrame f = blank(5, 5);
    f.line(0, 0, 4, 4, kInk);
    EXPECT_EQ(inked(f), (std::set<Point>{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    f.clear(0);
    f.line(INT_MIN, 2, INT_MAX, 2, kInk);
    f.line(2, INT_MAX, 2, INT_MIN, kInk);
    EXPECT_EQ(inked(f).size(), 9u);
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
        std::vector<unsigned int> expected(f.pixels(), f.pixels() + w * h);
        const unsigned int old = expected[sy * w + sx];
        std::deque<Point> todo = {{sx, sy}};
        expected[sy * w + sx] = kInk;
        while (!todo.empty()) {
            const auto [x, y] = todo.front();
            todo.pop_front();
            const Point next[4] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
            for (const auto& [nx, ny] : next)
                if (nx >= 0 && ny >= 0 && nx < w && ny < h && expected[ny * w + nx] == old) {
                    expected[ny * w + nx] = kInk;
                    todo.push_back({nx, ny});
                }
        }
        f.fill(sx, sy, kInk);
        ASSERT_EQ(std::vector<unsigned int>(f.pixels(), f.pixels() + w * h), expected);
    }

    // Filling with the region's own colour or from outside changes nothing.
    VideoFrame f = blank(4, 4);
    f.fill(1, 1, 0);
    f.fill(-1, 0, kInk);
    f.fill(0, 4, kInk);
    EXPECT_TRUE(inked(f).empty());

    // A comb leaves many pending seeds; the stack stays proportional to the
    // image and is empty at the end.
    const int w = 200, h = 200;
    VideoFrame comb = blank(w, h);
    for (int x = 1; x < w; x += 2)
        comb.vLine(x, 0, h - 2, 1);
    Array<int, int> stack;
    VideoFrame::scanLineFloodFill(comb.pixels(), w, h, 0, 0, kInk, stack);
    EXPECT_EQ(stack.count(), 0);
    EXPECT_LE(stack.capacity(), 4 * w * h + 64);
    EXPECT_EQ(comb.getPixel(w - 2, 0), kInk);
}

TEST(ImageDrawingTest, CirclesAndEllipses)
{
    for (int r = 0; r <= 25; ++r) {
        VideoFrame f = blank(61, 61);
        f.circle(30, 30, r, kInk, false);
        const std::set<Point> ring = inked(f);
        for (const auto& [x, y] : ring) {
            const double d = std::hypot(x - 30, y - 30);
            ASSERT_LE(std::fabs(d - r), 0.5 + 1e-9) << "r=" << r;
            ASSERT_TRUE(ring.count({60 - x, y}) && ring.count({y, x})); // symmetric
        }
        EXPECT_TRUE(connected(ring, true));

        VideoFrame g = blank(61, 61);
        g.rasterCircle2(30, 30, r, kInk, false);
        const std::set<Point> ring4 = inked(g);
        EXPECT_TRUE(connected(ring4, false)) << "r=" << r;
        for (const auto& [x, y] : ring4)
            ASSERT_LT(std::fabs(std::hypot(x - 30, y - 30) - r), 1.0);

        // Filled: the outline and everything it encloses, and nothing else.
        VideoFrame disc = blank(61, 61);
        disc.circle(30, 30, r, kInk, true);
        const std::set<Point> inside = inked(disc);
        for (const Point& p : ring)
            ASSERT_TRUE(inside.count(p));
        for (int y = 0; y < 61; ++y) {
            int first = 61, last = -1;
            for (const Point& p : ring)
                if (p.second == y) {
                    first = std::min(first, p.first);
                    last = std::max(last, p.first);
                }
            for (int x = 0; x < 61; ++x)
                ASSERT_EQ(inside.count({x, y}) == 1, x >= first && x <= last);
        }
        VideoFrame disc2 = blank(61, 61);
        disc2.rasterCircle2(30, 30, r, kInk, true);
        for (const auto& [x, y] : inked(disc2))
            ASSERT_LT(std::hypot(x - 30, y - 30), r + 1.0);
    }

    VideoFrame f = blank(40, 30);
    f.ellipse(20, 15, 12, 5, kInk, false);
    const std::set<Point> curve = inked(f);
    EXPECT_TRUE(connected(curve, true));
    EXPECT_TRUE(curve.count({8, 15}) && curve.count({32, 15}) && curve.count({20, 10}));
    for (const auto& [x, y] : curve) {
        const double e = std::pow((x - 20) / 12.0, 2) + std::pow((y - 15) / 5.0, 2);
        EXPECT_NEAR(e, 1.0, 0.3);
        EXPECT_TRUE(curve.count({40 - x, y}) && curve.count({x, 30 - y}));
    }
    f.clear(0);
    f.ellipse(20, 15, 3, 0, kInk, true);
    EXPECT_EQ(inked(f).size(), 7u);
    f.clear(0);
    f.ellipse(20, 15, 0, 4, kInk, false);
    EXPECT_EQ(inked(f).size(), 9u);
    f.clear(0);
    f.circle(20, 15, -1, kInk, true);
    f.circle(INT_MAX, INT_MAX, 5, kInk, true);
    f.ellipse(INT_MIN, 0, 3, 3, kInk, true);
    EXPECT_TRUE(inked(f).empty());
    f.circle(0, 0, 0, kInk, false);
    EXPECT_EQ(inked(f), (std::set<Point>{{0, 0}}));
}

TEST(ImageDrawingTest, ShapesLargerThanTheImageAreClippedCheaply)
{
    // Drawn straight into a small image or into a large canvas and cut out:
    // the same pixels, whether or not the walks stop early.
    using Shape = void (*)(VideoFrame&, int, int, bool);
    const Shape shapes[] = {
        [](VideoFrame& f, int cx, int cy, bool filled) { f.circle(cx, cy, 37, kInk, filled); },
        [](VideoFrame& f, int cx, int cy, bool filled) { f.rasterCircle2(cx, cy, 37, kInk, filled); },
        [](VideoFrame& f, int cx, int cy, bool filled) { f.ellipse(cx, cy, 45, 23, kInk, filled); },
        [](VideoFrame& f, int cx, int cy, bool filled) { f.ellipse(cx, cy, 19, 52, kInk, filled); },
    };
    for (const Shape& shape : shapes)
        for (bool filled : {false, true})
            for (const Point& centre :
                 std::vector<Point>{{10, 10}, {-20, 5}, {40, -31}, {5, 50}, {3, 2}, {17, 13}}) {
                VideoFrame small = blank(20, 16), big = blank(200, 200);
                shape(small, centre.first, centre.second, filled);
                shape(big, centre.first + 90, centre.second + 90, filled);
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 20; ++x)
                        ASSERT_EQ(small.getPixel(x, y), big.getPixel(x + 90, y + 90))
                            << x << "," << y << " filled " << filled;
            }

    // Radii at the int limit about a centre in the image finish at once.
    VideoFrame f = blank(16, 16);
    f.circle(8, 8, INT_MAX, kInk, false);
    f.rasterCircle2(8, 8, INT_MAX, kInk, false);
    f.ellipse(8, 8, INT_MAX, INT_MAX, kInk, false);
    EXPECT_TRUE(inked(f).empty());
    f.circle(8, 8, INT_MAX, kInk, true);
    EXPECT_EQ(inked(f).size(), 256u);
    f.clear(0);
    f.ellipse(8, 8, INT_MAX, INT_MAX - 1, kInk, true);
    EXPECT_EQ(inked(f).size(), 256u);
    f.clear(0);
    f.rasterCircle2(8, 8, INT_MAX, kInk, true);
    EXPECT_EQ(inked(f).size(), 256u);
    f.clear(0);
    f.ellipse(8, 8, 3, INT_MAX, kInk, false); // tall and thin: two columns
    EXPECT_EQ(inked(f).size(), 32u);
    EXPECT_EQ(f.getPixel(5, 0), kInk);
    EXPECT_EQ(f.getPixel(11, 15), kInk);
}
