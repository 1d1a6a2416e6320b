// The scene rendered into images: the decoded screen, the pointer with its
// hot spot zoomed and unzoomed, the standard arrow, the information band and
// the suppressed repaints of a seek; the player thread's calls reaching the
// GUI thread queued.

#include <QGraphicsProxyWidget>
#include <QPainter>

#include <thread>

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
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

QByteArray cursorRecord(const QImage& image, int hotX, int hotY)
{
    QImage copy = image;
    VtrCursor cursor(&copy, hotX, hotY);
    QByteArray bytes;
    EXPECT_TRUE(cursor.serialize(bytes));
    return bytes;
}

} // namespace

class DrawingSceneTest : public WindowFixture
{
protected:
    // Opens a w x h recording, unzoomed (it fits the desktop), and hides the
    // bar so that only the picture is rendered.
    void openPicture(int w = 64, int h = 48)
    {
        path = record(QStringLiteral("scene.vro"), w, h, 2000, 500);
        ASSERT_TRUE(open(path));
        ASSERT_FALSE(window->isStretched());
        scene()->controlBarProxy()->setVisible(false);
    }

    QImage render(const QRect& r)
    {
        QImage image(r.size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        scene()->render(&painter, QRectF(0, 0, r.width(), r.height()), QRectF(r));
        return image;
    }

    QString path;
};

TEST_F(DrawingSceneTest, FirstScreenPixelForPixel)
{
    openPicture();
    const VideoFrame expected = testFrame(64, 48, 0);
    const QImage shown = render(QRect(0, 0, 64, 48));
    int differences = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            differences += (shown.pixel(x, y) & 0xFFFFFF) != (expected.getPixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differences, 0);
}

TEST_F(DrawingSceneTest, PointerHotSpotUnzoomedAndZoomed)
{
    openPicture();
    QImage red(8, 8, QImage::Format_ARGB32);
    red.fill(QColor(255, 0, 0));
    QByteArray record = cursorRecord(red, 3, 2);
    scene()->onMouseCursor(5, reinterpret_cast<unsigned char*>(record.data()),
                           static_cast<int>(record.size()));
    scene()->onMousePos(20, 10, 5, false);

    QImage shown = render(QRect(0, 0, 64, 48));
    EXPECT_TRUE(isRed(shown.pixel(17, 8)));
    EXPECT_TRUE(isRed(shown.pixel(24, 15)));
    EXPECT_FALSE(isRed(shown.pixel(16, 8)));
    EXPECT_FALSE(isRed(shown.pixel(25, 15)));

    // Zoomed to twice the size: position and cursor scale by 2, the hot spot
    // lands on (40, 20).
    scene()->setStretched(true);
    scene()->setSceneRect(0, 0, 128, 96);
    shown = render(QRect(0, 0, 128, 96));
    EXPECT_TRUE(isRed(shown.pixel(34, 16)));
    EXPECT_TRUE(isRed(shown.pixel(49, 31)));
    EXPECT_FALSE(isRed(shown.pixel(33, 16)));
    EXPECT_FALSE(isRed(shown.pixel(50, 32)));
}

TEST_F(DrawingSceneTest, UnknownCursorIdShowsTheStandardArrowUntilItsImageComes)
{
    openPicture();
    const QImage before = render(QRect(0, 0, 64, 48));
    scene()->onMousePos(30, 20, 0x77, false);
    const QImage shown = render(QRect(0, 0, 64, 48));

    QImage expected = before;
    {
        QPainter painter(&expected);
        painter.drawImage(30 - DrawingScene::kDefaultHotX, 20 - DrawingScene::kDefaultHotY,
                          QImage(QStringLiteral(":/images/cursor_pointer.png")));
    }
    int differences = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            differences += !near(shown.pixel(x, y), expected.pixel(x, y));
    EXPECT_EQ(differences, 0);
    EXPECT_NE(shown, before);

    // The recording's own image for that id replaces the arrow.
    QImage red(4, 4, QImage::Format_ARGB32);
    red.fill(QColor(255, 0, 0));
    QByteArray record = cursorRecord(red, 0, 0);
    scene()->onMouseCursor(0x77, reinterpret_cast<unsigned char*>(record.data()),
                           static_cast<int>(record.size()));
    scene()->onMousePos(30, 20, 0x77, false);
    EXPECT_TRUE(isRed(render(QRect(0, 0, 64, 48)).pixel(31, 21)));

    // A record longer than the length given is refused: the arrow stays.
    scene()->onMousePos(40, 30, 0x78, false);
    scene()->onMouseCursor(0x78, reinterpret_cast<unsigned char*>(record.data()),
                           static_cast<int>(record.size()) - 1);
    EXPECT_FALSE(isRed(render(QRect(0, 0, 64, 48)).pixel(41, 31)));
}

TEST_F(DrawingSceneTest, PauseTextOnAWhiteBand)
{
    openPicture(320, 240);
    const QImage before = render(QRect(0, 0, 320, 240));
    scene()->onPause(false);
    EXPECT_EQ(scene()->infoText(), QStringLiteral("PAUSE"));
    const QImage shown = render(QRect(0, 0, 320, 240));

    const int th = QFontMetrics(QFont(QStringLiteral("Verdana"), 60)).height();
    const int top = 240 / 2 - th / 2;
    auto banded = [](QRgb c) {
        return qRgb(qRound(0.7 * 255 + 0.3 * qRed(c)), qRound(0.7 * 255 + 0.3 * qGreen(c)),
                    qRound(0.7 * 255 + 0.3 * qBlue(c)));
    };
    for (int y : {top, top + th / 2, top + th - 1}) {
        EXPECT_TRUE(near(shown.pixel(0, y), banded(before.pixel(0, y)))) << y;
        EXPECT_TRUE(near(shown.pixel(319, y), banded(before.pixel(319, y)))) << y;
    }
    EXPECT_EQ(shown.pixel(5, top - 1), before.pixel(5, top - 1));
    EXPECT_EQ(shown.pixel(5, top + th), before.pixel(5, top + th));
    bool textColour = false;
    for (int x = 0; x < 320 && !textColour; ++x)
        for (int y = top; y < top + th && !textColour; ++y)
            textColour = near(shown.pixel(x, y), qRgb(132, 2, 4), 8);
    EXPECT_TRUE(textColour);

    scene()->reset();
    EXPECT_EQ(render(QRect(0, 0, 320, 240)), before);
}

TEST_F(DrawingSceneTest, NothingRepaintedWhileSeeking)
{
    openPicture();
    const QImage before = render(QRect(0, 0, 64, 48));
    VideoFrame box;
    box.resize(16, 16);
    box.clear(0xFF00FF00);

    scene()->setSeeking(true);
    scene()->onBoxDecoded(&box, 0, 0, 16, 16);
    scene()->onDecodePassCompleted();
    scene()->onDecodeCompleted();
    scene()->onMousePos(10, 10, 0x99, false);
    EXPECT_EQ(render(QRect(0, 0, 64, 48)), before);
    EXPECT_EQ(scene()->mouseX(), -1);

    // The seek's end shows what it decoded.
    scene()->setSeeking(false);
    const QImage after = render(QRect(0, 0, 64, 48));
    EXPECT_EQ(after.pixel(0, 0) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(after.pixel(15, 15) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(after.pixel(16, 16), before.pixel(16, 16));
}

TEST_F(DrawingSceneTest, PlayerThreadDimensionReachesTheWindowQueued)
{
    openPicture();
    scene()->setFirstDimension(true);
    std::thread player([&] { scene()->onScreenDimension(200, 100); });
    player.join();
    int w = 0, h = 0;
    scene()->getImageSize(w, h);
    EXPECT_EQ(QSize(w, h), QSize(200, 100)); // the frame at once
    EXPECT_EQ(window->size(), QSize(64, 48)); // the window not yet
    EXPECT_TRUE(waitFor([&] { return window->size() == QSize(200, 100); }, 5000));
    EXPECT_EQ(scene()->sceneRect(), QRectF(0, 0, 200, 100));
}
