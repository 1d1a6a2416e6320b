// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the difference-run decoder. Input layout: frame width - 1, frame
// height - 1 (one byte each), then the run bytes. A decoded run list must
// apply cleanly to a frame of exactly that size and encode back to the very
// same bytes.

#include "VideoFrame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (1u << 20))
        return 0;
    const int width = 1 + data[0], height = 1 + data[1];
    const int length = static_cast<int>(size - 2);
    Array<unsigned int, int> runs;
    if (!VideoFrame::uncompactDifferences(data + 2, length, width, height, runs)) {
        if (runs.count() != 0)
            abort(); // a refused input must leave no partial result
        return 0;
    }
    std::vector<unsigned int> frame(static_cast<size_t>(width) * height, 0xFF000000u);
    if (!VideoFrame::mergeDifferences(frame.data(), width, height, runs)
        || !VideoFrame::lightenDifferences(frame.data(), width, height, runs, 0x010101u))
        abort();
    Array<unsigned char, int> bytes;
    if (!VideoFrame::compactDifferences(runs, bytes) || bytes.count() != length
        || (length > 0 && std::memcmp(bytes.data(), data + 2, static_cast<size_t>(length)) != 0))
        abort();
    return 0;
}
