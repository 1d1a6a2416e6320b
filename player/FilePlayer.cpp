// SPDX-License-Identifier: GPL-3.0-or-later
#include "FilePlayer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <algorithm>

#include "DateTime.h"
#include "Exception.h"
#include "IPlayerView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "IndexBuilder.h"
#include "Log.h"

namespace {

const char* const kTitle = "Session Player";

QByteArray num(long long v)
{
    return QByteArray::number(v);
}

bool isPlaybackState(int state)
{
    return state == FilePlayer::STATE_PLAYING || state == FilePlayer::STATE_PAUSED
        || state == FilePlayer::STATE_SEEKING;
}

} // namespace

FilePlayer::FilePlayer()
{
    m_indexBuilder = new IndexBuilder();
    m_playhead.setDamageHandler([this](const RecordReader::Damage& d) { reportDamage(d); });
    // The catch-up of a seek passes audio units: the sound may start reading
    // at one of them when it starts again nearby.
    m_playhead.setAudioObserver([this](int kind, qint64 offset, quint64 time) {
        m_feed.noteUnit(kind, offset, time);
    });
}

FilePlayer::~FilePlayer()
{
    m_scanner.cancel();
    {
        std::lock_guard<std::mutex> lock(m_playbackMutex);
        closeFiles();
    }
    delete m_indexBuilder;
    m_indexBuilder = nullptr;
}

quint64 FilePlayer::currentTimeMs()
{
    return DateTime::currentTimeMillis();
}

// ---------------------------------------------------------------------------
// Wiring and reports

void FilePlayer::setSessionPlayer(IPlayerWindow* window)
{
    m_controller = window;
    m_indexBuilder->setController(window);
    QObject* receiver = window ? window->receiver() : nullptr;
    if (receiver) {
        connect(this, SIGNAL(playerStatusChanged(int)), receiver, SLOT(onPlayerStatus(int)),
                Qt::UniqueConnection);
        connect(this, SIGNAL(playerPositionChanged(quint64)), receiver,
                SLOT(onPlayerPositionChanged(quint64)), Qt::UniqueConnection);
        connect(this, SIGNAL(playerDurationChanged(quint64)), receiver,
                SLOT(onPlayerDurationChanged(quint64)), Qt::UniqueConnection);
        connect(this, SIGNAL(invalidFileFormat()), receiver, SLOT(onInvalidFileFormat()),
                Qt::UniqueConnection);
    }
    connect(m_indexBuilder, SIGNAL(idxPositionChanged(quint64)), this,
            SIGNAL(playerPositionChanged(quint64)), Qt::UniqueConnection);
}

void FilePlayer::setDrawingScene(IPlayerView* view)
{
    m_view = view;
    m_playhead.setView(view);
}

void FilePlayer::setPrompter(IPrompter* prompter)
{
    m_prompter.store(prompter);
}

void FilePlayer::setState(int state)
{
    std::lock_guard<std::recursive_mutex> lock(m_reportMutex);
    if (onPlayerThread()) {
        // Queued to the GUI thread: post the report before the state can be
        // seen, so that a GUI-thread wait for this state (stop, play) finds the
        // report in its queue and delivers it before any report it makes itself.
        emit playerStatusChanged(state);
        m_state.store(state);
        return;
    }
    m_state.store(state);
    reportOnGuiThread(state);
}

bool FilePlayer::changeState(int from, int to)
{
    std::lock_guard<std::recursive_mutex> lock(m_reportMutex);
    int expected = from;
    if (!m_state.compare_exchange_strong(expected, to))
        return false;
    reportOnGuiThread(to);
    return true;
}

void FilePlayer::reportOnGuiThread(int state)
{
    // The player thread's reports posted before this change reach the window
    // first: it hears of the changes in the order they were made.
    QObject* receiver = m_controller ? m_controller->receiver() : nullptr;
    if (receiver && receiver->thread() == QThread::currentThread())
        QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
    emit playerStatusChanged(state);
}

void FilePlayer::updateGUI(quint64 seconds)
{
    m_position.store(static_cast<int>(seconds));
    emit playerPositionChanged(seconds);
}

void FilePlayer::updateGUI()
{
    const quint64 seconds = m_playhead.unitTime() / 1000;
    if (static_cast<long long>(seconds) != m_position.load())
        updateGUI(seconds);
}

// ---------------------------------------------------------------------------
// Boxes and waits

void FilePlayer::critical(const QString& text)
{
    if (IPrompter* prompter = m_prompter.load())
        prompter->critical(QString::fromLatin1(kTitle), text);
    else
        logError(text);
}

void FilePlayer::setError(const QString& text)
{
    {
        std::lock_guard<std::mutex> lock(m_infoMutex);
        m_statusText = text;
    }
    critical(text);
    setState(STATE_ERROR);
}

bool FilePlayer::threadRunning()
{
    const int state = Thread::getState();
    return state != Thread::STATE_CREATED && state != Thread::STATE_INITIALIZED
        && state != Thread::STATE_FINISHED && !isStopRequested();
}

bool FilePlayer::onPlayerThread()
{
    return Thread::getCurrentThread() == static_cast<Thread*>(this);
}

void FilePlayer::waitStep(unsigned long long ms)
{
    if (IPrompter* prompter = m_prompter.load())
        prompter->serviceWhileWaiting();
    Thread::sleep(ms);
}

// ---------------------------------------------------------------------------
// Commands (GUI thread)

void FilePlayer::play()
{
    const int state = getState();
    if (state == STATE_SEEKING || state == STATE_INDEXING)
        return;
    if (m_view)
        m_view->onStatusText(QString());
    if (state == STATE_PLAYING)
        return;

    if (state == STATE_PAUSED) {
        // The pause does not advance media time: the player thread holds
        // the clock for its length.
        const quint64 pauseStart = m_pauseStart.exchange(0);
        const quint64 now = currentTimeMs();
        if (pauseStart != 0 && now > pauseStart)
            m_pausedMs.fetch_add(now - pauseStart);
        changeState(STATE_PAUSED, STATE_PLAYING);
        return;
    }

    if (state == STATE_ERROR || state == STATE_STOPPING) {
        // The player thread is finishing a failure or a stop; start afresh
        // once it is idle.
        while (getState() != STATE_IDLE && threadRunning())
            waitStep(20);
        if (IPrompter* prompter = m_prompter.load())
            prompter->serviceWhileWaiting();
        if (getState() != STATE_IDLE)
            return;
    }

    // From the beginning; the player thread is idle and leaves the engine alone.
    if (fileName().isEmpty())
        return;
    QString message;
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(m_playbackMutex);
        started = startFromBeginning(message);
    }
    if (!message.isEmpty())
        critical(message);
    if (started)
        setState(STATE_PLAYING);
}

void FilePlayer::pause()
{
    if (getState() != STATE_PLAYING)
        return;
    m_pauseStart.store(currentTimeMs());
    if (changeState(STATE_PLAYING, STATE_PAUSED) && m_view)
        m_view->onStatusText(tr("PAUSE"));
}

bool FilePlayer::stop()
{
    const int state = getState();
    if (state == STATE_SEEKING) {
        m_seekCancel.store(true);
        return true;
    }
    if (state == STATE_INDEXING) {
        IPrompter* prompter = m_prompter.load();
        const IPrompter::Answer answer = prompter
            ? prompter->warning(tr("Attention"),
                                tr("This will cancel the indexing and disable random seek!\n"
                                   "Are you sure you want to stop?"))
            : IPrompter::Yes;
        // No: the build goes on, also when it ended while the box was up.
        if (answer != IPrompter::Yes)
            return false;
        m_indexBuilder->cancel();
        while (getState() == STATE_INDEXING && threadRunning())
            waitStep(20);
    }

    // Also cuts short the sound playing out at the end of the recording.
    m_cutDrain.store(true);
    setState(STATE_STOPPING);
    if (!threadRunning()) {
        // Nobody else will finish the stop.
        {
            std::lock_guard<std::mutex> lock(m_playbackMutex);
            finishStop();
        }
        setState(STATE_IDLE);
        return true;
    }
    // The player thread answers with idle (an error it reports on the way
    // passes through 5 first).
    while (getState() != STATE_IDLE && threadRunning())
        waitStep(50);
    // Deliver the player thread's last reports before the caller goes on.
    if (IPrompter* prompter = m_prompter.load())
        prompter->serviceWhileWaiting();
    return true;
}

void FilePlayer::seek(long long seconds, int mode)
{
    int state = getState();
    if ((state != STATE_IDLE && state != STATE_PLAYING && state != STATE_PAUSED)
        || fileName().isEmpty())
        return;
    if (state == STATE_IDLE) {
        // Playback starts from the beginning, at time 0 on screen; when it
        // cannot start there is nothing to wait for.
        play();
        state = getState();
        if (state != STATE_PLAYING && state != STATE_PAUSED)
            return;
    }

    long long target = seconds * 1000;
    if (mode == SEEK_RELATIVE)
        target += static_cast<long long>(m_screenTime.load());
    // Past the real end is the end: the last unit, at once.
    if (m_extentKnown.load())
        target = std::min(target, static_cast<long long>(m_realEnd.load()));
    m_seekCancel.store(false);
    m_seekTarget.store(std::max(target, 0LL));
    m_seekMode.store(mode);
    m_stateAfterSeek.store(state);
    changeState(state, STATE_SEEKING);
}

// ---------------------------------------------------------------------------
// The player thread

void FilePlayer::run()
{
    // The audio outputs are created on this thread and use Qt timers, which
    // need the thread's own event dispatcher; a thread Qt did not start gets
    // one with its first event loop object.
    { QEventLoop dispatcherFor(nullptr); }
    try {
        doWork();
    } catch (const ThreadStopException&) {
        // The owner is stopping the thread.
    } catch (const Exception& e) {
        logError1("Player thread ended: %1", e.getErrorMessage().toUtf8().constData());
    } catch (const std::exception& e) {
        logError1("Player thread ended: %1", e.what());
    } catch (...) {
        logError("Player thread ended");
    }
    std::lock_guard<std::mutex> lock(m_playbackMutex);
    closeFiles();
    // The outputs were opened on this thread; they are closed here too.
    m_feed.closeOutputs();
}

void FilePlayer::doWork()
{
    // The thread's first report is the state as it stands: a command given
    // while the thread was starting (play() of a recording named on the
    // command line) is kept, not overwritten with idle.
    {
        std::lock_guard<std::recursive_mutex> lock(m_reportMutex);
        emit playerStatusChanged(getState());
    }
    while (!isStopRequested()) {
        const int state = getState();
        if (state == STATE_IDLE) {
            Thread::sleep(100);
            continue;
        }
        std::unique_lock<std::mutex> lock(m_playbackMutex);
        if (isPlaybackState(state)) {
            doPlay();
        } else if (state == STATE_INDEXING) {
            buildIndex();
        } else if (state == STATE_STOPPING) {
            finishStop();
            // The engine goes back to the GUI thread with the idle state.
            lock.unlock();
            setState(STATE_IDLE);
        } else {
            lock.unlock();
            Thread::sleep(20);
        }
    }
}

void FilePlayer::buildIndex()
{
    updateGUI(0);
    const bool ok = m_indexBuilder->makeIndex(fileName(), kIndexInterval);
    m_indexOk.store(false);
    // Loaded at once (from where the builder put it), so that a loaded index
    // always has its table.
    QString failure;
    if (ok) {
        m_indexFileName = m_indexBuilder->indexFileName();
        loadIndex(&failure);
    }
    Thread::sleep(1000);
    updateGUI(0);
    // Straight from indexing to playing: the window's commands wait while
    // the state is 4, so nothing can start playback a second time.
    const bool play = m_indexOk.load() && m_controller && m_controller->playOnOpen()
        && startFromBeginning(failure);
    if (!failure.isEmpty())
        critical(failure);
    setState(play ? STATE_PLAYING : STATE_IDLE);
}

void FilePlayer::finishStop()
{
    if (onPlayerThread()) {
        // At the end of the recording what was written plays out; a stop
        // silences it at once.
        if (m_endReached)
            drainSound();
        m_feed.silence();
    }
    if (m_view) {
        m_view->onStatusText(tr("STOPPED"));
        if (m_endReached)
            m_view->onStatusText(tr("The End"));
    }
    const bool theEnd = m_endReached;
    m_endReached = false;
    closeFiles();
    // Playback starts again from the beginning; the position shows where it
    // stands: at the end once the last unit has played, else at the start.
    m_screenTime.store(0);
    updateGUI(theEnd ? getDuration() / 1000 : 0);
}

bool FilePlayer::playbackEnds(int state)
{
    const bool atEnd = m_playhead.atEnd() && !m_playhead.m_pending;
    if (isPlaybackState(state) && m_playhead.isOpen() && !atEnd)
        return false;
    // Only playback that ran out of units has reached the end; a stop (6)
    // or an error (5) came before it.
    m_endReached = isPlaybackState(state) && m_playhead.isOpen();
    if (state != STATE_STOPPING)
        setState(STATE_STOPPING);
    return true;
}

void FilePlayer::doPlay()
{
    for (;;) {
        // 1. Leave when there is nothing (more) to play.
        const int state = getState();
        if (playbackEnds(state))
            return;
        // 2. Stop request; pause.
        if (isStopRequested())
            throw ThreadStopException();
        if (state == STATE_PAUSED) {
            // Silent within milliseconds; resumed from the same sample.
            m_feed.pause();
            Thread::sleep(20);
            continue;
        }
        m_feed.resume();
        try {
            // 3. A seek, or the next unit.
            if (state == STATE_SEEKING) {
                runSeek();
                continue;
            }
            if (!m_playhead.m_pending) {
                if (!m_playhead.readUnit())
                    continue; // the end: step 1 stops
                m_playhead.m_pending = true;
            }
            // 4.-6. Wait until the unit is due on the clock.
            followClock();
            if (!waitUntilDue())
                continue;
            // 7.-8. Dispatch and report the position.
            dispatchUnit();
        } catch (const ThreadStopException&) {
            throw;
        } catch (...) {
            const QString text = failureText(std::current_exception());
            if (!text.isEmpty()) {
                m_playhead.m_pending = false;
                setError(text);
            }
        }
    }
}

void FilePlayer::runSeek()
{
    // Silent while the catch-up runs; the sound starts again at the target.
    m_feed.silence();
    updateGUI(static_cast<quint64>(m_seekTarget.load() / 1000));
    doSeek();
    m_feed.restart(double(m_screenTime.load()), m_playhead.unitOffset());
    m_feed.silence();
    if (static_cast<long long>(m_screenTime.load() / 1000) != m_position.load())
        updateGUI(m_screenTime.load() / 1000);
    if (m_view)
        m_view->redraw();
    // Back to the state the seek came from; the window changes nothing while
    // the state is 3. Paused: the pause starts now, with its text.
    const int after = m_stateAfterSeek.load();
    if (after == STATE_PAUSED) {
        m_pauseStart.store(currentTimeMs());
        if (m_view)
            m_view->onStatusText(tr("PAUSE"));
    }
    setState(after);
}

bool FilePlayer::doSeek()
{
    const long long target = m_seekTarget.load();
    if (!m_indexOk.load() && !m_indexDeclined.load()) {
        logDebug("Seek not possible: no index");
        return m_playhead.m_pending;
    }
    const bool forward = m_seekMode.load() == SEEK_RELATIVE
        && target > static_cast<long long>(m_screenTime.load());
    if (m_indexOk.load() && m_indexFile.isOpen())
        m_seeking.setIndex(&m_indexFile, &m_index, m_keyFrameFlags);
    else
        m_seeking.setIndex(nullptr, nullptr, 0);
    m_seeking.setCancelFlag(&m_seekCancel);
    m_seeking.setInterruption([this]() {
        if (isStopRequested())
            throw ThreadStopException();
    });
    const Seeking::Result r = m_seeking.seek(target, forward);

    // The pending unit is due at once; speed 0 makes the play loop re-base
    // the clock for the requested speed ("Speed has been changed 0 -> s").
    m_clock.start(currentTimeMs(), r.resumeTime, 0);
    m_pausedMs.store(0);
    // The screen shows the target, or where a cancelled catch-up (or the
    // recording) ended.
    m_screenTime.store(std::min(static_cast<quint64>(target), r.resumeTime));
    return r.unitPending;
}

void FilePlayer::followClock()
{
    const quint64 now = currentTimeMs();
    m_clock.hold(m_pausedMs.exchange(0));
    const int requested = m_requestedSpeed.load();
    if (requested != m_clock.speed()) {
        logDebug2("Speed has been changed %1 -> %2", num(m_clock.speed()).constData(),
                  num(requested).constData());
        m_clock.changeSpeed(now, requested);
    }
    const bool stretch = m_stretchSpeech.load();
    if (requested != m_soundSpeed || stretch != m_soundStretch) {
        // What was written for the old speed is dropped; the sound starts
        // again where the picture stands, at the new speed (or not at all).
        m_soundSpeed = requested;
        m_soundStretch = stretch;
        m_feed.setSpeed(requested, stretch);
        m_feed.restart(double(m_clock.mediaTime(now)), m_playhead.unitOffset());
        m_feed.silence();
    }
}

void FilePlayer::paceBySound(quint64 now)
{
    const double volume = m_muted.load() ? 0.0 : m_volume.load() / 100.0;
    if (volume != m_appliedVolume) {
        m_feed.setVolume(volume);
        m_appliedVolume = volume;
    }
    m_feed.pump(double(m_clock.mediaTime(now)));
    double heard = 0;
    if (m_feed.heard(heard))
        m_clock.follow(now, static_cast<quint64>(std::llround(std::max(0.0, heard))));
}

void FilePlayer::drainSound()
{
    const quint64 until = currentTimeMs() + 3000;
    while (!m_feed.drained() && !m_cutDrain.load() && !isStopRequested()
           && currentTimeMs() < until) {
        paceBySound(currentTimeMs());
        Thread::sleep(10);
    }
}

void FilePlayer::setVolume(int percent)
{
    m_volume.store(std::clamp(percent, 0, 100));
}

bool FilePlayer::waitUntilDue()
{
    const quint64 unitTime = m_playhead.unitTime();
    const int speed = m_clock.speed();
    quint64 now = currentTimeMs();
    paceBySound(now);
    // The sleep step follows from the whole wait, not from what remains.
    // While sound plays it is at most 10 ms, to keep the outputs fed and
    // the clock on what is heard, and no longer than what remains, so that
    // the picture meets the sound it belongs to.
    const quint64 w = m_clock.waitFor(unitTime, now);
    const unsigned long long step = w >= 51 ? 50 : w >= 21 ? 20 : w >= 11 ? 10 : 0;
    const bool sounding = m_feed.isActive();
    quint64 lastReport = now;
    for (;;) {
        skipIdleStretch(now);
        const quint64 media = m_clock.mediaTime(now);
        m_screenTime.store(std::max(m_screenTime.load(), std::min(media, unitTime)));
        if (m_clock.waitFor(unitTime, now) == 0)
            return true;
        if (getState() != STATE_PLAYING || isStopRequested()
            || m_requestedSpeed.load() != speed)
            return false;
        Thread::sleep(sounding ? std::clamp<unsigned long long>(m_clock.waitFor(unitTime, now), 1, 10)
                               : step);
        now = currentTimeMs();
        paceBySound(now);
        if (now - lastReport > 300) {
            updateGUI(m_clock.mediaTime(now) / 1000);
            lastReport = now;
        }
    }
}

bool FilePlayer::skipIdleStretch(quint64 now)
{
    if (!m_skipIdle.load())
        return false;
    ActivityMap::Stretch stretch;
    if (!m_activity.idleStretchAt(m_clock.mediaTime(now), stretch))
        return false;
    // Nothing changes on the screen in the stretch: moving the clock is
    // enough; the units inside it are due at once.
    m_clock.start(now, stretch.to, m_clock.speed());
    // The sound goes on from the stretch's end; what the outputs hold of
    // the stretch (quiet by definition) is dropped.
    m_feed.restart(double(stretch.to), m_playhead.unitOffset());
    m_feed.silence();
    logDebug2("Idle stretch skipped: %1 - %2 ms", QByteArray::number(stretch.from).constData(),
              QByteArray::number(stretch.to).constData());
    if (m_view)
        m_view->showMessage(tr("Idle %1 skipped").arg(clockText(stretch.length())));
    emit idleSkipped(stretch.from, stretch.to);
    return true;
}

void FilePlayer::dispatchUnit()
{
    m_playhead.m_pending = false;
    const RecordUnitHeader& unit = m_playhead.unit();
    if (!unit.isValid())
        throw IncorrectFormatException();
    switch (unit.kind()) {
    case RecordUnitHeader::KIND_CONTROL:
        m_playhead.applyControlUnit();
        break;
    case RecordUnitHeader::KIND_SCREEN:
        m_playhead.applyScreenUnit();
        break;
    case RecordUnitHeader::KIND_INFO:
        break;
    case RecordUnitHeader::KIND_AUDIO_CAP:
    case RecordUnitHeader::KIND_AUDIO_SPK:
        break; // the AudioFeed has read it ahead and plays it
    default:
        throw IncorrectFormatException();
    }
    m_screenTime.store(unit.m_time);
    updateGUI();
}
