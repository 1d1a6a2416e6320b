#pragma once

#include <QAudioDevice>
#include <QAudioFormat>
#include <QFile>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

#include "Array.h"
#include "GridDecoder.h"
#include "IndexFileHeader.h"
#include "RecordFileHeader.h"
#include "RecordReader.h"
#include "Thread.h"

class IPlayerView;
class IPlayerWindow;
class IPrompter;
class IndexBuilder;
class QAudioSink;
class QIODevice;

// The argument type of the audio signals; spelled the same way in the
// declarations and in SIGNAL()/SLOT().
typedef unsigned char byte;

// Start time of the current wait of the play loop.
class ChronoTimer
{
public:
    virtual ~ChronoTimer() = default;
    void start(quint64 now) { m_start = now; }
    quint64 elapsed(quint64 now) const { return now > m_start ? now - m_start : 0; }

    quint64 m_start = 0;
};

// Media time to wall time for a speed (unscale, in place): s > 0 divides by
// s, s < 0 multiplies by |s|, 0 and 1 leave t alone.
void fixTime(quint64& t, int speed);

// The playback engine. It owns the open recording, the grid decoder that
// rebuilds the remote screen, the loaded index, the index builder and the two
// audio outputs, and runs its own thread (the player thread, run()) with a
// small state machine:
//
//   0 idle, 1 playing, 2 paused, 3 seeking, 4 indexing, 5 error, 6 stopping.
//
// While playing it reads one unit at a time, waits until the unit is due on
// a clock that runs `speed` times faster (or |speed| times slower) than real
// time, and hands the unit to the view (mouse, cursor and screen messages),
// the decoder (screen units) or the audio outputs. It reports its state, its
// position in whole seconds and file-format errors through queued signals.
//
// Threads. The window (GUI thread) calls setSessionPlayer, setDrawingScene,
// setPrompter, openFile, play, pause, stop, seek and setRequestedSpeed; play()
// also runs on the player thread when an index build that followed opening
// succeeded and the window wants playback to start by itself. openFile, and
// play() from idle, use the recording and the decoder on the calling thread
// while the player thread is idle; otherwise only the player thread touches
// them. The fields the two threads share are atomics, marked below with who
// writes and who reads them; a writer stores the fields that a state hands
// over before the state itself (seek: target, mode and state-after-seek, then
// 3; play: clock base and pause start, then 1), and every waiting loop polls
// with a short sleep.
//
// Message boxes go through the IPrompter (which hands them to the GUI thread
// and makes a caller on the player thread wait for the answer); without one
// they are only logged.
//
// Choices where the behaviour was open:
// - A failure while the first screen is shown (a payload that does not
//   decompress, an unknown unit kind, a read error) is reported like the same
//   failure during playback, with its text ("Unknown Data Compression
//   format", "Error Reading file", "Unknown Error") in a critical box, and
//   openFile returns false: the recording is closed and not kept open.
//   Nothing escapes to the caller. A unit of unknown kind ends the
//   first-screen display quietly; playback reports it when it gets there.
// - A pause, a stop and a speed change end the wait for the current unit at
//   once; the unit then stays current and is dispatched when it is due on the
//   new clock (after the pause, at the new speed), instead of being
//   dispatched early or while "PAUSE" is shown.
// - play() while seeking or indexing does nothing (the seek returns to the
//   state it came from; the build ends on its own or through stop()); play()
//   while an error or a stop is being finished first waits, on the GUI
//   thread, until the player is idle and then starts from the beginning.
// - The catch-up of a seek applies every screen unit before the target once;
//   the first unit at or after the target (or the unit where a cancelled
//   catch-up stopped) becomes the current unit of the play loop without
//   being applied and is dispatched at once. After a key-frame restore the
//   first unit read is the one the key frame already contains and is not
//   applied; after a restart from the beginning or on a forward step it is.
//   A restart from the beginning also resets the decoder and clears the
//   screen, so that it paints exactly what a straight replay paints.
// - With an index whose table has no usable entry, absolute and backward
//   seeks replay from the beginning (they cannot move otherwise).
// - A successful index build loads the new index at once, so that "an index
//   is loaded" always comes with its table.
// - State reports made on the player thread are posted before the state is
//   stored, and stop() and play() deliver pending reports when their wait
//   ends: the window hears of the end of a stop before it hears of anything
//   that follows it.
// - Audio: each stream's output buffer holds two payloads like the one that
//   opened it (at least kAudioMinBufferMs, at most kAudioMaxBufferMs of
//   sound), so a whole unit is taken at once; the buffer is also the sound's
//   delay behind the picture. A larger payload that does not fit is written
//   in parts as the output drains, for at most the playing time of what did
//   not fit; what is still left then is dropped and logged.
// - An index is looked for beside the recording and then in the user's cache
//   folder, and built where IndexLocation places it (the cache folder when
//   the recording's folder cannot be written). When it can be written
//   nowhere, Yes to the index question says so once and seeking replays
//   from the start, as after No.
// - When playback ends, the position reported is where it stands: the
//   recording's duration after its last unit, 0 after a stop (play() starts
//   from the beginning).
class FilePlayer : public QObject, public Thread
{
    Q_OBJECT

public:
    enum State {
        STATE_IDLE = 0,
        STATE_PLAYING = 1,
        STATE_PAUSED = 2,
        STATE_SEEKING = 3,
        STATE_INDEXING = 4,
        STATE_ERROR = 5,
        STATE_STOPPING = 6
    };
    enum SeekMode { SEEK_ABSOLUTE = 1, SEEK_RELATIVE = 2 };

    static constexpr int kPayloadReserve = 3 * 1024 * 1024;
    static constexpr int kPayloadGrowBy = 1024 * 1024;
    static constexpr int kIndexInterval = 10000;
    static constexpr int kAudioRate = 48000;
    static constexpr int kAudioMinBufferMs = 250;
    static constexpr int kAudioMaxBufferMs = 4000;

    FilePlayer();
    ~FilePlayer() override;

    FilePlayer(const FilePlayer&) = delete;
    FilePlayer& operator=(const FilePlayer&) = delete;

    // The window: its receiver() gets playerStatusChanged(int),
    // playerPositionChanged(quint64) and invalidFileFormat() (automatic
    // connections, queued from the player thread); the index builder's
    // progress is chained into playerPositionChanged.
    void setSessionPlayer(IPlayerWindow* window);
    // The view; also becomes the decoder's listener.
    void setDrawingScene(IPlayerView* view);
    void setPrompter(IPrompter* prompter);

    int getState() const { return m_state.load(); }
    // Stores the state and emits playerStatusChanged.
    void setState(int state);

    // Opens and validates a recording and shows its first screen; with an
    // empty path it first asks for a file. True when the recording is ready
    // to play. GUI thread. The file is checked (type, opening, header) before
    // a recording that plays is stopped: false then leaves that recording as
    // it was. A failure past the check (its first screen) leaves no
    // recording open. The folder of a file that opened is remembered
    // ("last_path"), absolute.
    bool openFile(const QString& path);
    void play();
    void pause();
    // False only when an index build was running and the user chose to let
    // it go on; the player then stopped nothing.
    bool stop();
    // seconds from the start (SEEK_ABSOLUTE) or from the current unit's time
    // (SEEK_RELATIVE); GUI thread.
    void seek(long long seconds, int mode);

    // Written by the window (GUI thread), read by the player thread.
    void setRequestedSpeed(int speed) { m_requestedSpeed.store(speed); }
    int getRequestedSpeed() const { return m_requestedSpeed.load(); }

    // What the window shows of the opened recording (GUI thread).
    QString getDisplayName() const { return m_displayName; }
    QString getFileName() const { return m_fileName; }
    QString getSessionId() const { return m_fileHeader.sessionId(); }
    quint64 getDuration() const { return m_fileHeader.m_duration; }
    QString getIndexFileName() const { return m_indexFileName; }
    QString getStatusText() const { return m_statusText; }
    bool isIndexLoaded() const { return m_indexOk; }
    int getIndexEntryCount() const { return m_index.count(); }

    // Thread body: doWork(), then the files are closed and the audio outputs
    // deleted (on this thread, which created them).
    void run() override;
    bool autoDelete() override { return false; }

    // Wall clock in ms since the epoch; all timing of the player uses it.
    static quint64 currentTimeMs();

    // Position reports in whole seconds.
    void updateGUI(quint64 seconds);
    void updateGUI();

    // The setting "last_path": a folder ending with a separator.
    void loadFolder(QString& folder);
    void rememberFolder(const QString& folder);

    // Loads the index of the current recording (m_indexFileName: beside it,
    // or in the cache folder, see IndexLocation). An invalid index is
    // deleted; true when an index is loaded.
    bool loadIndex();

    // Benchmarks and tests only: carries out a seek to `targetMs` at once on
    // the calling thread, with the recording opened for playback as play()
    // from idle leaves it (call prepareSyncPlayback first). Runs exactly the
    // work of the player thread's seek (entry choice, restore, catch-up)
    // without the play loop's polling; returns the time of the unit that is
    // current afterwards. Never call it while the player thread plays.
    quint64 seekSync(long long targetMs, int mode = SEEK_ABSOLUTE);
    // Benchmarks and tests only: opens the recording and its index for
    // playback as play() from idle does, without changing the state.
    bool prepareSyncPlayback();

signals:
    void playerStatusChanged(int status);
    void playerPositionChanged(quint64 lastUpdated);
    void invalidFileFormat();
    void playCapSamples(byte* data, int size);
    void playSpkSamples(byte* data, int size);

public slots:
    void onPlayCapSamples(byte* data, int size);
    void onPlaySpkSamples(byte* data, int size);

protected:
    // The thread's main loop (see the state table in the .cpp).
    void doWork();
    // The paced play loop; returns when the state is no longer 1, 2 or 3.
    void doPlay();
    // Carries out the pending seek; true when it left a new current unit
    // (read, not yet dispatched).
    bool doSeek();

    // Reads the next unit into m_unitHeader / m_payload; false at the end of
    // the recording (also for a cut-off last unit). Throws 1 (an int) when
    // the recording is not open, as the play loop expects.
    bool readUnit();
    void processControlUnit();
    void processScreenUnit();
    void processInfoUnit() {}
    void processAudioCapUnit();
    void processAudioSpkUnit();
    bool initAudioCap(int channels);
    bool initAudioSpk(int channels);

    // Shows the first complete frame of the open recording.
    void showFirstScreen();
    // m_statusText = text, a critical box, then state 5.
    void setError(const QString& text);

    // True when the recording is at its end (nothing more to read).
    bool atEnd() const;
    void closeFiles();
    // Opens m_fileName read-only and reads its header; throws as the reader
    // does (IncorrectFileException, FileException).
    void openRecording();
    // The critical boxes of a recording that cannot be used.
    void reportOpenFailure(bool invalidFormat, const QString& path);
    void critical(const QString& text);
    // A GUI-thread wait step: the prompter gets to serve the player thread's
    // boxes, then a short sleep.
    void waitStep(unsigned long long ms);
    // The player thread has started and is not ending.
    bool threadRunning();

private:
    // Opens (or reopens for a new channel count) one stream's output.
    bool initAudio(int channels, bool& ready, QAudioFormat& format, QAudioDevice& device,
                   QIODevice*& sink, QAudioSink*& output, const char* name);
    void writeAudio(QIODevice* sink, QAudioSink* output, const byte* data, int size);
    void deleteAudio();
    // Media time (ms) at wall time `now` for `speed` with the current clock base.
    quint64 mediaTime(quint64 now, int speed) const;

    QString m_statusText;                // player thread (setError); read by the GUI

    // Written by both threads: the GUI moves it 0->1, 1->2, 2->1, 1/2->3,
    // 0->4 and to 6; the player thread 3->1/2, to 5 and 6, 6->0 and 4->0.
    std::atomic<int> m_state{STATE_IDLE};

    GridDecoder m_decoder;               // player thread (GUI thread while idle)
    IPlayerWindow* m_controller = nullptr;
    IPlayerView* m_view = nullptr;
    IPrompter* m_prompter = nullptr;
    QString m_displayName;               // GUI thread while idle; read by both
    QString m_fileName;                  // as m_displayName
    QFile m_file;                        // the recording, read-only
    RecordReader m_reader;
    RecordFileHeader m_fileHeader;
    RecordUnitHeader m_unitHeader;       // player thread: the current unit
    // Time of the current unit: written by the player thread, read by seek()
    // on the GUI thread for relative steps.
    std::atomic<quint64> m_currentUnitTime{0};
    Array<unsigned char, int> m_payload; // player thread: its payload

    // Written by play() (GUI thread, or the player thread after indexing)
    // before it sets state 1, and by the player thread during playback;
    // read by the player thread.
    std::atomic<quint64> m_clockBase{0};
    std::atomic<quint64> m_pauseStart{0};

    bool m_screenStarted = false;        // player thread (GUI while idle)
    int m_speed = 0;                     // player thread: the speed the clock base is for
    // Written by the window (GUI thread), read by the player thread.
    std::atomic<int> m_requestedSpeed{1};
    // Written by the player thread (and openFile while idle); read by both.
    std::atomic<int> m_position{0};
    ChronoTimer m_timer;                 // player thread

    // Set by openFile/play (GUI, idle) and the player thread (indexing);
    // read by the player thread's seek.
    std::atomic<bool> m_indexOk{false};
    std::atomic<bool> m_indexDeclined{false};
    QString m_indexFileName;
    QFile m_indexFile;                   // read-only while an index is loaded

    // Written by the GUI thread (stop() in state 3), read and cleared by the
    // player thread's seek.
    std::atomic<bool> m_seekCancel{false};
    // Written by seek() (GUI thread) before it sets state 3; read by the
    // player thread in state 3.
    std::atomic<long long> m_seekTarget{0};
    std::atomic<int> m_stateAfterSeek{STATE_PLAYING};
    std::atomic<int> m_seekMode{SEEK_ABSOLUTE};

    unsigned char m_keyFrameFlags = 0;   // flags of the loaded index
    Array<unsigned char, int> m_keyFrame;
    Array<unsigned char, int> m_packed;
    Array<IndexEntryPoint, int> m_index;
    IndexBuilder* m_indexBuilder = nullptr;

    // Audio, one set per stream ("Cap" first, then "Spk"); player thread only.
    bool m_capReady = false;
    QAudioFormat m_capFormat;
    QAudioDevice m_capDevice;
    QIODevice* m_capSink = nullptr;      // owned by m_capOutput
    QAudioSink* m_capOutput = nullptr;
    bool m_spkReady = false;
    QAudioFormat m_spkFormat;
    QAudioDevice m_spkDevice;
    QIODevice* m_spkSink = nullptr;
    QAudioSink* m_spkOutput = nullptr;

    // True while the current unit has been read but not dispatched yet.
    bool m_unitPending = false;          // player thread
};
