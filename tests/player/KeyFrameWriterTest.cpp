// SPDX-License-Identifier: GPL-3.0-or-later
// The key-frame writer on its own thread, driven by the test as the building
// thread: what it writes for a sequence of handovers, and how it stops.

#include "KeyFrameWriter.h"

#include <QBuffer>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "FormatBytes.h"
#include "GridFormat.h"
#include "IndexFile.h"
#include "PlayerTestSupport.h"
#include "Zip.h"

namespace {

using GridFormat::kBoxSize;

// What an encoder writes for the 16 x 16 pixels `px` as a screen of their
// own: the with-palette code of their kind, or (kind JPEG) the JPEG data.
std::pair<int, std::vector<unsigned char>> codeOf(const unsigned int* px, int quality)
{
    VideoFrame one;
    one.resize(kBoxSize, kBoxSize);
    std::copy(px, px + GridFormat::kBoxPixels, one.pixels());
    GridEncoder e;
    e.setQuality(quality);
    e.setScreenDimension(kBoxSize, kBoxSize);
    Array<unsigned char, int> unused;
    e.encode(&one, 0, 0, kBoxSize, kBoxSize, unused);
    const unsigned char* out = e.output().data();
    int at = 2; // past the parameter code
    while (out[at] == GridFormat::RESET)
        ++at;
    const int kind = out[at];
    if (kind == GridFormat::JPEG) {
        const int length = out[at + 1] << 8 | out[at + 2];
        return {kind, std::vector<unsigned char>(out + at + 3, out + at + 3 + length)};
    }
    return {kind, std::vector<unsigned char>(out + at, out + at + GridFormat::paletteCodeBytes(kind))};
}

// The building side: a screen, the boxes painted since the last handover,
// and the handovers made. With codes on, every other box goes over as the
// code an encoder gives it, as the index builder hands over the recording's
// codes; the boxes that went as JPEG data go again when the factor changes.
struct Builder
{
    VideoFrame screen;
    std::vector<unsigned char> painted;
    std::vector<unsigned char> asJpeg;
    int columns = 0;
    bool newScreen = true;
    bool codes = false;
    int lastQuality = -1;

    void setScreen(int w, int h)
    {
        screen.resize(w, h);
        screen.clear(0);
        columns = (w + kBoxSize - 1) / kBoxSize;
        painted.assign(size_t(columns) * ((h + kBoxSize - 1) / kBoxSize), 0);
        asJpeg.assign(painted.size(), 0);
        newScreen = true;
    }

    // Repaints box i: one colour, a few colours or a photograph.
    void paint(int i, unsigned int salt)
    {
        const int x0 = i % columns * kBoxSize, y0 = i / columns * kBoxSize;
        for (int y = y0; y < std::min(y0 + kBoxSize, screen.height()); ++y)
            for (int x = x0; x < std::min(x0 + kBoxSize, screen.width()); ++x) {
                const unsigned int v = salt % 3 == 0 ? salt
                    : salt % 3 == 1                  ? salt * ((x + y) % (1 + salt % 5))
                                                     : unsigned(x * 37 + y * 11) + salt;
                screen.pixels()[y * screen.width() + x] = 0xFF000000u | (v & 0xFFFFFFu);
            }
        painted[size_t(i)] = 1;
    }

    void fill(KeyFrameWriter::KeyFrame& k, quint64 time, int quality)
    {
        k.time = time;
        k.filePos = 32 + time;
        k.width = screen.width();
        k.height = screen.height();
        k.quality = quality;
        k.scale = GridFormat::jpegScaleForQuality(quality);
        k.newScreen = newScreen;
        if (quality != lastQuality && !newScreen)
            for (size_t i = 0; i < painted.size(); ++i)
                painted[i] |= asJpeg[i];
        lastQuality = quality;
        k.boxes.setCount(0);
        k.kinds.setCount(0);
        k.pixels.setCount(0);
        k.codes.setCount(0);
        k.jpegLengths.setCount(0);
        k.jpegData.setCount(0);
        for (int i = 0; i < int(painted.size()); ++i) {
            if (!painted[size_t(i)])
                continue;
            k.boxes.append(i);
            const int x0 = i % columns * kBoxSize, y0 = i / columns * kBoxSize;
            unsigned int px[256], padded[256];
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < 16; ++c) {
                    const bool inside = y0 + r < screen.height() && x0 + c < screen.width();
                    px[r * 16 + c] = inside ? screen.pixels()[(y0 + r) * screen.width() + x0 + c]
                                            : 0xDEADBEEFu; // beyond the edge: must not be read
                    // The encoder repeats the top-left pixel there.
                    padded[r * 16 + c] = inside ? px[r * 16 + c] : screen.pixels()[y0 * screen.width() + x0];
                }
            asJpeg[size_t(i)] = 0;
            if (codes && i % 2 == 0) {
                const auto code = codeOf(padded, quality);
                k.kinds.append((unsigned char)code.first);
                Array<unsigned char, int>& into =
                    code.first == GridFormat::JPEG ? k.jpegData : k.codes;
                into.copy(into.count(), code.second.data(), int(code.second.size()));
                if (code.first == GridFormat::JPEG) {
                    k.jpegLengths.append(int(code.second.size()));
                    asJpeg[size_t(i)] = 1;
                }
            } else {
                k.kinds.append(0);
                k.pixels.copy(k.pixels.count(), px, 256);
            }
            painted[size_t(i)] = 0;
        }
        newScreen = false;
    }
};

// The records of `bytes` (written from offset 0), inflated.
std::vector<QByteArray> recordsOf(const QByteArray& bytes,
                                  const Array<IndexEntryPoint, int>& entries)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    std::vector<QByteArray> records;
    Array<unsigned char, int> packed, plain;
    for (int e = 0; e < entries.count(); ++e) {
        IndexFile::KeyFrame kf;
        EXPECT_TRUE(IndexFile::readKeyFrame(buffer, entries[e], 0x11, packed, plain, kf));
        records.push_back(QByteArray((const char*)kf.prefix, 5)
                          + QByteArray((const char*)kf.data, kf.length));
    }
    return records;
}

} // namespace

class KeyFrameWriterTest : public ::testing::TestWithParam<bool>
{
};

TEST_P(KeyFrameWriterTest, WritesEachScreenAsItWasHandedOver)
{
    // 30 key frames of a screen whose edge boxes are cut (100 x 50), a few
    // boxes repainted between them, another screen from key frame 15 on,
    // another JPEG quality from 20 on. The writer is held in its first key
    // frame while the next seven are handed over (a small screen allows
    // eight in hand) and the screen painted on. Each
    // record must hold exactly what an encoder without the box store writes
    // for the screen at its handover, fed the same screens in turn, whether
    // the boxes go over as pixels or (parameter true) half of them as codes.
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    KeyFrameWriter writer(&device);
    Gate gate;
    gate.arm();
    writer.setHook([&](int n) {
        if (n == 0)
            gate.pass();
    });
    writer.begin();
    // Should a handover wait for the held writer, the test would hang: a
    // watchdog releases the writer after a while and the test fails.
    std::mutex watchMutex;
    std::condition_variable watchChanged;
    bool released = false, timedOut = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(watchMutex);
        if (!watchChanged.wait_for(lock, std::chrono::seconds(30), [&] { return released; })) {
            timedOut = true;
            gate.release();
        }
    });
    constexpr int kHeld = KeyFrameWriter::kMaxInHand - 1;

    Builder b;
    b.codes = GetParam();
    b.setScreen(100, 50);
    GridEncoder plain;
    std::vector<QByteArray> expected;
    unsigned int seed = 11;
    auto next = [&]() { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
    for (int n = 0; n < 30; ++n) {
        if (n == 15)
            b.setScreen(40, 20);
        for (int k = 0; k < (n == 0 || n == 15 ? 40 : 3); ++k)
            b.paint(int(next() % b.painted.size()), next());
        const int quality = n < 20 ? 80 : 70;
        KeyFrameWriter::KeyFrame* slot = writer.slot();
        ASSERT_NE(slot, nullptr);
        b.fill(*slot, quint64(n) * 10000, quality);
        writer.submit(slot);

        plain.setQuality(quality);
        plain.setScreenDimension(b.screen.width(), b.screen.height());
        Array<unsigned char, int> unused;
        plain.encode(&b.screen, 0, 0, b.screen.width(), b.screen.height(), unused);
        unsigned char prefix[5];
        IndexFile::composeKeyFramePrefix(b.screen.width(), b.screen.height(),
                                         GridFormat::jpegScaleForQuality(quality), prefix);
        expected.push_back(QByteArray((const char*)prefix, 5)
                           + QByteArray((const char*)plain.output().data(), plain.output().count()));
        if (n == kHeld) {
            EXPECT_TRUE(gate.waitReached(10000));
            b.paint(0, 12345); // painted on while the writer holds key frame 0
            {
                std::lock_guard<std::mutex> lock(watchMutex);
                released = true;
            }
            watchChanged.notify_all();
            gate.release();
        }
    }
    watchdog.join();
    EXPECT_FALSE(timedOut) << "a handover waited although the screen allows "
                           << KeyFrameWriter::kMaxInHand << " key frames in hand";
    ASSERT_TRUE(writer.finish()) << writer.failure().toStdString();

    const Array<IndexEntryPoint, int>& entries = writer.entries();
    ASSERT_EQ(entries.count(), 30);
    const std::vector<QByteArray> records = recordsOf(bytes, entries);
    for (int n = 0; n < 30; ++n)
        EXPECT_TRUE(records[size_t(n)] == expected[size_t(n)]) << "key frame " << n;
    for (int n = 0; n < entries.count(); ++n) {
        EXPECT_EQ(entries[n].m_time, quint64(n) * 10000);
        EXPECT_EQ(entries[n].m_filePos, 32 + quint64(n) * 10000);
    }
    EXPECT_EQ(qint64(entries[29].m_indexPos + 5 + entries[29].m_size), bytes.size());
}

INSTANTIATE_TEST_SUITE_P(PixelsOrCodes, KeyFrameWriterTest, ::testing::Bool());

TEST(KeyFrameWriterTest, StopsOnAFailureOrAnAbort)
{
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    Builder b;
    b.setScreen(32, 16);
    b.paint(0, 3);
    auto handOver = [&](KeyFrameWriter& writer, quint64 time) {
        KeyFrameWriter::KeyFrame* slot = writer.slot();
        if (slot) {
            b.fill(*slot, time, 80);
            writer.submit(slot);
        }
        return slot != nullptr;
    };

    {
        // A key frame that fails: the writer stops taking key frames and
        // says which one failed.
        KeyFrameWriter writer(&device);
        writer.setHook([](int n) {
            if (n == 2)
                throw std::runtime_error("planted");
        });
        writer.begin();
        int handed = 0;
        while (handed < 100 && handOver(writer, quint64(handed)))
            ++handed;
        EXPECT_LT(handed, 100);
        EXPECT_TRUE(writer.failed());
        EXPECT_FALSE(writer.finish());
        EXPECT_EQ(writer.failure(), QStringLiteral("key frame 2: planted"));
        EXPECT_EQ(writer.entries().count(), 2);
    }
    {
        // A new factor without the box that came as JPEG data: nothing is
        // left to code it from, and the key frame fails rather than show
        // something else.
        Builder photo;
        photo.codes = true;
        photo.setScreen(16, 16);
        photo.paint(0, 2); // photographic
        KeyFrameWriter writer(&device);
        writer.begin();
        KeyFrameWriter::KeyFrame* slot = writer.slot();
        ASSERT_NE(slot, nullptr);
        photo.fill(*slot, 0, 80);
        ASSERT_EQ(slot->kinds.count(), 1);
        EXPECT_EQ(slot->kinds[0], GridFormat::JPEG);
        writer.submit(slot);
        slot = writer.slot();
        ASSERT_NE(slot, nullptr);
        photo.asJpeg[0] = 0; // forgets to hand it over again
        photo.fill(*slot, 1, 70);
        EXPECT_EQ(slot->boxes.count(), 0);
        writer.submit(slot);
        EXPECT_FALSE(writer.finish());
        EXPECT_TRUE(writer.failure().startsWith(QStringLiteral("key frame 1:")))
            << writer.failure().toStdString();
        EXPECT_EQ(writer.entries().count(), 1);
    }
    {
        // An abort while the writer works on key frame 0 with key frame 1
        // waiting: key frame 0 is finished, key frame 1 dropped.
        KeyFrameWriter writer(&device);
        std::atomic<bool> working{false};
        writer.setHook([&](int n) {
            if (n == 0) {
                working = true;
                ASSERT_TRUE(waitForStopRequest(10000));
            }
        });
        writer.begin();
        ASSERT_TRUE(handOver(writer, 0));
        ASSERT_TRUE(handOver(writer, 1));
        ASSERT_TRUE(waitFor([&] { return working.load(); }, 10000));
        writer.abort();
        EXPECT_FALSE(writer.failed());
        EXPECT_EQ(writer.entries().count(), 1);
        EXPECT_EQ(writer.slot(), nullptr);
    }
}
