// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "Array.h"
#include "IndexFileHeader.h"

class QIODevice;

// Reading an index file: loading and validating its entry table, and reading
// one key frame. The player's loadIndex and doSeek, the index tests and
// sessiontool use these; the index builder writes the format (IndexFileHeader,
// IndexEntryPoint).
//
// An index file is untrusted input like a recording. The loader never trusts
// the header's count:
// - a table that runs past the end of the file, a wrong magic, a count of 0
//   or a header cut short make the index invalid (the player deletes it and
//   offers to build a new one);
// - empty entries (size 0) at the end of the table are dropped, as the builder
//   leaves unfilled slots there; an index whose every entry is empty is valid
//   with no entries;
// - an entry that cannot be a key frame of this index is not used for
//   seeking and is left out of the loaded table: size 0 amid the table, a
//   size above MAX_KEY_FRAME_SIZE, a record that does not lie wholly inside
//   the file after the table, a time below the previous entry's (the seek's
//   binary search needs ascending times), and - when the recording's size is
//   known - a unit position outside the recording's units. Seeks then use the
//   nearest usable entry before the target;
// - a table that had filled entries, none of them usable, is invalid.
//
// All functions take a random-access QIODevice opened for reading (a QFile in
// the product, a QBuffer in tests and fuzzers) and never write to it.
class IndexFile
{
public:
    // No key frame of a screen the decoder accepts comes near this.
    static constexpr int MAX_KEY_FRAME_SIZE = 256 * 1024 * 1024;

    struct LoadReport
    {
        QString problem;          // why the index is invalid; empty when valid
        quint64 declaredCount = 0; // the header's count
        int trailingEmpty = 0;     // empty entries dropped from the end
        int unusable = 0;          // other entries left out (see above)
        unsigned char flags = 0;   // the header's key-frame flags
    };

    // The index of a recording: its path with "x" appended.
    static QString indexFileName(const QString& recordingPath);

    // Reads the header at offset 0 and the table after it into `header` and
    // `entries` (only the usable entries, in table order). `recordingSize` is
    // the size of the recording in bytes, or -1 when unknown. Returns false
    // for an invalid index (entries then empty); `report`, when given, says
    // what was found. Throws FileCantReadException on a read error.
    static bool load(QIODevice& device, IndexFileHeader& header,
                     Array<IndexEntryPoint, int>& entries, qint64 recordingSize = -1,
                     LoadReport* report = nullptr);

    // One key frame, as readKeyFrame returns it.
    struct KeyFrame
    {
        // Screen header for the decoder's decodeScreen: width and height
        // (big-endian) and the JPEG scale factor of the key frame's boxes.
        unsigned char prefix[IndexEntryPoint::PREFIX_SIZE] = {};
        int width = 0;
        int height = 0;
        int jpegScale = 0;
        // True: grid-codec update data for the decoder's decode, covering
        // the whole screen. False: width x height raw 32-bit pixels.
        bool grid = true;
        // The data: points into `packed` or `keyFrame` of readKeyFrame and
        // stays valid until they change.
        const unsigned char* data = nullptr;
        int length = 0;
    };

    // Reads the record of `entry` (an entry load() returned for this device)
    // with the header's `flags`: the prefix, then the data, inflated into
    // `keyFrame` when the flags say it is compressed (`packed` holds the stored
    // bytes). Returns false when the key frame is not usable: raw pixels whose
    // count is not exactly width x height. Throws FileCantReadException when
    // the record cannot be read whole, DecompressionException when its data
    // does not inflate (or inflates past Zip's cap).
    static bool readKeyFrame(QIODevice& device, const IndexEntryPoint& entry, unsigned char flags,
                             Array<unsigned char, int>& packed, Array<unsigned char, int>& keyFrame,
                             KeyFrame& out);

    // The 5-byte prefix of a key-frame record into `out`.
    static void composeKeyFramePrefix(int width, int height, int jpegScale,
                                      unsigned char out[IndexEntryPoint::PREFIX_SIZE]);
};
