// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The recordings opened lately, most recent first, with where each was left:
// the position the player resumes at when the recording is opened again,
// and the list of the Recent menu. A recording is known by its absolute path
// and its size, so a file written anew under the same name starts from the
// beginning. At most kCapacity recordings are kept; the oldest go first.
//
// Kept in the application's QSettings (group "recordings", an array of path,
// size and position). What is read back is checked: entries without a path,
// with a negative size or an unreadable position are dropped, and no more
// than kCapacity are read whatever the stored count says.
//
// GUI thread only (QSettings of the window's thread).
class RecordingHistory
{
public:
    static constexpr int kCapacity = 200;
    // The Recent menu's length.
    static constexpr int kRecentShown = 10;
    // No resume this close to either end, in seconds.
    static constexpr unsigned long long kResumeMargin = 10;

    // Puts the recording at `path` first (adding it), keeping its position.
    void touch(const QString& path);
    // Where the recording was left, in seconds (it becomes the first).
    void setPosition(const QString& path, unsigned long long seconds);
    // The position to resume a recording of `durationSec` seconds at: the
    // one stored for this path and size when it lies at least kResumeMargin
    // from both ends, else 0.
    unsigned long long resumePosition(const QString& path, unsigned long long durationSec) const;
    // The most recent recordings that still exist, at most `count`.
    QStringList recentFiles(int count = kRecentShown) const;

private:
    struct Entry
    {
        QString path;
        qint64 size = 0;
        unsigned long long position = 0;
    };
    // Puts the recording first, with `position` when given.
    static void putFirst(const QString& path, std::optional<unsigned long long> position);
    static QList<Entry> load();
    static void save(const QList<Entry>& entries);
    // Absolute path and current size of the file at `path`.
    static Entry identify(const QString& path);
};
