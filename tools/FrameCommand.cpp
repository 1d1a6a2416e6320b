// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool frame: the screen at a moment of a recording, as a PNG image,
// reached the way the player reaches it after a seek.

#include <QCommandLineParser>
#include <QFile>
#include <QImage>
#include <QList>
#include <QSaveFile>

#include <cmath>

#include "Exception.h"
#include "GridDecoder.h"
#include "HeadlessView.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "RecordReader.h"
#include "RecordScan.h"
#include "Seeking.h"
#include "SessionTool.h"
#include "UnitDispatch.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool frame FILE --at SECONDS -o OUT.png [--cursor]\n"
    "\n"
    "Writes the screen as it stands once every unit with a time up to SECONDS\n"
    "(a fraction is allowed: 14.25) has been applied, and no later one. It is\n"
    "reached as the player reaches it: from the key frame the player's seek\n"
    "would restore when the recording has a valid index, from the start\n"
    "otherwise, then the units up to SECONDS in order. Damaged parts are passed\n"
    "over as the player passes over them, and named. A moment past the end of\n"
    "the recording fails, naming the last time it can show.\n"
    "\n"
    "Options:\n"
    "  --at SECONDS   the moment, in seconds from the start of the recording\n"
    "  -o OUT.png     the image to write\n"
    "  --cursor       draw the mouse pointer as the player does: the last\n"
    "                 cursor shape at the last mouse position (the standard\n"
    "                 arrow for a shape the recording never described)\n"
    "  --help         show this text\n";

// Why a frame cannot be made; carries the one-line message.
struct Failure
{
    QString message;
};

class FrameMaker
{
public:
    FrameMaker(const QString& path, quint64 target, bool cursor)
        : m_path(path), m_target(target), m_cursor(cursor)
    {
        m_decoder.m_listener = &m_view;
    }

    // Builds the screen into the view; returns how it started ("the start"
    // or the key frame's time).
    QString build()
    {
        m_file.setFileName(m_path);
        if (!m_file.open(QIODevice::ReadOnly))
            throw Failure{m_file.errorString()};
        m_reader.setDevice(&m_file);
        RecordFileHeader header;
        try {
            m_reader.readFileHeader(header);
        } catch (const IncorrectFileException&) {
            throw Failure{QStringLiteral("not a recorded session")};
        }
        // Nothing can be shown past the end of what the recording holds.
        const RecordScan::Result extent = RecordScan::scanFile(m_path);
        if (m_target > extent.shownDuration())
            throw Failure{QStringLiteral("the recording ends at %1 s, the last time it can show; "
                                         "there is nothing at %2 s")
                              .arg(extent.shownDuration() / 1000.0, 0, 'f', 3)
                              .arg(m_target / 1000.0, 0, 'f', 3)};

        QString from = QStringLiteral("the start");
        bool fromKeyFrame = restoreFromIndex(from);
        if (fromKeyFrame) {
            if (m_cursor)
                scanPointer();
        } else {
            m_decoder.reset();
            m_view.clearScreen();
            m_screenStarted = false;
            m_reader.rewind();
        }
        replay(!fromKeyFrame && m_cursor);
        return from;
    }

    HeadlessView& view() { return m_view; }
    // The damaged stretches passed over on the way to the target.
    const QList<RecordReader::Damage>& damage() const { return m_damage; }

private:
    // The player's entry choice and key-frame restore; leaves the recording
    // just after the unit the key frame contains.
    bool restoreFromIndex(QString& from)
    {
        // The first index that loads, beside the recording or in the cache.
        QFile index;
        IndexFileHeader header;
        Array<IndexEntryPoint, int> entries;
        bool loaded = false;
        for (const QString& path : IndexLocation().existing(m_path)) {
            index.setFileName(path);
            if (index.open(QIODevice::ReadOnly)
                && IndexFile::load(index, header, entries, m_file.size())) {
                loaded = true;
                break;
            }
            index.close();
        }
        if (!loaded)
            return false;
        const int e =
            Seeking::chooseRestorableEntry(entries, static_cast<long long>(m_target), m_reader);
        if (e == Seeking::RESTART)
            return false;
        const IndexEntryPoint& entry = entries[e];
        if (!Seeking::restoreKeyFrame(index, entry, header.m_flags, m_decoder, &m_view, m_packed,
                                      m_keyFrame))
            return false;
        // The unit at the entry's position is already in the key frame.
        if (!m_reader.seekUnit(static_cast<qint64>(entry.m_filePos), entry.m_time)
            || m_reader.readUnit(m_unit, m_payload, m_packed) != RecordReader::Unit)
            return false;
        m_screenStarted = true;
        from = QStringLiteral("the key frame at %1 s").arg(entry.m_time / 1000.0, 0, 'f', 3);
        return true;
    }

    // Applies the units from the current position while their time is at
    // most the target: screen units always, control units when asked.
    void replay(bool control)
    {
        for (;;) {
            const RecordReader::Result r = m_reader.readUnitHeader(m_unit);
            if (r == RecordReader::Damaged) {
                noteDamage();
                continue;
            }
            if (r != RecordReader::Unit)
                return; // the end, or a cut-off last unit: the recording ends
            if (m_unit.m_time > m_target)
                return;
            const int kind = m_unit.kind();
            if (kind == RecordUnitHeader::KIND_SCREEN
                || (control && kind == RecordUnitHeader::KIND_CONTROL)) {
                readPayload();
                if (kind == RecordUnitHeader::KIND_SCREEN)
                    UnitDispatch::processScreenUnit(m_payload.data(), m_payload.count(), m_decoder,
                                                    &m_view, m_screenStarted);
                else
                    UnitDispatch::processControlUnit(m_payload.data(), m_payload.count(), &m_view);
            } else {
                m_reader.skipPayload(m_unit);
            }
        }
    }

    // The pointer's state at the target, from the start of the recording:
    // mouse positions and cursor records, and the view resets that drop the
    // cached cursors (an end of frame with reset after a pause text).
    void scanPointer()
    {
        const qint64 resume = m_file.pos();
        m_reader.rewind();
        for (;;) {
            const RecordReader::Result r = m_reader.readUnitHeader(m_unit);
            if (r == RecordReader::Damaged)
                continue;
            if (r != RecordReader::Unit || m_unit.m_time > m_target)
                break;
            const int kind = m_unit.kind();
            if (kind != RecordUnitHeader::KIND_CONTROL && kind != RecordUnitHeader::KIND_SCREEN) {
                m_reader.skipPayload(m_unit);
                continue;
            }
            readPayload();
            if (kind == RecordUnitHeader::KIND_CONTROL) {
                UnitDispatch::processControlUnit(m_payload.data(), m_payload.count(), &m_view);
            } else if (m_payload.count() > 0) {
                const unsigned char code = m_payload[0];
                if (code == UnitDispatch::SCREEN_PAUSE)
                    m_view.onPause(false);
                else if (code == UnitDispatch::SCREEN_END_RESET && m_view.isInfoShown())
                    m_view.reset();
            }
        }
        m_file.seek(resume);
    }

    // A payload that does not inflate is damage: the unit is passed over
    // (its payload left empty, which no handler applies).
    void readPayload()
    {
        const RecordReader::Result r = m_reader.readPayload(m_unit, m_payload, m_packed);
        if (r == RecordReader::Damaged)
            noteDamage();
        if (r != RecordReader::Unit)
            m_payload.setCount(0);
    }

    void noteDamage() { m_damage.append(m_reader.damage()); }

    QString m_path;
    quint64 m_target;
    bool m_cursor;
    QFile m_file;
    RecordReader m_reader;
    RecordUnitHeader m_unit;
    Array<unsigned char, int> m_payload;
    Array<unsigned char, int> m_packed;
    Array<unsigned char, int> m_keyFrame;
    GridDecoder m_decoder;
    HeadlessView m_view;
    bool m_screenStarted = false;
    QList<RecordReader::Damage> m_damage;
};

} // namespace

namespace SessionTool {

int frame(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption at(QStringLiteral("at"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption out(QStringLiteral("o"), QString(), QStringLiteral("OUT.png"));
    const QCommandLineOption cursor(QStringLiteral("cursor"));
    parser.addOptions({at, out, cursor});
    if (const int status = parseCommand(parser, "frame", kHelp, args); status >= 0)
        return status;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(at) || !parser.isSet(out)) {
        printError(QStringLiteral("frame takes FILE, --at SECONDS and -o OUT.png (try "
                                  "'sessiontool frame --help')"));
        return ExitUsage;
    }
    bool ok = false;
    const double seconds = parser.value(at).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 1e12) {
        printError(QStringLiteral("--at wants a number of seconds, not '%1'").arg(parser.value(at)));
        return ExitUsage;
    }
    const quint64 target = static_cast<quint64>(std::llround(seconds * 1000.0));
    const QString path = parser.positionalArguments().first();

    FrameMaker maker(path, target, parser.isSet(cursor));
    QString from;
    try {
        from = maker.build();
    } catch (const Failure& f) {
        printFileError(path, f.message);
        return ExitFailed;
    } catch (const Exception& e) {
        printFileError(path, describe(e));
        return ExitFailed;
    }

    QImage image = maker.view().image();
    if (image.isNull()) {
        printFileError(path, QStringLiteral("no screen has been described by %1 s")
                                 .arg(seconds, 0, 'f', 3));
        return ExitFailed;
    }
    if (parser.isSet(cursor))
        maker.view().drawPointer(image);
    // Written beside the target and renamed: a failed write leaves no half
    // image behind.
    const QString outPath = parser.value(out);
    QSaveFile png(outPath);
    if (!png.open(QIODevice::WriteOnly)) {
        printFileError(outPath, QStringLiteral("cannot write the image: ") + png.errorString());
        return ExitFailed;
    }
    if (!image.save(&png, "PNG") || !png.commit()) {
        printFileError(outPath, QStringLiteral("cannot write the image: ") + png.errorString());
        return ExitFailed;
    }
    QString line = QStringLiteral("%1: %2 x %3 at %4 s, from %5")
                       .arg(outPath)
                       .arg(image.width())
                       .arg(image.height())
                       .arg(target / 1000.0, 0, 'f', 3)
                       .arg(from);
    const QList<RecordReader::Damage>& damage = maker.damage();
    if (!damage.isEmpty()) {
        QStringList parts;
        for (const RecordReader::Damage& d : damage)
            parts.append(QStringLiteral("%1 to %2 s")
                             .arg(d.timeBefore / 1000.0, 0, 'f', 3)
                             .arg(d.timeAfter / 1000.0, 0, 'f', 3));
        line += QStringLiteral("; passed over %1 damaged part%2 (%3)")
                    .arg(damage.size())
                    .arg(damage.size() == 1 ? "" : "s")
                    .arg(parts.join(QStringLiteral(", ")));
    }
    printOut(line + QLatin1Char('\n'));
    return ExitOk;
}

} // namespace SessionTool
