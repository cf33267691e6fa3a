// The program's resources against their tables: the menu, every control of the four dialog
// templates, and the pictures.
#include "app/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/dialog.h"

namespace {

using platform::ControlClass;
using Row = std::tuple<ControlClass, int, std::string, int, int, int, int>;

std::vector<Row> Rows(const platform::DialogTemplate& dialog) {
  std::vector<Row> rows;
  for (const auto& c : dialog.controls) {
    rows.emplace_back(c.controlClass, c.id, c.text, c.x, c.y, c.cx, c.cy);
  }
  return rows;
}

const platform::DialogTemplate& Dialog(int id) {
  platform::InstallResources(ProgramResources());
  const platform::DialogTemplate* dialog = platform::FindDialogTemplate(MAKEINTRESOURCEA(id));
  EXPECT_NE(dialog, nullptr) << id;
  static platform::DialogTemplate none{};
  return dialog ? *dialog : none;
}

DWORD StyleOf(const platform::DialogTemplate& dialog, size_t index) {
  return dialog.controls.at(index).style;
}

constexpr DWORD kVisibleChild = WS_CHILD | WS_VISIBLE;
const auto B = ControlClass::kButton;
const auto E = ControlClass::kEdit;
const auto S = ControlClass::kStatic;
const auto T = ControlClass::kTrackbar;

TEST(Resources, TheMenuHoldsItsItemsAndIdsAndIsFoundWithoutRegardToCase) {
  platform::InstallResources(ProgramResources());
  const platform::MenuTemplate* menu = platform::FindMenuTemplate("DOGMENU");
  ASSERT_NE(menu, nullptr);
  std::vector<std::tuple<std::string, std::string, UINT>> items;
  for (const auto& popup : menu->popups) {
    for (const auto& item : popup.items) items.emplace_back(popup.text, item.text, item.id);
  }
  std::vector<std::tuple<std::string, std::string, UINT>> expected{
      {"&File", "E&xit", 40001},
      {"A&larm", "Ar&m", 40002},
      {"A&larm", "&Disarm", 40003},
      {"A&larm", "&Test", 40004},
      {"A&larm", "", 0},
      {"A&larm", "Settin&gs", 40008},
      {"Options", "Image &Dimensions", 40013},
      {"Options", "Image &Quality", 40014},
      {"&Help", "&About", 40005}};
  EXPECT_EQ(items, expected);
}

TEST(Resources, TheCredentialsTemplateMatchesItsTable) {
  const auto& d = Dialog(120);
  EXPECT_EQ(d.style, static_cast<DWORD>(WS_POPUP | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT));
  EXPECT_EQ(d.style & (WS_CAPTION | WS_SYSMENU), 0u);
  EXPECT_EQ(d.cx, 186);
  EXPECT_EQ(d.cy, 147);
  EXPECT_EQ(d.fontName, "MS Sans Serif");
  EXPECT_EQ(d.pointSize, 8);
  std::vector<Row> expected{
      {E, 1000, "", 76, 20, 90, 12},
      {E, 1001, "", 76, 45, 90, 12},
      {B, 1, "OK", 35, 100, 50, 14},
      {B, 2, "Cancel", 90, 100, 50, 14},
      {S, 1006,
       "Please make sure that you have an active Internet connection before turning the alarm "
       "on. ",
       16, 75, 153, 18},
      {S, -1, "User Name:", 19, 25, 38, 8},
      {S, -1, "User Password:", 19, 49, 50, 8},
      {S, -1, "Please Enter", 72, 7, 41, 8},
      {S, -1, "Status:", 10, 129, 23, 8},
      {S, 1003, "Waiting for user and password information", 34, 130, 139, 10}};
  EXPECT_EQ(Rows(d), expected);
  constexpr DWORD kEdit = kVisibleChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  EXPECT_EQ(StyleOf(d, 0), kEdit);
  EXPECT_EQ(StyleOf(d, 1), kEdit | ES_PASSWORD);
  EXPECT_EQ(StyleOf(d, 2), kVisibleChild | BS_DEFPUSHBUTTON | WS_TABSTOP);
  EXPECT_EQ(StyleOf(d, 3), kVisibleChild | BS_PUSHBUTTON | WS_TABSTOP);
  for (size_t i = 4; i < 10; ++i) EXPECT_EQ(StyleOf(d, i), kVisibleChild | SS_LEFT | WS_GROUP);
}

TEST(Resources, TheWelcomeAboutAndSettingsTemplatesMatchTheirTables) {
  const auto& welcome = Dialog(115);
  EXPECT_EQ(welcome.style, 0x800008C0u);
  EXPECT_EQ(welcome.caption, "");
  EXPECT_EQ(std::make_pair(welcome.cx, welcome.cy), std::make_pair(218, 166));
  EXPECT_EQ(
      Rows(welcome),
      (std::vector<Row>{
          {B, 1, "OK", 83, 143, 50, 14},
          {S, -1, "#118", 69, 6, 73, 15},
          {S, -1, "You  will  need  an  active  Internet connection  before arming the alarm. ", 41,
           114, 134, 22},
          {B, -1, "", 21, 25, 175, 72},
          {S, -1, "#138", 70, 35, 77, 54},
          {S, -1, "Corvantis", 83, 89, 44, 8}}));
  EXPECT_EQ(StyleOf(welcome, 0) & 0x0F, static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(StyleOf(welcome, 1) & 0x1F, static_cast<DWORD>(SS_BITMAP));
  EXPECT_EQ(StyleOf(welcome, 2) & 0x1F, static_cast<DWORD>(SS_CENTER));
  EXPECT_EQ(StyleOf(welcome, 3) & 0x0F, static_cast<DWORD>(BS_GROUPBOX));

  const auto& about = Dialog(119);
  EXPECT_EQ(about.style, 0x80C008C4u);
  EXPECT_EQ(about.caption, "About Corvantis");
  EXPECT_EQ(std::make_pair(about.cx, about.cy), std::make_pair(211, 159));
  auto rows = Rows(about);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], (Row{B, 1, "OK", 76, 126, 50, 14}));
  EXPECT_EQ(rows[1], (Row{S, -1, "Version 1.1", 84, 89, 36, 8}));
  EXPECT_EQ(std::get<3>(rows[2]), 53);  // the notice lines' texts are the program's own
  EXPECT_EQ(std::get<5>(rows[2]), 90);
  EXPECT_EQ(std::get<3>(rows[3]), 94);
  EXPECT_EQ(std::get<5>(rows[3]), 17);
  EXPECT_EQ(rows[4], (Row{S, -1, "#138", 63, 7, 77, 54}));
  EXPECT_EQ(rows[5], (Row{S, -1, "#139", 52, 74, 91, 9}));

  const auto& settings = Dialog(130);
  EXPECT_EQ(settings.style, 0x80C808C4u);
  EXPECT_EQ(settings.caption, "Alarm Settings");
  EXPECT_EQ(std::make_pair(settings.cx, settings.cy), std::make_pair(186, 111));
  EXPECT_EQ(Rows(settings), (std::vector<Row>{{T, 1005, "", 32, 20, 120, 12},
                                              {T, 1006, "", 31, 58, 120, 12},
                                              {B, 1, "OK", 40, 90, 50, 14},
                                              {B, 2, "Cancel", 95, 90, 50, 14},
                                              {S, -1, "Smoothing", 76, 7, 34, 8},
                                              {S, -1, "Sensitivity", 77, 44, 32, 10},
                                              {S, -1, "5", 23, 23, 8, 8},
                                              {S, -1, "25", 153, 23, 8, 8},
                                              {S, -1, "10", 21, 63, 8, 8},
                                              {S, -1, "50", 151, 63, 8, 8}}));
  for (size_t i : {0u, 1u}) {
    EXPECT_EQ(StyleOf(settings, i), kVisibleChild | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP);
  }
  for (const auto* d : {&welcome, &about, &settings}) {
    EXPECT_EQ(d->fontName, "MS Sans Serif");
    EXPECT_EQ(d->pointSize, 8);
    EXPECT_TRUE(d->style & DS_CENTER);
  }
}

// Width, height, bit count and the colours used by a 4-bit BMP file.
struct Bmp {
  int width = 0, height = 0, bits = 0;
  std::set<COLORREF> colours;
};

Bmp Read(const std::vector<BYTE>& file) {
  Bmp bmp;
  if (file.size() < 14 + 40 + 64) return bmp;
  BITMAPFILEHEADER fileHeader;
  BITMAPINFOHEADER info;
  std::memcpy(&fileHeader, file.data(), sizeof fileHeader);
  std::memcpy(&info, file.data() + 14, sizeof info);
  WORD type = fileHeader.bfType;  // copies: the packed header's fields are not aligned
  DWORD size = fileHeader.bfSize;
  DWORD offset = fileHeader.bfOffBits;
  EXPECT_EQ(type, 0x4D42);
  EXPECT_EQ(size, file.size());
  bmp.width = info.biWidth;
  bmp.height = info.biHeight;
  bmp.bits = info.biBitCount;
  size_t row = ((bmp.width * 4 + 31) / 32) * 4;
  if (bmp.bits != 4 || offset + row * bmp.height > file.size()) return bmp;
  const BYTE* colours = file.data() + 14 + 40;
  for (int y = 0; y < bmp.height; ++y) {
    for (int x = 0; x < bmp.width; ++x) {
      BYTE pair = file[offset + row * y + x / 2];
      int index = x % 2 ? pair & 15 : pair >> 4;
      const BYTE* c = colours + 4 * index;
      bmp.colours.insert(RGB(c[2], c[1], c[0]));
    }
  }
  return bmp;
}

TEST(Resources, ThePicturesAreSixteenColourBitmapsOfTheirSizesAndColours) {
  platform::InstallResources(ProgramResources());
  auto bitmap = [](int id) {
    const platform::BitmapResource* resource = platform::FindBitmapResource(id);
    EXPECT_NE(resource, nullptr) << id;
    return resource ? Read(resource->file) : Bmp{};
  };
  Bmp welcome = bitmap(118), house = bitmap(138), name = bitmap(139);
  EXPECT_EQ(std::make_tuple(welcome.width, welcome.height, welcome.bits),
            std::make_tuple(110, 24, 4));
  EXPECT_EQ(std::make_tuple(house.width, house.height, house.bits), std::make_tuple(115, 87, 4));
  EXPECT_EQ(std::make_tuple(name.width, name.height, name.bits), std::make_tuple(136, 14, 4));
  EXPECT_TRUE(welcome.colours.count(RGB(0, 0, 255)));  // blue letters
  EXPECT_TRUE(house.colours.count(RGB(255, 0, 0)));    // a red house
  EXPECT_TRUE(house.colours.count(RGB(0, 255, 0)));    // on a green hand
  EXPECT_EQ(name.colours, (std::set<COLORREF>{RGB(0, 0, 0), RGB(192, 192, 192)}));
  const platform::ResourceTable* table = ProgramResources();
  ASSERT_EQ(table->icons.size(), 1u);
  EXPECT_EQ(table->icons[0].id, 140);
  ASSERT_EQ(table->icons[0].images.size(), 5u);
  std::set<int> sizes;
  for (const auto& image : table->icons[0].images) {
    Bmp icon = Read(image);
    EXPECT_EQ(icon.width, icon.height);
    sizes.insert(icon.width);
  }
  EXPECT_EQ(sizes.size(), 5u);
}

}  // namespace
