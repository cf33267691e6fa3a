#include "app/error_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/window.h"

namespace {

// The request every numbered report adds to its message, as the user reads it.
const std::string kRequest =
    "\nPlease send an e-mail report to: .\n"
    "Please include the following information:\n"
    "1.  Type of computer.\n"
    "2.  Exact release of operating system.\n"
    "3.  Brand, model and software version of your camera. \n"
    "4.  Amount of RAM\n"
    "5.  Error number and description.\n"
    "Thank you.";

// A top-level window of this thread to own the boxes.
HWND MakeOwner() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.lpszClassName = "reportOwner";
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, "reportOwner", "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                         nullptr, nullptr);
}

TEST(ErrorReport, ShowsNumberMessageAndRequestInAWarningBox) {
  ASSERT_EQ(kRequest.size(), 256u);
  const HWND owner = MakeOwner();
  ASSERT_NE(owner, nullptr);
  headless::ClearLogs();
  ErrorReport("3.2", "Sorry! driver not properly connected", owner);
  ErrorReport("1.10", "Sorry! Cannot create frame for after picture.", nullptr);
  const auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Error number: 3.2");
  EXPECT_EQ(boxes[0].text, "Sorry! driver not properly connected" + kRequest);
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(boxes[0].owner, owner);
  EXPECT_EQ(boxes[1].caption, "Error number: 1.10");
  EXPECT_EQ(boxes[1].owner, nullptr);
  EXPECT_TRUE(boxes[1].text.ends_with("Thank you."));
}

TEST(ErrorReport, OverlongTextsAreCutAtTheBuffer) {
  headless::ClearLogs();
  const std::string message(3000, 'm');
  const std::string number(2500, '9');
  ErrorReport(number.c_str(), message.c_str(), nullptr);
  const auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, message.substr(0, 1999));
  EXPECT_EQ(boxes[0].caption, ("Error number: " + number).substr(0, 1999));
}

TEST(NumberReport, CaptionIsTheNumberAndTextTheMessageAlone) {
  const HWND owner = MakeOwner();
  ASSERT_NE(owner, nullptr);
  headless::ClearLogs();
  NumberReport(230400, "Hmmm... Couldn't Set image size", owner);
  NumberReport(-7, "negative", nullptr);
  NumberReport(INT32_MIN, "smallest", nullptr);
  const auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].caption, "230400");
  EXPECT_EQ(boxes[0].text, "Hmmm... Couldn't Set image size");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(boxes[0].owner, owner);
  EXPECT_EQ(boxes[1].caption, "-7");
  EXPECT_EQ(boxes[2].caption, "-2147483648");
}

TEST(FormatErrorCode, WritesUnsignedDecimalWithinElevenBytes) {
  char text[16];
  std::memset(text, '#', sizeof text);
  FormatErrorCode(10061, text);
  EXPECT_STREQ(text, "10061");
  std::memset(text, '#', sizeof text);
  FormatErrorCode(4294967295u, text);
  EXPECT_STREQ(text, "4294967295");
  EXPECT_EQ(text[11], '#') << "wrote past the 11 bytes";
  FormatErrorCode(0, text);
  EXPECT_STREQ(text, "0");
}

}  // namespace
