// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"

class VideoFrame;

// An encoder of screen images into screen-unit codec data.
class IEncoder
{
public:
    // Optional receiver of an encoder's output. No part of the player
    // implements it; it serves callers that stream the output instead of
    // reading it after encode returns. Its only other member is the virtual
    // destructor, which the encoder never calls.
    class IEventListener
    {
    public:
        virtual ~IEventListener() = default;
        // At the start of every encode.
        virtual void onEncodeBegin() = 0;
        // At the end of every encode that wrote output: the whole output (in
        // chunked mode, the last chunk).
        virtual void onEncodeCompleted(const unsigned char* data, int length) = 0;
        // Chunked mode: the output has reached the chunk size.
        virtual void onEncodeChunk(const unsigned char* data, int length) = 0;
    };

    virtual ~IEncoder() = default;

    virtual int getID() { return 0; }
    virtual void setEventListener(IEventListener* listener) { m_eventListener = listener; }
    virtual void setScreenDimension(int width, int height)
    {
        (void)width;
        (void)height;
    }
    virtual bool checkDimension(int width, int height)
    {
        (void)width;
        (void)height;
        return true;
    }
    virtual void encode(VideoFrame* frame, int x, int y, int width, int height,
                        Array<unsigned char, int>& out) = 0;
    virtual bool isFirstPass() { return true; }
    virtual void reset() {}

protected:
    IEventListener* m_eventListener = nullptr;
};
