// SPDX-License-Identifier: GPL-3.0-or-later
// Window geometry with a fixed desktop of 1440 x 878 below a 22-pixel bar and
// a 22-pixel title: first sizing, zoom, the fitted and scaled picture sizes
// and the bar's place after scrolling. Full screen, maximise and resizing
// are tested under a real window manager (WindowManagerTest.cpp).

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
    window->resize(800, 500);
    scene()->calcStretchedBitmapDimensions(0);
    EXPECT_EQ(scene()->stretchedSize(), QSize(667, 500));
    window->resize(800, 600); // the picture's own ratio: the window's size
    scene()->calcStretchedBitmapDimensions(0);
    EXPECT_EQ(scene()->stretchedSize(), QSize(800, 600));
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
