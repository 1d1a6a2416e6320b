// SPDX-License-Identifier: GPL-3.0-or-later
#include "ControlBar.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initSessionPlayerResources()
{
    Q_INIT_RESOURCE(SessionPlayer);
}

namespace {

const int kFadeTickMs = 50;
const int kHideDelayMs = 3000;

const QString kPlayIcon = QStringLiteral(":/images/btn_play.png");
const QString kPauseIcon = QStringLiteral(":/images/btn_pause.png");

// The buttons' texts share the form's translation context, so "Play" and
// "Pause" are translated once, with the rest of the bar.
QString formText(const char* text)
{
    return QCoreApplication::translate("ControlBarClass", text);
}

} // namespace

void ControlBar::registerResources()
{
    // The bundle lives in a static library; a linker keeps its initializer
    // only when something calls it, and registering twice would list the
    // files twice.
    if (!QFile::exists(QStringLiteral(":/SessionPlayer/style.qss")))
        initSessionPlayerResources();
}

ControlBar::ControlBar(QObject* controller, QWidget* parent)
    : QFrame(parent)
    , m_controller(controller)
    , m_hideTimer(this)
{
    registerResources();
    setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_Hover);
    setIcons();

    if (m_controller) {
        connectButton(m_btnOpen, SLOT(onBtnOpenClicked()));
        connectButton(m_btnStop, SLOT(onBtnStopClicked()));
        connectButton(m_btnPlay, SLOT(onBtnPlayClicked()));
        connectButton(m_bntDecSpeed, SLOT(onBtnDecSpeedClicked()));
        connectButton(m_btnIncSpeed, SLOT(onBtnIncSpeedClicked()));
        connectButton(m_btnBackword, SLOT(onBtnBackwordClicked()));
        connectButton(m_btnForward, SLOT(onBtnForwardClicked()));
        connectButton(m_btnZoom, SLOT(onBtnZoomClicked()));
        connectButton(m_btnFullScreen, SLOT(onBtnFullScreenClicked()));
        connectButton(m_btnMenu, SLOT(onBtnMenuClicked()));
    }
    connect(&m_hideTimer, SIGNAL(timeout()), this, SLOT(hideFading()));

    m_progressBar->setStyleSheet(getProgbarStylesheet(false));
    m_progressBar->installEventFilter(this);
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kHideDelayMs);
}

ControlBar::~ControlBar() = default;

void ControlBar::connectButton(QObject* button, const char* slot)
{
    connect(button, SIGNAL(clicked()), m_controller, slot);
}

void ControlBar::setIcons()
{
    struct ButtonIcon
    {
        QPushButton* button;
        const char* path;
        int size;
    };
    const ButtonIcon icons[] = {
        {m_btnOpen, ":/images/btn_file.png", 16},
        {m_btnStop, ":/images/btn_stop.png", 16},
        {m_btnPlay, ":/images/btn_play.png", 16},
        {m_bntDecSpeed, ":/images/btn_slowdown.png", 16},
        {m_btnIncSpeed, ":/images/btn_speedup.png", 16},
        {m_btnBackword, ":/images/btn_stepback.png", 16},
        {m_btnForward, ":/images/btn_stepforward.png", 16},
        {m_btnZoom, ":/images/btn_zoom_a.png", 18},
        {m_btnFullScreen, ":/images/btn_fullscreen_a.png", 18},
        {m_btnMenu, ":/images/btn_menu.png", 16},
    };
    for (const ButtonIcon& b : icons) {
        b.button->setIcon(QIcon(QString::fromLatin1(b.path)));
        b.button->setIconSize(QSize(b.size, b.size));
        // The words the application style sheet's ".button.controlbar"
        // selector looks for.
        b.button->setProperty("class", QStringLiteral("controlbar button"));
    }
}

void ControlBar::setPlayIcon(bool pause)
{
    m_btnPlay->setIcon(QIcon(pause ? kPauseIcon : kPlayIcon));
    const QString name = pause ? formText("Pause") : formText("Play");
    m_btnPlay->setToolTip(name);
    m_btnPlay->setAccessibleName(name);
}

QString ControlBar::getProgbarStylesheet(bool indexing)
{
    const QString colour = indexing ? QStringLiteral("red") : QStringLiteral("green");
    return QStringLiteral("QProgressBar {")
        + QStringLiteral("border: none;")
        + QStringLiteral("border-image: none;")
        + QStringLiteral("background: url(':/images/%1_inactive.png') top left repeat-x;").arg(colour)
        + QStringLiteral("}")
        + QStringLiteral("QProgressBar::chunk {")
        + QStringLiteral("background: url(':/images/%1_active.png') top left no-repeat;").arg(colour)
        + QStringLiteral("width: 3px;")
        + QStringLiteral("}");
}

// ---- States ----------------------------------------------------------------

void ControlBar::stateIdle()
{
    m_lblTimeText->setText(tr("Time:"));
    m_progressBar->setStyleSheet(getProgbarStylesheet(false));
}

void ControlBar::stateIndexing()
{
    m_btnStop->setEnabled(true);
    m_btnPlay->setEnabled(false);
    m_btnOpen->setEnabled(false);
    m_bntDecSpeed->setEnabled(false);
    m_btnIncSpeed->setEnabled(false);
    m_btnBackword->setEnabled(false);
    m_btnForward->setEnabled(false);
    m_lblTimeText->setText(tr("Now indexing:"));
    m_progressBar->setStyleSheet(getProgbarStylesheet(true));
}

void ControlBar::statePlaying(bool loaded, int state)
{
    m_btnStop->setEnabled(m_progressBar->value() != 0 || state != 0);
    m_btnPlay->setEnabled(loaded);
    m_btnOpen->setEnabled(true);
    m_bntDecSpeed->setEnabled(loaded);
    m_btnIncSpeed->setEnabled(loaded);
    m_btnBackword->setEnabled(loaded);
    m_btnForward->setEnabled(loaded);
    setPlayIcon(state == 1);
}

void ControlBar::setButtonIconAutoPlay()
{
    setPlayIcon(true);
}

// ---- Texts and values ------------------------------------------------------

void ControlBar::setSessionId(const QString& id)
{
    m_lblSessionID->setText(tr("Session ID:") + QLatin1Char(' ') + id);
}

void ControlBar::setSpeedLabelText(const QString& text)
{
    m_lblSpeed->setText(text);
}

void ControlBar::setProgressbarMaxValue(int max)
{
    m_progressBar->setMaximum(max > 0 ? max : 1);
}

void ControlBar::updateControlbarTiming(const QString& text, int value)
{
    m_lblTime->setText(text);
    // QProgressBar ignores a value outside its range and would keep showing
    // the previous one; a position reported past the header's duration
    // shows as a full bar instead.
    m_progressBar->setValue(std::clamp(value, m_progressBar->minimum(), m_progressBar->maximum()));
}

void ControlBar::setZoomActive(bool on)
{
    m_btnZoom->setIcon(QIcon(on ? QStringLiteral(":/images/btn_zoom_a.png")
                                : QStringLiteral(":/images/btn_zoom.png")));
}

void ControlBar::setFullScreenActive(bool on)
{
    m_btnFullScreen->setIcon(QIcon(on ? QStringLiteral(":/images/btn_fullscreen.png")
                                      : QStringLiteral(":/images/btn_fullscreen_a.png")));
}

// ---- Position clicks -------------------------------------------------------

int ControlBar::positionAt(const QProgressBar* bar, int x)
{
    // A bar one pixel wide (or none) has no span to divide by: it stands for
    // the start.
    const int span = bar->width() - 1;
    const int maximum = bar->maximum();
    int value = 0;
    if (span > 0)
        value = static_cast<int>(maximum * (static_cast<double>(x) / span));
    return std::clamp(value, 0, maximum);
}

bool ControlBar::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_mouseArea && m_mouseArea) {
        if (e->type() == QEvent::MouseMove)
            showForMovement();
        return false;
    }
    if (watched != m_progressBar)
        return false;
    const QEvent::Type type = e->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease
        && type != QEvent::MouseMove)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(e);
    // A press starts a drag (the preview follows the pointer); the seek
    // happens on release, where the pointer then is: a click seeks once.
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_scrubbing = true;
        return true;
    }
    if (type == QEvent::MouseMove)
        return m_scrubbing;
    if (mouse->button() != Qt::LeftButton || !m_scrubbing)
        return false;
    m_scrubbing = false;

    const int x = std::clamp(mouse->position().toPoint().x(), 0,
                             std::max(0, m_progressBar->width() - 1));
    const int value = positionAt(m_progressBar, x);
    if (m_controller) {
        const bool called = QMetaObject::invokeMethod(m_controller, "setPlayerPos", Qt::DirectConnection,
                                                      Q_ARG(unsigned long long, static_cast<unsigned long long>(value)));
        if (!called)
            qWarning("ControlBar: the controller has no invokable setPlayerPos(unsigned long long)");
    }
    return true;
}

// ---- Painting --------------------------------------------------------------

void ControlBar::paintEvent(QPaintEvent* e)
{
    QFrame::paintEvent(e);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, width(), 0);
    gradient.setColorAt(0.0, QColor(255, 255, 255, 0));
    gradient.setColorAt(0.13, QColor(225, 225, 225, 215));
    gradient.setColorAt(0.87, QColor(225, 225, 225, 215));
    gradient.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.fillRect(rect(), gradient);
}

// ---- Fading ----------------------------------------------------------------

void ControlBar::watchMouseOver(QWidget* area)
{
    if (m_mouseArea)
        m_mouseArea->removeEventFilter(this);
    m_mouseArea = area;
    if (area) {
        // Moves without a button pressed arrive only with tracking on.
        area->setMouseTracking(true);
        area->installEventFilter(this);
    }
}

void ControlBar::fadeIn()
{
    m_fadingIn = true;
    if (m_opacity != 1.0 && m_fadeTimerId == -1)
        m_fadeTimerId = startTimer(kFadeTickMs);
}

void ControlBar::showForMovement()
{
    fadeIn();
    // Over the bar it stays; the hover's leave arms the delay.
    if (m_pointerOver)
        m_hideTimer.stop();
    else
        m_hideTimer.start();
}

bool ControlBar::event(QEvent* e)
{
    if (e->type() == QEvent::HoverEnter) {
        m_pointerOver = true;
        m_hideTimer.stop();
        fadeIn();
    } else if (e->type() == QEvent::HoverLeave) {
        m_pointerOver = false;
        m_hideTimer.start();
    }
    return QFrame::event(e);
}

void ControlBar::hideFading()
{
    m_fadingIn = false;
    if (m_opacity != 0.0 && m_fadeTimerId == -1)
        m_fadeTimerId = startTimer(kFadeTickMs);
}

void ControlBar::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != m_fadeTimerId || m_fadeTimerId == -1) {
        QFrame::timerEvent(e);
        return;
    }
    const int duration = m_fadingIn ? m_fadeInMs : m_fadeOutMs;
    const double step = (kFadeTickMs * 1000 / duration) / 1000.0;
    if (m_fadingIn) {
        m_opacity += step;
        if (m_opacity >= 1.0) {
            m_opacity = 1.0;
            killTimer(m_fadeTimerId);
            m_fadeTimerId = -1;
        }
    } else {
        m_opacity -= step;
        if (m_opacity <= 0.0) {
            m_opacity = 0.0;
            killTimer(m_fadeTimerId);
            m_fadeTimerId = -1;
        }
    }
    // A proxy in the scene paints the widget with this opacity too.
    setWindowOpacity(m_opacity);
}
