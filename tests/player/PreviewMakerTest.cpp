// SPDX-License-Identifier: GPL-3.0-or-later
// Preview pictures from an index's key frames on the maker's own thread:
// the latest request wins, the cache stays within its bound, and without a
// usable index the picture is null. (What the pictures show is checked on
// the window, PositionPreviewTest.)

#include <QFile>
#include <QImage>

#include "IndexBuilder.h"
#include "IndexFile.h"
#include "PlayerTestSupport.h"
#include "PreviewMaker.h"

namespace {

class PreviewMakerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // Frames every 5 s for 60 s: key frames near 10, 20, ... 60 s.
        recording = dir.filePath(QStringLiteral("p.vro"));
        ASSERT_TRUE(writeBytes(recording, recordingBytes(60000, screenUnits(320, 240, 5000, 60000))));
        index = recording + QLatin1Char('x');
        QObject::connect(&maker, &PreviewMaker::previewReady, &maker,
                         [&](quint64 ms, quint64 keyMs, const QImage& image) {
                             results.push_back({ms, keyMs, image});
                         });
    }
    void buildIndex()
    {
        IndexBuilder builder;
        ASSERT_TRUE(builder.makeIndex(recording, 10000));
        QFile f(index);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        IndexFileHeader header;
        ASSERT_TRUE(IndexFile::load(f, header, entries));
    }
    // Asks and waits for the answer to `ms`.
    bool ask(quint64 ms)
    {
        const size_t before = results.size();
        maker.request(ms);
        return waitFor([&] { return results.size() > before && results.back().ms == ms; }, 10000);
    }

    struct Result
    {
        quint64 ms, keyMs;
        QImage image;
    };
    QTemporaryDir dir;
    QString recording, index;
    Array<IndexEntryPoint, int> entries;
    PreviewMaker maker;
    std::vector<Result> results;
};

TEST_F(PreviewMakerTest, CacheStaysWithinItsBoundAndTheLatestRequestWins)
{
    buildIndex();
    maker.setSource(recording, index);
    const qint64 picture = 240 * 180 * 4;
    maker.setCacheLimit(picture * 5 / 2);
    for (int e = 0; e < entries.count(); ++e)
        ASSERT_TRUE(ask(entries[e].m_time));
    EXPECT_EQ(maker.cacheCount(), 2);
    EXPECT_LE(maker.cacheBytes(), picture * 5 / 2);
    // A hit answers with the same picture.
    const QImage last = results.back().image;
    ASSERT_TRUE(ask(entries[entries.count() - 1].m_time + 1));
    EXPECT_EQ(results.back().image, last);

    // A burst: the requests not yet started are replaced by later ones.
    maker.setCacheLimit(0);
    const int before = maker.served();
    for (quint64 ms = 0; ms < 60000; ms += 100)
        maker.request(ms);
    ASSERT_TRUE(waitFor([&] { return !results.empty() && results.back().ms == 59900; }, 20000));
    pump(100);
    EXPECT_LT(maker.served() - before, 600);
    EXPECT_EQ(maker.cacheCount(), 1);
}

TEST_F(PreviewMakerTest, WithoutAUsableIndexThePictureIsNull)
{
    // None at all, a file that is not an index, and one whose table points
    // past its end.
    maker.setSource(recording, QString());
    ASSERT_TRUE(ask(12000));
    EXPECT_TRUE(results.back().image.isNull());

    ASSERT_TRUE(writeBytes(index, QByteArray(200, 'x')));
    maker.setSource(recording, index);
    ASSERT_TRUE(ask(12000));
    EXPECT_TRUE(results.back().image.isNull());

    buildIndex();
    QFile f(index);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.resize(IndexFileHeader::SIZE + 10);
    f.close();
    maker.setSource(recording, QString());
    maker.setSource(recording, index);
    ASSERT_TRUE(ask(12000));
    EXPECT_TRUE(results.back().image.isNull());
    EXPECT_EQ(maker.cacheCount(), 0);
}

} // namespace
