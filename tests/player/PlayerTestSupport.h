#pragma once

// Test doubles for the player's window, view and prompter, a sink that keeps
// the log lines, and small helpers to build recordings.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "GridEncoder.h"
#include "IPlayerView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "Log.h"
#include "ScreenCopy.h"
#include "StraightDecode.h"

quint64 nowMs();

// The view: the screen under a mutex, and a record of the calls. The player
// thread calls it while the test reads it.
class FakeView : public ScreenCopy<IPlayerView>
{
public:
    struct MouseEvent
    {
        int x, y;
        unsigned long id;
        quint64 wallMs; // when the call came
    };

    void onScreenDimension(int w, int h) override
    {
        auto l = note("onScreenDimension");
        ScreenCopy::onScreenDimension(w, h);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        auto l = note("onBoxDecoded");
        ScreenCopy::onBoxDecoded(box, x, y, w, h);
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

    // Copies of what was recorded, taken under the lock.
    VideoFrame frame() const { return copy(screen); }
    QStringList statusTexts() const { return copy(m_statusTexts); }
    std::vector<MouseEvent> mouseEvents() const { return copy(m_mouse); }
    std::vector<QByteArray> cursors() const { return copy(m_cursors); }
    int count(const char* call) const
    {
        const auto calls = copy(m_calls);
        return calls.count(call) ? calls.at(call) : 0;
    }

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
    bool m_infoShown = false;
    QStringList m_statusTexts;
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
    void setTitle(const QString& title) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_title = title;
    }
    void setVisible(bool visible) override { m_visible = visible; }
    bool playOnOpen() const override { return m_playOnOpen; }
    QString title() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_title;
    }

    std::vector<int> statuses;
    int invalidFormats = 0;
    std::atomic<bool> m_playOnOpen{false}, m_visible{false};

public slots:
    void onPlayerStatus(int status) { statuses.push_back(status); }
    void onPlayerPositionChanged(quint64) {}
    void onInvalidFileFormat() { ++invalidFormats; }

private:
    mutable std::mutex m_mutex;
    QString m_title;
};

// The prompter: records every box; questions and warnings take the next
// scripted answer, Cancel and No when the script is empty.
class FakePrompter : public IPrompter
{
public:
    struct Box
    {
        QString kind; // "critical", "question" or "warning"
        QString title;
        QString text;
    };

    void critical(const QString& title, const QString& text) override
    {
        ask("critical", title, text, Ok);
    }
    Answer question(const QString& title, const QString& text) override
    {
        return ask("question", title, text, Cancel);
    }
    Answer warning(const QString& title, const QString& text) override
    {
        return ask("warning", title, text, No);
    }
    QString getOpenFileName(const QString&, const QString&, const QString&) override
    {
        return QString();
    }
    void serviceWhileWaiting() override;

    void answer(Answer a)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script.push_back(a);
    }
    std::vector<Box> boxes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }
    QStringList texts(const QString& kind);

private:
    // Records the box; `unscripted` is Ok for the boxes that ask nothing.
    Answer ask(const char* kind, const QString& title, const QString& text, Answer unscripted);

    std::mutex m_mutex;
    std::vector<Answer> m_script;
    std::vector<Box> m_boxes;
};

// Keeps every log line while it is alive (all levels, no timestamps).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    int size() const { return lines().size(); }
    // Index of the first line at or after `from` that contains `text`, or -1.
    int find(const QString& text, int from = 0) const;
    bool contains(const QString& text, int from = 0) const { return find(text, from) >= 0; }
    QStringList lines() const;

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
// Processes events for about `ms`.
void pump(int ms);

// ---------------------------------------------------------------------------
// Recordings

// A screen of few colours per box, which the grid codec and the index's key
// frames reproduce exactly: box (bx, by) has colour f * 7 + bx * 3 + by, with
// a two-colour stripe in every fourth box; `f` selects the frame.
VideoFrame paintScreen(int width, int height, int f);
// The codec data of a whole-screen update of `frame` by `encoder`, whose
// screen dimension is set.
QByteArray encodeScreen(GridEncoder& encoder, VideoFrame& frame);

// Payload of a screen unit: the code byte, a zero byte, then codec data.
QByteArray screenPayload(unsigned char code, const QByteArray& codec);
// Screen header codec data: width, height (big-endian), JPEG factor, reserved.
QByteArray screenHeader(int width, int height, int jpegScale);
// Control payload of a mouse position.
QByteArray mousePayload(int x, int y, quint32 cursorId);

// Units of a recording, written by RecordingWriter in this order. Types that
// are not a valid kind without the compression flag (unknown kinds, 0x12 with
// bytes that are not zlib) are written raw, as they are.
struct TestUnit
{
    unsigned char type;
    quint64 time;
    QByteArray payload;
    int channels = 0;
    bool compress = false;
};
QByteArray recordingBytes(quint64 duration, const std::vector<TestUnit>& units);
bool writeFile(const QString& path, const QByteArray& bytes);

// A recording of a w x h screen: at time 0 a full-screen header and the first
// frame (ended with 0xED), then every `stepMs` an update (0xEA) of the next
// frame ended with 0xED, and a mouse position (x = frame number), up to
// `lastMs`. Screen units are compressed when `compress` is set.
std::vector<TestUnit> screenUnits(int width, int height, quint64 stepMs, quint64 lastMs,
                                  bool compress = false);
// Two whole frames of a 1024 x 768 screen alternating every `stepMs` up to
// `lastMs`, compressed, each with a mouse position (x = frame number): cheap
// to write, slow to decode, so that catch-ups and index builds take a while.
std::vector<TestUnit> heavyUnits(quint64 stepMs, quint64 lastMs);
