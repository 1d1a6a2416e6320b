// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool index: builds the index of recordings with the player's own
// IndexBuilder and key-frame interval.

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <cstdio>

#include "Exception.h"
#include "FilePlayer.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "RecordReader.h"
#include "SessionTool.h"

namespace {

const char kHelp[] =
    "Usage: sessiontool index FILE...\n"
    "\n"
    "Builds the index of each recording exactly as the player does: a key\n"
    "frame every 10 seconds of recording time, written beside the recording\n"
    "(FILE followed by \"x\") or, where its folder cannot be written, in the\n"
    "player's cache folder. An existing index there is replaced. Each line of\n"
    "output names the index written, and the damaged parts of the recording\n"
    "passed over as the player passes over them. A file that fails does not\n"
    "stop the others; the exit status is non-zero when any failed. On a\n"
    "terminal a progress line shows how far each build has come.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n";

// The damaged parts a build passed over, as "0:00:16.600 to 0:00:16.700, ...".
QString damageText(const QList<RecordReader::Damage>& damage)
{
    QStringList parts;
    for (const RecordReader::Damage& d : damage) {
        parts.append(d.toEnd ? QStringLiteral("from %1 to the end").arg(SessionTool::clockText(d.timeBefore))
                             : QStringLiteral("%1 to %2").arg(SessionTool::clockText(d.timeBefore),
                                                             SessionTool::clockText(d.timeAfter)));
        if (parts.size() == 5 && damage.size() > 5) {
            parts.append(QStringLiteral("..."));
            break;
        }
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace

namespace SessionTool {

int index(const QStringList& args)
{
    QCommandLineParser parser;
    if (const int status = parseCommand(parser, "index", kHelp, args); status >= 0)
        return status;
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        printError(QStringLiteral("index takes one or more FILEs (try 'sessiontool index --help')"));
        return ExitUsage;
    }

    const bool terminal = isatty(STDERR_FILENO) == 1;
    IndexBuilder builder;
    int failed = 0;
    for (const QString& path : files) {
        QString problem;
        {
            QMetaObject::Connection progress;
            if (terminal) {
                progress = QObject::connect(&builder, &IndexBuilder::idxPositionChanged,
                                            [&path](quint64 seconds) {
                    std::fprintf(stderr, "\r%s: indexing, %llu s of recording done",
                                 path.toUtf8().constData(),
                                 static_cast<unsigned long long>(seconds));
                    std::fflush(stderr);
                });
            }
            const bool ok = builder.makeIndex(path, FilePlayer::kIndexInterval);
            QObject::disconnect(progress);
            if (terminal) {
                std::fputs("\r\033[K", stderr);
                std::fflush(stderr);
            }
            if (!ok)
                problem = builder.failure();
        }
        if (!problem.isEmpty()) {
            printFileError(path, problem);
            ++failed;
            continue;
        }

        // Report what the player will find.
        const QString indexPath = builder.indexFileName();
        QFile indexFile(indexPath);
        IndexFileHeader header;
        Array<IndexEntryPoint, int> entries;
        bool valid = false;
        if (indexFile.open(QIODevice::ReadOnly)) {
            try {
                valid = IndexFile::load(indexFile, header, entries, QFileInfo(path).size());
            } catch (const Exception&) {
                valid = false;
            }
        }
        if (!valid) {
            printFileError(indexPath, QStringLiteral("the index written does not load"));
            ++failed;
            continue;
        }
        QString line = QStringLiteral("%1: %2 key frame%3")
                           .arg(indexPath)
                           .arg(entries.count())
                           .arg(entries.count() == 1 ? "" : "s");
        const QList<RecordReader::Damage>& damage = builder.damage();
        if (!damage.isEmpty())
            line += QStringLiteral("; passed over %1 damaged part%2 (%3)")
                        .arg(damage.size())
                        .arg(damage.size() == 1 ? "" : "s")
                        .arg(damageText(damage));
        printOut(line + QLatin1Char('\n'));
    }
    return failed ? ExitFailed : ExitOk;
}

} // namespace SessionTool
