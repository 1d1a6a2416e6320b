// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "Array.h"
#include "VtrCursor.h"

// The cache of recorded cursor images, keyed by cursor id. The player thread
// fills it with the cursor records of a recording; the GUI thread draws from
// it. Look-up is a linear search in insertion order (a session has few
// distinct cursors); re-caching an id keeps the entry's place.
//
// Ids are 32-bit in recordings. They are compared on their low 32 bits, so an
// id that travelled through an int (and came back sign-extended into an
// unsigned long) still finds its entry.
//
// Thread rules. cacheCursor, getCursor, withCursor and clear take the mutex.
// Re-caching an id re-reads the record into the existing VtrCursor, replacing
// its image, and clear() deletes every cursor: so a VtrCursor* from
// getCursor() may only be dereferenced by the thread that feeds the cache (or
// when nothing feeds it). Another thread, the GUI thread drawing the pointer,
// uses withCursor(), which runs its function under the mutex.
class CursorsEngine
{
public:
    // A recording is hostile input: past this many distinct ids, new ids are
    // refused (the pointer then shows the standard arrow). Each image is at
    // most 256 x 256 pixels, so the cache holds at most 256 MB.
    static constexpr int MAX_CURSORS = 1024;

    class CursorPair
    {
    public:
        CursorPair(uint32_t id, std::time_t timeStamp) : m_id(id), m_timeStamp(timeStamp) {}
        virtual ~CursorPair() = default;

        uint32_t m_id;
        VtrCursor m_cursor;
        // Set, but read by nothing: it does not change the cache's behaviour.
        std::time_t m_timeStamp;
    };

    CursorsEngine();
    virtual ~CursorsEngine();

    CursorsEngine(const CursorsEngine&) = delete;
    CursorsEngine& operator=(const CursorsEngine&) = delete;

    // Reads the serialised cursor at data (at most `length` bytes) into the
    // entry for id: an existing entry's cursor is re-read and its time stamp
    // cleared; otherwise a new entry is appended, its time stamp the current
    // time + 2 s when `flag` is set, else 0. Returns false, and changes
    // nothing, when VtrCursor::deserialize refuses the record (no new entry is
    // made, an existing cursor keeps its image) or when a new id would exceed
    // MAX_CURSORS.
    bool cacheCursor(unsigned long id, const unsigned char* data, int length, bool flag);

    // The cursor of the entry for id, or null. Valid until clear() or the
    // engine's destruction; see the thread rules above before using it.
    VtrCursor* getCursor(unsigned long id);

    // Calls fn(const VtrCursor&) with the cursor for id while holding the
    // mutex, so the cursor cannot change or vanish meanwhile; returns false
    // (fn not called) for an unknown id. fn must not call back into the engine.
    template <typename Fn>
    bool withCursor(unsigned long id, Fn&& fn)
    {
        Locker locker(m_mutex);
        const CursorPair* pair = find(id);
        if (!pair)
            return false;
        fn(static_cast<const VtrCursor&>(pair->m_cursor));
        return true;
    }

    // The last activated id: a single atomic value, no lock. 0 after
    // construction and after clear().
    void setCursorActive(unsigned long id);
    unsigned long getLastActivatedCursor() const;

    // Last activated id 0; deletes every entry.
    void clear();

    int count();

private:
    class Locker
    {
    public:
        explicit Locker(pthread_mutex_t& m) : m_m(m) { pthread_mutex_lock(&m_m); }
        ~Locker() { pthread_mutex_unlock(&m_m); }
        Locker(const Locker&) = delete;
        Locker& operator=(const Locker&) = delete;

    private:
        pthread_mutex_t& m_m;
    };

    // Callers hold the mutex.
    CursorPair* find(unsigned long id) const;
    void clearEntries();

    pthread_mutex_t m_mutex;
    // Written by the player thread, read by either; no lock.
    std::atomic<uint32_t> m_lastActivated;
    // Guarded by m_mutex. Owns its entries and their cursors.
    Array<CursorPair*, int> m_entries;
};
