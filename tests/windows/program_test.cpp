// corvantis.exe on the system itself: it starts, shows the welcome dialog with its pictures,
// and without a capture driver ends with its start-up failure report and exit status 0. The
// test presses every button itself and keeps a picture of the welcome dialog as it was on
// the screen.
#include <gtest/gtest.h>
#include <windows.h>
// The capture interface needs the types <windows.h> declares.
#include <vfw.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/resources.h"
#include "tests/windows/desktop_windows.h"

namespace {

constexpr DWORD kShowMilliseconds = 60000;  // the longest a window may take to appear
constexpr DWORD kDrawMilliseconds = 20000;  // the longest the welcome dialog may take to draw
constexpr char kReportRequest[] = "\nPlease send an e-mail report to: .";

// A box the program is expected to show: its caption and the start of its text.
struct ExpectedBox {
  std::string caption;
  std::string text;
};

// The pixels of a BMP file of 1 to 8 bits (as drawn by tools/draw_resources.py), 0xRRGGBB,
// top row first.
std::vector<uint32_t> BmpPixels(const std::vector<BYTE>& file, int* width, int* height) {
  BITMAPINFOHEADER header;
  std::memcpy(&header, file.data() + sizeof(BITMAPFILEHEADER), sizeof header);
  *width = header.biWidth;
  *height = header.biHeight;
  const BYTE* table = file.data() + sizeof(BITMAPFILEHEADER) + header.biSize;
  const BYTE* rows =
      file.data() + reinterpret_cast<const BITMAPFILEHEADER*>(file.data())->bfOffBits;
  const int bits = header.biBitCount;
  const int stride = (bits * *width + 31) / 32 * 4;
  std::vector<uint32_t> pixels;
  for (int y = 0; y < *height; ++y) {
    const BYTE* row = rows + size_t(*height - 1 - y) * stride;
    for (int x = 0; x < *width; ++x) {
      const int bit = x * bits;
      const int index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
      const BYTE* entry = table + 4 * index;
      pixels.push_back(uint32_t{entry[2]} << 16 | uint32_t{entry[1]} << 8 | entry[0]);
    }
  }
  return pixels;
}

const std::vector<BYTE>& PictureFile(int id) {
  for (const platform::BitmapResource& bitmap : ProgramResources()->bitmaps) {
    if (bitmap.id == id) return bitmap.file;
  }
  static const std::vector<BYTE> none;
  return none;
}

// Whether the screen shows picture `id` at the top-left corner of `area`.
bool ScreenShowsPicture(const RECT& area, int id) {
  int width = 0, height = 0;
  const std::vector<uint32_t> expected = BmpPixels(PictureFile(id), &width, &height);
  const RECT shown{area.left, area.top, area.left + width, area.top + height};
  return desktop::ScreenPixels(shown) == expected;
}

// The start-up failure the system leads the program to without a capture driver: where a
// capture window can be made, no driver connects to it (3.1, 3.2); where the system has no
// capture window at all (as under wine), making it fails (1.11).
std::vector<ExpectedBox> ExpectedFailureReports() {
  HWND probe = capCreateCaptureWindowA("probe", WS_POPUP, 0, 0, 0, 0, nullptr, 0);
  if (!probe) {
    return {{"Error number: 1.11", "Sorry! Cannot create video window."},
            {"Sorry!", "Application is going to close."}};
  }
  DestroyWindow(probe);
  return {{"Error number: 3.1", "Sorry! cannot get driver hardware capabilities"},
          {"Error number: 3.2", "Sorry! driver not properly connected"},
          {"Corvantis", "Application is going to close."}};
}

bool AnyCaptureDriver() {
  char name[80], version[100];
  for (WORD index = 0; index < 10; ++index) {
    if (capGetDriverDescriptionA(index, name, sizeof name, version, sizeof version)) return true;
  }
  return false;
}

std::string JoinTexts(const desktop::Dialog& box) {
  std::string joined;
  for (const std::string& text : box.StaticTexts()) joined += text;
  return joined;
}

TEST(Program, ShowsTheWelcomeDialogThenReportsTheMissingDriverAndEndsWithStatusZero) {
  if (AnyCaptureDriver()) GTEST_SKIP() << "a capture driver is present";
  const std::vector<ExpectedBox> expected = ExpectedFailureReports();

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  std::string commandLine = "\"" CORVANTIS_PROGRAM "\"";
  ASSERT_TRUE(CreateProcessA(CORVANTIS_PROGRAM, commandLine.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, CORVANTIS_TEST_OUTPUT, &startup, &program))
      << GetLastError();

  // The welcome dialog: no caption, its two pictures at their own size, its texts, OK.
  desktop::Dialog welcome =
      desktop::WaitForDialog(program.hProcess, program.dwProcessId, nullptr, kShowMilliseconds);
  ASSERT_NE(welcome.window, nullptr) << "no welcome dialog";
  EXPECT_EQ(welcome.style & WS_CAPTION, 0u);
  EXPECT_EQ(welcome.StaticTexts(),
            (std::vector<std::string>{
                "You  will  need  an  active  Internet connection  before arming the alarm. ",
                "Corvantis"}));
  std::vector<const desktop::Control*> pictures;
  for (const desktop::Control& control : welcome.controls) {
    if ((control.style & SS_TYPEMASK) == SS_BITMAP) pictures.push_back(&control);
  }
  ASSERT_EQ(pictures.size(), 2u);
  const desktop::Control* ok = welcome.ById(IDOK);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text, "OK");

  // The dialog as the screen shows it, once both pictures are drawn.
  RedrawWindow(welcome.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  bool drawn = false;
  const ULONGLONG deadline = GetTickCount64() + kDrawMilliseconds;
  while (!drawn && GetTickCount64() < deadline) {
    drawn = ScreenShowsPicture(pictures[0]->screen, kWelcomeBitmap) &&
            ScreenShowsPicture(pictures[1]->screen, kHouseBitmap);
    if (!drawn) WaitForSingleObject(program.hProcess, 20);
  }
  RECT area;
  GetWindowRect(welcome.window, &area);
  EXPECT_TRUE(desktop::WriteBmp(CORVANTIS_TEST_OUTPUT "/welcome-dialog.bmp",
                                desktop::ScreenPixels(area), area.right - area.left));
  EXPECT_TRUE(drawn) << "the welcome dialog's pictures never appeared on the screen";

  ASSERT_TRUE(desktop::Press(ok->window));

  // The failure reports, each answered with OK.
  HWND previous = welcome.window;
  for (const ExpectedBox& want : expected) {
    desktop::Dialog box =
        desktop::WaitForDialog(program.hProcess, program.dwProcessId, previous, kShowMilliseconds);
    ASSERT_NE(box.window, nullptr) << "no box \"" << want.caption << "\"";
    EXPECT_EQ(box.caption, want.caption);
    const std::string text = JoinTexts(box);
    EXPECT_EQ(text.rfind(want.text, 0), 0u) << text;
    if (want.caption.rfind("Error number: ", 0) == 0) {
      EXPECT_NE(text.find(kReportRequest), std::string::npos) << text;
    }
    const desktop::Control* button = box.ById(IDOK);
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(desktop::Press(button->window));
    previous = box.window;
  }

  ASSERT_EQ(WaitForSingleObject(program.hProcess, kShowMilliseconds), WAIT_OBJECT_0)
      << "the program did not end after its last report";
  DWORD status = 1;
  GetExitCodeProcess(program.hProcess, &status);
  EXPECT_EQ(status, 0u);
  CloseHandle(program.hThread);
  CloseHandle(program.hProcess);
}

}  // namespace
