// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A folder in which no file can be created, for the tests of recordings that
// lie where their index cannot be written. File modes do not stop root, so
// as root the folder becomes a read-only bind mount of itself (unmounted
// again at the end); otherwise its mode is 0555. ok() says whether creating
// a file there really fails; a test asserts it before relying on it.

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString& path) : m_path(path)
    {
        const QByteArray p = QFile::encodeName(path);
        if (geteuid() == 0) {
            m_mounted = ::mount(p.constData(), p.constData(), nullptr, MS_BIND, nullptr) == 0;
            if (m_mounted)
                ::mount(nullptr, p.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
        } else {
            ::chmod(p.constData(), 0555);
        }
    }
    ~ReadOnlyFolder()
    {
        const QByteArray p = QFile::encodeName(m_path);
        if (m_mounted && ::umount(p.constData()) != 0)
            ::umount2(p.constData(), MNT_DETACH);
        ::chmod(p.constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // True when a new file cannot be created in the folder.
    bool ok() const
    {
        QFile probe(m_path + QStringLiteral("/.probe"));
        if (!probe.open(QIODevice::WriteOnly))
            return true;
        probe.remove();
        return false;
    }

private:
    QString m_path;
    bool m_mounted = false;
};
