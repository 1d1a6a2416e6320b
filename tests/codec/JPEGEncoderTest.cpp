#include "JPEGEncoder.h"
#include "JPEGDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <turbojpeg.h>

#include <gtest/gtest.h>

// libjpeg-turbo judges the streams we write: it must decode them, and its
// decode must be close to the source.

using Bytes = std::vector<unsigned char>;

namespace {

// Smooth content: gradients and gentle waves, no noise.
std::vector<int> smoothImage(int w, int h)
{
    std::vector<int> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int r = static_cast<int>(128 + 100 * std::sin(x * 0.09 + y * 0.03));
            const int g = 30 + 190 * y / (h > 1 ? h - 1 : 1);
            const int b = static_cast<int>(128 + 100 * std::cos(y * 0.11 - x * 0.04));
            px[static_cast<size_t>(y) * w + x] = r << 16 | g << 8 | b;
        }
    return px;
}

std::vector<int> noiseImage(int w, int h)
{
    std::vector<int> px(static_cast<size_t>(w) * h);
    unsigned s = 99;
    for (int& p : px) {
        s = s * 1664525u + 1013904223u;
        p = static_cast<int>(s >> 8);
    }
    return px;
}

Bytes bytesOf(const Array<unsigned char, int>& a)
{
    return Bytes(a.data(), a.data() + a.count());
}

// libjpeg-turbo's decode as 0x00RRGGBB; empty when it refuses the stream.
std::vector<int> turboDecode(const Bytes& jpeg, int& w, int& h)
{
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    std::vector<int> px;
    if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs) == 0) {
        std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
        if (tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), w, 0, h, TJPF_RGB,
                          TJFLAG_ACCURATEDCT)
            == 0) {
            px.resize(static_cast<size_t>(w) * h);
            for (size_t i = 0; i < px.size(); ++i)
                px[i] = rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
        }
    }
    tjDestroy(tj);
    return px;
}

double psnr(const std::vector<int>& a, const int* b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift <= 16; shift += 8) {
            const double d = ((a[i] >> shift) & 0xFF) - ((b[i] >> shift) & 0xFF);
            sum += d * d;
        }
    const double mse = sum / (3.0 * a.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Body of every segment with the given marker, concatenated.
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

// The entropy-coded data after SOS, EOI included.
Bytes scanOf(const Bytes& b)
{
    size_t i = 2;
    while (i + 4 <= b.size() && b[i] == 0xFF && b[i + 1] != 0xDA)
        i += 2 + static_cast<size_t>(b[i + 2] << 8 | b[i + 3]);
    return Bytes(b.begin() + static_cast<long>(i + 2 + (b[i + 2] << 8 | b[i + 3])), b.end());
}

} // namespace

TEST(JPEGEncoderTest, FlatBoxIsTinyAndDecodesToItsColour)
{
    const std::vector<int> px(256, 0x3C8AD2);
    JPEGEncoder enc;
    Array<unsigned char, int> raw;
    enc.encodeRaw(px.data(), 16, 16, raw);
    EXPECT_LE(raw.count(), 16);
    ASSERT_GE(raw.count(), 2);
    EXPECT_EQ(raw[raw.count() - 2], 0xFF);
    EXPECT_EQ(raw[raw.count() - 1], 0xD9);

    JPEGDecoder dec;
    dec.setDecoderParams(enc.getScaleFactor(), 16, 16);
    Array<int, int> out;
    dec.decodeRaw(raw.data(), raw.count(), out);
    ASSERT_EQ(out.count(), 256);
    for (int i = 0; i < 256; ++i)
        for (int shift = 0; shift <= 16; shift += 8)
            ASSERT_LE(std::abs(((out[i] >> shift) & 0xFF) - ((0x3C8AD2 >> shift) & 0xFF)), 2) << i;
}

TEST(JPEGEncoderTest, JfifStreamHasTheExpectedSegments)
{
    const std::vector<int> px = smoothImage(20, 10);
    JPEGEncoder enc;
    Array<unsigned char, int> out;
    enc.encode(px.data(), 20, 10, out, "abc");
    const Bytes b = bytesOf(out);
    const unsigned char head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
                                  0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                                  // the comment, right after APP0
                                  0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c',
                                  0xFF, 0xDB, 0x00, 0x84, 0x00};
    ASSERT_GT(b.size(), sizeof(head));
    EXPECT_EQ(std::memcmp(b.data(), head, sizeof(head)), 0);

    const Bytes sof = segments(b, 0xC0);
    const Bytes expectedSof = {8, 0, 10, 0, 20, 3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    EXPECT_EQ(sof, expectedSof);
    EXPECT_EQ(segments(b, 0xC4).size(), 416u);

    // Without a comment there is no COM segment.
    enc.encode(px.data(), 20, 10, out);
    EXPECT_TRUE(segments(bytesOf(out), 0xFE).empty());
    EXPECT_EQ(out[20], 0xFF);
    EXPECT_EQ(out[21], 0xDB);
}

TEST(JPEGEncoderTest, TablesAreTheStandardOnes)
{
    // libjpeg-turbo at quality 50 writes the unscaled standard quantisation
    // tables and the standard Huffman tables; scale factor 100 must match.
    const std::vector<int> px = smoothImage(16, 16);
    std::vector<unsigned char> rgb(16 * 16 * 3);
    for (size_t i = 0; i < px.size(); ++i) {
        rgb[3 * i] = static_cast<unsigned char>(px[i] >> 16);
        rgb[3 * i + 1] = static_cast<unsigned char>(px[i] >> 8);
        rgb[3 * i + 2] = static_cast<unsigned char>(px[i]);
    }
    tjhandle tj = tjInitCompress();
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, rgb.data(), 16, 0, 16, TJPF_RGB, &mem, &size, TJSAMP_444, 50, 0), 0);
    const Bytes theirs(mem, mem + size);
    tjFree(mem);
    tjDestroy(tj);

    JPEGEncoder enc;
    enc.setScaleFactor(100);
    Array<unsigned char, int> out;
    enc.encode(px.data(), 16, 16, out);
    const Bytes ours = bytesOf(out);
    EXPECT_EQ(segments(ours, 0xDB), segments(theirs, 0xDB));
    EXPECT_EQ(segments(ours, 0xC4), segments(theirs, 0xC4));
    // Same tables, same sampling, same FDCT family: the scans agree closely.
    int w = 0, h = 0;
    const std::vector<int> a = turboDecode(ours, w, h);
    const std::vector<int> b = turboDecode(theirs, w, h);
    ASSERT_EQ(a.size(), 256u);
    ASSERT_EQ(b.size(), 256u);
    EXPECT_GE(psnr(a, b.data()), 40.0);
}

TEST(JPEGEncoderTest, ScaleFactorLimitsQuantisationEntries)
{
    const std::vector<int> px = smoothImage(8, 8);
    JPEGEncoder enc;
    Array<unsigned char, int> out;

    enc.setScaleFactor(0);
    enc.encode(px.data(), 8, 8, out);
    Bytes dqt = segments(bytesOf(out), 0xDB);
    ASSERT_EQ(dqt.size(), 130u);
    for (size_t i = 0; i < dqt.size(); ++i)
        if (i != 0 && i != 65) {
            EXPECT_EQ(dqt[i], 1) << i;
        }

    enc.setScaleFactor(255);
    enc.encode(px.data(), 8, 8, out);
    dqt = segments(bytesOf(out), 0xDB);
    EXPECT_EQ(dqt[1], 41);      // luminance 16 * 2.55, rounded
    EXPECT_EQ(dqt[64], 252);    // 99 * 2.55
    EXPECT_EQ(dqt[66], 43);     // chrominance 17 * 2.55
    // 121 * 2.55 and the like are cut to 255.
    EXPECT_EQ(*std::max_element(dqt.begin(), dqt.end()), 255);
}

TEST(JPEGEncoderTest, LibjpegTurboReadsOurJfifCloseToTheSource)
{
    // Quality 90 (scale 26) on smooth content must give at least 30 dB.
    const struct
    {
        int w, h;
    } sizes[] = {{64, 48}, {20, 10}, {1, 1}, {17, 33}};
    JPEGEncoder enc;
    enc.setScaleFactor(26);
    for (const auto& s : sizes) {
        const std::vector<int> px = smoothImage(s.w, s.h);
        Array<unsigned char, int> out;
        enc.encode(px.data(), s.w, s.h, out, "SessionPlayer");
        int w = 0, h = 0;
        const std::vector<int> decoded = turboDecode(bytesOf(out), w, h);
        ASSERT_EQ(decoded.size(), px.size()) << s.w << "x" << s.h;
        EXPECT_EQ(w, s.w);
        EXPECT_EQ(h, s.h);
        EXPECT_GE(psnr(px, decoded.data()), 30.0) << s.w << "x" << s.h;
    }
}

TEST(JPEGEncoderTest, RawStreamIsExactlyTheJfifScan)
{
    const std::vector<int> px = noiseImage(24, 16);
    JPEGEncoder enc;
    Array<unsigned char, int> raw, full;
    enc.encodeRaw(px.data(), 24, 16, raw);
    enc.encode(px.data(), 24, 16, full);
    EXPECT_EQ(bytesOf(raw), scanOf(bytesOf(full)));

    // encodeRaw without a size uses the last one.
    Array<unsigned char, int> again;
    enc.encodeRaw(px.data(), again);
    EXPECT_EQ(bytesOf(again), bytesOf(raw));
}

TEST(JPEGEncoderTest, OutputGrowsPastThreeBytesPerPixel)
{
    // Noise at quantisation 1 needs more than the initial reservation.
    const std::vector<int> px = noiseImage(64, 64);
    JPEGEncoder enc;
    enc.setScaleFactor(0);
    Array<unsigned char, int> out;
    enc.prepare(64, 64, out);
    enc.encode(px.data(), 64, 64, out);
    EXPECT_GT(out.count(), 64 * 64 * 3);
    int w = 0, h = 0;
    const std::vector<int> decoded = turboDecode(bytesOf(out), w, h);
    ASSERT_EQ(decoded.size(), px.size());
    EXPECT_GE(psnr(px, decoded.data()), 40.0);
}

TEST(JPEGEncoderTest, EdgePixelsAreRepeatedIntoPaddedBlocks)
{
    // A 20 x 10 image whose last column and row differ from the rest: the
    // padding blocks must repeat them, not continue with something else.
    std::vector<int> px(200, 0x202020);
    for (int y = 0; y < 10; ++y)
        px[static_cast<size_t>(y) * 20 + 19] = 0xE0E0E0;
    for (int x = 0; x < 20; ++x)
        px[9 * 20 + static_cast<size_t>(x)] = 0xE0E0E0;
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
            EXPECT_EQ(e.getErrorSender().toStdString(), "EncoderException");
        }
        ASSERT_EQ(out.count(), 1);
        EXPECT_EQ(out[0], 7);
    };
    expectError([&] { enc.encodeRaw(nullptr, 4, 4, out); }, "No pixels to encode");
    expectError([&] { enc.encodeRaw(px.data(), 0, 4, out); }, "Image size not supported");
    expectError([&] { enc.encode(px.data(), 65536, 1, out); }, "Image size not supported");
    expectError([&] { enc.encode(px.data(), 4, 4, out, longComment.c_str()); }, "Comment too long");
}
