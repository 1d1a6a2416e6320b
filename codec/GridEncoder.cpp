// SPDX-License-Identifier: GPL-3.0-or-later
#include "GridEncoder.h"

#include "Convert.h"
#include "Log.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace GridFormat;

namespace {

constexpr int kOpaqueBlackInt = static_cast<int>(kOpaqueBlack);
constexpr unsigned int kNeverSent = 0xCC000000u;

// True when the 16 x 16 box `a` (rows packed) equals the one at `b` (rows
// `stride` apart). Unchanged screens are the common case, so the whole box
// is compared without early exits, in a form the compiler vectorises.
bool sameBox(const unsigned int* __restrict a, const unsigned int* __restrict b, int stride)
{
    unsigned int acc = 0;
    for (int r = 0; r < kBoxSize; ++r, a += kBoxSize, b += stride)
        for (int c = 0; c < kBoxSize; ++c)
            acc |= a[c] ^ b[c];
    return acc == 0;
}

// Copies the 16 x 16 box at `b` (rows `stride` apart) over the packed box
// `a` in one pass; true when `a` held those pixels already.
bool copyIfDifferent(unsigned int* __restrict a, const unsigned int* __restrict b, int stride)
{
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    for (int r = 0; r < kBoxSize; ++r, a += kBoxSize, b += stride) {
        __m128i* to = reinterpret_cast<__m128i*>(a);
        const __m128i* from = reinterpret_cast<const __m128i*>(b);
        for (int q = 0; q < 4; ++q) {
            const __m128i v = _mm_loadu_si128(from + q);
            acc = _mm_or_si128(acc, _mm_xor_si128(v, _mm_loadu_si128(to + q)));
            _mm_storeu_si128(to + q, v);
        }
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(acc, _mm_setzero_si128())) == 0xFFFF;
#else
    unsigned int acc = 0;
    for (int r = 0; r < kBoxSize; ++r, a += kBoxSize, b += stride)
        for (int c = 0; c < kBoxSize; ++c) {
            acc |= a[c] ^ b[c];
            a[c] = b[c];
        }
    return acc == 0;
#endif
}

} // namespace

// ---------------------------------------------------------------------------
// Box

Box::Box()
{
    std::fill(m_colors, m_colors + 16, kOpaqueBlackInt);
}

int Box::detectType()
{
    return detectType(m_frame.pixels());
}

int Box::detectType(const unsigned int* px)
{
    std::fill(m_colors, m_colors + 16, kOpaqueBlackInt);
    auto photograph = [&]() {
        m_colorCount = 17;
        m_boxType = 6;
        return m_boxType;
    };

#if defined(__SSE2__)
    // Photographs show their seventeenth colour within the first rows: a
    // short scan of them finds these boxes before any pass below.
    {
        unsigned int seen[16];
        int count = 0;
        unsigned int last = px[0] + 1;
        for (int i = 0; i < 4 * kBoxSize; ++i) {
            const unsigned int p = px[i];
            if (p == last)
                continue;
            last = p;
            int k = 0;
            while (k < count && seen[k] != p)
                ++k;
            if (k == count) {
                if (count == 16)
                    return photograph();
                seen[count++] = p;
            }
        }
    }
    // One pass per colour, in order of first appearance: the first pixel not
    // yet placed gives the next colour, and all pixels from its group of 16
    // on are compared with it, four at a time; the matches take its index.
    std::memset(m_index, 0, sizeof m_index);
    unsigned int placed[kBoxSize] = {}; // bit j of placed[g]: pixel 16 g + j
    int count = 0;
    for (int g = 0;;) {
        while (g < kBoxSize && placed[g] == 0xFFFFu)
            ++g;
        if (g == kBoxSize)
            break;
        if (count == 16)
            return photograph();
        const unsigned int colour = px[g * kBoxSize + __builtin_ctz(~placed[g])];
        m_colors[count] = static_cast<int>(colour);
        const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
        const __m128i k = _mm_set1_epi8(static_cast<char>(count));
        for (int h = g; h < kBoxSize; ++h) {
            const __m128i* row = reinterpret_cast<const __m128i*>(px + h * kBoxSize);
            const __m128i m0 = _mm_cmpeq_epi32(_mm_loadu_si128(row), c);
            const __m128i m1 = _mm_cmpeq_epi32(_mm_loadu_si128(row + 1), c);
            const __m128i m2 = _mm_cmpeq_epi32(_mm_loadu_si128(row + 2), c);
            const __m128i m3 = _mm_cmpeq_epi32(_mm_loadu_si128(row + 3), c);
            const __m128i bytes =
                _mm_packs_epi16(_mm_packs_epi32(m0, m1), _mm_packs_epi32(m2, m3));
            placed[h] |= static_cast<unsigned int>(_mm_movemask_epi8(bytes));
            __m128i* index = reinterpret_cast<__m128i*>(m_index + h * kBoxSize);
            _mm_storeu_si128(index, _mm_or_si128(_mm_loadu_si128(index), _mm_and_si128(bytes, k)));
        }
        ++count;
    }
#else
    unsigned int colors[16];
    int count = 0;
    unsigned int last = 0;
    unsigned char lastIndex = 0;
    for (int i = 0; i < kBoxPixels; ++i) {
        const unsigned int p = px[i];
        if (count == 0 || p != last) {
            int k = 0;
            while (k < count && colors[k] != p)
                ++k;
            if (k == count) {
                if (count == 16)
                    return photograph();
                colors[count++] = p;
            }
            last = p;
            lastIndex = static_cast<unsigned char>(k);
        }
        m_index[i] = lastIndex;
    }
    for (int k = 0; k < count; ++k)
        m_colors[k] = static_cast<int>(colors[k]);
#endif
    m_colorCount = count;
    m_boxType = count <= 1 ? 1 : count == 2 ? 2 : count <= 4 ? 3 : count <= 8 ? 4 : 5;
    return m_boxType;
}

// ---------------------------------------------------------------------------
// ScreenMap

void ScreenMap::setSize(int width, int height)
{
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    m_columns = (m_width + kBoxSize - 1) / kBoxSize;
    m_rows = (m_height + kBoxSize - 1) / kBoxSize;
    m_boxCount = m_columns * m_rows;
    if (m_boxes.count() < m_boxCount)
        m_boxes.setCount(m_boxCount);
    for (int i = 0; i < m_boxes.count(); ++i) {
        VideoFrame& f = m_boxes[i].m_frame;
        if (!f.isEmpty())
            f.clear(0);
    }
}

void ScreenMap::clear()
{
    m_width = m_height = 0;
    m_columns = m_rows = m_boxCount = 0;
}

VideoFrame* ScreenMap::mapFrame(const Box& box)
{
    if (box.m_column < 0 || box.m_column >= m_columns || box.m_row < 0 || box.m_row >= m_rows)
        return nullptr;
    VideoFrame& f = m_boxes[box.m_row * m_columns + box.m_column].m_frame;
    if (f.isEmpty()) {
        f.resize(kBoxSize, kBoxSize);
        f.clear(kNeverSent);
    }
    return &f;
}

bool ScreenMap::hasDifferences(const Box& box)
{
    if (m_boxCount <= 0)
        return true;
    VideoFrame* f = mapFrame(box);
    if (!f)
        return true;
    const size_t bytes = kBoxPixels * sizeof(unsigned int);
    if (std::memcmp(f->pixels(), box.m_frame.pixels(), bytes) == 0)
        return false;
    std::memcpy(f->pixels(), box.m_frame.pixels(), bytes);
    return true;
}

bool ScreenMap::hasDifferences(Box& box, const unsigned int* src, int stride)
{
    const size_t rowBytes = kBoxSize * sizeof(unsigned int);
    VideoFrame* f = m_boxCount > 0 ? mapFrame(box) : nullptr;
    box.m_frame.resize(kBoxSize, kBoxSize);
    unsigned int* dst = box.m_frame.pixels();
    if (!f) {
        for (int r = 0; r < kBoxSize; ++r)
            std::memcpy(dst + r * kBoxSize, src + static_cast<size_t>(r) * stride,
                        rowBytes);
        return true;
    }
    unsigned int* mine = f->pixels();
    if (sameBox(mine, src, stride))
        return false;
    for (int r = 0; r < kBoxSize; ++r) {
        const unsigned int* row = src + static_cast<size_t>(r) * stride;
        std::memcpy(mine + r * kBoxSize, row, rowBytes);
        std::memcpy(dst + r * kBoxSize, row, rowBytes);
    }
    return true;
}

// ---------------------------------------------------------------------------
// GridEncoder

GridEncoder::GridEncoder()
{
    std::fill(m_lastPalette, m_lastPalette + 16, 0);
    m_jpeg.setScaleFactor(static_cast<unsigned char>(jpegScaleForQuality(m_quality)));
}

GridEncoder::~GridEncoder() = default;

void GridEncoder::setBoxReuse(bool on)
{
    if (m_reuse && !on)
        materialiseZeroedBoxes();
    m_reuse = on;
    m_boxesReused = 0;
    resetStore();
}

void GridEncoder::resetStore()
{
    m_store.setCount(m_reuse ? m_map.m_boxCount : 0);
    for (int i = 0; i < m_store.count(); ++i) {
        StoredBox& s = m_store[i];
        s.zeroed = false;
        s.mapStale = false;
        s.valid = false;
        s.bytes.setCount(0);
    }
    m_storeFactor = -1;
}

void GridEncoder::clearBoxStore()
{
    // The lazy zeros are the map's content, not the store's: they stay.
    for (int i = 0; i < m_store.count(); ++i) {
        m_store[i].valid = false;
        m_store[i].bytes.setCount(0);
    }
    m_storeFactor = -1;
}

void GridEncoder::materialiseZeroedBoxes()
{
    for (int i = 0; i < m_store.count() && i < m_map.m_boxes.count(); ++i) {
        StoredBox& s = m_store[i];
        VideoFrame& f = m_map.m_boxes[i].m_frame;
        // A box given as a code was sent, but the map never saw its pixels:
        // it compares as never sent.
        if (s.mapStale && !f.isEmpty())
            f.clear(kNeverSent);
        else if (s.zeroed && !f.isEmpty())
            f.clear(0);
        s.zeroed = false;
        s.mapStale = false;
    }
}

bool GridEncoder::usableCode(const GivenCode& code)
{
    if (!code.data || code.length <= 0)
        return false;
    if (code.kind == JPEG)
        return code.length <= 0xFFFF;
    if (code.kind == RAW)
        return code.length == kRawCodeBytes && code.data[0] == RAW;
    return code.kind >= COLOR_1 && code.kind <= COLORS_16
        && code.length == paletteCodeBytes(code.kind) && code.data[0] == code.kind;
}

bool GridEncoder::classifyWithStore(Box& box, const unsigned int* src, int stride, bool knownSame)
{
    // 16 rows of 16 pixels, `fromStride` apart, into a box of rows of 16.
    auto copyRows = [](unsigned int* dst, const unsigned int* from, int fromStride) {
        for (int r = 0; r < kBoxSize; ++r)
            std::memcpy(dst + r * kBoxSize, from + static_cast<size_t>(r) * fromStride,
                        kBoxSize * sizeof(unsigned int));
    };
    auto copyToBox = [&](const unsigned int* from, int fromStride) {
        box.m_frame.resize(kBoxSize, kBoxSize);
        if (box.m_frame.pixels() != from)
            copyRows(box.m_frame.pixels(), from, fromStride);
    };

    StoredBox* s = storeFor(box);
    const GivenCode* given = s && m_given ? &m_given[box.m_row * m_map.m_columns + box.m_column]
                                         : nullptr;
    if (given && !usableCode(*given))
        given = nullptr;
    if (given) {
        // The code stands for the box's pixels, which are not read: the map
        // keeps what it had, marked as not the box's.
        s->valid = true;
        s->bytes.setCount(0);
        s->bytes.copy(0, given->data, given->length);
        s->raw = given->kind == RAW;
        if (given->kind == JPEG || given->kind == RAW) {
            s->type = 6;
            s->colorCount = 0;
        } else {
            const int n = kBitmapColors[given->kind];
            s->type = given->kind;
            s->colorCount = n;
            for (int k = 0; k < 16; ++k)
                s->colors[k] = static_cast<int>(k < n ? tripleToPixel(given->data + 1 + 3 * k)
                                                      : kOpaqueBlack);
            std::copy(s->colors, s->colors + 16, box.m_colors);
            box.m_colorCount = n;
        }
        box.m_boxType = s->type;
        s->mapStale = true;
        s->zeroed = false;
        return true;
    }
    // A box the caller vouches for, whose entry is valid, already has its
    // map frame: it is neither compared nor looked up.
    const bool vouched = knownSame && s && s->valid;
    VideoFrame* f = vouched ? nullptr : s ? m_map.mapFrame(box) : nullptr;
    if (!f && !vouched) {
        copyToBox(src, stride);
        box.detectType();
        return true;
    }
    unsigned int* mine = f ? f->pixels() : nullptr;
    // The box's pixels go into the map as they are compared: a box handed
    // to this function has mostly changed. A map box that was given as a
    // code holds no pixels of the box to compare with.
    bool same = vouched;
    if (!vouched) {
        if (s->mapStale) {
            copyRows(mine, src, stride);
            s->mapStale = false;
        } else {
            same = copyIfDifferent(mine, src, stride);
        }
    }
    if (same && !s->zeroed)
        return false;
    if (!same)
        s->valid = false;
    const bool wasZero = s->zeroed;
    s->zeroed = false;
    if (s->valid && (s->type == 1 || s->bytes.count() > 0)) {
        box.m_boxType = s->type;
        std::copy(s->colors, s->colors + 16, box.m_colors);
        box.m_colorCount = s->colorCount;
    } else {
        // Classified from the map's copy; the JPEG coder takes the pixels
        // from the box, the bitmap writer only the colours and indices. (A
        // vouched box gets here when its JPEG bytes were dropped for a new
        // factor: its map frame holds its pixels.)
        if (!mine)
            mine = m_map.mapFrame(box)->pixels();
        if (s->mapStale) {
            // Vouched for, but its code is gone (a new factor dropped its
            // JPEG bytes) and the map never had its pixels: the caller's
            // frame is all there is.
            copyRows(mine, src, stride);
            s->mapStale = false;
        }
        box.detectType(mine);
        if (box.m_boxType == 6)
            copyToBox(mine, kBoxSize);
        s->valid = true;
        s->raw = false;
        s->type = box.m_boxType;
        std::copy(box.m_colors, box.m_colors + 16, s->colors);
        s->colorCount = box.m_colorCount;
        s->bytes.setCount(0);
    }
    // After a lazy zero only a box that is not all zero counts as changed.
    return !(wasZero && box.m_boxType == 1 && box.m_colors[0] == 0);
}

void GridEncoder::setScreenDimension(int width, int height)
{
    if (screenTooLarge(width, height))
        width = height = 0;
    m_updates = nullptr;
    if (m_reuse && m_map.m_boxCount > 0 && width == m_map.m_width && height == m_map.m_height
        && m_store.count() == m_map.m_boxCount) {
        // The same screen again: the boxes count as zero, their pixels stay
        // for the comparison with the next encode's.
        for (int i = 0; i < m_store.count(); ++i)
            // (A valid entry's map box holds pixels or was given as a code:
            // the box itself need not be read.)
            if (m_store[i].valid || m_store[i].mapStale || !m_map.m_boxes[i].m_frame.isEmpty())
                m_store[i].zeroed = true;
        return;
    }
    m_map.setSize(width, height);
    resetStore();
}

bool GridEncoder::checkDimension(int width, int height)
{
    return m_map.m_width == width && m_map.m_height == height;
}

void GridEncoder::reset()
{
    m_map.clear();
    resetStore();
}

void GridEncoder::setQuality(int quality)
{
    m_quality = std::clamp(quality, 0, 100);
}

void GridEncoder::ensureSpace(int n)
{
    const int count = m_output.count();
    if (count + n <= m_output.capacity())
        return;
    const long long wanted = std::max<long long>(2LL * m_output.capacity(), count + n + 65536LL);
    m_output.reallocate(static_cast<int>(std::min<long long>(wanted, INT_MAX)));
}

void GridEncoder::putColor(int color)
{
    const int n = m_output.count();
    m_output.setCount(n + 3);
    pixelToTriple(static_cast<unsigned int>(color), m_output.data() + n);
}

void GridEncoder::encode(VideoFrame* frame, int x, int y, int width, int height,
                         Array<unsigned char, int>& out)
{
    (void)out; // the output stays in m_output
    m_chunkSize = kDefaultChunkSize;
    if (m_eventListener)
        m_eventListener->onEncodeBegin();
    if (m_map.m_boxCount <= 0 || !frame || width <= 0 || height <= 0
        || screenTooLarge(width, height)) {
        m_unchanged = nullptr;
        m_unchangedCount = 0;
        m_given = nullptr;
        m_givenCount = 0;
        return;
    }

    std::fill(m_lastPalette, m_lastPalette + 16, 0);
    // Stored JPEG bytes hold for one factor. Dropped before the box map is
    // built, which gives a box without stored bytes its pixels.
    const unsigned char scale = static_cast<unsigned char>(jpegScaleForQuality(m_quality));
    if (m_reuse && scale != m_storeFactor) {
        for (int i = 0; i < m_store.count(); ++i)
            if (m_store[i].type == 6 && !m_store[i].raw)
                m_store[i].bytes.setCount(0);
        m_storeFactor = scale;
    }
    m_failures = 0;
    try {
        generateBoxMap(frame, x, y, width, height);
    } catch (...) {
        ++m_failures;
        // Boxes the map did not reach may no longer match the frame.
        clearBoxStore();
        m_storeByIndex = false;
        const std::string address = std::to_string(reinterpret_cast<uintptr_t>(frame));
        logError1("GridEncoder::encode: calling generateBoxMap() : C Exception caught: %1",
                  address.c_str());
    }

    m_output.setCount(0);
    const int reserve = width * height * 3; // at most 64 Mi pixels: fits an int
    if (m_output.capacity() < reserve)
        m_output.reallocate(reserve);
    ensureSpace(2);
    put(PARAMETERS);
    put(m_chunked ? kFlagPassEnd : 0);
    m_lastCode = kNoCode;

    // The factor is compared with the one the quality maps to, not with the
    // quality it stands for: quality -> factor -> quality does not round-trip
    // (26 stands for 89, but 89 maps to 29), and a reader that derives the
    // factor from the quality, as the index builder does for its key-frame
    // prefix, must find the JPEG boxes coded with exactly that factor.
    if (m_jpeg.getScaleFactor() != scale)
        m_jpeg.setScaleFactor(scale);

    for (int type = 1; type <= 6; ++type)
        encodeBoxes(type);

    if (m_eventListener)
        m_eventListener->onEncodeCompleted(m_output.data(), m_output.count());
}

void GridEncoder::markUpdates(int columns, int rows)
{
    m_updateMask.setCount(columns * rows);
    if (columns * rows > 0)
        std::memset(m_updateMask.data(), 0, static_cast<size_t>(columns) * rows);
    if (!m_updates)
        return;
    // Every box that holds a pixel of a rectangle is marked. Edges are
    // inclusive, so the last column is right / 16 (not (right - 1) / 16,
    // which would miss the box of a rectangle ending on its first pixel).
    for (int i = 0; i < m_updates->count(); ++i) {
        const QRect& r = (*m_updates)[i];
        if (r.isEmpty() || r.right() < 0 || r.bottom() < 0)
            continue;
        const int c0 = std::max(r.left(), 0) / kBoxSize;
        const int r0 = std::max(r.top(), 0) / kBoxSize;
        const int c1 = std::min(r.right() / kBoxSize, columns - 1);
        const int r1 = std::min(r.bottom() / kBoxSize, rows - 1);
        for (int row = r0; row <= r1; ++row)
            for (int column = c0; column <= c1; ++column)
                m_updateMask[row * columns + column] = 1;
    }
}

void GridEncoder::generateBoxMap(VideoFrame* frame, int x, int y, int width, int height)
{
    const int columns = (width + kBoxSize - 1) / kBoxSize;
    const int rows = (height + kBoxSize - 1) / kBoxSize;
    const int count = columns * rows;
    // The box map keeps its geometry between encodes of the same area size:
    // an encode of a screen that mostly stays the same need not touch every
    // box.
    if (m_boxMap.count() != count || m_boxMapWidth != width || m_boxMapHeight != height) {
        m_boxMapWidth = m_boxMapHeight = -1;
        m_boxMap.setCount(count);
        for (int row = 0, i = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column, ++i) {
                Box& box = m_boxMap[i];
                box.m_column = column;
                box.m_row = row;
                box.m_left = column * kBoxSize;
                box.m_top = row * kBoxSize;
                box.m_right = std::min(box.m_left + kBoxSize, width) - 1;
                box.m_bottom = std::min(box.m_top + kBoxSize, height) - 1;
            }
        m_boxMapWidth = width;
        m_boxMapHeight = height;
    }
    // The boxes' kinds, for the passes: 0 (unchanged) for the boxes this
    // call does not reach (a failure below) rather than the previous call's.
    m_types.setCount(count);
    std::fill(m_types.data(), m_types.data() + count, 0);
    m_storeByIndex = m_reuse && m_store.count() == count && columns == m_map.m_columns;
    markUpdates(columns, rows);

    const int padColumn = width % kBoxSize;
    const int padRow = height % kBoxSize;
    const unsigned int* pixels = frame->pixels();
    const int frameWidth = frame->width();
    const int frameHeight = frame->height();
    const unsigned char* unchanged = m_reuse && !m_updates && m_unchangedCount == count
        ? m_unchanged : nullptr;
    m_unchanged = nullptr;
    m_unchangedCount = 0;
    // Given JPEG data holds for this encode's boxes only.
    struct GivenScope
    {
        GridEncoder* e;
        ~GivenScope() { e->m_given = nullptr, e->m_givenCount = 0; }
    } givenScope{this};
    if (!m_reuse || m_updates || m_givenCount != count || count != m_map.m_boxCount
        || columns != m_map.m_columns)
        m_given = nullptr;

    for (int row = 0, i = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column, ++i) {
            const bool knownSame = unchanged && unchanged[i];
            if (knownSame && m_storeByIndex) {
                // Vouched for, with its kind and code in the store: what
                // classifyWithStore would conclude, without touching the box.
                StoredBox& s = m_store[i];
                if (s.valid && !(m_given && m_given[i].data) && (s.type == 1 || s.bytes.count() > 0)) {
                    if (s.zeroed) {
                        s.zeroed = false;
                        // After a lazy zero an all-zero box stays unchanged.
                        m_types[i] = static_cast<unsigned char>(
                            s.type == 1 && s.colors[0] == 0 ? 0 : s.type);
                    }
                    continue;
                }
            }
            Box& box = m_boxMap[i];
            box.m_boxType = 0;
            if (m_updates && !m_updateMask[i]) {
                // Its map box keeps older pixels than the frame's: no
                // caller's mark may vouch for it later.
                if (StoredBox* s = storeFor(box))
                    s->valid = false;
                continue;
            }
            const long long srcX = static_cast<long long>(x) + box.m_left;
            const long long srcY = static_cast<long long>(y) + box.m_top;
            const bool padRight = column == columns - 1 && padColumn > 0;
            const bool padBottom = row == rows - 1 && padRow > 0;
            bool changed;
            if (!padRight && !padBottom && srcX >= 0 && srcY >= 0 && pixels
                && srcX + kBoxSize <= frameWidth && srcY + kBoxSize <= frameHeight) {
                // Whole box inside the frame: compare in place, copy only
                // what changed.
                const unsigned int* src = pixels + srcY * frameWidth + srcX;
                if (m_reuse) {
                    box.m_boxType = classifyWithStore(box, src, frameWidth, knownSame)
                        ? box.m_boxType : 0;
                    m_types[i] = static_cast<unsigned char>(box.m_boxType);
                    continue;
                }
                changed = m_map.hasDifferences(box, src, frameWidth);
            } else {
                box.m_frame.resize(kBoxSize, kBoxSize);
                unsigned int* px = box.m_frame.pixels();
                if (pixels && srcX > INT_MIN && srcX < INT_MAX && srcY > INT_MIN && srcY < INT_MAX)
                    VideoFrame::copy(px, kBoxSize, kBoxSize, pixels, frameWidth, frameHeight, 0, 0,
                                     kBoxSize, kBoxSize, static_cast<int>(srcX),
                                     static_cast<int>(srcY));
                // The part of an edge box beyond the screen repeats the box's
                // top-left pixel, so that it adds no colour of its own.
                const unsigned int fill = px[0];
                if (padRight)
                    for (int r = 0; r < kBoxSize; ++r)
                        std::fill(px + r * kBoxSize + padColumn, px + (r + 1) * kBoxSize, fill);
                if (padBottom)
                    std::fill(px + padRow * kBoxSize, px + kBoxPixels, fill);
                if (m_reuse) {
                    box.m_boxType = classifyWithStore(box, px, kBoxSize, knownSame)
                        ? box.m_boxType : 0;
                    m_types[i] = static_cast<unsigned char>(box.m_boxType);
                    continue;
                }
                changed = m_map.hasDifferences(box);
            }
            if (changed) {
                box.detectType();
                m_types[i] = static_cast<unsigned char>(box.m_boxType);
            }
        }
    }
}

void GridEncoder::encodeBoxes(int type)
{
    ensureSpace(1);
    put(RESET);
    m_lastCode = kNoCode;

    int pending = 0;
    const int count = std::min(m_boxMap.count(), m_types.count());
    // The six passes read the types from one byte per box rather than from
    // the boxes themselves, several hundred bytes apart: a pass over a whole
    // screen then touches a few cache lines instead of one per box.
    const unsigned char* types = m_types.data();
    for (int i = 0; i < count; ++i) {
        if (types[i] != type) {
            ++pending;
            continue;
        }
        try {
            if (pending > 0) {
                m_lastCode = kNoCode;
                encodeSkip(pending);
                pending = 0;
            }
            encodeBox(i, type);
        } catch (...) {
            String fmt("GridEncoder::encodeBoxes: switch( box.m_boxType ) : C Exception caught: "
                       "bt: %1:%2 %3/");
            fmt += Convert::int2str(count);
            fmt += "(";
            fmt += Convert::int2str(m_map.m_boxCount);
            fmt += ")";
            logError3(fmt.c_str(), Convert::int2str(type).c_str(),
                      Convert::int2str(m_lastCode).c_str(), Convert::int2str(i).c_str());
            // The box was not written: the decoder has to skip over it.
            ++m_failures;
            ++pending;
            m_lastCode = kNoCode;
            continue;
        }

        if (m_chunked && m_eventListener && m_output.count() >= m_chunkSize) {
            try {
                m_eventListener->onEncodeChunk(m_output.data(), m_output.count());
                m_output.setCount(0);
                // The next chunk is decoded from box 0 again: move past this box.
                m_lastCode = kNoCode;
                encodeSkip(i + 1);
                m_lastCode = kNoCode;
            } catch (...) {
                logError("GridEncoder::encodeBoxes: onEncodeChunk : C Exception caught");
            }
        }
    }
    // Skips still pending at the end of a pass are not needed.
}

void GridEncoder::encodeBox(int i, int type)
{
    // A box with a store entry takes its colours from there: a box the
    // store vouched for was not touched while the box map was built.
    const Box& box = m_boxMap[i];
    StoredBox* s = m_storeByIndex ? &m_store[i] : storeFor(box);
    if (s && !s->valid)
        s = nullptr;
    if (type == 6) {
        encodeBoxJPEG(box, s);
        return;
    }
    const int* colors = s ? s->colors : box.m_colors;
    const int n = kBitmapColors[type];
    const bool withPalette = !std::equal(colors, colors + n, m_lastPalette);
    if (type == 1)
        encodeBox1Color(colors[0], withPalette);
    else
        encodeBitmap(box, s, colors, type, withPalette);
}

void GridEncoder::encodeBitmap(const Box& box, StoredBox* s, const int* colors, int type,
                               bool withPalette)
{
    const int n = kBitmapColors[type];
    const int bits = type - 1; // 1, 2, 3 or 4 bits per pixel
    const int size = 1 + 3 * n + 32 * bits;

    // The with-palette code, from the store or coded now (into the store
    // when the box has a place there).
    const unsigned char* code;
    if (s && s->valid && s->type == type && s->bytes.count() == size) {
        code = s->bytes.data();
        ++m_boxesReused;
    } else {
        Array<unsigned char, int>& into = s && s->valid ? s->bytes : m_codeScratch;
        into.setCount(size);
        writeBitmapCode(box, type, into.data());
        code = into.data();
    }

    ensureSpace(size);
    m_lastCodePos = m_output.count();
    if (withPalette) {
        m_output.copy(m_output.count(), code, size);
    } else {
        put(static_cast<unsigned char>(type + kNoPalette));
        m_output.copy(m_output.count(), code + 1 + 3 * n, 32 * bits);
    }
    std::copy(colors, colors + n, m_lastPalette);
    m_lastCode = static_cast<unsigned char>(type);
}

void GridEncoder::writeBitmapCode(const Box& box, int type, unsigned char* code)
{
    const int n = kBitmapColors[type];
    const int bits = type - 1;
    const unsigned char* index = box.m_index; // from detectType

    unsigned char* out = code;
    *out++ = static_cast<unsigned char>(type);
    for (int k = 0; k < n; ++k, out += 3)
        pixelToTriple(static_cast<unsigned int>(box.m_colors[k]), out);

    switch (bits) {
    case 1:
#if defined(__SSE2__)
        // Bit j of a byte is pixel j: the sign bits of "index != 0".
        for (int i = 0; i < kBoxPixels; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(index + i));
            const unsigned int set = ~static_cast<unsigned int>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
            *out++ = static_cast<unsigned char>(set);
            *out++ = static_cast<unsigned char>(set >> 8);
        }
#else
        for (int i = 0; i < kBoxPixels; i += 8) {
            unsigned b = 0;
            for (int j = 0; j < 8; ++j)
                b |= unsigned(index[i + j] != 0) << j;
            *out++ = static_cast<unsigned char>(b);
        }
#endif
        break;
    case 2:
        for (int i = 0; i < kBoxPixels; i += 4)
            *out++ = static_cast<unsigned char>(kReverse2[index[i]] | kReverse2[index[i + 1]] << 2
                                                | kReverse2[index[i + 2]] << 4
                                                | kReverse2[index[i + 3]] << 6);
        break;
    case 3:
        // Eight 3-bit fields fill three bytes exactly.
        for (int i = 0; i < kBoxPixels; i += 8) {
            unsigned v = 0;
            for (int j = 0; j < 8; ++j)
                v |= unsigned(kReverse3[index[i + j]]) << (3 * j);
            *out++ = static_cast<unsigned char>(v);
            *out++ = static_cast<unsigned char>(v >> 8);
            *out++ = static_cast<unsigned char>(v >> 16);
        }
        break;
    default:
        for (int i = 0; i < kBoxPixels; i += 2)
            *out++ = static_cast<unsigned char>(kReverse4[index[i]] | kReverse4[index[i + 1]] << 4);
        break;
    }
}

void GridEncoder::encodeBoxJPEG(const Box& box, StoredBox* s)
{
    if (s && s->valid && s->type == 6 && s->raw && s->bytes.count() == kRawCodeBytes) {
        ensureSpace(kRawCodeBytes);
        m_lastCodePos = m_output.count();
        m_output.copy(m_output.count(), s->bytes.data(), kRawCodeBytes);
        m_lastCode = RAW;
        ++m_boxesReused;
        return;
    }
    const Array<unsigned char, int>* data = &m_jpegOutput;
    if (s && s->valid && s->type == 6 && s->bytes.count() > 0) {
        data = &s->bytes;
        ++m_boxesReused;
    } else {
        m_jpeg.encodeRaw(reinterpret_cast<const int*>(box.m_frame.pixels()), kBoxSize, kBoxSize,
                         m_jpegOutput);
    }
    const int length = data->count();
    if (length > 0xFFFF)
        throw std::length_error("JPEG box longer than its length field");
    if (s && s->valid && data == &m_jpegOutput) {
        s->bytes.setCount(0);
        s->bytes.copy(m_jpegOutput);
    }
    ensureSpace(3 + length);
    m_lastCodePos = m_output.count();
    put(JPEG);
    put(static_cast<unsigned char>(length >> 8));
    put(static_cast<unsigned char>(length));
    m_output.copy(m_output.count(), data->data(), length);
    m_lastCode = JPEG;
}

void GridEncoder::newSkipCode(int n)
{
    m_lastCodePos = m_output.count();
    if (n == 1) {
        put(SKIP);
        m_lastCode = SKIP;
    } else if (n < 256) {
        put(SKIP_MUL);
        put(static_cast<unsigned char>(n));
        m_lastCode = SKIP_MUL;
    } else {
        put(SKIP_MUL_EXT);
        put(static_cast<unsigned char>(n >> 8));
        put(static_cast<unsigned char>(n));
        m_lastCode = SKIP_MUL_EXT;
    }
}

void GridEncoder::encodeSkip(int n)
{
    if (n <= 0)
        return;
    ensureSpace(3 * (n / 0xFFFF + 2));
    unsigned char* code = m_output.data() + m_lastCodePos;
    switch (m_lastCode) {
    case SKIP_MUL_EXT: {
        const int sum = ((code[1] << 8) | code[2]) + n;
        if (sum < 0x10000) {
            code[1] = static_cast<unsigned char>(sum >> 8);
            code[2] = static_cast<unsigned char>(sum);
            return;
        }
        break;
    }
    case SKIP_MUL: {
        const int sum = code[1] + n;
        if (sum < 0x100) {
            code[1] = static_cast<unsigned char>(sum);
            return;
        }
        if (sum < 0x10000) { // one byte longer: the count takes two bytes
            code[0] = SKIP_MUL_EXT;
            code[1] = static_cast<unsigned char>(sum >> 8);
            put(static_cast<unsigned char>(sum));
            m_lastCode = SKIP_MUL_EXT;
            return;
        }
        break;
    }
    case SKIP: {
        const int sum = n + 1;
        if (sum < 0x100) {
            code[0] = SKIP_MUL;
            put(static_cast<unsigned char>(sum));
            m_lastCode = SKIP_MUL;
            return;
        }
        if (sum < 0x10000) {
            code[0] = SKIP_MUL_EXT;
            put(static_cast<unsigned char>(sum >> 8));
            put(static_cast<unsigned char>(sum));
            m_lastCode = SKIP_MUL_EXT;
            return;
        }
        break;
    }
    default:
        break;
    }
    // A new code; a count beyond 16 bits (screens of more than 65535 boxes)
    // takes several.
    while (n > 0) {
        const int part = std::min(n, 0xFFFF);
        newSkipCode(part);
        n -= part;
    }
}

void GridEncoder::encodeBox1ColorExt(const Box& box, bool withPalette)
{
    encodeBox1Color(box.m_colors[0], withPalette);
}

void GridEncoder::encodeBox1Color(int color, bool withPalette)
{
    ensureSpace(5);
    if (withPalette) {
        m_lastCodePos = m_output.count();
        put(COLOR_1);
        putColor(color);
        m_lastCode = COLOR_1;
        m_lastPalette[0] = color;
        return;
    }

    // The colour is the decoder's palette entry 0: extend a run of it when the
    // previous code is one.
    unsigned char* code = m_output.data() + m_lastCodePos;
    switch (m_lastCode) {
    case COLOR_1:
        code[0] = COLOR_MUL;
        put(2);
        m_lastCode = COLOR_MUL;
        return;
    case COLOR_1_NOPAL:
        code[0] = COLOR_MUL_NOPAL;
        put(2);
        m_lastCode = COLOR_MUL_NOPAL;
        return;
    case COLOR_MUL:
    case COLOR_MUL_NOPAL: {
        unsigned char* countByte = code + (m_lastCode == COLOR_MUL ? 4 : 1);
        if (*countByte < 255) {
            ++*countByte;
            return;
        }
        // 256 boxes: the count becomes two bytes.
        code[0] = m_lastCode == COLOR_MUL ? COLOR_MUL_EXT : COLOR_MUL_EXT_NOPAL;
        countByte[0] = 1;
        put(0);
        m_lastCode = code[0];
        return;
    }
    case COLOR_MUL_EXT:
    case COLOR_MUL_EXT_NOPAL: {
        unsigned char* count = code + (m_lastCode == COLOR_MUL_EXT ? 4 : 1);
        const int next = ((count[0] << 8) | count[1]) + 1;
        if (next < 0xFFFF) {
            count[0] = static_cast<unsigned char>(next >> 8);
            count[1] = static_cast<unsigned char>(next);
            return;
        }
        break;
    }
    default:
        break;
    }
    m_lastCodePos = m_output.count();
    put(COLOR_1_NOPAL);
    m_lastCode = COLOR_1_NOPAL;
}
