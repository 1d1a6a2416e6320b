#include "BoxCache.h"

#include <gtest/gtest.h>

namespace {

bool isSolid(const VideoFrame* f, unsigned int colour)
{
    if (!f || f->width() != 16 || f->height() != 16)
        return false;
    for (int i = 0; i < 256; ++i)
        if (f->pixels()[i] != colour)
            return false;
    return true;
}

int colourAt(const BoxCache& cache, int slot)
{
    const BoxCache::Item* item = cache.item(slot);
    return item ? item->m_color : -1;
}

} // namespace

TEST(BoxCacheTest, FillsSlotsInOrderOfFirstUseAndCountsHits)
{
    BoxCache cache;
    cache.allocate(20);
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(isSolid(cache.lookup(0xFF000000 | i), 0xFF000000u | i));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(colourAt(cache, i), static_cast<int>(0xFF000000u | i));

    VideoFrame* first = cache.lookup(0xFF000005);
    EXPECT_EQ(cache.lookup(0xFF000005), first);
    EXPECT_EQ(cache.item(5)->m_hits, 2);
    EXPECT_EQ(cache.item(4)->m_hits, 0);

    // Colours are whole 32-bit keys: the alpha byte makes a new colour.
    BoxCache small;
    small.allocate(2);
    VideoFrame* opaque = small.lookup(static_cast<int>(0xFF102030u));
    VideoFrame* clear = small.lookup(0x00102030);
    EXPECT_NE(opaque, clear);
    EXPECT_TRUE(isSolid(clear, 0x00102030u));
    EXPECT_TRUE(isSolid(opaque, 0xFF102030u));
}

TEST(BoxCacheTest, EvictsTheFrontMostLeastHitItem)
{
    BoxCache cache;
    cache.allocate(20);
    for (int i = 0; i < 20; ++i)
        cache.lookup(i + 1);

    // Every item has 0 hits: the 21st and 22nd colours both go to slot 0.
    EXPECT_TRUE(isSolid(cache.lookup(21), 21));
    EXPECT_EQ(colourAt(cache, 0), 21);
    cache.lookup(22);
    EXPECT_EQ(colourAt(cache, 0), 22);
    EXPECT_EQ(cache.item(0)->m_hits, 0);

    // A hit on slot 0 protects it; slot 1 is next.
    cache.lookup(22);
    cache.lookup(23);
    EXPECT_EQ(colourAt(cache, 0), 22);
    EXPECT_EQ(colourAt(cache, 1), 23);

    // Hits never decay: an early favourite keeps its slot.
    BoxCache three;
    three.allocate(3);
    for (int c : {1, 2, 3, 1, 1, 2})
        three.lookup(c);
    for (int c = 10; c < 15; ++c)
        three.lookup(c);
    EXPECT_EQ(colourAt(three, 0), 1);
    EXPECT_EQ(colourAt(three, 1), 2);
    EXPECT_EQ(colourAt(three, 2), 14);
}

TEST(BoxCacheTest, AllocateAndCleanEmptyTheSlots)
{
    BoxCache cache;
    EXPECT_EQ(cache.lookup(1), nullptr); // no slots, nothing to hand out
    cache.allocate(4);
    cache.lookup(1);
    cache.lookup(2);
    cache.clean();
    EXPECT_EQ(cache.size(), 4);
    EXPECT_EQ(cache.item(0), nullptr);
    cache.lookup(3);
    EXPECT_EQ(colourAt(cache, 0), 3);

    cache.allocate(20);
    EXPECT_EQ(cache.size(), 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(cache.item(i), nullptr);
    cache.lookup(7);
    EXPECT_EQ(colourAt(cache, 0), 7);
    cache.allocate(-3);
    EXPECT_EQ(cache.size(), 0);
}
