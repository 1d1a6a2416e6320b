// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include "CursorCapturer.h"

class QByteArray;
class QPainter;

// One mouse-pointer image with its hot spot: the pixel of the image that sits
// on the pointer position. A recording carries cursors in a serialised form,
// all numbers big-endian:
//
//   offset 0  1 byte   type (2 = ARGB with alpha; anything else is kept as an
//                      opaque RGB image but never drawn)
//          1  2 bytes  width
//          3  2 bytes  height
//          5  2 bytes  hot spot x
//          7  2 bytes  hot spot y
//          9  2 bytes  L, the number of pixel bytes that follow
//         11  L bytes  pixels, rows top to bottom, each pixel B, G, R, A
//                      (0xAARRGGBB stored little-endian, alpha not
//                      premultiplied)
//
// The image is always 32 bits per pixel: Format_ARGB32 for type 2, else
// Format_RGB32.
//
// A cursor is not thread-safe; the cursor cache (CursorsEngine) serialises
// access to the cursors it holds.
class VtrCursor
{
public:
    // The largest image a serialised record may ask for, in each direction.
    // A record is hostile input; this bounds what reading one allocates.
    static constexpr int MAX_SIZE = 256;
    static constexpr int HEADER_SIZE = 11;
    // L is a 16-bit field: this is the largest pixel payload a record carries.
    static constexpr int MAX_PIXEL_BYTES = 0xFFFF;

    // An empty cursor: sizes and hot spot 0, type 2, null image.
    VtrCursor();
    // Takes a copy of *image (see create()).
    VtrCursor(QImage* image, int hotX, int hotY);
    virtual ~VtrCursor();

    // The capturer points back at its cursor, so a cursor cannot be copied.
    VtrCursor(const VtrCursor&) = delete;
    VtrCursor& operator=(const VtrCursor&) = delete;

    // Copies the image (converted to Format_ARGB32, so that every image has the
    // 32-bit layout that serialize() writes), takes its size and sets the hot
    // spot and type 2. A null pointer makes the cursor empty and returns false;
    // otherwise true.
    bool create(QImage* image, int hotX, int hotY);

    // Sizes and hot spot 0, type 2. The image is kept, but a cleared cursor
    // draws nothing.
    void clear();

    // Reads one serialised record from the `length` bytes at `data` and returns
    // the number of bytes it took: 11 + L, also when L exceeds width x height x 4
    // (the image is filled and the surplus skipped). Pixel bytes short of the
    // image leave the rest of it zero.
    //
    // Returns 0, allocates nothing and leaves the cursor exactly as it was when
    // the record is refused: null data, the 11 header bytes or the L pixel bytes
    // not within `length`, a width or height of 0 or above MAX_SIZE.
    int deserialize(const unsigned char* data, int length);

    // Writes the record of this cursor into `out` (resized to 11 + L with
    // L = width x height x 4) and returns true. When a field does not fit its
    // 16-bit slot (L above MAX_PIXEL_BYTES, that is more than 16,383 pixels,
    // or a hot spot outside 0 .. 65535), no record could carry the cursor:
    // `out` is emptied and the result is false.
    bool serialize(QByteArray& out) const;

    // Draws the image with its hot spot at (x, y), composed source-over. Draws
    // nothing for a null painter, a null image, a cleared cursor or a type
    // other than 2. The painter's composition mode is restored afterwards.
    void draw(QPainter* p, int x, int y) const;

    // Scales the image smoothly to w x h (aspect ratio ignored) and draws it
    // with the hot spot, scaled likewise, at (x, y). Same conditions as draw(),
    // and nothing for a non-positive w or h.
    void stretch(QPainter* p, int x, int y, int w, int h) const;

    // Draws `image` with its top-left corner at (x, y), source-over, if this
    // cursor's type is 2.
    void drawCursor(QPainter& p, int x, int y, const QImage& image) const;

    // Forwarded to the capturer: copy the captured shape `id` into this cursor,
    // and the id of the shape currently on screen.
    bool capture(unsigned int id);
    unsigned int getActiveCursor();

    int width() const { return m_width; }
    int height() const { return m_height; }
    int hotspotX() const { return m_hotspotX; }
    int hotspotY() const { return m_hotspotY; }
    int type() const { return m_type; }
    const QImage& image() const { return m_image; }

private:
    friend class CursorCapturer;

    bool isDrawable() const;

    int m_width;
    int m_height;
    int m_hotspotX;
    int m_hotspotY;
    int m_type;
    QImage m_image;
    CursorCapturer m_capturer;
};
