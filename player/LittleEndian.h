// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Writing the fixed-width little-endian fields of the recording and index
// containers (reading goes through ByteReader).
namespace LittleEndian {

// Stores the low n bytes of v at p, least significant first.
inline void write(unsigned char* p, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i, v >>= 8)
        p[i] = static_cast<unsigned char>(v & 0xFF);
}

} // namespace LittleEndian
