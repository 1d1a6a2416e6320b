// SPDX-License-Identifier: GPL-3.0-or-later
#include "MessageBoxPrompter.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

#include "Log.h"
#include "Thread.h"

MessageBoxPrompter::MessageBoxPrompter(QObject* parent) : QObject(parent) {}

MessageBoxPrompter::~MessageBoxPrompter() = default;

void MessageBoxPrompter::serve(Request& r)
{
    if (m_unattended.load()) {
        if (r.kind == Request::Critical)
            logError(r.text);
        r.answer = r.kind == Request::Critical ? Ok
                 : r.kind == Request::Warning  ? Yes
                                               : Cancel;
        r.fileName.clear();
        return;
    }
    switch (r.kind) {
    case Request::Critical:
        QMessageBox::critical(nullptr, r.title, r.text, QMessageBox::Ok);
        r.answer = Ok;
        break;
    case Request::Question: {
        const QMessageBox::StandardButton b = QMessageBox::question(
            nullptr, r.title, r.text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        r.answer = b == QMessageBox::Yes ? Yes : b == QMessageBox::No ? No : Cancel;
        break;
    }
    case Request::IndexQuestion: {
        QMessageBox box(QMessageBox::Question, r.title, r.text,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        auto* always = new QCheckBox(tr("Always build the index without asking"));
        box.setCheckBox(always);
        const int b = box.exec();
        r.answer = b == QMessageBox::Yes ? Yes : b == QMessageBox::No ? No : Cancel;
        r.always = always->isChecked();
        break;
    }
    case Request::Warning: {
        const QMessageBox::StandardButton b = QMessageBox::warning(
            nullptr, r.title, r.text, QMessageBox::Yes | QMessageBox::No);
        r.answer = b == QMessageBox::Yes ? Yes : No;
        break;
    }
    case Request::OpenFile:
        r.fileName = QFileDialog::getOpenFileName(nullptr, r.title, r.folder, r.filter, nullptr,
                                                  QFileDialog::DontUseNativeDialog);
        r.answer = r.fileName.isEmpty() ? Cancel : Ok;
        break;
    }
}

void MessageBoxPrompter::servePending()
{
    for (;;) {
        Request* r = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending.empty())
                return;
            r = m_pending.front();
            m_pending.pop_front();
            // Under the lock: the asking thread withdraws only what is not taken.
            r->taken.store(true);
        }
        serve(*r);
        r->done.store(true);
    }
}

bool MessageBoxPrompter::hasPendingRequest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_pending.empty();
}

void MessageBoxPrompter::ask(Request& r)
{
    if (QThread::currentThread() == thread() || m_unattended.load()) {
        serve(r);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(&r);
    }
    QMetaObject::invokeMethod(this, &MessageBoxPrompter::servePending, Qt::QueuedConnection);
    Thread* self = Thread::getCurrentThread();
    while (!r.done.load()) {
        if (self && self->isStopRequested()) {
            // Nobody may answer any more: withdraw the request, unless the
            // GUI thread has taken it (then its box is up; wait for it).
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!r.taken.load()) {
                for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
                    if (*it == &r) {
                        m_pending.erase(it);
                        break;
                    }
                }
                return;
            }
        }
        Thread::sleep(20);
    }
}

void MessageBoxPrompter::serviceWhileWaiting()
{
    if (IPrompter* delegate = m_delegate.load())
        delegate->serviceWhileWaiting();
    if (QThread::currentThread() != thread())
        return;
    servePending();
    if (m_reportReceiver)
        QCoreApplication::sendPostedEvents(m_reportReceiver, QEvent::MetaCall);
}

IPrompter::Answer MessageBoxPrompter::askBox(Request::Kind kind, const QString& title,
                                             const QString& text, Answer unanswered)
{
    Request r;
    r.kind = kind;
    r.title = title;
    r.text = text;
    r.answer = unanswered;
    ask(r);
    return r.answer;
}

void MessageBoxPrompter::critical(const QString& title, const QString& text)
{
    if (IPrompter* delegate = m_delegate.load()) {
        delegate->critical(title, text);
        return;
    }
    askBox(Request::Critical, title, text, Ok);
}

IPrompter::Answer MessageBoxPrompter::question(const QString& title, const QString& text)
{
    if (IPrompter* delegate = m_delegate.load())
        return delegate->question(title, text);
    return askBox(Request::Question, title, text, Cancel);
}

IPrompter::Answer MessageBoxPrompter::indexQuestion(const QString& title, const QString& text,
                                                    bool* always)
{
    if (IPrompter* delegate = m_delegate.load())
        return delegate->indexQuestion(title, text, always);
    Request r;
    r.kind = Request::IndexQuestion;
    r.title = title;
    r.text = text;
    ask(r);
    *always = r.answer == Yes && r.always;
    return r.answer;
}

IPrompter::Answer MessageBoxPrompter::warning(const QString& title, const QString& text)
{
    if (IPrompter* delegate = m_delegate.load())
        return delegate->warning(title, text);
    return askBox(Request::Warning, title, text, No);
}

QString MessageBoxPrompter::getOpenFileName(const QString& caption, const QString& folder,
                                            const QString& filter)
{
    if (IPrompter* delegate = m_delegate.load())
        return delegate->getOpenFileName(caption, folder, filter);
    Request r;
    r.kind = Request::OpenFile;
    r.title = caption;
    r.folder = folder;
    r.filter = filter;
    ask(r);
    return r.fileName;
}
