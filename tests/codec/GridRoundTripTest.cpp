// Screens encoded with GridEncoder and decoded with GridDecoder come back
// exactly for palette boxes and within JPEG tolerance for photographic ones.

#include "GridDecoder.h"
#include "GridEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The listener of a player or index builder: boxes are copied into a screen.
class ScreenListener : public IDecoderListener
{
public:
    void onScreenDimension(int w, int h) override
    {
        screen.resize(w, h);
        screen.clear(0);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        VideoFrame::copy(screen.pixels(), screen.width(), screen.height(), box->pixels(),
                         box->width(), box->height(), x, y, w, h, 0, 0);
    }
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}
    VideoFrame screen;
};

class ChunkCollector : public IEncoder::IEventListener
{
public:
    void onEncodeBegin() override { chunks.clear(); }
    void onEncodeCompleted(const unsigned char* d, int n) override { chunks.emplace_back(d, d + n); }
    void onEncodeChunk(const unsigned char* d, int n) override { chunks.emplace_back(d, d + n); }
    std::vector<std::vector<unsigned char>> chunks;
};

enum Kind { Flat, Text, Few, Photo };

// A screen whose boxes each get one kind of content; `kinds` records it per
// box so that the comparison knows which boxes are lossy.
class RandomScreen
{
public:
    RandomScreen(int w, int h, unsigned seed) : rng(seed)
    {
        frame.resize(w, h);
        columns = (w + 15) / 16;
        rows = (h + 15) / 16;
        kinds.assign(size_t(columns) * rows, Flat);
        for (int i = 0; i < columns * rows; ++i)
            paint(i, Kind(rng() % 4));
    }

    void paint(int box, Kind kind)
    {
        kinds[box] = kind;
        const int bx = (box % columns) * 16, by = (box / columns) * 16;
        const unsigned int a = colour(), b = colour();
        std::vector<unsigned int> palette;
        for (int i = 0, n = 3 + int(rng() % 14); i < n; ++i)
            palette.push_back(colour());
        const int base = int(rng() % 160) + 40, dx = int(rng() % 5) - 2, dy = int(rng() % 5) - 2;
        for (int y = by; y < std::min(by + 16, frame.height()); ++y) {
            for (int x = bx; x < std::min(bx + 16, frame.width()); ++x) {
                unsigned int p = a;
                if (kind == Text)
                    p = rng() % 3 ? a : b;
                else if (kind == Few)
                    p = palette[rng() % palette.size()];
                else if (kind == Photo) {
                    // A smooth gradient with light noise: photographic, and
                    // many more than 16 colours.
                    const int v = std::clamp(base + dx * (x - bx) + dy * (y - by) + int(rng() % 5), 0, 255);
                    p = 0xFF000000u | unsigned(v) << 16 | unsigned(v / 2 + 30) << 8 | unsigned(255 - v);
                }
                frame.pixels()[y * frame.width() + x] = p;
            }
        }
    }

    unsigned int colour() { return 0xFF000000u | (rng() & 0xFFFFFF); }

    std::mt19937 rng;
    VideoFrame frame;
    int columns = 0, rows = 0;
    std::vector<Kind> kinds;
};

constexpr int kJPEGTolerance = 24;

void expectSameScreen(const RandomScreen& s, const VideoFrame& got)
{
    ASSERT_EQ(got.width(), s.frame.width());
    ASSERT_EQ(got.height(), s.frame.height());
    int wrong = 0;
    for (int y = 0; y < got.height() && wrong < 5; ++y) {
        for (int x = 0; x < got.width() && wrong < 5; ++x) {
            const unsigned int want = s.frame.pixels()[y * got.width() + x];
            const unsigned int have = got.pixels()[y * got.width() + x];
            if (s.kinds[(y / 16) * s.columns + x / 16] != Photo) {
                // Exact colour; the alpha byte is not interpreted (a pixel 0
                // comes back as opaque black).
                if ((have ^ want) & 0xFFFFFF) {
                    ++wrong;
                    ADD_FAILURE() << "palette pixel (" << x << ", " << y << "): " << std::hex << have
                                  << " instead of " << want;
                }
                continue;
            }
            for (int shift : {0, 8, 16}) {
                const int d = int((have >> shift) & 255) - int((want >> shift) & 255);
                if (std::abs(d) > kJPEGTolerance) {
                    ++wrong;
                    ADD_FAILURE() << "photo pixel (" << x << ", " << y << ") off by " << d;
                }
            }
        }
    }
}

std::vector<unsigned char> header(int w, int h, int quality)
{
    return {(unsigned char)(w >> 8), (unsigned char)w, (unsigned char)(h >> 8), (unsigned char)h,
            (unsigned char)(255 - quality * 255 / 100)};
}

} // namespace

TEST(GridRoundTripTest, RandomScreensDecodeToThemselves)
{
    struct Size { int w, h; };
    unsigned seed = 1;
    for (Size size : {Size{16, 16}, Size{100, 37}, Size{333, 250}, Size{1, 1}, Size{640, 480}}) {
        RandomScreen s(size.w, size.h, seed++);
        GridEncoder enc;
        enc.setScreenDimension(size.w, size.h);
        Array<unsigned char, int> unused;
        enc.encode(&s.frame, 0, 0, size.w, size.h, unused);

        GridDecoder dec;
        ScreenListener screen;
        dec.m_listener = &screen;
        const auto h = header(size.w, size.h, enc.getQuality());
        dec.decodeScreen(h.data(), int(h.size()));
        dec.decode(enc.output().data(), enc.output().count());
        SCOPED_TRACE(testing::Message() << size.w << "x" << size.h);
        expectSameScreen(s, screen.screen);
    }
}

TEST(GridRoundTripTest, DifferentialReencodingUpdatesTheOldScreen)
{
    RandomScreen s(200, 120, 7);
    GridEncoder enc;
    enc.setQuality(80);
    enc.setScreenDimension(200, 120);
    Array<unsigned char, int> unused;
    enc.encode(&s.frame, 0, 0, 200, 120, unused);

    GridDecoder dec;
    ScreenListener screen;
    dec.m_listener = &screen;
    const auto h = header(200, 120, 80);
    dec.decodeScreen(h.data(), int(h.size()));
    dec.decode(enc.output().data(), enc.output().count());

    const int full = enc.output().count();
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 12; ++i)
            s.paint(int(s.rng() % s.kinds.size()), Kind(s.rng() % 4));
        enc.encode(&s.frame, 0, 0, 200, 120, unused);
        EXPECT_LT(enc.output().count(), full);
        dec.decode(enc.output().data(), enc.output().count());
        SCOPED_TRACE(round);
        expectSameScreen(s, screen.screen);
    }
}

TEST(GridRoundTripTest, ChunkedOutputDecodesChunkByChunk)
{
    RandomScreen s(640, 400, 11);
    GridEncoder enc;
    ChunkCollector collector;
    enc.setEventListener(&collector);
    enc.setChunked(true);
    enc.setScreenDimension(640, 400);
    Array<unsigned char, int> unused;
    enc.encode(&s.frame, 0, 0, 640, 400, unused);
    ASSERT_GE(collector.chunks.size(), 3u);

    GridDecoder dec;
    ScreenListener screen;
    dec.m_listener = &screen;
    const auto h = header(640, 400, enc.getQuality());
    dec.decodeScreen(h.data(), int(h.size()));
    for (const auto& chunk : collector.chunks)
        dec.decode(chunk.data(), int(chunk.size()));
    expectSameScreen(s, screen.screen);
}

TEST(GridRoundTripTest, KeyFramesOfTheIndexBuilder)
{
    // Every key frame: setScreenDimension, then a whole-screen encode, decoded
    // onto a fresh screen. Boxes that are all zero (never painted) are left
    // out after the first key frame and stay black.
    RandomScreen s(96, 64, 3);
    for (int y = 0; y < 16; ++y)
        std::fill(s.frame.pixels() + y * 96 + 16, s.frame.pixels() + y * 96 + 32, 0u);
    s.kinds[1] = Flat;
    GridEncoder enc;
    for (int frame = 0; frame < 3; ++frame) {
        enc.setScreenDimension(96, 64);
        Array<unsigned char, int> unused;
        enc.encode(&s.frame, 0, 0, 96, 64, unused);
        GridDecoder dec;
        ScreenListener screen;
        dec.m_listener = &screen;
        const auto h = header(96, 64, enc.getQuality());
        dec.decodeScreen(h.data(), int(h.size()));
        dec.decode(enc.output().data(), enc.output().count());
        expectSameScreen(s, screen.screen);
        s.paint(frame, Photo);
    }
}
