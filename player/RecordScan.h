// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <atomic>

#include "RecordReader.h"

class QIODevice;

// A walk over the unit headers of a recording, payloads skipped, through the
// one unit reader: where the recording really ends, whether it was cut off,
// and the damaged stretches the reader passed over. It reads nothing but
// headers (and, around damage, the bytes the resynchronisation looks at), so
// an hour of recording takes a fraction of a second once the file is cached;
// payloads that do not inflate are not seen here.
//
// Any thread: the player runs it on a thread of its own when a recording
// opens (the first picture does not wait for it), sessiontool and the index
// builder on theirs. It opens its own device or takes one nobody else uses
// meanwhile.
class RecordScan
{
public:
    // A recording whose last unit lies more than this before the duration
    // its header gives was not written to its end.
    static constexpr quint64 EARLY_END_MARGIN_MS = 2000;
    // Damaged stretches kept in a result; the rest are only counted.
    static constexpr int MAX_DAMAGE_KEPT = 1000;

    struct Result
    {
        bool readable = false;     // opened, with a recording's magic
        QString problem;           // why not, or why the walk stopped early
        quint64 headerDuration = 0;
        quint64 units = 0;         // plausible units
        quint64 realEnd = 0;       // the latest time of a plausible unit
        bool truncated = false;    // the last unit is cut off
        qint64 truncatedAt = 0;    // its offset
        bool invalidTail = false;  // nothing plausible follows the last damage
        int damageCount = 0;
        QList<RecordReader::Damage> damage; // the first MAX_DAMAGE_KEPT

        // Cut off, or ending early against the header's duration.
        bool incomplete() const;
        // The length to show: the header's duration, unless it is 0, below
        // the real end, or the recording is incomplete; then the real end.
        quint64 shownDuration() const;
    };

    // Looks at the units as the walk passes them (on the walk's thread). A
    // visitor may ask for the payloads of some units: those are read (and
    // inflated, within Zip's cap) through the same reader, the others are
    // skipped as before.
    class Visitor
    {
    public:
        virtual ~Visitor() = default;
        // Whether the payload of this plausible unit is wanted.
        virtual bool wantsPayload(const RecordUnitHeader& header) = 0;
        // A plausible unit: its header (after a payload was read: the
        // inflated size, the flag cleared), the bytes it takes in the file,
        // and its payload when it was wanted (else null).
        virtual void onUnit(const RecordUnitHeader& header, quint64 storedBytes,
                            const Array<unsigned char, int>* payload) = 0;
        // A stretch passed over, a payload that does not inflate included.
        virtual void onDamage(const RecordReader::Damage& damage) = 0;
        // The walk ended (not called when it was cancelled).
        virtual void onEnd(const Result& result) = 0;
    };

    // Walks the recording open on `device` from its file header on (the
    // device's position is left anywhere). `cancel`, when given, is polled
    // once per unit; a cancelled walk returns what it found so far with the
    // problem "cancelled". Payloads that do not inflate, seen only where the
    // visitor asked for them, go to the visitor and not into the result.
    static Result scan(QIODevice& device, const std::atomic<bool>* cancel = nullptr,
                       Visitor* visitor = nullptr);
    // The same on the file at `path`, opened read-only for the walk.
    static Result scanFile(const QString& path, const std::atomic<bool>* cancel = nullptr,
                           Visitor* visitor = nullptr);
};
