// SPDX-License-Identifier: GPL-3.0-or-later
// The AVX2 forms of the decoder's transforms against the portable ones, byte
// for byte: which one a processor runs must never show in a picture.
#include "JpegTransforms.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "JPEGDecoder.h"
#include "JPEGEncoder.h"
#include "JPEGTestSupport.h"

namespace {

// A dequantisation table as the decoder builds one: integer steps times the
// AAN factors of row and column.
void quantTable(std::mt19937& rng, int maxStep, float* quant)
{
    for (int k = 0; k < 64; ++k)
        quant[k] = static_cast<float>((1 + rng() % maxStep) * JpegTables::kAanFactors[k >> 3]
                                      * JpegTables::kAanFactors[k & 7]);
}

// Coefficients as real scans have them (a few low ones), or anything a
// corrupt scan can produce (wide values everywhere, so that the range-limit
// wrap is reached).
void coefficients(std::mt19937& rng, bool wild, int16_t* coef)
{
    std::memset(coef, 0, 64 * sizeof(int16_t));
    const int n = wild ? 64 : 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
        const int k = wild ? i : static_cast<int>(rng() % 20);
        const int range = wild ? 2048 : (k == 0 ? 1024 : 64);
        coef[k] = static_cast<int16_t>(static_cast<int>(rng() % (2 * range)) - range);
    }
}

} // namespace

class JpegTransformsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!JpegTransforms::avx2Supported())
            GTEST_SKIP() << "this processor has no AVX2: only the portable forms run";
    }
};

TEST_F(JpegTransformsTest, VectorIdctGivesThePortableBytes)
{
    std::mt19937 rng(5);
    alignas(32) int16_t coef[64];
    alignas(32) float quant[64];
    for (int i = 0; i < 20000; ++i) {
        const bool wild = i % 4 == 0;
        coefficients(rng, wild, coef);
        quantTable(rng, wild ? 255 : 60, quant);
        uint8_t portable[8 * 12], vector[8 * 12];
        std::memset(portable, 0xAB, sizeof portable);
        std::memset(vector, 0xAB, sizeof vector);
        JpegTransforms::idct(coef, quant, portable, 12);
        JpegTransforms::idctAvx2(coef, quant, vector, 12);
        // The four bytes after each row are not written.
        ASSERT_EQ(std::memcmp(portable, vector, sizeof portable), 0) << "block " << i;
        for (int r = 0; r < 8; ++r)
            ASSERT_EQ(portable[12 * r + 8], 0xAB);
    }
}

TEST_F(JpegTransformsTest, VectorColourConversionGivesThePortablePixelsForEveryTriple)
{
    // Every (Y, Cb, Cr): each block holds 64 Cb, Cr pairs for one Y.
    alignas(32) uint8_t y[8 * 16], cb[64], cr[64];
    int portable[8 * 10], vector[8 * 10];
    for (int luma = 0; luma < 256; ++luma) {
        std::memset(y, luma, sizeof y);
        for (int pair = 0; pair < 65536; pair += 64) {
            for (int i = 0; i < 64; ++i) {
                cb[i] = static_cast<uint8_t>((pair + i) & 0xFF);
                cr[i] = static_cast<uint8_t>((pair + i) >> 8);
            }
            JpegTransforms::convert8x8(y, 16, cb, cr, portable, 10);
            JpegTransforms::convert8x8Avx2(y, 16, cb, cr, vector, 10);
            for (int r = 0; r < 8; ++r)
                ASSERT_EQ(std::memcmp(portable + 10 * r, vector + 10 * r, 8 * sizeof(int)), 0)
                    << "Y " << luma << " pair " << pair;
        }
    }
}

TEST_F(JpegTransformsTest, FusedMcuGivesWhatThePlanesAndTheConversionGive)
{
    // The fused transform leaves out what the coefficients after the last
    // non-zero one would add: blocks ending at every zigzag position, with
    // coefficients up to the extremes a scan can produce (DC anywhere in 16
    // bits, AC to the baseline limit and beyond), must give the bytes of the
    // full portable transform.
    std::mt19937 rng(9);
    alignas(32) int16_t coef[3][64];
    alignas(32) float tables[3][64];
    const float* quant[3] = {tables[0], tables[1], tables[2]};
    const int extremes[] = {-32768, 32767, -1024, 1023, -2047, 2047, -1, 1};
    for (int i = 0; i < 30000; ++i) {
        int last[3];
        alignas(32) uint8_t planes[3][64];
        for (int c = 0; c < 3; ++c) {
            const int kind = (i + c) % 6;
            quantTable(rng, kind == 5 ? 255 : 60, tables[c]);
            // Last position 0 (no AC terms), up to 2, up to 9, or anywhere.
            last[c] = kind == 0 ? 0
                    : kind == 1 ? 1 + static_cast<int>(rng() % 2)
                    : kind == 2 ? 3 + static_cast<int>(rng() % 7)
                    : 1 + static_cast<int>(rng() % 63);
            std::memset(coef[c], 0, sizeof coef[c]);
            for (int k = 0; k <= last[c]; ++k) {
                const int nat = JpegTables::kNaturalOrder[k];
                if (k == last[c] || (k == 0 ? true : rng() % 3 == 0)) {
                    int value = 0;
                    if (rng() % 8 == 0)
                        value = extremes[rng() % 8];
                    else
                        value = static_cast<int>(rng() % (k == 0 ? 2048 : 128)) - (k == 0 ? 1024 : 64);
                    coef[c][nat] = static_cast<int16_t>(value);
                }
            }
            if (last[c] > 0 && coef[c][JpegTables::kNaturalOrder[last[c]]] == 0)
                coef[c][JpegTables::kNaturalOrder[last[c]]] = 1;
            JpegTransforms::idct(coef[c], quant[c], planes[c], 8);
        }
        int expected[64], fused[64];
        JpegTransforms::convert8x8(planes[0], 8, planes[1], planes[2], expected, 8);
        JpegTransforms::mcu444Avx2(coef, quant, last, fused, 8);
        ASSERT_EQ(std::memcmp(expected, fused, sizeof fused), 0)
            << "MCU " << i << ", last " << last[0] << " " << last[1] << " " << last[2];
        // Ready for the next MCU: nothing left behind.
        const int16_t zeros[3][64] = {};
        ASSERT_EQ(std::memcmp(coef, zeros, sizeof zeros), 0) << "MCU " << i;
    }
}

TEST_F(JpegTransformsTest, BlocksWithoutAcTermsGiveTheFullTransformForEveryDcAndStep)
{
    // A flat block is filled from coef[0] * quant[0] directly: every DC value
    // a scan can hold, with every first quantisation step (its AAN factor is
    // 1), against the full transform of the same block.
    alignas(32) int16_t dcs[3][64] = {}, coef[3][64];
    alignas(32) float tables[3][64] = {};
    const float* quant[3] = {tables[0], tables[1], tables[2]};
    const int flat[3] = {0, 0, 0};
    const int full[3] = {63, 63, 63};
    for (int step = 1; step <= 255; ++step) {
        for (int c = 0; c < 3; ++c)
            tables[c][0] = static_cast<float>(step);
        for (int dc = -32768; dc <= 32767; dc += 3) {
            dcs[0][0] = static_cast<int16_t>(dc);
            dcs[1][0] = static_cast<int16_t>(dc + 1 <= 32767 ? dc + 1 : dc);
            dcs[2][0] = static_cast<int16_t>(dc + 2 <= 32767 ? dc + 2 : dc);
            int a[64], b[64];
            std::memcpy(coef, dcs, sizeof coef);
            JpegTransforms::mcu444Avx2(coef, quant, flat, a, 8);
            std::memcpy(coef, dcs, sizeof coef);
            JpegTransforms::mcu444Avx2(coef, quant, full, b, 8);
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "DC " << dc << " step " << step;
        }
    }
}

TEST(JpegDecoderPathsTest, BothPathsDecodeTheSameBoxesAndImages)
{
    // Whole decodes with the vector path on (where the processor has it) and
    // off: raw boxes of our encoder and of noise, JFIF images of every
    // sampling with edges that cut MCUs.
    JPEGDecoder vector, portable;
    portable.setVectorised(false);
    EXPECT_FALSE(portable.vectorised());
    EXPECT_EQ(vector.vectorised(), JpegTransforms::avx2Supported());
    auto same = [&](const jpegtest::Bytes& data, bool raw, const char* what, int n) {
        Array<int, int> a, b;
        if (raw) {
            vector.decodeRaw(data.data(), static_cast<int>(data.size()), a);
            portable.decodeRaw(data.data(), static_cast<int>(data.size()), b);
        } else {
            vector.decode(data.data(), static_cast<int>(data.size()), a);
            portable.decode(data.data(), static_cast<int>(data.size()), b);
        }
        ASSERT_GT(a.count(), 0) << what << " " << n;
        ASSERT_EQ(a.count(), b.count()) << what << " " << n;
        ASSERT_EQ(std::memcmp(a.data(), b.data(), sizeof(int) * size_t(a.count())), 0)
            << what << " " << n;
    };

    std::mt19937 rng(3);
    JPEGEncoder encoder;
    for (int round = 0; round < 100; ++round) {
        const unsigned char scale = static_cast<unsigned char>(round * 5 % 256);
        vector.setDecoderParams(scale, 16, 16);
        portable.setDecoderParams(scale, 16, 16);
        encoder.setScaleFactor(scale);
        Array<unsigned char, int> box;
        const std::vector<int> px = jpegtest::photoImage(16, 16, unsigned(round));
        encoder.encodeRaw(px.data(), 16, 16, box);
        same(jpegtest::bytesOf(box), true, "box", round);
        jpegtest::Bytes noise(200);
        for (unsigned char& b : noise)
            b = static_cast<unsigned char>(rng());
        same(noise, true, "noise", round);
    }
    const struct { int w, h, hs, vs; } images[] = {
        {64, 48, 1, 1}, {37, 29, 1, 1}, {50, 30, 2, 1}, {50, 30, 1, 2}, {41, 23, 2, 2}};
    for (const auto& c : images)
        same(jpegtest::libjpegEncode(jpegtest::photoImage(c.w, c.h), c.w, c.h, 90, c.hs, c.vs),
             false, "image", c.w);
}
