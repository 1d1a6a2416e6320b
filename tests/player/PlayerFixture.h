#pragma once

// A player with its real thread, wired to the test doubles, over recordings
// in a temporary folder.

#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

#include "FilePlayer.h"
#include "PlayerTestSupport.h"

class PlayerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        player.setSessionPlayer(&window);
        player.setDrawingScene(&view);
        player.setPrompter(&prompter);
        player.start();
        ASSERT_TRUE(waitFor([&] { return !window.statuses.empty(); }, 5000));
    }

    void TearDown() override
    {
        if (player.getState() == FilePlayer::STATE_INDEXING)
            prompter.answer(IPrompter::Yes);
        player.stop();
        player.Thread::stop(true);
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    QString write(const QString& name, quint64 duration, const std::vector<TestUnit>& units)
    {
        const QString p = path(name);
        EXPECT_TRUE(writeFile(p, recordingBytes(duration, units)));
        return p;
    }

    // Opens a recording, answering the index question with `answer`.
    bool open(const QString& p, IPrompter::Answer answer = IPrompter::No)
    {
        prompter.answer(answer);
        return player.openFile(p);
    }

    // Waits until the window has seen `status` after `from` earlier reports.
    bool sawStatus(int status, size_t from = 0, int timeoutMs = 10000)
    {
        return waitFor(
            [&] {
                return std::find(window.statuses.begin() + std::min(from, window.statuses.size()),
                                 window.statuses.end(), status)
                    != window.statuses.end();
            },
            timeoutMs);
    }

    bool waitState(int state, int timeoutMs = 10000)
    {
        return waitFor([&] { return player.getState() == state; }, timeoutMs);
    }

    QTemporaryDir dir;
    LogCapture log;
    FakeView view;
    FakeWindow window;
    FakePrompter prompter;
    FilePlayer player; // last: destroyed first, it points at the doubles
};

inline bool sameFrame(const VideoFrame& a, const VideoFrame& b)
{
    if (a.width() != b.width() || a.height() != b.height())
        return false;
    return std::equal(a.pixels(), a.pixels() + a.width() * a.height(), b.pixels());
}
