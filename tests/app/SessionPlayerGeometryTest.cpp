// Window geometry with a fixed desktop of 1440 x 878 below a 22-pixel bar and
// a 22-pixel title: first sizing, zoom and resizing while zoomed, the scaled
// picture size, the bar's place after scrolling and the window around full
// screen. (Under a real window manager: WindowManagerTest.cpp.)

#include <QScrollBar>

#include "WindowTestSupport.h"

using Geometry = WindowFixture;

TEST_F(Geometry, FirstScreenSizeAndPlace)
{
    // Zoom without a recording: out sizes nothing, in fills the window.
    const QRectF before = scene()->sceneRect();
    window->onBtnZoomClicked();
    EXPECT_EQ(scene()->sceneRect(), before);
    window->onBtnZoomClicked();
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, window->width(), window->height()));

    struct Row { QSize screen; bool zoomed; QSize size; QPoint pos; };
    const Row rows[] = {
        // Fits: unzoomed, centred in the desktop with its title.
        {{1024, 768}, false, {1024, 768}, {(1440 - 1024) / 2, (878 - 790) / 2}},
        // Wider than the desktop's ratio: full width, centred vertically.
        {{1920, 1080}, true, {1440, 810}, {0, 22 + (878 - 810) / 2}},
        // Taller: full height less the title, centred horizontally.
        {{1000, 2000}, true, {428, 856}, {(1440 - 428) / 2, 22}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.screen.width());
        window->calcFirstScreenDimention(row.screen.width(), row.screen.height());
        EXPECT_EQ(window->isStretched(), row.zoomed);
        EXPECT_EQ(scene()->isStretched(), row.zoomed);
        EXPECT_EQ(window->size(), row.size);
        EXPECT_EQ(window->pos(), row.pos);
        EXPECT_EQ(scene()->sceneRect(), QRectF(QPointF(), row.size));
    }
}

TEST_F(Geometry, ZoomAndTheFittedPicture)
{
    // Unzoomed, nothing is fitted; zooming in shrinks the window to the
    // picture's ratio.
    scene()->setFirstDimension(false);
    window->resize(900, 500);
    window->onBtnZoomClicked(); // out
    scene()->onScreenDimension(1024, 768);
    QRect r(0, 0, 800, 500);
    EXPECT_FALSE(scene()->calcDrawRect(r));
    window->onBtnZoomClicked(); // in
    EXPECT_EQ(window->size(), QSize(666, 500));
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, 666, 500));

    ASSERT_TRUE(scene()->calcDrawRect(r));
    EXPECT_EQ(r, QRect(0, 0, 666, 500));
    r = QRect(0, 0, 600, 900); // taller than the picture
    ASSERT_TRUE(scene()->calcDrawRect(r));
    EXPECT_EQ(r, QRect(0, 0, 600, 450));

    // Every resize keeps the picture fitted, centred, without scroll bars,
    // at the scaled size.
    const VideoFrame frame = testFrame(1024, 768, 2);
    scene()->setScreenPixels(frame.pixels(), 1024, 768);
    scene()->onDecodeCompleted();
    scene()->controlBarProxy()->setVisible(false);
    struct Row { QSize window; QRect picture; QSize scaled; };
    const Row rows[] = {
        {{800, 450}, {100, 0, 600, 450}, {600, 450}},
        {{400, 300}, {0, 0, 400, 300}, {400, 300}}, // the picture's own ratio
        {{600, 900}, {0, 225, 600, 450}, {600, 450}},
        {{800, 500}, {67, 0, 666, 500}, {667, 500}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.window.width());
        window->resize(row.window);
        ASSERT_TRUE(waitFor([&] { return window->size() == row.window; }));
        EXPECT_EQ(window->viewportTransform().mapRect(scene()->sceneRect()).toRect(), row.picture);
        EXPECT_FALSE(window->horizontalScrollBar()->isVisible());
        EXPECT_FALSE(window->verticalScrollBar()->isVisible());
        EXPECT_EQ(scene()->stretchedSize(), row.scaled);
        const QString problem = pictureProblem(window->viewport()->grab().toImage(), frame, row.picture);
        EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
    }
}

TEST_F(Geometry, BarStaysAtTheBottomCentreAfterScrolling)
{
    scene()->setFirstDimension(false);
    window->onBtnZoomClicked(); // out
    window->resize(800, 600);
    scene()->onScreenDimension(2000, 1500);
    ASSERT_TRUE(waitFor([&] { return window->horizontalScrollBar()->maximum() > 300; }));
    window->horizontalScrollBar()->setValue(300);
    window->verticalScrollBar()->setValue(200);

    const QPointF o = window->mapToScene(0, 0);
    const QPointF pos = scene()->controlBarProxy()->pos();
    EXPECT_GE(o.x(), 300);
    EXPECT_EQ(pos.x(), static_cast<int>((window->viewport()->width() - bar()->width()) / 2 + o.x()));
    EXPECT_EQ(pos.y(), static_cast<int>(window->viewport()->height() + o.y() - bar()->height()));
}

// Leaving full screen puts the window back where it was, or where it was
// before the maximise that took it to full screen, with the flags it had.
TEST_F(Geometry, LeavingFullScreenRestoresTheWindowFromBefore)
{
    window->setGeometry(100, 80, 640, 400);
    const QRect before = window->geometry();
    const Qt::WindowFlags flags = window->windowFlags();
    for (bool maximise : {false, true, false}) {
        SCOPED_TRACE(maximise);
        if (maximise)
            window->showMaximized();
        else
            window->onBtnFullScreenClicked();
        ASSERT_TRUE(waitFor([&] { return window->isFullScreen(); }));
        emit window->goNormalScreen();
        ASSERT_TRUE(waitFor([&] { return !window->isFullScreen(); }));
        EXPECT_FALSE(window->isMaximized());
        EXPECT_EQ(window->geometry(), before);
        EXPECT_EQ(window->windowFlags(), flags);
        EXPECT_TRUE(window->isVisible());
    }
}
