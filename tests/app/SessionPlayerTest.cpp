// The main window over the real engine: state table, keys, speed ladder,
// time text, session ids, drops, double clicks, the close sequence, the
// index question and the player's error boxes while the GUI thread waits.

#include <QApplication>
#include <QFile>
#include <QGraphicsProxyWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "IndexBuilder.h"
#include "RecordingWriter.h"
#include "WindowTestSupport.h"

TEST_F(WindowFixture, StateTableDrivesTheControlBar)
{
    EXPECT_FALSE(bar()->m_btnPlay->isEnabled()); // nothing loaded
    ASSERT_TRUE(open(record("a.vro")));

    // Idle at position 0: nothing to stop. The row after an unknown state
    // keeps the look before it.
    struct Row { int status; bool playOn; bool stopOn; const char* timeText; bool seeking; };
    const Row rows[] = {
        {FilePlayer::STATE_INDEXING, false, true, "Now indexing:", false},
        {FilePlayer::STATE_IDLE, true, false, "Time:", false},
        {FilePlayer::STATE_INDEXING, false, true, "Now indexing:", false},
        {FilePlayer::STATE_STOPPING, true, true, "Time:", false},
        {FilePlayer::STATE_PLAYING, true, true, "Time:", false},
        {FilePlayer::STATE_SEEKING, true, true, "Time:", true},
        {FilePlayer::STATE_PAUSED, true, true, "Time:", false},
        {FilePlayer::STATE_ERROR, true, true, "Time:", false},
        {9, true, true, "Time:", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        window->onPlayerStatus(row.status);
        EXPECT_EQ(bar()->m_btnPlay->isEnabled(), row.playOn);
        EXPECT_EQ(bar()->m_btnForward->isEnabled(), row.playOn);
        EXPECT_EQ(bar()->m_btnStop->isEnabled(), row.stopOn);
        EXPECT_EQ(bar()->m_lblTimeText->text(), QLatin1String(row.timeText));
        EXPECT_EQ(scene()->isSeeking(), row.seeking);
    }
}

TEST_F(WindowFixture, OpenShowsTitleSessionIdAndTimes)
{
    EXPECT_EQ(SessionPlayer::sec2str(3725), QStringLiteral("01:02:05"));
    EXPECT_EQ(SessionPlayer::sec2str(360000), QStringLiteral("100:00:00"));

    ASSERT_TRUE(open(record("nine.vro", 64, 48, 5400000, 3000000, "123456789")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Session Player - nine.vro"));
    EXPECT_EQ(bar()->m_lblSessionID->text(), QStringLiteral("Session ID: 123-456-789"));
    EXPECT_EQ(bar()->m_lblTime->text(), QStringLiteral("00:00:00 / 01:30:00"));
    EXPECT_EQ(bar()->m_progressBar->maximum(), 5400);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE); // not started by itself

    // Only nine digits are grouped; an empty recording still has a range.
    ASSERT_TRUE(open(record("eight.vro", 64, 48, 999, 500, "12345678")));
    EXPECT_EQ(window->sessionId(), QStringLiteral("12345678"));
    EXPECT_EQ(bar()->m_progressBar->maximum(), 1);
}

TEST_F(WindowFixture, SpeedLadderThroughTheButtons)
{
    bar()->m_bntDecSpeed->setEnabled(true);
    bar()->m_btnIncSpeed->setEnabled(true);
    auto clicks = [&](QPushButton* button, int n) {
        for (int i = 0; i < n; ++i)
            button->click();
        return std::make_pair(bar()->m_lblSpeed->text(), player().getRequestedSpeed());
    };
    using Step = std::pair<QString, int>;
    EXPECT_EQ(clicks(bar()->m_bntDecSpeed, 2), Step("1/2x", -2)); // the slowest step
    EXPECT_EQ(clicks(bar()->m_btnIncSpeed, 1), Step("1x", 1));
    EXPECT_EQ(clicks(bar()->m_btnIncSpeed, 25), Step("20x", 20)); // the fastest
    EXPECT_EQ(clicks(bar()->m_bntDecSpeed, 1), Step("19x", 19));
}

TEST_F(WindowFixture, KeyTable)
{
    // Function keys act only with Control.
    QTest::keyClick(window.get(), Qt::Key_F11);
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_TRUE(window->isStretched());
    EXPECT_FALSE(window->isFullScreen());
    QTest::keyClick(window.get(), Qt::Key_F11, Qt::ControlModifier);
    EXPECT_FALSE(window->isStretched());
    EXPECT_FALSE(scene()->isStretched());

    ASSERT_TRUE(open(record("k.vro")));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PAUSED);

    // From 5 s, paused: arrows step 2 s, 10 s with Control, and stay paused.
    window->setPlayerPos(5);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:05")));
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, const char*> steps[] = {
        {Qt::Key_Right, Qt::NoModifier, "00:00:07"},
        {Qt::Key_Right, Qt::ControlModifier, "00:00:17"},
        {Qt::Key_Left, Qt::ControlModifier, "00:00:07"},
        {Qt::Key_Left, Qt::NoModifier, "00:00:05"},
    };
    for (const auto& [key, modifiers, time] : steps) {
        ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
        QTest::keyClick(window.get(), key, modifiers);
        ASSERT_TRUE(waitTime(QLatin1String(time))) << time;
    }
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);

    // Escape leaves full screen (queued) without stopping; then it stops.
    QTest::keyClick(window.get(), Qt::Key_F12, Qt::ControlModifier);
    ASSERT_TRUE(window->isFullScreen());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !window->isFullScreen(); }));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
}

TEST_F(WindowFixture, DropsOpenOnlyTheFirstFileAndIgnoreText)
{
    const QString first = record("first.vro");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(record("second.vro"))});
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    auto send = [&](QMimeData* entered, QMimeData* dropped) {
        QDragEnterEvent e(QPoint(100, 100), Qt::CopyAction, entered, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &e);
        if (e.isAccepted() && dropped) {
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, dropped, Qt::LeftButton,
                            Qt::NoModifier);
            QCoreApplication::sendEvent(window->viewport(), &drop);
        }
        return e.isAccepted();
    };

    EXPECT_FALSE(send(&text, nullptr));
    // Text arriving at a drop entered with files: ignored, though the window
    // now wants to play what it opens next.
    ASSERT_TRUE(send(&files, &text));
    waitFor([] { return false; }, 50);
    EXPECT_TRUE(window->playOnOpen());
    EXPECT_TRUE(player().getFileName().isEmpty());

    // The file opens after the drop event has returned.
    prompter.answer(IPrompter::No);
    ASSERT_TRUE(send(&files, &files));
    EXPECT_TRUE(player().getFileName().isEmpty());
    ASSERT_TRUE(waitFor([&] { return !player().getFileName().isEmpty(); }));
    EXPECT_EQ(player().getFileName(), first);
}

TEST_F(WindowFixture, DoubleClickOffTheBarAndMaximiseGoFullScreen)
{
    const QPoint off(20, 20);
    QTest::mouseDClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, off);
    EXPECT_FALSE(window->isFullScreen()); // nothing loaded

    ASSERT_TRUE(open(record("d.vro", 640, 480)));
    const QRect onBar =
        window->mapFromScene(scene()->controlBarProxy()->geometry()).boundingRect();
    QTest::mouseDClick(window->viewport(), Qt::LeftButton, Qt::NoModifier,
                       onBar.topLeft() + QPoint(30, onBar.height() - 10));
    EXPECT_FALSE(window->isFullScreen());
    QTest::mouseDClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, off);
    EXPECT_TRUE(window->isFullScreen());

    window->onBtnFullScreenClicked();
    ASSERT_FALSE(window->isFullScreen());
    window->showMaximized();
    EXPECT_TRUE(waitFor([&] { return window->isFullScreen(); }));
}

// Cancel and No open without an index; Yes builds one, and closing the
// window during the build asks first: No keeps the window and the build.
TEST_F(WindowFixture, IndexQuestionAndClosingWhileIndexing)
{
    const QString path = record("i.vro", 64, 48, 30000, 500);
    const QString index = path + QStringLiteral("x");

    // Cancel: no index, and seeking is not possible.
    ASSERT_TRUE(open(path, IPrompter::Cancel));
    window->setPlayerPos(20);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:0")));
    window->onBtnStopClicked();

    // No: still no index, a seek replays from the beginning.
    ASSERT_TRUE(open(path, IPrompter::No));
    window->setPlayerPos(20);
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:2")));
    window->onBtnStopClicked();
    EXPECT_FALSE(QFile::exists(index));

    // Large enough that the build is still running when the close comes.
    ASSERT_TRUE(open(record("big.vro", 320, 240, 300000, 100), IPrompter::Yes));
    ASSERT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
    EXPECT_TRUE(waitFor([&] { return bar()->m_lblTimeText->text() == "Now indexing:"; }));
    prompter.answer(IPrompter::No);
    const bool closed = window->close();
    ASSERT_TRUE(prompter.texts().last().startsWith(QStringLiteral("This will cancel the indexing")));
    if (player().getState() == FilePlayer::STATE_INDEXING) {
        EXPECT_FALSE(closed);
        EXPECT_TRUE(window->isVisible());
    }
    prompter.answer(IPrompter::Yes);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
}

TEST_F(WindowFixture, CloseWhileSeekingStopsOnceTheSeekIsDone)
{
    ASSERT_TRUE(open(record("s.vro", 64, 48, 60000, 100)));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    window->setPlayerPos(50);
    ASSERT_EQ(player().getState(), FilePlayer::STATE_SEEKING);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(player().Thread::getState(), Thread::STATE_FINISHED);
}

// The real message boxes: a failure that the player thread reports while the
// GUI thread waits for it (in stop() and in the close sequence) is shown and
// answered instead of deadlocking either thread.
class ErrorBoxTest : public WindowFixture, public QObject
{
protected:
    // Starts playback of a recording with a unit no recording has, and
    // waits, serving nothing, until the player thread asks for its box.
    void playIntoTheError()
    {
        const QString path = dir.filePath(QStringLiteral("broken.vro"));
        RecordingWriter writer;
        writer.open(path);
        VideoFrame frame = testFrame(64, 48, 0);
        writer.writeScreenFrame(0, frame);
        writer.writeRawUnit(7, 0, QByteArray("junk"));
        writer.finish(1000);
        ASSERT_TRUE(open(path));
        window->setPrompter(nullptr);
        player().play();
        for (int i = 0; i < 500 && !window->messageBoxPrompter().hasPendingRequest(); ++i)
            Thread::sleep(20);
        ASSERT_TRUE(window->messageBoxPrompter().hasPendingRequest());
        startTimer(20); // from now on, closes every box that appears
    }
    void timerEvent(QTimerEvent*) override
    {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->text();
            box->reject();
        }
    }
    QStringList texts;
};

TEST_F(ErrorBoxTest, DuringStop)
{
    playIntoTheError();
    window->onBtnStopClicked();
    EXPECT_TRUE(waitState(FilePlayer::STATE_IDLE, 5000));
    EXPECT_EQ(texts, QStringList{QStringLiteral("Invalid File format")});
}

TEST_F(ErrorBoxTest, DuringClose)
{
    playIntoTheError();
    EXPECT_TRUE(window->close());
    EXPECT_EQ(texts, QStringList{QStringLiteral("Invalid File format")});
    EXPECT_EQ(player().Thread::getState(), Thread::STATE_FINISHED);
}

// A recording named on the command line plays at once and the bar follows
// (pause icon), also when the player thread's first report ("idle") was
// still queued. Indexed first (Yes), it plays once the index is built.
TEST_F(WindowFixture, CommandLineRecordingPlaysAndTheBarFollows)
{
    const QString indexed = record("cl.vro");
    ASSERT_TRUE(IndexBuilder().makeIndex(indexed, FilePlayer::kIndexInterval));
    {
        SessionPlayer fresh(nullptr);
        fresh.setPrompter(&prompter);
        fresh.openAndPlay(indexed);
        EXPECT_EQ(fresh.player().getState(), FilePlayer::STATE_PLAYING);
        waitFor([] { return false; }, 300);
        EXPECT_TRUE(fresh.controlBar()->m_btnStop->isEnabled());
        EXPECT_EQ(fresh.controlBar()->m_btnPlay->accessibleName(), QStringLiteral("Pause"));
    }

    prompter.answer(IPrompter::Yes);
    window->openAndPlay(record("cl2.vro", 64, 48, 30000, 500));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING, 20000));
    EXPECT_TRUE(player().isIndexLoaded());
}
