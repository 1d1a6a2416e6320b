// SPDX-License-Identifier: GPL-3.0-or-later
#include "JPEGEncoder.h"

#include <climits>
#include <cstring>
#include <new>

#include "JPEGDecoder.h"

using namespace JpegTables;

static const QString excEncoderSender = QString::fromLatin1("EncoderException");

SP_DEFINE_EXCEPTION(JPEGEncoder::EncoderException, EncoderException, excEncoderSender)

namespace {

// Worst case of one MCU (three blocks of 64 codes of 16 + 11 bits, every
// byte stuffed) plus the bytes the bit writer may still hold.
constexpr int kMaxMcuBytes = 3 * 64 * 27 / 8 * 2 + 16;
// SOI, APP0, COM header, DQT, SOF0, DHT, SOS, padding and EOI.
constexpr int kMaxHeaderBytes = 2 + 18 + 4 + 134 + 19 + 420 + 14 + 4 + 2;
constexpr int kMaxCommentLength = 65535 - 2;
constexpr int kMaxSide = 65535;

// One AAN forward butterfly over eight values spaced `step` apart.
inline void forwardButterfly(float* p, int step)
{
    const float tmp0 = p[0] + p[7 * step];
    const float tmp7 = p[0] - p[7 * step];
    const float tmp1 = p[step] + p[6 * step];
    const float tmp6 = p[step] - p[6 * step];
    const float tmp2 = p[2 * step] + p[5 * step];
    const float tmp5 = p[2 * step] - p[5 * step];
    const float tmp3 = p[3 * step] + p[4 * step];
    const float tmp4 = p[3 * step] - p[4 * step];

    float tmp10 = tmp0 + tmp3;
    const float tmp13 = tmp0 - tmp3;
    float tmp11 = tmp1 + tmp2;
    float tmp12 = tmp1 - tmp2;
    p[0] = tmp10 + tmp11;
    p[4 * step] = tmp10 - tmp11;
    const float z1 = (tmp12 + tmp13) * 0.707106781f;
    p[2 * step] = tmp13 + z1;
    p[6 * step] = tmp13 - z1;

    tmp10 = tmp4 + tmp5;
    tmp11 = tmp5 + tmp6;
    tmp12 = tmp6 + tmp7;
    const float z5 = (tmp10 - tmp12) * 0.382683433f;
    const float z2 = 0.541196100f * tmp10 + z5;
    const float z4 = 1.306562965f * tmp12 + z5;
    const float z3 = tmp11 * 0.707106781f;
    const float z11 = tmp7 + z3;
    const float z13 = tmp7 - z3;
    p[5 * step] = z13 + z2;
    p[3 * step] = z13 - z2;
    p[step] = z11 + z4;
    p[7 * step] = z11 - z4;
}

// Floating-point AAN forward DCT, rows then columns, in place. The outputs
// carry a factor 8 * AAN[row] * AAN[column], which the divisors remove.
void forwardDct(float* d)
{
    for (int r = 0; r < 8; ++r)
        forwardButterfly(d + 8 * r, 1);
    // The eight columns side by side: the compiler vectorises this loop.
    for (int c = 0; c < 8; ++c)
        forwardButterfly(d + c, 8);
}

void buildHuffCodes(uint16_t* code, uint8_t* length, const uint8_t* counts,
                    const uint8_t* symbols)
{
    std::memset(length, 0, 256);
    int c = 0;
    int index = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int i = 0; i < counts[l - 1]; ++i) {
            code[symbols[index]] = static_cast<uint16_t>(c++);
            length[symbols[index]] = static_cast<uint8_t>(l);
            ++index;
        }
        c <<= 1;
    }
}

} // namespace

JPEGEncoder::JPEGEncoder()
{
    for (int i = 0; i < 256; ++i) {
        m_yR[i] = 19595 * i;
        m_yG[i] = 38470 * i;
        m_yB[i] = 7471 * i;
        m_cbR[i] = -11058 * i;
        m_cbG[i] = -21708 * i;
        m_cbB[i] = 32768 * i;
        m_crR[i] = 32768 * i;
        m_crG[i] = -27438 * i;
        m_crB[i] = -5328 * i;
    }

    try {
        m_category.setCount(65535);
        m_bitPattern.setCount(65535);
    } catch (const std::bad_alloc&) {
        onError("Not enough memory.");
    }
    for (int v = -32767; v <= 32767; ++v) {
        const int magnitude = v < 0 ? -v : v;
        int category = 0;
        while ((1 << category) <= magnitude)
            ++category;
        // Negative values are sent as value - 1 in the category's bits.
        const uint32_t mask = (1u << category) - 1;
        m_category[v + 32767] = static_cast<uint8_t>(category);
        m_bitPattern[v + 32767] = static_cast<uint32_t>(v < 0 ? v - 1 : v) & mask;
    }

    buildHuffCodes(m_huff[0].code, m_huff[0].length, kDcLumCounts, kDcLumSymbols);
    buildHuffCodes(m_huff[1].code, m_huff[1].length, kAcLumCounts, kAcLumSymbols);
    buildHuffCodes(m_huff[2].code, m_huff[2].length, kDcChromCounts, kDcChromSymbols);
    buildHuffCodes(m_huff[3].code, m_huff[3].length, kAcChromCounts, kAcChromSymbols);

    m_buffer.setGrowBy(100);
    setScaleFactor(26);
}

JPEGEncoder::~JPEGEncoder() = default;

void JPEGEncoder::onError(const char* text)
{
    EncoderException e;
    e.setErrorMessage(QString::fromLatin1(text));
    throw e;
}

void JPEGEncoder::setScaleFactor(unsigned char s)
{
    if (m_tablesBuilt && s == m_scale)
        return;
    for (int i = 0; i < 64; ++i) {
        const int k = kNaturalOrder[i];
        const double aan = kAanFactors[k >> 3] * kAanFactors[k & 7] * 8.0;
        for (int t = 0; t < 2; ++t) {
            const int q = scaledQuant(t == 0 ? kLumQuant[k] : kChromQuant[k], s);
            m_dqt[t][i] = static_cast<uint8_t>(q);
            m_divisors[t][k] = static_cast<float>(1.0 / (q * aan));
        }
    }
    m_scale = s;
    m_tablesBuilt = true;
}

unsigned char JPEGEncoder::getScaleFactor() const
{
    return m_scale;
}

void JPEGEncoder::setSize(int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide
        || static_cast<long long>(width) * height * 3 > INT_MAX - kMaxHeaderBytes - kMaxMcuBytes)
        onError("Image size not supported");
    m_width = width;
    m_height = height;
    m_paddedWidth = (width + 7) & ~7;
    m_paddedHeight = (height + 7) & ~7;
}

void JPEGEncoder::reserve(long long bytes)
{
    if (m_buffer.count() >= bytes)
        return;
    if (bytes > INT_MAX)
        onError("Image too large to encode");
    try {
        m_buffer.setCount(static_cast<int>(bytes));
    } catch (const std::bad_alloc&) {
        onError("Not enough memory.");
    }
}

void JPEGEncoder::prepare(int width, int height, Array<unsigned char, int>& out)
{
    setSize(width, height);
    const int bytes = width * height * 3;
    reserve(bytes);
    if (out.capacity() < bytes)
        out.reallocate(bytes);
}

void JPEGEncoder::encode(const int* pixels, int width, int height,
                         Array<unsigned char, int>& out, const char* comment)
{
    setSize(width, height);
    encodeImage(pixels, true, comment, out);
}

void JPEGEncoder::encodeRaw(const int* pixels, int width, int height,
                            Array<unsigned char, int>& out)
{
    setSize(width, height);
    encodeImage(pixels, false, nullptr, out);
}

void JPEGEncoder::encodeRaw(const int* pixels, Array<unsigned char, int>& out)
{
    encodeImage(pixels, false, nullptr, out);
}

void JPEGEncoder::encodeImage(const int* pixels, bool full, const char* comment,
                              Array<unsigned char, int>& out)
{
    if (!pixels)
        onError("No pixels to encode");
    const size_t commentLength = comment ? std::strlen(comment) : 0;
    if (commentLength > static_cast<size_t>(kMaxCommentLength))
        onError("Comment too long");

    // Sizes in 64 bits: the picture's bytes plus the comment can pass INT_MAX
    // even when the picture alone does not (reserve refuses that).
    m_buffer.setGrowBy(m_width * 3);
    reserve(3LL * m_width * m_height + kMaxHeaderBytes + static_cast<long long>(commentLength)
            + kMaxMcuBytes);
    m_buf = m_buffer.data();
    m_writePos = 0;
    m_bitAcc = 0;
    m_bitCount = 0;
    m_predY = m_predCb = m_predCr = 0;

    if (full)
        writeHeaders(comment);

    for (int by = 0; by < m_paddedHeight / 8; ++by) {
        for (int bx = 0; bx < m_paddedWidth / 8; ++bx) {
            if (m_buffer.count() - m_writePos < kMaxMcuBytes) {
                reserve(static_cast<long long>(m_buffer.count()) + m_buffer.growBy()
                        + kMaxMcuBytes);
                m_buf = m_buffer.data();
            }
            loadBlocks(pixels, bx, by);
            encodeBlock(m_blockY, m_divisors[0], m_predY, m_huff[0], m_huff[1]);
            encodeBlock(m_blockCb, m_divisors[1], m_predCb, m_huff[2], m_huff[3]);
            encodeBlock(m_blockCr, m_divisors[1], m_predCr, m_huff[2], m_huff[3]);
        }
    }

    flushBits();
    putByte(0xFF);
    putByte(0xD9);

    out.setCount(m_writePos);
    std::memcpy(out.data(), m_buf, static_cast<size_t>(m_writePos));
    m_buf = nullptr;
}

void JPEGEncoder::writeHeaders(const char* comment)
{
    static const uint8_t app0[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
                                   0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    putWord(0xFFD8);
    std::memcpy(m_buf + m_writePos, app0, sizeof(app0));
    m_writePos += static_cast<int>(sizeof(app0));

    if (comment) {
        const int n = static_cast<int>(std::strlen(comment));
        putWord(0xFFFE);
        putWord(n + 2);
        std::memcpy(m_buf + m_writePos, comment, static_cast<size_t>(n));
        m_writePos += n;
    }

    putWord(0xFFDB);
    putWord(132);
    for (int t = 0; t < 2; ++t) {
        putByte(static_cast<uint8_t>(t));
        std::memcpy(m_buf + m_writePos, m_dqt[t], 64);
        m_writePos += 64;
    }

    putWord(0xFFC0);
    putWord(17);
    putByte(8);
    putWord(m_height);
    putWord(m_width);
    putByte(3);
    static const uint8_t components[] = {1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    for (uint8_t b : components)
        putByte(b);

    putWord(0xFFC4);
    putWord(418);
    const struct
    {
        uint8_t classId;
        const uint8_t* counts;
        const uint8_t* symbols;
    } tables[] = {
        {0x00, kDcLumCounts, kDcLumSymbols},
        {0x10, kAcLumCounts, kAcLumSymbols},
        {0x01, kDcChromCounts, kDcChromSymbols},
        {0x11, kAcChromCounts, kAcChromSymbols},
    };
    for (const auto& t : tables) {
        putByte(t.classId);
        int total = 0;
        for (int l = 0; l < 16; ++l) {
            putByte(t.counts[l]);
            total += t.counts[l];
        }
        std::memcpy(m_buf + m_writePos, t.symbols, static_cast<size_t>(total));
        m_writePos += total;
    }

    static const uint8_t sos[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02,
                                  0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    std::memcpy(m_buf + m_writePos, sos, sizeof(sos));
    m_writePos += static_cast<int>(sizeof(sos));
}

void JPEGEncoder::loadBlocks(const int* pixels, int bx, int by)
{
    const int x0 = bx * 8;
    const int y0 = by * 8;
    for (int y = 0; y < 8; ++y) {
        const int sy = y0 + y < m_height ? y0 + y : m_height - 1;
        const int* row = pixels + static_cast<long long>(sy) * m_width;
        for (int x = 0; x < 8; ++x) {
            const int sx = x0 + x < m_width ? x0 + x : m_width - 1;
            const unsigned p = static_cast<unsigned>(row[sx]);
            const unsigned r = (p >> 16) & 0xFF;
            const unsigned g = (p >> 8) & 0xFF;
            const unsigned b = p & 0xFF;
            // The chroma sums are already centred on zero, so only Y needs
            // the level shift.
            m_blockY[8 * y + x] =
                static_cast<int8_t>(((m_yR[r] + m_yG[g] + m_yB[b]) >> 16) - 128);
            m_blockCb[8 * y + x] = static_cast<int8_t>((m_cbR[r] + m_cbG[g] + m_cbB[b]) >> 16);
            m_blockCr[8 * y + x] = static_cast<int8_t>((m_crR[r] + m_crG[g] + m_crB[b]) >> 16);
        }
    }
}

void JPEGEncoder::encodeBlock(const int8_t* samples, const float* divisors, int& pred,
                              const HuffCode& dc, const HuffCode& ac)
{
    alignas(32) float d[64];
    for (int i = 0; i < 64; ++i)
        d[i] = samples[i];
    forwardDct(d);

    // Quantise, then reorder to zigzag order. The offset keeps the sum
    // positive, so truncation rounds to nearest with halves upward.
    alignas(32) int q[64];
    for (int k = 0; k < 64; ++k)
        q[k] = static_cast<int>(d[k] * divisors[k] + 16384.5f) - 16384;
    int zz[64];
    for (int i = 0; i < 64; ++i)
        zz[i] = q[kNaturalOrder[i]];

    const int diff = zz[0] - pred;
    pred = zz[0];
    {
        const int cat = m_category[diff + 32767];
        putBits(static_cast<uint32_t>(dc.code[cat]) << cat | m_bitPattern[diff + 32767],
                dc.length[cat] + cat);
    }

    int last = 63;
    while (last > 0 && zz[last] == 0)
        --last;
    int run = 0;
    for (int i = 1; i <= last; ++i) {
        const int v = zz[i];
        if (v == 0) {
            ++run;
            continue;
        }
        while (run >= 16) {
            putBits(ac.code[0xF0], ac.length[0xF0]);
            run -= 16;
        }
        const int cat = m_category[v + 32767];
        const int symbol = run << 4 | cat;
        putBits(static_cast<uint32_t>(ac.code[symbol]) << cat | m_bitPattern[v + 32767],
                ac.length[symbol] + cat);
        run = 0;
    }
    if (last < 63)
        putBits(ac.code[0x00], ac.length[0x00]);
}

inline void JPEGEncoder::putBits(uint32_t bits, int count)
{
    m_bitAcc = m_bitAcc << count | bits;
    m_bitCount += count;
    while (m_bitCount >= 8) {
        m_bitCount -= 8;
        const uint8_t b = static_cast<uint8_t>(m_bitAcc >> m_bitCount);
        m_buf[m_writePos++] = b;
        if (b == 0xFF)
            m_buf[m_writePos++] = 0x00;
    }
}

void JPEGEncoder::flushBits()
{
    // Pad with one-bits up to the next byte boundary; an empty byte is
    // padded as a whole 0xFF (stuffed), which decoders ignore.
    const int ones = 8 - m_bitCount;
    putBits((1u << ones) - 1, ones);
}
