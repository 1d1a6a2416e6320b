// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

#include "Array.h"

// A recording is one file: a 32-byte file header, then units up to the end of
// the file, each a 24-byte unit header followed by its payload. The container
// is little-endian throughout.
//
// File header:
//   offset  0  4 bytes  magic 0x77ABCDEF
//           4  4 bytes  not interpreted
//           8  8 bytes  duration in ms
//          16 16 bytes  session id, ASCII, up to the first NUL or the field's end
class RecordFileHeader
{
public:
    static constexpr int SIZE = 32;
    static constexpr uint32_t MAGIC = 0x77ABCDEF;
    static constexpr int SESSION_ID_SIZE = 16;

    RecordFileHeader();
    virtual ~RecordFileHeader();

    void clear();

    // Decodes the 32 bytes at `data` (the caller has read them; the decoding
    // reads none beyond). No check: the caller compares m_magic.
    void decomposeHeaderData(const unsigned char* data);
    // The 32 bytes of this header (bytes 4..7 zero); `out` is sized to 32.
    void composeHeaderData(Array<unsigned char, int>& out) const;

    bool hasValidMagic() const { return m_magic == MAGIC; }
    // The id up to its first NUL, at most 16 characters, Latin-1.
    QString sessionId() const;
    // Stores up to 16 bytes of `id` (the rest of the field NUL).
    void setSessionId(const QByteArray& id);

    uint32_t m_magic = 0;
    uint64_t m_duration = 0;
    unsigned char m_sessionId[SESSION_ID_SIZE];
    // The raw bytes are read into this buffer and decoded from there.
    Array<unsigned char, int> m_data;
};

// Unit header, 24 bytes:
//   offset  0  1 byte   type: kind in the low four bits, 0x10 = compressed
//           1  3 bytes  not interpreted
//           4  2 bytes  audio channel count (audio kinds only)
//           6  2 bytes  not interpreted
//           8  8 bytes  time in ms since the start of the recording
//          16  8 bytes  payload size in bytes (as stored in the file)
//
// Valid types are exactly 1..5 and 0x11..0x15. Once a compressed unit has
// been read, the in-memory header describes the inflated payload: m_size is
// its length and the flag 0x10 is cleared.
class RecordUnitHeader
{
public:
    static constexpr int SIZE = 24;
    static constexpr unsigned char FLAG_COMPRESSED = 0x10;

    enum Kind {
        KIND_CONTROL = 1,
        KIND_SCREEN = 2,
        KIND_INFO = 3,
        KIND_AUDIO_CAP = 4,
        KIND_AUDIO_SPK = 5
    };

    RecordUnitHeader();
    virtual ~RecordUnitHeader();

    void clear();

    // Decodes the 24 bytes at `data`.
    void decomposeHeaderData(const unsigned char* data);
    // The 24 bytes of this header (uninterpreted bytes zero); `out` is sized to 24.
    void composeHeaderData(Array<unsigned char, int>& out) const;

    static bool isValidType(unsigned type)
    {
        return (type >= 1 && type <= 5) || (type >= 0x11 && type <= 0x15);
    }
    bool isValid() const { return isValidType(m_type); }
    bool isCompressed() const { return (m_type & FLAG_COMPRESSED) != 0; }
    // The kind of a valid type (1..5); meaningless for an invalid one.
    int kind() const { return m_type & 0x0F; }

    unsigned char m_type = 0;
    uint16_t m_channels = 0;
    uint64_t m_time = 0;
    uint64_t m_size = 0;
    Array<unsigned char, int> m_data;
};
