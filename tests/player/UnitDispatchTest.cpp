// SPDX-License-Identifier: GPL-3.0-or-later
// What the player does with screen and control payloads, including messages
// cut shorter than their layout.

#include "UnitDispatch.h"

#include <gtest/gtest.h>

#include "PlayerTestSupport.h"

namespace {

// One red box at index 0.
const QByteArray kRedBox("\xC9\x00\x01\xFF\x00\x00", 6);

struct Screen
{
    Screen() { decoder.m_listener = &view; }
    UnitDispatch::ScreenStep screen(unsigned char code, const QByteArray& data = QByteArray())
    {
        const QByteArray p = QByteArray(1, char(code)) + '\0' + data;
        const auto* b = reinterpret_cast<const unsigned char*>(p.constData());
        return UnitDispatch::processScreenUnit(b, int(p.size()), decoder, &view, started);
    }
    FakeView view;
    GridDecoder decoder;
    bool started = false;
};

} // namespace

TEST(UnitDispatchTest, ScreenUnitsWaitForAWholeHeaderAndEndFramesOnce)
{
    using Step = UnitDispatch::ScreenStep;
    Screen s;
    // Updates before the header, and a header shorter than its five bytes,
    // paint nothing.
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_UPDATE, kRedBox), Step::Update);
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26).left(4)), Step::Ignored);
    EXPECT_FALSE(s.started);
    EXPECT_EQ(s.view.count("onBoxDecoded"), 0);
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26)), Step::Header);
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_UPDATE_2, kRedBox), Step::Update);
    EXPECT_EQ(s.view.frame().pixels()[0], 0xFFFF0000u);

    // An end with reset resets the view only while it shows a text.
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_END_RESET), Step::FrameEnd);
    EXPECT_EQ(s.view.count("reset"), 0);
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_PAUSE), Step::Ignored); // shows "PAUSE"
    EXPECT_EQ(s.screen(UnitDispatch::SCREEN_END_RESET), Step::FrameEnd);
    EXPECT_EQ(s.view.count("reset"), 1);

    // Every end of a frame reports the pass end once: the decoder reports it
    // when the frame's parameter code carries the pass bit, the dispatch
    // when it does not.
    for (char flags : {'\x01', '\x00', '\x01', '\x00'}) {
        SCOPED_TRACE(int(flags));
        const int before = s.view.count("onDecodePassCompleted");
        const QByteArray box = QByteArray("\xC9", 1) + flags + kRedBox.mid(2);
        EXPECT_EQ(s.screen(UnitDispatch::SCREEN_END, box), Step::FrameEnd);
        EXPECT_EQ(s.view.count("onDecodePassCompleted"), before + 1);
    }
}

TEST(UnitDispatchTest, ControlMessagesCutShortAreIgnored)
{
    FakeView view;
    const QByteArray p("\x0B\x01\x2C\x00\xC8\xA1\xB2\xC3\xD4", 9); // (300, 200), cursor A1B2C3D4
    for (int n = 0; n <= p.size(); ++n)
        UnitDispatch::processControlUnit((const unsigned char*)p.constData(), n, &view);
    ASSERT_EQ(view.mouseEvents().size(), 1u);
    const FakeView::MouseEvent e = view.mouseEvents()[0];
    EXPECT_EQ(std::make_tuple(e.x, e.y, e.id), std::make_tuple(300, 200, 0xA1B2C3D4ul));

    // Cursor records: an empty first string, non-empty strings, then the
    // empty terminator. Cut anywhere before the cursor id ends: ignored; cut
    // in the image: handed on with the bytes that are there.
    for (const QByteArray& strings : {QByteArray("\0\0", 2), QByteArray("first\0a\0bc\0\0", 12)}) {
        SCOPED_TRACE(strings.toHex().constData());
        const QByteArray c = QByteArray("\x28\xE1", 2) + strings + QByteArray("\0\0\x01\x02", 4)
            + "IMAGE"; // cursor id 258
        for (int n = 0; n <= c.size(); ++n) {
            FakeView cut;
            UnitDispatch::processControlUnit((const unsigned char*)c.constData(), n, &cut);
            EXPECT_EQ(cut.cursors().size(), n >= 2 + strings.size() + 4 ? 1u : 0u) << "at " << n;
        }
        FakeView whole;
        UnitDispatch::processControlUnit((const unsigned char*)c.constData(), c.size(), &whole);
        EXPECT_EQ(whole.cursors(), std::vector<QByteArray>{"258:IMAGE"});
    }
    // A list without its terminator is short.
    UnitDispatch::processControlUnit((const unsigned char*)"\x28\xE1" "abc", 5, &view);
    EXPECT_TRUE(view.cursors().empty());
}
