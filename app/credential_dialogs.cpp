// The credential dialogs: the two rules on the typed texts, the login exchange with the
// server, and the comparison with the stored credentials.
#include "app/credential_dialogs.h"

#include <cstring>

#include "app/app_windows.h"
#include "app/resources.h"
#include "net/login_exchange.h"
#include "net/server_link.h"
#include "platform/dialog.h"

namespace {

constexpr size_t kFieldBytes = 1024;  // each field is read into this many bytes

// The typed user name and password, each with room for the line feed appended later.
struct Credentials {
  char name[kFieldBytes + 1];
  char password[kFieldBytes + 1];
};

// Reads a field; a field that cannot be read gives an empty text.
void ReadField(HWND dialog, int id, char* text) {
  text[0] = '\0';
  if (GetDlgItemTextA(dialog, id, text, kFieldBytes) == 0) text[0] = '\0';
}

// Steps 1 to 4 of an OK press: the status, the fields and the two rules. Gives 1 when both
// rules hold (the texts then end in a line feed), 0 after the rule's box.
int ReadCredentials(HWND dialog, Credentials* typed) {
  SetDlgItemTextA(dialog, kStatusText, "Checking Password");
  ReadField(dialog, kUserNameField, typed->name);
  ReadField(dialog, kPasswordField, typed->password);
  size_t nameLength = std::strlen(typed->name);
  if (nameLength < 4 || nameLength > 30) {
    MessageBoxA(MainWindow, "Name has to be more than 3 character and no more than 30", "Corvantis",
                MB_OK);
    SetDlgItemTextA(dialog, kUserNameField, "");
    return 0;
  }
  size_t passwordLength = std::strlen(typed->password);
  if (passwordLength < 4 || passwordLength > 13) {
    MessageBoxA(MainWindow, "Password has to be more than 3 character and no more than 13",
                "Corvantis", MB_OK);
    SetDlgItemTextA(dialog, kPasswordField, "");
    return 0;
  }
  std::strcat(typed->name, "\n");
  std::strcat(typed->password, "\n");
  return 1;
}

// After a refusal: both fields emptied, the dialog stays open.
void StartOver(HWND dialog) {
  SetDlgItemTextA(dialog, kUserNameField, "");
  SetDlgItemTextA(dialog, kPasswordField, "");
  SetDlgItemTextA(dialog, kStatusText, "Waiting for user and password");
}

void LoginOk(HWND dialog) {
  Credentials typed;
  if (!ReadCredentials(dialog, &typed)) return;
  const char* reply = LoginExchange(typed.name, typed.password);
  if (!reply) reply = "";
  // The message for the user is the reply from its first blank on.
  const char* blank = std::strchr(reply, ' ');
  const char* message = blank ? blank : "";
  if (std::strncmp(reply, "200", 3) == 0) {
    MessageBoxA(dialog, message, "Welcome: ", MB_OK | MB_ICONINFORMATION);
    EndDialog(dialog, 1);
    return;
  }
  MessageBoxA(dialog, message, "Please try again: ", MB_OK | MB_ICONEXCLAMATION);
  StartOver(dialog);
}

void DisarmOk(HWND dialog) {
  Credentials typed;
  if (!ReadCredentials(dialog, &typed)) return;
  if (std::strcmp(typed.name, storedUserName) == 0 &&
      std::strcmp(typed.password, storedPassword) == 0) {
    MessageBoxA(dialog, "Alarm is now OFF", "Corvantis", MB_OK | MB_ICONINFORMATION);
    EndDialog(dialog, 1);
    return;
  }
  MessageBoxA(dialog, "Wrong user name or password",
              "Please login again: ", MB_OK | MB_ICONEXCLAMATION);
  StartOver(dialog);
}

}  // namespace

INT_PTR LoginDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND) {
    if (LOWORD(wParam) == IDOK) LoginOk(dialog);
    if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
  }
  return FALSE;
}

INT_PTR DisarmDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, kPromptText,
                    "Please enter your user name and password to turn off alarm");
    return TRUE;
  }
  if (message == WM_COMMAND) {
    if (LOWORD(wParam) == IDOK) DisarmOk(dialog);
    if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
  }
  return FALSE;
}
