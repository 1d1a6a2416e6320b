// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QWidget>

class ActivityMap;
class QMouseEvent;
class QPaintEvent;
class QProgressBar;

// The thin strip under the position bar that shows, over the same span of
// time, where the screen changed (the darker, the more bytes of screen
// updates in that stretch), where sound was heard (a green line at the
// bottom) and where the file is damaged (red). It reads the player's
// ActivityMap, which the walk over the recording fills in when it opens,
// and repaints while that fills in. A left click seeks as a click on the
// bar does (the controller's setPlayerPos). GUI thread.
class ActivityStrip : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kHeight = 6;
    static constexpr int kPollMs = 200;

    // Placed under `bar` in the bar's parent (the control bar), as wide as
    // the bar; its scale is the bar's maximum (seconds).
    ActivityStrip(const ActivityMap& map, QProgressBar* bar, QObject* controller);

    // What column x shows, for tests: the screen bytes of its busiest
    // second, its loudest window (dBFS) and whether it holds damage.
    struct Column
    {
        quint32 screenBytes = 0;
        int soundDb = -128;
        bool damaged = false;
    };
    Column columnAt(int x) const;

    // The colour drawn for the screen activity of a column (exposed so tests
    // and the paint agree): transparent for none.
    static QColor screenColour(quint32 bytes);
    static QColor soundColour() { return QColor(40, 170, 60); }
    static QColor damageColour() { return QColor(220, 30, 30); }

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private slots:
    void poll();

private:
    const ActivityMap& m_map;
    QProgressBar* m_bar;
    QObject* m_controller;
    QTimer m_poll;
    int m_seenRevision = -1;
};
