#include "ControlBar.h"

#include <gtest/gtest.h>

TEST(ControlBarTest, Builds)
{
    ControlBar bar(nullptr, nullptr);
    EXPECT_EQ(bar.width(), 446);
}
