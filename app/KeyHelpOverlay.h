// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QList>
#include <QPair>
#include <QString>

// The small panel that lists every key of the player (F1 or "?"): light
// text on a dark, slightly transparent box, centred over the widget it is
// given (the view's viewport) and kept centred when that one is resized.
// It takes no mouse clicks and no focus, so the window goes on receiving
// them; the window hides it (the same key again, Escape, or a click).
//
// GUI thread only.
class KeyHelpOverlay : public QLabel
{
    Q_OBJECT

public:
    explicit KeyHelpOverlay(QWidget* area);

    // Every key with what it does, in the order shown.
    static QList<QPair<QString, QString>> keys();

    void toggle();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void centre();
};
