// SPDX-License-Identifier: GPL-3.0-or-later
// An audio unit's samples a slice at a time, stored or compressed, whole,
// broken and hostile, out of a buffer with other bytes around the payload.

#include "SampleSlicer.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include "Zip.h"

namespace {

// `frames` stereo frames counting up, so that any lost, doubled or foreign
// sample shows.
QByteArray samples(int frames)
{
    QByteArray b(frames * 4, Qt::Uninitialized);
    for (int i = 0; i < frames * 2; ++i) {
        const short v = short(i % 30000);
        std::memcpy(b.data() + 2 * i, &v, 2);
    }
    return b;
}

QByteArray zipped(const QByteArray& raw)
{
    Array<unsigned char, int> out;
    EXPECT_TRUE(Zip::zipBuffer(reinterpret_cast<const unsigned char*>(raw.constData()),
                               int(raw.size()), out, Zip::COMPRESSION_DEFAULT));
    return QByteArray(reinterpret_cast<const char*>(out.data()), out.count());
}

// Slices the payload out of junk|payload|junk until the slicer is done.
std::vector<short> sliceAll(const QByteArray& payload, bool compressed, int channels,
                            int sliceFrames, int* slices = nullptr)
{
    QByteArray file(100, char(0x5A));
    file += payload;
    file += QByteArray(100, char(0x7F));
    QBuffer device(&file);
    device.open(QIODevice::ReadOnly);
    SampleSlicer slicer;
    slicer.start(100, quint64(payload.size()), compressed, channels);
    std::vector<short> out;
    int n = 0;
    while (!slicer.done() && n < 100000) {
        const size_t before = out.size();
        const int got = slicer.next(device, out, sliceFrames);
        EXPECT_EQ(out.size() - before, size_t(got) * size_t(channels)) << "whole frames only";
        EXPECT_LE(got, sliceFrames);
        n += got > 0;
    }
    if (slices)
        *slices = n;
    return out;
}

std::vector<short> shorts(const QByteArray& raw, int count)
{
    std::vector<short> v(static_cast<size_t>(count));
    if (count > 0) // memcpy wants real pointers, even for no bytes
        std::memcpy(v.data(), raw.constData(), size_t(count) * 2);
    return v;
}

} // namespace

TEST(SampleSlicerTest, GivesEveryFrameOnceInSlicesStoredOrCompressed)
{
    const QByteArray raw = samples(10000);
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        int slices = 0;
        const std::vector<short> got =
            sliceAll(compressed ? zipped(raw) : raw, compressed, 2, 3000, &slices);
        EXPECT_EQ(got, shorts(raw, 20000));
        EXPECT_EQ(slices, 4) << "3000 + 3000 + 3000 + 1000 frames";
    }
}

TEST(SampleSlicerTest, BrokenPayloadsEndTheUnitWhereTheyBreak)
{
    const QByteArray raw = samples(4000);
    const QByteArray z = zipped(raw);
    const struct { const char* name; QByteArray payload; bool compressed; int channels; size_t samples; } rows[] = {
        // A stored payload of 4000 frames and 3 bytes: the broken frame goes.
        {"stored, broken last frame", raw + QByteArray(3, 1), false, 2, 8000},
        // Mono reads the same bytes as 8000 one-sample frames.
        {"stored, mono", raw, false, 1, 8000},
        {"not zlib", QByteArray("not a zlib stream at all"), true, 2, 0},
        {"zlib cut short", z.left(z.size() / 2), true, 2, 0 /* checked below */},
        {"no channels", raw, false, 0, 0},
        {"too many channels", raw, false, 33, 0},
        {"empty", QByteArray(), true, 2, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<short> got = sliceAll(r.payload, r.compressed, r.channels, 1000);
        if (QByteArray(r.name) == "zlib cut short") {
            // What inflated before the cut plays, and none of it is foreign.
            EXPECT_LT(got.size(), size_t(8000));
            EXPECT_EQ(got, shorts(raw, int(got.size())));
        } else {
            EXPECT_EQ(got.size(), r.samples);
            EXPECT_EQ(got, shorts(raw, int(r.samples)));
        }
    }
}

TEST(SampleSlicerTest, InflatesNoFurtherThanTheUnzipLimit)
{
    // A few kilobytes that inflate to 4 MB of silence, against a 1 MB limit.
    const QByteArray silence(4 * 1024 * 1024, 0);
    const QByteArray z = zipped(silence);
    ASSERT_LT(z.size(), 10000);
    Zip::setMaxUnzippedSize(1024 * 1024);
    const std::vector<short> got = sliceAll(z, true, 2, 48000);
    Zip::setMaxUnzippedSize(0);
    EXPECT_EQ(got.size(), size_t(512 * 1024)) << "1 MB of samples, then the unit ends";
}
