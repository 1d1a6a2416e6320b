// SPDX-License-Identifier: GPL-3.0-or-later
// The difference-run codec.

#include "VideoFrame.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

using namespace imagetest;

namespace {

using Bytes = std::vector<unsigned char>;
using Runs = Array<unsigned int, int>;

Runs runsOf(std::initializer_list<unsigned int> values)
{
    Runs runs;
    for (unsigned int v : values)
        runs.append(v);
    return runs;
}

Pixels toVector(const Runs& runs) { return Pixels(runs.data(), runs.data() + runs.count()); }

} // namespace

TEST(ImageDifferencesTest, RunBytesAreBigEndian)
{
    Array<unsigned char, int> bytes;
    ASSERT_TRUE(VideoFrame::compactDifferences(runsOf({70000, 2, 0xFF112233u, 0x445566u}), bytes));
    EXPECT_EQ(Bytes(bytes.data(), bytes.data() + bytes.count()),
              (Bytes{0x01, 0x11, 0x70, 0x00, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));

    // A start beyond the 3-byte field, or a malformed list, gives no bytes.
    for (const Runs& bad : {runsOf({0x1000000u, 1, 5}), runsOf({0, 3, 5}), runsOf({0, 0}), runsOf({0})}) {
        EXPECT_FALSE(VideoFrame::compactDifferences(bad, bytes));
        EXPECT_EQ(bytes.count(), 0);
    }
}

TEST(ImageDifferencesTest, RunsFollowToleranceGapsAndLimit)
{
    Pixels reference(40, 0xFF101010u), frame = reference;
    frame[3] = 0xFF171010u;  // 7 above: within the tolerance
    frame[10] = 0xFF101018u; // 8 above: a difference
    frame[12] = 0x00080808u; // one unchanged pixel between: joined
    frame[15] = 0x00101030u; // two between: joined
    frame[19] = 0x00000000u; // three between: a new run
    frame[30] = 0x00101010u; // alpha only: no difference
    Runs runs;
    VideoFrame::calcDifferences(reference.data(), frame.data(), 40, 1, runs);
    EXPECT_EQ(toVector(runs), (Pixels{10, 6, frame[10], frame[11], frame[12], frame[13], frame[14],
                                      frame[15], 19, 1, 0}));
    VideoFrame::calcDifferencesStrict(reference.data(), frame.data(), 40, 1, runs);
    ASSERT_GE(runs.count(), 2);
    EXPECT_EQ(runs[0], 3u);

    // A long change is cut into runs of at most 65533 pixels.
    Pixels a(70000, 0), b(70000, 0x00FFFFFFu);
    VideoFrame::calcDifferences(a.data(), b.data(), 700, 100, runs);
    ASSERT_EQ(runs.count(), 2 + 65533 + 2 + 4467);
    EXPECT_EQ(runs[1], 65533u);
    EXPECT_EQ(runs[65536], 4467u);
    VideoFrame::calcDifferences(nullptr, b.data(), 700, 100, runs);
    EXPECT_EQ(runs.count(), 0);
}

TEST(ImageDifferencesTest, RoundTripRebuildsTheChangedFrame)
{
    std::mt19937 rng(21);
    const int w = 64, h = 48;
    for (int round = 0; round < 20; ++round) {
        Pixels reference = randomImage(w, h, round), frame = reference;
        for (int e = 0, edits = rng() % 200; e < edits; ++e) {
            const int at = rng() % (w * h), len = 1 + rng() % 20;
            for (int k = at; k < std::min(at + len, w * h); ++k)
                frame[k] = rng();
        }
        Runs runs, decoded;
        VideoFrame::calcDifferencesStrict(reference.data(), frame.data(), w, h, runs);
        Array<unsigned char, int> bytes;
        ASSERT_TRUE(VideoFrame::compactDifferences(runs, bytes));
        ASSERT_TRUE(VideoFrame::uncompactDifferences(bytes.data(), bytes.count(), w, h, decoded));

        // Merging the runs as computed rebuilds the frame exactly in its
        // colours; through bytes the rebuilt pixels carry alpha 0.
        Pixels direct = reference, rebuilt = reference;
        ASSERT_TRUE(VideoFrame::mergeDifferences(direct.data(), w, h, runs));
        ASSERT_TRUE(VideoFrame::mergeDifferences(rebuilt.data(), w, h, decoded));
        std::vector<bool> covered(w * h, false);
        for (int pos = 0; pos < decoded.count(); pos += 2 + decoded[pos + 1])
            for (unsigned k = 0; k < decoded[pos + 1]; ++k)
                covered[decoded[pos] + k] = true;
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(direct[i] & 0xFFFFFFu, frame[i] & 0xFFFFFFu);
            ASSERT_EQ(rebuilt[i], covered[i] ? frame[i] & 0xFFFFFFu : reference[i]);
        }
    }

    // Lighten paints the runs' places; frames of other sizes give no runs.
    VideoFrame ref = blank(4, 1), now = blank(4, 1), other = blank(3, 1);
    now.setPixel(2, 0, 0x10);
    Runs runs;
    now.calcDifferences(ref, runs);
    ASSERT_TRUE(ref.lightenDifferences(runs, 0x800000u));
    EXPECT_EQ(ref.getPixel(2, 0), 0x800000u);
    now.calcDifferences(other, runs);
    EXPECT_EQ(runs.count(), 0);
}

TEST(ImageDifferencesTest, DecoderChecksEveryRun)
{
    // Two runs in a 10-pixel frame: 5 + 3 bytes, then 5 + 6 bytes. Only the
    // cuts at run boundaries are whole run lists.
    const Bytes good = {0, 0, 2, 0, 1, 9, 9, 9, 0, 0, 8, 0, 2, 1, 2, 3, 4, 5, 6};
    Runs runs;
    for (size_t cut = 0; cut <= good.size(); ++cut) {
        const bool boundary = cut == 0 || cut == 8 || cut == good.size();
        EXPECT_EQ(VideoFrame::uncompactDifferences(good.data(), int(cut), 10, 1, runs), boundary) << cut;
        EXPECT_TRUE(boundary || runs.count() == 0);
    }
    // Ending exactly at the frame's end is fine; one pixel further is not.
    EXPECT_FALSE(VideoFrame::uncompactDifferences(good.data(), int(good.size()), 9, 1, runs));
    const Bytes zero = {0, 0, 0, 0, 0}, huge = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(VideoFrame::uncompactDifferences(zero.data(), 5, 10, 1, runs));
    EXPECT_FALSE(VideoFrame::uncompactDifferences(huge.data(), 5, 4096, 4096, runs));
    EXPECT_FALSE(VideoFrame::uncompactDifferences(nullptr, 5, 10, 1, runs));
    EXPECT_FALSE(VideoFrame::uncompactDifferences(good.data(), 8, 0, 1, runs));

    // Run lists built by hand are checked before anything is written.
    Pixels frame(10, 1);
    EXPECT_FALSE(VideoFrame::mergeDifferences(frame.data(), 10, 1, runsOf({8, 3, 5, 5, 5})));
    EXPECT_FALSE(VideoFrame::mergeDifferences(frame.data(), 10, 1, runsOf({0, 1, 5, 4, 2, 5})));
    EXPECT_FALSE(VideoFrame::lightenDifferences(frame.data(), 10, 1, runsOf({0xFFFFFFFFu, 1, 5}), 2));
    EXPECT_EQ(frame, Pixels(10, 1));
}

TEST(ImageDifferencesTest, SavedFuzzInputsAreRejectedSafely)
{
    // Inputs that once broke the decoder, kept as tests/data/differences_*:
    // frame width - 1 and height - 1 in the first two bytes, then the runs.
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SP_TEST_DATA_DIR)) {
        if (entry.path().filename().string().rfind("differences_", 0) != 0)
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(data.size(), 2u);
        const int w = 1 + data[0], h = 1 + data[1];
        Runs runs;
        Pixels frame(w * h, 0);
        const bool read = VideoFrame::uncompactDifferences(data.data() + 2, int(data.size()) - 2, w, h, runs);
        EXPECT_TRUE(!read || VideoFrame::mergeDifferences(frame.data(), w, h, runs)) << entry.path();
        ++seen;
    }
    EXPECT_GT(seen, 0);
}
