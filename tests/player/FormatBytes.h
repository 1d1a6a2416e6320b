// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Bytes of recordings and indexes written out by hand, to pin the formats
// independently of the code that writes them.

#include <QBuffer>
#include <QByteArray>

#include "IndexFile.h"
#include "RecordReader.h"

// `v` in `n` bytes, little-endian.
inline QByteArray le(quint64 v, int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i, v >>= 8)
        out.append(static_cast<char>(v & 0xFF));
    return out;
}

// A zlib stream of `plain` (qCompress without its length prefix).
inline QByteArray zipped(const QByteArray& plain)
{
    return qCompress(plain).mid(4);
}

// An index header of `count` entries with the flags 0x11.
inline QByteArray indexHeaderBytes(quint64 count)
{
    return le(IndexFileHeader::MAGIC, 8) + le(count, 8) + le(0x11, 8);
}

// An entry: time, unit position, record position, key-frame size.
inline QByteArray indexEntryBytes(quint64 time, quint64 filePos, quint64 indexPos, quint64 size)
{
    return le(time, 8) + le(filePos, 8) + le(indexPos, 8) + le(size, 8);
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

// A recording's file header.
inline QByteArray fileHeader(quint64 duration = 60000, const char* id = "123456789",
                             quint64 magic = RecordFileHeader::MAGIC)
{
    return le(magic, 4) + le(0, 4) + le(duration, 8) + QByteArray(id).leftJustified(16, '\0', true);
}

// A unit header (type, channels 0, time, payload size) and its payload; the
// size is the payload's unless `declaredSize` is given.
inline QByteArray unit(unsigned type, quint64 time, const QByteArray& payload,
                       qint64 declaredSize = -1)
{
    const quint64 size = declaredSize < 0 ? quint64(payload.size()) : quint64(declaredSize);
    return le(type, 4) + le(0, 4) + le(time, 8) + le(size, 8) + payload;
}

// A reader over an in-memory recording, positioned at its first unit.
struct Recording
{
    explicit Recording(const QByteArray& bytes) : data(bytes), buffer(&data)
    {
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.readFileHeader(header);
    }

    RecordReader::Result next() { return reader.readUnit(unitHdr, payload, packed); }

    QByteArray data;
    QBuffer buffer;
    RecordReader reader;
    RecordFileHeader header;
    RecordUnitHeader unitHdr;
    Array<unsigned char, int> payload, packed;
};
