#include "Zip.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <zlib.h>

#include <gtest/gtest.h>

static Array<unsigned char, int> bytesOf(const std::vector<unsigned char>& v)
{
    Array<unsigned char, int> a;
    a.copy(0, v.data(), static_cast<int>(v.size()));
    return a;
}

TEST(ZipTest, EmptyInputIsRefusedAndOutputUntouched)
{
    Array<unsigned char, int> out;
    out.append(9);
    const unsigned char dummy = 0;
    EXPECT_FALSE(Zip::zipBuffer(&dummy, 0, out, Zip::COMPRESSION_DEFAULT));
    ASSERT_EQ(out.count(), 1);
    EXPECT_EQ(out[0], 9);
}

TEST(ZipTest, RoundTripGivesExactlyTheBytes)
{
    Array<unsigned char, int> packed, plain;
    ASSERT_TRUE(Zip::zipBuffer(reinterpret_cast<const unsigned char*>("abc"), 3, packed,
                               Zip::COMPRESSION_DEFAULT));
    // Plain zlib stream, as compress2 writes it: 0x78 header, no prefix of ours.
    EXPECT_EQ(packed[0], 0x78);
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    ASSERT_EQ(plain.count(), 3);
    EXPECT_EQ(std::memcmp(plain.data(), "abc", 3), 0);
}

TEST(ZipTest, HighlyCompressibleDataDoublesRoomUntilItFits)
{
    std::vector<unsigned char> big(200000, 'z');
    Array<unsigned char, int> packed, plain;
    ASSERT_TRUE(Zip::zipBuffer(big.data(), int(big.size()), packed, Zip::COMPRESSION_MAX));
    ASSERT_LT(packed.count() * 100, int(big.size()));
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    ASSERT_EQ(plain.count(), int(big.size()));
    EXPECT_EQ(std::memcmp(plain.data(), big.data(), big.size()), 0);
}

TEST(ZipTest, LargeExistingCapacityIsTheFirstGuessAndIsKept)
{
    std::vector<unsigned char> data(5000, 'q');
    Array<unsigned char, int> packed, plain;
    ASSERT_TRUE(Zip::zipBuffer(data.data(), int(data.size()), packed, 6));
    plain.reallocate(1 << 20);
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    EXPECT_EQ(plain.count(), 5000);
    EXPECT_EQ(plain.capacity(), 1 << 20);
}

TEST(ZipTest, GarbageAndTruncatedStreamsFailWithEmptyOutput)
{
    Array<unsigned char, int> packed, plain;
    plain.append(1);
    Array<unsigned char, int> garbage = bytesOf({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_FALSE(Zip::unzipBuffer(garbage, plain));
    EXPECT_EQ(plain.count(), 0);

    std::vector<unsigned char> data(3000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + i / 13);
    ASSERT_TRUE(Zip::zipBuffer(data.data(), int(data.size()), packed, 6));
    for (int cut : {1, 2, packed.count() / 2, packed.count() - 1}) {
        plain.append(1);
        EXPECT_FALSE(Zip::unzipBuffer(packed.data(), cut, plain)) << "cut at " << cut;
        EXPECT_EQ(plain.count(), 0);
    }
}

TEST(ZipTest, DecompressionBombIsStoppedAtTheCap)
{
    // 64 MiB of zeros compress to about 64 KiB; with a 1 MiB cap the
    // wrapper must give up instead of allocating the whole expansion.
    const uLong plainSize = 64u << 20;
    std::vector<unsigned char> zeros(plainSize, 0);
    std::vector<unsigned char> bomb(compressBound(plainSize));
    uLongf bombSize = bomb.size();
    ASSERT_EQ(compress2(bomb.data(), &bombSize, zeros.data(), plainSize, 9), Z_OK);
    zeros.clear();
    zeros.shrink_to_fit();

    Zip::setMaxUnzippedSize(1 << 20);
    Array<unsigned char, int> out;
    EXPECT_FALSE(Zip::unzipBuffer(bomb.data(), int(bombSize), out));
    EXPECT_EQ(out.count(), 0);
    EXPECT_LE(out.capacity(), (1 << 20) + 1);

    Zip::setMaxUnzippedSize(0); // back to the default cap: now it fits
    EXPECT_EQ(Zip::maxUnzippedSize(), Zip::DEFAULT_MAX_UNZIPPED_SIZE);
    EXPECT_TRUE(Zip::unzipBuffer(bomb.data(), int(bombSize), out));
    EXPECT_EQ(out.count(), int(plainSize));
}

// The whole-file forms, in a fresh temporary directory per test.
class ZipFileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/sp-zip-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string path(const char* name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

TEST_F(ZipFileTest, FileRoundTripStoresThePlainZlibStream)
{
    std::vector<unsigned char> plain(5000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<unsigned char>(i * 7 % 13);
    Array<unsigned char, int> in = bytesOf(plain);
    const std::string p = path("frame.z");
    ASSERT_TRUE(Zip::zipBuffer2File(in, p.c_str(), Zip::COMPRESSION_DEFAULT));

    // The file holds exactly what zlib's uncompress reads back.
    std::ifstream f(p, std::ios::binary);
    const std::vector<unsigned char> stored((std::istreambuf_iterator<char>(f)), {});
    std::vector<unsigned char> check(plain.size());
    uLongf checkLen = static_cast<uLongf>(check.size());
    ASSERT_EQ(uncompress(check.data(), &checkLen, stored.data(), stored.size()), Z_OK);
    EXPECT_EQ(check, plain);

    Array<unsigned char, int> out;
    ASSERT_TRUE(Zip::unzipFile2Buffer(p.c_str(), out));
    ASSERT_EQ(out.count(), static_cast<int>(plain.size()));
    EXPECT_EQ(std::memcmp(out.data(), plain.data(), plain.size()), 0);
}

TEST_F(ZipFileTest, FailuresCreateNothingAndLeaveOutputEmpty)
{
    Array<unsigned char, int> in = bytesOf({1, 2, 3});
    Array<unsigned char, int> empty;
    Array<unsigned char, int> out = bytesOf({9});

    EXPECT_FALSE(Zip::zipBuffer2File(in, nullptr, Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(Zip::zipBuffer2File(in, "", Zip::COMPRESSION_DEFAULT));
    // Nothing to compress: no file is written.
    EXPECT_FALSE(Zip::zipBuffer2File(empty, path("none").c_str(), Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(std::filesystem::exists(path("none")));

    testing::internal::CaptureStderr();
    // A file that cannot be written is reported, not passed off as success.
    EXPECT_FALSE(Zip::zipBuffer2File(in, path("no/dir/x").c_str(), Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(Zip::unzipFile2Buffer(path("missing").c_str(), out));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.count(), 0);

    EXPECT_FALSE(Zip::unzipFile2Buffer("", out));
    std::ofstream(path("garbage"), std::ios::binary) << "not a zlib stream";
    out = bytesOf({9});
    EXPECT_FALSE(Zip::unzipFile2Buffer(path("garbage").c_str(), out));
    EXPECT_EQ(out.count(), 0);
}
