// SPDX-License-Identifier: GPL-3.0-or-later
#include "Log.h"
#include "BaseTestSupport.h"

#include <QDate>
#include <QTemporaryDir>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// "yyyy-MM-ddThh:mm:ss.zzz" and the zone text, as a regular expression.
std::string stampPattern()
{
    std::string zone = Log::getTimeZoneOffset().toStdString();
    if (zone[0] == '+')
        zone = "\\" + zone;
    return "\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}" + zone + " ";
}

std::string readFile(const QString& path)
{
    return ::readFile(path.toStdString());
}

// What the sink has sent to the peer: its sends are complete when the log
// call returns.
std::string received(int fd)
{
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class ClockedLogFile : public LogFile
{
public:
    using LogFile::LogFile;
    DateTime now{ 0L };

protected:
    DateTime today() const override { return now; }
};

// Keeps the lines it is given, or throws on every line.
class RecordingSink : public Log
{
public:
    explicit RecordingSink(bool failing) : m_failing(failing) { m_timestamps = false; }
    void writeEvent(VtrLogLevel, const QString& line) override
    {
        if (m_failing)
            throw std::runtime_error("sink");
        lines.append(line);
    }
    QStringList lines;

private:
    bool m_failing;
};

// Every test leaves the sinks as the program starts them: disabled.
class LogTest : public testing::Test
{
protected:
    void TearDown() override
    {
        const QSharedPointer<Log> sinks[] = { g_logConsole, g_logFile, g_logSocket };
        for (const QSharedPointer<Log>& sink : sinks) {
            sink->setEnabled(false);
            sink->setLoggingLevel(VTR_LOG_DEVEL);
        }
        g_logConsole->setTimestamps(true);
        g_logFile->setFileName(QString(), true);
        g_logSocket->removeAll();
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(LogTest, NothingIsWrittenByDefault)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    g_logSocket->addSocket(sv[0]);
    g_logFile->setFileName(path("player.log"), false);

    CaptureStdout();
    logError("x");
    logInfo("y");
    logEvent(VTR_LOG_FATAL, "z");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(readFile(path("player.log")), "<missing>");
    EXPECT_EQ(received(sv[1]), "");
    close(sv[1]);
}

TEST_F(LogTest, ConsoleLineFormatAndThreshold)
{
    g_logConsole->setEnabled(true);
    CaptureStdout();
    logError("cannot open");
    logInfo("plain");
    g_logConsole->log(VTR_LOG_DEBUG, "n=%d \r\n", 5);
    const std::string out = GetCapturedStdout();
    const std::string stamp = stampPattern();
    EXPECT_TRUE(std::regex_match(out, std::regex("ERROR> " + stamp + "cannot open\r\n" + stamp
                                                 + "plain\r\nDEBUG> " + stamp + "n=5\r\n")))
        << out;

    g_logConsole->setLoggingLevel(3);
    g_logConsole->setTimestamps(false);
    CaptureStdout();
    logWarning("w");
    logInfo("dropped");
    logDebug("dropped");
    logCritical("c");
    EXPECT_EQ(GetCapturedStdout(), "WARN> w\r\nCRIT> c\r\n");
}

TEST_F(LogTest, NumberedAndObjectForms)
{
    g_logConsole->setEnabled(true);
    g_logConsole->setTimestamps(false);
    CaptureStdout();
    logInfo1("a %1 b %1", "X");
    logInfo2("%1-%2", "%2", "y"); // substituted text is not rescanned
    logInfo3("[%1|%2|%3|%4]", nullptr, "b", "c");
    logError2(reinterpret_cast<const void*>(0xff), "%2%1", "1", "2");
    logEvent(VTR_LOG_WARN, QString::fromUtf8("gr\xc3\xbc\xc3\x9f"));
    logEvent1(VTR_LOG_DEVEL, reinterpret_cast<const void*>(1), "%1", "d");
    EXPECT_EQ(GetCapturedStdout(),
              "a X b X\r\n"
              "%2-y\r\n"
              "[|b|c|%4]\r\n"
              "ERROR> [000000ff] 21\r\n"
              "WARN> gr\xc3\xbc\xc3\x9f\r\n"
              "DEVEL> [00000001] d\r\n");
}

TEST_F(LogTest, FileSinkAppendsLinesAndReportsFailures)
{
    g_logFile->setFileName(path("player.log"), false);
    g_logFile->setEnabled(true);
    logWarning("disk");
    logInfo("x");
    const std::string stamp = stampPattern();
    const std::string text = readFile(path("player.log"));
    EXPECT_TRUE(std::regex_match(text, std::regex("WARN> " + stamp + "disk\r\n" + stamp + "x\r\n")))
        << text;

    // Daily names use today's date.
    g_logFile->setFileName(path("daily.log"), true);
    logInfo("today");
    const QDate today = QDate::currentDate();
    const QString expected = path("daily_") + today.toString(QStringLiteral("yyMMdd")) + ".log";
    EXPECT_EQ(g_logFile->getCurrentPath(), expected);
    EXPECT_NE(readFile(expected), "<missing>");

    // A folder that does not exist is not created; the event is lost.
    g_logFile->setFileName(path("missing/x.log"), false);
    CaptureStderr();
    logInfo("lost");
    GetCapturedStderr();
    EXPECT_EQ(readFile(path("missing")), "<missing>");
}

TEST_F(LogTest, DailyFileNameSwitchesAtTheFirstEventAfterMidnight)
{
    ClockedLogFile names(QStringLiteral("logs/player.log"), true);
    names.now = DateTime(2011, 3, 4);
    names.constructDailyLogName();
    EXPECT_EQ(names.getCurrentPath(), "logs/player_110304.log");
    names.setFileName(QStringLiteral("a.d/%2.tar.gz"), true);
    EXPECT_EQ(names.getCurrentPath(), "a.d/%2_110304.tar.gz");

    ClockedLogFile sink(path("player.log"), true);
    sink.setEnabled(true);
    sink.setTimestamps(false);
    sink.now = DateTime(2011, 3, 4, 23, 59, 59);
    sink.log(VTR_LOG_INFO, QStringLiteral("before"));
    sink.now = DateTime(2011, 3, 5, 0, 0, 1);
    sink.log(VTR_LOG_INFO, QStringLiteral("after"));
    sink.log(VTR_LOG_ERROR, QStringLiteral("again"));
    EXPECT_EQ(readFile(path("player_110304.log")), "before\r\n");
    EXPECT_EQ(readFile(path("player_110305.log")), "after\r\nERROR> again\r\n");
}

TEST_F(LogTest, SocketSinkSendsWithoutTimestampsAndDropsDeadPeers)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    g_logSocket->addSocket(sv[0]);
    g_logSocket->addSocket(sv[0]);
    g_logSocket->addSocket(0);
    EXPECT_EQ(g_logSocket->count(), 1);
    g_logSocket->setEnabled(true);

    logWarning("w");
    EXPECT_EQ(received(sv[1]), "WARN> w\r\n");
    logInfo("hello");
    EXPECT_EQ(received(sv[1]), "hello\r\n");

    // A peer that has gone: the socket is closed and dropped, logging goes on.
    close(sv[1]);
    CaptureStderr();
    logInfo("gone");
    GetCapturedStderr();
    EXPECT_EQ(g_logSocket->count(), 0);
}

TEST_F(LogTest, FailingSinkDoesNotStopTheOthers)
{
    QSharedPointer<LogGroup> group = LogGroup::Instance();
    const int before = group->count();
    QSharedPointer<Log> thrower(new RecordingSink(true));
    QSharedPointer<RecordingSink> recorder(new RecordingSink(false));
    thrower->setEnabled(true);
    recorder->setEnabled(true);
    group->add(thrower);
    group->add(recorder);
    group->add(recorder);
    group->add(QSharedPointer<Log>());
    EXPECT_EQ(group->count(), before + 2);

    CaptureStderr();
    logError("boom");
    GetCapturedStderr();
    EXPECT_EQ(recorder->lines, QStringList{ QStringLiteral("ERROR> boom\r\n") });

    group->remove(thrower);
    group->remove(recorder);
    EXPECT_EQ(group->count(), before);
}

TEST_F(LogTest, FirstUseFromManyThreadsCreatesOneGroup)
{
    LogGroup::Delete();
    g_logConsole->setEnabled(true);
    g_logConsole->setTimestamps(false);
    constexpr int kThreads = 8;
    std::atomic<bool> go{ false };
    std::vector<LogGroup*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;

    CaptureStdout();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            seen[t] = LogGroup::Instance().data();
            const std::string id = std::to_string(t);
            for (int i = 0; i < 100; ++i)
                logInfo1("thread %1 line", id.c_str());
        });
    }
    go = true;
    for (std::thread& th : threads)
        th.join();
    const std::string out = GetCapturedStdout();

    for (LogGroup* g : seen)
        EXPECT_EQ(g, LogGroup::Instance().data());
    EXPECT_EQ(LogGroup::Instance()->count(), 3);
    // Whole lines only: writes of different threads never interleave.
    const size_t lineLength = std::string("thread 0 line\r\n").size();
    ASSERT_EQ(out.size(), kThreads * 100 * lineLength);
    for (size_t at = 0; at < out.size(); at += lineLength)
        ASSERT_TRUE(std::regex_match(out.substr(at, lineLength), std::regex("thread [0-7] line\r\n")))
            << out.substr(at, lineLength);
}

TEST_F(LogTest, ZoneTextDropsMinutes)
{
    const std::pair<const char*, const char*> cases[] = {
        { "EST5", "-5" }, { "CET-1", "+1" }, { "NST3:30", "-3" }, { "XXX0:30", "+0" }, { "IST-5:30", "+5" }
    };
    for (const auto& [tz, text] : cases) {
        ZoneGuard zone(tz);
        EXPECT_EQ(Log::getTimeZoneOffset(), QString::fromLatin1(text)) << tz;
    }
}

TEST(LogDeathTest, FatalLogsAndEndsTheProcessWith255)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fatal.log"));
    EXPECT_EXIT(
        {
            g_logFile->setFileName(file, false);
            g_logFile->setEnabled(true);
            logFatal("x");
        },
        testing::ExitedWithCode(255), "");
    const std::string text = readFile(file);
    EXPECT_TRUE(std::regex_match(text, std::regex("FATAL> " + stampPattern() + "x\r\n"))) << text;
}
