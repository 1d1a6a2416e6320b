// SPDX-License-Identifier: GPL-3.0-or-later
// Where recordings were left and which were opened lately, in the
// application's settings: bounded and careful with what it reads back (the
// window's tests cover resuming itself: margins, --at, another size).

#include "RecordingHistory.h"
#include "FileBytes.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class RecordingHistoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QSettings().remove("recordings");
    }
    void TearDown() override { QSettings().remove("recordings"); }
    QString file(const QString& name, int size = 10)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeBytes(path, QByteArray(size, 'x')));
        return path;
    }

    QTemporaryDir dir;
    RecordingHistory history;
};

} // namespace

TEST_F(RecordingHistoryTest, KeepsTheMostRecentAndListsThoseThatExist)
{
    QStringList files;
    for (int i = 0; i < RecordingHistory::kCapacity + 5; ++i) {
        files << file(QString("r%1.vro").arg(i));
        history.setPosition(files.last(), 30);
    }
    EXPECT_EQ(history.resumePosition(files.at(4), 60), 0u);  // dropped
    EXPECT_EQ(history.resumePosition(files.at(5), 60), 30u); // the oldest kept
    EXPECT_EQ(QSettings().value("recordings/size").toInt(), RecordingHistory::kCapacity);

    history.touch(files.at(10)); // opened again: first
    QFile::remove(files.last()); // gone: not listed
    const QStringList recent = history.recentFiles();
    ASSERT_EQ(recent.size(), RecordingHistory::kRecentShown);
    EXPECT_EQ(recent.first(), files.at(10));
    EXPECT_EQ(recent.at(1), files.at(files.size() - 2));
    EXPECT_EQ(history.recentFiles(2).size(), 2);
}

// Settings edited by hand or by another version: bad entries are dropped,
// and a huge count reads no more than the capacity.
TEST_F(RecordingHistoryTest, WhatIsReadBackIsChecked)
{
    const QString good = file("good.vro");
    {
        QSettings s;
        s.beginWriteArray("recordings");
        const QList<QStringList> rows = {{"", "10", "20"}, {good, "-1", "20"}, {good, "ten", "20"},
                                         {good, "10", "-3"}, {good, "10", "25"}};
        for (int i = 0; i < rows.size(); ++i) {
            s.setArrayIndex(i);
            s.setValue("path", rows[i][0]);
            s.setValue("size", rows[i][1]);
            s.setValue("position", rows[i][2]);
        }
        s.endArray();
        s.setValue("recordings/size", 2000000000);
    }
    EXPECT_EQ(history.resumePosition(good, 60), 25u);
    EXPECT_EQ(history.recentFiles(), QStringList{good});
    history.touch(file("other.vro"));
    EXPECT_EQ(QSettings().value("recordings/size").toInt(), 2);
}
