// SPDX-License-Identifier: GPL-3.0-or-later
// The index builder on real recordings: the entry table, the key frames it
// stores and what a failure leaves (a cancel: SeekTest).

#include "IndexBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include "FormatBytes.h"
#include "IndexFile.h"
#include "JPEGEncoder.h"
#include "PlayerTestSupport.h"
#include "UnitDispatch.h"

namespace {

// The index the builder wrote for `recording`.
LoadedIndex loadIndex(const QString& recording)
{
    QFile f(IndexFile::indexFileName(recording));
    return LoadedIndex(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(),
                       QFile(recording).size());
}

// The screen a key frame restores.
ScreenFrame restore(const IndexFile::KeyFrame& kf)
{
    GridDecoder decoder;
    ScreenFrame restored;
    decoder.m_listener = &restored;
    unsigned char header[GridFormat::kScreenHeaderSize];
    GridFormat::writeScreenHeader(kf.width, kf.height, kf.jpegScale, header);
    decoder.decodeScreen(header, GridFormat::kScreenHeaderSize);
    decoder.decode(kf.data, kf.length);
    return restored;
}

// A player thread runs alongside, idle: the fixture's recordings and folder
// are all these tests use.
class IndexBuilderTest : public PlayerFixture
{
protected:
    IndexBuilder builder;
};

} // namespace

TEST_F(IndexBuilderTest, TakesAKeyFrameEveryIntervalPastDamage)
{
    // 40 s: a unit every 300 ms up to 10.2 s, one that steps back to 10.1 s,
    // a unit every 300 ms from 10.4 s to 25 s, then a unit of unknown kind
    // that is passed over, and one more unit at 30 s. The key frames come at
    // the first unit at or after 10 s and 10 s after that, the step back
    // counting as no time; the other three entries stay empty.
    const QString p = write("a.vro", 40000, [](RecordingWriter& w) {
        for (quint64 t = 0; t <= 10200; t += 300)
            w.writeMousePos(t, 1, 1, 1);
        w.writeMousePos(10100, 1, 1, 1);
        for (quint64 t = 10400; t <= 25000; t += 300)
            w.writeMousePos(t, 1, 1, 1);
        w.writeRawUnit(9, 25000, "????");
        w.writeMousePos(30000, 1, 1, 1);
    });
    ASSERT_TRUE(builder.makeIndex(p, 10000));
    ASSERT_EQ(builder.damage().size(), 1);
    EXPECT_EQ(builder.damage()[0].timeAfter, 30000u);

    LoadedIndex l = loadIndex(p);
    ASSERT_TRUE(l.ok) << l.report.problem.toStdString();
    ASSERT_EQ(l.entries.count(), 2);
    EXPECT_EQ(l.entries[0].m_time, 10200u);
    EXPECT_EQ(l.entries[1].m_time, 20300u);
    EXPECT_EQ(l.report.unusable, 0);
    EXPECT_EQ(l.report.trailingEmpty, 3);
}

TEST_F(IndexBuilderTest, TheEntryCountComesFromTheDurationWithinWhatTheFileHolds)
{
    const QByteArray bytes = recordingBytes(0, mouseUnits({0}));
    const quint64 fileBound = static_cast<quint64>(bytes.size()) / 24 + 1;
    const std::pair<quint64, quint64> cases[] = {{0, 1}, {9999, 1}, {10000, 2}, {~0ULL, fileBound}};
    for (const auto& [duration, count] : cases) {
        // The writer takes durations up to 2^63; a hostile one is patched in.
        const QString p = dir.filePath("d.vro");
        ASSERT_TRUE(writeBytes(p, bytes.left(8) + le(duration, 8) + bytes.mid(16)));
        ASSERT_TRUE(builder.makeIndex(p, 10000)) << duration;
        const LoadedIndex l = loadIndex(p);
        EXPECT_EQ(l.header.m_count, count) << duration;
        EXPECT_EQ(l.data.size(), static_cast<qint64>(24 + 32 * count)) << duration;
    }
    // A header that says 0 (never finished) or less than the units: the
    // units' real end counts, and the index is the one a true duration gives
    // (the table grows at the end and the key frames move up).
    auto indexBytes = [&](const QString& name, quint64 duration, const Units& units) {
        const QString p = write(name, duration, units);
        EXPECT_TRUE(builder.makeIndex(p, 10000)) << name.toStdString();
        QFile f(IndexFile::indexFileName(p));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray truth = indexBytes("true.vro", 25000, mouseUnits({0, 12000, 25000}));
    EXPECT_EQ(LoadedIndex(truth).header.m_count, 3u);
    for (quint64 duration : {0, 9000})
        EXPECT_EQ(indexBytes("short.vro", duration, mouseUnits({0, 12000, 25000})), truth)
            << duration;
    // Times that step back add up to more intervals than the real end
    // holds: the key frames past the table are dropped with their records.
    for (quint64 duration : {0, 15000}) {
        const LoadedIndex l(indexBytes("back.vro", duration,
                                       mouseUnits({0, 15000, 1000, 15000, 1000, 15000})));
        ASSERT_TRUE(l.ok) << duration;
        EXPECT_EQ(l.header.m_count, 2u);
        ASSERT_EQ(l.entries.count(), 2);
        EXPECT_EQ(l.entries[1].m_time, 15000u);
        EXPECT_EQ(quint64(l.data.size()), l.entries[1].m_indexPos + 5 + l.entries[1].m_size);
    }
}

TEST_F(IndexBuilderTest, KeyFramesNameTheRecordingsOwnJpegFactor)
{
    // After a restore the decoder takes its JPEG factor from the key frame's
    // prefix, for the recording's following boxes: it must be the
    // recording's, not what the quality round trip (255 - p) * 100 / 255
    // makes of it (77 would become 80), even for a factor no quality gives.
    for (int scale : {77, 130}) {
        const QString p = write(QString::number(scale) + ".vro", 10000, [&](RecordingWriter& w) {
            w.writeScreenMessage(0, UnitDispatch::SCREEN_FULL, screenHeader(64, 48, scale));
            w.writeMousePos(10000, 0, 0, 0);
        });
        ASSERT_TRUE(builder.makeIndex(p, 10000));
        LoadedIndex l = loadIndex(p);
        IndexFile::KeyFrame kf;
        ASSERT_TRUE(l.entries.count() == 1 && l.readKeyFrame(0, kf)) << scale;
        EXPECT_EQ(kf.jpegScale, scale);
    }
    // The key frame's own JPEG boxes are encoded with the recording's factor
    // whenever a quality gives it.
    for (int q = 0; q <= 100; ++q) {
        const int scale = 255 - q * 255 / 100;
        EXPECT_EQ(255 - IndexBuilder::qualityForScale(scale) * 255 / 100, scale) << q;
    }
}

TEST_F(IndexBuilderTest, EachKeyFrameShowsExactlyTheScreenAfterItsUnit)
{
    // A screen on which a few boxes change every 250 ms, photographs among
    // them, nothing from 10 s to 20 s, then a screen header that changes the
    // JPEG factor just before the key frame at 20 s (the photographs not
    // painted since the key frame at 10 s must go into it again), and
    // another screen size from 35 s on. The key frames are
    // encoded on the second thread from the boxes handed over, with the
    // encoder's box store and the recording's own JPEG data: each, decoded,
    // must be pixel for pixel the screen a straight decode shows after the
    // entry's unit (photographs included: coded again, they would differ by
    // a few levels).
    const auto units = [](RecordingWriter& w) {
        VideoFrame f = paintScreen(100, 60, 0);
        for (int step = 0; step * 250 <= 70000; ++step) {
            if (step * 250 == 35000)
                f = paintScreen(72, 40, 1);
            if (step * 250 == 20000)
                w.writeScreenMessage(19999, UnitDispatch::SCREEN_FULL, screenHeader(100, 60, 102));
            const int columns = (f.width() + 15) / 16;
            const int boxes = columns * ((f.height() + 15) / 16);
            for (int k = 0; k < (step * 250 > 10000 && step * 250 < 20000 ? 0 : 2); ++k) {
                const int box = (step * 7 + k * 11) % boxes;
                const int x0 = box % columns * 16, y0 = box / columns * 16;
                for (int y = y0; y < std::min(y0 + 16, f.height()); ++y)
                    for (int x = x0; x < std::min(x0 + 16, f.width()); ++x)
                        f.pixels()[y * f.width() + x] = 0xFF000000u
                            | (step % 3 ? unsigned(step * 0x10203 + (x & k) * 0x404040)
                                        : unsigned(x * 37 + y * 11 + step * 5));
            }
            w.writeScreenFrame(quint64(step) * 250, f);
        }
    };
    // Built first as an unfinished recording (duration 0), whose table grows
    // at the end: the same index as the finished one's.
    const QString unfinished = write("unfinished.vro", 0, units);
    ASSERT_TRUE(builder.makeIndex(unfinished, 10000));
    const QString p = write("changes.vro", 70000, units);
    ASSERT_TRUE(builder.makeIndex(p, 10000));
    EXPECT_TRUE(loadIndex(unfinished).data == loadIndex(p).data);

    LoadedIndex l = loadIndex(p);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.entries.count(), 7);
    for (int e = 0; e < l.entries.count(); ++e) {
        IndexFile::KeyFrame kf;
        ASSERT_TRUE(l.readKeyFrame(e, kf));
        const qint64 pos = qint64(l.entries[e].m_filePos);
        VideoFrame screen =
            straightDecodeWhile(p, [=](const RecordUnitHeader&, qint64 at) { return at <= pos; });
        const ScreenFrame restored = restore(kf);
        ASSERT_EQ(restored.width(), screen.width()) << e;
        ASSERT_EQ(restored.height(), screen.height()) << e;
        EXPECT_TRUE(std::equal(screen.pixels(), screen.pixels() + screen.width() * screen.height(),
                               restored.pixels()))
            << "key frame " << e;
    }
}

TEST_F(IndexBuilderTest, AFailureOrACancelWhileTheWriterWorksLeavesNoIndex)
{
    // An old index goes too. The second thread's hook runs before each key
    // frame is encoded. The cancel comes from there, so it reaches the
    // building thread wherever it is: reading, waiting for a free key frame,
    // or waiting for the writer to finish.
    const QString p = write("sound.vro", 60000, screenUnits(48, 32, 500, 60000));
    const struct {
        const char* what;
        std::function<void(int)> hook;
        const char* failure;
    } cases[] = {
        {"the writer fails",
         [](int n) {
             if (n == 1)
                 throw std::runtime_error("planted");
         },
         "cannot write the index: key frame 1: planted"},
        {"a cancel while the writer works",
         [this](int n) {
             if (n == 1)
                 builder.cancel();
         },
         "cancelled"},
    };
    const QString index = IndexFile::indexFileName(p);
    for (const auto& c : cases) {
        ASSERT_TRUE(writeBytes(index, QByteArray("an old index")));
        builder.setKeyFrameHook(c.hook);
        EXPECT_FALSE(builder.makeIndex(p, 10000)) << c.what;
        EXPECT_EQ(builder.failure(), c.failure) << c.what;
        EXPECT_FALSE(QFile::exists(index)) << c.what;
        EXPECT_FALSE(QFile::exists(IndexBuilder::tempFileName(index))) << c.what;
    }
    // The builder is ready for the next build.
    builder.setKeyFrameHook(nullptr);
    EXPECT_TRUE(builder.makeIndex(p, 10000));
    EXPECT_TRUE(builder.failure().isEmpty());
}

TEST_F(IndexBuilderTest, AFailureLeavesNoIndexAndSaysWhatHappened)
{
    // The index cannot be written: its temporary name is taken by a folder.
    const QString p = write("a.vro", 20000, screenUnits(48, 32, 500, 12000));
    const QString index = IndexFile::indexFileName(p);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QFileInfo(IndexBuilder::tempFileName(index)).fileName()));
    EXPECT_FALSE(builder.makeIndex(p, 10000));
    EXPECT_FALSE(QFile::exists(index));
    EXPECT_TRUE(builder.failure().startsWith(QStringLiteral("cannot create the index ")))
        << builder.failure().toStdString();
    EXPECT_TRUE(builder.failure().endsWith(QStringLiteral("Is a directory")));

    EXPECT_FALSE(builder.makeIndex(dir.filePath("missing.vro"), 10000));
    EXPECT_EQ(builder.failure(), "cannot open the recording: No such file or directory");
    ASSERT_TRUE(writeBytes(dir.filePath("junk.vro"), QByteArray(100, 'j')));
    EXPECT_FALSE(builder.makeIndex(dir.filePath("junk.vro"), 10000));
    EXPECT_EQ(builder.failure(), "not a recorded session");
}

TEST_F(IndexBuilderTest, AJpegBoxTooLongToKeepGoesAsItsPixels)
{
    // Two photographic boxes, one of them with its data padded past what the
    // builder keeps per box: the key frame holds that box as a RAW code of
    // its pixels, and still shows exactly what playback shows.
    JPEGEncoder jpeg;
    jpeg.setScaleFactor(26);
    int photo[256];
    for (int i = 0; i < 256; ++i)
        photo[i] = 0x102030 + (i * 7 % 256) * 0x010203;
    Array<unsigned char, int> data;
    jpeg.encodeRaw(photo, 16, 16, data);
    QByteArray boxes;
    for (int padding : {IndexBuilder::kMaxKeptJpeg + 1, 0}) {
        const int length = data.count() + padding;
        boxes.append(char(GridFormat::JPEG)).append(char(length >> 8)).append(char(length));
        boxes.append(QByteArray((const char*)data.data(), data.count())).append(QByteArray(padding, '\0'));
    }
    const QString p = write("long.vro", 10000, [&](RecordingWriter& w) {
        w.writeScreenMessage(0, UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26));
        w.writeScreenMessage(0, UnitDispatch::SCREEN_END, boxes);
        w.writeMousePos(10000, 0, 0, 0);
    });
    ASSERT_TRUE(builder.makeIndex(p, 10000));
    LoadedIndex l = loadIndex(p);
    IndexFile::KeyFrame kf;
    ASSERT_TRUE(l.entries.count() == 1 && l.readKeyFrame(0, kf));
    const QByteArray frame((const char*)kf.data, kf.length);
    // The RAW code, not the padded data.
    EXPECT_GE(frame.size(), GridFormat::kRawCodeBytes);
    EXPECT_LT(frame.size(), IndexBuilder::kMaxKeptJpeg);
    VideoFrame screen = straightDecodeWhile(p, [](const RecordUnitHeader&, qint64) { return true; });
    ASSERT_EQ(screen.width(), 32);
    // Decoded at all (not black), each box.
    EXPECT_NE(screen.pixels()[17] & 0xFFFFFF, 0u);
    EXPECT_NE(screen.pixels()[16 + 17] & 0xFFFFFF, 0u);
    const ScreenFrame restored = restore(kf);
    ASSERT_EQ(restored.width(), 32);
    EXPECT_TRUE(std::equal(screen.pixels(), screen.pixels() + 32 * 16, restored.pixels()));
}
