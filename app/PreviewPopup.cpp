// SPDX-License-Identifier: GPL-3.0-or-later
#include "PreviewPopup.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

#include "PreviewMaker.h"

PreviewPopup::PreviewPopup(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont f = font();
    f.setPixelSize(12);
    setFont(f);
    hide();
}

void PreviewPopup::setContent(const QImage& image, const QString& time)
{
    m_image = image;
    m_time = time;
    const int textWidth = QFontMetrics(font()).horizontalAdvance(m_time) + 12;
    const int w = m_image.isNull() ? textWidth : std::max(m_image.width(), textWidth);
    const int h = (m_image.isNull() ? 0 : m_image.height()) + kTextHeight;
    resize(w + 2 * kBorder, h + 2 * kBorder);
    if (isVisible())
        showAt(m_anchor);
    update();
}

void PreviewPopup::showAt(const QPoint& anchor)
{
    m_anchor = anchor;
    const QWidget* p = parentWidget();
    int x = anchor.x() - width() / 2;
    int y = anchor.y() - kGap - height();
    if (p) {
        x = std::clamp(x, 0, std::max(0, p->width() - width()));
        y = std::max(0, y);
    }
    move(x, y);
    raise();
    show();
}

void PreviewPopup::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(20, 20, 20, 230));
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    int y = kBorder;
    if (!m_image.isNull()) {
        painter.drawImage(QPoint((width() - m_image.width()) / 2, y), m_image);
        y += m_image.height();
    }
    painter.setPen(Qt::white);
    painter.drawText(QRect(kBorder, y, width() - 2 * kBorder, kTextHeight), Qt::AlignCenter,
                     m_time);
}
