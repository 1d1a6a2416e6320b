// The recording container: file and unit headers and the one unit reader.

#include "RecordFileHeader.h"
#include "RecordReader.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include "Exception.h"
#include "FormatBytes.h"
#include "Zip.h"

namespace {

QByteArray fileHeader(quint64 duration = 60000, const char* id = "123456789",
                      quint64 magic = RecordFileHeader::MAGIC)
{
    return le(magic, 4) + le(0, 4) + le(duration, 8) + QByteArray(id).leftJustified(16, '\0', true);
}

// A unit header (type, channels, time, payload size) and its payload.
QByteArray unit(unsigned type, quint64 time, const QByteArray& payload)
{
    return le(type, 4) + le(0, 4) + le(time, 8) + le(payload.size(), 8) + payload;
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

} // namespace

TEST(RecordFileHeaderTest, OnlyTheMagicIsCheckedAndTheSessionIdEndsAtANul)
{
    // Whatever the other bytes, the magic decides; the big-endian spelling,
    // near misses and files shorter than the header are refused.
    QByteArray any = fileHeader(0, "0123456789abcdefXYZ"); // id cut to 16
    for (int i = 4; i < 8; ++i)
        any[i] = static_cast<char>(0xA5 ^ i);
    // No NUL in the field: all 16 characters; else up to the NUL.
    EXPECT_EQ(Recording(any).header.sessionId(), QStringLiteral("0123456789abcdef"));
    EXPECT_EQ(Recording(fileHeader(0, "abc")).header.sessionId(), QStringLiteral("abc"));
    for (quint64 magic : {0xEFCDAB77ULL, 0x78ABCDEFULL, 0x77ABCDEEULL})
        EXPECT_THROW(Recording{fileHeader(0, "", magic)}, IncorrectFileException) << magic;
    for (int n : {0, 4, 31})
        EXPECT_THROW(Recording{fileHeader().left(n)}, IncorrectFileException) << n;
}

TEST(RecordReaderTest, ACutOrOversizedLastUnitEndsTheRecordingWithoutAnAllocation)
{
    const QByteArray first =
        fileHeader() + unit(2, 0, QByteArray("\xE9\x00\x00\x10\x00\x10\x00\x00", 8));
    const QByteArray whole = first + unit(0x12, 40, zipped(QByteArray(500, 'a')));
    QList<QByteArray> cut;
    for (int n = first.size() + 1; n < whole.size(); ++n)
        cut << whole.left(n);
    // Sizes declared past the end, up to the largest a header can hold.
    for (quint64 size : {quint64(11), quint64(1) << 40, ~quint64(0), ~quint64(0) - 10}) {
        for (unsigned type : {2u, 0x12u})
            cut << first + le(type, 4) + le(0, 12) + le(size, 8) + QByteArray(10, 'z');
    }
    for (const QByteArray& bytes : cut) {
        SCOPED_TRACE(bytes.size());
        Recording r(bytes);
        ASSERT_EQ(r.next(), RecordReader::Unit);
        EXPECT_EQ(r.next(), RecordReader::Truncated);
        EXPECT_EQ(r.payload.count(), 0);
        EXPECT_LT(std::max(r.payload.capacity(), r.packed.capacity()), 64);
        EXPECT_TRUE(r.buffer.atEnd()) << "callers testing atEnd must stop too";
        EXPECT_EQ(r.reader.truncatedHeld(), bytes.size() - first.size());
        EXPECT_EQ(r.next(), RecordReader::End);
    }
}

TEST(RecordReaderTest, PayloadThatDoesNotInflateThrowsAndTheInflatedSizeIsCapped)
{
    // A stream cut short, and one that inflates past the wrapper's cap.
    EXPECT_THROW(Recording(fileHeader() + unit(0x12, 0, zipped("abc").chopped(2))).next(),
                 DecompressionException);
    const QByteArray big(2 * 1024 * 1024, '\0');
    const QByteArray file = fileHeader() + unit(0x12, 0, zipped(big));
    Zip::setMaxUnzippedSize(1024 * 1024);
    EXPECT_THROW(Recording(file).next(), DecompressionException);
    Zip::setMaxUnzippedSize(0);
    Recording r(file);
    ASSERT_EQ(r.next(), RecordReader::Unit);
    EXPECT_EQ(r.payload.count(), big.size());
}
