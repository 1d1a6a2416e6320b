// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"
#include "VideoFrame.h"

// A small cache of solid-colour 16 x 16 frames for the grid decoder. Single-
// colour boxes are by far the most common ones; instead of painting each into
// the decoder's box buffer, the decoder hands out a ready frame of that colour.
//
// Every lookup that finds a colour counts a hit on it; when a new colour
// arrives and every slot is taken, the item with the fewest hits (the front-
// most of equals) is refilled. Hits never decay, so colours that were popular
// early keep their slots until the cache is emptied.
//
// Used by the thread that runs its decoder only; no locking.
class BoxCache
{
public:
    class Item
    {
    public:
        Item() = default;
        virtual ~Item();

        // Fills the item with colour: width x height frame (negative sizes
        // keep the frame's size), hit count back to 0.
        void create(int width, int height, int color);

        int m_hits = 0;   // lookups that found this item since it was filled
        int m_color = 0;  // the whole 32-bit pixel value: the lookup key
        VideoFrame m_frame;
    };

    BoxCache() = default;
    virtual ~BoxCache();

    BoxCache(const BoxCache&) = delete;
    BoxCache& operator=(const BoxCache&) = delete;

    // Deletes every item and leaves count empty slots (a negative count
    // gives none).
    void allocate(int count);

    // Returns a 16 x 16 frame filled with color. The frame stays owned by the
    // cache and is valid until its slot is refilled by the lookup of another
    // colour, or the cache is emptied. A cache without slots has nothing to
    // hand out and returns null (the decoder always gives it 20 slots).
    VideoFrame* lookup(int color);

    // Deletes every item; the number of slots stays.
    void clean();

    int size() const { return m_items.count(); }

    // The item in a slot, or null for an empty slot; for tests and diagnostics.
    const Item* item(int slot) const
    {
        return slot >= 0 && slot < m_items.count() ? m_items[slot] : nullptr;
    }

private:
    Array<Item*, int> m_items;
};
