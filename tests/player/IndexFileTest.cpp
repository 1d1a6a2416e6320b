// SPDX-License-Identifier: GPL-3.0-or-later
// Index files written out by hand: loading and validating the table, and key
// frames that cannot be read. (Good key frames: the builder's own files, in
// IndexBuilderTest and SeekTest.)

#include "IndexFile.h"
#include "IndexFileHeader.h"

#include <gtest/gtest.h>

#include "Exception.h"
#include "FormatBytes.h"

namespace {

QByteArray prefix()
{
    unsigned char p[IndexEntryPoint::PREFIX_SIZE];
    IndexFile::composeKeyFramePrefix(64, 32, 26, p);
    return QByteArray(reinterpret_cast<const char*>(p), sizeof p);
}

// An index of `frames` entries, the i-th at time i * 10000, each with a key
// frame record of `data`.
QByteArray index(int frames, const QByteArray& data)
{
    QByteArray table, records;
    const quint64 tableEnd = IndexFileHeader::SIZE + quint64(frames) * IndexEntryPoint::SIZE;
    for (int i = 0; i < frames; ++i) {
        table += indexEntryBytes(i * 10000, 32 + i * 100, tableEnd + records.size(), data.size());
        records += prefix() + data;
    }
    return indexHeaderBytes(frames) + table + records;
}

} // namespace

TEST(IndexFileTest, InvalidHeadersAndTables)
{
    // A good index of three entries, 150 bytes after its header, and its
    // table and records under a wrong magic and wrong counts.
    const QByteArray good = index(3, zipped("frame")), after = good.mid(24);
    ASSERT_EQ(after.size(), 150);
    // The table must fit the file, and one entry at least must be usable.
    for (const QByteArray& c :
         {QByteArray(), good.left(23), 'h' + good.mid(1), indexHeaderBytes(0) + after, indexHeaderBytes(5) + after,
          indexHeaderBytes(~0ULL) + after, indexHeaderBytes(1), indexHeaderBytes(2) + indexEntryBytes(0, 32, 88, 1),
          indexHeaderBytes(2) + indexEntryBytes(0, 32, 5000, 10) + indexEntryBytes(0, 0, 0, 0)}) {
        LoadedIndex l(c);
        EXPECT_FALSE(l.ok) << c.toHex().left(80).constData();
        EXPECT_FALSE(l.report.problem.isEmpty());
        EXPECT_EQ(l.entries.count(), 0);
    }
}

TEST(IndexFileTest, EntriesThatCannotBeKeyFramesAndTrailingEmptyOnesAreLeftOut)
{
    const QByteArray data = zipped("frame");
    const quint64 n = data.size();
    const quint64 end = 24 + 10 * 32;
    const QByteArray table = indexEntryBytes(0, 32, end, n)  // kept
        + indexEntryBytes(5000, 200, end + 1000000, n)      // outside the file
        + indexEntryBytes(6000, 200, end, quint64(1) << 62) // absurd size
        + indexEntryBytes(7000, 200, 30, n)                 // inside the table
        + indexEntryBytes(8000, 200, end, 0)                // empty amid the table
        + indexEntryBytes(10000, 300, end + 5 + n, n)       // kept
        + indexEntryBytes(9000, 400, end, n)                // time goes back
        + indexEntryBytes(20000, 999999, end, n)            // unit past the recording
        + indexEntryBytes(0, 0, 0, 0) + indexEntryBytes(0, 0, 0, 0);  // unfilled slots at the end
    const QByteArray file = indexHeaderBytes(10) + table + prefix() + data + prefix() + data;

    LoadedIndex l(file, 5000);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.entries.count(), 2);
    EXPECT_EQ(l.entries[1].m_time, 10000u);
    EXPECT_EQ(l.report.unusable, 6);
    EXPECT_EQ(l.report.trailingEmpty, 2);
    // Without the recording's size the unit position is not judged.
    EXPECT_EQ(LoadedIndex(file).entries.count(), 3);
    // All of them empty: a valid empty index.
    EXPECT_TRUE(LoadedIndex(indexHeaderBytes(4) + QByteArray(4 * 32, '\0')).ok);
}

TEST(IndexFileTest, DamagedKeyFramesThrow)
{
    IndexFile::KeyFrame kf;
    LoadedIndex damaged(index(1, QByteArray("not a zlib stream")));
    EXPECT_THROW(damaged.readKeyFrame(0, kf), DecompressionException);
    LoadedIndex l(index(2, zipped("frame")));
    l.data.chop(3); // the file shrank after loading: the record is cut short
    EXPECT_THROW(l.readKeyFrame(1, kf), FileCantReadException);
}
