// Modal dialogs built from a dialog template, with Win32's semantics: the
// dialog procedure sees WM_INITDIALOG, WM_COMMAND from buttons and WM_HSCROLL
// from trackbars, and ends the dialog with EndDialog. The dialog and its
// controls are windows of the window model, so trackbar messages go through
// SendMessage. On x11 the dialog is a GTK dialog; on the offscreen display the
// controls live in memory and tests drive them (platform/headless/headless.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/dialog_template.h"
#include "platform/window.h"

using INT_PTR = std::intptr_t;
// Answers nonzero when it handled the message; for WM_INITDIALOG, nonzero
// asks for the keyboard focus on the first tab stop.
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

constexpr WPARAM MAKEWPARAM(unsigned lo, unsigned hi) { return static_cast<WPARAM>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)); }

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// WM_COMMAND notification of a button, in the high word of wParam.
constexpr UINT BN_CLICKED = 0;
// WM_HSCROLL code of a trackbar moved by the user, in the low word of wParam.
constexpr UINT TB_THUMBTRACK = 5;

constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

// Trackbar messages. wParam of the setters: redraw now.
constexpr UINT TBM_GETPOS = 0x0400;
constexpr UINT TBM_SETPOS = 0x0405;
constexpr UINT TBM_SETRANGEMIN = 0x0407;
constexpr UINT TBM_SETRANGEMAX = 0x0408;

// What a failed item operation means: the dialog has no control of that id.
constexpr long ERROR_CONTROL_ID_NOT_FOUND = 1421;

// Runs the template modally: creates the dialog and its controls, sends
// WM_INITDIALOG with `param`, shows it, and dispatches the thread's messages
// (all of them, so other windows keep working) until EndDialog. Answers the
// value given to EndDialog; -1 when the template is unknown or the display
// cannot show a dialog. A WM_QUIT ends the dialog with 0 and is posted again.
INT_PTR DialogBoxParam(int templateId, HWND owner, DLGPROC proc, LPARAM param);
bool EndDialog(HWND dialog, INT_PTR result);

// Null when the dialog has no control of that id.
HWND GetDlgItem(HWND dialog, int id);
bool SetDlgItemText(HWND dialog, int id, std::string_view text);
bool SetDlgItemInt(HWND dialog, int id, UINT value, bool isSigned);
// The control's text, cut to maxChars - 1 UTF-16 units as a buffer of
// maxChars would hold it; answers the units copied.
UINT GetDlgItemText(HWND dialog, int id, std::string* text, int maxChars);
bool CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);

// The folder browser. Flags are Win32's; the browser only ever offers
// folders of the file system.
constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_RETURNFSANCESTORS = 0x0008;
constexpr UINT BIF_NEWDIALOGSTYLE = 0x0040;

struct BROWSEINFO {
    HWND hwndOwner = nullptr;  // an open dialog
    std::string lpszTitle;     // the instruction shown in the browser
    UINT ulFlags = 0;
};

// Lets the user pick a folder, modally over the owner dialog; true with the
// folder's path (byte-exact) when one was chosen, false when the user
// cancelled or the owner is not an open dialog.
bool SHBrowseForFolder(const BROWSEINFO& info, std::string* path);
