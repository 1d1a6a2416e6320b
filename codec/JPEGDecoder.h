// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include <QString>

#include "Array.h"
#include "ByteReader.h"
#include "Exception.h"

// Constant tables of baseline JPEG (ITU-T T.81 Annexes K.1 and K.3), shared
// by JPEGDecoder and JPEGEncoder so that both sides agree by construction.
namespace JpegTables {
extern const uint8_t kNaturalOrder[64];     // natural index of zigzag position i
extern const uint8_t kLumQuant[64];         // natural order
extern const uint8_t kChromQuant[64];
extern const uint8_t kDcLumCounts[16];      // codes of length 1..16
extern const uint8_t kDcLumSymbols[12];
extern const uint8_t kAcLumCounts[16];
extern const uint8_t kAcLumSymbols[162];
extern const uint8_t kDcChromCounts[16];
extern const uint8_t kDcChromSymbols[12];
extern const uint8_t kAcChromCounts[16];
extern const uint8_t kAcChromSymbols[162];
// AAN scale factors cos(k * pi / 16) * sqrt(2), 1 for k = 0.
extern const double kAanFactors[8];
// An entry of a standard quantisation table scaled by the stream's factor
// (in percent, rounded) and held to 1..255: the rule of both raw-mode sides.
inline int scaledQuant(int standard, int scale)
{
    const int q = (standard * scale + 50) / 100;
    return q < 1 ? 1 : (q > 255 ? 255 : q);
}
} // namespace JpegTables

// Baseline sequential JPEG decoder: Huffman decoding, dequantisation,
// floating-point AAN inverse DCT and table-driven YCbCr -> RGB conversion.
//
// Two entry points:
// - decodeRaw(): "raw" mode, used by the grid decoder for its photographic
//   16 x 16 boxes. The data is the bare entropy-coded scan that
//   JPEGEncoder::encodeRaw() writes: no markers or tables; three interleaved
//   components, each MCU one 8 x 8 block of Y, Cb, Cr; the standard tables
//   scaled by the factor given to setDecoderParams(). The trailing EOI marker
//   is not needed.
// - decode(): a complete baseline JFIF 1.01 stream (4:4:4, 4:2:2 as 2x1,
//   1x2 and 4:2:0), with restart intervals. The system itself never uses it.
//
// Output: `out` gets width x height elements, row-major, top row first; each
// element is 0xFFRRGGBB (the alpha byte is always 0xFF, like every other
// colour the codec produces).
//
// Bad input. Neither entry point reads outside [data, data + length) nor
// writes outside its buffers, and neither throws:
// - Header and parameter errors (every JFIF check, image size limits, a raw
//   decode without valid parameters, memory) end the call with `out` left
//   unchanged; lastError() then holds the reason.
// - Corrupt entropy-coded data (no Huffman code matches within 16 bits, a
//   coefficient beyond position 63 or larger than baseline allows, or the data
//   ending before the last block) does not abandon the image: the blocks
//   decoded before the fault are kept, the faulty block and every block after
//   it take the last good DC level of their component with no AC terms (a
//   flat continuation; mid grey when nothing decoded), and `out` is written
//   as usual. imageDamaged() reports it. In JFIF mode a restart marker after
//   the fault resumes normal decoding. This way a damaged screen box shows as
//   much of its own picture as survived, never the pixels of another box.
// - JFIF images are refused before anything is allocated when either side
//   exceeds kMaxDimension, the area exceeds kMaxPixels, or the scan holds
//   fewer bytes than even the densest coding needs for that many MCUs (so a
//   small hostile file cannot make us allocate and fill a huge picture).
//
// After construction raw mode is ready for 16 x 16 boxes at quality 70
// (scale 77), the state the grid decoder's reset asks for. One object is
// created per grid decoder and reused for every box; it is not shared
// between threads.
class JPEGDecoder
{
public:
    SP_DECLARE_EXCEPTION(DecoderException, Exception);

    static constexpr int kMaxDimension = 16384;
    static constexpr long long kMaxPixels = 64LL * 1024 * 1024;

    JPEGDecoder();
    virtual ~JPEGDecoder();
    // The current parameters point into the object's own tables.
    JPEGDecoder(const JPEGDecoder&) = delete;
    JPEGDecoder& operator=(const JPEGDecoder&) = delete;

    // setDecoderParams(255 - quality * 255 / 100, width, height), the result
    // kept to 8 bits: quality 70 gives 77, 100 gives 0.
    void setRawImageFormat(int quality, int width, int height);
    // Prepares raw mode: quantisation tables are the standard ones scaled by
    // `scale` percent (each entry clamped to 1..255). Nothing happens when all
    // three values equal the current ones. Sizes outside 1..kMaxDimension are
    // stored, and every decodeRaw() refuses them until valid ones are set.
    void setDecoderParams(unsigned char scale, int width, int height);
    unsigned char getScaleFactor() const;

    // Never reads past data + length; on any error `out` is left unchanged.
    void decodeRaw(const unsigned char* data, int length, Array<int, int>& out);
    // The same into `out`, which holds `capacity` pixels: refused (false,
    // nothing written) when the raw image does not fit. Every pixel of the
    // image is written, with an alpha of 0xFF.
    bool decodeRaw(const unsigned char* data, int length, int* out, int capacity);
    // A whole JFIF stream. Its tables and sizes are used for this call only;
    // the raw-mode parameters stay as they were.
    void decode(const unsigned char* data, int length, Array<int, int>& out);

    // Text of the error that ended the last decode call; empty when it ended
    // normally.
    QString lastError() const { return m_lastError; }
    // True when the last decode call met corrupt entropy-coded data and
    // concealed it as described above.
    bool imageDamaged() const { return m_damaged; }

    // Test hook: the dequantisation table of raw mode for luminance (0) or
    // chrominance (1), natural order, AAN factors included.
    const float* rawQuantTable(int index) const { return m_rawQuant[index & 1]; }

    // The inverse DCT and the 4:4:4 colour conversion run hand-vectorised
    // (JpegTransforms) when the processor has AVX2, portable code otherwise; both
    // give the same bytes. Turning it off forces the portable code (for tests
    // and benchmarks that compare the two); turning it on where AVX2 is
    // missing changes nothing. vectorised() says which runs.
    void setVectorised(bool on);
    bool vectorised() const { return m_avx2; }

private:
    // Bits of Huffman look-ahead (at most 15: the AC entry keeps the bits it
    // uses in 4 bits).
    static constexpr int kFastBits = 9;

    struct HuffTable
    {
        bool defined = false;
        uint8_t counts[17] = {};        // codes of each length 1..16
        uint8_t symbols[256] = {};      // by code length, then code value
        int firstCode[18] = {};         // per length; lengths without codes
        int lastCode[18] = {};          // have last < first
        int symbolIndex[18] = {};       // index in symbols of firstCode
        uint16_t fast[1 << kFastBits] = {}; // look-ahead: length << 8 | symbol
        // The same look-ahead for a symbol and its value bits together, 0
        // when they do not fit: value * 256 + (run << 4 | bits used). For a
        // DC table the run is 0 and the value the difference (0 for size 0);
        // in an AC table the end of block is the one entry with value 0 and
        // run 0 (zero runs of 16 are left to the slower path).
        int fastValue[1 << kFastBits] = {};
    };

    struct Component
    {
        int id = 0;
        int h = 1, v = 1;               // sampling factors
        int quant = 0;                  // quantisation table number
        int dc = 0, ac = 0;             // Huffman table numbers
    };

    // Everything one scan needs; raw mode and JFIF mode each have one.
    struct Frame
    {
        int width = 0, height = 0;
        int mcuCols = 0, mcuRows = 0;
        int maxH = 1, maxV = 1;         // Y sampling = MCU size in blocks
        int restartInterval = 0;
        Component comp[3];
        const float* quant[3] = {};
        const HuffTable* dc[3] = {};
        const HuffTable* ac[3] = {};
    };

    [[noreturn]] void onError(const char* text);
    void init();

    // False when the table declares more than 256 symbols or more codes of
    // some length than that many bits can hold.
    // `ac` says which kind of fastValue entries to build.
    static bool buildHuffTable(HuffTable& t, const uint8_t* counts, const uint8_t* symbols,
                               bool ac);
    void parseJPEGHeader(const unsigned char* data, int length, int& scanStart);

    void decodeScan(const Frame& f, const unsigned char* data, int length, int* out);
    // Decodes one block into `coef`, which must be all zero, and returns the
    // zigzag position of its last non-zero AC coefficient (0 when it has
    // none). Corrupt data leaves the flat block described above.
    int decodeBlock(const HuffTable& dc, const HuffTable& ac, int& pred, short* coef);
    // The samples of a decoded block (`last` as decodeBlock returned it);
    // clears coef for the next block.
    void idctBlock(short* coef, int last, const float* quant, uint8_t* dst, int stride);
    void storeMcu(const Frame& f, int mcuX, int mcuY, int* out);
    bool restartScan();

    // Bit reader over the scan data in m_in. Stops feeding real bytes at the
    // first marker or at the end of the data and feeds zero bits after it;
    // m_fakeBits counts those so that consuming them is noticed. The hot
    // loop keeps the buffer and its count in locals (`buf`, `count`, the
    // next bit in bit 63) and stores them in m_bitBuf and m_bitCount between
    // blocks. fillBits() leaves at least 56 bits; the bits below the count
    // may hold the next bytes of the data already, or zeros past its end
    // (never anything else).
    void fillBits(uint64_t& buf, int& count);
    void fillBitsSlow();
    int decodeHuffman(const HuffTable& t, uint64_t& buf, int& count);
    static int decodeHuffmanSlow(const HuffTable& t, uint64_t buf);
    int receiveExtend(int s, uint64_t& buf, int& count);

    ByteReader m_in{nullptr, 0};
    uint64_t m_bitBuf = 0;              // next bit is bit 63
    int m_bitCount = 0;
    int m_fakeBits = 0;                 // zero bits appended past the data
    bool m_atMarker = false;
    bool m_corrupt = false;             // in the current restart interval

    // Raw mode.
    unsigned char m_scale = 0;
    bool m_rawQuantReady = false;
    float m_rawQuant[2][64];
    HuffTable m_stdHuff[4];             // DC lum, AC lum, DC chrom, AC chrom
    Frame m_raw;
    bool m_rawValid = false;

    // JFIF mode.
    float m_quant[4][64];
    bool m_quantDefined[4] = {};
    HuffTable m_dcTables[4];
    HuffTable m_acTables[4];
    Frame m_jfif;

    // Per-MCU work area: coefficients, Y planes up to 16 x 16, Cb and Cr 8 x 8;
    // the three blocks of a 4:4:4 MCU for the fused vector path.
    alignas(32) short m_coef[64];
    alignas(32) int16_t m_mcuCoef[3][64];
    alignas(32) uint8_t m_planeY[16 * 16];
    alignas(32) uint8_t m_planeCb[64];
    alignas(32) uint8_t m_planeCr[64];
    int m_pred[3] = {};

    QString m_lastError;
    bool m_damaged = false;
    bool m_avx2 = false;
};
