// SPDX-License-Identifier: GPL-3.0-or-later
// The window beyond its buttons, over the real engine: the keys, Space on a
// stopped or ended recording, what an open starts, the index question's
// "Always", the command line, resuming, the Recent menu and the menu
// button, the bar's fading on moves, and a black window before the first
// picture.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTest>

#include "IndexBuilder.h"
#include "KeyHelpOverlay.h"
#include "PlayerMenu.h"
#include "StartOptions.h"
#include "Version.h"
#include "WindowTestSupport.h"

namespace {

class CommandsFixture : public WindowFixture
{
protected:
    void SetUp() override
    {
        QSettings().remove("recordings");
        QSettings().remove(FilePlayer::kAlwaysIndexKey);
        WindowFixture::SetUp();
    }
    // `SessionPlayer args...`, as main starts the window.
    void start(const QStringList& args)
    {
        const StartOptions o = StartOptions::parse(QStringList{"SessionPlayer"} + args);
        ASSERT_EQ(o.result(), StartOptions::Start) << qPrintable(o.error());
        window->start(o);
    }
    // A recording with an index, so that seeks go straight there.
    QString indexed(const QString& name, quint64 lastMs)
    {
        const QString path = record(name, 64, 48, lastMs, 1000);
        EXPECT_TRUE(IndexBuilder().makeIndex(path, FilePlayer::kIndexInterval));
        return path;
    }
    void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        QTest::keyClick(window.get(), Qt::Key(k), m);
    }
};

} // namespace

TEST_F(CommandsFixture, NewKeys)
{
    ASSERT_TRUE(open(indexed("k.vro", 180000)));
    // Playing, then paused, so every seek ends in a steady state.
    key(Qt::Key_Space);
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    key(Qt::Key_Space);
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    const std::pair<int, const char*> seeks[] = {
        {Qt::Key_End, "00:02:59 /"},   {Qt::Key_PageDown, "00:01:59"}, {Qt::Key_Home, "00:00:00"},
        {Qt::Key_PageUp, "00:01:00"}, {Qt::Key_PageUp, "00:02:00"},
    };
    for (const auto& [k, time] : seeks) {
        key(k);
        EXPECT_TRUE(waitTime(QLatin1String(time))) << time << " " << qPrintable(bar()->m_lblTime->text());
        EXPECT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    }

    // The speed ladder, as the buttons climb it.
    const std::pair<int, const char*> speeds[] = {
        {Qt::Key_BracketLeft, "1/2x"}, {Qt::Key_BracketLeft, "1/2x"}, {Qt::Key_BracketRight, "1x"},
        {Qt::Key_BracketRight, "2x"},
    };
    for (const auto& [k, label] : speeds) {
        key(k);
        EXPECT_EQ(bar()->m_lblSpeed->text(), QLatin1String(label));
    }
    EXPECT_EQ(player().getRequestedSpeed(), 2);

    // Zoom and full screen; the key list, which Escape closes first.
    const bool zoomed = window->isStretched();
    key(Qt::Key_Z);
    EXPECT_NE(window->isStretched(), zoomed);
    key(Qt::Key_F);
    EXPECT_TRUE(window->isFullScreen());
    key(Qt::Key_F1);
    EXPECT_TRUE(window->keyHelp()->isVisible());
    EXPECT_TRUE(window->keyHelp()->text().contains("Control+E"));
    QTest::keyClick(window.get(), '?');
    EXPECT_FALSE(window->keyHelp()->isVisible());
    key(Qt::Key_Question);
    key(Qt::Key_Escape);
    EXPECT_FALSE(window->keyHelp()->isVisible());
    EXPECT_TRUE(window->isFullScreen());
    key(Qt::Key_F);
    EXPECT_FALSE(window->isFullScreen());

    // Control+O opens (and plays); O alone is not Open.
    prompter.openAnswer = record("other.vro");
    key(Qt::Key_O);
    EXPECT_EQ(prompter.openRequests.load(), 0);
    prompter.questionAnswer = IPrompter::No;
    key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(prompter.openRequests.load(), 1);
    EXPECT_EQ(player().getFileName(), prompter.openAnswer);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
}

// Space plays a recording that is loaded but stopped, and one at its end
// (from the start); it still pauses and plays on.
TEST_F(CommandsFixture, SpacePlaysAStoppedOrEndedRecording)
{
    key(Qt::Key_Space); // nothing loaded: nothing happens
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    ASSERT_TRUE(open(indexed("s.vro", 30000)));
    ASSERT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    key(Qt::Key_Space);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    key(Qt::Key_Escape);
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    key(Qt::Key_Space);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    key(Qt::Key_End);
    EXPECT_TRUE(waitFor([&] { return scene()->infoText() == "The End"; }));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
    key(Qt::Key_Space);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_TRUE(waitTime("00:00:0"));
}

// The Open button plays what it opened: at once after No, once the index is
// built after Yes. With "Always build the index without asking" ticked,
// the next recording without an index is built and played without a box.
TEST_F(CommandsFixture, OpenPlaysAndTheIndexCanAlwaysBeBuilt)
{
    prompter.openAnswer = record("no.vro");
    prompter.questionAnswer = IPrompter::No;
    window->onBtnOpenClicked();
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));

    prompter.openAnswer = record("yes.vro", 64, 48, 30000, 500);
    prompter.questionAnswer = IPrompter::Yes;
    prompter.alwaysAnswer = true;
    window->onBtnOpenClicked();
    EXPECT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING, 20000));
    EXPECT_TRUE(player().isIndexLoaded());
    EXPECT_TRUE(QSettings().value(FilePlayer::kAlwaysIndexKey).toBool());

    const int boxes = prompter.texts().size();
    prompter.questionAnswer = IPrompter::No; // would be the answer, if asked
    prompter.openAnswer = record("always.vro", 64, 48, 30000, 500);
    window->onBtnOpenClicked();
    EXPECT_EQ(prompter.texts().size(), boxes) << "not asked";
    EXPECT_EQ(player().getState(), FilePlayer::STATE_INDEXING);
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING, 20000));
}

// The command line's options, as main hands them to the window.
TEST_F(CommandsFixture, CommandLineOptions)
{
    const QString path = indexed("c.vro", 60000);
    // Beyond the end: the last second, paused there; speed and zoom as given.
    start({path, "--at", "1:00:00", "--paused", "--speed", "4", "--zoom"});
    EXPECT_TRUE(waitTime("00:00:59 / 00:01:00")) << qPrintable(bar()->m_lblTime->text());
    EXPECT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    EXPECT_EQ(bar()->m_lblSpeed->text(), "4x");
    EXPECT_EQ(player().getRequestedSpeed(), 4);
    EXPECT_TRUE(window->isStretched()); // a small picture opens unzoomed otherwise

    // --paused alone: the first picture, not playing; --no-zoom; full screen.
    window->setSkipIdle(false);
    start({path, "--paused", "--no-zoom", "--fullscreen", "--speed", "1/2", "--skip-idle"});
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    EXPECT_TRUE(window->skipIdle());
    window->setSkipIdle(false);
    EXPECT_FALSE(window->isStretched());
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_EQ(bar()->m_lblSpeed->text(), "1/2x");
    window->onBtnFullScreenClicked();

    // Playing from a time; a file that does not open changes nothing.
    start({path, "--at", "20"});
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    EXPECT_TRUE(waitTime("00:00:2"));
    start({dir.filePath("missing.vro")});
    EXPECT_EQ(player().getFileName(), path);
    EXPECT_TRUE(prompter.texts().last().startsWith("Unable to open the file:"));
}

// Reopening resumes where the recording was left, with a message and no
// question, but not near either end, not when --at is given, and not for a
// file of another size. The Recent menu lists what was opened, most
// recent first, and opens it.
TEST_F(CommandsFixture, ResumeAndRecent)
{
    const QString a = indexed("a.vro", 60000), b = indexed("b.vro", 60000);
    auto leaveAt = [&](const QString& path, const char* at, const char* time) {
        start({path, "--at", at, "--paused"});
        EXPECT_TRUE(waitTime(QLatin1String(time))) << time;
        EXPECT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    };
    leaveAt(a, "42", "00:00:42");
    leaveAt(b, "5", "00:00:05"); // a is left at 42
    const int boxes = prompter.texts().size();
    ASSERT_TRUE(open(a));
    EXPECT_TRUE(waitTime("00:00:42"));
    EXPECT_EQ(scene()->message(), "Resumed at 0:42");
    EXPECT_EQ(prompter.texts().size(), boxes);
    ASSERT_TRUE(waitFor([&] { return scene()->message().isEmpty(); }, 4000));

    // b was left 5 s in; then a near its end; then --at wins over 42.
    leaveAt(a, "55", "00:00:55");
    ASSERT_TRUE(open(b));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    EXPECT_EQ(bar()->m_lblTime->text(), "00:00:00 / 00:01:00");
    ASSERT_TRUE(open(a));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    leaveAt(a, "42", "00:00:42");
    leaveAt(a, "30", "00:00:30");
    EXPECT_TRUE(scene()->message().isEmpty());

    // Written anew with another size: a new recording.
    leaveAt(b, "20", "00:00:20");
    window->onBtnStopClicked(); // the stop puts it back to the start
    ASSERT_TRUE(waitTime("00:00:00"));
    leaveAt(a, "42", "00:00:42");
    ASSERT_TRUE(open(b));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);
    record("a.vro", 64, 48, 61000, 1000);
    ASSERT_TRUE(open(a));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_IDLE);

    // Recent: a, then b; choosing b opens and plays it.
    window->onBtnMenuClicked();
    QMenu* recent = window->menu()->findChild<QMenu*>("recent");
    ASSERT_TRUE(recent && recent->isEnabled());
    QStringList listed;
    for (QAction* action : recent->actions())
        listed << action->data().toString();
    EXPECT_EQ(listed, (QStringList{a, b}));
    window->menu()->close();
    recent->actions().at(1)->trigger();
    EXPECT_TRUE(waitFor([&] { return player().getFileName() == b; }));
    EXPECT_TRUE(waitState(FilePlayer::STATE_PLAYING));
}

// The menu button's menu: every item there, those whose work the window
// does not have yet disabled; the key list and About work.
TEST_F(CommandsFixture, MenuButton)
{
    bar()->m_btnMenu->click();
    PlayerMenu* menu = window->menu();
    EXPECT_TRUE(waitFor([&] { return menu->isVisible(); }));
    QStringList items;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
            items << action->text().section('\t', 0, 0);
    }
    EXPECT_EQ(items.join('|'), "Export clip\u2026|Save frame\u2026|Copy frame|Skip idle stretches|"
                               "Speech at other speeds|Recent|Keyboard shortcuts|About");
    const QMetaObject* meta = window->metaObject();
    for (const char* name : {"exportClip", "saveFrame", "copyFrame", "skipIdle", "speech"}) {
        const QByteArray slot = QByteArray(name) == "skipIdle" ? "setSkipIdle(bool)"
                              : QByteArray(name) == "speech" ? "setSpeechAtOtherSpeeds(bool)"
                                                             : QByteArray(name) + "()";
        EXPECT_EQ(menu->item(name)->isEnabled(), meta->indexOfMethod(slot) >= 0) << name;
    }
    EXPECT_FALSE(menu->findChild<QMenu*>("recent")->isEnabled()); // nothing opened yet
    menu->close();

    // A checkable item reaches its slot, and shows the window's state when
    // the menu opens.
    window->setSkipIdle(false);
    window->setSpeechAtOtherSpeeds(true);
    menu->refreshChecks();
    for (const char* name : {"skipIdle", "speech"})
        ASSERT_TRUE(menu->item(name)->isEnabled()) << name;
    menu->item("skipIdle")->trigger();
    menu->item("speech")->trigger();
    EXPECT_TRUE(window->skipIdle());
    EXPECT_FALSE(window->speechAtOtherSpeeds());
    window->setSkipIdle(false);
    window->setSpeechAtOtherSpeeds(true);
    bar()->m_btnMenu->click();
    EXPECT_FALSE(menu->item("skipIdle")->isChecked());
    EXPECT_TRUE(menu->item("speech")->isChecked());
    menu->close();

    // An item of another part reaches its slot: Copy frame.
    ASSERT_TRUE(open(record("m.vro", 64, 48)));
    QGuiApplication::clipboard()->clear();
    menu->item("copyFrame")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(64, 48));

    menu->item("keyHelp")->trigger();
    EXPECT_TRUE(window->keyHelp()->isVisible());
    for (const auto& [keys, what] : KeyHelpOverlay::keys())
        EXPECT_TRUE(window->keyHelp()->text().contains(keys.toHtmlEscaped())) << qPrintable(keys);
    menu->item("keyHelp")->trigger();
    EXPECT_FALSE(window->keyHelp()->isVisible());

    menu->item("about")->trigger();
    QMessageBox* about = window->findChild<QMessageBox*>("AboutBox");
    ASSERT_TRUE(about);
    EXPECT_TRUE(about->text().contains(QLatin1String(kSessionPlayerVersion)));
    EXPECT_TRUE(waitFor([&] { return about->isVisible(); }));
    about->close();
}

// Before anything opens, the window is black but for the bar; a move over
// the picture shows the bar and arms its 3 s fade.
TEST_F(CommandsFixture, BlackFromTheFirstFrameAndTheBarFollowsTheMouse)
{
    auto litOffTheBar = [&] {
        const QImage shown = window->grab().toImage();
        const QRect onBar = window->mapFromScene(scene()->controlBarProxy()->geometry()).boundingRect();
        int lit = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                lit += !onBar.contains(x, y) && (shown.pixel(x, y) & 0xFFFFFF) != 0;
        return lit;
    };
    EXPECT_EQ(litOffTheBar(), 0);
    // ... and the picture, once there is one, shows through the view.
    ASSERT_TRUE(open(record("p.vro", 640, 480)));
    EXPECT_TRUE(waitFor([&] { return litOffTheBar() > 640 * 300; }));

    bar()->hideFading();
    ASSERT_TRUE(waitFor([&] { return bar()->windowOpacity() == 0.0; }));
    QTest::mouseMove(window->viewport(), QPoint(20, 20));
    auto* hideTimer = bar()->findChild<QTimer*>();
    EXPECT_TRUE(hideTimer->isActive());
    EXPECT_TRUE(waitFor([&] { return bar()->windowOpacity() == 1.0; }));
}
