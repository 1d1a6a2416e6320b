#include "ControlBar.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QResource>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Stands in for the main window: the slots the buttons reach by name and the
// position call.
class FakeController : public QObject
{
    Q_OBJECT

public:
    QStringList calls;
    std::vector<unsigned long long> positions;

    Q_INVOKABLE void setPlayerPos(unsigned long long seconds) { positions.push_back(seconds); }

public slots:
    void onBtnOpenClicked() { calls << "open"; }
    void onBtnStopClicked() { calls << "stop"; }
    void onBtnPlayClicked() { calls << "play"; }
    void onBtnDecSpeedClicked() { calls << "slower"; }
    void onBtnIncSpeedClicked() { calls << "faster"; }
    void onBtnBackwordClicked() { calls << "back"; }
    void onBtnForwardClicked() { calls << "forward"; }
    void onBtnZoomClicked() { calls << "zoom"; }
    void onBtnFullScreenClicked() { calls << "fullscreen"; }
};

QImage resourceImage(const QString& path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}

bool showsIcon(QPushButton* button, const QString& path)
{
    const QSize size = button->iconSize();
    return button->icon().pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32)
        == resourceImage(path).scaled(size);
}

// The animation timers the bar runs itself (the hide delay is a QTimer of
// its own and does not show here).
QList<QAbstractEventDispatcher::TimerInfo> fadeTimers(ControlBar& bar)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(&bar);
}

void tick(ControlBar& bar)
{
    const auto timers = fadeTimers(bar);
    ASSERT_EQ(timers.size(), 1);
    ASSERT_EQ(timers[0].interval, 50);
    QTimerEvent e(timers[0].timerId);
    QCoreApplication::sendEvent(&bar, &e);
}

void hover(ControlBar& bar, QEvent::Type type)
{
    QHoverEvent e(type, QPointF(10, 10), QPointF(10, 10), QPointF(-1, -1));
    QCoreApplication::sendEvent(&bar, &e);
}

void pressBar(ControlBar& bar, int x, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(bar.m_progressBar, button, Qt::NoModifier, QPoint(x, 5));
}

class ControlBarTest : public ::testing::Test
{
protected:
    FakeController controller;
    ControlBar bar{&controller, nullptr};
};

} // namespace

TEST_F(ControlBarTest, EveryButtonReachesItsSlotAndHasItsName)
{
    struct Row
    {
        QPushButton* button;
        const char* call;
        const char* name;
    };
    const Row rows[] = {
        {bar.m_btnOpen, "open", "Open"},       {bar.m_btnStop, "stop", "Stop"},
        {bar.m_btnPlay, "play", "Play"},       {bar.m_bntDecSpeed, "slower", "Slower"},
        {bar.m_btnIncSpeed, "faster", "Faster"}, {bar.m_btnBackword, "back", "Back"},
        {bar.m_btnForward, "forward", "Forward"}, {bar.m_btnZoom, "zoom", "Zoom"},
        {bar.m_btnFullScreen, "fullscreen", "Full screen"},
    };
    bar.show();
    for (const Row& row : rows) {
        controller.calls.clear();
        QTest::mouseClick(row.button, Qt::LeftButton);
        EXPECT_EQ(controller.calls, QStringList{row.call}) << row.name;
        EXPECT_EQ(row.button->accessibleName(), row.name);
        EXPECT_EQ(row.button->toolTip(), row.name);
        EXPECT_EQ(row.button->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(row.button->property("class").toString(), "controlbar button");
    }
}

TEST_F(ControlBarTest, StatesEnableOnlyWhatCanBeUsed)
{
    auto usable = [this] {
        QStringList names;
        for (QPushButton* b : bar.findChildren<QPushButton*>()) {
            if (b->isEnabled())
                names << b->objectName();
        }
        names.sort();
        return names;
    };
    const QStringList all{"m_bntDecSpeed", "m_btnBackword", "m_btnForward",    "m_btnFullScreen", "m_btnIncSpeed",
                          "m_btnOpen",     "m_btnPlay",     "m_btnStop",       "m_btnZoom"};

    bar.stateIndexing();
    EXPECT_EQ(usable(), (QStringList{"m_btnFullScreen", "m_btnStop", "m_btnZoom"}));
    EXPECT_EQ(bar.m_lblTimeText->text(), "Now indexing:");
    EXPECT_EQ(bar.m_progressBar->styleSheet(), ControlBar::getProgbarStylesheet(true));

    // Nothing loaded: stop only while the bar shows progress.
    bar.stateIdle();
    bar.statePlaying(false, 0);
    EXPECT_EQ(usable(), (QStringList{"m_btnFullScreen", "m_btnOpen", "m_btnZoom"}));
    EXPECT_EQ(bar.m_lblTimeText->text(), "Time:");
    EXPECT_EQ(bar.m_progressBar->styleSheet(), ControlBar::getProgbarStylesheet(false));
    bar.updateControlbarTiming("00:00:01 / 00:00:01", 1);
    bar.statePlaying(false, 0);
    EXPECT_EQ(usable(), (QStringList{"m_btnFullScreen", "m_btnOpen", "m_btnStop", "m_btnZoom"}));

    // Playing shows pause, and the button says so; paused shows play again.
    bar.statePlaying(true, 1);
    EXPECT_EQ(usable(), all);
    EXPECT_TRUE(showsIcon(bar.m_btnPlay, ":/images/btn_pause.png"));
    EXPECT_EQ(bar.m_btnPlay->accessibleName(), "Pause");
    bar.statePlaying(true, 2);
    EXPECT_TRUE(showsIcon(bar.m_btnPlay, ":/images/btn_play.png"));
    EXPECT_EQ(bar.m_btnPlay->accessibleName(), "Play");
    bar.setButtonIconAutoPlay();
    EXPECT_TRUE(showsIcon(bar.m_btnPlay, ":/images/btn_pause.png"));

    // Zoom starts on and the window windowed.
    EXPECT_TRUE(showsIcon(bar.m_btnZoom, ":/images/btn_zoom_a.png"));
    EXPECT_TRUE(showsIcon(bar.m_btnFullScreen, ":/images/btn_fullscreen_a.png"));
    bar.setZoomActive(false);
    bar.setFullScreenActive(true);
    EXPECT_TRUE(showsIcon(bar.m_btnZoom, ":/images/btn_zoom.png"));
    EXPECT_TRUE(showsIcon(bar.m_btnFullScreen, ":/images/btn_fullscreen.png"));
}

TEST_F(ControlBarTest, PositionPressesReachTheControllerAtBothEnds)
{
    bar.show();
    bar.setProgressbarMaxValue(5400);
    const int right = bar.m_progressBar->width() - 1;
    pressBar(bar, right);
    pressBar(bar, 0);
    pressBar(bar, right, Qt::RightButton); // not a position
    EXPECT_EQ(controller.positions, (std::vector<unsigned long long>{5400, 0}));

    // An empty recording still has a range: the right end is 1.
    bar.setProgressbarMaxValue(0);
    EXPECT_EQ(bar.m_progressBar->maximum(), 1);
    controller.positions.clear();
    pressBar(bar, right);
    EXPECT_EQ(controller.positions, (std::vector<unsigned long long>{1}));

    // A position past the duration fills the bar instead of being dropped.
    bar.setProgressbarMaxValue(100);
    bar.updateControlbarTiming("00:01:41 / 00:01:40", 101);
    EXPECT_EQ(bar.m_progressBar->value(), 100);
    EXPECT_EQ(bar.m_lblTime->text(), "00:01:41 / 00:01:40");

    // Without a controller the press is still consumed.
    ControlBar lone(nullptr, nullptr);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(QCoreApplication::sendEvent(lone.m_progressBar, &press));
}

TEST_F(ControlBarTest, FadesOutAfterLeavingAndInOnEntering)
{
    // A widget keeps its opacity in 1/255 steps.
    const double kOpacityStep = 1.0 / 255;

    // Leaving arms the 4 s delay; its end starts fading out.
    hover(bar, QEvent::HoverEnter);
    EXPECT_TRUE(fadeTimers(bar).isEmpty()); // already opaque
    hover(bar, QEvent::HoverLeave);
    auto* hideTimer = bar.findChild<QTimer*>();
    ASSERT_NE(hideTimer, nullptr);
    EXPECT_TRUE(hideTimer->isActive());
    EXPECT_TRUE(hideTimer->isSingleShot());
    EXPECT_EQ(hideTimer->interval(), 4000);
    EXPECT_TRUE(fadeTimers(bar).isEmpty());

    bar.hideFading();
    tick(bar);
    EXPECT_NEAR(bar.windowOpacity(), 0.975, kOpacityStep);
    int ticks = 1;
    while (!fadeTimers(bar).isEmpty() && ticks < 100) {
        tick(bar);
        ++ticks;
    }
    EXPECT_NEAR(ticks, 40, 1); // 2 s in 50 ms steps
    EXPECT_EQ(bar.windowOpacity(), 0.0);

    // Entering fades in by 0.1 a tick; leaving meanwhile turns round at once,
    // without the delay.
    hover(bar, QEvent::HoverEnter);
    tick(bar);
    tick(bar);
    EXPECT_NEAR(bar.windowOpacity(), 0.2, kOpacityStep);
    hover(bar, QEvent::HoverLeave);
    EXPECT_FALSE(hideTimer->isActive());
    tick(bar);
    EXPECT_NEAR(bar.windowOpacity(), 0.175, kOpacityStep);

    // Entering again while fading out turns round too, up to exactly 1.
    hover(bar, QEvent::HoverEnter);
    ticks = 0;
    while (!fadeTimers(bar).isEmpty() && ticks < 100) {
        tick(bar);
        ++ticks;
    }
    EXPECT_NEAR(ticks, 9, 1);
    EXPECT_EQ(bar.windowOpacity(), 1.0);

    // Entering cancels a pending fade-out.
    hover(bar, QEvent::HoverLeave);
    hover(bar, QEvent::HoverEnter);
    EXPECT_FALSE(hideTimer->isActive());
}

TEST_F(ControlBarTest, PaintsAGreyBandFadingAtBothEndsAlsoInAScene)
{
    QImage image(bar.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    bar.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    EXPECT_LT(qAlpha(image.pixel(0, 90)), 10);
    EXPECT_LT(qAlpha(image.pixel(445, 90)), 10);
    const QRgb middle = image.pixel(223, 90);
    EXPECT_NEAR(qAlpha(middle), 215, 2);
    EXPECT_NEAR(qRed(middle), 225, 2);
    EXPECT_NEAR(qBlue(middle), 225, 2);

    // Faded out inside the scene, the bar leaves the picture alone.
    QGraphicsScene scene;
    QGraphicsProxyWidget* proxy = scene.addWidget(&bar);
    bar.hideFading();
    for (int i = 0; i < 41 && !fadeTimers(bar).isEmpty(); ++i)
        tick(bar);
    QImage shot(bar.size(), QImage::Format_ARGB32);
    shot.fill(Qt::black);
    QPainter painter(&shot);
    scene.render(&painter, QRectF(shot.rect()), proxy->sceneBoundingRect());
    painter.end();
    EXPECT_EQ(shot.pixel(223, 90), qRgb(0, 0, 0));
    proxy->setWidget(nullptr);
}

TEST(ControlBarResources, StyleSheetsAndImages)
{
    ControlBar::registerResources();
    QFile qss(":/SessionPlayer/style.qss");
    ASSERT_TRUE(qss.open(QIODevice::ReadOnly));
    EXPECT_EQ(qss.readAll(), QByteArray(".button.controlbar\n{\n\tborder: none;\n}\n\n"
                                        ".button.controlbar:pressed\n{\n\tmargin-left: 2px;\n"
                                        "\tmargin-top:\t 2px;\n}\n"));

    EXPECT_EQ(ControlBar::getProgbarStylesheet(false),
              "QProgressBar {border: none;border-image: none;"
              "background: url(':/images/green_inactive.png') top left repeat-x;}"
              "QProgressBar::chunk {background: url(':/images/green_active.png') top left no-repeat;"
              "width: 3px;}");
    EXPECT_EQ(ControlBar::getProgbarStylesheet(true),
              "QProgressBar {border: none;border-image: none;"
              "background: url(':/images/red_inactive.png') top left repeat-x;}"
              "QProgressBar::chunk {background: url(':/images/red_active.png') top left no-repeat;"
              "width: 3px;}");

    const std::pair<const char*, QSize> images[] = {
        {"btn_file", {16, 16}},          {"btn_stop", {16, 16}},       {"btn_play", {16, 16}},
        {"btn_pause", {16, 16}},         {"btn_slowdown", {16, 16}},   {"btn_speedup", {16, 16}},
        {"btn_stepback", {16, 16}},      {"btn_stepforward", {16, 16}}, {"btn_zoom", {18, 18}},
        {"btn_zoom_a", {18, 18}},        {"btn_fullscreen", {18, 18}}, {"btn_fullscreen_a", {18, 18}},
        {"green_inactive", {3, 13}},     {"green_active", {3, 13}},    {"red_inactive", {3, 13}},
        {"red_active", {3, 13}},         {"cursor_pointer", {11, 19}}, {"icon_16x16", {16, 16}},
        {"icon_48x48", {48, 48}},
    };
    for (const auto& [name, size] : images) {
        const QString path = QStringLiteral(":/images/%1.png").arg(name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        EXPECT_TRUE(file.read(8).startsWith("\x89PNG")) << name;
        EXPECT_EQ(QImage(path).size(), size) << name;
        EXPECT_EQ(QResource(path).compressionAlgorithm(), QResource::NoCompression) << name;
    }
    // The pointer's tip is its hot spot (2, 2): the first visible pixel.
    const QImage pointer = resourceImage(":/images/cursor_pointer.png");
    EXPECT_GT(qAlpha(pointer.pixel(2, 2)), 128);
    EXPECT_LT(qAlpha(pointer.pixel(1, 1)), 40);
    EXPECT_LT(qAlpha(pointer.pixel(2, 1)), 40);
    EXPECT_LT(qAlpha(pointer.pixel(1, 2)), 40);
}

#include "ControlBarTest.moc"
