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

QString describe(const Exception& e)
{
    const QString reason = e.getReason();
    if (reason.isEmpty())
        return e.getErrorMessage();
    return e.getErrorMessage() + QStringLiteral(": ") + reason;
}

} // namespace SessionTool
