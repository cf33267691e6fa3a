// The camera connection's start-up against scripted drivers.
#include "camera/camera_connection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "app/app_windows.h"
#include "camera/camera_test_windows.h"
#include "platform/capture/drivers.h"
#include "platform/capture/scripted_driver.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "snapshot/snapshot_writer.h"

namespace {

using platform::CaptureRequest;
using platform::DriverScript;
using platform::ScriptedDriver;

std::shared_ptr<ScriptedDriver> Install(DriverScript script = {}) {
  auto driver = std::make_shared<ScriptedDriver>(std::move(script));
  platform::InstallCaptureDrivers({driver});
  return driver;
}

// The captions of the boxes shown so far, each checked to be owned by the main window.
std::vector<std::string> Captions() {
  std::vector<std::string> captions;
  for (const headless::BoxRecord& box : headless::Boxes()) {
    EXPECT_EQ(box.owner, MainWindow) << box.caption;
    captions.push_back(box.caption);
  }
  return captions;
}

class CameraConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { camera_test::CreateProgramWindows(); }
};

TEST_F(CameraConnectionTest, StartsThePreviewAt320By240WhateverTheDriverDelivers) {
  DriverScript script;
  script.format = DriverScript::HeaderBytes(platform::MakeFormatHeader(640, 480, 24));
  script.statusWidth = 640;
  script.statusHeight = 480;
  auto driver = Install(script);
  ASSERT_EQ(OpenCamera(captureWindow), 1);
  EXPECT_TRUE(headless::Boxes().empty());
  EXPECT_EQ(videoWidth, 320);
  EXPECT_EQ(videoHeight, 240);
  EXPECT_EQ(captureStatus.uiImageWidth, 640u);
  EXPECT_EQ(captureStatus.uiImageHeight, 480u);
  ASSERT_NE(bmpptr, nullptr);
  EXPECT_EQ(bmpptr->biWidth, 320);
  EXPECT_EQ(bmpptr->biHeight, 240);
  EXPECT_EQ(bmpptr->biSizeImage, 230400u);
  EXPECT_TRUE(driverCaps.fCaptureInitialized);
  EXPECT_EQ(GlobalFlags(videoFormatBlock) & 0xFF, 1u) << "the block stays locked";

  std::vector<CaptureRequest> requests = driver->Requests();
  const std::vector<CaptureRequest> expected = {
      {WM_CAP_DRIVER_CONNECT, 0},   {WM_CAP_DRIVER_GET_CAPS, 44}, {WM_CAP_GET_VIDEOFORMAT, 0},
      {WM_CAP_GET_VIDEOFORMAT, 40}, {WM_CAP_DLG_VIDEOFORMAT, 0},  {WM_CAP_GET_STATUS, 76},
      {WM_CAP_SET_PREVIEWRATE, 66}, {WM_CAP_SET_PREVIEWRATE, 33}, {WM_CAP_SET_PREVIEW, 1}};
  ASSERT_EQ(requests.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(requests[i].message, expected[i].message) << i;
    EXPECT_EQ(requests[i].wParam, expected[i].wParam) << i;
  }
}

TEST_F(CameraConnectionTest, NoDriverConnects) {
  std::vector<std::shared_ptr<ScriptedDriver>> drivers;
  platform::CaptureDriverList list;
  for (int i = 0; i < 12; ++i) {
    DriverScript script;
    script.connects = false;
    drivers.push_back(std::make_shared<ScriptedDriver>(script));
    list.push_back(drivers.back());
  }
  platform::InstallCaptureDrivers(list);
  EXPECT_EQ(OpenCamera(captureWindow), 0);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Error number: 3.1", "Error number: 3.2"}));
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(drivers[i]->Requests().size(), 1u) << i;
    EXPECT_EQ(drivers[i]->Requests()[0].wParam, static_cast<WPARAM>(i));
  }
  EXPECT_TRUE(drivers[10]->Requests().empty()) << "only indexes 0 to 9 are probed";
}

TEST_F(CameraConnectionTest, OnlyTheFirstDescribedDriverThatAcceptsIsConnected) {
  DriverScript silent;
  silent.describes = false;
  auto first = std::make_shared<ScriptedDriver>(silent);
  auto second = std::make_shared<ScriptedDriver>(silent);
  auto third = std::make_shared<ScriptedDriver>();
  auto fourth = std::make_shared<ScriptedDriver>();
  platform::InstallCaptureDrivers({first, second, third, fourth});
  ASSERT_EQ(OpenCamera(captureWindow), 1);
  EXPECT_TRUE(first->Requests().empty());
  EXPECT_TRUE(second->Requests().empty());
  EXPECT_TRUE(fourth->Requests().empty());
  ASSERT_FALSE(third->Requests().empty());
  EXPECT_EQ(third->Requests()[0].message, static_cast<UINT>(WM_CAP_DRIVER_CONNECT));
  EXPECT_EQ(third->Requests()[0].wParam, 2u);
  EXPECT_EQ(third->CountRequests(WM_CAP_DRIVER_CONNECT), 1);
  EXPECT_TRUE(third->connected());
  EXPECT_EQ(third->CountRequests(WM_CAP_DRIVER_DISCONNECT), 0);
}

// Starts the camera with a driver that has no format dialog and reports `bitCount` bits;
// the box's caption and text go to standard error for the death test to read.
void StartWithoutFormatDialog(int bitCount) {
  camera_test::CreateProgramWindows();
  DriverScript script;
  script.caps.fHasDlgVideoFormat = FALSE;
  script.format = DriverScript::HeaderBytes(platform::MakeFormatHeader(640, 480, bitCount));
  Install(script);
  headless::SetBoxHandler([](const headless::BoxRecord& box) {
    std::fprintf(stderr, "box [%s] [%s] owned %d\n", box.caption.c_str(), box.text.c_str(),
                 box.owner == MainWindow);
    return IDOK;
  });
  OpenCamera(captureWindow);
}

TEST(CameraConnectionDeathTest, DriverWithoutFormatDialogEndsTheProcessWithStatus2) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartWithoutFormatDialog(24), ::testing::ExitedWithCode(2),
              "box \\[230400\\] \\[Hmmm\\.\\.\\. Couldn't Set image size\\] owned 1");
  EXPECT_EXIT(StartWithoutFormatDialog(16), ::testing::ExitedWithCode(2), "box \\[153600\\]");
  EXPECT_EXIT(StartWithoutFormatDialog(12), ::testing::ExitedWithCode(2), "box \\[76800\\]");
}

TEST_F(CameraConnectionTest, RefusedPreviewRatesAreReportedAndThePreviewStillStarts) {
  DriverScript script;
  script.refusedRates = {66};
  auto driver = Install(script);
  ASSERT_EQ(OpenCamera(captureWindow), 1);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Error number: 3.5"});
  EXPECT_EQ(headless::Boxes()[0].text.rfind("Sorry! Cannot set driver preview rate", 0), 0u);
  EXPECT_EQ(driver->CountRequests(WM_CAP_SET_PREVIEWRATE), 1) << "no 33 ms request";
  EXPECT_EQ(driver->CountRequests(WM_CAP_SET_PREVIEW), 1);

  headless::ClearLogs();
  driver->Edit([](DriverScript& s) { s.refusedRates = {33}; });
  ASSERT_EQ(OpenCamera(captureWindow), 1);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Error number: 3.5"});
}

TEST_F(CameraConnectionTest, StatusFailuresAndSizes) {
  DriverScript script;
  script.statusSucceeds = false;
  auto driver = Install(script);
  ASSERT_EQ(OpenCamera(captureWindow), 1);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Error number: 3.3"});
  EXPECT_EQ(captureStatus.uiImageWidth, 0u);
  EXPECT_EQ(driver->CountRequests(WM_CAP_SET_PREVIEWRATE), 2);
  EXPECT_EQ(driver->CountRequests(WM_CAP_SET_PREVIEW), 1);

  for (auto size : {std::pair{0u, 240u}, std::pair{320u, 0u}}) {
    headless::ClearLogs();
    driver->Edit([&](DriverScript& s) {
      s.statusSucceeds = true;
      s.statusWidth = size.first;
      s.statusHeight = size.second;
    });
    int rates = driver->CountRequests(WM_CAP_SET_PREVIEWRATE);
    EXPECT_EQ(OpenCamera(captureWindow), 0);
    EXPECT_EQ(Captions(), std::vector<std::string>{"Error number: 3.4"});
    EXPECT_EQ(headless::Boxes()[0].text.rfind("Sorry! Illigal size of picture.", 0), 0u);
    EXPECT_EQ(driver->CountRequests(WM_CAP_SET_PREVIEWRATE), rates);
  }
}

TEST_F(CameraConnectionTest, ShortFormatsGetAWholeHeaderAndARefusedPreviewFails) {
  for (std::vector<BYTE> format : {std::vector<BYTE>{}, std::vector<BYTE>(12, 0x18)}) {
    headless::ClearLogs();
    DriverScript script;
    script.format = format;
    script.previewSucceeds = false;
    Install(script);
    EXPECT_EQ(OpenCamera(captureWindow), 0);
    EXPECT_EQ(Captions(), std::vector<std::string>{"Error number: 3.6"});
    ASSERT_NE(bmpptr, nullptr);
    EXPECT_EQ(GlobalSize(videoFormatBlock), sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(videoWidth, 320);
    EXPECT_EQ(videoHeight, 240);
    EXPECT_EQ(bmpptr->biSizeImage, 0u) << "no bit count in a short format";
  }
}

TEST_F(CameraConnectionTest, RequestsToAWindowThatIsGoneFail) {
  auto driver = Install();
  ASSERT_EQ(OpenCamera(captureWindow), 1);
  size_t count = driver->Requests().size();
  DestroyWindow(captureWindow);
  EXPECT_EQ(SendCaptureRequest(WM_CAP_GET_STATUS, sizeof captureStatus,
                               reinterpret_cast<LPARAM>(&captureStatus)),
            0);
  EXPECT_EQ(SendCaptureRequest(captureWindow, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0), 0);
  EXPECT_EQ(driver->Requests().size(), count);
  EXPECT_FALSE(driver->connected());
}

}  // namespace
