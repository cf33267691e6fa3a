#include "app/error_report.h"

#include <cstdio>

#include "platform/dialog.h"

namespace {

// The request that follows every error report's message.
constexpr char kReportRequest[] =
    "\nPlease send an e-mail report to: .\nPlease include the following information:\n"
    "1.  Type of computer.\n2.  Exact release of operating system.\n"
    "3.  Brand, model and software version of your camera. \n4.  Amount of RAM\n"
    "5.  Error number and description.\nThank you.";
static_assert(sizeof(kReportRequest) - 1 == 256);

// Size of the caption and text buffers.
constexpr int kReportBufferSize = 2000;

}  // namespace

void ErrorReport(const char* number, const char* message, HWND owner) {
  char caption[kReportBufferSize];
  char text[kReportBufferSize];
  std::snprintf(caption, sizeof caption, "Error number: %s", number);
  std::snprintf(text, sizeof text, "%s%s", message, kReportRequest);
  MessageBoxA(owner, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

void NumberReport(int32_t number, const char* message, HWND owner) {
  char caption[16];
  std::snprintf(caption, sizeof caption, "%d", static_cast<int>(number));
  MessageBoxA(owner, message, caption, MB_OK | MB_ICONEXCLAMATION);
}

void FormatErrorCode(uint32_t code, char* text) {
  std::snprintf(text, 11, "%u", static_cast<unsigned>(code));
}
