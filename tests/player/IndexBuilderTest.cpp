// The index builder on real recordings: the entry table, the key frames it
// stores and what a failure leaves (a cancel: SeekTest).

#include "IndexBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include "FormatBytes.h"
#include "IndexFile.h"
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
        ASSERT_TRUE(writeFile(p, bytes.left(8) + le(duration, 8) + bytes.mid(16)));
        ASSERT_TRUE(builder.makeIndex(p, 10000)) << duration;
        const LoadedIndex l = loadIndex(p);
        EXPECT_EQ(l.header.m_count, count) << duration;
        EXPECT_EQ(l.data.size(), static_cast<qint64>(24 + 32 * count)) << duration;
    }
    // A header that says 0 (never finished) or less than the units: the
    // units' real end counts.
    for (quint64 duration : {0, 9000}) {
        const QString p = write("short.vro", duration, mouseUnits({0, 12000, 25000}));
        ASSERT_TRUE(builder.makeIndex(p, 10000));
        EXPECT_EQ(loadIndex(p).header.m_count, 3u) << duration;
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
    ASSERT_TRUE(writeFile(dir.filePath("junk.vro"), QByteArray(100, 'j')));
    EXPECT_FALSE(builder.makeIndex(dir.filePath("junk.vro"), 10000));
    EXPECT_EQ(builder.failure(), "not a recorded session");
}
