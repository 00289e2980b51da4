// The dialog manager: the dialog and its controls as windows of the window
// model, their state, the modal loop, and what user actions send to the
// dialog procedure. The displays only show the state and report the user.
#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/dialog_internal.h"
#include "platform/text.h"

namespace {

constexpr const char* kDialogClass = "#32770";

std::vector<DialogBox*>& OpenDialogs() {
    static std::vector<DialogBox*> open;
    return open;
}

DialogBox* BoxOf(HWND dialog) {
    for (DialogBox* box : OpenDialogs())
        if (box->hwnd == dialog && dialog) return box;
    return nullptr;
}

DialogItem* ItemOfControl(HWND control, DialogBox** owner) {
    for (DialogBox* box : OpenDialogs()) {
        for (DialogItem& item : box->items) {
            if (item.hwnd == control && control) {
                *owner = box;
                return &item;
            }
        }
    }
    return nullptr;
}

DialogItem* ItemOfDialog(HWND dialog, int id, DialogBox** owner) {
    DialogBox* box = BoxOf(dialog);
    if (!box) return nullptr;
    *owner = box;
    return FindDialogItem(*box, id);
}

void Changed(DialogBox& box, const DialogItem& item) {
    if (box.view) box.view->Update(item);
}

bool IsTrackbar(const DialogItem& item) { return item.tmpl->className == kTrackbarClass; }

int WithinRange(const DialogItem& item, long long value) {
    // A trackbar keeps its position within its range, as the common control does.
    return static_cast<int>(std::max<long long>(item.rangeMin, std::min<long long>(item.rangeMax, value)));
}

int Saturated(LPARAM value) {
    constexpr long long lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp<long long>(value, lo, hi));
}

LRESULT TrackbarMessage(DialogBox& box, DialogItem& item, UINT msg, LPARAM lParam) {
    switch (msg) {
    case TBM_GETPOS: return item.pos;
    case TBM_SETPOS: item.pos = WithinRange(item, lParam); break;
    case TBM_SETRANGEMIN:
        item.rangeMin = Saturated(lParam);
        item.pos = std::max(item.pos, item.rangeMin);
        break;
    case TBM_SETRANGEMAX:
        item.rangeMax = Saturated(lParam);
        item.pos = std::min(item.pos, item.rangeMax);
        break;
    default: return 0;
    }
    Changed(box, item);
    return 0;
}

LRESULT ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogBox* box = nullptr;
    DialogItem* item = ItemOfControl(hwnd, &box);
    if (item && IsTrackbar(*item) && msg >= TBM_GETPOS && msg <= TBM_SETRANGEMAX)
        return TrackbarMessage(*box, *item, msg, lParam);
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

// The dialog window's procedure: the program's dialog procedure first, then
// the default dialog handling.
LRESULT DialogWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogBox* box = BoxOf(hwnd);
    if (box && box->proc) {
        if (INT_PTR handled = box->proc(hwnd, msg, wParam, lParam)) return handled;
        if (msg == WM_CLOSE) {
            PostMessage(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
            return 0;
        }
    }
    if (msg == WM_CLOSE) return 0;  // a dialog ends through EndDialog only
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

void RegisterDialogClasses() {
    // Registration fails harmlessly when the classes exist already.
    for (auto name : {std::string_view(kDialogClass), kButtonClass, kStaticClass, kTrackbarClass}) {
        WNDCLASS wc;
        wc.lpfnWndProc = name == kDialogClass ? DialogWindowProc : ControlProc;
        wc.hCursor = HCURSOR::Arrow;
        wc.lpszClassName = std::string(name);
        RegisterClass(wc);
    }
}

void SendCommand(DialogBox& box, int id, HWND control) {
    SendMessage(box.hwnd, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED),
                reinterpret_cast<LPARAM>(control));
}

// Creates the windows and the display of an open dialog and runs it.
INT_PTR RunDialog(DialogBox& box, DLGPROC proc, LPARAM param) {
    const DialogTemplate& t = *box.tmpl;
    // The window model's windows route messages only; the display shows the
    // dialog. Unnamed and unshown, so nothing finds them by their looks.
    box.hwnd = CreateWindowEx(0, kDialogClass, "", t.style & ~WS_VISIBLE, 0, 0, t.cx, t.cy, nullptr, nullptr);
    if (!box.hwnd) return -1;
    box.items.reserve(t.items.size());
    for (const DialogItemTemplate& it : t.items) {
        DialogItem item;
        item.tmpl = &it;
        item.text = std::string(it.text);
        item.hwnd = CreateWindowEx(0, std::string(it.className), "", it.style & ~WS_VISIBLE, it.x, it.y, it.cx,
                                   it.cy, box.hwnd, nullptr);
        if (!item.hwnd) return -1;
        box.items.push_back(std::move(item));
    }
    box.view = ActiveBackend() == BackendKind::X11 ? CreateGtkDialogView(box) : CreateHeadlessDialogView(box);
    if (!box.view) return -1;

    // The procedure sees the dialog's messages from WM_INITDIALOG on.
    box.proc = proc;
    const DialogItem* firstTabStop = nullptr;
    for (const DialogItem& item : box.items) {
        if (item.tmpl->style & WS_TABSTOP) {
            firstTabStop = &item;
            break;
        }
    }
    LRESULT focus = SendMessage(box.hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop ? firstTabStop->hwnd : nullptr),
                                param);
    if (!box.ended) {
        box.view->Show(focus ? firstTabStop : nullptr);
        if (!RunModalLoop(box.ended)) return 0;
    }
    return box.result;
}

}  // namespace

DialogBox* TopDialog() { return OpenDialogs().empty() ? nullptr : OpenDialogs().back(); }

DialogItem* FindDialogItem(DialogBox& box, int id) {
    for (DialogItem& item : box.items)
        if (item.tmpl->id == id) return &item;
    return nullptr;
}

INT_PTR DialogBoxParam(int templateId, HWND owner, DLGPROC proc, LPARAM param) {
    const DialogTemplate* t = FindDialogTemplate(templateId);
    if (!t || !proc) return -1;
    RegisterDialogClasses();
    DialogBox box;
    box.tmpl = t;
    box.owner = owner;
    OpenDialogs().push_back(&box);
    INT_PTR result = RunDialog(box, proc, param);
    box.view.reset();
    if (box.hwnd) DestroyWindow(box.hwnd);
    auto& open = OpenDialogs();
    open.erase(std::remove(open.begin(), open.end(), &box), open.end());
    return result;
}

bool EndDialog(HWND dialog, INT_PTR result) {
    DialogBox* box = BoxOf(dialog);
    if (!box) return false;
    box->ended = true;
    box->result = result;
    // The modal loop looks at the flag after each message; this one wakes it.
    PostMessage(dialog, WM_NULL, 0, 0);
    return true;
}

HWND GetDlgItem(HWND dialog, int id) {
    DialogBox* box = nullptr;
    DialogItem* item = ItemOfDialog(dialog, id, &box);
    return item ? item->hwnd : nullptr;
}

bool SetDlgItemText(HWND dialog, int id, std::string_view text) {
    DialogBox* box = nullptr;
    DialogItem* item = ItemOfDialog(dialog, id, &box);
    if (!item) return false;
    item->text = std::string(text);
    Changed(*box, *item);
    return true;
}

bool SetDlgItemInt(HWND dialog, int id, UINT value, bool isSigned) {
    char text[16];
    if (isSigned)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    else
        std::snprintf(text, sizeof text, "%u", value);
    return SetDlgItemText(dialog, id, text);
}

UINT GetDlgItemText(HWND dialog, int id, std::string* text, int maxChars) {
    if (maxChars <= 0) return 0;
    DialogBox* box = nullptr;
    DialogItem* item = ItemOfDialog(dialog, id, &box);
    *text = item ? CutToUtf16Units(item->text, static_cast<std::size_t>(maxChars - 1)) : std::string();
    return static_cast<UINT>(Utf16Length(*text));
}

bool CheckDlgButton(HWND dialog, int id, UINT check) {
    DialogBox* box = nullptr;
    DialogItem* item = ItemOfDialog(dialog, id, &box);
    if (!item) return false;
    item->checked = check == BST_CHECKED;
    Changed(*box, *item);
    return true;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    DialogBox* box = nullptr;
    DialogItem* item = ItemOfDialog(dialog, id, &box);
    return item && item->checked ? BST_CHECKED : BST_UNCHECKED;
}

bool SHBrowseForFolder(const BROWSEINFO& info, std::string* path) {
    DialogBox* box = BoxOf(info.hwndOwner);
    return box && box->view && box->view->ChooseFolder(info.lpszTitle, path);
}

void DialogUserClick(DialogBox& box, DialogItem& item) {
    DWORD kind = item.tmpl->style & BS_TYPEMASK;
    if (item.tmpl->className != kButtonClass || kind == BS_GROUPBOX) return;
    if (kind == BS_AUTOCHECKBOX) {
        item.checked = !item.checked;
        Changed(box, item);
    }
    SendCommand(box, item.tmpl->id, item.hwnd);
}

void DialogUserSlide(DialogBox& box, DialogItem& item, int pos) {
    if (!IsTrackbar(item)) return;
    item.pos = WithinRange(item, pos);
    Changed(box, item);
    SendMessage(box.hwnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, static_cast<unsigned>(item.pos)),
                reinterpret_cast<LPARAM>(item.hwnd));
}

void DialogUserKey(DialogBox& box, WPARAM vk) {
    if (vk == VK_ESCAPE) {
        SendCommand(box, IDCANCEL, GetDlgItem(box.hwnd, IDCANCEL));
    } else if (vk == VK_RETURN) {
        for (DialogItem& item : box.items) {
            if (item.tmpl->className == kButtonClass && (item.tmpl->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                SendCommand(box, item.tmpl->id, item.hwnd);
                return;
            }
        }
        SendCommand(box, IDOK, GetDlgItem(box.hwnd, IDOK));
    }
}

void DialogUserClose(DialogBox& box) { SendMessage(box.hwnd, WM_CLOSE, 0, 0); }


