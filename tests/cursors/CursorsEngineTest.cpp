#include "CursorsEngine.h"

#include <atomic>
#include <thread>
#include <vector>

#include <QPainter>

#include <gtest/gtest.h>

namespace {

// A w x h record of one colour, hot spot (0, 0).
std::vector<unsigned char> solid(int w, int h, QRgb colour)
{
    const int n = w * h * 4;
    std::vector<unsigned char> r = {2, 0, static_cast<unsigned char>(w), 0,
                                    static_cast<unsigned char>(h), 0, 0, 0, 0,
                                    static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    for (int i = 0; i < n; ++i)
        r.push_back(static_cast<unsigned char>(colour >> (8 * (i % 4))));
    return r;
}

bool cache(CursorsEngine& e, unsigned long id, const std::vector<unsigned char>& r)
{
    return e.cacheCursor(id, r.data(), static_cast<int>(r.size()), false);
}

} // namespace

TEST(CursorsEngineTest, RecachingAnIdReplacesTheImageInPlace)
{
    CursorsEngine e;
    ASSERT_TRUE(cache(e, 1, solid(2, 2, 0xFFFF0000u)));
    ASSERT_TRUE(cache(e, 2, solid(1, 1, 0xFF00FF00u)));
    VtrCursor* first = e.getCursor(1);
    ASSERT_TRUE(first);

    ASSERT_TRUE(cache(e, 1, solid(3, 1, 0xFF0000FFu)));
    EXPECT_EQ(e.count(), 2);
    EXPECT_EQ(e.getCursor(1), first);
    EXPECT_EQ(first->width(), 3);
    EXPECT_EQ(first->image().pixel(2, 0), 0xFF0000FFu);
    EXPECT_EQ(e.getCursor(2)->width(), 1);
}

TEST(CursorsEngineTest, RefusedRecordsChangeNothing)
{
    CursorsEngine e;
    auto cut = solid(2, 2, 0xFFFF0000u);
    cut.pop_back();
    EXPECT_FALSE(cache(e, 5, cut));
    EXPECT_EQ(e.getCursor(5), nullptr);
    EXPECT_EQ(e.count(), 0);

    ASSERT_TRUE(cache(e, 5, solid(2, 2, 0xFFFF0000u)));
    EXPECT_FALSE(cache(e, 5, cut));
    EXPECT_FALSE(e.cacheCursor(5, nullptr, 0, false));
    EXPECT_EQ(e.getCursor(5)->image().pixel(1, 1), 0xFFFF0000u);
}

TEST(CursorsEngineTest, UnknownIdsAndClear)
{
    CursorsEngine e;
    EXPECT_EQ(e.getCursor(7), nullptr);
    cache(e, 7, solid(1, 1, 0xFFFFFFFFu));
    cache(e, 8, solid(1, 1, 0xFFFFFFFFu));
    e.setCursorActive(8);
    EXPECT_EQ(e.getLastActivatedCursor(), 8u);

    e.clear();
    EXPECT_EQ(e.getCursor(7), nullptr);
    EXPECT_EQ(e.getCursor(8), nullptr);
    EXPECT_EQ(e.getLastActivatedCursor(), 0u);
    EXPECT_EQ(e.count(), 0);
    EXPECT_TRUE(cache(e, 7, solid(1, 1, 0xFFFFFFFFu)));
}

TEST(CursorsEngineTest, IdsMatchOnTheirLow32Bits)
{
    // The scene keeps the current id in an int; an id of 2^31 or more comes
    // back sign-extended and must still find its cursor.
    CursorsEngine e;
    const uint32_t id = 0x80000001u;
    ASSERT_TRUE(cache(e, id, solid(1, 1, 0xFFFFFFFFu)));
    const int asInt = static_cast<int>(id);
    EXPECT_NE(e.getCursor(static_cast<unsigned long>(asInt)), nullptr);
}

TEST(CursorsEngineTest, NumberOfDistinctIdsIsBounded)
{
    CursorsEngine e;
    const auto r = solid(1, 1, 0xFFFFFFFFu);
    for (int id = 1; id <= CursorsEngine::MAX_CURSORS; ++id)
        ASSERT_TRUE(cache(e, static_cast<unsigned long>(id), r));
    EXPECT_FALSE(cache(e, CursorsEngine::MAX_CURSORS + 1, r));
    EXPECT_EQ(e.count(), CursorsEngine::MAX_CURSORS);
    EXPECT_TRUE(cache(e, 1, solid(2, 1, 0xFFFFFFFFu))); // re-caching still works
}

TEST(CursorsEngineTest, WithCursorCallsOnlyForKnownIds)
{
    CursorsEngine e;
    int calls = 0;
    EXPECT_FALSE(e.withCursor(3, [&](const VtrCursor&) { ++calls; }));
    cache(e, 3, solid(2, 1, 0xFFFFFFFFu));
    EXPECT_TRUE(e.withCursor(3, [&](const VtrCursor& c) { calls += c.width(); }));
    EXPECT_EQ(calls, 2);
}

// The player thread re-caches and clears while the GUI thread draws through
// withCursor; run under the sanitizer build this catches any use of an image
// that is being replaced or freed.
TEST(CursorsEngineTest, ConcurrentCachingAndDrawing)
{
    CursorsEngine e;
    const auto red = solid(16, 16, 0xFFFF0000u);
    const auto blue = solid(8, 8, 0xFF0000FFu);
    std::atomic<bool> done{false};
    std::atomic<int> drawn{0};

    // Runs until the reader has drawn often enough (bounded, should the reader
    // never get the lock).
    std::thread feeder([&] {
        for (int i = 0; i < 1000000 && drawn < 2000; ++i) {
            cache(e, 42, (i & 1) ? red : blue);
            if (i % 97 == 0)
                e.clear();
        }
        done = true;
    });

    QImage img(32, 32, QImage::Format_ARGB32);
    int bad = 0;
    while (!done) {
        img.fill(0xFF000000u);
        QPainter p(&img);
        const bool found = e.withCursor(42, [&](const VtrCursor& c) { c.draw(&p, 0, 0); });
        p.end();
        if (found) {
            ++drawn;
            const QRgb px = img.pixel(0, 0);
            bad += px != 0xFFFF0000u && px != 0xFF0000FFu;
        }
    }
    feeder.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(drawn, 0);
}
