// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

#include "ExportSettings.h"

class QThread;

// One export from the window, on a thread of its own so that playback and
// the window go on meanwhile. Made and driven on the GUI thread; its signals
// are emitted on the export thread and reach receivers on the GUI thread
// queued. Deleting it cancels a running export and waits for its thread.
class ExportJob : public QObject
{
    Q_OBJECT

public:
    explicit ExportJob(const ExportSettings& settings, QObject* parent = nullptr);
    ~ExportJob() override;

    void start();
    // Asks the export to stop; finished() follows with completed false and
    // nothing written.
    void cancel() { m_cancel.store(true); }
    bool isRunning() const;
    const ExportSettings& settings() const { return m_settings; }

signals:
    // Per mille of the range done, at most once per step.
    void progress(int permille);
    // A damaged part passed over, a size change, an early end.
    void notice(const QString& text);
    // completed: the video is in place. message: the failure's one line, or
    // empty after a cancel or a success.
    void finished(bool completed, const QString& message);

private:
    void run();

    ExportSettings m_settings;
    std::atomic<bool> m_cancel{false};
    QThread* m_thread = nullptr;
};
