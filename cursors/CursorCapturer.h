// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QMutex>

class VtrCursor;
class CursorCapturerPrivate;

// Reads the shape of the mouse pointer shown on the local screen and gives
// each distinct shape a cursor id, so that a recorder sends a shape once and
// refers to it by id afterwards. Every VtrCursor owns one capturer and
// initialises it on construction; the player itself never asks for a capture.
//
// Reading the pointer needs the display's framebuffer service of the platform
// that records sessions. The Linux build has no such service: initialize()
// opens no connection, getCursorInfo() does nothing, getCurrentCursorID()
// returns the current id without reading the screen, and since nothing then
// fills the shape cache, capture() returns false for every id. The shape
// cache itself (lookUpOrAddCursor, capture, cleanCursorCache) does not depend
// on the platform and works everywhere.
//
// The shape cache, the id counter and the current id are process-wide and
// guarded by m_lock; any thread may call every operation.
class CursorCapturer
{
public:
    explicit CursorCapturer(VtrCursor* owner);
    virtual ~CursorCapturer();

    CursorCapturer(const CursorCapturer&) = delete;
    CursorCapturer& operator=(const CursorCapturer&) = delete;

    // Opens the framebuffer connection of the screen under the mouse; on
    // failure (and always on Linux) the handles stay 0.
    void initialize();
    // Closes the connection and zeroes the handles.
    void cleanUp();
    // Reads the current pointer shape and passes it to lookUpOrAddCursor().
    // Does nothing without a connection.
    void getCursorInfo();

    // Makes the shape with this size, hot spot and 32-bit 0xAARRGGBB pixels
    // (row-major, width x height of them) the current one: an identical cached
    // shape (same size, hot spot and pixels) keeps its id, any other shape is
    // stored under the next id. A null pointer or a size outside
    // 1 .. VtrCursor::MAX_SIZE is ignored.
    static void lookUpOrAddCursor(int width, int height, int hotX, int hotY,
                                  const unsigned int* pixels);

    // Reads the pointer (see getCursorInfo) and returns the current shape's id.
    unsigned int getCurrentCursorID();

    // Copies size, hot spot, type and image of the cached shape `id` into the
    // owning cursor. False for id 0, an unknown id or no owner.
    bool capture(unsigned int id);

    // Deletes every cached shape. Ids already handed out are not reused.
    static void cleanCursorCache();

    bool isConnected() const;

private:
    VtrCursor* m_owner;
    CursorCapturerPrivate* m_private;

    // All guarded by m_lock.
    static QHash<unsigned int, VtrCursor*> m_cursorCache;
    static unsigned int m_cursorIDCounter; // next id to hand out, from 1
    static unsigned int m_currentCursorID; // id of the shape last seen, from 1
    static QMutex m_lock;
};
