// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

#include "RecordScan.h"
#include "Thread.h"

// Walks a recording's unit headers (RecordScan) on a thread of its own, so
// that the player learns where a recording really ends while its first
// picture is already shown. The player owns one and starts a walk each time a
// recording opens.
//
// Threads: startScan() and cancel() are called by the owner (the GUI thread
// in the player); `done` runs on the scanner's thread once the walk has
// ended, unless it was cancelled, and must hand its result over safely (the
// player stores atomics and emits queued signals) without waiting for the
// owner's thread, which may be waiting in cancel(). The owner cancels before
// it is destroyed (the destructor does it too).
class RecordScanner : public Thread
{
public:
    using Done = std::function<void(const RecordScan::Result&)>;

    RecordScanner() = default;
    ~RecordScanner() override;

    RecordScanner(const RecordScanner&) = delete;
    RecordScanner& operator=(const RecordScanner&) = delete;

    // Starts a walk over the file at `path`; a walk still running is
    // cancelled first (its `done` is not called). `visitor`, when given, sees
    // the units on the scanner's thread (RecordScan::Visitor) and must live
    // until the walk has ended or been cancelled.
    void startScan(const QString& path, Done done, RecordScan::Visitor* visitor = nullptr);
    // Ends a running walk early, waits for its thread, and drops its result.
    void cancel();

    void run() override;
    bool autoDelete() override { return false; }

private:
    std::mutex m_mutex;           // guards m_path and m_done against a new start
    QString m_path;
    Done m_done;
    RecordScan::Visitor* m_visitor = nullptr;
    std::atomic<bool> m_cancel{false}; // owner writes, the walk polls
};
