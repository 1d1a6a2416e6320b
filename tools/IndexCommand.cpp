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
    "output names the index written. A file that fails does not stop the\n"
    "others; the exit status is non-zero when any failed. On a terminal a\n"
    "progress line shows how far each build has come.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n";

// Why a recording cannot be indexed, or the empty text when it can be tried.
QString precheck(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open it: ") + file.errorString();
    RecordReader reader(&file);
    RecordFileHeader header;
    try {
        reader.readFileHeader(header);
    } catch (const IncorrectFileException&) {
        return QStringLiteral("not a recorded session");
    } catch (const Exception& e) {
        return SessionTool::describe(e);
    }
    return QString();
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
        QString problem = precheck(path);
        if (problem.isEmpty()) {
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
                problem = QStringLiteral("the index could not be built (unreadable or damaged "
                                         "recording, or the index cannot be written)");
        }
        if (!problem.isEmpty()) {
            printError(QStringLiteral("%1: %2").arg(path, problem));
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
            printError(QStringLiteral("%1: the index written does not load").arg(path));
            ++failed;
            continue;
        }
        printOut(QStringLiteral("%1: %2 key frame%3\n")
                     .arg(indexPath)
                     .arg(entries.count())
                     .arg(entries.count() == 1 ? "" : "s"));
    }
    return failed ? ExitFailed : ExitOk;
}

} // namespace SessionTool
