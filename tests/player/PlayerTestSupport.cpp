#include "PlayerTestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QThread>

#include "RecordFileHeader.h"
#include "RecordReader.h"
#include "RecordingWriter.h"
#include "UnitDispatch.h"
#include "Zip.h"

quint64 nowMs()
{
    return static_cast<quint64>(QDateTime::currentMSecsSinceEpoch());
}

// ---------------------------------------------------------------------------
// FakeView

void FakeView::note(const char* call)
{
    for (auto& c : m_calls) {
        if (c.first == QLatin1String(call)) {
            ++c.second;
            return;
        }
    }
    m_calls.emplace_back(QString::fromLatin1(call), 1);
}

void FakeView::onScreenDimension(int width, int height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onScreenDimension");
    if (width >= 0 && height >= 0)
        m_frame.resize(width, height);
    m_frame.clear(0);
}

void FakeView::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onBoxDecoded");
    if (box)
        VideoFrame::copy(m_frame.pixels(), m_frame.width(), m_frame.height(), box->pixels(),
                         box->width(), box->height(), x, y, width, height, 0, 0);
}

void FakeView::onDecodePassCompleted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onDecodePassCompleted");
}

void FakeView::onDecodeCompleted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onDecodeCompleted");
}

void FakeView::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("reset");
    m_infoShown = false;
}

void FakeView::redraw()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("redraw");
}

void FakeView::onPause(bool)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onPause");
    m_infoShown = true;
    m_statusTexts << QStringLiteral("PAUSE");
}

void FakeView::onMousePos(int x, int y, unsigned long cursorId, bool)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onMousePos");
    m_mouse.push_back({x, y, cursorId, nowMs()});
}

void FakeView::onMouseCursor(unsigned long cursorId, unsigned char* data, int length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onMouseCursor");
    QByteArray record = QByteArray::number(static_cast<qulonglong>(cursorId)) + ":";
    record += QByteArray(reinterpret_cast<const char*>(data), length);
    m_cursors.push_back(record);
}

void FakeView::onStatusText(const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("onStatusText");
    m_infoShown = true;
    m_statusTexts << text;
}

void FakeView::setFirstDimension(bool first)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("setFirstDimension");
    m_firstDimension = first;
}

bool FakeView::isInfoShown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_infoShown;
}

void FakeView::getImageSize(int& width, int& height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    width = m_frame.width();
    height = m_frame.height();
}

void FakeView::clearScreen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("clearScreen");
    m_frame.clear(0);
}

void FakeView::setScreenPixels(const unsigned int* pixels, int width, int height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    note("setScreenPixels");
    m_frame.setPixels(pixels, width, height);
}

VideoFrame FakeView::frame()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frame;
}

QStringList FakeView::statusTexts()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statusTexts;
}

std::vector<FakeView::MouseEvent> FakeView::mouseEvents()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mouse;
}

std::vector<QByteArray> FakeView::cursors()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cursors;
}

int FakeView::count(const char* call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& c : m_calls) {
        if (c.first == QLatin1String(call))
            return c.second;
    }
    return 0;
}

void FakeView::clearRecord()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
    m_statusTexts.clear();
    m_mouse.clear();
    m_cursors.clear();
}

// ---------------------------------------------------------------------------
// FakeWindow

void FakeWindow::setTitle(const QString& title)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_title = title;
}

void FakeWindow::setVisible(bool visible)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_visible = visible;
}

QString FakeWindow::title() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_title;
}

bool FakeWindow::visible() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_visible;
}

void FakeWindow::onPlayerStatus(int status)
{
    statuses.push_back(status);
}

void FakeWindow::onPlayerPositionChanged(quint64 seconds)
{
    positions.push_back(seconds);
}

void FakeWindow::onInvalidFileFormat()
{
    ++invalidFormats;
}

// ---------------------------------------------------------------------------
// FakePrompter

void FakePrompter::critical(const QString& title, const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.push_back({QStringLiteral("critical"), title, text});
}

IPrompter::Answer FakePrompter::question(const QString& title, const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.push_back({QStringLiteral("question"), title, text});
    if (m_script.empty())
        return Cancel;
    const Answer a = m_script.front();
    m_script.erase(m_script.begin());
    return a;
}

IPrompter::Answer FakePrompter::warning(const QString& title, const QString& text)
{
    std::function<void()> hook;
    Answer a = No;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxes.push_back({QStringLiteral("warning"), title, text});
        hook = onWarning;
        if (!m_script.empty()) {
            a = m_script.front();
            m_script.erase(m_script.begin());
        }
    }
    if (hook)
        hook();
    return a;
}

QString FakePrompter::getOpenFileName(const QString& caption, const QString& folder,
                                      const QString& filter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.push_back({QStringLiteral("open"), caption, folder + QStringLiteral("|") + filter});
    return openAnswer;
}

void FakePrompter::serviceWhileWaiting()
{
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        QCoreApplication::processEvents();
}

void FakePrompter::answer(Answer a)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script.push_back(a);
}

std::vector<FakePrompter::Box> FakePrompter::boxes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}

QStringList FakePrompter::texts(const QString& kind)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList out;
    for (const Box& b : m_boxes) {
        if (b.kind == kind)
            out << b.text;
    }
    return out;
}

// ---------------------------------------------------------------------------
// LogCapture

class LogCapture::Sink : public Log
{
public:
    void writeEvent(VtrLogLevel, const QString& line) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines << line;
    }
    mutable std::mutex mutex;
    QStringList lines;
};

LogCapture::LogCapture()
{
    auto* sink = new Sink;
    sink->setTimestamps(false);
    sink->setLoggingLevel(VTR_LOG_DEVEL);
    sink->setEnabled(true);
    m_sink = QSharedPointer<Log>(sink);
    LogGroup::Instance()->add(m_sink);
}

LogCapture::~LogCapture()
{
    LogGroup::Instance()->remove(m_sink);
}

QStringList LogCapture::lines() const
{
    auto* sink = static_cast<Sink*>(m_sink.data());
    std::lock_guard<std::mutex> lock(sink->mutex);
    return sink->lines;
}

bool LogCapture::contains(const QString& text) const
{
    return find(text) >= 0;
}

int LogCapture::find(const QString& text, int from) const
{
    const QStringList all = lines();
    for (int i = from; i < all.size(); ++i) {
        if (all[i].contains(text))
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Waiting

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    const quint64 end = nowMs() + static_cast<quint64>(timeoutMs);
    for (;;) {
        QCoreApplication::processEvents();
        if (done())
            return true;
        if (nowMs() >= end)
            return false;
        QThread::msleep(5);
    }
}

void pump(int ms)
{
    waitFor([] { return false; }, ms);
}

// ---------------------------------------------------------------------------
// Recordings

ScreenPainter::ScreenPainter(int width, int height)
{
    m_frame.resize(width, height);
}

void ScreenPainter::paint(int f)
{
    const int w = m_frame.width();
    const int h = m_frame.height();
    unsigned int* p = m_frame.pixels();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int bx = x / 16, by = y / 16;
            unsigned int c = 0xFF000000u | static_cast<unsigned int>(
                                               ((f * 7 + bx * 3 + by) * 0x0A0B0C) & 0xFFFFFF);
            if ((bx + by + f) % 4 == 0 && (x + y) % 3 == 0)
                c ^= 0x00FFFFFFu;
            p[y * w + x] = c;
        }
    }
}

void ScreenPainter::paintPhoto(int seed)
{
    const int w = m_frame.width();
    unsigned int state = static_cast<unsigned int>(seed) * 2654435761u + 1;
    for (int y = 0; y < 32 && y < m_frame.height(); ++y) {
        for (int x = 0; x < 32 && x < w; ++x) {
            state = state * 1103515245u + 12345u;
            const unsigned int g = 96 + ((x * 4 + y * 2 + (state >> 24) % 24) & 0x7F);
            m_frame.pixels()[y * w + x] = 0xFF000000u | (g << 16) | ((g / 2) << 8) | (255 - g);
        }
    }
}

QByteArray screenPayload(unsigned char code, const QByteArray& codec)
{
    QByteArray p;
    p.append(static_cast<char>(code));
    p.append('\0');
    return p + codec;
}

QByteArray screenHeader(int width, int height, int jpegScale)
{
    QByteArray h;
    h.append(static_cast<char>((width >> 8) & 0xFF));
    h.append(static_cast<char>(width & 0xFF));
    h.append(static_cast<char>((height >> 8) & 0xFF));
    h.append(static_cast<char>(height & 0xFF));
    h.append(static_cast<char>(jpegScale));
    h.append('\0');
    return h;
}

QByteArray mousePayload(int x, int y, quint32 cursorId)
{
    QByteArray p;
    p.append(static_cast<char>(UnitDispatch::CONTROL_MOUSE_POS));
    p.append(static_cast<char>(x >> 8));
    p.append(static_cast<char>(x));
    p.append(static_cast<char>(y >> 8));
    p.append(static_cast<char>(y));
    for (int i = 3; i >= 0; --i)
        p.append(static_cast<char>(cursorId >> (8 * i)));
    return p;
}

QByteArray recordingBytes(quint64 duration, const std::vector<TestUnit>& units,
                          const char* sessionId)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    RecordingWriter writer;
    writer.open(&buffer, QByteArray(sessionId));
    for (const TestUnit& u : units) {
        writer.setCompression(u.compress);
        if (RecordUnitHeader::isValidType(u.type) && u.type < 0x10)
            writer.writeUnit(u.type, u.time, u.payload, u.channels);
        else
            writer.writeRawUnit(u.type, u.time, u.payload, -1, u.channels);
    }
    writer.finish(static_cast<long long>(duration));
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

namespace {

class FrameListener : public IDecoderListener
{
public:
    void onScreenDimension(int w, int h) override
    {
        frame.resize(w, h);
        frame.clear(0);
    }
    void onBoxDecoded(VideoFrame* box, int x, int y, int w, int h) override
    {
        VideoFrame::copy(frame.pixels(), frame.width(), frame.height(), box->pixels(),
                         box->width(), box->height(), x, y, w, h, 0, 0);
    }
    void onDecodePassCompleted() override {}
    void onDecodeCompleted() override {}
    VideoFrame frame;
};

} // namespace

VideoFrame straightDecode(const QString& path, quint64 upToMs, bool inclusive)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    RecordReader reader(&file);
    RecordFileHeader header;
    reader.readFileHeader(header);
    RecordUnitHeader uh;
    Array<unsigned char, int> payload, packed;
    GridDecoder decoder;
    FrameListener listener;
    decoder.m_listener = &listener;
    bool started = false;
    while (reader.readUnit(uh, payload, packed) == RecordReader::Unit && uh.isValid()) {
        if (inclusive ? uh.m_time > upToMs : uh.m_time >= upToMs)
            break;
        if (uh.kind() == RecordUnitHeader::KIND_SCREEN)
            UnitDispatch::processScreenUnit(payload.data(), payload.count(), decoder, nullptr,
                                            started);
    }
    return listener.frame;
}

std::vector<TestUnit> screenUnits(int width, int height, quint64 stepMs, quint64 lastMs,
                                  bool compress, int jpegScale)
{
    std::vector<TestUnit> units;
    ScreenPainter painter(width, height);
    GridEncoder encoder;
    encoder.setScreenDimension(width, height);
    Array<unsigned char, int> unused;
    auto encoded = [&]() {
        encoder.m_output.setCount(0);
        encoder.encode(&painter.frame(), 0, 0, width, height, unused);
        return QByteArray(reinterpret_cast<const char*>(encoder.m_output.data()),
                          encoder.m_output.count());
    };
    painter.paint(0);
    units.push_back({RecordUnitHeader::KIND_SCREEN, 0,
                     screenPayload(UnitDispatch::SCREEN_FULL,
                                   screenHeader(width, height, jpegScale)),
                     0, compress});
    units.push_back({RecordUnitHeader::KIND_SCREEN, 0,
                     screenPayload(UnitDispatch::SCREEN_END, encoded()), 0, compress});
    int f = 1;
    for (quint64 t = stepMs; t <= lastMs; t += stepMs, ++f) {
        painter.paint(f);
        units.push_back({RecordUnitHeader::KIND_SCREEN, t,
                         screenPayload(UnitDispatch::SCREEN_UPDATE, encoded()), 0, compress});
        units.push_back({RecordUnitHeader::KIND_SCREEN, t,
                         screenPayload(UnitDispatch::SCREEN_END, QByteArray()), 0, compress});
        units.push_back({RecordUnitHeader::KIND_CONTROL, t,
                         mousePayload(f % width, f % height, 1)});
    }
    return units;
}
