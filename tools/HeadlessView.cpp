#include "HeadlessView.h"

#include <QByteArray>
#include <QPainter>

#include "CursorShapes.h"
#include "VtrCursor.h"

HeadlessView::HeadlessView() = default;

HeadlessView::~HeadlessView() = default;

void HeadlessView::onScreenDimension(int width, int height)
{
    m_frame.onScreenDimension(width, height);
}

void HeadlessView::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    m_frame.onBoxDecoded(box, x, y, width, height);
}

void HeadlessView::reset()
{
    m_infoShown = false;
    m_cursors.clear();
}

void HeadlessView::onPause(bool)
{
    m_infoShown = true;
}

void HeadlessView::onStatusText(const QString&)
{
    m_infoShown = true;
}

void HeadlessView::onMousePos(int x, int y, unsigned long cursorId, bool)
{
    if (m_cursors.getLastActivatedCursor() != cursorId && !m_cursors.getCursor(cursorId)) {
        QImage arrow = CursorShapes::standardArrow();
        VtrCursor standard(&arrow, CursorShapes::kStandardHotX, CursorShapes::kStandardHotY);
        QByteArray bytes;
        if (standard.serialize(bytes))
            m_cursors.cacheCursor(cursorId, reinterpret_cast<const unsigned char*>(bytes.constData()),
                                  static_cast<int>(bytes.size()), false);
    }
    m_mouseX = x;
    m_mouseY = y;
    m_cursorId = cursorId;
}

void HeadlessView::onMouseCursor(unsigned long cursorId, unsigned char* data, int length)
{
    m_cursors.cacheCursor(cursorId, data, length, false);
}

void HeadlessView::getImageSize(int& width, int& height)
{
    width = m_frame.width();
    height = m_frame.height();
}

void HeadlessView::clearScreen()
{
    m_frame.clear(0);
}

void HeadlessView::setScreenPixels(const unsigned int* pixels, int width, int height)
{
    m_frame.setPixels(pixels, width, height);
}

QImage HeadlessView::image() const
{
    if (m_frame.isEmpty())
        return QImage();
    const QImage wrapped(reinterpret_cast<const uchar*>(m_frame.pixels()), m_frame.width(),
                         m_frame.height(), m_frame.width() * 4, QImage::Format_RGB32);
    return wrapped.copy();
}

void HeadlessView::drawPointer(QImage& image)
{
    if (m_mouseX < 0 || m_mouseY < 0 || image.isNull())
        return;
    QPainter painter(&image);
    if (!m_cursors.withCursor(m_cursorId, [&](const VtrCursor& c) { c.draw(&painter, m_mouseX, m_mouseY); })) {
        // Never reached through onMousePos, which caches the arrow; kept for
        // a view that was given a position some other way.
        painter.drawImage(m_mouseX, m_mouseY, CursorShapes::standardArrow());
    }
}
