#pragma once

// Bytes of recordings and indexes written out by hand, to pin the formats
// independently of the code that writes them.

#include <QBuffer>
#include <QByteArray>

#include <gtest/gtest.h>

#include "Array.h"
#include "IndexFile.h"
#include "Zip.h"

// `v` in `n` bytes, little-endian.
inline QByteArray le(quint64 v, int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i, v >>= 8)
        out.append(static_cast<char>(v & 0xFF));
    return out;
}

inline QByteArray bytesOf(const Array<unsigned char, int>& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), a.count());
}

inline QByteArray zipped(const QByteArray& plain)
{
    Array<unsigned char, int> out;
    EXPECT_TRUE(Zip::zipBuffer(reinterpret_cast<const unsigned char*>(plain.constData()),
                               static_cast<int>(plain.size()), out, Zip::COMPRESSION_DEFAULT));
    return bytesOf(out);
}

// An index loaded from its bytes, and its key frames read from there.
struct LoadedIndex
{
    explicit LoadedIndex(const QByteArray& bytes, qint64 recordingSize = -1)
        : data(bytes), buffer(&data)
    {
        buffer.open(QIODevice::ReadOnly);
        ok = IndexFile::load(buffer, header, entries, recordingSize, &report);
    }

    bool readKeyFrame(int e, IndexFile::KeyFrame& kf)
    {
        return IndexFile::readKeyFrame(buffer, entries[e], header.m_flags, packed, keyFrame, kf);
    }

    QByteArray data;
    QBuffer buffer;
    IndexFileHeader header;
    Array<IndexEntryPoint, int> entries;
    IndexFile::LoadReport report;
    bool ok = false;
    Array<unsigned char, int> packed, keyFrame;
};
