// SPDX-License-Identifier: GPL-3.0-or-later
#include "ActivityMap.h"

#include <algorithm>
#include <limits>

void ActivityMap::clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seconds.clear();
        m_seconds.shrink_to_fit();
        m_bins.clear();
        m_bins.shrink_to_fit();
        m_scanned = 0;
        m_end = 0;
        m_complete = false;
    }
    touch();
}

ActivityMap::Second* ActivityMap::secondAt(quint64 ms)
{
    const quint64 s = ms / 1000;
    if (s >= quint64(kMaxSeconds))
        return nullptr;
    if (s >= m_seconds.size())
        m_seconds.resize(s + 1);
    return &m_seconds[s];
}

void ActivityMap::markActive(quint64 ms)
{
    const quint64 b = ms / kBinMs;
    if (b >= kMaxBins)
        return;
    if (b >= m_bins.size())
        m_bins.resize(b + 1);
    Bin& bin = m_bins[b];
    const quint8 offset = quint8(ms % kBinMs);
    if (bin.first == kNone || offset < bin.first)
        bin.first = offset;
    if (bin.last == kNone || offset > bin.last)
        bin.last = offset;
}

void ActivityMap::addScreen(quint64 ms, quint64 storedBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Second* s = secondAt(ms);
    if (!s || storedBytes <= kStillScreenBytes)
        return;
    const quint64 sum = quint64(s->screenBytes) + storedBytes;
    s->screenBytes = quint32(std::min<quint64>(sum, std::numeric_limits<quint32>::max()));
    markActive(ms);
}

void ActivityMap::addPointerMove(quint64 ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Second* s = secondAt(ms);
    if (!s)
        return;
    s->pointerMoved = true;
    markActive(ms);
}

void ActivityMap::addSoundWindow(quint64 bin, int db)
{
    if (bin >= kMaxBins)
        return;
    const quint64 start = bin * kBinMs;
    std::lock_guard<std::mutex> lock(m_mutex);
    Second* s = secondAt(start);
    if (!s)
        return;
    db = std::clamp(db, kNoSound + 1, 0);
    s->soundDb = qint8(std::max<int>(s->soundDb, db));
    if (db > kQuietDb) {
        // The whole window sounds.
        markActive(start);
        markActive(start + kBinMs - 1);
    }
}

void ActivityMap::addDamage(quint64 fromMs, quint64 toMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const quint64 last = std::min<quint64>(std::max(fromMs, toMs) / 1000, kMaxSeconds - 1);
    for (quint64 s = fromMs / 1000; s <= last; ++s)
        secondAt(s * 1000)->damaged = true;
}

void ActivityMap::setScanned(quint64 ms)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_scanned = std::max(m_scanned, ms);
    }
    touch();
}

void ActivityMap::setComplete(quint64 endMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_complete = true;
        m_end = endMs;
        m_scanned = std::max(m_scanned, endMs);
    }
    touch();
}

bool ActivityMap::isComplete() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_complete;
}

quint64 ActivityMap::scannedMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scanned;
}

int ActivityMap::secondCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_seconds.size());
}

std::vector<ActivityMap::Second> ActivityMap::seconds(int first, int count) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Second> out;
    if (first < 0 || count <= 0 || size_t(first) >= m_seconds.size())
        return out;
    const size_t end = std::min(m_seconds.size(), size_t(first) + size_t(count));
    out.assign(m_seconds.begin() + first, m_seconds.begin() + long(end));
    return out;
}

bool ActivityMap::lastActivity(quint64 ms, quint64& at) const
{
    quint64 b = ms / kBinMs;
    const quint8 offset = quint8(ms % kBinMs);
    if (b < m_bins.size()) {
        const Bin& bin = m_bins[b];
        // Within one bin only the first and the last moment are kept; a
        // moment between them counts as active (a stretch inside one bin is
        // far below kIdleMs anyway).
        if (bin.first != kNone && bin.first <= offset) {
            at = b * kBinMs + std::min(bin.last, offset);
            return true;
        }
    } else {
        b = m_bins.size();
    }
    while (b-- > 0) {
        if (m_bins[b].last != kNone) {
            at = b * kBinMs + m_bins[b].last;
            return true;
        }
    }
    return false;
}

bool ActivityMap::nextActivity(quint64 ms, quint64& at) const
{
    quint64 b = ms / kBinMs;
    const quint8 offset = quint8(ms % kBinMs);
    if (b >= m_bins.size())
        return false;
    const Bin& bin = m_bins[b];
    if (bin.last != kNone && bin.last > offset) {
        at = bin.first > offset ? b * kBinMs + bin.first : ms + 1;
        return true;
    }
    for (++b; b < m_bins.size(); ++b) {
        if (m_bins[b].first != kNone) {
            at = b * kBinMs + m_bins[b].first;
            return true;
        }
    }
    return false;
}

bool ActivityMap::idleStretchAt(quint64 ms, Stretch& out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    quint64 from = 0;
    if (lastActivity(ms, from) && from == ms)
        return false;
    quint64 to = 0;
    if (!nextActivity(ms, to)) {
        // Quiet to the end of the recording.
        if (!m_complete || m_end <= ms)
            return false;
        to = m_end;
    } else if (to > m_scanned && !m_complete) {
        return false;
    }
    if (to - from <= kIdleMs)
        return false;
    out.from = from;
    out.to = to;
    return true;
}

std::vector<ActivityMap::Stretch> ActivityMap::idleStretches() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Stretch> out;
    quint64 last = 0;
    for (size_t b = 0; b < m_bins.size(); ++b) {
        const Bin& bin = m_bins[b];
        if (bin.first == kNone)
            continue;
        const quint64 first = b * kBinMs + bin.first;
        if (first - last > kIdleMs)
            out.push_back({last, first});
        last = b * kBinMs + bin.last;
    }
    if (m_complete && m_end > last && m_end - last > kIdleMs)
        out.push_back({last, m_end});
    return out;
}
