// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingHistory.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace {

const QString kGroup = QStringLiteral("recordings");
const QString kPath = QStringLiteral("path");
const QString kSize = QStringLiteral("size");
const QString kPosition = QStringLiteral("position");

} // namespace

RecordingHistory::Entry RecordingHistory::identify(const QString& path)
{
    const QFileInfo info(path);
    Entry e;
    e.path = info.absoluteFilePath();
    e.size = info.size();
    return e;
}

QList<RecordingHistory::Entry> RecordingHistory::load()
{
    QSettings settings;
    QList<Entry> entries;
    const int stored = settings.beginReadArray(kGroup);
    for (int i = 0; i < std::min(stored, kCapacity); ++i) {
        settings.setArrayIndex(i);
        bool sizeOk = false, positionOk = false;
        Entry e;
        e.path = settings.value(kPath).toString();
        e.size = settings.value(kSize).toLongLong(&sizeOk);
        e.position = settings.value(kPosition).toULongLong(&positionOk);
        if (!e.path.isEmpty() && sizeOk && e.size >= 0 && positionOk)
            entries << e;
    }
    settings.endArray();
    return entries;
}

void RecordingHistory::save(const QList<Entry>& entries)
{
    QSettings settings;
    settings.remove(kGroup);
    settings.beginWriteArray(kGroup, static_cast<int>(std::min<qsizetype>(entries.size(), kCapacity)));
    for (int i = 0; i < entries.size() && i < kCapacity; ++i) {
        settings.setArrayIndex(i);
        settings.setValue(kPath, entries.at(i).path);
        settings.setValue(kSize, entries.at(i).size);
        settings.setValue(kPosition, entries.at(i).position);
    }
    settings.endArray();
}

void RecordingHistory::touch(const QString& path)
{
    putFirst(path, std::nullopt);
}

void RecordingHistory::setPosition(const QString& path, unsigned long long seconds)
{
    putFirst(path, seconds);
}

void RecordingHistory::putFirst(const QString& path, std::optional<unsigned long long> position)
{
    Entry current = identify(path);
    QList<Entry> entries = load();
    // One entry per path: a file of another size under this name is gone.
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i).path == current.path) {
            if (entries.at(i).size == current.size)
                current.position = entries.at(i).position;
            entries.removeAt(i--);
        }
    }
    if (position)
        current.position = *position;
    entries.prepend(current);
    save(entries);
}

unsigned long long RecordingHistory::resumePosition(const QString& path,
                                                    unsigned long long durationSec) const
{
    const Entry current = identify(path);
    for (const Entry& e : load()) {
        if (e.path != current.path || e.size != current.size)
            continue;
        if (e.position >= kResumeMargin && e.position + kResumeMargin <= durationSec)
            return e.position;
        return 0;
    }
    return 0;
}

QStringList RecordingHistory::recentFiles(int count) const
{
    QStringList files;
    for (const Entry& e : load()) {
        if (files.size() >= count)
            break;
        if (QFileInfo::exists(e.path))
            files << e.path;
    }
    return files;
}
