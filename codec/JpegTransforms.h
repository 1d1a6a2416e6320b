// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The JPEG decoder's per-pixel steps: the inverse DCT of one block and the
// YCbCr to RGB conversion, each in a portable form and hand-vectorised for
// AVX2. Both forms give exactly the same bytes (the same float operations
// in the same order; the colour tables reproduced in 21-bit fixed point),
// so which one runs never shows in a picture. The decoder picks the AVX2
// form when avx2Supported() says the processor has it.
namespace JpegTransforms {

// Colour conversion tables, built once for the whole program (values
// truncated toward zero): Cr -> R (i - 128) * 1.402, Cb -> B
// (i - 128) * 1.772, (Cr, Cb) -> G (Cb - 128) * -0.34414 - (Cr - 128) *
// 0.71414 at index Cr << 8 | Cb; and the range-limit table: 256 zeros, the
// identity 0..255, 384 x 255, 384 zeros, 0..127, addressed from its 257th
// byte (limit(), valid -256..1151).
struct ColourTables
{
    int crToR[256];
    int cbToB[256];
    short cbcrToG[256 * 256];
    uint8_t range[1408];

    const uint8_t* limit() const { return range + 256; }
};
const ColourTables& colourTables();

// Inverse DCT of one block: coef (natural order) times quant (the
// dequantisation table with the AAN factors folded in), the separable float
// AAN transform, then per sample (x + 4) >> 3 masked with 0x3FF and looked
// up in the range-limit table at +128, which adds the level shift and clamps
// (values beyond -512..511 wrap, as the mask makes them). Writes 8 rows of 8
// samples, `stride` bytes apart.
void idct(const int16_t* coef, const float* quant, uint8_t* dst, int stride);

// YCbCr to pixels for an 8 x 8 block sampled 1:1: Y rows `yStride` bytes
// apart, Cb and Cr 8 x 8 packed; writes 8 rows of 8 pixels 0xFFRRGGBB,
// `outStride` pixels apart.
void convert8x8(const uint8_t* y, int yStride, const uint8_t* cb, const uint8_t* cr, int* out,
                int outStride);

// True when this processor runs the AVX2 forms (checked once). They must
// not be called otherwise.
bool avx2Supported();
void idctAvx2(const int16_t* coef, const float* quant, uint8_t* dst, int stride);
void convert8x8Avx2(const uint8_t* y, int yStride, const uint8_t* cb, const uint8_t* cr, int* out,
                    int outStride);
// One 4:4:4 MCU at once: the Y, Cb and Cr blocks of coef with their tables
// to 8 rows of 8 pixels, `outStride` pixels apart. last[c] is the zigzag
// position (JpegTables::kNaturalOrder) of block c's last non-zero AC
// coefficient, 0 when it has none; coefficients after it must be zero (those
// of a block without AC terms are not read at all). The same bytes as idct
// into three planes, then convert8x8. Leaves coef all zero, ready for the
// next MCU of a scan.
void mcu444Avx2(int16_t coef[3][64], const float* const quant[3], const int last[3],
                int* out, int outStride);

} // namespace JpegTransforms
