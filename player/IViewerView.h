// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "IDecoder.h"

// The view through which the player drives the picture. The decoder-listener
// operations, the mouse and cursor calls, onPause and reset are made on the
// player thread; an implementation that owns widgets hands the work over to
// the GUI thread itself.
class IViewerView : public IDecoderListener
{
public:
    virtual ~IViewerView() = default;

    virtual void reset() = 0;
    virtual void redraw() = 0;
    virtual void onConnected() = 0;
    virtual void onDisconnected() = 0;
    virtual void setPauseText(const QString& text) = 0;
    virtual void onPause(bool paused) = 0;
    virtual void onMousePos(int x, int y, unsigned long cursorId, bool flag) = 0;
    // `data` holds `length` bytes of a serialised cursor record.
    virtual void onMouseCursor(unsigned long cursorId, unsigned char* data, int length) = 0;
    virtual void onPresenterInfo(int info, bool flag) = 0;
    virtual void onScreenReset() = 0;
    virtual void onDecodeBegin() = 0;
};
