// SPDX-License-Identifier: GPL-3.0-or-later
// One photographic 16 x 16 JPEG box, decoded and encoded by our codec and by
// libjpeg-turbo side by side. All contenders work on the very same scan:
// ours as raw data, libjpeg-turbo as a complete JFIF stream (tjDecompress2)
// and as an abbreviated image after a tables-only stream was loaded once,
// which is what raw mode amounts to. The argument is our quality: 90 (the
// grid encoder's) is scale factor 26 = libjpeg's quality 87, 100 is scale 0 =
// libjpeg's 100; the quantisation tables are identical either way.
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <turbojpeg.h>

#include <benchmark/benchmark.h>

#include "GridFormat.h"
#include "JPEGDecoder.h"
#include "JPEGEncoder.h"

namespace {

constexpr int kSide = 16;

unsigned char scaleOf(int quality)
{
    return static_cast<unsigned char>(GridFormat::jpegScaleForQuality(quality));
}

// libjpeg's quality for the same tables (its scale is 200 - 2 q above 50).
int libjpegQualityOf(int quality)
{
    return (200 - scaleOf(quality)) / 2;
}

using Bytes = std::vector<unsigned char>;

std::vector<int> photoBox()
{
    std::vector<int> px(kSide * kSide);
    unsigned s = 7;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            s = s * 1103515245u + 12345u;
            const int n = static_cast<int>((s >> 16) & 15) - 8;
            auto ch = [n](double v) {
                const int c = static_cast<int>(v) + n;
                return c < 0 ? 0 : (c > 255 ? 255 : c);
            };
            px[y * kSide + x] = ch(128 + 90 * std::sin(x * 0.5 + y * 0.2)) << 16
                                | ch(30 + 12 * y) << 8 | ch(128 + 80 * std::cos(x * 0.3 - y * 0.4));
        }
    return px;
}

std::vector<unsigned char> rgbOf(const std::vector<int>& px)
{
    std::vector<unsigned char> rgb(px.size() * 3);
    for (size_t i = 0; i < px.size(); ++i) {
        rgb[3 * i] = static_cast<unsigned char>(px[i] >> 16);
        rgb[3 * i + 1] = static_cast<unsigned char>(px[i] >> 8);
        rgb[3 * i + 2] = static_cast<unsigned char>(px[i]);
    }
    return rgb;
}

// The box as our raw data and as our JFIF stream (same scan).
struct Box
{
    std::vector<int> pixels = photoBox();
    Bytes raw, jfif, tablesOnly, abbreviated;

    explicit Box(int quality)
    {
        JPEGEncoder enc;
        enc.setScaleFactor(scaleOf(quality));
        Array<unsigned char, int> out;
        enc.encodeRaw(pixels.data(), kSide, kSide, out);
        raw.assign(out.data(), out.data() + out.count());
        enc.encode(pixels.data(), kSide, kSide, out);
        jfif.assign(out.data(), out.data() + out.count());

        // Split the JFIF stream: SOI + DQT + DHT + EOI carries the tables,
        // SOI + SOF0 + SOS + scan the image.
        tablesOnly = {0xFF, 0xD8};
        abbreviated = {0xFF, 0xD8};
        size_t i = 2;
        while (i + 4 <= jfif.size()) {
            const unsigned char marker = jfif[i + 1];
            const size_t end = i + 2 + (jfif[i + 2] << 8 | jfif[i + 3]);
            if (marker == 0xDB || marker == 0xC4)
                tablesOnly.insert(tablesOnly.end(), jfif.begin() + i, jfif.begin() + end);
            else if (marker == 0xC0)
                abbreviated.insert(abbreviated.end(), jfif.begin() + i, jfif.begin() + end);
            else if (marker == 0xDA) {
                abbreviated.insert(abbreviated.end(), jfif.begin() + i, jfif.end());
                break;
            }
            i = end;
        }
        tablesOnly.insert(tablesOnly.end(), {0xFF, 0xD9});
    }
};

const Box& box(int quality)
{
    static const Box b90(90);
    static const Box b100(100);
    return quality == 100 ? b100 : b90;
}

struct LibjpegError
{
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void onLibjpegError(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<LibjpegError*>(cinfo->err)->jump, 1);
}

// --- Decoding

// Second argument 0: the portable transforms instead of the AVX2 ones.
void BM_OurDecodeRaw(benchmark::State& state)
{
    const Box& b = box(static_cast<int>(state.range(0)));
    JPEGDecoder dec;
    dec.setVectorised(state.range(1) != 0);
    dec.setDecoderParams(scaleOf(static_cast<int>(state.range(0))), kSide, kSide);
    Array<int, int> out;
    for (auto _ : state) {
        dec.decodeRaw(b.raw.data(), static_cast<int>(b.raw.size()), out);
        benchmark::DoNotOptimize(out.data());
    }
    if (out.count() != kSide * kSide || dec.imageDamaged())
        state.SkipWithError("decode failed");
    state.counters["bytes"] = static_cast<double>(b.raw.size());
}
BENCHMARK(BM_OurDecodeRaw)->ArgsProduct({{90, 100}, {1, 0}});

void BM_TurboDecodeJfif(benchmark::State& state)
{
    const Box& b = box(static_cast<int>(state.range(0)));
    tjhandle tj = tjInitDecompress();
    std::vector<unsigned char> bgrx(kSide * kSide * 4);
    for (auto _ : state) {
        if (tjDecompress2(tj, b.jfif.data(), b.jfif.size(), bgrx.data(), kSide, 0, kSide,
                          TJPF_BGRX, 0)
            != 0) {
            state.SkipWithError(tjGetErrorStr2(tj));
            break;
        }
        benchmark::DoNotOptimize(bgrx.data());
    }
    tjDestroy(tj);
}
BENCHMARK(BM_TurboDecodeJfif)->Arg(90)->Arg(100);

void BM_TurboDecodePresetTables(benchmark::State& state)
{
    const Box& b = box(static_cast<int>(state.range(0)));
    jpeg_decompress_struct c;
    LibjpegError err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onLibjpegError;
    std::vector<unsigned char> bgrx(kSide * kSide * 4);
    if (setjmp(err.jump)) {
        state.SkipWithError("libjpeg error");
        jpeg_destroy_decompress(&c);
        return;
    }
    jpeg_create_decompress(&c);
    // Tables once, as raw mode has them built in.
    jpeg_mem_src(&c, b.tablesOnly.data(), static_cast<unsigned long>(b.tablesOnly.size()));
    if (jpeg_read_header(&c, FALSE) != JPEG_HEADER_TABLES_ONLY) {
        state.SkipWithError("tables-only stream not recognised");
        jpeg_destroy_decompress(&c);
        return;
    }
    for (auto _ : state) {
        jpeg_mem_src(&c, b.abbreviated.data(), static_cast<unsigned long>(b.abbreviated.size()));
        jpeg_read_header(&c, TRUE);
        c.out_color_space = JCS_EXT_BGRX;
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = bgrx.data() + c.output_scanline * kSide * 4;
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        benchmark::DoNotOptimize(bgrx.data());
    }
    jpeg_destroy_decompress(&c);
}
BENCHMARK(BM_TurboDecodePresetTables)->Arg(90)->Arg(100);

// --- Encoding

void BM_OurEncodeRaw(benchmark::State& state)
{
    const Box& b = box(static_cast<int>(state.range(0)));
    JPEGEncoder enc;
    enc.setScaleFactor(scaleOf(static_cast<int>(state.range(0))));
    Array<unsigned char, int> out;
    enc.prepare(kSide, kSide, out);
    for (auto _ : state) {
        enc.encodeRaw(b.pixels.data(), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(out.count());
}
BENCHMARK(BM_OurEncodeRaw)->Arg(90)->Arg(100);

void BM_TurboEncodeJfif(benchmark::State& state)
{
    const std::vector<unsigned char> rgb = rgbOf(box(90).pixels);
    const int quality = libjpegQualityOf(static_cast<int>(state.range(0)));
    tjhandle tj = tjInitCompress();
    unsigned char* buffer = tjAlloc(static_cast<int>(tjBufSize(kSide, kSide, TJSAMP_444)));
    for (auto _ : state) {
        unsigned long size = tjBufSize(kSide, kSide, TJSAMP_444);
        if (tjCompress2(tj, rgb.data(), kSide, 0, kSide, TJPF_RGB, &buffer, &size, TJSAMP_444,
                        quality, TJFLAG_NOREALLOC)
            != 0) {
            state.SkipWithError(tjGetErrorStr2(tj));
            break;
        }
        benchmark::DoNotOptimize(buffer);
    }
    tjFree(buffer);
    tjDestroy(tj);
}
BENCHMARK(BM_TurboEncodeJfif)->Arg(90)->Arg(100);

// libjpeg-turbo writing abbreviated images (no tables): the match for raw mode.
void BM_TurboEncodeWithoutTables(benchmark::State& state)
{
    const std::vector<unsigned char> rgb = rgbOf(box(90).pixels);
    const int quality = libjpegQualityOf(static_cast<int>(state.range(0)));
    jpeg_compress_struct c;
    LibjpegError err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onLibjpegError;
    std::vector<unsigned char> buffer(4096);
    if (setjmp(err.jump)) {
        state.SkipWithError("libjpeg error");
        jpeg_destroy_compress(&c);
        return;
    }
    jpeg_create_compress(&c);
    c.image_width = kSide;
    c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.comp_info[0].h_samp_factor = 1;
    c.comp_info[0].v_samp_factor = 1;
    c.write_JFIF_header = FALSE;
    jpeg_suppress_tables(&c, TRUE);
    for (auto _ : state) {
        unsigned char* mem = buffer.data();
        unsigned long size = buffer.size();
        jpeg_mem_dest(&c, &mem, &size);
        jpeg_start_compress(&c, FALSE);
        for (int y = 0; y < kSide; ++y) {
            JSAMPROW row = const_cast<unsigned char*>(rgb.data()) + y * kSide * 3;
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        benchmark::DoNotOptimize(mem);
    }
    jpeg_destroy_compress(&c);
}
BENCHMARK(BM_TurboEncodeWithoutTables)->Arg(90)->Arg(100);

} // namespace
