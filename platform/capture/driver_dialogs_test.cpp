// The drivers' own dialogs, run through the capture window and scripted like a user.
#include "platform/capture/driver_dialogs.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/capture.h"
#include "platform/capture/demo_camera.h"
#include "platform/capture/drivers.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"

namespace platform {
namespace {

class DriverDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera = std::make_shared<DemoCamera>(4);
    InstallCaptureDrivers({camera});
    window = capCreateCaptureWindowA("Capture Window", WS_VISIBLE, 0, 0, 320, 240, nullptr, 0);
    ASSERT_EQ(SendMessageA(window, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
  }

  std::shared_ptr<DemoCamera> camera;
  HWND window = nullptr;
};

TEST_F(DriverDialogsTest, FormatDialogOffersTheThreeSizes) {
  headless::ScriptDialog("Demo Camera Format",
                         {headless::SelectItem(kFrameSizeListId, 2), headless::PressButton(IDOK)});
  EXPECT_EQ(SendMessageA(window, WM_CAP_DLG_VIDEOFORMAT, 0, 0), 1);
  std::vector<headless::DialogRecord> records = headless::DialogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].owner, window);
  const headless::ControlState* list = records[0].initial.Control(kFrameSizeListId);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->items, (std::vector<std::string>{"160 x 120", "320 x 240", "640 x 480"}));
  EXPECT_EQ(list->selection, 1) << "the current size is selected";
  CAPSTATUS status{};
  ASSERT_EQ(
      SendMessageA(window, WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status)), 1);
  EXPECT_EQ(status.uiImageWidth, 640u);
  EXPECT_EQ(status.uiImageHeight, 480u);
  BITMAPINFOHEADER header{};
  SendMessageA(window, WM_CAP_GET_VIDEOFORMAT, sizeof header, reinterpret_cast<LPARAM>(&header));
  EXPECT_EQ(header.biWidth, 640);

  // Cancelled: nothing changes.
  headless::ScriptDialog("Demo Camera Format",
                         {headless::SelectItem(kFrameSizeListId, 0), headless::PressEscape()});
  EXPECT_EQ(SendMessageA(window, WM_CAP_DLG_VIDEOFORMAT, 0, 0), 0);
  EXPECT_EQ(camera->width(), 640);
}

TEST_F(DriverDialogsTest, SourceDialogSetsBrightnessAndWalks) {
  headless::ScriptDialog("Demo Camera Source",
                         {headless::MoveSlider(kFirstSettingId, 100),
                          headless::MoveSlider(kFirstSettingId + 1, 5), headless::PressEnter()});
  EXPECT_EQ(SendMessageA(window, WM_CAP_DLG_VIDEOSOURCE, 0, 0), 1);
  EXPECT_EQ(camera->brightness(), 150);
  EXPECT_EQ(camera->walkSeconds(), 10);
  const headless::DialogSnapshot initial = headless::DialogRecords().at(0).initial;
  EXPECT_EQ(initial.Position(kFirstSettingId), 50) << "100 % on a 50 to 150 slider";
  EXPECT_EQ(initial.Control(kFirstSettingId)->rangeMax, 100);

  headless::ScriptDialog("Demo Camera Source",
                         {headless::MoveSlider(kFirstSettingId, 0), headless::PressCloseBox()});
  EXPECT_EQ(SendMessageA(window, WM_CAP_DLG_VIDEOSOURCE, 0, 0), 0);
  EXPECT_EQ(camera->brightness(), 150);
}

TEST(DriverDialogs, WideRangesAreWalkedInSteps) {
  std::vector<Setting> settings = {{"Exposure", 3, 10003, 5003}, {"Hue", -180, 180, 0}};
  headless::ScriptDialog(
      "Video Source", {headless::MoveSlider(kFirstSettingId, 1000),
                       headless::MoveSlider(kFirstSettingId + 1, 0), headless::PressButton(IDOK)});
  ASSERT_EQ(AdjustSettings(nullptr, "Video Source", &settings), 1);
  const headless::DialogSnapshot initial = headless::DialogRecords().at(0).initial;
  EXPECT_EQ(initial.Control(kFirstSettingId)->rangeMax, 1000);
  EXPECT_EQ(initial.Position(kFirstSettingId), 500);
  EXPECT_EQ(initial.Position(kFirstSettingId + 1), 180);
  EXPECT_EQ(settings[0].value, 10003);
  EXPECT_EQ(settings[1].value, -180);
}

}  // namespace
}  // namespace platform
