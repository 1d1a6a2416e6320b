// What the player does with screen and control payloads, including messages
// cut shorter than their layout.

#include "UnitDispatch.h"

#include <gtest/gtest.h>

#include "PlayerTestSupport.h"

namespace {

const unsigned char* bytes(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}

// One red box at index 0, ending with a pass flag of `pass`.
QByteArray redBox(bool pass)
{
    return QByteArray("\xC9", 1) + char(pass ? 1 : 0) + QByteArray("\x01\xFF\x00\x00", 4);
}

struct Screen
{
    Screen() { decoder.m_listener = &view; }
    bool screen(unsigned char code, const QByteArray& data = QByteArray())
    {
        const QByteArray p = screenPayload(code, data);
        return UnitDispatch::processScreenUnit(bytes(p), int(p.size()), decoder, &view, started);
    }
    FakeView view;
    GridDecoder decoder;
    bool started = false;
};

} // namespace

TEST(UnitDispatchTest, ScreenUpdatesWaitForTheFullScreenHeader)
{
    Screen s;
    EXPECT_FALSE(s.screen(UnitDispatch::SCREEN_UPDATE, redBox(false)));
    EXPECT_EQ(s.view.count("onBoxDecoded"), 0);

    // A header shorter than its five bytes is ignored.
    EXPECT_FALSE(s.screen(UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26).left(4)));
    EXPECT_FALSE(s.started);

    EXPECT_FALSE(s.screen(UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26)));
    EXPECT_TRUE(s.started);
    EXPECT_EQ(s.view.count("onScreenDimension"), 1);
    EXPECT_EQ(s.view.count("onDecodeCompleted"), 1);

    EXPECT_FALSE(s.screen(UnitDispatch::SCREEN_UPDATE_2, redBox(false)));
    EXPECT_EQ(s.view.count("onBoxDecoded"), 1);
    EXPECT_EQ(s.view.frame().pixels()[0], 0xFFFF0000u);
}

TEST(UnitDispatchTest, EndsOfFrameCompleteThePassOnceAndMayResetTheView)
{
    Screen s;
    s.screen(UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26));
    // The decoder reports the pass end itself when the data asks for it.
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END, redBox(true)));
    EXPECT_EQ(s.view.count("onDecodePassCompleted"), 1);
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END, redBox(false)));
    EXPECT_EQ(s.view.count("onDecodePassCompleted"), 2);
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END));
    EXPECT_EQ(s.view.count("onDecodePassCompleted"), 3);
    EXPECT_EQ(s.view.count("onDecodeCompleted"), 4);

    // With reset: only when a text is shown.
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END_RESET));
    EXPECT_EQ(s.view.count("reset"), 0);
    s.screen(UnitDispatch::SCREEN_PAUSE);
    EXPECT_EQ(s.view.statusTexts().last(), QStringLiteral("PAUSE"));
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END_RESET, redBox(false)));
    EXPECT_EQ(s.view.count("reset"), 1);
    EXPECT_EQ(s.view.count("onBoxDecoded"), 3) << "its data is decoded too";

    // Unknown codes and empty payloads do nothing.
    s.view.clearRecord();
    EXPECT_FALSE(s.screen(0x42, redBox(false)));
    EXPECT_FALSE(UnitDispatch::processScreenUnit(nullptr, 0, s.decoder, &s.view, s.started));
    const unsigned char one = UnitDispatch::SCREEN_END;
    EXPECT_TRUE(UnitDispatch::processScreenUnit(&one, 1, s.decoder, &s.view, s.started));
    EXPECT_EQ(s.view.count("onBoxDecoded"), 0);
}

TEST(UnitDispatchTest, MousePositionsNeedAllNineBytes)
{
    FakeView view;
    const QByteArray p = mousePayload(300, 200, 0xA1B2C3D4u);
    for (int n = 0; n < p.size(); ++n)
        UnitDispatch::processControlUnit(bytes(p), n, &view);
    EXPECT_TRUE(view.mouseEvents().empty());
    UnitDispatch::processControlUnit(bytes(p), int(p.size()), &view);
    ASSERT_EQ(view.mouseEvents().size(), 1u);
    const FakeView::MouseEvent e = view.mouseEvents()[0];
    EXPECT_EQ(std::make_tuple(e.x, e.y, e.id), std::make_tuple(300, 200, 0xA1B2C3D4ul));
}

TEST(UnitDispatchTest, CursorRecordsFollowTheirStringList)
{
    // An empty first string, non-empty strings, then the empty terminator.
    for (const QByteArray& strings : {QByteArray("\0\0", 2), QByteArray("first\0\0", 7),
                                      QByteArray("first\0a\0bc\0\0", 12)}) {
        SCOPED_TRACE(strings.toHex().constData());
        const QByteArray p = QByteArray("\x28\xE1", 2) + strings + QByteArray("\0\0\x01\x02", 4)
            + "IMAGE"; // cursor id 258
        FakeView view;
        UnitDispatch::processControlUnit(bytes(p), int(p.size()), &view);
        EXPECT_EQ(view.cursors(), std::vector<QByteArray>{"258:IMAGE"});
        // Cut anywhere before the cursor id ends: ignored. Cut in the image:
        // handed on with the bytes that are there.
        for (int n = 0; n < p.size(); ++n) {
            FakeView cut;
            UnitDispatch::processControlUnit(bytes(p), n, &cut);
            EXPECT_EQ(cut.cursors().size(), n >= 2 + strings.size() + 4 ? 1u : 0u) << "at " << n;
        }
    }

    // Other sub-codes are ignored, and a list without its terminator is short.
    FakeView view;
    for (const QByteArray& p : {QByteArray("\x28\x01\0\0\0\0\x01\x02IMAGE", 13),
                                QByteArray("\x28\xE1" "abc", 5)})
        UnitDispatch::processControlUnit(bytes(p), int(p.size()), &view);
    EXPECT_TRUE(view.cursors().empty());
}
