// The main window over the real engine: state table, keys, speed ladder,
// time text, session ids, position clicks, drops, double clicks, the close
// sequence and the index question.

#include <QFile>
#include <QGraphicsProxyWidget>
#include <QDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include "IndexBuilder.h"
#include "RecordingWriter.h"
#include "WindowTestSupport.h"

namespace {

void sendDrop(SessionPlayer* window, QMimeData* data)
{
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window->viewport(), &drop);
}

} // namespace

TEST_F(WindowFixture, StateTableDrivesTheControlBar)
{
    // Nothing loaded: play and the step buttons are off, open is on.
    EXPECT_FALSE(bar()->m_btnPlay->isEnabled());
    EXPECT_TRUE(bar()->m_btnOpen->isEnabled());
    ASSERT_TRUE(open(record("a.vro")));

    // Idle at position 0: nothing to stop. The rows after an unknown state
    // keep the look before it.
    struct Row { int status; bool playOn; bool stopOn; QString timeText; bool seeking; };
    const QString time = QStringLiteral("Time:");
    const Row rows[] = {
        {FilePlayer::STATE_INDEXING, false, true, QStringLiteral("Now indexing:"), false},
        {FilePlayer::STATE_IDLE, true, false, time, false},
        {FilePlayer::STATE_INDEXING, false, true, QStringLiteral("Now indexing:"), false},
        {FilePlayer::STATE_STOPPING, true, true, time, false},
        {FilePlayer::STATE_PLAYING, true, true, time, false},
        {FilePlayer::STATE_SEEKING, true, true, time, true},
        {FilePlayer::STATE_PAUSED, true, true, time, false},
        {FilePlayer::STATE_ERROR, true, true, time, false},
        {9, true, true, time, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        window->onPlayerStatus(row.status);
        EXPECT_EQ(bar()->m_btnPlay->isEnabled(), row.playOn);
        EXPECT_EQ(bar()->m_btnForward->isEnabled(), row.playOn);
        EXPECT_EQ(bar()->m_btnStop->isEnabled(), row.stopOn);
        EXPECT_TRUE(bar()->m_btnZoom->isEnabled());
        EXPECT_EQ(bar()->m_lblTimeText->text(), row.timeText);
        EXPECT_EQ(scene()->isSeeking(), row.seeking);
    }
}

TEST_F(WindowFixture, OpenShowsTitleSessionIdAndTotal)
{
    ASSERT_TRUE(open(record("nine.vro", 64, 48, 5400000, 3000000, "123456789")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Session Player - nine.vro"));
    EXPECT_EQ(bar()->m_lblSessionID->text(), QStringLiteral("Session ID: 123-456-789"));
    EXPECT_EQ(bar()->m_lblTime->text(), QStringLiteral("00:00:00 / 01:30:00"));
    EXPECT_EQ(bar()->m_progressBar->maximum(), 5400);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE); // not started by itself

    ASSERT_TRUE(open(record("eight.vro", 64, 48, 999, 500, "12345678")));
    EXPECT_EQ(window->sessionId(), QStringLiteral("12345678"));
    EXPECT_EQ(bar()->m_lblTime->text(), QStringLiteral("00:00:00 / 00:00:00"));
    EXPECT_EQ(bar()->m_progressBar->maximum(), 1);

    ASSERT_TRUE(open(record("ten.vro", 64, 48, 1000, 500, "1234567890")));
    EXPECT_EQ(window->sessionId(), QStringLiteral("1234567890"));
}

TEST(SessionPlayerText, TimeText)
{
    EXPECT_EQ(SessionPlayer::sec2str(0), QStringLiteral("00:00:00"));
    EXPECT_EQ(SessionPlayer::sec2str(3725), QStringLiteral("01:02:05"));
    EXPECT_EQ(SessionPlayer::sec2str(360000), QStringLiteral("100:00:00"));
}

TEST_F(WindowFixture, SpeedLadderThroughTheButtons)
{
    EXPECT_EQ(bar()->m_lblSpeed->text(), QStringLiteral("1x"));
    bar()->m_bntDecSpeed->setEnabled(true);
    bar()->m_btnIncSpeed->setEnabled(true);
    bar()->m_bntDecSpeed->click();
    EXPECT_EQ(bar()->m_lblSpeed->text(), QStringLiteral("1/2x"));
    EXPECT_EQ(player().getRequestedSpeed(), -2);
    bar()->m_bntDecSpeed->click();
    EXPECT_EQ(player().getRequestedSpeed(), -2);
    bar()->m_btnIncSpeed->click();
    EXPECT_EQ(bar()->m_lblSpeed->text(), QStringLiteral("1x"));
    EXPECT_EQ(player().getRequestedSpeed(), 1);
    for (int i = 0; i < 25; ++i)
        bar()->m_btnIncSpeed->click();
    EXPECT_EQ(bar()->m_lblSpeed->text(), QStringLiteral("20x"));
    EXPECT_EQ(player().getRequestedSpeed(), 20);
    bar()->m_bntDecSpeed->click();
    EXPECT_EQ(bar()->m_lblSpeed->text(), QStringLiteral("19x"));
}

TEST_F(WindowFixture, KeysStepSeekPlayPauseAndStop)
{
    ASSERT_TRUE(open(record("k.vro"), IPrompter::No));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PAUSED);

    // From an absolute position of 5 s, paused: steps of 2 s, 10 s with Control.
    window->setPlayerPos(5);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:05")));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    QTest::keyClick(window.get(), Qt::Key_Right);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:07")));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    QTest::keyPress(window.get(), Qt::Key_Control);
    QTest::keyClick(window.get(), Qt::Key_Right);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:17")));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    QTest::keyClick(window.get(), Qt::Key_Left);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:07")));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    QTest::keyRelease(window.get(), Qt::Key_Control);
    QTest::keyClick(window.get(), Qt::Key_Left);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:05")));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));

    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
}

TEST_F(WindowFixture, FunctionKeysNeedControl)
{
    ASSERT_TRUE(window->isStretched());
    QTest::keyClick(window.get(), Qt::Key_F11);
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_TRUE(window->isStretched());
    EXPECT_FALSE(window->isFullScreen());

    QTest::keyPress(window.get(), Qt::Key_Control);
    QTest::keyClick(window.get(), Qt::Key_F11);
    EXPECT_FALSE(window->isStretched());
    EXPECT_FALSE(scene()->isStretched());
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_TRUE(window->isFullScreen());
    QTest::keyRelease(window.get(), Qt::Key_Control);

    // Escape in full screen leaves it (queued) and does not stop playback.
    ASSERT_TRUE(open(record("f.vro")));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !window->isFullScreen(); }, 5000));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);
}

TEST_F(WindowFixture, ProgressClicksAtBothEnds)
{
    ASSERT_TRUE(open(record("p.vro")));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));

    QProgressBar* progress = bar()->m_progressBar;
    QTest::mousePress(progress, Qt::LeftButton, Qt::NoModifier,
                      QPoint(progress->width() - 1, progress->height() / 2));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:20 / 00:00:20")));
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    QTest::mousePress(progress, Qt::LeftButton, Qt::NoModifier, QPoint(0, progress->height() / 2));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:00 / 00:00:20")));
}

TEST_F(WindowFixture, DropsOpenOnlyTheFirstFileAndIgnoreText)
{
    const QString first = record("first.vro");
    const QString second = record("second.vro");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    auto enter = [&](QMimeData* data) {
        QDragEnterEvent e(QPoint(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &e);
        return e.isAccepted();
    };

    EXPECT_FALSE(enter(&text));
    // Text arriving at a drop (the drag was entered with files): ignored,
    // though the window now wants to play what it opens next.
    ASSERT_TRUE(enter(&files));
    sendDrop(window.get(), &text);
    pump(50);
    EXPECT_TRUE(window->playOnOpen());
    EXPECT_TRUE(player().getFileName().isEmpty());

    ASSERT_TRUE(enter(&files));
    prompter.answer(IPrompter::No);
    sendDrop(window.get(), &files);
    ASSERT_TRUE(waitFor([&] { return !player().getFileName().isEmpty(); }, 5000));
    EXPECT_EQ(player().getFileName(), first);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Session Player - first.vro"));
}

TEST_F(WindowFixture, DoubleClickTogglesFullScreenOffTheBarWithARecording)
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
}

TEST_F(WindowFixture, MaximisingEntersFullScreen)
{
    window->showMaximized();
    EXPECT_TRUE(waitFor([&] { return window->isFullScreen(); }, 5000));
}

TEST_F(WindowFixture, IndexQuestionYesNoCancel)
{
    const QString path = record("i.vro", 64, 48, 30000, 500);
    const QString index = path + QStringLiteral("x");

    // Cancel: no index, and seeking is not possible.
    ASSERT_TRUE(open(path, IPrompter::Cancel));
    EXPECT_FALSE(QFile::exists(index));
    window->setPlayerPos(20);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:0")));
    window->onBtnStopClicked();

    // No: still no index, a seek replays from the beginning.
    ASSERT_TRUE(open(path, IPrompter::No));
    EXPECT_FALSE(QFile::exists(index));
    window->setPlayerPos(20);
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:2")));
    window->onBtnStopClicked();

    // Yes: the bar turns to indexing, the build ends idle with an index.
    ASSERT_TRUE(open(path, IPrompter::Yes));
    EXPECT_TRUE(waitFor([&] { return bar()->m_lblTimeText->text() == QStringLiteral("Now indexing:")
                                  || QFile::exists(index); }, 5000));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(index)
                                  && player().getState() == FilePlayer::STATE_IDLE; }, 20000));
    EXPECT_TRUE(waitFor([&] { return bar()->m_lblTimeText->text() == QStringLiteral("Time:"); },
                        5000));
    EXPECT_TRUE(player().isIndexLoaded());
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

TEST_F(WindowFixture, CloseWhileIndexingAsksAndNoKeepsTheWindow)
{
    // Large enough that the build is still running when the close comes.
    const QString path = record("big.vro", 320, 240, 300000, 100);
    ASSERT_TRUE(open(path, IPrompter::Yes));
    ASSERT_EQ(player().getState(), FilePlayer::STATE_INDEXING);

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

// The real message boxes: a failure that the player thread reports while the
// GUI thread waits for it (in stop() and in the close sequence) is shown and
// answered instead of deadlocking either thread.
class ErrorBoxTest : public WindowFixture
{
protected:
    QString brokenRecording()
    {
        const QString path = dir.filePath(QStringLiteral("broken.vro"));
        RecordingWriter writer;
        writer.open(path);
        VideoFrame frame = testFrame(64, 48, 0);
        writer.writeScreenFrame(0, frame);
        writer.writeRawUnit(7, 0, QByteArray("junk")); // a kind no recording has
        writer.finish(1000);
        return path;
    }

    // Starts playback and waits, without serving anything, until the
    // player thread asks for its error box.
    void playIntoTheError()
    {
        ASSERT_TRUE(open(brokenRecording()));
        window->setPrompter(nullptr);
        player().play();
        MessageBoxPrompter& boxes = window->messageBoxPrompter();
        for (int i = 0; i < 500 && !boxes.hasPendingRequest(); ++i)
            Thread::sleep(20);
        ASSERT_TRUE(boxes.hasPendingRequest());
    }
};

TEST_F(ErrorBoxTest, DuringStop)
{
    playIntoTheError();
    ModalCloser closer;
    window->onBtnStopClicked();
    EXPECT_TRUE(waitState(FilePlayer::STATE_IDLE, 5000));
    EXPECT_EQ(closer.texts, QStringList{QStringLiteral("Invalid File format")});
}

TEST_F(ErrorBoxTest, DuringClose)
{
    playIntoTheError();
    ModalCloser closer;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(closer.texts, QStringList{QStringLiteral("Invalid File format")});
    EXPECT_EQ(player().Thread::getState(), Thread::STATE_FINISHED);
}

TEST_F(WindowFixture, InvalidFileBoxAndTheQuestionThroughRealBoxes)
{
    window->setPrompter(nullptr);
    ModalCloser closer([](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (QAbstractButton* no = box->button(QMessageBox::No))
                no->click();
            else
                box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
    QFile text(dir.filePath(QStringLiteral("x.txt")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.close();
    window->onBtnOpenClicked(); // the file dialog: rejected by the closer
    EXPECT_FALSE(player().openFile(text.fileName()));
    EXPECT_TRUE(waitFor([&] { return closer.texts.contains(QStringLiteral("This is invalid file.")); },
                        5000));

    EXPECT_TRUE(player().openFile(record("q.vro")));
    EXPECT_TRUE(closer.texts.last().startsWith(QStringLiteral("It is recommended")));
}

// A recording named on the command line plays at once; the bar follows,
// also when the player thread's first report ("idle") was still queued.
// Indexed first (Yes), it plays once the index is built.
TEST_F(WindowFixture, CommandLineRecordingPlaysAndTheBarFollows)
{
    const QString indexed = record("cl.vro");
    ASSERT_TRUE(IndexBuilder().makeIndex(indexed, FilePlayer::kIndexInterval));
    {
        SessionPlayer fresh(nullptr);
        fresh.setPrompter(&prompter);
        fresh.openAndPlay(indexed);
        EXPECT_EQ(fresh.player().getState(), FilePlayer::STATE_PLAYING);
        pump(300);
        EXPECT_TRUE(fresh.controlBar()->m_btnStop->isEnabled());
        EXPECT_EQ(fresh.controlBar()->m_btnPlay->accessibleName(), QStringLiteral("Pause"));
    }

    const QString plain = record("cl2.vro", 64, 48, 30000, 500);
    prompter.answer(IPrompter::Yes);
    window->openAndPlay(plain);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING, 20000));
    EXPECT_TRUE(player().isIndexLoaded());
}
