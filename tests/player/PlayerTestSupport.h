#pragma once

// Test doubles for the player's window, view and prompter, a sink that keeps
// the log lines, and small helpers to build recordings.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <vector>

#include "Array.h"
#include "GridDecoder.h"
#include "GridEncoder.h"
#include "IPlayerView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "Log.h"
#include "VideoFrame.h"

// The view: a screen frame under a mutex and a record of the calls.
class FakeView : public IPlayerView
{
public:
    struct MouseEvent
    {
        int x, y;
        unsigned long id;
        quint64 wallMs; // when the call came
    };

    void onScreenDimension(int width, int height) override;
    void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) override;
    void onDecodePassCompleted() override;
    void onDecodeCompleted() override;

    void reset() override;
    void redraw() override;
    void onConnected() override {}
    void onDisconnected() override {}
    void setPauseText(const QString&) override {}
    void onPause(bool) override;
    void onMousePos(int x, int y, unsigned long cursorId, bool) override;
    void onMouseCursor(unsigned long cursorId, unsigned char* data, int length) override;
    void onPresenterInfo(int, bool) override {}
    void onScreenReset() override {}
    void onDecodeBegin() override {}

    void onStatusText(const QString& text) override;
    void setFirstDimension(bool first) override;
    bool isInfoShown() const override;
    void getImageSize(int& width, int& height) override;
    void clearScreen() override;
    void setScreenPixels(const unsigned int* pixels, int width, int height) override;

    // Copies of what was recorded, taken under the lock.
    VideoFrame frame();
    QStringList statusTexts();
    std::vector<MouseEvent> mouseEvents();
    int count(const char* call);
    std::vector<QByteArray> cursors();
    void clearRecord();

private:
    void note(const char* call);

    mutable std::mutex m_mutex;
    VideoFrame m_frame;
    bool m_infoShown = false;
    bool m_firstDimension = false;
    QStringList m_statusTexts;
    std::vector<MouseEvent> m_mouse;
    std::vector<QByteArray> m_cursors;
    std::vector<std::pair<QString, int>> m_calls;
};

// The window: the three slots record what arrives (queued, on the GUI thread).
class FakeWindow : public QObject, public IPlayerWindow
{
    Q_OBJECT

public:
    QObject* receiver() override { return this; }
    void setTitle(const QString& title) override;
    void setVisible(bool visible) override;
    bool playOnOpen() const override { return m_playOnOpen; }

    std::vector<int> statuses;
    std::vector<quint64> positions;
    int invalidFormats = 0;
    bool m_playOnOpen = false;
    QString title() const;
    bool visible() const;

public slots:
    void onPlayerStatus(int status);
    void onPlayerPositionChanged(quint64 seconds);
    void onInvalidFileFormat();

private:
    mutable std::mutex m_mutex;
    QString m_title;
    bool m_visible = false;
};

// The prompter: answers from a script (Cancel for questions and No for
// warnings when the script is empty) and records every box.
class FakePrompter : public IPrompter
{
public:
    struct Box
    {
        QString kind; // "critical", "question", "warning", "open"
        QString title;
        QString text;
    };

    void critical(const QString& title, const QString& text) override;
    Answer question(const QString& title, const QString& text) override;
    Answer warning(const QString& title, const QString& text) override;
    QString getOpenFileName(const QString& caption, const QString& folder,
                            const QString& filter) override;
    void serviceWhileWaiting() override;

    void answer(Answer a);
    std::vector<Box> boxes();
    QStringList texts(const QString& kind);
    QString openAnswer;
    // Called (on the asking thread) when a warning is asked, before answering.
    std::function<void()> onWarning;

private:
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
    QStringList lines() const;
    bool contains(const QString& text) const;
    // Index of the first line at or after `from` that contains `text`, or -1.
    int find(const QString& text, int from = 0) const;

private:
    class Sink;
    QSharedPointer<Log> m_sink;
};

// Processes events until `done` holds or `timeoutMs` passes; true when it held.
bool waitFor(const std::function<bool()>& done, int timeoutMs);
// Processes events for about `ms`.
void pump(int ms);

// ---------------------------------------------------------------------------
// Recordings

// Screens painted box by box with few colours, so that the grid codec and the
// index's key frames reproduce them exactly.
class ScreenPainter
{
public:
    ScreenPainter(int width, int height);
    // A frame where box (bx, by) has colour base + f * 7 + bx * 3 + by, with
    // a two-colour stripe in every fourth box; `f` selects the frame.
    void paint(int f);
    // A noisy (photographic) block in the top-left 32 x 32 pixels.
    void paintPhoto(int seed);
    VideoFrame& frame() { return m_frame; }

private:
    VideoFrame m_frame;
};

// Payload of a screen unit: the code byte, a zero byte, then codec data.
QByteArray screenPayload(unsigned char code, const QByteArray& codec);
// Screen header codec data: width, height (big-endian), JPEG factor, reserved.
QByteArray screenHeader(int width, int height, int jpegScale);
// Control payloads.
QByteArray mousePayload(int x, int y, quint32 cursorId);

// Decodes a whole recording the straight way (every screen unit with time at
// most `upToMs`, in order) into a frame, as a reference.
VideoFrame straightDecode(const QString& path, quint64 upToMs, bool inclusive = true);

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
QByteArray recordingBytes(quint64 duration, const std::vector<TestUnit>& units,
                          const char* sessionId = "123456789");
bool writeFile(const QString& path, const QByteArray& bytes);

quint64 nowMs();

// A recording of a w x h screen: at time 0 a full-screen header and the first
// frame (ended with 0xED), then every `stepMs` an update (0xEA) of the next
// frame ended with 0xED, and a mouse position, up to `lastMs`. Screen units
// are compressed when `compress` is set.
std::vector<TestUnit> screenUnits(int width, int height, quint64 stepMs, quint64 lastMs,
                                  bool compress = false, int jpegScale = 77);
