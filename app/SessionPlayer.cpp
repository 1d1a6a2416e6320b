// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionPlayer.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QGraphicsProxyWidget>
#include <QKeyEvent>
#include <QMimeData>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPolygon>
#include <QProgressDialog>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#if SP_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

#include "ActivityStrip.h"
#include "ControlBar.h"
#include "DrawingScene.h"
#include "ExportDialog.h"
#include "ExportJob.h"
#include "FileTypeAccess.h"
#include "KeyHelpOverlay.h"
#include "Log.h"
#include "PlayerMenu.h"
#include "StartOptions.h"
#include "PositionPreview.h"
#include "PreviewPopup.h"
#include "RangeMarks.h"
#include "Thread.h"

namespace {

// Added to the window's flags at construction (0x08005001).
constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::WindowTitleHint
    | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

constexpr int kStepSeconds = 2;
constexpr int kLongStepSeconds = 10;
constexpr int kSlowest = -2;
constexpr int kFastest = 20;

// The recording a drag carries: its first URL as an absolute path, when that
// URL names a local file; empty otherwise (an empty URL list, a web address).
QString droppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return QString();
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return QString();
    const QString local = urls.first().toLocalFile();
    return local.isEmpty() ? QString() : QFileInfo(local).absoluteFilePath();
}

// Under X11 the server fills what a resize uncovers with the window's own
// background before the window has painted there; Qt leaves that background
// unset, so the window manager's frame colour (white) showed while a
// recording opened. Black, like the picture. Nothing elsewhere.
void paintUncoveredBlack(QWidget* window)
{
#if SP_HAVE_XCB
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t black = screen ? screen->black_pixel : 0;
    xcb_change_window_attributes(connection, static_cast<xcb_window_t>(window->winId()),
                                 XCB_CW_BACK_PIXEL, &black);
    xcb_flush(connection);
#else
    (void)window;
#endif
}

QString speedLabel(int step)
{
    if (step >= 0)
        return QString::number(step) + QStringLiteral("x");
    return QStringLiteral("1/") + QString::number(-step) + QStringLiteral("x");
}

} // namespace

SessionPlayer::SessionPlayer(QWidget* parent)
    : QGraphicsView(parent)
    , m_bridge(this)
{
    m_title = tr("Session Player");
    m_speed = m_player.getRequestedSpeed();
    // The sound as the user left it: the volume, and whether speech plays
    // at the slower and faster speeds (on unless switched off).
    {
        QSettings settings;
        m_player.setVolume(settings.value(QLatin1String(kVolumeKey), 100).toInt());
        m_player.setSpeechAtOtherSpeeds(settings.value(QLatin1String(kSpeechKey), true).toBool());
    }

    // This window is the bar's controller: its buttons reach the slots here.
    m_controlBar = new ControlBar(this, nullptr);
    m_drawingScene = new DrawingScene(this, nullptr);
    m_drawingScene->setControlBar(m_controlBar);
    setScene(m_drawingScene);

    initPlayerPosition();
    setRenderHints(QPainter::SmoothPixmapTransform);

    // The bar's previews float over the picture: a point of the bar maps
    // through the bar's proxy in the scene to the viewport.
    m_positionPreview = new PositionPreview(
        m_player, m_controlBar->m_progressBar, viewport(),
        [this](const QPoint& p) {
            QGraphicsProxyWidget* proxy = m_drawingScene->controlBarProxy();
            const QPoint inBar = m_controlBar->m_progressBar->mapTo(m_controlBar, p);
            return proxy ? mapFromScene(proxy->mapToScene(QPointF(inBar))) : inBar;
        },
        this);
    m_activityStrip = new ActivityStrip(m_player.activity(), m_controlBar->m_progressBar, this);
    m_player.setSkipIdle(QSettings().value(QStringLiteral("skip_idle"), false).toBool());

    m_prompter.setReportReceiver(this);
    m_player.setPrompter(&m_prompter);
    m_player.setSessionPlayer(&m_bridge);
    m_player.setDrawingScene(m_drawingScene);
    m_player.start();
    // The player thread reports "idle" as it starts. Hear that report now:
    // delivered later, after a command that the player reports at once
    // (play() from the command line, before the event loop runs), it would
    // put the bar back to its idle look while the recording plays.
    for (int i = 0; i < 400 && !m_statusSeen; ++i) {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (!m_statusSeen)
            Thread::sleep(5);
    }

    m_controlBar->stateIdle();
    m_controlBar->statePlaying(isLoaded(), FilePlayer::STATE_IDLE);
    m_drawingScene->setSeeking(false);

    setWindowTitle(m_title);
    setAcceptDrops(true);
    // Drops arrive at the viewport, which hands them to this view.
    viewport()->setAcceptDrops(true);
    // Black from the first frame: the window and the viewport around the
    // scene, before any picture (the palette's light grey and white would
    // show while the recording opens). Not the view's background brush: it
    // would replace the scene's drawBackground, which paints the picture.
    QPalette black = palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base})
        black.setColor(role, Qt::black);
    setPalette(black);
    viewport()->setPalette(black);
    viewport()->setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("border: none; background: black;"));

    // Any mouse move over the picture shows the bar.
    m_controlBar->watchMouseOver(viewport());
    m_menu = new PlayerMenu(this, nullptr);
    m_keyHelp = new KeyHelpOverlay(viewport());

    // The bar keeps its place at the bottom of the visible part when the
    // view scrolls.
    connect(verticalScrollBar(), SIGNAL(valueChanged(int)), this, SLOT(onSliderMoved()));
    connect(horizontalScrollBar(), SIGNAL(valueChanged(int)), this, SLOT(onSliderMoved()));
    // Queued, so that they run after the key or window-state event that
    // caused them. Each toggles only in its own direction: a window-state
    // report that comes twice must not take the window out of the full
    // screen it has just entered.
    connect(this, SIGNAL(goFullScreen()), this, SLOT(onGoFullScreen()), Qt::QueuedConnection);
    connect(this, SIGNAL(goNormalScreen()), this, SLOT(onGoNormalScreen()),
            Qt::QueuedConnection);

    createExportActions();
    registerFileExtension();

    setWindowFlags(windowFlags() | kWindowFlags);
    // After the flags, which make the native window anew.
    paintUncoveredBlack(this);
}

SessionPlayer::~SessionPlayer()
{
    // Nobody is left to answer a box: the player's last requests are
    // answered without one, so the thread can end.
    m_prompter.setDelegate(nullptr);
    m_prompter.setUnattended(true);
    shutdownPlayer();
    delete m_menu;
    m_menu = nullptr;
    m_controlBar->watchMouseOver(nullptr);
    delete m_positionPreview;
    m_positionPreview = nullptr;
    // Cleared before the deletes: tearing the scene down moves the scroll
    // bars, whose slot would otherwise reach a half-destroyed scene.
    ControlBar* bar = m_controlBar;
    m_controlBar = nullptr;
    DrawingScene* scene = m_drawingScene;
    m_drawingScene = nullptr;
    delete bar;
    delete scene;
}

bool SessionPlayer::isLoaded() const
{
    return m_player.getDuration() != 0;
}

void SessionPlayer::setPrompter(IPrompter* prompter)
{
    m_prompter.setDelegate(prompter);
}

void SessionPlayer::setScreenOverride(const QRect& available, const QSize& decoration)
{
    m_availableOverride = available;
    m_decorationOverride = decoration;
}

QRect SessionPlayer::availableRect() const
{
    if (m_availableOverride.isValid())
        return m_availableOverride;
    const QScreen* s = screen();
    return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

QSize SessionPlayer::decorationSize() const
{
    if (m_availableOverride.isValid())
        return m_decorationOverride;
    const QRect frame = frameGeometry();
    return QSize(frame.width() - width(), frame.height() - height());
}

// ---------------------------------------------------------------------------
// Opening

void SessionPlayer::checkAutoPlay()
{
    const StartOptions options = StartOptions::parse(QCoreApplication::arguments());
    if (options.result() == StartOptions::Start)
        start(options);
}

void SessionPlayer::openAndPlay(const QString& path)
{
    m_playOnOpen.store(true);
    openRecording(path);
    if (isLoaded())
        QTimer::singleShot(100, this, SLOT(onSetButtonIconAutoPlay()));
}

void SessionPlayer::setFileInfo()
{
    m_title = tr("Session Player") + QStringLiteral(" - ") + m_player.getDisplayName();
    setWindowTitle(m_title);

    QString id = m_player.getSessionId();
    if (id.size() == 9)
        id = id.mid(0, 3) + QStringLiteral("-") + id.mid(3, 3) + QStringLiteral("-")
            + id.mid(6, 3);
    m_sessionId = id;
    m_controlBar->setSessionId(id);

    m_durationSec = m_player.getDuration() / 1000;
    m_durationText = sec2str(static_cast<int>(m_durationSec));
    m_controlBar->setProgressbarMaxValue(static_cast<int>(m_durationSec));

    // The in and out points belong to the recording they were set in.
    if (m_player.getFileName() != m_markedFile) {
        m_markedFile = m_player.getFileName();
        m_inMs = m_outMs = -1;
    }
    showRangeMarks();
    onPlayerPositionChanged(0);
}

void SessionPlayer::setTitle(const QString& title)
{
    m_title = title;
    setWindowTitle(title);
}

void SessionPlayer::afterOpen()
{
    setFileInfo();
    const int state = m_player.getState();
    if (state == FilePlayer::STATE_INDEXING)
        return;
    m_controlBar->stateIdle();
    // A drop of a recording with an index is already playing: the play
    // button then shows the pause icon.
    m_controlBar->statePlaying(isLoaded(),
                               state == FilePlayer::STATE_PLAYING ? state : FilePlayer::STATE_IDLE);
    m_drawingScene->setSeeking(false);
}

void SessionPlayer::onBtnOpenClicked()
{
    // Like a drop and the command line: what opens, plays.
    m_playOnOpen.store(true);
    openRecording(QString());
}

void SessionPlayer::onInvalidFileFormat()
{
    m_prompter.critical(tr("Session Player"), tr("This is invalid file."));
}

void SessionPlayer::onSetButtonIconAutoPlay()
{
    // Armed when a recording from the command line starts. By the time it
    // fires the recording may have been stopped (an Escape in the first
    // moments): the icon then follows the player instead of showing pause
    // for a stopped recording.
    const int state = m_player.getState();
    if (state == FilePlayer::STATE_PLAYING || state == FilePlayer::STATE_INDEXING)
        m_controlBar->setButtonIconAutoPlay();
    else
        m_controlBar->statePlaying(isLoaded(), state);
}

void SessionPlayer::registerFileExtension()
{
    const QStringList arguments = QCoreApplication::arguments();
    const QString program = arguments.isEmpty() ? QString() : arguments.first();
    FileTypeAccess access = FileTypeAccess::forRecordings(program);
    access.regSetAllInfo();
}

// ---------------------------------------------------------------------------
// Player states

void SessionPlayer::onPlayerStatus(int status)
{
    m_statusSeen = true;
    // The start that waited for the index build: once it has succeeded.
    if (m_pendingStart && status != FilePlayer::STATE_INDEXING
        && m_player.getState() != FilePlayer::STATE_INDEXING) {
        const PendingStart pending = *m_pendingStart;
        m_pendingStart.reset();
        if ((status == FilePlayer::STATE_PLAYING || status == FilePlayer::STATE_IDLE)
            && m_player.isIndexLoaded() && m_player.getState() == status)
            begin(pending.seconds, pending.paused, pending.message);
    }
    switch (status) {
    case FilePlayer::STATE_IDLE:
    case FilePlayer::STATE_STOPPING:
        m_controlBar->stateIdle();
        m_controlBar->statePlaying(isLoaded(), status);
        break;
    case FilePlayer::STATE_PLAYING:
    case FilePlayer::STATE_PAUSED:
        m_controlBar->statePlaying(isLoaded(), status);
        break;
    case FilePlayer::STATE_SEEKING:
        break;
    case FilePlayer::STATE_INDEXING:
        m_controlBar->stateIndexing();
        break;
    default:
        // The error state included: the player has shown its message.
        logCritical1("SessionPlayer::onPlayerStatu: Invalid player state: %1",
                     QByteArray::number(status).constData());
        break;
    }
    m_drawingScene->setSeeking(status == FilePlayer::STATE_SEEKING);
}

// ---------------------------------------------------------------------------
// Playback controls

void SessionPlayer::onBtnPlayClicked()
{
    const int state = m_player.getState();
    if (state == FilePlayer::STATE_INDEXING)
        return;
    if (state == FilePlayer::STATE_PLAYING) {
        m_player.pause();
        return;
    }
    m_ctrlPressed = false;
    m_player.play();
}

void SessionPlayer::onBtnStopClicked()
{
    m_player.stop();
}

void SessionPlayer::onBtnBackwordClicked()
{
    m_player.seek(m_ctrlPressed ? -kLongStepSeconds : -kStepSeconds, FilePlayer::SEEK_RELATIVE);
}

void SessionPlayer::onBtnForwardClicked()
{
    m_player.seek(m_ctrlPressed ? kLongStepSeconds : kStepSeconds, FilePlayer::SEEK_RELATIVE);
}

void SessionPlayer::setPlayerPos(unsigned long long seconds)
{
    m_player.seek(static_cast<long long>(seconds), FilePlayer::SEEK_ABSOLUTE);
}

void SessionPlayer::onBtnDecSpeedClicked()
{
    if (m_speed < -1)
        return;
    int step = m_speed - 1;
    if (step == 0)
        step = kSlowest;
    m_speed = step;
    m_player.setRequestedSpeed(step);
    m_controlBar->setSpeedLabelText(speedLabel(step));
}

void SessionPlayer::onBtnIncSpeedClicked()
{
    if (m_speed > kFastest - 1)
        return;
    int step = m_speed + 1;
    if (step == -1)
        step = 1;
    m_speed = step;
    m_player.setRequestedSpeed(step == 0 ? 1 : step);
    m_controlBar->setSpeedLabelText(speedLabel(step));
}

QString SessionPlayer::sec2str(int seconds)
{
    const int parts[3] = {seconds / 3600, (seconds / 60) % 60, seconds % 60};
    QString text;
    for (int i = 0; i < 3; ++i) {
        QString part = QString::number(parts[i]);
        if (part.size() < 2)
            part.prepend(QLatin1Char('0'));
        if (i > 0)
            text += QLatin1Char(':');
        text += part;
    }
    return text;
}

void SessionPlayer::onPlayerDurationChanged(quint64)
{
    // The player's own figure, not the signal's: a report of a recording
    // opened before this one may still arrive.
    if (m_player.getFileName().isEmpty())
        return;
    m_durationSec = m_player.getDuration() / 1000;
    m_durationText = sec2str(static_cast<int>(m_durationSec));
    m_controlBar->setProgressbarMaxValue(static_cast<int>(m_durationSec));
    showRangeMarks();
    onPlayerPositionChanged(m_positionSec);
    const int state = m_player.getState();
    if (state != FilePlayer::STATE_INDEXING && state != FilePlayer::STATE_SEEKING)
        m_controlBar->statePlaying(isLoaded(), state);
}

void SessionPlayer::onPlayerPositionChanged(quint64 seconds)
{
    m_positionSec = seconds;
    const int value = static_cast<int>(seconds);
    m_controlBar->updateControlbarTiming(sec2str(value) + QStringLiteral(" / ") + m_durationText,
                                         value);
}

// ---------------------------------------------------------------------------
// Keyboard, mouse, drops, window events

void SessionPlayer::keyPressEvent(QKeyEvent* e)
{
    if (handleShortcutKey(e))
        return;
    const int state = m_player.getState();
    switch (e->key()) {
    case Qt::Key_Space:
        if (state == FilePlayer::STATE_PAUSED)
            m_player.play();
        else if (state == FilePlayer::STATE_PLAYING)
            m_player.pause();
        else if (state == FilePlayer::STATE_IDLE && isLoaded())
            onBtnPlayClicked(); // stopped, or at its end: from the start
        break;
    case Qt::Key_Escape:
        if (isFullScreen())
            emit goNormalScreen();
        else if (state != FilePlayer::STATE_IDLE)
            m_player.stop();
        break;
    case Qt::Key_Left:
        onBtnBackwordClicked();
        break;
    case Qt::Key_Right:
        onBtnForwardClicked();
        break;
    case Qt::Key_Control:
        m_ctrlPressed = true;
        break;
    case Qt::Key_K:
        setSkipIdle(!skipIdle());
        m_drawingScene->showMessage(skipIdle() ? tr("Skipping idle stretches")
                                               : tr("Playing idle stretches"));
        break;
    case Qt::Key_F11:
        if (m_ctrlPressed)
            onBtnZoomClicked();
        break;
    case Qt::Key_F12:
        if (m_ctrlPressed)
            onBtnFullScreenClicked();
        break;
    case Qt::Key_Up:
        changeVolume(kVolumeStep);
        break;
    case Qt::Key_Down:
        changeVolume(-kVolumeStep);
        break;
    case Qt::Key_M:
        toggleMute();
        break;
    case Qt::Key_S:
        toggleSpeechAtOtherSpeeds();
        break;
    default:
        break;
    }
}

void SessionPlayer::changeVolume(int step)
{
    // A change of volume is heard: it ends a mute.
    m_player.setMuted(false);
    m_player.setVolume(m_player.volume() + step);
    QSettings().setValue(QLatin1String(kVolumeKey), m_player.volume());
    m_drawingScene->showMessage(tr("Volume %1 %").arg(m_player.volume()));
}

void SessionPlayer::toggleMute()
{
    const bool muted = !m_player.isMuted();
    m_player.setMuted(muted);
    m_drawingScene->showMessage(muted ? tr("Muted") : tr("Volume %1 %").arg(m_player.volume()));
}

void SessionPlayer::toggleSpeechAtOtherSpeeds()
{
    setSpeechAtOtherSpeeds(!m_player.speechAtOtherSpeeds());
}

void SessionPlayer::setSpeechAtOtherSpeeds(bool on)
{
    m_player.setSpeechAtOtherSpeeds(on);
    QSettings().setValue(QLatin1String(kSpeechKey), on);
    m_drawingScene->showMessage(on ? tr("Speech at 1/2x to 3x on") : tr("Speech at 1/2x to 3x off"));
}

bool SessionPlayer::speechAtOtherSpeeds() const
{
    return m_player.speechAtOtherSpeeds();
}

void SessionPlayer::keyReleaseEvent(QKeyEvent* e)
{
    QGraphicsView::keyReleaseEvent(e);
    if (e->key() == Qt::Key_Control)
        m_ctrlPressed = false;
}

void SessionPlayer::mousePressEvent(QMouseEvent* e)
{
    QGraphicsView::mousePressEvent(e);
    if (e->button() == Qt::RightButton)
        onBtnZoomClicked();
}

void SessionPlayer::mouseDoubleClickEvent(QMouseEvent* e)
{
    QGraphicsView::mouseDoubleClickEvent(e);
    QRect bar;
    if (QGraphicsProxyWidget* proxy = m_drawingScene->controlBarProxy())
        bar = mapFromScene(proxy->geometry()).boundingRect();
    if (!bar.contains(e->position().toPoint()) && e->button() == Qt::LeftButton && isLoaded())
        onBtnFullScreenClicked();
}

void SessionPlayer::dragEnterEvent(QDragEnterEvent* e)
{
    if (!droppedFile(e->mimeData()).isEmpty())
        e->acceptProposedAction();
    else
        e->ignore();
}

void SessionPlayer::dragMoveEvent(QDragMoveEvent* e)
{
    if (!droppedFile(e->mimeData()).isEmpty())
        e->acceptProposedAction();
    else
        e->ignore();
}

void SessionPlayer::dragLeaveEvent(QDragLeaveEvent* e)
{
    e->accept();
}

void SessionPlayer::dropEvent(QDropEvent* e)
{
    // Only a local file is opened; anything else leaves the window as it was.
    const QString path = droppedFile(e->mimeData());
    if (path.isEmpty()) {
        e->ignore();
        return;
    }
    m_playOnOpen.store(true);
    e->acceptProposedAction();
    // Opened once the drop has returned: the index question must not hold
    // the drag source (another program) while it waits for an answer.
    QTimer::singleShot(0, this, [this, path]() { openDropped(path); });
}

void SessionPlayer::openDropped(const QString& path)
{
    openRecording(path);
}

void SessionPlayer::openRecording(const QString& path, std::optional<long long> at, bool paused)
{
    savePosition();
    m_pendingStart.reset();
    // The player checks the new file before it stops the recording that
    // plays: a wrong file leaves that one playing. A recording that fails
    // after the check (its first screen) is gone: the window shows none.
    if (m_player.openFile(path)) {
        afterOpen();
        startOpened(at, paused);
    } else if (!isLoaded()) {
        showNoRecording();
    }
}

void SessionPlayer::showNoRecording()
{
    m_title = tr("Session Player");
    setWindowTitle(m_title);
    m_sessionId.clear();
    m_controlBar->m_lblSessionID->setText(
        QCoreApplication::translate("ControlBarClass", "Session ID: xxx-xxx-xxx"));
    m_durationSec = 0;
    m_durationText = sec2str(0);
    m_controlBar->setProgressbarMaxValue(0);
    onPlayerPositionChanged(0);
    m_controlBar->stateIdle();
    m_controlBar->statePlaying(false, FilePlayer::STATE_IDLE);
    m_drawingScene->setSeeking(false);
    m_drawingScene->clearPicture();
}

bool SessionPlayer::event(QEvent* e)
{
    // A maximise enters full screen. A maximised state reported on the way
    // out of full screen (a window manager may pass through it) is not one.
    if (e->type() == QEvent::WindowStateChange && isMaximized() && !isFullScreen()
        && !(static_cast<QWindowStateChangeEvent*>(e)->oldState() & Qt::WindowFullScreen))
        emit goFullScreen();
    return QGraphicsView::event(e);
}

void SessionPlayer::closeEvent(QCloseEvent* e)
{
    savePosition();
    if (!shutdownPlayer()) {
        e->ignore();
        return;
    }
    e->accept();
}

bool SessionPlayer::shutdownPlayer()
{
    auto threadAlive = [this]() {
        const int t = m_player.Thread::getState();
        return t != Thread::STATE_CREATED && t != Thread::STATE_INITIALIZED
            && t != Thread::STATE_FINISHED;
    };
    // Answered No to cancelling the index build: the player goes on, also
    // when the build ended while the question was up.
    if (!m_player.stop())
        return false;
    while (m_player.getState() != FilePlayer::STATE_IDLE && threadAlive()) {
        const int state = m_player.getState();
        // A stop while seeking only cancels the seek; stop again once the
        // player is back to playing or paused.
        if (state == FilePlayer::STATE_PLAYING || state == FilePlayer::STATE_PAUSED)
            m_player.stop();
        m_prompter.serviceWhileWaiting();
        Thread::sleep(20);
    }
    m_player.Thread::stop(true);
    return true;
}

// ---------------------------------------------------------------------------
// Geometry, zoom and full screen

void SessionPlayer::initPlayerPosition()
{
    const QRect available = availableRect();
    const int cw = m_controlBar->width();
    const int h = available.width() > 0
        ? static_cast<int>(available.height() * (static_cast<double>(cw) / available.width()))
        : 0;
    setGeometry((available.width() - cw) / 2, (available.height() - h) / 2, cw, h);
    setControlbarPosition();
    m_drawingScene->setSceneRect(0, 0, 1, 1);
}

void SessionPlayer::setStretchedState(bool stretched)
{
    m_stretched = stretched;
    m_drawingScene->setStretched(stretched);
    m_controlBar->setZoomActive(stretched);
}

void SessionPlayer::calcFirstScreenDimention(int w, int h)
{
    const QSize decoration = decorationSize();
    const int dw = decoration.width();
    const int dh = decoration.height();
    const QRect available = availableRect();
    const int al = available.left();
    const int at = available.top();
    const int aw = available.width();
    const int ah = available.height();

    if (w + dw > aw || h + dh > ah) {
        int nw, nh, xOffset, yOffset;
        if (h > 0 && ah > 0
            && static_cast<double>(w) / h > static_cast<double>(aw) / ah) {
            nw = aw - dw;
            nh = static_cast<int>(static_cast<double>(h) * (aw - dw) / w);
            xOffset = 0;
            yOffset = (ah - nh) / 2;
        } else {
            nh = ah - dh;
            nw = h > 0 ? static_cast<int>(static_cast<double>(w) * (ah - dh) / h) : 0;
            xOffset = (aw - nw) / 2;
            yOffset = 0;
        }
        setStretchedState(true);
        m_drawingScene->setSceneRect(0, 0, nw, nh);
        move(al + xOffset, at + yOffset);
        resize(nw, nh);
    } else {
        const int x = (aw - (w + dw)) / 2;
        const int y = std::max((ah - (h + dh)) / 2, at);
        setStretchedState(false);
        m_drawingScene->setSceneRect(0, 0, w, h);
        move(x, y);
        resize(w, h);
    }
}

void SessionPlayer::calcNotFullscreenStretched()
{
    setStretchedState(true);
    QRect r(0, 0, width(), height());
    m_drawingScene->calcDrawRect(r);
    resize(r.size());
    m_drawingScene->setSceneRect(r);
    m_drawingScene->calcStretchedBitmapDimensions(0);
    m_drawingScene->redraw();
    setControlbarPosition();
}

void SessionPlayer::calcFullscreenStretched()
{
    setStretchedState(true);
    QRect r(0, 0, width(), height());
    m_drawingScene->calcDrawRect(r);
    m_drawingScene->setSceneRect(r);
    m_drawingScene->redraw();
    setControlbarPosition();
}

void SessionPlayer::calcNotFullscreenNotStretched()
{
    setStretchedState(false);
    int fw, fh;
    m_drawingScene->getImageSize(fw, fh);
    if (fw != 0 && fh != 0) {
        m_drawingScene->setSceneRect(0, 0, fw, fh);
        m_drawingScene->redraw();
        setControlbarPosition();
    }
}

void SessionPlayer::calcFullscreenNotStretched(int w, int h)
{
    setStretchedState(false);
    m_drawingScene->setSceneRect(0, 0, w, h);
    m_drawingScene->redraw();
    setControlbarPosition();
}

void SessionPlayer::setControlbarPosition()
{
    QGraphicsProxyWidget* proxy = m_drawingScene ? m_drawingScene->controlBarProxy() : nullptr;
    if (!m_controlBar || !proxy)
        return;
    const QPointF o = mapToScene(0, 0);
    const int vw = viewport()->width();
    const int vh = viewport()->height();
    const int cw = m_controlBar->width();
    const int ch = m_controlBar->height();
    proxy->setPos(static_cast<int>((vw - cw) / 2 + o.x()), static_cast<int>(vh + o.y() - ch));
}

void SessionPlayer::onSliderMoved()
{
    setControlbarPosition();
}

void SessionPlayer::resizeEvent(QResizeEvent* e)
{
    QGraphicsView::resizeEvent(e);
    // With zoom on, the scene rectangle follows the new size too (not only
    // the scaled picture): the picture stays fitted and centred, with no
    // scroll bars to wheel it away.
    if (m_stretched)
        calcFullscreenStretched();
    setControlbarPosition();
    m_drawingScene->calcStretchedBitmapDimensions(0);
}

void SessionPlayer::onBtnZoomClicked()
{
    if (m_stretched)
        calcNotFullscreenNotStretched();
    else if (isFullScreen())
        calcFullscreenStretched();
    else
        calcNotFullscreenStretched();
}

bool SessionPlayer::skipIdle() const
{
    return m_player.skipIdle();
}

void SessionPlayer::setSkipIdle(bool on)
{
    m_player.setSkipIdle(on);
    QSettings().setValue(QStringLiteral("skip_idle"), on);
}

void SessionPlayer::onGoFullScreen()
{
    if (!isFullScreen())
        onBtnFullScreenClicked();
}

void SessionPlayer::onGoNormalScreen()
{
    if (isFullScreen())
        onBtnFullScreenClicked();
}

void SessionPlayer::onBtnFullScreenClicked()
{
    if (isFullScreen()) {
        m_controlBar->setFullScreenActive(false);
        showNormal();
        // Back where the window was before full screen, or before the
        // maximise that led there. The window flags stay as they are:
        // changing them re-shows the native window, which the window manager
        // then places anew instead of where it was.
        if (m_windowedGeometry.isValid())
            setGeometry(m_windowedGeometry);
    } else {
        m_windowedGeometry = isMaximized() ? normalGeometry() : geometry();
        m_controlBar->setFullScreenActive(true);
        showFullScreen();
    }
    if (m_stretched)
        calcFullscreenStretched();
}

// ---- Export, Save frame, Copy frame ----

void SessionPlayer::createExportActions()
{
    auto make = [this](const QString& text, const QKeySequence& keys, void (SessionPlayer::*slot)()) {
        auto* action = new QAction(text, this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    m_exportAction = make(tr("Export clip…"), QKeySequence(Qt::CTRL | Qt::Key_E),
                          &SessionPlayer::exportClip);
    m_saveFrameAction = make(tr("Save frame…"), QKeySequence(Qt::CTRL | Qt::Key_S),
                             &SessionPlayer::saveFrame);
    m_copyFrameAction = make(tr("Copy frame"), QKeySequence(Qt::CTRL | Qt::Key_C),
                             &SessionPlayer::copyFrame);
    m_inAction = make(tr("Set in point"), QKeySequence(Qt::Key_I), &SessionPlayer::setInPoint);
    m_outAction = make(tr("Set out point"), QKeySequence(Qt::Key_O), &SessionPlayer::setOutPoint);
    m_rangeMarks = new RangeMarks(m_controlBar->m_progressBar);
}

ExportDialog* SessionPlayer::exportDialog() const
{
    return m_exportDialog;
}

ExportJob* SessionPlayer::exportJob() const
{
    return m_exportJob;
}

QProgressDialog* SessionPlayer::exportProgress() const
{
    return m_exportProgress;
}

quint64 SessionPlayer::positionMs() const
{
    return m_positionSec * 1000;
}

void SessionPlayer::showRangeMarks()
{
    m_rangeMarks->setMarks(m_inMs, m_outMs, m_player.getDuration());
}

void SessionPlayer::setInPoint()
{
    if (!isLoaded())
        return;
    m_inMs = static_cast<qint64>(positionMs());
    if (m_outMs >= 0 && m_outMs <= m_inMs)
        m_outMs = -1;
    showRangeMarks();
}

void SessionPlayer::setOutPoint()
{
    if (!isLoaded())
        return;
    m_outMs = static_cast<qint64>(positionMs());
    if (m_inMs >= 0 && m_inMs >= m_outMs)
        m_inMs = -1;
    showRangeMarks();
}

void SessionPlayer::exportClip()
{
    if (!isLoaded() || m_exportDialog)
        return;
    if (m_exportJob) {
        if (m_exportProgress)
            m_exportProgress->raise();
        return;
    }
    const quint64 duration = m_player.getDuration();
    const quint64 from = m_inMs >= 0 ? static_cast<quint64>(m_inMs) : 0;
    const quint64 to = m_outMs >= 0 ? static_cast<quint64>(m_outMs) : duration;
    m_exportDialog = new ExportDialog(m_player.getFileName(), duration, from, to, this);
    m_exportDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_exportDialog, &QDialog::accepted, this, &SessionPlayer::startExport);
    // Window-modal and not blocking: the player goes on playing meanwhile.
    m_exportDialog->open();
}

void SessionPlayer::startExport()
{
    if (!m_exportDialog || m_exportJob)
        return;
    const ExportSettings settings = m_exportDialog->settings();
    m_lastExportText.clear();
    m_exportJob = new ExportJob(settings, this);
    m_exportProgress = new QProgressDialog(tr("Exporting %1…").arg(QFileInfo(settings.output).fileName()),
                                           tr("Cancel"), 0, 1000, this);
    m_exportProgress->setWindowTitle(tr("Export clip"));
    m_exportProgress->setAttribute(Qt::WA_DeleteOnClose);
    m_exportProgress->setWindowModality(Qt::NonModal);
    m_exportProgress->setAutoClose(false);
    m_exportProgress->setAutoReset(false);
    m_exportProgress->setMinimumDuration(0);
    m_exportProgress->setValue(0);
    ExportJob* job = m_exportJob;
    connect(m_exportProgress, &QProgressDialog::canceled, job, &ExportJob::cancel);
    connect(job, &ExportJob::progress, this, [this](int permille) {
        if (m_exportProgress)
            m_exportProgress->setValue(permille);
    });
    connect(job, &ExportJob::notice, this, [this](const QString& text) {
        m_drawingScene->showMessage(text);
    });
    connect(job, &ExportJob::finished, this, &SessionPlayer::exportFinished);
    m_exportProgress->show();
    job->start();
}

void SessionPlayer::exportFinished(bool completed, const QString& message)
{
    const QString output = m_exportJob ? m_exportJob->settings().output : QString();
    if (m_exportJob)
        m_exportJob->deleteLater();
    m_exportJob = nullptr;
    if (m_exportProgress)
        m_exportProgress->close();
    if (completed) {
        m_lastExportText = tr("Exported to %1").arg(QFileInfo(output).fileName());
        m_drawingScene->showMessage(m_lastExportText);
    } else if (message.isEmpty()) {
        m_lastExportText = tr("Export cancelled");
    } else {
        m_lastExportText = tr("The clip was not exported: %1").arg(message);
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Export clip"), m_lastExportText,
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

bool SessionPlayer::saveFrameTo(const QString& path)
{
    const QImage image = m_drawingScene->picture(true);
    if (image.isNull() || !image.save(path, "PNG")) {
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Save frame"),
                                    image.isNull() ? tr("There is no picture to save.")
                                                   : tr("%1 could not be written.").arg(path),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    return true;
}

void SessionPlayer::saveFrame()
{
    if (!isLoaded())
        return;
    const QFileInfo source(m_player.getFileName());
    const QString suggested = source.absoluteDir().filePath(
        QStringLiteral("%1-%2.png").arg(source.completeBaseName(),
                                        sec2str(static_cast<int>(m_positionSec)).replace(':', '.')));
    const QString path = QFileDialog::getSaveFileName(this, tr("Save frame"), suggested,
                                                      tr("PNG image (*.png)"));
    if (!path.isEmpty())
        saveFrameTo(path);
}

void SessionPlayer::copyFrame()
{
    const QImage image = m_drawingScene->picture(true);
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}
