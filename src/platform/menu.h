// Popup menus with Win32's semantics: items with grayed, disabled and checked
// states and separators, tracked modally at a screen point. On x11 the menu
// is a GTK menu over the owner window; on the offscreen display the test
// chooses (platform/headless/headless.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT TPM_RETURNCMD = 0x0100;

struct MenuItem {
    UINT flags = MF_STRING;
    UINT_PTR id = 0;
    std::string text;
    bool Selectable() const { return !(flags & (MF_GRAYED | MF_DISABLED | MF_SEPARATOR)); }
};

struct Menu {
    std::vector<MenuItem> items;
};

HMENU CreatePopupMenu();
bool AppendMenu(HMENU menu, UINT flags, UINT_PTR id, std::string_view text);
// Shows the menu with its top-left corner at the screen point and runs a
// modal loop that keeps dispatching the thread's messages. With
// TPM_RETURNCMD, answers the chosen item's id, 0 when the menu was dismissed.
UINT TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner);
bool DestroyMenu(HMENU menu);
