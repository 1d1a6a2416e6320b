// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordFileHeader.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

#include "ByteReader.h"
#include "LittleEndian.h"

namespace {

void sizeZeroed(Array<unsigned char, int>& out, int n)
{
    out.setCount(n);
    std::memset(out.data(), 0, static_cast<size_t>(n));
}

} // namespace

RecordFileHeader::RecordFileHeader()
{
    std::memset(m_sessionId, 0, sizeof m_sessionId);
}

RecordFileHeader::~RecordFileHeader() = default;

void RecordFileHeader::clear()
{
    m_magic = 0;
    m_duration = 0;
    std::memset(m_sessionId, 0, sizeof m_sessionId);
}

void RecordFileHeader::decomposeHeaderData(const unsigned char* data)
{
    ByteReader in(data, SIZE);
    in.readU32LE(m_magic);
    in.skip(4);
    in.readU64LE(m_duration);
    in.readBytes(m_sessionId, SESSION_ID_SIZE);
}

void RecordFileHeader::composeHeaderData(Array<unsigned char, int>& out) const
{
    sizeZeroed(out, SIZE);
    LittleEndian::write(out.data(), m_magic, 4);
    LittleEndian::write(out.data() + 8, m_duration, 8);
    std::memcpy(out.data() + 16, m_sessionId, SESSION_ID_SIZE);
}

QString RecordFileHeader::sessionId() const
{
    const void* nul = std::memchr(m_sessionId, 0, SESSION_ID_SIZE);
    const int n = nul ? static_cast<int>(static_cast<const unsigned char*>(nul) - m_sessionId)
                      : SESSION_ID_SIZE;
    return QString::fromLatin1(reinterpret_cast<const char*>(m_sessionId), n);
}

void RecordFileHeader::setSessionId(const QByteArray& id)
{
    std::memset(m_sessionId, 0, sizeof m_sessionId);
    std::memcpy(m_sessionId, id.constData(),
                static_cast<size_t>(std::min<qsizetype>(id.size(), SESSION_ID_SIZE)));
}

RecordUnitHeader::RecordUnitHeader() = default;

RecordUnitHeader::~RecordUnitHeader() = default;

void RecordUnitHeader::clear()
{
    m_type = 0;
    m_channels = 0;
    m_time = 0;
    m_size = 0;
}

void RecordUnitHeader::decomposeHeaderData(const unsigned char* data)
{
    ByteReader in(data, SIZE);
    unsigned type = 0, channels = 0;
    in.readU8(type);
    in.skip(3);
    in.readU16LE(channels);
    in.skip(2);
    in.readU64LE(m_time);
    in.readU64LE(m_size);
    m_type = static_cast<unsigned char>(type);
    m_channels = static_cast<uint16_t>(channels);
}

void RecordUnitHeader::composeHeaderData(Array<unsigned char, int>& out) const
{
    sizeZeroed(out, SIZE);
    out[0] = m_type;
    LittleEndian::write(out.data() + 4, m_channels, 2);
    LittleEndian::write(out.data() + 8, m_time, 8);
    LittleEndian::write(out.data() + 16, m_size, 8);
}
