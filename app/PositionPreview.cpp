// SPDX-License-Identifier: GPL-3.0-or-later
#include "PositionPreview.h"

#include <QEvent>
#include <QMouseEvent>
#include <QProgressBar>

#include <algorithm>

#include "ControlBar.h"
#include "FilePlayer.h"
#include "PreviewPopup.h"
#include "SessionPlayer.h"

PositionPreview::PositionPreview(FilePlayer& player, QProgressBar* bar, QWidget* popupParent,
                                 Mapper toParent, QObject* parent)
    : QObject(parent)
    , m_player(player)
    , m_bar(bar)
    , m_popup(new PreviewPopup(popupParent))
    , m_toParent(std::move(toParent))
{
    // Moves without a button reach the bar only with tracking on.
    m_bar->setMouseTracking(true);
    m_bar->installEventFilter(this);
    connect(&m_maker, SIGNAL(previewReady(quint64,quint64,QImage)), this,
            SLOT(onPreviewReady(quint64,quint64,QImage)), Qt::QueuedConnection);
}

PositionPreview::~PositionPreview()
{
    if (m_bar)
        m_bar->removeEventFilter(this);
}

bool PositionPreview::eventFilter(QObject* watched, QEvent* e)
{
    if (watched != m_bar)
        return false;
    switch (e->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
            m_dragging = true;
        hover(static_cast<QMouseEvent*>(e)->position().toPoint().x());
        break;
    case QEvent::MouseMove:
        hover(static_cast<QMouseEvent*>(e)->position().toPoint().x());
        break;
    case QEvent::MouseButtonRelease: {
        m_dragging = false;
        // A drag that ended outside the bar leaves no pointer over it.
        const auto* m = static_cast<QMouseEvent*>(e);
        if (!m_bar->rect().contains(m->position().toPoint()))
            hidePopup();
        break;
    }
    case QEvent::Leave:
        // A drag keeps its preview until the button is released.
        if (!m_dragging)
            hidePopup();
        break;
    case QEvent::Hide:
        m_dragging = false;
        hidePopup();
        break;
    default:
        break;
    }
    return false;
}

void PositionPreview::hover(int x)
{
    // Nothing to preview before a recording is loaded.
    if (m_player.getFileName().isEmpty() || m_player.getDuration() == 0) {
        hidePopup();
        return;
    }
    x = std::clamp(x, 0, std::max(0, m_bar->width() - 1));
    const quint64 seconds = quint64(ControlBar::positionAt(m_bar, x));
    const bool moved = !m_active || seconds != m_seconds;
    m_seconds = seconds;
    m_active = true;
    // The bar's top edge under the pointer, in the popup's parent.
    const QPoint top = m_toParent ? m_toParent(QPoint(x, 0)) : QPoint(x, 0);
    const QString text = SessionPlayer::sec2str(int(seconds));
    if (moved) {
        // The time at once; the picture of the last request stays until the
        // new one comes, unless there is none to make.
        m_maker.setSource(m_player.getFileName(), m_player.getIndexFileName());
        const bool indexed = !m_player.getIndexFileName().isEmpty();
        if (!indexed)
            m_pictureSeconds = -1;
        m_popup->setContent(indexed ? m_popup->image() : QImage(), text);
        m_maker.request(seconds * 1000);
    }
    m_popup->showAt(top);
}

void PositionPreview::onPreviewReady(quint64 ms, quint64, const QImage& image)
{
    if (!m_active || ms != m_seconds * 1000)
        return;
    m_pictureSeconds = image.isNull() ? -1 : qint64(m_seconds);
    m_popup->setContent(image, SessionPlayer::sec2str(int(m_seconds)));
}

void PositionPreview::hidePopup()
{
    m_active = false;
    m_pictureSeconds = -1;
    m_popup->hide();
}
