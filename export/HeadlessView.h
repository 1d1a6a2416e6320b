// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include "IPlayerView.h"
#include "PointerPainter.h"
#include "ScreenFrame.h"

// A view without a window: the screen as a VideoFrame and the pointer as the
// player's view keeps it (last position, last cursor id, the cursor cache of
// a PointerPainter). sessiontool and the export rebuild screens into it with
// the player's own dispatch and seek functions. One thread.
//
// It behaves as the drawing scene does where that shows in a picture: a new
// screen size resizes and clears the frame, reset() forgets the information
// text and the cached cursors, a mouse position with a cursor id that is not
// cached caches the standard arrow under that id (hot spot (2, 2)). Texts
// ("PAUSE", "STOPPED") are never part of its picture.
class HeadlessView : public IPlayerView
{
public:
    HeadlessView();
    ~HeadlessView() override;

    // IDecoderListener
    void onScreenDimension(int width, int height) override;
    void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) override;
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}

    // IViewerView
    void reset() override;
    void redraw() override {}
    void onConnected() override {}
    void onDisconnected() override {}
    void setPauseText(const QString&) override {}
    void onPause(bool paused) override;
    void onMousePos(int x, int y, unsigned long cursorId, bool flag) override;
    void onMouseCursor(unsigned long cursorId, unsigned char* data, int length) override;
    void onPresenterInfo(int, bool) override {}
    void onScreenReset() override {}
    void onDecodeBegin() override {}

    // IPlayerView
    void onStatusText(const QString& text) override;
    void setFirstDimension(bool) override {}
    bool isInfoShown() const override { return m_infoShown; }
    void getImageSize(int& width, int& height) override;
    void clearScreen() override;
    void setScreenPixels(const unsigned int* pixels, int width, int height) override;

    VideoFrame& frame() { return m_frame; }
    int mouseX() const { return m_mouseX; }
    int mouseY() const { return m_mouseY; }
    unsigned long cursorId() const { return m_cursorId; }
    // Count the changes of the screen (boxes, a new size, a clear, pixels
    // set) and of the pointer (a move, another cursor, a cursor record, a
    // reset): a caller that compares them with earlier values knows whether
    // the picture may have changed.
    quint64 screenChanges() const { return m_screenChanges; }
    quint64 pointerChanges() const { return m_pointerChanges; }

    // A copy of the screen as an RGB32 image (null for an empty screen).
    QImage image() const;
    // Draws the pointer into `image` as the player's view does: the cursor
    // of the last id at the last position, nothing before the first position.
    void drawPointer(QImage& image) const;
    // The part of the picture drawPointer paints, clipped to the screen
    // (empty when it paints nothing there).
    QRect pointerRect() const;

private:
    ScreenFrame m_frame;
    PointerPainter m_pointer;
    bool m_infoShown = false;
    int m_mouseX = -1;
    int m_mouseY = -1;
    unsigned long m_cursorId = 0;
    quint64 m_screenChanges = 0;
    quint64 m_pointerChanges = 0;
};
