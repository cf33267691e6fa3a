// Menus, cursors and icons of the window system. A menu is built from the program's menu
// template; its items keep the greyed and disabled state that the program sets, and the
// menu bar of its window shows that state.
#include "platform/resources.h"
#include "platform/threads.h"
#include "platform/window_system/model.h"

namespace window_system {

void DestroyMenuLocked(HMENU handle) {
  M().menus.Remove(handle);
  M().windows.ForEach([&](uint64_t, const Window& w) {
    if (w.menu == handle) const_cast<Window&>(w).menu = nullptr;
  });
}

}  // namespace window_system

using namespace window_system;
using platform::HandleKind;

namespace {
// A stock icon or cursor: an object that only carries its identity.
struct StockObject {
  int id;
};

// The one handle of kind `kind` for the stock object or program icon of `id` (the same
// handle every time).
template <typename H, HandleKind kind>
H StockHandle(int id) {
  static auto* table = new platform::HandleTable<StockObject>(kind);  // never destroyed
  std::lock_guard lock(table->mutex());
  H found = nullptr;
  table->ForEach([&](uint64_t value, const StockObject& object) {
    if (object.id == id) found = reinterpret_cast<H>(static_cast<uintptr_t>(value));
  });
  if (found) return found;
  return table->template Add<H>(std::make_unique<StockObject>(StockObject{id}));
}

// Under M().mutex: a menu item by command id (searching every popup) or null.
MenuItem* FindMenuItemLocked(Menu& menu, UINT id) {
  for (MenuPopup& popup : menu.popups) {
    for (MenuItem& item : popup.items) {
      if (!item.separator && item.id == id) return &item;
    }
  }
  return nullptr;
}

void LogMenuItemLocked(const Menu& menu, UINT id, UINT state) {
  const Window none;  // stands in for the window of a menu that belongs to none
  const Window* owner = FindWindowLocked(menu.owner);
  LogEventLocked(WindowEventKind::kMenuItem, owner ? *owner : none, id, state);
}

}  // namespace

HMENU LoadMenuA(HINSTANCE, LPCSTR name) {
  const platform::MenuTemplate* menuTemplate = platform::FindMenuTemplate(name);
  if (!menuTemplate) {
    SetLastError(platform::InstalledResources() ? ERROR_RESOURCE_NAME_NOT_FOUND
                                                : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  auto menu = std::make_unique<Menu>();
  for (const platform::MenuPopupTemplate& popupTemplate : menuTemplate->popups) {
    MenuPopup& popup = menu->popups.emplace_back();
    popup.text = popupTemplate.text;
    for (const platform::MenuItemTemplate& item : popupTemplate.items) {
      bool separator = item.text.empty() && item.id == 0;
      popup.items.push_back({.text = item.text, .id = item.id, .separator = separator});
    }
  }
  std::lock_guard lock(M().mutex);
  return M().menus.Add<HMENU>(std::move(menu));
}

HMENU GetMenu(HWND handle) {
  std::lock_guard lock(M().mutex);
  Window* window = CheckedLocked(handle);
  if (!window) return nullptr;
  return (window->style & WS_CHILD) ? nullptr : window->menu;
}

BOOL EnableMenuItem(HMENU handle, UINT idOrPosition, UINT flags) {
  UINT previous;
  {
    std::lock_guard lock(M().mutex);
    Menu* menu = M().menus.Find(handle);
    if (!menu) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return -1;
    }
    UINT* state = nullptr;
    UINT id = idOrPosition;
    if (flags & MF_BYPOSITION) {
      if (idOrPosition >= menu->popups.size()) return -1;
      state = &menu->popups[idOrPosition].state;
    } else if (MenuItem* item = FindMenuItemLocked(*menu, idOrPosition)) {
      state = &item->state;
    } else {
      return -1;
    }
    previous = *state;
    *state = flags & (MF_GRAYED | MF_DISABLED);
    if (previous != *state) LogMenuItemLocked(*menu, id, *state);
  }
  display::ShowMenuState(handle);
  return static_cast<BOOL>(previous);
}

UINT GetMenuState(HMENU handle, UINT idOrPosition, UINT flags) {
  std::lock_guard lock(M().mutex);
  Menu* menu = M().menus.Find(handle);
  if (!menu) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return 0xFFFFFFFF;
  }
  if (flags & MF_BYPOSITION) {
    if (idOrPosition >= menu->popups.size()) return 0xFFFFFFFF;
    const MenuPopup& popup = menu->popups[idOrPosition];
    // A pop-up answers with its item count in the high byte, as the platform does.
    return MF_POPUP | popup.state | (static_cast<UINT>(popup.items.size()) << 8);
  }
  MenuItem* item = FindMenuItemLocked(*menu, idOrPosition);
  if (!item) return 0xFFFFFFFF;
  return item->state | (item->separator ? MF_SEPARATOR : 0);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  // The program holds no cursors of its own; the platform's arrow is the only stock one.
  if (!instance && name == IDC_ARROW) return StockHandle<HCURSOR, HandleKind::kCursor>(32512);
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (!instance) {
    if (name == IDI_APPLICATION) return StockHandle<HICON, HandleKind::kIcon>(32512);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  // Program icons are icon groups named by number; a text name finds none.
  const platform::ResourceTable* table = platform::InstalledResources();
  if (name && IS_INTRESOURCE(name) && table) {
    int id = static_cast<int>(reinterpret_cast<UINT_PTR>(name));
    for (const platform::IconResource& icon : table->icons) {
      if (icon.id == id) return StockHandle<HICON, HandleKind::kIcon>(0x10000 + id);
    }
  }
  SetLastError(table && !table->icons.empty() ? ERROR_RESOURCE_NAME_NOT_FOUND
                                              : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}
