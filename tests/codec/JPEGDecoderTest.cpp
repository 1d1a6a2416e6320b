// SPDX-License-Identifier: GPL-3.0-or-later
#include "JPEGDecoder.h"
#include "JPEGEncoder.h"

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "JPEGTestSupport.h"

// libjpeg-turbo is the judge here: it writes the JFIF files our decoder must
// read, and its own decode of them is the reference. Our decoder uses a float
// IDCT with truncating colour tables and plain chroma replication, so it is
// compared with libjpeg-turbo's replicating ("fast") upsampling.

using namespace jpegtest;

namespace {

Bytes ourRaw(const std::vector<int>& px, int w, int h, int quality)
{
    JPEGEncoder enc;
    enc.setScaleFactor(static_cast<unsigned char>(255 - quality * 255 / 100));
    Array<unsigned char, int> out;
    enc.encodeRaw(px.data(), w, h, out);
    return bytesOf(out);
}

Array<int, int> sentinel()
{
    Array<int, int> out;
    out.append(0x12345678);
    return out;
}

// Decodes exactly `bytes` from a heap block of that size, so that AddressSanitizer
// sees any read past the end.
void decodeExact(JPEGDecoder& dec, const Bytes& bytes, bool raw, Array<int, int>& out)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + 1]);
    if (!bytes.empty())
        std::memcpy(copy.get(), bytes.data(), bytes.size());
    if (raw)
        dec.decodeRaw(copy.get(), static_cast<int>(bytes.size()), out);
    else
        dec.decode(copy.get(), static_cast<int>(bytes.size()), out);
}

} // namespace

TEST(JPEGDecoderTest, RawRoundTripOfBoxesAtSeveralQualities)
{
    // Max channel error allowed per quality on photographic content.
    const struct {
        int quality, tolerance;
    } cases[] = {{100, 4}, {90, 16}, {70, 40}, {30, 80}};
    const std::vector<int> px = photoImage(16, 16, 7);
    JPEGDecoder dec;
    for (const auto& c : cases) {
        dec.setRawImageFormat(c.quality, 16, 16);
        Array<int, int> out;
        decodeExact(dec, ourRaw(px, 16, 16, c.quality), true, out);
        ASSERT_EQ(out.count(), 256);
        EXPECT_FALSE(dec.imageDamaged());
        EXPECT_LE(compare(out.data(), px.data(), 256).max, c.tolerance) << c.quality;
        EXPECT_EQ(static_cast<unsigned>(out[0]) >> 24, 0xFFu);
    }
    dec.setRawImageFormat(70, 16, 16);
    EXPECT_EQ(dec.getScaleFactor(), 77);

    // 20 x 10 is coded as 3 x 2 blocks; only the 200 visible pixels come out.
    const std::vector<int> odd = photoImage(20, 10, 9);
    dec.setRawImageFormat(90, 20, 10);
    Array<int, int> out;
    decodeExact(dec, ourRaw(odd, 20, 10, 90), true, out);
    ASSERT_EQ(out.count(), 200);
    EXPECT_LE(compare(out.data(), odd.data(), 200).max, 16);
}

TEST(JPEGDecoderTest, RawQuantisationTablesAtQualitiesZeroAndHundred)
{
    // Quality 100 is factor 0: every step 1, times the AAN factors of row
    // and column. Quality 0 is factor 255: (step * 255 + 50) / 100, at most
    // 255. Steps and factors written out here, not taken from the code.
    const double aan[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                           1.0, 0.785694958, 0.5411961,   0.275899379};
    JPEGDecoder dec;
    dec.setRawImageFormat(100, 16, 16);
    EXPECT_EQ(dec.getScaleFactor(), 0);
    for (int k = 0; k < 64; ++k) {
        EXPECT_FLOAT_EQ(dec.rawQuantTable(0)[k], float(aan[k / 8] * aan[k % 8])) << k;
        EXPECT_FLOAT_EQ(dec.rawQuantTable(1)[k], float(aan[k / 8] * aan[k % 8])) << k;
    }
    dec.setRawImageFormat(0, 16, 16);
    EXPECT_EQ(dec.getScaleFactor(), 255);
    const struct {
        int k, luma, chroma; // natural position, steps at factor 255
    } steps[] = {{0, 41, 43},   {1, 28, 46},    {2, 26, 61},    {9, 31, 54},
                 {5, 102, 252}, {7, 156, 252},  {46, 255, 252}, {63, 252, 252},
                 {56, 184, 252}, {20, 102, 252}};
    for (const auto& e : steps) {
        const double aanK = aan[e.k / 8] * aan[e.k % 8];
        EXPECT_FLOAT_EQ(dec.rawQuantTable(0)[e.k], float(e.luma * aanK)) << e.k;
        EXPECT_FLOAT_EQ(dec.rawQuantTable(1)[e.k], float(e.chroma * aanK)) << e.k;
    }

    // Twelve blocks without a coefficient, written bit by bit: per MCU the
    // luminance DC code 00 and end of block 1010, the chrominance ones 00
    // and 00, twice; padded with ones. Mid grey at any factor.
    std::string bits;
    for (int mcu = 0; mcu < 4; ++mcu)
        bits += "001010" "0000" "0000";
    while (bits.size() % 8)
        bits += '1';
    Bytes zero;
    for (size_t i = 0; i < bits.size(); i += 8)
        zero.push_back(static_cast<unsigned char>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    for (int quality : {0, 70, 100}) {
        dec.setRawImageFormat(quality, 16, 16);
        Array<int, int> out;
        decodeExact(dec, zero, true, out);
        ASSERT_EQ(out.count(), 256);
        EXPECT_FALSE(dec.imageDamaged());
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(unsigned(out[i]), 0xFF808080u) << quality << " pixel " << i;
    }
}

TEST(JPEGDecoderTest, FlatGreyDecodesExactlyAsTheAccurateIntegerIdct)
{
    // A flat grey block has only a DC term, so the float transform and
    // libjpeg-turbo's accurate integer one must agree to the last bit: the
    // rounding (x + 4) >> 3 of the flat path shows here at every level whose
    // quantised DC is not a multiple of eight.
    // Both transform paths (where the processor has the vector one).
    JPEGDecoder vector, portable;
    portable.setVectorised(false);
    for (int quality : {85, 70, 62}) {
        for (int level = 0; level < 256; ++level) {
            const std::vector<int> px(256, level << 16 | level << 8 | level);
            const Bytes jpeg = libjpegEncode(px, 16, 16, quality);
            int w = 0, h = 0;
            const std::vector<int> ref = turboDecode(jpeg, w, h, TJFLAG_ACCURATEDCT);
            ASSERT_EQ(ref.size(), 256u);
            for (JPEGDecoder* dec : {&vector, &portable}) {
                Array<int, int> out;
                decodeExact(*dec, jpeg, false, out);
                ASSERT_EQ(out.count(), 256) << dec->lastError().toStdString();
                for (int i = 0; i < 256; ++i)
                    ASSERT_EQ(out[i] & 0xFFFFFF, ref[i])
                        << "quality " << quality << " level " << level
                        << (dec->vectorised() ? " vector" : " portable");
            }
        }
    }
}

TEST(JPEGDecoderTest, ReadsWhatLibjpegTurboWrites)
{
    // Our decode against libjpeg-turbo's own, per channel. Our colour
    // tables truncate where libjpeg-turbo rounds, and a chroma error of one
    // level grows by up to 1.772 in R or B, so single pixels may differ by 4;
    // on average they differ by about 0.6 of a level (the truncation bias).
    const struct {
        int w, h, hs, vs, restart;
        bool photo;
    } cases[] = {
        {64, 48, 1, 1, 0, true}, {64, 48, 1, 1, 0, false}, {20, 10, 1, 1, 0, true},
        {33, 17, 1, 1, 0, true}, {50, 30, 2, 1, 0, true},  {50, 30, 1, 2, 0, true},
        {50, 30, 2, 2, 0, true}, {37, 29, 2, 2, 0, false}, {64, 48, 1, 1, 3, true},
        {70, 40, 2, 2, 2, true}, {9, 9, 2, 1, 1, true},
    };
    // Tables fitted to each image give other code lengths than the standard
    // ones, so other symbols take the one-look-up paths.
    JPEGDecoder dec;
    for (const bool optimize : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.hs << "x" << c.vs
                                            << " restart " << c.restart << " fitted " << optimize);
            // Synthetic screen content: flat areas with hard edges.
            std::vector<int> px = photoImage(c.w, c.h);
            for (int i = 0; !c.photo && i < c.w * c.h; ++i) {
                const int x = i % c.w, y = i / c.w;
                px[i] = (x / 5 + y / 3) % 4 == 0 ? 0x1060C0
                        : (x > c.w / 2 && y < c.h / 2 ? 0xC02020 : 0xF0F0F0);
            }
            const Bytes jpeg = libjpegEncode(px, c.w, c.h, 85, c.hs, c.vs, c.restart, optimize);
            int w = 0, h = 0;
            const std::vector<int> ref =
                turboDecode(jpeg, w, h, TJFLAG_FASTUPSAMPLE | TJFLAG_ACCURATEDCT);
            ASSERT_EQ(ref.size(), px.size());

            Array<int, int> out;
            decodeExact(dec, jpeg, false, out);
            ASSERT_TRUE(dec.lastError().isEmpty()) << dec.lastError().toStdString();
            ASSERT_EQ(out.count(), c.w * c.h);
            EXPECT_FALSE(dec.imageDamaged());
            const ChannelDiff d = compare(out.data(), ref.data(), ref.size());
            EXPECT_LE(d.max, 4);
            EXPECT_LE(d.mean, 0.75);
        }
    }
}

// --- Header checks: each mutation of a valid stream is refused with its text
// and leaves `out` as it was.

struct HeaderCase
{
    const char* name;
    void (*mutate)(Bytes&);
    const char* error;
};

static void putU16(Bytes& b, size_t at, int v)
{
    b[at] = static_cast<unsigned char>(v >> 8);
    b[at + 1] = static_cast<unsigned char>(v);
}

static size_t sof(const Bytes& b) { return markerAt(b, 0xC0); }

static const HeaderCase kHeaderCases[] = {
    {"Unchanged", [](Bytes&) {}, ""},
    {"Empty", [](Bytes& b) { b.clear(); }, "Not a JPEG format"},
    {"ShortApp0", [](Bytes& b) { putU16(b, 4, 15); }, "Invalid JPEG format"},
    {"SofSize", [](Bytes& b) { putU16(b, sof(b) + 2, 18); }, "Invalid SOF header size"},
    {"Components", [](Bytes& b) { b[sof(b) + 9] = 1; }, "Only truecolor (24 bpp) JPEG supported"},
    {"ZeroWidth", [](Bytes& b) { putU16(b, sof(b) + 7, 0); }, "Invalid image size"},
    {"HugeArea", [](Bytes& b) { putU16(b, sof(b) + 5, 16384); putU16(b, sof(b) + 7, 16384); },
     "Image too large"},
    {"ScanTooShort", [](Bytes& b) { putU16(b, sof(b) + 5, 4000); putU16(b, sof(b) + 7, 4000); },
     "Invalid JPEG file. Scan data too short for the image size."},
    {"QuantTableUndefined", [](Bytes& b) { b[sof(b) + 12] = 2; }, "Quantization table not defined"},
    {"HuffmanTooManySymbols", [](Bytes& b) { std::memset(&b[markerAt(b, 0xC4) + 5], 17, 16); },
     "Invalid Huffman table: more than 256 symbols"},
    {"HuffmanOverflow", [](Bytes& b) {
         // Three one-bit codes, nine of sixteen bits: twelve symbols as before.
         const size_t counts = markerAt(b, 0xC4) + 5;
         std::memset(&b[counts], 0, 16);
         b[counts] = 3;
         b[counts + 15] = 9;
     }, "Invalid Huffman table: code lengths overflow"},
    {"HuffmanTableId", [](Bytes& b) { b[markerAt(b, 0xC4) + 4] = 0x24; }, "Invalid Huffman table number"},
    {"HuffmanUndefined", [](Bytes& b) { b[markerAt(b, 0xDA) + 10] = 0x22; }, "Huffman table not defined"},
    {"SosSize", [](Bytes& b) { putU16(b, markerAt(b, 0xDA) + 2, 10); }, "Invalid SOS header size"},
    {"NoSos", [](Bytes& b) { b.resize(markerAt(b, 0xDA)); }, "Invalid JPEG file. No SOS marker found."},
    {"SegmentPastEnd", [](Bytes& b) { b.resize(markerAt(b, 0xC4) + 100); },
     "Invalid JPEG file. Segment runs past the end of the data."},
    {"DriSize", [](Bytes& b) {
         const unsigned char dri[] = {0xFF, 0xDD, 0x00, 0x05, 0x00, 0x01, 0x00};
         b.insert(b.begin() + static_cast<long>(markerAt(b, 0xDA)), dri, dri + sizeof(dri));
     }, "Invalid DRI header size"},
    {"SamplingBeyondTwo", [](Bytes& b) { b[sof(b) + 11] = 0x31; },
     "Only 1x1, 2x1, 1x2 and 2x2 sampling supported"},
    // APP0 at offset 2: marker, length, "JFIF\0" from 6, version 11-12,
    // units 13, densities 14-17, thumbnail size 18-19.
    {"NoApp0", [](Bytes& b) { b[3] = 0xE1; }, "Invalid JPEG format"},
    {"NotJfif", [](Bytes& b) { b[9] = 'X'; }, "Invalid JPEG format. Not a JFIF."},
    {"Version", [](Bytes& b) { b[12] = 2; }, "JFIF version not supported."},
    {"Units", [](Bytes& b) { b[13] = 1; }, "JPEG format not supported. Units found."},
    {"Density", [](Bytes& b) { b[17] = 72; }, "JPEG format not supported. X and/or m_Y density != 1."},
    {"Thumbnail", [](Bytes& b) { b[18] = 1; }, " Cannot process JFIF thumbnailed files."},
    {"Precision", [](Bytes& b) { b[sof(b) + 4] = 12; }, "Only 8 bit precision supported"},
    {"ComponentIds", [](Bytes& b) { b[sof(b) + 13] = 5; }, "Only YCbCr format supported"},
    {"QuantTableNumber", [](Bytes& b) { b[sof(b) + 15] = 4; }, "Invalid quantization table number"},
    {"SixteenBitQuant", [](Bytes& b) { b[markerAt(b, 0xDB) + 4] = 0x10; },
     "16 bit quantization table not supported."},
    {"Progressive", [](Bytes& b) { b[sof(b) + 1] = 0xC2; }, "Progressive JPEGs not supported"},
    {"SosComponents", [](Bytes& b) { b[markerAt(b, 0xDA) + 4] = 1; }, "Invalid SOS marker"},
    {"ChromaTallerThanLuma", [](Bytes& b) { b[sof(b) + 14] = 0x12; },
     "Vertical sampling factor for m_Y should be >= sampling factor for m_Cb, m_Cr"},
    {"ChromaWiderThanLuma", [](Bytes& b) { b[sof(b) + 17] = 0x21; },
     "Horizontal sampling factor for m_Y should be >= sampling factor for m_Cb, m_Cr"},
    {"CbSubsampled", [](Bytes& b) { b[sof(b) + 11] = 0x22; b[sof(b) + 14] = 0x12; },
     "m_Cb sampling factors should be = 1"},
    {"CrSubsampled", [](Bytes& b) { b[sof(b) + 11] = 0x22; b[sof(b) + 17] = 0x21; },
     "m_Cr sampling factors should be = 1"},
};

TEST(JPEGDecoderTest, HeaderFaultsAreRefusedWithTheirTextAndOutUnchanged)
{
    // Our own encoder's JFIF is the valid stream to spoil.
    JPEGEncoder enc;
    const std::vector<int> px = photoImage(24, 16, 3);
    Array<unsigned char, int> encoded;
    enc.encode(px.data(), 24, 16, encoded);
    for (const HeaderCase& c : kHeaderCases) {
        Bytes jpeg = bytesOf(encoded);
        c.mutate(jpeg);
        JPEGDecoder dec;
        Array<int, int> out = sentinel();
        decodeExact(dec, jpeg, false, out);
        EXPECT_EQ(dec.lastError().toStdString(), c.error) << c.name;
        EXPECT_EQ(out.count(), *c.error ? 1 : 24 * 16) << c.name;
    }
}

// --- Damaged data

TEST(JPEGDecoderTest, DataCutAtEveryLengthStaysInBounds)
{
    // Raw: every cut still gives a whole box, damaged; a cut that keeps half
    // of the data keeps the first block intact.
    const Bytes raw = ourRaw(photoImage(16, 16, 11), 16, 16, 90);
    JPEGDecoder dec;
    dec.setRawImageFormat(90, 16, 16);
    Array<int, int> full;
    decodeExact(dec, raw, true, full);
    for (size_t n = 0; n <= raw.size(); ++n) {
        Array<int, int> out;
        decodeExact(dec, Bytes(raw.begin(), raw.begin() + static_cast<long>(n)), true, out);
        ASSERT_EQ(out.count(), 256) << n;
        EXPECT_TRUE(n + 4 >= raw.size() || dec.imageDamaged()) << n;
        EXPECT_TRUE(2 * n < raw.size() || std::memcmp(out.data(), full.data(), 8 * sizeof(int)) == 0) << n;
    }
    // JFIF: either a whole image or an error with `out` untouched.
    const Bytes jpeg = libjpegEncode(photoImage(24, 24, 19), 24, 24, 75, 2, 2, 1);
    for (size_t n = 0; n <= jpeg.size(); ++n) {
        Array<int, int> out = sentinel();
        decodeExact(dec, Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(n)), false, out);
        ASSERT_EQ(out.count(), dec.lastError().isEmpty() ? 24 * 24 : 1) << n;
    }
}

TEST(JPEGDecoderTest, CorruptRawDataKeepsTheGoodBlocksAndGoesFlat)
{
    const Bytes raw = ourRaw(photoImage(16, 16, 13), 16, 16, 90);
    JPEGDecoder dec;
    dec.setRawImageFormat(90, 16, 16);
    Array<int, int> full, out;
    decodeExact(dec, raw, true, full);

    // Sixteen one-bits match no code of the standard tables.
    Bytes broken(raw.begin(), raw.begin() + static_cast<long>(raw.size() / 2));
    broken.insert(broken.end(), {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00});
    broken.insert(broken.end(), raw.begin() + static_cast<long>(raw.size() / 2), raw.end());
    decodeExact(dec, broken, true, out);
    ASSERT_EQ(out.count(), 256);
    EXPECT_TRUE(dec.imageDamaged());
    // The top-left MCU lies well before the fault; the bottom-right one is a
    // single flat colour.
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(std::memcmp(&out[y * 16], &full[y * 16], 8 * sizeof(int)), 0) << y;
    for (int y = 8; y < 16; ++y)
        for (int x = 8; x < 16; ++x)
            EXPECT_EQ(out[y * 16 + x], out[15 * 16 + 15]);

}

TEST(JPEGDecoderTest, InvalidRawSizeIsRefused)
{
    JPEGDecoder dec;
    Array<int, int> out = sentinel();
    const unsigned char data[] = {0x00};
    dec.setDecoderParams(77, JPEGDecoder::kMaxDimension + 1, 16);
    dec.decodeRaw(data, 1, out);
    EXPECT_FALSE(dec.lastError().isEmpty());
    EXPECT_EQ(out.count(), 1);
}
