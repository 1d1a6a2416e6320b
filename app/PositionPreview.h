// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>

#include <functional>

#include "PreviewMaker.h"

class FilePlayer;
class PreviewPopup;
class QProgressBar;
class QWidget;

// Previews on the position bar: while the pointer hovers over the bar, or
// drags on it (the seek then happens on release, see ControlBar), a popup
// above the pointer shows the time under it and the picture of the screen at
// that time, made by a PreviewMaker on its own thread from the loaded index;
// without an index, the time alone. The popup follows the pointer and goes
// when the pointer leaves the bar.
//
// An event filter on the bar that only watches (it never takes an event
// from the bar). GUI thread. The recording and index are read from the
// player at each request, so an index built after opening is used at once.
class PositionPreview : public QObject
{
    Q_OBJECT

public:
    // Maps a point of the bar to the popup's parent (the bar may be
    // embedded in a graphics scene, where the widgets' own mapping does not
    // reach the screen).
    using Mapper = std::function<QPoint(const QPoint&)>;

    // `popupParent` is the widget the popup floats in (the view's viewport).
    PositionPreview(FilePlayer& player, QProgressBar* bar, QWidget* popupParent, Mapper toParent,
                    QObject* parent = nullptr);
    ~PositionPreview() override;

    PreviewMaker& maker() { return m_maker; }
    PreviewPopup* popup() const { return m_popup; }
    // The time (s) under the pointer, shown or being made.
    quint64 hoveredSeconds() const { return m_seconds; }
    // The time (s) whose picture the popup shows; -1 for none.
    qint64 pictureSeconds() const { return m_pictureSeconds; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private slots:
    void onPreviewReady(quint64 ms, quint64 keyMs, const QImage& image);

private:
    void hover(int x);
    void hidePopup();

    FilePlayer& m_player;
    QProgressBar* m_bar;
    PreviewPopup* m_popup;  // owned by its parent widget
    Mapper m_toParent;
    PreviewMaker m_maker;
    quint64 m_seconds = 0;
    qint64 m_pictureSeconds = -1;
    bool m_active = false;  // the popup is meant to show
    bool m_dragging = false; // the left button went down on the bar
};
