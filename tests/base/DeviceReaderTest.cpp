// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceReader.h"

#include <QBuffer>
#include <QByteArray>

#include <gtest/gtest.h>

#include "Exception.h"

namespace {

// A device that hands out at most `chunk` bytes a read (as pipes and some
// files do) and fails once its position reaches `failAt`.
class FlakyDevice : public QIODevice
{
public:
    FlakyDevice(QByteArray data, qint64 chunk, qint64 failAt)
        : m_data(std::move(data)), m_chunk(chunk), m_failAt(failAt)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_data.size(); }

protected:
    qint64 readData(char* dst, qint64 max) override
    {
        if (pos() >= m_failAt) {
            setErrorString(QStringLiteral("disk on fire"));
            return -1;
        }
        const qint64 n = std::min({max, m_chunk, qint64(m_data.size()) - pos()});
        std::memcpy(dst, m_data.constData() + pos(), size_t(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_chunk, m_failAt;
};

} // namespace

TEST(DeviceReaderTest, ReadsExactlyWhatIsAskedAcrossShortReads)
{
    FlakyDevice device(QByteArray("0123456789"), 3, 1000);
    DeviceReader reader(&device);
    ASSERT_TRUE(reader.isOpen());
    unsigned char buf[8] = {};
    ASSERT_TRUE(reader.readExactly(buf, 7));
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buf), 7), QByteArray("0123456"));
    EXPECT_EQ(reader.pos(), 7);
    EXPECT_TRUE(reader.readExactly(buf, 0));

    // Fewer bytes left than asked: false, and the buffer form ends empty.
    Array<unsigned char, int> block;
    EXPECT_FALSE(reader.readExactly(block, 4));
    EXPECT_EQ(block.count(), 0);
    ASSERT_TRUE(reader.seek(8));
    ASSERT_TRUE(reader.readExactly(block, 2));
    EXPECT_EQ(block[1], '9');

    DeviceReader none;
    EXPECT_FALSE(none.isOpen());
    EXPECT_THROW(none.readExactly(buf, 1), FileCantReadException);
}

TEST(DeviceReaderTest, AReadErrorNamesItsOffset)
{
    FlakyDevice device(QByteArray(100, 'x'), 16, 40);
    DeviceReader reader(&device);
    unsigned char buf[64];
    try {
        reader.readExactly(buf, 64);
        FAIL() << "no exception";
    } catch (const FileCantReadException& e) {
        EXPECT_EQ(e.getReason(), QStringLiteral("read error at offset 48: disk on fire"));
    }
}
