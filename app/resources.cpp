// The program's resources as data: the menu, the dialog templates with every control, and
// the pictures embedded from app/resources/*.bmp.
#include "app/resources.h"

#include <cstring>
#include <string>

#include "app/resource_pictures.h"
#include "platform/dialog.h"
#include "platform/window.h"

namespace {

using platform::ControlClass;

// Every control is a visible child window.
constexpr DWORD kControl = WS_CHILD | WS_VISIBLE;
constexpr DWORD kText = kControl | SS_LEFT | WS_GROUP;
constexpr DWORD kPicture = kControl | SS_BITMAP;
constexpr DWORD kDefaultButton = kControl | BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr DWORD kButton = kControl | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kSlider = kControl | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;

platform::MenuTemplate DogMenu() {
  return {
      "dogMenu",
      {{"&File", {{"E&xit", kExitCommand}}},
       {"A&larm",
        {{"Ar&m", kArmCommand},
         {"&Disarm", kDisarmCommand},
         {"&Test", kTestCommand},
         {"", 0},
         {"Settin&gs", kSettingsCommand}}},
       {"Options",
        {{"Image &Dimensions", kImageDimensionsCommand}, {"Image &Quality", kImageQualityCommand}}},
       {"&Help", {{"&About", kAboutCommand}}}}};
}

platform::DialogTemplate WelcomeTemplate() {
  return {kWelcomeDialog,
          WS_POPUP | DS_MODALFRAME | DS_SETFONT | DS_CENTER,
          "",
          "MS Sans Serif",
          8,
          0,
          0,
          218,
          166,
          {{ControlClass::kButton, IDOK, "OK", kDefaultButton, 83, 143, 50, 14},
           {ControlClass::kStatic, -1, "#118", kPicture, 69, 6, 73, 15},
           {ControlClass::kStatic, -1,
            "You  will  need  an  active  Internet connection  before arming the alarm. ",
            kControl | SS_CENTER | WS_GROUP, 41, 114, 134, 22},
           {ControlClass::kButton, -1, "", kControl | BS_GROUPBOX, 21, 25, 175, 72},
           {ControlClass::kStatic, -1, "#138", kPicture, 70, 35, 77, 54},
           {ControlClass::kStatic, -1, "Corvantis", kText, 83, 89, 44, 8}}};
}

platform::DialogTemplate AboutTemplate() {
  return {kAboutDialog,
          WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK | DS_CENTER,
          "About Corvantis",
          "MS Sans Serif",
          8,
          0,
          0,
          211,
          159,
          {{ControlClass::kButton, IDOK, "OK", kDefaultButton, 76, 126, 50, 14},
           {ControlClass::kStatic, -1, "Version 1.1", kText, 84, 89, 36, 8},
           {ControlClass::kStatic, -1, "A motion alarm for a camera", kText, 53, 99, 90, 8},
           {ControlClass::kStatic, -1, "Free", kText, 94, 110, 17, 8},
           {ControlClass::kStatic, -1, "#138", kPicture, 63, 7, 77, 54},
           {ControlClass::kStatic, -1, "#139", kPicture, 52, 74, 91, 9}}};
}

platform::DialogTemplate CredentialsTemplate() {
  constexpr DWORD kEdit = kControl | ES_LEFT | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  return {kCredentialsDialog,
          WS_POPUP | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT,
          "",
          "MS Sans Serif",
          8,
          0,
          0,
          186,
          147,
          {{ControlClass::kEdit, kUserNameField, "", kEdit, 76, 20, 90, 12},
           {ControlClass::kEdit, kPasswordField, "", kEdit | ES_PASSWORD, 76, 45, 90, 12},
           {ControlClass::kButton, IDOK, "OK", kDefaultButton, 35, 100, 50, 14},
           {ControlClass::kButton, IDCANCEL, "Cancel", kButton, 90, 100, 50, 14},
           {ControlClass::kStatic, kPromptText,
            "Please make sure that you have an active Internet connection before turning the "
            "alarm on. ",
            kText, 16, 75, 153, 18},
           {ControlClass::kStatic, -1, "User Name:", kText, 19, 25, 38, 8},
           {ControlClass::kStatic, -1, "User Password:", kText, 19, 49, 50, 8},
           {ControlClass::kStatic, -1, "Please Enter", kText, 72, 7, 41, 8},
           {ControlClass::kStatic, -1, "Status:", kText, 10, 129, 23, 8},
           {ControlClass::kStatic, kStatusText, "Waiting for user and password information", kText,
            34, 130, 139, 10}}};
}

platform::DialogTemplate SettingsTemplate() {
  return {kSettingsDialog,
          WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK | DS_CENTER,
          "Alarm Settings",
          "MS Sans Serif",
          8,
          0,
          0,
          186,
          111,
          {{ControlClass::kTrackbar, kSmoothingSlider, "", kSlider, 32, 20, 120, 12},
           {ControlClass::kTrackbar, kSensitivitySlider, "", kSlider, 31, 58, 120, 12},
           {ControlClass::kButton, IDOK, "OK", kDefaultButton, 40, 90, 50, 14},
           {ControlClass::kButton, IDCANCEL, "Cancel", kButton, 95, 90, 50, 14},
           {ControlClass::kStatic, -1, "Smoothing", kText, 76, 7, 34, 8},
           {ControlClass::kStatic, -1, "Sensitivity", kText, 77, 44, 32, 10},
           {ControlClass::kStatic, -1, "5", kText, 23, 23, 8, 8},
           {ControlClass::kStatic, -1, "25", kText, 153, 23, 8, 8},
           {ControlClass::kStatic, -1, "10", kText, 21, 63, 8, 8},
           {ControlClass::kStatic, -1, "50", kText, 151, 63, 8, 8}}};
}

// The bytes of an embedded picture file (empty when the build holds none of that name).
std::vector<BYTE> Picture(const std::string& name) {
  for (size_t i = 0; i < kResourcePictureCount; ++i) {
    if (name == kResourcePictures[i].name) {
      return {kResourcePictures[i].bytes, kResourcePictures[i].bytes + kResourcePictures[i].size};
    }
  }
  return {};
}

platform::ResourceTable BuildTable() {
  platform::ResourceTable table;
  table.menus = {DogMenu()};
  table.dialogs = {WelcomeTemplate(), AboutTemplate(), CredentialsTemplate(), SettingsTemplate()};
  for (int id : {kWelcomeBitmap, kHouseBitmap, kNameBitmap}) {
    table.bitmaps.push_back({id, Picture("bitmap" + std::to_string(id) + ".bmp")});
  }
  platform::IconResource icon{kProgramIcon, {}};
  for (int size : {16, 24, 32, 48, 64}) {
    icon.images.push_back(Picture("icon140_" + std::to_string(size) + ".bmp"));
  }
  table.icons = {icon};
  return table;
}

}  // namespace

const platform::ResourceTable* ProgramResources() {
  static const platform::ResourceTable table = BuildTable();
  return &table;
}
