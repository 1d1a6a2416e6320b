// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <vector>

// What happens when in a recording: per second, how many bytes of screen
// updates arrived, how loud the sound was and whether the pointer moved or
// the file is damaged there; and, per 100 ms, where the first and the last
// moment of activity (a screen change, a pointer move, sound) lie, from
// which the quiet stretches follow to the millisecond.
//
// Filled by ActivityScan on the scanner's thread while a recording is
// walked, and read meanwhile by the window (the activity strip, GUI thread)
// and the player thread (skipping idle stretches). Every member is guarded
// by one mutex; revision() (atomic) changes with every batch of news, so a
// reader can tell cheaply whether to look again.
//
// Bounded: nothing is kept past kMaxSeconds of recording time (a time
// field read from a file cannot make it allocate more); later units are
// left out of the map.
class ActivityMap
{
public:
    static constexpr int kMaxSeconds = 48 * 3600;
    static constexpr int kBinMs = 100;
    // A stretch without activity longer than this is idle.
    static constexpr quint64 kIdleMs = 3000;
    // Sound at or below this level over a 100 ms window is not heard.
    static constexpr int kQuietDb = -50;
    // A screen update of at most this many stored bytes changes nothing a
    // viewer would notice: it is the end of an unchanged frame (a screen
    // header and a "skip every box" code).
    static constexpr quint64 kStillScreenBytes = 32;
    // soundDb of a second without sound data.
    static constexpr int kNoSound = -128;

    struct Second
    {
        quint32 screenBytes = 0; // stored bytes of screen changes (saturating)
        qint8 soundDb = kNoSound; // the loudest 100 ms window, dBFS
        bool pointerMoved = false;
        bool damaged = false;
    };

    struct Stretch
    {
        quint64 from = 0; // the last activity before it (or 0)
        quint64 to = 0;   // the next activity (or the recording's end)
        quint64 length() const { return to - from; }
    };

    // Forgets everything (a new recording opens). Any thread.
    void clear();

    // ---- Writer (the scan's thread) ----
    // A screen update of `storedBytes` at `ms`; only a change (larger than
    // kStillScreenBytes) counts.
    void addScreen(quint64 ms, quint64 storedBytes);
    void addPointerMove(quint64 ms);
    // The RMS level of the 100 ms window `bin` (ms / kBinMs) in dBFS; heard
    // when above kQuietDb.
    void addSoundWindow(quint64 bin, int db);
    void addDamage(quint64 fromMs, quint64 toMs);
    // The scan has read every unit up to `ms`.
    void setScanned(quint64 ms);
    // The scan ended; the recording's last unit lies at `endMs`.
    void setComplete(quint64 endMs);

    // ---- Readers (any thread) ----
    int revision() const { return m_revision.load(); }
    bool isComplete() const;
    quint64 scannedMs() const;
    // The seconds [first, first + count) that are known; fewer at the end.
    std::vector<Second> seconds(int first, int count) const;
    int secondCount() const;

    // The idle stretch (longer than kIdleMs) that `ms` lies in, from < ms <
    // to, once the scan has gone past its end; false when `ms` lies in
    // none.
    bool idleStretchAt(quint64 ms, Stretch& out) const;
    // Every idle stretch known so far, in order.
    std::vector<Stretch> idleStretches() const;

private:
    // Per 100 ms bin: the offsets (ms) of its first and last activity, or
    // kNone.
    struct Bin
    {
        quint8 first = kNone;
        quint8 last = kNone;
    };
    static constexpr quint8 kNone = 0xFF;
    static constexpr quint64 kMaxBins = quint64(kMaxSeconds) * (1000 / kBinMs);

    void markActive(quint64 ms);
    Second* secondAt(quint64 ms);
    // The last activity at or before `ms`; false when there is none.
    bool lastActivity(quint64 ms, quint64& at) const;
    // The first activity after `ms`; false when there is none.
    bool nextActivity(quint64 ms, quint64& at) const;
    void touch() { m_revision.fetch_add(1); }

    mutable std::mutex m_mutex;
    std::vector<Second> m_seconds;
    std::vector<Bin> m_bins;
    quint64 m_scanned = 0;
    quint64 m_end = 0;
    bool m_complete = false;
    std::atomic<int> m_revision{0};
};
