// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test doubles for the player's window, view and prompter, a sink that keeps
// the log lines, small helpers to build recordings, and the fixture of the
// player on its real thread.

#include <QDateTime>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileBytes.h"
#include "FilePlayer.h"
#include "IPlayerView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "Log.h"
#include "RecordingWriter.h"
#include "ScreenDiff.h"
#include "ScreenFrame.h"
#include "StraightDecode.h"

inline quint64 nowMs() { return quint64(QDateTime::currentMSecsSinceEpoch()); }

// Holds the player thread at a point of the test's choosing: once armed, the
// next call of pass() waits there until release().
class Gate
{
public:
    void arm() { set(m_armed, true), set(m_reached, false); }
    void pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_armed)
            return;
        m_armed = false, m_reached = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !m_reached; });
    }
    bool waitReached(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_reached; });
    }
    void release() { set(m_reached, false); }

private:
    void set(bool& flag, bool value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        flag = value;
        m_changed.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    bool m_reached = false;
};

// The view: the screen under a mutex, and a record of the calls. The player
// thread calls it while the test reads it.
class FakeView : public IPlayerView
{
public:
    // Passed on every decoded box, before the view's lock is taken.
    Gate boxGate;

    struct MouseEvent
    {
        int x, y;
        unsigned long id;
        quint64 wallMs; // when the call came
    };

    void onScreenDimension(int w, int h) override
    {
        auto l = note("onScreenDimension");
        screen.onScreenDimension(w, h);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        boxGate.pass();
        auto l = note("onBoxDecoded");
        screen.onBoxDecoded(box, x, y, w, h);
    }
    void onDecodePassCompleted() override { note("onDecodePassCompleted"); }
    void onDecodeCompleted() override { note("onDecodeCompleted"); }
    void reset() override { note("reset"), m_infoShown = false; }
    void redraw() override {}
    void onConnected() override {}
    void onDisconnected() override {}
    void setPauseText(const QString&) override {}
    void onPause(bool) override { onStatusText(QStringLiteral("PAUSE")); }
    void onMousePos(int x, int y, unsigned long id, bool) override
    {
        note("onMousePos"), m_mouse.push_back({x, y, id, nowMs()});
    }
    void onMouseCursor(unsigned long id, unsigned char* data, int length) override
    {
        note("onMouseCursor"), m_cursors.push_back(QByteArray::number(qulonglong(id)) + ':'
                                                   + QByteArray((const char*)data, length));
    }
    void onPresenterInfo(int, bool) override {}
    void onScreenReset() override {}
    void onDecodeBegin() override {}
    void onStatusText(const QString& text) override
    {
        note("onStatusText"), m_infoShown = true, m_statusTexts << text;
    }
    void setFirstDimension(bool) override {}
    bool isInfoShown() const override { return copy(m_infoShown); }
    void getImageSize(int& w, int& h) override
    {
        note("getImageSize"), w = screen.width(), h = screen.height();
    }
    void clearScreen() override { note("clearScreen"), screen.clear(0); }
    void setScreenPixels(const unsigned int* pixels, int w, int h) override
    {
        note("setScreenPixels"), screen.setPixels(pixels, w, h);
    }
    void showMessage(const QString& text) override { note("showMessage"), m_messages << text; }

    // Copies of what was recorded, taken under the lock.
    VideoFrame frame() const { return copy<VideoFrame>(screen); }
    QStringList statusTexts() const { return copy(m_statusTexts); }
    QStringList messages() const { return copy(m_messages); }
    std::vector<MouseEvent> mouseEvents() const { return copy(m_mouse); }
    std::vector<QByteArray> cursors() const { return copy(m_cursors); }
    int count(const char* call) const { return copy(m_calls)[call]; }

private:
    // Locks for the rest of the calling statement and counts the call.
    std::unique_lock<std::mutex> note(const char* call)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_calls[call];
        return lock;
    }
    template <class T> T copy(const T& field) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return field;
    }

    mutable std::mutex m_mutex;
    ScreenFrame screen;
    bool m_infoShown = false;
    QStringList m_statusTexts;
    QStringList m_messages;
    std::vector<MouseEvent> m_mouse;
    std::vector<QByteArray> m_cursors;
    std::map<std::string, int> m_calls;
};

// The window: its slots record the statuses that arrive (queued, on the GUI
// thread).
class FakeWindow : public QObject, public IPlayerWindow
{
    Q_OBJECT

public:
    QObject* receiver() override { return this; }
    void setTitle(const QString&) override {}
    void setVisible(bool) override {}
    bool playOnOpen() const override { return m_playOnOpen; }

    std::vector<int> statuses;
    std::vector<quint64> positions;
    std::vector<quint64> durations;
    int invalidFormats = 0;
    std::atomic<bool> m_playOnOpen{false};

public slots:
    void onPlayerStatus(int status) { statuses.push_back(status); }
    void onPlayerPositionChanged(quint64 seconds) { positions.push_back(seconds); }
    void onPlayerDurationChanged(quint64 ms) { durations.push_back(ms); }
    void onInvalidFileFormat() { ++invalidFormats; }
};

// The prompter: records every box as "kind|title|text"; questions and
// warnings take the next scripted answer, Cancel and No when there is none.
class FakePrompter : public IPrompter
{
public:
    void critical(const QString& t, const QString& s) override { ask("critical", t, s, Ok); }
    Answer question(const QString& t, const QString& s) override
    {
        return ask("question", t, s, Cancel);
    }
    Answer warning(const QString& t, const QString& s) override { return ask("warning", t, s, No); }
    QString getOpenFileName(const QString&, const QString&, const QString&) override { return {}; }

    void answer(Answer a)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script.push_back(a);
    }
    QStringList boxes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }
    int count(const char* kind) { return boxes().filter(QLatin1String(kind) + '|').size(); }
    QString last() { return boxes().value(boxes().size() - 1); }

private:
    // Records the box; `unscripted` is Ok for the boxes that ask nothing.
    Answer ask(const char* kind, const QString& title, const QString& text, Answer unscripted);

    std::mutex m_mutex;
    std::vector<Answer> m_script;
    QStringList m_boxes;
};

// Keeps every log line while it is alive (all levels, no timestamps).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    int size() const { return lines().size(); }
    // Index of the first line at or after `from` that contains `text`, or -1.
    int find(const QString& text, int from = 0) const;
    bool contains(const QString& text, int from = 0) const { return find(text, from) >= 0; }

private:
    struct Sink : Log
    {
        void writeEvent(VtrLogLevel, const QString& line) override;
        mutable std::mutex mutex;
        QStringList lines;
    };
    QSharedPointer<Sink> m_sink{new Sink};
};

// Processes events until `done` holds or `timeoutMs` passes; true when it held.
bool waitFor(const std::function<bool()>& done, int timeoutMs);
// On a thread of the system's own (the key-frame writer's): waits until its
// owner asks it to stop, without touching Qt's events. False on time-out.
bool waitForStopRequest(int timeoutMs);
// Processes events for about `ms`.
inline void pump(int ms)
{
    waitFor([] { return false; }, ms);
}

// ---------------------------------------------------------------------------
// Recordings

// A screen of few colours per box, which the grid codec and the index's key
// frames reproduce exactly: box (bx, by) has colour f * 7 + bx * 3 + by, with
// a two-colour stripe in every fourth box; `f` selects the frame.
VideoFrame paintScreen(int width, int height, int f);
// Screen header codec data: width, height (big-endian), JPEG factor, reserved.
QByteArray screenHeader(int width, int height, int jpegScale);

// The bytes of a recording that `units` writes, with the header's duration
// set to `duration`.
using Units = std::function<void(RecordingWriter&)>;
QByteArray recordingBytes(quint64 duration, const Units& units);

// Mouse positions at the given times (x = index), nothing else.
Units mouseUnits(const std::vector<quint64>& times);
// A w x h screen showing paintScreen(w, h, f) from f * stepMs on, up to
// `lastMs`, each frame followed by a mouse position (x = f).
Units screenUnits(int width, int height, quint64 stepMs, quint64 lastMs);
// Frame `f` of a w x h screen in which every box is a two-colour bitmap in
// the colours of its row of boxes, its pattern changing with `f`: the grid
// encoder writes most boxes without a palette (codes 22..25), so each box
// paints with the palette a box before it left.
VideoFrame paintRows(int width, int height, int f);
// Frames of paintRows every `stepMs` from `firstMs` up to `lastMs`, each
// written in chunks of about 20000 bytes (0xEA units, the last one 0xED)
// and followed by a mouse position (x = frame number).
Units chunkedUnits(int width, int height, quint64 firstMs, quint64 stepMs, quint64 lastMs);
// Two whole frames of a 1024 x 768 screen alternating every `stepMs` up to
// `lastMs`, compressed, each with a mouse position (x = frame number): cheap
// to write, slow to decode, so that catch-ups and index builds take a while.
Units heavyUnits(quint64 stepMs, quint64 lastMs);

// ---------------------------------------------------------------------------
// A player with its real thread, wired to the test doubles, over recordings
// in a temporary folder.
class PlayerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        player.setSessionPlayer(&window);
        player.setDrawingScene(&view);
        player.setPrompter(&prompter);
        player.start();
        ASSERT_TRUE(waitFor([&] { return !window.statuses.empty(); }, 5000));
    }
    void TearDown() override
    {
        if (player.getState() == FilePlayer::STATE_INDEXING)
            prompter.answer(IPrompter::Yes);
        player.stop();
        player.Thread::stop(true);
    }

    QString write(const QString& name, quint64 duration, const Units& units)
    {
        EXPECT_TRUE(writeBytes(dir.filePath(name), recordingBytes(duration, units)));
        return dir.filePath(name);
    }
    // Opens a recording, answering the index question with `answer`.
    bool open(const QString& p, IPrompter::Answer answer = IPrompter::No)
    {
        prompter.answer(answer);
        return player.openFile(p);
    }
    bool waitState(int state, int timeoutMs = 10000)
    {
        return waitFor([&] { return player.getState() == state; }, timeoutMs);
    }
    // The statuses reported since `from`, once the queued ones have arrived.
    std::vector<int> statusesSince(size_t from)
    {
        pump(50);
        return std::vector<int>(window.statuses.begin() + long(from), window.statuses.end());
    }

    QTemporaryDir dir;
    LogCapture log;
    FakeView view;
    FakeWindow window;
    FakePrompter prompter;
    FilePlayer player; // last: destroyed first, it points at the doubles
};
