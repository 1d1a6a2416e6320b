// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers of the sessiontool tests: running the tool; the oracle of `frame`
// is the shared straight decode.

#include <QProcess>
#include <QStringList>

#include <ostream>

#include "StraightDecode.h"

// Failures show the texts compared.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs sessiontool with `args` in `workDir` (the current folder when empty),
// with $XDG_CACHE_HOME at `cacheHome` when one is given.
inline ToolRun runTool(const QStringList& args, const QString& workDir = QString(),
                       const QString& cacheHome = QString())
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    if (!cacheHome.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
        p.setProcessEnvironment(env);
    }
    p.start(QStringLiteral(SESSIONTOOL_PATH), args);
    p.waitForFinished(600000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
