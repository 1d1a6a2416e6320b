// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool check: reads every unit of recordings as the player would and
// reports what is damaged, one line each, with a summary.

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include "Exception.h"
#include "RecordReader.h"
#include "RecordScan.h"
#include "SessionTool.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool check FILE... [--json]\n"
    "\n"
    "Reads every unit of each recording, as the player does, and reports one\n"
    "line for each damaged part (its offsets, the media times around it and\n"
    "what was wrong: a unit of unknown kind, a size or a time that cannot be\n"
    "right, a payload that does not decompress), the cut-off tail of a\n"
    "recording that was not written to its end, and a summary: the time that\n"
    "plays and the time lost to damage. A header whose duration does not match\n"
    "the units is noted; it is not damage ('sessiontool repair' mends it when\n"
    "the header says 0).\n"
    "\n"
    "Exit status: 0 clean, 1 unreadable or not a recording, 2 wrong use,\n"
    "3 damaged; with several files, the highest.\n"
    "\n"
    "Options:\n"
    "  --json     print the same as a JSON array, one object per file\n"
    "  --help     show this text\n";

const char* const kProblemKeys[] = {"none",        "unknownKind", "sizeOverBound",
                                    "sizePastEnd", "timeJump",    "notInflating"};

struct FileCheck
{
    QString file;
    int status = SessionTool::ExitOk;
    QString problem;                   // why it is unreadable
    quint64 headerDuration = 0;
    quint64 units = 0;
    quint64 realEnd = 0;
    QList<RecordReader::Damage> damage; // the first RecordScan::MAX_DAMAGE_KEPT
    int damageCount = 0;
    quint64 damagedMs = 0;
    bool truncated = false;
    qint64 truncatedAt = 0;
    quint64 truncatedNeeded = 0;
    qint64 truncatedHeld = 0;

    quint64 playableMs() const { return realEnd > damagedMs ? realEnd - damagedMs : 0; }
    bool durationNote() const
    {
        return units > 0
            && (headerDuration < realEnd
                || headerDuration > realEnd + RecordScan::EARLY_END_MARGIN_MS);
    }
};

FileCheck checkFile(const QString& path)
{
    FileCheck c;
    c.file = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.status = SessionTool::ExitFailed;
        c.problem = file.errorString();
        return c;
    }
    RecordReader reader(&file);
    RecordFileHeader header;
    try {
        reader.readFileHeader(header);
    } catch (const IncorrectFileException&) {
        c.status = SessionTool::ExitFailed;
        c.problem = QStringLiteral("not a recorded session");
        return c;
    }
    c.headerDuration = header.m_duration;

    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed;
    auto note = [&c](const RecordReader::Damage& d) {
        if (c.damage.size() < RecordScan::MAX_DAMAGE_KEPT)
            c.damage.append(d);
        ++c.damageCount;
        if (d.timeAfter > d.timeBefore)
            c.damagedMs += d.timeAfter - d.timeBefore;
    };
    for (;;) {
        RecordReader::Result r = reader.readUnitHeader(unit);
        if (r == RecordReader::Unit) {
            const quint64 time = unit.m_time;
            // Only a compressed payload can be wrong in a way the reader sees.
            if (unit.isCompressed())
                r = reader.readPayload(unit, payload, packed);
            else
                reader.skipPayload(unit);
            if (r == RecordReader::Unit) {
                ++c.units;
                c.realEnd = std::max(c.realEnd, time);
                continue;
            }
        }
        if (r == RecordReader::Damaged) {
            note(reader.damage());
            continue;
        }
        if (r == RecordReader::Truncated) {
            c.truncated = true;
            c.truncatedAt = reader.unitPos();
            c.truncatedNeeded = reader.truncatedNeeded();
            c.truncatedHeld = reader.truncatedHeld();
        }
        break;
    }
    if (c.damageCount > 0 || c.truncated)
        c.status = SessionTool::ExitDamaged;
    return c;
}

QString damageLine(const RecordReader::Damage& d)
{
    using SessionTool::clockText;
    if (d.problem == RecordReader::NotInflating)
        return QStringLiteral("unit at offset %1 (%2) does not decompress")
            .arg(d.from)
            .arg(clockText(d.time));
    if (d.toEnd)
        return QStringLiteral("damaged from offset %1 to the end (after %2): %3; nothing "
                              "plausible follows")
            .arg(d.from)
            .arg(clockText(d.timeBefore), d.what());
    return QStringLiteral("damaged part at offsets %1 to %2 (%3 to %4): %5")
        .arg(d.from)
        .arg(d.to)
        .arg(clockText(d.timeBefore), clockText(d.timeAfter), d.what());
}

QString text(const FileCheck& c)
{
    using SessionTool::clockText;
    QString out;
    auto line = [&](const QString& s) { out += c.file + QStringLiteral(": ") + s + QLatin1Char('\n'); };
    for (const RecordReader::Damage& d : c.damage)
        line(damageLine(d));
    if (c.damageCount > c.damage.size())
        line(QStringLiteral("%1 more damaged parts").arg(c.damageCount - c.damage.size()));
    if (c.truncated)
        line(QStringLiteral("cut off at offset %1: the last unit needs %2 bytes, the file holds %3")
                 .arg(c.truncatedAt)
                 .arg(c.truncatedNeeded)
                 .arg(c.truncatedHeld));
    if (c.durationNote())
        line(QStringLiteral("the header gives a duration of %1, the units end at %2")
                 .arg(clockText(c.headerDuration), clockText(c.realEnd)));
    QString summary = c.status == SessionTool::ExitOk ? QStringLiteral("clean") : QStringLiteral("damaged");
    summary += QStringLiteral(", %1 units, %2 playable").arg(c.units).arg(clockText(c.playableMs()));
    if (c.damageCount > 0)
        summary += QStringLiteral(", %1 damaged in %2 part%3")
                       .arg(clockText(c.damagedMs))
                       .arg(c.damageCount)
                       .arg(c.damageCount == 1 ? "" : "s");
    if (c.truncated)
        summary += QStringLiteral(", cut off");
    line(summary);
    return out;
}

QJsonObject json(const FileCheck& c)
{
    QJsonObject o;
    o[QStringLiteral("file")] = c.file;
    if (c.status == SessionTool::ExitFailed) {
        o[QStringLiteral("status")] = QStringLiteral("unreadable");
        o[QStringLiteral("problem")] = c.problem;
        return o;
    }
    o[QStringLiteral("status")] =
        c.status == SessionTool::ExitOk ? QStringLiteral("clean") : QStringLiteral("damaged");
    o[QStringLiteral("headerDurationMs")] = double(c.headerDuration);
    o[QStringLiteral("units")] = double(c.units);
    o[QStringLiteral("realEndMs")] = double(c.realEnd);
    o[QStringLiteral("playableMs")] = double(c.playableMs());
    o[QStringLiteral("damagedMs")] = double(c.damagedMs);
    o[QStringLiteral("damagedParts")] = c.damageCount;
    QJsonArray parts;
    for (const RecordReader::Damage& d : c.damage)
        parts.append(QJsonObject{{QStringLiteral("fromOffset"), double(d.from)},
                                 {QStringLiteral("toOffset"), double(d.to)},
                                 {QStringLiteral("fromMs"), double(d.timeBefore)},
                                 {QStringLiteral("toMs"), double(d.timeAfter)},
                                 {QStringLiteral("problem"), QLatin1String(kProblemKeys[d.problem])},
                                 {QStringLiteral("what"), d.what()},
                                 {QStringLiteral("toEnd"), d.toEnd}});
    o[QStringLiteral("damage")] = parts;
    o[QStringLiteral("truncated")] =
        c.truncated ? QJsonValue(QJsonObject{{QStringLiteral("offset"), double(c.truncatedAt)},
                                             {QStringLiteral("neededBytes"), double(c.truncatedNeeded)},
                                             {QStringLiteral("heldBytes"), double(c.truncatedHeld)}})
                    : QJsonValue();
    return o;
}

} // namespace

namespace SessionTool {

int check(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringLiteral("json")));
    if (const int status = parseCommand(parser, "check", kHelp, args); status >= 0)
        return status;
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        printError(QStringLiteral("check takes one or more FILEs (try 'sessiontool check --help')"));
        return ExitUsage;
    }
    const bool asJson = parser.isSet(QStringLiteral("json"));
    int worst = ExitOk;
    QJsonArray all;
    for (const QString& path : files) {
        FileCheck c;
        try {
            c = checkFile(path);
        } catch (const Exception& e) {
            c.file = path;
            c.status = ExitFailed;
            c.problem = describe(e);
        }
        worst = std::max(worst, c.status);
        if (asJson)
            all.append(json(c));
        else if (c.status == ExitFailed)
            printFileError(path, c.problem);
        else
            printOut(text(c));
    }
    if (asJson)
        printOut(QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)));
    return worst;
}

} // namespace SessionTool
