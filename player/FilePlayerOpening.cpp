// SPDX-License-Identifier: GPL-3.0-or-later
// FilePlayer: opening a recording, its first screen, its index, the start of
// playback from the beginning, the messages of failures, and what the window
// reads of the opened recording.

#include "FilePlayer.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include "Exception.h"
#include "IPlayerView.h"
#include "IPlayerWindow.h"
#include "IPrompter.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "RecordReader.h"
#include "Log.h"

bool FilePlayer::openFile(const QString& path)
{
    const QString chosen = chooseFile(path);
    if (chosen.isEmpty())
        return false;
    // The new file is checked before anything of the recording now open is
    // touched: a file that cannot be played leaves that one as it was.
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    if (suffix != QLatin1String("vro") && suffix != QLatin1String("vr4")) {
        emit invalidFileFormat();
        return false;
    }
    QString failure = checkCandidate(chosen);
    if (!failure.isEmpty()) {
        critical(failure);
        return false;
    }
    // No to cancelling an index build keeps it going.
    if (getState() != STATE_IDLE && (!stop() || getState() != STATE_IDLE))
        return false;

    // Boxes and signals wait until the engine is released: the window may
    // answer them with commands of its own.
    {
        std::lock_guard<std::mutex> lock(m_playbackMutex);
        closeFiles();
        m_indexOk.store(false);
        m_indexDeclined.store(false);
        m_indexEntryCount.store(0);
        m_index.setCount(0);
        {
            std::lock_guard<std::mutex> info(m_infoMutex);
            m_fileName = chosen;
            m_displayName = QFileInfo(chosen).fileName();
        }
        // Beside the first screen, never before it.
        startExtentScan();
        failure = openAndShowFirstScreen();
        m_playhead.close();
        if (!failure.isEmpty())
            forgetRecording();
        else
            findIndex(&failure);
    }
    if (!failure.isEmpty()) {
        critical(failure);
        if (fileName().isEmpty())
            return false;
    }
    // Only a folder that held a recording that opened is worth coming back
    // to; absolute, so that it does not depend on where the player started.
    rememberFolder(QDir::toNativeSeparators(QFileInfo(chosen).absolutePath()) + QDir::separator());

    if (m_indexOk.load() && m_controller && m_controller->playOnOpen())
        play();
    if (!m_indexOk.load())
        askForIndex();
    return true;
}

QString FilePlayer::chooseFile(const QString& path)
{
    if (!path.isEmpty())
        return path;
    QString folder;
    loadFolder(folder);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QString filter = tr("Recorded Sessions(*.[extention] *.[oldextension]);;All Files(*.*)");
    filter.replace(QStringLiteral("[extention]"), QStringLiteral("vro"));
    filter.replace(QStringLiteral("[oldextension]"), QStringLiteral("vr4"));
    IPrompter* prompter = m_prompter.load();
    return prompter ? prompter->getOpenFileName(tr("Open File"), folder, filter) : QString();
}

QString FilePlayer::checkCandidate(const QString& path)
{
    QFile candidate(path);
    RecordReader reader(&candidate);
    RecordFileHeader header;
    try {
        if (!candidate.open(QIODevice::ReadOnly)) {
            FileCantOpenException e;
            e.setReason(candidate.errorString());
            throw e;
        }
        reader.readFileHeader(header);
    } catch (...) {
        return failureText(std::current_exception(), path);
    }
    return QString();
}

void FilePlayer::findIndex(QString* failure)
{
    const QString recording = fileName();
    m_indexFileName = IndexLocation::besidePath(recording);
    for (const QString& candidate : IndexLocation().existing(recording)) {
        m_indexFileName = candidate;
        if (loadIndex(failure))
            return;
    }
}

void FilePlayer::askForIndex()
{
    IPrompter* prompter = m_prompter.load();
    QSettings settings;
    bool always = settings.value(QLatin1String(kAlwaysIndexKey), false).toBool();
    IPrompter::Answer answer = IPrompter::Yes;
    if (!always) {
        answer = prompter
            ? prompter->indexQuestion(
                  tr("Index missing"),
                  tr("It is recommended that you select to index your recorded file. Indexing "
                     "the file can provide faster playback, especially for larger files above a "
                     "few minutes.\r\n\r\nClick Yes to create an index now."),
                  &always)
            : IPrompter::No;
        if (answer == IPrompter::Yes && always)
            settings.setValue(QLatin1String(kAlwaysIndexKey), true);
    }
    if (answer != IPrompter::Yes) {
        m_indexDeclined.store(answer == IPrompter::No);
        return;
    }
    const IndexLocation location;
    if (location.placeFor(fileName()).isEmpty()) {
        // Said once; seeking then replays from the start as after No.
        critical(tr("No index can be written for this recording, neither beside it nor "
                    "in the cache folder:")
                 + QStringLiteral("\n") + QDir::toNativeSeparators(location.cacheFolder())
                 + QStringLiteral("\n") + tr("Seeking will replay the recording from its start."));
        m_indexDeclined.store(true);
        return;
    }
    m_indexBuilder->clearCancel();
    setState(STATE_INDEXING);
}

QString FilePlayer::openAndShowFirstScreen()
{
    const QString path = fileName();
    try {
        openRecording();
    } catch (...) {
        return failureText(std::current_exception(), path);
    }
    if (m_view)
        m_view->setFirstDimension(true);
    try {
        showFirstScreen();
    } catch (...) {
        // The reader's "not open" report cannot come from an open file.
        const QString text = failureText(std::current_exception());
        return text.isEmpty() ? tr("Error Reading file") : text;
    }
    return QString();
}

void FilePlayer::openRecording()
{
    RecordFileHeader header;
    m_playhead.open(fileName(), header);
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_fileHeader = header;
}

void FilePlayer::showFirstScreen()
{
    if (m_view)
        m_view->reset();
    // Starting from a fresh decoder makes the first header announce its size,
    // so the view sizes itself for this recording.
    m_playhead.restart();
    for (;;) {
        // Nothing plausible after damage: playback reports it when it gets
        // there.
        try {
            if (!m_playhead.readUnit())
                break;
        } catch (const IncorrectFormatException&) {
            break;
        }
        const RecordUnitHeader& unit = m_playhead.unit();
        if (unit.kind() == RecordUnitHeader::KIND_SCREEN
            && m_playhead.applyScreenUnit() == UnitDispatch::ScreenStep::FrameEnd)
            break;
    }
    m_screenTime.store(0);
    updateGUI(0);
}

bool FilePlayer::loadIndex(QString* failure)
{
    if (m_indexFile.isOpen())
        m_indexFile.close();
    m_indexOk.store(false);
    m_indexDeclined.store(false);
    m_indexEntryCount.store(0);
    m_index.setCount(0);
    {
        std::lock_guard<std::mutex> info(m_infoMutex);
        m_loadedIndexName.clear();
    }

    const QString unreadable = tr("Unable to open the file:") + QStringLiteral("\n") + fileName();
    m_indexFile.setFileName(m_indexFileName);
    if (!m_indexFile.open(QIODevice::ReadOnly)) {
        *failure = unreadable;
        return false;
    }
    const qint64 recordingSize = QFileInfo(fileName()).size();
    IndexFileHeader header;
    IndexFile::LoadReport report;
    bool valid = false;
    try {
        valid = IndexFile::load(m_indexFile, header, m_index, recordingSize, &report);
    } catch (const FileException&) {
        // A read error says nothing about the index itself: keep the file.
        m_indexFile.close();
        m_index.setCount(0);
        *failure = unreadable;
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
    m_indexEntryCount.store(m_index.count());
    {
        std::lock_guard<std::mutex> info(m_infoMutex);
        m_loadedIndexName = m_indexFileName;
    }
    m_indexOk.store(true);
    return true;
}

bool FilePlayer::startFromBeginning(QString& message)
{
    const QString path = fileName();
    if (path.isEmpty())
        return false;
    try {
        openRecording();
    } catch (...) {
        message = failureText(std::current_exception(), path);
        forgetRecording();
        return false;
    }
    // An index that cannot be read is reported; playback goes on without it.
    if (QFile::exists(m_indexFileName))
        loadIndex(&message);
    if (m_controller)
        m_controller->setTitle(tr("Session Player") + QStringLiteral(" - ") + getDisplayName());
    if (m_view)
        m_view->reset();
    m_playhead.restart();
    if (m_controller)
        m_controller->setVisible(true);
    m_endReached = false;
    m_screenTime.store(0);
    m_pauseStart.store(0);
    m_pausedMs.store(0);
    // The clock starts now at the requested speed, not at the speed of the
    // last playback; so does the sound (the outputs are flushed on the
    // player thread, before it writes).
    m_clock.start(currentTimeMs(), 0, m_requestedSpeed.load());
    m_soundSpeed = m_requestedSpeed.load();
    m_soundStretch = m_stretchSpeech.load();
    m_feed.setSpeed(m_soundSpeed, m_soundStretch);
    m_feed.open(path);
    m_feed.restart(0, RecordReader::FIRST_UNIT_OFFSET);
    m_cutDrain.store(false);
    return true;
}

QString FilePlayer::failureText(std::exception_ptr failure, const QString& path)
{
    try {
        std::rethrow_exception(failure);
    } catch (const IncorrectFileException&) {
        if (!path.isEmpty())
            return tr("The file is in invalid format. This is not a valid recorded session:")
                + QStringLiteral("\n") + path;
        return tr("Invalid File format");
    } catch (const IncorrectFormatException&) {
        return tr("Invalid File format");
    } catch (const DecompressionException&) {
        return tr("Unknown Data Compression format");
    } catch (const FileException& e) {
        if (!path.isEmpty()) {
            // The system's reason after the path; Qt words a folder its own
            // way.
            const QString reason = QFileInfo(path).isDir()
                ? QString::fromLocal8Bit(std::strerror(EISDIR))
                : e.getReason();
            return tr("Unable to open the file:") + QStringLiteral("\n") + path
                + (reason.isEmpty() ? QString() : QStringLiteral("\n") + reason);
        }
        return tr("Error Reading file");
    } catch (int) {
        return QString(); // the recording is not open: playback ends by itself
    } catch (...) {
        return tr("Unknown Error");
    }
}

void FilePlayer::startExtentScan()
{
    // The walk of the recording opened before ends (its result dropped)
    // before the new one's figures are cleared.
    m_scanner.cancel();
    m_extentKnown.store(false);
    m_realEnd.store(0);
    m_activityScan.begin();
    m_scanner.startScan(fileName(), [this](const RecordScan::Result& r) { takeExtent(r); },
                        &m_activityScan);
}

void FilePlayer::takeExtent(const RecordScan::Result& r)
{
    if (!r.readable)
        return; // the header's duration stays
    logDebug3("Recording walked: real end %1 ms, %2 damaged parts, %3",
              QByteArray::number(r.realEnd).constData(),
              QByteArray::number(r.damageCount).constData(),
              r.incomplete() ? "incomplete" : "complete");
    m_realEnd.store(r.realEnd);
    m_shownDuration.store(r.shownDuration());
    m_extentKnown.store(true);
    emit playerDurationChanged(r.shownDuration());
    if (r.incomplete() && m_view)
        m_view->showMessage(tr("The recording ends early at %1").arg(clockText(r.realEnd)));
}

void FilePlayer::reportDamage(const RecordReader::Damage& d)
{
    if (m_view)
        m_view->showMessage(tr("Damaged part skipped (%1\u2013%2)")
                                .arg(clockText(d.timeBefore), clockText(d.timeAfter)));
}

QString FilePlayer::clockText(quint64 ms)
{
    const quint64 s = ms / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void FilePlayer::forgetRecording()
{
    m_scanner.cancel();
    m_extentKnown.store(false);
    m_activity.clear();
    closeFiles();
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_loadedIndexName.clear();
    m_fileName.clear();
    m_displayName.clear();
    m_fileHeader.clear();
}

void FilePlayer::closeFiles()
{
    m_playhead.close();
    m_feed.close();
    if (m_indexFile.isOpen())
        m_indexFile.close();
}

// ---------------------------------------------------------------------------
// What the window reads of the opened recording, and the last folder

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

QString FilePlayer::getDisplayName() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_displayName;
}

QString FilePlayer::getFileName() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_fileName;
}

QString FilePlayer::fileName() const
{
    return getFileName();
}

QString FilePlayer::getIndexFileName() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_loadedIndexName;
}

QString FilePlayer::getSessionId() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_fileHeader.sessionId();
}

quint64 FilePlayer::getDuration() const
{
    if (m_extentKnown.load())
        return m_shownDuration.load();
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_fileHeader.m_duration;
}
