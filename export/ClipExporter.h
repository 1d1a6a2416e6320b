// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <stdexcept>

#include "ExportSettings.h"

class HeadlessView;
class MediaWriter;
class Playhead;
class SoundMixer;

// Writes a recording, or a range of it, as an ordinary video file with its
// sound. It replays the recording through the player's own code - the
// playhead's unit reader (which passes over damaged stretches), the unit
// dispatch, the seek with its key-frame restore, the pointer drawing - into a
// HeadlessView, and hands the pictures and the mixed sound to a MediaWriter:
//
// - The range starts at the exact picture of `fromMs` (every unit up to and
//   including that time applied, the pointer where it stood), reached as a
//   seek reaches it: from the index's key frame when the recording has a
//   valid index, else from the start.
// - Variable frame rate: a picture is written only when the screen (or,
//   with the pointer on, the pointer) changed, stamped with the media time
//   it shows, at most `fps` a second; the first picture at the range's
//   start, and the last at its end, so the video covers the range.
// - Sound: SoundMixer, at the units' media times; silence where there is
//   none.
// - A screen that changes size keeps the video's size and is fitted into it
//   (said once through the notice).
// - Damaged stretches are passed over (the picture held, silence) and each
//   is named through the notice; a recording cut off before the range's end
//   ends the export at its real end, with a note.
//
// The recording is only ever read. The output is written to a PartFile
// beside it and renamed into place once complete; a failure or a cancel
// removes it, and stale part files of dead exports in the output's folder go
// first.
//
// run() works on the calling thread (sessiontool's main thread, the
// window's export thread); the progress and notice callbacks are called on
// it. The cancel flag may be set from any thread.
class ClipExporter
{
public:
    // A one-line reason why nothing was written.
    struct Failure : std::runtime_error
    {
        explicit Failure(const QString& message)
            : std::runtime_error(message.toStdString()), text(message)
        {
        }
        QString text;
    };

    enum Outcome { Completed, Cancelled };

    struct Result
    {
        Outcome outcome = Completed;
        quint64 fromMs = 0;
        quint64 toMs = 0;          // where the export ended
        QSize videoSize;
        qint64 pictures = 0;
        qint64 soundFrames = 0;    // 48 kHz stereo sample frames written
        int damagedParts = 0;
        bool endedEarly = false;   // the recording ends before the range
    };

    // done and total are media ms of the range.
    using Progress = std::function<void(quint64 doneMs, quint64 totalMs)>;
    using Notice = std::function<void(const QString& text)>;

    explicit ClipExporter(const ExportSettings& settings);
    ~ClipExporter();

    ClipExporter(const ClipExporter&) = delete;
    ClipExporter& operator=(const ClipExporter&) = delete;

    void setCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }
    void setProgress(Progress progress) { m_progress = std::move(progress); }
    void setNotice(Notice notice) { m_notice = std::move(notice); }
    // Hands every picture (the screen with the pointer, at the screen's size,
    // stamped in ms from the range's start) to `sink` instead of the video
    // encoder, whose stream then stays empty: for measuring our encoding
    // against another encoder fed the very same pictures.
    using PictureSink = std::function<void(const uint32_t* pixels, int width, int height, qint64 ms)>;
    void setPictureSink(PictureSink sink) { m_pictureSink = std::move(sink); }

    // Does the export. Throws Failure for bad settings (an unknown
    // extension, a range outside the recording, a folder that cannot be
    // written), an unreadable recording and an encoder or write failure
    // (a full disk); nothing is left behind then.
    Result run();

    // A media time as m:ss.mmm (h:mm:ss.mmm from an hour on).
    static QString timeText(quint64 ms);

private:
    struct Range;
    Range checkRange();
    void seekToStart(Playhead& playhead, HeadlessView& view);
    void scanPointer(HeadlessView& view);
    QSize probeScreenSize();
    void writePicture(HeadlessView& view, MediaWriter& writer, quint64 ms);
    bool cancelled() const { return m_cancel && m_cancel->load(); }
    void notice(const QString& text);

    ExportSettings m_settings;
    ExportSettings::Container m_container = ExportSettings::Mp4;
    const std::atomic<bool>* m_cancel = nullptr;
    Progress m_progress;
    Notice m_notice;
    PictureSink m_pictureSink;
    QSize m_sourceSize;         // the screen's size the video was made for
    bool m_sizeChangeSaid = false;
    QList<QString> m_damage;
};
