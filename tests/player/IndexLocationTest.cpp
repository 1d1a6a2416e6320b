// SPDX-License-Identifier: GPL-3.0-or-later
// Where indexes are looked for and written: beside the recording, in the
// cache folder under a name that follows the recording, nowhere when neither
// can be written; the cache trimmed least recently used first.

#include "IndexLocation.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "FileBytes.h"

#include "ReadOnlyFolder.h"

namespace {

bool setAge(const QString& path, int secondsAgo)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly)
        && f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-secondsAgo),
                         QFileDevice::FileModificationTime);
}

class IndexLocationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(dir.filePath("rec")));
        recording = dir.filePath("rec/a.vro");
        ASSERT_TRUE(writeBytes(recording, "recording"));
    }

    QTemporaryDir dir;
    QString recording;
};

} // namespace

TEST_F(IndexLocationTest, BesideFirstThenTheCacheUnderANameThatFollowsTheRecording)
{
    const IndexLocation at(dir.filePath("cache"));
    EXPECT_EQ(IndexLocation::besidePath(recording), recording + "x");
    EXPECT_EQ(at.placeFor(recording), recording + "x"); // the folder can be written
    EXPECT_TRUE(at.existing(recording).isEmpty());

    const QString cached = at.cachePath(recording);
    ASSERT_TRUE(cached.startsWith(dir.filePath("cache") + "/")) << cached.toStdString();
    EXPECT_TRUE(cached.endsWith(".index"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("cache")));
    ASSERT_TRUE(writeBytes(cached, "index"));
    EXPECT_TRUE(at.inCache(cached));
    EXPECT_FALSE(at.inCache(recording + "x"));
    EXPECT_EQ(at.existing(recording), QStringList{cached});
    ASSERT_TRUE(writeBytes(recording + "x", "index"));
    EXPECT_EQ(at.existing(recording), QStringList({recording + "x", cached}));

    // The same file through a relative path has the same name; another
    // path, modification time or size, another one.
    EXPECT_EQ(at.cachePath(QDir::current().relativeFilePath(recording)), cached);
    ASSERT_TRUE(QFile::copy(recording, dir.filePath("rec/b.vro")));
    EXPECT_NE(at.cachePath(dir.filePath("rec/b.vro")), cached);
    ASSERT_TRUE(setAge(recording, 3600));
    const QString older = at.cachePath(recording);
    ASSERT_TRUE(writeBytes(recording, "recording, longer") && setAge(recording, 3600));
    EXPECT_EQ(QSet<QString>({cached, older, at.cachePath(recording)}).size(), 3);
    EXPECT_TRUE(at.cachePath(dir.filePath("rec/missing.vro")).isEmpty());
}

TEST_F(IndexLocationTest, AFolderThatCannotBeWrittenSendsTheIndexToTheCacheOrNowhere)
{
    const QString cache = dir.filePath("user/cache/index");
    const ReadOnlyFolder readOnly(dir.filePath("rec"));
    ASSERT_TRUE(readOnly.ok());

    const IndexLocation at(cache);
    EXPECT_EQ(at.placeFor(recording), at.cachePath(recording));
    EXPECT_TRUE(QFileInfo(cache).isDir()); // made on the way

    // A cache folder that cannot be made, or made but not written, or none
    // at all: nowhere.
    ASSERT_TRUE(writeBytes(dir.filePath("file"), "in the way"));
    EXPECT_TRUE(IndexLocation(dir.filePath("file/index")).placeFor(recording).isEmpty());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("locked")));
    const ReadOnlyFolder lockedCache(dir.filePath("locked"));
    ASSERT_TRUE(lockedCache.ok());
    EXPECT_TRUE(IndexLocation(dir.filePath("locked")).placeFor(recording).isEmpty());
    EXPECT_TRUE(IndexLocation(QString()).placeFor(recording).isEmpty());
}

TEST_F(IndexLocationTest, TheCacheLosesItsLeastRecentlyUsedIndexesFirst)
{
    const QString cache = dir.filePath("cache");
    ASSERT_TRUE(QDir().mkpath(cache));
    const IndexLocation at(cache);
    // Four indexes of 100 bytes, the first the oldest; a build in progress
    // and a file of another kind, both old, stay whatever happens.
    QStringList names;
    for (int i = 0; i < 4; ++i) {
        names << cache + QStringLiteral("/%1.index").arg(i);
        ASSERT_TRUE(writeBytes(names.last(), QByteArray(100, 'i')));
        ASSERT_TRUE(setAge(names.last(), 1000 - i * 100));
    }
    const QString part = cache + "/4.index.part", other = cache + "/notes.txt";
    for (const QString& f : {part, other}) {
        ASSERT_TRUE(writeBytes(f, QByteArray(1000, 'p')));
        ASSERT_TRUE(setAge(f, 5000));
    }
    auto left = [&] {
        QStringList present;
        for (const QString& n : names)
            present << (QFile::exists(n) ? "+" : "-");
        return present.join("");
    };

    at.evict(400, names[0]);
    EXPECT_EQ(left(), "++++"); // at the limit
    at.evict(250, names[0]); // the oldest is kept: the next two go
    EXPECT_EQ(left(), "+--+");
    EXPECT_TRUE(QFile::exists(part) && QFile::exists(other));

    // A lookup makes the oldest the most recently used; a new index then
    // pushes out the other one.
    const QString looked = at.cachePath(recording);
    ASSERT_TRUE(QFile::rename(names[0], looked));
    names[0] = looked;
    ASSERT_EQ(at.existing(recording), QStringList{looked});
    names << cache + "/new.index";
    ASSERT_TRUE(writeBytes(names.last(), QByteArray(100, 'n')));
    at.noteWritten(names.last(), 200);
    EXPECT_EQ(left(), "+---+");
    // The one just written stays even when it alone is past the limit.
    at.noteWritten(names.last(), 50);
    EXPECT_EQ(left(), "----+");
}
