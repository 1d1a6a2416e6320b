// Window geometry with a fixed desktop of 1440 x 878 below a 22-pixel bar and
// a 22-pixel title: first sizing, zoom, the scaled picture size, the bar's
// place after scrolling and the window flags around full screen.

#include <QGraphicsProxyWidget>
#include <QScrollBar>

#include "WindowTestSupport.h"

using Geometry = WindowFixture;

TEST_F(Geometry, FirstScreenThatFitsOpensUnzoomedAndCentred)
{
    window->calcFirstScreenDimention(1024, 768);
    EXPECT_FALSE(window->isStretched());
    EXPECT_FALSE(scene()->isStretched());
    EXPECT_EQ(window->pos(), QPoint((1440 - 1024) / 2, (878 - 790) / 2));
    EXPECT_EQ(window->size(), QSize(1024, 768));
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, 1024, 768));
}

TEST_F(Geometry, FirstScreenLargerThanTheDesktopOpensZoomed)
{
    // Wider than the desktop's ratio: full width, centred vertically.
    window->calcFirstScreenDimention(1920, 1080);
    EXPECT_TRUE(window->isStretched());
    EXPECT_EQ(window->size(), QSize(1440, 810));
    EXPECT_EQ(window->pos(), QPoint(0, 22 + (878 - 810) / 2));
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, 1440, 810));

    // Taller: full height less the title, centred horizontally.
    window->calcFirstScreenDimention(1000, 2000);
    EXPECT_EQ(window->size(), QSize(428, 856));
    EXPECT_EQ(window->pos(), QPoint((1440 - 428) / 2, 22));
}

TEST_F(Geometry, FittedRectangleAndScaledSize)
{
    scene()->setFirstDimension(false);
    scene()->onScreenDimension(1024, 768);
    QRect r(0, 0, 800, 500);
    ASSERT_TRUE(scene()->calcDrawRect(r));
    EXPECT_EQ(r, QRect(0, 0, 666, 500));
    r = QRect(0, 0, 800, 800);
    scene()->calcDrawRect(r);
    EXPECT_EQ(r, QRect(0, 0, 800, 600));

    window->resize(800, 500);
    scene()->calcStretchedBitmapDimensions(0);
    EXPECT_EQ(scene()->stretchedSize(), QSize(667, 500));
    window->resize(800, 600); // the picture's own ratio: the window's size
    scene()->calcStretchedBitmapDimensions(0);
    EXPECT_EQ(scene()->stretchedSize(), QSize(800, 600));

    scene()->setStretched(false);
    EXPECT_FALSE(scene()->calcDrawRect(r));
}

TEST_F(Geometry, ZoomWithoutARecording)
{
    const QRectF before = scene()->sceneRect();
    window->onBtnZoomClicked(); // out: nothing to size
    EXPECT_FALSE(window->isStretched());
    EXPECT_EQ(scene()->sceneRect(), before);
    window->onBtnZoomClicked(); // in: no picture, no failure
    EXPECT_TRUE(window->isStretched());
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, window->width(), window->height()));
}

TEST_F(Geometry, ZoomInShrinksTheWindowToThePictureRatio)
{
    scene()->setFirstDimension(false);
    window->resize(900, 500);
    window->onBtnZoomClicked(); // out
    scene()->onScreenDimension(1024, 768);
    window->onBtnZoomClicked(); // in
    EXPECT_EQ(window->size(), QSize(666, 500));
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, 666, 500));
}

TEST_F(Geometry, BarStaysAtTheBottomCentreAfterScrolling)
{
    scene()->setFirstDimension(false);
    window->onBtnZoomClicked(); // out
    window->resize(800, 600);
    scene()->onScreenDimension(2000, 1500);
    ASSERT_EQ(scene()->sceneRect(), QRectF(0, 0, 2000, 1500));
    ASSERT_TRUE(waitFor([&] { return window->horizontalScrollBar()->maximum() > 300; }, 5000));
    window->horizontalScrollBar()->setValue(300);
    window->verticalScrollBar()->setValue(200);

    const QPointF o = window->mapToScene(0, 0);
    const QWidget* viewport = window->viewport();
    const QPointF pos = scene()->controlBarProxy()->pos();
    EXPECT_EQ(pos.x(), static_cast<int>((viewport->width() - bar()->width()) / 2 + o.x()));
    EXPECT_EQ(pos.y(), static_cast<int>(viewport->height() + o.y() - bar()->height()));
    EXPECT_GE(o.x(), 300);
}

TEST_F(Geometry, LeavingFullScreenTogglesTheCustomiseHint)
{
    ASSERT_FALSE(window->windowFlags() & Qt::CustomizeWindowHint);
    window->onBtnFullScreenClicked();
    ASSERT_TRUE(window->isFullScreen());
    window->onBtnFullScreenClicked();
    EXPECT_FALSE(window->isFullScreen());
    EXPECT_TRUE(window->windowFlags() & Qt::CustomizeWindowHint);
    window->onBtnFullScreenClicked();
    window->onBtnFullScreenClicked();
    EXPECT_FALSE(window->windowFlags() & Qt::CustomizeWindowHint);
    EXPECT_TRUE(window->isVisible());
}
