// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowBridge.h"

#include <QThread>

#include "SessionPlayer.h"

namespace {

template <typename Fn>
void onGuiThread(SessionPlayer* window, Fn&& fn)
{
    if (QThread::currentThread() == window->thread())
        fn();
    else
        QMetaObject::invokeMethod(window, std::forward<Fn>(fn), Qt::QueuedConnection);
}

} // namespace

QObject* WindowBridge::receiver()
{
    return m_window;
}

void WindowBridge::setTitle(const QString& title)
{
    SessionPlayer* window = m_window;
    onGuiThread(window, [window, title]() { window->setTitle(title); });
}

void WindowBridge::setVisible(bool visible)
{
    SessionPlayer* window = m_window;
    onGuiThread(window, [window, visible]() { window->QWidget::setVisible(visible); });
}

bool WindowBridge::playOnOpen() const
{
    return m_window->playOnOpen();
}
