// SPDX-License-Identifier: GPL-3.0-or-later
#include "BoxCache.h"

namespace {
constexpr int kBoxSize = 16;
}

BoxCache::Item::~Item() = default;

void BoxCache::Item::create(int width, int height, int color)
{
    m_color = color;
    m_frame.resize(width, height);
    m_frame.clear(static_cast<unsigned int>(color));
    m_hits = 0;
}

BoxCache::~BoxCache()
{
    clean();
}

void BoxCache::allocate(int count)
{
    clean();
    m_items.setCount(count);
    for (int i = 0; i < m_items.count(); ++i)
        m_items[i] = nullptr;
}

void BoxCache::clean()
{
    for (int i = 0; i < m_items.count(); ++i) {
        delete m_items[i];
        m_items[i] = nullptr;
    }
}

VideoFrame* BoxCache::lookup(int color)
{
    const int n = m_items.count();
    Item** items = m_items.data();

    // Hit: the colour is already held.
    for (int i = 0; i < n; ++i) {
        Item* item = items[i];
        if (item && item->m_color == color) {
            ++item->m_hits;
            return &item->m_frame;
        }
    }

    // Miss with a free slot: fill the first empty one.
    for (int i = 0; i < n; ++i) {
        if (!items[i]) {
            Item* item = new Item;
            item->create(kBoxSize, kBoxSize, color);
            items[i] = item;
            return &item->m_frame;
        }
    }

    // Miss with a full cache: refill the least-hit item, the front-most of
    // equals (strict comparison while scanning forward).
    Item* victim = nullptr;
    for (int i = 0; i < n; ++i) {
        if (!victim || items[i]->m_hits < victim->m_hits)
            victim = items[i];
    }
    if (!victim)
        return nullptr;
    victim->create(kBoxSize, kBoxSize, color);
    return &victim->m_frame;
}
