// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlayerTestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include "GridEncoder.h"
#include "Thread.h"
#include "UnitDispatch.h"

// The engine's signals are queued to the thread that runs the event loop, so
// the tests need an application object and process its events while waiting.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("SessionPlayerTests"));
    // Settings ("last_path") go to a test location, never the user's.
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

IPrompter::Answer FakePrompter::ask(const char* kind, const QString& title, const QString& text,
                                    Answer unscripted)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes << QString::fromLatin1(kind) + '|' + title + '|' + text;
    if (unscripted == Ok || m_script.empty())
        return unscripted;
    const Answer a = m_script.front();
    m_script.erase(m_script.begin());
    return a;
}

void LogCapture::Sink::writeEvent(VtrLogLevel, const QString& line)
{
    std::lock_guard<std::mutex> lock(mutex);
    lines << line;
}

LogCapture::LogCapture()
{
    m_sink->setTimestamps(false);
    m_sink->setLoggingLevel(VTR_LOG_DEVEL);
    m_sink->setEnabled(true);
    LogGroup::Instance()->add(m_sink);
}

LogCapture::~LogCapture()
{
    LogGroup::Instance()->remove(m_sink);
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(m_sink->mutex);
    return m_sink->lines;
}

int LogCapture::find(const QString& text, int from) const
{
    // indexOf takes whole matches; log lines end with CR LF.
    const QRegularExpression containing(".*" + QRegularExpression::escape(text) + ".*",
                                        QRegularExpression::DotMatchesEverythingOption);
    return lines().indexOf(containing, from);
}

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    const quint64 end = nowMs() + static_cast<quint64>(timeoutMs);
    for (;;) {
        QCoreApplication::processEvents();
        if (done())
            return true;
        if (nowMs() >= end)
            return false;
        QThread::msleep(5);
    }
}

bool waitForStopRequest(int timeoutMs)
{
    const quint64 end = nowMs() + static_cast<quint64>(timeoutMs);
    while (!Thread::getCurrentThread()->isStopRequested()) {
        if (nowMs() >= end)
            return false;
        Thread::sleep(2);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Recordings

VideoFrame paintScreen(int width, int height, int f)
{
    VideoFrame frame;
    frame.resize(width, height);
    for (int i = 0; i < width * height; ++i) {
        const int x = i % width, y = i / width, box = f * 7 + x / 16 * 3 + y / 16;
        const bool stripe = (x / 16 + y / 16 + f) % 4 == 0 && (x + y) % 3 == 0;
        const unsigned int c = unsigned(box * 0x0A0B0C) ^ (stripe ? 0xFFFFFFu : 0u);
        frame.pixels()[i] = 0xFF000000u | (c & 0xFFFFFFu);
    }
    return frame;
}

QByteArray screenHeader(int width, int height, int jpegScale)
{
    const char h[] = {char(width >> 8), char(width), char(height >> 8), char(height),
                      char(jpegScale), 0};
    return QByteArray(h, 6);
}

QByteArray recordingBytes(quint64 duration, const Units& units)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    RecordingWriter writer;
    writer.open(&buffer);
    units(writer);
    writer.finish(static_cast<long long>(duration));
    return bytes;
}

Units mouseUnits(const std::vector<quint64>& times)
{
    return [=](RecordingWriter& w) {
        for (size_t i = 0; i < times.size(); ++i)
            w.writeMousePos(times[i], int(i), 0, 7);
    };
}

Units screenUnits(int width, int height, quint64 stepMs, quint64 lastMs)
{
    return [=](RecordingWriter& w) {
        for (int f = 0; quint64(f) * stepMs <= lastMs; ++f) {
            VideoFrame frame = paintScreen(width, height, f);
            w.writeScreenFrame(quint64(f) * stepMs, frame);
            w.writeMousePos(quint64(f) * stepMs, f, f % height, 1);
        }
    };
}

VideoFrame paintRows(int width, int height, int f)
{
    VideoFrame frame;
    frame.resize(width, height);
    for (int y = 0; y < height; ++y) {
        const unsigned int row = unsigned(y / 16 * 0x1F2E3D + f * 0x050607);
        for (int x = 0; x < width; ++x) {
            // Every box starts with the row's colour, so all boxes of a row
            // list their two colours in the same order.
            const bool ink = (x % 16 * 3 + y % 16 + f) % 7 == 3 && (x % 16 || y % 16);
            frame.pixels()[y * width + x] = 0xFF000000u | ((ink ? ~row : row) & 0xFFFFFFu);
        }
    }
    return frame;
}

Units chunkedUnits(int width, int height, quint64 firstMs, quint64 stepMs, quint64 lastMs)
{
    return [=](RecordingWriter& w) {
        w.setChunkedScreen(true);
        for (int f = 0; firstMs + quint64(f) * stepMs <= lastMs; ++f) {
            VideoFrame frame = paintRows(width, height, f);
            w.writeScreenFrame(firstMs + quint64(f) * stepMs, frame);
            w.writeMousePos(firstMs + quint64(f) * stepMs, f, 0, 1);
        }
    };
}

Units heavyUnits(quint64 stepMs, quint64 lastMs)
{
    GridEncoder encoder;
    encoder.setScreenDimension(1024, 768);
    std::vector<QByteArray> frames(2);
    Array<unsigned char, int> unused;
    for (int i = 0; i < 3; ++i) { // the third encode is a whole-screen change again
        VideoFrame frame = paintScreen(1024, 768, i % 2);
        encoder.encode(&frame, 0, 0, 1024, 768, unused);
        frames[size_t(i) % 2] =
            QByteArray((const char*)encoder.output().data(), encoder.output().count());
    }
    return [=](RecordingWriter& w) {
        w.setCompression(true);
        w.writeScreenHeader(0, 1024, 768);
        for (int f = 0; quint64(f) * stepMs <= lastMs; ++f) {
            w.writeScreenMessage(quint64(f) * stepMs, UnitDispatch::SCREEN_END, frames[f % 2]);
            w.writeMousePos(quint64(f) * stepMs, f, 0, 1);
        }
    };
}
