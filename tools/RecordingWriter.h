// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>

#include "Array.h"
#include "GridEncoder.h"
#include "RecordFileHeader.h"

class QIODevice;
class QImage;
class VideoFrame;

// Writes recordings: for tests, fuzz seeds and the demo recordings of
// `sessiontool synth`. Not part of the player (the product never writes
// recordings).
//
// A writer opens a file (or takes a random-access device), writes the 32-byte
// file header at once and then appends units in the order they are given.
// finish() rewrites the header with the final duration (the explicit one, or
// the time of the last unit) and closes the file.
//
// Every unit kind can be written: control units (mouse positions, cursor
// records with their string list), screen units (a full-screen header,
// updates, ends of frames, pauses; either as raw codec bytes or made by the
// grid encoder from a VideoFrame), info units and the two audio streams.
// With compression on, every payload is stored as a zlib stream and the
// unit's type carries the flag 0x10. writeRawUnit writes any header and bytes
// at all, for files that must be broken on purpose.
//
// A write that the device refuses throws FileCantWriteException; opening a
// file that cannot be created throws FileCantCreateException. One thread.
class RecordingWriter
{
public:
    enum Stream { CAP = RecordUnitHeader::KIND_AUDIO_CAP, SPK = RecordUnitHeader::KIND_AUDIO_SPK };

    RecordingWriter();
    ~RecordingWriter();

    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Creates (or truncates) the file and writes the file header.
    void open(const QString& path, const QByteArray& sessionId = "123456789");
    // Writes to `device` (random-access, open for writing; not owned) from its
    // current position on.
    void open(QIODevice* device, const QByteArray& sessionId = "123456789");
    // Rewrites the header's duration: `durationMs`, or the last unit's time
    // when it is negative. Closes a file opened by path. Safe to call twice.
    void finish(long long durationMs = -1);

    // Compress every following payload (flag 0x10 + zlib).
    void setCompression(bool on) { m_compress = on; }
    bool compression() const { return m_compress; }

    // JPEG quality (per cent) of the encoder's photographic boxes; the full-
    // screen header carries the matching scale factor 255 - q * 255 / 100.
    void setJpegQuality(int quality);
    int jpegScale() const;

    // The file header's magic (to write wrong ones) and the bytes 4..7 and
    // the rest are written as the header says.
    void setMagic(uint32_t magic) { m_fileHeader.m_magic = magic; }

    // ---- Units ----

    // A unit of kind 1..5 with `payload`, compressed when compression is on.
    void writeUnit(int kind, uint64_t time, const QByteArray& payload, int channels = 0);
    // Exactly this header and these bytes: `type` as given (no flag added,
    // nothing compressed), `declaredSize` in the header (payload's size when
    // negative) and then the payload bytes as they are.
    void writeRawUnit(unsigned char type, uint64_t time, const QByteArray& payload,
                      long long declaredSize = -1, int channels = 0);

    // Control 0x0B: mouse at (x, y) showing cursor `cursorId`.
    void writeMousePos(uint64_t time, int x, int y, uint32_t cursorId);
    // Control 0x28 / 0xE1: a cursor record for `cursorId`, serialised from
    // `image` (any format; stored as ARGB) with the hot spot. The string list
    // is `strings`: the first one may be empty, the others must not be (empty
    // ones are left out); the list's terminating empty string is added.
    void writeCursor(uint64_t time, uint32_t cursorId, const QImage& image, int hotX, int hotY,
                     const QStringList& strings = QStringList());
    // The same with a ready serialised record (valid or not).
    void writeCursorRecord(uint64_t time, uint32_t cursorId, const QByteArray& record,
                           const QStringList& strings = QStringList());

    // Screen messages: code, a zero byte, then `data`.
    void writeScreenMessage(uint64_t time, unsigned char code, const QByteArray& data);
    // 0xE9 with width, height, the JPEG scale factor and a reserved zero byte.
    void writeScreenHeader(uint64_t time, int width, int height);
    void writePause(uint64_t time) { writeScreenMessage(time, 0xEE, QByteArray()); }

    // The grid encoder's update of `frame` against the frames written before:
    // a full-screen header (0xE9) first when the size is new, then the changed
    // boxes. Unchunked, the update is one unit with `endCode` (0xED or 0xEB);
    // chunked, the encoder's pieces (about 20000 bytes each) go out as 0xEA
    // units and the last one with `endCode`. An unchanged frame still writes the
    // end-of-frame unit (its data then says "nothing changed").
    void writeScreenFrame(uint64_t time, VideoFrame& frame, unsigned char endCode = 0xED);
    // Starts the next frame from a clean encoder (every box written again).
    void resetScreen();
    // Screen updates in pieces of about 20000 bytes, or one unit per frame.
    void setChunkedScreen(bool chunked) { m_chunked = chunked; }

    void writeInfo(uint64_t time, const QByteArray& payload) { writeUnit(3, time, payload); }

    // Interleaved signed 16-bit samples, `frames` per channel, stored
    // little-endian with the channel count in the unit header.
    void writeAudio(uint64_t time, Stream stream, const int16_t* samples, int frames,
                    int channels);

    // ---- Counters ----
    int unitCount() const { return m_units; }
    uint64_t lastTime() const { return m_lastTime; }

private:
    void writeBytes(const unsigned char* data, qint64 length);
    void writeHeaderAt0();
    void ensureOpen() const;

    QFile m_ownFile;
    QIODevice* m_device = nullptr;
    qint64 m_start = 0;          // device position of the file header
    RecordFileHeader m_fileHeader;
    RecordUnitHeader m_unitHeader;
    Array<unsigned char, int> m_raw;
    Array<unsigned char, int> m_packed;
    GridEncoder m_encoder;
    int m_quality = 90;
    int m_screenWidth = -1;
    int m_screenHeight = -1;
    bool m_chunked = false;
    bool m_compress = false;
    int m_units = 0;
    uint64_t m_lastTime = 0;
};
