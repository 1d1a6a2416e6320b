// SPDX-License-Identifier: GPL-3.0-or-later
// Full screen, maximise and resize under openbox on a 1600 x 1000 screen
// (WindowManagerTestMain.cpp starts both): after each step the window's
// geometry, and the picture as the X server shows it, compared box by box
// with the recording's frame where the scene's rectangle puts it.

#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>

#include <QDir>

#include "IndexBuilder.h"
#include "PositionPreview.h"
#include "PreviewPopup.h"
#include "RecordingWriter.h"
#include "WindowTestSupport.h"

namespace {

const QRect kScreen(0, 0, 1600, 1000);

class WindowManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<SessionPlayer>(nullptr);
        window->setPrompter(&prompter);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(waitFor([&] { return window->player().getState() == FilePlayer::STATE_IDLE; }));
    }
    void TearDown() override
    {
        window->close();
        window.reset();
    }

    // Opens a recording of one w x h frame, without a pointer, and waits
    // until the window manager has placed the window for it; only the
    // picture is left in the scene.
    void openPicture(int w, int h)
    {
        const QString path = dir.filePath(QStringLiteral("picture.vro"));
        RecordingWriter writer;
        writer.open(path);
        frame = testFrame(w, h, 3);
        writer.writeScreenFrame(0, frame);
        // A unit at its end: a recording that ends early would say so over
        // the picture.
        writer.writeInfo(5000, "end");
        writer.finish(5000);
        prompter.questionAnswer = IPrompter::No;
        ASSERT_TRUE(window->player().openFile(path));
        window->setFileInfo();
        window->drawingScene()->controlBarProxy()->setVisible(false);
        ASSERT_TRUE(waitFor([&] {
            return window->frameGeometry().size() != window->size() && isNormal();
        }));
    }

    bool isNormal() const { return !window->isFullScreen() && !window->isMaximized(); }

    // Waits until the window is full screen, or back to normal at `g`.
    ::testing::AssertionResult waitFullScreen()
    {
        if (waitFor([&] { return window->isFullScreen() && window->geometry() == kScreen; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not full screen: " << describe();
    }
    ::testing::AssertionResult waitNormalAt(const QRect& g)
    {
        if (waitFor([&] { return isNormal() && window->geometry() == g; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected a normal window at " << text(g)
                                             << ", got " << describe();
    }

    // What is wrong with the picture shown in `where` (window coordinates):
    // the scene's rectangle must be there with no scroll bars, each 16 x 16
    // box of the frame must show its colour at its place scaled to `where`
    // (sampled inside the box, away from its edges and diagonal, within 24
    // per channel) and the window must be black beside it. Empty when
    // nothing is wrong.
    QString pictureProblem(const QRect& where)
    {
        const QRect sceneRect =
            window->viewportTransform().mapRect(window->drawingScene()->sceneRect()).toRect();
        if (sceneRect != where)
            return QString::fromStdString("the scene rectangle is at " + text(sceneRect));
        if (window->horizontalScrollBar()->isVisible() || window->verticalScrollBar()->isVisible())
            return QStringLiteral("scroll bars are shown");
        const QImage shown = window->screen()->grabWindow(window->winId()).toImage();
        const double s = double(where.width()) / frame.width();
        for (int by = 0; by < frame.height() / 16; ++by) {
            for (int bx = 0; bx < frame.width() / 16; ++bx) {
                const QPoint fp(bx * 16 + 11, by * 16 + 4);
                const QPoint wp = where.topLeft() + QPoint(int(fp.x() * s), int(fp.y() * s));
                const unsigned want = frame.pixels()[fp.y() * frame.width() + fp.x()];
                const QRgb got = shown.valid(wp) ? shown.pixel(wp) : 0;
                if (std::abs(qRed(got) - int(want >> 16 & 0xFF)) > 24
                    || std::abs(qGreen(got) - int(want >> 8 & 0xFF)) > 24
                    || std::abs(qBlue(got) - int(want & 0xFF)) > 24)
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
    // Waits for the repaint that shows the picture in `where`.
    ::testing::AssertionResult showsPicture(const QRect& where)
    {
        if (waitFor([&] { return pictureProblem(where).isEmpty(); }, 5000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << pictureProblem(where).toStdString()
                                             << "; expected the picture at " << text(where) << " in "
                                             << describe();
    }

    static std::string text(const QRect& r)
    {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
            .toStdString();
    }
    std::string describe() const
    {
        return text(window->geometry()) + (window->isFullScreen() ? " full screen" : "")
            + (window->isMaximized() ? " maximised" : "");
    }

    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        QTest::keyClick(window.get(), k, m);
    }

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    std::unique_ptr<SessionPlayer> window;
    VideoFrame frame;
};

} // namespace

// Control+F12 shows the picture centred at its size, Control+F11 fits it;
// Escape goes back to the window as it was, with zoom on and off.
TEST_F(WindowManagerTest, FullScreenAndBackWithZoomOffAndOn)
{
    openPicture(1024, 768);
    ASSERT_FALSE(window->isStretched()); // it fits the screen
    const QRect before = window->geometry();
    ASSERT_EQ(before.size(), QSize(1024, 768));
    EXPECT_TRUE(showsPicture(QRect(0, 0, 1024, 768)));

    key(Qt::Key_F12, Qt::ControlModifier);
    ASSERT_TRUE(waitFullScreen());
    EXPECT_TRUE(showsPicture(QRect(288, 116, 1024, 768)));
    key(Qt::Key_F11, Qt::ControlModifier);
    EXPECT_TRUE(showsPicture(QRect(133, 0, 1333, 1000)));
    key(Qt::Key_Escape);
    EXPECT_TRUE(waitNormalAt(before));
    EXPECT_TRUE(showsPicture(QRect(0, 0, 1024, 768)));

    // Zoom off, twice round: the same window each time, never full screen
    // again on its own.
    key(Qt::Key_F11, Qt::ControlModifier);
    for (int round = 0; round < 2; ++round) {
        key(Qt::Key_F12, Qt::ControlModifier);
        ASSERT_TRUE(waitFullScreen()) << round;
        EXPECT_TRUE(showsPicture(QRect(288, 116, 1024, 768))) << round;
        key(Qt::Key_Escape);
        EXPECT_TRUE(waitNormalAt(before)) << round;
        EXPECT_TRUE(showsPicture(QRect(0, 0, 1024, 768))) << round;
    }
    EXPECT_TRUE(isNormal());
}

// A maximise, asked of the window manager as its title bar does, enters
// full screen; Escape returns to the window from before the maximise.
TEST_F(WindowManagerTest, MaximiseEntersFullScreenAndEscapeReturnsToTheWindowBeforeIt)
{
    openPicture(800, 480);
    const QRect before = window->geometry();
    window->windowHandle()->setWindowStates(Qt::WindowMaximized);
    ASSERT_TRUE(waitFullScreen());
    EXPECT_TRUE(showsPicture(QRect(400, 260, 800, 480)));
    key(Qt::Key_Escape);
    EXPECT_TRUE(waitNormalAt(before));
    EXPECT_TRUE(showsPicture(QRect(0, 0, 800, 480)));
}

// With zoom on, the picture fits the window at its aspect ratio, centred,
// with no scroll bars, after every resize; the wheel does not move it.
TEST_F(WindowManagerTest, ResizingWhileZoomedKeepsThePictureFitted)
{
    openPicture(1024, 768);
    key(Qt::Key_F11, Qt::ControlModifier); // zoom on (the window keeps 4:3)
    ASSERT_TRUE(window->isStretched());
    const std::pair<QSize, QRect> steps[] = {
        {{800, 450}, {100, 0, 600, 450}},
        {{400, 300}, {0, 0, 400, 300}},
        {{600, 900}, {0, 225, 600, 450}}, // taller than the picture
        {{1024, 768}, {0, 0, 1024, 768}},
    };
    for (const auto& [size, picture] : steps) {
        SCOPED_TRACE(text(picture));
        window->resize(size);
        ASSERT_TRUE(waitFor([&] { return window->size() == size; })) << describe();
        EXPECT_TRUE(showsPicture(picture));
        QWheelEvent wheel(QPointF(50, 50), window->mapToGlobal(QPointF(50, 50)), QPoint(),
                          QPoint(0, -360), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window->viewport(), &wheel);
        EXPECT_TRUE(showsPicture(picture));
    }
}

// A preview on hover as the X server shows it, over the picture under
// openbox; the screen is written to screenshots/preview.png of the build.
TEST_F(WindowManagerTest, PreviewOnHoverShowsOnTheScreen)
{
    const QString path = dir.filePath(QStringLiteral("preview.vro"));
    {
        RecordingWriter writer;
        writer.open(path);
        for (quint64 t = 0; t <= 40000; t += 5000) {
            VideoFrame f = testFrame(1024, 640, int(t / 5000));
            writer.writeScreenFrame(t, f);
        }
        writer.writeInfo(40000, "end");
        writer.finish(40000);
    }
    IndexBuilder builder;
    ASSERT_TRUE(builder.makeIndex(path, 10000));
    ASSERT_TRUE(window->player().openFile(path));
    window->setFileInfo();
    ASSERT_TRUE(window->player().isIndexLoaded());
    ASSERT_TRUE(waitFor([&] { return window->frameGeometry().size() != window->size() && isNormal(); }));

    // The pointer over the bar at 25 s.
    QProgressBar* bar = window->controlBar()->m_progressBar;
    const int x = (bar->width() - 1) * 25 / 40 + 1;
    // The bar gets the move (the offscreen window tests bring it there
    // through the view and the scene).
    PositionPreview* preview = window->positionPreview();
    QMouseEvent move(QEvent::MouseMove, QPointF(x, bar->height() / 2), QPointF(x, 0), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    ASSERT_TRUE(waitFor([&] { return preview->pictureSeconds() == 25; }))
        << preview->hoveredSeconds() << ' ' << preview->pictureSeconds();
    PreviewPopup* popup = preview->popup();
    ASSERT_TRUE(popup->isVisible());

    // The popup's picture is on the screen where the popup is.
    const QImage picture = popup->image();
    const QPoint at = popup->mapToGlobal(
        QPoint((popup->width() - picture.width()) / 2, PreviewPopup::kBorder));
    QImage shot;
    QString problem = QStringLiteral("never grabbed");
    waitFor([&] {
        shot = window->screen()->grabWindow(0).toImage();
        problem.clear();
        for (int y = 4; y < picture.height() && problem.isEmpty(); y += 16)
            for (int px = 4; px < picture.width() && problem.isEmpty(); px += 16) {
                const QRgb want = picture.pixel(px, y), got = shot.pixel(at + QPoint(px, y));
                if (std::abs(qRed(want) - qRed(got)) > 24 || std::abs(qGreen(want) - qGreen(got)) > 24
                    || std::abs(qBlue(want) - qBlue(got)) > 24)
                    problem = QStringLiteral("differs at %1,%2").arg(px).arg(y);
            }
        return problem.isEmpty();
    }, 5000);
    QDir().mkpath(QStringLiteral(SP_SCREENSHOT_DIR));
    EXPECT_TRUE(shot.save(QStringLiteral(SP_SCREENSHOT_DIR "/preview.png")));
    EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
}
