// The seek's entry choice and key-frame restore, shared by the player and
// sessiontool.

#include "Seeking.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include "IndexFile.h"
#include "PlayerTestSupport.h"
#include "Zip.h"

namespace {

struct Choice
{
    std::vector<quint64> times;
    long long target;
    int expected; // Seeking::RESTART or an index
    bool correction;
};

class ChooseEntryTest : public ::testing::TestWithParam<Choice>
{
};

} // namespace

TEST_P(ChooseEntryTest, TakesTheLastEntryAtOrBeforeTheTarget)
{
    const Choice& c = GetParam();
    Array<IndexEntryPoint, int> entries;
    for (quint64 t : c.times) {
        IndexEntryPoint e;
        e.m_time = t;
        entries.append(e);
    }
    LogCapture log;
    EXPECT_EQ(Seeking::chooseEntry(entries, c.target), c.expected);
    EXPECT_EQ(log.contains(QStringLiteral("Backward correction.")), c.correction);
    if (c.correction && c.expected != Seeking::RESTART) {
        EXPECT_TRUE(log.contains(QStringLiteral("Target time: %1").arg(c.target)));
        EXPECT_TRUE(log.contains(
            QStringLiteral("Index entry: %1").arg(entries[c.expected].m_time)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ChooseEntryTest,
    ::testing::Values(
        // Entries at 0, 10, 20 and 30 s.
        Choice{{0, 10000, 20000, 30000}, 25000, 2, false},
        Choice{{0, 10000, 20000, 30000}, 15000, 1, true},
        Choice{{0, 10000, 20000, 30000}, 30000, 2, false}, // the last needs a smaller target
        Choice{{0, 10000, 20000, 30000}, 30001, 3, false},
        Choice{{0, 10000, 20000, 30000}, 10000, 1, false},
        Choice{{0, 10000, 20000, 30000}, 0, 0, true},
        Choice{{0, 10000, 20000, 30000, 40000}, 35000, 3, false},
        Choice{{0, 10000, 20000, 30000, 40000}, 20000, 2, false},
        // Before the first entry, or no entry at all: from the beginning.
        Choice{{10000, 20000, 30000}, 5000, Seeking::RESTART, false},
        Choice{{10000, 20000}, 9999, Seeking::RESTART, false},
        Choice{{}, 5000, Seeking::RESTART, false},
        Choice{{10000}, 10000, 0, false}, Choice{{10000}, 60000, 0, false}));

TEST(SeekingTest, ARestoredKeyFrameReplacesTheWholeScreen)
{
    // A key frame of a 32 x 16 screen whose second box was never painted.
    QByteArray grid;
    grid.append(static_cast<char>(201));
    grid.append('\0');
    grid.append(static_cast<char>(1));
    grid.append("\x10\x20\x30", 3); // box 0 only
    Array<unsigned char, int> packed;
    ASSERT_TRUE(Zip::zipBuffer(reinterpret_cast<const unsigned char*>(grid.constData()),
                               static_cast<int>(grid.size()), packed, Zip::COMPRESSION_DEFAULT));
    QByteArray index(5, '\0');
    unsigned char prefix[5];
    IndexFile::composeKeyFramePrefix(32, 16, 77, prefix);
    index = QByteArray(reinterpret_cast<const char*>(prefix), 5)
        + QByteArray(reinterpret_cast<const char*>(packed.data()), packed.count());
    QBuffer device(&index);
    device.open(QIODevice::ReadOnly);
    IndexEntryPoint entry;
    entry.m_indexPos = 0;
    entry.m_size = static_cast<quint64>(packed.count());

    FakeView view;
    GridDecoder decoder;
    decoder.m_listener = &view;
    // The screen shows something else before the restore, at the same size.
    const QByteArray header = screenHeader(32, 16, 26);
    decoder.decodeScreen(reinterpret_cast<const unsigned char*>(header.constData()), 6);
    std::vector<unsigned int> old(32 * 16, 0xFFABCDEFu);
    view.setScreenPixels(old.data(), 32, 16);
    view.clearRecord();

    Array<unsigned char, int> a, b;
    ASSERT_TRUE(Seeking::restoreKeyFrame(device, entry, 0x11, decoder, &view, a, b));
    const VideoFrame f = view.frame();
    EXPECT_EQ(f.pixels()[0], 0xFF102030u);
    EXPECT_EQ(f.pixels()[16], 0u) << "the unpainted box is cleared, not left from before";
    EXPECT_EQ(f.pixels()[31 + 15 * 32], 0u);
    EXPECT_EQ(view.count("onScreenDimension"), 0) << "same size";
}

TEST(SeekingTest, RawKeyFramesAreUsedOnlyAtExactlyTheScreenSize)
{
    auto rawIndex = [](int w, int h, int pixels) {
        unsigned char prefix[5];
        IndexFile::composeKeyFramePrefix(w, h, 0, prefix);
        QByteArray data(reinterpret_cast<const char*>(prefix), 5);
        for (int i = 0; i < pixels; ++i)
            data.append("\x44\x33\x22\xFF", 4);
        return data;
    };
    for (int pixels : {4 * 2 - 1, 4 * 2, 4 * 2 + 1}) {
        QByteArray bytes = rawIndex(4, 2, pixels);
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        IndexEntryPoint entry;
        entry.m_size = static_cast<quint64>(pixels) * 4;
        FakeView view;
        GridDecoder decoder;
        decoder.m_listener = &view;
        Array<unsigned char, int> a, b;
        const bool used = Seeking::restoreKeyFrame(device, entry, 0x00, decoder, &view, a, b);
        EXPECT_EQ(used, pixels == 8) << pixels;
        if (used) {
            const VideoFrame f = view.frame();
            ASSERT_EQ(f.width(), 4);
            EXPECT_EQ(f.pixels()[7], 0xFF223344u);
        } else {
            EXPECT_EQ(view.count("clearScreen"), 0) << "an unusable key frame changes nothing";
        }
    }
}
