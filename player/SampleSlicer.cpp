// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleSlicer.h"

#include <QIODevice>

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "Log.h"
#include "Zip.h"

namespace {

// Stored bytes read from the recording at a time.
constexpr qint64 kStoredChunk = 64 * 1024;

} // namespace

struct SampleSlicer::Inflate
{
    z_stream z{};
    bool open = false;
    bool ended = false;
    ~Inflate()
    {
        if (open)
            inflateEnd(&z);
    }
};

SampleSlicer::SampleSlicer() = default;
SampleSlicer::~SampleSlicer() = default;

void SampleSlicer::reset()
{
    m_inflate.reset();
    m_stored.clear();
    m_storedPos = 0;
    m_partial = 0;
    m_storedLeft = 0;
    m_inflated = 0;
    m_done = true;
}

void SampleSlicer::start(qint64 offset, quint64 stored, bool compressed, int channels)
{
    reset();
    m_offset = offset;
    m_storedLeft = stored;
    m_compressed = compressed;
    m_channels = channels;
    m_done = stored == 0 || channels < 1 || channels > 32 || offset < 0;
    if (m_done || !compressed)
        return;
    m_inflate = std::make_unique<Inflate>();
    if (inflateInit(&m_inflate->z) != Z_OK) {
        fail("the inflater cannot start");
        return;
    }
    m_inflate->open = true;
}

void SampleSlicer::fail(const char* what)
{
    logDebug1("Audio unit passed over from here: %1", what);
    m_storedLeft = 0;
    if (m_inflate)
        m_inflate->ended = true;
    else
        m_compressed = false;
}

qint64 SampleSlicer::readRaw(QIODevice& file, unsigned char* to, qint64 room)
{
    if (!m_compressed) {
        const qint64 n = std::min<qint64>(room, qint64(m_storedLeft));
        if (n <= 0)
            return 0;
        const qint64 got = file.seek(m_offset) ? file.read(reinterpret_cast<char*>(to), n) : -1;
        if (got <= 0) {
            fail("the recording cannot be read");
            return 0;
        }
        m_offset += got;
        m_storedLeft -= quint64(got);
        return got;
    }

    Inflate& f = *m_inflate;
    const quint64 cap = quint64(Zip::maxUnzippedSize());
    qint64 produced = 0;
    while (produced < room && !f.ended) {
        if (m_storedPos == m_stored.size() && m_storedLeft > 0) {
            const qint64 n = std::min<qint64>(kStoredChunk, qint64(m_storedLeft));
            m_stored.resize(size_t(n));
            const qint64 got =
                file.seek(m_offset) ? file.read(reinterpret_cast<char*>(m_stored.data()), n) : -1;
            if (got <= 0) {
                fail("the recording cannot be read");
                break;
            }
            m_stored.resize(size_t(got));
            m_storedPos = 0;
            m_offset += got;
            m_storedLeft -= quint64(got);
        }
        if (m_inflated >= cap) {
            fail("it inflates past the limit");
            break;
        }
        const qint64 allowed = std::min<qint64>(room - produced, qint64(cap - m_inflated));
        f.z.next_in = m_stored.data() + m_storedPos;
        f.z.avail_in = uInt(m_stored.size() - m_storedPos);
        f.z.next_out = to + produced;
        f.z.avail_out = uInt(std::min<qint64>(allowed, 1 << 30));
        const uInt inBefore = f.z.avail_in, outBefore = f.z.avail_out;
        const int r = inflate(&f.z, Z_NO_FLUSH);
        m_storedPos += inBefore - f.z.avail_in;
        const qint64 out = qint64(outBefore - f.z.avail_out);
        produced += out;
        m_inflated += quint64(out);
        if (r == Z_STREAM_END) {
            f.ended = true;
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            fail("not a zlib stream");
        } else if (inBefore == f.z.avail_in && out == 0 && m_storedLeft == 0
                   && m_storedPos == m_stored.size()) {
            fail("the zlib stream is cut short");
        }
    }
    return produced;
}

int SampleSlicer::next(QIODevice& file, std::vector<short>& out, int maxFrames)
{
    if (m_done || maxFrames <= 0)
        return 0;
    const size_t frameBytes = size_t(2 * m_channels);
    const size_t want = size_t(maxFrames) * frameBytes;
    if (m_bytes.size() < want + frameBytes)
        m_bytes.resize(want + frameBytes);
    size_t have = m_partial;
    if (have < want)
        have += size_t(readRaw(file, m_bytes.data() + have, qint64(want - have)));
    const size_t frames = have / frameBytes;
    const size_t whole = frames * frameBytes;
    if (frames > 0) {
        const size_t at = out.size();
        out.resize(at + frames * size_t(m_channels));
        std::memcpy(out.data() + at, m_bytes.data(), whole);
    }
    m_partial = have - whole;
    if (m_partial > 0)
        std::memmove(m_bytes.data(), m_bytes.data() + whole, m_partial);
    // readRaw fills what it is asked for unless the payload has ended (or
    // failed), so no whole frame means no more frames; a broken last frame
    // is dropped.
    if (frames == 0)
        m_done = true;
    return int(frames);
}
