// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>
#include <QString>
#include <QTimer>

#include "ui_ControlBar.h"

class QEvent;
class QPaintEvent;
class QTimerEvent;

// The translucent panel that floats at the bottom centre of the player's
// view: open, stop, play/pause, slower, faster, step back, step forward,
// zoom and full-screen buttons, the speed label, the session id, the
// position bar (which doubles as a slider) and the time text. The form
// (ControlBar.ui, class Ui_ControlBarClass) creates the widgets; their
// pointers are the public fields inherited from it (m_btnOpen ...
// m_lblTimeText), their object names the same words.
//
// The controller (the main window) is reached by name only, so the bar does
// not depend on the window's class:
// - each button's clicked() is connected with the string-based form to the
//   controller's slot onBtnOpenClicked(), onBtnStopClicked(),
//   onBtnPlayClicked(), onBtnDecSpeedClicked(), onBtnIncSpeedClicked(),
//   onBtnBackwordClicked(), onBtnForwardClicked(), onBtnZoomClicked(),
//   onBtnFullScreenClicked() or onBtnMenuClicked() (the menu button at the
//   right end, which the controller answers with its menu);
// - a left click on the position bar (press and release; a drag seeks
//   where it is released, the press alone does nothing) calls the
//   controller's setPlayerPos(unsigned long long seconds) through
//   QMetaObject::invokeMethod, directly on the GUI thread. The controller
//   must therefore declare setPlayerPos as a slot or Q_INVOKABLE.
// A null controller leaves the buttons unconnected; the position press and
// release are still consumed.
//
// Fading: any movement of the mouse over the watched area (the view's
// viewport, watchMouseOver) or over the bar fades the bar in over 0.5 s;
// 3 s after the mouse stopped it fades out over 2 s, in 50 ms steps of its
// window opacity (which its proxy in the scene paints it with). While the
// pointer is over the bar it stays. A fade-in that runs when the pointer
// leaves the bar goes on; the 3 s start from the leave.
//
// Accessibility: every button has a tooltip and an accessible name
// ("Open", "Stop", "Play", "Slower", "Faster", "Back", "Forward", "Zoom",
// "Full screen", "Menu"), translated with the form's context "ControlBarClass"; the
// play button's name and tooltip follow its icon ("Play" / "Pause").
//
// Everything here runs on the GUI thread.
class ControlBar : public QFrame, public Ui_ControlBarClass
{
    Q_OBJECT

public:
    ControlBar(QObject* controller, QWidget* parent);
    ~ControlBar() override;

    // Looks for the player states (the window calls them from its state
    // handler). stateIdle: "Time:" and the green bar. stateIndexing: only
    // stop (and zoom, full screen) usable, "Now indexing:", the red bar.
    // statePlaying: stop usable when the bar shows progress or state is not
    // idle; play, slower, faster, back and forward usable when a recording is
    // loaded; open usable; pause icon while state is 1 (playing).
    void stateIdle();
    void statePlaying(bool loaded, int state);
    void stateIndexing();
    // Shows the pause icon (a recording from the command line starts by
    // itself).
    void setButtonIconAutoPlay();

    // "Session ID: " followed by id.
    void setSessionId(const QString& id);
    void setSpeedLabelText(const QString& text);
    // The position bar's maximum; 0 or less gives 1, so an empty recording
    // still has a valid range.
    void setProgressbarMaxValue(int max);
    // The time text and the bar's value (clamped to the bar's range).
    void updateControlbarTiming(const QString& text, int value);

    void setZoomActive(bool on);
    // on = the window is full screen.
    void setFullScreenActive(bool on);

    // The position (s) that x on `bar` stands for: maximum * x / (width -
    // 1), truncated and clamped to the bar's range. Clicks on the bar, the
    // previews and the activity strip all use it.
    static int positionAt(const QProgressBar* bar, int x);

    // The position bar's style sheet: green tiles, or red ones while an
    // index is built.
    static QString getProgbarStylesheet(bool indexing);

    // Mouse moves over `area` (without a button held, too) show the bar and
    // restart its hide delay. Null stops watching.
    void watchMouseOver(QWidget* area);
    // What a mouse move does: fade in, hide 3 s later unless over the bar.
    void showForMovement();

    // Registers the compiled-in resources (style sheet and images) once.
    // The constructor calls it; code that needs the resources before any
    // bar exists (or a test) may call it too.
    static void registerResources();

public slots:
    // Starts fading out (the hide timer's timeout).
    void hideFading();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void setIcons();
    void setPlayIcon(bool pause);
    void connectButton(QObject* button, const char* slot);
    void fadeIn();

    QObject* m_controller;
    QTimer m_hideTimer;      // single shot, 3000 ms; its timeout fades out
    int m_fadeTimerId = -1;  // the running 50 ms animation timer, -1 when none
    bool m_fadingIn = false; // direction of the animation
    double m_opacity = 1.0;
    int m_fadeInMs = 500;
    int m_fadeOutMs = 2000;
    bool m_pointerOver = false;    // between the bar's hover enter and leave
    QWidget* m_mouseArea = nullptr; // watched for moves; outlives the bar
    bool m_scrubbing = false; // the left button went down on the position bar
};
