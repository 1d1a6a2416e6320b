// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

#include "Array.h"
#include "IndexFileHeader.h"

class GridDecoder;
class IPlayerView;
class Playhead;
class QIODevice;
class RecordReader;

// Seeking: choosing the key frame to start from, restoring it, and the
// catch-up that decodes the screen units from there to the target.
//
// The static steps serve every screen rebuilder (the player's seek and
// `sessiontool frame`), so that they reach exactly the same screen. A Seeking
// object carries out one seek on a Playhead: the player thread's seek, and a
// benchmark's, which drives a Playhead of its own.
class Seeking
{
public:
    enum { RESTART = -1 };

    // The entry whose key frame a seek to `target` (ms) starts from, or
    // RESTART when the catch-up must start at the beginning of the recording.
    //
    // Entries are in ascending time. The result is the last entry whose time
    // is at most the target, except that the last entry of the table is taken
    // only when its time is strictly below the target (a binary search with a
    // backward correction, logged at debug level as "Backward correction.",
    // "Target time: %1" and "Index entry: %1"). A target before the first
    // entry's time, and an empty table, give RESTART: with no key frame to
    // stand on, replaying from the start is the only way to the target's
    // screen.
    static int chooseEntry(const Array<IndexEntryPoint, int>& entries, long long target);

    // True when playback can go on from the key frame of `entry` and paint
    // exactly what a replay from the start paints: the first screen unit
    // after the entry's unit that gives the decoder something (a screen
    // header, or box data) starts a frame - it is a screen header (0xE9), or
    // its box data begins with the parameter code (201), which resets the
    // palette. A host may send one frame as several units whose later parts
    // paint with the palette an earlier part left; a key frame taken between
    // two such parts (index files have no version, and some hold them) would
    // hand those parts its own palette instead. With no such unit before the
    // end of the recording the entry is usable. A unit that cannot be read
    // makes the entry unusable.
    //
    // Reads `recording` from the entry's unit on and leaves it anywhere.
    static bool resumesAtFrameStart(RecordReader& recording, const IndexEntryPoint& entry);

    // chooseEntry's choice, or the nearest entry before it whose key frame
    // resumesAtFrameStart; RESTART when there is none. Leaves `recording`
    // anywhere.
    static int chooseRestorableEntry(const Array<IndexEntryPoint, int>& entries, long long target,
                                     RecordReader& recording);

    // Restores the key frame of `entry` (an entry that IndexFile::load returned
    // for `index`, whose key-frame flags are `flags`): the record is read and
    // checked first; then the prefix goes to the decoder's decodeScreen (screen
    // size and the JPEG factor; the view hears of a new size through
    // onScreenDimension), the view's screen is cleared, since a key frame
    // leaves out the boxes that were never painted, and the data paints the
    // whole screen (grid data through the decoder, raw pixels straight into
    // the view when they are exactly the view's width x height).
    //
    // Returns false, with the screen untouched, when the key frame is not
    // usable (raw pixels of the wrong size); false after decodeScreen when the
    // view's screen does not have the raw key frame's size. The caller then
    // replays from the start instead. Throws what IndexFile::readKeyFrame
    // throws (FileCantReadException, DecompressionException).
    //
    // `packed` and `keyFrame` are the caller's reused buffers.
    static bool restoreKeyFrame(QIODevice& index, const IndexEntryPoint& entry,
                                unsigned char flags, GridDecoder& decoder, IPlayerView* view,
                                Array<unsigned char, int>& packed,
                                Array<unsigned char, int>& keyFrame);

    // ---- One seek ----

    // How a seek started.
    enum Start { FromCurrent, FromStart, FromKeyFrame };

    struct Result
    {
        Start start = FromStart;
        bool cancelled = false;
        // A unit was read and not applied: the first one at or after the
        // target, or the one a cancelled catch-up stopped at. It is the
        // playhead's pending unit, due at once.
        bool unitPending = false;
        // The time playback resumes at: the pending unit's, else the last
        // unit read (the recording ended).
        quint64 resumeTime = 0;
    };

    explicit Seeking(Playhead& playhead);

    // The loaded index (its open file, its usable entries and flags); without
    // one, seeks that go back replay from the start.
    void setIndex(QIODevice* device, const Array<IndexEntryPoint, int>* entries,
                  unsigned char flags);
    // Set by another thread to end the catch-up at the next unit.
    void setCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }
    // Called before every unit of the catch-up; it may throw to end the seek
    // (the player thread's ThreadStopException).
    void setInterruption(std::function<void()> check) { m_interruption = std::move(check); }

    // Rebuilds the screen for `target` (ms): every screen unit before it is
    // applied once, and the first unit at or after it is left pending. A
    // cancelled catch-up ends sooner, after the units of the moment it had
    // reached: the first unit of a later time is left pending. A
    // forward seek goes on from the playhead's position (a pending unit before
    // the target is applied first); any other seek starts from the key frame
    // chosen by chooseRestorableEntry or, without a usable one, from the
    // beginning of the recording (the decoder reset and the screen cleared,
    // so that it paints exactly what a straight replay paints). The unit a
    // key frame already contains is read again without being applied.
    //
    // Logs at debug level "Seek %1" ("finished" or "canceled by user"),
    // "Target time : %1" and "Current time: %1". Throws what reading and
    // restoring throw; a unit of unknown kind stays pending for the play loop
    // to report.
    Result seek(long long target, bool forward);

private:
    bool restoreBefore(long long target);
    // Applies the current unit when it lies before the target; false (not
    // applied) when it does not, or is of unknown kind.
    bool applyBefore(long long target);

    Playhead& m_playhead;
    QIODevice* m_indexDevice = nullptr;
    const Array<IndexEntryPoint, int>* m_entries = nullptr;
    unsigned char m_flags = 0;
    const std::atomic<bool>* m_cancel = nullptr;
    std::function<void()> m_interruption;
    Array<unsigned char, int> m_packed;
    Array<unsigned char, int> m_keyFrame;
};
