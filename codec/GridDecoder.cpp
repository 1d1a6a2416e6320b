// SPDX-License-Identifier: GPL-3.0-or-later
#include "GridDecoder.h"

#include "ByteReader.h"
#include "Log.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace GridFormat;

namespace {

// Tints of the colorization diagnostics, by kind group.
constexpr unsigned int kTints[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu,
                                   0xFFFFFF00u, 0xFF00FFFFu, 0xFFE0C0A0u};

// Outline marks: corner pixels of every marked box, and the centre pixels
// that with-palette codes add. (x, y) pairs.
constexpr unsigned char kCornerMarks[][2] = {
    {0, 0},  {1, 0},  {2, 0},   {0, 1},   {0, 2},   {13, 0},  {14, 0},
    {15, 0}, {15, 1}, {15, 2},  {0, 13},  {0, 14},  {0, 15},  {1, 15},
    {2, 15}, {15, 13}, {15, 14}, {13, 15}, {14, 15}, {15, 15}};
constexpr unsigned char kCentreMarks[][2] = {{7, 7}, {9, 7}, {7, 9}, {9, 9}};

} // namespace

GridDecoder::GridDecoder()
{
    reset();
}

GridDecoder::~GridDecoder() = default;

void GridDecoder::reset()
{
    m_box.resize(kBoxSize, kBoxSize);
    m_screenWidth = m_screenHeight = 0;
    m_columns = m_rows = 0;
    m_passFlag = false;
    clearColors();
    enableDebugBoxColorization(m_debugColorization);
    m_jpeg.setRawImageFormat(70, kBoxSize, kBoxSize);
    m_cache.allocate(kCacheSlots);
    m_cachedBox = nullptr;
    m_reservedHeaderByte = 0;
    m_jpegDataValid = false;
}

void GridDecoder::enableDebugBoxColorization(bool enable)
{
    m_debugColorization = enable;
    for (int i = 0; i < TintGroups; ++i)
        m_debugColors[i] = enable ? kTints[i] : kOpaqueBlack;
}

void GridDecoder::clearColors()
{
    std::fill(m_palette, m_palette + kPaletteSize, kOpaqueBlack);
}

const unsigned char* GridDecoder::decodeParams(const unsigned char* data)
{
    m_passFlag = (data[0] & kFlagPassEnd) != 0;
    return data + 1;
}

void GridDecoder::decodeScreen(const unsigned char* data, int length)
{
    ByteReader in(data, length);
    unsigned w = 0, h = 0, scale = 0, reserved = 0;
    if (!in.readU16BE(w) || !in.readU16BE(h) || !in.readU8(scale))
        return;
    in.readU8(reserved); // 0 when the header stops before it
    clearColors();
    const int width = static_cast<int>(w);
    const int height = static_cast<int>(h);
    const int oldWidth = m_screenWidth;
    const int oldHeight = m_screenHeight;

    if (screenTooLarge(width, height)) {
        // Refused: a listener sizes its screen image from this header, so an
        // absurd size must not reach it. Box data paints nothing until a
        // valid header arrives.
        m_screenWidth = m_screenHeight = 0;
        m_columns = m_rows = 0;
        return;
    }

    m_jpeg.setDecoderParams(static_cast<unsigned char>(scale), kBoxSize, kBoxSize);
    m_reservedHeaderByte = static_cast<int>(reserved);
    m_screenWidth = width;
    m_screenHeight = height;
    m_columns = (width + kBoxSize - 1) / kBoxSize;
    m_rows = (height + kBoxSize - 1) / kBoxSize;
    if (m_listener && (width != oldWidth || height != oldHeight))
        m_listener->onScreenDimension(width, height);
}

void GridDecoder::decode(const unsigned char* data, int length)
{
    if (m_columns <= 0 || m_rows <= 0 || !data || length <= 0)
        return;
    try {
        ByteReader in(data, length);
        decodeCodes(in);
    } catch (...) {
        logEvent("Crash in GridDecoder::decode");
    }
    finishDecode();
}

void GridDecoder::decodeCodes(ByteReader& in)
{
    int index = 0;
    unsigned kind = 0;
    while (in.readU8(kind)) {
        m_cachedBox = nullptr;
        int count = 1; // boxes the code reports
        bool complete = true;
        unsigned n = 0;
        switch (kind) {
        case SKIP:
            index = reportBoxes(nullptr, index, 1);
            continue;
        case SKIP_MUL:
            if (!in.readU8(n))
                return;
            index = reportBoxes(nullptr, index, static_cast<int>(n));
            continue;
        case SKIP_MUL_EXT:
            if (!in.readU16BE(n))
                return;
            index = reportBoxes(nullptr, index, static_cast<int>(n));
            continue;
        case RESET:
            index = 0;
            continue;
        case PARAMETERS:
            if (!in.has(1))
                return;
            decodeParams(in.current());
            in.skip(1);
            clearColors();
            continue;
        case COLOR_1:
        case COLOR_1_NOPAL:
            complete = decodeBox1Colors(in, m_box, kind == COLOR_1,
                                        static_cast<unsigned char>(kind));
            break;
        case COLORS_2:
        case COLORS_2_NOPAL:
            complete = decodeBox2Colors(in, m_box, kind == COLORS_2);
            break;
        case COLORS_4:
        case COLORS_4_NOPAL:
            complete = decodeBox4Colors(in, m_box, kind == COLORS_4);
            break;
        case COLORS_8:
        case COLORS_8_NOPAL:
            complete = decodeBox8Colors(in, m_box, kind == COLORS_8);
            break;
        case COLORS_16:
        case COLORS_16_NOPAL:
            complete = decodeBox16Colors(in, m_box, kind == COLORS_16);
            break;
        case JPEG:
            complete = decodeBoxXColorsJPG(in, m_box);
            // Shown untinted, the output is exactly what the kept data
            // decodes to.
            m_reportingJpeg = complete && m_keepCodes && m_jpegDataValid
                && m_cachedBox == &m_jpegBox;
            break;
        case RAW:
            complete = decodeBoxXColorsRaw(in, m_box);
            break;
        case COLOR_MUL:
        case COLOR_MUL_NOPAL:
        case COLOR_MUL_EXT:
        case COLOR_MUL_EXT_NOPAL:
            complete = decodeBox1ColorMultiple(in, m_box,
                                               kind == COLOR_MUL || kind == COLOR_MUL_EXT, count,
                                               static_cast<unsigned char>(kind));
            break;
        default: // UNKNOWN: ignored
            continue;
        }
        if (!complete)
            return;
        // The palette kinds, as their with-palette twins: the pixels are
        // the palette's colours exactly unless a diagnostic changed them.
        if (m_keepCodes && !m_debugColorization && !m_debugOutline) {
            m_codeInData = kind >= COLORS_2 && kind <= COLORS_16;
            if (kind >= COLOR_1 && kind <= COLORS_16)
                m_codeKind = static_cast<unsigned char>(kind);
            else if (kind >= COLOR_1_NOPAL && kind <= COLORS_16_NOPAL)
                m_codeKind = static_cast<unsigned char>(kind - kNoPalette);
            else if (kind >= COLOR_MUL && kind <= COLOR_MUL_EXT_NOPAL)
                m_codeKind = COLOR_1;
        }
        // A run count of 0 or 1 still reports one box.
        try {
            index = reportBoxes(m_cachedBox ? m_cachedBox : &m_box, index, std::max(count, 1));
        } catch (...) {
            m_reportingJpeg = false;
            m_codeKind = 0;
            throw;
        }
        m_reportingJpeg = false;
        m_codeKind = 0;
    }
}

void GridDecoder::finishDecode()
{
    if (!m_listener || !m_passFlag)
        return;
    try {
        m_listener->onDecodePassCompleted();
    } catch (...) {
        logEvent("Crash in GridDecoder::decode");
    }
}

int GridDecoder::reportBoxes(VideoFrame* frame, int index, int count)
{
    const int total = m_columns * m_rows;
    if (count <= 0 || index >= total)
        return index;
    const int end = std::min(index + count, total); // index <= total, count <= 65535
    if (!frame || !m_listener)
        return end;

    const int lastWidth = m_screenWidth % kBoxSize ? m_screenWidth % kBoxSize : kBoxSize;
    const int lastHeight = m_screenHeight % kBoxSize ? m_screenHeight % kBoxSize : kBoxSize;
    int column = index % m_columns;
    int row = index / m_columns;
    for (int i = index; i < end; ++i) {
        const int w = column == m_columns - 1 ? lastWidth : kBoxSize;
        const int h = row == m_rows - 1 ? lastHeight : kBoxSize;
        m_listener->onBoxDecoded(frame, column * kBoxSize, row * kBoxSize, w, h);
        if (++column == m_columns) {
            column = 0;
            ++row;
        }
    }
    return end;
}

void GridDecoder::readColors(const unsigned char* p, int n, unsigned int tint)
{
    for (int i = 0; i < n; ++i, p += 3)
        m_palette[i] = tripleToPixel(p) | tint;
}

void GridDecoder::markOutline(VideoFrame& box, unsigned int mark, bool withPalette)
{
    unsigned int* px = box.pixels();
    for (const auto& m : kCornerMarks)
        px[m[1] * kBoxSize + m[0]] = mark;
    if (withPalette) {
        for (const auto& m : kCentreMarks)
            px[m[1] * kBoxSize + m[0]] = mark;
    }
}

void GridDecoder::selectSingleColor(VideoFrame& box, unsigned char kind, bool withPalette)
{
    const unsigned int color = m_palette[0];
    // The cache is consulted in any case so that its hit counts follow the
    // stream whatever the diagnostics do.
    m_cachedBox = m_cache.lookup(static_cast<int>(color));
    if ((!m_debugOutline && m_cachedBox) || skipPalettePixels())
        return;
    // Outline on (or no cache frame): paint the box buffer and report it.
    m_cachedBox = nullptr;
    box.resize(kBoxSize, kBoxSize);
    box.clear(color);
    if (!m_debugOutline)
        return;
    unsigned int mark = 0x0000FF00u;
    if (kind == COLOR_MUL || kind == COLOR_MUL_NOPAL)
        mark = 0x00A0A0A0u;
    else if (kind == COLOR_MUL_EXT || kind == COLOR_MUL_EXT_NOPAL)
        mark = 0x00D0D0D0u;
    markOutline(box, mark, withPalette);
}

bool GridDecoder::decodeBox1Colors(ByteReader& in, VideoFrame& box, bool withPalette,
                                   unsigned char kind)
{
    if (withPalette) {
        const unsigned char* p = nullptr;
        if (!in.take(3, p))
            return false;
        readColors(p, 1, m_debugColors[Tint1Color]);
    }
    selectSingleColor(box, kind, withPalette);
    return true;
}

// Runs: the colour (with palette), then a count of one byte, or two for the
// EXT kinds.
bool GridDecoder::decodeBox1ColorMultiple(ByteReader& in, VideoFrame& box, bool withPalette,
                                          int& count, unsigned char kind)
{
    const bool ext = kind == COLOR_MUL_EXT || kind == COLOR_MUL_EXT_NOPAL;
    const unsigned char* p = nullptr;
    if (!in.take((withPalette ? 3 : 0) + (ext ? 2 : 1), p))
        return false;
    if (withPalette) {
        readColors(p, 1, m_debugColors[Tint1Color]);
        p += 3;
    }
    count = ext ? (p[0] << 8) | p[1] : p[0];
    selectSingleColor(box, kind, withPalette);
    return true;
}

// The bitmap kinds share one shape: 2^k colours (with palette), then 32 x k
// bytes of k-bit palette indices, written straight into the box buffer.

const unsigned char* GridDecoder::takeBitmap(ByteReader& in, VideoFrame& box, int bits,
                                             bool withPalette, TintGroup tint)
{
    const int colors = 1 << bits;
    const unsigned char* p = nullptr;
    if (!in.take((withPalette ? 3 * colors : 0) + bitmapBytes(bits), p))
        return nullptr;
    if (withPalette) {
        readColors(p, colors, m_debugColors[tint]);
        p += 3 * colors;
    }
    box.resize(kBoxSize, kBoxSize);
    m_codeBitmap = p;
    return p;
}

int GridDecoder::reportedPaletteCode(unsigned char* out) const
{
    if (m_codeKind < COLOR_1 || m_codeKind > COLORS_16)
        return 0;
    const int kind = m_codeKind;
    const int colors = kBitmapColors[kind];
    if (m_codeInData) {
        // A with-palette bitmap code: as it stands in the data.
        std::memcpy(out, m_codeBitmap - 3 * colors - 1, static_cast<size_t>(paletteCodeBytes(kind)));
        return paletteCodeBytes(kind);
    }
    out[0] = static_cast<unsigned char>(kind);
    for (int i = 0; i < colors; ++i)
        pixelToTriple(m_palette[i], out + 1 + 3 * i);
    if (kind > COLOR_1)
        std::memcpy(out + 1 + 3 * colors, m_codeBitmap,
                    static_cast<size_t>(bitmapBytes(kBitmapBits[kind])));
    return paletteCodeBytes(kind);
}

bool GridDecoder::decodeBox2Colors(ByteReader& in, VideoFrame& box, bool withPalette)
{
    const unsigned char* p = takeBitmap(in, box, 1, withPalette, Tint2Colors);
    if (!p)
        return false;
    if (skipPalettePixels())
        return true;
    unsigned int* out = box.pixels();
    // Branch-free select: pixel = c0 ^ (diff & mask of its bit).
    const unsigned int c0 = m_palette[0];
    const unsigned int diff = c0 ^ m_palette[1];
#if defined(__SSE2__)
    const __m128i vc0 = _mm_set1_epi32(static_cast<int>(c0));
    const __m128i vdiff = _mm_set1_epi32(static_cast<int>(diff));
    const __m128i bitsLow = _mm_setr_epi32(1, 2, 4, 8);
    const __m128i bitsHigh = _mm_setr_epi32(16, 32, 64, 128);
    for (int i = 0; i < 32; ++i, out += 8) {
        const __m128i b = _mm_set1_epi32(p[i]);
        const __m128i low = _mm_cmpeq_epi32(_mm_and_si128(b, bitsLow), bitsLow);
        const __m128i high = _mm_cmpeq_epi32(_mm_and_si128(b, bitsHigh), bitsHigh);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_xor_si128(vc0, _mm_and_si128(vdiff, low)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4),
                         _mm_xor_si128(vc0, _mm_and_si128(vdiff, high)));
    }
#else
    for (int i = 0; i < 32; ++i, out += 8) {
        const unsigned b = p[i];
        for (int j = 0; j < 8; ++j)
            out[j] = c0 ^ (diff & (0u - ((b >> j) & 1u)));
    }
#endif
    if (m_debugOutline)
        markOutline(box, 0x0000A0A0u, withPalette);
    return true;
}

bool GridDecoder::decodeBox4Colors(ByteReader& in, VideoFrame& box, bool withPalette)
{
    const unsigned char* p = takeBitmap(in, box, 2, withPalette, Tint4Colors);
    if (!p)
        return false;
    if (skipPalettePixels())
        return true;
    unsigned int* out = box.pixels();
    unsigned int c[4];
    for (int i = 0; i < 4; ++i)
        c[i] = m_palette[kReverse2[i]];
    for (int i = 0; i < 64; ++i) {
        const unsigned b = p[i];
        out[0] = c[b & 3];
        out[1] = c[(b >> 2) & 3];
        out[2] = c[(b >> 4) & 3];
        out[3] = c[b >> 6];
        out += 4;
    }
    if (m_debugOutline)
        markOutline(box, 0x000000D0u, withPalette);
    return true;
}

bool GridDecoder::decodeBox8Colors(ByteReader& in, VideoFrame& box, bool withPalette)
{
    const unsigned char* p = takeBitmap(in, box, 3, withPalette, Tint8Colors);
    if (!p)
        return false;
    if (skipPalettePixels())
        return true;
    unsigned int* out = box.pixels();
    unsigned int c[8];
    for (int i = 0; i < 8; ++i)
        c[i] = m_palette[kReverse3[i]];
    // Three bytes hold eight 3-bit fields exactly.
    for (int i = 0; i < 96; i += 3) {
        const unsigned v = p[i] | (unsigned(p[i + 1]) << 8) | (unsigned(p[i + 2]) << 16);
        for (int j = 0; j < 8; ++j)
            out[j] = c[(v >> (3 * j)) & 7];
        out += 8;
    }
    if (m_debugOutline)
        markOutline(box, 0x00D00000u, withPalette);
    return true;
}

bool GridDecoder::decodeBox16Colors(ByteReader& in, VideoFrame& box, bool withPalette)
{
    const unsigned char* p = takeBitmap(in, box, 4, withPalette, Tint16Colors);
    if (!p)
        return false;
    if (skipPalettePixels())
        return true;
    unsigned int* out = box.pixels();
    unsigned int c[16];
    for (int i = 0; i < 16; ++i)
        c[i] = m_palette[kReverse4[i]];
    for (int i = 0; i < 128; ++i) {
        const unsigned b = p[i];
        out[0] = c[b & 15];
        out[1] = c[b >> 4];
        out += 2;
    }
    if (m_debugOutline)
        markOutline(box, 0x00A000A0u, withPalette);
    return true;
}

bool GridDecoder::decodeBoxXColorsJPG(ByteReader& in, VideoFrame& box)
{
    unsigned length = 0;
    const unsigned char* p = nullptr;
    if (!in.readU16BE(length))
        return false;
    if (!in.take(static_cast<int>(length), p))
        return false;
    // Length 0 carries no data: the JPEG output stays as it is.
    if (length > 0) {
        m_jpegBox.resize(kBoxSize, kBoxSize);
        if (m_jpeg.decodeRaw(p, static_cast<int>(length),
                             reinterpret_cast<int*>(m_jpegBox.pixels()), kBoxPixels)) {
            m_jpegDecoded = true;
            m_jpegDataValid = m_keepCodes;
            if (m_keepCodes) {
                m_jpegData.setCount(0);
                m_jpegData.copy(0, p, static_cast<int>(length));
                m_jpegDataScale = m_jpeg.getScaleFactor();
            }
        }
    }

    box.resize(kBoxSize, kBoxSize);
    if (!m_jpegDecoded)
        return true; // nothing decoded yet: the box buffer is shown as it is
    const unsigned int blend = m_debugColors[TintJPEG];
    if (blend == kOpaqueBlack) {
        // The decoder's pixels are opaque already: reported without a copy.
        m_cachedBox = &m_jpegBox;
        return true;
    }
    unsigned int* out = box.pixels();
    const unsigned int* src = m_jpegBox.pixels();
    const unsigned tr = (blend >> 16) & 0xFF, tg = (blend >> 8) & 0xFF, tb = blend & 0xFF;
    for (int i = 0; i < kBoxPixels; ++i) {
        const unsigned v = src[i];
        const unsigned r = (2 * ((v >> 16) & 0xFF) + tr) / 3;
        const unsigned g = (2 * ((v >> 8) & 0xFF) + tg) / 3;
        const unsigned b = (2 * (v & 0xFF) + tb) / 3;
        out[i] = (r << 16) | (g << 8) | b;
    }
    return true;
}

bool GridDecoder::decodeBoxXColorsRaw(ByteReader& in, VideoFrame& box)
{
    const unsigned char* p = nullptr;
    if (!in.take(kBoxPixels * 3, p))
        return false;
    box.resize(kBoxSize, kBoxSize);
    unsigned int* out = box.pixels();
    for (int i = 0; i < kBoxPixels; ++i, p += 3)
        out[i] = tripleToPixel(p);
    return true;
}

const char* GridDecoder::printDebugInfo(unsigned char kind, int x, int y)
{
    (void)x;
    (void)y;
    switch (kind) {
    case SKIP: return "SKIP";
    case COLOR_1: return "1_COLOR";
    case COLORS_2: return "2_COLORS";
    case COLORS_4: return "4_COLORS";
    case COLORS_8: return "8_COLORS";
    case COLORS_16: return "16_COLORS";
    case JPEG:
    case RAW: return "X_COLORS";
    case SKIP_MUL: return "SKIP_MUL";
    case COLOR_1_NOPAL: return "1_COLORS_NOPAL";
    case COLORS_2_NOPAL: return "2_COLORS_NOPAL";
    case COLORS_4_NOPAL: return "4_COLORS_NOPAL";
    case COLORS_8_NOPAL: return "8_COLORS_NOPAL";
    case COLORS_16_NOPAL: return "16_COLORS_NOPAL";
    case SKIP_MUL_EXT: return "SKIP_MUL_EXT";
    case COLOR_MUL: return "1_COLOR_MUL          ";
    case COLOR_MUL_NOPAL: return "1_COLOR_MUL_NOPAL    ";
    case COLOR_MUL_EXT: return "1_COLOR_MUL_EXT      ";
    case COLOR_MUL_EXT_NOPAL: return "1_COLOR_MUL_EXT_NOPAL";
    case RESET: return "RESET";
    case PARAMETERS: return "PARAMETERS";
    default: return "UNKNOWN";
    }
}
