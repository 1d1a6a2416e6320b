// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegTransforms.h"

#if defined(__x86_64__) || defined(__i386__)
#define SP_JPEG_X86 1
#include <immintrin.h>
#else
#define SP_JPEG_X86 0
#endif

#include <cstdint>
#include <cstdlib>

#if SP_JPEG_X86

// Only these functions use AVX2; the rest of the program stays portable.
#define SP_AVX2 __attribute__((target("avx2")))

namespace {

// The last stage of the 1-D transform: even part t0..t3 and odd part t4..t7
// into the eight outputs.
SP_AVX2 inline void combine(__m256 v[8], __m256 t0, __m256 t1, __m256 t2, __m256 t3, __m256 t4,
                            __m256 t5, __m256 t6, __m256 t7)
{
    v[0] = _mm256_add_ps(t0, t7);
    v[7] = _mm256_sub_ps(t0, t7);
    v[1] = _mm256_add_ps(t1, t6);
    v[6] = _mm256_sub_ps(t1, t6);
    v[2] = _mm256_add_ps(t2, t5);
    v[5] = _mm256_sub_ps(t2, t5);
    v[4] = _mm256_add_ps(t3, t4);
    v[3] = _mm256_sub_ps(t3, t4);
}

// The AAN inverse butterfly on eight rows at once (lane = column), operation
// for operation the portable inverseButterflies (JpegTransforms.cpp).
SP_AVX2 inline void butterflies(__m256 v[8])
{
    const __m256 k1414 = _mm256_set1_ps(1.414213562f);
    const __m256 k1847 = _mm256_set1_ps(1.847759065f);
    const __m256 k1082 = _mm256_set1_ps(1.082392200f);
    const __m256 kMinus2613 = _mm256_set1_ps(-2.613125930f);

    __m256 t0 = v[0], t1 = v[2], t2 = v[4], t3 = v[6];
    __m256 t10 = _mm256_add_ps(t0, t2);
    __m256 t11 = _mm256_sub_ps(t0, t2);
    __m256 t13 = _mm256_add_ps(t1, t3);
    __m256 t12 = _mm256_sub_ps(_mm256_mul_ps(_mm256_sub_ps(t1, t3), k1414), t13);
    t0 = _mm256_add_ps(t10, t13);
    t3 = _mm256_sub_ps(t10, t13);
    t1 = _mm256_add_ps(t11, t12);
    t2 = _mm256_sub_ps(t11, t12);

    __m256 t4 = v[1], t5 = v[3], t6 = v[5], t7 = v[7];
    const __m256 z13 = _mm256_add_ps(t6, t5);
    const __m256 z10 = _mm256_sub_ps(t6, t5);
    const __m256 z11 = _mm256_add_ps(t4, t7);
    const __m256 z12 = _mm256_sub_ps(t4, t7);
    t7 = _mm256_add_ps(z11, z13);
    t11 = _mm256_mul_ps(_mm256_sub_ps(z11, z13), k1414);
    const __m256 z5 = _mm256_mul_ps(_mm256_add_ps(z10, z12), k1847);
    t10 = _mm256_sub_ps(_mm256_mul_ps(k1082, z12), z5);
    t12 = _mm256_add_ps(_mm256_mul_ps(kMinus2613, z10), z5);
    t6 = _mm256_sub_ps(t12, t7);
    t5 = _mm256_sub_ps(t11, t6);
    t4 = _mm256_add_ps(t10, t5);

    combine(v, t0, t1, t2, t3, t4, t5, t6, t7);
}

// butterflies() for v[4..7] all zero, the operations with a zero operand
// left out. x + 0, x - 0 and 0 + x give x exactly, 0 - x gives -x, and only
// the sign of a zero can differ from the full form, which no later
// operation or the truncation to integer can see: the results are the same.
SP_AVX2 inline void halfButterflies(__m256 v[8])
{
    const __m256 k1414 = _mm256_set1_ps(1.414213562f);
    const __m256 k1847 = _mm256_set1_ps(1.847759065f);
    const __m256 k1082 = _mm256_set1_ps(1.082392200f);
    const __m256 k2613 = _mm256_set1_ps(2.613125930f);

    // Even part: t2 = t3 = 0, so t10 = t11 = v[0], t13 = v[2].
    const __m256 t10 = v[0];
    const __m256 t13 = v[2];
    const __m256 t12 = _mm256_sub_ps(_mm256_mul_ps(t13, k1414), t13);
    const __m256 t0 = _mm256_add_ps(t10, t13);
    const __m256 t3 = _mm256_sub_ps(t10, t13);
    const __m256 t1 = _mm256_add_ps(t10, t12);
    const __m256 t2 = _mm256_sub_ps(t10, t12);

    // Odd part: t6 = t7 = 0, so z13 = v[3], z10 = -v[3], z11 = z12 = v[1];
    // z10 + z12 is v[1] - v[3], and -2.61 * -v[3] is 2.61 * v[3].
    const __m256 z11 = v[1];
    const __m256 z13 = v[3];
    const __m256 t7 = _mm256_add_ps(z11, z13);
    const __m256 diff = _mm256_sub_ps(z11, z13);
    const __m256 t11 = _mm256_mul_ps(diff, k1414);
    const __m256 z5 = _mm256_mul_ps(diff, k1847);
    const __m256 t10o = _mm256_sub_ps(_mm256_mul_ps(k1082, z11), z5);
    const __m256 t12o = _mm256_add_ps(_mm256_mul_ps(k2613, z13), z5);
    const __m256 t6 = _mm256_sub_ps(t12o, t7);
    const __m256 t5 = _mm256_sub_ps(t11, t6);
    const __m256 t4 = _mm256_add_ps(t10o, t5);

    combine(v, t0, t1, t2, t3, t4, t5, t6, t7);
}

// The odd outputs of butterflies() when v[1] = b is the only non-zero odd
// input (halfButterflies() with v[3] = 0), b in every lane: t7 = b and the
// t6, t5, t4 that are added to or taken from the even part.
struct OddTerms
{
    __m256 t7, t6, t5, t4;
};

SP_AVX2 inline OddTerms oddTerms(__m256 b)
{
    const __m256 t11 = _mm256_mul_ps(b, _mm256_set1_ps(1.414213562f));
    const __m256 z5 = _mm256_mul_ps(b, _mm256_set1_ps(1.847759065f));
    const __m256 t10 = _mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(1.082392200f), b), z5);
    OddTerms o;
    o.t7 = b;
    o.t6 = _mm256_sub_ps(z5, b);
    o.t5 = _mm256_sub_ps(t11, o.t6);
    o.t4 = _mm256_add_ps(t10, o.t5);
    return o;
}

SP_AVX2 inline void transpose(__m256 v[8])
{
    const __m256 a0 = _mm256_unpacklo_ps(v[0], v[1]);
    const __m256 a1 = _mm256_unpackhi_ps(v[0], v[1]);
    const __m256 a2 = _mm256_unpacklo_ps(v[2], v[3]);
    const __m256 a3 = _mm256_unpackhi_ps(v[2], v[3]);
    const __m256 a4 = _mm256_unpacklo_ps(v[4], v[5]);
    const __m256 a5 = _mm256_unpackhi_ps(v[4], v[5]);
    const __m256 a6 = _mm256_unpacklo_ps(v[6], v[7]);
    const __m256 a7 = _mm256_unpackhi_ps(v[6], v[7]);
    const __m256 b0 = _mm256_shuffle_ps(a0, a2, 0x44);
    const __m256 b1 = _mm256_shuffle_ps(a0, a2, 0xEE);
    const __m256 b2 = _mm256_shuffle_ps(a1, a3, 0x44);
    const __m256 b3 = _mm256_shuffle_ps(a1, a3, 0xEE);
    const __m256 b4 = _mm256_shuffle_ps(a4, a6, 0x44);
    const __m256 b5 = _mm256_shuffle_ps(a4, a6, 0xEE);
    const __m256 b6 = _mm256_shuffle_ps(a5, a7, 0x44);
    const __m256 b7 = _mm256_shuffle_ps(a5, a7, 0xEE);
    v[0] = _mm256_permute2f128_ps(b0, b4, 0x20);
    v[1] = _mm256_permute2f128_ps(b1, b5, 0x20);
    v[2] = _mm256_permute2f128_ps(b2, b6, 0x20);
    v[3] = _mm256_permute2f128_ps(b3, b7, 0x20);
    v[4] = _mm256_permute2f128_ps(b0, b4, 0x31);
    v[5] = _mm256_permute2f128_ps(b1, b5, 0x31);
    v[6] = _mm256_permute2f128_ps(b2, b6, 0x31);
    v[7] = _mm256_permute2f128_ps(b3, b7, 0x31);
}

// The range-limit look-up of the portable path for a row of eight results,
// less its level shift of 128: -128..127. The look-up takes u = (((x + 4)
// >> 3) + 128) & 0x3FF and gives u below 256, 255 up to 639 and 0 from 640
// on (the table's identity run, its 255 run and its zero run). With v the
// ten bits ((x + 4) >> 3) & 0x3FF read as a signed number, -512..511, u is
// v + 128 taken modulo 1024, so those three runs are v from -128 to 127,
// from 128 up and below -128: the look-up is v clamped to -128..127, plus
// 128. The shifts pick and sign-extend the ten bits.
SP_AVX2 inline __m256i centredLevels(__m256 row)
{
    const __m256i x = _mm256_add_epi32(_mm256_cvttps_epi32(row), _mm256_set1_epi32(4));
    const __m256i v = _mm256_srai_epi32(_mm256_slli_epi32(x, 19), 22);
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(-128)),
                            _mm256_set1_epi32(127));
}

// The look-up itself: 0..255.
SP_AVX2 inline __m256i rangeLimit(__m256 row)
{
    return _mm256_add_epi32(centredLevels(row), _mm256_set1_epi32(128));
}

// Four rows of eight 0..255 values to 32 bytes, row after row.
SP_AVX2 inline __m256i packRows(__m256i r0, __m256i r1, __m256i r2, __m256i r3)
{
    const __m256i words = _mm256_packus_epi16(_mm256_packus_epi32(r0, r1),
                                              _mm256_packus_epi32(r2, r3));
    return _mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

SP_AVX2 inline void storeRows(__m256i rows, uint8_t* dst, int stride)
{
    const __m128i lo = _mm256_castsi256_si128(rows);
    const __m128i hi = _mm256_extracti128_si256(rows, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * stride), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 3 * stride), _mm_unpackhi_epi64(hi, hi));
}

// Truncation toward zero of s / 2^21, as the colour tables truncate.
SP_AVX2 inline __m256i truncScaled(__m256i s)
{
    return _mm256_sign_epi32(_mm256_srli_epi32(_mm256_abs_epi32(s), 21), s);
}

SP_AVX2 void idctBlockAvx2(const int16_t* coef, const float* quant, uint8_t* dst, int stride)
{
    __m256 v[8];
    for (int r = 0; r < 8; ++r) {
        const __m256i c = _mm256_cvtepi16_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * r)));
        v[r] = _mm256_mul_ps(_mm256_cvtepi32_ps(c), _mm256_loadu_ps(quant + 8 * r));
    }
    butterflies(v);   // columns
    transpose(v);
    butterflies(v);   // rows
    transpose(v);
    storeRows(packRows(rangeLimit(v[0]), rangeLimit(v[1]), rangeLimit(v[2]), rangeLimit(v[3])),
              dst, stride);
    storeRows(packRows(rangeLimit(v[4]), rangeLimit(v[5]), rangeLimit(v[6]), rangeLimit(v[7])),
              dst + 4 * stride, stride);
}

SP_AVX2 void convertBlockAvx2(const uint8_t* y, int yStride, const uint8_t* cb, const uint8_t* cr,
                         int* out, int outStride)
{
    // (i - 128) * 1.402, * 1.772 and the green pair -0.34414, -0.71414 in
    // 21-bit fixed point: with truncation toward zero these give every entry
    // of the portable tables exactly.
    const __m256i kCrR = _mm256_set1_epi32(2940143);
    const __m256i kCbB = _mm256_set1_epi32(3716089);
    const __m256i kCbG = _mm256_set1_epi32(-721713);
    const __m256i kCrG = _mm256_set1_epi32(-1497661);
    const __m256i k128 = _mm256_set1_epi32(128);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i k255 = _mm256_set1_epi32(255);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    for (int r = 0; r < 8; ++r) {
        const __m256i l = _mm256_cvtepu8_epi32(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + r * yStride)));
        const __m256i b = _mm256_sub_epi32(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + 8 * r))),
            k128);
        const __m256i c = _mm256_sub_epi32(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + 8 * r))),
            k128);
        __m256i red = _mm256_add_epi32(l, truncScaled(_mm256_mullo_epi32(c, kCrR)));
        __m256i green = _mm256_add_epi32(
            l, truncScaled(_mm256_add_epi32(_mm256_mullo_epi32(b, kCbG),
                                            _mm256_mullo_epi32(c, kCrG))));
        __m256i blue = _mm256_add_epi32(l, truncScaled(_mm256_mullo_epi32(b, kCbB)));
        red = _mm256_min_epi32(_mm256_max_epi32(red, zero), k255);
        green = _mm256_min_epi32(_mm256_max_epi32(green, zero), k255);
        blue = _mm256_min_epi32(_mm256_max_epi32(blue, zero), k255);
        const __m256i px = _mm256_or_si256(
            _mm256_or_si256(alpha, _mm256_slli_epi32(red, 16)),
            _mm256_or_si256(_mm256_slli_epi32(green, 8), blue));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + static_cast<long>(r) * outStride), px);
    }
}

// The samples of one block, transposed: v[c] holds column c, lane r row r,
// each as the range-limit look-up gives it less 128 (centredLevels). `last`
// is the zigzag position of the last non-zero AC coefficient (0: none); the
// coefficients after it are zero, so the transform can leave out what they
// would add. What it reads it sets to zero again.
SP_AVX2 inline void blockColumns(int16_t* coef, const float* quant, int last, __m256i v[8])
{
    if (last == 0) {
        // Without AC terms the transform leaves coef[0] * quant[0] everywhere.
        const __m256i flat = centredLevels(_mm256_set1_ps(coef[0] * quant[0]));
        coef[0] = 0;
        for (int c = 0; c < 8; ++c)
            v[c] = flat;
        return;
    }
    if (last <= 2) {
        // Only coef[0], coef[1] and coef[8]. The column pass turns column 0
        // (rows 0 and 1) into the even value a0 plus or minus the odd terms
        // of b0 (row r of the result in lane r), and leaves a1 everywhere in
        // column 1; the row pass then adds to or takes from every row the
        // odd terms of a1, the same for each row.
        const float a0 = coef[0] * quant[0];
        const float b0 = coef[8] * quant[8];
        const float a1 = coef[1] * quant[1];
        coef[0] = coef[1] = coef[8] = 0;
        const OddTerms o = oddTerms(_mm256_set1_ps(b0));
        // Lanes 0..7: t7, t6, t5, -t4, t4, -t5, -t6, -t7.
        __m256 odd = _mm256_blend_ps(o.t7, o.t6, 0x42);
        odd = _mm256_blend_ps(odd, o.t5, 0x24);
        odd = _mm256_blend_ps(odd, o.t4, 0x18);
        odd = _mm256_xor_ps(odd, _mm256_castsi256_ps(_mm256_setr_epi32(
                                     0, 0, 0, INT32_MIN, 0, INT32_MIN, INT32_MIN, INT32_MIN)));
        const __m256 column = _mm256_add_ps(_mm256_set1_ps(a0), odd);
        const OddTerms r = oddTerms(_mm256_set1_ps(a1));
        v[0] = centredLevels(_mm256_add_ps(column, r.t7));
        v[7] = centredLevels(_mm256_sub_ps(column, r.t7));
        v[1] = centredLevels(_mm256_add_ps(column, r.t6));
        v[6] = centredLevels(_mm256_sub_ps(column, r.t6));
        v[2] = centredLevels(_mm256_add_ps(column, r.t5));
        v[5] = centredLevels(_mm256_sub_ps(column, r.t5));
        v[4] = centredLevels(_mm256_add_ps(column, r.t4));
        v[3] = centredLevels(_mm256_sub_ps(column, r.t4));
        return;
    }
    __m256 f[8];
    // Zigzag positions up to 9 lie in rows and columns 0..3: both passes
    // then have zeros in inputs 4..7 (after the column pass, columns 4..7
    // are still zero), and rows 4..7 are neither read nor cleared.
    const bool quarter = last <= 9;
    for (int r = 0; r < (quarter ? 4 : 8); ++r) {
        __m128i* row = reinterpret_cast<__m128i*>(coef + 8 * r);
        const __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(row));
        _mm_storeu_si128(row, _mm_setzero_si128());
        f[r] = _mm256_mul_ps(_mm256_cvtepi32_ps(c), _mm256_loadu_ps(quant + 8 * r));
    }
    if (quarter) {
        halfButterflies(f);   // columns
        transpose(f);
        halfButterflies(f);   // rows; f[c] is now column c
    } else {
        butterflies(f);   // columns
        transpose(f);
        butterflies(f);   // rows; f[c] is now column c
    }
    for (int c = 0; c < 8; ++c)
        v[c] = centredLevels(f[c]);
}

SP_AVX2 void mcu444Block(int16_t coef[3][64], const float* const quant[3], const int last[3],
                         int* out, int outStride)
{
    __m256i y[8], cb[8], cr[8];
    blockColumns(coef[0], quant[0], last[0], y);
    blockColumns(coef[1], quant[1], last[1], cb);
    blockColumns(coef[2], quant[2], last[2], cr);

    const __m256i kCrR = _mm256_set1_epi32(2940143);
    const __m256i kCbB = _mm256_set1_epi32(3716089);
    const __m256i kCbG = _mm256_set1_epi32(-721713);
    const __m256i kCrG = _mm256_set1_epi32(-1497661);
    const __m256i k128 = _mm256_set1_epi32(128);
    const __m256i alpha = _mm256_set1_epi32(255);
    // y[c] + 128 is the luminance; cb[c] and cr[c] are already the
    // differences from 128 that the conversion needs.
    // Bytes B0..B3 G0..G3 R0..R3 A0..A3 of each half to four pixels.
    const __m256i interleave = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                                0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    __m256 px[8];
    for (int c = 0; c < 8; ++c) {
        const __m256i l = _mm256_add_epi32(y[c], k128);
        const __m256i b = cb[c];
        const __m256i r = cr[c];
        const __m256i red = _mm256_add_epi32(l, truncScaled(_mm256_mullo_epi32(r, kCrR)));
        const __m256i green = _mm256_add_epi32(
            l, truncScaled(_mm256_add_epi32(_mm256_mullo_epi32(b, kCbG),
                                            _mm256_mullo_epi32(r, kCrG))));
        const __m256i blue = _mm256_add_epi32(l, truncScaled(_mm256_mullo_epi32(b, kCbB)));
        // The saturating packs clamp each channel to 0..255 on the way.
        const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(blue, green),
                                                  _mm256_packus_epi32(red, alpha));
        px[c] = _mm256_castsi256_ps(_mm256_shuffle_epi8(bytes, interleave));
    }
    transpose(px);    // columns back to rows
    for (int r = 0; r < 8; ++r)
        _mm256_storeu_ps(reinterpret_cast<float*>(out + static_cast<long>(r) * outStride), px[r]);
}

} // namespace

#endif // SP_JPEG_X86

namespace JpegTransforms {

bool avx2Supported()
{
#if SP_JPEG_X86
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

void idctAvx2(const int16_t* coef, const float* quant, uint8_t* dst, int stride)
{
#if SP_JPEG_X86
    idctBlockAvx2(coef, quant, dst, stride);
#else
    (void)coef, (void)quant, (void)dst, (void)stride;
    std::abort();
#endif
}

void convert8x8Avx2(const uint8_t* y, int yStride, const uint8_t* cb, const uint8_t* cr, int* out,
                    int outStride)
{
#if SP_JPEG_X86
    convertBlockAvx2(y, yStride, cb, cr, out, outStride);
#else
    (void)y, (void)yStride, (void)cb, (void)cr, (void)out, (void)outStride;
    std::abort();
#endif
}

void mcu444Avx2(int16_t coef[3][64], const float* const quant[3], const int last[3],
                int* out, int outStride)
{
#if SP_JPEG_X86
    mcu444Block(coef, quant, last, out, outStride);
#else
    (void)coef, (void)quant, (void)last, (void)out, (void)outStride;
    std::abort();
#endif
}

} // namespace JpegTransforms
