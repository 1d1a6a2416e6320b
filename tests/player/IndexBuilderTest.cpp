// The index builder on real recordings: the entry table, the key frames it
// stores, failures and cancellation, and what an interrupted build leaves.

#include "IndexBuilder.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

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

// Paints a noisy (photographic) block into the top-left 32 x 32 pixels.
void paintPhoto(VideoFrame& frame, int seed)
{
    unsigned int state = static_cast<unsigned int>(seed) * 2654435761u + 1;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            state = state * 1103515245u + 12345u;
            const unsigned int g = 96 + ((x * 4 + y * 2 + (state >> 24) % 24) & 0x7F);
            frame.pixels()[y * frame.width() + x] =
                0xFF000000u | (g << 16) | ((g / 2) << 8) | (255 - g);
        }
    }
}

// The grid code of a JPEG box: 0x06, the length (2 bytes, big-endian), then
// box `box` of the 2 x 2 at the top left of `screen` as the JPEG encoder
// writes it with `factor`.
QByteArray jpegBoxCode(const VideoFrame& screen, int box, int factor)
{
    int pixels[256];
    for (int i = 0; i < 256; ++i)
        pixels[i] = int(screen.pixels()[((box / 2) * 16 + i / 16) * screen.width()
                                        + (box % 2) * 16 + i % 16]);
    JPEGEncoder jpeg;
    jpeg.setScaleFactor(static_cast<unsigned char>(factor));
    Array<unsigned char, int> out;
    jpeg.encodeRaw(pixels, 16, 16, out);
    return QByteArray(1, '\x06') + char(out.count() >> 8) + char(out.count()) + bytesOf(out);
}

class IndexBuilderTest : public ::testing::Test
{
protected:
    QString write(const QString& name, quint64 duration, const Units& units)
    {
        EXPECT_TRUE(writeFile(dir.filePath(name), recordingBytes(duration, units)));
        return dir.filePath(name);
    }

    QTemporaryDir dir;
    IndexBuilder builder;
};

} // namespace

TEST_F(IndexBuilderTest, TakesAKeyFrameEveryIntervalUpToAnUnknownUnit)
{
    // 40 s with a unit every 300 ms up to 25 s, then a unit of unknown kind
    // that ends the recording for the index: 5 entries, the first key frame
    // at the first unit at or after 10 s, the second 10 s after that, the
    // others left empty.
    const QString p = write("a.vro", 40000, [](RecordingWriter& w) {
        for (quint64 t = 0; t <= 25000; t += 300)
            w.writeMousePos(t, 1, 1, 1);
        w.writeRawUnit(9, 25000, "????");
        w.writeMousePos(30000, 1, 1, 1);
    });
    std::vector<quint64> progress;
    QObject::connect(&builder, &IndexBuilder::idxPositionChanged,
                     [&](quint64 s) { progress.push_back(s); });
    ASSERT_TRUE(builder.makeIndex(p, 10000));

    LoadedIndex l = loadIndex(p);
    ASSERT_TRUE(l.ok) << l.report.problem.toStdString();
    EXPECT_EQ(l.header.m_count, 5u);
    ASSERT_EQ(l.entries.count(), 2);
    EXPECT_EQ(l.entries[0].m_time, 10200u);
    EXPECT_EQ(l.entries[1].m_time, 20400u);
    // Progress is in whole seconds of recording time and ends at the last
    // unit read (24.9 s).
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 24u);
    EXPECT_FALSE(QFile::exists(IndexBuilder::tempFileName(IndexFile::indexFileName(p))));
}

TEST_F(IndexBuilderTest, TheEntryCountComesFromTheDurationWithinWhatTheFileHolds)
{
    const QByteArray bytes = recordingBytes(0, [](RecordingWriter& w) { w.writeMousePos(0, 0, 0, 0); });
    const quint64 fileBound = static_cast<quint64>(bytes.size()) / 24 + 1;
    const std::pair<quint64, quint64> cases[] = {{0, 1}, {9999, 1}, {10000, 2}, {~0ULL, fileBound}};
    for (const auto& [duration, count] : cases) {
        // The writer takes durations up to 2^63; a hostile one is patched in.
        const QString p = dir.filePath("d.vro");
        ASSERT_TRUE(writeFile(p, bytes.left(8) + le(duration, 8) + bytes.mid(16)));
        ASSERT_TRUE(builder.makeIndex(p, 10000)) << duration;
        QFile f(IndexFile::indexFileName(p));
        IndexFileHeader h;
        ASSERT_TRUE(f.open(QIODevice::ReadOnly) && h.read(f));
        EXPECT_EQ(h.m_count, count) << duration;
        EXPECT_EQ(f.size(), static_cast<qint64>(24 + 32 * count)) << duration;
    }
}

TEST_F(IndexBuilderTest, KeyFramesUseTheRecordingsOwnJpegFactor)
{
    // A photographic block makes the encoder write JPEG boxes. 77 is what the
    // quality round trip (255 - p) * 100 / 255 would turn into 80; 29 is a
    // factor the encoder's starting factor 26 stands in for; 130 is a factor
    // no quality gives: the key frame's boxes take the nearest one, its
    // prefix still names 130.
    for (int scale : {77, 29, 26, 130}) {
        SCOPED_TRACE(scale);
        VideoFrame screen = paintScreen(64, 48, 1);
        paintPhoto(screen, scale);
        GridEncoder encoder;
        encoder.setQuality(IndexBuilder::qualityForScale(scale));
        encoder.setScreenDimension(64, 48);
        const QString p = write(QStringLiteral("j%1.vro").arg(scale), 10000, [&](RecordingWriter& w) {
            w.writeScreenMessage(0, UnitDispatch::SCREEN_FULL, screenHeader(64, 48, scale));
            w.writeScreenMessage(0, UnitDispatch::SCREEN_END, encodeScreen(encoder, screen));
            w.writeMousePos(10000, 0, 0, 0);
        });
        ASSERT_TRUE(builder.makeIndex(p, 10000));
        LoadedIndex l = loadIndex(p);
        IndexFile::KeyFrame kf;
        ASSERT_TRUE(l.entries.count() == 1 && l.readKeyFrame(0, kf));
        EXPECT_EQ(kf.jpegScale, scale);

        // Its JPEG boxes (the photographic 2 x 2 boxes at the top left) are
        // exactly what the JPEG encoder writes with the factor of the
        // nearest quality (the factor itself when a quality gives it).
        const VideoFrame decoded = straightDecode(p, 0);
        const QByteArray data(reinterpret_cast<const char*>(kf.data), kf.length);
        const int used = 255 - IndexBuilder::qualityForScale(scale) * 255 / 100;
        for (int box = 0; box < 4; ++box)
            EXPECT_TRUE(data.contains(jpegBoxCode(decoded, box, used))) << "box " << box;
    }
    // Every factor a quality gives is matched exactly.
    for (int q = 0; q <= 100; ++q) {
        const int scale = 255 - q * 255 / 100;
        EXPECT_EQ(255 - IndexBuilder::qualityForScale(scale) * 255 / 100, scale) << q;
    }
}

TEST_F(IndexBuilderTest, AFailureOrACancelLeavesNoIndex)
{
    // A payload that does not decompress, halfway; an old index goes too.
    const QString broken = write("broken.vro", 20000, [](RecordingWriter& w) {
        screenUnits(48, 32, 500, 12000)(w);
        w.writeRawUnit(0x12, 12500, "not zlib");
    });
    const QString index = IndexFile::indexFileName(broken);
    ASSERT_TRUE(writeFile(index, QByteArray("an old index")));
    EXPECT_FALSE(builder.makeIndex(broken, 10000));
    EXPECT_FALSE(QFile::exists(index));
    EXPECT_FALSE(QFile::exists(IndexBuilder::tempFileName(index)));

    // Cancelled from another thread once the build is under way (its
    // temporary file exists); a large screen makes the build last a while.
    const QString p = write("c.vro", 60000, heavyUnits(100, 60000));
    const QString final = IndexFile::indexFileName(p);
    const QString temp = IndexBuilder::tempFileName(final);
    std::atomic<bool> sawIndexWhileBuilding{false};
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done.load() && !QFile::exists(temp))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawIndexWhileBuilding = QFile::exists(final);
        builder.cancel();
    });
    const bool built = builder.makeIndex(p, 10000);
    done = true;
    canceller.join();
    EXPECT_FALSE(built);
    EXPECT_FALSE(sawIndexWhileBuilding.load()) << "the index appears only when complete";
    EXPECT_FALSE(QFile::exists(final));
    EXPECT_FALSE(QFile::exists(temp));

    // The cancel does not carry over to the next build.
    EXPECT_TRUE(builder.makeIndex(write("next.vro", 1000, screenUnits(48, 32, 500, 1000)), 10000));
}
