// SPDX-License-Identifier: GPL-3.0-or-later
#include "Zip.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const Array<unsigned char, int>& a) { return Bytes(a.data(), a.data() + a.count()); }

} // namespace

TEST(ZipTest, RoundTripsAndDamagedStreams)
{
    // Expanding 100 times and more: the room is doubled until it fits. The
    // stream is plain zlib, as compress2 writes it (0x78 header, no prefix).
    Array<unsigned char, int> packed, plain;
    const Bytes big(200000, 'z');
    ASSERT_TRUE(Zip::zipBuffer(big.data(), int(big.size()), packed, Zip::COMPRESSION_MAX));
    EXPECT_EQ(packed[0], 0x78);
    ASSERT_LT(packed.count() * 100, int(big.size()));
    ASSERT_TRUE(Zip::unzipBuffer(packed, plain));
    EXPECT_EQ(bytesOf(plain), big);

    // The fast compressor writes the same format: zlib itself reads it, at
    // every level (out of range ones clamped); an empty input is refused.
    for (int level : {-1, 1, 2, 6, 12, 99}) {
        ASSERT_TRUE(Zip::zipBufferFast(big.data(), int(big.size()), packed, level)) << level;
        EXPECT_EQ(packed[0], 0x78) << level;
        Bytes inflated(big.size() + 1);
        uLongf n = inflated.size();
        ASSERT_EQ(uncompress(inflated.data(), &n, packed.data(), uLong(packed.count())), Z_OK);
        inflated.resize(n);
        EXPECT_EQ(inflated, big) << level;
    }
    EXPECT_FALSE(Zip::zipBufferFast(big.data(), 0, packed, 1));

    // So does the fastest one, for data that compresses, data that does not
    // (stored blocks, the most room it needs) and a single byte. On amd64
    // it is ISA-L's: a build that went without it is slower than it should be.
#if defined(__x86_64__)
    EXPECT_TRUE(Zip::fastestIsIsal());
#endif
    Bytes noise(300000);
    unsigned int seed = 5;
    for (unsigned char& b : noise)
        b = static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 16);
    for (const Bytes& input : {big, noise, Bytes(1, 'x')}) {
        ASSERT_TRUE(Zip::zipBufferFastest(input.data(), int(input.size()), packed));
        EXPECT_EQ(packed[0], 0x78);
        Bytes inflated(input.size() + 1);
        uLongf n = inflated.size();
        ASSERT_EQ(uncompress(inflated.data(), &n, packed.data(), uLong(packed.count())), Z_OK);
        inflated.resize(n);
        EXPECT_EQ(inflated, input);
    }
    EXPECT_FALSE(Zip::zipBufferFastest(big.data(), 0, packed));

    // Garbage and every kind of truncation fail with an empty output.
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + i / 13);
    ASSERT_TRUE(Zip::zipBuffer(data.data(), int(data.size()), packed, 6));
    const Bytes garbage = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(Zip::unzipBuffer(garbage.data(), 8, plain));
    EXPECT_EQ(plain.count(), 0);
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
    Bytes zeros(plainSize, 0), bomb(compressBound(plainSize));
    uLongf bombSize = bomb.size();
    ASSERT_EQ(compress2(bomb.data(), &bombSize, zeros.data(), plainSize, 9), Z_OK);
    zeros = Bytes();

    Zip::setMaxUnzippedSize(1 << 20);
    Array<unsigned char, int> out;
    EXPECT_FALSE(Zip::unzipBuffer(bomb.data(), int(bombSize), out));
    EXPECT_EQ(out.count(), 0);
    EXPECT_LE(out.capacity(), (1 << 20) + 1);

    Zip::setMaxUnzippedSize(0); // back to the default cap: now it fits
    EXPECT_TRUE(Zip::unzipBuffer(bomb.data(), int(bombSize), out));
    EXPECT_EQ(out.count(), int(plainSize));
}

TEST(ZipTest, WholeFileForms)
{
    const std::string path = testing::TempDir() + "sp-zip-test.z";
    Array<unsigned char, int> in, out;
    for (int i = 0; i < 5000; ++i)
        in.append(static_cast<unsigned char>(i * 7 % 13));
    ASSERT_TRUE(Zip::zipBuffer2File(in, path.c_str(), Zip::COMPRESSION_DEFAULT));
    ASSERT_TRUE(Zip::unzipFile2Buffer(path.c_str(), out));
    EXPECT_EQ(bytesOf(out), bytesOf(in));

    std::remove(path.c_str());
    // A file that cannot be written is reported, not passed off as success.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Zip::zipBuffer2File(in, (path + ".missing/x").c_str(), Zip::COMPRESSION_DEFAULT));
    testing::internal::GetCapturedStderr();
}
