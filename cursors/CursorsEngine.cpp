// SPDX-License-Identifier: GPL-3.0-or-later
#include "CursorsEngine.h"

CursorsEngine::CursorsEngine() : m_lastActivated(0)
{
    pthread_mutex_init(&m_mutex, nullptr);
    m_entries.setGrowBy(0);
}

CursorsEngine::~CursorsEngine()
{
    clear();
    m_entries.freeAllMemory();
    pthread_mutex_destroy(&m_mutex);
}

CursorsEngine::CursorPair* CursorsEngine::find(unsigned long id) const
{
    const auto key = static_cast<uint32_t>(id);
    for (int i = 0; i < m_entries.count(); ++i)
        if (m_entries[i]->m_id == key)
            return m_entries[i];
    return nullptr;
}

bool CursorsEngine::cacheCursor(unsigned long id, const unsigned char* data, int length,
                                bool flag)
{
    Locker locker(m_mutex);
    if (CursorPair* pair = find(id)) {
        if (pair->m_cursor.deserialize(data, length) <= 0)
            return false;
        pair->m_timeStamp = 0;
        return true;
    }
    if (m_entries.count() >= MAX_CURSORS)
        return false;

    auto* pair = new CursorPair(static_cast<uint32_t>(id), flag ? std::time(nullptr) + 2 : 0);
    if (pair->m_cursor.deserialize(data, length) <= 0) {
        delete pair;
        return false;
    }
    try {
        m_entries.append(pair);
    } catch (...) {
        delete pair;
        throw;
    }
    return true;
}

VtrCursor* CursorsEngine::getCursor(unsigned long id)
{
    Locker locker(m_mutex);
    CursorPair* pair = find(id);
    return pair ? &pair->m_cursor : nullptr;
}

void CursorsEngine::setCursorActive(unsigned long id)
{
    m_lastActivated.store(static_cast<uint32_t>(id));
}

unsigned long CursorsEngine::getLastActivatedCursor() const
{
    return m_lastActivated.load();
}

void CursorsEngine::clearEntries()
{
    for (int i = 0; i < m_entries.count(); ++i)
        delete m_entries[i];
    m_entries.setCount(0);
}

void CursorsEngine::clear()
{
    Locker locker(m_mutex);
    m_lastActivated.store(0);
    clearEntries();
}

int CursorsEngine::count()
{
    Locker locker(m_mutex);
    return m_entries.count();
}
