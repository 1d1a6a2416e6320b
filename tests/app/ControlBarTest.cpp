// SPDX-License-Identifier: GPL-3.0-or-later
#include "ControlBar.h"

#include <QAbstractEventDispatcher>
#include <QDirIterator>
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
    void onBtnMenuClicked() { calls << "Menu"; }
};

class ControlBarTest : public ::testing::Test
{
protected:
    // Runs up to n steps of the bar's own 50 ms animation timer (the hide
    // delay is a QTimer of its own); returns how many ran.
    int ticks(int n = 100)
    {
        int done = 0;
        for (; done < n; ++done) {
            const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&bar);
            if (timers.size() != 1 || timers[0].interval != 50)
                break;
            QTimerEvent e(timers[0].timerId);
            QCoreApplication::sendEvent(&bar, &e);
        }
        return done;
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
    QStringList names; // in the form's order
    for (QPushButton* button : bar.findChildren<QPushButton*>()) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(button->toolTip(), button->accessibleName());
        names << button->accessibleName();
    }
    EXPECT_EQ(names.join(','), "Open,Stop,Play,Slower,Faster,Back,Forward,Zoom,Full screen,Menu");
    EXPECT_EQ(controller.calls, names);
}

TEST_F(ControlBarTest, PositionPressesReachTheControllerAtBothEnds)
{
    bar.show();
    bar.setProgressbarMaxValue(5400);
    const int right = bar.m_progressBar->width() - 1;
    for (int x : {right, 0})
        QTest::mouseClick(bar.m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(x, 5));
    QTest::mouseClick(bar.m_progressBar, Qt::RightButton, Qt::NoModifier, QPoint(right, 5));
    // The press alone seeks nowhere; the release does, where it happens.
    QTest::mousePress(bar.m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(0, 5));
    EXPECT_EQ(controller.positions.size(), 2u);
    QTest::mouseRelease(bar.m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(right / 2, 5));
    bar.setProgressbarMaxValue(0); // an empty recording still has a range
    QTest::mouseClick(bar.m_progressBar, Qt::LeftButton, Qt::NoModifier, QPoint(right, 5));
    const unsigned long long middle = 5400ULL * unsigned(right / 2) / unsigned(right);
    EXPECT_EQ(controller.positions, (std::vector<unsigned long long>{5400, 0, middle, 1}));

    // A position past the duration fills the bar instead of being dropped.
    bar.setProgressbarMaxValue(100);
    bar.updateControlbarTiming("00:01:41 / 00:01:40", 101);
    EXPECT_EQ(bar.m_progressBar->value(), 100);

    // Without a controller the press and release are still consumed.
    ControlBar lone(nullptr, nullptr);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    EXPECT_TRUE(QCoreApplication::sendEvent(lone.m_progressBar, &press));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    EXPECT_TRUE(QCoreApplication::sendEvent(lone.m_progressBar, &release));
}

// Any move over the picture shows the bar; 3 s after the mouse stopped it
// fades out over 2 s, unless the pointer rests on the bar.
TEST_F(ControlBarTest, MovesShowTheBarWhichFadesThreeSecondsAfterTheMouseStops)
{
    const double step = 1.0 / 255; // a widget keeps its opacity in these steps
    QWidget picture;
    bar.watchMouseOver(&picture);
    auto move = [&] {
        QMouseEvent e(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&picture, &e);
    };
    auto* hideTimer = bar.findChild<QTimer*>();
    ASSERT_TRUE(hideTimer && hideTimer->isSingleShot());
    EXPECT_TRUE(picture.hasMouseTracking()); // moves without a button count

    // A move arms the 3 s delay; its end fades out by 0.025 a tick.
    move();
    EXPECT_TRUE(hideTimer->isActive());
    EXPECT_EQ(hideTimer->interval(), 3000);
    EXPECT_EQ(ticks(1), 0); // opaque already: no animation
    bar.hideFading();
    ticks(1);
    EXPECT_NEAR(bar.windowOpacity(), 0.975, step);
    EXPECT_NEAR(ticks(), 39, 1); // 2 s in all
    EXPECT_EQ(bar.windowOpacity(), 0.0);

    // Hidden, a move fades it in by 0.1 a tick and arms the delay again.
    move();
    EXPECT_TRUE(hideTimer->isActive());
    EXPECT_EQ(ticks(2), 2);
    EXPECT_NEAR(bar.windowOpacity(), 0.2, step);

    // On the bar it stays, whatever the moves; leaving it goes on fading in
    // and arms the delay.
    hover(QEvent::HoverEnter);
    move();
    EXPECT_FALSE(hideTimer->isActive());
    hover(QEvent::HoverLeave);
    EXPECT_TRUE(hideTimer->isActive());
    ticks(1);
    EXPECT_NEAR(bar.windowOpacity(), 0.3, step);
    EXPECT_NEAR(ticks(), 7, 1);
    EXPECT_EQ(bar.windowOpacity(), 1.0);

    // Entering while fading out turns round.
    bar.hideFading();
    ticks(4);
    hover(QEvent::HoverEnter);
    EXPECT_FALSE(hideTimer->isActive());
    EXPECT_NEAR(ticks(), 1, 1);
    EXPECT_EQ(bar.windowOpacity(), 1.0);
    bar.watchMouseOver(nullptr);
}

TEST(ControlBarResources, StyleSheetAndImages)
{
    ControlBar::registerResources();
    QFile qss(":/SessionPlayer/style.qss");
    ASSERT_TRUE(qss.open(QIODevice::ReadOnly));
    EXPECT_EQ(qss.readAll(), QByteArray(".button.controlbar\n{\n\tborder: none;\n}\n\n.button.controlbar:pressed\n"
                                        "{\n\tmargin-left: 2px;\n\tmargin-top:\t 2px;\n}\n"));

    // Every image is a PNG stored uncompressed (the bundle must not deflate
    // what is already compressed).
    int images = 0;
    for (QDirIterator it(":/images"); it.hasNext(); ++images) {
        QResource resource(it.next());
        EXPECT_EQ(resource.compressionAlgorithm(), QResource::NoCompression) << qPrintable(it.filePath());
        EXPECT_FALSE(QImage(it.filePath()).isNull()) << qPrintable(it.filePath());
    }
    EXPECT_GE(images, 19);
}

#include "ControlBarTest.moc"
