// The resources compiled into corvantis.exe, as the system reads them, against the table both
// Linux backends read: the menu, every dialog template control by control, the pictures and
// the icon group.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/resources.h"

namespace {

// The program's own file, loaded for its resources only.
HMODULE Program() {
  static HMODULE module = LoadLibraryExA(CORVANTIS_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

// The bytes of a resource of the program; empty when it has none.
std::vector<BYTE> ResourceBytes(LPCSTR name, LPCSTR type) {
  HRSRC found = FindResourceA(Program(), name, type);
  if (!found) return {};
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(Program(), found)));
  return {bytes, bytes + SizeofResource(Program(), found)};
}

std::string MenuText(HMENU menu, UINT position) {
  char text[256] = "";
  GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

// Reads an extended dialog template from its bytes, word by word.
struct TemplateReader {
  const BYTE* at;
  WORD Word() {
    WORD value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | DWORD{Word()} << 16;
  }
  short Short() { return static_cast<short>(Word()); }
  // A name or a number: "" for none, "#118" for the number 118, else the text.
  std::string NameOrNumber() {
    WORD first = Word();
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text(1, static_cast<char>(first));
    for (WORD c; (c = Word()) != 0;) text += static_cast<char>(c);
    return text;
  }
  void AlignToDword(const BYTE* start) {
    while ((at - start) % 4 != 0) ++at;
  }
};

std::string Capitals(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The class a template names (the predefined ones by number, others by name), in capitals:
// class names are compared without regard to case.
std::string ClassName(const std::string& nameOrNumber) {
  if (nameOrNumber == "#128") return "BUTTON";
  if (nameOrNumber == "#129") return "EDIT";
  if (nameOrNumber == "#130") return "STATIC";
  if (nameOrNumber == "#133") return "COMBOBOX";
  return Capitals(nameOrNumber);
}

TEST(ProgramResources, TheMenuHoldsTheTablesItems) {
  ASSERT_NE(Program(), nullptr);
  for (const platform::MenuTemplate& table : ProgramResources()->menus) {
    HMENU menu = LoadMenuA(Program(), table.name.c_str());
    ASSERT_NE(menu, nullptr) << table.name;
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(table.popups.size()));
    for (UINT i = 0; i < table.popups.size(); ++i) {
      const platform::MenuPopupTemplate& popup = table.popups[i];
      EXPECT_EQ(MenuText(menu, i), popup.text);
      HMENU items = GetSubMenu(menu, static_cast<int>(i));
      ASSERT_NE(items, nullptr) << popup.text;
      ASSERT_EQ(GetMenuItemCount(items), static_cast<int>(popup.items.size())) << popup.text;
      for (UINT j = 0; j < popup.items.size(); ++j) {
        const platform::MenuItemTemplate& item = popup.items[j];
        if (item.id == 0) {
          EXPECT_NE(GetMenuState(items, j, MF_BYPOSITION) & MF_SEPARATOR, 0u) << popup.text << j;
          continue;
        }
        EXPECT_EQ(GetMenuItemID(items, static_cast<int>(j)), item.id) << item.text;
        EXPECT_EQ(MenuText(items, j), item.text);
        EXPECT_EQ(GetMenuState(items, j, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED), 0u);
      }
    }
    DestroyMenu(menu);
  }
}

TEST(ProgramResources, EveryDialogTemplateMatchesItsTableControlByControl) {
  ASSERT_NE(Program(), nullptr);
  ASSERT_EQ(ProgramResources()->dialogs.size(), 4u);
  for (const platform::DialogTemplate& table : ProgramResources()->dialogs) {
    SCOPED_TRACE(table.id);
    const std::vector<BYTE> bytes = ResourceBytes(MAKEINTRESOURCEA(table.id), RT_DIALOG);
    ASSERT_GT(bytes.size(), 26u);
    TemplateReader read{bytes.data()};
    ASSERT_EQ(read.Word(), 1);  // an extended template
    ASSERT_EQ(read.Word(), 0xFFFF);
    read.Dword();                 // help id
    EXPECT_EQ(read.Dword(), 0u);  // extended style
    EXPECT_EQ(read.Dword(), table.style);
    const WORD count = read.Word();
    EXPECT_EQ(read.Short(), table.x);
    EXPECT_EQ(read.Short(), table.y);
    EXPECT_EQ(read.Short(), table.cx);
    EXPECT_EQ(read.Short(), table.cy);
    EXPECT_EQ(read.NameOrNumber(), "");  // no menu
    EXPECT_EQ(read.NameOrNumber(), "");  // the standard dialog class
    EXPECT_EQ(read.NameOrNumber(), table.caption);
    ASSERT_NE(table.style & DS_SETFONT, 0u);
    EXPECT_EQ(read.Word(), table.pointSize);
    read.Word();  // weight
    read.Word();  // italic, character set
    EXPECT_EQ(read.NameOrNumber(), table.fontName);

    ASSERT_EQ(count, table.controls.size());
    for (const platform::ControlTemplate& control : table.controls) {
      SCOPED_TRACE(control.text);
      read.AlignToDword(bytes.data());
      read.Dword();  // help id
      EXPECT_EQ(read.Dword(), 0u);
      EXPECT_EQ(read.Dword(), control.style);
      EXPECT_EQ(read.Short(), control.x);
      EXPECT_EQ(read.Short(), control.y);
      EXPECT_EQ(read.Short(), control.cx);
      EXPECT_EQ(read.Short(), control.cy);
      EXPECT_EQ(static_cast<int>(read.Dword()), control.id);
      EXPECT_EQ(ClassName(read.NameOrNumber()),
                Capitals(platform::ControlClassName(control.controlClass)));
      EXPECT_EQ(read.NameOrNumber(), control.text);
      read.at += read.Word();  // creation data
      ASSERT_LE(read.at, bytes.data() + bytes.size());
    }
  }
}

TEST(ProgramResources, ThePicturesAreTheTablesFilesAndLoad) {
  ASSERT_NE(Program(), nullptr);
  ASSERT_EQ(ProgramResources()->bitmaps.size(), 3u);
  for (const platform::BitmapResource& table : ProgramResources()->bitmaps) {
    SCOPED_TRACE(table.id);
    const std::vector<BYTE> bytes = ResourceBytes(MAKEINTRESOURCEA(table.id), RT_BITMAP);
    ASSERT_GT(table.file.size(), sizeof(BITMAPFILEHEADER));
    // A bitmap resource is the file without its file header.
    EXPECT_EQ(bytes,
              std::vector<BYTE>(table.file.begin() + sizeof(BITMAPFILEHEADER), table.file.end()));
    BITMAPINFOHEADER header;
    std::memcpy(&header, table.file.data() + sizeof(BITMAPFILEHEADER), sizeof header);
    HBITMAP bitmap = LoadBitmapA(Program(), MAKEINTRESOURCEA(table.id));
    ASSERT_NE(bitmap, nullptr);
    BITMAP shape;
    ASSERT_NE(GetObjectA(bitmap, sizeof shape, &shape), 0);
    EXPECT_EQ(shape.bmWidth, header.biWidth);
    EXPECT_EQ(shape.bmHeight, header.biHeight);
    DeleteObject(bitmap);
  }
}

TEST(ProgramResources, TheIconGroupHoldsEveryImageOfTheTableOpaque) {
  ASSERT_NE(Program(), nullptr);
  ASSERT_EQ(ProgramResources()->icons.size(), 1u);
  const platform::IconResource& table = ProgramResources()->icons[0];
  const std::vector<BYTE> group = ResourceBytes(MAKEINTRESOURCEA(table.id), RT_GROUP_ICON);
  ASSERT_EQ(group.size(), 6 + 14 * table.images.size());
  TemplateReader read{group.data()};
  EXPECT_EQ(read.Word(), 0);
  EXPECT_EQ(read.Word(), 1);
  ASSERT_EQ(read.Word(), table.images.size());
  for (const std::vector<BYTE>& file : table.images) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, file.data() + sizeof(BITMAPFILEHEADER), sizeof header);
    SCOPED_TRACE(header.biWidth);
    const BYTE width = *read.at++;
    const BYTE height = *read.at++;
    EXPECT_EQ(width, header.biWidth);
    EXPECT_EQ(height, header.biHeight);
    read.at += 2;               // colours, reserved
    EXPECT_EQ(read.Word(), 1);  // planes
    EXPECT_EQ(read.Word(), header.biBitCount);
    const DWORD size = read.Dword();
    const WORD id = read.Word();
    // The image: the header with the height of both masks, the BMP file's colours and rows,
    // then an AND mask of zeros.
    const std::vector<BYTE> image = ResourceBytes(MAKEINTRESOURCEA(id), RT_ICON);
    ASSERT_EQ(image.size(), size);
    BITMAPINFOHEADER imageHeader;
    std::memcpy(&imageHeader, image.data(), sizeof imageHeader);
    EXPECT_EQ(imageHeader.biHeight, 2 * header.biHeight);
    const std::vector<BYTE> colorsAndRows(file.begin() + sizeof(BITMAPFILEHEADER) + header.biSize,
                                          file.end());
    ASSERT_GE(image.size(), sizeof imageHeader + colorsAndRows.size());
    EXPECT_TRUE(
        std::equal(colorsAndRows.begin(), colorsAndRows.end(), image.begin() + sizeof imageHeader));
    for (size_t i = sizeof imageHeader + colorsAndRows.size(); i < image.size(); ++i) {
      ASSERT_EQ(image[i], 0) << i;
    }
    HICON icon = static_cast<HICON>(
        LoadImageA(Program(), MAKEINTRESOURCEA(table.id), IMAGE_ICON, width, height, 0));
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
  }
  // The windows' classes ask for an icon of another name, which the program does not hold.
  EXPECT_EQ(LoadIconA(Program(), "id_icon2"), nullptr);
}

}  // namespace
