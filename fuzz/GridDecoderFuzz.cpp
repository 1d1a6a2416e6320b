// Feeds arbitrary bytes to the grid decoder: the first six bytes as a screen
// header, the rest as box data. The listener copies every box into a screen
// frame, as the player does, and checks what the decoder promises: boxes are
// 16 x 16, reported inside the announced screen with their clipped size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "GridDecoder.h"
#include "VideoFrame.h"

namespace {

class ScreenListener : public IDecoderListener
{
public:
    void onScreenDimension(int w, int h) override
    {
        width = w;
        height = h;
        // Keep the fuzzer fast: large screens are checked without a frame
        // (the copy clips to whatever the frame holds).
        if (static_cast<long long>(w) * h <= 512LL * 512)
            screen.resize(w, h);
        else
            screen.resize(0, 0);
        screen.clear(0);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        if (!box || box->width() != 16 || box->height() != 16 || x < 0 || y < 0 || x % 16
            || y % 16 || x >= width || y >= height || w < 1 || w > 16 || h < 1 || h > 16
            || w != (x + 16 <= width ? 16 : width - x) || h != (y + 16 <= height ? 16 : height - y))
            std::abort();
        VideoFrame::copy(screen.pixels(), screen.width(), screen.height(), box->pixels(), 16, 16,
                         x, y, w, h, 0, 0);
    }
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}

    VideoFrame screen;
    int width = 0;
    int height = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static GridDecoder decoder;
    static ScreenListener listener;
    decoder.reset();
    listener.width = listener.height = 0;
    decoder.m_listener = &listener;

    const int length = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int headerLength = length < 6 ? length : 6;
    decoder.decodeScreen(data, headerLength);
    if (decoder.columns() > 0 && (decoder.screenWidth() != listener.width
                                  || decoder.screenHeight() != listener.height))
        std::abort();
    decoder.decode(data + headerLength, length - headerLength);
    return 0;
}
