// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

#include "Array.h"
#include "GridDecoder.h"
#include "IDecoder.h"
#include "IndexFileHeader.h"
#include "KeyFrameWriter.h"
#include "RecordFileHeader.h"
#include "RecordReader.h"
#include "ScreenFrame.h"

class IPlayerWindow;

// Writes the index file of a recording: it replays the whole recording as
// fast as it can, decoding every screen unit with its own decoder, and every
// `interval` ms of recording time stores the complete screen as a key frame
// (grid-encoded, zlib-compressed) with the time and file position of the
// unit after which it was taken. The screen is kept as the code that painted
// each box last; only the boxes of JPEG and other codes are painted into
// the builder's own frame, as their pixels may be needed.
//
// It runs on the calling thread (the player thread in the product,
// sessiontool's main thread) and returns when the index is complete, failed
// or cancelled. The key frames are encoded, compressed and written by a
// KeyFrameWriter on a second thread, started and stopped within makeIndex,
// while the calling thread goes on decoding; the calling thread hands each
// one over as the boxes painted since the previous one. cancel() may be
// called from any thread; the build polls it once per unit. Progress is
// emitted as idxPositionChanged(seconds of recording time) at most every
// 200 ms.
//
// Robustness:
// - The index is written to a temporary file beside the index's place
//   (tempFileName()) and renamed to the index's name only when it is
//   complete, so an interrupted build (crash, kill) never leaves a file that
//   loads as an index. A failed or cancelled build deletes the temporary file
//   and any index file of that name: afterwards there is no index.
// - Every exception raised while reading, decoding, encoding or writing ends
//   the build like a failure (makeIndex returns false), on either thread;
//   the second thread has stopped before makeIndex returns.
// - The table has duration / interval + 1 entries, bounded by what the file
//   can hold (one key frame per unit at most: file size / 24 + 1), so a
//   hostile duration cannot demand gigabytes of placeholder entries. Memory
//   grows with the key frames actually taken, not with that count.
// - Damaged stretches are passed over as the player passes over them (the
//   one unit reader resynchronises); damage() lists them. Where nothing
//   plausible follows, the index covers what lies before.
// - The table is sized for the header's duration, or for the recording's
//   real end (the latest unit time the build meets) when the header says
//   less; then the key frames written meanwhile are moved up at the end to
//   make room for the larger table.
// - A unit time below the previous one counts as no time passing.
// - Screen units go through UnitDispatch, as in playback. Key frames are
//   taken between frames only, never after a part of a frame (0xEA/0xEC)
//   whose end (0xEB/0xED) is still to come: a host may send one frame in
//   several parts whose later ones paint with the palette the earlier ones
//   left. When the interval runs out inside a frame, the key frame is taken
//   at its end.
// - A box goes into the key frame as the recording's own code that painted
//   it last: a JPEG code's data when the key frame's factor is the one it was
//   decoded with, so a restored key frame shows the very pixels playback
//   shows (coding the decoded pixels again would be a second, lossier JPEG
//   generation); a one-colour or bitmap code in its with-palette form, which
//   spares classifying its pixels again. Other boxes are coded from their
//   pixels, losslessly unless they are photographic.
// - Key frames are encoded with the recording's own JPEG scale factor (the
//   factor of the last screen header) and the prefix stores it, so that
//   after a restore the decoder is set up for the recording's following JPEG
//   boxes. The encoder takes a quality in per cent; every factor that a
//   quality produces is matched exactly. A factor no quality produces (not
//   written by any encoder of this format) gets the nearest quality for the
//   key frame's own boxes, and the prefix still names the recording's
//   factor: the following boxes decode exactly, the key frame's JPEG boxes
//   within JPEG tolerance.
class IndexBuilder : public QObject, public IDecoderListener
{
    Q_OBJECT

public:
    static constexpr int kProgressPeriodMs = 200;
    static constexpr int kInitialQuality = 80;
    static constexpr int kMaxDamageKept = 1000;
    // JPEG data kept per box for the key frames: real 16 x 16 boxes need
    // about half of it even at quality 100, and a hostile recording cannot
    // make the build hold more. A box with longer data goes into the key
    // frame as a RAW code of its pixels.
    static constexpr int kMaxKeptJpeg = 2048;

    IndexBuilder();
    ~IndexBuilder() override;

    IndexBuilder(const IndexBuilder&) = delete;
    IndexBuilder& operator=(const IndexBuilder&) = delete;

    // Builds the index of `fileName` with a key frame every `interval` ms,
    // where IndexLocation places it (beside the recording as fileName + "x",
    // or in the cache folder, which is then trimmed). True when a complete
    // index was written; indexFileName() then says where.
    bool makeIndex(const QString& fileName, int interval);
    // Where the last build wrote (or tried to write) its index; empty when
    // no place could be written.
    QString indexFileName() const { return m_indexFileName; }
    void setController(IPlayerWindow* controller) { m_controller = controller; }

    // After a failed makeIndex: what went wrong, in words, with the system's
    // reason where there is one ("cannot create the index ...: Permission
    // denied"); empty after a success.
    QString failure() const { return m_failure; }
    // The damaged stretches the last build passed over (the first
    // kMaxDamageKept of them).
    const QList<RecordReader::Damage>& damage() const { return m_damage; }

    // Ends a running (or the next) build early; any thread.
    void cancel() { m_cancel.store(true); }
    void clearCancel() { m_cancel.store(false); }
    bool isCancelled() const { return m_cancel.load(); }

    // Where the index is written before it is complete.
    static QString tempFileName(const QString& indexFileName);
    // The quality in per cent whose JPEG scale factor
    // (GridFormat::jpegScaleForQuality) is `scale`, or the one whose factor
    // is nearest.
    static int qualityForScale(int scale);

    // Called on the key-frame writer's thread before each key frame is
    // encoded, with its number from 0; an exception thrown there fails the
    // build. Tests hold or fail the second thread with it.
    void setKeyFrameHook(std::function<void(int)> hook) { m_keyFrameHook = std::move(hook); }

    // IDecoderListener: the boxes the decoder paints are noted for the next
    // key frame, with their codes; the builder's own frame takes the pixels
    // of those without a palette code.
    void onScreenDimension(int width, int height) override;
    void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) override;
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}

signals:
    void idxPositionChanged(quint64 seconds);

protected:
    bool doWork();
    // Reads one unit as the player does, on the builder's own file: the
    // payload of a screen unit, the header alone of the others.
    RecordReader::Result readInputUnit();
    // Hands the frame over as the next key frame, for the unit at `unitPos`.
    void takeKeyFrame(KeyFrameWriter& writer, quint64 unitTime, quint64 unitPos);
    void writeOrThrow(const unsigned char* data, qint64 length);
    // Entries for a recording of `length` ms, within what the file can hold.
    quint64 tableSizeFor(quint64 length) const;
    // Writes the final header and table of `count` entries over the
    // `placeholders` written first, moving the key frames when the table
    // grew and dropping key frames beyond `count`.
    void finishTable(const Array<IndexEntryPoint, int>& written, quint64 placeholders,
                     quint64 count);
    // Keeps the first failure's text.
    void fail(const QString& what);
    // Paints box i of the frame from its palette code (the decoder leaves
    // such boxes out).
    void paintFromCode(int i);

private:
    QString m_fileName;
    QString m_indexFileName;
    QString m_tempFileName;
    QFile m_file;                        // the recording, read-only
    QFile m_indexFile;                   // the temporary index
    RecordReader m_reader;
    int m_interval = 0;
    // Written by any thread (cancel), polled by the building thread.
    std::atomic<bool> m_cancel{false};
    unsigned char m_flags = IndexFileHeader::FLAGS_DEFAULT;
    RecordFileHeader m_fileHeader;
    RecordUnitHeader m_unitHeader;
    Array<unsigned char, int> m_payload;
    Array<unsigned char, int> m_packed;
    IndexFileHeader m_header;
    GridDecoder m_decoder;
    ScreenFrame m_frame;
    IPlayerWindow* m_controller = nullptr;
    std::function<void(int)> m_keyFrameHook;

    QString m_failure;
    QList<RecordReader::Damage> m_damage;

    int m_recordingScale = 0;  // JPEG factor of the recording's last screen header
    quint64 m_count = 0;       // entries in the table
    quint64 m_taken = 0;       // key frames handed over
    // Boxes of m_frame painted since the last handover (one byte per box of
    // its grid), and whether the frame was sized or cleared since.
    Array<unsigned char, int> m_painted;
    // Per box of m_frame (one byte each), the code that painted it last:
    // 0 none known (it goes by its pixels), 1..5 the with-palette code in
    // m_codeOf, GridFormat::JPEG the data in m_jpegOf, GridFormat::RAW a
    // JPEG code whose data was longer than kMaxKeptJpeg. Painting touches
    // the larger arrays only for the code it keeps.
    Array<unsigned char, int> m_codeKind;
    // The JPEG data a box's pixels decode from, and the factor it needs.
    struct BoxJpeg
    {
        std::vector<unsigned char> data;
        int scale = -1;
    };
    std::vector<BoxJpeg> m_jpegOf;
    // A slot per box, on cache-line boundaries so that a short code (a
    // colour, a 2-colour bitmap) touches one line when it is written.
    static constexpr int kCodeAlign = 64;
    static constexpr int kCodeSlot = 192;
    static_assert(kCodeSlot >= GridFormat::kMaxPaletteCodeBytes && kCodeSlot % kCodeAlign == 0, "");
    Array<unsigned char, int> m_codeOf;
    unsigned char* codeSlot(int i)
    {
        const auto base = reinterpret_cast<uintptr_t>(m_codeOf.data());
        const size_t skip = (kCodeAlign - base % kCodeAlign) % kCodeAlign;
        return m_codeOf.data() + skip + static_cast<size_t>(i) * kCodeSlot;
    }
    int m_lastKeyFrameScale = -1; // factor of the last key frame's JPEG boxes
    int m_columns = 0;
    bool m_newScreen = true;
};
