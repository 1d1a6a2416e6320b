// SPDX-License-Identifier: GPL-3.0-or-later
#include "PointerPainter.h"

#include <QPainter>

#include "CursorShapes.h"
#include "VtrCursor.h"

PointerPainter::PointerPainter(const QImage& standardArrow, int hotX, int hotY)
    : m_arrow(standardArrow.isNull() ? CursorShapes::standardArrow() : standardArrow)
{
    // Only its serialised form is cached: it is what the cache keeps for
    // every cursor id the recording never described.
    QImage arrow = m_arrow;
    VtrCursor cursor(&arrow, hotX, hotY);
    if (!cursor.serialize(m_arrowRecord))
        m_arrowRecord.clear();
}

void PointerPainter::onMousePos(unsigned long cursorId)
{
    if (m_cursors.getLastActivatedCursor() != cursorId && !m_cursors.getCursor(cursorId)
        && !m_arrowRecord.isEmpty())
        m_cursors.cacheCursor(cursorId,
                              reinterpret_cast<const unsigned char*>(m_arrowRecord.constData()),
                              static_cast<int>(m_arrowRecord.size()), false);
}

bool PointerPainter::onMouseCursor(unsigned long cursorId, const unsigned char* data, int length)
{
    return m_cursors.cacheCursor(cursorId, data, length, false);
}

void PointerPainter::clear()
{
    m_cursors.clear();
}

void PointerPainter::draw(QPainter* painter, int x, int y, unsigned long cursorId,
                          const SizeScale& scale) const
{
    if (!painter)
        return;
    const bool cached = m_cursors.withCursor(cursorId, [&](const VtrCursor& cursor) {
        if (!scale) {
            cursor.draw(painter, x, y);
            return;
        }
        const QSize size = scale(QSize(cursor.width(), cursor.height()));
        cursor.stretch(painter, x, y, size.width(), size.height());
    });
    if (!cached)
        painter->drawImage(x, y, m_arrow);
}

QRect PointerPainter::bounds(int x, int y, unsigned long cursorId) const
{
    QRect r;
    const bool cached = m_cursors.withCursor(cursorId, [&](const VtrCursor& cursor) {
        if (cursor.type() == 2 && !cursor.image().isNull() && cursor.width() > 0)
            r = QRect(x - cursor.hotspotX(), y - cursor.hotspotY(), cursor.image().width(),
                      cursor.image().height());
    });
    if (!cached)
        r = QRect(QPoint(x, y), m_arrow.size());
    return r;
}
