// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

#include "Array.h"
#include "GridFormat.h"
#include "IEncoder.h"
#include "JPEGEncoder.h"
#include "VideoFrame.h"

// One 16 x 16 box of the screen, as the grid encoder sees it.
class Box
{
public:
    Box();

    // Scans the pixels in row-major order and sets m_boxType and m_colors:
    // 1 for one colour, 2 for two, 3 for up to four, 4 for up to eight, 5 for
    // up to sixteen; at the seventeenth distinct colour the scan stops with 6
    // (JPEG) and the colour list is not kept. Colours are compared as whole
    // 32-bit values. For types 1 to 5 m_index receives each pixel's position
    // in m_colors. Returns the type. The second form classifies the 256
    // pixels at `pixels` (rows of 16) instead of m_frame's.
    int detectType();
    int detectType(const unsigned int* pixels);

    VideoFrame m_frame;  // the box's pixels, 16 x 16
    int m_boxType = 0;   // 0 unchanged, 1..5 palette kinds, 6 JPEG
    int m_colors[16];    // distinct colours in order of first appearance;
                         // entries past the count hold 0xFF000000
    int m_colorCount = 0;
    unsigned char m_index[256]; // colour of each pixel (types 1 to 5)
    int m_column = 0;
    int m_row = 0;
    int m_left = 0;      // screen rectangle, right and bottom inclusive
    int m_top = 0;
    int m_right = 0;
    int m_bottom = 0;
};

// The encoder's memory of the content last sent, box by box. This is what
// makes the encoder differential.
class ScreenMap
{
public:
    // Takes the size and the grid; every box that already holds pixels is
    // filled with 0. Negative sizes count as 0.
    void setSize(int width, int height);
    void clear();

    // True when `box` differs from the map box at the same grid position;
    // the map box then takes the new pixels. A map box that never held pixels
    // starts as 0xCC000000 everywhere. A box outside the map's grid always
    // counts as changed and is not remembered; an empty map counts every box
    // as changed.
    bool hasDifferences(const Box& box);

    // The same test for a box read straight from a screen image: 16 rows of 16
    // pixels, `stride` pixels apart. When it differs, the pixels are also
    // copied into `box`.
    bool hasDifferences(Box& box, const unsigned int* src, int stride);

    int m_width = 0;
    int m_height = 0;
    Array<Box, int> m_boxes;
    int m_columns = 0;
    int m_rows = 0;
    int m_boxCount = 0;

    // The map box at the grid position of `box`, made 16 x 16 (0xCC000000)
    // if it never held pixels; null outside the grid.
    VideoFrame* mapFrame(const Box& box);
};

// Encoder of screen images into the box data read by GridDecoder. It is
// differential: it remembers every box it sent and writes only boxes that
// changed since (a fresh setScreenDimension makes every non-zero box count as
// changed). Changed boxes are classified by their number of colours and
// written in six passes, one per type (single colours, 2, 4, 8, 16 colour
// bitmaps, then JPEG boxes), each pass starting with a RESET code. Runs of
// equal single-colour boxes and consecutive skips are merged into one code,
// and the decoder's persistent palette is reused where the colours match.
//
// Output: the bytes of the last encode are in m_output (output()); the array
// argument of encode is not written. In chunked mode with an event listener
// the output is handed over in pieces of about the chunk size through
// onEncodeChunk, each piece decodable on its own from box index 0 (on top of
// the previous pieces), the last one through onEncodeCompleted.
//
// Failures never leave encode: an exception while building the box map or
// while writing one box is caught and logged; a box that could not be written
// is skipped over, so the boxes after it still land in their places.
//
// Used by the index builder's thread only; no locking.
class GridEncoder : public IEncoder
{
public:
    static constexpr int kDefaultChunkSize = 20000;

    GridEncoder();
    ~GridEncoder() override;

    GridEncoder(const GridEncoder&) = delete;
    GridEncoder& operator=(const GridEncoder&) = delete;

    int getID() override { return 3; }

    // New screen size: every remembered box is zeroed (so the next encode
    // writes every box that is not all zero) and the update rectangles are
    // dropped. A screen beyond GridFormat's limits (the decoder refuses it
    // too) leaves the map empty: encode then writes nothing.
    void setScreenDimension(int width, int height) override;
    bool checkDimension(int width, int height) override;

    // Encodes the width x height area of `frame` at (x, y) into m_output.
    // Writes nothing, leaving m_output as it was, when no screen size is set,
    // the frame is null or the area is empty or oversized. Pixels of the area
    // that lie outside the frame are not read.
    void encode(VideoFrame* frame, int x, int y, int width, int height,
                Array<unsigned char, int>& out) override;

    bool isFirstPass() override { return m_map.m_boxCount <= 0; }
    void reset() override;

    // Restricts the following encodes to the boxes the rectangles touch
    // (coordinates relative to the encoded area, edges inclusive as in
    // QRect); null means the whole area. The list must outlive its use;
    // setScreenDimension drops it.
    void setUpdates(Array<QRect, int>* updates) { m_updates = updates; }

    // JPEG quality in per cent, 0..100 (other values are clamped). Each
    // encode codes its JPEG boxes with the scale factor
    // GridFormat::jpegScaleForQuality(quality), which getJPEGScaleFactor
    // reports after it.
    void setQuality(int quality);
    int getQuality() const { return m_quality; }
    int getJPEGScaleFactor() const { return m_jpeg.getScaleFactor(); }

    // Reuse of coded boxes between encodes of a whole screen, for a caller
    // that encodes every key frame of one screen afresh (setScreenDimension,
    // then encode of the same area): successive key frames share most of
    // their boxes, and classifying and coding a box is the costly part of an
    // encode. With reuse on, each grid position keeps the type and colours
    // of the pixels it last held, and the bytes they were coded to: a bitmap
    // box in its with-palette form (whether it is written with or without
    // its palette depends on the boxes before it, and is decided anew), a
    // JPEG box as the JPEG coder wrote it for the current factor. A box whose
    // pixels are those of the previous encode is written from the store; the
    // output is byte for byte what a fresh encoder writes (the JPEG coder
    // starts afresh for every box; runs and skips are joined anew). A
    // setScreenDimension of the same size then marks the remembered boxes as
    // zero without overwriting their pixels. The JPEG bytes are dropped when
    // the factor changes, everything when the grid's size changes, when reuse
    // is turned off and by clearBoxStore() (a caller that starts another
    // screen of the same size). Off by default.
    void setBoxReuse(bool on);
    bool boxReuse() const { return m_reuse; }
    void clearBoxStore();
    // Bitmap and JPEG boxes written from the store since reuse was turned on.
    int boxesReused() const { return m_boxesReused; }
    // False when the last encode caught a failure (see the class comment):
    // what it wrote then may leave boxes out, for a caller that needs the
    // whole screen.
    bool lastEncodeWhole() const { return m_failures == 0; }
    // With reuse on: one byte per box of the next encode's area, row-major;
    // non-zero marks a box whose pixels the caller knows to be those it had
    // at the previous encode (of the same area), which is then not compared.
    // A wrong mark writes the box as it was then. Null, a count other than
    // the area's box count, or an update list set makes every box compared.
    // Read by the next encode only; the array must live until then.
    void setUnchangedBoxes(const unsigned char* unchanged, int count)
    {
        m_unchanged = unchanged;
        m_unchangedCount = count;
    }

    // With reuse on: for some boxes of the next encode's area, a code known
    // to paint exactly the box's pixels (the index builder has it from the
    // recording): JPEG data that decodes to them at the factor of the
    // encoder's quality (kind JPEG), the with-palette code of kind 1..5
    // (kind byte, colours, bitmap: GridFormat::paletteCodeBytes), or a RAW
    // code (kind byte and 256 colours), which is written among the JPEG
    // boxes and kept whatever the factor. Such a box is written from that
    // code instead of being classified and coded again, and its pixels are
    // not read: a key frame then shows what the recording showed, not a
    // second JPEG generation of it, and costs no classification. The screen
    // map does not learn the pixels of such a
    // box: it counts as changed at its next comparison, and a caller that
    // vouches for it later (setUnchangedBoxes) must give it again after a
    // change of quality that changes the factor, since its JPEG bytes are
    // then dropped. A code of another length or kind is not used. One entry
    // per box, row-major, null data for the others; a count other than the
    // area's box count is ignored. Read by the next encode only; the data
    // must live until then.
    struct GivenCode
    {
        const unsigned char* data = nullptr;
        int length = 0;
        unsigned char kind = 0; // GridFormat::JPEG, RAW, or 1..5
    };
    void setGivenCodes(const GivenCode* perBox, int count)
    {
        m_given = perBox;
        m_givenCount = count;
    }

    void setChunked(bool chunked) { m_chunked = chunked; }
    bool isChunked() const { return m_chunked; }

    const Array<unsigned char, int>& output() const { return m_output; }

    // The encoded bytes of the last encode.
    Array<unsigned char, int> m_output;

protected:
    static constexpr unsigned char kNoCode = 0xFF;

    // Writers of single codes; they extend the previous code in place where
    // they can (see the .cpp). Protected so that tests can drive them.
    void encodeSkip(int n);
    void encodeBox1ColorExt(const Box& box, bool withPalette);
    void encodeBox1Color(int color, bool withPalette);

    unsigned char m_lastCode = kNoCode;
    int m_lastCodePos = 0; // offset in m_output of the last code's kind byte

private:
    void generateBoxMap(VideoFrame* frame, int x, int y, int width, int height);
    void markUpdates(int columns, int rows);
    void encodeBoxes(int type);
    struct StoredBox;
    // Box i of the box map; its store entry, when valid, has its colours.
    void encodeBox(int i, int type);
    void encodeBitmap(const Box& box, StoredBox* s, const int* colors, int type, bool withPalette);
    void encodeBoxJPEG(const Box& box, StoredBox* s);
    void newSkipCode(int n);

    // Room for n more bytes at the end of m_output (grows geometrically).
    void ensureSpace(int n);
    void put(unsigned char b)
    {
        const int n = m_output.count();
        m_output.setCount(n + 1);
        m_output[n] = b;
    }
    void putColor(int color);

    ScreenMap m_map;
    Array<unsigned char, int> m_jpegOutput;
    Array<Box, int> m_boxMap;
    Array<unsigned char, int> m_types; // m_boxMap's types, for the passes
    int m_boxMapWidth = -1;            // the area the box map's geometry is for
    int m_boxMapHeight = -1;
    bool m_storeByIndex = false;       // m_store[i] is box i's entry
    int m_lastPalette[16];
    JPEGEncoder m_jpeg;
    int m_quality = 90;
    bool m_chunked = false;
    int m_chunkSize = kDefaultChunkSize;
    Array<QRect, int>* m_updates = nullptr;
    Array<unsigned char, int> m_updateMask; // one byte per box of the box map

    // The box store: per grid position of the screen map, the map box's
    // lazy zero and what its pixels were classified and coded as.
    struct StoredBox
    {
        // The map box counts as all zero while its pixels keep the content
        // last seen (a setScreenDimension of the same size with reuse on).
        bool zeroed = false;
        // The map box's pixels are not the box's: it was given as a code.
        bool mapStale = false;
        // A JPEG-pass box given as a RAW code: bytes holds the code.
        bool raw = false;
        // type, colours and bytes describe the box's pixels.
        bool valid = false;
        int type = 0;
        int colors[16];
        int colorCount = 0;
        // Bitmap kinds: the code with its palette; JPEG: the coded data.
        // Empty until the box is written.
        Array<unsigned char, int> bytes;
    };
    // Classifies `box` (pixels at `src`, rows `stride` apart) against the
    // map and the store; returns whether it changed since the map's content.
    bool classifyWithStore(Box& box, const unsigned int* src, int stride, bool knownSame);
    // The box's entry, or null when reuse is off or the box lies outside
    // the grid.
    StoredBox* storeFor(const Box& box)
    {
        if (!m_reuse || m_store.count() != m_map.m_boxCount || box.m_column < 0
            || box.m_column >= m_map.m_columns || box.m_row < 0 || box.m_row >= m_map.m_rows)
            return nullptr;
        return &m_store[box.m_row * m_map.m_columns + box.m_column];
    }
    void resetStore();
    // Writes the lazy zeros into the map, and marks the boxes given as codes
    // as never sent, for an encoder without reuse.
    void materialiseZeroedBoxes();
    static bool usableCode(const GivenCode& code);
    void writeBitmapCode(const Box& box, int type, unsigned char* code);
    bool m_reuse = false;
    int m_boxesReused = 0;
    int m_failures = 0; // caught during the last encode
    Array<StoredBox, int> m_store;
    int m_storeFactor = -1; // factor of the stored JPEG bytes
    Array<unsigned char, int> m_codeScratch;
    const unsigned char* m_unchanged = nullptr;
    int m_unchangedCount = 0;
    const GivenCode* m_given = nullptr;
    int m_givenCount = 0;
};
