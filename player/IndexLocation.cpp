// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexLocation.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>

#include "IndexFile.h"

namespace {

// True when a new file can be created in `folder`: the only test that holds
// for read-only mounts, access lists and root alike.
bool canCreateIn(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.index-probe-XXXXXX"));
    return probe.open();
}

} // namespace

QString IndexLocation::defaultCacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        return QString();
    return base + QStringLiteral("/Vantorel/SessionPlayer/index");
}

IndexLocation::IndexLocation(const QString& cacheFolder)
    : m_cacheFolder(cacheFolder.isEmpty() ? QString() : QDir::cleanPath(cacheFolder))
{
}

QString IndexLocation::besidePath(const QString& recording)
{
    return IndexFile::indexFileName(recording);
}

QString IndexLocation::cachePath(const QString& recording) const
{
    const QFileInfo info(recording);
    if (m_cacheFolder.isEmpty() || !info.isFile())
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(info.absoluteFilePath().toUtf8());
    hash.addData(QByteArray(1, '\0'));
    hash.addData(QByteArray::number(info.size()));
    hash.addData(QByteArray(1, '\0'));
    hash.addData(QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    return m_cacheFolder + QLatin1Char('/') + QString::fromLatin1(hash.result().toHex())
        + QLatin1String(kCacheSuffix);
}

QStringList IndexLocation::existing(const QString& recording) const
{
    QStringList found;
    const QString beside = besidePath(recording);
    if (QFileInfo(beside).isFile())
        found << beside;
    const QString cached = cachePath(recording);
    if (!cached.isEmpty() && QFileInfo(cached).isFile()) {
        touch(cached);
        found << cached;
    }
    return found;
}

QString IndexLocation::placeFor(const QString& recording) const
{
    if (canCreateIn(QFileInfo(recording).absolutePath()))
        return besidePath(recording);
    const QString cached = cachePath(recording);
    if (cached.isEmpty() || !QDir().mkpath(m_cacheFolder) || !canCreateIn(m_cacheFolder))
        return QString();
    return cached;
}

bool IndexLocation::inCache(const QString& indexPath) const
{
    return !m_cacheFolder.isEmpty()
        && QFileInfo(indexPath).absolutePath() == QFileInfo(m_cacheFolder).absoluteFilePath();
}

void IndexLocation::touch(const QString& indexPath) const
{
    if (!inCache(indexPath))
        return;
    QFile file(indexPath);
    // A failure only makes the index look older than it is.
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
}

void IndexLocation::evict(qint64 limit, const QString& keep) const
{
    if (m_cacheFolder.isEmpty())
        return;
    // Oldest first; only finished indexes (a build in progress writes a
    // ".part" file, which must not vanish under it).
    QFileInfoList files = QDir(m_cacheFolder)
                              .entryInfoList({QStringLiteral("*") + QLatin1String(kCacheSuffix)},
                                             QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (const QFileInfo& f : files)
        total += f.size();
    const QString kept = keep.isEmpty() ? QString() : QFileInfo(keep).absoluteFilePath();
    for (const QFileInfo& f : files) {
        if (total <= limit)
            break;
        if (f.absoluteFilePath() == kept)
            continue;
        if (QFile::remove(f.absoluteFilePath()))
            total -= f.size();
    }
}

void IndexLocation::noteWritten(const QString& indexPath, qint64 limit) const
{
    if (!inCache(indexPath))
        return;
    touch(indexPath);
    evict(limit, indexPath);
}
