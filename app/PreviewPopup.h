// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QPaintEvent;

// The small picture shown above the pointer while it hovers over (or drags
// on) the position bar: the preview of the screen at that time, with the
// time (hh:mm:ss) under it; the time alone when there is no picture. A child
// of the view's viewport, so it floats over the picture inside the window.
// GUI thread.
class PreviewPopup : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kBorder = 2;
    static constexpr int kTextHeight = 18;
    static constexpr int kGap = 6; // between the popup and the bar

    explicit PreviewPopup(QWidget* parent);

    // The picture (null: none) and the time text; resizes the popup.
    void setContent(const QImage& image, const QString& time);
    QImage image() const { return m_image; }
    QString timeText() const { return m_time; }
    // Shows it with its bottom centre `gap` above `anchor` (the pointer's x
    // on the bar's top edge, in the parent's coordinates), kept inside the
    // parent.
    void showAt(const QPoint& anchor);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage m_image;
    QString m_time;
    QPoint m_anchor;
};
