// SPDX-License-Identifier: GPL-3.0-or-later
#include "Log.h"

#include "Convert.h"
#include "Exception.h"
#include "SocketSystem.h"
#include "String.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QSharedPointer<LogConsole> g_logConsole(new LogConsole);
QSharedPointer<LogFile> g_logFile(new LogFile);
QSharedPointer<LogSocket> g_logSocket(new LogSocket);
const QString fmtDateTime = QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz");
QSharedPointer<LogGroup> LogGroup::singleton;

namespace {

// Failures of the logger itself go to standard error without a line end.
void reportFailure(const char* text)
{
    std::fwrite(text, 1, std::strlen(text), stderr);
}

QString fromBytes(const String& s)
{
    return QString::fromUtf8(s.c_str(), s.length());
}

// Never destroyed: a log call from a static destructor still finds it.
QMutex& instanceLock()
{
    static QMutex* lock = new QMutex;
    return *lock;
}

} // namespace

// ---------------------------------------------------------------------------
// Log

Log::Log()
    : m_timestamps(true), m_enabled(false), m_threshold(VTR_LOG_DEVEL),
      m_zoneText(getTimeZoneOffset())
{
}

Log::~Log() = default;

void Log::log(VtrLogLevel level, const char* format, ...)
{
    if (!m_enabled || level > m_threshold)
        return;
    try {
        String text;
        va_list args;
        va_start(args, format);
        try {
            text.formatArgumentsList(format, args);
        } catch (...) {
            va_end(args);
            throw;
        }
        va_end(args);
        int end = text.length();
        while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33)
            --end;
        text.remove(end, -1);
        log(level, fromBytes(text));
    } catch (...) {
        reportFailure("Crash in Log::log");
    }
}

void Log::log(VtrLogLevel level, const QString& message)
{
    if (!m_enabled || level > m_threshold)
        return;
    QString line;
    if (level != VTR_LOG_INFO)
        line = LevelToText(level) + QStringLiteral("> ");
    if (m_timestamps)
        line += QDateTime::currentDateTime().toString(fmtDateTime) + m_zoneText + QLatin1Char(' ');
    line += message;
    line += QStringLiteral("\r\n");
    writeEvent(level, line);
}

void Log::setLoggingLevel(int level)
{
    m_threshold = level < VTR_LOG_DEVEL ? level : VTR_LOG_DEVEL;
}

int Log::loggingLevel() const
{
    return m_threshold;
}

void Log::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

bool Log::isEnabled() const
{
    return m_enabled;
}

void Log::setTimestamps(bool on)
{
    m_timestamps = on;
}

bool Log::hasTimestamps() const
{
    return m_timestamps;
}

QString Log::LevelToText(int level)
{
    switch (level) {
    case VTR_LOG_FATAL: return QStringLiteral("FATAL");
    case VTR_LOG_CRIT: return QStringLiteral("CRIT");
    case VTR_LOG_ERROR: return QStringLiteral("ERROR");
    case VTR_LOG_WARN: return QStringLiteral("WARN");
    case VTR_LOG_DEBUG: return QStringLiteral("DEBUG");
    case VTR_LOG_DEVEL: return QStringLiteral("DEVEL");
    default: return QStringLiteral("INFO");
    }
}

QString Log::getTimeZoneOffset()
{
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    const int hours = offset / 3600;
    if (offset < -3599)
        return QString::number(hours);
    return QStringLiteral("+") + QString::number(hours);
}

// ---------------------------------------------------------------------------
// LogConsole

LogConsole::LogConsole() = default;

void LogConsole::writeEvent(VtrLogLevel level, const QString& line)
{
    QMutexLocker lock(&m_mutex);
    if (level > m_threshold)
        return;
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// LogFile

LogFile::LogFile()
    : m_daily(true), m_dailyDate(0L)
{
}

LogFile::LogFile(const QString& fileName, bool daily)
    : m_daily(false), m_dailyDate(0L)
{
    setFileName(fileName, daily);
}

void LogFile::setFileName(const QString& fileName, bool daily)
{
    QMutexLocker lock(&m_mutex);
    m_fileName = fileName;
    m_daily = daily;
    if (m_daily)
        constructDailyLogName();
}

QString LogFile::getFileName() const
{
    QMutexLocker lock(&m_mutex);
    return m_fileName;
}

QString LogFile::getCurrentPath() const
{
    QMutexLocker lock(&m_mutex);
    return m_daily ? m_dailyPath : m_fileName;
}

void LogFile::constructDailyLogName()
{
    QMutexLocker lock(&m_mutex);
    m_dailyDate = today();

    // The suffix is everything after the first dot of the last path
    // component ("tar.gz"); dots in folder names do not count.
    const int slash = m_fileName.lastIndexOf(QLatin1Char('/'));
    const int dot = m_fileName.indexOf(QLatin1Char('.'), slash + 1);
    const QString base = dot < 0 ? m_fileName : m_fileName.left(dot);
    const QString suffix = dot < 0 ? QString() : m_fileName.mid(dot + 1);

    auto twoDigits = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    // One-pass arg(): a '%' in the file name is never taken for a marker.
    m_dailyPath = QStringLiteral("%1_%2%3%4.%5")
                      .arg(base, twoDigits(m_dailyDate.getYear() % 100),
                           twoDigits(m_dailyDate.getMonth()), twoDigits(m_dailyDate.getDate()),
                           suffix);
}

DateTime LogFile::today() const
{
    return DateTime();
}

void LogFile::writeEvent(VtrLogLevel level, const QString& line)
{
    QMutexLocker lock(&m_mutex);
    if (level > m_threshold || m_fileName.isEmpty())
        return;
    if (m_daily) {
        const DateTime now = today();
        if (now.getYear() != m_dailyDate.getYear() || now.getMonth() != m_dailyDate.getMonth()
            || now.getDate() != m_dailyDate.getDate())
            constructDailyLogName();
    }
    const QByteArray path = QFile::encodeName(m_daily ? m_dailyPath : m_fileName);
    const QByteArray bytes = line.toUtf8();

    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        reportFailure("Unhandled Exception in LogFile::writeEvent");
        return;
    }
    bool ok = true;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    if (::close(fd) != 0 && errno != EINTR)
        ok = false;
    if (!ok)
        reportFailure("Unhandled Exception in LogFile::writeEvent");
}

// ---------------------------------------------------------------------------
// LogSocket

LogSocket::LogSocket()
{
    m_timestamps = false;
}

void LogSocket::addSocket(int socket)
{
    QMutexLocker lock(&m_mutex);
    if (socket != 0 && !m_sockets.contains(socket))
        m_sockets.append(socket);
}

void LogSocket::removeSocket(int socket)
{
    QMutexLocker lock(&m_mutex);
    if (socket != 0)
        m_sockets.removeAll(socket);
}

int LogSocket::findSocket(int socket) const
{
    QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_sockets.indexOf(socket));
}

int LogSocket::getSocket(int index) const
{
    QMutexLocker lock(&m_mutex);
    return index >= 0 && index < m_sockets.size() ? m_sockets[index] : 0;
}

int LogSocket::count() const
{
    QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_sockets.size());
}

void LogSocket::removeAll()
{
    QMutexLocker lock(&m_mutex);
    for (int s : m_sockets) {
        try {
            SocketSystem::close(s);
        } catch (...) {
            // Closing is best effort; the socket leaves the list anyway.
        }
    }
    m_sockets.clear();
}

void LogSocket::writeEvent(VtrLogLevel level, const QString& line)
{
    QMutexLocker lock(&m_mutex);
    if (level > m_threshold)
        return;
    const QByteArray bytes = line.toUtf8();
    for (qsizetype i = 0; i < m_sockets.size(); ++i) {
        const int s = m_sockets[i];
        try {
            SocketSystem::send(s, bytes.constData(), static_cast<int>(bytes.size()));
        } catch (const Exception&) {
            try {
                SocketSystem::close(s);
            } catch (...) {
            }
            m_sockets.removeAt(i);
            --i;
            reportFailure("Exception in LogSocket::writeEvent");
        } catch (...) {
            reportFailure("Unhandled C Exception in LogSocket::writeEvent");
        }
    }
}

// ---------------------------------------------------------------------------
// LogGroup

LogGroup::LogGroup()
{
    m_timestamps = false;
    m_enabled = true;
}

LogGroup::~LogGroup() = default;

QSharedPointer<LogGroup> LogGroup::Instance()
{
    QMutexLocker lock(&instanceLock());
    if (!singleton) {
        QSharedPointer<LogGroup> group(new LogGroup);
        group->initializeLog();
        singleton = group;
    }
    return singleton;
}

void LogGroup::Delete()
{
    QMutexLocker lock(&instanceLock());
    singleton.clear();
}

void LogGroup::initializeLog()
{
    add(g_logConsole);
    add(g_logFile);
    add(g_logSocket);
}

void LogGroup::add(const QSharedPointer<Log>& sink)
{
    QMutexLocker lock(&m_mutex);
    if (sink && sink.data() != this && find(sink) < 0)
        m_sinks.append(sink);
}

int LogGroup::find(const QSharedPointer<Log>& sink) const
{
    QMutexLocker lock(&m_mutex);
    for (qsizetype i = 0; i < m_sinks.size(); ++i) {
        if (m_sinks[i].data() == sink.data())
            return static_cast<int>(i);
    }
    return -1;
}

void LogGroup::remove(const QSharedPointer<Log>& sink)
{
    QMutexLocker lock(&m_mutex);
    const int i = find(sink);
    if (i >= 0)
        m_sinks.removeAt(i);
}

void LogGroup::removeAll()
{
    QMutexLocker lock(&m_mutex);
    m_sinks.clear();
}

int LogGroup::count() const
{
    QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_sinks.size());
}

QSharedPointer<Log> LogGroup::operator[](int index) const
{
    QMutexLocker lock(&m_mutex);
    return index >= 0 && index < m_sinks.size() ? m_sinks[index] : QSharedPointer<Log>();
}

void LogGroup::log(VtrLogLevel level, const QString& message)
{
    if (level <= m_threshold)
        writeEvent(level, message);
}

void LogGroup::writeEvent(VtrLogLevel level, const QString& message)
{
    QMutexLocker lock(&m_mutex);
    for (const QSharedPointer<Log>& sink : m_sinks) {
        if (!sink->isEnabled())
            continue;
        try {
            sink->log(level, message);
        } catch (...) {
            reportFailure("Crash in LogGroup::writeEvent");
        }
    }
}

// ---------------------------------------------------------------------------
// Free functions

namespace {

// Single pass over the format: "%1".."%3" take the arguments (a null one
// deletes its marker); text that came from an argument is never scanned
// again, so a "%2" inside a file name stays as it is.
String substitute(const char* fmt, const char* const* args, int argCount)
{
    String out;
    if (!fmt)
        return out;
    const char* run = fmt;
    const char* p = fmt;
    while (*p) {
        if (p[0] == '%' && p[1] >= '1' && p[1] < '1' + argCount) {
            out.append(run, static_cast<int>(p - run));
            out += args[p[1] - '1'];
            p += 2;
            run = p;
        } else {
            ++p;
        }
    }
    out.append(run, static_cast<int>(p - run));
    return out;
}

void dispatch(VtrLogLevel level, const void* object, const QString& message)
{
    try {
        QSharedPointer<LogGroup> group = LogGroup::Instance();
        if (object)
            group->log(level, QLatin1Char('[') + fromBytes(ptr2str(object)) + QStringLiteral("] ")
                                  + message);
        else
            group->log(level, message);
    } catch (...) {
        reportFailure("Crash in LogGroup::writeEvent");
    }
}

void dispatchText(VtrLogLevel level, const void* object, const char* text)
{
    dispatch(level, object, QString::fromUtf8(text ? text : ""));
}

void dispatchArgs(VtrLogLevel level, const void* object, const char* fmt, const char* a1,
                  const char* a2, const char* a3, int argCount)
{
    try {
        const char* const args[3] = { a1, a2, a3 };
        dispatch(level, object, fromBytes(substitute(fmt, args, argCount)));
    } catch (...) {
        reportFailure("Crash in LogGroup::writeEvent");
    }
}

[[noreturn]] void endProcess()
{
    std::exit(-1);
}

} // namespace

void logEvent(VtrLogLevel level, const char* text) { dispatchText(level, nullptr, text); }
void logEvent1(VtrLogLevel level, const char* fmt, const char* a1)
{
    dispatchArgs(level, nullptr, fmt, a1, nullptr, nullptr, 1);
}
void logEvent2(VtrLogLevel level, const char* fmt, const char* a1, const char* a2)
{
    dispatchArgs(level, nullptr, fmt, a1, a2, nullptr, 2);
}
void logEvent3(VtrLogLevel level, const char* fmt, const char* a1, const char* a2, const char* a3)
{
    dispatchArgs(level, nullptr, fmt, a1, a2, a3, 3);
}
void logEvent(VtrLogLevel level, const QString& text) { dispatch(level, nullptr, text); }
void logEvent(VtrLogLevel level, const void* object, const char* text)
{
    dispatchText(level, object, text);
}
void logEvent1(VtrLogLevel level, const void* object, const char* fmt, const char* a1)
{
    dispatchArgs(level, object, fmt, a1, nullptr, nullptr, 1);
}
void logEvent2(VtrLogLevel level, const void* object, const char* fmt, const char* a1,
               const char* a2)
{
    dispatchArgs(level, object, fmt, a1, a2, nullptr, 2);
}
void logEvent3(VtrLogLevel level, const void* object, const char* fmt, const char* a1,
               const char* a2, const char* a3)
{
    dispatchArgs(level, object, fmt, a1, a2, a3, 3);
}
void logEvent(VtrLogLevel level, const void* object, const QString& text)
{
    dispatch(level, object, text);
}

// One family per level, the plain and the object forms; logEvent without a
// level is the INFO family.
#define SP_DEFINE_LOG_FAMILY(name, level, after)                                                \
    void name(const char* text)                                                                 \
    {                                                                                           \
        dispatchText(level, nullptr, text);                                                     \
        after;                                                                                  \
    }                                                                                           \
    void name(const QString& text)                                                              \
    {                                                                                           \
        dispatch(level, nullptr, text);                                                         \
        after;                                                                                  \
    }                                                                                           \
    void name##1(const char* fmt, const char* a1)                                               \
    {                                                                                           \
        dispatchArgs(level, nullptr, fmt, a1, nullptr, nullptr, 1);                             \
        after;                                                                                  \
    }                                                                                           \
    void name##2(const char* fmt, const char* a1, const char* a2)                               \
    {                                                                                           \
        dispatchArgs(level, nullptr, fmt, a1, a2, nullptr, 2);                                  \
        after;                                                                                  \
    }                                                                                           \
    void name##3(const char* fmt, const char* a1, const char* a2, const char* a3)               \
    {                                                                                           \
        dispatchArgs(level, nullptr, fmt, a1, a2, a3, 3);                                       \
        after;                                                                                  \
    }                                                                                           \
    void name(const void* object, const char* text)                                             \
    {                                                                                           \
        dispatchText(level, object, text);                                                      \
        after;                                                                                  \
    }                                                                                           \
    void name(const void* object, const QString& text)                                          \
    {                                                                                           \
        dispatch(level, object, text);                                                          \
        after;                                                                                  \
    }                                                                                           \
    void name##1(const void* object, const char* fmt, const char* a1)                           \
    {                                                                                           \
        dispatchArgs(level, object, fmt, a1, nullptr, nullptr, 1);                              \
        after;                                                                                  \
    }                                                                                           \
    void name##2(const void* object, const char* fmt, const char* a1, const char* a2)           \
    {                                                                                           \
        dispatchArgs(level, object, fmt, a1, a2, nullptr, 2);                                   \
        after;                                                                                  \
    }                                                                                           \
    void name##3(const void* object, const char* fmt, const char* a1, const char* a2,           \
                 const char* a3)                                                                \
    {                                                                                           \
        dispatchArgs(level, object, fmt, a1, a2, a3, 3);                                        \
        after;                                                                                  \
    }

SP_DEFINE_LOG_FAMILY(logEvent, VTR_LOG_INFO, (void)0)
SP_DEFINE_LOG_FAMILY(logDevel, VTR_LOG_DEVEL, (void)0)
SP_DEFINE_LOG_FAMILY(logDebug, VTR_LOG_DEBUG, (void)0)
SP_DEFINE_LOG_FAMILY(logInfo, VTR_LOG_INFO, (void)0)
SP_DEFINE_LOG_FAMILY(logWarning, VTR_LOG_WARN, (void)0)
SP_DEFINE_LOG_FAMILY(logCritical, VTR_LOG_CRIT, (void)0)
SP_DEFINE_LOG_FAMILY(logError, VTR_LOG_ERROR, (void)0)
SP_DEFINE_LOG_FAMILY(logFatal, VTR_LOG_FATAL, endProcess())

#undef SP_DEFINE_LOG_FAMILY
