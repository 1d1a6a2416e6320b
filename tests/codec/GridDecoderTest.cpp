#include "GridDecoder.h"

#include "JPEGEncoder.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

struct Report
{
    VideoFrame* frame;
    int x, y, w, h;
    std::vector<unsigned int> pixels; // the 256 pixels at the time of the call
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
        boxes.push_back({box, x, y, w, h, std::vector<unsigned int>(box->pixels(), box->pixels() + 256)});
    }
    void onDecodePassCompleted() override { ++passes; }
    void onDecodeCompleted() override { ++completed; }

    std::vector<std::pair<int, int>> dimensions;
    std::vector<Report> boxes;
    int passes = 0;
    int completed = 0;
    int throwOnBox = 0;
};

class GridDecoderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        decoder.m_listener = &rec;
        screen(64, 32);
    }
    void screen(int w, int h, int scale = 77)
    {
        const Bytes header = {Bytes::value_type(w >> 8), Bytes::value_type(w), Bytes::value_type(h >> 8),
                              Bytes::value_type(h), Bytes::value_type(scale), 0};
        decoder.decodeScreen(header.data(), 6);
    }
    // Decodes from a buffer of exactly the data's size, so that the
    // sanitizers catch any read past the end.
    void decode(const Bytes& data)
    {
        std::vector<unsigned char> exact(data);
        decoder.decode(exact.empty() ? nullptr : exact.data(), int(exact.size()));
    }
    static bool solid(const Report& r, unsigned int colour)
    {
        for (unsigned int p : r.pixels)
            if (p != colour)
                return false;
        return true;
    }
    static void append(Bytes& b, std::initializer_list<int> more)
    {
        for (int v : more)
            b.push_back(static_cast<unsigned char>(v));
    }

    GridDecoder decoder;
    Recorder rec;
};

TEST_F(GridDecoderTest, GeometryClipsTheLastColumnAndRow)
{
    screen(1000, 600);
    EXPECT_EQ(decoder.columns(), 63);
    EXPECT_EQ(decoder.rows(), 38);
    ASSERT_EQ(rec.dimensions.back(), std::make_pair(1000, 600));

    // Skip to index 62, 2331 and 2393 (the last box), painting one box each;
    // index 2394 lies past the grid and is not reported.
    decode({40, 0, 62, 21, 200, 40, 2331 >> 8, 2331 & 255, 21, 200, 40, 2393 >> 8, 2393 & 255, 21,
            21, 42, 200});
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[0].x, 992);
    EXPECT_EQ(rec.boxes[0].y, 0);
    EXPECT_EQ(rec.boxes[0].w, 8);
    EXPECT_EQ(rec.boxes[0].h, 16);
    EXPECT_EQ(rec.boxes[1].x, 0);
    EXPECT_EQ(rec.boxes[1].y, 592);
    EXPECT_EQ(rec.boxes[1].w, 16);
    EXPECT_EQ(rec.boxes[1].h, 8);
    EXPECT_EQ(rec.boxes[2].x, 992);
    EXPECT_EQ(rec.boxes[2].y, 592);
    EXPECT_EQ(rec.boxes[2].w, 8);
    EXPECT_EQ(rec.boxes[2].h, 8);
}

TEST_F(GridDecoderTest, SingleColourCodesAndRuns)
{
    // Parameter code with the pass bit, then one colour.
    decode({201, 1, 1, 0x10, 0x20, 0x30});
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(solid(rec.boxes[0], 0xFF102030));
    EXPECT_EQ(rec.boxes[0].x, 0);
    EXPECT_EQ(rec.passes, 1);
    EXPECT_EQ(rec.completed, 0); // never called by the decoder

    // A run of three blue boxes shares one cache frame; SKIP then moves past
    // index 3.
    rec.boxes.clear();
    decode({41, 0, 0, 255, 3, 0, 21});
    ASSERT_EQ(rec.boxes.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rec.boxes[i].x, i * 16);
        EXPECT_EQ(rec.boxes[i].frame, rec.boxes[0].frame);
        EXPECT_TRUE(solid(rec.boxes[i], 0xFF0000FF));
    }
    EXPECT_EQ(rec.boxes[3].x, 0); // index 4 of a 4-column grid
    EXPECT_EQ(rec.boxes[3].y, 16);
    EXPECT_EQ(rec.passes, 2); // the pass flag carries over between calls

    // [20, 5, 21] reports index 5 in palette[0]; the palette survived the
    // previous call.
    rec.boxes.clear();
    decode({20, 5, 21});
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].x, 16);
    EXPECT_EQ(rec.boxes[0].y, 16);
    EXPECT_TRUE(solid(rec.boxes[0], 0xFF0000FF));

    // Counts 0 and 1 report one box; 43 and 44 carry 16-bit counts; runs
    // are clipped at the end of the 8-box grid.
    rec.boxes.clear();
    decode({42, 0, 42, 1, 43, 1, 2, 3, 0, 2, 200, 44, 0xFF, 0xFF});
    ASSERT_EQ(rec.boxes.size(), 4u + 8u);
    EXPECT_EQ(rec.boxes[1].x, 16);
    EXPECT_TRUE(solid(rec.boxes[3], 0xFF010203));
    EXPECT_EQ(rec.boxes[11].x, 48);
    EXPECT_EQ(rec.boxes[11].y, 16);

    // A parameter code without the pass bit resets the palette.
    rec.boxes.clear();
    decode({201, 0, 21});
    EXPECT_TRUE(solid(rec.boxes[0], 0xFF000000));
    EXPECT_EQ(rec.passes, 4); // one per call until now, none for this one
}

TEST_F(GridDecoderTest, BitmapBitOrders)
{
    // k = 1: bit j of a byte is pixel j, 1 selects palette[1].
    Bytes two = {2, 1, 1, 1, 2, 2, 2, 0x02};
    two.resize(2 + 6 + 32, 0x80);
    // k = 2: bit 0 is the high bit of the first pixel's index.
    Bytes four = {3, 10, 10, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 0x01};
    four.resize(1 + 12 + 64, 0);
    // k = 3: fields straddle bytes; pixel 2 takes bits 6, 7 of byte 0 and
    // bit 0 of byte 1.
    Bytes eight = {4};
    for (int c = 0; c < 8; ++c)
        append(eight, {20 + c, 0, 0});
    append(eight, {0x80, 0x01});
    eight.resize(1 + 24 + 96, 0);
    // k = 4: the low nibble is the first pixel, bit 0 its value 8.
    Bytes sixteen = {5};
    for (int c = 0; c < 16; ++c)
        append(sixteen, {0, 40 + c, 0});
    append(sixteen, {0x01, 0x10, 0x0E});
    sixteen.resize(1 + 48 + 128, 0);

    Bytes all;
    for (const Bytes* b : {&two, &four, &eight, &sixteen})
        all.insert(all.end(), b->begin(), b->end());
    decode(all);
    ASSERT_EQ(rec.boxes.size(), 4u);
    const auto& p2 = rec.boxes[0].pixels;
    EXPECT_EQ(p2[0], 0xFF010101u);
    EXPECT_EQ(p2[1], 0xFF020202u);
    EXPECT_EQ(p2[2], 0xFF010101u);
    EXPECT_EQ(p2[15], 0xFF020202u); // 0x80: bit 7 of byte 1
    const auto& p4 = rec.boxes[1].pixels;
    EXPECT_EQ(p4[0], 0xFF0C0C0Cu); // palette[2]
    EXPECT_EQ(p4[1], 0xFF0A0A0Au);
    EXPECT_EQ(p4[3], 0xFF0A0A0Au);
    const auto& p8 = rec.boxes[2].pixels;
    EXPECT_EQ(p8[0], 0xFF140000u);
    EXPECT_EQ(p8[1], 0xFF140000u);
    EXPECT_EQ(p8[2], 0xFF170000u); // index 3
    EXPECT_EQ(p8[3], 0xFF140000u);
    const auto& p16 = rec.boxes[3].pixels;
    EXPECT_EQ(p16[0], 0xFF003000u); // index 8
    EXPECT_EQ(p16[1], 0xFF002800u);
    EXPECT_EQ(p16[2], 0xFF002800u);
    EXPECT_EQ(p16[3], 0xFF003000u);
    EXPECT_EQ(p16[4], 0xFF002F00u); // 0xE: bits 1..3 set, index 7
    EXPECT_EQ(rec.boxes[3].x, 48);

    // The NOPAL twins use the palette as it stands.
    rec.boxes.clear();
    Bytes nopal = {22, 0x01};
    nopal.resize(2 + 31, 0);
    append(nopal, {25, 0xF0});
    nopal.resize(nopal.size() + 127, 0);
    decode(nopal);
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].pixels[0], 0xFF002900u);
    EXPECT_EQ(rec.boxes[0].pixels[1], 0xFF002800u);
    EXPECT_EQ(rec.boxes[1].pixels[1], 0xFF003700u); // index 15
}

TEST_F(GridDecoderTest, ResetAndUnknownCodes)
{
    decode({21, 21, 200, 21, 150, 99, 7 + 1});
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[1].x, 16);
    EXPECT_EQ(rec.boxes[2].x, 0);

    rec.boxes.clear();
    decode({150});
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(rec.passes, 0);
}

TEST_F(GridDecoderTest, RawBox)
{
    Bytes raw = {7};
    for (int i = 0; i < 256; ++i)
        append(raw, {i, 255 - i, 7});
    decode(raw);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].pixels[0], 0xFF00FF07u);
    EXPECT_EQ(rec.boxes[0].pixels[255], 0xFFFF0007u);
}

TEST_F(GridDecoderTest, NothingBeforeAHeaderOrWithoutData)
{
    GridDecoder fresh;
    Recorder r;
    fresh.m_listener = &r;
    const unsigned char data[] = {201, 1, 21};
    fresh.decode(data, 3);
    decoder.decode(data, 0);
    decoder.decode(nullptr, 3);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(r.passes, 0);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(rec.passes, 0);
}

TEST_F(GridDecoderTest, ScreenHeaders)
{
    // Same size: no callback, but the palette is reset.
    decode({1, 9, 9, 9});
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF090909u);
    rec.dimensions.clear();
    screen(64, 32);
    EXPECT_TRUE(rec.dimensions.empty());
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF000000u);

    // Byte 5 is kept; a missing one counts as 0. Fewer than 5 bytes change
    // nothing at all.
    const unsigned char header[] = {0, 100, 0, 50, 77, 9};
    decoder.decodeScreen(header, 6);
    EXPECT_EQ(decoder.reservedHeaderByte(), 9);
    decoder.decodeScreen(header, 5);
    EXPECT_EQ(decoder.reservedHeaderByte(), 0);
    decode({1, 9, 9, 9});
    decoder.decodeScreen(header, 4);
    decoder.decodeScreen(nullptr, 6);
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF090909u);
    EXPECT_EQ(decoder.columns(), 7);
    EXPECT_EQ(rec.dimensions.size(), 1u);
}

TEST_F(GridDecoderTest, OversizedScreensAreRefused)
{
    struct Size { int w, h; };
    for (Size s : {Size{16385, 16}, Size{16, 16385}, Size{16384, 4097}, Size{65535, 65535}}) {
        screen(64, 32);
        rec.dimensions.clear();
        rec.boxes.clear();
        screen(s.w, s.h);
        EXPECT_TRUE(rec.dimensions.empty()) << s.w << "x" << s.h;
        EXPECT_EQ(decoder.columns(), 0);
        EXPECT_EQ(decoder.rows(), 0);
        decode({201, 1, 21, 21});
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_EQ(rec.passes, 0);
    }
    // The limits themselves are accepted, and a valid header after a refused
    // one is announced even when it has the size before the refusal.
    screen(16384, 4096);
    EXPECT_EQ(rec.dimensions.back(), std::make_pair(16384, 4096));
    screen(64, 32);
    screen(16385, 1);
    rec.dimensions.clear();
    screen(64, 32);
    EXPECT_EQ(rec.dimensions.size(), 1u);
}

TEST_F(GridDecoderTest, CodesCutOffByTheEndOfTheData)
{
    // Each code, complete, after a first reported box. Cutting the data
    // anywhere inside the code reports only the first box, leaves the
    // palette as it was and still runs the pass-completed step.
    const std::vector<Bytes> codes = {
        {1, 1, 2, 3},
        {2, 1, 2, 3, 4, 5, 6, /* bitmap */},
        {3},
        {4},
        {5},
        {7},
        {22},
        {25},
        {41, 1, 2, 3, 2},
        {42, 2},
        {43, 1, 2, 3, 0, 2},
        {44, 0, 2},
        {20, 1, 21},
        {40, 0, 1, 21},
        {201, 1, 21},
        {6, 0, 3, 1, 2, 3},
    };
    const int payload[] = {0, 32, 12 + 64, 24 + 96, 48 + 128, 768, 32, 128, 0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t c = 0; c < codes.size(); ++c) {
        Bytes full = {201, 1, 1, 50, 60, 70};
        full.insert(full.end(), codes[c].begin(), codes[c].end());
        full.resize(full.size() + payload[c], 0x55);
        for (size_t cut = 7; cut < full.size(); ++cut) {
            rec.boxes.clear();
            rec.passes = 0;
            decode(Bytes(full.begin(), full.begin() + cut));
            EXPECT_EQ(rec.boxes.size(), 1u) << "code " << int(codes[c][0]) << " cut at " << cut;
            if (codes[c][0] != 201) { // a complete 201 resets the palette
                EXPECT_EQ(decoder.paletteEntry(0), 0xFF323C46u);
            }
            EXPECT_EQ(rec.passes, 1);
        }
    }
}

TEST_F(GridDecoderTest, HugeSkipsAndRunsStayInsideTheGrid)
{
    Bytes data;
    for (int i = 0; i < 40000; ++i)
        append(data, {40, 0xFF, 0xFF, 44, 0xFF, 0xFF});
    append(data, {200, 21});
    decode(data);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].x, 0);
}

TEST_F(GridDecoderTest, JPEGBoxes)
{
    // A box encoded by our JPEG encoder at the decoder's default scale.
    JPEGEncoder encoder;
    encoder.setScaleFactor(77);
    int pixels[256];
    for (int i = 0; i < 256; ++i)
        pixels[i] = 0x204060 + (i % 16) * 0x010101;
    Array<unsigned char, int> jpeg;
    encoder.encodeRaw(pixels, 16, 16, jpeg);
    ASSERT_GT(jpeg.count(), 0);

    Bytes data = {6, Bytes::value_type(jpeg.count() >> 8), Bytes::value_type(jpeg.count())};
    data.insert(data.end(), jpeg.data(), jpeg.data() + jpeg.count());
    // Length 0 is an empty payload: the same JPEG output again, and the
    // following code is read right after the two length bytes.
    append(data, {6, 0, 0, 21});
    decode(data);
    ASSERT_EQ(rec.boxes.size(), 3u);
    for (int i = 0; i < 256; ++i) {
        const unsigned int p = rec.boxes[0].pixels[i];
        EXPECT_EQ(p >> 24, 0xFFu);
        EXPECT_NEAR(int((p >> 16) & 255), (pixels[i] >> 16) & 255, 8) << i;
        EXPECT_NEAR(int(p & 255), pixels[i] & 255, 8) << i;
    }
    EXPECT_EQ(rec.boxes[1].pixels, rec.boxes[0].pixels);
    EXPECT_EQ(rec.boxes[1].x, 16);
    EXPECT_EQ(rec.boxes[2].x, 32);
    EXPECT_TRUE(solid(rec.boxes[2], 0xFF000000));

    // A length one past the end: not decoded, nothing reported.
    rec.boxes.clear();
    const int tooLong = jpeg.count() + 1;
    data.assign({21, 6, Bytes::value_type(tooLong >> 8), Bytes::value_type(tooLong)});
    data.insert(data.end(), jpeg.data(), jpeg.data() + jpeg.count());
    decode(data);
    EXPECT_EQ(rec.boxes.size(), 1u);
}

TEST_F(GridDecoderTest, ListenerFailureEndsTheCallButNotThePass)
{
    rec.throwOnBox = 2;
    decode({201, 1, 21, 21, 21, 21});
    EXPECT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.passes, 1);

    decoder.m_listener = nullptr; // no listener: decoding still works
    decode({1, 4, 5, 6, 21});
    EXPECT_EQ(decoder.paletteEntry(0), 0xFF040506u);
}

TEST_F(GridDecoderTest, DiagnosticsTintAndMarkBoxes)
{
    decoder.enableDebugBoxColorization(true);
    EXPECT_TRUE(decoder.isEnabledDebugBoxColorization());
    decoder.enableDebugBoxOutline(true);

    Bytes data = {1, 0, 0, 0x10, 21, 2, 0, 0, 0, 0, 0, 0x20, 0x20};
    data.resize(data.size() + 31, 0);
    decode(data);
    ASSERT_EQ(rec.boxes.size(), 3u);
    // One colour: tinted red, painted into the box buffer (not a cache
    // frame) and marked with alpha-0 corners and centre points.
    const auto& one = rec.boxes[0].pixels;
    EXPECT_EQ(one[5 * 16 + 5], 0xFFFF0010u);
    EXPECT_EQ(one[0], 0x0000FF00u);
    EXPECT_EQ(one[15 * 16 + 15], 0x0000FF00u);
    EXPECT_EQ(one[7 * 16 + 7], 0x0000FF00u);
    EXPECT_EQ(rec.boxes[0].frame, rec.boxes[2].frame);
    // NOPAL: the tint of the code that set the palette, no centre marks.
    EXPECT_EQ(rec.boxes[1].pixels[7 * 16 + 7], 0xFFFF0010u);
    EXPECT_EQ(rec.boxes[1].pixels[2 * 16], 0x0000FF00u);
    // Two colours: green tint, its own mark colour.
    EXPECT_EQ(rec.boxes[2].pixels[5], 0xFF00FF20u);
    EXPECT_EQ(rec.boxes[2].pixels[0], 0x0000A0A0u);

    // Off again: colours pass unchanged and single colours come from the
    // cache.
    rec.boxes.clear();
    decoder.enableDebugBoxColorization(false);
    decoder.enableDebugBoxOutline(false);
    decode({1, 0, 0, 0x10, 21});
    EXPECT_TRUE(solid(rec.boxes[0], 0xFF000010));
    EXPECT_EQ(rec.boxes[0].frame, rec.boxes[1].frame);
}

TEST(GridDecoderNames, PrintDebugInfoNamesEveryKind)
{
    EXPECT_STREQ(GridDecoder::printDebugInfo(0, 0, 0), "SKIP");
    EXPECT_STREQ(GridDecoder::printDebugInfo(3, 0, 0), "4_COLORS");
    EXPECT_STREQ(GridDecoder::printDebugInfo(7, 0, 0), "X_COLORS");
    EXPECT_STREQ(GridDecoder::printDebugInfo(21, 0, 0), "1_COLORS_NOPAL");
    EXPECT_STREQ(GridDecoder::printDebugInfo(41, 0, 0), "1_COLOR_MUL          ");
    EXPECT_STREQ(GridDecoder::printDebugInfo(42, 0, 0), "1_COLOR_MUL_NOPAL    ");
    EXPECT_STREQ(GridDecoder::printDebugInfo(43, 0, 0), "1_COLOR_MUL_EXT      ");
    EXPECT_STREQ(GridDecoder::printDebugInfo(44, 0, 0), "1_COLOR_MUL_EXT_NOPAL");
    EXPECT_STREQ(GridDecoder::printDebugInfo(200, 0, 0), "RESET");
    EXPECT_STREQ(GridDecoder::printDebugInfo(8, 0, 0), "UNKNOWN");
    for (unsigned char k : {41, 42, 43, 44})
        EXPECT_EQ(std::strlen(GridDecoder::printDebugInfo(k, 0, 0)), 21u);
}

} // namespace
