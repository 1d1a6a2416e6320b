// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegTransforms.h"

#include <cstring>

namespace {

// The AAN inverse butterfly on eight vectors of eight lanes: vector i is
// w[8 * i] .. w[8 * i + 7], the lanes are independent.
inline void inverseButterflies(float* w)
{
    for (int c = 0; c < 8; ++c) {
        float* p = w + c;
        float t0 = p[0];
        float t1 = p[16];
        float t2 = p[32];
        float t3 = p[48];
        float t10 = t0 + t2;
        float t11 = t0 - t2;
        float t13 = t1 + t3;
        float t12 = (t1 - t3) * 1.414213562f - t13;
        t0 = t10 + t13;
        t3 = t10 - t13;
        t1 = t11 + t12;
        t2 = t11 - t12;

        float t4 = p[8];
        float t5 = p[24];
        float t6 = p[40];
        float t7 = p[56];
        const float z13 = t6 + t5;
        const float z10 = t6 - t5;
        const float z11 = t4 + t7;
        const float z12 = t4 - t7;
        t7 = z11 + z13;
        t11 = (z11 - z13) * 1.414213562f;
        const float z5 = (z10 + z12) * 1.847759065f;
        t10 = 1.082392200f * z12 - z5;
        t12 = -2.613125930f * z10 + z5;
        t6 = t12 - t7;
        t5 = t11 - t6;
        t4 = t10 + t5;

        p[0] = t0 + t7;
        p[56] = t0 - t7;
        p[8] = t1 + t6;
        p[48] = t1 - t6;
        p[16] = t2 + t5;
        p[40] = t2 - t5;
        p[32] = t3 + t4;
        p[24] = t3 - t4;
    }
}

JpegTransforms::ColourTables buildTables()
{
    JpegTransforms::ColourTables t;
    for (int i = 0; i < 256; ++i) {
        t.crToR[i] = static_cast<int>((i - 128) * 1.402);
        t.cbToB[i] = static_cast<int>((i - 128) * 1.772);
    }
    for (int cr = 0; cr < 256; ++cr)
        for (int cb = 0; cb < 256; ++cb)
            t.cbcrToG[cr << 8 | cb] = static_cast<short>((cb - 128) * -0.34414 - (cr - 128) * 0.71414);

    // Colour conversion indexes the range limit directly (clamping); the IDCT
    // indexes it at +128 after masking with 0x3FF, which level-shifts and
    // clamps in one look-up (negative values wrap into the upper part).
    uint8_t* r = t.range;
    std::memset(r, 0, 256);
    for (int i = 0; i < 256; ++i)
        r[256 + i] = static_cast<uint8_t>(i);
    std::memset(r + 512, 255, 384);
    std::memset(r + 896, 0, 384);
    for (int i = 0; i < 128; ++i)
        r[1280 + i] = static_cast<uint8_t>(i);
    return t;
}

} // namespace

namespace JpegTransforms {

const ColourTables& colourTables()
{
    static const ColourTables tables = buildTables();
    return tables;
}

void idct(const int16_t* coef, const float* quant, uint8_t* dst, int stride)
{
    alignas(32) float ws[64];
    for (int k = 0; k < 64; ++k)
        ws[k] = coef[k] * quant[k];

    // Columns, then (after a transpose) rows, each time all eight lanes side
    // by side so that the compiler vectorises the butterflies.
    alignas(32) float tr[64];
    inverseButterflies(ws);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            tr[8 * c + r] = ws[8 * r + c];
    inverseButterflies(tr);

    // tr[8 * c + r] is output row r, column c, times 8 and without the level
    // shift, which the range-limit look-up adds while clamping.
    const uint8_t* limit = colourTables().limit() + 128;
    alignas(32) int v[64];
    for (int k = 0; k < 64; ++k)
        v[k] = ((static_cast<int>(tr[k]) + 4) >> 3) & 0x3FF;
    for (int r = 0; r < 8; ++r) {
        uint8_t* out = dst + r * stride;
        for (int c = 0; c < 8; ++c)
            out[c] = limit[v[8 * c + r]];
    }
}

void convert8x8(const uint8_t* y, int yStride, const uint8_t* cb, const uint8_t* cr, int* out,
                int outStride)
{
    const ColourTables& t = colourTables();
    const uint8_t* limit = t.limit();
    for (int r = 0; r < 8; ++r, y += yStride, cb += 8, cr += 8, out += outStride) {
        for (int x = 0; x < 8; ++x) {
            const int l = y[x];
            const unsigned red = limit[l + t.crToR[cr[x]]];
            const unsigned grn = limit[l + t.cbcrToG[cr[x] << 8 | cb[x]]];
            const unsigned blu = limit[l + t.cbToB[cb[x]]];
            out[x] = static_cast<int>(0xFF000000u | red << 16 | grn << 8 | blu);
        }
    }
}

} // namespace JpegTransforms
