// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the JFIF decoder. A refused stream must leave the
// output untouched; an accepted one must produce exactly the picture its
// header announced, within the decoder's size limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "JPEGDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x100000)
        return 0;
    static JPEGDecoder decoder;
    Array<int, int> out;
    out.append(0x5A5A5A5A);
    decoder.decode(data, static_cast<int>(size), out);
    if (!decoder.lastError().isEmpty()) {
        if (out.count() != 1 || out[0] != 0x5A5A5A5A)
            std::abort();
        return 0;
    }
    if (out.count() <= 0 || out.count() > JPEGDecoder::kMaxPixels)
        std::abort();
    return 0;
}
