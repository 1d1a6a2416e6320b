// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool info: what a recording holds, as text or JSON.

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>

#include "Exception.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "RecordReader.h"
#include "SessionTool.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool info FILE [--json]\n"
    "\n"
    "Describes a recording: the file header (magic, duration, session id), the\n"
    "screen size, the units counted and summed by kind (stored and payload\n"
    "bytes), compressed units, the audio streams' channel counts, the first and\n"
    "last unit time, and whether an index exists and is valid. Warns of a\n"
    "truncated last unit and of damaged parts (units of unknown kind, sizes or\n"
    "times that cannot be right, payloads that do not decompress), which the\n"
    "count passes over as playback does ('sessiontool check' lists them).\n"
    "\n"
    "Options:\n"
    "  --json     print the same as one JSON object\n"
    "  --help     show this text\n";

const char* const kKindNames[] = {"control", "screen", "info", "audio Cap", "audio Spk"};
const char* const kKindKeys[] = {"control", "screen", "info", "audioCap", "audioSpk"};

struct KindStats
{
    quint64 units = 0;
    quint64 stored = 0;
    quint64 payload = 0;
};

struct Screen
{
    int width;
    int height;
    int jpegScale;
    quint64 time;
};

struct AudioStats
{
    QMap<int, quint64> unitsByChannels;
    double seconds = 0;
};

struct Info
{
    QString file;
    RecordFileHeader header;
    KindStats kinds[5];
    quint64 units = 0;
    quint64 stored = 0;
    quint64 payload = 0;
    quint64 compressed = 0;
    quint64 compressedStored = 0;
    QMap<int, quint64> screenCodes;
    quint64 mousePositions = 0;
    quint64 cursorRecords = 0;
    quint64 otherControl = 0;
    QList<Screen> screens;
    AudioStats audio[2];
    bool haveUnits = false;
    quint64 firstTime = 0;
    quint64 lastTime = 0;
    QStringList warnings;

    QString indexFile;
    bool indexExists = false;
    bool indexValid = false;
    int indexEntries = 0;
    quint64 firstKeyFrame = 0;
    quint64 lastKeyFrame = 0;
    IndexFile::LoadReport indexReport;
};

QString hex(quint64 v, int digits)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

void noteScreen(Info& info, const Array<unsigned char, int>& p, quint64 time)
{
    if (p.count() < 1)
        return;
    const int code = p[0];
    ++info.screenCodes[code];
    if (code == 0xE9 && p.count() >= 7) {
        const Screen s{(p[2] << 8) | p[3], (p[4] << 8) | p[5], p[6], time};
        if (info.screens.isEmpty() || info.screens.last().width != s.width
            || info.screens.last().height != s.height || info.screens.last().jpegScale != s.jpegScale)
            info.screens.append(s);
    }
}

void noteControl(Info& info, const Array<unsigned char, int>& p)
{
    if (p.count() >= 9 && p[0] == 0x0B)
        ++info.mousePositions;
    else if (p.count() >= 2 && p[0] == 0x28 && p[1] == 0xE1)
        ++info.cursorRecords;
    else
        ++info.otherControl;
}

// Reads every unit the player would play, past damage as the player passes
// over it. Throws what opening throws.
void scan(QFile& file, Info& info)
{
    RecordReader reader(&file);
    reader.readFileHeader(info.header);
    RecordUnitHeader h;
    Array<unsigned char, int> payload, packed;
    auto warnDamage = [&](const RecordReader::Damage& d) {
        info.warnings.append(
            d.toEnd ? QStringLiteral("damaged from offset %1 to the end (after %2 ms): %3; "
                                     "playback stops there with \"Invalid File format\"")
                          .arg(d.from)
                          .arg(d.timeBefore)
                          .arg(d.what())
                    : QStringLiteral("damaged part at offsets %1 to %2 (%3 ms to %4 ms): %5; "
                                     "playback passes over it")
                          .arg(d.from)
                          .arg(d.to)
                          .arg(d.timeBefore)
                          .arg(d.timeAfter)
                          .arg(d.what()));
    };
    for (;;) {
        RecordReader::Result r = reader.readUnitHeader(h);
        if (r == RecordReader::End)
            break;
        if (r == RecordReader::Truncated) {
            info.warnings.append(
                QStringLiteral("truncated last unit at offset %1: it needs %2 bytes, the file "
                               "holds %3; the recording ends before it")
                    .arg(reader.unitPos())
                    .arg(reader.truncatedNeeded())
                    .arg(reader.truncatedHeld()));
            break;
        }
        if (r == RecordReader::Damaged) {
            warnDamage(reader.damage());
            continue;
        }
        if (r != RecordReader::Unit)
            break;
        const quint64 stored = h.m_size;
        const bool compressed = h.isCompressed();
        const quint64 time = h.m_time;
        r = reader.readPayload(h, payload, packed);
        if (r == RecordReader::Damaged) {
            warnDamage(reader.damage());
            continue;
        }
        if (r != RecordReader::Unit)
            continue; // the file shrank while reading: the next call says how

        if (!info.haveUnits) {
            info.firstTime = time;
            info.haveUnits = true;
        }
        info.lastTime = time;
        ++info.units;
        info.stored += RecordUnitHeader::SIZE + stored;
        info.payload += h.m_size;
        if (compressed) {
            ++info.compressed;
            info.compressedStored += stored;
        }
        const int kind = h.kind();
        KindStats& k = info.kinds[kind - 1];
        ++k.units;
        k.stored += stored;
        k.payload += h.m_size;
        if (kind == RecordUnitHeader::KIND_SCREEN) {
            noteScreen(info, payload, time);
        } else if (kind == RecordUnitHeader::KIND_CONTROL) {
            noteControl(info, payload);
        } else if (kind >= RecordUnitHeader::KIND_AUDIO_CAP) {
            AudioStats& a = info.audio[kind - RecordUnitHeader::KIND_AUDIO_CAP];
            ++a.unitsByChannels[h.m_channels];
            if (h.m_channels > 0)
                a.seconds += double(h.m_size) / 2.0 / h.m_channels / 48000.0;
        }
    }
}

void inspectIndex(const QString& path, qint64 recordingSize, Info& info)
{
    // The index the player would load: beside the recording, else in the
    // cache folder.
    const QStringList found = IndexLocation().existing(path);
    info.indexFile = found.isEmpty() ? IndexLocation::besidePath(path) : found.first();
    QFile index(info.indexFile);
    info.indexExists = index.exists();
    if (!info.indexExists)
        return;
    if (!index.open(QIODevice::ReadOnly)) {
        info.indexReport.problem = QStringLiteral("cannot be opened: ") + index.errorString();
        return;
    }
    IndexFileHeader header;
    Array<IndexEntryPoint, int> entries;
    try {
        info.indexValid = IndexFile::load(index, header, entries, recordingSize, &info.indexReport);
    } catch (const Exception& e) {
        info.indexReport.problem = SessionTool::describe(e);
    }
    info.indexEntries = entries.count();
    if (entries.count() > 0) {
        info.firstKeyFrame = entries[0].m_time;
        info.lastKeyFrame = entries[entries.count() - 1].m_time;
    }
}

QString audioText(const AudioStats& a)
{
    if (a.unitsByChannels.isEmpty())
        return QStringLiteral("none");
    QStringList counts;
    for (auto it = a.unitsByChannels.cbegin(); it != a.unitsByChannels.cend(); ++it)
        counts.append(QString::number(it.key()));
    const bool one = a.unitsByChannels.size() == 1 && a.unitsByChannels.firstKey() == 1;
    return QStringLiteral("%1 channel%2, %3 s")
        .arg(counts.join(QStringLiteral(" and ")), one ? QString() : QStringLiteral("s"))
        .arg(a.seconds, 0, 'f', 3);
}

// The index's name: the file name beside the recording, the whole path in
// the cache folder (its name alone says nothing).
QString indexName(const Info& info)
{
    return IndexLocation().inCache(info.indexFile) ? QDir::toNativeSeparators(info.indexFile)
                                                   : QFileInfo(info.indexFile).fileName();
}

QString indexText(const Info& info)
{
    if (!info.indexExists)
        return QStringLiteral("none (%1)").arg(indexName(info));
    QString t = indexName(info) + QStringLiteral(": ");
    if (!info.indexValid)
        return t + QStringLiteral("invalid (%1)").arg(info.indexReport.problem);
    t += QStringLiteral("valid, %1 key frame%2").arg(info.indexEntries).arg(info.indexEntries == 1 ? "" : "s");
    if (info.indexEntries > 0)
        t += QStringLiteral(" from %1 ms to %2 ms").arg(info.firstKeyFrame).arg(info.lastKeyFrame);
    if (info.indexReport.trailingEmpty > 0 || info.indexReport.unusable > 0)
        t += QStringLiteral(" (table of %1: %2 empty, %3 unusable)")
                 .arg(info.indexReport.declaredCount)
                 .arg(info.indexReport.trailingEmpty)
                 .arg(info.indexReport.unusable);
    return t;
}

QString text(const Info& info)
{
    QString out;
    auto line = [&out](const char* label, const QString& value) {
        out += QStringLiteral("%1 %2\n").arg(QLatin1String(label), -13).arg(value);
    };
    line("file", info.file);
    line("magic", hex(info.header.m_magic, 8));
    line("duration", QStringLiteral("%1 ms (%2)").arg(info.header.m_duration).arg(SessionTool::clockText(info.header.m_duration)));
    line("session id", info.header.sessionId());
    if (info.screens.isEmpty()) {
        line("screen", QStringLiteral("none"));
    } else {
        for (const Screen& s : info.screens)
            line("screen", QStringLiteral("%1 x %2, JPEG scale factor %3, from %4 ms")
                               .arg(s.width).arg(s.height).arg(s.jpegScale).arg(s.time));
    }
    line("units", QStringLiteral("%1 in %2 bytes with their headers (%3 payload bytes)")
                      .arg(info.units).arg(info.stored).arg(info.payload));
    out += QStringLiteral("  %1 %2 %3 %4\n")
               .arg(QLatin1String("kind"), -11)
               .arg(QLatin1String("units"), 9)
               .arg(QLatin1String("stored"), 12)
               .arg(QLatin1String("payload"), 12);
    for (int k = 0; k < 5; ++k)
        out += QStringLiteral("  %1 %2 %3 %4\n")
                   .arg(QLatin1String(kKindNames[k]), -11)
                   .arg(info.kinds[k].units, 9)
                   .arg(info.kinds[k].stored, 12)
                   .arg(info.kinds[k].payload, 12);
    line("compressed", QStringLiteral("%1 units, %2 bytes stored").arg(info.compressed).arg(info.compressedStored));
    QStringList codes;
    for (auto it = info.screenCodes.cbegin(); it != info.screenCodes.cend(); ++it)
        codes.append(QStringLiteral("%1: %2").arg(it.key(), 2, 16, QLatin1Char('0')).arg(it.value()).toUpper());
    line("screen codes", codes.isEmpty() ? QStringLiteral("none") : codes.join(QStringLiteral(", ")));
    line("control", QStringLiteral("mouse positions %1, cursor records %2, other %3")
                        .arg(info.mousePositions).arg(info.cursorRecords).arg(info.otherControl));
    line("audio Cap", audioText(info.audio[0]));
    line("audio Spk", audioText(info.audio[1]));
    line("first unit", info.haveUnits ? QStringLiteral("%1 ms").arg(info.firstTime) : QStringLiteral("none"));
    line("last unit", info.haveUnits ? QStringLiteral("%1 ms").arg(info.lastTime) : QStringLiteral("none"));
    line("index", indexText(info));
    for (const QString& w : info.warnings)
        line("warning", w);
    return out;
}

QJsonObject kindJson(const KindStats& k)
{
    return QJsonObject{{QStringLiteral("units"), double(k.units)},
                       {QStringLiteral("storedBytes"), double(k.stored)},
                       {QStringLiteral("payloadBytes"), double(k.payload)}};
}

QJsonObject audioJson(const AudioStats& a)
{
    QJsonArray channels;
    quint64 units = 0;
    for (auto it = a.unitsByChannels.cbegin(); it != a.unitsByChannels.cend(); ++it) {
        channels.append(it.key());
        units += it.value();
    }
    return QJsonObject{{QStringLiteral("channels"), channels},
                       {QStringLiteral("units"), double(units)},
                       {QStringLiteral("seconds"), qRound64(a.seconds * 1000) / 1000.0}};
}

QString json(const Info& info)
{
    QJsonObject root;
    root[QStringLiteral("file")] = info.file;
    root[QStringLiteral("magic")] = hex(info.header.m_magic, 8);
    root[QStringLiteral("durationMs")] = double(info.header.m_duration);
    root[QStringLiteral("sessionId")] = info.header.sessionId();
    QJsonArray screens;
    for (const Screen& s : info.screens)
        screens.append(QJsonObject{{QStringLiteral("width"), s.width},
                                   {QStringLiteral("height"), s.height},
                                   {QStringLiteral("jpegScale"), s.jpegScale},
                                   {QStringLiteral("fromMs"), double(s.time)}});
    root[QStringLiteral("screens")] = screens;
    QJsonObject kinds;
    for (int k = 0; k < 5; ++k)
        kinds[QLatin1String(kKindKeys[k])] = kindJson(info.kinds[k]);
    root[QStringLiteral("units")] = QJsonObject{
        {QStringLiteral("total"), double(info.units)},
        {QStringLiteral("storedBytes"), double(info.stored)},
        {QStringLiteral("payloadBytes"), double(info.payload)},
        {QStringLiteral("byKind"), kinds},
        {QStringLiteral("compressed"), double(info.compressed)},
        {QStringLiteral("compressedStoredBytes"), double(info.compressedStored)}};
    QJsonObject codes;
    for (auto it = info.screenCodes.cbegin(); it != info.screenCodes.cend(); ++it)
        codes[QString::number(it.key(), 16).toUpper()] = double(it.value());
    root[QStringLiteral("screenCodes")] = codes;
    root[QStringLiteral("control")] =
        QJsonObject{{QStringLiteral("mousePositions"), double(info.mousePositions)},
                    {QStringLiteral("cursorRecords"), double(info.cursorRecords)},
                    {QStringLiteral("other"), double(info.otherControl)}};
    root[QStringLiteral("audio")] = QJsonObject{{QStringLiteral("Cap"), audioJson(info.audio[0])},
                                                {QStringLiteral("Spk"), audioJson(info.audio[1])}};
    root[QStringLiteral("firstUnitMs")] = info.haveUnits ? QJsonValue(double(info.firstTime)) : QJsonValue();
    root[QStringLiteral("lastUnitMs")] = info.haveUnits ? QJsonValue(double(info.lastTime)) : QJsonValue();
    QJsonObject index{{QStringLiteral("file"), indexName(info)},
                      {QStringLiteral("exists"), info.indexExists},
                      {QStringLiteral("valid"), info.indexValid}};
    if (info.indexExists && !info.indexValid)
        index[QStringLiteral("problem")] = info.indexReport.problem;
    if (info.indexValid) {
        index[QStringLiteral("keyFrames")] = info.indexEntries;
        index[QStringLiteral("tableEntries")] = double(info.indexReport.declaredCount);
        index[QStringLiteral("emptyEntries")] = info.indexReport.trailingEmpty;
        index[QStringLiteral("unusableEntries")] = info.indexReport.unusable;
        if (info.indexEntries > 0) {
            index[QStringLiteral("firstKeyFrameMs")] = double(info.firstKeyFrame);
            index[QStringLiteral("lastKeyFrameMs")] = double(info.lastKeyFrame);
        }
    }
    root[QStringLiteral("index")] = index;
    root[QStringLiteral("warnings")] = QJsonArray::fromStringList(info.warnings);
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

} // namespace

namespace SessionTool {

int info(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringLiteral("json")));
    if (const int status = parseCommand(parser, "info", kHelp, args); status >= 0)
        return status;
    if (parser.positionalArguments().size() != 1) {
        printError(QStringLiteral("info takes one FILE (try 'sessiontool info --help')"));
        return ExitUsage;
    }

    Info result;
    result.file = parser.positionalArguments().first();
    QFile file(result.file);
    if (!file.open(QIODevice::ReadOnly)) {
        printFileError(result.file, file.errorString());
        return ExitFailed;
    }
    if (file.size() < RecordFileHeader::SIZE) {
        printFileError(result.file, QStringLiteral("not a recorded session (shorter than the "
                                                   "32-byte file header)"));
        return ExitFailed;
    }
    try {
        scan(file, result);
    } catch (const IncorrectFileException&) {
        printFileError(result.file, QStringLiteral("not a recorded session (magic %1)")
                                        .arg(hex(result.header.m_magic, 8)));
        return ExitFailed;
    } catch (const Exception& e) {
        printFileError(result.file, describe(e));
        return ExitFailed;
    }
    inspectIndex(result.file, file.size(), result);
    printOut(parser.isSet(QStringLiteral("json")) ? json(result) : text(result));
    return ExitOk;
}

} // namespace SessionTool
