// SPDX-License-Identifier: GPL-3.0-or-later
// `sessiontool frame` against a straight decode of a `synth` recording, with
// and without its index.

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTemporaryDir>

#include <cmath>

#include <gtest/gtest.h>

#include "MultiMonitor.h"
#include "ToolTestSupport.h"

namespace {

// Moments across the story of a 24-second recording: typing, scrolling, the
// photo changes, the drag, the pause and just around the key frames.
const double kMoments[] = {0.05, 1.0, 3.3, 6.02, 7.77, 9.99, 10.0, 10.05, 11.2, 12.3,
                           13.0, 14.25, 15.1, 16.5, 17.45, 19.99, 20.0, 20.1, 22.7, 23.95};

class FrameCommandTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_path = s_dir->filePath(QStringLiteral("demo.vro"));
        const ToolRun r = runTool({"synth", "-o", s_path, "--seconds", "24", "--size", "640x400",
                                   "--seed", "5", "--audio", "--compress"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    // The tool's image at `seconds` (RGB32, so its pixels compare with a
    // screen's), and what it said.
    static QImage frameAt(double seconds, QString* said = nullptr, bool cursor = false)
    {
        const QString out = s_dir->filePath(QStringLiteral("f.png"));
        QFile::remove(out);
        QStringList args{"frame", s_path, "--at", QString::number(seconds, 'f', 3), "-o", out};
        if (cursor)
            args << QStringLiteral("--cursor");
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        if (said)
            *said = r.out;
        return QImage(out).convertToFormat(QImage::Format_RGB32);
    }

    static const unsigned int* pixels(const QImage& image)
    {
        return reinterpret_cast<const unsigned int*>(image.constBits());
    }

    static VideoFrame oracle(double seconds)
    {
        return straightDecode(s_path, static_cast<quint64>(std::llround(seconds * 1000)));
    }

    static QTemporaryDir* s_dir;
    static QString s_path;
};

QTemporaryDir* FrameCommandTest::s_dir = nullptr;
QString FrameCommandTest::s_path;

} // namespace

TEST_F(FrameCommandTest, WithoutAnIndexEveryPixelIsTheStraightDecode)
{
    for (double t : kMoments) {
        QString said;
        const QImage image = frameAt(t, &said);
        const VideoFrame expected = oracle(t);
        ASSERT_EQ(image.width(), expected.width()) << t;
        ASSERT_EQ(image.height(), expected.height()) << t;
        EXPECT_TRUE(said.contains(QStringLiteral("from the start"))) << said.toStdString();
        EXPECT_EQ(diffPixels(pixels(image), expected.pixels(), expected.width(), 0, 0,
                             expected.width(), expected.height()).differing, 0)
            << "at " << t << " s";
    }
}

TEST_F(FrameCommandTest, WithTheIndexPaletteBoxesAreExactAndPhotosCloseEnough)
{
    const ToolRun built = runTool({"index", s_path});
    ASSERT_EQ(built.exitCode, 0) << built.err.toStdString();
    int fromKeyFrames = 0;
    int photoBoxes = 0;
    for (double t : kMoments) {
        QString said;
        const QImage image = frameAt(t, &said);
        fromKeyFrames += said.contains(QStringLiteral("key frame"));
        const VideoFrame expected = oracle(t);
        ASSERT_EQ(image.width(), expected.width());
        // Box by box: a box of at most 16 colours was stored losslessly by the
        // key frame; a box of more went through its JPEG encoder once more.
        for (int by = 0; by < expected.height(); by += 16) {
            for (int bx = 0; bx < expected.width(); bx += 16) {
                const int w = std::min(16, expected.width() - bx);
                const int h = std::min(16, expected.height() - by);
                QSet<unsigned int> colours;
                for (int y = by; y < by + h; ++y)
                    for (int x = bx; x < bx + w; ++x)
                        colours.insert(expected.pixels()[y * expected.width() + x] & 0xFFFFFF);
                const PixelDiff d =
                    diffPixels(pixels(image), expected.pixels(), expected.width(), bx, by, w, h);
                SCOPED_TRACE(testing::Message() << "box (" << bx << ", " << by << ") at " << t);
                if (colours.size() <= 16) {
                    EXPECT_EQ(d.differing, 0);
                } else {
                    ++photoBoxes;
                    EXPECT_LT(d.mean, 3.0);
                    EXPECT_LE(d.worst, 20);
                }
            }
        }
    }
    // The moments from 10 s on start from a key frame, and the photographs
    // went through JPEG.
    EXPECT_GE(fromKeyFrames, 12);
    EXPECT_GT(photoBoxes, 1000);
    QFile::remove(s_path + QLatin1Char('x'));
}

TEST_F(FrameCommandTest, CursorIsDrawnAtTheLastMousePositionOnly)
{
    for (double t : {4.0, 9.2, 13.7}) {
        const QImage plain = frameAt(t);
        const QImage withCursor = frameAt(t, nullptr, true);
        ASSERT_EQ(plain.size(), withCursor.size());
        // The last mouse position up to t, from the recording itself.
        QFile file(s_path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        RecordReader reader(&file);
        RecordFileHeader header;
        reader.readFileHeader(header);
        RecordUnitHeader unit;
        Array<unsigned char, int> p, packed;
        int mx = -1, my = -1;
        while (reader.readUnit(unit, p, packed) == RecordReader::Unit
               && unit.m_time <= static_cast<quint64>(t * 1000)) {
            if (unit.kind() == RecordUnitHeader::KIND_CONTROL && p.count() >= 9 && p[0] == 0x0B) {
                mx = (p[1] << 8) | p[2];
                my = (p[3] << 8) | p[4];
            }
        }
        ASSERT_GE(mx, 0);
        int changed = 0, outside = 0;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                if (plain.pixel(x, y) != withCursor.pixel(x, y)) {
                    ++changed;
                    outside += std::abs(x - mx) > 17 || std::abs(y - my) > 19;
                }
            }
        }
        EXPECT_GT(changed, 10) << t;
        EXPECT_EQ(outside, 0) << t;
    }
}

TEST_F(FrameCommandTest, FiveMonitorsSideBySideAreDrawnWhole)
{
    const QString wide = s_dir->filePath(QStringLiteral("wide.vro"));
    writeMultiMonitorRecording(wide);
    const QString out = s_dir->filePath(QStringLiteral("wide.png"));
    const ToolRun r = runTool({"frame", wide, "--at", "1.2", "-o", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QImageReader::setAllocationLimit(0); // Qt refuses images above 128 MB by default
    const QImage image = QImage(out).convertToFormat(QImage::Format_RGB32);
    const VideoFrame expected = straightDecode(wide, 1200);
    ASSERT_EQ(image.size(), QSize(kMonitors * kMonitorWidth, kMonitorHeight));
    ASSERT_EQ(expected.width(), image.width());
    EXPECT_EQ(diffPixels(pixels(image), expected.pixels(), expected.width(), 0, 0,
                         expected.width(), expected.height()).differing, 0);
    // The encoder wrote it whole, too: the screen is the one recorded.
    EXPECT_TRUE(sameScreen(expected, multiMonitorScreen(3)));
}
