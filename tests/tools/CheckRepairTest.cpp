// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool check and repair on recordings damaged on purpose: check names
// exactly the stretches that were broken, repair removes exactly those and
// nothing else, and what it writes checks clean.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "FileBytes.h"

#include "DamagedRecordings.h"
#include "ToolTestSupport.h"

namespace {

class CheckRepair : public ::testing::TestWithParam<DamageCase>
{
protected:
    QTemporaryDir dir;
};

} // namespace

TEST_P(CheckRepair, NameAndRemoveExactlyTheDamagedStretches)
{
    const SampleRecording s = writeSample(GetParam().compressed);
    const Damaged d = GetParam().make(s);
    const QString in = dir.filePath("in.vro"), out = dir.filePath("out.vro");
    ASSERT_TRUE(writeBytes(in, d.bytes));

    const ToolRun check = runTool({"check", in, "--json"});
    const bool clean = d.stretches.isEmpty() && !d.truncated;
    EXPECT_EQ(check.exitCode, clean ? 0 : 3) << check.err.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(check.out.toUtf8()).array().at(0).toObject();
    EXPECT_EQ(report["status"].toString(), clean ? "clean" : "damaged");
    QList<QPair<qint64, qint64>> found, expected;
    for (const QJsonValue& v : report["damage"].toArray()) {
        const QJsonObject o = v.toObject();
        found.append({qint64(o["fromOffset"].toDouble()), qint64(o["toOffset"].toDouble())});
        EXPECT_EQ(o["problem"].toString() == "notInflating", d.notInflating);
        EXPECT_EQ(o["toEnd"].toBool(), d.toEnd);
    }
    for (const auto& [first, last] : d.stretches)
        expected.append({s.offsetOf(first), last < s.units.size() ? s.offsetOf(last) : d.bytes.size()});
    EXPECT_EQ(found, expected);
    EXPECT_EQ(!report["truncated"].isNull(), d.truncated);

    const ToolRun repair = runTool({"repair", in, "-o", out});
    ASSERT_EQ(repair.exitCode, 0) << repair.err.toStdString();
    EXPECT_EQ(readBytes(out), repaired(s, d)) << "every unit kept byte for byte, none more";
    EXPECT_EQ(readBytes(in), d.bytes) << "the input is only read";
    const ToolRun again = runTool({"check", out});
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "no temporary left";
}

INSTANTIATE_TEST_SUITE_P(Damage, CheckRepair, ::testing::ValuesIn(damageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CheckRepairTest, LinesSummaryAndTheHighestStatusOverSeveralFiles)
{
    QTemporaryDir dir;
    const SampleRecording s = writeSample(false);
    const QString clean = dir.filePath("clean.vro"), broken = dir.filePath("broken.vro");
    const QString junk = dir.filePath("junk.vro"), missing = dir.filePath("missing.vro");
    ASSERT_TRUE(writeBytes(clean, s.bytes));
    Damaged d = damageCases()[3].make(s); // a kind byte out of range
    ASSERT_TRUE(writeBytes(broken, d.bytes));
    ASSERT_TRUE(writeBytes(junk, QByteArray(100, 'j')));

    const ToolRun one = runTool({"check", broken});
    EXPECT_EQ(one.exitCode, 3);
    const int k = d.stretches[0].first;
    EXPECT_EQ(one.out,
              QStringLiteral("%1: damaged part at offsets %2 to %3 (0:00:05.000 to 0:00:05.000): unit "
                             "of unknown kind (type byte 0x1F)\n"
                             "%1: damaged, %4 units, 0:00:20.000 playable, 0:00:00.000 damaged in 1 part\n")
                  .arg(broken)
                  .arg(s.units[k].offset)
                  .arg(s.units[k + 1].offset)
                  .arg(s.units.size() - 1));

    const std::pair<QStringList, int> cases[] = {
        {{clean}, 0},
        {{clean, missing}, 1},
        {{junk, clean}, 1},
        {{clean, broken, missing}, 3},
        {{}, 2},
        {{clean, "--bogus"}, 2},
    };
    for (const auto& [files, status] : cases) {
        const ToolRun r = runTool(QStringList{"check"} + files);
        EXPECT_EQ(r.exitCode, status) << files.join(' ').toStdString();
    }
    const ToolRun r = runTool({"check", clean, missing, junk});
    EXPECT_EQ(r.out, clean + ": clean, " + QString::number(s.units.size()) + " units, 0:00:20.000 playable\n");
    EXPECT_EQ(r.err, "sessiontool: " + missing + ": No such file or directory\nsessiontool: " + junk
                         + ": not a recorded session\n");
}

TEST(CheckRepairTest, RepairRefusesWhatItCannotDoAndLeavesNothingBehind)
{
    QTemporaryDir dir;
    const SampleRecording s = writeSample(false);
    const QString in = dir.filePath("in.vro"), junk = dir.filePath("junk.vro");
    ASSERT_TRUE(writeBytes(in, s.bytes));
    ASSERT_TRUE(writeBytes(junk, QByteArray(100, 'j')));
    const struct
    {
        QStringList args;
        int status;
        QString error;
    } cases[] = {
        {{in}, 2, "sessiontool: repair takes IN and -o OUT (try 'sessiontool repair --help')\n"},
        {{in, "-o", in}, 2, "sessiontool: " + in + ": the output would replace the input\n"},
        {{dir.filePath("missing.vro"), "-o", dir.filePath("a.vro")}, 1,
         "sessiontool: " + dir.filePath("missing.vro") + ": No such file or directory\n"},
        {{junk, "-o", dir.filePath("b.vro")}, 1, "sessiontool: " + junk + ": not a recorded session\n"},
        {{in, "-o", dir.filePath("no/such/c.vro")}, 1,
         "sessiontool: " + dir.filePath("no/such/c.vro") + ": cannot create: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        const ToolRun r = runTool(QStringList{"repair"} + c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err, c.error);
    }
    EXPECT_EQ(readBytes(in), s.bytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}
