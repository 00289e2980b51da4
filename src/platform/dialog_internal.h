// The dialogs' own records, shared by dialog.cpp and the displays that show
// them. The records hold every control's state; a display mirrors it and
// reports what the user does through the DialogUser* calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/modal_loop.h"

struct DialogItem {
    const DialogItemTemplate* tmpl = nullptr;
    HWND hwnd = nullptr;
    std::string text;
    bool checked = false;
    int rangeMin = 0, rangeMax = 100, pos = 0;  // a trackbar's, as a fresh one has them
};

class DialogView;

struct DialogBox {
    const DialogTemplate* tmpl = nullptr;
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    DLGPROC proc = nullptr;
    std::vector<DialogItem> items;  // template order
    std::unique_ptr<DialogView> view;
    bool ended = false;
    INT_PTR result = 0;
};

// What a display shows of one dialog.
class DialogView {
public:
    virtual ~DialogView() = default;
    // After WM_INITDIALOG: shows the dialog; `focus` is the control to take
    // the keyboard focus, or null.
    virtual void Show(const DialogItem* focus) = 0;
    // The item's text, check mark, range or position changed.
    virtual void Update(const DialogItem& item) = 0;
    // The folder browser over this dialog; runs modally.
    virtual bool ChooseFolder(const std::string& title, std::string* path) = 0;
};

// Null when the display cannot show the dialog.
std::unique_ptr<DialogView> CreateGtkDialogView(DialogBox& box);
std::unique_ptr<DialogView> CreateHeadlessDialogView(DialogBox& box);

// The innermost open dialog, null when none is open.
DialogBox* TopDialog();
DialogItem* FindDialogItem(DialogBox& box, int id);

// What the user does, as either display reports it.
// A push button pressed, or a check box toggled: WM_COMMAND to the procedure.
void DialogUserClick(DialogBox& box, DialogItem& item);
// A trackbar dragged to `pos` (kept within its range): WM_HSCROLL.
void DialogUserSlide(DialogBox& box, DialogItem& item, int pos);
// Enter presses the default button, Esc cancels.
void DialogUserKey(DialogBox& box, WPARAM vk);
// The window's close button: WM_CLOSE, which a procedure that does not
// handle it turns into Cancel.
void DialogUserClose(DialogBox& box);


