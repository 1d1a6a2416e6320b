// SPDX-License-Identifier: GPL-3.0-or-later
// Previews on the position bar, scrubbing, the activity strip and the skip-
// idle switch, on the real window over the real engine (offscreen). The
// pointer reaches the bar as a user's does: through the view, the scene and
// the control bar's proxy.

#include <QFile>
#include <QSettings>

#include "ActivityStrip.h"
#include "IndexFile.h"
#include "PositionPreview.h"
#include "PreviewMaker.h"
#include "PreviewPopup.h"
#include "RecordingWriter.h"
#include "WindowTestSupport.h"
#include "FileBytes.h"

namespace {

class PositionPreviewTest : public WindowFixture
{
protected:
    QProgressBar* progress() { return bar()->m_progressBar; }
    PreviewPopup* popup() { return window->positionPreview()->popup(); }

    // Where x of the position bar lies in the viewport.
    QPoint onBar(int x)
    {
        const QPoint inBar = progress()->mapTo(bar(), QPoint(x, progress()->height() / 2));
        return window->mapFromScene(scene()->controlBarProxy()->mapToScene(QPointF(inBar)));
    }
    void mouse(QEvent::Type type, int x, Qt::MouseButtons buttons)
    {
        const QPoint p = onBar(x);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(p), QPointF(window->viewport()->mapToGlobal(p)), button,
                      buttons, Qt::NoModifier);
        QApplication::sendEvent(window->viewport(), &e);
    }
    void hover(int x) { mouse(QEvent::MouseMove, x, Qt::NoButton); }
    // The popup shows the time under x, its picture (or none) made.
    bool waitPreview(int x, bool picture)
    {
        const quint64 seconds = quint64(ControlBar::positionAt(progress(), x));
        return waitFor([&] {
            return popup()->isVisible() && window->positionPreview()->hoveredSeconds() == seconds
                && popup()->timeText() == SessionPlayer::sec2str(int(seconds))
                && (window->positionPreview()->pictureSeconds() == qint64(seconds)) == picture
                && popup()->image().isNull() != picture;
        });
    }
    QString indexed(const QString& name)
    {
        const QString path = record(name, 640, 480, 60000, 5000);
        EXPECT_TRUE(open(path, IPrompter::Yes));
        EXPECT_TRUE(waitFor([&] { return player().isIndexLoaded()
                                         && player().getState() == FilePlayer::STATE_IDLE; }, 30000));
        return path;
    }
};

int worstChannel(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

TEST_F(PositionPreviewTest, HoveringShowsTheKeyFrameBeforeThePointerAboveIt)
{
    indexed(QStringLiteral("hover.vro"));
    QFile index(player().getIndexFileName());
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    IndexFileHeader header;
    Array<IndexEntryPoint, int> entries;
    ASSERT_TRUE(IndexFile::load(index, header, entries));

    const int right = progress()->width() - 1;
    // The first screen before the first key frame, then key frames.
    for (int x : {1, right / 5, right / 2, right * 3 / 4, right}) {
        hover(x);
        ASSERT_TRUE(waitPreview(x, true)) << x;
        const quint64 ms = quint64(ControlBar::positionAt(progress(), x)) * 1000;
        quint64 key = 0;
        for (int e = 0; e < entries.count(); ++e)
            if (entries[e].m_time <= ms)
                key = entries[e].m_time;
        // Frame f is shown from f * 5 s on.
        const QImage expected = PreviewMaker::scaleScreen(testFrame(640, 480, int(key / 5000)));
        EXPECT_LE(worstChannel(popup()->image(), expected), 8) << x;
        EXPECT_EQ(popup()->image().size(), QSize(240, 180));
        // Above the bar, over the pointer (kept inside the window).
        const QRect shown = popup()->geometry();
        EXPECT_LE(shown.bottom(), onBar(x).y() - progress()->height() / 2);
        EXPECT_TRUE(shown.left() <= onBar(x).x() && onBar(x).x() <= shown.right()
                    || shown.left() == 0 || shown.right() == window->viewport()->width() - 1)
            << x;
    }
    // Leaving the bar takes it away.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(progress(), &leave);
    EXPECT_FALSE(popup()->isVisible());
}

TEST_F(PositionPreviewTest, WithoutAnIndexOrWithAnInvalidOneTheTimeAlone)
{
    const QString plain = record(QStringLiteral("plain.vro"), 320, 240, 30000, 5000);
    const QString broken = record(QStringLiteral("broken.vro"), 320, 240, 30000, 5000);
    ASSERT_TRUE(writeBytes(broken + QLatin1Char('x'), QByteArray(300, '\x7F')));
    for (const QString& path : {plain, broken}) {
        ASSERT_TRUE(open(path, IPrompter::No));
        ASSERT_TRUE(waitFor([&] { return progress()->maximum() == 30; }));
        const int x = progress()->width() / 3;
        hover(x);
        EXPECT_TRUE(waitPreview(x, false)) << path.toStdString();
        QTest::qWait(300);
        EXPECT_TRUE(popup()->image().isNull());
        EXPECT_EQ(popup()->timeText(), SessionPlayer::sec2str(ControlBar::positionAt(progress(), x)));
    }
}

TEST_F(PositionPreviewTest, DraggingScrubsAndSeeksOnRelease)
{
    indexed(QStringLiteral("drag.vro"));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PLAYING));
    window->onBtnPlayClicked();
    ASSERT_TRUE(waitState(FilePlayer::STATE_PAUSED));
    const quint64 before = player().screenTimeMs();

    const int right = progress()->width() - 1;
    mouse(QEvent::MouseButtonPress, right / 4, Qt::LeftButton);
    ASSERT_TRUE(waitPreview(right / 4, true));
    for (int x = right / 4; x <= right * 3 / 4; x += 20)
        mouse(QEvent::MouseMove, x, Qt::LeftButton);
    mouse(QEvent::MouseMove, right * 3 / 4, Qt::LeftButton);
    ASSERT_TRUE(waitPreview(right * 3 / 4, true));
    // Nothing has moved yet.
    QTest::qWait(200);
    EXPECT_EQ(player().screenTimeMs(), before);
    EXPECT_EQ(player().getState(), FilePlayer::STATE_PAUSED);

    mouse(QEvent::MouseButtonRelease, right * 3 / 4, Qt::NoButton);
    const int target = ControlBar::positionAt(progress(), right * 3 / 4);
    EXPECT_TRUE(waitTime(SessionPlayer::sec2str(target))) << bar()->m_lblTime->text().toStdString();
    EXPECT_TRUE(waitFor([&] { return player().screenTimeMs() / 1000 == quint64(target); }));
}

TEST_F(PositionPreviewTest, StripShowsBusyStillAndDamagedStretchesAndSeeksOnClick)
{
    // Busy 0-5 s and 15-20 s (a frame every 250 ms), still between (only
    // unchanged frames), damage at 18 s.
    const QString path = dir.filePath(QStringLiteral("strip.vro"));
    {
        RecordingWriter w;
        w.open(path);
        int f = 0;
        for (quint64 t = 0; t <= 20000; t += 250) {
            const bool busy = t <= 5000 || t >= 15000;
            VideoFrame frame = testFrame(320, 240, busy ? ++f : f);
            w.writeScreenFrame(t, frame);
            if (t == 18000)
                w.writeRawUnit(0x1E, t, QByteArray(30, '\x33'));
        }
        w.finish(20000);
    }
    ASSERT_TRUE(open(path, IPrompter::No));
    ActivityStrip* strip = window->activityStrip();
    ASSERT_TRUE(waitFor([&] { return player().activity().isComplete() && progress()->maximum() == 20; }));
    EXPECT_EQ(strip->geometry().top(), progress()->geometry().bottom() + 1);
    EXPECT_EQ(strip->width(), progress()->width());
    // The first column that stands for `second`.
    auto columnX = [&](int second) { return (second * (strip->width() - 1) + 19) / 20; };
    auto column = [&](int second) { return strip->columnAt(columnX(second)); };
    for (int s : {1, 3, 16})
        EXPECT_GT(column(s).screenBytes, ActivityMap::kStillScreenBytes) << s;
    for (int s : {7, 10, 13})
        EXPECT_LE(column(s).screenBytes, ActivityMap::kStillScreenBytes) << s;
    EXPECT_TRUE(column(18).damaged);
    EXPECT_FALSE(column(10).damaged);
    // What is painted follows.
    const QImage painted = strip->grab().toImage();
    EXPECT_NE(painted.pixel(columnX(2), 1), painted.pixel(columnX(10), 1));
    EXPECT_EQ(QColor(painted.pixel(columnX(18), 1)), ActivityStrip::damageColour());

    // A click seeks like one on the bar.
    const int x = columnX(10);
    QTest::mouseClick(strip, Qt::LeftButton, Qt::NoModifier, QPoint(x, 2));
    EXPECT_TRUE(waitTime(QStringLiteral("00:00:10"))) << bar()->m_lblTime->text().toStdString();
}

TEST_F(PositionPreviewTest, KeyKTogglesSkippingIdleAndTheChoiceIsRemembered)
{
    const bool was = window->skipIdle();
    QTest::keyClick(window.get(), Qt::Key_K);
    EXPECT_EQ(window->skipIdle(), !was);
    EXPECT_EQ(player().skipIdle(), !was);
    EXPECT_EQ(scene()->message(), !was ? QStringLiteral("Skipping idle stretches")
                                       : QStringLiteral("Playing idle stretches"));
    {
        SessionPlayer another(nullptr);
        EXPECT_EQ(another.skipIdle(), !was);
        another.close();
    }
    window->setSkipIdle(was);
    EXPECT_EQ(QSettings().value(QStringLiteral("skip_idle")).toBool(), was);
}

} // namespace
