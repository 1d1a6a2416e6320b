#include "ControlBar.h"

#include <QAbstractEventDispatcher>
#include <QFile>
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
    void onBtnOpenClicked() { calls << "Open"; }
    void onBtnStopClicked() { calls << "Stop"; }
    void onBtnPlayClicked() { calls << "Play"; }
    void onBtnDecSpeedClicked() { calls << "Slower"; }
    void onBtnIncSpeedClicked() { calls << "Faster"; }
    void onBtnBackwordClicked() { calls << "Back"; }
    void onBtnForwardClicked() { calls << "Forward"; }
    void onBtnZoomClicked() { calls << "Zoom"; }
    void onBtnFullScreenClicked() { calls << "Full screen"; }
};

bool showsIcon(QPushButton* button, const char* image)
{
    return button->icon().pixmap(button->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32)
        == QImage(QStringLiteral(":/images/%1.png").arg(image)).convertToFormat(QImage::Format_ARGB32);
}

class ControlBarTest : public ::testing::Test
{
protected:
    QStringList usableButtons()
    {
        QStringList names;
        for (QPushButton* b : bar.findChildren<QPushButton*>()) {
            if (b->isEnabled())
                names << b->accessibleName();
        }
        return names;
    }
    // Runs one step of the bar's own animation timer (the hide delay is a
    // QTimer of its own); false when none runs.
    bool tick()
    {
        const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&bar);
        if (timers.isEmpty())
            return false;
        EXPECT_EQ(timers.size(), 1);
        EXPECT_EQ(timers[0].interval, 50);
        QTimerEvent e(timers[0].timerId);
        QCoreApplication::sendEvent(&bar, &e);
        return true;
    }
    int ticksToEnd()
    {
        int ticks = 0;
        while (ticks < 100 && tick())
            ++ticks;
        return ticks;
    }
    void hover(QEvent::Type type)
    {
        QHoverEvent e(type, QPointF(10, 10), QPointF(10, 10), QPointF(-1, -1));
        QCoreApplication::sendEvent(&bar, &e);
    }

    FakeController controller;
    ControlBar bar{&controller, nullptr};
};

} // namespace

TEST_F(ControlBarTest, EveryButtonReachesItsSlotByNameAndIsNamed)
{
    bar.show();
    const QStringList names{"Open", "Stop", "Play", "Slower", "Faster", "Back", "Forward", "Zoom", "Full screen"};
    EXPECT_EQ(usableButtons(), names); // in the form's order
    for (QPushButton* button : bar.findChildren<QPushButton*>()) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(button->toolTip(), button->accessibleName());
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(controller.calls, names);
}

TEST_F(ControlBarTest, StatesLeaveUsableOnlyWhatWorks)
{
    bar.stateIndexing();
    EXPECT_EQ(usableButtons(), (QStringList{"Stop", "Zoom", "Full screen"}));
    EXPECT_EQ(bar.m_progressBar->styleSheet(), ControlBar::getProgbarStylesheet(true));

    // Nothing loaded: stop only while the bar shows progress.
    bar.stateIdle();
    bar.statePlaying(false, 0);
    EXPECT_EQ(usableButtons(), (QStringList{"Open", "Zoom", "Full screen"}));
    EXPECT_EQ(bar.m_progressBar->styleSheet(), ControlBar::getProgbarStylesheet(false));
    bar.updateControlbarTiming("00:00:01 / 00:00:01", 1);
    bar.statePlaying(false, 0);
    EXPECT_EQ(usableButtons(), (QStringList{"Open", "Stop", "Zoom", "Full screen"}));

    // Playing shows pause, and the button is named after its icon.
    bar.statePlaying(true, 1);
    EXPECT_EQ(usableButtons().size(), 9);
    EXPECT_TRUE(showsIcon(bar.m_btnPlay, "btn_pause"));
    EXPECT_EQ(bar.m_btnPlay->accessibleName(), "Pause");
    bar.statePlaying(true, 2);
    EXPECT_TRUE(showsIcon(bar.m_btnPlay, "btn_play"));
    EXPECT_EQ(bar.m_btnPlay->accessibleName(), "Play");

    // Zoom starts on, the window windowed.
    EXPECT_TRUE(showsIcon(bar.m_btnZoom, "btn_zoom_a") && showsIcon(bar.m_btnFullScreen, "btn_fullscreen_a"));
    bar.setZoomActive(false);
    bar.setFullScreenActive(true);
    EXPECT_TRUE(showsIcon(bar.m_btnZoom, "btn_zoom") && showsIcon(bar.m_btnFullScreen, "btn_fullscreen"));
}

TEST_F(ControlBarTest, PositionPressesReachTheControllerAtBothEnds)
{
    bar.show();
    bar.setProgressbarMaxValue(5400);
    const int right = bar.m_progressBar->width() - 1;
    for (int x : {right, 0})
        QTest::mousePress(bar.m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(x, 5));
    QTest::mousePress(bar.m_progressBar, Qt::RightButton, Qt::NoModifier, QPoint(right, 5));
    bar.setProgressbarMaxValue(0); // an empty recording still has a range
    QTest::mousePress(bar.m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(right, 5));
    EXPECT_EQ(controller.positions, (std::vector<unsigned long long>{5400, 0, 1}));

    // A position past the duration fills the bar instead of being dropped.
    bar.setProgressbarMaxValue(100);
    bar.updateControlbarTiming("00:01:41 / 00:01:40", 101);
    EXPECT_EQ(bar.m_progressBar->value(), 100);

    // Without a controller the press is still consumed.
    ControlBar lone(nullptr, nullptr);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    EXPECT_TRUE(QCoreApplication::sendEvent(lone.m_progressBar, &press));
}

TEST_F(ControlBarTest, FadesOutAfterLeavingAndInOnEntering)
{
    const double step = 1.0 / 255; // a widget keeps its opacity in these steps

    // Leaving arms the 4 s delay; its end fades out by 0.025 a tick.
    hover(QEvent::HoverLeave);
    auto* hideTimer = bar.findChild<QTimer*>();
    ASSERT_TRUE(hideTimer && hideTimer->isActive() && hideTimer->isSingleShot());
    EXPECT_EQ(hideTimer->interval(), 4000);
    EXPECT_FALSE(tick());
    bar.hideFading();
    tick();
    EXPECT_NEAR(bar.windowOpacity(), 0.975, step);
    EXPECT_NEAR(ticksToEnd(), 39, 1); // 2 s in all
    EXPECT_EQ(bar.windowOpacity(), 0.0);

    // Entering fades in by 0.1 a tick; leaving meanwhile turns round at once.
    hover(QEvent::HoverEnter);
    tick();
    tick();
    EXPECT_NEAR(bar.windowOpacity(), 0.2, step);
    hover(QEvent::HoverLeave);
    EXPECT_FALSE(hideTimer->isActive());
    tick();
    EXPECT_NEAR(bar.windowOpacity(), 0.175, step);

    // Entering while fading out turns round too, up to exactly 1; entering
    // cancels a pending fade-out.
    hover(QEvent::HoverEnter);
    EXPECT_NEAR(ticksToEnd(), 9, 1);
    EXPECT_EQ(bar.windowOpacity(), 1.0);
    hover(QEvent::HoverLeave);
    hover(QEvent::HoverEnter);
    EXPECT_FALSE(hideTimer->isActive());
}

TEST(ControlBarResources, StyleSheetAndImages)
{
    ControlBar::registerResources();
    QFile qss(":/SessionPlayer/style.qss");
    ASSERT_TRUE(qss.open(QIODevice::ReadOnly));
    EXPECT_EQ(qss.readAll(), QByteArray(".button.controlbar\n{\n\tborder: none;\n}\n\n.button.controlbar:pressed\n"
                                        "{\n\tmargin-left: 2px;\n\tmargin-top:\t 2px;\n}\n"));

    // Uncompressed images at their sizes (0: the 3 x 13 bar tiles).
    const std::pair<const char*, int> images[] = {
        {"btn_file", 16},     {"btn_stop", 16},         {"btn_play", 16},       {"btn_pause", 16},
        {"btn_slowdown", 16}, {"btn_speedup", 16},      {"btn_stepback", 16},   {"btn_stepforward", 16},
        {"btn_zoom", 18},     {"btn_zoom_a", 18},       {"btn_fullscreen", 18}, {"btn_fullscreen_a", 18},
        {"icon_16x16", 16},   {"icon_48x48", 48},       {"green_inactive", 0},  {"green_active", 0},
        {"red_inactive", 0},  {"red_active", 0},
    };
    for (const auto& [name, side] : images) {
        const QString path = QStringLiteral(":/images/%1.png").arg(name);
        QResource resource(path);
        ASSERT_TRUE(resource.isValid()) << name;
        EXPECT_EQ(resource.compressionAlgorithm(), QResource::NoCompression) << name;
        EXPECT_EQ(QImage(path).size(), side ? QSize(side, side) : QSize(3, 13)) << name;
    }
    // The 11 x 19 pointer's tip is its hot spot (2, 2): the first visible pixel.
    const QImage pointer = QImage(":/images/cursor_pointer.png").convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(pointer.size(), QSize(11, 19));
    EXPECT_EQ(qAlpha(pointer.pixel(2, 2)), 255);
    EXPECT_EQ(qAlpha(pointer.pixel(1, 2)) + qAlpha(pointer.pixel(2, 1)) + qAlpha(pointer.pixel(3, 2)), 0);
}

#include "ControlBarTest.moc"
