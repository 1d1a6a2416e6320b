// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool's commands from the outside: usage and errors, info against
// golden files, index over several files, synth's determinism.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "FileBytes.h"

#include "IndexFile.h"
#include "IndexLocation.h"
#include "ReadOnlyFolder.h"
#include "RecordingWriter.h"
#include "ToolTestSupport.h"

namespace {

// Compares `actual` with the golden file `name`; on a mismatch the failure
// shows a unified diff. SP_UPDATE_GOLDEN=1 rewrites the golden file instead.
void expectGolden(const QString& name, const QString& actual)
{
    const QString golden = QStringLiteral(SP_TEST_DATA_DIR "/sessiontool/") + name;
    if (qEnvironmentVariableIntValue("SP_UPDATE_GOLDEN") == 1) {
        EXPECT_TRUE(writeBytes(golden, actual.toUtf8()));
        return;
    }
    QFile f(golden);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "missing golden file " << golden.toStdString()
                                             << " (SP_UPDATE_GOLDEN=1 writes it)";
    if (QString::fromUtf8(f.readAll()) == actual)
        return;
    QTemporaryDir dir;
    writeBytes(dir.filePath(name), actual.toUtf8());
    QProcess diff;
    diff.start(QStringLiteral("diff"), {"-u", golden, dir.filePath(name)});
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

// A recording accepted as one, whose second unit does not decompress.
void writeUndecodable(const QString& path)
{
    RecordingWriter w;
    w.open(path);
    w.writeScreenHeader(0, 32, 32);
    w.writeRawUnit(0x12, 100, "definitely not zlib");
    w.writeMousePos(200, 1, 1, 1);
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
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("synth -o FILE")));
    for (const char* command : {"info", "index", "frame", "synth", "check", "repair"}) {
        const ToolRun r = runTool({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: sessiontool ") + command))
            << r.out.toStdString();
    }

    // Wrong use: status 2; failures: status 1; always one line on stderr.
    ASSERT_TRUE(writeBytes(file("junk.vro"), QByteArray(64, 'j')));
    const QString junk = file("junk.vro"), png = file("x.png");
    const std::pair<QStringList, int> cases[] = {
        {{"play"}, 2},
        {{"info"}, 2},
        {{"info", "a", "--bogus"}, 2},
        {{"frame", junk, "-o", png}, 2},
        {{"frame", junk, "--at", "-1", "-o", png}, 2},
        {{"synth", "-o", file("s.vro"), "--size", "10x10"}, 2},
        {{"synth", "--seconds", "5"}, 2},
        {{"info", file("missing.vro")}, 1},
        {{"info", junk}, 1},
        {{"frame", junk, "--at", "1", "-o", png}, 1},
        {{"synth", "-o", file("no/such/dir/s.vro")}, 1},
        {{"check"}, 2},
        {{"repair", junk}, 2},
        {{"check", junk}, 1},
    };
    for (const auto& [args, status] : cases) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.exitCode, status) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("sessiontool: "))) << r.err.toStdString();
    }
}

TEST_F(SessionToolTest, InfoMatchesTheGoldenFiles)
{
    writeSample(file("sample.vro"));
    ASSERT_EQ(runTool({"index", file("sample.vro")}).exitCode, 0);
    writeSample(file("damaged.vro"), false, true);
    ASSERT_TRUE(writeBytes(file("damaged.vrox"), QByteArray(100, 'g')));
    writeSample(file("truncated.vro"), true);

    for (const QString name : {"sample", "damaged", "truncated"}) {
        const ToolRun text = runTool({"info", name + ".vro"}, m_dir.path());
        EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
        expectGolden("info_" + name + ".txt", text.out);
        const ToolRun json = runTool({"info", name + ".vro", "--json"}, m_dir.path());
        EXPECT_EQ(json.exitCode, 0);
        expectGolden("info_" + name + ".json", json.out);
    }

    // A payload that does not decompress is a warning, and the count goes on
    // past it as playback does.
    writeUndecodable(file("bad.vro"));
    const ToolRun r = runTool({"info", file("bad.vro")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("compressed unit that does not decompress; playback "
                                              "passes over it")))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("last unit     200 ms"))) << r.out.toStdString();
}

TEST_F(SessionToolTest, IndexGoesOnPastABrokenFileAndSaysWhatFailed)
{
    writeSample(file("one.vro"));
    {
        RecordingWriter w;
        w.setMagic(0x12345678);
        w.open(file("wrong-magic.vro"));
        w.writeScreenHeader(0, 32, 32);
    }
    writeUndecodable(file("undecodable.vro"));
    writeSample(file("two.vro"));

    const ToolRun r = runTool({"index", file("one.vro"), file("wrong-magic.vro"),
                               file("missing.vro"), file("undecodable.vro"), file("two.vro")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.count('\n'), 3) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral(
        "undecodable.vrox: 0 key frames; passed over 1 damaged part (0:00:00.000 to 0:00:00.100)\n")))
        << r.out.toStdString();
    EXPECT_EQ(r.err, "sessiontool: " + file("wrong-magic.vro") + ": not a recorded session\n"
                     "sessiontool: " + file("missing.vro")
                         + ": cannot open the recording: No such file or directory\n");
    for (const char* good : {"one.vro", "two.vro"}) {
        QFile index(IndexFile::indexFileName(file(good)));
        ASSERT_TRUE(index.open(QIODevice::ReadOnly)) << good;
        IndexFileHeader header;
        Array<IndexEntryPoint, int> entries;
        EXPECT_TRUE(IndexFile::load(index, header, entries));
        EXPECT_EQ(entries.count(), 2);
    }
    // Nothing but the recordings and the three indexes is left behind.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 7);
}

TEST_F(SessionToolTest, FailuresNameTheFileAndTheSystemsReason)
{
    writeSample(file("s.vro"));
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("taken.vro")));
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("s.vrox.part")));
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("shut")));
    const ReadOnlyFolder shut(file("shut"));
    ASSERT_TRUE(shut.ok());
    const QString refused = geteuid() == 0 ? QStringLiteral("Read-only file system")
                                           : QStringLiteral("Permission denied");
    const std::pair<QStringList, QString> cases[] = {
        {{"synth", "-o", file("shut/x.vro"), "--seconds", "1"},
         file("shut/x.vro") + ": cannot create the file: " + refused},
        {{"synth", "-o", file("taken.vro"), "--seconds", "1"},
         file("taken.vro") + ": cannot create the file: Is a directory"},
        {{"index", file("s.vro")},
         file("s.vro") + ": cannot create the index " + file("s.vrox.part") + ": Is a directory"},
        {{"frame", file("s.vro"), "--at", "3", "-o", file("no/such/x.png")},
         file("no/such/x.png") + ": cannot write the image: No such file or directory"},
        {{"frame", file("s.vro"), "--at", "25.001", "-o", file("x.png")},
         file("s.vro") + ": the recording ends at 25.000 s, the last time it can show; there is "
                         "nothing at 25.001 s"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_EQ(r.err, "sessiontool: " + message + "\n");
        EXPECT_FALSE(r.err.contains(QStringLiteral("Exception")));
    }
    EXPECT_FALSE(QFile::exists(file("x.png")));
    EXPECT_EQ(runTool({"frame", file("s.vro"), "--at", "25", "-o", file("x.png")}).exitCode, 0);

    // Passing over damage on the way is said, and the frame is written.
    writeSample(file("d.vro"), false, true);
    const ToolRun r = runTool({"frame", file("d.vro"), "--at", "7", "-o", file("d.png")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toStdString(), (file("d.png") + ": 64 x 32 at 7.000 s, from the start; passed over 1 damaged "
                                     "part (6.000 to 6.300 s)\n").toStdString());
}

// A recording whose folder cannot be written gets its index in the player's
// cache folder, where info and frame find it.
TEST_F(SessionToolTest, AnIndexThatCannotLieBesideItsRecordingGoesToTheCache)
{
    ASSERT_TRUE(QDir().mkpath(file("shared")));
    const QString recording = file("shared/s.vro"), cacheHome = file("cache");
    writeSample(recording);
    const ReadOnlyFolder shared(file("shared"));
    ASSERT_TRUE(shared.ok());
    const QString cached = IndexLocation(cacheHome + "/Vantorel/SessionPlayer/index").cachePath(recording);

    const ToolRun built = runTool({"index", recording}, QString(), cacheHome);
    ASSERT_EQ(built.exitCode, 0) << built.err.toStdString();
    EXPECT_EQ(built.out, cached + ": 2 key frames\n");
    const ToolRun info = runTool({"info", recording}, QString(), cacheHome);
    EXPECT_TRUE(info.out.contains(cached + ": valid, 2 key frames")) << info.out.toStdString();
    const ToolRun frame =
        runTool({"frame", recording, "--at", "21", "-o", file("f.png")}, QString(), cacheHome);
    EXPECT_TRUE(frame.out.contains("from the key frame at 20.400 s")) << frame.out.toStdString();
}

TEST_F(SessionToolTest, SynthIsDeterministicAndPlaysItsStory)
{
    auto synth = [&](const char* name, const char* seed) {
        const QString path = file(name);
        EXPECT_EQ(runTool({"synth", "-o", path, "--seconds", "12", "--size", "480x320", "--seed",
                           seed, "--audio"}).exitCode, 0);
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray bytes = synth("a.vro", "9");
    EXPECT_EQ(synth("b.vro", "9"), bytes);
    EXPECT_NE(synth("c.vro", "10").mid(32, 4000), bytes.mid(32, 4000)) << "another seed, story";

    const ToolRun info = runTool({"info", file("a.vro"), "--json"});
    ASSERT_EQ(info.exitCode, 0);
    // Every kind of content the demo promises.
    for (const char* expected : {"\"EE\": 1", "\"EB\": 1", "\"E9\": 1", "\"width\": 480",
                                 "\"channels\": [\n                2", "\"cursorRecords\": 5",
                                 "\"durationMs\": 12000"})
        EXPECT_TRUE(info.out.contains(QLatin1String(expected))) << expected << "\n"
                                                                << info.out.toStdString();
}
