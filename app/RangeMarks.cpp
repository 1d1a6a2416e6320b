// SPDX-License-Identifier: GPL-3.0-or-later
#include "RangeMarks.h"

#include <QEvent>
#include <QPainter>
#include <QPolygon>

RangeMarks::RangeMarks(QWidget* bar) : QWidget(bar)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(bar->rect());
    bar->installEventFilter(this);
    hide();
}

void RangeMarks::setMarks(qint64 inMs, qint64 outMs, quint64 durationMs)
{
    m_in = inMs;
    m_out = outMs;
    m_duration = durationMs;
    setVisible(durationMs > 0 && (inMs >= 0 || outMs >= 0));
    raise();
    update();
}

int RangeMarks::xOf(qint64 ms) const
{
    if (ms < 0 || m_duration == 0)
        return -1;
    const qint64 clamped = std::min<qint64>(ms, static_cast<qint64>(m_duration));
    return static_cast<int>(clamped * (width() - 1) / static_cast<qint64>(m_duration));
}

bool RangeMarks::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void RangeMarks::paintEvent(QPaintEvent*)
{
    // A bracket at each point: the in point opens to the right, the out
    // point to the left; the stretch between is tinted.
    QPainter p(this);
    const int h = height();
    const int xi = xOf(m_in), xo = xOf(m_out);
    if (xi >= 0 && xo > xi)
        p.fillRect(xi, 0, xo - xi, h, QColor(255, 200, 0, 60));
    p.setPen(QPen(QColor(255, 200, 0), 2));
    if (xi >= 0)
        p.drawPolyline(QPolygon({QPoint(xi + 3, 0), QPoint(xi, 0), QPoint(xi, h - 1),
                                 QPoint(xi + 3, h - 1)}));
    if (xo >= 0)
        p.drawPolyline(QPolygon({QPoint(xo - 3, 0), QPoint(xo, 0), QPoint(xo, h - 1),
                                 QPoint(xo - 3, h - 1)}));
}
