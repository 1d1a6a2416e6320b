// SPDX-License-Identifier: GPL-3.0-or-later
// Screens encoded with GridEncoder and decoded with GridDecoder come back
// exactly for palette boxes and within JPEG tolerance for photographic ones.

#include "GridDecoder.h"
#include "GridEncoder.h"
#include "ScreenFrame.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

// The decoding side of a player or index builder.
class ScreenDecoder
{
public:
    ScreenDecoder(int w, int h, int quality)
    {
        decoder.m_listener = &screen;
        unsigned char header[GridFormat::kScreenHeaderSize];
        GridFormat::writeScreenHeader(w, h, GridFormat::jpegScaleForQuality(quality), header);
        decoder.decodeScreen(header, GridFormat::kScreenHeaderSize);
    }
    void decode(const unsigned char* data, int length) { decoder.decode(data, length); }

    GridDecoder decoder;
    ScreenFrame screen;
};

// The encoder's events as letters (b)egin, chun(k), (c)ompleted, and the data.
class ChunkCollector : public IEncoder::IEventListener
{
public:
    void onEncodeBegin() override { events += 'b'; }
    void onEncodeCompleted(const unsigned char* d, int n) override { add('c', d, n); }
    void onEncodeChunk(const unsigned char* d, int n) override { add('k', d, n); }
    void add(char event, const unsigned char* d, int n)
    {
        events += event;
        chunks.emplace_back(d, d + n);
    }
    std::string events;
    std::vector<Bytes> chunks;
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
        kinds.assign(size_t(columns) * ((h + 15) / 16), Flat);
        for (size_t i = 0; i < kinds.size(); ++i)
            paint(int(i), Kind(rng() % 4));
    }

    // Flat: one colour; text: two; few: 3 to 16; photo: a smooth gradient
    // with light noise, many more than 16 colours.
    void paint(int box, Kind kind)
    {
        kinds[box] = kind;
        const int bx = (box % columns) * 16, by = (box / columns) * 16;
        std::vector<unsigned int> palette;
        for (int i = 0, n = kind == Few ? 3 + int(rng() % 14) : 2; i < n; ++i)
            palette.push_back(0xFF000000u | (rng() & 0xFFFFFF));
        const int base = int(rng() % 160) + 40, dx = int(rng() % 5) - 2, dy = int(rng() % 5) - 2;
        for (int y = by; y < std::min(by + 16, frame.height()); ++y)
            for (int x = bx; x < std::min(bx + 16, frame.width()); ++x) {
                unsigned int p = palette[kind == Text ? rng() % 3 == 0 : kind == Few ? rng() % palette.size() : 0];
                if (kind == Photo) {
                    const int v = std::clamp(base + dx * (x - bx) + dy * (y - by) + int(rng() % 5), 0, 255);
                    p = 0xFF000000u | unsigned(v) << 16 | unsigned(v / 2 + 30) << 8 | unsigned(255 - v);
                }
                frame.pixels()[y * frame.width() + x] = p;
            }
    }

    // Palette boxes exact in their colour (the alpha byte is not
    // interpreted), photographic ones within 24 per channel.
    void expectDecodedAs(const VideoFrame& got) const
    {
        ASSERT_EQ(got.width() * 100000 + got.height(), frame.width() * 100000 + frame.height());
        for (int i = 0; i < got.width() * got.height(); ++i) {
            const int x = i % got.width(), y = i / got.width();
            const int limit = kinds[(y / 16) * columns + x / 16] == Photo ? 24 : 0;
            for (int shift : {0, 8, 16}) {
                const int d = std::abs(int((got.pixels()[i] >> shift) & 255) - int((frame.pixels()[i] >> shift) & 255));
                ASSERT_LE(d, limit) << "pixel (" << x << ", " << y << ")";
            }
        }
    }

    void encodeWith(GridEncoder& enc)
    {
        Array<unsigned char, int> unused;
        enc.encode(&frame, 0, 0, frame.width(), frame.height(), unused);
    }

    std::mt19937 rng;
    VideoFrame frame;
    int columns = 0;
    std::vector<Kind> kinds;
};

} // namespace

TEST(GridRoundTripTest, RandomScreensDecodeToThemselves)
{
    struct Size { int w, h; };
    unsigned seed = 1;
    for (Size size : {Size{16, 16}, Size{100, 37}, Size{333, 250}, Size{1, 1}, Size{640, 480}}) {
        RandomScreen s(size.w, size.h, seed++);
        GridEncoder enc;
        enc.setScreenDimension(size.w, size.h);
        s.encodeWith(enc);
        ScreenDecoder d(size.w, size.h, enc.getQuality());
        d.decode(enc.output().data(), enc.output().count());
        SCOPED_TRACE(testing::Message() << size.w << "x" << size.h);
        s.expectDecodedAs(d.screen);
    }
}

TEST(GridRoundTripTest, DifferentialReencodingUpdatesTheOldScreen)
{
    RandomScreen s(200, 120, 7);
    GridEncoder enc;
    enc.setQuality(80);
    enc.setScreenDimension(200, 120);
    s.encodeWith(enc);
    ScreenDecoder d(200, 120, 80);
    d.decode(enc.output().data(), enc.output().count());

    const int full = enc.output().count();
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 12; ++i)
            s.paint(int(s.rng() % s.kinds.size()), Kind(s.rng() % 4));
        s.encodeWith(enc);
        EXPECT_LT(enc.output().count(), full);
        d.decode(enc.output().data(), enc.output().count());
        SCOPED_TRACE(round);
        s.expectDecodedAs(d.screen);
    }
}

TEST(GridRoundTripTest, ChunkedOutputDecodesChunkByChunk)
{
    RandomScreen s(640, 400, 11);
    GridEncoder enc;
    ChunkCollector collector;
    enc.setEventListener(&collector);
    enc.setChunked(true);
    s.encodeWith(enc); // no screen size yet: begin only
    enc.setScreenDimension(640, 400);
    s.encodeWith(enc);
    // Chunks come once the output has reached 20000 bytes, the rest with the
    // completion; the parameter code says so.
    ASSERT_GE(collector.chunks.size(), 3u);
    EXPECT_EQ(collector.events, "bb" + std::string(collector.chunks.size() - 1, 'k') + "c");
    EXPECT_EQ(Bytes(collector.chunks[0].begin(), collector.chunks[0].begin() + 2), (Bytes{201, 1}));
    for (size_t i = 0; i + 1 < collector.chunks.size(); ++i)
        EXPECT_GE(collector.chunks[i].size(), 20000u);

    ScreenDecoder d(640, 400, enc.getQuality());
    for (const auto& chunk : collector.chunks)
        d.decode(chunk.data(), int(chunk.size()));
    s.expectDecodedAs(d.screen);
}
