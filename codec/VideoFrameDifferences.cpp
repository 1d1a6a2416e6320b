// SPDX-License-Identifier: GPL-3.0-or-later
// The difference-run codec: runs of changed pixels between two frames, their
// byte form and their application to a frame.
//
// Run list: start, count, count pixels, start, count, ... Byte form per run:
// start (3 bytes) and count (2 bytes) big-endian, then count x R, G, B.

#include "VideoFrame.h"

#include <algorithm>

#include "ByteReader.h"
#include "ImagePixels.h"

namespace {

constexpr int kMaxByteCount = 0xFFFF;

// Array grows by a fixed step; widening the step as it fills keeps long run
// lists from being copied on every append.
template <typename T>
void appendGrowing(Array<T, int>& array, T value)
{
    if (array.count() == array.capacity())
        array.setGrowBy(std::max(1024, array.count()));
    array.append(value);
}

bool channelsDiffer(unsigned int a, unsigned int b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if ((d < 0 ? -d : d) > tolerance)
            return true;
    }
    return false;
}

// Checks the shape of a run list: every header complete, counts of 1 to
// kMaxByteCount, pixels present, and (when pixelLimit >= 0) every run inside
// an image of pixelLimit pixels.
bool validRunList(const Array<unsigned int, int>& runs, long long pixelLimit)
{
    long long pos = 0;
    const long long total = runs.count();
    while (pos < total) {
        if (pos + 2 > total)
            return false;
        const long long start = runs[static_cast<int>(pos)];
        const long long count = runs[static_cast<int>(pos + 1)];
        if (count < 1 || count > kMaxByteCount || pos + 2 + count > total)
            return false;
        if (pixelLimit >= 0 && start + count > pixelLimit)
            return false;
        pos += 2 + count;
    }
    return true;
}

// Checks a run list against the image at buffer, then hands every run to
// apply(its first pixel in buffer, its pixels, count).
template <typename Apply>
bool forEachRun(unsigned int* buffer, int width, int height, const Array<unsigned int, int>& runs,
                Apply apply)
{
    const int n = imaging::pixelCount(buffer, width, height);
    if (n < 0 || !validRunList(runs, n))
        return false;
    for (int pos = 0; pos < runs.count();) {
        const int count = static_cast<int>(runs[pos + 1]);
        apply(buffer + runs[pos], runs.data() + pos + 2, count);
        pos += 2 + count;
    }
    return true;
}

// One run header of the byte form: start (3 bytes), count (2 bytes).
bool readRunHeader(ByteReader& in, unsigned& start, unsigned& count)
{
    unsigned high = 0, low = 0;
    if (!in.readU8(high) || !in.readU16BE(low) || !in.readU16BE(count))
        return false;
    start = (high << 16) | low;
    return true;
}

} // namespace

void VideoFrame::calcDifferences(const unsigned int* reference, const unsigned int* frame,
                                 int width, int height, Array<unsigned int, int>& runs,
                                 int tolerance)
{
    runs.setCount(0);
    const int n = imaging::pixelCount(frame, width, height);
    if (!reference || n < 0)
        return;
    int header = -1; // index of the open run's start entry in runs
    int runStart = 0, runEnd = 0;
    for (int i = 0; i < n; ++i) {
        if (!channelsDiffer(reference[i], frame[i], tolerance))
            continue;
        // Join when at most two unchanged pixels lie between, as long as the
        // run stays within its limit; the bridged pixels travel along.
        if (header >= 0 && i - runEnd < 3 && i + 1 - runStart <= MAX_DIFFERENCE_RUN) {
            for (int k = runEnd; k <= i; ++k)
                appendGrowing(runs, frame[k]);
            runEnd = i + 1;
            runs[header + 1] = static_cast<unsigned int>(runEnd - runStart);
            continue;
        }
        header = runs.count();
        runStart = i;
        runEnd = i + 1;
        appendGrowing(runs, static_cast<unsigned int>(i));
        appendGrowing(runs, 1u);
        appendGrowing(runs, frame[i]);
    }
}

void VideoFrame::calcDifferencesStrict(const unsigned int* reference, const unsigned int* frame,
                                       int width, int height, Array<unsigned int, int>& runs)
{
    calcDifferences(reference, frame, width, height, runs, 0);
}

bool VideoFrame::compactDifferences(const Array<unsigned int, int>& runs,
                                    Array<unsigned char, int>& bytes)
{
    bytes.setCount(0);
    if (!validRunList(runs, -1))
        return false;
    // Size first, so the output is allocated once and a start that does not
    // fit in 3 bytes is refused before anything is written.
    long long size = 0;
    for (int pos = 0; pos < runs.count(); pos += 2 + static_cast<int>(runs[pos + 1])) {
        if (runs[pos] > static_cast<unsigned int>(MAX_DIFFERENCE_START))
            return false;
        size += 5 + 3LL * runs[pos + 1];
    }
    if (size > INT_MAX)
        return false;
    bytes.setCount(static_cast<int>(size));
    unsigned char* out = bytes.data();
    for (int pos = 0; pos < runs.count();) {
        const unsigned int start = runs[pos];
        const int count = static_cast<int>(runs[pos + 1]);
        *out++ = static_cast<unsigned char>(start >> 16);
        *out++ = static_cast<unsigned char>(start >> 8);
        *out++ = static_cast<unsigned char>(start);
        *out++ = static_cast<unsigned char>(count >> 8);
        *out++ = static_cast<unsigned char>(count);
        for (int k = 0; k < count; ++k) {
            const unsigned int p = runs[pos + 2 + k];
            *out++ = static_cast<unsigned char>(p >> 16);
            *out++ = static_cast<unsigned char>(p >> 8);
            *out++ = static_cast<unsigned char>(p);
        }
        pos += 2 + count;
    }
    return true;
}

bool VideoFrame::uncompactDifferences(const unsigned char* data, int length, int width,
                                      int height, Array<unsigned int, int>& runs)
{
    runs.setCount(0);
    const int pixels = imaging::sizeCount(width, height);
    if (pixels < 0 || length < 0 || (!data && length > 0))
        return false;
    // Pass 1: check every run against the input and the frame and count the
    // entries; nothing is allocated from an unchecked count.
    ByteReader check(data, length);
    long long entries = 0;
    while (!check.atEnd()) {
        unsigned start = 0, count = 0;
        if (!readRunHeader(check, start, count) || count == 0
            || static_cast<long long>(start) + count > pixels
            || !check.skip(3 * static_cast<int>(count)))
            return false;
        entries += 2 + count;
    }
    // entries <= length, since every entry stands for at least 2.5 bytes.
    runs.setCount(static_cast<int>(entries));
    ByteReader in(data, length);
    int pos = 0;
    while (!in.atEnd()) {
        unsigned start = 0, count = 0;
        readRunHeader(in, start, count);
        runs[pos++] = start;
        runs[pos++] = count;
        const unsigned char* p = nullptr;
        in.take(3 * static_cast<int>(count), p);
        for (unsigned k = 0; k < count; ++k, p += 3)
            runs[pos++] = imaging::rgb(p[0], p[1], p[2]);
    }
    return true;
}

bool VideoFrame::mergeDifferences(unsigned int* buffer, int width, int height,
                                  const Array<unsigned int, int>& runs)
{
    return forEachRun(buffer, width, height, runs,
                      [](unsigned int* out, const unsigned int* pixels, int count) {
                          std::copy(pixels, pixels + count, out);
                      });
}

bool VideoFrame::lightenDifferences(unsigned int* buffer, int width, int height,
                                    const Array<unsigned int, int>& runs, unsigned int colour)
{
    return forEachRun(buffer, width, height, runs,
                      [colour](unsigned int* out, const unsigned int*, int count) {
                          for (int k = 0; k < count; ++k)
                              out[k] |= colour;
                      });
}

void VideoFrame::calcDifferences(const VideoFrame& reference, Array<unsigned int, int>& runs,
                                 int tolerance) const
{
    if (reference.width() != m_width || reference.height() != m_height) {
        runs.setCount(0);
        return;
    }
    calcDifferences(reference.pixels(), m_pixels.data(), m_width, m_height, runs, tolerance);
}

bool VideoFrame::mergeDifferences(const Array<unsigned int, int>& runs)
{
    return mergeDifferences(m_pixels.data(), m_width, m_height, runs);
}

bool VideoFrame::lightenDifferences(const Array<unsigned int, int>& runs, unsigned int colour)
{
    return lightenDifferences(m_pixels.data(), m_width, m_height, runs, colour);
}
