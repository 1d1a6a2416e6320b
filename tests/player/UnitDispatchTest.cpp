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
    QByteArray d;
    d.append(static_cast<char>(201));
    d.append(static_cast<char>(pass ? 1 : 0));
    d.append(static_cast<char>(1));
    d.append("\xFF\x00\x00", 3);
    return d;
}

struct Screen
{
    bool screen(unsigned char code, const QByteArray& data = QByteArray())
    {
        const QByteArray p = screenPayload(code, data);
        return UnitDispatch::processScreenUnit(bytes(p), static_cast<int>(p.size()), decoder,
                                               &view, started);
    }
    FakeView view;
    GridDecoder decoder;
    bool started = false;
    Screen() { decoder.m_listener = &view; }
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

TEST(UnitDispatchTest, EndOfFrameCompletesThePassOnce)
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
}

TEST(UnitDispatchTest, EndOfFrameWithResetClearsAShownText)
{
    Screen s;
    s.screen(UnitDispatch::SCREEN_FULL, screenHeader(32, 16, 26));
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END_RESET));
    EXPECT_EQ(s.view.count("reset"), 0);
    s.screen(UnitDispatch::SCREEN_PAUSE);
    EXPECT_EQ(s.view.statusTexts().last(), QStringLiteral("PAUSE"));
    EXPECT_TRUE(s.screen(UnitDispatch::SCREEN_END_RESET, redBox(false)));
    EXPECT_EQ(s.view.count("reset"), 1);
    EXPECT_EQ(s.view.count("onBoxDecoded"), 1);

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
    UnitDispatch::processControlUnit(bytes(p), static_cast<int>(p.size()), &view);
    ASSERT_EQ(view.mouseEvents().size(), 1u);
    EXPECT_EQ(view.mouseEvents()[0].x, 300);
    EXPECT_EQ(view.mouseEvents()[0].y, 200);
    EXPECT_EQ(view.mouseEvents()[0].id, 0xA1B2C3D4ul);
}

TEST(UnitDispatchTest, CursorRecordsFollowTheirStringList)
{
    auto message = [](const QByteArray& strings) {
        QByteArray p;
        p.append(static_cast<char>(UnitDispatch::CONTROL_STRINGS));
        p.append(static_cast<char>(UnitDispatch::CONTROL_SUB_CURSOR));
        p.append(strings);
        p.append("\x00\x00\x01\x02", 4); // cursor id 258
        p.append("IMAGE");
        return p;
    };
    struct Case
    {
        QByteArray strings;
        const char* name;
    };
    // An empty first string, non-empty strings, then the empty terminator.
    const Case cases[] = {{QByteArray("\0\0", 2), "empty first"},
                          {QByteArray("first\0\0", 7), "one"},
                          {QByteArray("first\0a\0bc\0\0", 12), "three"}};
    for (const Case& c : cases) {
        FakeView view;
        const QByteArray p = message(c.strings);
        UnitDispatch::processControlUnit(bytes(p), static_cast<int>(p.size()), &view);
        ASSERT_EQ(view.cursors().size(), 1u) << c.name;
        EXPECT_EQ(view.cursors()[0], QByteArray("258:IMAGE")) << c.name;
        // Cut anywhere before the cursor id ends: ignored. Cut in the image:
        // handed on with the bytes that are there.
        for (int n = 0; n < p.size(); ++n) {
            FakeView cut;
            UnitDispatch::processControlUnit(bytes(p), n, &cut);
            const int idEnd = 2 + static_cast<int>(c.strings.size()) + 4;
            EXPECT_EQ(cut.cursors().size(), n >= idEnd ? 1u : 0u) << c.name << " at " << n;
        }
    }

    // Other sub-codes are ignored, and a list without its terminator is short.
    FakeView view;
    QByteArray other = message(QByteArray("\0\0", 2));
    other[1] = 0x01;
    UnitDispatch::processControlUnit(bytes(other), static_cast<int>(other.size()), &view);
    const QByteArray unterminated = QByteArray("\x28\xE1" "abc", 5);
    UnitDispatch::processControlUnit(bytes(unterminated), 5, &view);
    EXPECT_TRUE(view.cursors().empty());
}
