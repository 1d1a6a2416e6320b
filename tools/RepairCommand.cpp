// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool repair: a copy of a recording without its damaged parts.

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "Exception.h"
#include "LittleEndian.h"
#include "RecordReader.h"
#include "SessionTool.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool repair IN -o OUT\n"
    "\n"
    "Writes a new recording OUT with every unit of IN that the player can play:\n"
    "damaged parts, units whose payload does not decompress and a cut-off last\n"
    "unit are left out; the units kept are copied byte for byte, their times\n"
    "untouched. The file header is copied, its duration set to the time of\n"
    "the last unit when it was 0 or lower. IN is only read. OUT is written\n"
    "beside its final name and renamed when complete; 'sessiontool check' finds\n"
    "it clean.\n"
    "\n"
    "Options:\n"
    "  -o OUT     the repaired recording\n"
    "  --help     show this text\n";

struct Failure
{
    QString file;
    QString what;
};

struct Outcome
{
    quint64 kept = 0;
    int damagedParts = 0;
    qint64 damagedBytes = 0;
    bool cutOff = false;
    qint64 cutBytes = 0;
    bool durationSet = false;
    quint64 duration = 0;
};

void write(QSaveFile& out, const unsigned char* data, qint64 length)
{
    if (length > 0 && out.write(reinterpret_cast<const char*>(data), length) != length)
        throw Failure{out.fileName(), QStringLiteral("cannot write: ") + out.errorString()};
}

Outcome repairInto(const QString& in, QFile& input, QSaveFile& out)
{
    Outcome o;
    RecordReader reader(&input);
    RecordFileHeader header;
    try {
        reader.readFileHeader(header);
    } catch (const IncorrectFileException&) {
        throw Failure{in, QStringLiteral("not a recorded session")};
    }
    if (!out.open(QIODevice::WriteOnly))
        throw Failure{out.fileName(), QStringLiteral("cannot create: ") + out.errorString()};
    write(out, header.m_data.data(), header.m_data.count());

    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed;
    quint64 lastTime = 0;
    for (;;) {
        RecordReader::Result r = reader.readUnit(unit, payload, packed);
        if (r == RecordReader::Unit) {
            // The unit as it was stored: its raw header and the stored bytes
            // (still compressed when they were).
            const bool compressed = (unit.m_data[0] & RecordUnitHeader::FLAG_COMPRESSED) != 0;
            const Array<unsigned char, int>& stored = compressed ? packed : payload;
            write(out, unit.m_data.data(), unit.m_data.count());
            write(out, stored.data(), stored.count());
            lastTime = std::max<quint64>(lastTime, unit.m_time);
            ++o.kept;
            continue;
        }
        if (r == RecordReader::Damaged) {
            ++o.damagedParts;
            o.damagedBytes += reader.damage().to - reader.damage().from;
            continue;
        }
        if (r == RecordReader::Truncated) {
            o.cutOff = true;
            o.cutBytes = reader.truncatedHeld();
        }
        break;
    }

    if (header.m_duration == 0 || header.m_duration < lastTime) {
        unsigned char duration[8];
        LittleEndian::write(duration, lastTime, 8);
        if (!out.seek(8))
            throw Failure{out.fileName(), QStringLiteral("cannot write: ") + out.errorString()};
        write(out, duration, 8);
        o.durationSet = true;
        o.duration = lastTime;
    }
    if (!out.commit())
        throw Failure{out.fileName(), QStringLiteral("cannot write: ") + out.errorString()};
    return o;
}

} // namespace

namespace SessionTool {

int repair(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("o"), QString(), QStringLiteral("OUT"));
    parser.addOption(outOption);
    if (const int status = parseCommand(parser, "repair", kHelp, args); status >= 0)
        return status;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(outOption)) {
        printError(QStringLiteral("repair takes IN and -o OUT (try 'sessiontool repair --help')"));
        return ExitUsage;
    }
    const QString in = parser.positionalArguments().first();
    const QString outPath = parser.value(outOption);
    const QFileInfo inInfo(in), outInfo(outPath);
    if (outInfo.exists() && inInfo.exists()
        && outInfo.canonicalFilePath() == inInfo.canonicalFilePath()) {
        printFileError(outPath, QStringLiteral("the output would replace the input"));
        return ExitUsage;
    }

    QFile input(in);
    if (!input.open(QIODevice::ReadOnly)) {
        printFileError(in, input.errorString());
        return ExitFailed;
    }
    QSaveFile out(outPath);
    Outcome o;
    try {
        o = repairInto(in, input, out);
    } catch (const Failure& f) {
        out.cancelWriting();
        printFileError(f.file, f.what);
        return ExitFailed;
    } catch (const Exception& e) {
        out.cancelWriting();
        printFileError(in, describe(e));
        return ExitFailed;
    }

    QString line = QStringLiteral("%1: %2 units kept").arg(outPath).arg(o.kept);
    if (o.damagedParts > 0)
        line += QStringLiteral(", %1 damaged part%2 left out (%3 bytes)")
                    .arg(o.damagedParts)
                    .arg(o.damagedParts == 1 ? "" : "s")
                    .arg(o.damagedBytes);
    if (o.cutOff)
        line += QStringLiteral(", the cut-off last unit left out (%1 bytes)").arg(o.cutBytes);
    if (o.durationSet)
        line += QStringLiteral(", duration set to %1").arg(clockText(o.duration));
    printOut(line + QLatin1Char('\n'));
    return ExitOk;
}

} // namespace SessionTool
