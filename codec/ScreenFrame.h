// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "IDecoder.h"
#include "VideoFrame.h"

// A picture of the remote screen that follows a decoder: set it as the
// decoder's listener and every decoded box is painted into it. The index
// builder, sessiontool's headless view, the tests, fuzzers and benchmarks all
// keep their screen this way (the drawing scene does the same under its own
// mutex).
//
// A screen header of a new size resizes the frame and clears it to black (a
// negative size keeps the size and still clears). A box is copied with
// VideoFrame::copy, clipped to the frame, so a box that lies partly or wholly
// outside the frame is cut, never written past it. A null box is ignored.
// Used by the decoder's thread only.
class ScreenFrame : public VideoFrame, public IDecoderListener
{
public:
    void onScreenDimension(int width, int height) override;
    void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) override;
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}
};
