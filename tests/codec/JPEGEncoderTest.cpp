// SPDX-License-Identifier: GPL-3.0-or-later
#include "JPEGEncoder.h"
#include "JPEGDecoder.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "JPEGTestSupport.h"

// libjpeg-turbo judges the streams we write: it must decode them, and its
// decode must be close to the source.

using namespace jpegtest;

namespace {

// Body of every segment with the given marker before the scan, concatenated.
Bytes segments(const Bytes& b, unsigned char marker)
{
    Bytes out;
    size_t i = 2;
    while (i + 4 <= b.size() && b[i] == 0xFF && b[i + 1] != 0xDA) {
        const size_t len = static_cast<size_t>(b[i + 2] << 8 | b[i + 3]);
        if (b[i + 1] == marker)
            out.insert(out.end(), b.begin() + static_cast<long>(i + 4),
                       b.begin() + static_cast<long>(i + 2 + len));
        i += 2 + len;
    }
    return out;
}

Bytes encoded(JPEGEncoder& enc, const std::vector<int>& px, int w, int h, const char* comment = nullptr)
{
    Array<unsigned char, int> out;
    enc.encode(px.data(), w, h, out, comment);
    return bytesOf(out);
}

} // namespace

TEST(JPEGEncoderTest, JfifStreamHasTheExpectedSegments)
{
    const std::vector<int> px = photoImage(20, 10);
    JPEGEncoder enc;
    const Bytes b = encoded(enc, px, 20, 10, "abc");
    const Bytes head = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01,
                        0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                        // the comment, right after APP0
                        0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c', 0xFF, 0xDB, 0x00, 0x84, 0x00};
    ASSERT_GT(b.size(), head.size());
    EXPECT_EQ(Bytes(b.begin(), b.begin() + static_cast<long>(head.size())), head);
    EXPECT_EQ(segments(b, 0xC0), Bytes({8, 0, 10, 0, 20, 3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1}));
    EXPECT_EQ(encoded(enc, px, 20, 10)[21], 0xDB); // no comment, no COM segment
}

TEST(JPEGEncoderTest, TablesAreTheStandardOnes)
{
    // libjpeg-turbo at quality 50 writes the unscaled standard quantisation
    // tables and the standard Huffman tables; scale factor 100 must match.
    const std::vector<int> px = photoImage(16, 16, 1, false);
    const Bytes theirs = libjpegEncode(px, 16, 16, 50);
    JPEGEncoder enc;
    enc.setScaleFactor(100);
    const Bytes ours = encoded(enc, px, 16, 16);
    EXPECT_EQ(segments(ours, 0xDB), segments(theirs, 0xDB));
    EXPECT_EQ(segments(ours, 0xC4), segments(theirs, 0xC4));
    // Same tables, same sampling, same FDCT family: the scans agree closely.
    int w = 0, h = 0;
    const std::vector<int> a = turboDecode(ours, w, h), b = turboDecode(theirs, w, h);
    ASSERT_EQ(a.size(), 256u);
    ASSERT_EQ(b.size(), 256u);
    EXPECT_GE(compare(a.data(), b.data(), 256).psnr, 40.0);

    // Factor 0 makes every entry 1; 255 scales 16 to 41 and cuts 121 to 255.
    enc.setScaleFactor(0);
    Bytes dqt = segments(encoded(enc, px, 8, 8), 0xDB);
    EXPECT_EQ(std::count(dqt.begin(), dqt.end(), 1), 128 + 1); // and table id 1
    enc.setScaleFactor(255);
    dqt = segments(encoded(enc, px, 8, 8), 0xDB);
    EXPECT_EQ(dqt[1], 41); // luminance 16 * 2.55, rounded
    const auto* zigzag = JpegTables::kNaturalOrder;
    EXPECT_EQ(dqt[1 + (std::find(zigzag, zigzag + 64, 6 * 8 + 5) - zigzag)], 255); // 121, cut
}

TEST(JPEGEncoderTest, LibjpegTurboReadsOurJfifCloseToTheSource)
{
    // Quality 90 (scale 26) on smooth content must give at least 30 dB;
    // noise at quantisation 1 needs more room than the initial reservation
    // of three bytes a pixel and must still come back at 40 dB.
    const struct {
        int w, h, scale;
        bool noise;
    } cases[] = {{64, 48, 26, false}, {20, 10, 26, false}, {1, 1, 26, false},
                 {17, 33, 26, false}, {64, 64, 0, true}};
    for (const auto& c : cases) {
        std::vector<int> px = photoImage(c.w, c.h, 1, false);
        unsigned seed = 99; // noise: the worst case for the entropy coder
        for (int& p : px)
            p = c.noise ? static_cast<int>((seed = seed * 1664525u + 1013904223u) >> 8) : p;
        JPEGEncoder enc;
        enc.setScaleFactor(static_cast<unsigned char>(c.scale));
        Array<unsigned char, int> out;
        enc.prepare(c.w, c.h, out);
        enc.encode(px.data(), c.w, c.h, out, "SessionPlayer");
        if (c.noise) {
            EXPECT_GT(out.count(), c.w * c.h * 3);
        }
        int w = 0, h = 0;
        const std::vector<int> decoded = turboDecode(bytesOf(out), w, h);
        ASSERT_EQ(decoded.size(), px.size()) << c.w << "x" << c.h;
        EXPECT_EQ(w, c.w);
        EXPECT_GE(compare(px.data(), decoded.data(), px.size()).psnr, c.noise ? 40.0 : 30.0)
            << c.w << "x" << c.h;
    }
}

TEST(JPEGEncoderTest, EdgePixelsAreRepeatedIntoPaddedBlocks)
{
    // A 20 x 10 image whose last column and row differ from the rest: the
    // padding blocks must repeat them, not continue with something else.
    std::vector<int> px(200, 0x202020);
    for (int i = 0; i < 200; ++i)
        if (i % 20 == 19 || i >= 180)
            px[i] = 0xE0E0E0;
    JPEGEncoder enc;
    enc.setScaleFactor(0);
    Array<unsigned char, int> raw;
    enc.encodeRaw(px.data(), 20, 10, raw);

    JPEGDecoder dec;
    dec.setDecoderParams(0, 24, 16);
    Array<int, int> out;
    dec.decodeRaw(raw.data(), raw.count(), out);
    ASSERT_EQ(out.count(), 24 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const bool light = x >= 19 || y >= 9;
            EXPECT_NEAR(out[y * 24 + x] & 0xFF, light ? 0xE0 : 0x20, 3) << x << "," << y;
        }
}

TEST(JPEGEncoderTest, BadArgumentsThrowAndLeaveOutAlone)
{
    const std::vector<int> px(16, 0);
    JPEGEncoder enc;
    Array<unsigned char, int> out;
    out.append(7);
    const std::string longComment(70000, 'x');
    auto expectError = [&](auto call, const char* text) {
        try {
            call();
            ADD_FAILURE() << "no exception for " << text;
        } catch (const JPEGEncoder::EncoderException& e) {
            EXPECT_EQ(e.getErrorMessage().toStdString(), text);
        }
        ASSERT_EQ(out.count(), 1);
        EXPECT_EQ(out[0], 7);
    };
    expectError([&] { enc.encodeRaw(nullptr, 4, 4, out); }, "No pixels to encode");
    expectError([&] { enc.encode(px.data(), 65536, 1, out); }, "Image size not supported");
    expectError([&] { enc.encodeRaw(px.data(), 0, 4, out); }, "Image size not supported");
    expectError([&] { enc.encodeRaw(px.data(), 4, -1, out); }, "Image size not supported");
    expectError([&] { enc.prepare(-4, 4, out); }, "Image size not supported");
    expectError([&] { enc.encode(px.data(), 4, 4, out, longComment.c_str()); }, "Comment too long");
    // 65533 x 10923 x 3 bytes fit an int with the headers, but not with the
    // longest comment as well: refused before a pixel is read (the 16 pixels
    // here would not do), where an int sum wrapped round and left the buffer
    // too small for the headers.
    const std::string longest(65533, 'c');
    expectError([&] { enc.encode(px.data(), 65533, 10923, out, longest.c_str()); },
                "Image too large to encode");
    expectError([&] { enc.encode(px.data(), 65534, 10923, out); }, "Image size not supported");

    // After a refusal the encoder works as before.
    const std::vector<int> box(256, 0x336699);
    enc.encodeRaw(box.data(), 16, 16, out);
    EXPECT_GT(out.count(), 2);
    EXPECT_EQ(out[out.count() - 1], 0xD9);
}
