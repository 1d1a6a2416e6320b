// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

// The in and out points of the next export, drawn as two small marks over
// the position bar: a child of the bar that covers it, lets every mouse
// event through and follows its size. GUI thread only.
class RangeMarks : public QWidget
{
    Q_OBJECT

public:
    explicit RangeMarks(QWidget* bar);

    // Points in ms of a recording of `durationMs`; a negative point is not
    // set and not drawn.
    void setMarks(qint64 inMs, qint64 outMs, quint64 durationMs);
    qint64 inMs() const { return m_in; }
    qint64 outMs() const { return m_out; }
    // The x of a point within the bar, or -1 when it is not drawn.
    int xOf(qint64 ms) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    qint64 m_in = -1;
    qint64 m_out = -1;
    quint64 m_duration = 0;
};
