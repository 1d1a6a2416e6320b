// The recording container: file and unit headers and the one unit reader.

#include "RecordFileHeader.h"
#include "RecordReader.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include "Exception.h"
#include "FormatBytes.h"

namespace {

using Bytes = Array<unsigned char, int>;

QByteArray fileHeader(quint64 duration = 60000, const char* id = "123456789",
                      quint64 magic = RecordFileHeader::MAGIC)
{
    QByteArray h;
    putLE(h, magic, 4);
    putLE(h, 0, 4);
    putLE(h, duration, 8);
    return h + QByteArray(id).leftJustified(16, '\0', true);
}

QByteArray unitHeader(unsigned type, quint64 time, quint64 size, unsigned channels = 0)
{
    QByteArray h;
    putLE(h, type, 4);
    putLE(h, channels, 4);
    putLE(h, time, 8);
    putLE(h, size, 8);
    return h;
}

QByteArray unit(unsigned type, quint64 time, const QByteArray& payload, unsigned channels = 0)
{
    return unitHeader(type, time, payload.size(), channels) + payload;
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
    Bytes payload;
    Bytes packed;
};

} // namespace

TEST(RecordFileHeaderTest, TheMagicDecidesWhateverTheOtherBytes)
{
    QByteArray h = fileHeader();
    for (int i = 4; i < 32; ++i)
        h[i] = static_cast<char>(0xA5 ^ i);
    EXPECT_TRUE(Recording(h).header.hasValidMagic());

    // The big-endian spelling, near misses, and files shorter than the header.
    QList<QByteArray> bad;
    for (quint64 magic : {0xEFCDAB77ULL, 0x78ABCDEFULL, 0x77ABCDEEULL, 0ULL})
        bad << fileHeader(0, "", magic);
    for (int n : {0, 1, 4, 31})
        bad << fileHeader().left(n);
    for (QByteArray& b : bad)
        EXPECT_THROW(Recording{b}, IncorrectFileException) << b.toHex().data();
}

TEST(RecordFileHeaderTest, HeadersComposeAndDecomposeByteForByte)
{
    RecordFileHeader h;
    h.m_magic = RecordFileHeader::MAGIC;
    h.m_duration = 0x0123456789ABCDEFULL;
    h.setSessionId("0123456789abcdefXYZ"); // cut to 16
    Bytes raw;
    h.composeHeaderData(raw);
    EXPECT_EQ(bytesOf(raw), fileHeader(0x0123456789ABCDEFULL, "0123456789abcdef"));
    // No NUL in the field: all 16 characters; else up to the NUL.
    EXPECT_EQ(Recording(bytesOf(raw)).header.sessionId(), QStringLiteral("0123456789abcdef"));
    EXPECT_EQ(Recording(fileHeader(0, "abc")).header.sessionId(), QStringLiteral("abc"));

    RecordUnitHeader u;
    u.m_type = 0x15;
    u.m_channels = 0xBEEF;
    u.m_time = (quint64(1) << 40) + 7;
    u.m_size = 0x8000000000000001ULL;
    u.composeHeaderData(raw);
    EXPECT_EQ(bytesOf(raw), unitHeader(0x15, u.m_time, u.m_size, 0xBEEF));
    RecordUnitHeader back;
    back.decomposeHeaderData(raw.data());
    EXPECT_EQ(std::make_tuple(back.m_type, back.m_channels, back.m_time, back.m_size),
              std::make_tuple(u.m_type, u.m_channels, u.m_time, u.m_size));
}

TEST(RecordReaderTest, UnitsOfEveryKindAreReadInOrderCompressedOrNot)
{
    EXPECT_EQ(Recording(fileHeader()).next(), RecordReader::End) << "a header alone is empty";

    const QByteArray pcm("\x01\x00\xFF\x7F", 4);
    const QByteArray screen = QByteArray("\xEA\x00", 2) + QByteArray(3000, '\x07');
    Recording r(fileHeader() + unit(1, 0, QByteArray("\x0B\x00\x10\x00\x20\0\0\0\x01", 9))
                + unit(0x12, 5, zipped(screen)) + unit(3, 6, "")
                + unit(4, (quint64(1) << 31) + 1, pcm, 2) + unit(5, ~quint64(0), pcm, 1));
    qint64 pos = RecordReader::FIRST_UNIT_OFFSET;
    for (int kind = 1; kind <= 5; ++kind) {
        ASSERT_EQ(r.next(), RecordReader::Unit);
        EXPECT_EQ(r.reader.unitPos(), pos);
        EXPECT_EQ(r.unitHdr.m_type, kind) << "the compression flag is cleared";
        EXPECT_EQ(r.unitHdr.m_size, static_cast<quint64>(r.payload.count()));
        pos = r.buffer.pos();
        if (kind == 2) {
            EXPECT_EQ(bytesOf(r.payload), screen);
        }
    }
    EXPECT_EQ(r.unitHdr.m_channels, 1);
    EXPECT_EQ(r.unitHdr.m_time, ~quint64(0));
    EXPECT_EQ(bytesOf(r.payload), pcm);
    EXPECT_EQ(r.next(), RecordReader::End);
}

TEST(RecordReaderTest, OnlyTypesOneToFiveWithOrWithoutTheFlagAreValid)
{
    for (int t = 0; t < 256; ++t) {
        const bool valid = (t >= 1 && t <= 5) || (t >= 17 && t <= 21);
        EXPECT_EQ(RecordUnitHeader::isValidType(t), valid) << t;
        if (valid)
            continue;
        // An unknown type gives an empty payload, which is not skipped: the
        // caller stops at this unit.
        Recording r(fileHeader() + unit(t, 10, "payload") + unit(1, 20, "x"));
        ASSERT_EQ(r.next(), RecordReader::Unit);
        EXPECT_EQ(r.unitHdr.m_type, t);
        EXPECT_EQ(r.payload.count(), 0);
        EXPECT_EQ(r.buffer.pos(), RecordReader::FIRST_UNIT_OFFSET + RecordUnitHeader::SIZE);
    }
}

TEST(RecordReaderTest, CutAtEveryByteOfTheLastUnitEndsTheRecording)
{
    const QByteArray first =
        fileHeader() + unit(2, 0, QByteArray("\xE9\x00\x00\x10\x00\x10\x00\x00", 8));
    const QByteArray whole = first + unit(0x12, 40, zipped(QByteArray(500, 'a')));
    for (int cut = first.size(); cut <= whole.size(); ++cut) {
        Recording r(whole.left(cut));
        ASSERT_EQ(r.next(), RecordReader::Unit);
        const RecordReader::Result last = r.next();
        if (cut == first.size() || cut == whole.size()) {
            EXPECT_EQ(last, cut == first.size() ? RecordReader::End : RecordReader::Unit);
            continue;
        }
        EXPECT_EQ(last, RecordReader::Truncated) << cut;
        EXPECT_EQ(r.payload.count(), 0);
        EXPECT_TRUE(r.buffer.atEnd()) << "callers testing atEnd must stop too";
        EXPECT_EQ(r.reader.truncatedHeld(), cut - first.size());
        EXPECT_EQ(r.next(), RecordReader::End);
    }
}

TEST(RecordReaderTest, DeclaredSizePastTheEndIsTruncationNotAnAllocation)
{
    for (quint64 size : {quint64(11), quint64(1) << 40, ~quint64(0), ~quint64(0) - 10}) {
        for (unsigned type : {2u, 0x12u}) {
            Recording r(fileHeader() + unitHeader(type, 0, size) + QByteArray(10, 'z'));
            EXPECT_EQ(r.next(), RecordReader::Truncated);
            EXPECT_LT(r.payload.capacity(), 64);
            EXPECT_LT(r.packed.capacity(), 64);
            EXPECT_TRUE(r.buffer.atEnd());
        }
    }
}

TEST(RecordReaderTest, PayloadThatDoesNotInflateThrowsAndTheInflatedSizeIsCapped)
{
    QByteArray broken = zipped(QByteArray(1000, 'q'));
    broken[broken.size() / 2] = static_cast<char>(broken[broken.size() / 2] ^ 0x55);
    for (const QByteArray& stored : {QByteArray("not zlib at all"), broken, QByteArray()}) {
        Recording r(fileHeader() + unit(0x12, 0, stored));
        EXPECT_THROW(r.next(), DecompressionException);
        EXPECT_EQ(r.payload.count(), 0);
    }

    const QByteArray big(2 * 1024 * 1024, '\0');
    const QByteArray file = fileHeader() + unit(0x12, 0, zipped(big));
    Zip::setMaxUnzippedSize(1024 * 1024);
    EXPECT_THROW(Recording(file).next(), DecompressionException);
    Zip::setMaxUnzippedSize(0);
    Recording r(file);
    ASSERT_EQ(r.next(), RecordReader::Unit);
    EXPECT_EQ(r.payload.count(), big.size());
}

TEST(RecordReaderTest, HeadersCanBeReadWithoutTheirPayloadsAndReadAgain)
{
    // A damaged compressed payload is not inflated when skipped.
    Recording r(fileHeader() + unit(0x12, 1, "not zlib") + unit(1, 2, "ctl")
                + unitHeader(2, 3, 100));
    ASSERT_EQ(r.reader.readUnitHeader(r.unitHdr), RecordReader::Unit);
    EXPECT_TRUE(r.unitHdr.isCompressed());
    r.reader.skipPayload(r.unitHdr);
    ASSERT_EQ(r.reader.readUnitHeader(r.unitHdr), RecordReader::Unit);
    EXPECT_EQ(r.unitHdr.m_time, 2u);
    ASSERT_EQ(r.reader.readPayload(r.unitHdr, r.payload, r.packed), RecordReader::Unit);
    EXPECT_EQ(bytesOf(r.payload), QByteArray("ctl"));
    // The bounds rules are those of readUnit.
    EXPECT_EQ(r.reader.readUnitHeader(r.unitHdr), RecordReader::Truncated);

    // Going back to the first unit reads it again; a closed device is reported.
    ASSERT_TRUE(r.reader.rewind());
    EXPECT_THROW(r.next(), DecompressionException);
    r.buffer.close();
    EXPECT_EQ(r.next(), RecordReader::NotOpen);
}
