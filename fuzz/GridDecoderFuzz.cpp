// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the grid decoder: the first six bytes as a screen
// header, the rest as box data. The screen paints every box as the player's
// view does, after checking what the decoder promises: boxes are 16 x 16,
// reported inside the announced screen with their clipped size.
//
// The header's width and height are folded into 0..kMaxSide before the
// decoder sees them. The decoder accepts screens of up to 64 Mi pixels (its
// limits are unit-tested), and inputs that ask for one only make the fuzzer
// allocate and fill; small screens, edge boxes of every width included, keep
// it exploring the box codes.
//
// Bit 0 of the header's reserved byte turns on keeping the codes (as the
// index builder does), bit 1 then leaves the palette boxes unpainted: every
// box reported with a palette code must come with a whole code of its kind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "GridDecoder.h"
#include "ScreenFrame.h"

namespace {

constexpr int kMaxSide = 256;

class CheckedScreen : public ScreenFrame
{
public:
    void onScreenDimension(int w, int h) override
    {
        announcedWidth = w;
        announcedHeight = h;
        ScreenFrame::onScreenDimension(w, h);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        const int sw = announcedWidth, sh = announcedHeight;
        if (!box || box->width() != 16 || box->height() != 16 || x < 0 || y < 0 || x % 16
            || y % 16 || x >= sw || y >= sh || w != (x + 16 <= sw ? 16 : sw - x)
            || h != (y + 16 <= sh ? 16 : sh - y))
            std::abort();
        if (decoder) {
            unsigned char code[GridFormat::kMaxPaletteCodeBytes + 1];
            code[GridFormat::kMaxPaletteCodeBytes] = 0xA5;
            const int kind = decoder->reportedPaletteKind();
            const int length = decoder->reportedPaletteCode(code);
            if ((kind == 0) != (length == 0) || code[GridFormat::kMaxPaletteCodeBytes] != 0xA5)
                std::abort();
            if (kind > 0 && (kind > GridFormat::COLORS_16 || code[0] != kind
                             || length != GridFormat::paletteCodeBytes(kind)))
                std::abort();
            const Array<unsigned char, int>* jpeg = decoder->reportedJpegData();
            if (jpeg && (kind > 0 || jpeg->count() <= 0 || jpeg->count() > 0xFFFF))
                std::abort();
            if (kind > 0)
                return; // not painted when the decoder left it out
        }
        ScreenFrame::onBoxDecoded(box, x, y, w, h);
    }

    int announcedWidth = 0;
    int announcedHeight = 0;
    const GridDecoder* decoder = nullptr; // set when codes are kept
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static GridDecoder decoder;
    static CheckedScreen screen;
    decoder.reset();
    screen.announcedWidth = screen.announcedHeight = 0;
    decoder.m_listener = &screen;

    const int length = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int headerLength = length < GridFormat::kScreenHeaderFullSize
                                 ? length
                                 : GridFormat::kScreenHeaderFullSize;
    unsigned char header[GridFormat::kScreenHeaderFullSize] = {};
    if (headerLength > 0)
        std::memcpy(header, data, static_cast<size_t>(headerLength));
    if (headerLength >= GridFormat::kScreenHeaderSize) {
        const int w = ((header[0] << 8) | header[1]) % (kMaxSide + 1);
        const int h = ((header[2] << 8) | header[3]) % (kMaxSide + 1);
        GridFormat::writeScreenHeader(w, h, header[4], header);
    }
    const bool keepCodes = headerLength == GridFormat::kScreenHeaderFullSize && (header[5] & 1);
    decoder.setKeepCodes(keepCodes);
    decoder.setPalettePixels(!(keepCodes && (header[5] & 2)));
    screen.decoder = keepCodes ? &decoder : nullptr;
    decoder.decodeScreen(header, headerLength);
    if (decoder.columns() > 0 && (decoder.screenWidth() != screen.announcedWidth
                                  || decoder.screenHeight() != screen.announcedHeight))
        std::abort();
    decoder.decode(data + headerLength, length - headerLength);
    return 0;
}
