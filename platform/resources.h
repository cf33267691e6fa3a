// The program's resources as data the program owns: menus, dialog templates and bitmaps.
// The program installs its table once at start (InstallResources); both backends read it.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

// Predefined control classes of dialog templates.
enum class ControlClass { kButton, kEdit, kStatic, kTrackbar, kComboBox };

// The window class name of a control class's controls, as the platform names it.
inline const char* ControlClassName(ControlClass controlClass) {
  switch (controlClass) {
    case ControlClass::kButton:
      return "Button";
    case ControlClass::kEdit:
      return "Edit";
    case ControlClass::kStatic:
      return "Static";
    case ControlClass::kTrackbar:
      return "msctls_trackbar32";
    case ControlClass::kComboBox:
      return "ComboBox";
  }
  return "Static";
}

struct ControlTemplate {
  ControlClass controlClass;
  int id;            // -1 for controls without an id
  std::string text;  // the text, or "#118" for a picture naming bitmap 118
  DWORD style;       // WS_* together with the class's own style bits
  int x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
  int id;
  DWORD style;
  std::string caption;
  std::string fontName;
  int pointSize;
  int x, y, cx, cy;  // dialog units
  std::vector<ControlTemplate> controls;
};

struct MenuItemTemplate {
  std::string text;  // "" for a separator
  UINT id;           // 0 for a separator
};

struct MenuPopupTemplate {
  std::string text;
  std::vector<MenuItemTemplate> items;
};

struct MenuTemplate {
  std::string name;  // looked up without regard to case
  std::vector<MenuPopupTemplate> popups;
};

struct BitmapResource {
  int id;
  std::vector<BYTE> file;  // the whole BMP file: file header, info header, colours, pixels
};

struct IconResource {
  int id;                                 // icon group id
  std::vector<std::vector<BYTE>> images;  // each a BMP file of one size
};

struct ResourceTable {
  std::vector<MenuTemplate> menus;
  std::vector<DialogTemplate> dialogs;
  std::vector<BitmapResource> bitmaps;
  std::vector<IconResource> icons;
};

// Installs the program's resources; the table must outlive every use of them.
void InstallResources(const ResourceTable* table);
const ResourceTable* InstalledResources();
const DialogTemplate* FindDialogTemplate(LPCSTR name);
const MenuTemplate* FindMenuTemplate(LPCSTR name);
const BitmapResource* FindBitmapResource(int id);

}  // namespace platform
