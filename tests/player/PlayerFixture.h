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
        EXPECT_TRUE(writeFile(path(name), recordingBytes(duration, units)));
        return path(name);
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
                const auto& s = window.statuses;
                return std::find(s.begin() + std::min(from, s.size()), s.end(), status) != s.end();
            },
            timeoutMs);
    }

    bool waitState(int state, int timeoutMs = 10000)
    {
        return waitFor([&] { return player.getState() == state; }, timeoutMs);
    }

    // The statuses reported since `from`, once the queued ones have arrived.
    std::vector<int> statusesSince(size_t from)
    {
        pump(50);
        return std::vector<int>(window.statuses.begin() + long(from), window.statuses.end());
    }

    QTemporaryDir dir;
    LogCapture log;
    FakeView view;
    FakeWindow window;
    FakePrompter prompter;
    FilePlayer player; // last: destroyed first, it points at the doubles
};
