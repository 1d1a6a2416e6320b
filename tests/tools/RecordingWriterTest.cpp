// SPDX-License-Identifier: GPL-3.0-or-later
// What RecordingWriter writes reads back through RecordReader exactly, and its
// screen units rebuild the frames they were made from.

#include "RecordingWriter.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "StraightDecode.h"
#include "VtrCursor.h"

namespace {

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
    Array<unsigned char, int> payload, packed;
    while ((r.end = reader.readUnit(h, payload, packed)) == RecordReader::Unit) {
        const QByteArray bytes(reinterpret_cast<const char*>(payload.data()), payload.count());
        r.units.append({h.m_type, h.m_channels, h.m_time, bytes});
    }
    return r;
}

ReadBack readFile(const QString& path)
{
    QFile f(path);
    return readAll(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
}

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

class RecordingWriterKinds : public ::testing::TestWithParam<bool>
{
};

} // namespace

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
    w.writeCursor(20, 8, arrow, 2, 0, {QString(), "shape", QString(), "x"});
    w.writeScreenHeader(30, 1000, 600);
    w.writePause(40);
    w.writeInfo(50, "info bytes");
    w.writeAudio(60, RecordingWriter::CAP, pcm, 3, 2);
    // Times take all 64 bits (a jump that the unit after it confirms).
    w.writeAudio((quint64(1) << 32) + 70, RecordingWriter::SPK, pcm, 6, 1);
    w.writeUnit(RecordUnitHeader::KIND_INFO, (quint64(1) << 32) + 80, QByteArray());
    w.finish();
    EXPECT_EQ(w.unitCount(), 9);
    EXPECT_EQ(static_cast<unsigned char>(bytes[32]), compress ? 0x11 : 0x01);

    const ReadBack r = readAll(bytes);
    EXPECT_EQ(r.end, RecordReader::End);
    EXPECT_EQ(r.header.sessionId(), QStringLiteral("ABCDEFGHIJKLMNOP"));
    EXPECT_EQ(r.header.m_duration, (quint64(1) << 32) + 80); // the last unit's time
    ASSERT_EQ(r.units.size(), 9);
    const int kinds[] = {1, 1, 1, 2, 2, 3, 4, 5, 3};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(r.units[i].type, kinds[i]) << i; // flag cleared after reading

    EXPECT_EQ(r.units[0].payload, QByteArray("\x0B\x12\x34\x00\x56\xCA\xFE\xBA\xBE", 9));

    // Cursor record: code, sub-code, empty first string, end of list, id, record.
    const QByteArray c1 = r.units[1].payload;
    EXPECT_EQ(c1.left(8), QByteArray("\x28\xE1\x00\x00\x00\x00\x00\x07", 8));
    VtrCursor cursor;
    const auto* rec = reinterpret_cast<const unsigned char*>(c1.constData()) + 8;
    ASSERT_EQ(cursor.deserialize(rec, int(c1.size()) - 8), c1.size() - 8);
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

TEST(RecordingWriterTest, ScreenFramesRebuildTheirSource)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.vro"));
    VideoFrame first = desktop(200, 120, 0);
    VideoFrame second = desktop(200, 120, 30);
    {
        RecordingWriter w;
        w.setCompression(true);
        w.open(path);
        w.writeScreenFrame(0, first);
        w.writeScreenFrame(100, second, 0xEB);
        w.writeScreenFrame(200, second); // nothing changed
    } // the destructor finishes the file

    const ReadBack r = readFile(path);
    ASSERT_EQ(r.units.size(), 4);
    EXPECT_EQ(r.header.m_duration, 200u);
    const char codes[] = {'\xE9', '\xED', '\xEB', '\xED'};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(r.units[i].payload[0], codes[i]) << i;
    // The differential update is smaller than the first full one.
    EXPECT_LT(r.units[2].payload.size(), r.units[1].payload.size());
    EXPECT_LE(r.units[3].payload.size(), 2 + 8);
    EXPECT_TRUE(sameScreen(straightDecode(path, 0), first));
    EXPECT_TRUE(sameScreen(straightDecode(path, 200), second));
}

TEST(RecordingWriterTest, ChunkedPhotographicFramesDecodeWithinJpegTolerance)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.vro"));
    VideoFrame photo;
    photo.resize(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            photo.setPixel(x, y, 0xFF000000u | (x * 255 / 639) << 16 | (y * 255 / 479) << 8
                                     | ((x + y) * 255 / 1118));
    RecordingWriter w;
    w.setChunkedScreen(true);
    w.setJpegQuality(85);
    w.open(path);
    w.writeScreenFrame(0, photo);
    w.finish();

    const ReadBack r = readFile(path);
    ASSERT_GE(r.units.size(), 3); // header, pieces, end of frame
    EXPECT_EQ(static_cast<unsigned char>(r.units[0].payload[4 + 2]), 255 - 85 * 255 / 100);
    for (int i = 1; i + 1 < r.units.size(); ++i)
        EXPECT_EQ(static_cast<unsigned char>(r.units[i].payload[0]), 0xEA);
    EXPECT_EQ(static_cast<unsigned char>(r.units.last().payload[0]), 0xED);
    // Every piece lands where it belongs: a misplaced one would be far off.
    const VideoFrame decoded = straightDecode(path, 0);
    ASSERT_EQ(decoded.width() * decoded.height(), 640 * 480);
    const PixelDiff d = diffPixels(decoded.pixels(), photo.pixels(), 640, 0, 0, 640, 480);
    EXPECT_LE(d.worst, 24);
    EXPECT_LE(d.mean, 3.0);
}
