// SPDX-License-Identifier: GPL-3.0-or-later
#include "CursorsEngine.h"

#include <atomic>
#include <thread>
#include <vector>

#include <QPainter>

#include <gtest/gtest.h>

#include "CursorTestSupport.h"

namespace {

bool cache(CursorsEngine& e, unsigned long id, const std::vector<unsigned char>& r)
{
    return e.cacheCursor(id, r.data(), static_cast<int>(r.size()), false);
}

} // namespace

TEST(CursorsEngineTest, RecachingAnIdReplacesTheImageInPlace)
{
    CursorsEngine e;
    ASSERT_TRUE(cache(e, 1, solidCursor(2, 2, 0xFFFF0000u)));
    ASSERT_TRUE(cache(e, 2, solidCursor(1, 1, 0xFF00FF00u)));
    VtrCursor* first = e.getCursor(1);
    ASSERT_TRUE(first);

    ASSERT_TRUE(cache(e, 1, solidCursor(3, 1, 0xFF0000FFu)));
    EXPECT_EQ(e.count(), 2);
    EXPECT_EQ(e.getCursor(1), first);
    EXPECT_EQ(first->image().pixel(2, 0), 0xFF0000FFu);
    EXPECT_EQ(e.getCursor(2)->width(), 1);

    // A refused record neither adds an entry nor spoils the one there.
    auto cut = solidCursor(2, 2, 0xFFFF0000u);
    cut.pop_back();
    EXPECT_FALSE(cache(e, 5, cut));
    EXPECT_FALSE(cache(e, 1, cut));
    EXPECT_EQ(first->image().pixel(2, 0), 0xFF0000FFu);
    EXPECT_EQ(e.count(), 2);

    e.setCursorActive(1);
    e.clear();
    EXPECT_EQ(e.getCursor(1), nullptr);
    EXPECT_EQ(e.getLastActivatedCursor(), 0u);

    // The scene keeps the current id in an int; an id of 2^31 or more comes
    // back sign-extended and must still find its cursor.
    const uint32_t high = 0x80000001u;
    ASSERT_TRUE(cache(e, high, solidCursor(1, 1, 0xFFFFFFFFu)));
    EXPECT_NE(e.getCursor(static_cast<unsigned long>(static_cast<int>(high))), nullptr);
}

TEST(CursorsEngineTest, NumberOfDistinctIdsIsBounded)
{
    CursorsEngine e;
    const auto r = solidCursor(1, 1, 0xFFFFFFFFu);
    for (int id = 1; id <= CursorsEngine::MAX_CURSORS; ++id)
        ASSERT_TRUE(cache(e, static_cast<unsigned long>(id), r));
    EXPECT_FALSE(cache(e, CursorsEngine::MAX_CURSORS + 1, r));
    EXPECT_EQ(e.count(), CursorsEngine::MAX_CURSORS);
    EXPECT_TRUE(cache(e, 1, solidCursor(2, 1, 0xFFFFFFFFu))); // re-caching still works
}

// The player thread re-caches and clears while the GUI thread draws through
// withCursor; run under the sanitizer build this catches any use of an image
// that is being replaced or freed.
TEST(CursorsEngineTest, ConcurrentCachingAndDrawing)
{
    CursorsEngine e;
    const auto red = solidCursor(16, 16, 0xFFFF0000u);
    const auto blue = solidCursor(8, 8, 0xFF0000FFu);
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
