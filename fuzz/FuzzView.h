// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The player's view in the engine harnesses: the screen as the player's view
// keeps it, and aborts where the engine hands it something out of bounds.

#include <cstdlib>

#include "IPlayerView.h"
#include "ScreenFrame.h"

class FuzzView : public IPlayerView
{
public:
    // Screens above this are not kept: the decoder accepts up to 64 Mi
    // pixels (its limits are unit-tested), and clearing and copying into
    // such a screen under the fuzzer's instrumentation costs milliseconds
    // per input, which keeps the harness from exploring anything else.
    static constexpr long long kMaxPixels = 256LL * 256;

    void onScreenDimension(int w, int h) override
    {
        if (static_cast<long long>(w) * h <= kMaxPixels)
            screen.onScreenDimension(w, h);
        else
            screen.clear(0);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        if (!box)
            std::abort();
        screen.onBoxDecoded(box, x, y, w, h);
    }
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}
    void reset() override { infoShown = false; }
    void redraw() override {}
    void onConnected() override {}
    void onDisconnected() override {}
    void setPauseText(const QString&) override {}
    void onPause(bool) override { infoShown = true; }
    void onMousePos(int x, int y, unsigned long, bool) override
    {
        if (x < 0 || x > 0xFFFF || y < 0 || y > 0xFFFF)
            std::abort();
    }
    // The record must lie inside the current payload, when one is set.
    void onMouseCursor(unsigned long, unsigned char* data, int length) override
    {
        if (length < 0 || (payloadBegin && length > 0
                           && (data < payloadBegin || data + length > payloadEnd)))
            std::abort();
        for (int i = 0; i < length; ++i)
            checksum += data[i];
    }
    void onPresenterInfo(int, bool) override {}
    void onScreenReset() override {}
    void onDecodeBegin() override {}
    void onStatusText(const QString&) override { infoShown = true; }
    void setFirstDimension(bool) override {}
    bool isInfoShown() const override { return infoShown; }
    void getImageSize(int& w, int& h) override
    {
        w = screen.width();
        h = screen.height();
    }
    void clearScreen() override { screen.clear(0); }
    // Only ever the size the view reported.
    void setScreenPixels(const unsigned int* pixels, int w, int h) override
    {
        if (static_cast<long long>(w) * h > kMaxPixels)
            std::abort();
        screen.setPixels(pixels, w, h);
    }

    ScreenFrame screen;
    bool infoShown = false;
    const unsigned char* payloadBegin = nullptr;
    const unsigned char* payloadEnd = nullptr;
    unsigned checksum = 0;
};
