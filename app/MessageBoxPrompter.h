// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <deque>
#include <mutex>

#include "IPrompter.h"

// The player's message boxes and open-file dialog as real widgets: critical,
// question and warning QMessageBoxes with the title and text the player
// gives, and a QFileDialog that never uses the platform's native dialog.
//
// Threads. A box is always shown on the GUI thread (the thread this object
// lives on). Asked on the GUI thread, it is shown at once. Asked on the
// player thread, the request is queued and the player thread polls, in 20 ms
// sleeps, until the GUI thread has answered it. The GUI thread answers such
// requests from its event loop, and also from serviceWhileWaiting(), which
// every GUI-thread wait for the player calls on each step: a box the player
// thread asks for while the GUI thread itself waits for the player (a failure
// during stop() or while the window closes) is shown from inside that wait
// instead of deadlocking it.
//
// serviceWhileWaiting() also delivers the queued calls already posted to the
// report receiver (the window: the player's state and position reports), so
// that when a GUI wait for the player ends, the window has heard of
// everything the player reported before it.
//
// A player thread that is asked to stop while it waits for an answer gives
// up waiting and takes the answer of closing the box (Ok, Cancel or No).
//
// A delegate (a scripted prompter in tests) answers in place of the boxes,
// on the asking thread. Unattended (the window is going away), nothing is
// shown any more: a critical text is logged, a question is cancelled and a
// warning (cancel the index build?) is answered Yes; requests already
// waiting are answered so too.
class MessageBoxPrompter : public QObject, public IPrompter
{
    Q_OBJECT

public:
    explicit MessageBoxPrompter(QObject* parent = nullptr);
    ~MessageBoxPrompter() override;

    void setReportReceiver(QObject* receiver) { m_reportReceiver = receiver; }
    // Any thread; null goes back to the boxes.
    void setDelegate(IPrompter* delegate) { m_delegate.store(delegate); }
    void setUnattended(bool unattended) { m_unattended.store(unattended); }
    // A request of the player thread waits for the GUI thread.
    bool hasPendingRequest();

    void critical(const QString& title, const QString& text) override;
    Answer question(const QString& title, const QString& text) override;
    Answer indexQuestion(const QString& title, const QString& text, bool* always) override;
    Answer warning(const QString& title, const QString& text) override;
    QString getOpenFileName(const QString& caption, const QString& folder,
                            const QString& filter) override;
    void serviceWhileWaiting() override;

private:
    struct Request
    {
        enum Kind { Critical, Question, IndexQuestion, Warning, OpenFile } kind = Critical;
        QString title;
        QString text;
        QString folder;
        QString filter;
        Answer answer = Cancel;
        bool always = false; // the index question's check box
        QString fileName;
        std::atomic<bool> taken{false};
        std::atomic<bool> done{false};
    };

    // Shows the box of `r` and stores the answer (GUI thread).
    void serve(Request& r);
    // Serves the waiting requests of the player thread, one by one (GUI thread).
    void servePending();
    // Hands r to the GUI thread and waits for its answer (or serves it here).
    void ask(Request& r);
    // A message box of `kind`, asked through ask(); `unanswered` is the
    // answer when nobody can answer it (the player thread gives up waiting).
    Answer askBox(Request::Kind kind, const QString& title, const QString& text,
                  Answer unanswered);

    std::mutex m_mutex;
    std::deque<Request*> m_pending; // guarded by m_mutex
    QPointer<QObject> m_reportReceiver;
    std::atomic<IPrompter*> m_delegate{nullptr};
    std::atomic<bool> m_unattended{false};
};
