#include <gtest/gtest.h>

#include "cv/display.h"
#include "screen_fake.h"

namespace quorvane::cv {
namespace {

using testing::FakeMonitor;
using testing::FakePath;
using testing::FakeScreen;
using testing::monitor;

TEST(DisplayList, SingleMonitorRecordHasEveryMemberInKeyOrder) {
  FakeScreen screen;
  screen.monitors = {monitor(0x10001, 0, 0, 1920, 1080, true)};
  screen.paths = std::vector<FakePath>{
      {{1, 0, 7, 9}, testing::device_name(u"\\\\.\\DISPLAY1"), testing::friendly_units(u"Studio Display")}};

  Result<json> list = get_display_list(screen);
  ASSERT_TRUE(list.ok());
  EXPECT_EQ(list->dump(),
            "[{\"dpi\":96.0,\"height\":1080,\"id\":65537,\"isPrimary\":true,\"name\":\"Studio Display\","
            "\"physicalHeight\":1080,\"physicalWidth\":1920,\"scaleFactor\":1.0,\"width\":1920,\"x\":0,\"y\":0}]");
}

TEST(DisplayList, SeveralMonitorsKeepEnumerationOrderOriginsAndScales) {
  FakeScreen screen;
  screen.monitors = {monitor(3, 0, 0, 2560, 1440, true, 1.5f), monitor(1, -1920, -200, 1920, 1080, false, 1.0f),
                     monitor(2, 2560, 0, 1920, 1200, false, 110.0f / 96.0f)};
  Result<json> list = get_display_list(screen);
  ASSERT_TRUE(list.ok());
  ASSERT_EQ(list->size(), 3u);

  const json& scaled = (*list)[0];
  EXPECT_EQ(scaled["id"], 3);
  EXPECT_EQ(scaled["scaleFactor"].get<double>(), 1.5);
  EXPECT_EQ(scaled["dpi"].get<double>(), 144.0);
  // Physical pixels in both members; there are no logical sizes.
  EXPECT_EQ(scaled["width"], 2560);
  EXPECT_EQ(scaled["physicalWidth"], 2560);
  EXPECT_EQ(scaled["physicalHeight"], 1440);

  const json& left = (*list)[1];
  EXPECT_EQ(left["x"].get<std::int64_t>(), -1920);
  EXPECT_EQ(left["y"].get<std::int64_t>(), -200);
  EXPECT_FALSE(left["isPrimary"].get<bool>());

  // The factor is single precision, widened: its noise shows in both members.
  const json& odd = (*list)[2];
  EXPECT_EQ(odd["scaleFactor"].dump(), "1.1458333730697632");
  EXPECT_EQ(odd["dpi"].dump(), "110.00000381469727");
}

TEST(DisplayList, FailedQueriesFallBackPerRecord) {
  FakeScreen screen;
  FakeMonitor no_mode = monitor(1, 100, 100, 800, 600, true);
  no_mode.mode = fail("mode unavailable");
  FakeMonitor no_scale = monitor(2, 0, 0, 800, 600);
  no_scale.scale = fail("no dpi");
  FakeMonitor no_info = monitor(3, 0, 0, 800, 600);
  no_info.info = fail("gone");
  FakeMonitor odd_flags = monitor(4, 0, 0, 800, 600);
  odd_flags.info->flags = MONITORINFOF_PRIMARY_FLAG | 2;  // only exactly 1 counts as primary
  FakeMonitor nan_scale = monitor(5, 0, 0, 800, 600, false, std::numeric_limits<float>::quiet_NaN());
  screen.monitors = {no_mode, no_scale, no_info, odd_flags, nan_scale};
  screen.paths = std::nullopt;

  Result<json> list = get_display_list(screen);
  ASSERT_TRUE(list.ok());
  const json& a = (*list)[0];
  EXPECT_EQ(a["x"], 0);
  EXPECT_EQ(a["y"], 0);
  EXPECT_EQ(a["width"], 0);
  EXPECT_EQ(a["physicalHeight"], 0);
  EXPECT_TRUE(a["isPrimary"].get<bool>());
  EXPECT_EQ(a["name"], "Unknown Monitor 1");

  EXPECT_EQ((*list)[1]["scaleFactor"].get<double>(), 1.0);
  EXPECT_EQ((*list)[1]["dpi"].get<double>(), 96.0);

  EXPECT_EQ((*list)[2]["name"], "");
  EXPECT_FALSE((*list)[2]["isPrimary"].get<bool>());
  EXPECT_EQ((*list)[2]["width"], 800);

  EXPECT_FALSE((*list)[3]["isPrimary"].get<bool>());

  EXPECT_TRUE((*list)[4]["scaleFactor"].is_null());
  EXPECT_TRUE((*list)[4]["dpi"].is_null());
}

TEST(DisplayList, EnumerationFailureAndNoMonitors) {
  FakeScreen screen;
  screen.enumerate_error = "Access is denied. (0x80070005)";
  Result<json> failed = get_display_list(screen);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), "display_list_failed: Access is denied. (0x80070005)");

  FakeScreen empty;
  Result<json> none = get_display_list(empty);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->dump(), "[]");
}

TEST(DisplayList, IdIsTheHandlesLow32Bits) {
  FakeScreen screen;
  const MonitorHandle handle = static_cast<MonitorHandle>(0x0000000100000042ull & UINTPTR_MAX);
  screen.monitors = {monitor(handle, 0, 0, 10, 10, true)};
  screen.paths = std::nullopt;
  Result<json> list = get_display_list(screen);
  ASSERT_TRUE(list.ok());
  EXPECT_EQ((*list)[0]["id"], 0x42);
  EXPECT_EQ((*list)[0]["name"], "Unknown Monitor 66");
}

class FriendlyName : public ::testing::Test {
 protected:
  FakeScreen screen;
  void SetUp() override { screen.monitors = {monitor(7, 0, 0, 10, 10, true, 1.0f, u"\\\\.\\DISPLAY2")}; }
  std::optional<std::string> name() { return monitor_friendly_name(screen, 7); }
};

TEST_F(FriendlyName, FirstPathWhoseSourceMatchesTheDeviceWins) {
  screen.paths = std::vector<FakePath>{
      {{1, 0, 0, 10}, testing::device_name(u"\\\\.\\DISPLAY1"), testing::friendly_units(u"Wrong")},
      {{1, 0, 1, 11}, std::nullopt, testing::friendly_units(u"Source query failed")},
      {{1, 0, 2, 12}, testing::device_name(u"\\\\.\\DISPLAY2"), std::nullopt},  // target query failed: next path
      {{1, 0, 3, 13}, testing::device_name(u"\\\\.\\DISPLAY2"), testing::friendly_units(u"Right \u00e9")},
      {{1, 0, 4, 14}, testing::device_name(u"\\\\.\\DISPLAY2"), testing::friendly_units(u"Later")}};
  EXPECT_EQ(name(), "Right \xc3\xa9");
}

TEST_F(FriendlyName, ComparesAllThirtyTwoUnitsOfTheDeviceName) {
  std::array<char16_t, 32> padded = testing::device_name(u"\\\\.\\DISPLAY2");
  padded[31] = u'x';  // garbage after the terminator still makes the names differ
  screen.paths = std::vector<FakePath>{{{1, 0, 0, 10}, padded, testing::friendly_units(u"Padded")}};
  EXPECT_EQ(name(), "Unknown Monitor 7");
}

TEST_F(FriendlyName, DefaultsAndFailures) {
  screen.paths = std::nullopt;
  EXPECT_EQ(name(), "Unknown Monitor 7");

  screen.paths = std::vector<FakePath>{};
  EXPECT_EQ(name(), "Unknown Monitor 7");

  screen.paths =
      std::vector<FakePath>{{{1, 0, 0, 10}, testing::device_name(u"\\\\.\\DISPLAY2"), testing::friendly_units(u"")}};
  EXPECT_EQ(name(), "Unknown Monitor 7");

  std::array<char16_t, 64> unpaired = testing::friendly_units(u"ab");
  unpaired[1] = 0xD800;
  screen.paths = std::vector<FakePath>{{{1, 0, 0, 10}, testing::device_name(u"\\\\.\\DISPLAY2"), unpaired}};
  EXPECT_EQ(name(), std::nullopt);

  std::array<char16_t, 64> full;
  full.fill(u'z');  // no terminator: all 64 units
  screen.paths = std::vector<FakePath>{{{1, 0, 0, 10}, testing::device_name(u"\\\\.\\DISPLAY2"), full}};
  EXPECT_EQ(name(), std::string(64, 'z'));

  screen.monitors[0].info = fail("gone");
  EXPECT_EQ(name(), std::nullopt);
}

TEST(DisplayMethods, DesktopDpiAndBackingScale) {
  FakeScreen screen;
  screen.dpi = 120;
  EXPECT_EQ(get_desktop_dpi(screen).dump(), "{\"dpiX\":120,\"dpiY\":120}");
  EXPECT_EQ(get_screen_backing_scale_factor().dump(), "1.0");
}

}  // namespace
}  // namespace quorvane::cv
