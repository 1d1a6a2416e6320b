// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of the player:
//   SessionPlayer [FILE] [--at TIME] [--speed N] [--paused] [--fullscreen]
//                 [--zoom|--no-zoom] [--skip-idle] [--help] [--version]
// parsed without an application object, so that --help, --version and a
// wrong command line are answered before any window or display is needed.
//
// TIME is whole seconds ("95") or h:mm:ss / m:ss ("1:02:05", "1:35"; the
// later fields below 60), at most 100,000 hours. N is a step of the speed
// ladder: 1/2 (or 0.5) and 1 to 20. Anything else, an unknown option, a
// missing value, --zoom with --no-zoom or more than one FILE is an error:
// the caller prints error() and usage() on standard error and exits 2.
class StartOptions
{
public:
    enum Result { Start, ShowHelp, ShowVersion, Error };
    // The exit status of a command line that is wrong.
    static constexpr int kUsageExitStatus = 2;
    // The largest --at accepted, in seconds.
    static constexpr long long kLongestAt = 100000LL * 3600;

    // `arguments` includes the program name first, as argv.
    static StartOptions parse(const QStringList& arguments);

    Result result() const { return m_result; }
    QString error() const { return m_error; }
    // The usage text with every option, as --help prints it.
    QString usage() const { return m_usage; }

    QString file() const { return m_file; }
    // --at in seconds; empty when not given.
    std::optional<long long> at() const { return m_at; }
    // The speed step (-2 for 1/2x, else 1 to 20); empty when not given.
    std::optional<int> speed() const { return m_speed; }
    bool paused() const { return m_paused; }
    bool fullScreen() const { return m_fullScreen; }
    // --zoom (true) or --no-zoom (false); empty when neither.
    std::optional<bool> zoom() const { return m_zoom; }
    bool skipIdle() const { return m_skipIdle; }

    // "95", "1:35", "1:02:05" in seconds; empty when the text is none of
    // these or beyond kLongestAt.
    static std::optional<long long> parseTime(const QString& text);
    // "1/2", "0.5" -> -2; "1" ... "20" (an "x" after the number allowed)
    // -> the step; empty otherwise.
    static std::optional<int> parseSpeed(const QString& text);

private:
    Result m_result = Start;
    QString m_error;
    QString m_usage;
    QString m_file;
    std::optional<long long> m_at;
    std::optional<int> m_speed;
    bool m_paused = false;
    bool m_fullScreen = false;
    std::optional<bool> m_zoom;
    bool m_skipIdle = false;
};
