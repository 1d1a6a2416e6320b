// SPDX-License-Identifier: GPL-3.0-or-later
// The main window over the real engine: state table, keys, speed ladder,
// time text, session ids, opening what cannot be played, drops, double
// clicks, the close sequence, the index question and where the index goes,
// and the player's error boxes while the GUI thread waits.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "IndexBuilder.h"
#include "IndexLocation.h"
#include "ReadOnlyFolder.h"
#include "RecordingWriter.h"
#include "WindowTestSupport.h"

TEST_F(WindowFixture, StateTableDrivesTheControlBar)
{
    EXPECT_EQ(usableButtons(), "Open,Zoom,Full screen,Menu"); // nothing loaded
    ASSERT_TRUE(open(record("a.vro")));

    // Idle at position 0: nothing to stop. Seeking, errors and unknown
    // states keep the look before them.
    const QString steps = "Slower,Faster,Back,Forward,Zoom,Full screen,Menu";
    struct Row { int status; QString buttons; const char* timeText; bool seeking; };
    const Row rows[] = {
        {FilePlayer::STATE_INDEXING, "Stop,Zoom,Full screen,Menu", "Now indexing:", false},
        {FilePlayer::STATE_IDLE, "Open,Play," + steps, "Time:", false},
        {FilePlayer::STATE_INDEXING, "Stop,Zoom,Full screen,Menu", "Now indexing:", false},
        {FilePlayer::STATE_STOPPING, "Open,Stop,Play," + steps, "Time:", false},
        {FilePlayer::STATE_PLAYING, "Open,Stop,Pause," + steps, "Time:", false},
        {FilePlayer::STATE_SEEKING, "Open,Stop,Pause," + steps, "Time:", true},
        {FilePlayer::STATE_PAUSED, "Open,Stop,Play," + steps, "Time:", false},
        {FilePlayer::STATE_ERROR, "Open,Stop,Play," + steps, "Time:", false},
        {9, "Open,Stop,Play," + steps, "Time:", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        window->onPlayerStatus(row.status);
        EXPECT_EQ(usableButtons(), row.buttons);
        EXPECT_EQ(bar()->m_lblTimeText->text(), QLatin1String(row.timeText));
        EXPECT_EQ(scene()->isSeeking(), row.seeking);
    }
}

TEST_F(WindowFixture, BarTextsTitleSessionIdTimesAndSpeeds)
{
    EXPECT_EQ(SessionPlayer::sec2str(3725), QStringLiteral("01:02:05"));
    EXPECT_EQ(SessionPlayer::sec2str(360000), QStringLiteral("100:00:00"));

    ASSERT_TRUE(open(record("nine.vro", 64, 48, 5400000, 2700000, "123456789")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Session Player - nine.vro"));
    EXPECT_EQ(bar()->m_lblSessionID->text(), QStringLiteral("Session ID: 123-456-789"));
    EXPECT_EQ(bar()->m_lblTime->text(), QStringLiteral("00:00:00 / 01:30:00"));
    EXPECT_EQ(bar()->m_progressBar->maximum(), 5400);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE); // not started by itself

    // Only nine digits are grouped.
    ASSERT_TRUE(open(record("eight.vro", 64, 48, 999, 500, "12345678")));
    EXPECT_EQ(window->sessionId(), QStringLiteral("12345678"));

    // The speed ladder, through the buttons.
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
}

// A file that cannot be played (wrong type, wrong magic, missing), opened or
// dropped, is refused before anything stops: the playing recording goes on
// with its title, texts and buttons. One that fails past that check (its
// first screen) leaves the window as a fresh one. Only the folder of a file
// that opened is remembered, absolute.
TEST_F(WindowFixture, AFileThatDoesNotOpenLeavesOneConsistentWindow)
{
    QSettings settings;
    auto lastPath = [&] {
        settings.sync();
        return settings.value(QStringLiteral("last_path")).toString();
    };
    settings.remove(QStringLiteral("last_path"));

    const QString good = record("good.vro");
    ASSERT_TRUE(open(good));
    EXPECT_EQ(lastPath(), QDir::toNativeSeparators(dir.path()) + QDir::separator());
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    const QString title = window->windowTitle(), session = bar()->m_lblSessionID->text();
    const QString playing = usableButtons();

    ASSERT_TRUE(QDir().mkpath(dir.filePath("other")));
    const QString notes = dir.filePath("other/notes.txt"), wrong = dir.filePath("other/wrong.vro");
    record("other/notes.txt");
    {
        RecordingWriter writer;
        writer.setMagic(0x12345678);
        writer.open(wrong);
        writer.finish(1000);
    }
    for (const QString& path : {notes, wrong, dir.filePath("other/missing.vro")}) {
        SCOPED_TRACE(path.toStdString());
        const int boxes = prompter.texts().size();
        EXPECT_FALSE(open(path));
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &drop);
        // Two refusals: the window's box for the wrong type, the player's
        // for the others.
        EXPECT_TRUE(waitFor([&] { return prompter.texts().size() == boxes + 2; })) << prompter.texts().mid(boxes).join("|").toStdString();
        EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);
        EXPECT_EQ(player().getFileName(), good);
        EXPECT_EQ(window->windowTitle(), title);
        EXPECT_EQ(bar()->m_lblSessionID->text(), session);
        EXPECT_EQ(usableButtons(), playing);
    }
    EXPECT_EQ(lastPath(), QDir::toNativeSeparators(dir.path()) + QDir::separator());

    // Past the check, a first screen that does not decompress is damage the
    // player passes over: the recording opens, its picture black until a
    // screen it can decode.
    const QString broken = dir.filePath("other/broken.vro");
    {
        RecordingWriter writer;
        writer.open(broken);
        writer.writeRawUnit(0x12, 0, "not a zlib stream");
        writer.finish(0); // nothing to call early
    }
    const int boxes = prompter.texts().size();
    EXPECT_TRUE(open(broken));
    EXPECT_EQ(prompter.texts().size(), boxes + 1) << "only the index question";
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(player().getFileName(), broken);
    // Said over the picture for a moment.
    EXPECT_EQ(scene()->message(), QStringLiteral("Damaged part skipped (0:00\u20130:00)"));
    EXPECT_TRUE(waitFor([&] { return scene()->message().isEmpty(); }, 4000));
    scene()->controlBarProxy()->setVisible(false);
    QImage shown(64, 48, QImage::Format_RGB32);
    shown.fill(Qt::magenta);
    QPainter painter(&shown);
    scene()->render(&painter, QRectF(0, 0, 64, 48), QRectF(0, 0, 64, 48));
    painter.end();
    // Black but for the pointer, which a late mouse position of the
    // recording played before may still place.
    const QRect pointer(scene()->mouseX() - 4, scene()->mouseY() - 4, 32, 32);
    int lit = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            lit += !pointer.contains(x, y) && (shown.pixel(x, y) & 0xFFFFFF) != 0;
    EXPECT_EQ(lit, 0);

    // A relative path: the folder is remembered absolute; a file that is not
    // there changes nothing.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("sub")));
    record("sub/rel.vro");
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_FALSE(open(QStringLiteral("nope/missing.vro")));
    EXPECT_EQ(lastPath(), QDir::toNativeSeparators(dir.filePath("other")) + QDir::separator());
    EXPECT_TRUE(open(QStringLiteral("sub/rel.vro")));
    QDir::setCurrent(cwd);
    EXPECT_EQ(lastPath(), QDir::toNativeSeparators(dir.filePath("sub")) + QDir::separator());
}

// The time shows where playback stands: the whole duration once the last
// unit has played (here at 1.5 s of 2.9 s), zero after a stop, where the
// next play starts.
TEST_F(WindowFixture, TheTimeShowsWherePlaybackStands)
{
    const QString path = dir.filePath(QStringLiteral("t.vro"));
    {
        RecordingWriter writer;
        writer.open(path);
        for (int f = 0; f <= 3; ++f) {
            VideoFrame frame = testFrame(64, 48, f);
            writer.writeScreenFrame(quint64(f) * 500, frame);
        }
        writer.finish(2900);
    }
    ASSERT_TRUE(open(path));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:02 / 00:00:02"))) << bar()->m_lblTime->text().toStdString();
    EXPECT_EQ(bar()->m_progressBar->value(), 2);

    window->onBtnPlayClicked();
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:01")));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:00 / 00:00:02"))) << bar()->m_lblTime->text().toStdString();
    EXPECT_EQ(bar()->m_progressBar->value(), 0);
}

// A recording in a folder that cannot be written: Yes to the index question
// builds its index in the cache folder, and seeking works. Where the cache
// cannot be written either, one box says so and seeks replay from the start.
TEST_F(WindowFixture, AnIndexThatCannotLieBesideTheRecordingGoesToTheCache)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath("shared")));
    const QString first = record("shared/a.vro", 64, 48, 30000, 500);
    const QString second = record("shared/b.vro", 64, 48, 30000, 500);
    const ReadOnlyFolder shared(dir.filePath("shared"));
    ASSERT_TRUE(shared.ok());
    auto stepsForward = [&] {
        window->onBtnPlayClicked();
        EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
        QTest::keyClick(window.get(), Qt::Key_Right, Qt::ControlModifier);
        const bool moved = waitTime(QStringLiteral("00:00:1")); // 10 s on
        window->onBtnStopClicked();
        return moved;
    };

    ASSERT_TRUE(open(first, IPrompter::Yes));
    ASSERT_TRUE(waitState(FilePlayer::STATE_INDEXING));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 20000));
    EXPECT_TRUE(player().isIndexLoaded());
    EXPECT_TRUE(QFile::exists(IndexLocation().cachePath(first)));
    EXPECT_FALSE(QFile::exists(IndexLocation::besidePath(first)));
    EXPECT_TRUE(stepsForward());

    // The cache folder cannot be made: a file is in its way.
    const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
    ASSERT_TRUE(QFile(dir.filePath("in-the-way")).open(QIODevice::WriteOnly));
    qputenv("XDG_CACHE_HOME", dir.filePath("in-the-way/cache").toLocal8Bit());
    const int boxes = prompter.texts().size();
    ASSERT_TRUE(open(second, IPrompter::Yes));
    qputenv("XDG_CACHE_HOME", cacheHome);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    ASSERT_EQ(prompter.texts().size(), boxes + 2); // the question, then once why
    EXPECT_TRUE(prompter.texts().last().startsWith(QStringLiteral("No index can be written")))
        << prompter.texts().last().toStdString();
    EXPECT_TRUE(stepsForward());
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

TEST_F(WindowFixture, DropsAndDoubleClicks)
{
    // Without a recording a double click does nothing.
    QTest::mouseDClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_FALSE(window->isFullScreen());

    // A drop opens the first file only; text without URLs is refused.
    const QString first = record("first.vro", 640, 480);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(record("second.vro"))});
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    auto send = [&](QMimeData* data) {
        QDragEnterEvent e(QPoint(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &e);
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        if (e.isAccepted())
            QCoreApplication::sendEvent(window->viewport(), &drop);
        return e.isAccepted();
    };

    EXPECT_FALSE(send(&text));
    // The file opens after the drop event has returned.
    prompter.questionAnswer = IPrompter::No;
    ASSERT_TRUE(send(&files));
    EXPECT_TRUE(player().getFileName().isEmpty());
    ASSERT_TRUE(waitFor([&] { return !player().getFileName().isEmpty(); }));
    EXPECT_EQ(player().getFileName(), first);
    ASSERT_TRUE(waitFor([&] { return window->size() == QSize(640, 480); }));

    // What is dropped plays, also after No to the index question. Drops
    // that carry no local file leave it alone and ask for nothing: an empty
    // URL list, a web address.
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    QMimeData emptyList, web;
    emptyList.setData(QStringLiteral("text/uri-list"), QByteArray());
    web.setUrls({QUrl(QStringLiteral("https://example.org/talk.vro"))});
    for (QMimeData* data : {&emptyList, &web}) {
        EXPECT_FALSE(send(data));
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &drop);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);
    EXPECT_EQ(player().getFileName(), first);
    EXPECT_EQ(prompter.openRequests.load(), 0);
    window->onBtnStopClicked();

    // Double clicks off the bar toggle full screen; maximising enters it.
    const QRect onBar =
        window->mapFromScene(scene()->controlBarProxy()->geometry()).boundingRect();
    QTest::mouseDClick(window->viewport(), Qt::LeftButton, Qt::NoModifier,
                       onBar.topLeft() + QPoint(30, onBar.height() - 10));
    EXPECT_FALSE(window->isFullScreen());
    QTest::mouseDClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_TRUE(window->isFullScreen());
    window->onBtnFullScreenClicked();
    ASSERT_FALSE(window->isFullScreen());
    window->showMaximized();
    EXPECT_TRUE(waitFor([&] { return window->isFullScreen(); }));
    // A maximise (or Escape) reported twice must not toggle straight back.
    emit window->goFullScreen();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isFullScreen());
    emit window->goNormalScreen();
    emit window->goNormalScreen();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isFullScreen());
}

// The index question comes through the window's prompter (what each answer
// does to seeking is the engine's own business): Cancel and No open without
// an index; Yes builds one, and closing the window during the build asks
// first: No keeps the window, also when the build ended while the question
// was up.
TEST_F(WindowFixture, IndexQuestionAndClosingWhileIndexing)
{
    const QString path = record("i.vro");
    for (IPrompter::Answer answer : {IPrompter::Cancel, IPrompter::No}) {
        ASSERT_TRUE(open(path, answer));
        EXPECT_TRUE(prompter.texts().last().startsWith(QStringLiteral("It is recommended")));
        EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    }
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("x")));

    const QString big = record("big.vro", 320, 240, 60000, 100);
    for (bool buildEndsFirst : {false, true}) {
        SCOPED_TRACE(buildEndsFirst);
        QFile::remove(big + QStringLiteral("x"));
        ASSERT_TRUE(open(big, IPrompter::Yes));
        ASSERT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
        EXPECT_TRUE(waitFor([&] { return bar()->m_lblTimeText->text() == "Now indexing:"; }));
        prompter.warningAnswer = IPrompter::No;
        if (buildEndsFirst) {
            prompter.beforeWarningAnswer = [&] {
                return waitFor([&] { return player().getState() == FilePlayer::STATE_IDLE; }, 60000);
            };
        }
        EXPECT_FALSE(window->close());
        prompter.beforeWarningAnswer = nullptr;
        EXPECT_TRUE(prompter.texts().last().startsWith(QStringLiteral("This will cancel the indexing")));
        EXPECT_TRUE(window->isVisible());
        // The build goes on to its end.
        ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE, 60000));
        EXPECT_TRUE(player().isIndexLoaded());
    }
    ASSERT_TRUE(open(big, IPrompter::Yes)); // the index is there: no build
    prompter.warningAnswer = IPrompter::Yes;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
}

// The close comes while the seek replays (a stop then only cancels the
// seek) or, on a fast machine, after it: either way the window closes once
// the player is idle. The catch-up over 600 screens of 640 x 480 is long
// enough that it is normally still running.
TEST_F(WindowFixture, CloseWhileSeekingStopsOnceTheSeekIsDone)
{
    ASSERT_TRUE(open(record("s.vro", 640, 480, 60000, 100)));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    window->setPlayerPos(59);
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
// still queued, and also when it is stopped at once. Indexed first (Yes),
// it plays once the index is built.
TEST_F(WindowFixture, CommandLineRecordingPlaysAndTheBarFollows)
{
    const QString indexed = record("cl.vro");
    ASSERT_TRUE(IndexBuilder().makeIndex(indexed, FilePlayer::kIndexInterval));
    {
        SessionPlayer fresh(nullptr);
        fresh.setPrompter(&prompter);
        fresh.openAndPlay(indexed);
        EXPECT_EQ(fresh.player().getState(), FilePlayer::STATE_PLAYING);
        EXPECT_TRUE(waitFor([&] {
            return fresh.controlBar()->m_btnPlay->accessibleName() == QStringLiteral("Pause");
        }));
        EXPECT_TRUE(fresh.controlBar()->m_btnStop->isEnabled());

        // An Escape in its first moments (before the pause icon the start
        // arms has come) stops it: the icon then follows the stop.
        QTest::keyClick(&fresh, Qt::Key_Escape); // stop
        fresh.openAndPlay(indexed);
        QTest::keyClick(&fresh, Qt::Key_Escape);
        ASSERT_EQ(fresh.player().getState(), FilePlayer::STATE_IDLE);
        fresh.onSetButtonIconAutoPlay(); // what the armed timer does
        EXPECT_EQ(fresh.controlBar()->m_btnPlay->accessibleName(), QStringLiteral("Play"));
    }

    prompter.questionAnswer = IPrompter::Yes;
    window->openAndPlay(record("cl2.vro", 64, 48, 30000, 500));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING, 20000));
    EXPECT_TRUE(player().isIndexLoaded());
}

// ---------------------------------------------------------------------------
// Random commands through the window's slots against the real player thread.

namespace {

// The player's state reports in the order they were made, whichever thread
// made them (a direct connection).
class StatusLog : public QObject
{
    Q_OBJECT

public:
    std::vector<int> statuses()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_statuses;
    }

public slots:
    void onPlayerStatus(int status)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_statuses.push_back(status);
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_statuses;
};

// Ends the process, naming the seed, when a command has not returned within
// 10 s: a hang is a failure, and the seed reproduces it.
class HangGuard
{
public:
    explicit HangGuard(unsigned seed) : m_seed(seed), m_thread([this] { watch(); }) {}
    ~HangGuard()
    {
        started(-1, nullptr);
        m_thread.join();
    }
    // Command `n` (`what`) starts now; n < 0 ends the watch.
    void started(int n, const char* what)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_command = n, m_what = what, m_since = std::chrono::steady_clock::now();
        m_changed.notify_all();
    }
    const char* what()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_what;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_command >= 0) {
            const auto since = m_since;
            if (!m_changed.wait_until(lock, since + std::chrono::seconds(10),
                                      [&] { return m_since != since; })) {
                std::fprintf(stderr, "Hang: command %d (%s) has not returned in 10 s; seed %u\n",
                             m_command, m_what, m_seed);
                std::_Exit(1);
            }
        }
    }

    unsigned m_seed;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_command = 0;
    const char* m_what = "start";
    std::chrono::steady_clock::time_point m_since = std::chrono::steady_clock::now();
    std::thread m_thread;
};

} // namespace

// 1,000 seeded commands (SP_COMMANDS and SP_SEED change them; scripts/soak
// runs many more): play and pause, stop, absolute and relative seeks, speed
// changes, another file opened with every answer to the index question, a
// recording opened as from the command line, its index taken away. After
// each one: a stop leaves the player idle, and idle it stays until the next
// command; playback never starts twice for one command; once the reports
// have arrived, the bar's buttons are those of the player's state.
TEST_F(WindowFixture, RandomCommandsKeepTheBarAndThePlayerInStep)
{
    bool given = false;
    const unsigned seed = qEnvironmentVariable("SP_SEED").toUInt(&given);
    const unsigned used = given ? seed : std::random_device()();
    const int commands = qEnvironmentVariableIsSet("SP_COMMANDS")
        ? qEnvironmentVariableIntValue("SP_COMMANDS") : 1000;
    std::mt19937 random(used);
    SCOPED_TRACE(testing::Message() << "SP_SEED=" << used);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const QString files[] = {record("a.vro", 64, 48, 20000, 500), record("b.vro", 96, 64, 12000, 250)};
    StatusLog log;
    QObject::connect(&player(), SIGNAL(playerStatusChanged(int)), &log, SLOT(onPlayerStatus(int)),
                     Qt::DirectConnection);
    ASSERT_TRUE(open(files[0]));

    // Waits until the window has heard of the state the player is in: the
    // player thread posts its report before it stores the state, so the
    // events processed after reading a state include its report.
    auto settle = [&]() {
        QElapsedTimer timer;
        timer.start();
        for (int s = player().getState();; s = player().getState()) {
            QCoreApplication::processEvents();
            if (player().getState() == s)
                return s;
            if (timer.elapsed() > 10000)
                return -1;
        }
    };
    const QString steps = ",Slower,Faster,Back,Forward,Zoom,Full screen,Menu";
    auto buttons = [&](int state) { // what the bar enables in a state
        const bool stop = state != 0 || bar()->m_progressBar->value() != 0;
        return state == 4 ? "Stop,Zoom,Full screen,Menu"
                          : "Open" + QString(stop ? ",Stop" : "") + (state == 1 ? ",Pause" : ",Play")
                + steps;
    };

    HangGuard guard(used);
    std::string done; // the last commands, with the states they came in
    bool stopped = false;
    for (int n = 0; n < commands && !HasFatalFailure(); ++n) {
        SCOPED_TRACE(testing::Message() << "command " << n << "; before it: " << done);
        if (stopped) {
            EXPECT_EQ(settle(), FilePlayer::STATE_IDLE) << "a stop did not hold";
        }
        stopped = false;
        const int before = player().getState(), roll = pick(100);
        const size_t reports = log.statuses().size();
        if (roll < 22) {
            guard.started(n, "play/pause");
            window->onBtnPlayClicked();
        } else if (roll < 36) {
            guard.started(n, "stop");
            const bool yes = pick(2);
            prompter.warningAnswer = yes ? IPrompter::Yes : IPrompter::No;
            window->onBtnStopClicked();
            // Only a seek (its catch-up is cancelled) and a build the user
            // let go on outlast a stop.
            stopped = player().getState() == FilePlayer::STATE_IDLE;
            EXPECT_TRUE(stopped || before == FilePlayer::STATE_SEEKING
                        || (before == FilePlayer::STATE_INDEXING && !yes))
                << "stopped in " << before << ", now " << player().getState();
        } else if (roll < 50) {
            guard.started(n, "seek");
            window->setPlayerPos(unsigned(pick(25)));
        } else if (roll < 70) {
            guard.started(n, "step");
            pick(2) ? window->onBtnBackwordClicked() : window->onBtnForwardClicked();
        } else if (roll < 88) {
            guard.started(n, "speed");
            pick(2) ? window->onBtnDecSpeedClicked() : window->onBtnIncSpeedClicked();
        } else if (roll < 96) {
            guard.started(n, "open");
            const int answer = pick(10);
            open(files[pick(2)], answer == 0 ? IPrompter::Yes
                                 : answer < 7 ? IPrompter::No : IPrompter::Cancel);
        } else if (roll < 99) {
            guard.started(n, "command line");
            prompter.questionAnswer = pick(10) < 3 ? IPrompter::Yes : IPrompter::No;
            window->openAndPlay(files[pick(2)]);
        } else {
            guard.started(n, "index removed");
            if (player().getState() != FilePlayer::STATE_INDEXING)
                for (const QString& f : files)
                    QFile::remove(f + QLatin1Char('x'));
        }
        done = (done.size() > 200 ? done.substr(done.size() - 200) : done) + guard.what() + " in "
            + std::to_string(before) + ", ";

        // A random gap, for the player thread to get anywhere in between.
        guard.started(n, "gap");
        QElapsedTimer gap;
        gap.start();
        for (const int ms = pick(20); gap.elapsed() < ms;)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

        // One start per command: two "playing" reports in a row mean that
        // playback was started twice.
        const std::vector<int> all = log.statuses();
        for (size_t i = std::max<size_t>(reports, 1); i < all.size(); ++i)
            EXPECT_FALSE(all[i] == 1 && all[i - 1] == 1) << "started twice";

        guard.started(n, "settle");
        const int state = settle();
        ASSERT_GE(state, 0) << "the player's state never settled";
        if (state <= FilePlayer::STATE_PAUSED || state == FilePlayer::STATE_INDEXING) {
            EXPECT_EQ(usableButtons().toStdString(), buttons(state).toStdString()) << "in state " << state;
        }
    }
}

#include "SessionPlayerTest.moc"

// A recording that ends before its header says, and one whose header says 0:
// the bar, the time text and the buttons follow the real end once the walk
// over the units has found it.
TEST_F(WindowFixture, TheBarAndTheTimeTextFollowTheRealEnd)
{
    auto withDuration = [&](const QString& name, quint64 duration) {
        const QString path = record(name, 64, 48, 10000);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadWrite) && f.seek(8));
        QByteArray le(8, '\0');
        for (int i = 0; i < 8; ++i)
            le[i] = char((duration >> (8 * i)) & 0xFF);
        f.write(le);
        return path;
    };
    ASSERT_TRUE(open(withDuration("cut.vro", 20000)));
    EXPECT_TRUE(waitFor([&] { return bar()->m_lblTime->text().endsWith("/ 00:00:10"); }))
        << bar()->m_lblTime->text().toStdString();
    EXPECT_EQ(bar()->m_progressBar->maximum(), 10);

    // The middle of the bar is the middle of what plays, its right end the end.
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    const int right = bar()->m_progressBar->width() - 1;
    QTest::mouseClick(bar()->m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(right / 2, 5));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:05")));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PLAYING);
    QTest::mouseClick(bar()->m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(right, 5));
    EXPECT_TRUE(waitState(FilePlayer::STATE_IDLE, 3000)) << "at the end at once";
    EXPECT_EQ(scene()->infoText(), QStringLiteral("The End"));
    EXPECT_TRUE(waitFor([&] { return bar()->m_lblTime->text() == "00:00:10 / 00:00:10"; }))
        << bar()->m_lblTime->text().toStdString();

    ASSERT_TRUE(open(withDuration("unfinished.vro", 0)));
    EXPECT_TRUE(waitFor([&] { return bar()->m_lblTime->text() == "00:00:00 / 00:00:10"; }))
        << bar()->m_lblTime->text().toStdString();
    EXPECT_TRUE(bar()->m_btnPlay->isEnabled()) << "loaded";
}
