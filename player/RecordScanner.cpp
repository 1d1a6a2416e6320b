// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordScanner.h"

#include "Exception.h"
#include "Log.h"

RecordScanner::~RecordScanner()
{
    cancel();
}

void RecordScanner::startScan(const QString& path, Done done, RecordScan::Visitor* visitor)
{
    cancel();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_path = path;
        m_done = std::move(done);
        m_visitor = visitor;
    }
    m_cancel.store(false);
    try {
        start();
    } catch (const Exception&) {
        // No thread: the player keeps the header's duration.
        logWarning("The walk over the recording's units could not start");
    }
}

void RecordScanner::cancel()
{
    m_cancel.store(true);
    stop(true);
}

void RecordScanner::run()
{
    QString path;
    Done done;
    RecordScan::Visitor* visitor = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        path = m_path;
        done = m_done;
        visitor = m_visitor;
    }
    const RecordScan::Result result = RecordScan::scanFile(path, &m_cancel, visitor);
    if (!m_cancel.load() && done)
        done(result);
}
