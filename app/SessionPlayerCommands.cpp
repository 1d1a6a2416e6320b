// SPDX-License-Identifier: GPL-3.0-or-later
// SessionPlayer: the command line, the start of a recording just opened
// (resume, --at, --paused), the keys beyond those of the buttons' first
// design, the menu button's menu, the key list and the About box.

#include "SessionPlayer.h"

#include <QFileInfo>
#include <QGraphicsProxyWidget>
#include <QKeyEvent>
#include <QMessageBox>

#include <algorithm>

#include "ControlBar.h"
#include "DrawingScene.h"
#include "KeyHelpOverlay.h"
#include "PlayerMenu.h"
#include "StartOptions.h"
#include "Version.h"

namespace {

constexpr int kMinuteSeconds = 60;

} // namespace

void SessionPlayer::start(const StartOptions& options)
{
    if (options.fullScreen() && !isFullScreen())
        onBtnFullScreenClicked();
    if (const std::optional<int> speed = options.speed()) {
        m_speed = *speed;
        m_player.setRequestedSpeed(*speed);
        m_controlBar->setSpeedLabelText(*speed < 0 ? QStringLiteral("1/2x")
                                                   : QString::number(*speed) + QStringLiteral("x"));
    }
    if (options.skipIdle())
        setSkipIdle(true);
    if (options.file().isEmpty())
        return;
    m_playOnOpen.store(!options.paused());
    openRecording(options.file(), options.at(), options.paused());
    if (!isLoaded())
        return;
    // After the first picture, which decides zoom afresh for its size.
    if (options.zoom() && *options.zoom() != m_stretched)
        onBtnZoomClicked();
    if (!options.paused())
        QTimer::singleShot(100, this, SLOT(onSetButtonIconAutoPlay()));
}

unsigned long long SessionPlayer::lastSecond() const
{
    const quint64 ms = m_player.getDuration();
    return ms == 0 ? 0 : (ms - 1) / 1000;
}

void SessionPlayer::startOpened(std::optional<long long> at, bool paused)
{
    const QString file = m_player.getFileName();
    m_history.touch(file);
    unsigned long long seconds = 0;
    QString message;
    if (at) {
        seconds = std::min(static_cast<unsigned long long>(std::max(*at, 0LL)), lastSecond());
    } else {
        seconds = m_history.resumePosition(file, m_player.getDuration() / 1000);
        if (seconds > 0)
            message = tr("Resumed at %1").arg(FilePlayer::clockText(seconds * 1000));
    }
    if (m_player.getState() == FilePlayer::STATE_INDEXING) {
        // Played from the start once built (m_playOnOpen); the seek then.
        if (seconds > 0 || paused)
            m_pendingStart = PendingStart{seconds, paused, message};
        return;
    }
    begin(seconds, paused, message);
}

void SessionPlayer::begin(unsigned long long seconds, bool paused, const QString& message)
{
    if (paused) {
        // Paused at the start is the opened recording as it stands.
        if (seconds > 0) {
            if (m_player.getState() == FilePlayer::STATE_IDLE)
                m_player.play();
            m_player.pause();
            setPlayerPos(seconds);
        }
    } else {
        if (m_player.getState() != FilePlayer::STATE_PLAYING) {
            m_ctrlPressed = false;
            m_player.play();
        }
        if (seconds > 0)
            setPlayerPos(seconds);
    }
    if (!message.isEmpty())
        m_drawingScene->showMessage(message);
}

void SessionPlayer::savePosition()
{
    const QString file = m_player.getFileName();
    // The index build reports its progress as the position: not one to keep.
    if (file.isEmpty() || !isLoaded() || m_player.getState() == FilePlayer::STATE_INDEXING)
        return;
    m_history.setPosition(file, m_positionSec);
}

bool SessionPlayer::handleShortcutKey(QKeyEvent* e)
{
    const bool control = (e->modifiers() & Qt::ControlModifier) || m_ctrlPressed;
    // A key of a button acts when its button does.
    auto press = [](QPushButton* button, auto&& action) {
        if (button->isEnabled())
            action();
        return true;
    };
    if (e->key() == Qt::Key_F1 || e->key() == Qt::Key_Question || e->text() == QLatin1String("?")) {
        showKeyHelp();
        return true;
    }
    if (e->key() == Qt::Key_Escape && m_keyHelp->isVisible()) {
        m_keyHelp->hide();
        return true;
    }
    if (control) {
        if (e->key() != Qt::Key_O)
            return false;
        return press(m_controlBar->m_btnOpen, [this] { onBtnOpenClicked(); });
    }
    switch (e->key()) {
    case Qt::Key_Home:
        return press(m_controlBar->m_btnBackword, [this] { setPlayerPos(0); });
    case Qt::Key_End:
        return press(m_controlBar->m_btnForward, [this] { setPlayerPos(lastSecond()); });
    case Qt::Key_PageUp:
        return press(m_controlBar->m_btnForward,
                     [this] { m_player.seek(kMinuteSeconds, FilePlayer::SEEK_RELATIVE); });
    case Qt::Key_PageDown:
        return press(m_controlBar->m_btnBackword,
                     [this] { m_player.seek(-kMinuteSeconds, FilePlayer::SEEK_RELATIVE); });
    case Qt::Key_BracketLeft:
        return press(m_controlBar->m_bntDecSpeed, [this] { onBtnDecSpeedClicked(); });
    case Qt::Key_BracketRight:
        return press(m_controlBar->m_btnIncSpeed, [this] { onBtnIncSpeedClicked(); });
    case Qt::Key_F:
        onBtnFullScreenClicked();
        return true;
    case Qt::Key_Z:
        onBtnZoomClicked();
        return true;
    default:
        return false;
    }
}

void SessionPlayer::showKeyHelp()
{
    m_keyHelp->toggle();
}

void SessionPlayer::showAbout()
{
    auto* box = new QMessageBox(QMessageBox::Information, tr("About Session Player"),
                                tr("Session Player %1").arg(QString::fromLatin1(kSessionPlayerVersion))
                                    + QStringLiteral("\n\n")
                                    + tr("Plays recorded screen-sharing sessions."),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("AboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SessionPlayer::openRecentFile(const QString& path)
{
    if (!m_controlBar->m_btnOpen->isEnabled())
        return; // not while an index is built
    m_playOnOpen.store(true);
    openRecording(path);
}

void SessionPlayer::onBtnMenuClicked()
{
    m_menu->setRecentFiles(m_history.recentFiles());
    m_menu->refreshChecks();
    // Above the button: the bar is at the bottom of the view.
    QPushButton* button = m_controlBar->m_btnMenu;
    QPoint at = viewport()->mapToGlobal(QPoint(width() / 2, height() - m_controlBar->height()));
    if (QGraphicsProxyWidget* proxy = m_drawingScene->controlBarProxy()) {
        const QPointF scenePoint = proxy->mapToScene(QPointF(button->geometry().topLeft()));
        at = viewport()->mapToGlobal(mapFromScene(scenePoint));
    }
    m_menu->popup(at - QPoint(0, m_menu->sizeHint().height()));
}
