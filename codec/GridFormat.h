// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The box-grid screen codec, written down once: code numbers, sizes, limits
// and bit tables. GridDecoder and GridEncoder both follow it, and so does
// every other user of the format (the index builder's empty key frame, the
// tools, tests and fuzzers), so that the two directions cannot drift apart.
//
// Screen header data (the payload of a full-screen unit, and the 5-byte
// prefix of every key frame of an index):
//   0  2  screen width, big-endian
//   2  2  screen height, big-endian
//   4  1  JPEG scale factor of the photographic boxes
//   5  1  reserved: kept, not interpreted (0 when missing)
//
// Box data is a sequence of codes: a kind byte, then that kind's payload.
// Multi-byte numbers are big-endian; a colour is three bytes R, G, B. Box
// indices run row-major over the grid of 16 x 16 boxes and start at 0 in
// every decode call. The palette of 16 colours persists between boxes and
// between calls.
namespace GridFormat {

constexpr int kBoxSize = 16;
constexpr int kBoxPixels = kBoxSize * kBoxSize;
constexpr int kPaletteSize = 16;

// Screens beyond these are refused by both directions. A side is only
// limited by the header's 16 bits: sessions recorded from several monitors
// side by side are far wider than one monitor. The total bound keeps a
// hostile header from sizing a huge screen.
constexpr int kMaxScreenSide = 65535;
constexpr long long kMaxScreenPixels = 64LL * 1024 * 1024;

inline bool screenTooLarge(long long width, long long height)
{
    return width > kMaxScreenSide || height > kMaxScreenSide
           || width * height > kMaxScreenPixels;
}

constexpr int kScreenHeaderSize = 5;     // the bytes decodeScreen needs
constexpr int kScreenHeaderFullSize = 6; // with the reserved byte

// The kind codes. A NOPAL kind is its with-palette twin + kNoPalette: it
// carries no colours and paints with the palette as it stands.
enum Code : unsigned char {
    SKIP = 0,                  // one box unchanged
    COLOR_1 = 1,               // colour (3): one-colour box
    COLORS_2 = 2,              // 2 colours (6), bitmap of 1 bit per pixel (32)
    COLORS_4 = 3,              // 4 colours (12), 2 bits per pixel (64)
    COLORS_8 = 4,              // 8 colours (24), 3 bits per pixel (96)
    COLORS_16 = 5,             // 16 colours (48), 4 bits per pixel (128)
    JPEG = 6,                  // length (2), raw JPEG data of the box
    RAW = 7,                   // 256 colours (768), row-major
    SKIP_MUL = 20,             // count (1) boxes unchanged
    COLOR_1_NOPAL = 21,
    COLORS_2_NOPAL = 22,
    COLORS_4_NOPAL = 23,
    COLORS_8_NOPAL = 24,
    COLORS_16_NOPAL = 25,
    SKIP_MUL_EXT = 40,         // count (2) boxes unchanged
    COLOR_MUL = 41,            // colour (3), count (1): run of one colour
    COLOR_MUL_NOPAL = 42,      // count (1): run of palette entry 0
    COLOR_MUL_EXT = 43,        // colour (3), count (2)
    COLOR_MUL_EXT_NOPAL = 44,  // count (2)
    RESET = 200,               // box index back to 0: another pass
    PARAMETERS = 201,          // flags (1); resets the palette
};

constexpr unsigned char kNoPalette = 20;

// PARAMETERS flag: report the end of the decode call to the listener
// (onDecodePassCompleted). Set only in the encoder's chunked mode.
constexpr unsigned char kFlagPassEnd = 0x01;

// The colour every palette entry holds after a reset, a screen header and a
// PARAMETERS code.
constexpr unsigned int kOpaqueBlack = 0xFF000000u;

// Colours of the bitmap kinds 2..5 (and 22..25) and their bits per pixel
// (log2 of the colours). Index: the kind code.
constexpr int kBitmapColors[6] = {0, 1, 2, 4, 8, 16};
constexpr int kBitmapBits[6] = {0, 0, 1, 2, 3, 4};
// Bitmap size in bytes: 256 pixels of k bits.
constexpr int bitmapBytes(int bits) { return kBoxPixels * bits / 8; }

// Length of the with-palette code of kind 1..5 (COLOR_1, COLORS_2 ..
// COLORS_16), its kind byte included: the colours, then the bitmap.
constexpr int paletteCodeBytes(int kind)
{
    return 1 + 3 * kBitmapColors[kind] + bitmapBytes(kBitmapBits[kind]);
}
constexpr int kMaxPaletteCodeBytes = 177; // COLORS_16
static_assert(paletteCodeBytes(COLORS_16) == kMaxPaletteCodeBytes, "");
// Length of a RAW code, its kind byte included.
constexpr int kRawCodeBytes = 1 + 3 * kBoxPixels;

// Bitmap bit order: the pixels' fields follow each other from bit 0 of the
// first byte upwards, and the first bit of a field is the most significant
// bit of the palette index. A k-bit field taken out of the stream therefore
// holds its index bit-reversed; these tables reverse it (either way).
constexpr unsigned char kReverse2[4] = {0, 2, 1, 3};
constexpr unsigned char kReverse3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
constexpr unsigned char kReverse4[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

// The JPEG scale factor that a quality in per cent (0..100) stands for, as
// both the encoder and the decoder's setRawImageFormat compute it: 90 gives
// 26, 70 gives 77, 100 gives 0. Factors no quality produces exist (1, 2, 4,
// ...); streams may still carry them.
constexpr int jpegScaleForQuality(int quality)
{
    return 255 - quality * 255 / 100;
}

inline unsigned int tripleToPixel(const unsigned char* p)
{
    return kOpaqueBlack | (unsigned(p[0]) << 16) | (unsigned(p[1]) << 8) | p[2];
}

inline void pixelToTriple(unsigned int colour, unsigned char* p)
{
    p[0] = static_cast<unsigned char>(colour >> 16);
    p[1] = static_cast<unsigned char>(colour >> 8);
    p[2] = static_cast<unsigned char>(colour);
}

// Screen header data: bytes 0..4 into `out`.
inline void writeScreenHeader(int width, int height, int jpegScale,
                              unsigned char out[kScreenHeaderSize])
{
    out[0] = static_cast<unsigned char>((width >> 8) & 0xFF);
    out[1] = static_cast<unsigned char>(width & 0xFF);
    out[2] = static_cast<unsigned char>((height >> 8) & 0xFF);
    out[3] = static_cast<unsigned char>(height & 0xFF);
    out[4] = static_cast<unsigned char>(jpegScale & 0xFF);
}

} // namespace GridFormat
