// SPDX-License-Identifier: GPL-3.0-or-later
#include "JPEGDecoder.h"

#include <cstring>
#include <new>

#include "ByteReader.h"
#include "GridFormat.h"
#include "JpegTransforms.h"

static const QString excDecoderSender = QString::fromLatin1("DecoderException");

SP_DEFINE_EXCEPTION(JPEGDecoder::DecoderException, DecoderException, excDecoderSender)

namespace JpegTables {

const uint8_t kNaturalOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const uint8_t kLumQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,
    12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,
    14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,
    24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101,
    72, 92, 95, 98, 112, 100, 103, 99,
};

const uint8_t kChromQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,
    18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99,
    47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
};

const uint8_t kDcLumCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kDcLumSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kDcChromCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t kDcChromSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t kAcLumCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t kAcLumSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51,
    0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1,
    0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18,
    0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
    0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57,
    0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92,
    0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8,
    0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2,
    0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

const uint8_t kAcChromCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t kAcChromSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07,
    0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09,
    0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25,
    0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38,
    0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56,
    0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74,
    0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6,
    0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2,
    0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

const double kAanFactors[8] = {1.0,       1.387039845, 1.306562965, 1.175875602,
                               1.0,       0.785694958, 0.5411961,   0.275899379};

} // namespace JpegTables

using namespace JpegTables;

namespace {

// Baseline 8-bit JPEG never needs more: DC differences fit 11 bits, AC
// values 10. Larger sizes only come from corrupt or hostile data.
constexpr int kMaxDcSize = 11;
constexpr int kMaxAcSize = 10;

inline void storeQuant(float* dst, int natural, double q)
{
    dst[natural] = static_cast<float>(q * kAanFactors[natural >> 3] * kAanFactors[natural & 7]);
}

} // namespace

JPEGDecoder::JPEGDecoder()
{
    init();
    m_avx2 = JpegTransforms::avx2Supported();
}

void JPEGDecoder::setVectorised(bool on)
{
    m_avx2 = on && JpegTransforms::avx2Supported();
}

JPEGDecoder::~JPEGDecoder() = default;

void JPEGDecoder::init()
{
    // The colour and range-limit tables are the program's
    // (JpegTransforms::colourTables), built on first use.
    std::memset(m_quant, 0, sizeof(m_quant));
    std::memset(m_rawQuant, 0, sizeof(m_rawQuant));
    // decodeBlock() writes into all-zero coefficients; the transforms clear
    // what they read.
    std::memset(m_coef, 0, sizeof(m_coef));
    std::memset(m_mcuCoef, 0, sizeof(m_mcuCoef));

    buildHuffTable(m_stdHuff[0], kDcLumCounts, kDcLumSymbols, false);
    buildHuffTable(m_stdHuff[1], kAcLumCounts, kAcLumSymbols, true);
    buildHuffTable(m_stdHuff[2], kDcChromCounts, kDcChromSymbols, false);
    buildHuffTable(m_stdHuff[3], kAcChromCounts, kAcChromSymbols, true);

    // Ready for the grid decoder's boxes until it says otherwise.
    setRawImageFormat(70, 16, 16);
}

void JPEGDecoder::onError(const char* text)
{
    m_lastError = QString::fromLatin1(text);
    DecoderException e;
    e.setErrorMessage(m_lastError);
    throw e;
}

bool JPEGDecoder::buildHuffTable(HuffTable& t, const uint8_t* counts, const uint8_t* symbols,
                                 bool ac)
{
    int total = 0;
    for (int l = 0; l < 16; ++l)
        total += counts[l];
    if (total > 256)
        return false;

    t = HuffTable();
    std::memcpy(t.counts + 1, counts, 16);
    std::memcpy(t.symbols, symbols, static_cast<size_t>(total));

    // Canonical codes: consecutive within a length, doubled between lengths.
    // The codes of one length must fit in that many bits.
    int code = 0;
    int index = 0;
    for (int l = 1; l <= 16; ++l) {
        const int n = t.counts[l];
        t.symbolIndex[l] = index;
        t.firstCode[l] = code;
        t.lastCode[l] = code + n - 1;    // < firstCode when n == 0
        if (n > 0 && code + n > (1 << l))
            return false;
        for (int i = 0; i < n && l <= kFastBits; ++i) {
            const int shift = kFastBits - l;
            const int base = (code + i) << shift;
            const uint16_t entry = static_cast<uint16_t>(l << 8 | t.symbols[index + i]);
            for (int j = 0; j < (1 << shift); ++j)
                t.fast[base + j] = entry;
        }
        code = (code + n) << 1;
        index += n;
    }
    // Symbols whose value bits fit in the look-ahead too: decoded whole.
    for (int i = 0; i < (1 << kFastBits); ++i) {
        const int length = t.fast[i] >> 8;
        const int symbol = t.fast[i] & 0xFF;
        const int run = ac ? symbol >> 4 : 0;
        const int size = ac ? symbol & 15 : symbol;
        if (length == 0 || length + size > kFastBits)
            continue;
        if (size == 0) {
            if (!ac || symbol == 0)     // a DC difference of 0, an end of block
                t.fastValue[i] = length;
            continue;
        }
        int value = (i >> (kFastBits - length - size)) & ((1 << size) - 1);
        if (value < (1 << (size - 1)))
            value -= (1 << size) - 1;
        t.fastValue[i] = value * 256 + (run << 4 | (length + size));
    }
    t.defined = true;
    return true;
}

void JPEGDecoder::setRawImageFormat(int quality, int width, int height)
{
    setDecoderParams(static_cast<unsigned char>(GridFormat::jpegScaleForQuality(quality)), width,
                     height);
}

void JPEGDecoder::setDecoderParams(unsigned char scale, int width, int height)
{
    if (m_rawQuantReady && scale == m_scale && width == m_raw.width && height == m_raw.height)
        return;

    if (!m_rawQuantReady || scale != m_scale) {
        for (int k = 0; k < 64; ++k) {
            storeQuant(m_rawQuant[0], k, scaledQuant(kLumQuant[k], scale));
            storeQuant(m_rawQuant[1], k, scaledQuant(kChromQuant[k], scale));
        }
        m_scale = scale;
        m_rawQuantReady = true;
    }

    Frame& f = m_raw;
    for (int c = 0; c < 3; ++c) {
        f.comp[c] = Component();
        f.comp[c].id = c + 1;
        const int t = c == 0 ? 0 : 1;
        f.quant[c] = m_rawQuant[t];
        f.dc[c] = &m_stdHuff[2 * t];
        f.ac[c] = &m_stdHuff[2 * t + 1];
    }
    f.restartInterval = 0;
    f.maxH = f.maxV = 1;
    f.width = width;
    f.height = height;
    m_rawValid = width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension
                 && static_cast<long long>(width) * height <= kMaxPixels;
    f.mcuCols = m_rawValid ? (width + 7) / 8 : 0;
    f.mcuRows = m_rawValid ? (height + 7) / 8 : 0;
}

unsigned char JPEGDecoder::getScaleFactor() const
{
    return m_scale;
}

void JPEGDecoder::decodeRaw(const unsigned char* data, int length, Array<int, int>& out)
{
    m_lastError.clear();
    m_damaged = false;
    try {
        if (!m_rawValid)
            onError("Invalid raw image size");
        const int count = m_raw.width * m_raw.height;
        try {
            out.setCount(count);
        } catch (const std::bad_alloc&) {
            onError("Not enough memory for the decoded image");
        }
        decodeScan(m_raw, data, length, out.data());
    } catch (const DecoderException&) {
        // The image is abandoned; lastError() says why.
    }
}

bool JPEGDecoder::decodeRaw(const unsigned char* data, int length, int* out, int capacity)
{
    m_lastError.clear();
    m_damaged = false;
    try {
        if (!m_rawValid)
            onError("Invalid raw image size");
        if (!out || static_cast<long long>(m_raw.width) * m_raw.height > capacity)
            onError("The raw image does not fit the output");
        decodeScan(m_raw, data, length, out);
        return true;
    } catch (const DecoderException&) {
        return false;
    }
}

void JPEGDecoder::decode(const unsigned char* data, int length, Array<int, int>& out)
{
    m_lastError.clear();
    m_damaged = false;
    try {
        int scanStart = 0;
        parseJPEGHeader(data, length, scanStart);
        const int count = m_jfif.width * m_jfif.height;
        try {
            out.setCount(count);
        } catch (const std::bad_alloc&) {
            onError("Not enough memory for the raw decoded image");
        }
        decodeScan(m_jfif, data + scanStart, length - scanStart, out.data());
    } catch (const DecoderException&) {
    }
}

// ---------------------------------------------------------------------------
// JFIF headers

void JPEGDecoder::parseJPEGHeader(const unsigned char* data, int length, int& scanStart)
{
    ByteReader r(data, length);
    unsigned v = 0;
    if (!r.readU16BE(v) || v != 0xFFD8)
        onError("Not a JPEG format");
    if (!r.readU16BE(v) || v != 0xFFE0)
        onError("Invalid JPEG format");
    unsigned app0Length = 0;
    const unsigned char* app0 = nullptr;
    if (!r.readU16BE(app0Length) || app0Length < 16
        || !r.take(static_cast<int>(app0Length) - 2, app0))
        onError("Invalid JPEG format");
    if (std::memcmp(app0, "JFIF", 5) != 0)
        onError("Invalid JPEG format. Not a JFIF.");
    if (app0[5] != 1 || app0[6] != 1)
        onError("JFIF version not supported.");
    if (app0[7] != 0)
        onError("JPEG format not supported. Units found.");
    if ((app0[8] << 8 | app0[9]) != 1 || (app0[10] << 8 | app0[11]) != 1)
        onError("JPEG format not supported. X and/or m_Y density != 1.");
    if (app0[12] != 0 || app0[13] != 0)
        onError(" Cannot process JFIF thumbnailed files.");

    // Tables belong to this stream only.
    for (int i = 0; i < 4; ++i) {
        m_quantDefined[i] = false;
        m_dcTables[i].defined = false;
        m_acTables[i].defined = false;
    }
    Frame& f = m_jfif;
    f = Frame();
    bool haveSof = false;

    for (;;) {
        // Find the next marker; stray bytes between segments are skipped.
        unsigned b = 0;
        do {
            if (!r.readU8(b))
                onError("Invalid JPEG file. No SOS marker found.");
        } while (b != 0xFF);
        unsigned marker = 0xFF;
        while (marker == 0xFF)
            if (!r.readU8(marker))
                onError("Invalid JPEG file. No SOS marker found.");
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8
            || (marker >= 0xD0 && marker <= 0xD7))
            continue;   // no length field
        if (marker == 0xD9)
            onError("Invalid JPEG file. No SOS marker found.");

        unsigned segLength = 0;
        const unsigned char* body = nullptr;
        if (!r.readU16BE(segLength) || segLength < 2
            || !r.take(static_cast<int>(segLength) - 2, body))
            onError("Invalid JPEG file. Segment runs past the end of the data.");
        ByteReader seg(body, static_cast<int>(segLength) - 2);

        switch (marker) {
        case 0xC0: {    // SOF0
            if (segLength != 17)
                onError("Invalid SOF header size");
            unsigned precision = 0, height = 0, width = 0, components = 0;
            seg.readU8(precision);
            seg.readU16BE(height);
            seg.readU16BE(width);
            seg.readU8(components);
            if (precision != 8)
                onError("Only 8 bit precision supported");
            if (components != 3)
                onError("Only truecolor (24 bpp) JPEG supported");
            for (int c = 0; c < 3; ++c) {
                unsigned id = 0, sampling = 0, table = 0;
                seg.readU8(id);
                seg.readU8(sampling);
                seg.readU8(table);
                if (id != static_cast<unsigned>(c + 1))
                    onError("Only YCbCr format supported");
                if (table > 3)
                    onError("Invalid quantization table number");
                f.comp[c].id = static_cast<int>(id);
                f.comp[c].h = static_cast<int>(sampling >> 4);
                f.comp[c].v = static_cast<int>(sampling & 15);
                f.comp[c].quant = static_cast<int>(table);
            }
            if (width == 0 || height == 0)
                onError("Invalid image size");
            if (width > static_cast<unsigned>(kMaxDimension)
                || height > static_cast<unsigned>(kMaxDimension)
                || static_cast<long long>(width) * height > kMaxPixels)
                onError("Image too large");
            f.width = static_cast<int>(width);
            f.height = static_cast<int>(height);
            haveSof = true;
            break;
        }
        case 0xC4:      // DHT
            while (!seg.atEnd()) {
                unsigned classId = 0;
                const unsigned char* counts = nullptr;
                const unsigned char* symbols = nullptr;
                seg.readU8(classId);
                if ((classId >> 4) > 1 || (classId & 15) > 3)
                    onError("Invalid Huffman table number");
                if (!seg.take(16, counts))
                    onError("Invalid DHT header size");
                int total = 0;
                for (int i = 0; i < 16; ++i)
                    total += counts[i];
                if (total > 256)
                    onError("Invalid Huffman table: more than 256 symbols");
                if (!seg.take(total, symbols))
                    onError("Invalid DHT header size");
                HuffTable& t = (classId >> 4) ? m_acTables[classId & 15] : m_dcTables[classId & 15];
                if (!buildHuffTable(t, counts, symbols, classId >> 4))
                    onError("Invalid Huffman table: code lengths overflow");
            }
            break;
        case 0xDB:      // DQT
            while (!seg.atEnd()) {
                unsigned pqTq = 0;
                const unsigned char* values = nullptr;
                seg.readU8(pqTq);
                if ((pqTq >> 4) != 0)
                    onError("16 bit quantization table not supported.");
                if ((pqTq & 15) > 3)
                    onError("Invalid quantization table number");
                if (!seg.take(64, values))
                    onError("Invalid DQT header size");
                for (int i = 0; i < 64; ++i)
                    storeQuant(m_quant[pqTq & 15], kNaturalOrder[i], values[i]);
                m_quantDefined[pqTq & 15] = true;
            }
            break;
        case 0xDD: {    // DRI
            if (segLength != 4)
                onError("Invalid DRI header size");
            unsigned interval = 0;
            seg.readU16BE(interval);
            f.restartInterval = static_cast<int>(interval);
            break;
        }
        case 0xDA: {    // SOS
            if (!haveSof)
                onError("Progressive JPEGs not supported");
            if (segLength != 12)
                onError("Invalid SOS header size");
            unsigned count = 0;
            seg.readU8(count);
            if (count != 3)
                onError("Invalid SOS marker");
            bool seen[3] = {false, false, false};
            for (int i = 0; i < 3; ++i) {
                unsigned id = 0, tables = 0;
                seg.readU8(id);
                seg.readU8(tables);
                if (id < 1 || id > 3 || seen[id - 1])
                    onError("Invalid SOS marker");
                seen[id - 1] = true;
                const int dc = static_cast<int>(tables >> 4);
                const int ac = static_cast<int>(tables & 15);
                if (dc > 3 || ac > 3 || !m_dcTables[dc].defined || !m_acTables[ac].defined)
                    onError("Huffman table not defined");
                f.dc[id - 1] = &m_dcTables[dc];
                f.ac[id - 1] = &m_acTables[ac];
            }
            unsigned ss = 0, se = 0, approx = 0;
            seg.readU8(ss);
            seg.readU8(se);
            seg.readU8(approx);
            if (ss != 0 || se != 63 || approx != 0)
                onError("Invalid SOS marker");

            const Component& y = f.comp[0];
            const Component& cb = f.comp[1];
            const Component& cr = f.comp[2];
            if (y.v < cb.v || y.v < cr.v)
                onError("Vertical sampling factor for m_Y should be >= sampling factor for m_Cb, m_Cr");
            if (y.h < cb.h || y.h < cr.h)
                onError("Horizontal sampling factor for m_Y should be >= sampling factor for m_Cb, m_Cr");
            if (cb.h != 1 || cb.v != 1)
                onError("m_Cb sampling factors should be = 1");
            if (cr.h != 1 || cr.v != 1)
                onError("m_Cr sampling factors should be = 1");
            if (y.h > 2 || y.v > 2)
                onError("Only 1x1, 2x1, 1x2 and 2x2 sampling supported");
            for (int c = 0; c < 3; ++c) {
                if (!m_quantDefined[f.comp[c].quant])
                    onError("Quantization table not defined");
                f.quant[c] = m_quant[f.comp[c].quant];
            }
            f.maxH = y.h;
            f.maxV = y.v;
            f.mcuCols = (f.width + 8 * f.maxH - 1) / (8 * f.maxH);
            f.mcuRows = (f.height + 8 * f.maxV - 1) / (8 * f.maxV);

            // Every block costs at least two bits (a DC code and an end of
            // block), so a scan shorter than that cannot hold the picture it
            // claims: refuse it rather than fill a huge image from nothing.
            const long long mcus = static_cast<long long>(f.mcuCols) * f.mcuRows;
            const long long blocks = mcus * (f.maxH * f.maxV + 2);
            if (blocks > 4LL * r.remaining() + 8)
                onError("Invalid JPEG file. Scan data too short for the image size.");
            scanStart = r.position();
            return;
        }
        default:        // APPn, COM, other frame types: skipped by their length
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// Entropy-coded data

inline void JPEGDecoder::fillBits(uint64_t& buf, int& count)
{
    // Fast path: up to eight bytes without a 0xFF among them need no
    // stuffing or marker check, so as many whole bytes as the buffer has room
    // for go in at once. The rest of the word lands below `count`: those are
    // the bits of the next bytes, which the next fill puts in the same place
    // (zeros past the end of the data).
    const int avail = m_atMarker ? 0 : m_in.remaining();
    if (avail > 0) {
        const unsigned char* p = m_in.current();
        uint64_t w = 0;
        if (avail >= 8) {
            for (int i = 0; i < 8; ++i)
                w = w << 8 | p[i];
        } else {
            for (int i = 0; i < avail; ++i)
                w |= static_cast<uint64_t>(p[i]) << (56 - 8 * i);
        }
        const uint64_t inverted = ~w; // a 0xFF byte is a zero byte here
        const bool hasFF =
            ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
        if (!hasFF) {
            int n = (63 - count) >> 3;
            if (n > avail)
                n = avail;
            buf |= w >> count;
            count += 8 * n;
            m_in.skip(n);
            if (count > 56)
                return;
        }
    }
    if (m_atMarker || m_in.atEnd()) {
        // Nothing left to read: zero bytes up to the fill the slow path
        // would reach, counted as made up.
        const int n = (64 - count) >> 3;
        m_fakeBits += 8 * n;
        count += 8 * n;
        return;
    }
    m_bitBuf = buf;
    m_bitCount = count;
    fillBitsSlow();
    buf = m_bitBuf;
    count = m_bitCount;
}

void JPEGDecoder::fillBitsSlow()
{
    while (m_bitCount <= 56) {
        unsigned b = 0;
        if (!m_atMarker && m_in.peekU8(0, b)) {
            if (b == 0xFF) {
                // 0xFF 0x00 is a stuffed data byte; anything else (or 0xFF as
                // the last byte) is a marker, where the scan data ends.
                unsigned next = 0;
                if (m_in.peekU8(1, next) && next == 0x00) {
                    m_in.skip(2);
                } else {
                    m_atMarker = true;
                    continue;
                }
            } else {
                m_in.skip(1);
            }
            m_bitBuf |= static_cast<uint64_t>(b) << (56 - m_bitCount);
        } else {
            m_fakeBits += 8;
        }
        m_bitCount += 8;
    }
}

// Codes longer than the look-ahead, read from the top of `buf` without
// consuming them: length << 8 | symbol, or -1 when none of 16 bits matches.
int JPEGDecoder::decodeHuffmanSlow(const HuffTable& t, uint64_t buf)
{
    for (int l = kFastBits + 1; l <= 16; ++l) {
        const int code = static_cast<int>(buf >> (64 - l));
        if (code <= t.lastCode[l])
            return l << 8 | t.symbols[t.symbolIndex[l] + code - t.firstCode[l]];
    }
    return -1;
}

inline int JPEGDecoder::decodeHuffman(const HuffTable& t, uint64_t& buf, int& count)
{
    int fast = t.fast[buf >> (64 - kFastBits)];
    if (fast == 0) {
        fast = decodeHuffmanSlow(t, buf);
        if (fast < 0)
            return -1;
    }
    const int l = fast >> 8;
    buf <<= l;
    count -= l;
    return fast & 0xFF;
}

inline int JPEGDecoder::receiveExtend(int s, uint64_t& buf, int& count)
{
    if (s == 0)
        return 0;
    int v = static_cast<int>(buf >> (64 - s));
    buf <<= s;
    count -= s;
    if (v < (1 << (s - 1)))
        v -= (1 << s) - 1;
    return v;
}

inline int JPEGDecoder::decodeBlock(const HuffTable& dc, const HuffTable& ac, int& pred,
                                    short* coef)
{
    if (m_corrupt) {
        coef[0] = static_cast<short>(pred);
        return 0;
    }
    const int oldPred = pred;
    // The bit buffer lives in registers while the block is decoded.
    uint64_t buf = m_bitBuf;
    int count = m_bitCount;

    // Each symbol with its value takes at most 32 bits; refilling before each
    // keeps the buffer above that.
    if (count < 32)
        fillBits(buf, count);
    bool ok = true;
    int diff = 0;
    const int dcWhole = dc.fastValue[buf >> (64 - kFastBits)];
    if (dcWhole != 0) {
        const int bits = dcWhole & 15;
        buf <<= bits;
        count -= bits;
        diff = dcWhole >> 8;
    } else {
        const int s = decodeHuffman(dc, buf, count);
        ok = s >= 0 && s <= kMaxDcSize;
        if (ok)
            diff = receiveExtend(s, buf, count);
    }
    int last = 0;
    if (ok) {
        // The predictor is 16 bits wide; wrap rather than overflow.
        pred = static_cast<short>(pred + diff);
        coef[0] = static_cast<short>(pred);
        for (int k = 1; k < 64;) {
            if (count < 32)
                fillBits(buf, count);
            const int whole = ac.fastValue[buf >> (64 - kFastBits)];
            if (whole != 0) {
                const int bits = whole & 15;
                buf <<= bits;
                count -= bits;
                const int value = whole >> 8;
                if (value == 0)
                    break;          // end of block
                k += (whole >> 4) & 15;
                if (k > 63) {
                    ok = false;
                    break;
                }
                coef[kNaturalOrder[k]] = static_cast<short>(value);
                last = k;
                ++k;
                continue;
            }
            const int rs = decodeHuffman(ac, buf, count);
            if (rs < 0) {
                ok = false;
                break;
            }
            const int run = rs >> 4;
            const int size = rs & 15;
            if (size == 0) {
                if (run != 15)
                    break;          // end of block
                k += 16;
                continue;
            }
            k += run;
            if (k > 63 || size > kMaxAcSize) {
                ok = false;
                break;
            }
            coef[kNaturalOrder[k]] = static_cast<short>(receiveExtend(size, buf, count));
            last = k;
            ++k;
        }
    }
    m_bitBuf = buf;
    m_bitCount = count;
    // Bits past the end of the data are zeros we made up: the data was cut.
    if (ok && m_fakeBits > count)
        ok = false;
    if (!ok) {
        m_corrupt = true;
        m_damaged = true;
        pred = oldPred;
        std::memset(coef, 0, 64 * sizeof(short));
        coef[0] = static_cast<short>(pred);
        last = 0;
    }
    return last;
}

bool JPEGDecoder::restartScan()
{
    m_bitBuf = 0;
    m_bitCount = 0;
    m_fakeBits = 0;
    m_pred[0] = m_pred[1] = m_pred[2] = 0;
    // Normally the marker is right here; after damage, look for the next one.
    unsigned b = 0, next = 0;
    while (m_in.peekU8(0, b) && m_in.peekU8(1, next)) {
        if (b == 0xFF && next >= 0xD0 && next <= 0xD7) {
            m_in.skip(2);
            m_atMarker = false;
            m_corrupt = false;
            return true;
        }
        m_in.skip(1);
    }
    // No marker left: whatever follows is treated as missing. Remember that,
    // so that later restarts do not search the tail again.
    m_in.skip(m_in.remaining());
    m_atMarker = true;
    return false;
}

// ---------------------------------------------------------------------------
// Inverse DCT and colour conversion

void JPEGDecoder::idctBlock(short* coef, int last, const float* quant, uint8_t* dst, int stride)
{
    // Without AC terms every column, and then every row, is constant: the
    // full transform would give this same value everywhere.
    if (last == 0) {
        const uint8_t* limit = JpegTransforms::colourTables().limit() + 128;
        const uint8_t v = limit[((static_cast<int>(coef[0] * quant[0]) + 4) >> 3) & 0x3FF];
        for (int r = 0; r < 8; ++r)
            std::memset(dst + r * stride, v, 8);
        coef[0] = 0;
        return;
    }
    if (m_avx2)
        JpegTransforms::idctAvx2(coef, quant, dst, stride);
    else
        JpegTransforms::idct(coef, quant, dst, stride);
    std::memset(coef, 0, 64 * sizeof(short));
}

void JPEGDecoder::storeMcu(const Frame& f, int mcuX, int mcuY, int* out)
{
    const int mcuW = 8 * f.maxH;
    const int mcuH = 8 * f.maxV;
    const int x0 = mcuX * mcuW;
    const int y0 = mcuY * mcuH;
    const int w = f.width - x0 < mcuW ? f.width - x0 : mcuW;
    const int h = f.height - y0 < mcuH ? f.height - y0 : mcuH;
    const int shiftX = f.maxH - 1;  // chroma sample = pixel >> shift
    const int shiftY = f.maxV - 1;
    if (shiftX == 0 && shiftY == 0 && w == 8 && h == 8) {
        int* dst = out + static_cast<long long>(y0) * f.width + x0;
        if (m_avx2)
            JpegTransforms::convert8x8Avx2(m_planeY, 16, m_planeCb, m_planeCr, dst, f.width);
        else
            JpegTransforms::convert8x8(m_planeY, 16, m_planeCb, m_planeCr, dst, f.width);
        return;
    }
    // Subsampled chroma, or an MCU cut by the image's edge.
    const JpegTransforms::ColourTables& t = JpegTransforms::colourTables();
    const uint8_t* limit = t.limit();

    for (int y = 0; y < h; ++y) {
        int* row = out + static_cast<long long>(y0 + y) * f.width + x0;
        const uint8_t* lum = m_planeY + 16 * y;
        const uint8_t* cbRow = m_planeCb + 8 * (y >> shiftY);
        const uint8_t* crRow = m_planeCr + 8 * (y >> shiftY);
        for (int x = 0; x < w; ++x) {
            const int l = lum[x];
            const int cb = cbRow[x >> shiftX];
            const int cr = crRow[x >> shiftX];
            const unsigned red = limit[l + t.crToR[cr]];
            const unsigned grn = limit[l + t.cbcrToG[cr << 8 | cb]];
            const unsigned blu = limit[l + t.cbToB[cb]];
            row[x] = static_cast<int>(0xFF000000u | red << 16 | grn << 8 | blu);
        }
    }
}

void JPEGDecoder::decodeScan(const Frame& f, const unsigned char* data, int length, int* out)
{
    m_in = ByteReader(data, length);
    m_bitBuf = 0;
    m_bitCount = 0;
    m_fakeBits = 0;
    m_atMarker = false;
    m_corrupt = false;
    m_pred[0] = m_pred[1] = m_pred[2] = 0;

    int mcuCount = 0;
    for (int my = 0; my < f.mcuRows; ++my) {
        for (int mx = 0; mx < f.mcuCols; ++mx) {
            if (f.restartInterval > 0 && mcuCount > 0 && mcuCount % f.restartInterval == 0)
                restartScan();
            ++mcuCount;

            // 4:4:4 MCUs wholly inside the image: the three blocks go through
            // the fused vector transform straight into the output.
            if (m_avx2 && f.maxH == 1 && f.maxV == 1 && 8 * mx + 8 <= f.width
                && 8 * my + 8 <= f.height) {
                int last[3];
                for (int c = 0; c < 3; ++c)
                    last[c] = decodeBlock(*f.dc[c], *f.ac[c], m_pred[c], m_mcuCoef[c]);
                JpegTransforms::mcu444Avx2(m_mcuCoef, f.quant, last,
                                           out + (8LL * my) * f.width + 8 * mx, f.width);
                continue;
            }
            for (int by = 0; by < f.maxV; ++by) {
                for (int bx = 0; bx < f.maxH; ++bx) {
                    const int last = decodeBlock(*f.dc[0], *f.ac[0], m_pred[0], m_coef);
                    idctBlock(m_coef, last, f.quant[0], m_planeY + by * 8 * 16 + bx * 8, 16);
                }
            }
            int last = decodeBlock(*f.dc[1], *f.ac[1], m_pred[1], m_coef);
            idctBlock(m_coef, last, f.quant[1], m_planeCb, 8);
            last = decodeBlock(*f.dc[2], *f.ac[2], m_pred[2], m_coef);
            idctBlock(m_coef, last, f.quant[2], m_planeCr, 8);

            storeMcu(f, mx, my, out);
        }
    }
    m_in = ByteReader(nullptr, 0);
}
