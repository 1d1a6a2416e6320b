// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"

// A rectangle of 32-bit pixels in memory: row-major, top row first, no
// padding between rows. A pixel is 0xAARRGGBB; the alpha byte is carried but
// nobody interprets it (decoded colours carry 0xFF there). Pixel (x, y) is
// element y * width() + x of pixels().
//
// A frame has no lock: an owner that shares one between threads guards it
// itself (the drawing scene does, with its own mutex).
class VideoFrame
{
public:
    VideoFrame() = default;
    VideoFrame(const VideoFrame& other) = default;
    VideoFrame& operator=(const VideoFrame& other) = default;
    virtual ~VideoFrame();

    // Negative sizes and the current size change nothing (the pixels stay);
    // any other size makes an all-zero frame. The storage never shrinks.
    void resize(int width, int height)
    {
        if (width < 0 || height < 0)
            return;
        if (width == m_width && height == m_height && m_pixels.count() == width * height)
            return;
        const size_t count = takeSize(width, height);
        if (count > 0)
            std::memset(m_pixels.data(), 0, count * sizeof(unsigned int));
    }

    // Sets every pixel to colour; an empty frame stays as it is.
    void clear(unsigned int colour);

    // Takes the size width x height and copies that many pixels from source,
    // row-major. A null source or a negative size changes nothing.
    void setPixels(const unsigned int* source, int width, int height);

    // Copies the width x height rectangle at (srcX, srcY) of the source image
    // to (dstX, dstY) of the destination image, clipped to both images: it
    // never reads outside the source nor writes outside the destination,
    // whatever int values the offsets and sizes hold (null buffers and images
    // without pixels copy nothing).
    static void copy(unsigned int* dst, int dstWidth, int dstHeight, const unsigned int* src,
                     int srcWidth, int srcHeight, int dstX, int dstY, int width, int height,
                     int srcX, int srcY);

    unsigned int* pixels() { return m_pixels.data(); }
    const unsigned int* pixels() const { return m_pixels.data(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isEmpty() const { return m_width <= 0 || m_height <= 0; }

    Array<unsigned int, int>& pixelArray() { return m_pixels; }
    // Work buffer of the in-place scaling and image routines.
    Array<unsigned int, int>& scratch() { return m_scratch; }

private:
    // Takes the size (non-negative) and sets the pixel count to match;
    // returns that count. Throws std::bad_alloc above INT_MAX pixels.
    size_t takeSize(int width, int height)
    {
        const long long count = static_cast<long long>(width) * height;
        if (count > INT_MAX)
            throw std::bad_alloc();
        m_width = width;
        m_height = height;
        m_pixels.setCount(static_cast<int>(count));
        return static_cast<size_t>(count);
    }

    Array<unsigned int, int> m_pixels;
    Array<unsigned int, int> m_scratch;
    int m_width = 0;
    int m_height = 0;

    // ======================================================================
    // Image library: scaling and image processing routines.
    //
    // Nothing on the playback path uses these; they serve tools such as
    // thumbnail and export writers. The static routines work on a raw pixel
    // buffer in the frame's format (0xAARRGGBB, row-major, top row first) and
    // take the buffer, its width and its height first unless noted. The member
    // twins apply the same routine to the frame's own pixels; the ones that
    // change the frame's size build their result in scratch() first.
    //
    // Common rules:
    // - A null buffer or a width or height of 0 or less does nothing, and so
    //   does an image of more than INT_MAX pixels. Routines that allocate
    //   (in-place resizes, rotation, blur) throw std::bad_alloc instead of
    //   letting a size product wrap round to a small allocation.
    // - Destination buffers of the resamplers and converters must hold the
    //   destination size the caller states; nothing else is assumed.
    // - Computed colours carry alpha 0; a routine that copies a source pixel
    //   unchanged keeps its alpha. The drawing routines write the colour given,
    //   alpha included.
    // - Everything drawn is clipped to the image; coordinates may be anything.
    // - No routine keeps shared state except shrinkPixelsQF, whose shared
    //   accumulators sit behind a lock; all may be called from any thread on
    //   buffers that thread owns.
    // ======================================================================
public:
    // ---- Scaling (VideoFrameScaling.cpp, VideoFrameScaleLines.cpp) ----

    // Resamples src into dst, choosing by ratio: equal sizes copy; a wider
    // destination uses bilinear zoom; an exact half (dst = src / 2 in both
    // directions, source at least 2 rows) averages 2 x 2 blocks; a width ratio
    // of 60 % or more uses bilinear zoom; anything smaller area-averages
    // (shrinkPixels).
    static void stretchPixels(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight);
    // Stretches this frame in place (through scratch()) to width x height.
    void stretchPixels(int width, int height);
    // Stretches this frame into dst, which holds width x height pixels.
    void stretchPixels(unsigned int* dst, int width, int height) const;

    // 16.16 fixed-point resampler: nearest sample (the source pixel unchanged)
    // or bilinear interpolation of the four neighbours (alpha 0).
    static void zoom(const unsigned int* src, int srcWidth, int srcHeight, unsigned int* dst,
                     int dstWidth, int dstHeight, bool bilinear);
    // Area averaging: each destination pixel is the mean of the source pixels
    // that the Bresenham walk maps onto it (a single sample is copied
    // unchanged). An axis that grows takes one source sample per pixel.
    static void shrinkPixels(const unsigned int* src, int srcWidth, int srcHeight,
                             unsigned int* dst, int dstWidth, int dstHeight);

    // Halves the frame in both directions by 2 x 2 block averages (alpha 0);
    // a frame narrower or lower than 2 pixels is left alone.
    void shrinkHalf();
    // The same from a width x height src into dst, which holds
    // (width / 2) x (height / 2) pixels; returns height / 2 (0 when nothing
    // was written).
    static int shrinkHalf(unsigned int* dst, const unsigned int* src, int width, int height);
    // Shrinks the frame in place (through scratch()) with shrinkPixelsF.
    void shrinkFast(int width, int height);

    // Nearest neighbour through Bresenham step tables built per call (an axis
    // that grows uses the enlarging walk, one that shrinks the shrinking walk).
    static void shrinkPixelsF(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight);
    // Source pixel (x, y) lands on (x * dw / sw, y * dh / sh), truncated; a
    // pixel landing where this destination row already has one is averaged
    // with it ((a + b) / 2 per channel). Shrinking only: when either axis
    // would grow the routine does nothing, since it would leave holes.
    static void shrinkPixelsM(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight);
    // As shrinkPixelsM with the Bresenham mapping instead of floating point.
    static void shrinkPixelsMediumQ(const unsigned int* src, int srcWidth, int srcHeight,
                                    unsigned int* dst, int dstWidth, int dstHeight);
    // Box filter in floating point: destination pixel d takes the truncated
    // mean of the source pixels whose index lies in
    // [d * f - 1/2, (d + 1) * f - 1/2), f = src / dst, in both directions.
    // Only for shrinking: does nothing when an axis grows or when neither
    // axis shrinks.
    static void shrinkPixelsQ(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight);
    // Same result as shrinkPixelsQ, accumulating rows in one set of arrays
    // kept for the whole program. Callers are serialised on an internal lock,
    // so concurrent use is safe but not parallel.
    static void shrinkPixelsQF(const unsigned int* src, int srcWidth, int srcHeight,
                               unsigned int* dst, int dstWidth, int dstHeight);
    // Nearest neighbour through the enlarging Bresenham tables built per call
    // (an axis that shrinks uses the shrinking walk).
    static void enlargePixels(const unsigned int* src, int srcWidth, int srcHeight,
                              unsigned int* dst, int dstWidth, int dstHeight);

    // Nearest neighbour along one line, stepping by the integer quotient and
    // remainder of srcCount / dstCount.
    static void ScaleLine(unsigned int* dst, const unsigned int* src, int srcCount, int dstCount);
    // ScaleLine per row with the same stepping for rows; a source row used
    // again is copied from the previous destination row.
    static void ScaleRect(unsigned int* dst, const unsigned int* src, int srcWidth, int srcHeight,
                          int dstWidth, int dstHeight);
    // As ScaleLine, but a sample whose position lies half a step or more past
    // its source pixel is the pair average of that pixel and its right
    // neighbour (the last pixel has none and is taken alone). When enlarging,
    // the first dstCount / (2 * srcCount) + 1 samples repeat the first source
    // pixel, which centres the enlarged line.
    static void ScaleLineAvg(const unsigned int* src, int srcCount, unsigned int* dst,
                             int dstCount);
    // ScaleLineAvg per row, averaging two scaled source rows in the same way.
    static void ScaleRectAvg(const unsigned int* src, int srcWidth, int srcHeight,
                             unsigned int* dst, int dstWidth, int dstHeight);

    // ---- Pixels and drawing (VideoFrameDrawing.cpp) ----

    // The pixel, or 0 outside the image.
    static unsigned int getPixel(const unsigned int* buffer, int width, int height, int x, int y);
    static void setPixel(unsigned int* buffer, int width, int height, int x, int y,
                         unsigned int colour);
    // Lines include both end points, in either order.
    static void hLine(unsigned int* buffer, int width, int height, int x1, int x2, int y,
                      unsigned int colour);
    static void vLine(unsigned int* buffer, int width, int height, int x, int y1, int y2,
                      unsigned int colour);
    // One pixel per step along the longer axis; the other coordinate is the
    // exact line rounded to the nearest pixel (halves round away from the
    // first point after sorting), so line(a, b) and line(b, a) set the same
    // pixels. The work is bounded by the image, not by the coordinates.
    static void line(unsigned int* buffer, int width, int height, int x1, int y1, int x2, int y2,
                     unsigned int colour);
    // Outline and filled rectangle with corners (x1, y1) and (x2, y2), both
    // included, in any order.
    static void rectangle(unsigned int* buffer, int width, int height, int x1, int y1, int x2,
                          int y2, unsigned int colour);
    static void bar(unsigned int* buffer, int width, int height, int x1, int y1, int x2, int y2,
                    unsigned int colour);

    // Flood fill of the 4-connected region that has the exact 32-bit colour
    // of the start pixel. Filling a region with its own colour, or from a
    // start outside the image, does nothing.
    static void fill(unsigned int* buffer, int width, int height, int x, int y,
                     unsigned int colour);
    // The scan-line fill behind fill(), with its explicit stack of pending
    // seeds (pixel indices). A seed is pushed only for the first pixel of a
    // run next to a pixel just filled, so at most two seeds exist per pixel
    // of the image and the stack stays below 2 x width x height entries.
    static void scanLineFloodFill(unsigned int* buffer, int width, int height, int x, int y,
                                  unsigned int colour, Array<int, int>& stack);
    static void floodFillPush(Array<int, int>& stack, int index);
    static bool floodFillPop(Array<int, int>& stack, int& index);

    // Circles of radius r about (cx, cy). The bool draws a filled disc
    // instead of the outline. A negative radius draws nothing, radius 0 one
    // pixel. circle() is rasterCircle(): the midpoint walk, an 8-connected
    // outline exactly one pixel thick (the pixels whose distance from the
    // centre rounds, by the midpoint rule, to r). rasterCircle2() walks the
    // same circle with horizontal and vertical steps only, choosing the one
    // nearer to the true circle (outwards on a tie): a 4-connected outline
    // without diagonal gaps. Filled forms span each row between the outline's
    // ends. _circle() plots the eight
    // mirror images of the octant point (x, y), or the spans between them.
    static void circle(unsigned int* buffer, int width, int height, int cx, int cy, int r,
                       unsigned int colour, bool filled);
    static void _circle(unsigned int* buffer, int width, int height, int cx, int cy, int x, int y,
                        unsigned int colour, bool filled);
    static void rasterCircle(unsigned int* buffer, int width, int height, int cx, int cy, int r,
                             unsigned int colour, bool filled);
    static void rasterCircle2(unsigned int* buffer, int width, int height, int cx, int cy, int r,
                              unsigned int colour, bool filled);
    // Axis-parallel ellipse with radii rx, ry (midpoint algorithm, 128-bit
    // decision terms); the bool fills it. Negative radii draw nothing.
    // The circle and ellipse walks stop as soon as the rest of the shape lies
    // beyond the image's sides, so a huge radius about a centre in or near
    // the image costs little; a huge shape whose centre lies far outside
    // still walks the arc up to the image (time grows with that distance).
    static void ellipse(unsigned int* buffer, int width, int height, int cx, int cy, int rx,
                        int ry, unsigned int colour, bool filled);

    unsigned int getPixel(int x, int y) const;
    void setPixel(int x, int y, unsigned int colour);
    void hLine(int x1, int x2, int y, unsigned int colour);
    void vLine(int x, int y1, int y2, unsigned int colour);
    void line(int x1, int y1, int x2, int y2, unsigned int colour);
    void rectangle(int x1, int y1, int x2, int y2, unsigned int colour);
    void bar(int x1, int y1, int x2, int y2, unsigned int colour);
    void fill(int x, int y, unsigned int colour);
    void circle(int cx, int cy, int r, unsigned int colour, bool filled);
    void rasterCircle2(int cx, int cy, int r, unsigned int colour, bool filled);
    void ellipse(int cx, int cy, int rx, int ry, unsigned int colour, bool filled);

    // ---- Orientation (VideoFrameOrientation.cpp) ----

    // Mirrors every row left to right / turns the image upside down.
    static void flipXAxis(unsigned int* buffer, int width, int height);
    static void flipYAxis(unsigned int* buffer, int width, int height);
    // Quarter turns clockwise (rotate90) and anticlockwise (rotate270) of a
    // width x height src into dst, which becomes height x width; src and dst
    // must not overlap. rotate180 reverses the pixel order in place.
    static void rotate90(const unsigned int* src, int width, int height, unsigned int* dst);
    static void rotate180(unsigned int* buffer, int width, int height);
    static void rotate270(const unsigned int* src, int width, int height, unsigned int* dst);
    // Rotates src clockwise by angle degrees into dst, which is resized to the
    // bounding box of the rotated image (calcRotationDestSize). Each
    // destination pixel centre is turned back into the source: smooth takes
    // the bilinear mix of the four nearest pixels (alpha 0), otherwise the
    // nearest pixel is copied; points outside the source get background.
    // Multiples of 90 degrees are exact quarter turns. src may be dst's own
    // pixels. A non-finite angle does nothing.
    static void rotate(const unsigned int* src, int width, int height, VideoFrame& dst,
                       double angle, unsigned int background, bool smooth);
    // Bounding box of a width x height image turned by angle degrees (sizes
    // within 1e-6 of a whole number are taken as that number). Sets 0 x 0 for
    // an empty image or a non-finite angle.
    static void calcRotationDestSize(int width, int height, double angle, int& dstWidth,
                                     int& dstHeight);
    static double max4(double a, double b, double c, double d);

    void flipXAxis();
    void flipYAxis();
    void rotate90();
    void rotate180();
    void rotate270();
    void rotate(double angle, unsigned int background, bool smooth);

    // ---- Colour (VideoFrameColour.cpp) ----

    static void makeGray(unsigned int* buffer, int width, int height);
    static void makeGray4Levels(unsigned int* buffer, int width, int height);
    static void makeGray8Levels(unsigned int* buffer, int width, int height);
    static void makeGray16Levels(unsigned int* buffer, int width, int height);
    static void makeSepia(unsigned int* buffer, int width, int height);
    // The sepia matrix applied to the original red, green and blue of each
    // pixel (every row reads the source channels, not the ones just
    // computed), each result truncated and limited to 255.
    static void makeColorSepia(unsigned int* buffer, int width, int height);
    static void makeLineArt(unsigned int* buffer, int width, int height);
    static void make3bppColor(unsigned int* buffer, int width, int height);
    static void make6bppColor(unsigned int* buffer, int width, int height);
    static void make9bppColor(unsigned int* buffer, int width, int height);
    static void decreaseColors15bit(unsigned int* buffer, int width, int height);
    static void decreaseColors12bit(unsigned int* buffer, int width, int height);
    static void decreaseColors9bit(unsigned int* buffer, int width, int height);
    static void makeBrightness(unsigned int* buffer, int width, int height, int delta);
    // Channel (v - 128) * contrast / 100 + 128: 100 keeps the image, 0 makes
    // it flat grey, larger values stretch.
    static void makeContrast(unsigned int* buffer, int width, int height, int contrast);
    // Gamma above 1 brightens; 0, negative or non-finite values do nothing.
    static void makeGamma(unsigned int* buffer, int width, int height, double gamma);
    // 3 x 3 weighted mean of the inner pixels: centre weight strength, the
    // four side neighbours 2, the four corners 1, divided by strength + 12,
    // computed from the original pixels. The outermost rows and columns stay.
    // A negative strength does nothing.
    static void blur(unsigned int* buffer, int width, int height, int strength);
    // Posterises every channel to `levels` evenly spaced values from 0 to 255
    // (level k is k * 255 / (levels - 1), rounded), each channel going to the
    // nearest one. levels outside 2..256 does nothing; 256 keeps the image.
    static void discretize(unsigned int* buffer, int width, int height, int levels);

    void makeGray();
    void makeGray4Levels();
    void makeGray8Levels();
    void makeGray16Levels();
    void makeSepia();
    void makeColorSepia();
    void makeLineArt();
    void make3bppColor();
    void make6bppColor();
    void make9bppColor();
    void decreaseColors15bit();
    void decreaseColors12bit();
    void decreaseColors9bit();
    void makeBrightness(int delta);
    void makeContrast(int contrast);
    void makeGamma(double gamma);
    void blur(int strength);
    void discretize(int levels);

    // ---- Dithering (VideoFrameDither.cpp) ----

    // 4 x 4 ordered-dither patterns for the 16 grey levels, one table per
    // pixel row y mod 4 (UP, UM, DM, DN for rows 0 to 3), indexed by level
    // and x mod 4; 1 means white.
    static const unsigned char DITHERS_UP[16][4];
    static const unsigned char DITHERS_UM[16][4];
    static const unsigned char DITHERS_DM[16][4];
    static const unsigned char DITHERS_DN[16][4];

    // 0xFFFFFF or 0 for a colour at (x, y): level (R + G + B) / 48.
    static unsigned int ditherPixel(int x, int y, unsigned int colour);
    // 255 or 0 for a grey value (limited to 0..255) at (x, y): level grey / 16.
    static int ditherGrayValue(int x, int y, int grey);
    static void makeDither(unsigned int* buffer, int width, int height);
    static void makeRGBDither(unsigned int* buffer, int width, int height);
    // Floyd-Steinberg to black and white (on the grey (R + G + B) / 3).
    static void makeFSDither(unsigned int* buffer, int width, int height);
    // Floyd-Steinberg per channel to 0 or 255 (threshold 128).
    static void makeFSRGBDither(unsigned int* buffer, int width, int height);
    // Floyd-Steinberg per channel to the four levels 0, 85, 190, 255: the
    // nearest level to the value plus its error (the lower one on a tie).
    static void make6bppFSDither(unsigned int* buffer, int width, int height);
    // Floyd-Steinberg per channel to 0, 36, ..., 216, 255: level value / 36.
    static void make9bppFSDither(unsigned int* buffer, int width, int height);

    void makeDither();
    void makeRGBDither();
    void makeFSDither();
    void makeFSRGBDither();
    void make6bppFSDither();
    void make9bppFSDither();

    // ---- Conversions (VideoFrameConversion.cpp) ----

    static constexpr unsigned int FORMAT_YUY2 = 0x32595559;

    // Imports a bottom-up bitmap of dataLength bytes into out (width x height
    // pixels, top row first): 16 bits 5-6-5 (rows padded to an even pixel
    // count), 24 bits B, G, R (rows padded to 4 bytes), 32 bits copied; 16
    // bits with format FORMAT_YUY2 is YUY2. Returns false, writing nothing,
    // for other depths or when data is shorter than the bitmap.
    static bool setBitmapPixels(const unsigned char* data, int dataLength, int width, int height,
                                int bits, unsigned int format, unsigned int* out);
    // Bytes of a YUY2 image: rows of (width + 1) / 2 pixel pairs, 4 bytes
    // each (an odd last pixel still takes a whole pair). -1 when too large.
    static int yuy2Size(int width, int height);
    // YUY2 (Y0 U Y1 V per pair, rows bottom-up, BT.601 studio range) to the
    // frame format and back. The second pixel of a pair takes the mean chroma
    // of its own pair and the next one (the last pair its own); the encoder
    // gives a pair the mean chroma of its two pixels. Buffers are trusted to
    // hold yuy2Size(width, height) bytes and width x height pixels.
    static void convertYUY2toRGB(const unsigned char* src, int width, int height,
                                 unsigned int* dst);
    static void convertRGBtoYUY2(const unsigned int* src, int width, int height,
                                 unsigned char* dst);
    // Pixels to 3 bytes each, R, G, B (or B, G, R); dst holds width x height x 3.
    static void compactFrame(const unsigned int* src, int width, int height, unsigned char* dst);
    static void compactFrameBGR(const unsigned int* src, int width, int height,
                                unsigned char* dst);
    // 3 bytes R, G, B per pixel back to pixels (alpha 0). Returns false,
    // writing nothing, when src holds fewer than width x height x 3 bytes.
    static bool uncompactFrame(unsigned int* dst, int width, int height, const unsigned char* src,
                               int srcLength);

    // ---- Difference runs (VideoFrameDifferences.cpp) ----
    //
    // A run list is an Array<unsigned int>: for every run its start pixel
    // index, its pixel count, then that many pixels. In bytes a run is the
    // start in 3 bytes and the count in 2 bytes, big-endian, then count x
    // (R, G, B).

    static constexpr int MAX_DIFFERENCE_RUN = 65533;
    // Largest start index the 3-byte field can carry.
    static constexpr int MAX_DIFFERENCE_START = 0xFFFFFF;

    // Collects runs of pixels of frame whose red, green or blue differs from
    // reference by more than tolerance (alpha is not compared). Gaps of one
    // or two pixels are bridged (the run then carries those pixels too); a
    // run holds at most MAX_DIFFERENCE_RUN pixels. runs is replaced.
    static void calcDifferences(const unsigned int* reference, const unsigned int* frame,
                                int width, int height, Array<unsigned int, int>& runs,
                                int tolerance = 7);
    // The same with tolerance 0: every colour change is a difference.
    static void calcDifferencesStrict(const unsigned int* reference, const unsigned int* frame,
                                      int width, int height, Array<unsigned int, int>& runs);
    // Runs to bytes (bytes is replaced). Returns false, leaving bytes empty,
    // when the run list is malformed or a start does not fit in 3 bytes.
    static bool compactDifferences(const Array<unsigned int, int>& runs,
                                   Array<unsigned char, int>& bytes);
    // Bytes to runs for a frame of width x height. Every run is checked: its
    // header and pixels must lie within length, its count must be 1 to
    // 65535 and it must end within the frame. On failure runs is emptied and
    // false returned.
    static bool uncompactDifferences(const unsigned char* data, int length, int width,
                                     int height, Array<unsigned int, int>& runs);
    // Writes the run pixels into the buffer / ORs colour into the pixels the
    // runs cover. The whole list is checked against the image first; a
    // malformed list changes nothing and returns false.
    static bool mergeDifferences(unsigned int* buffer, int width, int height,
                                 const Array<unsigned int, int>& runs);
    static bool lightenDifferences(unsigned int* buffer, int width, int height,
                                   const Array<unsigned int, int>& runs, unsigned int colour);

    // Runs that turn reference into this frame (frames of different sizes
    // give no runs).
    void calcDifferences(const VideoFrame& reference, Array<unsigned int, int>& runs,
                         int tolerance = 7) const;
    bool mergeDifferences(const Array<unsigned int, int>& runs);
    bool lightenDifferences(const Array<unsigned int, int>& runs, unsigned int colour);

    // ---- Bitmap font (VideoFrameFont.cpp) ----
    //
    // Glyphs of 8 x 9 pixels for the characters 32 to 127, each font pixel
    // drawn as a size x size square at (x, y) + (column, row) x size. A glyph
    // advances the pen by 8 x size. Bytes outside 32..127 draw nothing and
    // take no room. A size below 1 draws nothing.

    static constexpr int FONT_WIDTH = 8;
    static constexpr int FONT_HEIGHT = 9;

    // Row bits of a glyph (bit 7 = leftmost column); 0 outside 32..127.
    static unsigned char fontRow(int character, int row);
    static void drawChar(unsigned int* buffer, int width, int height, int x, int y, char c,
                         unsigned int colour, int size = 1);
    static void drawText(unsigned int* buffer, int width, int height, int x, int y,
                         const char* text, unsigned int colour, int size = 1);
    // Draws the text in outlineColour at the eight positions one pixel away,
    // then in colour at (x, y).
    static void drawTextOutline(unsigned int* buffer, int width, int height, int x, int y,
                                const char* text, unsigned int colour, unsigned int outlineColour,
                                int size = 1);
    // Decimal numbers ("%d").
    static void drawNumber(unsigned int* buffer, int width, int height, int x, int y, int number,
                           unsigned int colour, int size = 1);
    static void drawNumberOutline(unsigned int* buffer, int width, int height, int x, int y,
                                  int number, unsigned int colour, unsigned int outlineColour,
                                  int size = 1);
    // One digit 0..9; other values draw nothing.
    static void drawSingleNumber(unsigned int* buffer, int width, int height, int x, int y,
                                 int digit, unsigned int colour, int size = 1);
    // Exactly two digits with a leading zero ("%02d"), as clock fields are
    // shown; values outside 0..99 draw nothing.
    static void drawSingleNumber2(unsigned int* buffer, int width, int height, int x, int y,
                                  int number, unsigned int colour, int size = 1);

    void drawChar(int x, int y, char c, unsigned int colour, int size = 1);
    void drawText(int x, int y, const char* text, unsigned int colour, int size = 1);
    void drawTextOutline(int x, int y, const char* text, unsigned int colour,
                         unsigned int outlineColour, int size = 1);
    void drawNumber(int x, int y, int number, unsigned int colour, int size = 1);
    void drawNumberOutline(int x, int y, int number, unsigned int colour,
                           unsigned int outlineColour, int size = 1);
};
