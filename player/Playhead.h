// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>

#include <functional>

#include "Array.h"
#include "GridDecoder.h"
#include "RecordFileHeader.h"
#include "RecordReader.h"
#include "UnitDispatch.h"

class IPlayerView;

// Where playback stands in a recording: the open file and its reader, the
// current unit (read, and until dispatched "pending"), and the screen rebuilt
// up to it by a grid decoder whose listener is the view. The play loop, the
// seek's catch-up and the first-screen display all move it; a benchmark or a
// tool can drive one without a player.
//
// One thread at a time: the player thread while it plays, the GUI thread
// while the player is idle (FilePlayer hands it over through its state and
// guards it with its playback lock). The recording is only ever read.
class Playhead
{
public:
    Playhead();

    Playhead(const Playhead&) = delete;
    Playhead& operator=(const Playhead&) = delete;

    // The view the screen is rebuilt for (may be null); it becomes the
    // decoder's listener.
    void setView(IPlayerView* view);
    IPlayerView* view() const { return m_view; }

    // Opens `path` read-only and reads its header into `header`, leaving the
    // file at its first unit. Throws FileCantOpenException, or what
    // RecordReader::readFileHeader throws (IncorrectFileException for a wrong
    // magic). Nothing is pending afterwards.
    void open(const QString& path, RecordFileHeader& header);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    // Nothing more to read (also when the file is not open).
    bool atEnd() const { return !m_file.isOpen() || m_file.atEnd(); }

    // Back to the first unit over an empty screen: the decoder reset (its
    // next header announces the size again), the view's screen cleared, the
    // screen not started, nothing pending.
    void restart();
    // Positions the file at the unit header at `offset`, whose neighbour
    // before it had time `previousTime` (an index entry's unit and time);
    // false when that is not possible.
    bool seekToUnit(qint64 offset, quint64 previousTime)
    {
        return m_reader.seekUnit(offset, previousTime);
    }

    // Called with each damaged stretch that readUnit passes over (on the
    // thread that reads); set before the thread starts.
    using DamageHandler = std::function<void(const RecordReader::Damage&)>;
    void setDamageHandler(DamageHandler handler) { m_onDamage = std::move(handler); }

    // Reads the next plausible unit, passing over damaged stretches (each
    // one goes to the damage handler); false at the end of the recording (a
    // cut-off last unit included). Throws IncorrectFormatException when
    // nothing plausible follows a damaged stretch (the rest of the file is
    // damage: "Invalid File format"), 1 (an int) when the recording is not
    // open, the report the play loop ignores, and FileCantReadException on a
    // read error. The unit read is current, not yet pending.
    //
    // Audio units are passed over with their header only (the payload stays
    // empty and is never read or inflated): the AudioFeed reads sound on its
    // own, ahead of the picture, so an audio unit of any size costs the
    // picture nothing. The audio observer hears of each one passed.
    bool readUnit();
    // Called with the kind, the header's file offset and the time of every
    // audio unit readUnit() passes over (may be empty).
    void setAudioObserver(std::function<void(int, qint64, quint64)> observer)
    {
        m_audioObserver = std::move(observer);
    }
    // File offset of the current unit's header.
    qint64 unitOffset() const { return m_reader.unitPos(); }
    const RecordUnitHeader& unit() const { return m_unit; }
    quint64 unitTime() const { return m_unit.m_time; }
    Array<unsigned char, int>& payload() { return m_payload; }

    // The current unit has been read and not yet dispatched.
    bool m_pending = false;

    // The current unit's message applied to the screen and the view.
    UnitDispatch::ScreenStep applyScreenUnit();
    void applyControlUnit();

    // A key frame was restored: the screen counts as started.
    void markScreenStarted() { m_screenStarted = true; }

    RecordReader& reader() { return m_reader; }
    GridDecoder& decoder() { return m_decoder; }

private:
    QFile m_file;
    RecordReader m_reader;
    RecordUnitHeader m_unit;
    Array<unsigned char, int> m_payload;
    Array<unsigned char, int> m_packed;   // stored bytes of a compressed unit
    GridDecoder m_decoder;
    IPlayerView* m_view = nullptr;
    bool m_screenStarted = false;         // a screen header was decoded
    std::function<void(int, qint64, quint64)> m_audioObserver;
    DamageHandler m_onDamage;
};
