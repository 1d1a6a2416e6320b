// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The speed-scaled clock of the play loop: which media time (ms from the
// start of the recording) stands at a given wall time, and how long to wait
// until a unit's time comes. Pure arithmetic on the times it is given; it
// reads no clock itself, so every case can be worked out by hand. Owned by
// the thread that plays (the player thread; the GUI thread while it starts
// playback with the player idle).
//
// Speed s: s > 0 runs s times faster than real time, s < 0 runs |s| times
// slower, 0 and 1 run at real time. The clock keeps a base, the wall time at
// which media time 0 would have stood at the current speed:
//
//     media time at `now` = scale(now - base, speed)
//
// A wall time before the base counts as the base.
//
// While sound plays, the play loop follows what the listener hears: follow()
// puts the media time heard at the wall time it was heard, and the clock runs
// on from there at the wall clock's pace until the next report, so the
// picture keeps time with the sound (a device clock that runs a little fast
// or slow, a device that starts late, a pause the device took). Without
// reports (no sound, or a speed without sound) it is the wall clock alone.
class PlaybackClock
{
public:
    // Media time that passes in `wallMs` of wall time at `speed` (integer
    // division for slower speeds).
    static quint64 scale(quint64 wallMs, int speed);
    // Wall time in which `mediaMs` of media time pass at `speed` (integer
    // division for faster speeds).
    static quint64 unscale(quint64 mediaMs, int speed);

    // Media time `mediaMs` stands at wall time `now`, running at `speed`.
    void start(quint64 now, quint64 mediaMs, int speed);
    // Runs at `speed` from wall time `now` on; media time goes on without a
    // jump.
    void changeSpeed(quint64 now, int speed);
    // `wallMs` of wall time pass without media time (a pause).
    void hold(quint64 wallMs) { m_base += static_cast<qint64>(wallMs); }
    // Media time `mediaMs` is being heard at wall time `now`: the clock
    // follows the sound from here on, at its speed.
    void follow(quint64 now, quint64 mediaMs) { start(now, mediaMs, m_speed); }

    quint64 mediaTime(quint64 now) const;
    // Wall time from `now` until media time reaches `mediaMs`, 0 once it has:
    // unscale(mediaMs - mediaTime(now)).
    quint64 waitFor(quint64 mediaMs, quint64 now) const;

    int speed() const { return m_speed; }

private:
    quint64 elapsed(quint64 now) const
    {
        const qint64 e = static_cast<qint64>(now) - m_base;
        return e > 0 ? static_cast<quint64>(e) : 0;
    }

    // Signed: media time may lie further back than the wall clock's zero.
    qint64 m_base = 0;
    int m_speed = 0;
};
