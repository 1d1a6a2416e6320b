// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "IViewerView.h"

// What the player needs of its view beyond IViewerView: the status texts, the
// two flags it reads or sets, and direct access to the screen frame for key
// frames. Called on the player thread, and on the GUI thread while the
// player is idle (opening a file shows its first screen from there).
class IPlayerView : public IViewerView
{
public:
    // "STOPPED", "The End", "PAUSE" or the empty text.
    virtual void onStatusText(const QString& text) = 0;
    // The next screen dimension is the first of a newly opened recording.
    virtual void setFirstDimension(bool first) = 0;
    // An information text was set since the view's last reset.
    virtual bool isInfoShown() const = 0;
    // Size of the view's screen frame.
    virtual void getImageSize(int& width, int& height) = 0;
    // Sets every pixel of the screen frame to 0 (under the view's frame lock).
    virtual void clearScreen() = 0;
    // Copies width x height raw pixels into the screen frame (under the lock).
    virtual void setScreenPixels(const unsigned int* pixels, int width, int height) = 0;
    // A brief notice shown over the picture for a couple of seconds, apart
    // from the status texts ("Damaged part skipped (0:16–0:21)"); a new one
    // replaces the one shown. Any thread. Views that show no picture ignore
    // it.
    virtual void showMessage(const QString& text) { (void)text; }
};
