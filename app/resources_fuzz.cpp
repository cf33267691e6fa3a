// Fuzzes the dialog templates and the resource table: the input edits a copy of the program's
// table (controls dropped, added or changed in class, id, style, text and place; dialogs' and
// menus' own fields; pictures' bytes; templates under other ids), installs it, and runs the
// program's dialog procedures on its templates with scripted user input (typing, sliders,
// buttons, Enter, Escape, the close box), and the menu and icon look-ups. Every dialog is ended
// by the script's last step. Runs on the headless backend; the login dialog's exchange finds no
// server (its connection is refused).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/credential_dialogs.h"
#include "app/resources.h"
#include "app/small_dialogs.h"
#include "detect/alarm_state.h"
#include "net/server_link.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/sockets_testing.h"
#include "platform/window.h"
#include "platform/window_system/model.h"

namespace {

using platform::ControlClass;

constexpr char kHostName[] = "alarm-server.fuzz";
constexpr int kProgramIds[] = {IDOK,        IDCANCEL,    kUserNameField,   kPasswordField,
                               kStatusText, kPromptText, kSmoothingSlider, kSensitivitySlider,
                               -1,          0,           kWelcomeDialog,   kSettingsDialog};
constexpr int kTemplateIds[] = {kWelcomeDialog, kAboutDialog, kCredentialsDialog, kSettingsDialog};

int ConsumeId(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? input.PickValueInArray(kProgramIds) : input.ConsumeIntegral<int>();
}

int ConsumeUnits(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? input.ConsumeIntegralInRange(-20, 400)
                             : input.ConsumeIntegral<int>();
}

std::string ConsumeText(FuzzedDataProvider& input) {
  if (input.ConsumeIntegralInRange(0, 3) == 0) {
    return "#" + std::to_string(input.ConsumeIntegralInRange(100, 145));
  }
  return input.ConsumeRandomLengthString(300);
}

platform::ControlTemplate ConsumeControl(FuzzedDataProvider& input) {
  platform::ControlTemplate control;
  control.controlClass = static_cast<ControlClass>(input.ConsumeIntegralInRange(0, 4));
  control.id = ConsumeId(input);
  control.text = ConsumeText(input);
  control.style = input.ConsumeIntegral<DWORD>();
  control.x = ConsumeUnits(input);
  control.y = ConsumeUnits(input);
  control.cx = ConsumeUnits(input);
  control.cy = ConsumeUnits(input);
  return control;
}

// One edit of a dialog template.
void EditDialog(FuzzedDataProvider& input, platform::DialogTemplate& dialog) {
  auto& controls = dialog.controls;
  const size_t at =
      controls.empty() ? 0 : input.ConsumeIntegralInRange<size_t>(0, controls.size() - 1);
  switch (input.ConsumeIntegralInRange(0, 9)) {
    case 0:
      if (!controls.empty()) controls.erase(controls.begin() + static_cast<long>(at));
      break;
    case 1:
      controls.insert(controls.begin() + static_cast<long>(at), ConsumeControl(input));
      break;
    case 2:
      if (!controls.empty()) controls[at].controlClass = ConsumeControl(input).controlClass;
      break;
    case 3:
      if (!controls.empty()) controls[at].id = ConsumeId(input);
      break;
    case 4:
      if (!controls.empty()) controls[at].style ^= 1u << input.ConsumeIntegralInRange(0, 31);
      break;
    case 5:
      if (!controls.empty()) controls[at].text = ConsumeText(input);
      break;
    case 6:
      dialog.style ^= 1u << input.ConsumeIntegralInRange(0, 31);
      break;
    case 7:
      dialog.caption = input.ConsumeRandomLengthString(200);
      dialog.fontName = input.ConsumeRandomLengthString(40);
      dialog.pointSize = input.ConsumeIntegral<int>();
      break;
    case 8:
      dialog.x = ConsumeUnits(input);
      dialog.y = ConsumeUnits(input);
      dialog.cx = ConsumeUnits(input);
      dialog.cy = ConsumeUnits(input);
      break;
    default:
      dialog.id =
          input.ConsumeBool() ? input.PickValueInArray(kTemplateIds) : input.ConsumeIntegral<int>();
  }
}

// One edit of the menus, pictures or icons.
void EditOthers(FuzzedDataProvider& input, platform::ResourceTable& table) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: {
      platform::MenuTemplate& menu = table.menus.front();
      if (input.ConsumeBool()) menu.name = input.ConsumeRandomLengthString(20);
      if (menu.popups.empty() || input.ConsumeIntegralInRange(0, 3) == 0) {
        menu.popups.push_back({input.ConsumeRandomLengthString(30), {}});
      }
      auto& popup = menu.popups[input.ConsumeIntegralInRange<size_t>(0, menu.popups.size() - 1)];
      popup.items.push_back({input.ConsumeRandomLengthString(30), input.ConsumeIntegral<UINT>()});
      break;
    }
    case 1:
      table.bitmaps.push_back({input.ConsumeIntegralInRange(100, 145),
                               input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange(0, 400))});
      break;
    case 2:
      table.icons.push_back({input.ConsumeIntegral<int>(), {}});
      break;
    default:
      table.menus.push_back({input.ConsumeRandomLengthString(20), {}});
  }
}

// The user's actions on the dialog's controls. A template may lack the control an action
// names, so each action is taken only when the dialog has what it needs, as a user could.
headless::DialogAction ConsumeAction(FuzzedDataProvider& input) {
  const int id = ConsumeId(input);
  switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
      return headless::CallInDialog(
          [id, text = input.ConsumeRandomLengthString(1100)](HWND dialog) {
            if (HWND control = GetDlgItem(dialog, id)) {
              SetWindowTextA(control, text.c_str());
              SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE),
                           reinterpret_cast<LPARAM>(control));
            }
          });
    case 1:
      return headless::CallInDialog([id, value = input.ConsumeIntegral<int16_t>()](HWND dialog) {
        if (HWND control = GetDlgItem(dialog, id)) {
          SendMessageA(control, TBM_SETPOS, TRUE, value);
          const auto position = static_cast<WORD>(SendMessageA(control, TBM_GETPOS, 0, 0));
          SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                       reinterpret_cast<LPARAM>(control));
        }
      });
    case 2:
      return headless::CallInDialog([id](HWND dialog) {
        HWND control = GetDlgItem(dialog, id);
        if (control && IsWindowEnabled(control)) {
          SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(control));
        }
      });
    case 3:
      // Enter as the keyboard presses it: on a disabled default button it does nothing, where
      // a scripted Enter would stop the run as a mistake in the script.
      return headless::CallInDialog([](HWND dialog) {
        if (int id = window_system::EnterButtonId(dialog, nullptr)) {
          window_system::NoteUserCommand(dialog, id);
        }
      });
    case 4:
      return headless::PressEscape();
    default:
      return headless::CallInDialog([](HWND dialog) {
        if (GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU) {
          SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
      });
  }
}

std::vector<headless::DialogAction> ConsumeActions(FuzzedDataProvider& input) {
  std::vector<headless::DialogAction> actions;
  const int count = input.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < count; ++i) actions.push_back(ConsumeAction(input));
  // Whatever came before, the dialog ends.
  actions.push_back(headless::CallInDialog([](HWND dialog) { EndDialog(dialog, 0); }));
  return actions;
}

void RunDialog(FuzzedDataProvider& input) {
  static constexpr DLGPROC kProcedures[] = {WelcomeDialog, AboutDialog, LoginDialog, DisarmDialog,
                                            SettingsDialog};
  // An integer resource name holds 16 bits.
  const int id =
      input.ConsumeBool() ? input.PickValueInArray(kTemplateIds) : input.ConsumeIntegral<WORD>();
  const DLGPROC procedure = input.PickValueInArray(kProcedures);
  headless::ScriptDialog(id, ConsumeActions(input));
  DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(id), MainWindow, procedure, 0);
  headless::ClearDialogScripts();
}

// The menu named by the input on a window of its own, and the program's icon.
void LoadMenuAndIcon(FuzzedDataProvider& input) {
  const std::string name = input.ConsumeBool() ? "dogMenu" : input.ConsumeRandomLengthString(20);
  if (HMENU menu = LoadMenuA(moduleInstance, name.c_str())) {
    HWND window = CreateWindowExA(0, "corvantisFuzzWindow", "", WS_POPUP, 0, 0, 100, 100, nullptr,
                                  menu, moduleInstance, nullptr);
    if (window) {
      EnableMenuItem(menu, input.ConsumeIntegral<UINT>(), input.ConsumeIntegral<UINT>());
      GetMenuState(menu, input.ConsumeIntegral<UINT>(), input.ConsumeIntegral<UINT>());
      DestroyWindow(window);
    }
  }
  LoadIconA(moduleInstance, MAKEINTRESOURCEA(input.ConsumeIntegralInRange(130, 150)));
  platform::FindBitmapResource(input.ConsumeIntegralInRange(100, 145));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  WNDCLASSA cls{};
  cls.lpfnWndProc = DefWindowProcA;
  cls.lpszClassName = "corvantisFuzzWindow";
  RegisterClassA(&cls);
  moduleInstance = reinterpret_cast<HINSTANCE>(1);
  // The login dialog's exchange looks up a name of its own and is refused at the connection.
  std::strcpy(serverHostName, kHostName);
  SetTestHostAddress(kHostName, "127.0.0.1");
  socketCalls.connect = [](SOCKET, const sockaddr*, int) {
    WSASetLastError(WSAECONNREFUSED);
    return SOCKET_ERROR;
  };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  platform::ResourceTable table = *ProgramResources();
  const int edits = input.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < edits; ++i) {
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
      EditOthers(input, table);
    } else {
      EditDialog(input,
                 table.dialogs[input.ConsumeIntegralInRange<size_t>(0, table.dialogs.size() - 1)]);
    }
  }
  platform::InstallResources(&table);
  smoothing = 15;
  sensitivity = 30;
  LoadMenuAndIcon(input);
  for (int i = 0; i < 3 && input.remaining_bytes() > 0; ++i) RunDialog(input);
  platform::InstallResources(nullptr);
  headless::ClearLogs();
  headless::ClearWindowEvents();
  headless::ClearDialogRecords();
  return 0;
}
