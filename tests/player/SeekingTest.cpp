// SPDX-License-Identifier: GPL-3.0-or-later
// The seek's entry choice and key-frame restore, shared by the player and
// sessiontool, and its catch-up on a playhead of its own over recordings that
// send a frame in several parts.

#include "Seeking.h"

#include <QBuffer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <climits>

#include <gtest/gtest.h>

#include "FormatBytes.h"
#include "GridEncoder.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "PlayerTestSupport.h"
#include "Playhead.h"

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

// A 640 x 480 recording whose frames, every 500 ms from 0.5 s to 35 s, come
// in two or three parts (0xEA, 0xEA, 0xED) that mostly paint without a
// palette, and seeks on a playhead of its own.
class ChunkedSeekTest : public ::testing::Test
{
protected:
    struct Unit
    {
        quint64 time;
        qint64 pos;
        unsigned char code; // screen message code, 0 for other kinds
    };

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("chunked.vro");
        ASSERT_TRUE(writeBytes(path, recordingBytes(35000, chunkedUnits(640, 480, 500, 500, 35000))));
        playhead.setView(&view);
        RecordFileHeader header;
        playhead.open(path, header);
        RecordUnitHeader unit;
        Array<unsigned char, int> payload, packed;
        while (playhead.reader().readUnit(unit, payload, packed) == RecordReader::Unit)
            units.push_back({unit.m_time, playhead.reader().unitPos(),
                             unit.kind() == RecordUnitHeader::KIND_SCREEN ? payload[0]
                                                                          : (unsigned char)0});
    }

    // Seeks to every target with the index `bytes`: each time the screen is
    // exactly the straight decode of every unit before the one left pending.
    void expectExactSeeks(const QByteArray& bytes, const std::vector<quint64>& targets)
    {
        LoadedIndex l(bytes, QFileInfo(path).size());
        ASSERT_TRUE(l.ok) << l.report.problem.toStdString();
        Seeking seeking(playhead);
        seeking.setIndex(&l.buffer, &l.entries, l.header.m_flags);
        for (quint64 target : targets) {
            const Seeking::Result r = seeking.seek(static_cast<long long>(target), false);
            const qint64 at = r.unitPending ? playhead.reader().unitPos() : LLONG_MAX;
            const VideoFrame expected = straightDecodeBefore(path, at), shown = view.frame();
            ASSERT_EQ(shown.width(), expected.width());
            EXPECT_EQ(diffPixels(shown.pixels(), expected.pixels(), 640, 0, 0, 640, 480).differing,
                      0) << "seek to " << target;
        }
    }

    // A key frame of the screen before the unit at `pos`, as a record.
    QByteArray keyFrameBefore(qint64 pos)
    {
        VideoFrame screen = straightDecodeBefore(path, pos);
        GridEncoder encoder;
        encoder.setScreenDimension(640, 480);
        Array<unsigned char, int> unused;
        encoder.encode(&screen, 0, 0, 640, 480, unused);
        unsigned char prefix[IndexEntryPoint::PREFIX_SIZE];
        IndexFile::composeKeyFramePrefix(640, 480, 26, prefix);
        return QByteArray((const char*)prefix, sizeof prefix)
            + zipped(QByteArray((const char*)encoder.output().data(), encoder.output().count()));
    }

    QTemporaryDir dir;
    QString path;
    std::vector<Unit> units;
    FakeView view;
    Playhead playhead;
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


TEST_F(ChunkedSeekTest, TheBuildersKeyFramesLieBetweenFrames)
{
    ASSERT_TRUE(IndexBuilder().makeIndex(path, 10000));
    QFile file(IndexFile::indexFileName(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    LoadedIndex l(bytes);
    ASSERT_EQ(l.entries.count(), 3);
    std::vector<quint64> targets;
    for (int e = 0; e < l.entries.count(); ++e) {
        EXPECT_TRUE(Seeking::resumesAtFrameStart(playhead.reader(), l.entries[e]))
            << "key frame at " << l.entries[e].m_time;
        for (quint64 after : {0, 1, 120})
            targets.push_back(l.entries[e].m_time + after);
    }
    expectExactSeeks(bytes, targets);
}

TEST_F(ChunkedSeekTest, AKeyFrameInTheMiddleOfAFrameIsPassedOver)
{
    // Key frames at the end of the frame of 5 s and after the first part of
    // the frame of 10 s, each of exactly the screen there.
    auto first = [&](quint64 time, unsigned char code) {
        return size_t(std::find_if(units.begin(), units.end(),
                                   [&](const Unit& u) { return u.time == time && u.code == code; })
                      - units.begin());
    };
    const Unit end5 = units[first(5000, 0xED)], part10 = units[first(10000, 0xEA)];
    const qint64 after5 = units[first(5000, 0xED) + 1].pos;
    const QByteArray k5 = keyFrameBefore(after5), k10 = keyFrameBefore(part10.pos + 1);
    const quint64 records = 24 + 2 * 32;
    const QByteArray bytes = indexHeaderBytes(2)
        + indexEntryBytes(5000, quint64(end5.pos), records, quint64(k5.size() - 5))
        + indexEntryBytes(10000, quint64(part10.pos), records + quint64(k5.size()),
                          quint64(k10.size() - 5))
        + k5 + k10;
    LoadedIndex l(bytes);
    ASSERT_EQ(l.entries.count(), 2);
    EXPECT_FALSE(Seeking::resumesAtFrameStart(playhead.reader(), l.entries[1]));
    EXPECT_EQ(Seeking::chooseRestorableEntry(l.entries, 10001, playhead.reader()), 0);
    expectExactSeeks(bytes, {10000, 10001, 10120, 12000, 5000, 7000});
}
