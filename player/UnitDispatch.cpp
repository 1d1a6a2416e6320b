// SPDX-License-Identifier: GPL-3.0-or-later
#include "UnitDispatch.h"

#include "ByteReader.h"
#include "GridDecoder.h"
#include "IPlayerView.h"

UnitDispatch::ScreenStep UnitDispatch::processScreenUnit(const unsigned char* payload, int length,
                                                         GridDecoder& decoder, IPlayerView* view,
                                                         bool& screenStarted)
{
    if (!payload || length < 1)
        return ScreenStep::Ignored;
    const unsigned char code = payload[0];
    const unsigned char* data = length > 2 ? payload + 2 : nullptr;
    const int dataLength = length > 2 ? length - 2 : 0;

    switch (code) {
    case SCREEN_FULL:
        // Width, height and the JPEG factor are required.
        if (dataLength < 5)
            return ScreenStep::Ignored;
        decoder.decodeScreen(data, dataLength);
        screenStarted = true;
        if (view)
            view->onDecodeCompleted();
        return ScreenStep::Header;
    case SCREEN_UPDATE:
    case SCREEN_UPDATE_2:
        if (screenStarted && dataLength > 0)
            decoder.decode(data, dataLength);
        return ScreenStep::Update;
    case SCREEN_END_RESET:
        if (view && view->isInfoShown())
            view->reset();
        [[fallthrough]];
    case SCREEN_END:
        if (screenStarted && dataLength > 0)
            decoder.decode(data, dataLength);
        if (view) {
            // The decoder has already reported the pass end when its last
            // parameter code asked for it.
            if (!decoder.passFlag())
                view->onDecodePassCompleted();
            view->onDecodeCompleted();
        }
        return ScreenStep::FrameEnd;
    case SCREEN_PAUSE:
        if (view)
            view->onPause(false);
        return ScreenStep::Ignored;
    default:
        return ScreenStep::Ignored;
    }
}

void UnitDispatch::processControlUnit(const unsigned char* payload, int length,
                                      IPlayerView* view)
{
    ByteReader in(payload, length);
    unsigned code = 0;
    if (!view || !in.readU8(code))
        return;

    if (code == CONTROL_MOUSE_POS) {
        unsigned x = 0, y = 0;
        uint32_t id = 0;
        if (in.readU16BE(x) && in.readU16BE(y) && in.readU32BE(id))
            view->onMousePos(static_cast<int>(x), static_cast<int>(y), id, false);
        return;
    }
    if (code != CONTROL_STRINGS)
        return;

    unsigned sub = 0;
    if (!in.readU8(sub) || sub != CONTROL_SUB_CURSOR)
        return;
    // The first string may be empty; after it come non-empty strings up to an
    // empty one. A string without its NUL makes the message too short.
    bool first = true;
    for (;;) {
        int n = 0;
        while (in.has(n + 1) && in.current()[n] != 0)
            ++n;
        if (!in.has(n + 1))
            return;
        in.skip(n + 1);
        if (!first && n == 0)
            break;
        first = false;
    }
    uint32_t id = 0;
    if (!in.readU32BE(id))
        return;
    view->onMouseCursor(id, const_cast<unsigned char*>(in.current()), in.remaining());
}
