#include "resources/dialogs.h"

#include "resources/resource_ids.h"

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPushButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kCheckBox = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kGroupBox = kChild | BS_GROUPBOX;
constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr DWORD kSlider = kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;
constexpr int kNoId = -1;

// In tab order. Texts that the dialog procedure replaces are placeholders.
constexpr DialogItemTemplate kSettingsItems[] = {
    {1, kButtonClass, "OK", 0, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 139, 244, 50, 14},
    {2, kButtonClass, "Cancel", 0, kPushButton, 211, 244, 50, 14},
    {kVersionTextId, kStaticClass, "Kaleidra 1.0d003", 0, kLabel, 93, 7, 123, 13},
    {kNoId, kStaticClass, "A collage of your pictures", 0, kLabel, 93, 17, 119, 11},
    {kNoId, kButtonClass, "Pictures && Video directory to display", 0, kGroupBox, 7, 57, 255, 42},
    {kFolderTextId, kStaticClass, "/home/user/Pictures/Holidays/Summer/Beach/Evening", 0,
     kChild | SS_LEFTNOWORDWRAP | WS_GROUP, 14, 65, 241, 16},
    {kBrowseButtonId, kButtonClass, "Browse...", 0, kPushButton, 11, 79, 50, 14},
    {kMuteCheckId, kButtonClass, "Mute", 0, kCheckBox, 57, 186, 33, 11},
    {kSubfoldersCheckId, kButtonClass, "Include subdirectories", 0, kCheckBox, 165, 81, 85, 10},
    {kNoId, kButtonClass, "Video Files", 0, kGroupBox, 7, 178, 255, 25},
    {kPlayCheckId, kButtonClass, "Play", 0, kCheckBox, 14, 186, 37, 10},
    {kBuildStampTextId, kStaticClass, "-", 0, kLabel, 13, 246, 121, 8},
    {kNoId, kButtonClass, "How often should graphic change?", 0, kGroupBox, 7, 130, 254, 39},
    {kIntervalSliderId, kTrackbarClass, "", 0, kSlider, 32, 146, 192, 11},
    {kNoId, kStaticClass, "Rapid", 0, kLabel, 10, 145, 28, 9},
    {kNoId, kStaticClass, "Slow", 0, kLabel, 225, 145, 26, 9},
    {kIntervalTextId, kStaticClass, "1 second", 0, kChild | SS_CENTER | WS_GROUP, 86, 157, 84, 10},
    {kPicturesSliderId, kTrackbarClass, "", 0, kSlider, 25, 218, 216, 15},
    {kPicturesTextId, kStaticClass, "1", 0, kLabel, 117, 230, 17, 8},
    {kNoId, kButtonClass, "Maximum Images per Screen", 0, kGroupBox, 8, 207, 254, 34},
    {kNoId, kStaticClass, "", kLogoPngId, kChild | SS_BITMAP, 7, 7, 83, 48},
    {kHidePrivateCheckId, kButtonClass, "Always skip files labeled \"private\"", 0, kCheckBox, 14, 113, 122, 10},
    {kRankingCheckId, kButtonClass, "Show high ranked files bigger and more often", 0, kCheckBox, 14, 100, 161, 10},
};

constexpr int kDefaultCharset = 1;

constexpr DialogTemplate kTemplates[] = {
    {kSettingsDialogId, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
     "Settings", "MS Shell Dlg", 8, 400, false, kDefaultCharset, 269, 265, kSettingsItems},
};

static_assert(kTemplates[0].style == 0x90C800C8);

}  // namespace

std::span<const DialogTemplate> DialogTemplates() { return kTemplates; }
