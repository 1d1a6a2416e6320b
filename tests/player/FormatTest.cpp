// SPDX-License-Identifier: GPL-3.0-or-later
// The recording container's file header.

#include "RecordFileHeader.h"

#include <gtest/gtest.h>

#include "Exception.h"
#include "FormatBytes.h"


TEST(RecordFileHeaderTest, OnlyTheMagicIsCheckedAndTheSessionIdEndsAtANul)
{
    // Whatever the other bytes, the magic decides; the big-endian spelling,
    // near misses and files shorter than the header are refused.
    QByteArray any = fileHeader(0, "0123456789abcdefXYZ"); // id cut to 16
    for (int i = 4; i < 8; ++i)
        any[i] = static_cast<char>(0xA5 ^ i);
    // No NUL in the field: all 16 characters; else up to the NUL.
    EXPECT_EQ(Recording(any).header.sessionId(), QStringLiteral("0123456789abcdef"));
    EXPECT_EQ(Recording(fileHeader(0, "abc")).header.sessionId(), QStringLiteral("abc"));
    for (quint64 magic : {0xEFCDAB77ULL, 0x78ABCDEFULL, 0x77ABCDEEULL})
        EXPECT_THROW(Recording{fileHeader(0, "", magic)}, IncorrectFileException) << magic;
    for (int n : {0, 4, 31})
        EXPECT_THROW(Recording{fileHeader().left(n)}, IncorrectFileException) << n;
}
