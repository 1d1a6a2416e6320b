// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>

#include <functional>

#include "CursorsEngine.h"

class QPainter;

// The presenter's pointer as every picture of a recording shows it: the
// cursor cache filled from the recording, the standard arrow for cursor ids
// it never described, and the drawing of one cursor into a picture. The
// window's drawing scene, sessiontool's headless view and the export all
// draw the pointer through this one class, so they show the same pixels.
//
// Threads. onMousePos, onMouseCursor and clear are called by the thread that
// reads the recording (the player thread, the export's); draw and bounds may
// run on another one (the GUI thread painting): they reach the cached cursor
// only through CursorsEngine::withCursor, under the cache's lock.
class PointerPainter
{
public:
    // The arrow drawn for a cursor id the recording never described, and its
    // hot spot. The window passes its own copy of the image (a resource of
    // the same pixels); everyone else takes CursorShapes::standardArrow().
    explicit PointerPainter(const QImage& standardArrow = QImage(), int hotX = 2, int hotY = 2);

    PointerPainter(const PointerPainter&) = delete;
    PointerPainter& operator=(const PointerPainter&) = delete;

    // A mouse position shows `cursorId`: an id that is not cached (and not
    // the last activated one) gets the standard arrow cached under it, so
    // that a later record for that id replaces it.
    void onMousePos(unsigned long cursorId);
    // A cursor record of `length` bytes for `cursorId`; false (nothing
    // changed) when the cache refuses it.
    bool onMouseCursor(unsigned long cursorId, const unsigned char* data, int length);
    // Forgets every cached cursor (a view reset).
    void clear();

    // How a cursor's size is scaled for a zoomed picture; null draws it as
    // it is.
    using SizeScale = std::function<QSize(QSize)>;

    // Draws the cursor `cursorId` with its hot spot at (x, y): unscaled
    // without `scale`, else stretched to scale(size) with its hot spot scaled
    // likewise. An id not in the cache draws the standard arrow with its
    // top-left corner at (x, y). Nothing for a null painter.
    void draw(QPainter* painter, int x, int y, unsigned long cursorId,
              const SizeScale& scale = SizeScale()) const;
    // The rectangle an unscaled draw() at (x, y) paints (not clipped to any
    // picture); empty for a cursor that draws nothing.
    QRect bounds(int x, int y, unsigned long cursorId) const;

    const QImage& standardArrow() const { return m_arrow; }
    CursorsEngine& cache() { return m_cursors; }

private:
    QImage m_arrow;
    QByteArray m_arrowRecord;  // m_arrow serialised with its hot spot
    mutable CursorsEngine m_cursors;
};
