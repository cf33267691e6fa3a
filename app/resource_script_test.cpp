// The resource script and icon files the Windows build compiles. (Under wine the compiled
// program's resources are checked against the table itself: tests/windows/resources_test.cpp.)
#include "app/resource_script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/window.h"

namespace {

using platform::ControlClass;

uint32_t Read(const std::vector<BYTE>& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes.at(at + i);
  return value;
}

// A BMP file of width x height pixels at `bits` bits, with a full colour table for 8 bits
// or fewer; pixel bytes count up from 1.
std::vector<BYTE> Bmp(int width, int height, int bits) {
  const uint32_t table = bits <= 8 ? 4u << bits : 0;
  const uint32_t stride = (width * bits + 31) / 32 * 4;
  std::vector<BYTE> file(14 + 40 + table + stride * height, 0);
  file[0] = 'B';
  file[1] = 'M';
  auto put = [&](size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) file[at + i] = static_cast<BYTE>(value >> (8 * i));
  };
  put(2, static_cast<uint32_t>(file.size()), 4);
  put(10, 14 + 40 + table, 4);
  put(14, 40, 4);
  put(18, static_cast<uint32_t>(width), 4);
  put(22, static_cast<uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, static_cast<uint32_t>(bits), 2);
  for (size_t i = 14 + 40; i < file.size(); ++i) file[i] = static_cast<BYTE>(i);
  return file;
}

TEST(ResourceScript, WritesTextsQuotedAndPicturesAsTheirNumbers) {
  platform::ResourceTable table;
  table.menus = {{"someMenu", {{"&One", {{"A \"quoted\" item", 7}, {"", 0}, {"B\\C", 8}}}}}};
  table.dialogs = {
      {42,
       WS_POPUP | DS_SETFONT,
       "",
       "Some Font",
       9,
       1,
       2,
       30,
       40,
       {{ControlClass::kStatic, -1, "#118", WS_CHILD | WS_VISIBLE | SS_BITMAP, 3, 4, 5, 6},
        {ControlClass::kStatic, 5, "#11a", WS_CHILD, 0, 0, 1, 1},
        {ControlClass::kTrackbar, 9, "", WS_CHILD | TBS_NOTICKS, 0, 0, 1, 1}}},
      {43, WS_POPUP | WS_CAPTION, "Say \"hi\"", "", 0, 0, 0, 1, 1, {}}};
  table.bitmaps = {{118, Bmp(2, 2, 4)}};
  table.icons = {{140, {Bmp(16, 16, 4)}}};
  const std::string script = ResourceScript(table);
  const std::vector<std::string> lines = {
      "someMenu MENU",
      "  POPUP \"&One\"",
      "    MENUITEM \"A \"\"quoted\"\" item\", 7",
      "    MENUITEM SEPARATOR",
      "    MENUITEM \"B\\\\C\", 8",
      "42 DIALOGEX 1, 2, 30, 40",
      "STYLE 0x80000040",
      "FONT 9, \"Some Font\"",
      "  CONTROL 118, -1, \"Static\", 0x5000000E, 3, 4, 5, 6",
      "  CONTROL \"#11a\", 5, \"Static\", 0x40000000, 0, 0, 1, 1",
      "  CONTROL \"\", 9, \"msctls_trackbar32\", 0x40000010, 0, 0, 1, 1",
      "43 DIALOGEX 0, 0, 1, 1",
      "STYLE 0x80C00000",
      "CAPTION \"Say \"\"hi\"\"\"",
      "118 BITMAP \"bitmap118.bmp\"",
      "140 ICON \"icon140.ico\""};
  size_t from = 0;
  for (const std::string& line : lines) {
    const size_t at = script.find("\n" + line + "\n", from);
    ASSERT_NE(at, std::string::npos) << line << "\nin:\n" << script;
    from = at + 1;
  }
  // A template without a caption gets no CAPTION line, which would add WS_CAPTION; one
  // without a font no FONT line.
  EXPECT_EQ(script.find("CAPTION \"\""), std::string::npos);
  EXPECT_EQ(script.find("FONT 0"), std::string::npos);

  std::vector<ResourceScriptFile> files;
  ASSERT_TRUE(ResourceScriptFiles(table, &files));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, "bitmap118.bmp");
  EXPECT_EQ(files[0].bytes, table.bitmaps[0].file);
  EXPECT_EQ(files[1].name, "icon140.ico");
}

TEST(ResourceScript, AnIconFileHoldsEveryImageOpaqueBehindItsDirectory) {
  const std::vector<BYTE> small = Bmp(16, 16, 4);
  const std::vector<BYTE> odd = Bmp(3, 2, 8);
  std::vector<BYTE> icon;
  ASSERT_TRUE(IconFile({140, {small, odd}}, &icon));
  EXPECT_EQ(Read(icon, 0, 2), 0u);
  EXPECT_EQ(Read(icon, 2, 2), 1u);  // an icon
  ASSERT_EQ(Read(icon, 4, 2), 2u);
  size_t next = 6 + 2 * 16;
  const struct {
    const std::vector<BYTE>* bmp;
    uint32_t width, height, colours, bits, table, rows, mask;
  } images[] = {{&small, 16, 16, 16, 4, 64, 8 * 16, 4 * 16},
                {&odd, 3, 2, 0, 8, 1024, 4 * 2, 4 * 2}};
  for (size_t i = 0; i < 2; ++i) {
    const auto& image = images[i];
    const size_t entry = 6 + 16 * i;
    EXPECT_EQ(Read(icon, entry, 1), image.width);
    EXPECT_EQ(Read(icon, entry + 1, 1), image.height);
    EXPECT_EQ(Read(icon, entry + 2, 1), image.colours);
    EXPECT_EQ(Read(icon, entry + 4, 2), 1u);
    EXPECT_EQ(Read(icon, entry + 6, 2), image.bits);
    const uint32_t bytes = 40 + image.table + image.rows + image.mask;
    EXPECT_EQ(Read(icon, entry + 8, 4), bytes);
    ASSERT_EQ(Read(icon, entry + 12, 4), next);  // images follow one another
    // The header with both masks' height, then the file's colours and rows unchanged.
    EXPECT_EQ(Read(icon, next + 8, 4), 2 * image.height);
    EXPECT_EQ(Read(icon, next + 20, 4), image.rows + image.mask);
    const std::vector<BYTE>& bmp = *image.bmp;
    EXPECT_EQ(std::memcmp(&icon[next + 40], &bmp[14 + 40], image.table + image.rows), 0);
    for (size_t at = next + 40 + image.table + image.rows; at < next + bytes; ++at) {
      ASSERT_EQ(icon[at], 0) << at;  // every pixel opaque
    }
    next += bytes;
  }
  EXPECT_EQ(icon.size(), next);
}

TEST(ResourceScript, PicturesThatAreNoPlainBmpFilesAreRefused) {
  std::vector<std::vector<BYTE>> broken(5, Bmp(4, 4, 4));
  broken[0][0] = 'X';                      // no BMP file
  broken[1].resize(broken[1].size() - 1);  // rows cut short
  broken[2][30] = 2;                       // compressed
  broken[3][25] = 0xFF;                    // top-down (a negative height)
  broken[4][14] = 12;                      // a core header
  for (size_t i = 0; i < broken.size(); ++i) {
    platform::ResourceTable pictures;
    pictures.bitmaps = {{118, broken[i]}};
    std::vector<ResourceScriptFile> files = {{"kept", {1}}};
    EXPECT_FALSE(ResourceScriptFiles(pictures, &files)) << i;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "kept");
    platform::ResourceTable icons;
    icons.icons = {{140, {Bmp(16, 16, 4), broken[i]}}};
    EXPECT_FALSE(ResourceScriptFiles(icons, &files)) << i;
  }
}

}  // namespace
