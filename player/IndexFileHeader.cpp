#include "IndexFileHeader.h"

#include <QIODevice>

#include <cstring>

namespace {

uint64_t readLE(const unsigned char* p, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

void writeLE(unsigned char* p, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i) {
        p[i] = static_cast<unsigned char>(v & 0xFF);
        v >>= 8;
    }
}

} // namespace

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
    writeLE(out.data(), m_magic, 4);
    writeLE(out.data() + 8, m_count, 8);
    out[16] = m_flags;
}

void IndexFileHeader::decomposeHeaderData(const unsigned char* data)
{
    m_magic = static_cast<uint32_t>(readLE(data, 4));
    m_count = readLE(data + 8, 8);
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
    writeLE(out.data(), m_time, 8);
    writeLE(out.data() + 8, m_filePos, 8);
    writeLE(out.data() + 16, m_indexPos, 8);
    writeLE(out.data() + 24, m_size, 8);
}

void IndexEntryPoint::decomposeHeaderData(const unsigned char* data)
{
    m_time = readLE(data, 8);
    m_filePos = readLE(data + 8, 8);
    m_indexPos = readLE(data + 16, 8);
    m_size = readLE(data + 24, 8);
}
