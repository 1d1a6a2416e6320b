// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScreenFrame.h"

void ScreenFrame::onScreenDimension(int width, int height)
{
    resize(width, height);
    clear(0);
}

void ScreenFrame::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    if (!box)
        return;
    VideoFrame::copy(pixels(), this->width(), this->height(), box->pixels(), box->width(),
                     box->height(), x, y, width, height, 0, 0);
}
