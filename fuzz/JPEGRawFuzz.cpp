// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the raw-mode JPEG decoder, as the grid decoder does
// with the JPEG boxes of a recording. Byte 0 is the scale factor, byte 1
// picks the image size (16 x 16, the size the grid codec uses, for most
// values); the rest is the entropy-coded data. Whatever the data, the call
// must stay within it and deliver exactly width x height opaque pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "JPEGDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 0x10000)
        return 0;
    static JPEGDecoder decoder;     // reused, as the grid decoder reuses its own
    int width = 16, height = 16;
    if (data[1] >= 0xC0) {
        width = 1 + (data[1] & 7) * 5;
        height = 1 + ((data[1] >> 3) & 7) * 3;
    }
    decoder.setDecoderParams(data[0], width, height);

    Array<int, int> out;
    decoder.decodeRaw(data + 2, static_cast<int>(size - 2), out);
    if (!decoder.lastError().isEmpty() || out.count() != width * height)
        std::abort();
    for (int i = 0; i < out.count(); ++i)
        if ((static_cast<unsigned>(out[i]) >> 24) != 0xFF)
            std::abort();
    return 0;
}
