// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include "Array.h"
#include "DeviceReader.h"
#include "RecordFileHeader.h"

class QIODevice;

// The one reader of recording units: the player's readUnit, its seek
// catch-up, the header scan that finds a recording's real end, the index
// builder and every sessiontool command read through it, so that they all
// agree on what is a unit and what is damage.
//
// It reads from a random-access QIODevice opened for reading (a QFile opened
// read-only in the product, a QBuffer in tests and fuzzers); it never writes
// and never owns the device. One reader serves one thread.
//
// Recordings come from hosts that crash, disks that fill up and copies that
// break, so a unit header is only taken when it is plausible:
// - its type is one of 1..5 and 0x11..0x15;
// - its payload lies inside the file and within MAX_PAYLOAD_SIZE;
// - its time lies within TIME_JUMP_MARGIN_MS of the previous unit's, either
//   way, or else the unit after it agrees with the jump (lies within the
//   margin of it), or the unit ends exactly where the file ends. Streams are
//   recorded from separate sources and may be slightly out of order: small
//   steps back are not damage.
// Anything else is damage. The reader then resynchronises: it scans forward,
// byte by byte, for the next offset where a plausible header starts whose
// payload fits and whose following unit is plausible too (or which ends
// exactly at the end of the file), never more than the margin before the last
// good unit, and goes on from there. The caller is told with the result
// Damaged and damage() describes the stretch passed over; the next read
// returns the unit found. When nothing plausible follows, the rest of the
// file is the damaged stretch (Damage::toEnd) and the next read says End.
//
// A header that is plausible but whose payload runs past the end of the
// file, with nothing plausible after it, is a cut-off last unit (Truncated),
// and so is a tail shorter than a unit header: the device is left at its end
// and nothing is allocated for the missing bytes.
//
// A compressed payload that does not inflate (a damaged zlib stream, or one
// that would inflate past Zip's cap) is damage too: readPayload returns
// Damaged with the unit's own bytes as the stretch, and reading goes on after
// it. A read error of the device throws FileCantReadException (naming the
// offset); nothing else throws.
class RecordReader
{
public:
    // Units start right after the file header.
    static constexpr qint64 FIRST_UNIT_OFFSET = RecordFileHeader::SIZE;
    // No unit of a recording comes near this (a raw 64 Mi-pixel screen needs
    // it); anything above is not a unit.
    static constexpr int MAX_PAYLOAD_SIZE = 256 * 1024 * 1024;
    // Two neighbouring units more than this apart in time are suspect: one
    // minute is far more than streams from separate sources drift apart, and
    // far less than what random bytes in a time field make of it.
    static constexpr quint64 TIME_JUMP_MARGIN_MS = 60000;

    enum Result {
        Unit,      // a plausible unit was read and is current
        End,       // no byte left: the recording ended where it should
        Truncated, // a cut-off unit: the recording ends before it
        Damaged,   // a damaged stretch was passed over (see damage())
        NotOpen    // no device, or it is not open for reading
    };

    enum Problem {
        NoProblem,
        UnknownKind,   // a type byte outside 1..5 and 0x11..0x15
        SizeOverBound, // a payload larger than MAX_PAYLOAD_SIZE
        SizePastEnd,   // a payload that runs past the end of the file
        TimeJump,      // a time far from the previous unit's, not confirmed
        NotInflating   // a compressed payload that does not inflate
    };

    // A stretch of the file that was passed over.
    struct Damage
    {
        qint64 from = 0;        // offset of the first unit found implausible
        qint64 to = 0;          // offset of the next plausible unit, or the file's size
        quint64 timeBefore = 0; // time of the last plausible unit before it (0 at the start)
        quint64 timeAfter = 0;  // time of the next plausible unit (timeBefore when none follows)
        Problem problem = NoProblem;
        // The header at `from` as it read.
        unsigned type = 0;
        quint64 time = 0;
        quint64 size = 0;
        bool toEnd = false;     // nothing plausible follows: the rest of the file

        // What was wrong, in words ("unit of unknown kind (type byte 0x1F)").
        QString what() const;
    };

    explicit RecordReader(QIODevice* device = nullptr) : m_file(device) {}

    void setDevice(QIODevice* device)
    {
        m_file.setDevice(device);
        m_knownSize = -1;
    }
    QIODevice* device() const { return m_file.device(); }
    bool isOpen() const { return m_file.isOpen(); }

    // Reads and decodes the file header from offset 0 and leaves the device at
    // the first unit. Throws IncorrectFileException when the file is shorter
    // than 32 bytes or its magic is wrong (the header then holds what could be
    // decoded), FileCantReadException on a read error.
    void readFileHeader(RecordFileHeader& header);

    // Positions the device at the first unit; the previous time is 0.
    bool rewind();
    // Positions the device at the unit header at `pos`, whose neighbour before
    // it had time `previousTime` (an index entry's position and time).
    bool seekUnit(qint64 pos, quint64 previousTime);

    // Reads the next unit into `header` and `payload`; `packed` is the buffer
    // for the stored bytes of a compressed unit (kept between calls so its
    // capacity is reused). After a compressed unit, header.m_size is the
    // inflated length and the flag is cleared from header.m_type. On any
    // result but Unit the payload is empty; on End and Truncated the header is
    // cleared.
    Result readUnit(RecordUnitHeader& header, Array<unsigned char, int>& payload,
                    Array<unsigned char, int>& packed);

    // readUnit in two steps, for callers that want the payload of some units
    // only. readUnitHeader reads a plausible header (or says why there is
    // none, as readUnit does); then exactly one of readPayload (Unit, or
    // Damaged when the payload does not inflate, or Truncated when the file
    // shrank) or skipPayload (moves past the stored bytes, inflating nothing)
    // must follow a Unit.
    Result readUnitHeader(RecordUnitHeader& header);
    Result readPayload(RecordUnitHeader& header, Array<unsigned char, int>& payload,
                       Array<unsigned char, int>& packed);
    void skipPayload(const RecordUnitHeader& header);

    // File offset of the header of the unit last read (or attempted).
    qint64 unitPos() const { return m_unitPos; }
    // File offset just past the stored payload of the unit last read.
    qint64 unitEnd() const { return m_unitEnd; }
    // The stretch the last Damaged result passed over.
    const Damage& damage() const { return m_damage; }
    // After Truncated: the number of bytes the cut-off unit needed in all
    // (header plus declared payload) and the number the file still held.
    quint64 truncatedNeeded() const { return m_truncatedNeeded; }
    qint64 truncatedHeld() const { return m_truncatedHeld; }
    // The time of the last plausible unit read (0 before the first one).
    quint64 previousTime() const { return m_previousTime; }

private:
    Result truncate(RecordUnitHeader& header, qint64 held, quint64 needed);
    // Why the header just read at `pos` is not plausible (NoProblem when it is).
    Problem checkHeader(const RecordUnitHeader& header, qint64 pos, qint64 fileSize);
    // Whether the unit header at `pos` is plausible on its own and its time
    // lies within the margin of `time`; the device position is kept.
    bool agreesAt(qint64 pos, quint64 time, qint64 fileSize);
    // The next offset at or after `from` where a plausible unit starts (see
    // the class comment), or -1; its time in `time`.
    qint64 resync(qint64 from, qint64 fileSize, quint64& time);
    Result damaged(RecordUnitHeader& header, Problem problem, qint64 fileSize);

    DeviceReader m_file;
    qint64 m_unitPos = 0;
    qint64 m_unitEnd = 0;
    qint64 m_knownSize = -1;           // the file's size when last asked
    quint64 m_previousTime = 0;
    quint64 m_timeBeforeUnit = 0;      // m_previousTime before the current unit
    Damage m_damage;
    quint64 m_truncatedNeeded = 0;
    qint64 m_truncatedHeld = 0;
    Array<unsigned char, int> m_block; // resync's window over the file
};
