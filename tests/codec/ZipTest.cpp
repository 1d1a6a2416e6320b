#include "Zip.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <zlib.h>

#include <gtest/gtest.h>

namespace {

Array<unsigned char, int> arrayOf(const std::vector<unsigned char>& v)
{
    Array<unsigned char, int> a;
    a.copy(0, v.data(), static_cast<int>(v.size()));
    return a;
}

bool holds(const Array<unsigned char, int>& a, const std::vector<unsigned char>& v)
{
    return a.count() == static_cast<int>(v.size()) && std::memcmp(a.data(), v.data(), v.size()) == 0;
}

} // namespace

TEST(ZipTest, RoundTripsGiveExactlyTheBytes)
{
    // Nothing to compress: refused, out untouched.
    Array<unsigned char, int> packed, plain;
    packed.append(9);
    EXPECT_FALSE(Zip::zipBuffer(reinterpret_cast<const unsigned char*>("x"), 0, packed,
                                Zip::COMPRESSION_DEFAULT));
    EXPECT_TRUE(holds(packed, {9}));

    ASSERT_TRUE(Zip::zipBuffer(reinterpret_cast<const unsigned char*>("abc"), 3, packed,
                               Zip::COMPRESSION_DEFAULT));
    // Plain zlib stream, as compress2 writes it: 0x78 header, no prefix of ours.
    EXPECT_EQ(packed[0], 0x78);
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    EXPECT_TRUE(holds(plain, {'a', 'b', 'c'}));

    // Expanding 100 times and more: the room is doubled until it fits.
    const std::vector<unsigned char> big(200000, 'z');
    ASSERT_TRUE(Zip::zipBuffer(big.data(), int(big.size()), packed, Zip::COMPRESSION_MAX));
    ASSERT_LT(packed.count() * 100, int(big.size()));
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    EXPECT_TRUE(holds(plain, big));

    // A large existing capacity is the first guess and is kept.
    const std::vector<unsigned char> small(5000, 'q');
    ASSERT_TRUE(Zip::zipBuffer(small.data(), int(small.size()), packed, 6));
    plain.reallocate(1 << 20);
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    EXPECT_TRUE(holds(plain, small));
    EXPECT_EQ(plain.capacity(), 1 << 20);
}

TEST(ZipTest, GarbageAndTruncatedStreamsFailWithEmptyOutput)
{
    Array<unsigned char, int> packed, plain, garbage = arrayOf({1, 2, 3, 4, 5, 6, 7, 8});
    plain.append(1);
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
    zeros = std::vector<unsigned char>();

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

TEST(ZipTest, WholeFileForms)
{
    char pattern[] = "/tmp/sp-zip-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    auto path = [&](const char* name) { return dir + "/" + name; };

    // The file holds exactly the plain zlib stream that uncompress reads.
    std::vector<unsigned char> plain(5000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<unsigned char>(i * 7 % 13);
    Array<unsigned char, int> in = arrayOf(plain), empty, out;
    ASSERT_TRUE(Zip::zipBuffer2File(in, path("frame.z").c_str(), Zip::COMPRESSION_DEFAULT));
    std::ifstream f(path("frame.z"), std::ios::binary);
    const std::vector<unsigned char> stored((std::istreambuf_iterator<char>(f)), {});
    std::vector<unsigned char> check(plain.size());
    uLongf checkLen = static_cast<uLongf>(check.size());
    ASSERT_EQ(uncompress(check.data(), &checkLen, stored.data(), stored.size()), Z_OK);
    EXPECT_EQ(check, plain);
    ASSERT_TRUE(Zip::unzipFile2Buffer(path("frame.z").c_str(), out));
    EXPECT_TRUE(holds(out, plain));

    // Failures create nothing and leave the output empty; a file that
    // cannot be written is reported, not passed off as success.
    in = arrayOf({1, 2, 3});
    EXPECT_FALSE(Zip::zipBuffer2File(in, nullptr, Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(Zip::zipBuffer2File(in, "", Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(Zip::zipBuffer2File(empty, path("none").c_str(), Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(std::filesystem::exists(path("none")));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Zip::zipBuffer2File(in, path("no/dir/x").c_str(), Zip::COMPRESSION_DEFAULT));
    EXPECT_FALSE(Zip::unzipFile2Buffer(path("missing").c_str(), out));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.count(), 0);
    EXPECT_FALSE(Zip::unzipFile2Buffer("", out));
    std::ofstream(path("garbage"), std::ios::binary) << "not a zlib stream";
    out = arrayOf({9});
    EXPECT_FALSE(Zip::unzipFile2Buffer(path("garbage").c_str(), out));
    EXPECT_EQ(out.count(), 0);

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
