// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFont>
#include <QGraphicsScene>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

#include "IPlayerView.h"
#include "PointerPainter.h"
#include "VideoFrame.h"

class ControlBar;
class QGraphicsProxyWidget;
class QPainter;
class SessionPlayer;

// The scene the main window shows: the remote screen, the presenter's
// pointer, a centred information text ("PAUSE", "STOPPED", "The End") and an
// on-screen message at the top left that goes after kMessageMs (a brief
// notice such as "Damaged part skipped (0:16–0:21)": light text on a dark
// box, readable on any picture, apart from the information band), all
// painted in drawBackground(), with the control bar floating over them as
// the scene's only item.
//
// Threads. The player drives the scene through IPlayerView on the player
// thread (and on the GUI thread while it opens a recording); painting, the
// geometry functions and everything the window calls run on the GUI thread.
// - m_frame (the scene's copy of the remote screen) and m_hasNewBoxes are
//   guarded by m_frameMutex: the player thread resizes, clears and copies
//   boxes into the frame, the GUI thread turns it into a pixmap.
// - m_infoText, m_message and m_messageUntil are guarded by m_textMutex
//   (written by the player thread's status texts and messages, read by the
//   paint).
// - The flags shared between the threads are atomics; each says who writes it.
// - Nothing the player thread calls touches the scene's items or the window
//   directly: repaint requests, the mouse position (redrawMouse) and the
//   window-geometry step of onScreenDimension are queued to the GUI thread,
//   in the order they were made (frame resize, clear, then geometry). Called
//   on the GUI thread itself, they run at once.
//
// Choices:
// - Leaving the seeking state repaints once when the seek left new boxes in
//   the frame, so a seek that ends paused (no decode pass follows) still
//   shows the screen at its target.
// - A picture updated while zoom was off is rescaled at the first paint
//   with zoom on, also when the zoom came without a new scaled size.
// - Repaint requests from the player thread are coalesced: at most one is
//   waiting in the GUI thread's queue at a time.
class DrawingScene : public QGraphicsScene, public IPlayerView
{
    Q_OBJECT

public:
    // Hot spot of the standard arrow drawn for cursor ids the recording never
    // described.
    static constexpr int kDefaultHotX = 2;
    static constexpr int kDefaultHotY = 2;
    // How long an on-screen message stays.
    static constexpr int kMessageMs = 2000;
    // Its distance from the top-left corner of the visible picture, and the
    // room around its text.
    static constexpr int kMessageMargin = 12;
    static constexpr int kMessagePadding = 8;

    DrawingScene(SessionPlayer* view, QObject* parent);
    ~DrawingScene() override;

    // Stores the bar and embeds it as the scene's only item (GUI thread).
    void setControlBar(ControlBar* controlBar);
    ControlBar* controlBar() const { return m_controlBar; }
    QGraphicsProxyWidget* controlBarProxy() const { return m_controlBarProxy; }

    // IViewerView
    void reset() override;
    void redraw() override;
    void onConnected() override {}
    void onDisconnected() override {}
    void setPauseText(const QString&) override {}
    void onPause(bool paused) override;
    void onMousePos(int x, int y, unsigned long cursorId, bool flag) override;
    void onMouseCursor(unsigned long cursorId, unsigned char* data, int length) override;
    void onPresenterInfo(int, bool) override {}

    // IDecoderListener
    void onScreenDimension(int width, int height) override;
    void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) override;
    void onDecodeBegin() override {}
    void onDecodePassCompleted() override;
    void onDecodeCompleted() override;
    void onScreenReset() override {}

    // IPlayerView
    void onStatusText(const QString& text) override;
    void setFirstDimension(bool first) override { m_firstDimension.store(first); }
    bool isInfoShown() const override { return m_infoShown.load(); }
    void getImageSize(int& width, int& height) override;
    void clearScreen() override;
    void setScreenPixels(const unsigned int* pixels, int width, int height) override;
    void showMessage(const QString& text) override;

    // The on-screen message while it is shown, else empty (any thread).
    QString message() const;

    // Called on the GUI thread at the end of every paint of the picture, with
    // the picture as painted (unscaled): what tests and the A/V measurement
    // time-stamp as "on screen". GUI thread; an empty function removes it.
    void setPaintHook(std::function<void(const QPixmap&)> hook) { m_paintHook = std::move(hook); }

    // Window side (GUI thread).

    // The remote screen as it stands, at its own size, with the pointer
    // drawn unscaled where it is when `withPointer` (no texts, no bar):
    // what Save frame and Copy frame give. Null before the first screen.
    QImage picture(bool withPointer = true);
    // A black picture of the frame's size, the text and cursors cleared: the
    // window without a recording. The player must not be drawing (idle).
    void clearPicture();
    void setStretched(bool stretched) { m_stretched.store(stretched); }
    bool isStretched() const { return m_stretched.load(); }
    void setSeeking(bool seeking);
    bool isSeeking() const { return m_seeking.load(); }
    QString infoText() const;
    QSize stretchedSize() const { return m_stretchedSize; }
    int mouseX() const { return m_mouseX; }
    int mouseY() const { return m_mouseY; }

    // Geometry (GUI thread).
    // Fits r to the picture's aspect ratio, anchored at its top-left corner;
    // false (r unchanged) when zoom is off.
    bool calcDrawRect(QRect& r);
    // The size the screen is scaled to for the window's client size; the
    // next paint rescales. Callers pass 0.
    void calcStretchedBitmapDimensions(int unused);
    // Scales a cursor size for the zoomed picture; unchanged when zoom is off.
    void screen2drawDimension(int& width, int& height);

    // Painting steps (GUI thread); drawBackground calls them in this order.
    void updateImage();
    void drawMouse(QPainter* painter);
    void drawInfoText(QPainter* painter);
    void drawMessage(QPainter* painter);

signals:
    void redrawMouse(int x, int y, int cursorId);

public slots:
    void onRedrawMouse(int x, int y, int cursorId);

protected:
    void drawBackground(QPainter* painter, const QRectF& rect) override;

private:
    // Runs fn on the GUI thread: at once when called there, else queued.
    template <typename Fn>
    void onGuiThread(Fn&& fn);
    // A repaint of the whole scene, from either thread.
    void requestRepaint();
    // The window-geometry step of onScreenDimension (GUI thread).
    void applyScreenDimension(int width, int height);
    void frameSize(int& width, int& height);
    // m_stretchedPixmap = m_pixmap scaled to m_stretchedSize (GUI thread).
    void rescale();

    ControlBar* m_controlBar = nullptr;
    QGraphicsProxyWidget* m_controlBarProxy = nullptr;

    std::mutex m_frameMutex;
    VideoFrame m_frame;                      // guarded by m_frameMutex
    bool m_hasNewBoxes = false;              // guarded by m_frameMutex

    QPixmap m_pixmap;                        // GUI thread
    QPixmap m_stretchedPixmap;               // GUI thread
    mutable std::mutex m_textMutex;
    QString m_infoText;                      // guarded by m_textMutex
    QString m_message;                       // guarded by m_textMutex
    QDeadlineTimer m_messageUntil;           // guarded by m_textMutex
    QFont m_font;
    QFont m_messageFont;
    SessionPlayer* m_sessionPlayer;
    QImage m_defaultCursor;
    // The cursor cache and the pointer's drawing; the cache has its own lock.
    PointerPainter m_pointer;

    std::atomic<bool> m_infoShown{false};       // player thread writes, either reads
    std::atomic<bool> m_firstDimension{true};   // player writes, GUI step reads and clears
    std::atomic<bool> m_imageDirty{false};      // player sets, paint clears
    std::atomic<bool> m_stretched{true};        // window writes, both read
    std::atomic<bool> m_seeking{false};         // window writes, both read
    std::atomic<bool> m_repaintQueued{false};   // a queued repaint is on its way
    bool m_stretchSizeChanged = false;          // GUI thread
    // The pixmap changed while zoom was off, so the scaled one is older than
    // it; rescaled at the first paint with zoom on.
    bool m_stretchedStale = false;              // GUI thread
    int m_mouseX = -1;                          // GUI thread (onRedrawMouse)
    int m_mouseY = -1;
    int m_cursorId = -1;
    std::array<int, 3> m_seekMouse{};           // GUI thread: the last move a seek replayed
    bool m_seekMoved = false;                   // GUI thread
    QSize m_stretchedSize{0, 0};                // GUI thread
    std::function<void(const QPixmap&)> m_paintHook; // GUI thread
};
