// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "IPlayerWindow.h"

class SessionPlayer;

// The main window as the player sees it. SessionPlayer cannot implement
// IPlayerWindow itself: its setVisible(bool) would override
// QWidget::setVisible. The player calls setTitle and setVisible on either
// thread (on the player thread when playback starts after an index build);
// called off the GUI thread they are queued to it. playOnOpen() reads the
// window's flag, a single atomic byte, on the player thread.
class WindowBridge : public IPlayerWindow
{
public:
    explicit WindowBridge(SessionPlayer* window) : m_window(window) {}

    QObject* receiver() override;
    void setTitle(const QString& title) override;
    void setVisible(bool visible) override;
    bool playOnOpen() const override;

private:
    SessionPlayer* m_window;
};
