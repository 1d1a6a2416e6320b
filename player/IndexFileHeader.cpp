// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexFileHeader.h"

#include <QIODevice>

#include <cstring>

#include "ByteReader.h"
#include "DeviceReader.h"
#include "LittleEndian.h"

IndexFileHeader::IndexFileHeader() = default;

IndexFileHeader::~IndexFileHeader() = default;

void IndexFileHeader::clear()
{
    m_magic = 0;
    m_count = 0;
    m_flags = 0;
}

void IndexFileHeader::composeHeaderData(Array<unsigned char, int>& out) const
{
    out.setCount(SIZE);
    std::memset(out.data(), 0, SIZE);
    LittleEndian::write(out.data(), m_magic, 4);
    LittleEndian::write(out.data() + 8, m_count, 8);
    out[16] = m_flags;
}

void IndexFileHeader::decomposeHeaderData(const unsigned char* data)
{
    ByteReader in(data, SIZE);
    unsigned flags = 0;
    in.readU32LE(m_magic);
    in.skip(4);
    in.readU64LE(m_count);
    in.readU8(flags);
    m_flags = static_cast<unsigned char>(flags);
}

bool IndexFileHeader::write(QIODevice& device)
{
    composeHeaderData(m_data);
    return device.write(reinterpret_cast<const char*>(m_data.data()), SIZE) == SIZE;
}

bool IndexFileHeader::read(QIODevice& device)
{
    DeviceReader file(&device);
    if (!file.readExactly(m_data, SIZE)) {
        clear();
        return false;
    }
    decomposeHeaderData(m_data.data());
    return true;
}

void IndexEntryPoint::composeHeaderData(Array<unsigned char, int>& out) const
{
    out.setCount(SIZE);
    LittleEndian::write(out.data(), m_time, 8);
    LittleEndian::write(out.data() + 8, m_filePos, 8);
    LittleEndian::write(out.data() + 16, m_indexPos, 8);
    LittleEndian::write(out.data() + 24, m_size, 8);
}

void IndexEntryPoint::decomposeHeaderData(const unsigned char* data)
{
    ByteReader in(data, SIZE);
    in.readU64LE(m_time);
    in.readU64LE(m_filePos);
    in.readU64LE(m_indexPos);
    in.readU64LE(m_size);
}
