#include "FilePlayer.h"

#include <QAudioSink>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <exception>

#include "DateTime.h"
#include "Exception.h"
#include "IPlayerView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "Log.h"
#include "Seeking.h"
#include "UnitDispatch.h"

namespace {

const char* const kTitle = "Session Player";

// Media time elapsed in `d` ms of wall time at speed s.
quint64 scaleTime(quint64 d, int s)
{
    if (s > 0)
        return d * static_cast<quint64>(s);
    if (s < 0)
        return d / static_cast<quint64>(-static_cast<long long>(s));
    return d;
}

QByteArray num(long long v)
{
    return QByteArray::number(v);
}

QByteArray unum(quint64 v)
{
    return QByteArray::number(static_cast<qulonglong>(v));
}

} // namespace

void fixTime(quint64& t, int speed)
{
    if (speed > 0)
        t /= static_cast<quint64>(speed);
    else if (speed < 0)
        t *= static_cast<quint64>(-static_cast<long long>(speed));
}

FilePlayer::FilePlayer()
{
    m_payload.setGrowBy(kPayloadGrowBy);
    m_payload.reallocate(kPayloadReserve);
    m_timer.start(currentTimeMs());
    m_reader.setDevice(&m_file);
    m_indexBuilder = new IndexBuilder();
    // Direct: the slots write the samples on the player thread while the
    // payload buffer is still valid.
    connect(this, SIGNAL(playCapSamples(byte*,int)), this, SLOT(onPlayCapSamples(byte*,int)),
            Qt::DirectConnection);
    connect(this, SIGNAL(playSpkSamples(byte*,int)), this, SLOT(onPlaySpkSamples(byte*,int)),
            Qt::DirectConnection);
}

FilePlayer::~FilePlayer()
{
    closeFiles();
    delete m_indexBuilder;
    m_indexBuilder = nullptr;
    deleteAudio();
}

quint64 FilePlayer::currentTimeMs()
{
    return DateTime::currentTimeMillis();
}

// ---------------------------------------------------------------------------
// Wiring

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
        connect(this, SIGNAL(invalidFileFormat()), receiver, SLOT(onInvalidFileFormat()),
                Qt::UniqueConnection);
    }
    connect(m_indexBuilder, SIGNAL(idxPositionChanged(quint64)), this,
            SIGNAL(playerPositionChanged(quint64)), Qt::UniqueConnection);
}

void FilePlayer::setDrawingScene(IPlayerView* view)
{
    m_view = view;
    m_decoder.m_listener = view;
}

void FilePlayer::setPrompter(IPrompter* prompter)
{
    m_prompter = prompter;
}

void FilePlayer::setState(int state)
{
    if (Thread::getCurrentThread() == static_cast<Thread*>(this)) {
        // Queued to the GUI thread: post the report before the state can be
        // seen, so that a GUI-thread wait for this state (stop, play) finds the
        // report in its queue and delivers it before any report it makes itself.
        emit playerStatusChanged(state);
        m_state.store(state);
        return;
    }
    m_state.store(state);
    emit playerStatusChanged(state);
}

void FilePlayer::updateGUI(quint64 seconds)
{
    m_position.store(static_cast<int>(seconds));
    emit playerPositionChanged(seconds);
}

void FilePlayer::updateGUI()
{
    const quint64 seconds = m_unitHeader.m_time / 1000;
    if (static_cast<long long>(seconds) != m_position.load())
        updateGUI(seconds);
}

void FilePlayer::loadFolder(QString& folder)
{
    QSettings settings;
    folder = settings.value(QStringLiteral("last_path")).toString();
}

void FilePlayer::rememberFolder(const QString& folder)
{
    QSettings settings;
    settings.setValue(QStringLiteral("last_path"), folder);
}

// ---------------------------------------------------------------------------
// Boxes and waits

void FilePlayer::critical(const QString& text)
{
    if (m_prompter)
        m_prompter->critical(QString::fromLatin1(kTitle), text);
    else
        logError(text);
}

void FilePlayer::reportOpenFailure(bool invalidFormat, const QString& path)
{
    const QString text = invalidFormat
        ? tr("The file is in invalid format. This is not a valid recorded session:")
        : tr("Unable to open the file:");
    critical(text + QStringLiteral("\n") + path);
}

void FilePlayer::setError(const QString& text)
{
    m_statusText = text;
    critical(text);
    setState(STATE_ERROR);
}

bool FilePlayer::threadRunning()
{
    const int state = Thread::getState();
    return state != Thread::STATE_CREATED && state != Thread::STATE_INITIALIZED
        && state != Thread::STATE_FINISHED && !isStopRequested();
}

void FilePlayer::waitStep(unsigned long long ms)
{
    if (m_prompter)
        m_prompter->serviceWhileWaiting();
    Thread::sleep(ms);
}

// ---------------------------------------------------------------------------
// Files

bool FilePlayer::atEnd() const
{
    return !m_file.isOpen() || m_file.atEnd();
}

void FilePlayer::closeFiles()
{
    if (m_file.isOpen())
        m_file.close();
    if (m_indexFile.isOpen())
        m_indexFile.close();
}

void FilePlayer::openRecording()
{
    if (m_file.isOpen())
        m_file.close();
    m_file.setFileName(m_fileName);
    // A recording is only ever read.
    if (!m_file.open(QIODevice::ReadOnly)) {
        FileCantOpenException e;
        e.setReason(m_file.errorString());
        throw e;
    }
    m_reader.readFileHeader(m_fileHeader);
}

bool FilePlayer::readUnit()
{
    for (;;) {
        const RecordReader::Result r = m_reader.readUnit(m_unitHeader, m_payload, m_packed);
        if (r == RecordReader::NotOpen)
            throw 1;
        if (r == RecordReader::Damaged) {
            const RecordReader::Damage& d = m_reader.damage();
            logWarning3("Damaged part skipped: offsets %1 to %2, %3",
                        unum(static_cast<quint64>(d.from)).constData(),
                        unum(static_cast<quint64>(d.to)).constData(), d.what().toUtf8().constData());
            if (d.toEnd)
                throw IncorrectFormatException();
            continue;
        }
        if (r != RecordReader::Unit)
            return false;
        m_currentUnitTime.store(m_unitHeader.m_time);
        return true;
    }
}

bool FilePlayer::loadIndex()
{
    if (m_indexFile.isOpen())
        m_indexFile.close();
    m_indexOk.store(false);
    m_indexDeclined.store(false);
    m_index.setCount(0);

    m_indexFile.setFileName(m_indexFileName);
    if (!m_indexFile.open(QIODevice::ReadOnly)) {
        critical(tr("Unable to open the file:") + QStringLiteral("\n") + m_fileName);
        return false;
    }
    const qint64 recordingSize =
        m_file.isOpen() ? m_file.size() : QFileInfo(m_fileName).size();
    IndexFileHeader header;
    IndexFile::LoadReport report;
    bool valid = false;
    try {
        valid = IndexFile::load(m_indexFile, header, m_index, recordingSize, &report);
    } catch (const FileException&) {
        // A read error says nothing about the index itself: keep the file.
        m_indexFile.close();
        m_index.setCount(0);
        critical(tr("Unable to open the file:") + QStringLiteral("\n") + m_fileName);
        return false;
    }
    if (!valid) {
        logDebug1("Invalid index deleted: %1", report.problem.toUtf8().constData());
        m_indexFile.close();
        QFile::remove(m_indexFileName);
        m_index.setCount(0);
        return false;
    }
    m_keyFrameFlags = header.m_flags;
    m_indexOk.store(true);
    return true;
}

// ---------------------------------------------------------------------------
// Opening and the first screen

bool FilePlayer::openFile(const QString& path)
{
    QString chosen = path;
    if (chosen.isEmpty()) {
        QString folder;
        loadFolder(folder);
        if (folder.isEmpty())
            folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QString filter = tr("Recorded Sessions(*.[extention] *.[oldextension]);;All Files(*.*)");
        filter.replace(QStringLiteral("[extention]"), QStringLiteral("vro"));
        filter.replace(QStringLiteral("[oldextension]"), QStringLiteral("vr4"));
        if (m_prompter)
            chosen = m_prompter->getOpenFileName(tr("Open File"), folder, filter);
        if (chosen.isEmpty())
            return false;
    }

    // The new file is checked before anything of the recording now open is
    // touched: a file that cannot be played leaves that one as it was.
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    if (suffix != QLatin1String("vro") && suffix != QLatin1String("vr4")) {
        emit invalidFileFormat();
        return false;
    }
    {
        QFile candidate(chosen);
        RecordReader reader(&candidate);
        RecordFileHeader header;
        try {
            if (!candidate.open(QIODevice::ReadOnly)) {
                FileCantOpenException e;
                e.setReason(candidate.errorString());
                throw e;
            }
            reader.readFileHeader(header);
        } catch (const IncorrectFileException&) {
            reportOpenFailure(true, chosen);
            return false;
        } catch (const FileException&) {
            reportOpenFailure(false, chosen);
            return false;
        }
    }

    if (getState() != STATE_IDLE) {
        // No to cancelling an index build keeps it going.
        if (!stop() || getState() != STATE_IDLE)
            return false;
    }

    closeFiles();
    m_indexOk.store(false);
    m_indexDeclined.store(false);
    m_index.setCount(0);
    m_fileName = chosen;
    m_displayName = QFileInfo(chosen).fileName();

    // A recording that is not opened leaves nothing behind that play() or
    // the window could take for a loaded one.
    auto forget = [this]() {
        closeFiles();
        m_fileName.clear();
        m_displayName.clear();
        m_fileHeader.clear();
    };

    try {
        openRecording();
    } catch (const IncorrectFileException&) {
        forget();
        reportOpenFailure(true, chosen);
        return false;
    } catch (const FileException&) {
        forget();
        reportOpenFailure(false, chosen);
        return false;
    }

    if (m_view)
        m_view->setFirstDimension(true);
    QString failure;
    try {
        showFirstScreen();
    } catch (const IncorrectFormatException&) {
        failure = tr("Invalid File format");
    } catch (const DecompressionException&) {
        failure = tr("Unknown Data Compression format");
    } catch (const FileException&) {
        failure = tr("Error Reading file");
    } catch (const Exception&) {
        failure = tr("Unknown Error");
    } catch (const std::exception&) {
        failure = tr("Unknown Error");
    } catch (int) {
        failure = tr("Error Reading file");
    }
    m_file.close();
    if (!failure.isEmpty()) {
        forget();
        m_statusText = failure;
        critical(failure);
        return false;
    }

    // Only a folder that held a recording that opened is worth coming back
    // to; absolute, so that it does not depend on where the player started.
    rememberFolder(QDir::toNativeSeparators(QFileInfo(chosen).absolutePath()) + QDir::separator());

    // The index beside the recording, else the one in the cache folder.
    const IndexLocation location;
    m_indexFileName = IndexLocation::besidePath(m_fileName);
    for (const QString& candidate : location.existing(m_fileName)) {
        m_indexFileName = candidate;
        if (loadIndex())
            break;
    }
    if (m_indexOk.load() && m_controller && m_controller->playOnOpen())
        play();

    if (!m_indexOk.load()) {
        const IPrompter::Answer answer = m_prompter
            ? m_prompter->question(
                  tr("Index missing"),
                  tr("It is recommended that you select to index your recorded file. Indexing "
                     "the file can provide faster playback, especially for larger files above a "
                     "few minutes.\r\n\r\nClick Yes to create an index now."))
            : IPrompter::No;
        if (answer == IPrompter::Yes) {
            if (location.placeFor(m_fileName).isEmpty()) {
                // Said once; seeking then replays from the start as after No.
                critical(tr("No index can be written for this recording, neither beside it nor "
                            "in the cache folder:")
                         + QStringLiteral("\n") + QDir::toNativeSeparators(location.cacheFolder())
                         + QStringLiteral("\n")
                         + tr("Seeking will replay the recording from its start."));
                m_indexDeclined.store(true);
            } else {
                m_indexBuilder->clearCancel();
                setState(STATE_INDEXING);
            }
        } else if (answer == IPrompter::No) {
            m_indexDeclined.store(true);
        } else {
            m_indexOk.store(false);
            m_indexDeclined.store(false);
        }
    }
    return true;
}

void FilePlayer::showFirstScreen()
{
    if (!m_file.isOpen())
        return;
    if (m_view) {
        m_view->reset();
        m_view->clearScreen();
    }
    // Starting from a fresh decoder makes the first header announce its size,
    // so the view sizes itself for this recording.
    m_decoder.reset();
    m_screenStarted = false;
    m_reader.rewind();
    for (;;) {
        // Nothing plausible after a damaged stretch: playback reports it when
        // it gets there.
        try {
            if (!readUnit())
                break;
        } catch (const IncorrectFormatException&) {
            break;
        }
        if (m_unitHeader.kind() == RecordUnitHeader::KIND_SCREEN
            && UnitDispatch::processScreenUnit(m_payload.data(), m_payload.count(), m_decoder,
                                               m_view, m_screenStarted))
            break;
    }
    updateGUI(0);
}

// ---------------------------------------------------------------------------
// Commands

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
        const quint64 pauseStart = m_pauseStart.load();
        if (pauseStart != 0) {
            const quint64 now = currentTimeMs();
            if (now > pauseStart)
                m_clockBase.fetch_add(now - pauseStart);
        }
        m_pauseStart.store(0);
        int expected = STATE_PAUSED;
        if (m_state.compare_exchange_strong(expected, STATE_PLAYING))
            emit playerStatusChanged(STATE_PLAYING);
        return;
    }

    if (state == STATE_ERROR || state == STATE_STOPPING) {
        // The player thread is finishing a failure or a stop; start afresh
        // once it is idle.
        if (Thread::getCurrentThread() == static_cast<Thread*>(this))
            return;
        while ((getState() == STATE_ERROR || getState() == STATE_STOPPING) && threadRunning())
            waitStep(20);
        if (m_prompter)
            m_prompter->serviceWhileWaiting();
        if (getState() != STATE_IDLE)
            return;
    }

    // Start from the beginning.
    if (m_fileName.isEmpty())
        return;
    try {
        openRecording();
    } catch (const IncorrectFileException&) {
        closeFiles();
        reportOpenFailure(true, m_fileName);
        m_fileName.clear();
        return;
    } catch (const FileException&) {
        closeFiles();
        reportOpenFailure(false, m_fileName);
        m_fileName.clear();
        return;
    }
    if (QFile::exists(m_indexFileName))
        loadIndex();
    if (m_controller)
        m_controller->setTitle(tr("Session Player") + QStringLiteral(" - ") + m_displayName);
    if (m_view) {
        m_view->reset();
        m_view->clearScreen();
    }
    m_decoder.reset();
    m_screenStarted = false;
    if (m_controller)
        m_controller->setVisible(true);
    m_reader.rewind();
    m_unitPending = false;
    m_pauseStart.store(0);
    // The clock starts now at the requested speed, not at the speed of the
    // last playback while the player thread has yet to pick up the state.
    m_speed = m_requestedSpeed.load();
    m_clockBase.store(currentTimeMs());
    setState(STATE_PLAYING);
}

void FilePlayer::pause()
{
    if (getState() != STATE_PLAYING)
        return;
    m_pauseStart.store(currentTimeMs());
    if (m_view)
        m_view->onStatusText(tr("PAUSE"));
    int expected = STATE_PLAYING;
    if (m_state.compare_exchange_strong(expected, STATE_PAUSED))
        emit playerStatusChanged(STATE_PAUSED);
}

bool FilePlayer::stop()
{
    const bool threadRuns = threadRunning();
    const bool onPlayerThread = Thread::getCurrentThread() == static_cast<Thread*>(this);

    const int state = getState();
    if (state == STATE_SEEKING) {
        m_seekCancel.store(true);
        return true;
    }
    if (state == STATE_INDEXING) {
        const IPrompter::Answer answer = m_prompter
            ? m_prompter->warning(tr("Attention"),
                                  tr("This will cancel the indexing and disable random seek!\n"
                                     "Are you sure you want to stop?"))
            : IPrompter::Yes;
        // No: the build goes on, also when it ended while the box was up.
        if (answer != IPrompter::Yes)
            return false;
        m_indexBuilder->cancel();
        while (getState() == STATE_INDEXING && !onPlayerThread && threadRunning())
            waitStep(20);
    }

    setState(STATE_STOPPING);
    if (onPlayerThread)
        return true;
    if (!threadRuns) {
        // Nobody else will finish the stop.
        if (m_view)
            m_view->onStatusText(tr("STOPPED"));
        closeFiles();
        setState(STATE_IDLE);
        return true;
    }
    while (getState() == STATE_STOPPING && threadRunning())
        waitStep(50);
    // Deliver the player thread's last reports before the caller goes on.
    if (m_prompter)
        m_prompter->serviceWhileWaiting();
    return true;
}

void FilePlayer::seek(long long seconds, int mode)
{
    int state = getState();
    if ((state != STATE_IDLE && state != STATE_PLAYING && state != STATE_PAUSED)
        || m_fileName.isEmpty())
        return;
    if (state == STATE_IDLE) {
        play();
        // play() from idle sets the state itself; when it failed the state
        // stays 0 and there is nothing to wait for.
        state = getState();
        if (state == STATE_IDLE)
            return;
    }
    if (state != STATE_PLAYING && state != STATE_PAUSED)
        return;

    long long target = seconds * 1000;
    if (mode == SEEK_RELATIVE)
        target += static_cast<long long>(m_currentUnitTime.load());
    if (target < 0)
        target = 0;
    m_seekTarget.store(target);
    m_seekMode.store(mode);
    m_stateAfterSeek.store(state);
    int expected = state;
    if (m_state.compare_exchange_strong(expected, STATE_SEEKING))
        emit playerStatusChanged(STATE_SEEKING);
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
    closeFiles();
    // The outputs were created on this thread; they go with it.
    deleteAudio();
}

void FilePlayer::doWork()
{
    // The thread's first report is the state as it stands: a command given
    // while the thread was starting (play() of a recording named on the
    // command line) is kept, not overwritten with idle.
    emit playerStatusChanged(getState());
    while (!isStopRequested()) {
        switch (getState()) {
        case STATE_IDLE:
            Thread::sleep(100);
            break;
        case STATE_PLAYING:
        case STATE_PAUSED:
        case STATE_SEEKING:
            doPlay();
            break;
        case STATE_INDEXING: {
            updateGUI(0);
            const bool ok = m_indexBuilder->makeIndex(m_fileName, kIndexInterval);
            m_indexOk.store(ok);
            // Loaded at once (from where the builder put it), so that a
            // loaded index always has its table.
            if (ok) {
                m_indexFileName = m_indexBuilder->indexFileName();
                loadIndex();
            }
            Thread::sleep(1000);
            updateGUI(0);
            setState(STATE_IDLE);
            if (m_indexOk.load() && m_controller && m_controller->playOnOpen())
                play();
            break;
        }
        case STATE_STOPPING: {
            // The last unit played, not only read: a stop while it was
            // still due is a stop.
            const bool theEnd = m_file.isOpen() && m_file.atEnd() && !m_unitPending;
            if (m_view)
                m_view->onStatusText(tr("STOPPED"));
            if (theEnd && m_view)
                m_view->onStatusText(tr("The End"));
            closeFiles();
            m_unitPending = false;
            // The position shows where playback stands: at the end once the
            // last unit has played, else at the start, where play() begins.
            updateGUI(theEnd ? m_fileHeader.m_duration / 1000 : 0);
            setState(STATE_IDLE);
            break;
        }
        default:
            Thread::sleep(20);
            break;
        }
    }
}

quint64 FilePlayer::mediaTime(quint64 now, int speed) const
{
    const quint64 base = m_clockBase.load();
    return scaleTime(now > base ? now - base : 0, speed);
}

void FilePlayer::doPlay()
{
    for (;;) {
        // 1. Leave when there is nothing (more) to play.
        const int state = getState();
        if ((state != STATE_PLAYING && state != STATE_PAUSED && state != STATE_SEEKING)
            || !m_file.isOpen() || (atEnd() && !m_unitPending)) {
            // A stop() has already set and reported the state.
            if (state != STATE_STOPPING)
                setState(STATE_STOPPING);
            return;
        }

        // 2. Stop request; pause.
        if (isStopRequested())
            throw ThreadStopException();
        while (getState() == STATE_PAUSED) {
            if (isStopRequested())
                throw ThreadStopException();
            Thread::sleep(200);
        }

        try {
            // 3. A seek, or the next unit.
            if (getState() == STATE_SEEKING) {
                const long long target = m_seekTarget.load();
                updateGUI(static_cast<quint64>(target / 1000));
                doSeek();
                if (m_view)
                    m_view->redraw();
                const int after = m_stateAfterSeek.load();
                int expected = STATE_SEEKING;
                if (after == STATE_PAUSED) {
                    if (m_state.compare_exchange_strong(expected, STATE_PLAYING)) {
                        emit playerStatusChanged(STATE_PLAYING);
                        pause();
                    }
                } else if (m_state.compare_exchange_strong(expected, after)) {
                    emit playerStatusChanged(after);
                }
                if (!m_unitPending)
                    continue;
            } else if (!m_unitPending) {
                if (!readUnit())
                    continue; // the end: step 1 stops
                m_unitPending = true;
            }
            if (getState() != STATE_PLAYING)
                continue;

            // 4. A new speed: re-base the clock so that media time goes on
            //    without a jump.
            const int requested = m_requestedSpeed.load();
            if (requested != m_speed) {
                logDebug2("Speed has been changed %1 -> %2", num(m_speed).constData(),
                          num(requested).constData());
                const quint64 now = currentTimeMs();
                quint64 media = mediaTime(now, m_speed);
                fixTime(media, requested);
                m_clockBase.store(now > media ? now - media : 0);
            }

            // 5. How long until the unit is due.
            const quint64 now = currentTimeMs();
            const int s = requested;
            const quint64 t = m_unitHeader.m_time;
            const quint64 base = m_clockBase.load();
            const quint64 e = now > base ? now - base : 0;
            quint64 w = 0;
            if (s > 0) {
                const quint64 m = e * static_cast<quint64>(s);
                w = m >= t ? 0 : (t - m) / static_cast<quint64>(s);
            } else if (s < 0) {
                const quint64 k = static_cast<quint64>(-static_cast<long long>(s));
                const quint64 m = e / k;
                w = m >= t ? 0 : (t - m) * k;
            } else {
                w = e >= t ? 0 : t - e;
            }
            m_speed = s;
            m_timer.start(now);

            // 6. Wait, reporting the position every 300 ms. A pause, a stop or
            //    a new speed ends the wait with the unit still pending.
            const unsigned long long step = w >= 51 ? 50 : w >= 21 ? 20 : w >= 11 ? 10 : 0;
            quint64 lastReport = now;
            bool interrupted = false;
            while (m_timer.elapsed(currentTimeMs()) < w) {
                const int st = getState();
                if (st == STATE_SEEKING)
                    break;
                if (st != STATE_PLAYING || isStopRequested()
                    || m_requestedSpeed.load() != m_speed) {
                    interrupted = true;
                    break;
                }
                Thread::sleep(step);
                const quint64 later = currentTimeMs();
                if (later - lastReport > 300) {
                    updateGUI(mediaTime(later, s) / 1000);
                    lastReport = later;
                }
            }
            if (interrupted)
                continue;

            // 7. Dispatch.
            m_unitPending = false;
            if (!m_unitHeader.isValid())
                throw IncorrectFormatException();
            switch (m_unitHeader.kind()) {
            case RecordUnitHeader::KIND_CONTROL:
                processControlUnit();
                break;
            case RecordUnitHeader::KIND_SCREEN:
                processScreenUnit();
                break;
            case RecordUnitHeader::KIND_INFO:
                processInfoUnit();
                break;
            case RecordUnitHeader::KIND_AUDIO_CAP:
                processAudioCapUnit();
                break;
            case RecordUnitHeader::KIND_AUDIO_SPK:
                processAudioSpkUnit();
                break;
            default:
                throw IncorrectFormatException();
            }

            // 8. Position.
            updateGUI();
        } catch (const ThreadStopException&) {
            throw;
        } catch (const IncorrectFormatException&) {
            m_unitPending = false;
            setError(tr("Invalid File format"));
        } catch (const DecompressionException&) {
            m_unitPending = false;
            setError(tr("Unknown Data Compression format"));
        } catch (const FileException&) {
            m_unitPending = false;
            setError(tr("Error Reading file"));
        } catch (const Exception&) {
            m_unitPending = false;
            setError(tr("Unknown Error"));
        } catch (const std::exception&) {
            m_unitPending = false;
            setError(tr("Unknown Error"));
        } catch (int) {
            // The recording is not open: step 1 ends playback.
        }
    }
}

// ---------------------------------------------------------------------------
// Seeking

bool FilePlayer::doSeek()
{
    const long long target = m_seekTarget.load();
    const int mode = m_seekMode.load();
    const bool indexOk = m_indexOk.load();
    if (!indexOk && !m_indexDeclined.load()) {
        logDebug("Seek not possible: no index");
        return m_unitPending;
    }

    const quint64 current = m_currentUnitTime.load();
    const bool forward = mode == SEEK_RELATIVE && target > static_cast<long long>(current);
    m_seekCancel.store(false);

    enum Start { Continue, Restart, KeyFrame } start = Restart;
    if (forward) {
        start = Continue;
    } else if (indexOk) {
        const int e = Seeking::chooseEntry(m_index, target);
        if (e != Seeking::RESTART && m_indexFile.isOpen()) {
            const IndexEntryPoint& entry = m_index[e];
            if (m_reader.seekUnit(static_cast<qint64>(entry.m_filePos), entry.m_time)
                && Seeking::restoreKeyFrame(m_indexFile, entry, m_keyFrameFlags, m_decoder,
                                            m_view, m_packed, m_keyFrame)) {
                start = KeyFrame;
                m_screenStarted = true;
                logDebug1("Key frame restored: %1", unum(entry.m_time).constData());
            }
        }
    }

    bool applied = false; // the current unit is on the screen already
    auto applyBeforeTarget = [&]() {
        if (!m_unitHeader.isValid() || static_cast<long long>(m_unitHeader.m_time) >= target)
            return false;
        if (m_unitHeader.kind() == RecordUnitHeader::KIND_SCREEN)
            processScreenUnit();
        return true;
    };

    if (start == Continue && m_unitPending) {
        // A unit of unknown kind stays for the play loop to report: nothing
        // after it can be read.
        if (!m_unitHeader.isValid())
            return true;
        // A unit read but not yet dispatched (the seek came during a pause)
        // lies before the target: its picture belongs to the screen.
        applyBeforeTarget();
        m_unitPending = false;
    }
    if (start == Restart) {
        logDebug("Seek restarts at the beginning");
        m_decoder.reset();
        if (m_view)
            m_view->clearScreen();
        m_screenStarted = false;
        m_reader.rewind();
    }
    m_unitPending = false;

    // The catch-up. Its first unit is the one a key frame already contains;
    // after a restart or on a forward step it still has to be applied.
    bool haveUnit = readUnit();
    if (haveUnit)
        applied = start == KeyFrame ? true : applyBeforeTarget();
    while (haveUnit && applied && !m_seekCancel.load() && !atEnd()) {
        if (isStopRequested())
            throw ThreadStopException();
        haveUnit = readUnit();
        if (haveUnit)
            applied = applyBeforeTarget();
    }
    m_unitPending = haveUnit && !applied;

    // Resume: the current unit is due at once.
    const quint64 now = currentTimeMs();
    const quint64 time = m_currentUnitTime.load();
    m_clockBase.store(now > time ? now - time : 0);
    m_speed = 0;

    logDebug1("Seek %1", m_seekCancel.load() ? "canceled by user" : "finished");
    logDebug1("Target time : %1", num(target).constData());
    logDebug1("Current time: %1", unum(time).constData());
    return m_unitPending;
}

bool FilePlayer::prepareSyncPlayback()
{
    if (m_fileName.isEmpty())
        return false;
    try {
        openRecording();
    } catch (const Exception&) {
        closeFiles();
        return false;
    }
    if (QFile::exists(m_indexFileName))
        loadIndex();
    m_decoder.reset();
    m_screenStarted = false;
    m_reader.rewind();
    m_unitPending = false;
    m_currentUnitTime.store(0);
    return true;
}

quint64 FilePlayer::seekSync(long long targetMs, int mode)
{
    long long target = targetMs;
    if (mode == SEEK_RELATIVE)
        target += static_cast<long long>(m_currentUnitTime.load());
    m_seekTarget.store(target < 0 ? 0 : target);
    m_seekMode.store(mode);
    doSeek();
    return m_currentUnitTime.load();
}

// ---------------------------------------------------------------------------
// Units

void FilePlayer::processControlUnit()
{
    UnitDispatch::processControlUnit(m_payload.data(), m_payload.count(), m_view);
}

void FilePlayer::processScreenUnit()
{
    UnitDispatch::processScreenUnit(m_payload.data(), m_payload.count(), m_decoder, m_view,
                                    m_screenStarted);
}

// ---------------------------------------------------------------------------
// Audio

void FilePlayer::processAudioCapUnit()
{
    const int channels = m_unitHeader.m_channels;
    // A format never set (sample rate 0) differs from every channel count.
    if (m_capFormat.sampleRate() == 0 || channels != m_capFormat.channelCount())
        m_capReady = initAudioCap(channels);
    if (m_capReady && m_requestedSpeed.load() == 1)
        emit playCapSamples(m_payload.data(), m_payload.count());
}

void FilePlayer::processAudioSpkUnit()
{
    const int channels = m_unitHeader.m_channels;
    if (m_spkFormat.sampleRate() == 0 || channels != m_spkFormat.channelCount())
        m_spkReady = initAudioSpk(channels);
    if (m_spkReady && m_requestedSpeed.load() == 1)
        emit playSpkSamples(m_payload.data(), m_payload.count());
}

bool FilePlayer::initAudioCap(int channels)
{
    return initAudio(channels, m_capReady, m_capFormat, m_capDevice, m_capSink, m_capOutput,
                     "Cap");
}

bool FilePlayer::initAudioSpk(int channels)
{
    return initAudio(channels, m_spkReady, m_spkFormat, m_spkDevice, m_spkSink, m_spkOutput,
                     "Spk");
}

bool FilePlayer::initAudio(int channels, bool& ready, QAudioFormat& format, QAudioDevice& device,
                           QIODevice*& sink, QAudioSink*& output, const char* name)
{
    ready = false;
    // The recorded format, kept for the channel-count comparison even when
    // the output cannot be opened: the stream then stays silent until its
    // channel count changes.
    format = QAudioFormat();
    format.setSampleRate(kAudioRate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);

    if (output) {
        output->stop();
        delete output;
        output = nullptr;
    }
    sink = nullptr;

    device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || channels <= 0 || channels > 32) {
        logDebug2("Audio output %1 opened: %2", name, "no");
        return false;
    }

    QAudioFormat used = format;
    if (!device.isFormatSupported(used)) {
        // Keep the recorded rate and channel count where the device takes
        // them; the samples are written as recorded either way.
        const QAudioFormat preferred = device.preferredFormat();
        if (channels < device.minimumChannelCount() || channels > device.maximumChannelCount())
            used.setChannelCount(preferred.channelCount());
        if (kAudioRate < device.minimumSampleRate() || kAudioRate > device.maximumSampleRate())
            used.setSampleRate(preferred.sampleRate());
        if (!device.supportedSampleFormats().contains(QAudioFormat::Int16))
            used.setSampleFormat(preferred.sampleFormat());
    }

    output = new QAudioSink(device, used);
    // Room for two payloads like the one that opened the stream: a whole unit
    // is taken at once. The output starts playing once its buffer is full, so
    // the buffer is also the sound's delay: no more than that.
    const qint64 minimum = used.bytesForDuration(qint64(kAudioMinBufferMs) * 1000);
    const qint64 maximum = used.bytesForDuration(qint64(kAudioMaxBufferMs) * 1000);
    output->setBufferSize(static_cast<qsizetype>(
        std::min(maximum, std::max(minimum, 2 * static_cast<qint64>(m_payload.count())))));
    sink = output->start();
    const bool ok = sink && output->error() == QAudio::NoError;
    logDebug2("Audio output %1 opened: %2", name, ok ? "yes" : "no");
    if (!ok)
        sink = nullptr;
    return ok;
}

void FilePlayer::writeAudio(QIODevice* sink, QAudioSink* output, const byte* data, int size)
{
    if (!sink || !data || size <= 0)
        return;
    const char* p = reinterpret_cast<const char*>(data);
    qint64 written = sink->write(p, size);
    if (written < 0)
        written = 0;
    if (written >= size)
        return;
    // The output's buffer is full: give it the rest as it drains, for at most
    // as long as that rest takes to play.
    const qint64 bytesPerMs = output ? output->format().bytesForDuration(1000) : 0;
    const quint64 budget = (bytesPerMs > 0 ? static_cast<quint64>((size - written) / bytesPerMs)
                                           : 0) + 50;
    const quint64 start = currentTimeMs();
    while (written < size && currentTimeMs() - start < budget && !isStopRequested()) {
        Thread::sleep(10);
        const qint64 n = sink->write(p + written, size - written);
        if (n > 0)
            written += n;
    }
    if (written < size)
        logDebug1("Audio: %1 bytes dropped", num(size - written).constData());
}

void FilePlayer::onPlayCapSamples(byte* data, int size)
{
    writeAudio(m_capSink, m_capOutput, data, size);
}

void FilePlayer::onPlaySpkSamples(byte* data, int size)
{
    writeAudio(m_spkSink, m_spkOutput, data, size);
}

void FilePlayer::deleteAudio()
{
    for (QAudioSink** output : {&m_capOutput, &m_spkOutput}) {
        if (*output) {
            (*output)->stop();
            delete *output;
            *output = nullptr;
        }
    }
    m_capSink = m_spkSink = nullptr;
    m_capReady = m_spkReady = false;
    m_capFormat = QAudioFormat();
    m_spkFormat = QAudioFormat();
}
