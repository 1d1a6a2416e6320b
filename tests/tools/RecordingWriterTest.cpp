// What RecordingWriter writes reads back through RecordReader exactly, and its
// screen units rebuild the frames they were made from.

#include "RecordingWriter.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "Exception.h"
#include "GridDecoder.h"
#include "RecordReader.h"
#include "VideoFrame.h"
#include "VtrCursor.h"

namespace {

using Bytes = Array<unsigned char, int>;

QByteArray bytesOf(const Bytes& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), a.count());
}

struct Unit
{
    unsigned char type;
    int channels;
    quint64 time;
    QByteArray payload;
};

struct ReadBack
{
    RecordFileHeader header;
    QList<Unit> units;
    RecordReader::Result end;
};

ReadBack readAll(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    RecordReader reader(&buffer);
    ReadBack r;
    reader.readFileHeader(r.header);
    RecordUnitHeader h;
    Bytes payload, packed;
    while ((r.end = reader.readUnit(h, payload, packed)) == RecordReader::Unit)
        r.units.append({h.m_type, h.m_channels, h.m_time, bytesOf(payload)});
    return r;
}

// The screen a sequence of screen units paints, decoded as the player does.
class Screen : public IDecoderListener
{
public:
    Screen() { decoder.m_listener = this; }

    void apply(const QByteArray& payload)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(payload.constData());
        const int n = static_cast<int>(payload.size()) - 2;
        if (p[0] == 0xE9)
            decoder.decodeScreen(p + 2, n);
        else if (p[0] >= 0xEA && p[0] <= 0xED && n > 0)
            decoder.decode(p + 2, n);
    }

    void onScreenDimension(int w, int h) override
    {
        frame.resize(w, h);
        frame.clear(0);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        VideoFrame::copy(frame.pixels(), frame.width(), frame.height(), box->pixels(), 16, 16, x,
                         y, w, h, 0, 0);
    }
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}

    GridDecoder decoder;
    VideoFrame frame;
};

VideoFrame desktop(int w, int h, int variant)
{
    VideoFrame f;
    f.resize(w, h);
    f.clear(0xFF2060A0);
    f.bar(10 + variant, 10, 90 + variant, 50, 0xFFF0F0F0);
    f.rectangle(10 + variant, 10, 90 + variant, 50, 0xFF000000);
    f.drawText(14 + variant, 20, "Hello", 0xFF000000);
    return f;
}

} // namespace

class RecordingWriterKinds : public ::testing::TestWithParam<bool>
{
};

TEST_P(RecordingWriterKinds, EveryKindReadsBackExactly)
{
    const bool compress = GetParam();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    RecordingWriter w;
    w.setCompression(compress);
    w.open(&buffer, "ABCDEFGHIJKLMNOPQ");

    QImage arrow(3, 2, QImage::Format_ARGB32);
    arrow.fill(0x80FF0000);
    arrow.setPixel(1, 1, 0xFF00FF00);
    const int16_t pcm[] = {1, -1, 32767, -32768, 258, 0};

    w.writeMousePos(0, 0x1234, 0x0056, 0xCAFEBABE);
    w.writeCursor(10, 7, arrow, 1, 1);
    w.writeCursor(20, 8, arrow, 2, 0, {QString(), QStringLiteral("shape"), QString(),
                                       QStringLiteral("x")});
    w.writeScreenHeader(30, 1000, 600);
    w.writePause(40);
    w.writeInfo(50, "info bytes");
    w.writeAudio(60, RecordingWriter::CAP, pcm, 3, 2);
    w.writeAudio((quint64(1) << 32) + 70, RecordingWriter::SPK, pcm, 6, 1);
    w.writeUnit(RecordUnitHeader::KIND_INFO, 80, QByteArray());
    w.finish();
    EXPECT_EQ(w.unitCount(), 9);

    const ReadBack r = readAll(bytes);
    EXPECT_EQ(r.end, RecordReader::End);
    EXPECT_EQ(r.header.sessionId(), QStringLiteral("ABCDEFGHIJKLMNOP"));
    EXPECT_EQ(r.header.m_duration, 80u); // the last unit's time
    ASSERT_EQ(r.units.size(), 9);
    const int kinds[] = {1, 1, 1, 2, 2, 3, 4, 5, 3};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(r.units[i].type, kinds[i]) << i; // flag cleared after reading

    EXPECT_EQ(r.units[0].payload, QByteArray("\x0B\x12\x34\x00\x56\xCA\xFE\xBA\xBE", 9));

    // Cursor record: code, sub-code, empty first string, end of list, id, record.
    const QByteArray c1 = r.units[1].payload;
    ASSERT_GT(c1.size(), 8);
    EXPECT_EQ(c1.left(8), QByteArray("\x28\xE1\x00\x00\x00\x00\x00\x07", 8));
    VtrCursor cursor;
    const auto* rec = reinterpret_cast<const unsigned char*>(c1.constData()) + 8;
    ASSERT_EQ(cursor.deserialize(rec, static_cast<int>(c1.size()) - 8), c1.size() - 8);
    EXPECT_EQ(cursor.hotspotX(), 1);
    EXPECT_EQ(cursor.image().pixel(1, 1), 0xFF00FF00u);
    EXPECT_EQ(cursor.image().pixel(0, 0), 0x80FF0000u);
    // Empty strings after the first are left out: the list stays well formed.
    EXPECT_EQ(r.units[2].payload.left(13), QByteArray("\x28\xE1\0shape\0x\0\0", 13));

    EXPECT_EQ(r.units[3].payload, QByteArray("\xE9\x00\x03\xE8\x02\x58\x1A\x00", 8));
    EXPECT_EQ(r.units[4].payload, QByteArray("\xEE\x00", 2));
    EXPECT_EQ(r.units[5].payload, QByteArray("info bytes"));

    const QByteArray le("\x01\x00\xFF\xFF\xFF\x7F\x00\x80\x02\x01\x00\x00", 12);
    EXPECT_EQ(r.units[6].payload, le);
    EXPECT_EQ(r.units[6].channels, 2);
    EXPECT_EQ(r.units[7].payload, le);
    EXPECT_EQ(r.units[7].channels, 1);
    EXPECT_EQ(r.units[7].time, (quint64(1) << 32) + 70);
    EXPECT_TRUE(r.units[8].payload.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, RecordingWriterKinds, ::testing::Bool());

TEST(RecordingWriterTest, CompressionSetsTheFlagInTheFile)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    RecordingWriter w;
    w.open(&buffer);
    w.writeInfo(0, QByteArray(1000, 'a'));
    w.setCompression(true);
    w.writeInfo(1, QByteArray(1000, 'a'));
    w.finish(123456);
    EXPECT_EQ(static_cast<unsigned char>(bytes[32]), 0x03);
    const int second = 32 + 24 + 1000;
    EXPECT_EQ(static_cast<unsigned char>(bytes[second]), 0x13);
    EXPECT_LT(bytes.size() - second - 24, 100);
    const ReadBack r = readAll(bytes);
    EXPECT_EQ(r.header.m_duration, 123456u);
    EXPECT_EQ(r.units[1].payload, QByteArray(1000, 'a'));
}

TEST(RecordingWriterTest, RawUnitsAreWrittenAsGiven)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    RecordingWriter w;
    w.setMagic(0x12345678);
    w.open(&buffer);
    w.writeRawUnit(0x07, 5, "abc", 1000, 3);
    w.finish();
    ASSERT_EQ(bytes.size(), 32 + 24 + 3);
    EXPECT_EQ(bytes.left(4), QByteArray("\x78\x56\x34\x12"));
    RecordUnitHeader h;
    h.decomposeHeaderData(reinterpret_cast<const unsigned char*>(bytes.constData()) + 32);
    EXPECT_EQ(h.m_type, 0x07);
    EXPECT_EQ(h.m_size, 1000u);
    EXPECT_EQ(h.m_channels, 3);
}

TEST(RecordingWriterTest, ScreenFramesRebuildTheirSource)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    RecordingWriter w;
    w.setCompression(true);
    w.open(&buffer);
    VideoFrame first = desktop(200, 120, 0);
    VideoFrame second = desktop(200, 120, 30);
    w.writeScreenFrame(0, first);
    w.writeScreenFrame(100, second, 0xEB);
    w.writeScreenFrame(200, second); // nothing changed
    w.finish();

    const ReadBack r = readAll(bytes);
    ASSERT_EQ(r.units.size(), 4);
    EXPECT_EQ(static_cast<unsigned char>(r.units[0].payload[0]), 0xE9);
    EXPECT_EQ(static_cast<unsigned char>(r.units[1].payload[0]), 0xED);
    EXPECT_EQ(static_cast<unsigned char>(r.units[2].payload[0]), 0xEB);
    // The differential update is smaller than the first full one.
    EXPECT_LT(r.units[2].payload.size(), r.units[1].payload.size());
    EXPECT_LE(r.units[3].payload.size(), 2 + 8);

    Screen screen;
    screen.apply(r.units[0].payload);
    screen.apply(r.units[1].payload);
    ASSERT_EQ(screen.frame.width(), 200);
    EXPECT_EQ(std::memcmp(screen.frame.pixels(), first.pixels(), 200 * 120 * 4), 0);
    screen.apply(r.units[2].payload);
    screen.apply(r.units[3].payload);
    EXPECT_EQ(std::memcmp(screen.frame.pixels(), second.pixels(), 200 * 120 * 4), 0);
}

TEST(RecordingWriterTest, ChunkedPhotographicFramesDecodeWithinJpegTolerance)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    RecordingWriter w;
    w.setChunkedScreen(true);
    w.setJpegQuality(85);
    w.open(&buffer);
    VideoFrame photo;
    photo.resize(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            photo.setPixel(x, y, 0xFF000000u | (x * 255 / 639) << 16 | (y * 255 / 479) << 8
                                     | ((x + y) * 255 / 1118));
    w.writeScreenFrame(0, photo);
    w.finish();

    const ReadBack r = readAll(bytes);
    ASSERT_GE(r.units.size(), 3); // header, pieces, end of frame
    EXPECT_EQ(static_cast<unsigned char>(r.units[0].payload[4 + 2]), 255 - 85 * 255 / 100);
    for (int i = 1; i + 1 < r.units.size(); ++i)
        EXPECT_EQ(static_cast<unsigned char>(r.units[i].payload[0]), 0xEA);
    EXPECT_EQ(static_cast<unsigned char>(r.units.last().payload[0]), 0xED);

    Screen screen;
    for (const Unit& u : r.units)
        screen.apply(u.payload);
    // Every piece lands where it belongs: a misplaced one would be far off.
    int worst = 0;
    long long total = 0;
    for (int i = 0; i < 640 * 480; ++i) {
        const unsigned a = screen.frame.pixels()[i], b = photo.pixels()[i];
        for (int s = 0; s < 24; s += 8) {
            const int d = std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF));
            worst = std::max(worst, d);
            total += d;
        }
    }
    EXPECT_LE(worst, 24);
    EXPECT_LE(total / (640 * 480 * 3), 3);
}

TEST(RecordingWriterTest, WritesAFileAndRefusesAnUncreatableOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.vro"));
    {
        RecordingWriter w;
        w.open(path);
        w.writeMousePos(5, 1, 2, 3);
    } // the destructor finishes the file
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const ReadBack r = readAll(f.readAll());
    EXPECT_EQ(r.units.size(), 1);
    EXPECT_EQ(r.header.m_duration, 5u);

    RecordingWriter w;
    EXPECT_THROW(w.open(dir.filePath(QStringLiteral("no/such/folder/x.vro"))),
                 FileCantCreateException);
    EXPECT_THROW(w.writeInfo(0, "x"), FileCantWriteException);
}
