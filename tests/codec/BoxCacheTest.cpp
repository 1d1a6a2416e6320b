// SPDX-License-Identifier: GPL-3.0-or-later
#include "BoxCache.h"

#include <vector>

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

// The colour held in each slot, -1 for an empty one.
std::vector<int> slots(const BoxCache& cache)
{
    std::vector<int> colours;
    for (int i = 0; i < cache.size(); ++i)
        colours.push_back(cache.item(i) ? cache.item(i)->m_color : -1);
    return colours;
}

} // namespace

TEST(BoxCacheTest, FillsSlotsInOrderOfFirstUseAndCountsHits)
{
    BoxCache cache;
    cache.allocate(4);
    for (int c : {3, 1, 2})
        EXPECT_TRUE(isSolid(cache.lookup(0xFF000000 | c), 0xFF000000u | c));
    EXPECT_EQ(slots(cache), (std::vector<int>{int(0xFF000003), int(0xFF000001), int(0xFF000002), -1}));
    VideoFrame* first = cache.lookup(0xFF000001);
    EXPECT_EQ(cache.lookup(0xFF000001), first);
    EXPECT_EQ(cache.item(1)->m_hits, 2);

    // Colours are whole 32-bit keys: the alpha byte makes a new colour.
    VideoFrame* clear = cache.lookup(0x00000001);
    EXPECT_NE(clear, first);
    EXPECT_TRUE(isSolid(clear, 0x00000001u));

    // clean and allocate empty every slot; no slots, nothing to hand out.
    cache.clean();
    EXPECT_EQ(slots(cache), (std::vector<int>{-1, -1, -1, -1}));
    cache.allocate(0);
    EXPECT_EQ(cache.lookup(1), nullptr);
}

TEST(BoxCacheTest, EvictsTheFrontMostLeastHitItem)
{
    BoxCache cache;
    cache.allocate(3);
    // Every item has 0 hits: the fourth and fifth colours both go to slot 0.
    for (int c : {1, 2, 3, 4, 5})
        cache.lookup(c);
    EXPECT_EQ(slots(cache), (std::vector<int>{5, 2, 3}));
    // A hit on slot 0 protects it; slot 1 is next. Hits never decay: an
    // early favourite keeps its slot.
    for (int c : {5, 5, 6, 7, 8, 9})
        cache.lookup(c);
    EXPECT_EQ(slots(cache), (std::vector<int>{5, 9, 3}));
}
