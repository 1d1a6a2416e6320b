// SPDX-License-Identifier: GPL-3.0-or-later
#include "HeadlessView.h"

#include <QPainter>

HeadlessView::HeadlessView() = default;

HeadlessView::~HeadlessView() = default;

void HeadlessView::onScreenDimension(int width, int height)
{
    m_frame.onScreenDimension(width, height);
    ++m_screenChanges;
}

void HeadlessView::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    m_frame.onBoxDecoded(box, x, y, width, height);
    ++m_screenChanges;
}

void HeadlessView::reset()
{
    m_infoShown = false;
    m_pointer.clear();
    ++m_pointerChanges;
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
    m_pointer.onMousePos(cursorId);
    if (x != m_mouseX || y != m_mouseY || cursorId != m_cursorId)
        ++m_pointerChanges;
    m_mouseX = x;
    m_mouseY = y;
    m_cursorId = cursorId;
}

void HeadlessView::onMouseCursor(unsigned long cursorId, unsigned char* data, int length)
{
    if (m_pointer.onMouseCursor(cursorId, data, length))
        ++m_pointerChanges;
}

void HeadlessView::getImageSize(int& width, int& height)
{
    width = m_frame.width();
    height = m_frame.height();
}

void HeadlessView::clearScreen()
{
    m_frame.clear(0);
    ++m_screenChanges;
}

void HeadlessView::setScreenPixels(const unsigned int* pixels, int width, int height)
{
    m_frame.setPixels(pixels, width, height);
    ++m_screenChanges;
}

QImage HeadlessView::image() const
{
    if (m_frame.isEmpty())
        return QImage();
    const QImage wrapped(reinterpret_cast<const uchar*>(m_frame.pixels()), m_frame.width(),
                         m_frame.height(), m_frame.width() * 4, QImage::Format_RGB32);
    return wrapped.copy();
}

void HeadlessView::drawPointer(QImage& image) const
{
    if (m_mouseX < 0 || m_mouseY < 0 || image.isNull())
        return;
    QPainter painter(&image);
    m_pointer.draw(&painter, m_mouseX, m_mouseY, m_cursorId);
}

QRect HeadlessView::pointerRect() const
{
    if (m_mouseX < 0 || m_mouseY < 0 || m_frame.isEmpty())
        return QRect();
    return m_pointer.bounds(m_mouseX, m_mouseY, m_cursorId)
        .intersected(QRect(0, 0, m_frame.width(), m_frame.height()));
}
