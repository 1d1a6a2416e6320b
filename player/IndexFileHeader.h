// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "Array.h"

class QIODevice;

// An index file lies beside its recording (the recording's path with "x"
// appended) and makes random seeking fast. All integers little-endian.
//
// Layout: a 24-byte header, the entry table (m_count entries of 32 bytes) at
// offset 24, then the key-frame records, each where its entry points.
//
// Header:
//   offset  0  4 bytes  magic 0x47430367
//           4  4 bytes  zero
//           8  8 bytes  entry count (a valid index has at least one)
//          16  1 byte   key-frame flags: 0x10 = zlib-compressed,
//                       0x01 = grid-codec data (else raw 32-bit pixels)
//          17  7 bytes  zero
class IndexFileHeader
{
public:
    static constexpr int SIZE = 24;
    static constexpr uint32_t MAGIC = 0x47430367;
    static constexpr unsigned char FLAG_GRID = 0x01;
    static constexpr unsigned char FLAG_COMPRESSED = 0x10;
    // What the index builder writes: grid-coded and compressed.
    static constexpr unsigned char FLAGS_DEFAULT = FLAG_GRID | FLAG_COMPRESSED;

    IndexFileHeader();
    virtual ~IndexFileHeader();

    // Magic, count and flags 0.
    void clear();
    // `out` sized to 24 and filled (zeros where no field is).
    void composeHeaderData(Array<unsigned char, int>& out) const;
    void decomposeHeaderData(const unsigned char* data);

    // Composes into the own buffer and writes it at the device's position;
    // false when not all 24 bytes were written.
    bool write(QIODevice& device);
    // Reads 24 bytes at the device's position into the own buffer and decodes
    // them; false (fields cleared) when fewer than 24 bytes could be read.
    // Throws FileCantReadException on a read error.
    bool read(QIODevice& device);

    uint32_t m_magic = 0;
    uint64_t m_count = 0;
    unsigned char m_flags = 0;
    Array<unsigned char, int> m_data;
};

// One entry of the table, 32 bytes:
//   offset  0  8 bytes  time (ms) of the unit after which the key frame was taken
//           8  8 bytes  offset of that unit's header in the recording
//          16  8 bytes  offset of the key-frame record in the index file
//          24  8 bytes  key-frame data length (without the 5-byte prefix);
//                       0 marks an empty entry
//
// Key-frame record at m_indexPos: width (2, big-endian), height (2,
// big-endian), the JPEG scale factor the key frame was encoded with (1), then
// m_size bytes of data encoded as the header's flags say. The 5-byte prefix is
// the screen header of the grid codec.
class IndexEntryPoint
{
public:
    static constexpr int SIZE = 32;
    static constexpr int PREFIX_SIZE = 5;

    IndexEntryPoint() = default;
    virtual ~IndexEntryPoint() = default;

    void clear() { m_time = m_filePos = m_indexPos = m_size = 0; }
    // `out` sized to 32 and filled.
    void composeHeaderData(Array<unsigned char, int>& out) const;
    void decomposeHeaderData(const unsigned char* data);

    uint64_t m_time = 0;
    uint64_t m_filePos = 0;
    uint64_t m_indexPos = 0;
    uint64_t m_size = 0;
};
