// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

class QIODevice;

// The samples of one audio unit, taken a slice at a time: a stored payload
// is read from the recording as it is needed, a compressed one is inflated
// as it is needed. So a unit of any length, eight seconds or a compressed
// one that inflates to tens of megabytes, costs the player thread only what
// it plays next, never the whole unit at once.
//
// The payload is untrusted: what a compressed one inflates to is capped at
// the unzip limit of the one-shot path (Zip::maxUnzippedSize()); a stream
// that is not zlib, is cut short or passes the cap ends the unit there (the
// samples before it play; the rest is logged and passed over). A byte count
// that is not whole frames loses the broken last frame. The recording is
// only read, at the offsets given.
//
// Player thread (whoever owns the AudioFeed that holds it).
class SampleSlicer
{
public:
    SampleSlicer();
    ~SampleSlicer();
    SampleSlicer(const SampleSlicer&) = delete;
    SampleSlicer& operator=(const SampleSlicer&) = delete;

    // The payload of `stored` bytes at `offset` of the recording (a zlib
    // stream when `compressed`), frames of `channels` channels (1..32).
    void start(qint64 offset, quint64 stored, bool compressed, int channels);
    // Appends up to `maxFrames` frames of interleaved samples to `out`;
    // returns how many. 0 once the unit is used up or failed: done() then.
    int next(QIODevice& file, std::vector<short>& out, int maxFrames);
    bool done() const { return m_done; }
    void reset();

private:
    // Raw payload bytes (stored or inflated) into `to`, at most `room`.
    qint64 readRaw(QIODevice& file, unsigned char* to, qint64 room);
    void fail(const char* what);

    struct Inflate;
    std::unique_ptr<Inflate> m_inflate;   // the zlib stream of a compressed unit
    qint64 m_offset = 0;                  // next stored byte to read
    quint64 m_storedLeft = 0;
    quint64 m_inflated = 0;
    int m_channels = 1;
    bool m_compressed = false;
    bool m_done = true;
    std::vector<unsigned char> m_stored;  // stored bytes read, not yet inflated
    size_t m_storedPos = 0;
    std::vector<unsigned char> m_bytes;   // bytes of one slice
    size_t m_partial = 0;                 // bytes of a frame carried to the next slice
};
