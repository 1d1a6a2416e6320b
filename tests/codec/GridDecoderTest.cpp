// SPDX-License-Identifier: GPL-3.0-or-later
#include "GridDecoder.h"

#include "JPEGEncoder.h"

#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Place = std::vector<int>;
using Pixels = std::vector<unsigned int>;

struct Report
{
    VideoFrame* frame;
    Place place;   // x, y, width, height
    Pixels pixels; // the 256 pixels at the time of the call
};

// Records every callback, with a copy of each reported box.
class Recorder : public IDecoderListener
{
public:
    void onScreenDimension(int width, int height) override { dimensions.push_back({width, height}); }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        if (throwOnBox && int(boxes.size()) == throwOnBox)
            throw std::runtime_error("listener failure");
        boxes.push_back({box, {x, y, w, h}, Pixels(box->pixels(), box->pixels() + 256)});
    }
    void onDecodePassCompleted() override { ++passes; }
    void onDecodeCompleted() override {}

    std::vector<std::pair<int, int>> dimensions;
    std::vector<Report> boxes;
    int passes = 0, throwOnBox = 0;
};

class GridDecoderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        decoder.m_listener = &rec;
        screen(64, 32);
    }
    void screen(int w, int h)
    {
        const unsigned char header[] = {(unsigned char)(w >> 8), (unsigned char)w, (unsigned char)(h >> 8),
                                        (unsigned char)h, 77, 0};
        decoder.decodeScreen(header, 6);
    }
    // Decodes from a buffer of exactly the data's size, so that the
    // sanitizers catch any read past the end; returns the boxes reported.
    const std::vector<Report>& decode(Bytes data)
    {
        rec.boxes.clear();
        decoder.decode(data.empty() ? nullptr : data.data(), int(data.size()));
        return rec.boxes;
    }
    static bool solid(const Report& r, unsigned int colour) { return r.pixels == Pixels(256, colour); }
    static void append(Bytes& b, std::initializer_list<int> more) { b.insert(b.end(), more.begin(), more.end()); }

    GridDecoder decoder;
    Recorder rec;
};

TEST_F(GridDecoderTest, GeometryClipsTheLastColumnAndRow)
{
    screen(1000, 600);
    EXPECT_EQ(decoder.columns() * 100 + decoder.rows(), 63 * 100 + 38);
    ASSERT_EQ(rec.dimensions.back(), std::make_pair(1000, 600));

    // Skip to index 62, 2331 and 2393 (the last box), painting one box each;
    // index 2394 lies past the grid and is not reported.
    const auto& boxes = decode({40, 0, 62, 21, 200, 40, 2331 >> 8, 2331 & 255, 21, 200, 40,
                                2393 >> 8, 2393 & 255, 21, 21, 42, 200});
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].place, (Place{992, 0, 8, 16}));
    EXPECT_EQ(boxes[1].place, (Place{0, 592, 16, 8}));
    EXPECT_EQ(boxes[2].place, (Place{992, 592, 8, 8}));
}

TEST_F(GridDecoderTest, SingleColourCodesAndRuns)
{
    // Parameter code with the pass bit, then one colour.
    const auto& boxes = decode({201, 1, 1, 0x10, 0x20, 0x30});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(solid(boxes[0], 0xFF102030));
    EXPECT_EQ(rec.passes, 1);

    // A run of three blue boxes shares one cache frame; SKIP then moves past
    // index 3 to index 4, the first box of the second row.
    decode({41, 0, 0, 255, 3, 0, 21});
    ASSERT_EQ(boxes.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(boxes[i].place[0], i * 16);
        EXPECT_EQ(boxes[i].frame, boxes[0].frame);
        EXPECT_TRUE(solid(boxes[i], 0xFF0000FF));
    }
    EXPECT_EQ(boxes[3].place, (Place{0, 16, 16, 16}));
    EXPECT_EQ(rec.passes, 2); // the pass flag carries over between calls

    // The palette survives the previous call: [20, 5, 21] paints index 5 blue.
    decode({20, 5, 21});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].place, (Place{16, 16, 16, 16}));
    EXPECT_TRUE(solid(boxes[0], 0xFF0000FF));

    // Counts 0 and 1 report one box; 43 and 44 carry 16-bit counts; runs
    // are clipped at the end of the 8-box grid.
    decode({42, 0, 42, 1, 43, 1, 2, 3, 0, 2, 200, 44, 0xFF, 0xFF});
    ASSERT_EQ(boxes.size(), 4u + 8u);
    EXPECT_EQ(boxes[1].place[0], 16);
    EXPECT_TRUE(solid(boxes[3], 0xFF010203));
    EXPECT_EQ(boxes[11].place, (Place{48, 16, 16, 16}));

    // A parameter code without the pass bit resets the palette.
    decode({201, 0, 21});
    EXPECT_TRUE(solid(boxes[0], 0xFF000000));
    EXPECT_EQ(rec.passes, 4); // one per call until now, none for this one
}

TEST_F(GridDecoderTest, BitmapBitOrders)
{
    // k = 1: bit j of a byte is pixel j, 1 selects palette[1].
    Bytes all = {2, 1, 1, 1, 2, 2, 2, 0x02};
    all.resize(1 + 6 + 32, 0x80);
    // k = 2: bit 0 is the high bit of the first pixel's index.
    append(all, {3, 10, 10, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 0x01});
    all.resize(all.size() + 63, 0);
    // k = 3: fields straddle bytes; pixel 2 takes bits 6, 7 of byte 0 and
    // bit 0 of byte 1.
    append(all, {4});
    for (int c = 0; c < 8; ++c)
        append(all, {20 + c, 0, 0});
    append(all, {0x80, 0x01});
    all.resize(all.size() + 94, 0);
    // k = 4: the low nibble is the first pixel, bit 0 its value 8.
    append(all, {5});
    for (int c = 0; c < 16; ++c)
        append(all, {0, 40 + c, 0});
    append(all, {0x01, 0x10, 0x0E});
    all.resize(all.size() + 125, 0);
    // A NOPAL twin uses the palette as it stands.
    append(all, {25, 0xF0});
    all.resize(all.size() + 127, 0);

    const auto& boxes = decode(all);
    ASSERT_EQ(boxes.size(), 5u);
    auto first = [&](int box, int n) { return Pixels(boxes[box].pixels.begin(), boxes[box].pixels.begin() + n); };
    EXPECT_EQ(first(0, 3), (Pixels{0xFF010101u, 0xFF020202u, 0xFF010101u}));
    EXPECT_EQ(boxes[0].pixels[15], 0xFF020202u); // 0x80: bit 7 of byte 1
    EXPECT_EQ(first(1, 4), (Pixels{0xFF0C0C0Cu, 0xFF0A0A0Au, 0xFF0A0A0Au, 0xFF0A0A0Au}));
    EXPECT_EQ(first(2, 4), (Pixels{0xFF140000u, 0xFF140000u, 0xFF170000u, 0xFF140000u}));
    // Index 8, 0, 0, 8, then 0xE: bits 1..3 set, index 7.
    EXPECT_EQ(first(3, 5), (Pixels{0xFF003000u, 0xFF002800u, 0xFF002800u, 0xFF003000u, 0xFF002F00u}));
    EXPECT_EQ(first(4, 2), (Pixels{0xFF002800u, 0xFF003700u})); // indices 0, 15
}

TEST_F(GridDecoderTest, RawBoxResetUnknownCodesAndNoData)
{
    Bytes raw = {7};
    for (int i = 0; i < 256; ++i)
        append(raw, {i, 255 - i, 7});
    const auto& boxes = decode(raw);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].pixels[0], 0xFF00FF07u);
    EXPECT_EQ(boxes[0].pixels[255], 0xFFFF0007u);

    // RESET goes back to box 0; unknown codes are skipped one byte at a
    // time, and the box after them is the next one.
    decode({21, 21, 200, 21, 150, 99, 7 + 1, 21});
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[2].place[0], 0);
    EXPECT_EQ(boxes[3].place[0], 16);

    // No data, or no screen header yet: nothing at all happens.
    GridDecoder fresh;
    fresh.m_listener = &rec;
    const unsigned char data[] = {201, 1, 21};
    fresh.decode(data, 3);
    decoder.decode(data, 0);
    decoder.decode(nullptr, 3);
    EXPECT_TRUE(decode({150}).empty());
    EXPECT_EQ(rec.passes, 0);
}

TEST_F(GridDecoderTest, ScreenHeaders)
{
    // Same size: no callback, but the palette is reset.
    decode({1, 9, 9, 9});
    rec.dimensions.clear();
    screen(64, 32);
    EXPECT_TRUE(rec.dimensions.empty());
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF000000u);

    // Fewer than 5 bytes change nothing at all.
    const unsigned char header[] = {0, 100, 0, 50, 77};
    decode({1, 9, 9, 9});
    decoder.decodeScreen(header, 4);
    decoder.decodeScreen(nullptr, 5);
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF090909u);
    EXPECT_EQ(decoder.columns(), 4);
    decoder.decodeScreen(header, 5);
    EXPECT_EQ(decoder.columns(), 7);

    // Screens of more than 64 Mi pixels are refused: no callback and an
    // empty grid, so box data paints nothing until a valid header (even of
    // the old size) comes. A side alone is limited only by its 16 bits.
    struct Size { int w, h; };
    for (Size s : {Size{65535, 1025}, Size{1025, 65535}, Size{16384, 4097}, Size{65535, 65535}}) {
        screen(64, 32);
        rec.dimensions.clear();
        screen(s.w, s.h);
        EXPECT_TRUE(rec.dimensions.empty()) << s.w << "x" << s.h;
        EXPECT_EQ(decoder.columns() + decoder.rows(), 0);
        EXPECT_TRUE(decode({201, 1, 21, 21}).empty());
        screen(64, 32);
        EXPECT_EQ(rec.dimensions.size(), 1u);
    }
    for (Size s : {Size{65535, 1024}, Size{16, 65535}, Size{19200, 2160}}) {
        screen(s.w, s.h); // the limits themselves are accepted
        EXPECT_EQ(rec.dimensions.back(), std::make_pair(s.w, s.h));
    }

    // The reserved byte is kept as stored, 0 when the header stops before
    // it, and a refused header leaves the one before.
    const unsigned char reserved[] = {0, 64, 0, 32, 77, 0xA5};
    decoder.decodeScreen(reserved, 6);
    EXPECT_EQ(decoder.reservedHeaderByte(), 0xA5);
    const unsigned char refused[] = {0xFF, 0xFF, 0xFF, 0xFF, 77, 0x11};
    decoder.decodeScreen(refused, 6);
    EXPECT_EQ(decoder.reservedHeaderByte(), 0xA5);
    decoder.decodeScreen(reserved, 5);
    EXPECT_EQ(decoder.reservedHeaderByte(), 0);
}

TEST_F(GridDecoderTest, ResetForgetsTheScreenThePaletteAndTheCache)
{
    const unsigned char header[] = {0, 64, 0, 32, 77, 0x33};
    decoder.decodeScreen(header, 6);
    Bytes colours = {201, 1};
    for (int c = 0; c < 25; ++c) // more colours than the cache has slots
        append(colours, {1, c, 2 * c, 3 * c});
    decode(colours);
    ASSERT_NE(decoder.cache().item(19), nullptr);

    decoder.reset();
    EXPECT_EQ(decoder.screenWidth() + decoder.screenHeight(), 0);
    EXPECT_EQ(decoder.columns() + decoder.rows(), 0);
    EXPECT_FALSE(decoder.passFlag());
    EXPECT_EQ(decoder.reservedHeaderByte(), 0);
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF000000u);
    ASSERT_EQ(decoder.cache().size(), GridDecoder::kCacheSlots);
    for (int i = 0; i < decoder.cache().size(); ++i)
        EXPECT_EQ(decoder.cache().item(i), nullptr) << i;
    // No grid: box data reports nothing, not even the end of the pass.
    rec.passes = 0;
    EXPECT_TRUE(decode({201, 1, 21}).empty());
    EXPECT_EQ(rec.passes, 0);

    // A new header of the old size is a new screen again, and the first
    // colour after the reset lands in the first slot.
    rec.dimensions.clear();
    decoder.decodeScreen(header, 6);
    EXPECT_EQ(rec.dimensions.size(), 1u);
    decode({1, 7, 8, 9});
    ASSERT_NE(decoder.cache().item(0), nullptr);
    EXPECT_EQ(decoder.cache().item(0)->m_color, int(0xFF070809u));
    EXPECT_EQ(decoder.cache().item(1), nullptr);
}

TEST_F(GridDecoderTest, CodesCutOffByTheEndOfTheData)
{
    // Each code, complete (its payload padded with 0x55), after a first
    // reported box. Cutting the data anywhere inside the code reports only
    // the first box, leaves the palette as it was and still runs the
    // pass-completed step.
    const struct {
        Bytes code;
        int payload;
    } codes[] = {
        {{1, 1, 2, 3}, 0},       {{2, 1, 2, 3, 4, 5, 6}, 32}, {{3}, 12 + 64}, {{4}, 24 + 96},
        {{5}, 48 + 128},         {{7}, 768},                  {{22}, 32},     {{25}, 128},
        {{41, 1, 2, 3, 2}, 0},   {{42, 2}, 0},                {{43, 1, 2, 3, 0, 2}, 0},
        {{44, 0, 2}, 0},         {{20, 1, 21}, 0},            {{40, 0, 1, 21}, 0},
        {{201, 1, 21}, 0},       {{6, 0, 3, 1, 2, 3}, 0},
    };
    for (const auto& c : codes) {
        Bytes full = {201, 1, 1, 50, 60, 70};
        full.insert(full.end(), c.code.begin(), c.code.end());
        full.resize(full.size() + c.payload, 0x55);
        for (size_t cut = 7; cut < full.size(); ++cut) {
            rec.passes = 0;
            EXPECT_EQ(decode(Bytes(full.begin(), full.begin() + cut)).size(), 1u)
                << "code " << int(c.code[0]) << " cut at " << cut;
            EXPECT_TRUE(c.code[0] == 201 || decoder.paletteEntry(0) == 0xFF323C46u); // 201 resets it
            EXPECT_EQ(rec.passes, 1);
        }
    }

    // Huge skips and runs stop at the end of the grid: no overflow, no boxes.
    Bytes data;
    for (int i = 0; i < 40000; ++i)
        append(data, {40, 0xFF, 0xFF, 44, 0xFF, 0xFF});
    append(data, {200, 21});
    ASSERT_EQ(decode(data).size(), 1u);
    EXPECT_EQ(rec.boxes[0].place[0], 0);
}

TEST_F(GridDecoderTest, JPEGBoxes)
{
    // A box encoded by our JPEG encoder at the decoder's default scale (the
    // round trip tests check the pixels).
    JPEGEncoder encoder;
    encoder.setScaleFactor(77);
    int pixels[256];
    for (int i = 0; i < 256; ++i)
        pixels[i] = 0x204060 + (i % 16) * 0x010101;
    Array<unsigned char, int> jpeg;
    encoder.encodeRaw(pixels, 16, 16, jpeg);

    // Length 0 before any JPEG box was decoded: the box shows what the code
    // before it painted.
    {
        Bytes bitmap = {2, 1, 2, 3, 4, 5, 6};
        bitmap.resize(bitmap.size() + 32, 0x3C);
        append(bitmap, {6, 0, 0});
        const auto& first = decode(bitmap);
        ASSERT_EQ(first.size(), 2u);
        EXPECT_EQ(first[1].pixels, first[0].pixels);
    }

    // Two colours first: the JPEG boxes leave the palette as it is, so the
    // 2-colour bitmap after them paints with those colours.
    Bytes data = {2, 1, 2, 3, 4, 5, 6};
    data.resize(data.size() + 32, 0x0F);
    append(data, {6, int(jpeg.count() >> 8), int(jpeg.count() & 0xFF)});
    data.insert(data.end(), jpeg.data(), jpeg.data() + jpeg.count());
    // Length 0 is an empty payload: the same JPEG output again, and the
    // following code is read right after the two length bytes.
    append(data, {6, 0, 0, 22});
    data.resize(data.size() + 32, 0xF0);
    const auto& boxes = decode(data);
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_NEAR(int(boxes[1].pixels[17] >> 16), 0xFF00 | (pixels[17] >> 16), 8);
    EXPECT_EQ(boxes[2].pixels, boxes[1].pixels);
    EXPECT_EQ(boxes[3].place[0], 48);
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF010203u);
    EXPECT_EQ(decoder.paletteEntry(1), 0xFF040506u);
    EXPECT_EQ(boxes[3].pixels[0], 0xFF010203u);
    EXPECT_EQ(boxes[3].pixels[4], 0xFF040506u);

    // A length one past the end: not decoded, nothing reported.
    const int tooLong = jpeg.count() + 1;
    data.assign({21, 6, Bytes::value_type(tooLong >> 8), Bytes::value_type(tooLong)});
    data.insert(data.end(), jpeg.data(), jpeg.data() + jpeg.count());
    EXPECT_EQ(decode(data).size(), 1u);
}

TEST_F(GridDecoderTest, ListenerFailureEndsTheCallButNotThePass)
{
    rec.throwOnBox = 2;
    EXPECT_EQ(decode({201, 1, 21, 21, 21, 21}).size(), 2u);
    EXPECT_EQ(rec.passes, 1);

    decoder.m_listener = nullptr; // no listener: decoding still works
    decode({1, 4, 5, 6, 21});
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF040506u);
}

} // namespace

TEST_F(GridDecoderTest, ReportsTheCodeThatPaintsEachBox)
{
    // Every palette kind, with and without its palette, runs of both kinds,
    // then a raw box and a JPEG box. For each box the decoder reports a
    // code which, decoded alone by a fresh decoder, must paint exactly the
    // box; the raw and the JPEG box have none.
    screen(160, 32);
    auto bitmap = [](Bytes& b, int bytes, int salt) {
        for (int i = 0; i < bytes; ++i)
            b.push_back((unsigned char)(i * 37 + salt));
    };
    Bytes data = {2, 10, 20, 30, 40, 50, 60};
    bitmap(data, 32, 1);
    data.push_back(22);
    bitmap(data, 32, 2);
    data.push_back(5);
    for (int c = 0; c < 16; ++c)
        append(data, {c * 16, 255 - c, c * 3});
    bitmap(data, 128, 3);
    data.push_back(23); // the first 4 of the 16 colours
    bitmap(data, 64, 4);
    data.push_back(24);
    bitmap(data, 96, 5);
    append(data, {21, 41, 9, 8, 7, 3, 42, 2, 1, 200, 100, 0});
    append(data, {3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4});
    bitmap(data, 64, 6);
    data.push_back(7);
    bitmap(data, 768, 7);
    JPEGEncoder jpeg;
    jpeg.setScaleFactor(77);
    int photo[256];
    for (int i = 0; i < 256; ++i)
        photo[i] = 0x102030 + i * 0x010203;
    Array<unsigned char, int> jpegData;
    jpeg.encodeRaw(photo, 16, 16, jpegData);
    append(data, {6, int(jpegData.count() >> 8), int(jpegData.count() & 0xFF)});
    data.insert(data.end(), jpegData.data(), jpegData.data() + jpegData.count());

    struct CodeRecorder : IDecoderListener
    {
        GridDecoder* decoder = nullptr;
        std::vector<Pixels> pixels;
        std::vector<Bytes> codes;
        void onScreenDimension(int, int) override {}
        void onBoxDecoded(VideoFrame* box, int, int, int, int) override
        {
            pixels.emplace_back(box->pixels(), box->pixels() + 256);
            Bytes code(GridFormat::kMaxPaletteCodeBytes, 0xAB);
            code.resize(size_t(decoder->reportedPaletteCode(code.data())));
            codes.push_back(code);
        }
        void onDecodePassCompleted() override {}
        void onDecodeCompleted() override {}
    } codes;
    codes.decoder = &decoder;
    decoder.m_listener = &codes;

    // Off: no codes.
    decoder.decode(data.data(), int(data.size()));
    ASSERT_EQ(codes.codes.size(), 15u);
    for (const Bytes& code : codes.codes)
        EXPECT_TRUE(code.empty());

    decoder.setKeepCodes(true);
    codes.pixels.clear();
    codes.codes.clear();
    decoder.decode(data.data(), int(data.size()));
    ASSERT_EQ(codes.codes.size(), 15u);
    const int kinds[15] = {2, 2, 5, 3, 4, 1, 1, 1, 1, 1, 1, 1, 3, 0, 0};
    for (size_t i = 0; i < 15; ++i) {
        const Bytes& code = codes.codes[i];
        ASSERT_EQ(code.empty() ? 0 : code[0], kinds[i]) << "box " << i;
        if (code.empty())
            continue;
        EXPECT_EQ(int(code.size()), GridFormat::paletteCodeBytes(code[0]));
        GridDecoder alone;
        Recorder one;
        alone.m_listener = &one;
        const unsigned char header[] = {0, 16, 0, 16, 77, 0};
        alone.decodeScreen(header, 6);
        alone.decode(code.data(), int(code.size()));
        ASSERT_EQ(one.boxes.size(), 1u) << "box " << i;
        EXPECT_EQ(one.boxes[0].pixels, codes.pixels[i]) << "box " << i;
    }

    // Palette boxes left unpainted: the same codes, and the raw and the JPEG
    // box still with their pixels.
    const std::vector<Bytes> painted = codes.codes;
    const std::vector<Pixels> paintedPixels = codes.pixels;
    decoder.setPalettePixels(false);
    codes.pixels.clear();
    codes.codes.clear();
    decoder.decode(data.data(), int(data.size()));
    EXPECT_TRUE(codes.codes == painted);
    ASSERT_EQ(codes.pixels.size(), 15u);
    EXPECT_EQ(codes.pixels[13], paintedPixels[13]);
    EXPECT_EQ(codes.pixels[14], paintedPixels[14]);

    // Before any JPEG box was decoded, a JPEG box of length 0 shows the box
    // buffer as the code before it left it: palette boxes are painted until
    // then.
    {
        GridDecoder fresh;
        CodeRecorder early;
        early.decoder = &fresh;
        fresh.m_listener = &early;
        fresh.setKeepCodes(true);
        fresh.setPalettePixels(false);
        const unsigned char header[] = {0, 32, 0, 16, 77, 0};
        fresh.decodeScreen(header, 6);
        const Bytes firstTwo(data.begin(), data.begin() + 1 + 6 + 32);
        Bytes early2 = firstTwo;
        append(early2, {6, 0, 0});
        fresh.decode(early2.data(), int(early2.size()));
        ASSERT_EQ(early.pixels.size(), 2u);
        EXPECT_EQ(early.pixels[1], paintedPixels[0]);
    }

    // Diagnostics change the pixels: no codes, and the boxes painted.
    decoder.enableDebugBoxOutline(true);
    codes.codes.clear();
    codes.pixels.clear();
    decoder.decode(data.data(), int(data.size()));
    for (const Bytes& code : codes.codes)
        EXPECT_TRUE(code.empty());
    ASSERT_EQ(codes.pixels.size(), 15u);
    EXPECT_EQ(codes.pixels[0][17], paintedPixels[0][17]); // not a corner: unmarked
}
