// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"

// Thin layer over zlib's one-shot calls. The compressed form is the plain
// zlib stream exactly as compress2() writes it, with no length prefix: the
// decompressed size is found while decompressing.
//
// Stateless apart from the decompression cap; callable from any thread with
// its own arrays. Failures are reported only by a false result and an empty
// `out` (count 0; its capacity is never reduced).
class Zip
{
public:
    enum {
        COMPRESSION_NONE = 0,
        COMPRESSION_FAST = 1,
        COMPRESSION_MAX = 9,
        COMPRESSION_DEFAULT = -1
    };

    // Decompressed data is untrusted: a few kilobytes of deflate can expand to
    // gigabytes. unzipBuffer refuses to produce more than this many bytes.
    static constexpr int DEFAULT_MAX_UNZIPPED_SIZE = 256 * 1024 * 1024;

    Zip() = default;
    virtual ~Zip() = default;

    static bool zipBuffer(const unsigned char* data, int length, Array<unsigned char, int>& out,
                          int level);
    static bool zipBuffer(Array<unsigned char, int>& in, Array<unsigned char, int>& out, int level);

    // The same zlib stream format, written by libdeflate: at level 1 to 12
    // (others are clamped; 1 is the fastest) several times faster than
    // zipBuffer for a few per cent more bytes. unzipBuffer reads it like any
    // other. Each calling thread keeps one compressor per level for its
    // lifetime.
    static bool zipBufferFast(const unsigned char* data, int length,
                              Array<unsigned char, int>& out, int level);

    // The same zlib stream format at the least CPU per byte this build has:
    // Intel's ISA-L at its level 2 where it was built with it (about three
    // times faster than zipBufferFast at level 1 for some 6 % more bytes),
    // zipBufferFast at level 1 otherwise. For the index builder's key
    // frames. Each calling thread keeps its compressor's state for its
    // lifetime.
    static bool zipBufferFastest(const unsigned char* data, int length,
                                 Array<unsigned char, int>& out);
    // Whether zipBufferFastest uses ISA-L.
    static bool fastestIsIsal();

    // Starts with room for max(4 x length, capacity of out) bytes and doubles
    // it while zlib reports the room too small, up to the cap; past the cap
    // the result is false.
    static bool unzipBuffer(const unsigned char* data, int length, Array<unsigned char, int>& out);
    static bool unzipBuffer(Array<unsigned char, int>& in, Array<unsigned char, int>& out);

    // Whole-file forms: write the compressed bytes as the file's whole content,
    // or read a whole file and decompress it. False for a null or empty path.
    static bool zipBuffer2File(Array<unsigned char, int>& in, const char* path, int level);
    static bool unzipFile2Buffer(const char* path, Array<unsigned char, int>& out);

    // The cap applies process-wide; values below 1 restore the default.
    static void setMaxUnzippedSize(int bytes);
    static int maxUnzippedSize();
};
