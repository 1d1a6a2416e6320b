// SPDX-License-Identifier: GPL-3.0-or-later
// The one unit reader: plausible units, resynchronisation past damage, cut-off
// tails; and the header walk that finds where a recording really ends.

#include "RecordReader.h"
#include "RecordScan.h"

#include <QBuffer>

#include <random>

#include <gtest/gtest.h>

#include "FormatBytes.h"
#include "Zip.h"

// Failures show the texts compared.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

// Everything a reader reports over `bytes`, in order: "u<time>" for a unit,
// "damage <from>-<to> <problem> <timeBefore>-<timeAfter>" (offsets; "end"
// for a stretch to the end), "cut" and "end".
QStringList readAll(const QByteArray& bytes)
{
    Recording r(bytes);
    QStringList out;
    for (int guard = 0; guard < 1000; ++guard) {
        const RecordReader::Result result = r.next();
        if (result == RecordReader::Unit) {
            out << QStringLiteral("u%1").arg(r.unitHdr.m_time);
        } else if (result == RecordReader::Damaged) {
            const RecordReader::Damage& d = r.reader.damage();
            out << QStringLiteral("damage %1-%2 %3 %4-%5")
                       .arg(d.from)
                       .arg(d.toEnd ? QStringLiteral("end") : QString::number(d.to))
                       .arg(d.problem)
                       .arg(d.timeBefore)
                       .arg(d.timeAfter);
        } else {
            out << (result == RecordReader::Truncated ? QStringLiteral("cut") : QStringLiteral("end"));
            break;
        }
    }
    return out;
}

QString damage(qint64 from, qint64 to, RecordReader::Problem p, quint64 before, quint64 after)
{
    return QStringLiteral("damage %1-%2 %3 %4-%5").arg(from).arg(to).arg(p).arg(before).arg(after);
}

QByteArray noise(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    QByteArray out(n, '\0');
    for (char& c : out)
        c = static_cast<char>(rng() & 0xFF);
    return out;
}

struct DamagedHeader
{
    const char* name;
    QByteArray unit;
    RecordReader::Problem problem;
};

// The name ctest shows for a row.
void PrintTo(const DamagedHeader& d, std::ostream* os) { *os << d.name; }

class DamagedHeaders : public ::testing::TestWithParam<DamagedHeader>
{
};

// Times well past the margin, so that a jump backwards can be tried too.
constexpr quint64 T0 = 200000;

} // namespace

TEST_P(DamagedHeaders, ArePassedOverToTheNextPlausibleUnit)
{
    const QByteArray a = unit(1, T0, "payload A"), b = unit(5, T0 + 100, "payload B");
    const QByteArray c = unit(2, T0 + 200, "payload C"), d = unit(3, T0 + 300, "payload D");
    const QByteArray bytes = fileHeader() + a + b + GetParam().unit + c + d;
    const qint64 x = 32 + a.size() + b.size();
    EXPECT_EQ(readAll(bytes),
              (QStringList{"u200000", "u200100",
                           damage(x, x + GetParam().unit.size(), GetParam().problem, T0 + 100, T0 + 200),
                           "u200200", "u200300", "end"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedHeaders,
    ::testing::Values(
        DamagedHeader{"kind0", unit(0, T0 + 150, "xx"), RecordReader::UnknownKind},
        DamagedHeader{"kind6", unit(6, T0 + 150, "xx"), RecordReader::UnknownKind},
        DamagedHeader{"kind16", unit(16, T0 + 150, "xx"), RecordReader::UnknownKind},
        DamagedHeader{"kind22", unit(22, T0 + 150, "xx"), RecordReader::UnknownKind},
        DamagedHeader{"kindFF", unit(0xFF, T0 + 150, "xx"), RecordReader::UnknownKind},
        DamagedHeader{"overBound", unit(2, T0 + 150, "xx", RecordReader::MAX_PAYLOAD_SIZE + 1LL),
                      RecordReader::SizeOverBound},
        DamagedHeader{"pastEnd", unit(2, T0 + 150, "xx", 100000), RecordReader::SizePastEnd},
        DamagedHeader{"hugeTime", unit(2, 9009206374834009073ULL, "xx"), RecordReader::TimeJump},
        DamagedHeader{"jumpForward", unit(2, T0 + 100 + 120000, "xx"), RecordReader::TimeJump},
        DamagedHeader{"jumpBack", unit(2, T0 + 100 - 60001, "xx"), RecordReader::TimeJump},
        DamagedHeader{"randomBytes", noise(4096, 7), RecordReader::UnknownKind}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordReaderTest, JumpsTheNextUnitConfirmsAndSmallStepsBackAreNotDamage)
{
    // Within the margin either way; a jump the next unit agrees with, forward
    // and back; a last unit that ends exactly where the file ends.
    const QByteArray bytes = fileHeader() + unit(1, 0, "a") + unit(1, 60000, "b")
        + unit(1, 150000, "c") + unit(1, 150100, "d") + unit(1, 145000, "e") + unit(1, 200, "f")
        + unit(1, 300, "g") + unit(1, 5000000000ULL, "h");
    EXPECT_EQ(readAll(bytes), (QStringList{"u0", "u60000", "u150000", "u150100", "u145000", "u200",
                                           "u300", "u5000000000", "end"}));
}

TEST(RecordReaderTest, ResyncWantsTwoPlausibleUnitsInARowNeverFarBack)
{
    const QByteArray a = unit(1, T0, "A"), c = unit(2, T0 + 200, "C");
    // A plausible header whose next "unit" is noise, and a plausible pair
    // from far before what was played.
    const QByteArray loneHeader = unit(1, T0 + 150, "1234") + QByteArray(30, '\xEE');
    const QByteArray pastPair = unit(1, 10, "p") + unit(1, 20, "q");
    const QByteArray junk = QByteArray(7, '\xFF') + loneHeader + pastPair;
    const QByteArray lead = unit(1, T0 - 50000, "L");
    const QByteArray bytes = fileHeader() + lead + a + junk + c + unit(3, T0 + 300, "D");
    const qint64 x = 32 + lead.size() + a.size();
    EXPECT_EQ(readAll(bytes), (QStringList{"u150000", "u200000",
                                           damage(x, x + junk.size(), RecordReader::UnknownKind, T0, T0 + 200),
                                           "u200200", "u200300", "end"}));

    // Damage at the first unit, and noise to the end of the file.
    const QByteArray tail = noise(5000, 3);
    const QByteArray first = fileHeader() + tail.left(100) + a + c + tail;
    EXPECT_EQ(readAll(first),
              (QStringList{damage(32, 132, RecordReader::UnknownKind, 0, T0), "u200000", "u200200",
                           QStringLiteral("damage %1-end %2 %3-%3")
                               .arg(132 + a.size() + c.size())
                               .arg(RecordReader::UnknownKind)
                               .arg(T0 + 200),
                           "end"}));
}

TEST(RecordReaderTest, ACutOffLastUnitEndsTheRecordingWithoutAnAllocation)
{
    const QByteArray first =
        fileHeader() + unit(2, 0, QByteArray("\xE9\x00\x00\x10\x00\x10\x00\x00", 8));
    const QByteArray whole = first + unit(0x12, 40, zipped(QByteArray(500, 'a')));
    QList<QByteArray> cut;
    for (int n = first.size() + 1; n < whole.size(); ++n)
        cut << whole.left(n);
    for (unsigned type : {2u, 0x12u})
        cut << first + unit(type, 40, QByteArray(10, 'z'), 11)
            << first + unit(type, 40, QByteArray(10, 'z'), RecordReader::MAX_PAYLOAD_SIZE);
    for (const QByteArray& bytes : cut) {
        SCOPED_TRACE(bytes.size());
        Recording r(bytes);
        ASSERT_EQ(r.next(), RecordReader::Unit);
        EXPECT_EQ(r.next(), RecordReader::Truncated);
        EXPECT_EQ(r.payload.count(), 0);
        EXPECT_LT(std::max(r.payload.capacity(), r.packed.capacity()), 64);
        EXPECT_TRUE(r.buffer.atEnd()) << "callers testing atEnd must stop too";
        EXPECT_EQ(r.reader.truncatedHeld(), bytes.size() - first.size());
        EXPECT_EQ(r.next(), RecordReader::End);
    }
    // Sizes no unit has, up to the largest a header holds: damage, not a cut.
    for (quint64 size : {quint64(1) << 40, ~quint64(0), ~quint64(0) - 10}) {
        Recording r(first + le(2, 4) + le(0, 12) + le(size, 8) + QByteArray(10, 'z'));
        ASSERT_EQ(r.next(), RecordReader::Unit);
        EXPECT_EQ(r.next(), RecordReader::Damaged);
        EXPECT_TRUE(r.reader.damage().toEnd);
        EXPECT_EQ(r.reader.damage().problem, RecordReader::SizeOverBound);
        EXPECT_EQ(r.next(), RecordReader::End);
    }
}

TEST(RecordReaderTest, APayloadThatDoesNotInflateIsDamageAndReadingGoesOn)
{
    // A stream cut short, and one that inflates past the wrapper's cap.
    const QByteArray broken = unit(0x12, 100, zipped("abc").chopped(2));
    const QByteArray bytes = fileHeader() + unit(1, 50, "a") + broken + unit(1, 200, "b");
    EXPECT_EQ(readAll(bytes),
              (QStringList{"u50", damage(57, 57 + broken.size(), RecordReader::NotInflating, 50, 100),
                           "u200", "end"}));

    const QByteArray big(2 * 1024 * 1024, '\0');
    const QByteArray file = fileHeader() + unit(0x12, 0, zipped(big));
    Zip::setMaxUnzippedSize(1024 * 1024);
    EXPECT_EQ(Recording(file).next(), RecordReader::Damaged);
    Zip::setMaxUnzippedSize(0);
    Recording r(file);
    ASSERT_EQ(r.next(), RecordReader::Unit);
    EXPECT_EQ(r.payload.count(), big.size());
    EXPECT_EQ(r.unitHdr.m_type, RecordUnitHeader::KIND_SCREEN);
}

TEST(RecordScanTest, TheRealEndTheLengthToShowAndWhetherTheRecordingEndsEarly)
{
    struct Case
    {
        quint64 duration;
        bool cut;
        quint64 realEnd;
        bool incomplete;
        quint64 shown;
    };
    // Units at 0, 9000 and 9900 (the last one cut off when `cut`).
    const Case cases[] = {
        {10000, false, 9900, false, 10000}, // a healthy recording
        {11900, false, 9900, false, 11900}, // two seconds short is not "early"
        {11901, false, 9900, true, 9900},
        {0, false, 9900, false, 9900},      // never finished
        {5000, false, 9900, false, 9900},   // below the real end
        {10000, true, 9000, true, 9000},    // cut off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.duration);
        QByteArray bytes = fileHeader(c.duration) + unit(2, 0, "a") + unit(1, 9000, "b")
            + unit(5, 9900, QByteArray(100, 'c'));
        if (c.cut)
            bytes.chop(50);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const RecordScan::Result r = RecordScan::scan(buffer);
        EXPECT_TRUE(r.readable);
        EXPECT_EQ(r.realEnd, c.realEnd);
        EXPECT_EQ(r.truncated, c.cut);
        EXPECT_EQ(r.incomplete(), c.incomplete);
        EXPECT_EQ(r.shownDuration(), c.shown);
    }

    // The walk passes over damage as playback does, and stops when asked.
    QByteArray damaged = fileHeader(10000) + unit(2, 0, "a") + noise(300, 1) + unit(1, 9000, "b")
        + unit(1, 9900, "c") + noise(200, 2);
    QBuffer buffer(&damaged);
    buffer.open(QIODevice::ReadOnly);
    RecordScan::Result r = RecordScan::scan(buffer);
    EXPECT_EQ(r.units, 3u);
    EXPECT_EQ(r.realEnd, 9900u);
    EXPECT_EQ(r.damageCount, 2);
    EXPECT_TRUE(r.invalidTail);
    const std::atomic<bool> cancel{true};
    r = RecordScan::scan(buffer, &cancel);
    EXPECT_EQ(r.units, 0u);
    EXPECT_EQ(r.problem, QStringLiteral("cancelled"));
    EXPECT_FALSE(RecordScan::scanFile(QStringLiteral("/nonexistent/x.vro")).readable);
}
