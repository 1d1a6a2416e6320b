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

    // Walks the recording open on `device` from its file header on (the
    // device's position is left anywhere). `cancel`, when given, is polled
    // once per unit; a cancelled walk returns what it found so far with the
    // problem "cancelled".
    static Result scan(QIODevice& device, const std::atomic<bool>* cancel = nullptr);
    // The same on the file at `path`, opened read-only for the walk.
    static Result scanFile(const QString& path, const std::atomic<bool>* cancel = nullptr);
};
