// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The file an export writes while it runs: ".NAME.part-XXXXXX" beside the
// output NAME, renamed over the output only once it is complete, so that a
// cancel, a crash or a kill never leaves a half-written file under the
// output's name and an existing output is replaced only by a complete one.
//
// While it exists the part file is held open with an exclusive advisory lock
// (flock): the lock goes when the process does, however it ends. So
// removeStale() can tell the part files of exports that died (no lock) from
// those of exports still running (locked) and removes only the former.
//
// One thread. The destructor removes a part file that was not committed.
class PartFile
{
public:
    PartFile() = default;
    ~PartFile();

    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Removes the part files of earlier exports to `output`'s folder that
    // no running export holds (any NAME). Returns how many went.
    static int removeStale(const QString& output);

    // Creates and locks the part file for `output`. False, with the
    // system's reason in `error`, when the folder cannot be written.
    bool create(const QString& output, QString& error);
    const QString& path() const { return m_path; }

    // Renames the part file over the output (atomic on one file system).
    bool commit(QString& error);
    // Removes the part file (nothing once committed).
    void discard();

private:
    QString m_path;
    QString m_output;
    int m_fd = -1;
};
