#pragma once

#include <cstdint>

// Fixed-width little-endian fields of the recording and index containers.
// The callers decode headers whose whole size they have already checked.
namespace LittleEndian {

// The n-byte (n <= 8) little-endian value at p.
inline uint64_t read(const unsigned char* p, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// Stores the low n bytes of v at p, least significant first.
inline void write(unsigned char* p, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i, v >>= 8)
        p[i] = static_cast<unsigned char>(v & 0xFF);
}

} // namespace LittleEndian
