#include "platform/menu.h"

#include "platform/menu_internal.h"

HMENU CreatePopupMenu() { return new Menu; }

bool AppendMenu(HMENU menu, UINT flags, UINT_PTR id, std::string_view text) {
    if (!menu) return false;
    menu->items.push_back(MenuItem{flags, id, (flags & MF_SEPARATOR) ? std::string() : std::string(text)});
    return true;
}

UINT TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
    if (!menu || !IsWindow(owner)) return 0;
    Point at{x, y};
    UINT chosen = ActiveBackend() == BackendKind::X11 ? TrackGtkMenu(*menu, at, owner) : TrackHeadlessMenu(*menu, at, owner);
    // Only a selectable item can be the answer, whatever the display reported.
    bool valid = false;
    for (const MenuItem& item : menu->items) valid = valid || (item.id == chosen && item.Selectable());
    if (!valid) chosen = 0;
    if (flags & TPM_RETURNCMD) return chosen;
    if (chosen) PostMessage(owner, WM_COMMAND, chosen, 0);
    return chosen != 0;
}

bool DestroyMenu(HMENU menu) {
    delete menu;
    return menu != nullptr;
}
