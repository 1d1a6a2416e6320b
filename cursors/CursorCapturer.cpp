// SPDX-License-Identifier: GPL-3.0-or-later
#include "CursorCapturer.h"

#include <cstring>

#include <QMutexLocker>

#include "VtrCursor.h"

// The platform's framebuffer connection. Both handles are 0 while not
// connected, which on Linux is always.
class CursorCapturerPrivate
{
public:
    unsigned int m_connect = 0;
    unsigned int m_taskPort = 0;
};

QHash<unsigned int, VtrCursor*> CursorCapturer::m_cursorCache;
unsigned int CursorCapturer::m_cursorIDCounter = 1;
unsigned int CursorCapturer::m_currentCursorID = 1;
QMutex CursorCapturer::m_lock;

CursorCapturer::CursorCapturer(VtrCursor* owner)
    : m_owner(owner), m_private(new CursorCapturerPrivate)
{
}

CursorCapturer::~CursorCapturer()
{
    cleanUp();
    delete m_private;
}

void CursorCapturer::initialize()
{
    // No framebuffer service to open on this platform: stay disconnected.
}

void CursorCapturer::cleanUp()
{
    m_private->m_connect = 0;
    m_private->m_taskPort = 0;
}

bool CursorCapturer::isConnected() const
{
    return m_private->m_connect != 0;
}

void CursorCapturer::getCursorInfo()
{
    if (!isConnected())
        return;
    // A connected build maps the shared cursor memory here and hands the
    // current frame to lookUpOrAddCursor(); nothing connects on Linux.
}

void CursorCapturer::lookUpOrAddCursor(int width, int height, int hotX, int hotY,
                                       const unsigned int* pixels)
{
    if (!pixels || width <= 0 || height <= 0 || width > VtrCursor::MAX_SIZE
        || height > VtrCursor::MAX_SIZE)
        return;

    QMutexLocker locker(&m_lock);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (auto it = m_cursorCache.cbegin(); it != m_cursorCache.cend(); ++it) {
        const VtrCursor* c = it.value();
        if (c->m_width != width || c->m_height != height || c->m_hotspotX != hotX
            || c->m_hotspotY != hotY)
            continue;
        bool same = true;
        for (int y = 0; y < height && same; ++y)
            same = std::memcmp(c->m_image.constScanLine(y), pixels + static_cast<size_t>(y) * width,
                               rowBytes)
                == 0;
        if (same) {
            m_currentCursorID = it.key();
            return;
        }
    }

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        return;
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), pixels + static_cast<size_t>(y) * width, rowBytes);

    auto* shape = new VtrCursor(&image, hotX, hotY);
    const unsigned int id = m_cursorIDCounter++;
    m_cursorCache.insert(id, shape);
    m_currentCursorID = id;
}

unsigned int CursorCapturer::getCurrentCursorID()
{
    getCursorInfo();
    QMutexLocker locker(&m_lock);
    return m_currentCursorID;
}

bool CursorCapturer::capture(unsigned int id)
{
    if (id == 0 || !m_owner)
        return false;
    QMutexLocker locker(&m_lock);
    const VtrCursor* shape = m_cursorCache.value(id, nullptr);
    if (!shape)
        return false;
    m_owner->m_width = shape->m_width;
    m_owner->m_height = shape->m_height;
    m_owner->m_hotspotX = shape->m_hotspotX;
    m_owner->m_hotspotY = shape->m_hotspotY;
    m_owner->m_type = shape->m_type;
    m_owner->m_image = shape->m_image;
    return true;
}

void CursorCapturer::cleanCursorCache()
{
    QMutexLocker locker(&m_lock);
    qDeleteAll(m_cursorCache);
    m_cursorCache.clear();
}
