// Dialog templates: a dialog's caption, font, size and controls as data, found
// by resource id as a module's dialog resources are. Sizes and positions are
// in dialog units (a quarter of the font's average character width across, an
// eighth of its height down), so the layout follows the font.
//
// Header-only, so the program's resource table can register its templates
// without linking the window model.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "platform/messages.h"
#include "platform/types.h"

// Styles, with the values Win32 gives them.
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_FIXEDSYS = 0x08;

constexpr DWORD BS_TYPEMASK = 0x0F;
constexpr DWORD BS_PUSHBUTTON = 0x00;
constexpr DWORD BS_DEFPUSHBUTTON = 0x01;
constexpr DWORD BS_AUTOCHECKBOX = 0x03;
constexpr DWORD BS_GROUPBOX = 0x07;

constexpr DWORD SS_TYPEMASK = 0x1F;
constexpr DWORD SS_LEFT = 0x00;
constexpr DWORD SS_CENTER = 0x01;
constexpr DWORD SS_LEFTNOWORDWRAP = 0x0C;
constexpr DWORD SS_BITMAP = 0x0E;

constexpr DWORD TBS_HORZ = 0x00;
constexpr DWORD TBS_BOTH = 0x08;
constexpr DWORD TBS_NOTICKS = 0x10;

// The control classes a template may name.
inline constexpr std::string_view kButtonClass = "Button";
inline constexpr std::string_view kStaticClass = "Static";
inline constexpr std::string_view kTrackbarClass = "msctls_trackbar32";

struct DialogItemTemplate {
    int id;  // -1 for controls the program never addresses
    std::string_view className;
    std::string_view text;  // '&' marks a mnemonic, "&&" stands for '&'
    int imageId;            // SS_BITMAP: the Png resource shown at its own size; 0 otherwise
    DWORD style;
    int x, y, cx, cy;
};

struct DialogTemplate {
    int id;
    DWORD style;
    std::string_view caption;
    std::string_view fontName;
    int pointSize, weight;
    bool italic;
    int charset;
    int cx, cy;
    std::span<const DialogItemTemplate> items;  // in tab order
};

inline std::vector<std::span<const DialogTemplate>>& DialogTemplateTables() {
    static std::vector<std::span<const DialogTemplate>> tables;
    return tables;
}

// Adds a table to the ones searched; it must live as long as the process.
inline void RegisterDialogTemplates(std::span<const DialogTemplate> table) { DialogTemplateTables().push_back(table); }

inline const DialogTemplate* FindDialogTemplate(int id) {
    for (auto table : DialogTemplateTables())
        for (const DialogTemplate& t : table)
            if (t.id == id) return &t;
    return nullptr;
}
