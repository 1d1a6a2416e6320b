// Index files: header and entry layout, loading and validating the table,
// reading key frames.

#include "IndexFile.h"
#include "IndexFileHeader.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include "Exception.h"
#include "FormatBytes.h"

namespace {

using Bytes = Array<unsigned char, int>;

struct Entry
{
    quint64 time, filePos, indexPos, size;
};

QByteArray header(quint64 count, unsigned flags = 0x11)
{
    QByteArray h;
    putLE(h, IndexFileHeader::MAGIC, 4);
    putLE(h, 0, 4);
    putLE(h, count, 8);
    h.append(static_cast<char>(flags));
    h.append(7, '\0');
    return h;
}

QByteArray entry(const Entry& e)
{
    QByteArray b;
    for (quint64 field : {e.time, e.filePos, e.indexPos, e.size})
        putLE(b, field, 8);
    return b;
}

QByteArray prefix(int w, int h, int scale)
{
    unsigned char p[IndexEntryPoint::PREFIX_SIZE];
    IndexFile::composeKeyFramePrefix(w, h, scale, p);
    return QByteArray(reinterpret_cast<const char*>(p), sizeof p);
}

// An index whose table has `tableSize` entries; `frames` key-frame records of
// `data` follow it, the i-th at time i * 10000. Entries past `frames` are
// empty.
QByteArray index(int tableSize, int frames, const QByteArray& data)
{
    QByteArray table, records;
    const quint64 tableEnd = IndexFileHeader::SIZE + quint64(tableSize) * IndexEntryPoint::SIZE;
    for (int i = 0; i < tableSize; ++i) {
        if (i < frames) {
            table += entry({quint64(i) * 10000, 32 + quint64(i) * 100,
                            tableEnd + records.size(), quint64(data.size())});
            records += prefix(64, 32, 26) + data;
        } else {
            table += entry({0, 0, 0, 0});
        }
    }
    return header(tableSize) + table + records;
}

struct Loaded
{
    explicit Loaded(const QByteArray& bytes, qint64 recordingSize = -1) : data(bytes), buffer(&data)
    {
        buffer.open(QIODevice::ReadOnly);
        ok = IndexFile::load(buffer, hdr, entries, recordingSize, &report);
    }

    QByteArray data;
    QBuffer buffer;
    IndexFileHeader hdr;
    Array<IndexEntryPoint, int> entries;
    IndexFile::LoadReport report;
    bool ok = false;
};

} // namespace

TEST(IndexFileHeaderTest, HeaderAndEntryLayout)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    IndexFileHeader h;
    h.m_magic = IndexFileHeader::MAGIC;
    h.m_count = (quint64(1) << 33) + 5;
    h.m_flags = IndexFileHeader::FLAGS_DEFAULT;
    ASSERT_TRUE(h.write(buffer));
    EXPECT_EQ(bytes, header(h.m_count));
    buffer.seek(0);
    IndexFileHeader in;
    ASSERT_TRUE(in.read(buffer));
    EXPECT_EQ(in.m_count, h.m_count);
    EXPECT_EQ(in.m_flags, 0x11);
    // A cut header is not read.
    buffer.seek(1);
    EXPECT_FALSE(in.read(buffer));
    EXPECT_EQ(in.m_magic, 0u);

    IndexEntryPoint e;
    e.m_time = 1;
    e.m_filePos = quint64(1) << 32;
    e.m_indexPos = 0xFFFFFFFFFFFFFFFFULL;
    e.m_size = 0x0102030405060708ULL;
    Bytes raw;
    e.composeHeaderData(raw);
    EXPECT_EQ(bytesOf(raw), entry({e.m_time, e.m_filePos, e.m_indexPos, e.m_size}));
    IndexEntryPoint back;
    back.decomposeHeaderData(raw.data());
    EXPECT_EQ(std::make_tuple(back.m_time, back.m_filePos, back.m_indexPos, back.m_size),
              std::make_tuple(e.m_time, e.m_filePos, e.m_indexPos, e.m_size));
}

TEST(IndexFileTest, TrailingEmptyEntriesAreDropped)
{
    Loaded l(index(5, 3, zipped("frame")));
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.entries.count(), 3);
    EXPECT_EQ(l.report.declaredCount, 5u);
    EXPECT_EQ(l.report.trailingEmpty, 2);
    EXPECT_EQ(l.report.unusable, 0);
    EXPECT_EQ(l.entries[2].m_time, 20000u);

    // All of them empty: a valid empty index.
    Loaded empty(index(4, 0, QByteArray()));
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.entries.count(), 0);
}

TEST(IndexFileTest, InvalidHeadersAndTables)
{
    const QByteArray good = index(3, 3, zipped("frame"));
    QByteArray badMagic = good;
    badMagic[0] = 0x68;
    QByteArray zeroCount = good, oneTooMany = good, huge = good;
    for (int i = 8; i < 16; ++i) {
        zeroCount[i] = 0;
        huge[i] = static_cast<char>(0xFF);
    }
    oneTooMany[8] = static_cast<char>((good.size() - 24) / 32 + 1);

    // The table must fit the file, and one entry at least must be usable.
    const QByteArray cases[] = {QByteArray(), good.left(23), badMagic, zeroCount, oneTooMany, huge,
                                header(1), header(2) + entry({0, 32, 88, 1}),
                                header(2) + entry({0, 32, 5000, 10}) + entry({0, 0, 0, 0})};
    for (const QByteArray& c : cases) {
        Loaded l(c);
        EXPECT_FALSE(l.ok) << c.toHex().left(80).constData();
        EXPECT_FALSE(l.report.problem.isEmpty());
        EXPECT_EQ(l.entries.count(), 0);
    }
}

TEST(IndexFileTest, EntriesThatCannotBeKeyFramesAreNotUsed)
{
    const QByteArray data = zipped("frame");
    const quint64 n = data.size();
    const quint64 tableEnd = 24 + 8 * 32;
    QByteArray table = entry({0, 32, tableEnd, n})                    // kept
        + entry({5000, 200, tableEnd + 1000000, n})                   // outside the file
        + entry({6000, 200, tableEnd, quint64(1) << 62})              // absurd size
        + entry({7000, 200, 30, n})                                   // inside the table
        + entry({8000, 200, tableEnd, 0})                             // empty amid the table
        + entry({10000, 300, tableEnd + 5 + n, n})                    // kept
        + entry({9000, 400, tableEnd, n})                             // time goes back
        + entry({20000, 999999, tableEnd, n});                        // unit past the recording
    QByteArray file = header(8) + table + prefix(64, 32, 26) + data + prefix(64, 32, 26) + data;

    Loaded l(file, 5000);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.entries.count(), 2);
    EXPECT_EQ(l.entries[0].m_time, 0u);
    EXPECT_EQ(l.entries[1].m_time, 10000u);
    EXPECT_EQ(l.report.unusable, 6);

    // Without the recording's size the unit position is not judged.
    EXPECT_EQ(Loaded(file).entries.count(), 3);
}

TEST(IndexFileTest, ReadsCompressedGridKeyFrames)
{
    const QByteArray grid("\xC9\x00\xC8\x01\x10\x20\x30", 7);
    Loaded l(index(2, 2, zipped(grid)));
    ASSERT_TRUE(l.ok);
    Bytes packed, keyFrame;
    IndexFile::KeyFrame kf;
    ASSERT_TRUE(IndexFile::readKeyFrame(l.buffer, l.entries[1], l.hdr.m_flags, packed, keyFrame, kf));
    EXPECT_TRUE(kf.grid);
    EXPECT_EQ(std::make_tuple(kf.width, kf.height, kf.jpegScale), std::make_tuple(64, 32, 26));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(kf.prefix), 5), prefix(64, 32, 26));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(kf.data), kf.length), grid);
}

TEST(IndexFileTest, DamagedKeyFramesThrow)
{
    Loaded l(index(1, 1, QByteArray("not a zlib stream")));
    ASSERT_TRUE(l.ok);
    Bytes packed, keyFrame;
    IndexFile::KeyFrame kf;
    EXPECT_THROW(IndexFile::readKeyFrame(l.buffer, l.entries[0], 0x11, packed, keyFrame, kf),
                 DecompressionException);

    // The file shrank after loading: the record is cut short.
    Loaded cut(index(1, 1, zipped("frame")));
    ASSERT_TRUE(cut.ok);
    cut.buffer.close();
    cut.data.chop(3);
    cut.buffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(IndexFile::readKeyFrame(cut.buffer, cut.entries[0], 0x11, packed, keyFrame, kf),
                 FileCantReadException);
}
