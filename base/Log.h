// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QString>

#include <atomic>

#include "DateTime.h"

// Logging: the free log… functions below hand a message and a level to the one
// process-wide fan-out logger (LogGroup), which passes it to its sinks: the
// console, a file with optional daily names, and connected sockets.
//
// Every sink starts disabled and the product enables none, so by default log
// calls are evaluated and dropped. Enabling a sink (setEnabled) is for tools
// and tests.
//
// Any thread may log. Logging never throws to its caller: sink failures are
// caught and reported with a fixed text on the standard error stream.

// Severity; smaller is more severe. A message passes a threshold when its
// level is less than or equal to the threshold.
enum VtrLogLevel : int {
    VTR_LOG_FATAL = 0,
    VTR_LOG_CRIT = 1,
    VTR_LOG_ERROR = 2,
    VTR_LOG_WARN = 3,
    VTR_LOG_DEBUG = 4,
    VTR_LOG_INFO = 5,
    VTR_LOG_DEVEL = 6
};

// Base of every sink and of the group. A written line is the level tag
// ("WARN> "; none for INFO), then - where timestamps are on - the local time
// as "yyyy-MM-ddThh:mm:ss.zzz" followed by the zone text and a blank, then the
// message and CR LF.
class Log
{
public:
    Log();
    virtual ~Log();

    // printf-style entry (String::formatArgumentsList): trailing blanks and
    // line ends of the expansion are cut before the line is decorated.
    virtual void log(VtrLogLevel level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    // Decorates one event and hands the line to writeEvent, if the sink is
    // enabled and the level passes its threshold.
    virtual void log(VtrLogLevel level, const QString& message);
    // Writes one finished line.
    virtual void writeEvent(VtrLogLevel level, const QString& line) = 0;

    // Stores min(level, 6).
    void setLoggingLevel(int level);
    int loggingLevel() const;

    void setEnabled(bool enabled);
    bool isEnabled() const;
    void setTimestamps(bool on);
    bool hasTimestamps() const;

    // "FATAL", "CRIT", "ERROR", "WARN", "DEBUG", "INFO", "DEVEL" for 0…6;
    // any other value gives "INFO".
    static QString LevelToText(int level);
    // The local offset from UTC in whole hours, truncated toward zero:
    // "-5" for zones west of UTC by an hour or more, else "+0", "+2"…
    static QString getTimeZoneOffset();

protected:
    std::atomic<bool> m_timestamps;
    std::atomic<bool> m_enabled;
    std::atomic<int> m_threshold;
    QString m_zoneText; // computed once, at construction
};

// Prints lines as UTF-8 on standard output.
class LogConsole : public Log
{
public:
    LogConsole();
    void writeEvent(VtrLogLevel level, const QString& line) override;

private:
    QRecursiveMutex m_mutex;
};

// Appends lines to a file that is opened and closed for every event, so no
// file stays open between events. With daily names, 'logs/player.log'
// becomes 'logs/player_110304.log' on 4 March 2011 and the name moves on at
// the first event after midnight. The folder is not created: when the file
// cannot be opened the event is lost and a fixed text goes to standard error.
class LogFile : public Log
{
public:
    LogFile(); // empty name (writes nothing), daily names on
    LogFile(const QString& fileName, bool daily);

    void setFileName(const QString& fileName, bool daily);
    QString getFileName() const;
    // The path the next event would be written to.
    QString getCurrentPath() const;
    // Stores today's date and recomputes the daily path from the file name.
    void constructDailyLogName();

    void writeEvent(VtrLogLevel level, const QString& line) override;

protected:
    // Today's local date; a hook so that the change of day can be tested
    // without waiting for midnight.
    virtual DateTime today() const;

private:
    QString m_fileName;
    mutable QRecursiveMutex m_mutex;
    bool m_daily;
    QString m_dailyPath;
    DateTime m_dailyDate;
};

// Sends lines (without timestamps) to every connected socket with the
// blocking SocketSystem::send. A socket whose send fails is closed and
// dropped. The sink owns the sockets it holds: removeAll closes them.
class LogSocket : public Log
{
public:
    LogSocket();

    void addSocket(int socket);    // ignores 0 and duplicates
    void removeSocket(int socket); // ignores 0; does not close it
    int findSocket(int socket) const;
    int getSocket(int index) const;
    int count() const;
    void removeAll(); // closes every socket

    void writeEvent(VtrLogLevel level, const QString& line) override;

private:
    QList<int> m_sockets;
    mutable QRecursiveMutex m_mutex;
};

// The process-wide fan-out logger. Holds its mutex while it calls the sinks,
// and each sink takes its own mutex inside (always group, then sink). The
// group itself writes nothing, so it is enabled from construction; whether an
// event appears anywhere is decided by the sinks.
class LogGroup : public Log
{
public:
    LogGroup();
    ~LogGroup() override;

    // Creates the group on first use (safe when threads race for it) and
    // adds the console, file and socket sinks.
    static QSharedPointer<LogGroup> Instance();
    // Drops the process-wide reference; the group goes with the last copy.
    static void Delete();

    void initializeLog();

    void add(const QSharedPointer<Log>& sink);
    int find(const QSharedPointer<Log>& sink) const;
    void remove(const QSharedPointer<Log>& sink);
    void removeAll();
    int count() const;
    QSharedPointer<Log> operator[](int index) const;

    using Log::log;
    // No decoration at group level: the event goes straight to writeEvent.
    void log(VtrLogLevel level, const QString& message) override;
    // Passes the event to every enabled sink in turn; a failing sink is
    // reported on standard error and the others still get the event.
    void writeEvent(VtrLogLevel level, const QString& message) override;

    static QSharedPointer<LogGroup> singleton;

private:
    QList<QSharedPointer<Log>> m_sinks;
    mutable QRecursiveMutex m_mutex;
};

// The three sinks, alive from program start to exit.
extern QSharedPointer<LogConsole> g_logConsole;
extern QSharedPointer<LogFile> g_logFile;
extern QSharedPointer<LogSocket> g_logSocket;
extern const QString fmtDateTime; // "yyyy-MM-ddThh:mm:ss.zzz"

// ---------------------------------------------------------------------------
// Free functions. Texts are 8-bit (UTF-8) unless a QString form is used.
//
// Numbered forms substitute their arguments for the markers "%1", "%2" and
// "%3" of the format; a marker occurs any number of times, a null argument
// deletes its marker, and markers inside substituted text are left alone.
// Object forms put "[" + ptr2str(object) + "] " before the message when the
// object is not null.
// The logFatal family logs at level FATAL and then ends the process with
// exit status 255.
//
// The level-taking logEvent forms refuse plain integers at compile time (a
// literal 0 would otherwise silently pick the object form), and a call with two
// texts, (fmt, a1) meant for a numbered form, does not compile either.
// ---------------------------------------------------------------------------

void logEvent(VtrLogLevel level, const char* text);
void logEvent1(VtrLogLevel level, const char* fmt, const char* a1);
void logEvent2(VtrLogLevel level, const char* fmt, const char* a1, const char* a2);
void logEvent3(VtrLogLevel level, const char* fmt, const char* a1, const char* a2, const char* a3);
void logEvent(VtrLogLevel level, const QString& text);

void logEvent(int, const char*) = delete;
void logEvent1(int, const char*, const char*) = delete;
void logEvent2(int, const char*, const char*, const char*) = delete;
void logEvent3(int, const char*, const char*, const char*, const char*) = delete;
void logEvent(int, const QString&) = delete;

#define SP_DECLARE_LOG_FAMILY(name)                                                          \
    void name(const char* text);                                                             \
    void name(const QString& text);                                                          \
    void name##1(const char* fmt, const char* a1);                                           \
    void name##2(const char* fmt, const char* a1, const char* a2);                           \
    void name##3(const char* fmt, const char* a1, const char* a2, const char* a3);           \
    void name(const void* object, const char* text);                                         \
    void name(const void* object, const QString& text);                                      \
    void name##1(const void* object, const char* fmt, const char* a1);                       \
    void name##2(const void* object, const char* fmt, const char* a1, const char* a2);       \
    void name##3(const void* object, const char* fmt, const char* a1, const char* a2,        \
                 const char* a3);                                                            \
    void name(const char*, const char*) = delete

SP_DECLARE_LOG_FAMILY(logEvent);    // level 5, the forms without a level
SP_DECLARE_LOG_FAMILY(logDevel);    // level 6
SP_DECLARE_LOG_FAMILY(logDebug);    // level 4
SP_DECLARE_LOG_FAMILY(logInfo);     // level 5
SP_DECLARE_LOG_FAMILY(logWarning);  // level 3
SP_DECLARE_LOG_FAMILY(logCritical); // level 1
SP_DECLARE_LOG_FAMILY(logError);    // level 2

#undef SP_DECLARE_LOG_FAMILY

[[noreturn]] void logFatal(const char* text);
[[noreturn]] void logFatal(const QString& text);
[[noreturn]] void logFatal1(const char* fmt, const char* a1);
[[noreturn]] void logFatal2(const char* fmt, const char* a1, const char* a2);
[[noreturn]] void logFatal3(const char* fmt, const char* a1, const char* a2, const char* a3);
[[noreturn]] void logFatal(const void* object, const char* text);
[[noreturn]] void logFatal(const void* object, const QString& text);
[[noreturn]] void logFatal1(const void* object, const char* fmt, const char* a1);
[[noreturn]] void logFatal2(const void* object, const char* fmt, const char* a1, const char* a2);
[[noreturn]] void logFatal3(const void* object, const char* fmt, const char* a1, const char* a2,
                            const char* a3);
void logFatal(const char*, const char*) = delete;

// Object forms of the logEvent functions that take a level.
void logEvent(VtrLogLevel level, const void* object, const char* text);
void logEvent1(VtrLogLevel level, const void* object, const char* fmt, const char* a1);
void logEvent2(VtrLogLevel level, const void* object, const char* fmt, const char* a1,
               const char* a2);
void logEvent3(VtrLogLevel level, const void* object, const char* fmt, const char* a1,
               const char* a2, const char* a3);
void logEvent(VtrLogLevel level, const void* object, const QString& text);
