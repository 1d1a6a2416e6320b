#pragma once

// Helpers of the sessiontool tests: running the tool, and rebuilding a screen
// straight from the start of a recording as the oracle of `frame`.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "GridDecoder.h"
#include "IDecoder.h"
#include "RecordReader.h"
#include "VideoFrame.h"

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs sessiontool with `args` in `workDir` (the current folder when empty).
inline ToolRun runTool(const QStringList& args, const QString& workDir = QString())
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(QStringLiteral(SESSIONTOOL_PATH), args);
    p.waitForFinished(600000);
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The screen after every unit with a time up to `targetMs`, decoded from the
// first unit on: full-screen headers to decodeScreen, updates and ends of
// frames to decode once a screen has started.
class StraightDecode : public IDecoderListener
{
public:
    StraightDecode() { m_decoder.m_listener = this; }

    bool run(const QString& path, quint64 targetMs)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        RecordReader reader(&file);
        RecordFileHeader header;
        reader.readFileHeader(header);
        RecordUnitHeader unit;
        Array<unsigned char, int> payload, packed;
        bool started = false;
        while (reader.readUnit(unit, payload, packed) == RecordReader::Unit && unit.isValid()
               && unit.m_time <= targetMs) {
            if (unit.kind() != RecordUnitHeader::KIND_SCREEN || payload.count() < 1)
                continue;
            const unsigned char code = payload[0];
            const unsigned char* data = payload.data() + 2;
            const int length = payload.count() - 2;
            if (code == 0xE9 && length >= 5) {
                m_decoder.decodeScreen(data, length);
                started = true;
            } else if (code >= 0xEA && code <= 0xED && started && length > 0) {
                m_decoder.decode(data, length);
            }
        }
        return true;
    }

    void onScreenDimension(int width, int height) override
    {
        frame.resize(width, height);
        frame.clear(0);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int width, int height) override
    {
        VideoFrame::copy(frame.pixels(), frame.width(), frame.height(), box->pixels(),
                         box->width(), box->height(), x, y, width, height, 0, 0);
    }
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}

    VideoFrame frame;

private:
    GridDecoder m_decoder;
};
