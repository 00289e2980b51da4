#include "settings/settings_dialog.h"

#include <cstdio>
#include <string>

#include "catalogue/scan_state.h"
#include "diag/debug_log.h"
#include "platform/paths.h"
#include "platform/store.h"
#include "platform/text.h"
#include "resources/resource_ids.h"
#include "settings/preferences.h"

bool folderChanged = false;

namespace {

constexpr std::string_view kVersionLine = "Kaleidra Screen Saver 1.4beta2";
constexpr std::string_view kBuildStamp = "Sun Oct 22 20:02:26 2006";


// ImagesPerScreen by slider position.
constexpr long kPicturesPerScreen[] = {1, 2, 4, 6, 9, 12, 16, 24, 30, 36, 42};
constexpr int kLastPicturesPosition = static_cast<int>(std::size(kPicturesPerScreen)) - 1;
constexpr int kLongestInterval = 60;  // seconds, the interval slider's right end

struct CheckBoxPreference {
    int control;
    PreferenceId id;
    long shownByDefault;
};

// The order in which they are read when the dialog opens...
constexpr CheckBoxPreference kCheckBoxesRead[] = {
    {kRankingCheckId, PreferenceId::UseRankingForDisplay, 1},
    {kHidePrivateCheckId, PreferenceId::HideFilesLabeledPrivate, 1},
    {kPlayCheckId, PreferenceId::PlayVideo, 1},
    {kMuteCheckId, PreferenceId::MuteVideo, 0},
    {kSubfoldersCheckId, PreferenceId::IncludeSubdirectories, 1},
};
// ...and stored at OK.
constexpr CheckBoxPreference kCheckBoxesWritten[] = {
    kCheckBoxesRead[0], kCheckBoxesRead[1], kCheckBoxesRead[3], kCheckBoxesRead[2], kCheckBoxesRead[4],
};

std::string IntervalText(long seconds) {
    if (seconds == 0) return "Less than 1 second";
    if (seconds == 1) return "1 second";
    char text[128];
    std::snprintf(text, sizeof text, "%ld seconds", seconds);
    return text;
}

// Null for a position outside the table.
const long* PicturesAt(LRESULT pos) {
    return pos >= 0 && pos <= kLastPicturesPosition ? &kPicturesPerScreen[pos] : nullptr;
}

// The slider position showing `count`; 0 for a count the table lacks.
int PicturesPosition(long count) {
    for (int pos = 1; pos <= kLastPicturesPosition; ++pos)
        if (kPicturesPerScreen[pos] == count) return pos;
    return 0;
}

void PrepareSlider(HWND slider, int rangeMax) {
    SendMessage(slider, TBM_SETRANGEMIN, false, 0);
    SendMessage(slider, TBM_SETRANGEMAX, false, rangeMax);
}

void InitDialog(HWND dialog) {
    for (const auto& box : kCheckBoxesRead) {
        bool on = ReadLongFromPreferences(box.id, box.shownByDefault) == 1;
        CheckDlgButton(dialog, box.control, on ? BST_CHECKED : BST_UNCHECKED);
    }
    SetDlgItemText(dialog, kVersionTextId, kVersionLine);
    SetDlgItemText(dialog, kBuildStampTextId, kBuildStamp);

    std::string path;
    long status = SHGetValue(settingsKeyPath, EnumToPlatformKey(PreferenceId::Path), &path, kPathBufferBytes);
    LogEntry(status, "WM_INITDIALOG SHGetValue");
    LogEntry(0, path);
    bool shown = SetDlgItemText(dialog, kFolderTextId, path);
    LogEntry(shown ? 0 : ERROR_CONTROL_ID_NOT_FOUND, "WM_INITDIALOG SetDlgItemText");

    if (HWND slider = GetDlgItem(dialog, kPicturesSliderId)) {
        PrepareSlider(slider, kLastPicturesPosition);
        long count = ReadLongFromPreferences(PreferenceId::ImagesPerScreen, 1);
        SetDlgItemInt(dialog, kPicturesTextId, static_cast<UINT>(count), false);
        int pos = PicturesPosition(count);
        if (pos == 0) SetDlgItemText(dialog, kPicturesTextId, "1");
        SendMessage(slider, TBM_SETPOS, true, pos);
    }
    if (HWND slider = GetDlgItem(dialog, kIntervalSliderId)) {
        PrepareSlider(slider, kLongestInterval);
        long seconds = ReadLongFromPreferences(PreferenceId::Timer, 5);
        SendMessage(slider, TBM_SETPOS, true, seconds);
        // The read-out tells the stored number even where the slider cannot go.
        SetDlgItemText(dialog, kIntervalTextId, IntervalText(seconds));
    }
}

void SliderMoved(HWND dialog, HWND slider) {
    // A scroll message from anything but the two sliders changes nothing.
    if (!slider) return;
    if (slider == GetDlgItem(dialog, kPicturesSliderId)) {
        if (const long* count = PicturesAt(SendMessage(slider, TBM_GETPOS, 0, 0)))
            SetDlgItemInt(dialog, kPicturesTextId, static_cast<UINT>(*count), true);
    } else if (slider == GetDlgItem(dialog, kIntervalSliderId)) {
        LRESULT seconds = SendMessage(slider, TBM_GETPOS, 0, 0);
        if (seconds >= 0) SetDlgItemText(dialog, kIntervalTextId, IntervalText(static_cast<long>(seconds)));
    }
}

void Browse(HWND dialog) {
    BROWSEINFO info;
    info.hwndOwner = dialog;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
    std::string name;
    if (!SHBrowseForFolder(info, &name)) return;
    // A path that the folder line cannot hold would be stored cut, naming
    // another folder: such a choice does not count.
    if (Utf16Length(name) >= kPathChars) {
        LogEntry(0, "Browse: folder path too long");
        return;
    }
    folderChanged = true;
    LogEntry(0, name);
    // Names beginning with ':' are not folders of the file system.
    if (!name.starts_with(':')) SetDlgItemText(dialog, kFolderTextId, name);
}

void StoreSettings(HWND dialog) {
    if (folderChanged) {
        LogEntry(0, "IDOK");
        std::string path;
        GetDlgItemText(dialog, kFolderTextId, &path, static_cast<int>(kPathChars));
        long status = SHSetValue(settingsKeyPath, EnumToPlatformKey(PreferenceId::Path), path);
        LogEntry(status, "IDOK SHSetValue");
        LogEntry(0, path);
        DeleteScanState();  // the stored walk belongs to the old folder
    }
    for (const auto& box : kCheckBoxesWritten)
        WriteLongToPreferences(box.id, IsDlgButtonChecked(dialog, box.control) == BST_CHECKED ? 1 : 0);
    if (HWND slider = GetDlgItem(dialog, kIntervalSliderId))
        WriteLongToPreferences(PreferenceId::Timer, static_cast<long>(SendMessage(slider, TBM_GETPOS, 0, 0)));
    if (HWND slider = GetDlgItem(dialog, kPicturesSliderId)) {
        if (const long* count = PicturesAt(SendMessage(slider, TBM_GETPOS, 0, 0)))
            WriteLongToPreferences(PreferenceId::ImagesPerScreen, *count);
    }
}

}  // namespace

INT_PTR SettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return 0;
    case WM_HSCROLL:
        SliderMoved(dialog, reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kBrowseButtonId:
            Browse(dialog);
            return 0;
        case IDOK:
            StoreSettings(dialog);
            EndDialog(dialog, 1);
            return 1;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return 1;
        default:
            return 0;
        }
    default:
        return 0;
    }
}
