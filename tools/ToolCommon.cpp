// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionTool.h"

#include <QCommandLineParser>

#include <cstdio>

#include "Exception.h"

namespace SessionTool {

int parseCommand(QCommandLineParser& parser, const char* command, const char* help,
                 const QStringList& args)
{
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    if (!parser.parse(QStringList(QString::fromLatin1(command)) + args)) {
        printError(parser.errorText());
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(QString::fromLatin1(help));
        return ExitOk;
    }
    return -1;
}

void printError(const QString& message)
{
    QString line = message;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "sessiontool: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

void printOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void printFileError(const QString& file, const QString& what)
{
    printError(file + QStringLiteral(": ") + what);
}

QString describe(const Exception& e)
{
    // A thrower that set a message of its own (the JPEG codec does) said what
    // happened; otherwise the message is the class's name, which is for logs.
    QString what = e.getErrorMessage();
    if (what.isEmpty() || what == e.getErrorSender()) {
        if (dynamic_cast<const FileCantCreateException*>(&e))
            what = QStringLiteral("cannot create the file");
        else if (dynamic_cast<const FileCantOpenException*>(&e))
            what = QStringLiteral("cannot open the file");
        else if (dynamic_cast<const FileCantReadException*>(&e))
            what = QStringLiteral("cannot read the file");
        else if (dynamic_cast<const FileCantWriteException*>(&e))
            what = QStringLiteral("cannot write the file");
        else if (dynamic_cast<const FileCantCloseException*>(&e))
            what = QStringLiteral("cannot close the file");
        else if (dynamic_cast<const FileException*>(&e))
            what = QStringLiteral("file error");
        else if (dynamic_cast<const IncorrectFileException*>(&e))
            what = QStringLiteral("not a recorded session");
        else if (dynamic_cast<const IncorrectFormatException*>(&e))
            what = QStringLiteral("data that does not parse");
        else if (dynamic_cast<const DecompressionException*>(&e))
            what = QStringLiteral("data that does not decompress");
        else
            what = QStringLiteral("failed");
    }
    const QString reason = e.getReason();
    return reason.isEmpty() ? what : what + QStringLiteral(": ") + reason;
}

QString clockText(quint64 ms)
{
    const quint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace SessionTool
