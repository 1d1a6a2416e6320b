// SPDX-License-Identifier: GPL-3.0-or-later
#include "StartOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString text(const char* source)
{
    return QCoreApplication::translate("StartOptions", source);
}

} // namespace

std::optional<long long> StartOptions::parseTime(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 3)
        return std::nullopt;
    long long seconds = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        // Digits only (no sign, no blanks); at most 9 of them, so nothing
        // below can overflow.
        if (part.isEmpty() || part.size() > 9)
            return std::nullopt;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        const long long value = part.toLongLong();
        // Minutes and seconds after the first field stay below 60.
        if (i > 0 && (value >= 60 || part.size() != 2))
            return std::nullopt;
        seconds = seconds * 60 + value;
    }
    if (seconds > kLongestAt)
        return std::nullopt;
    return seconds;
}

std::optional<int> StartOptions::parseSpeed(const QString& text)
{
    QString t = text.trimmed().toLower();
    if (t.endsWith(QLatin1Char('x')))
        t.chop(1);
    if (t == QLatin1String("1/2") || t == QLatin1String("0.5"))
        return -2;
    bool ok = false;
    const int step = t.toInt(&ok);
    if (!ok || step < 1 || step > 20 || t.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return step;
}

StartOptions StartOptions::parse(const QStringList& arguments)
{
    StartOptions o;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        text("Plays a recorded session (.vro or .vr4); FILE is opened and played at start."));
    const QCommandLineOption at(QStringLiteral("at"),
                                text("Start at TIME: seconds or hh:mm:ss; past the end, at the "
                                     "last second. No resume of the last position."),
                                QStringLiteral("TIME"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   text("Play at speed N: 1/2 (or 0.5), or 1 to 20."),
                                   QStringLiteral("N"));
    const QCommandLineOption paused(QStringLiteral("paused"),
                                    text("Open FILE without starting playback."));
    const QCommandLineOption fullScreen(QStringLiteral("fullscreen"), text("Start in full screen."));
    const QCommandLineOption zoom(QStringLiteral("zoom"), text("Fit the picture to the window."));
    const QCommandLineOption noZoom(QStringLiteral("no-zoom"),
                                    text("Show the picture at its own size."));
    const QCommandLineOption skipIdle(QStringLiteral("skip-idle"),
                                      text("Skip idle stretches while playing."));
    const QCommandLineOption help(QStringLiteral("help"), text("Show this text and exit."));
    const QCommandLineOption version(QStringLiteral("version"), text("Print the version and exit."));
    for (const QCommandLineOption* option :
         {&at, &speed, &paused, &fullScreen, &zoom, &noZoom, &skipIdle, &help, &version})
        parser.addOption(*option);
    parser.addPositionalArgument(QStringLiteral("FILE"), text("The recording to open."),
                                 QStringLiteral("[FILE]"));

    // The parser names the program from the application object, when there
    // is one: the name is the one of these arguments instead.
    o.m_usage = parser.helpText();
    const QString program = arguments.isEmpty() ? QStringLiteral("SessionPlayer")
                                                : QFileInfo(arguments.first()).fileName();
    const qsizetype from = o.m_usage.indexOf(QLatin1String(": ")) + 2;
    const qsizetype to = o.m_usage.indexOf(QLatin1String(" [options]"));
    if (from >= 2 && to > from)
        o.m_usage.replace(from, to - from, program);

    auto fail = [&o](const QString& why) {
        o.m_result = Error;
        o.m_error = why;
        return o;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        o.m_result = ShowHelp;
        return o;
    }
    if (parser.isSet(version)) {
        o.m_result = ShowVersion;
        return o;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return fail(text("Only one FILE can be opened."));
    if (!files.isEmpty())
        o.m_file = files.first();
    if (parser.isSet(at)) {
        o.m_at = parseTime(parser.value(at));
        if (!o.m_at)
            return fail(text("--at takes seconds or hh:mm:ss, not \"%1\".").arg(parser.value(at)));
    }
    if (parser.isSet(speed)) {
        o.m_speed = parseSpeed(parser.value(speed));
        if (!o.m_speed)
            return fail(text("--speed takes 1/2 or 1 to 20, not \"%1\".").arg(parser.value(speed)));
    }
    if (parser.isSet(zoom) && parser.isSet(noZoom))
        return fail(text("--zoom and --no-zoom exclude each other."));
    if (parser.isSet(zoom) || parser.isSet(noZoom))
        o.m_zoom = parser.isSet(zoom);
    o.m_paused = parser.isSet(paused);
    o.m_fullScreen = parser.isSet(fullScreen);
    o.m_skipIdle = parser.isSet(skipIdle);
    return o;
}
