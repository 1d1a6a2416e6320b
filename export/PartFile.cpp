// SPDX-License-Identifier: GPL-3.0-or-later
#include "PartFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kMarker[] = ".part-";

// The process's umask, read without changing it: umask() can only be read
// by setting it, and for that moment every file another thread creates (the
// player's index while the window exports) would get the wrong mode.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine(256);
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return static_cast<mode_t>(mask & 0777);
            }
        }
    }
    return 022;
}

} // namespace

PartFile::~PartFile()
{
    discard();
}

int PartFile::removeStale(const QString& output)
{
    const QDir folder = QFileInfo(output).absoluteDir();
    int removed = 0;
    const QStringList names = folder.entryList(
        {QStringLiteral(".*") + QLatin1String(kMarker) + QStringLiteral("??????")},
        QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A running export holds its lock; a dead one's file takes ours.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

bool PartFile::create(const QString& output, QString& error)
{
    discard();
    const QFileInfo info(output);
    const QByteArray templ = QFile::encodeName(
        info.absoluteDir().filePath(QLatin1Char('.') + info.fileName() + QLatin1String(kMarker)
                                    + QStringLiteral("XXXXXX")));
    QByteArray path = templ;
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        ::unlink(path.constData());
        return false;
    }
    // mkostemp makes it 0600; an ordinary output is readable as the umask
    // allows.
    ::fchmod(fd, 0666 & ~currentUmask());
    m_fd = fd;
    m_path = QFile::decodeName(path);
    m_output = info.absoluteFilePath();
    return true;
}

bool PartFile::commit(QString& error)
{
    if (m_fd < 0) {
        error = QStringLiteral("nothing to commit");
        return false;
    }
    if (::fsync(m_fd) != 0 || ::rename(QFile::encodeName(m_path).constData(),
                                       QFile::encodeName(m_output).constData()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    return true;
}

void PartFile::discard()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}
