// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class GridDecoder;
class IPlayerView;

// What the player does with the payload of a screen unit and of a control
// unit. The play loop, the seek's catch-up, the first-screen display, the
// index builder and tools that rebuild a screen (sessiontool, the fuzzers)
// all go through these, so they paint exactly what playback paints: this is
// the one parser of screen messages.
//
// Payloads come from recordings and are untrusted: a message shorter than its
// layout is ignored as a whole (nothing is read beyond `length`). A null view
// is allowed: the decoder still runs, only the view calls are left out.
//
// Called on the thread that owns the decoder (the player thread, or the GUI
// thread while the player is idle and opening a file).
class UnitDispatch
{
public:
    // Screen message codes (byte 0 of a screen unit's payload).
    enum ScreenCode {
        SCREEN_FULL = 0xE9,        // screen header data
        SCREEN_UPDATE = 0xEA,      // box data
        SCREEN_END_RESET = 0xEB,   // end of a frame; resets a view showing a text
        SCREEN_UPDATE_2 = 0xEC,    // box data
        SCREEN_END = 0xED,         // end of a frame
        SCREEN_PAUSE = 0xEE        // the presenter paused
    };
    // Control message codes.
    enum ControlCode { CONTROL_MOUSE_POS = 0x0B, CONTROL_STRINGS = 0x28 };
    enum { CONTROL_SUB_CURSOR = 0xE1 };

    // What a screen unit was, for callers that follow the frames.
    enum class ScreenStep {
        Ignored,  // a pause, an unknown code, a header cut short, an empty payload
        Header,   // 0xE9: a screen header was given to the decoder
        Update,   // 0xEA, 0xEC: part of a frame (box data, if any)
        FrameEnd  // 0xEB, 0xED: the end of a frame
    };

    // Byte 0 is the code, byte 1 is not interpreted, the codec data starts at
    // byte 2. 0xE9 feeds the screen header to decodeScreen and marks the
    // screen as started (a header shorter than its five bytes is ignored);
    // 0xEA/0xEC feed box data to decode once the screen has started; 0xEB
    // resets a view that shows an information text, then ends the frame like
    // 0xED (box data, the pass end unless the decoder reported it already,
    // and onDecodeCompleted).
    static ScreenStep processScreenUnit(const unsigned char* payload, int length,
                                        GridDecoder& decoder, IPlayerView* view,
                                        bool& screenStarted);

    // 0x0B: mouse position (x, y: 16 bits; cursor id: 32 bits; big-endian).
    // 0x28 with sub-code 0xE1: a NUL-terminated first string, then non-empty
    // strings up to an empty one, the cursor id (32 bits) and the serialised
    // cursor running to the end of the payload, handed on with its length.
    // Other codes and sub-codes are ignored.
    static void processControlUnit(const unsigned char* payload, int length, IPlayerView* view);
};
