// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportJob.h"

#include <QThread>

#include "ClipExporter.h"

ExportJob::ExportJob(const ExportSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings)
{
}

ExportJob::~ExportJob()
{
    if (m_thread) {
        m_cancel.store(true);
        m_thread->wait();
        delete m_thread;
    }
}

void ExportJob::start()
{
    if (m_thread)
        return;
    m_thread = QThread::create([this] { run(); });
    m_thread->start(QThread::LowPriority);
}

bool ExportJob::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

void ExportJob::run()
{
    ClipExporter exporter(m_settings);
    exporter.setCancelFlag(&m_cancel);
    int shown = -1;
    exporter.setProgress([this, &shown](quint64 done, quint64 total) {
        const int permille = total ? static_cast<int>(done * 1000 / total) : 1000;
        if (permille != shown) {
            shown = permille;
            emit progress(permille);
        }
    });
    exporter.setNotice([this](const QString& text) { emit notice(text); });
    try {
        const ClipExporter::Result result = exporter.run();
        emit finished(result.outcome == ClipExporter::Completed, QString());
    } catch (const ClipExporter::Failure& f) {
        emit finished(false, f.text);
    } catch (const std::exception& e) {
        emit finished(false, QString::fromLocal8Bit(e.what()));
    }
}
