// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Where the index of a recording is looked for and written.
//
// An index lies beside its recording (the recording's path with "x"
// appended) wherever the recording's folder can be written to. Where it
// cannot (a read-only share, someone else's folder), the index goes to the
// user's cache folder instead, under a name made from a hash of the
// recording's absolute path, size and modification time: a recording that
// is changed or replaced gets a new name, so a stale index is never used for
// it. Cached indexes are kept up to kCacheLimit bytes in all; past that the
// least recently used go first (use = written or found by a lookup, which
// sets the file's modification time).
//
// The cache folder is the player's own (QStandardPaths::CacheLocation of
// organisation "Vantorel", application "SessionPlayer", subfolder "index"),
// whichever program asks, so the player and sessiontool read and write the
// same indexes.
//
// Plain file-system calls; any thread. Nothing here reads an index: callers
// try the paths existing() gives with their own loader, in order.
class IndexLocation
{
public:
    static constexpr qint64 kCacheLimit = 2LL * 1024 * 1024 * 1024;
    // The extension of the cached index files; eviction looks at no others.
    static constexpr const char* kCacheSuffix = ".index";

    // The player's cache folder for indexes (see above); empty when the
    // platform names no cache location.
    static QString defaultCacheFolder();

    explicit IndexLocation(const QString& cacheFolder = defaultCacheFolder());

    QString cacheFolder() const { return m_cacheFolder; }

    // The index beside the recording: its path with "x" appended.
    static QString besidePath(const QString& recording);
    // The index of the recording in the cache folder, whether it exists or
    // not; empty when the recording cannot be looked at (missing) or there is
    // no cache folder.
    QString cachePath(const QString& recording) const;

    // The indexes that exist for the recording, in the order to try them:
    // beside it first, then in the cache. A cached one found counts as used.
    QStringList existing(const QString& recording) const;
    // Where a new index of the recording is to be written: beside it when a
    // file can be created in its folder, else in the cache folder (made when
    // missing) when a file can be created there; empty when neither can.
    QString placeFor(const QString& recording) const;

    bool inCache(const QString& indexPath) const;
    // Marks a cached index as just used; other paths are left alone.
    void touch(const QString& indexPath) const;
    // Removes cached indexes, least recently used first, until they take at
    // most `limit` bytes in all; `keep` is never removed.
    void evict(qint64 limit, const QString& keep = QString()) const;
    // An index was written at `indexPath`: when it is in the cache it becomes
    // the most recently used, and the cache is trimmed to `limit`.
    void noteWritten(const QString& indexPath, qint64 limit = kCacheLimit) const;

private:
    QString m_cacheFolder;
};
