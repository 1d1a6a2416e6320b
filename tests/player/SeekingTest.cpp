// The seek's entry choice and key-frame restore, shared by the player and
// sessiontool.

#include "Seeking.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include "FormatBytes.h"
#include "IndexFile.h"
#include "PlayerTestSupport.h"

namespace {

// Restores into a view the key frame of an index that holds one record at
// offset 0: the prefix of a w x h screen, then `data` read with `flags`.
struct Restore
{
    Restore() { decoder.m_listener = &view; }

    bool run(int w, int h, const QByteArray& data, unsigned char flags)
    {
        unsigned char prefix[IndexEntryPoint::PREFIX_SIZE];
        IndexFile::composeKeyFramePrefix(w, h, 77, prefix);
        QByteArray bytes = QByteArray(reinterpret_cast<const char*>(prefix), 5) + data;
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        IndexEntryPoint entry;
        entry.m_size = static_cast<quint64>(data.size());
        Array<unsigned char, int> packed, keyFrame;
        return Seeking::restoreKeyFrame(device, entry, flags, decoder, &view, packed, keyFrame);
    }

    FakeView view;
    GridDecoder decoder;
};

} // namespace

TEST(SeekingTest, ChoosesTheLastEntryAtOrBeforeTheTarget)
{
    // Entries at the given times; a target; the entry chosen (or RESTART).
    const std::tuple<std::vector<quint64>, long long, int> cases[] = {
        {{0, 10000, 20000, 30000}, 15000, 1}, {{0, 10000, 20000, 30000}, 10000, 1},
        {{0, 10000, 20000, 30000}, 0, 0},     {{0, 10000, 20000, 30000}, 30001, 3},
        {{0, 10000, 20000, 30000}, 30000, 2}, // the last entry only for a later target
        {{0, 10000, 20000, 30000, 40000}, 35000, 3},
        // Before the first entry, or no entry at all: from the beginning.
        {{10000, 20000, 30000}, 5000, Seeking::RESTART}, {{}, 5000, Seeking::RESTART},
        {{10000}, 10000, 0}, {{10000}, 60000, 0}};
    for (const auto& [times, target, expected] : cases) {
        Array<IndexEntryPoint, int> entries;
        for (quint64 t : times) {
            entries.append(IndexEntryPoint());
            entries[entries.count() - 1].m_time = t;
        }
        EXPECT_EQ(Seeking::chooseEntry(entries, target), expected)
            << times.size() << " entries, target " << target;
    }
}

TEST(SeekingTest, ARestoredKeyFrameReplacesTheWholeScreen)
{
    // The screen shows something else before the restore, at the same size.
    Restore r;
    const QByteArray header = screenHeader(32, 16, 26);
    r.decoder.decodeScreen(reinterpret_cast<const unsigned char*>(header.constData()), 6);
    std::vector<unsigned int> old(32 * 16, 0xFFABCDEFu);
    r.view.setScreenPixels(old.data(), 32, 16);

    // A key frame of the 32 x 16 screen whose second box was never painted.
    ASSERT_TRUE(r.run(32, 16, zipped(QByteArray("\xC9\x00\x01\x10\x20\x30", 6)), 0x11));
    const VideoFrame f = r.view.frame();
    EXPECT_EQ(f.pixels()[0], 0xFF102030u);
    EXPECT_EQ(f.pixels()[16], 0u) << "the unpainted box is cleared, not left from before";
}

TEST(SeekingTest, RawKeyFramesAreUsedOnlyAtExactlyTheScreenSize)
{
    for (unsigned char flags : {0x00, 0x10}) {
        for (int pixels : {4 * 2 - 1, 4 * 2, 4 * 2 + 1}) {
            SCOPED_TRACE(testing::Message() << "flags " << int(flags) << ", pixels " << pixels);
            QByteArray data;
            for (int i = 0; i < pixels; ++i)
                data.append("\x44\x33\x22\xFF", 4);
            Restore r;
            const bool used = r.run(4, 2, flags ? zipped(data) : data, flags);
            EXPECT_EQ(used, pixels == 8);
            if (used) {
                EXPECT_EQ(r.view.frame().pixels()[7], 0xFF223344u);
            } else {
                EXPECT_EQ(r.view.count("clearScreen"), 0) << "an unusable key frame: no change";
            }
        }
    }
}
