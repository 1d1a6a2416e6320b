#include "IndexFileHeader.h"

#include <QIODevice>

#include <cstring>

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
    m_magic = static_cast<uint32_t>(LittleEndian::read(data, 4));
    m_count = LittleEndian::read(data + 8, 8);
    m_flags = data[16];
}

bool IndexFileHeader::write(QIODevice& device)
{
    composeHeaderData(m_data);
    return device.write(reinterpret_cast<const char*>(m_data.data()), SIZE) == SIZE;
}

bool IndexFileHeader::read(QIODevice& device)
{
    m_data.setCount(SIZE);
    if (device.read(reinterpret_cast<char*>(m_data.data()), SIZE) != SIZE) {
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
    m_time = LittleEndian::read(data, 8);
    m_filePos = LittleEndian::read(data + 8, 8);
    m_indexPos = LittleEndian::read(data + 16, 8);
    m_size = LittleEndian::read(data + 24, 8);
}
