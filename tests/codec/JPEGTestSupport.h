// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test images and the libjpeg-turbo judge shared by the JPEG decoder and
// encoder tests. libjpeg-turbo is a test dependency only.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <turbojpeg.h>

#include "Array.h"

namespace jpegtest {

using Bytes = std::vector<unsigned char>;

inline Bytes bytesOf(const Array<unsigned char, int>& a) { return Bytes(a.data(), a.data() + a.count()); }

// Photographic-like content (0x00RRGGBB): smooth gradients, a few soft waves
// and, with noise, a little deterministic grain.
inline std::vector<int> photoImage(int w, int h, unsigned seed = 1, bool noise = true)
{
    std::vector<int> px(static_cast<size_t>(w) * h);
    unsigned s = seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1103515245u + 12345u;
            const int n = noise ? static_cast<int>((s >> 16) & 7) - 3 : 0;
            auto ch = [&](double v) {
                const int c = static_cast<int>(v) + n;
                return c < 0 ? 0 : (c > 255 ? 255 : c);
            };
            const int r = ch(128 + 90 * std::sin(x * 0.21 + y * 0.05));
            const int g = ch(40 + 170.0 * y / (h > 1 ? h - 1 : 1));
            const int b = ch(128 + 80 * std::cos(x * 0.07 - y * 0.17));
            px[static_cast<size_t>(y) * w + x] = r << 16 | g << 8 | b;
        }
    return px;
}

// Baseline JFIF written by libjpeg-turbo with the standard Huffman tables
// (or, `optimize`, tables fitted to the image); Y sampled hs x vs, chroma
// 1 x 1. Our inputs are always valid, so a libjpeg error ends the test
// program (its default handler).
inline Bytes libjpegEncode(const std::vector<int>& px, int w, int h, int quality, int hs = 1,
                           int vs = 1, int restartInterval = 0, bool optimize = false)
{
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < px.size(); ++i) {
        rgb[3 * i] = static_cast<unsigned char>(px[i] >> 16);
        rgb[3 * i + 1] = static_cast<unsigned char>(px[i] >> 8);
        rgb[3 * i + 2] = static_cast<unsigned char>(px[i]);
    }
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.comp_info[0].h_samp_factor = hs;
    c.comp_info[0].v_samp_factor = vs;
    c.restart_interval = static_cast<unsigned>(restartInterval);
    c.optimize_coding = optimize ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = rgb.data() + static_cast<size_t>(c.next_scanline) * w * 3;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

// libjpeg-turbo's decode as 0x00RRGGBB; empty when it refuses the stream.
inline std::vector<int> turboDecode(const Bytes& jpeg, int& w, int& h,
                                    int flags = TJFLAG_ACCURATEDCT)
{
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    std::vector<int> px;
    if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs) == 0) {
        std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
        if (tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), w, 0, h, TJPF_RGB, flags) == 0) {
            px.resize(static_cast<size_t>(w) * h);
            for (size_t i = 0; i < px.size(); ++i)
                px[i] = rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
        }
    }
    tjDestroy(tj);
    return px;
}

// Per-channel differences of n pixels: the largest, the mean, and the PSNR.
struct ChannelDiff
{
    int max = 0;
    double mean = 0;
    double psnr = 99.0;
};

inline ChannelDiff compare(const int* a, const int* b, size_t n)
{
    ChannelDiff d;
    double sum = 0, squares = 0;
    for (size_t i = 0; i < n; ++i)
        for (int shift = 0; shift <= 16; shift += 8) {
            const int e = std::abs(((a[i] >> shift) & 0xFF) - ((b[i] >> shift) & 0xFF));
            d.max = e > d.max ? e : d.max;
            sum += e;
            squares += static_cast<double>(e) * e;
        }
    d.mean = sum / (3.0 * static_cast<double>(n));
    if (squares > 0)
        d.psnr = 10 * std::log10(255.0 * 255.0 * 3.0 * static_cast<double>(n) / squares);
    return d;
}

// Position of the first marker FF `code` at or after `from`.
inline size_t markerAt(const Bytes& b, unsigned char code, size_t from = 2)
{
    for (size_t i = from; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == code)
            return i;
    return std::string::npos;
}

} // namespace jpegtest
