#pragma once

#include "Array.h"
#include "IndexFileHeader.h"

class GridDecoder;
class IPlayerView;
class QIODevice;

// The two steps of a seek that use the index: choosing the key frame to start
// from and restoring it. The player's doSeek and `sessiontool frame` both call
// these, so a tool reaches exactly the screen the player reaches.
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
};
