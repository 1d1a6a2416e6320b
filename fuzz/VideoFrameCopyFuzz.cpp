// SPDX-License-Identifier: GPL-3.0-or-later
// VideoFrame::copy with any int offsets and sizes between two small images
// held in buffers of exactly their size (so AddressSanitizer sees any byte
// outside them). Every destination pixel must end up as the pixel-by-pixel
// reference says: the source pixel under it when it lies inside the
// rectangle and inside both images, untouched otherwise.
//
// Input: destination width and height, source width and height (one byte
// each, 0..63), then dstX, dstY, width, height, srcX, srcY as 32-bit
// little-endian ints; missing bytes count as zero.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VideoFrame.h"

namespace {

int32_t intAt(const uint8_t* data, size_t size, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        if (at + i < size)
            v |= uint32_t(data[at + i]) << (8 * i);
    int32_t r;
    std::memcpy(&r, &v, sizeof r);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto byteAt = [&](size_t i) { return i < size ? int(data[i] & 63) : 0; };
    const int dstW = byteAt(0), dstH = byteAt(1), srcW = byteAt(2), srcH = byteAt(3);
    const int32_t dstX = intAt(data, size, 4), dstY = intAt(data, size, 8);
    const int32_t width = intAt(data, size, 12), height = intAt(data, size, 16);
    const int32_t srcX = intAt(data, size, 20), srcY = intAt(data, size, 24);

    const unsigned int kUntouched = 0xDEADBEEFu;
    std::vector<unsigned int> dst(size_t(dstW) * dstH, kUntouched);
    std::vector<unsigned int> src(size_t(srcW) * srcH);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = 0x01000000u + unsigned(i);
    // Empty images are passed as null, as an empty VideoFrame gives them.
    VideoFrame::copy(dst.empty() ? nullptr : dst.data(), dstW, dstH,
                     src.empty() ? nullptr : src.data(), srcW, srcH, dstX, dstY, width, height,
                     srcX, srcY);

    for (long long y = 0; y < dstH; ++y) {
        for (long long x = 0; x < dstW; ++x) {
            const long long sx = x - dstX + srcX, sy = y - dstY + srcY;
            const bool inside = x >= dstX && x < static_cast<long long>(dstX) + width && y >= dstY
                                && y < static_cast<long long>(dstY) + height && sx >= 0
                                && sx < srcW && sy >= 0 && sy < srcH;
            const unsigned int expected = inside ? src[size_t(sy * srcW + sx)] : kUntouched;
            if (dst[size_t(y * dstW + x)] != expected)
                std::abort();
        }
    }
    return 0;
}
