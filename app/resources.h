// The program's resources: the menu dogMenu, the dialog templates 115, 119, 120 and 130,
// the bitmaps 118, 138 and 139 and the icon group 140. The program's main installs them
// (platform::InstallResources) before it calls WinMain.
#pragma once

#include "platform/resources.h"
#include "platform/types.h"

// Command ids of dogMenu.
constexpr UINT kExitCommand = 40001;
constexpr UINT kArmCommand = 40002;
constexpr UINT kDisarmCommand = 40003;
constexpr UINT kTestCommand = 40004;
constexpr UINT kAboutCommand = 40005;
constexpr UINT kSettingsCommand = 40008;
constexpr UINT kImageDimensionsCommand = 40013;
constexpr UINT kImageQualityCommand = 40014;

// Dialog templates.
constexpr int kWelcomeDialog = 115;
constexpr int kAboutDialog = 119;
constexpr int kCredentialsDialog = 120;
constexpr int kSettingsDialog = 130;

// Controls of the credentials dialog.
constexpr int kUserNameField = 1000;
constexpr int kPasswordField = 1001;
constexpr int kStatusText = 1003;
constexpr int kPromptText = 1006;
// Controls of the settings dialog.
constexpr int kSmoothingSlider = 1005;
constexpr int kSensitivitySlider = 1006;

// Pictures.
constexpr int kWelcomeBitmap = 118;
constexpr int kHouseBitmap = 138;
constexpr int kNameBitmap = 139;
constexpr int kProgramIcon = 140;

// The whole table, built once.
const platform::ResourceTable* ProgramResources();
