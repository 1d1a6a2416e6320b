// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <mutex>

#include "Array.h"
#include "ActivityMap.h"
#include "ActivityScan.h"
#include "AudioFeed.h"
#include "IndexFileHeader.h"
#include "PlaybackClock.h"
#include "Playhead.h"
#include "RecordFileHeader.h"
#include "RecordScanner.h"
#include "Seeking.h"
#include "Thread.h"

class IPlayerView;
class IPlayerWindow;
class IPrompter;
class IndexBuilder;

// The playback engine. It owns the open recording (its Playhead: the file,
// the current unit and the screen rebuilt by the grid decoder), the loaded
// index, the index builder and the two audio outputs, and runs its own
// thread (the player thread, run()) with a small state machine:
//
//   state          entered by
//   0 idle         thread start; the end of a stop; a failed index build
//   1 playing      play(); a seek that started from playing; an index build
//                  for a recording that plays once indexed
//   2 paused       pause(); a seek that started from paused
//   3 seeking      seek()
//   4 indexing     Yes to the index question in openFile()
//   5 error        a failure of playback (its message box first)
//   6 stopping     stop(); the end of the recording; after an error
//
// While playing the thread reads one unit at a time, waits until the unit is
// due on the speed-scaled PlaybackClock, and hands it to the view (mouse and
// cursor messages) or the decoder (screen messages). The sound goes its own
// way: the AudioFeed reads the audio units ahead, writes them to the two
// AudioOutputs before their time, and tells what the listener hears, which
// paces the clock while sound plays (the wall clock paces it otherwise). It
// reports its state, its position in whole seconds and file-format errors
// through queued signals. The play loop is split by concern: opening and the
// first screen (FilePlayerOpening.cpp), the loop and the commands
// (FilePlayer.cpp), the catch-up of a seek (Seeking), the clock
// (PlaybackClock) and the sound (AudioFeed, AudioOutput).
//
// Threads. The window (GUI thread) calls setSessionPlayer, setDrawingScene,
// setPrompter, openFile, play, pause, stop, seek and setRequestedSpeed. Every
// field the two threads share is either atomic or guarded by a named lock,
// as its declaration says:
// - m_playbackMutex guards the engine's working objects (the playhead, the
//   clock, the index table and file). The player thread holds it while it
//   works in any state but idle; the GUI thread takes it only while the
//   player is idle (openFile, play() from idle) and never waits for the
//   player thread or shows a box while it holds it.
// - m_infoMutex guards what the window reads about the opened recording
//   (names, header, the last error text).
// - the commands (state, speed, seek target, pause times, cancel flags) and
//   the reports the window reads (index loaded, time on screen) are atomics.
//   A writer stores the fields a state hands over before the state itself
//   (seek: cancel flag, target, mode and state-after-seek, then 3; play from
//   idle: the playhead and clock, then 1).
//
// Message boxes go through the IPrompter (which hands them to the GUI thread
// and makes a caller on the player thread wait for the answer); without one
// they are only logged.
//
// Choices where the behaviour was open or plainly wrong as first drawn:
// - A failure while the first screen is shown (a read error) is reported
//   like the same failure during playback, in a critical box, and openFile
//   returns false: the recording is closed and not kept open. Damage with
//   nothing plausible after it ends the first-screen display quietly;
//   playback reports it when it gets there.
// - A pause, a stop, a seek and a speed change end the wait for the current
//   unit at once; the unit then stays pending and is dispatched when it is
//   due on the new clock (after the pause, at the new speed), or becomes the
//   first unit of the seek's catch-up, instead of being dispatched early.
// - play() while seeking or indexing does nothing (the seek returns to the
//   state it came from; the build ends on its own or through stop()); play()
//   while an error or a stop is being finished first waits, on the GUI
//   thread, until the player is idle and then starts from the beginning.
// - An index build for a recording that is to play once indexed goes from
//   indexing straight to playing on the player thread, never through idle,
//   so that no command of the window can start playback a second time.
// - Relative seeks count from the time on screen (screenTimeMs): the time
//   of the clock while playing, where a pause or a seek left it otherwise,
//   and 0 after a stop or the end, where playback starts again.
// - A stop issued while a seek waits to be carried out cancels its catch-up
//   (seek() clears the cancel flag, not the catch-up).
// - "The End" shows only when playback reached the end of the recording, not
//   after a stop while the last unit waited to be played.
// - The catch-up of a seek applies every screen unit before the target once;
//   the first unit at or after the target (or the unit where a cancelled
//   catch-up stopped) stays pending and is dispatched at once. A restart
//   from the beginning also resets the decoder and clears the screen, so
//   that it paints exactly what a straight replay paints; key frames that
//   would not (taken between two parts of one frame) are passed over.
// - With an index whose table has no usable entry, absolute and backward
//   seeks replay from the beginning (they cannot move otherwise).
// - A successful index build loads the new index at once, so that "an index
//   is loaded" always comes with its table.
// - The window hears of the state changes in the order they were made: a
//   change and its report go together under m_reportMutex, the player
//   thread posts its report before it stores the state, and a report of the
//   GUI thread first delivers the player thread's reports posted before it
//   (its own is delivered at once); stop() and play() also deliver pending
//   reports when their wait ends.
// - The thread's first report is the state as it stands: a command given
//   while the thread was starting (play() of a recording named on the
//   command line) is kept, not overwritten with idle.
// - An index is looked for beside the recording and then in the user's cache
//   folder, and built where IndexLocation places it (the cache folder when
//   the recording's folder cannot be written). When it can be written
//   nowhere, Yes to the index question says so once and seeking replays
//   from the start, as after No.
// - When playback ends, the position reported is where it stands: the
//   recording's duration after its last unit, 0 after a stop (play() starts
//   from the beginning).
// - Sound in step with the picture. Writing each audio unit when it is due
//   and trusting the device to play it at once left the sound a device
//   buffer behind the picture (90 ms with 100 ms units, 260 ms with 250 ms
//   ones here; over a second and a half with larger buffers), and the
//   outputs were never paused or flushed, so sound went on under "PAUSE"
//   and after a seek or stop. Now the sound is read ahead by its own reader
//   (AudioFeed), written before its time, and what the listener hears paces
//   the picture: "Spk" while it sounds, else "Cap", else the wall clock.
//   Pause suspends the outputs (silent within milliseconds; resume goes on
//   from the same sample); stop, a seek and a change of speed flush them,
//   and the sound of the new position starts in step. The streams, their
//   format and channel handling and the rule that only the player thread
//   touches the outputs are kept; the samples no longer pass through the
//   playCapSamples/playSpkSamples signals, since the writer must learn how
//   much the device took.
// - Audio units are passed over by the play loop, the seek's catch-up and the
//   first screen without reading or inflating their payloads: a unit of any
//   size holds neither the picture nor a command up. A compressed audio
//   unit that does not inflate is now skipped (logged) instead of ending
//   playback with "Unknown Data Compression format": the picture goes on.
// - Sound at other speeds: 1/2x, 2x and 3x play time-stretched with the
//   pitch kept (SoundTouch) unless setSpeechAtOtherSpeeds(false); faster
//   speeds are silent. (Playing sound at normal speed only is the behaviour
//   this replaces.)
// - At the end of the recording the sound already written plays out (at
//   most a few seconds; a stop cuts it) before "STOPPED".
// - Damaged recordings (hosts crash, disks fill up, copies break): the one
//   unit reader passes over damaged stretches and goes on at the next
//   plausible unit, so playback never waits for the time of a damaged unit
//   and plays what follows; each stretch is logged with its offsets and
//   shown as "Damaged part skipped (0:16–0:21)". Only where nothing
//   plausible follows does playback end with "Invalid File format". A
//   payload that does not decompress is such a stretch too.
// - When a recording opens, a RecordScanner walks its unit headers off the
//   GUI thread (the first picture does not wait). Where the header's
//   duration is 0, below the real end, or the recording is incomplete (a
//   cut-off last unit, or its last unit more than 2 s before the header's
//   duration), getDuration() becomes the real end and the window hears of it
//   (playerDurationChanged); an incomplete recording says so once, "The
//   recording ends early at 0:57". A seek past the real end goes to the end.
//   The same walk fills activity() (ActivityScan): it also reads the control
//   and sound payloads, so the overview is complete a second or so after an
//   hour with sound opens, and the real end comes with it.
// - Skipping idle stretches jumps from the moment media time passes the
//   stretch's last activity to its next one (the whole stretch, as the
//   overview knows it to the millisecond); a stretch whose end the walk has
//   not reached yet is not skipped, and quiet to the end of the recording
//   counts as a stretch that ends at the last unit.
// - Open failures name the system's reason after the path ("No such file or
//   directory", "Is a directory", "Permission denied").
class FilePlayer : public QObject, public Thread
{
    Q_OBJECT

public:
    // A media time as the window shows short times: m:ss, or h:mm:ss.
    static QString clockText(quint64 ms);

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

    static constexpr int kIndexInterval = 10000;
    // The setting (bool) that answers the index question Yes without asking.
    static constexpr const char* kAlwaysIndexKey = "always_build_index";

    FilePlayer();
    ~FilePlayer() override;

    FilePlayer(const FilePlayer&) = delete;
    FilePlayer& operator=(const FilePlayer&) = delete;

    // The window: its receiver() gets playerStatusChanged(int),
    // playerPositionChanged(quint64), playerDurationChanged(quint64) and
    // invalidFileFormat() (automatic connections, queued from the player
    // thread and the scanner's); the index builder's progress is chained
    // into playerPositionChanged. Before start().
    void setSessionPlayer(IPlayerWindow* window);
    // The view; also becomes the decoder's listener. Before start().
    void setDrawingScene(IPlayerView* view);
    void setPrompter(IPrompter* prompter);

    int getState() const { return m_state.load(); }
    // Stores the state and emits playerStatusChanged (see m_reportMutex).
    void setState(int state);

    // Opens and validates a recording and shows its first screen; with an
    // empty path it first asks for a file. True when the recording is ready
    // to play. GUI thread. The file is checked (type, opening, header) before
    // a recording that plays is stopped: false then leaves that recording as
    // it was. A failure past the check (its first screen) leaves no
    // recording open. The folder of a file that opened is remembered
    // ("last_path"), absolute.
    bool openFile(const QString& path);
    // GUI thread, as are pause, stop and seek.
    void play();
    void pause();
    // False only when an index build was running and the user chose to let
    // it go on; the player then stopped nothing.
    bool stop();
    // seconds from the start (SEEK_ABSOLUTE) or from the time on screen
    // (SEEK_RELATIVE).
    void seek(long long seconds, int mode);

    // Written by the window (GUI thread), read by the player thread.
    void setRequestedSpeed(int speed) { m_requestedSpeed.store(speed); }
    int getRequestedSpeed() const { return m_requestedSpeed.load(); }
    // Volume of both streams in per cent (clamped to 0..100), and mute; the
    // player thread applies them within a polling step. Any thread.
    void setVolume(int percent);
    int volume() const { return m_volume.load(); }
    void setMuted(bool muted) { m_muted.store(muted); }
    bool isMuted() const { return m_muted.load(); }
    // Sound at 1/2x, 2x and 3x (time-stretched); on unless switched off.
    // Any thread; takes effect at once while playing.
    void setSpeechAtOtherSpeeds(bool on) { m_stretchSpeech.store(on); }
    bool speechAtOtherSpeeds() const { return m_stretchSpeech.load(); }

    // Skipping idle stretches while playing: every stretch longer than
    // 3 s without a screen change, a pointer move or sound, as activity()
    // knows them, is passed over by moving the play clock to its end (the
    // screen does not change in it, so nothing needs seeking); the view
    // says "Idle 0:42 skipped" and idleSkipped() is emitted. The sound
    // starts again at the stretch's end (what it held is quiet). Any thread;
    // takes effect while the player waits for its next unit.
    void setSkipIdle(bool on) { m_skipIdle.store(on); }
    bool skipIdle() const { return m_skipIdle.load(); }

    // What happens when in the opened recording, filled in by the walk over
    // its units that starts when it opens (any thread may read it).
    const ActivityMap& activity() const { return m_activity; }
    // The index loaded for the opened recording (beside it or in the cache
    // folder), or the empty text. Any thread.
    QString getIndexFileName() const;

    // What the window shows of the opened recording (any thread).
    QString getDisplayName() const;
    QString getFileName() const;
    QString getSessionId() const;
    // The recording's length in ms: the header's duration, or the real end
    // once the walk over its units found that the header's is 0, too short
    // or the recording incomplete.
    quint64 getDuration() const;
    bool isIndexLoaded() const { return m_indexOk.load(); }
    int getIndexEntryCount() const { return m_indexEntryCount.load(); }
    // The media time the screen shows, in ms (see the choices above).
    quint64 screenTimeMs() const { return m_screenTime.load(); }

    // Thread body: doWork(), then the files are closed and the audio outputs
    // closed (on this thread, which opened them).
    void run() override;
    bool autoDelete() override { return false; }

    // Wall clock in ms since the epoch; all timing of the player uses it.
    static quint64 currentTimeMs();

    // Position reports in whole seconds: `seconds`, or the current unit's
    // time when it differs from the last report.
    void updateGUI(quint64 seconds);
    void updateGUI();

    // The setting "last_path": a folder ending with a separator.
    void loadFolder(QString& folder);
    void rememberFolder(const QString& folder);

signals:
    void playerStatusChanged(int status);
    void playerPositionChanged(quint64 lastUpdated);
    // getDuration() changed (ms): the walk over the recording's units ended.
    void playerDurationChanged(quint64 durationMs);
    void invalidFileFormat();
    // An idle stretch was skipped: the play clock went from inside it to
    // `toMs` (player thread).
    void idleSkipped(quint64 fromMs, quint64 toMs);

protected:
    // The thread's main loop over the states (the table above).
    void doWork();
    // The paced play loop; returns when the state is no longer 1, 2 or 3.
    void doPlay();
    // Carries out the pending seek; true when it left a unit pending.
    bool doSeek();

private:
    // ---- Opening (FilePlayerOpening.cpp); m_playbackMutex held where the
    //      engine's objects are used ----

    // The path the user chose, or the empty text.
    QString chooseFile(const QString& path);
    // Checks a file before the recording now open is touched: the message
    // of why it cannot be played (it cannot be opened, or its header is not
    // a recording's), or the empty text.
    QString checkCandidate(const QString& path);
    // Looks for the recording's index beside it, then in the cache folder,
    // and loads the first valid one; m_indexFileName names where it is (or
    // the place beside the recording when there is none).
    void findIndex(QString* failure);
    // The index question for a recording without an index; answered Yes
    // without a box once the user ticked "Always build the index without
    // asking" (the setting kAlwaysIndexKey).
    void askForIndex();
    // Opens the recording read-only and shows its first complete frame;
    // the failure's message, or the empty text.
    QString openAndShowFirstScreen();
    // Opens m_fileName for playback and reads its header (throws as
    // Playhead::open does).
    void openRecording();
    void showFirstScreen();
    // Loads the index of the current recording (m_indexFileName). An invalid
    // index is deleted; true when an index is loaded. `failure` gets the
    // message when the index file cannot be read.
    bool loadIndex(QString* failure);
    // Playback from the beginning: the recording reopened, its index loaded,
    // the screen and the clock reset. False when the recording cannot be
    // opened (it is then forgotten); `message` gets the text of a box to
    // show: that failure, or an index that cannot be read.
    bool startFromBeginning(QString& message);
    // The message for a failure: while opening the recording `path` the two
    // opening texts, otherwise those of playback; the empty text for the
    // reader's "not open" report, which needs none.
    static QString failureText(std::exception_ptr failure, const QString& path = QString());
    // Closes the recording and clears what the window knows of it.
    void forgetRecording();
    // Starts the walk over the recording's unit headers that finds its real
    // end (GUI thread; the result arrives on the scanner's thread).
    void startExtentScan();
    void takeExtent(const RecordScan::Result& result);
    // "Damaged part skipped (...)" for a stretch the reader passed over
    // (whichever thread reads).
    void reportDamage(const RecordReader::Damage& damage);
    void closeFiles();

    // ---- The play loop (FilePlayer.cpp); player thread ----

    // Leaves playback when there is nothing (more) to play; true then.
    bool playbackEnds(int state);
    void runSeek();
    // Re-bases the clock for a pause that ended and for a new speed (the
    // sound starts again where the picture is, at the new speed).
    void followClock();
    // One step of the sound: volume, feeding the outputs, and the clock
    // following what is heard.
    void paceBySound(quint64 now);
    // Waits until the current unit is due; false when a command ended the
    // wait first (the unit stays pending).
    bool waitUntilDue();
    // Moves the clock over the idle stretch that media time stands in, when
    // skipping is on; true when it did.
    bool skipIdleStretch(quint64 now);
    void dispatchUnit();
    // The sound already written plays out at the end of the recording.
    void drainSound();
    void buildIndex();
    void finishStop();

    // ---- State changes of the GUI thread's commands ----

    // From `from` to `to` if the state is still `from`; reported when done.
    bool changeState(int from, int to);
    void reportOnGuiThread(int state);

    // ---- Boxes and waits ----
    void setError(const QString& text);
    void critical(const QString& text);
    // A GUI-thread wait step: the prompter gets to serve the player thread's
    // boxes, then a short sleep.
    void waitStep(unsigned long long ms);
    // The player thread has started and is not ending.
    bool threadRunning();
    bool onPlayerThread();
    QString fileName() const;

    // Written by both threads: the GUI moves it 0->1, 1->2, 2->1, 1/2->3,
    // 0->4 and to 6; the player thread 3->1/2, to 5 and 6, 6->0, 4->0 and
    // 4->1.
    std::atomic<int> m_state{STATE_IDLE};
    // Held for a change of m_state together with its report, so that the
    // reports are made in the order of the changes; a report of the GUI
    // thread first delivers the player thread's reports posted before it.
    // Recursive: a window that answers a report with a command may change
    // the state again from inside it.
    std::recursive_mutex m_reportMutex;

    IPlayerWindow* m_controller = nullptr;  // set before the thread starts
    IPlayerView* m_view = nullptr;          // set before the thread starts
    std::atomic<IPrompter*> m_prompter{nullptr};

    // What the window reads of the opened recording; guarded by m_infoMutex.
    mutable std::mutex m_infoMutex;
    QString m_statusText;                // the last error's text
    QString m_displayName;               // the file name without folder
    QString m_fileName;                  // the full path
    RecordFileHeader m_fileHeader;
    QString m_loadedIndexName;           // the index loaded, or empty

    // The engine's working objects; guarded by m_playbackMutex (see above).
    std::mutex m_playbackMutex;
    Playhead m_playhead;                 // the recording, its current unit, the screen
    Seeking m_seeking{m_playhead};
    PlaybackClock m_clock;
    QString m_indexFileName;
    QFile m_indexFile;                   // read-only while an index is loaded
    Array<IndexEntryPoint, int> m_index;
    unsigned char m_keyFrameFlags = 0;   // flags of the loaded index
    // The sound; its outputs are the player thread's only (see AudioFeed).
    AudioFeed m_feed;
    int m_soundSpeed = 1;                // the speed the feed plays sound for
    bool m_soundStretch = true;          // ... and whether it stretches
    double m_appliedVolume = -1;         // player thread
    bool m_endReached = false;           // playback ran to the end of the recording

    // Reports for the window: written with m_playbackMutex held, read by any
    // thread.
    std::atomic<bool> m_indexOk{false};
    std::atomic<bool> m_indexDeclined{false};
    std::atomic<int> m_indexEntryCount{0};
    std::atomic<quint64> m_screenTime{0};
    // The last position reported, in seconds; written by whichever thread
    // reports.
    std::atomic<int> m_position{0};

    // Commands from the window (GUI thread) to the player thread.
    std::atomic<int> m_requestedSpeed{1};
    std::atomic<bool> m_skipIdle{false};
    std::atomic<int> m_volume{100};
    std::atomic<bool> m_muted{false};
    std::atomic<bool> m_stretchSpeech{true};
    // stop() while the sound plays out at the end cuts it short.
    std::atomic<bool> m_cutDrain{false};
    // pause() stores when the pause began (GUI thread only); play() adds the
    // pause's length to m_pausedMs, which the player thread takes over into
    // the clock.
    std::atomic<quint64> m_pauseStart{0};
    std::atomic<quint64> m_pausedMs{0};
    // seek() stores these before it sets state 3; stop() in state 3 sets the
    // cancel flag, which the catch-up polls once per unit.
    std::atomic<bool> m_seekCancel{false};
    std::atomic<long long> m_seekTarget{0};
    std::atomic<int> m_stateAfterSeek{STATE_PLAYING};
    std::atomic<int> m_seekMode{SEEK_ABSOLUTE};

    IndexBuilder* m_indexBuilder = nullptr; // owned; its cancel flag is atomic

    // The walk over the opened recording's units. The GUI thread starts and
    // cancels it; its result is written by the scanner's thread: the shown
    // length first, then the flag that makes getDuration() use it.
    RecordScanner m_scanner;
    // Filled by m_activityScan on the scanner's thread (the map has its own
    // lock); cleared when a recording opens or is forgotten.
    ActivityMap m_activity;
    ActivityScan m_activityScan{m_activity};
    std::atomic<quint64> m_shownDuration{0};
    std::atomic<quint64> m_realEnd{0};
    std::atomic<bool> m_extentKnown{false};
};
