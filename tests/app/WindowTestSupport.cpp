// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowTestSupport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include "RecordingWriter.h"
#include "StartOptions.h"

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

VideoFrame testFrame(int w, int h, int f)
{
    VideoFrame frame;
    frame.resize(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned r = (f * 37 + x / 16 * 53) & 0xFF, g = (y / 16 * 71 + f * 11) & 0xFF;
            const unsigned b = (x / 16 * (y / 16) * 29 + 40) & 0xFF;
            frame.setPixel(x, y, x % 16 == y % 16 ? 0xFFFFFFFFu : 0xFF000000u | r << 16 | g << 8 | b);
        }
    }
    return frame;
}

void WindowFixture::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    window = std::make_unique<SessionPlayer>(nullptr);
    window->setPrompter(&prompter);
    window->setScreenOverride(QRect(0, 22, 1440, 878), QSize(0, 22));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitState(FilePlayer::STATE_IDLE));
}

void WindowFixture::TearDown()
{
    prompter.warningAnswer = IPrompter::Yes; // cancel a build still running
    window->close();
    window.reset();
}

QString WindowFixture::record(const QString& name, int w, int h, quint64 lastMs, quint64 stepMs,
                              const char* sessionId)
{
    const QString path = dir.filePath(name);
    RecordingWriter writer;
    writer.open(path, QByteArray(sessionId));
    int f = 0;
    for (quint64 t = 0; t <= lastMs; t += stepMs, ++f) {
        VideoFrame frame = testFrame(w, h, f);
        writer.writeScreenFrame(t, frame);
        writer.writeMousePos(t, (f * 7) % w, (f * 5) % h, 1);
    }
    writer.finish(static_cast<long long>(lastMs));
    return path;
}

bool WindowFixture::open(const QString& path, IPrompter::Answer answer)
{
    prompter.openAnswer = path;
    prompter.questionAnswer = answer;
    window->start(StartOptions::parse({QStringLiteral("SessionPlayer"), QStringLiteral("--paused"), path}));
    return player().getFileName() == path;
}
