#include "sound/NSBeep.h"
#include "XTestKit.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(NSBeep, RingsTheXBellOncePerCall) {
    glimra::test::XClient x;
    ASSERT_TRUE(x.watchBells()) << "no X display with XKB";
    glimra::NSBeep();
    glimra::NSBeep();
    EXPECT_EQ(x.bells(2, 1500ms, 500ms), 2);
}
