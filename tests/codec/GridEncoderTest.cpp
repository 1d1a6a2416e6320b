// SPDX-License-Identifier: GPL-3.0-or-later
#include "GridEncoder.h"

#include "GridDecoder.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned int kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00;

void fillRect(VideoFrame& f, int x, int y, int w, int h, unsigned int colour)
{
    for (int r = y; r < y + h; ++r)
        std::fill(f.pixels() + r * f.width() + x, f.pixels() + r * f.width() + x + w, colour);
}

VideoFrame frameOf(int w, int h, unsigned int colour)
{
    VideoFrame f;
    f.resize(w, h);
    f.clear(colour);
    return f;
}

Bytes bytesOf(const Array<unsigned char, int>& a) { return Bytes(a.data(), a.data() + a.count()); }

// The whole frame through the encoder: its output, which the last argument
// of encode never receives.
Bytes encodeOnce(GridEncoder& enc, VideoFrame& f)
{
    Array<unsigned char, int> unused;
    enc.encode(&f, 0, 0, f.width(), f.height(), unused);
    EXPECT_EQ(unused.count(), 0);
    return bytesOf(enc.output());
}

// Exposes the single-code writers.
class CodeWriter : public GridEncoder
{
public:
    CodeWriter() { m_output.reallocate(1024); }
    using GridEncoder::encodeBox1ColorExt;
    using GridEncoder::encodeSkip;
    void start()
    {
        m_output.setCount(0);
        m_lastCode = kNoCode;
    }
    Bytes bytes() const { return bytesOf(m_output); }
};

} // namespace

TEST(GridEncoderTest, TwoBoxScreens)
{
    VideoFrame f = frameOf(32, 16, kRed);
    fillRect(f, 16, 0, 16, 16, kBlue);
    GridEncoder enc;
    enc.setScreenDimension(32, 16);
    EXPECT_EQ(encodeOnce(enc, f),
              Bytes({201, 0, 200, 1, 255, 0, 0, 1, 0, 0, 255, 200, 200, 200, 200, 200}));
    // Unchanged: only the parameter code and six empty passes.
    EXPECT_EQ(encodeOnce(enc, f), Bytes({201, 0, 200, 200, 200, 200, 200, 200}));

    fillRect(f, 16, 0, 16, 16, kRed);
    GridEncoder both;
    both.setScreenDimension(32, 16);
    const Bytes run = {201, 0, 200, 41, 255, 0, 0, 2, 200, 200, 200, 200, 200};
    EXPECT_EQ(encodeOnce(both, f), run);
    // A fresh screen size makes every non-zero box count as changed again.
    both.setScreenDimension(32, 16);
    EXPECT_EQ(encodeOnce(both, f), run);

    // A narrow edge box is padded with its top-left pixel; the same for the
    // bottom row of an area offset inside a larger frame.
    VideoFrame narrow = frameOf(20, 16, kRed);
    fillRect(narrow, 16, 0, 4, 16, kBlue);
    GridEncoder edge;
    edge.setScreenDimension(20, 16);
    EXPECT_EQ(encodeOnce(edge, narrow),
              Bytes({201, 0, 200, 1, 255, 0, 0, 1, 0, 0, 255, 200, 200, 200, 200, 200}));
    VideoFrame big = frameOf(40, 40, kGreen);
    fillRect(big, 8, 8, 16, 20, kRed);
    GridEncoder off;
    off.setScreenDimension(16, 20);
    Array<unsigned char, int> unused;
    off.encode(&big, 8, 8, 16, 20, unused);
    EXPECT_EQ(bytesOf(off.output()), run);
}

TEST(GridEncoderTest, PaletteBoxes)
{
    VideoFrame f = frameOf(48, 16, kRed);
    // Box 0: three colours, so type 3 with four triples, the fourth black.
    fillRect(f, 1, 0, 1, 1, kGreen);
    fillRect(f, 2, 0, 1, 1, kBlue);
    // Box 1: the same colours in the same order of first appearance: no
    // palette this time.
    fillRect(f, 16, 0, 16, 16, kBlue);
    fillRect(f, 16, 0, 1, 1, kRed);
    fillRect(f, 17, 0, 1, 1, kGreen);
    // Box 2: 17 colours: JPEG.
    for (int i = 0; i < 256; ++i)
        f.pixels()[(i / 16) * 48 + 32 + i % 16] = 0xFF000000u | (i % 17) * 0x0F0F0F;
    GridEncoder enc;
    enc.setScreenDimension(48, 16);
    const Bytes out = encodeOnce(enc, f);

    Bytes expected = {201, 0, 200, 200, 200, 3, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
    // Pixels 0, 1, 2 have indices 0, 1, 2 (bit-reversed 2-bit fields).
    expected.push_back(0 | 2 << 2 | 1 << 4);
    expected.insert(expected.end(), 63, 0);
    expected.push_back(23);
    // Box 1: indices 0, 1, then 2 everywhere.
    expected.push_back(0 | 2 << 2 | 1 << 4 | 1 << 6);
    expected.insert(expected.end(), 63, 0x55);
    expected.insert(expected.end(), {200, 200, 200, 20, 2, 6}); // skip boxes 0 and 1
    ASSERT_GT(out.size(), expected.size() + 2);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + expected.size()), expected);
    const size_t jpegLength = (out[expected.size()] << 8) | out[expected.size() + 1];
    EXPECT_EQ(out.size(), expected.size() + 2 + jpegLength);
    EXPECT_EQ(out.back(), 0xD9); // the raw JPEG data ends with EOI
}

TEST(GridEncoderTest, NothingToEncodeLeavesTheOutput)
{
    VideoFrame f = frameOf(32, 16, kRed);
    GridEncoder enc;
    EXPECT_TRUE(encodeOnce(enc, f).empty()); // no screen size yet
    enc.setScreenDimension(32, 16);
    const Bytes first = encodeOnce(enc, f);
    Array<unsigned char, int> unused;
    enc.encode(&f, 0, 0, 0, 16, unused);
    enc.encode(nullptr, 0, 0, 32, 16, unused);
    enc.encode(&f, 0, 0, 65536, 16, unused);
    enc.encode(&f, 0, 0, 8193, 8193, unused);
    EXPECT_EQ(bytesOf(enc.output()), first);
}

TEST(GridEncoderTest, SkipWriterMergesInPlace)
{
    CodeWriter w;
    const struct {
        std::vector<int> skips;
        Bytes expected;
    } cases[] = {
        {{1}, {0}},
        {{5}, {20, 5}},
        {{300}, {40, 1, 44}},
        {{1, 1}, {20, 2}},
        {{1, 300}, {40, 1, 45}},
        {{200, 55}, {20, 255}},
        {{200, 56}, {40, 1, 0}},
        {{65535, 1}, {40, 255, 255, 0}},
        {{65000, 500}, {40, 255, 220}},
        {{70000}, {40, 255, 255, 40, 0x11, 0x71}},
        {{0}, {}},
    };
    for (const auto& c : cases) {
        w.start();
        for (int n : c.skips)
            w.encodeSkip(n);
        EXPECT_EQ(w.bytes(), c.expected) << c.skips[0];
    }
}

TEST(GridEncoderTest, SingleColourWriterExtendsRuns)
{
    CodeWriter w;
    Box red;
    red.m_colors[0] = static_cast<int>(kRed);
    auto repeat = [&](int n) {
        for (int i = 0; i < n; ++i)
            w.encodeBox1ColorExt(red, false);
    };

    w.start();
    w.encodeBox1ColorExt(red, true);
    repeat(254);
    EXPECT_EQ(w.bytes(), Bytes({41, 255, 0, 0, 255}));
    repeat(1);
    EXPECT_EQ(w.bytes(), Bytes({43, 255, 0, 0, 1, 0}));

    w.start();
    repeat(2);
    EXPECT_EQ(w.bytes(), Bytes({42, 2}));
    repeat(254);
    EXPECT_EQ(w.bytes(), Bytes({44, 1, 0}));
    // The 16-bit count stops below 65535; the next box starts a new code.
    repeat(65534 - 256);
    EXPECT_EQ(w.bytes(), Bytes({44, 255, 254}));
    repeat(2);
    EXPECT_EQ(w.bytes(), Bytes({44, 255, 254, 42, 2}));

    // Anything else before it: a lone NOPAL code.
    w.start();
    w.encodeSkip(3);
    repeat(1);
    EXPECT_EQ(w.bytes(), Bytes({20, 3, 21}));
}

TEST(GridEncoderTest, UpdateRectanglesLimitTheBoxes)
{
    VideoFrame f = frameOf(64, 16, kRed);
    GridEncoder enc;
    enc.setScreenDimension(64, 16);
    encodeOnce(enc, f);

    f.clear(kBlue);
    Array<QRect, int> updates;
    // Columns 17..32: inclusive edges touch boxes 1 and 2.
    updates.append(QRect(QPoint(17, 0), QPoint(32, 15)));
    enc.setUpdates(&updates);
    EXPECT_EQ(encodeOnce(enc, f),
              Bytes({201, 0, 200, 0, 41, 0, 0, 255, 2, 200, 200, 200, 200, 200}));
    // No list again: the rest follows.
    enc.setUpdates(nullptr);
    EXPECT_EQ(encodeOnce(enc, f),
              Bytes({201, 0, 200, 1, 0, 0, 255, 20, 2, 21, 200, 200, 200, 200, 200}));

    // Rectangles off the grid or empty mark nothing.
    f.clear(kGreen);
    updates.setCount(0);
    updates.append(QRect(-50, -50, 10, 10));
    updates.append(QRect(1000, 0, 0, 0));
    enc.setUpdates(&updates);
    EXPECT_EQ(encodeOnce(enc, f), Bytes({201, 0, 200, 200, 200, 200, 200, 200}));
}

TEST(GridEncoderTest, JPEGBoxesUseTheFactorOfTheQuality)
{
    // 26 is the factor of quality 90 and stands for 89; quality 89 must
    // still code with its own factor 29, the one a reader derives from it.
    VideoFrame f = frameOf(16, 16, 0);
    for (int i = 0; i < 256; ++i)
        f.pixels()[i] = 0xFF000000u | unsigned(i) * 0x010203u;
    GridEncoder enc;
    const struct {
        int quality, factor;
    } cases[] = {{90, 26}, {89, 29}, {70, 77}, {0, 255}, {100, 0}, {150, 0}, {-5, 255}};
    for (const auto& [quality, factor] : cases) {
        enc.setQuality(quality);
        enc.setScreenDimension(16, 16);
        const Bytes out = encodeOnce(enc, f);
        EXPECT_EQ(enc.getJPEGScaleFactor(), factor) << quality;

        JPEGEncoder reference;
        reference.setScaleFactor(static_cast<unsigned char>(factor));
        Array<unsigned char, int> jpeg;
        reference.encodeRaw(reinterpret_cast<const int*>(f.pixels()), 16, 16, jpeg);
        ASSERT_EQ(out.size(), 8u + 3u + jpeg.count()); // 201 0, six passes, 6 L L
        EXPECT_EQ(Bytes(out.begin() + 11, out.end()), bytesOf(jpeg)) << quality;
    }
}

TEST(GridEncoderTest, KeyFramesFromTheBoxStoreAreTheBytesOfAFreshEncode)
{
    // Key frames as the index builder takes them: setScreenDimension of the
    // same screen, then an encode of all of it. A 100 x 50 screen (edge
    // boxes padded) of 7 x 4 boxes, each repainted now and then with one of
    // the kinds: all zero, one colour, 2, 4, 8, 16 colours, photographic. The
    // reusing encoder must write what an encoder without the store writes
    // for the same calls (all-zero boxes are left out once the map has held
    // pixels), with and without the caller's marks of unchanged boxes,
    // across factor changes and a cleared store.
    constexpr int kW = 100, kH = 50, kColumns = 7, kRows = 4;
    VideoFrame f = frameOf(kW, kH, 0);
    unsigned int seed = 7;
    auto next = [&]() { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    auto paintBox = [&](int column, int row, int kind) {
        const unsigned int palette[16] = {0xFF102030, 0xFFFFFFFF, 0xFF000000, 0xFF808080,
                                          0xFFAA0000, 0xFF00AA00, 0xFF0000AA, 0xFF123456,
                                          0xFF654321, 0xFF0F0F0F, 0xFFF0F0F0, 0xFF777777,
                                          0xFF00FFFF, 0xFFFF00FF, 0xFFFFFF00, 0xFFABCDEF};
        const int colours[] = {0, 1, 2, 4, 8, 16, 0};
        const unsigned int salt = next();
        for (int y = row * 16; y < std::min(row * 16 + 16, kH); ++y)
            for (int x = column * 16; x < std::min(column * 16 + 16, kW); ++x) {
                unsigned int& p = f.pixels()[y * kW + x];
                if (kind == 0)
                    p = 0;
                else if (kind == 6)
                    p = 0xFF000000u | ((x * 37 + y * 11 + salt) & 0xFFFFFFu);
                else
                    p = palette[(x * 3 + y * 5 + salt) % colours[kind]] ^ (salt & 0x10);
            }
    };
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kColumns; ++column)
            paintBox(column, row, (row * kColumns + column) % 7);

    for (bool marks : {false, true}) {
        SCOPED_TRACE(marks ? "with marks" : "comparing every box");
        GridEncoder reusing, plain;
        reusing.setBoxReuse(true);
        std::vector<unsigned char> unchanged(kColumns * kRows, 1);
        for (int frame = 0; frame < 40; ++frame) {
            const int quality = frame < 20 ? 90 : 70 + (frame / 5) % 2 * 20;
            if (frame == 30)
                reusing.clearBoxStore();
            for (int k = 0; k < 3 && frame > 0; ++k) {
                const int box = static_cast<int>(next() % (kColumns * kRows));
                paintBox(box % kColumns, box / kColumns, static_cast<int>(next() % 7));
                unchanged[box] = 0;
            }
            reusing.setQuality(quality);
            reusing.setScreenDimension(kW, kH);
            if (marks)
                reusing.setUnchangedBoxes(unchanged.data(), static_cast<int>(unchanged.size()));
            const Bytes got = encodeOnce(reusing, f);
            std::fill(unchanged.begin(), unchanged.end(), 1);

            plain.setQuality(quality);
            plain.setScreenDimension(kW, kH);
            ASSERT_EQ(got, encodeOnce(plain, f)) << "key frame " << frame;
        }
        EXPECT_GT(reusing.boxesReused(), 200);

        // Marks with no new screen between: a differential encode, in which
        // the boxes vouched for are left out.
        paintBox(4, 1, 3);
        std::vector<unsigned char> onlyOne(kColumns * kRows, 1);
        onlyOne[1 * kColumns + 4] = 0;
        reusing.setUnchangedBoxes(onlyOne.data(), static_cast<int>(onlyOne.size()));
        EXPECT_EQ(encodeOnce(reusing, f), encodeOnce(plain, f));

        // The map under the store still makes the encoder differential: a
        // changed box, and the same with reuse turned off between.
        paintBox(3, 1, 6);
        EXPECT_EQ(encodeOnce(reusing, f), encodeOnce(plain, f));
        reusing.setBoxReuse(false);
        paintBox(3, 2, 2);
        EXPECT_EQ(encodeOnce(reusing, f), encodeOnce(plain, f));
        reusing.setScreenDimension(kW, kH);
        plain.setScreenDimension(kW, kH);
        EXPECT_EQ(encodeOnce(reusing, f), encodeOnce(plain, f));
    }
}
