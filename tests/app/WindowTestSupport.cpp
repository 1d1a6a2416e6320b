#include "WindowTestSupport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include "RecordingWriter.h"

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

QString pictureProblem(const QImage& shown, const VideoFrame& frame, const QRect& where)
{
    auto near = [](QRgb a, unsigned b) {
        return std::abs(qRed(a) - int((b >> 16) & 0xFF)) <= 24
            && std::abs(qGreen(a) - int((b >> 8) & 0xFF)) <= 24
            && std::abs(qBlue(a) - int(b & 0xFF)) <= 24;
    };
    const double s = double(where.width()) / frame.width();
    for (int by = 0; by < frame.height() / 16; ++by) {
        for (int bx = 0; bx < frame.width() / 16; ++bx) {
            const QPoint fp(bx * 16 + 11, by * 16 + 4);
            const QPoint wp = where.topLeft() + QPoint(int(fp.x() * s), int(fp.y() * s));
            if (!shown.valid(wp) || !near(shown.pixel(wp), frame.pixels()[fp.y() * frame.width() + fp.x()]))
                return QStringLiteral("box %1,%2 differs at %3,%4").arg(bx).arg(by).arg(wp.x()).arg(wp.y());
        }
    }
    const QPoint beside[] = {{where.left() / 2, where.center().y()},
                             {where.center().x(), where.top() / 2},
                             {(where.right() + shown.width()) / 2, where.center().y()},
                             {where.center().x(), (where.bottom() + shown.height()) / 2}};
    for (const QPoint& p : beside) {
        if (!where.contains(p) && shown.valid(p) && (shown.pixel(p) & 0xFFFFFF))
            return QStringLiteral("not black at %1,%2").arg(p.x()).arg(p.y());
    }
    return QString();
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
    window->onBtnOpenClicked();
    return player().getFileName() == path;
}
