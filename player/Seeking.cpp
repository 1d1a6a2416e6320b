// SPDX-License-Identifier: GPL-3.0-or-later
#include "Seeking.h"

#include <cstring>

#include "GridDecoder.h"
#include "IPlayerView.h"
#include "IndexFile.h"
#include "Log.h"
#include "Playhead.h"
#include "RecordReader.h"
#include "UnitDispatch.h"

namespace {

QByteArray num(long long v)
{
    return QByteArray::number(v);
}

QByteArray unum(quint64 v)
{
    return QByteArray::number(static_cast<qulonglong>(v));
}

// The grid decoder's parameter code: a frame's box data starts with it.
constexpr unsigned char kParameterCode = 201;

} // namespace

int Seeking::chooseEntry(const Array<IndexEntryPoint, int>& entries, long long target)
{
    const int count = entries.count();
    if (count <= 0 || target < 0 || static_cast<uint64_t>(target) < entries[0].m_time)
        return RESTART;
    const uint64_t t = static_cast<uint64_t>(target);
    if (entries[count - 1].m_time < t)
        return count - 1;

    int lo = 0;
    int hi = count - 1;
    int candidate = 0;
    while (hi - lo >= 2) {
        const int mid = lo + (hi - lo) / 2;
        candidate = mid;
        if (t > entries[mid].m_time)
            lo = mid;
        else if (t < entries[mid].m_time)
            hi = mid;
        else
            lo = hi = mid;
    }
    if (entries[candidate].m_time > t) {
        logDebug("Backward correction.");
        logDebug1("Target time: %1", num(target).constData());
        if (candidate == 0)
            return RESTART;
        --candidate;
        logDebug1("Index entry: %1", unum(entries[candidate].m_time).constData());
    }
    return candidate;
}

bool Seeking::resumesAtFrameStart(RecordReader& recording, const IndexEntryPoint& entry)
{
    QIODevice* device = recording.device();
    if (!device || entry.m_filePos > static_cast<quint64>(device->size())
        || !recording.seekUnit(static_cast<qint64>(entry.m_filePos), entry.m_time))
        return false;
    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed;
    try {
        // The entry's own unit is in the key frame.
        if (recording.readUnitHeader(unit) != RecordReader::Unit)
            return false;
        recording.skipPayload(unit);
        for (;;) {
            const RecordReader::Result r = recording.readUnitHeader(unit);
            if (r == RecordReader::Damaged)
                continue; // passed over, as playback passes over it
            if (r != RecordReader::Unit)
                return true; // the recording ends: nothing is painted wrong
            if (unit.kind() != RecordUnitHeader::KIND_SCREEN) {
                recording.skipPayload(unit);
                continue;
            }
            const RecordReader::Result p = recording.readPayload(unit, payload, packed);
            if (p == RecordReader::Damaged)
                continue;
            if (p != RecordReader::Unit)
                return true;
            const int length = payload.count();
            const unsigned char code = length > 0 ? payload[0] : 0;
            if (code == UnitDispatch::SCREEN_FULL && length >= 2 + 5)
                return true;
            if (code >= UnitDispatch::SCREEN_UPDATE && code <= UnitDispatch::SCREEN_END
                && length > 2)
                return payload[2] == kParameterCode;
            // Pauses, empty updates and unknown codes leave the palette alone.
        }
    } catch (const std::exception&) {
        return false;
    } catch (...) {
        return false;
    }
}

int Seeking::chooseRestorableEntry(const Array<IndexEntryPoint, int>& entries, long long target,
                                   RecordReader& recording)
{
    for (int e = chooseEntry(entries, target); e != RESTART; --e) {
        if (resumesAtFrameStart(recording, entries[e]))
            return e;
        logDebug1("Key frame in the middle of a frame passed over: %1",
                  unum(entries[e].m_time).constData());
    }
    return RESTART;
}

bool Seeking::restoreKeyFrame(QIODevice& index, const IndexEntryPoint& entry, unsigned char flags,
                              GridDecoder& decoder, IPlayerView* view,
                              Array<unsigned char, int>& packed,
                              Array<unsigned char, int>& keyFrame)
{
    IndexFile::KeyFrame frame;
    if (!IndexFile::readKeyFrame(index, entry, flags, packed, keyFrame, frame))
        return false;

    decoder.decodeScreen(frame.prefix, IndexEntryPoint::PREFIX_SIZE);
    if (view)
        view->clearScreen();

    if (frame.grid) {
        decoder.decode(frame.data, frame.length);
        return true;
    }
    if (!view)
        return true;
    int width = 0, height = 0;
    view->getImageSize(width, height);
    if (width != frame.width || height != frame.height)
        return false;
    // The record's bytes carry no alignment guarantee for 32-bit reads.
    Array<unsigned int, int> pixels;
    pixels.setCount(frame.length / 4);
    if (frame.length > 0)
        std::memcpy(pixels.data(), frame.data, static_cast<size_t>(frame.length));
    view->setScreenPixels(pixels.data(), width, height);
    return true;
}

// ---------------------------------------------------------------------------
// One seek

Seeking::Seeking(Playhead& playhead) : m_playhead(playhead) {}

void Seeking::setIndex(QIODevice* device, const Array<IndexEntryPoint, int>* entries,
                       unsigned char flags)
{
    m_indexDevice = device;
    m_entries = entries;
    m_flags = flags;
}

bool Seeking::restoreBefore(long long target)
{
    if (!m_indexDevice || !m_entries)
        return false;
    const int e = chooseRestorableEntry(*m_entries, target, m_playhead.reader());
    if (e == RESTART)
        return false;
    const IndexEntryPoint& entry = (*m_entries)[e];
    if (!m_playhead.seekToUnit(static_cast<qint64>(entry.m_filePos), entry.m_time)
        || !restoreKeyFrame(*m_indexDevice, entry, m_flags, m_playhead.decoder(),
                            m_playhead.view(), m_packed, m_keyFrame))
        return false;
    m_playhead.markScreenStarted();
    logDebug1("Key frame restored: %1", unum(entry.m_time).constData());
    return true;
}

bool Seeking::applyBefore(long long target)
{
    const RecordUnitHeader& unit = m_playhead.unit();
    if (!unit.isValid() || static_cast<long long>(unit.m_time) >= target)
        return false;
    if (unit.kind() == RecordUnitHeader::KIND_SCREEN)
        m_playhead.applyScreenUnit();
    return true;
}

Seeking::Result Seeking::seek(long long target, bool forward)
{
    Result r;
    r.start = forward ? FromCurrent : restoreBefore(target) ? FromKeyFrame : FromStart;
    bool haveUnit = false;
    bool applied = false; // the current unit is on the screen
    if (r.start == FromCurrent && m_playhead.m_pending) {
        // A unit read but not yet dispatched: it is the first of the catch-up.
        haveUnit = true;
        applied = applyBefore(target);
    } else {
        if (r.start == FromStart) {
            logDebug("Seek restarts at the beginning");
            m_playhead.restart();
        }
        haveUnit = m_playhead.readUnit();
        // After a key frame the first unit is the one it already contains.
        applied = haveUnit && (r.start == FromKeyFrame || applyBefore(target));
    }
    while (haveUnit && applied && !m_playhead.atEnd()) {
        const quint64 last = m_playhead.unitTime();
        r.cancelled = r.cancelled || (m_cancel && m_cancel->load());
        if (m_interruption)
            m_interruption();
        haveUnit = m_playhead.readUnit();
        // A cancelled catch-up stops at the next moment, not amid the units
        // of one (a frame sent in parts has one time).
        applied = haveUnit && !(r.cancelled && m_playhead.unitTime() > last)
            && applyBefore(target);
    }
    m_playhead.m_pending = haveUnit && !applied;
    r.unitPending = m_playhead.m_pending;
    r.resumeTime = m_playhead.unitTime();

    logDebug1("Seek %1", r.cancelled ? "canceled by user" : "finished");
    logDebug1("Target time : %1", num(target).constData());
    logDebug1("Current time: %1", unum(r.resumeTime).constData());
    return r;
}
