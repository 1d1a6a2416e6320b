// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"
#include "BoxCache.h"
#include "GridFormat.h"
#include "IDecoder.h"
#include "JPEGDecoder.h"
#include "VideoFrame.h"

class ByteReader;

// Decoder of the box-grid screen codec (format and codes: GridFormat.h). For
// every painted box the listener is called with a 16 x 16 frame and the box's
// place on the screen; the decoder owns no screen image (ScreenFrame is the
// listener that keeps one). Kind bytes without a meaning are ignored one byte
// at a time.
//
// Untrusted input: the data comes from recordings and index files that may be
// truncated, corrupt or hostile. The decoder never reads past `length`:
// - a code whose payload is cut off by the end of the data ends the call
//   with no effect of its own; boxes already reported stay reported and the
//   pass-completed step still runs;
// - a JPEG box whose length runs past the end is not decoded (same rule);
// - a JPEG box of length 0 is an empty payload: the two length bytes are
//   consumed and the box is reported with the JPEG output as it stands
//   (the last box the JPEG decoder produced), without calling the JPEG
//   decoder;
// - JPEG output of fewer than 256 pixels fills only that many pixels of the
//   box buffer, the rest keeps its previous content;
// - boxes whose index lies at or past the end of the grid (columns x rows)
//   are not reported: the box index stops growing there, so huge skips and
//   runs can neither overflow the position arithmetic nor make the listener
//   copy thousands of boxes that lie off the screen. Their other effects
//   (palette, cache) still happen;
// - screen headers shorter than 5 bytes change nothing; screens beyond
//   GridFormat's limits are refused (see decodeScreen).
//
// A decoder is used by one thread at a time (the player thread, or the index
// builder's thread with its own decoder); listener calls run on that thread.
class GridDecoder : public IDecoder
{
public:
    static constexpr int kCacheSlots = 20;

    GridDecoder();
    ~GridDecoder() override;

    // Back to the state after construction (the debug switches stay): no
    // screen, black palette, empty cache of 20 slots, JPEG decoder prepared
    // for 16 x 16 boxes at quality 70.
    void reset();

    // Screen header: width (2), height (2), JPEG scale factor (1), a reserved
    // byte (kept, not interpreted; 0 when missing). Resets the palette and
    // re-derives the grid; calls onScreenDimension when the size changed.
    // Fewer than 5 bytes change nothing. A screen beyond
    // GridFormat::screenTooLarge is refused: no
    // onScreenDimension, the screen size and grid become 0 (so box data
    // paints nothing until a valid header arrives) and the JPEG parameters
    // and reserved byte stay as they were. Exceptions of the listener pass
    // through to the caller.
    void decodeScreen(const unsigned char* data, int length) override;

    // Box data. Does nothing at all (no callback) before a screen header, for
    // null data or length <= 0. Exceptions raised inside (allocation, the
    // listener) end the call and are logged, never rethrown; the call still
    // ends with onDecodePassCompleted when the last parameter code asked for
    // it.
    void decode(const unsigned char* data, int length) override;

    // Body of the parameter code: pass flag = data[0] bit 0; returns data + 1.
    // The caller guarantees that one byte is there.
    const unsigned char* decodeParams(const unsigned char* data);

    // Diagnostics, off unless a caller turns them on. Colorization tints every
    // colour read by a with-palette code with its kind's colour and blends
    // JPEG boxes; the outline marks the corners of each box.
    void enableDebugBoxColorization(bool enable);
    bool isEnabledDebugBoxColorization() const { return m_debugColorization; }
    void enableDebugBoxOutline(bool enable) { m_debugOutline = enable; }

    // Palette set to sixteen times opaque black.
    void clearColors();

    // The name of a kind code ("SKIP", "2_COLORS_NOPAL", ...; "PARAMETERS"
    // for 201, "UNKNOWN" for codes without a meaning). Writes nothing.
    static const char* printDebugInfo(unsigned char kind, int x, int y);

    int screenWidth() const { return m_screenWidth; }
    int screenHeight() const { return m_screenHeight; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    bool passFlag() const { return m_passFlag; }
    int reservedHeaderByte() const { return m_reservedHeaderByte; }
    // The JPEG scale factor of the last accepted screen header.
    int jpegScale() const { return m_jpeg.getScaleFactor(); }

    // Off by default. When on, the decoder keeps what a listener needs to
    // learn, for each box it reports, a code that paints exactly its pixels
    // (the index builder writes its key frames from these codes rather than
    // classifying and coding the pixels again, which for a JPEG box would
    // also lose detail): the data of the JPEG box it last decoded, and the
    // colours and bitmap of the palette code being reported. Stays on across
    // reset().
    void setKeepCodes(bool on) { m_keepCodes = on; }
    // Valid only inside onBoxDecoded: for a box a JPEG code paints, the data
    // whose raw decode at jpegDataScale() gives the reported pixels; null for
    // the boxes of every other code, with colourisation on, and when no data
    // was kept for the JPEG output shown (keeping off when it was decoded).
    const Array<unsigned char, int>* reportedJpegData() const
    {
        return m_reportingJpeg ? &m_jpegData : nullptr;
    }
    // Valid only inside onBoxDecoded: for a box a one-colour, run or bitmap
    // code paints, writes into `out` (room for
    // GridFormat::kMaxPaletteCodeBytes) the with-palette code that paints
    // the same pixels on its own, whatever the palette, and returns its
    // length; a NOPAL code gets the palette it painted with. 0, writing
    // nothing, for the boxes of every other code, with keeping off and with
    // either diagnostic on.
    int reportedPaletteCode(unsigned char* out) const;
    // The kind (1..5) of the code reportedPaletteCode writes; 0 when none.
    int reportedPaletteKind() const { return m_codeKind; }
    // On by default. Off, with codes kept and no diagnostic on, the boxes of
    // one-colour, run and bitmap codes are reported without their pixels
    // (the frame handed to the listener holds whatever it held) once a JPEG
    // box has been decoded: for a listener that takes their codes instead,
    // and saves the decoder the work of painting them. Stays as set across
    // reset().
    void setPalettePixels(bool on) { m_palettePixels = on; }
    int jpegDataScale() const { return m_jpegDataScale; }
    unsigned int paletteEntry(int i) const { return m_palette[i & 15]; }
    const BoxCache& cache() const { return m_cache; }

    // The cache hands out frames it owns: one decoder, one cache.
    GridDecoder(const GridDecoder&) = delete;
    GridDecoder& operator=(const GridDecoder&) = delete;

private:
    // Tint groups of the diagnostics.
    enum TintGroup { Tint1Color, Tint2Colors, Tint4Colors, Tint8Colors, Tint16Colors, TintJPEG,
                     TintGroups };

    // The kind decoders read their payload from `in` (positioned after the
    // kind byte) and return false, having changed nothing, when the payload
    // is cut off.
    bool decodeBox1Colors(ByteReader& in, VideoFrame& box, bool withPalette, unsigned char kind);
    bool decodeBox2Colors(ByteReader& in, VideoFrame& box, bool withPalette);
    bool decodeBox4Colors(ByteReader& in, VideoFrame& box, bool withPalette);
    bool decodeBox8Colors(ByteReader& in, VideoFrame& box, bool withPalette);
    bool decodeBox16Colors(ByteReader& in, VideoFrame& box, bool withPalette);
    bool decodeBoxXColorsJPG(ByteReader& in, VideoFrame& box);
    bool decodeBoxXColorsRaw(ByteReader& in, VideoFrame& box);
    // Runs of one colour, with an 8-bit count or (the EXT kinds) a 16-bit one.
    bool decodeBox1ColorMultiple(ByteReader& in, VideoFrame& box, bool withPalette, int& count,
                                 unsigned char kind);

    // The colours (with palette) and the bitmap of a kind with 2^bits
    // colours; returns the bitmap, or null (nothing changed) when cut off.
    const unsigned char* takeBitmap(ByteReader& in, VideoFrame& box, int bits, bool withPalette,
                                    TintGroup tint);
    // The code loop of decode; returns at the end of the data or at a code
    // cut off by it.
    void decodeCodes(ByteReader& in);
    // The pass-completed step that ends every decode call.
    void finishDecode();

    // Reads n colour triples into palette entries 0 .. n-1 (with the tint).
    void readColors(const unsigned char* p, int n, unsigned int tint);
    // Sets the cached box for palette[0], or paints the box buffer when the
    // outline is on.
    void selectSingleColor(VideoFrame& box, unsigned char kind, bool withPalette);
    void markOutline(VideoFrame& box, unsigned int mark, bool withPalette);
    // Reports `count` boxes from `index` on and returns the next index.
    int reportBoxes(VideoFrame* frame, int index, int count);

    bool m_debugColorization = false;
    bool m_debugOutline = false;
    unsigned int m_debugColors[TintGroups];

    unsigned int m_palette[16];
    VideoFrame m_box;
    VideoFrame* m_cachedBox = nullptr;

    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_columns = 0;
    int m_rows = 0;
    bool m_passFlag = false;
    int m_reservedHeaderByte = 0;

    // The JPEG decoder's last output, decoded in place and reported as it
    // is (a JPEG box of length 0 shows it again); valid once a box decoded.
    VideoFrame m_jpegBox;
    bool m_jpegDecoded = false;
    // The data m_jpegBox was decoded from, and its factor, when kept.
    bool m_keepCodes = false;
    bool m_jpegDataValid = false;
    bool m_reportingJpeg = false;
    int m_jpegDataScale = 0;
    Array<unsigned char, int> m_jpegData;
    // The palette code being reported (kind 0: none) and its bitmap, which
    // points into the data of the running decode call.
    unsigned char m_codeKind = 0;
    const unsigned char* m_codeBitmap = nullptr;
    bool m_codeInData = false; // the whole code lies before m_codeBitmap
    bool m_palettePixels = true;
    // Until a JPEG box has been decoded, a JPEG box shows the box buffer as
    // the codes before it left it: palette boxes are painted until then.
    bool skipPalettePixels() const
    {
        return !m_palettePixels && m_keepCodes && m_jpegDecoded && !m_debugColorization
            && !m_debugOutline;
    }
    JPEGDecoder m_jpeg;
    BoxCache m_cache;
};
