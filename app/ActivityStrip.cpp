// SPDX-License-Identifier: GPL-3.0-or-later
#include "ActivityStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>

#include <algorithm>
#include <cmath>

#include "ActivityMap.h"
#include "ControlBar.h"

ActivityStrip::ActivityStrip(const ActivityMap& map, QProgressBar* bar, QObject* controller)
    : QWidget(bar->parentWidget())
    , m_map(map)
    , m_bar(bar)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("m_activityStrip"));
    const QRect b = bar->geometry();
    setGeometry(b.x(), b.bottom() + 1, b.width(), kHeight);
    setCursor(Qt::PointingHandCursor);
    connect(&m_poll, SIGNAL(timeout()), this, SLOT(poll()));
    m_poll.start(kPollMs);
    show();
}

void ActivityStrip::poll()
{
    // Also follows the bar's maximum, which changes when a recording opens.
    const int revision = m_map.revision() ^ (m_bar->maximum() << 8);
    if (revision != m_seenRevision) {
        m_seenRevision = revision;
        update();
    }
}

QColor ActivityStrip::screenColour(quint32 bytes)
{
    if (bytes <= ActivityMap::kStillScreenBytes)
        return QColor(0, 0, 0, 0);
    // 64 bytes faint, a megabyte and more full.
    const double level = std::clamp((std::log2(double(bytes)) - 6.0) / 14.0, 0.15, 1.0);
    return QColor(30, 60, 140, int(255 * level));
}

ActivityStrip::Column ActivityStrip::columnAt(int x) const
{
    Column c;
    const int w = width();
    const int maximum = m_bar->maximum();
    if (w <= 0 || x < 0 || x >= w)
        return c;
    // Column x stands for the seconds from the bar's value at x up to the
    // one before the value at x + 1.
    const int span = std::max(1, w - 1);
    const int first = int(qint64(maximum) * x / span);
    const int last = std::max(first, int(qint64(maximum) * (x + 1) / span) - 1);
    for (const ActivityMap::Second& s : m_map.seconds(first, last - first + 1)) {
        c.screenBytes = std::max(c.screenBytes, s.screenBytes);
        c.soundDb = std::max<int>(c.soundDb, s.soundDb);
        c.damaged = c.damaged || s.damaged;
    }
    return c;
}

void ActivityStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 255, 90));
    const int soundRows = 2;
    for (int x = 0; x < width(); ++x) {
        const Column c = columnAt(x);
        if (c.damaged) {
            painter.fillRect(x, 0, 1, height(), damageColour());
            continue;
        }
        const QColor screen = screenColour(c.screenBytes);
        if (screen.alpha() > 0)
            painter.fillRect(x, 0, 1, height() - soundRows, screen);
        if (c.soundDb > ActivityMap::kQuietDb)
            painter.fillRect(x, height() - soundRows, 1, soundRows, soundColour());
    }
}

void ActivityStrip::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(e);
        return;
    }
    // The same arithmetic as the bar over the same width.
    const int value = ControlBar::positionAt(m_bar, e->position().toPoint().x());
    if (m_controller)
        QMetaObject::invokeMethod(m_controller, "setPlayerPos", Qt::DirectConnection,
                                  Q_ARG(unsigned long long, static_cast<unsigned long long>(value)));
    e->accept();
}
