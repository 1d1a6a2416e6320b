// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "Array.h"
#include "Exception.h"

// Baseline sequential JPEG encoder with the standard tables, no chroma
// subsampling (each MCU is one 8 x 8 block of Y, Cb and Cr) and a
// floating-point AAN forward DCT.
//
// - encodeRaw(): the grid encoder's photographic 16 x 16 boxes. Writes only
//   the entropy-coded scan, its padding bits and the EOI marker 0xFF 0xD9:
//   exactly what JPEGDecoder::decodeRaw() reads with the same scale factor.
// - encode(): a complete JFIF 1.01 stream (SOI, APP0, an optional COM
//   segment, DQT, SOF0, DHT, SOS, scan, EOI) that any baseline decoder reads.
//
// Input pixels are width x height 32-bit values, row-major, top row first,
// 0x??RRGGBB (the high byte is ignored). Pixels past the right or bottom
// edge of the last blocks repeat the last column or row.
//
// Errors (a null pixel pointer, a size outside 1..65535 or too large to
// buffer, a comment longer than a segment holds, an image whose stream with
// its headers and comment could not fit a buffer of INT_MAX bytes) throw
// EncoderException with the reason as message, before `out` is touched and
// before any pixel is read. The grid encoder catches
// them. One object is reused for every box; it is not shared between threads.
class JPEGEncoder
{
public:
    SP_DECLARE_EXCEPTION(EncoderException, Exception);

    JPEGEncoder();
    virtual ~JPEGEncoder();

    // Quantisation tables = standard tables scaled by s percent, each entry
    // clamped to 1..255 (0 gives all ones). Calling it with the current
    // factor changes nothing. Initial factor: 26.
    void setScaleFactor(unsigned char s);
    unsigned char getScaleFactor() const;

    // Sets the image size used by encodeRaw(pixels, out) and makes sure the
    // internal buffer and the capacity of `out` hold width x height x 3
    // bytes (the contents of `out` stay as they are).
    // The size is 16 x 16 until this or an encode call changes it.
    void prepare(int width, int height, Array<unsigned char, int>& out);
    // `out` is resized to exactly the number of bytes produced.
    void encode(const int* pixels, int width, int height, Array<unsigned char, int>& out,
                const char* comment = nullptr);
    void encodeRaw(const int* pixels, int width, int height, Array<unsigned char, int>& out);
    void encodeRaw(const int* pixels, Array<unsigned char, int>& out);

private:
    struct HuffCode
    {
        uint16_t code[256];
        uint8_t length[256];
    };

    [[noreturn]] void onError(const char* text);
    void setSize(int width, int height);
    // Grows the internal buffer to at least `bytes`; refuses (throws) what an
    // int-indexed buffer cannot hold.
    void reserve(long long bytes);
    void encodeImage(const int* pixels, bool full, const char* comment,
                     Array<unsigned char, int>& out);
    void writeHeaders(const char* comment);
    void loadBlocks(const int* pixels, int bx, int by);
    void encodeBlock(const int8_t* samples, const float* divisors, int& pred,
                     const HuffCode& dc, const HuffCode& ac);

    void putBits(uint32_t bits, int count);
    void flushBits();
    void putByte(uint8_t b) { m_buf[m_writePos++] = b; }
    void putWord(int w)
    {
        putByte(static_cast<uint8_t>(w >> 8));
        putByte(static_cast<uint8_t>(w));
    }

    unsigned char m_scale = 0;
    bool m_tablesBuilt = false;
    uint8_t m_dqt[2][64];               // zigzag order, as written in DQT
    alignas(32) float m_divisors[2][64];// natural order, AAN factors included

    int m_width = 16, m_height = 16;
    int m_paddedWidth = 16, m_paddedHeight = 16;

    HuffCode m_huff[4];                 // DC lum, AC lum, DC chrom, AC chrom

    // Magnitude category and bit pattern of every value -32767..32767,
    // indexed at value + 32767.
    Array<uint8_t, int> m_category;
    Array<uint32_t, int> m_bitPattern;

    // 16.16 fixed-point colour tables, indexed by 8-bit channel value.
    int m_yR[256], m_yG[256], m_yB[256];
    int m_cbR[256], m_cbG[256], m_cbB[256];
    int m_crR[256], m_crG[256], m_crB[256];

    // Bit writer: pending bits are the low m_bitCount bits of m_bitAcc.
    uint64_t m_bitAcc = 0;
    int m_bitCount = 0;

    Array<unsigned char, int> m_buffer;
    unsigned char* m_buf = nullptr;     // m_buffer.data() while encoding
    int m_writePos = 0;

    alignas(32) int8_t m_blockY[64];
    alignas(32) int8_t m_blockCb[64];
    alignas(32) int8_t m_blockCr[64];
    int m_predY = 0, m_predCb = 0, m_predCr = 0;
};
