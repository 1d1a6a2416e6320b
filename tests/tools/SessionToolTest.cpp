// sessiontool's commands from the outside: usage and errors, info against
// golden files, index over several files, synth's determinism.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "IndexFile.h"
#include "RecordingWriter.h"
#include "ToolTestSupport.h"

namespace {

QString goldenDir()
{
    return QStringLiteral(SP_TEST_DATA_DIR "/sessiontool");
}

// Compares `actual` with the golden file `name`; on a mismatch the failure
// shows a unified diff. SP_UPDATE_GOLDEN=1 rewrites the golden file instead.
void expectGolden(const QString& name, const QString& actual)
{
    const QString golden = goldenDir() + QLatin1Char('/') + name;
    if (qEnvironmentVariableIntValue("SP_UPDATE_GOLDEN") == 1) {
        QDir().mkpath(goldenDir());
        QFile f(golden);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(actual.toUtf8());
        return;
    }
    QFile f(golden);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "missing golden file " << golden.toStdString()
                                             << " (SP_UPDATE_GOLDEN=1 writes it)";
    const QString expected = QString::fromUtf8(f.readAll());
    if (expected == actual)
        return;
    QTemporaryDir dir;
    const QString actualPath = dir.filePath(name);
    QFile out(actualPath);
    out.open(QIODevice::WriteOnly);
    out.write(actual.toUtf8());
    out.close();
    QProcess diff;
    diff.start(QStringLiteral("diff"), {QStringLiteral("-u"), golden, actualPath});
    diff.waitForFinished();
    ADD_FAILURE() << name.toStdString() << " differs from its golden file:\n"
                  << diff.readAllStandardOutput().toStdString();
}

// A small recording of every unit kind, 25 s long: a 64 x 32 screen whose
// boxes change colour every 300 ms, pointer moves and a cursor, a pause,
// an info unit, and both audio streams (compressed).
void writeSample(const QString& path, bool cutLastUnit = false, bool unknownKind = false)
{
    RecordingWriter w;
    w.open(path, "987654321");
    w.writeInfo(0, "presenter: test");
    w.writeScreenHeader(0, 64, 32);
    w.writeScreenMessage(0, 0xED, QByteArray("\xC9\x00\x29\x20\x40\x60\x08", 7));
    QImage cursor(2, 2, QImage::Format_ARGB32);
    cursor.fill(0xFF102030);
    w.writeCursor(0, 7, cursor, 1, 1, {QStringLiteral("pointer")});
    const int16_t pcm[] = {0, 1000, -1000, 2000, -2000, 0, 500, -500};
    for (quint64 t = 300; t < 25000; t += 300) {
        const unsigned char c = static_cast<unsigned char>(t / 300);
        w.writeScreenMessage(t, t == 15000 ? 0xEB : 0xED,
                             QByteArray("\xC9\x00\x14", 3) + char(c % 8) + QByteArray("\x01", 1)
                                 + char(c) + char(255 - c) + char(c * 3));
        if (t % 900 == 0)
            w.writeMousePos(t, static_cast<int>(t / 1000), 16, 7);
        if (t % 1500 == 0) {
            w.setCompression(true);
            w.writeAudio(t, RecordingWriter::CAP, pcm, 4, 2);
            w.writeAudio(t, RecordingWriter::SPK, pcm, 8, 1);
            w.setCompression(false);
        }
        if (t == 12000)
            w.writePause(t);
        if (unknownKind && t == 6000)
            w.writeRawUnit(0x07, t, "what is this?");
    }
    if (cutLastUnit)
        w.writeRawUnit(0x02, 24990, QByteArray("\xED\x00\xC9", 3), 40);
    w.finish(25000);
}

class SessionToolTest : public ::testing::Test
{
protected:
    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SessionToolTest, UsageHelpAndOneLineErrors)
{
    EXPECT_EQ(runTool({}).exitCode, 2);
    const ToolRun help = runTool({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("synth -o FILE")));
    for (const char* command : {"info", "index", "frame", "synth"}) {
        const ToolRun r = runTool({QString::fromLatin1(command), QStringLiteral("--help")});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: sessiontool ") + QLatin1String(command)))
            << r.out.toStdString();
    }

    // Wrong use: status 2; failures: status 1; always one line on stderr.
    QFile junk(file("junk.vro"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(64, 'j'));
    junk.close();
    const struct
    {
        QStringList args;
        int status;
    } cases[] = {
        {{QStringLiteral("play")}, 2},
        {{QStringLiteral("info")}, 2},
        {{QStringLiteral("info"), QStringLiteral("a"), QStringLiteral("--bogus")}, 2},
        {{QStringLiteral("frame"), file("junk.vro"), QStringLiteral("-o"), file("x.png")}, 2},
        {{QStringLiteral("frame"), file("junk.vro"), QStringLiteral("--at"), QStringLiteral("-1"),
          QStringLiteral("-o"), file("x.png")}, 2},
        {{QStringLiteral("synth"), QStringLiteral("-o"), file("s.vro"), QStringLiteral("--size"),
          QStringLiteral("10x10")}, 2},
        {{QStringLiteral("synth"), QStringLiteral("--seconds"), QStringLiteral("5")}, 2},
        {{QStringLiteral("info"), file("missing.vro")}, 1},
        {{QStringLiteral("info"), file("junk.vro")}, 1},
        {{QStringLiteral("frame"), file("junk.vro"), QStringLiteral("--at"), QStringLiteral("1"),
          QStringLiteral("-o"), file("x.png")}, 1},
        {{QStringLiteral("synth"), QStringLiteral("-o"), file("no/such/dir/s.vro")}, 1},
    };
    for (const auto& c : cases) {
        const ToolRun r = runTool(c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("sessiontool: "))) << r.err.toStdString();
    }
}

TEST_F(SessionToolTest, InfoMatchesTheGoldenFiles)
{
    writeSample(file("sample.vro"));
    ASSERT_EQ(runTool({QStringLiteral("index"), file("sample.vro")}).exitCode, 0);
    writeSample(file("damaged.vro"), false, true);
    QFile garbage(file("damaged.vrox"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(100, 'g'));
    garbage.close();
    writeSample(file("truncated.vro"), true);

    for (const char* name : {"sample", "damaged", "truncated"}) {
        const QString vro = QString::fromLatin1(name) + QStringLiteral(".vro");
        const ToolRun text = runTool({QStringLiteral("info"), vro}, m_dir.path());
        EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
        expectGolden(QStringLiteral("info_%1.txt").arg(QLatin1String(name)), text.out);
        const ToolRun json = runTool({QStringLiteral("info"), vro, QStringLiteral("--json")},
                                     m_dir.path());
        EXPECT_EQ(json.exitCode, 0);
        expectGolden(QStringLiteral("info_%1.json").arg(QLatin1String(name)), json.out);
    }
}

TEST_F(SessionToolTest, InfoWarnsOfAPayloadThatDoesNotDecompress)
{
    {
        RecordingWriter w;
        w.open(file("bad.vro"));
        w.writeScreenHeader(0, 32, 32);
        w.writeRawUnit(0x12, 100, "definitely not zlib");
        w.writeMousePos(200, 1, 1, 1);
    }
    const ToolRun r = runTool({QStringLiteral("info"), file("bad.vro")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("\"Unknown Data Compression format\"")))
        << r.out.toStdString();
    // The count stops where playback stops.
    EXPECT_TRUE(r.out.contains(QStringLiteral("last unit     0 ms"))) << r.out.toStdString();
}

TEST_F(SessionToolTest, IndexGoesOnPastABrokenFile)
{
    writeSample(file("one.vro"));
    {
        RecordingWriter w;
        w.setMagic(0x12345678);
        w.open(file("wrong-magic.vro"));
        w.writeScreenHeader(0, 32, 32);
    }
    {
        // Accepted as a recording, but its payload does not decompress.
        RecordingWriter w;
        w.open(file("undecodable.vro"));
        w.writeScreenHeader(0, 32, 32);
        w.writeRawUnit(0x12, 100, "definitely not zlib");
    }
    writeSample(file("two.vro"));

    const ToolRun r = runTool({QStringLiteral("index"), file("one.vro"), file("wrong-magic.vro"),
                               file("missing.vro"), file("undecodable.vro"), file("two.vro")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 2) << r.out.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 3) << r.err.toStdString();
    for (const char* good : {"one.vro", "two.vro"}) {
        QFile index(IndexFile::indexFileName(file(good)));
        ASSERT_TRUE(index.open(QIODevice::ReadOnly)) << good;
        IndexFileHeader header;
        Array<IndexEntryPoint, int> entries;
        EXPECT_TRUE(IndexFile::load(index, header, entries));
        EXPECT_EQ(entries.count(), 2);
    }
    for (const char* bad : {"wrong-magic.vro", "missing.vro", "undecodable.vro"})
        EXPECT_FALSE(QFile::exists(IndexFile::indexFileName(file(bad)))) << bad;
    // Nothing but the recordings and the two indexes is left behind.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 6);
}

TEST_F(SessionToolTest, SynthIsDeterministicAndPlaysItsStory)
{
    const QStringList args{QStringLiteral("--seconds"), QStringLiteral("12"),
                           QStringLiteral("--size"), QStringLiteral("480x320"),
                           QStringLiteral("--seed"), QStringLiteral("9"), QStringLiteral("--audio")};
    ASSERT_EQ(runTool(QStringList{QStringLiteral("synth"), QStringLiteral("-o"), file("a.vro")} + args).exitCode, 0);
    ASSERT_EQ(runTool(QStringList{QStringLiteral("synth"), QStringLiteral("-o"), file("b.vro")} + args).exitCode, 0);
    QFile a(file("a.vro")), b(file("b.vro"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray bytes = a.readAll();
    EXPECT_EQ(bytes, b.readAll());

    const ToolRun info = runTool({QStringLiteral("info"), file("a.vro"), QStringLiteral("--json")});
    ASSERT_EQ(info.exitCode, 0);
    // Every kind of content the demo promises.
    for (const char* expected : {"\"EE\": 1", "\"EB\": 1", "\"E9\": 1", "\"width\": 480",
                                 "\"channels\": [\n                2", "\"cursorRecords\": 5",
                                 "\"durationMs\": 12000"})
        EXPECT_TRUE(info.out.contains(QLatin1String(expected))) << expected << "\n"
                                                                << info.out.toStdString();
    const ToolRun other = runTool({QStringLiteral("synth"), QStringLiteral("-o"), file("c.vro"),
                                   QStringLiteral("--seconds"), QStringLiteral("12"),
                                   QStringLiteral("--size"), QStringLiteral("480x320"),
                                   QStringLiteral("--seed"), QStringLiteral("10")});
    ASSERT_EQ(other.exitCode, 0);
    QFile c(file("c.vro"));
    ASSERT_TRUE(c.open(QIODevice::ReadOnly));
    EXPECT_NE(c.readAll().mid(32, 4000), bytes.mid(32, 4000)) << "the seed changes the story";
}
