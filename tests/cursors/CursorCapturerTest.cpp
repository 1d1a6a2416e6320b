// SPDX-License-Identifier: GPL-3.0-or-later
#include "CursorCapturer.h"

#include <vector>

#include "VtrCursor.h"

#include <gtest/gtest.h>

// On Linux no framebuffer connection is ever opened, but the process-wide
// shape cache works as on the platforms that capture.
TEST(CursorCapturerTest, ShapesGetIdsAndCanBeCapturedIntoACursor)
{
    CursorCapturer::cleanCursorCache();
    VtrCursor owner;
    CursorCapturer c(&owner);
    c.initialize();
    c.getCursorInfo(); // no connection: nothing happens

    std::vector<unsigned int> arrow(6, 0xFF102030u), other = arrow;
    other[5] = 0xFF000000u;
    CursorCapturer::lookUpOrAddCursor(3, 2, 1, 1, arrow.data());
    const unsigned int arrowId = owner.getActiveCursor();
    CursorCapturer::lookUpOrAddCursor(3, 2, 1, 1, other.data());
    const unsigned int otherId = owner.getActiveCursor();
    EXPECT_EQ(otherId, arrowId + 1);

    // The same pixels with the same hot spot are the same shape again, but
    // another hot spot or the same bytes in another shape are not; invalid
    // shapes are ignored.
    CursorCapturer::lookUpOrAddCursor(3, 2, 1, 1, arrow.data());
    EXPECT_EQ(owner.getActiveCursor(), arrowId);
    CursorCapturer::lookUpOrAddCursor(3, 2, 0, 0, arrow.data());
    CursorCapturer::lookUpOrAddCursor(2, 3, 1, 1, arrow.data());
    CursorCapturer::lookUpOrAddCursor(3, 2, 1, 1, nullptr);
    CursorCapturer::lookUpOrAddCursor(0, 2, 1, 1, arrow.data());
    EXPECT_EQ(owner.getActiveCursor(), otherId + 2);

    ASSERT_TRUE(owner.capture(otherId));
    EXPECT_EQ(owner.hotspotX(), 1);
    EXPECT_EQ(owner.image().pixel(2, 1), 0xFF000000u);
    EXPECT_EQ(owner.image().pixel(0, 0), 0xFF102030u);
    EXPECT_FALSE(owner.capture(otherId + 100));
    CursorCapturer::cleanCursorCache();
    EXPECT_FALSE(owner.capture(otherId));
}
