// SPDX-License-Identifier: GPL-3.0-or-later
#include "File.h"

#include "BaseTestSupport.h"
#include "Exception.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// A fresh temporary directory per test; the working directory is restored
// when a test changed it.
class FileTest : public testing::Test
{
protected:
    void TearDown() override { ASSERT_EQ(chdir(m_cwd.c_str()), 0); }

    std::string path(const std::string& name) const { return m_root + "/" + name; }

    QTemporaryDir m_dir;
    const std::string m_root = m_dir.path().toStdString();
    const std::string m_cwd = std::filesystem::current_path().string();
};

const unsigned char* bytes(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

} // namespace

TEST_F(FileTest, SaveAndLoadRoundTripEveryByte)
{
    // A missing file: nothing loaded, nothing created.
    Array<unsigned char, int> data;
    data.append(1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(File::load(path("missing").c_str(), data));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(data.count(), 0);
    EXPECT_EQ(FileSystem::getBooleanAttributes(path("missing").c_str()), 0);

    const std::string p = path("data.bin");
    const unsigned char raw[] = {0, 1, 0xFF, 0, 'x'};
    ASSERT_TRUE(File::save(p.c_str(), raw, sizeof(raw)));
    ASSERT_TRUE(File::load(p.c_str(), data));
    ASSERT_EQ(data.count(), 5);
    EXPECT_EQ(std::memcmp(data.data(), raw, sizeof(raw)), 0);

    String s;
    ASSERT_TRUE(File::load(p.c_str(), s));
    EXPECT_EQ(s.length(), 5);
    EXPECT_EQ(s[4], 'x');
}

TEST_F(FileTest, SaveAndAppendWriteExactlyWhatTheyAreGiven)
{
    const std::string p = path("file");
    writeFile(p, "precious");
    EXPECT_FALSE(File::save("", bytes("x"), 1));
    EXPECT_FALSE(File::save(p.c_str(), nullptr, 4));
    EXPECT_FALSE(File::save(p.c_str(), bytes("x"), -1));
    EXPECT_FALSE(File::append(p.c_str(), nullptr, 4));
    EXPECT_EQ(readFile(p), "precious");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(File::save(path("no/such/dir/file").c_str(), bytes("x"), 1));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(FileSystem::getBooleanAttributes(path("no").c_str()), 0);

    EXPECT_TRUE(File::save(p.c_str(), bytes("unused"), 0));
    EXPECT_EQ(readFile(p), "");
    ASSERT_TRUE(File::append(path("log").c_str(), bytes("first,"), 6));
    ASSERT_TRUE(File::append(path("log").c_str(), bytes("second"), 6));
    EXPECT_EQ(readFile(path("log")), "first,second");
}

TEST_F(FileTest, LoadReadsPastASizeThatChangedSinceItWasAsked)
{
    // The kernel reports size 0 for this file, yet it has content: the same
    // situation as a file that grew between the size query and the read.
    Array<unsigned char, int> data;
    ASSERT_EQ(FileSystem::getFileLength("/proc/self/status"), 0);
    ASSERT_TRUE(File::load("/proc/self/status", data));
    EXPECT_NE(std::string(reinterpret_cast<const char*>(data.data()), data.count()).find("Name:"),
              std::string::npos);
}

TEST_F(FileTest, OpenReadWriteAndTheirExceptions)
{
    File f;
    EXPECT_THROW(f.open(path("missing").c_str(), FileMode::READ), FileCantOpenException);
    EXPECT_THROW(f.open(path("no/dir/x").c_str(), FileMode::CREATE), FileCantCreateException);

    const std::string p = path("rw");
    f.open(p.c_str(), FileMode::CREATE);
    EXPECT_EQ(f.write("0123456789xx", 12), 12);
    EXPECT_TRUE(FileSystem::setLength(f.getDescriptor(), 10));
    EXPECT_EQ(FileSystem::getLength(f.getDescriptor()), 10);
    f.close();
    EXPECT_THROW(f.write("x", 1), FileCantWriteException);

    // Opening for reading leaves the content alone; reads stop at the end.
    f.open(p.c_str(), FileMode::READ);
    char buf[32] = {};
    EXPECT_EQ(f.read(buf, 4), 4);
    EXPECT_EQ(FileSystem::available(f.getDescriptor()), 6);
    EXPECT_EQ(f.read(buf + 4, 100), 6);
    EXPECT_STREQ(buf, "0123456789");
    EXPECT_EQ(f.read(buf, 100), 0);
    EXPECT_TRUE(FileSystem::isEOF(f.getDescriptor()));
    f.close();
    EXPECT_EQ(readFile(p), "0123456789");
}

TEST_F(FileTest, RelativePathsStartAtTheWorkingDirectory)
{
    ASSERT_EQ(chdir("/tmp"), 0);
    EXPECT_STREQ(FileSystem::makeAbsolute("a/b").c_str(), "/tmp/a/b");

    ASSERT_EQ(chdir(m_root.c_str()), 0);
    ASSERT_TRUE(File::save("rel.bin", bytes("r"), 1));
    EXPECT_EQ(readFile(path("rel.bin")), "r");

    EXPECT_STREQ(FileSystem::canonicalize("/a/./b/../c//d/").c_str(), "/a/c/d");
    EXPECT_STREQ(FileSystem::canonicalize("/../..").c_str(), "/");
    EXPECT_STREQ(FileSystem::canonicalize("sub/../x").c_str(), path("x").c_str());
}

TEST_F(FileTest, PathQueriesAndChanges)
{
    const std::string f = path("f");
    writeFile(f, "12345");
    EXPECT_EQ(FileSystem::getBooleanAttributes(m_root.c_str()), 5);
    EXPECT_EQ(FileSystem::getBooleanAttributes(f.c_str()), 3);
    EXPECT_EQ(FileSystem::getFileLength(path("none").c_str()), 0);
    EXPECT_EQ(FileSystem::getFileLength(f.c_str()), 5);

    EXPECT_TRUE(FileSystem::setLastModifiedTime(f.c_str(), 1299258309120LL));
    EXPECT_EQ(FileSystem::getLastModifiedTime(f.c_str()), 1299258309120LL);

    const std::string a = path("a");
    EXPECT_TRUE(FileSystem::createFileExclusively(a.c_str()));
    EXPECT_FALSE(FileSystem::createFileExclusively(a.c_str()));
    EXPECT_TRUE(FileSystem::renameFile(a.c_str(), path("b").c_str()));
    EXPECT_EQ(FileSystem::getBooleanAttributes(a.c_str()), 0);
    EXPECT_TRUE(FileSystem::deleteFile(path("b").c_str()));
    EXPECT_FALSE(FileSystem::deleteFile(path("b").c_str()));
}

TEST_F(FileTest, CreateDirectoryMakesTheParentsToo)
{
    const std::string deep = path("x/y/z");
    EXPECT_TRUE(FileSystem::createDirectory(deep.c_str()));
    EXPECT_EQ(FileSystem::getBooleanAttributes(deep.c_str()), 5);
    EXPECT_TRUE(FileSystem::createDirectory(deep.c_str()));

    writeFile(path("file"), "f");
    EXPECT_FALSE(FileSystem::createDirectory(path("file/sub").c_str()));

    Array<String, int> names;
    ASSERT_TRUE(FileSystem::listDirectory(m_root.c_str(), names));
    std::vector<std::string> listed;
    for (int i = 0; i < names.count(); ++i)
        listed.push_back(names[i].c_str());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"file", "x"}));
    EXPECT_FALSE(FileSystem::listDirectory(path("none").c_str(), names));
    EXPECT_EQ(names.count(), 0);
}

TEST_F(FileTest, DelTreeRemovesTheTreeButNothingALinkPointsTo)
{
    const std::string outside = path("outside");
    ASSERT_TRUE(FileSystem::createDirectory(outside.c_str()));
    writeFile(outside + "/keep.txt", "keep");

    const std::string tree = path("tree");
    ASSERT_TRUE(FileSystem::createDirectory((tree + "/a/b").c_str()));
    writeFile(tree + "/top.txt", "1");
    writeFile(tree + "/a/b/deep.txt", "2");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/link").c_str()), 0);

    EXPECT_TRUE(FileSystem::delTree(tree.c_str()));
    EXPECT_EQ(FileSystem::getBooleanAttributes(tree.c_str()), 0);
    EXPECT_EQ(readFile(outside + "/keep.txt"), "keep");
    EXPECT_FALSE(FileSystem::delTree(tree.c_str()));
}
