// The program's resource table and the look-ups both backends share.
#include "platform/resources.h"

#include <strings.h>
#include <atomic>

#include <cstdlib>

namespace platform {
namespace {

// The table installed by the program; null until InstallResources.
std::atomic<const ResourceTable*> installed{nullptr};

// An integer resource name ("#118" or MAKEINTRESOURCEA(118)), or -1 for a text name.
int IntegerName(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return static_cast<int>(reinterpret_cast<UINT_PTR>(name));
  if (name[0] == '#') return std::atoi(name + 1);
  return -1;
}

}  // namespace

void InstallResources(const ResourceTable* table) {
  installed.store(table);
}

const ResourceTable* InstalledResources() {
  return installed.load();
}

const DialogTemplate* FindDialogTemplate(LPCSTR name) {
  const ResourceTable* table = installed.load();
  if (!table || !name) return nullptr;
  int id = IntegerName(name);
  for (const DialogTemplate& dialog : table->dialogs) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

const MenuTemplate* FindMenuTemplate(LPCSTR name) {
  const ResourceTable* table = installed.load();
  if (!table || !name || IS_INTRESOURCE(name)) return nullptr;
  for (const MenuTemplate& menu : table->menus) {
    if (strcasecmp(menu.name.c_str(), name) == 0) return &menu;
  }
  return nullptr;
}

const BitmapResource* FindBitmapResource(int id) {
  const ResourceTable* table = installed.load();
  if (!table) return nullptr;
  for (const BitmapResource& bitmap : table->bitmaps) {
    if (bitmap.id == id) return &bitmap;
  }
  return nullptr;
}

}  // namespace platform
