// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClipExporter.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <vector>

#include "Exception.h"
#include "HeadlessView.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "MediaWriter.h"
#include "PartFile.h"
#include "Playhead.h"
#include "RecordReader.h"
#include "RecordScan.h"
#include "Seeking.h"
#include "SoundMixer.h"
#include "UnitDispatch.h"

namespace {

// What a failure of the recording's reading says, in words.
QString describe(const Exception& e)
{
    if (dynamic_cast<const IncorrectFileException*>(&e))
        return QStringLiteral("not a recorded session");
    const QString what = e.getErrorMessage();
    if (what.isEmpty() || what == e.getErrorSender())
        return QStringLiteral("cannot read the recording");
    return what;
}

} // namespace

struct ClipExporter::Range
{
    quint64 from = 0;
    quint64 end = 0;        // the range's end as exported
    bool endedEarly = false;
};

ClipExporter::ClipExporter(const ExportSettings& settings) : m_settings(settings) {}

ClipExporter::~ClipExporter() = default;

QString ClipExporter::timeText(quint64 ms)
{
    const quint64 s = ms / 1000;
    const QString frac = QStringLiteral(".%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
                   .arg(s % 60, 2, 10, QLatin1Char('0')) + frac;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0')) + frac;
}

void ClipExporter::notice(const QString& text)
{
    if (m_notice)
        m_notice(text);
}

ClipExporter::Range ClipExporter::checkRange()
{
    const RecordScan::Result scan = RecordScan::scanFile(m_settings.recording);
    if (!scan.readable)
        throw Failure(scan.problem.isEmpty() ? QStringLiteral("not a recorded session")
                                             : scan.problem);
    const quint64 shown = scan.shownDuration();
    const quint64 limit = std::max(scan.headerDuration, shown);
    Range r;
    r.from = m_settings.fromMs;
    const quint64 to = m_settings.toMs != 0 ? m_settings.toMs : shown;
    if (shown == 0)
        throw Failure(QStringLiteral("the recording holds nothing to export"));
    if (r.from >= shown)
        throw Failure(QStringLiteral("the range starts at %1, but the recording ends at %2")
                          .arg(timeText(r.from), timeText(shown)));
    if (to > limit)
        throw Failure(QStringLiteral("the range ends at %1, after the end of the recording at %2")
                          .arg(timeText(to), timeText(shown)));
    r.end = std::min(to, shown);
    r.endedEarly = scan.incomplete() && to >= shown;
    if (r.end <= r.from)
        throw Failure(QStringLiteral("the range %1 to %2 is empty")
                          .arg(timeText(r.from), timeText(r.end)));
    return r;
}

void ClipExporter::seekToStart(Playhead& playhead, HeadlessView& view)
{
    // The first index that loads, beside the recording or in the cache: the
    // seek restores its key frame, as the player's does.
    QFile index;
    IndexFileHeader header;
    Array<IndexEntryPoint, int> entries;
    bool loaded = false;
    const qint64 size = QFileInfo(m_settings.recording).size();
    for (const QString& path : IndexLocation().existing(m_settings.recording)) {
        index.setFileName(path);
        try {
            if (index.open(QIODevice::ReadOnly) && IndexFile::load(index, header, entries, size)) {
                loaded = true;
                break;
            }
        } catch (const Exception&) {
            // An index that cannot be read is no index.
        }
        index.close();
    }
    Seeking seeking(playhead);
    if (loaded)
        seeking.setIndex(&index, &entries, header.m_flags);
    seeking.seek(static_cast<long long>(m_settings.fromMs), false);
    // The catch-up applies screen units only; the pointer is where the
    // control units before the start left it.
    view.reset();
    scanPointer(view);
}

void ClipExporter::scanPointer(HeadlessView& view)
{
    QFile file(m_settings.recording);
    if (!file.open(QIODevice::ReadOnly))
        return;
    RecordReader reader(&file);
    RecordFileHeader header;
    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed;
    try {
        reader.readFileHeader(header);
        for (;;) {
            const RecordReader::Result r = reader.readUnitHeader(unit);
            if (r == RecordReader::Damaged)
                continue;
            if (r != RecordReader::Unit || unit.m_time >= m_settings.fromMs)
                return;
            const int kind = unit.kind();
            if (kind != RecordUnitHeader::KIND_CONTROL && kind != RecordUnitHeader::KIND_SCREEN) {
                reader.skipPayload(unit);
                continue;
            }
            if (reader.readPayload(unit, payload, packed) != RecordReader::Unit)
                continue;
            if (kind == RecordUnitHeader::KIND_CONTROL) {
                UnitDispatch::processControlUnit(payload.data(), payload.count(), &view);
            } else if (payload.count() > 0) {
                // What the dispatch does to the view (not the screen) for
                // these two codes: the cursors go with a reset after a pause.
                if (payload[0] == UnitDispatch::SCREEN_PAUSE)
                    view.onPause(false);
                else if (payload[0] == UnitDispatch::SCREEN_END_RESET && view.isInfoShown())
                    view.reset();
            }
        }
    } catch (const std::exception&) {
        // The pointer stays where the readable part left it.
    } catch (const Exception&) {
    }
}

QSize ClipExporter::probeScreenSize()
{
    // No screen yet at the start: the size of the first one to come.
    Playhead probe;
    HeadlessView view;
    probe.setView(&view);
    RecordFileHeader header;
    try {
        probe.open(m_settings.recording, header);
        while (view.frame().isEmpty() && probe.readUnit()) {
            if (probe.unit().kind() == RecordUnitHeader::KIND_SCREEN)
                probe.applyScreenUnit();
        }
    } catch (...) {
        return QSize();
    }
    return QSize(view.frame().width(), view.frame().height());
}

void ClipExporter::writePicture(HeadlessView& view, MediaWriter& writer, quint64 ms)
{
    VideoFrame& frame = view.frame();
    const qint64 pts = static_cast<qint64>(ms - m_settings.fromMs);
    if (frame.isEmpty()) {
        // Before the first screen: black.
        const QSize size = writer.videoSize();
        std::vector<uint32_t> black(static_cast<size_t>(size.width()) * size.height(), 0xFF000000u);
        writer.writePicture(black.data(), size.width(), size.height(), size.width(), pts);
        return;
    }
    const QSize screen(frame.width(), frame.height());
    if (screen != m_sourceSize && !m_sizeChangeSaid) {
        m_sizeChangeSaid = true;
        notice(QStringLiteral("the screen changes size at %1 (%2x%3 to %4x%5); the picture is "
                              "fitted into the video's %6x%7")
                   .arg(timeText(ms))
                   .arg(m_sourceSize.width()).arg(m_sourceSize.height())
                   .arg(screen.width()).arg(screen.height())
                   .arg(writer.videoSize().width()).arg(writer.videoSize().height()));
    }
    // The pointer is drawn into the screen itself and the pixels under it put
    // back afterwards: no copy of the whole picture.
    const QRect under = m_settings.cursor ? view.pointerRect() : QRect();
    std::vector<uint32_t> saved;
    uint32_t* pixels = frame.pixels();
    const int w = frame.width();
    if (!under.isEmpty()) {
        saved.reserve(static_cast<size_t>(under.width()) * under.height());
        for (int y = under.top(); y <= under.bottom(); ++y)
            saved.insert(saved.end(), pixels + y * w + under.left(),
                         pixels + y * w + under.left() + under.width());
        QImage image(reinterpret_cast<uchar*>(pixels), w, frame.height(), w * 4,
                     QImage::Format_RGB32);
        view.drawPointer(image);
    }
    if (m_pictureSink)
        m_pictureSink(pixels, w, frame.height(), pts);
    else
        writer.writePicture(pixels, w, frame.height(), w, pts);
    if (!under.isEmpty()) {
        auto from = saved.begin();
        for (int y = under.top(); y <= under.bottom(); ++y) {
            std::copy(from, from + under.width(), pixels + y * w + under.left());
            from += under.width();
        }
    }
}

ClipExporter::Result ClipExporter::run()
{
    if (!ExportSettings::containerFor(m_settings.output, m_container))
        throw Failure(QStringLiteral("%1: unknown kind of video; the output must end in .mp4 or "
                                     ".webm")
                          .arg(m_settings.output));
    const QString problem = m_settings.check();
    if (!problem.isEmpty())
        throw Failure(problem);
    const QFileInfo source(m_settings.recording);
    if (!source.isFile())
        throw Failure(QStringLiteral("%1: %2").arg(m_settings.recording,
                                                   source.exists() ? QStringLiteral("not a file")
                                                                   : QStringLiteral("no such file")));
    const QFileInfo target(m_settings.output);
    if (target.exists() && target.canonicalFilePath() == source.canonicalFilePath())
        throw Failure(QStringLiteral("%1: the output would replace the recording")
                          .arg(m_settings.output));
    if (target.exists() && target.isDir())
        throw Failure(QStringLiteral("%1: is a folder").arg(m_settings.output));

    const Range range = checkRange();
    Result result;
    result.fromMs = range.from;

    Playhead playhead;
    HeadlessView view;
    playhead.setView(&view);
    playhead.setDamageHandler([this, &result](const RecordReader::Damage& d) {
        ++result.damagedParts;
        notice(QStringLiteral("passed over a damaged part from %1 to %2 (bytes %3 to %4: %5)")
                   .arg(timeText(d.timeBefore), timeText(d.timeAfter))
                   .arg(d.from).arg(d.to).arg(d.what()));
    });
    RecordFileHeader header;
    try {
        playhead.open(m_settings.recording, header);
        seekToStart(playhead, view);
    } catch (const Exception& e) {
        throw Failure(QStringLiteral("%1: %2").arg(m_settings.recording, describe(e)));
    }

    m_sourceSize = QSize(view.frame().width(), view.frame().height());
    if (m_sourceSize.isEmpty())
        m_sourceSize = probeScreenSize();
    if (m_sourceSize.isEmpty())
        throw Failure(QStringLiteral("%1: the recording describes no screen")
                          .arg(m_settings.recording));

    PartFile::removeStale(m_settings.output);
    PartFile part;
    QString error;
    if (!part.create(m_settings.output, error))
        throw Failure(QStringLiteral("cannot write in %1: %2")
                          .arg(target.absolutePath(), error));

    MediaWriter writer;
    try {
        writer.open(part.path(), m_container, m_settings.videoSizeFor(m_sourceSize), m_settings.fps,
                    m_settings.crfFor(m_container), m_settings.sound);
        QFile soundFile(m_settings.recording);
        RecordReader soundReader(&soundFile);
        RecordUnitHeader soundUnit;
        Array<unsigned char, int> soundPayload, soundPacked;
        if (m_settings.sound && !soundFile.open(QIODevice::ReadOnly))
            throw Failure(QStringLiteral("%1: %2").arg(m_settings.recording, soundFile.errorString()));
        SoundMixer mixer(range.from, [&writer](const int16_t* samples, int frames) {
            writer.writeSound(samples, frames);
        });

        const quint64 interval = (1000 + static_cast<quint64>(m_settings.fps) - 1)
            / static_cast<quint64>(m_settings.fps);
        const quint64 total = range.end - range.from;
        quint64 current = range.from;  // every unit up to this time is applied
        quint64 lastStamp = range.from;
        bool started = false;
        quint64 seenScreen = 0, seenPointer = 0;
        auto emitAt = [&](quint64 ms) {
            writePicture(view, writer, ms);
            lastStamp = ms;
            seenScreen = view.screenChanges();
            seenPointer = view.pointerChanges();
        };
        auto changed = [&]() {
            return view.screenChanges() != seenScreen
                || (m_settings.cursor && view.pointerChanges() != seenPointer);
        };

        bool have = playhead.m_pending || playhead.readUnit();
        while (have) {
            if (cancelled()) {
                result.outcome = Cancelled;
                return result;
            }
            const quint64 t = playhead.unitTime();
            if (t > range.end)
                break;
            if (t > current) {
                // Time moves on: the picture of `current` is complete.
                if (!started) {
                    emitAt(range.from);
                    started = true;
                } else if (changed()) {
                    const quint64 stamp = std::max(current, lastStamp + interval);
                    if (stamp < t)
                        emitAt(stamp);
                }
                if (m_settings.sound)
                    mixer.advanceTo(t);
                current = t;
                if (m_progress)
                    m_progress(current - range.from, total);
            }
            switch (playhead.unit().kind()) {
            case RecordUnitHeader::KIND_CONTROL:
                playhead.applyControlUnit();
                break;
            case RecordUnitHeader::KIND_SCREEN:
                playhead.applyScreenUnit();
                break;
            case RecordUnitHeader::KIND_AUDIO_CAP:
            case RecordUnitHeader::KIND_AUDIO_SPK:
                if (m_settings.sound) {
                    // The playhead passes over sound with its header only (the
                    // player reads sound on its own); the payload is read here
                    // through a reader of our own at the unit's offset.
                    const int kind = playhead.unit().kind();
                    Array<unsigned char, int>* payload = &playhead.payload();
                    int channels = playhead.unit().m_channels;
                    if (payload->count() == 0 && soundFile.isOpen()
                        && soundReader.seekUnit(playhead.unitOffset(), t)
                        && soundReader.readUnit(soundUnit, soundPayload, soundPacked)
                               == RecordReader::Unit
                        && soundUnit.kind() == kind) {
                        payload = &soundPayload;
                        channels = soundUnit.m_channels;
                    }
                    mixer.add(kind == RecordUnitHeader::KIND_AUDIO_CAP ? 0 : 1, t, payload->data(),
                              payload->count(), channels);
                }
                break;
            default:
                break;
            }
            playhead.m_pending = false;
            have = playhead.readUnit();
        }
        if (!started)
            emitAt(range.from);
        else if (changed()) {
            const quint64 stamp = std::max(current, lastStamp + interval);
            if (stamp <= range.end)
                emitAt(stamp);
        }
        // Each picture lasts one interval unless the next comes sooner, so the
        // last one is stamped an interval before the range's end, and the
        // video ends with the range.
        const quint64 lastAt = range.end >= range.from + interval ? range.end - interval
                                                                  : range.from;
        if (lastAt >= lastStamp + interval)
            emitAt(lastAt);
        if (m_settings.sound)
            mixer.finish(range.end);
        writer.finish();
        if (m_progress)
            m_progress(total, total);
    } catch (const MediaWriter::Error& e) {
        throw Failure(QStringLiteral("%1: %2").arg(m_settings.output, e.text));
    } catch (const IncorrectFormatException&) {
        throw Failure(QStringLiteral("%1: nothing readable follows a damaged part")
                          .arg(m_settings.recording));
    } catch (const Exception& e) {
        throw Failure(QStringLiteral("%1: %2").arg(m_settings.recording, describe(e)));
    }

    if (cancelled()) {
        result.outcome = Cancelled;
        return result;
    }
    if (!part.commit(error))
        throw Failure(QStringLiteral("%1: cannot put the video in place: %2")
                          .arg(m_settings.output, error));
    if (range.endedEarly)
        notice(QStringLiteral("the recording ends early, at %1 (it was cut off); the export "
                              "ends there")
                   .arg(timeText(range.end)));
    result.toMs = range.end;
    result.videoSize = writer.videoSize();
    result.pictures = writer.picturesWritten();
    result.soundFrames = writer.soundFramesWritten();
    result.endedEarly = range.endedEarly;
    return result;
}
