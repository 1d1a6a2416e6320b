// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions between the frame format and other pixel layouts: bottom-up
// bitmaps, YUY2 and packed 3-byte pixels.

#include "VideoFrame.h"

#include <cstring>

#include "ImagePixels.h"

using imaging::blue;
using imaging::green;
using imaging::red;
using imaging::rgb;

namespace {

// Clipping table for the YUV -> RGB sums: entry i holds i - kClipBias limited
// to 0..255. The sums of studio-range input lie within -277 .. 535, so a
// bias of 384 keeps every index inside and every shifted sum positive.
constexpr int kClipBias = 384;

struct ClipTable {
    unsigned char v[1024];
    ClipTable()
    {
        for (int i = 0; i < 1024; ++i)
            v[i] = static_cast<unsigned char>(imaging::clampByte(i - kClipBias));
    }
};

const ClipTable& clipTable()
{
    static const ClipTable table;
    return table;
}

unsigned int yuvToPixel(int y, int u, int v, const unsigned char* clip)
{
    const int luma = 76309 * (y - 16) + (kClipBias << 16) + 32768;
    const int r = clip[(luma + 104595 * (v - 128)) >> 16];
    const int g = clip[(luma - 25625 * (u - 128) - 53281 * (v - 128)) >> 16];
    const int b = clip[(luma + 132252 * (u - 128)) >> 16];
    return rgb(r, g, b);
}

int lumaOf(unsigned int p)
{
    return ((16829 * red(p) + 33039 * green(p) + 6416 * blue(p) + 32768) >> 16) + 16;
}

// Chroma sums in 16.16 without the 128 offset.
int chromaU(unsigned int p) { return -9714 * red(p) - 19070 * green(p) + 28784 * blue(p); }
int chromaV(unsigned int p) { return 28784 * red(p) - 24103 * green(p) - 4681 * blue(p); }

// Mean of two 16.16 chroma sums, offset and rounded.
unsigned char chromaByte(int sumOfTwo)
{
    return static_cast<unsigned char>(imaging::clampByte((sumOfTwo + (128 << 17) + 65536) >> 17));
}

} // namespace

int VideoFrame::yuy2Size(int width, int height)
{
    if (width <= 0 || height <= 0)
        return -1;
    const long long bytes = (width + 1LL) / 2 * 4 * height;
    return bytes > INT_MAX ? -1 : static_cast<int>(bytes);
}

bool VideoFrame::setBitmapPixels(const unsigned char* data, int dataLength, int width,
                                 int height, int bits, unsigned int format, unsigned int* out)
{
    if (!data || dataLength < 0 || imaging::pixelCount(out, width, height) < 0)
        return false;
    if (bits == 16 && format == FORMAT_YUY2) {
        const int needed = yuy2Size(width, height);
        if (needed < 0 || dataLength < needed)
            return false;
        convertYUY2toRGB(data, width, height, out); // reads the rows bottom-up itself
        return true;
    }
    long long stride = 0;
    if (bits == 16)
        stride = (width + 1LL) / 2 * 2 * 2;
    else if (bits == 24)
        stride = (width * 3LL + 3) / 4 * 4;
    else if (bits == 32)
        stride = width * 4LL;
    else
        return false;
    if (stride * height > dataLength)
        return false;

    for (int r = 0; r < height; ++r) {
        const unsigned char* in = data + r * stride;
        unsigned int* row = out + static_cast<long long>(height - 1 - r) * width;
        for (int x = 0; x < width; ++x) {
            if (bits == 16) {
                // 5-6-5, little-endian; each field widened by repeating its
                // top bits so that full scale becomes 255.
                const unsigned int v = in[2 * x] | (in[2 * x + 1] << 8);
                const int r5 = (v >> 11) & 31, g6 = (v >> 5) & 63, b5 = v & 31;
                row[x] = rgb((r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2));
            } else if (bits == 24) {
                row[x] = rgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
            } else {
                row[x] = static_cast<unsigned int>(in[4 * x]) | (in[4 * x + 1] << 8)
                    | (in[4 * x + 2] << 16) | (static_cast<unsigned int>(in[4 * x + 3]) << 24);
            }
        }
    }
    return true;
}

void VideoFrame::convertYUY2toRGB(const unsigned char* src, int width, int height,
                                  unsigned int* dst)
{
    if (!src || imaging::pixelCount(dst, width, height) < 0 || yuy2Size(width, height) < 0)
        return;
    const unsigned char* clip = clipTable().v;
    const int pairs = (width + 1) / 2;
    for (int r = 0; r < height; ++r) {
        const unsigned char* in = src + static_cast<long long>(r) * pairs * 4;
        unsigned int* out = dst + static_cast<long long>(height - 1 - r) * width;
        for (int p = 0; p < pairs; ++p) {
            const unsigned char* q = in + 4 * p;
            out[2 * p] = yuvToPixel(q[0], q[1], q[3], clip);
            if (2 * p + 1 >= width)
                break;
            // The second pixel sits between this pair's chroma sample and the
            // next one's; the last pair has only its own.
            int u = q[1], v = q[3];
            if (p + 1 < pairs) {
                u = (u + q[5] + 1) / 2;
                v = (v + q[7] + 1) / 2;
            }
            out[2 * p + 1] = yuvToPixel(q[2], u, v, clip);
        }
    }
}

void VideoFrame::convertRGBtoYUY2(const unsigned int* src, int width, int height,
                                  unsigned char* dst)
{
    if (!dst || imaging::pixelCount(src, width, height) < 0 || yuy2Size(width, height) < 0)
        return;
    const int pairs = (width + 1) / 2;
    for (int r = 0; r < height; ++r) {
        const unsigned int* in = src + static_cast<long long>(height - 1 - r) * width;
        unsigned char* out = dst + static_cast<long long>(r) * pairs * 4;
        for (int p = 0; p < pairs; ++p) {
            const unsigned int a = in[2 * p];
            const unsigned int b = 2 * p + 1 < width ? in[2 * p + 1] : a;
            out[4 * p] = static_cast<unsigned char>(lumaOf(a));
            out[4 * p + 1] = chromaByte(chromaU(a) + chromaU(b));
            out[4 * p + 2] = static_cast<unsigned char>(lumaOf(b));
            out[4 * p + 3] = chromaByte(chromaV(a) + chromaV(b));
        }
    }
}

void VideoFrame::compactFrame(const unsigned int* src, int width, int height, unsigned char* dst)
{
    const int n = imaging::pixelCount(src, width, height);
    if (!dst || n < 0)
        return;
    for (long long i = 0; i < n; ++i) {
        dst[3 * i] = static_cast<unsigned char>(red(src[i]));
        dst[3 * i + 1] = static_cast<unsigned char>(green(src[i]));
        dst[3 * i + 2] = static_cast<unsigned char>(blue(src[i]));
    }
}

void VideoFrame::compactFrameBGR(const unsigned int* src, int width, int height,
                                 unsigned char* dst)
{
    const int n = imaging::pixelCount(src, width, height);
    if (!dst || n < 0)
        return;
    for (long long i = 0; i < n; ++i) {
        dst[3 * i] = static_cast<unsigned char>(blue(src[i]));
        dst[3 * i + 1] = static_cast<unsigned char>(green(src[i]));
        dst[3 * i + 2] = static_cast<unsigned char>(red(src[i]));
    }
}

bool VideoFrame::uncompactFrame(unsigned int* dst, int width, int height,
                                const unsigned char* src, int srcLength)
{
    const int n = imaging::pixelCount(dst, width, height);
    if (!src || n < 0 || srcLength < 3LL * n)
        return false;
    for (long long i = 0; i < n; ++i)
        dst[i] = rgb(src[3 * i], src[3 * i + 1], src[3 * i + 2]);
    return true;
}
