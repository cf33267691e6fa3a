// Writing the resource table as a resource script, and the icon groups as icon files.
#include "app/resource_script.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kFileHeaderBytes = 14;  // BITMAPFILEHEADER
constexpr size_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr size_t kIconDirBytes = 6;      // reserved, type 1, image count
constexpr size_t kIconEntryBytes = 16;   // one directory entry per image

// `text` as a quoted string of the script: quotes doubled, backslashes escaped.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') {
      quoted += "\"\"";
    } else if (c == '\\') {
      quoted += "\\\\";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// A control's text: "#118" names picture 118, written as the number; anything else quoted.
std::string ControlText(const std::string& text) {
  if (text.size() > 1 && text[0] == '#' &&
      text.find_first_not_of("0123456789", 1) == std::string::npos) {
    return text.substr(1);
  }
  return Quoted(text);
}

void AppendMenu(const platform::MenuTemplate& menu, std::string* script) {
  *script += menu.name + " MENU\nBEGIN\n";
  for (const platform::MenuPopupTemplate& popup : menu.popups) {
    *script += "  POPUP " + Quoted(popup.text) + "\n  BEGIN\n";
    for (const platform::MenuItemTemplate& item : popup.items) {
      if (item.id == 0 && item.text.empty()) {
        *script += "    MENUITEM SEPARATOR\n";
      } else {
        *script += "    MENUITEM " + Quoted(item.text) + ", " + std::to_string(item.id) + "\n";
      }
    }
    *script += "  END\n";
  }
  *script += "END\n\n";
}

void AppendDialog(const platform::DialogTemplate& dialog, std::string* script) {
  *script += std::to_string(dialog.id) + " DIALOGEX " + std::to_string(dialog.x) + ", " +
             std::to_string(dialog.y) + ", " + std::to_string(dialog.cx) + ", " +
             std::to_string(dialog.cy) + "\n";
  *script += "STYLE " + Hex(dialog.style) + "\n";
  // A CAPTION line adds WS_CAPTION to the style: a template without a caption has none.
  if (!dialog.caption.empty()) *script += "CAPTION " + Quoted(dialog.caption) + "\n";
  if (!dialog.fontName.empty()) {
    *script += "FONT " + std::to_string(dialog.pointSize) + ", " + Quoted(dialog.fontName) + "\n";
  }
  *script += "BEGIN\n";
  for (const platform::ControlTemplate& control : dialog.controls) {
    *script += "  CONTROL " + ControlText(control.text) + ", " + std::to_string(control.id) + ", " +
               Quoted(platform::ControlClassName(control.controlClass)) + ", " +
               Hex(control.style) + ", " + std::to_string(control.x) + ", " +
               std::to_string(control.y) + ", " + std::to_string(control.cx) + ", " +
               std::to_string(control.cy) + "\n";
  }
  *script += "END\n\n";
}

std::string BitmapFileName(int id) {
  return "bitmap" + std::to_string(id) + ".bmp";
}

std::string IconFileName(int id) {
  return "icon" + std::to_string(id) + ".ico";
}

uint32_t Read(const std::vector<BYTE>& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
  return value;
}

void Put(std::vector<BYTE>* bytes, size_t at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) (*bytes)[at + i] = static_cast<BYTE>(value >> (8 * i));
}

void Append(std::vector<BYTE>* bytes, uint32_t value, int count) {
  bytes->resize(bytes->size() + count);
  Put(bytes, bytes->size() - count, value, count);
}

uint32_t RowBytes(uint32_t width, uint32_t bitCount) {
  return (width * bitCount + 31) / 32 * 4;
}

// What the icon writer needs of a BMP file.
struct BmpShape {
  uint32_t width;
  uint32_t height;
  uint32_t bitCount;
  size_t tableBytes;  // the colour table between the information header and the pixels
  size_t pixelBytes;  // the XOR rows, bottom row first
};

// Reads an uncompressed bottom-up BMP file with a 40-byte information header whose pixels
// lie whole inside the file. False for anything else.
bool ReadBmpShape(const std::vector<BYTE>& file, BmpShape* shape) {
  if (file.size() < kFileHeaderBytes + kInfoHeaderBytes || file[0] != 'B' || file[1] != 'M') {
    return false;
  }
  const size_t pixelOffset = Read(file, 10, 4);
  const auto width = static_cast<int32_t>(Read(file, 18, 4));
  const auto height = static_cast<int32_t>(Read(file, 22, 4));
  shape->bitCount = Read(file, 28, 2);
  if (Read(file, 14, 4) != kInfoHeaderBytes || Read(file, 30, 4) != 0 || width <= 0 ||
      width > 256 || height <= 0 || height > 256 || shape->bitCount == 0 || shape->bitCount > 32 ||
      pixelOffset < kFileHeaderBytes + kInfoHeaderBytes) {
    return false;
  }
  shape->width = static_cast<uint32_t>(width);
  shape->height = static_cast<uint32_t>(height);
  shape->tableBytes = pixelOffset - kFileHeaderBytes - kInfoHeaderBytes;
  shape->pixelBytes = size_t{RowBytes(shape->width, shape->bitCount)} * shape->height;
  return pixelOffset + shape->pixelBytes <= file.size();
}

}  // namespace

std::string ResourceScript(const platform::ResourceTable& table) {
  std::string script =
      "// The program's resources, made by corvantis-resource-script from its resource\n"
      "// table; do not edit.\n\n";
  for (const platform::MenuTemplate& menu : table.menus) AppendMenu(menu, &script);
  for (const platform::DialogTemplate& dialog : table.dialogs) AppendDialog(dialog, &script);
  for (const platform::BitmapResource& bitmap : table.bitmaps) {
    script += std::to_string(bitmap.id) + " BITMAP " + Quoted(BitmapFileName(bitmap.id)) + "\n";
  }
  for (const platform::IconResource& icon : table.icons) {
    script += std::to_string(icon.id) + " ICON " + Quoted(IconFileName(icon.id)) + "\n";
  }
  return script;
}

bool ResourceScriptFiles(const platform::ResourceTable& table,
                         std::vector<ResourceScriptFile>* files) {
  std::vector<ResourceScriptFile> made;
  for (const platform::BitmapResource& bitmap : table.bitmaps) {
    BmpShape shape;
    if (!ReadBmpShape(bitmap.file, &shape)) return false;
    made.push_back({BitmapFileName(bitmap.id), bitmap.file});
  }
  for (const platform::IconResource& icon : table.icons) {
    ResourceScriptFile file{IconFileName(icon.id), {}};
    if (!IconFile(icon, &file.bytes)) return false;
    made.push_back(std::move(file));
  }
  *files = std::move(made);
  return true;
}

bool IconFile(const platform::IconResource& icon, std::vector<BYTE>* file) {
  file->clear();
  std::vector<BmpShape> shapes(icon.images.size());
  for (size_t i = 0; i < icon.images.size(); ++i) {
    if (!ReadBmpShape(icon.images[i], &shapes[i])) return false;
  }
  Append(file, 0, 2);  // reserved
  Append(file, 1, 2);  // an icon, not a cursor
  Append(file, static_cast<uint32_t>(icon.images.size()), 2);
  size_t offset = kIconDirBytes + kIconEntryBytes * icon.images.size();
  for (const BmpShape& shape : shapes) {
    // The image: the information header with the height of the XOR and AND masks together,
    // the colour table, the XOR rows and an AND mask of zeros (every pixel opaque).
    const size_t maskBytes = size_t{RowBytes(shape.width, 1)} * shape.height;
    const size_t imageBytes = kInfoHeaderBytes + shape.tableBytes + shape.pixelBytes + maskBytes;
    Append(file, shape.width == 256 ? 0 : shape.width, 1);
    Append(file, shape.height == 256 ? 0 : shape.height, 1);
    Append(file, shape.bitCount < 8 ? 1u << shape.bitCount : 0, 1);
    Append(file, 0, 1);  // reserved
    Append(file, 1, 2);  // planes
    Append(file, shape.bitCount, 2);
    Append(file, static_cast<uint32_t>(imageBytes), 4);
    Append(file, static_cast<uint32_t>(offset), 4);
    offset += imageBytes;
  }
  for (size_t i = 0; i < icon.images.size(); ++i) {
    const std::vector<BYTE>& bmp = icon.images[i];
    const BmpShape& shape = shapes[i];
    const size_t start = file->size();
    file->insert(file->end(), bmp.begin() + kFileHeaderBytes,
                 bmp.begin() + kFileHeaderBytes + kInfoHeaderBytes + shape.tableBytes);
    Put(file, start + 8, 2 * shape.height, 4);
    const size_t maskBytes = size_t{RowBytes(shape.width, 1)} * shape.height;
    Put(file, start + 20, static_cast<uint32_t>(shape.pixelBytes + maskBytes), 4);  // biSizeImage
    const size_t pixels = kFileHeaderBytes + kInfoHeaderBytes + shape.tableBytes;
    file->insert(file->end(), bmp.begin() + pixels, bmp.begin() + pixels + shape.pixelBytes);
    file->resize(file->size() + maskBytes, 0);
  }
  return true;
}
