// SPDX-License-Identifier: GPL-3.0-or-later
// The window's Export clip, Save frame and Copy frame over the real engine
// and encoder: the in and out points and their marks, the dialog's
// defaults, the export on its thread with its progress dialog and Cancel,
// and the saved picture against `sessiontool frame --cursor`.

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>

#include "ExportDialog.h"
#include "ExportJob.h"
#include "RangeMarks.h"
#include "VideoJudge.h"
#include "WindowTestSupport.h"

namespace {

using ExportWindowTest = WindowFixture;

// I and O at 5 s and 12 s: marks on the bar, the dialog's range; the export
// runs to its end with the progress dialog up, while the player stays
// paused where it was; another recording clears the points.
TEST_F(ExportWindowTest, InAndOutPointsMakeTheDialogsRangeAndTheClipIsWritten)
{
    const QString path = record("e.vro", 64, 48, 20000, 250);
    ASSERT_TRUE(open(path));
    EXPECT_EQ(window->exportAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
    EXPECT_EQ(window->saveFrameAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(window->copyFrameAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    EXPECT_TRUE(window->actions().contains(window->exportAction()));

    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    window->setPlayerPos(5);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:05")));
    window->inPointAction()->trigger();
    window->setPlayerPos(12);
    ASSERT_TRUE(waitTime(QStringLiteral("00:00:12")));
    window->outPointAction()->trigger();
    EXPECT_EQ(window->inPointMs(), 5000);
    EXPECT_EQ(window->outPointMs(), 12000);
    RangeMarks* marks = window->rangeMarks();
    EXPECT_TRUE(marks->isVisible());
    EXPECT_EQ(marks->size(), bar()->m_progressBar->size());
    EXPECT_LT(marks->xOf(5000), marks->xOf(12000));

    window->exportAction()->trigger();
    ExportDialog* dialog = window->exportDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_DOUBLE_EQ(dialog->fromBox()->value(), 5.0);
    EXPECT_DOUBLE_EQ(dialog->toBox()->value(), 12.0);
    EXPECT_TRUE(dialog->pointerBox()->isChecked());
    EXPECT_TRUE(dialog->soundBox()->isChecked());
    EXPECT_EQ(dialog->outputEdit()->text(), dir.filePath("e.mp4"));
    dialog->formatBox()->setCurrentIndex(1);
    EXPECT_EQ(dialog->outputEdit()->text(), dir.filePath("e.webm"));
    dialog->formatBox()->setCurrentIndex(0);
    dialog->sizeBox()->setCurrentIndex(0);
    const ExportSettings settings = dialog->settings();
    EXPECT_EQ(settings.fromMs, 5000u);
    EXPECT_EQ(settings.toMs, 12000u);
    EXPECT_EQ(settings.recording, path);

    dialog->accept();
    EXPECT_NE(window->exportJob(), nullptr);
    ASSERT_NE(window->exportProgress(), nullptr);
    EXPECT_TRUE(window->exportProgress()->isVisible());
    ASSERT_TRUE(waitFor([&] { return window->exportJob() == nullptr; }, 60000));
    EXPECT_EQ(window->lastExportText(), "Exported to e.mp4");
    EXPECT_TRUE(waitFor([&] { return window->exportProgress() == nullptr; }));
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PAUSED);
    const VideoJudge::Probe probe = VideoJudge::probe(dir.filePath("e.mp4"));
    ASSERT_TRUE(probe.ok);
    EXPECT_NEAR(probe.duration, 7.0, 0.1);
    ASSERT_FALSE(probe.streams.empty());
    EXPECT_EQ(probe.streams[0].width, 64);

    // The points stay for the same recording, and go with another one.
    EXPECT_EQ(window->inPointMs(), 5000);
    ASSERT_TRUE(open(record("f.vro")));
    EXPECT_EQ(window->inPointMs(), -1);
    EXPECT_EQ(window->outPointMs(), -1);
    EXPECT_FALSE(marks->isVisible());
}

// Cancel in the progress dialog: the export stops, nothing is written; a
// failure (the clip would replace the recording... refused by the dialog;
// a folder that is not there, by the export) leaves a box and no file.
TEST_F(ExportWindowTest, CancelAndFailureLeaveNoFile)
{
    const QString path = record("long.vro", 64, 48, 600000, 200);
    ASSERT_TRUE(open(path));
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

    window->exportAction()->trigger();
    ASSERT_NE(window->exportDialog(), nullptr);
    EXPECT_DOUBLE_EQ(window->exportDialog()->fromBox()->value(), 0.0);
    EXPECT_DOUBLE_EQ(window->exportDialog()->toBox()->value(), 600.0);
    window->exportDialog()->accept();
    ASSERT_NE(window->exportProgress(), nullptr);
    // The Cancel button, before the export thread can have got far.
    QPushButton* cancel = window->exportProgress()->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    ASSERT_TRUE(waitFor([&] { return window->exportJob() == nullptr; }, 60000));
    EXPECT_EQ(window->lastExportText(), "Export cancelled");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);

    ASSERT_TRUE(waitFor([&] { return window->exportDialog() == nullptr; }));
    window->exportAction()->trigger();
    ASSERT_NE(window->exportDialog(), nullptr);
    window->exportDialog()->outputEdit()->setText(dir.filePath("missing/clip.mp4"));
    window->exportDialog()->accept();
    ASSERT_TRUE(waitFor([&] { return window->exportJob() == nullptr; }, 60000));
    EXPECT_TRUE(window->lastExportText().startsWith("The clip was not exported: cannot write in"))
        << window->lastExportText().toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
}

// Save frame writes the picture the player shows, pointer included: the
// same pixels as `sessiontool frame --cursor` at that moment; Copy frame
// puts the same picture on the clipboard.
TEST_F(ExportWindowTest, SaveFrameAndCopyFrameGiveThePlayersPicture)
{
    // Played to its end: the last screen with the pointer where it ended.
    const QString path = record("s.vro", 64, 48, 2000, 250);
    ASSERT_TRUE(open(path));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    ASSERT_TRUE(waitFor([&] { return player().getState() != FilePlayer::STATE_PLAYING; }));
    ASSERT_TRUE(waitFor([&] { return scene()->mouseX() == (8 * 7) % 64; }));

    const QString saved = dir.filePath("saved.png");
    ASSERT_TRUE(window->saveFrameTo(saved));
    const QString expected = dir.filePath("expected.png");
    QProcess tool;
    tool.start(QStringLiteral(SESSIONTOOL_PATH),
               {"frame", path, "--at", "2", "--cursor", "-o", expected});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0);
    const QImage want = QImage(expected).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(QImage(saved).convertToFormat(QImage::Format_RGB32), want);

    window->copyFrameAction()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), want);

    EXPECT_FALSE(window->saveFrameTo(dir.filePath("no/such/folder.png")));
}

} // namespace
