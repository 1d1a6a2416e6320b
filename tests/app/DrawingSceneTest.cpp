// SPDX-License-Identifier: GPL-3.0-or-later
// The scene rendered into images: the decoded screen, the pointer with its
// hot spot zoomed and unzoomed, the standard arrow, the information band and
// the suppressed repaints of a seek; the player thread's calls reaching the
// GUI thread queued.

#include <QPainter>

#include <thread>

#include "MultiMonitor.h"
#include "VtrCursor.h"
#include "WindowTestSupport.h"

namespace {

bool near(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool isRed(QRgb c)
{
    return near(c, qRgb(255, 0, 0), 55);
}

} // namespace

class DrawingSceneTest : public WindowFixture
{
protected:
    // Opens a w x h recording, unzoomed (it fits the desktop), and hides the
    // bar so that only the picture is rendered.
    void openPicture(int w = 64, int h = 48)
    {
        ASSERT_TRUE(open(record(QStringLiteral("scene.vro"), w, h, 2000, 500)));
        ASSERT_FALSE(window->isStretched());
        scene()->controlBarProxy()->setVisible(false);
    }

    QImage render(int w = 64, int h = 48)
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        scene()->render(&painter, QRectF(0, 0, w, h), QRectF(0, 0, w, h));
        return image;
    }

    // Gives cursor `id` a red w x h image with its hot spot at (hotX, hotY);
    // `cut` bytes fewer than the record has are passed as its length.
    void redCursor(int id, int w, int h, int hotX, int hotY, int cut = 0)
    {
        QImage red(w, h, QImage::Format_ARGB32);
        red.fill(QColor(255, 0, 0));
        QByteArray bytes;
        ASSERT_TRUE(VtrCursor(&red, hotX, hotY).serialize(bytes));
        scene()->onMouseCursor(id, reinterpret_cast<unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()) - cut);
    }
};

TEST_F(DrawingSceneTest, PointerHotSpotUnzoomedAndZoomed)
{
    openPicture();
    redCursor(5, 8, 8, 3, 2);
    scene()->onMousePos(20, 10, 5, false);
    // The 8 x 8 image covers (17, 8) to (24, 15); zoomed to twice the size,
    // the hot spot lands on (40, 20) and the image covers (34, 16) to (49, 31).
    for (int scale : {1, 2}) {
        if (scale == 2) {
            scene()->setStretched(true);
            scene()->setSceneRect(0, 0, 128, 96);
        }
        const QImage shown = render(64 * scale, 48 * scale);
        const QPoint first = QPoint(40, 20) / 2 * scale - QPoint(3, 2) * scale;
        const QPoint last = first + QPoint(8, 8) * scale - QPoint(1, 1);
        EXPECT_TRUE(isRed(shown.pixel(first)) && isRed(shown.pixel(last))) << scale;
        EXPECT_FALSE(isRed(shown.pixel(first - QPoint(1, 0))) || isRed(shown.pixel(last + QPoint(1, 0))))
            << scale;
    }
}

// The first screen pixel for pixel; over it, the standard arrow for a cursor
// id the recording has not described (yet).
TEST_F(DrawingSceneTest, FirstScreenAndTheStandardArrow)
{
    openPicture();
    VideoFrame frame = testFrame(64, 48, 0);
    QImage expected = QImage(reinterpret_cast<const uchar*>(frame.pixels()), 64, 48, QImage::Format_RGB32).copy();
    EXPECT_EQ(render(), expected); // RGB32 images compare without alpha
    scene()->onMousePos(30, 20, 0x77, false);
    QPainter(&expected).drawImage(30 - DrawingScene::kDefaultHotX, 20 - DrawingScene::kDefaultHotY,
                                  QImage(QStringLiteral(":/images/cursor_pointer.png")));
    EXPECT_EQ(render(), expected);

    // The recording's own image for that id replaces the arrow.
    redCursor(0x77, 4, 4, 0, 0);
    scene()->onMousePos(30, 20, 0x77, false);
    EXPECT_TRUE(isRed(render().pixel(31, 21)));

    // A record longer than the length given is refused: the arrow stays.
    scene()->onMousePos(40, 30, 0x78, false);
    redCursor(0x78, 4, 4, 0, 0, 1);
    EXPECT_FALSE(isRed(render().pixel(41, 31)));
}

TEST_F(DrawingSceneTest, PauseTextOnAWhiteBand)
{
    openPicture(320, 240);
    const QImage before = render(320, 240);
    scene()->onPause(false);
    EXPECT_EQ(scene()->infoText(), QStringLiteral("PAUSE"));
    const QImage shown = render(320, 240);

    // A band of the text's height, 70 % white over the picture, with the
    // text in dark red on it; nothing changes above or below.
    const int th = QFontMetrics(QFont(QStringLiteral("Verdana"), 60)).height();
    const int top = 240 / 2 - th / 2;
    auto white70 = [](int c) { return qRound(178.5 + 0.3 * c); };
    for (int y : {top, top + th - 1}) {
        const QRgb c = before.pixel(0, y);
        EXPECT_TRUE(near(shown.pixel(0, y), qRgb(white70(qRed(c)), white70(qGreen(c)), white70(qBlue(c))))) << y;
    }
    EXPECT_EQ(shown.pixel(5, top - 1), before.pixel(5, top - 1));
    EXPECT_EQ(shown.pixel(5, top + th), before.pixel(5, top + th));
    bool textColour = false;
    for (int x = 0; x < 320; ++x)
        textColour |= near(shown.pixel(x, top + th / 2), qRgb(132, 2, 4), 8);
    EXPECT_TRUE(textColour);

    scene()->reset();
    EXPECT_EQ(render(320, 240), before);
}

TEST_F(DrawingSceneTest, AMessageOnADarkBoxTopLeftGoesAfterTwoSeconds)
{
    openPicture(320, 240);
    const QImage before = render(320, 240);
    const QString text = QStringLiteral("Damaged part skipped (0:16\u20130:21)");
    std::thread([&] { scene()->showMessage(text); }).join();
    EXPECT_EQ(scene()->message(), text);
    EXPECT_TRUE(scene()->infoText().isEmpty()) << "not the information band";
    const QImage shown = render(320, 240);

    // The box starts at the margin and darkens what lies under it; its text
    // is light; the rest of the picture is untouched.
    const int edge = DrawingScene::kMessageMargin;
    EXPECT_EQ(shown.pixel(edge - 1, edge + 10), before.pixel(edge - 1, edge + 10));
    const QRgb under = before.pixel(edge + 2, edge + 10), over = shown.pixel(edge + 2, edge + 10);
    EXPECT_LT(qGray(over), qGray(under) / 2 + 2);
    int light = 0;
    for (int y = edge; y < edge + 40; ++y)
        for (int x = edge; x < 200; ++x)
            light += qGray(shown.pixel(x, y)) > 200;
    EXPECT_GT(light, 20);
    EXPECT_EQ(shown.pixel(300, 200), before.pixel(300, 200));

    EXPECT_TRUE(waitFor([&] { return scene()->message().isEmpty(); }, 4000));
    EXPECT_EQ(render(320, 240), before);
}

TEST_F(DrawingSceneTest, NothingRepaintedWhileSeeking)
{
    openPicture();
    const QImage before = render();
    VideoFrame box;
    box.resize(16, 16);
    box.clear(0xFF00FF00);

    redCursor(0x99, 4, 4, 0, 0);
    scene()->setSeeking(true);
    scene()->onBoxDecoded(&box, 0, 0, 16, 16);
    scene()->onDecodePassCompleted();
    scene()->onDecodeCompleted();
    scene()->onMousePos(30, 30, 0x99, false);
    scene()->onMousePos(40, 20, 0x99, false);
    EXPECT_EQ(render(), before);

    // The seek's end shows what it decoded, and the pointer where the last
    // move it replayed left it.
    scene()->setSeeking(false);
    const QImage after = render();
    EXPECT_EQ(after.pixel(15, 15) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(after.pixel(16, 16), before.pixel(16, 16));
    EXPECT_TRUE(isRed(after.pixel(40, 20)));
    EXPECT_FALSE(isRed(after.pixel(30, 30)));
}

TEST_F(DrawingSceneTest, PlayerThreadDimensionReachesTheWindowQueued)
{
    openPicture();
    scene()->setFirstDimension(true);
    std::thread([&] { scene()->onScreenDimension(200, 100); }).join();
    int w = 0, h = 0;
    scene()->getImageSize(w, h);
    EXPECT_EQ(QSize(w, h), QSize(200, 100)); // the frame at once
    EXPECT_EQ(window->size(), QSize(64, 48)); // the window not yet
    EXPECT_TRUE(waitFor([&] { return window->size() == QSize(200, 100); }));
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, 200, 100));
}

// Five 3840 x 2160 monitors side by side play through the player and the
// scene: the picture, zoomed to fit the window, shows every monitor.
TEST_F(DrawingSceneTest, FiveMonitorsSideBySidePlay)
{
    const QString path = dir.filePath(QStringLiteral("wide.vro"));
    writeMultiMonitorRecording(path);
    ASSERT_TRUE(open(path));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitFor([&] { return player().getState() == FilePlayer::STATE_IDLE; }));
    int w = 0, h = 0;
    scene()->getImageSize(w, h);
    ASSERT_EQ(QSize(w, h), QSize(kMonitors * kMonitorWidth, kMonitorHeight));

    scene()->controlBarProxy()->setVisible(false);
    const QRectF shown = scene()->sceneRect();
    ASSERT_GT(shown.width(), 0);
    const QImage picture = render(int(shown.width()), int(shown.height()));
    // Each monitor near its bottom edge and the moved window near its top,
    // clear of the band of "The End" across the middle.
    for (int m = 0; m < kMonitors; ++m) {
        const QPoint at(int((m + 0.5) / kMonitors * picture.width()), picture.height() - 4);
        EXPECT_TRUE(near(picture.pixel(at), monitorColour(m), 4)) << "monitor " << m;
    }
    const QPoint window3(int((3 * kMonitorWidth + 900) / double(w) * picture.width()),
                         picture.height() * 330 / kMonitorHeight);
    EXPECT_GT(qGray(picture.pixel(window3)), 150) << "the window on the fourth monitor";
}
