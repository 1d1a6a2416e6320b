// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// A bounded cursor over untrusted bytes: every parser of file data reads
// through one (the unit and index headers, the grid decoder, the cursor
// record, the JFIF headers and the JPEG bit reader). Each read first checks
// that the bytes are there; a read that would pass the end returns false and
// leaves the cursor where it was, so a truncated input can never be read
// beyond its length. Files are read into memory with DeviceReader first.
//
// Header only, so that the per-byte reads of the hot loops inline.
class ByteReader
{
public:
    ByteReader(const unsigned char* data, int length)
        : m_data(data), m_length(data && length > 0 ? length : 0)
    {
    }

    int position() const { return m_pos; }
    int length() const { return m_length; }
    int remaining() const { return m_length - m_pos; }
    bool atEnd() const { return m_pos >= m_length; }
    const unsigned char* current() const { return m_data + m_pos; }

    // True when n more bytes can be read (n may be 0; a negative n never fits).
    bool has(int n) const { return n >= 0 && n <= m_length - m_pos; }

    bool skip(int n)
    {
        if (!has(n))
            return false;
        m_pos += n;
        return true;
    }

    bool seek(int pos)
    {
        if (pos < 0 || pos > m_length)
            return false;
        m_pos = pos;
        return true;
    }

    bool readU8(unsigned& v)
    {
        if (!has(1))
            return false;
        v = m_data[m_pos++];
        return true;
    }

    // The byte `offset` bytes ahead, without moving.
    bool peekU8(int offset, unsigned& v) const
    {
        if (offset < 0 || !has(offset + 1))
            return false;
        v = m_data[m_pos + offset];
        return true;
    }

    bool readU16BE(unsigned& v) { return readBE(2, v); }
    bool readU32BE(uint32_t& v)
    {
        unsigned u = 0;
        if (!readBE(4, u))
            return false;
        v = u;
        return true;
    }
    bool readU16LE(unsigned& v)
    {
        uint64_t u = 0;
        if (!readLE(2, u))
            return false;
        v = static_cast<unsigned>(u);
        return true;
    }
    bool readU32LE(uint32_t& v)
    {
        uint64_t u = 0;
        if (!readLE(4, u))
            return false;
        v = static_cast<uint32_t>(u);
        return true;
    }
    bool readU64LE(uint64_t& v) { return readLE(8, v); }

    // Copies the next n bytes to dst and moves past them.
    bool readBytes(unsigned char* dst, int n)
    {
        const unsigned char* p = nullptr;
        if (!take(n, p))
            return false;
        for (int i = 0; i < n; ++i)
            dst[i] = p[i];
        return true;
    }

    // Points `out` at the next n bytes and moves past them.
    bool take(int n, const unsigned char*& out)
    {
        if (!has(n))
            return false;
        out = m_data + m_pos;
        m_pos += n;
        return true;
    }

private:
    bool readBE(int n, unsigned& v)
    {
        if (!has(n))
            return false;
        unsigned r = 0;
        for (int i = 0; i < n; ++i)
            r = (r << 8) | m_data[m_pos + i];
        m_pos += n;
        v = r;
        return true;
    }

    bool readLE(int n, uint64_t& v)
    {
        if (!has(n))
            return false;
        uint64_t r = 0;
        for (int i = n - 1; i >= 0; --i)
            r = (r << 8) | m_data[m_pos + i];
        m_pos += n;
        v = r;
        return true;
    }

    const unsigned char* m_data;
    int m_length;
    int m_pos = 0;
};
