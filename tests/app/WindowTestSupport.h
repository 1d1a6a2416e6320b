// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real window over the real engine, for the GUI tests: a SessionPlayer
// with a scripted prompter in place of its boxes, the available desktop
// fixed at 1440 x 878 below a 22-pixel bar (decoration: a 22-pixel title),
// and recordings written into a temporary folder.

#include <QGraphicsProxyWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <gtest/gtest.h>

#include "ControlBar.h"
#include "DrawingScene.h"
#include "SessionPlayer.h"

// Readable failure messages for the Qt values the tests compare.
inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}
inline void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << 'x' << s.height(); }

// Processes events until `done` holds or `timeoutMs` passes; true when it held.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000);

// Frame `f` of the test recordings: 16 x 16 boxes of one colour each with a
// diagonal of a second one, which the grid codec reproduces exactly.
VideoFrame testFrame(int w, int h, int f);

// Answers every question and warning with the answer set last, and keeps
// the text of every box (the player thread asks too).
class ScriptedPrompter : public IPrompter
{
public:
    void critical(const QString&, const QString& text) override { keep(text); }
    Answer question(const QString&, const QString& text) override { keep(text); return questionAnswer; }
    Answer indexQuestion(const QString& title, const QString& text, bool* always) override
    {
        *always = alwaysAnswer;
        return question(title, text);
    }
    Answer warning(const QString&, const QString& text) override
    {
        keep(text);
        if (beforeWarningAnswer)
            beforeWarningAnswer();
        return warningAnswer;
    }
    QString getOpenFileName(const QString&, const QString&, const QString&) override
    {
        ++openRequests;
        return openAnswer;
    }
    QStringList texts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

    std::atomic<Answer> questionAnswer{Cancel};
    std::atomic<Answer> warningAnswer{No};
    // The index question's "Always build the index without asking".
    std::atomic<bool> alwaysAnswer{false};
    QString openAnswer;
    std::atomic<int> openRequests{0};
    // Runs while a warning is "on screen", before it is answered (GUI thread).
    std::function<bool()> beforeWarningAnswer;

private:
    void keep(const QString& text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts << text;
    }
    std::mutex m_mutex;
    QStringList m_texts;
};

class WindowFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A w x h recording of `lastMs` ms with a screen update and a mouse
    // position every `stepMs` ms.
    QString record(const QString& name, int w = 64, int h = 48, quint64 lastMs = 20000,
                   quint64 stepMs = 500, const char* sessionId = "123456789");
    // Opens as `SessionPlayer --paused path` does (the first picture, not
    // playing), answering the index question.
    bool open(const QString& path, IPrompter::Answer answer = IPrompter::No);
    bool waitState(int state, int timeoutMs = 10000)
    {
        return waitFor([&] { return player().getState() == state; }, timeoutMs);
    }
    // Waits until the time label starts with `text`.
    bool waitTime(const QString& text)
    {
        return waitFor([&] { return bar()->m_lblTime->text().startsWith(text); });
    }

    // The accessible names of the enabled bar buttons, in the form's order.
    QString usableButtons()
    {
        QStringList names;
        for (QPushButton* b : bar()->findChildren<QPushButton*>()) {
            if (b->isEnabled())
                names << b->accessibleName();
        }
        return names.join(',');
    }

    FilePlayer& player() { return window->player(); }
    ControlBar* bar() { return window->controlBar(); }
    DrawingScene* scene() { return window->drawingScene(); }

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    std::unique_ptr<SessionPlayer> window;
};
