// SPDX-License-Identifier: GPL-3.0-or-later
#include "DrawingScene.h"

#include <QFontMetrics>
#include <QGraphicsProxyWidget>
#include <QPainter>
#include <QPolygonF>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <new>

#include "ControlBar.h"
#include "Log.h"
#include "SessionPlayer.h"

DrawingScene::DrawingScene(SessionPlayer* view, QObject* parent)
    : QGraphicsScene(parent)
    , m_font(QStringLiteral("Verdana"), 60)
    , m_messageFont(QStringLiteral("Verdana"), 14, QFont::Bold)
    , m_sessionPlayer(view)
    , m_defaultCursor(QStringLiteral(":/images/cursor_pointer.png"), "PNG")
    , m_pointer(m_defaultCursor, kDefaultHotX, kDefaultHotY)
{
    // Mouse moves arrive on the player thread; the automatic connection queues
    // them over to the GUI thread, where the scene lives.
    connect(this, SIGNAL(redrawMouse(int,int,int)), this, SLOT(onRedrawMouse(int,int,int)));
}

DrawingScene::~DrawingScene() = default;

void DrawingScene::setControlBar(ControlBar* controlBar)
{
    m_controlBar = controlBar;
    if (!controlBar)
        return;
    m_controlBarProxy = addWidget(controlBar, Qt::WindowFlags());
    m_controlBarProxy->setVisible(true);
}

template <typename Fn>
void DrawingScene::onGuiThread(Fn&& fn)
{
    if (QThread::currentThread() == thread())
        fn();
    else
        QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::QueuedConnection);
}

void DrawingScene::requestRepaint()
{
    if (QThread::currentThread() == thread()) {
        update();
        return;
    }
    // One queued repaint covers every request made before it runs.
    if (m_repaintQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this]() {
            m_repaintQueued.store(false);
            update();
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// The player's side

void DrawingScene::reset()
{
    {
        std::lock_guard<std::mutex> lock(m_textMutex);
        if (!m_infoText.isEmpty())
            m_infoText.clear();
    }
    m_infoShown.store(false);
    m_pointer.clear();
    redraw();
}

void DrawingScene::redraw()
{
    if (!m_seeking.load())
        requestRepaint();
}

void DrawingScene::onPause(bool)
{
    onStatusText(tr("PAUSE"));
}

void DrawingScene::onStatusText(const QString& text)
{
    {
        std::lock_guard<std::mutex> lock(m_textMutex);
        m_infoText = text;
    }
    m_infoShown.store(true);
    redraw();
}

QString DrawingScene::infoText() const
{
    std::lock_guard<std::mutex> lock(m_textMutex);
    return m_infoText;
}

void DrawingScene::showMessage(const QString& text)
{
    {
        std::lock_guard<std::mutex> lock(m_textMutex);
        m_message = text;
        m_messageUntil = QDeadlineTimer(kMessageMs);
    }
    redraw();
    // The repaint that takes it away again; a newer message's own timer
    // keeps it up.
    onGuiThread([this]() { QTimer::singleShot(kMessageMs + 10, this, [this]() { redraw(); }); });
}

QString DrawingScene::message() const
{
    std::lock_guard<std::mutex> lock(m_textMutex);
    return m_messageUntil.hasExpired() ? QString() : m_message;
}

void DrawingScene::onMousePos(int x, int y, unsigned long cursorId, bool)
{
    m_pointer.onMousePos(cursorId);
    emit redrawMouse(x, y, static_cast<int>(cursorId));
}

void DrawingScene::onMouseCursor(unsigned long cursorId, unsigned char* data, int length)
{
    // The cache refuses a record that does not fit `length`; the id then
    // keeps what it showed before.
    if (!m_pointer.onMouseCursor(cursorId, data, length)) {
        logDebug1("Mouse cursor refused: %1",
                  QString::number(cursorId, 16).toLatin1().constData());
        return;
    }
    logDebug1("Mouse cursor cached: %1",
              QStringLiteral("%1").arg(cursorId, 4, 16, QLatin1Char('0')).toLatin1().constData());
}

void DrawingScene::onScreenDimension(int width, int height)
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        if ((width != m_frame.width() || height != m_frame.height()) && width >= 0
            && height >= 0) {
            try {
                m_frame.resize(width, height);
            } catch (const std::bad_alloc&) {
                logError2("Screen size refused: %1 x %2", QByteArray::number(width).constData(),
                          QByteArray::number(height).constData());
                m_frame.resize(0, 0);
            }
        }
        m_frame.clear(0);
    }
    redraw();
    onGuiThread([this, width, height]() { applyScreenDimension(width, height); });
}

void DrawingScene::applyScreenDimension(int width, int height)
{
    SessionPlayer* window = m_sessionPlayer;
    if (!window)
        return;
    if (!window->isFullScreen()) {
        if (m_firstDimension.exchange(false))
            window->calcFirstScreenDimention(width, height);
        else if (window->isStretched())
            window->calcNotFullscreenStretched();
        else
            window->calcNotFullscreenNotStretched();
    } else if (window->isStretched()) {
        window->calcFullscreenStretched();
    } else {
        window->calcFullscreenNotStretched(width, height);
    }
}

void DrawingScene::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    if (!box)
        return;
    std::lock_guard<std::mutex> lock(m_frameMutex);
    m_hasNewBoxes = true;
    VideoFrame::copy(m_frame.pixels(), m_frame.width(), m_frame.height(), box->pixels(),
                     box->width(), box->height(), x, y, width, height, 0, 0);
}

void DrawingScene::onDecodePassCompleted()
{
    if (m_seeking.load())
        return;
    std::lock_guard<std::mutex> lock(m_frameMutex);
    if (m_hasNewBoxes)
        m_imageDirty.store(true);
}

void DrawingScene::onDecodeCompleted()
{
    if (m_seeking.load())
        return;
    bool fresh;
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        fresh = m_hasNewBoxes;
    }
    if (fresh) {
        m_imageDirty.store(true);
        requestRepaint();
    }
}

void DrawingScene::frameSize(int& width, int& height)
{
    std::lock_guard<std::mutex> lock(m_frameMutex);
    width = m_frame.width();
    height = m_frame.height();
}

void DrawingScene::getImageSize(int& width, int& height)
{
    frameSize(width, height);
}

void DrawingScene::clearScreen()
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        m_frame.clear(0);
        m_hasNewBoxes = true;
    }
    // The cleared screen is shown like decoded boxes are: at once, or when a
    // seek ends. A recording whose first screen decodes to nothing must not
    // go on showing the picture of the one opened before it.
    if (!m_seeking.load()) {
        m_imageDirty.store(true);
        requestRepaint();
    }
}

void DrawingScene::setScreenPixels(const unsigned int* pixels, int width, int height)
{
    std::lock_guard<std::mutex> lock(m_frameMutex);
    m_frame.setPixels(pixels, width, height);
    m_hasNewBoxes = true;
}

// ---------------------------------------------------------------------------
// The window's side

void DrawingScene::clearPicture()
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        m_frame.clear(0);
        m_hasNewBoxes = true;
    }
    m_imageDirty.store(true);
    m_mouseX = m_mouseY = m_cursorId = -1;
    m_seekMoved = false;
    reset();
}

void DrawingScene::setSeeking(bool seeking)
{
    const bool was = m_seeking.exchange(seeking);
    if (seeking && !was)
        m_seekMoved = false;
    if (!was || seeking)
        return;
    if (m_seekMoved) {
        m_mouseX = m_seekMouse[0];
        m_mouseY = m_seekMouse[1];
        m_cursorId = m_seekMouse[2];
        m_seekMoved = false;
    }
    // The boxes a seek decoded were never marked for painting; show them now
    // rather than with the next decode pass, which a seek that ends paused
    // never gets.
    bool fresh;
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        fresh = m_hasNewBoxes;
    }
    if (fresh)
        m_imageDirty.store(true);
    update();
}

void DrawingScene::onRedrawMouse(int x, int y, int cursorId)
{
    // A seek replays the pointer's moves between the key frame and the
    // target; the last one is where the pointer stands when the seek ends.
    // It is kept aside until then, so that a paint during the seek does not
    // show the new pointer over the old picture.
    if (m_seeking.load()) {
        m_seekMouse = {x, y, cursorId};
        m_seekMoved = true;
        return;
    }
    m_mouseX = x;
    m_mouseY = y;
    m_cursorId = cursorId;
    update();
}

// ---------------------------------------------------------------------------
// Geometry

bool DrawingScene::calcDrawRect(QRect& r)
{
    if (!m_stretched.load())
        return false;
    int fw, fh;
    frameSize(fw, fh);
    int w = r.width();
    int h = r.height();
    // Without a picture (0 x 0) or room for one there is no ratio to keep.
    if (fw > 0 && fh > 0 && w > 0 && h > 0) {
        const double aspect = static_cast<double>(fw) / fh;
        const double sx = static_cast<double>(fw) / w;
        const double sy = static_cast<double>(fh) / h;
        if (sx < sy)
            w = static_cast<int>(h * aspect);
        else if (sx > sy)
            h = static_cast<int>(w / aspect);
    }
    r = QRect(0, 0, w, h);
    return true;
}

void DrawingScene::calcStretchedBitmapDimensions(int)
{
    if (!m_sessionPlayer)
        return;
    const int w = m_sessionPlayer->width();
    const int h = m_sessionPlayer->height();
    int fw, fh;
    frameSize(fw, fh);
    if (h == 0 || fh == 0)
        return;
    QSize target(w, h);
    if ((w * 100) / h != (fw * 100) / fh) {
        const double aspect = static_cast<double>(fw) / fh;
        const double sx = w > 0 ? static_cast<double>(fw) / w : HUGE_VAL;
        const double sy = static_cast<double>(fh) / h;
        if (sx > sy)
            target = QSize(w, static_cast<int>(w / aspect + 0.5));
        else
            target = QSize(static_cast<int>(h * aspect + 0.5), h);
    }
    m_stretchedSize = target;
    m_stretchSizeChanged = true;
}

void DrawingScene::screen2drawDimension(int& width, int& height)
{
    if (!m_stretched.load())
        return;
    int fw, fh;
    frameSize(fw, fh);
    if (fw <= 0 || fh <= 0)
        return;
    const QRectF sr = sceneRect();
    // Halves round upward.
    QRect r(0, 0, static_cast<int>(std::floor(sr.width() + 0.5)),
            static_cast<int>(std::floor(sr.height() + 0.5)));
    if (r.width() > 0 && r.height() > 0) {
        const double aspect = static_cast<double>(fw) / fh;
        const double sx = static_cast<double>(fw) / r.width();
        const double sy = static_cast<double>(fh) / r.height();
        if (sx < sy)
            r.setWidth(static_cast<int>(r.height() * aspect));
        else if (sx > sy)
            r.setHeight(static_cast<int>(r.width() / aspect));
    }
    const double s = std::min(static_cast<double>(r.width()) / fw,
                              static_cast<double>(r.height()) / fh);
    width = static_cast<int>(width * s);
    height = static_cast<int>(height * s);
}

// ---------------------------------------------------------------------------
// Painting

void DrawingScene::updateImage()
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        const int w = m_frame.width();
        const int h = m_frame.height();
        if (w > 0 && h > 0) {
            // A view of the frame's pixels, no copy: used only under the lock.
            const QImage image(reinterpret_cast<const uchar*>(m_frame.pixels()), w, h, w * 4,
                               QImage::Format_RGB32);
            if (m_pixmap.size() != QSize(w, h))
                m_pixmap = QPixmap(w, h);
            QPainter painter(&m_pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, image);
        }
        m_hasNewBoxes = false;
    }
    if (m_stretched.load())
        rescale();
    else
        m_stretchedStale = true;
}

void DrawingScene::rescale()
{
    m_stretchedStale = false;
    if (!m_pixmap.isNull() && !m_stretchedSize.isEmpty())
        m_stretchedPixmap = m_pixmap.scaled(m_stretchedSize, Qt::IgnoreAspectRatio,
                                            Qt::SmoothTransformation);
}

void DrawingScene::drawBackground(QPainter* painter, const QRectF& rect)
{
    painter->fillRect(rect, Qt::black);
    if (m_imageDirty.exchange(false)) {
        updateImage();
    } else if (m_stretchSizeChanged || (m_stretchedStale && m_stretched.load())) {
        rescale();
    }
    m_stretchSizeChanged = false;
    painter->drawPixmap(0, 0, m_stretched.load() ? m_stretchedPixmap : m_pixmap);
    drawMouse(painter);
    drawInfoText(painter);
    drawMessage(painter);
    if (m_paintHook)
        m_paintHook(m_pixmap);
}

void DrawingScene::drawMouse(QPainter* painter)
{
    if (m_mouseX < 0 || m_mouseY < 0)
        return;
    const bool stretched = m_stretched.load();
    int x = m_mouseX;
    int y = m_mouseY;
    if (stretched) {
        int fw, fh;
        frameSize(fw, fh);
        if (fw > 0 && fh > 0) {
            const QRectF r = sceneRect();
            const double s = std::min(r.width() / fw, r.height() / fh);
            x = static_cast<int>(static_cast<int>(m_mouseX * s) + r.x());
            y = static_cast<int>(static_cast<int>(m_mouseY * s) + r.y());
        }
    }
    const unsigned long id = static_cast<unsigned long>(static_cast<unsigned int>(m_cursorId));
    if (!stretched) {
        m_pointer.draw(painter, x, y, id);
        return;
    }
    m_pointer.draw(painter, x, y, id, [this](QSize size) {
        int w = size.width();
        int h = size.height();
        screen2drawDimension(w, h);
        return QSize(w, h);
    });
}

QImage DrawingScene::picture(bool withPointer)
{
    QImage image;
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        if (m_frame.isEmpty())
            return QImage();
        image = QImage(reinterpret_cast<const uchar*>(m_frame.pixels()), m_frame.width(),
                       m_frame.height(), m_frame.width() * 4, QImage::Format_RGB32)
                    .copy();
    }
    if (withPointer && m_mouseX >= 0 && m_mouseY >= 0) {
        QPainter painter(&image);
        m_pointer.draw(&painter, m_mouseX, m_mouseY,
                       static_cast<unsigned long>(static_cast<unsigned int>(m_cursorId)));
    }
    return image;
}

void DrawingScene::drawInfoText(QPainter* painter)
{
    const QString text = infoText();
    if (text.isEmpty() || !m_sessionPlayer)
        return;
    const QWidget* viewport = m_sessionPlayer->viewport();
    const QRectF visible =
        m_sessionPlayer->mapToScene(QRect(0, 0, viewport->width(), viewport->height()))
            .boundingRect();
    const QFontMetrics metrics(m_font);
    const int tw = metrics.horizontalAdvance(text);
    const int th = metrics.height();
    const int visibleWidth = static_cast<int>(visible.width());
    const int visibleHeight = static_cast<int>(visible.height());
    const QRect textRect(static_cast<int>(visibleWidth / 2 + visible.x() - tw / 2),
                         static_cast<int>(visibleHeight / 2 + visible.y() - th / 2), tw, th);
    const QRect band(static_cast<int>(visible.x()), textRect.top(), visibleWidth, th);

    painter->save();
    painter->setOpacity(0.7);
    painter->fillRect(band, Qt::white);
    painter->restore();

    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing, true);
    painter->setPen(QColor(132, 2, 4, 255));
    painter->setFont(m_font);
    painter->drawText(textRect, 0, text);
    painter->restore();
}

void DrawingScene::drawMessage(QPainter* painter)
{
    const QString text = message();
    if (text.isEmpty() || !m_sessionPlayer)
        return;
    const QWidget* viewport = m_sessionPlayer->viewport();
    const QRectF visible =
        m_sessionPlayer->mapToScene(QRect(0, 0, viewport->width(), viewport->height()))
            .boundingRect();
    const QFontMetrics metrics(m_messageFont);
    const QRect textRect(static_cast<int>(visible.x()) + kMessageMargin + kMessagePadding,
                         static_cast<int>(visible.y()) + kMessageMargin + kMessagePadding,
                         metrics.horizontalAdvance(text), metrics.height());
    const QRect box = textRect.adjusted(-kMessagePadding, -kMessagePadding, kMessagePadding,
                                        kMessagePadding);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0, 0, 0, 180));
    painter->drawRoundedRect(box, 6, 6);
    painter->setRenderHint(QPainter::TextAntialiasing, true);
    painter->setPen(QColor(255, 255, 255));
    painter->setFont(m_messageFont);
    painter->drawText(textRect, 0, text);
    painter->restore();
}
