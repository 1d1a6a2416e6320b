#include "File.h"

#include "Exception.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// A fresh temporary directory per test, removed afterwards; the working
// directory is restored when a test changed it.
class FileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/sp-file-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        char* cwd = getcwd(nullptr, 0);
        m_cwd = cwd;
        free(cwd);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(m_cwd.c_str()), 0);
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    static void writeText(const std::string& p, const std::string& text)
    {
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string readText(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string text(const Array<unsigned char, int>& a)
    {
        return std::string(reinterpret_cast<const char*>(a.data()), a.count());
    }

    std::string m_dir;
    std::string m_cwd;
};

const unsigned char* bytes(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

} // namespace

TEST_F(FileTest, LoadOfAMissingFileFailsWithADiagnostic)
{
    Array<unsigned char, int> data;
    data.append(1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(File::load(path("missing").c_str(), data));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("File::load: Exception"), std::string::npos) << err;
    EXPECT_EQ(data.count(), 0);
    // Reading never creates anything.
    EXPECT_EQ(FileSystem::getBooleanAttributes(path("missing").c_str()), 0);
}

TEST_F(FileTest, SaveAndLoadRoundTripEveryByte)
{
    const std::string p = path("data.bin");
    const unsigned char raw[] = {0, 1, 0xFF, 0, 'x'};
    ASSERT_TRUE(File::save(p.c_str(), raw, sizeof(raw)));
    Array<unsigned char, int> data;
    ASSERT_TRUE(File::load(p.c_str(), data));
    ASSERT_EQ(data.count(), 5);
    EXPECT_EQ(std::memcmp(data.data(), raw, sizeof(raw)), 0);

    String s;
    ASSERT_TRUE(File::load(p.c_str(), s));
    EXPECT_EQ(s.length(), 5);
    EXPECT_EQ(s[4], 'x');
}

TEST_F(FileTest, SaveOfNothingLeavesAnEmptyFile)
{
    const std::string p = path("empty");
    writeText(p, "old content");
    EXPECT_TRUE(File::save(p.c_str(), bytes("unused"), 0));
    EXPECT_EQ(FileSystem::getFileLength(p.c_str()), 0);
    EXPECT_EQ(FileSystem::getBooleanAttributes(p.c_str()), 3);
    Array<unsigned char, int> data;
    EXPECT_TRUE(File::load(p.c_str(), data));
    EXPECT_EQ(data.count(), 0);
}

TEST_F(FileTest, SaveRefusesBadRequestsWithoutTouchingTheFile)
{
    const std::string p = path("keep");
    writeText(p, "precious");
    EXPECT_FALSE(File::save(nullptr, bytes("x"), 1));
    EXPECT_FALSE(File::save("", bytes("x"), 1));
    EXPECT_FALSE(File::save(p.c_str(), nullptr, 4));
    EXPECT_FALSE(File::save(p.c_str(), bytes("x"), -1));
    EXPECT_FALSE(File::append(p.c_str(), nullptr, 4));
    EXPECT_EQ(readText(p), "precious");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(File::save(path("no/such/dir/file").c_str(), bytes("x"), 1));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(FileSystem::getBooleanAttributes(path("no").c_str()), 0);
}

TEST_F(FileTest, AppendKeepsBlocksInOrder)
{
    const std::string p = path("log");
    ASSERT_TRUE(File::append(p.c_str(), bytes("first,"), 6));
    ASSERT_TRUE(File::append(p.c_str(), bytes("second"), 6));
    EXPECT_EQ(readText(p), "first,second");
}

TEST_F(FileTest, LoadReadsPastASizeThatChangedSinceItWasAsked)
{
    // The kernel reports size 0 for this file, yet it has content: the same
    // situation as a file that grew between the size query and the read.
    Array<unsigned char, int> data;
    ASSERT_EQ(FileSystem::getFileLength("/proc/self/status"), 0);
    ASSERT_TRUE(File::load("/proc/self/status", data));
    EXPECT_NE(text(data).find("Name:"), std::string::npos);

    // A large file comes back whole.
    const std::string p = path("big");
    std::string big(300000, 'a');
    big.back() = 'z';
    writeText(p, big);
    ASSERT_TRUE(File::load(p.c_str(), data));
    EXPECT_EQ(text(data), big);
}

TEST_F(FileTest, OpenReadWriteAndTheirExceptions)
{
    File f;
    EXPECT_THROW(f.open(path("missing").c_str(), FileMode::READ), FileCantOpenException);
    EXPECT_THROW(f.open(path("no/dir/x").c_str(), FileMode::CREATE), FileCantCreateException);
    EXPECT_THROW(f.open(nullptr, FileMode::READ), FileCantOpenException);
    EXPECT_EQ(FileSystem::getBooleanAttributes(path("missing").c_str()), 0);

    const std::string p = path("rw");
    f.open(p.c_str(), FileMode::CREATE);
    EXPECT_EQ(f.write("0123456789", 10), 10);
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
    EXPECT_EQ(readText(p), "0123456789");
}

TEST_F(FileTest, RelativePathsStartAtTheWorkingDirectory)
{
    ASSERT_EQ(chdir("/tmp"), 0);
    EXPECT_STREQ(FileSystem::makeAbsolute("a/b").c_str(), "/tmp/a/b");
    EXPECT_STREQ(FileSystem::makeAbsolute("/x/y").c_str(), "/x/y");

    ASSERT_EQ(chdir(m_dir.c_str()), 0);
    ASSERT_TRUE(File::save("rel.bin", bytes("r"), 1));
    EXPECT_EQ(readText(path("rel.bin")), "r");

    EXPECT_STREQ(FileSystem::canonicalize("/a/./b/../c//d/").c_str(), "/a/c/d");
    EXPECT_STREQ(FileSystem::canonicalize("/../..").c_str(), "/");
    EXPECT_STREQ(FileSystem::canonicalize("sub/../x").c_str(), path("x").c_str());
}

TEST_F(FileTest, AttributesAndLengths)
{
    const std::string f = path("f");
    writeText(f, "12345");
    EXPECT_EQ(FileSystem::getBooleanAttributes(m_dir.c_str()), 5);
    EXPECT_EQ(FileSystem::getBooleanAttributes(f.c_str()), 3);
    EXPECT_EQ(FileSystem::getBooleanAttributes(path("none").c_str()), 0);
    EXPECT_EQ(FileSystem::getFileLength(nullptr), -1);
    EXPECT_EQ(FileSystem::getFileLength(path("none").c_str()), 0);
    EXPECT_EQ(FileSystem::getFileLength(f.c_str()), 5);

    EXPECT_TRUE(FileSystem::setLastModifiedTime(f.c_str(), 1299258309120LL));
    EXPECT_EQ(FileSystem::getLastModifiedTime(f.c_str()), 1299258309120LL);

    EXPECT_TRUE(FileSystem::setReadOnly(f.c_str()));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
}

TEST_F(FileTest, CreateRenameAndDeleteFiles)
{
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

    writeText(path("file"), "f");
    EXPECT_FALSE(FileSystem::createDirectory(path("file/sub").c_str()));

    Array<String, int> names;
    ASSERT_TRUE(FileSystem::listDirectory(m_dir.c_str(), names));
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
    writeText(outside + "/keep.txt", "keep");

    const std::string tree = path("tree");
    ASSERT_TRUE(FileSystem::createDirectory((tree + "/a/b").c_str()));
    writeText(tree + "/top.txt", "1");
    writeText(tree + "/a/b/deep.txt", "2");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/link").c_str()), 0);

    EXPECT_TRUE(FileSystem::delTree(tree.c_str()));
    EXPECT_EQ(FileSystem::getBooleanAttributes(tree.c_str()), 0);
    EXPECT_EQ(readText(outside + "/keep.txt"), "keep");
    EXPECT_FALSE(FileSystem::delTree(tree.c_str()));
}

TEST_F(FileTest, DescriptorLengthCanBeChanged)
{
    const std::string p = path("len");
    File f;
    f.open(p.c_str(), FileMode::CREATE);
    f.write("abcdef", 6);
    EXPECT_EQ(FileSystem::getLength(f.getDescriptor()), 6);
    EXPECT_TRUE(FileSystem::setLength(f.getDescriptor(), 2));
    EXPECT_EQ(FileSystem::getLength(f.getDescriptor()), 2);
    EXPECT_FALSE(FileSystem::setLength(f.getDescriptor(), -1));
    EXPECT_EQ(FileSystem::getLength(-1), -1);
}
