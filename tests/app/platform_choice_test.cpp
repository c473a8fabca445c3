#include "app/platform_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace lumopet {
namespace {

struct PlatformCase {
    const char* name;
    DisplayEnvironment env;
    const char* chosen;  // nullptr: Qt's own choice
};

class PlatformChoice : public ::testing::TestWithParam<PlatformCase> {};

TEST_P(PlatformChoice, XWaylandOnAWaylandDesktopUnlessTheUserChose) {
    const auto chosen = PlatformToChoose(GetParam().env);
    if (!GetParam().chosen) {
        EXPECT_FALSE(chosen.has_value());
    } else {
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(chosen->toStdString(), GetParam().chosen);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlatformChoice,
    ::testing::Values(PlatformCase{"WaylandWithXWayland", {"", "wayland-0", "wayland", ":0"}, "xcb"},
                      PlatformCase{"WaylandSessionTypeOnly", {"", "", "wayland", ":1"}, "xcb"},
                      PlatformCase{"UserChoseWayland", {"wayland", "wayland-0", "wayland", ":0"}, nullptr},
                      PlatformCase{"UserChoseOffscreen", {"offscreen", "wayland-0", "", ":0"}, nullptr},
                      PlatformCase{"WaylandWithoutXWayland", {"", "wayland-0", "wayland", ""}, nullptr},
                      PlatformCase{"PlainX11", {"", "", "x11", ":0"}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
