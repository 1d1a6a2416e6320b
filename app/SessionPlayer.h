// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QGraphicsView>
#include <QRect>
#include <QSize>
#include <QString>

#include <QPointer>

#include <atomic>
#include <optional>

#include "FilePlayer.h"
#include "MessageBoxPrompter.h"
#include "RecordingHistory.h"
#include "WindowBridge.h"

class ActivityStrip;
class ControlBar;
class KeyHelpOverlay;
class PlayerMenu;
class StartOptions;
class DrawingScene;
class PositionPreview;
class ExportDialog;
class ExportJob;
class QAction;
class QProgressDialog;
class RangeMarks;
class QCloseEvent;
class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QMouseEvent;
class QResizeEvent;

// The player's one window: a graphics view showing the drawing scene, in
// which the control bar floats. It owns the player engine and starts its
// thread, turns the engine's state reports into control-bar states, opens
// recordings (Open button, drag and drop, the first command-line argument),
// maps keys and mouse clicks to player commands, zoom and full screen, and
// sizes itself and the scene for the recording's screen.
//
// Every method runs on the GUI thread. The player's signals arrive queued
// from the player thread; the player reaches the window otherwise only
// through the WindowBridge (title, visibility, the play-on-open flag) and
// the prompter (message boxes shown here, on the GUI thread).
//
// Geometry: the desktop's available rectangle and the window decoration are
// read from the window's screen and frame; setScreenOverride() replaces them
// (offscreen and virtual displays have fixed sizes and no decoration).
//
// Choices where the behaviour was open or plainly wrong as first drawn:
// - Closing the window while an index is built asks whether to cancel the
//   build; answered No, the window stays open (the close is ignored) rather
//   than waiting for ever for a player that keeps indexing.
// - A recording named on the command line that gets an index built first
//   (Yes to the index question) starts playing when the build has succeeded,
//   as the pause icon shown for it says.
// - goFullScreen() (the window was maximised) and goNormalScreen() (Escape)
//   reach the full-screen toggle only when the window is not already on
//   their side, so a maximise reported twice cannot undo itself.
// - A drop is accepted at once and the file opened right after the drop
//   event has returned, so that the index question does not hold the
//   program the file was dragged from.
// - After an open that already started playback (a drop of a recording
//   with an index), the play button shows the pause icon.
// - The close sequence serves the player's message boxes while it waits, so
//   an error reported during the stop is shown and answered, not deadlocked.
// - Drags and drops are taken only when their first URL names a local file;
//   anything else (an empty URL list, a web address) leaves the window as
//   it was.
// - Opening (button or drop) does not stop the playing recording itself:
//   the player checks the new file first, so a file that cannot be played
//   leaves that recording playing; one that fails after the check leaves
//   the window without a recording (showNoRecording).
// - Leaving full screen restores the geometry from before full screen (from
//   before the maximise that led there) and keeps the window flags: changing
//   them re-shows the native window, which the window manager then places
//   anew instead of where it was.
// - With zoom on, every resize recomputes the scene rectangle as well as the
//   scaled picture size.
// - The pause icon armed for a command-line start shows only if the player
//   still plays (or builds the index it will play) when the timer fires.
// - Every open (button, drop, Recent, command line) starts playback, also
//   after No to the index question; after Yes, once the index is built.
//   A recording opened again resumes where it was left (RecordingHistory),
//   saying "Resumed at 0:42"; --at wins over that. Where playback starts
//   elsewhere than at 0 while the index is built, the seek waits for the
//   build's end.
// - The position kept for a recording is the one shown when another is
//   opened or the window closes (0 after a stop, the end after the end: no
//   resume then); never a position of the index build.
// - Page Up goes forward a minute, Page Down back; End goes to the last
//   whole second that has something to show. The keys of buttons act only
//   when their button is usable (Control+O not while an index is built).
// - The window and the view are black before the first picture, so no
//   white shows while the recording opens.
// - Sound: Up and Down change the volume of both streams by kVolumeStep per
//   cent (a change ends a mute), M mutes and unmutes, S switches speech at
//   1/2x, 2x and 3x off and on; each says what it did in the on-screen
//   message ("Volume 70 %", "Muted"). The volume and the speech switch are
//   remembered (settings "volume" and "speech_at_other_speeds"); a mute is
//   not, so that the player never starts silent without saying so.
class SessionPlayer : public QGraphicsView
{
    Q_OBJECT

public:
    // The volume step of Up and Down, in per cent, and the settings that
    // remember the volume and the speech switch.
    static constexpr int kVolumeStep = 10;
    static constexpr const char* kVolumeKey = "volume";
    static constexpr const char* kSpeechKey = "speech_at_other_speeds";

    explicit SessionPlayer(QWidget* parent = nullptr);
    ~SessionPlayer() override;

    // Opens and plays command-line argument 1, if there is one.
    void checkAutoPlay();
    // What the command line asks for (main has checked it): full screen,
    // speed, skip idle, then the file, opened zoomed or not, started at
    // --at (the last second when beyond the end) or paused.
    void start(const StartOptions& options);
    // What checkAutoPlay does with its argument: open `path` and play it.
    void openAndPlay(const QString& path);
    // Title, session id, duration and position of the recording just opened.
    void setFileInfo();
    // m_title, shown as the window title.
    void setTitle(const QString& title);
    // Describes the recording file type to the desktop (per user).
    void registerFileExtension();

    // Absolute position in seconds (a click on the position bar).
    Q_INVOKABLE void setPlayerPos(unsigned long long seconds);
    // hh:mm:ss, the hours part not reduced.
    static QString sec2str(int seconds);

    // Geometry.
    void initPlayerPosition();
    void calcFirstScreenDimention(int w, int h);
    void calcFullscreenNotStretched(int w, int h);
    void calcNotFullscreenStretched();
    void calcNotFullscreenNotStretched();
    void setControlbarPosition();

    bool isStretched() const { return m_stretched; }
    bool playOnOpen() const { return m_playOnOpen.load(); }
    // The speed step given to the player.
    int speed() const { return m_speed; }
    QString title() const { return m_title; }
    QString sessionId() const { return m_sessionId; }
    QString durationText() const { return m_durationText; }
    // Whether idle stretches are skipped while playing (remembered).
    Q_INVOKABLE bool skipIdle() const;
    // Whether speech plays at 1/2x to 3x (remembered; the key S, the menu).
    Q_INVOKABLE bool speechAtOtherSpeeds() const;

    PlayerMenu* menu() const { return m_menu; }
    KeyHelpOverlay* keyHelp() const { return m_keyHelp; }
    FilePlayer& player() { return m_player; }
    DrawingScene* drawingScene() const { return m_drawingScene; }
    ControlBar* controlBar() const { return m_controlBar; }
    PositionPreview* positionPreview() const { return m_positionPreview; }
    ActivityStrip* activityStrip() const { return m_activityStrip; }

    // The prompter the player uses (a MessageBoxPrompter of the window by
    // default); a test may put a scripted one in its place.
    void setPrompter(IPrompter* prompter);
    MessageBoxPrompter& messageBoxPrompter() { return m_prompter; }

    // Replaces the available desktop rectangle and the decoration size
    // (frame minus client) used by the geometry functions; an invalid
    // rectangle goes back to the real ones.
    void setScreenOverride(const QRect& available, const QSize& decoration);

    // Stops playback, waits until the player is idle (serving its boxes) and
    // stops the player thread. False when the user declined to cancel a
    // running index build; the player then goes on.
    bool shutdownPlayer();

    // Export, Save frame and Copy frame. The actions carry the keys
    // (Control+E, Control+S, Control+C, I and O) and are the window's, so
    // that a menu can list them too.
    QAction* exportAction() const { return m_exportAction; }
    QAction* saveFrameAction() const { return m_saveFrameAction; }
    QAction* copyFrameAction() const { return m_copyFrameAction; }
    QAction* inPointAction() const { return m_inAction; }
    QAction* outPointAction() const { return m_outAction; }
    // The in and out points in ms, -1 when not set; kept until set again or
    // another recording opens.
    qint64 inPointMs() const { return m_inMs; }
    qint64 outPointMs() const { return m_outMs; }
    RangeMarks* rangeMarks() const { return m_rangeMarks; }
    // The open export dialog, the running export and its progress dialog;
    // null when there is none.
    ExportDialog* exportDialog() const;
    ExportJob* exportJob() const;
    QProgressDialog* exportProgress() const;
    // The last export's outcome in words ("" while none has ended).
    QString lastExportText() const { return m_lastExportText; }
    // Writes the current picture, with the pointer, as PNG; false (and a
    // box saying why) when it cannot.
    bool saveFrameTo(const QString& path);

signals:
    void goFullScreen();
    void goNormalScreen();

public slots:
    void onBtnOpenClicked();
    void onBtnStopClicked();
    void onBtnPlayClicked();
    void onBtnDecSpeedClicked();
    void onBtnIncSpeedClicked();
    void onBtnBackwordClicked();
    void onBtnForwardClicked();
    void onBtnZoomClicked();
    void onBtnFullScreenClicked();
    void onPlayerStatus(int status);
    void onPlayerPositionChanged(quint64 seconds);
    // The player learnt the recording's real length (the walk over its units
    // ended): the position bar, the time text and whether a recording is
    // loaded follow the player's getDuration().
    void onPlayerDurationChanged(quint64 ms);
    void onInvalidFileFormat();
    void onSliderMoved();
    void calcFullscreenStretched();
    void onSetButtonIconAutoPlay();
    // What goFullScreen() and goNormalScreen() do: the full-screen toggle,
    // when the window is not already on that side.
    void onGoFullScreen();
    void onGoNormalScreen();
    // The menu button: the menu of everything without a button, above it.
    void onBtnMenuClicked();
    // Opens a recording of the Recent menu and plays it.
    void openRecentFile(const QString& path);
    // The list of keys over the picture, shown or hidden again.
    void showKeyHelp();
    // The version in a box that does not block.
    void showAbout();
    // Turns skipping idle stretches on or off and remembers the choice
    // (setting "skip_idle"; the key K, the menu, the command line).
    void setSkipIdle(bool on);
    // Speech at other speeds on or off, remembered and said on screen.
    void setSpeechAtOtherSpeeds(bool on);
    // "Export clip…": the dialog (not blocking the window), then the export
    // on its own thread with a progress dialog and Cancel. One at a time.
    void exportClip();
    // "Save frame…": asks for a PNG file and writes the current picture.
    void saveFrame();
    // "Copy frame": the current picture, with the pointer, to the clipboard.
    void copyFrame();
    // I and O: the in and out points at the current position.
    void setInPoint();
    void setOutPoint();

protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    // A recording is loaded: its length (the header's duration, or the real
    // end where that is 0, too short or the recording incomplete) is not 0.
    bool isLoaded() const;
    // What the Open button and a drop do after a successful open.
    void afterOpen();
    // Sound keys: volume by `step` per cent, mute, speech at other speeds.
    void changeVolume(int step);
    void toggleMute();
    void toggleSpeechAtOtherSpeeds();
    // The open of a dropped file, run right after the drop event.
    void openDropped(const QString& path);
    // Opens `path` (asks for a file when empty) and shows the result: the
    // new recording, the one that still plays, or none. A recording that
    // opened starts: at `at` seconds when given (the last second at most),
    // else where it was left; paused there, or playing.
    void openRecording(const QString& path, std::optional<long long> at = std::nullopt,
                       bool paused = false);
    // The start of a recording just opened (see openRecording).
    void startOpened(std::optional<long long> at, bool paused);
    // Plays (or pauses) from `seconds`, with an on-screen message.
    void begin(unsigned long long seconds, bool paused, const QString& message);
    // The keys beyond Space, Escape, the arrows and Control+F11/F12; true
    // when the key was taken.
    bool handleShortcutKey(QKeyEvent* e);
    // Keeps where the open recording stands, for a later open.
    void savePosition();
    // The last whole second with something to show (0 for an empty one).
    unsigned long long lastSecond() const;
    // Title, texts, buttons and picture of a window without a recording.
    void showNoRecording();
    // Both zoom flags and the zoom icon.
    void setStretchedState(bool stretched);
    QRect availableRect() const;
    QSize decorationSize() const;
    void createExportActions();
    void startExport();
    void exportFinished(bool completed, const QString& message);
    void showRangeMarks();
    // The position in ms, as the position bar shows it.
    quint64 positionMs() const;

    // Declared before the player, which points at them, so they outlive it.
    WindowBridge m_bridge;
    MessageBoxPrompter m_prompter;

    DrawingScene* m_drawingScene = nullptr; // owned
    ControlBar* m_controlBar = nullptr;     // owned (embedded in the scene)
    // Previews over the position bar and the activity strip under it; the
    // strip is a child of the control bar.
    PositionPreview* m_positionPreview = nullptr; // owned
    ActivityStrip* m_activityStrip = nullptr;
    FilePlayer m_player;
    QString m_title;
    QString m_sessionId;
    QString m_durationText;
    quint64 m_durationSec = 0;
    quint64 m_positionSec = 0;              // the last position shown
    int m_speed = 1;
    bool m_stretched = true;
    bool m_ctrlPressed = false;
    // Written here, read by the player thread after an open or index build.
    std::atomic<bool> m_playOnOpen{false};

    // A state report of the player has arrived.
    bool m_statusSeen = false;

    // Where the window was before it went full screen (before the maximise
    // that took it there); restored when it leaves full screen.
    QRect m_windowedGeometry;

    QRect m_availableOverride;
    QSize m_decorationOverride;

    PlayerMenu* m_menu = nullptr;          // owned
    KeyHelpOverlay* m_keyHelp = nullptr;   // a child of the viewport
    RecordingHistory m_history;
    // A start that waits for the index build's end (see begin()).
    struct PendingStart
    {
        unsigned long long seconds = 0;
        bool paused = false;
        QString message;
    };
    std::optional<PendingStart> m_pendingStart;
    QAction* m_exportAction = nullptr;
    QAction* m_saveFrameAction = nullptr;
    QAction* m_copyFrameAction = nullptr;
    QAction* m_inAction = nullptr;
    QAction* m_outAction = nullptr;
    qint64 m_inMs = -1;
    qint64 m_outMs = -1;
    QString m_markedFile;                   // the recording the points belong to
    RangeMarks* m_rangeMarks = nullptr;     // owned by the position bar
    QPointer<ExportDialog> m_exportDialog;
    QPointer<ExportJob> m_exportJob;
    QPointer<QProgressDialog> m_exportProgress;
    QString m_lastExportText;
};
