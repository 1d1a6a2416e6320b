// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class VideoFrame;

// Receiver of what a decoder produces. The decoder calls it on the thread
// that runs the decoder (the player thread, or the index builder's), in
// stream order. It has no virtual destructor: nobody deletes a listener
// through this interface.
class IDecoderListener
{
public:
    // A screen header announced a size different from the previous one.
    virtual void onScreenDimension(int width, int height) = 0;

    // One box was painted. `box` is a 16 x 16 frame owned by the decoder and
    // valid only during the call; (x, y) is the screen position of its top-left
    // pixel and width x height the part of it that lies on the screen. Copy
    // from it with VideoFrame::copy from source (0, 0).
    virtual void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) = 0;

    // End of a decode call whose most recent parameter code asked for it.
    virtual void onDecodePassCompleted() = 0;

    // Never called by the decoder: the player calls it after a whole unit.
    virtual void onDecodeCompleted() = 0;

protected:
    ~IDecoderListener() = default;
};

// A decoder of screen-unit codec data.
class IDecoder
{
public:
    virtual ~IDecoder() = default;

    // Screen header data: screen size and codec parameters.
    virtual void decodeScreen(const unsigned char* data, int length) = 0;
    // Box data: one or more passes over the screen's grid of boxes.
    virtual void decode(const unsigned char* data, int length) = 0;

    // Set directly by the owner (the player points it at the drawing scene,
    // the index builder at itself); may be null.
    IDecoderListener* m_listener = nullptr;
};
