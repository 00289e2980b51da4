// Ids of the program's own resources, by which the program asks for them.
#pragma once

#include <string_view>

constexpr int kSaverIconId = 100;  // ResourceType::Icon: the 48 × 48 application icon
constexpr int kLogoPngId = 136;    // ResourceType::Png: the 125 × 78 logo of the settings dialog (8-bit palette)
constexpr int kStarPngId = 144;    // ResourceType::Png: the 11 × 10 rating star
constexpr int kBannerPngId = 150;  // ResourceType::Png: the 800 × 428 splash banner

// String 1: the saver's display name, for lists of installed savers.
constexpr int kDisplayNameStringId = 1;
inline constexpr std::string_view kDisplayName = "Kaleidra 1.4b2";

constexpr int kSettingsDialogId = 2003;  // the dialog template of the settings dialog
// Its controls.
constexpr int kBrowseButtonId = 1000;
constexpr int kMuteCheckId = 1001;
constexpr int kFolderTextId = 1002;
constexpr int kSubfoldersCheckId = 1003;
constexpr int kPlayCheckId = 1004;
constexpr int kVersionTextId = 1005;
constexpr int kBuildStampTextId = 1006;
constexpr int kIntervalSliderId = 1007;
constexpr int kIntervalTextId = 1008;
constexpr int kPicturesSliderId = 1009;
constexpr int kPicturesTextId = 1010;
constexpr int kHidePrivateCheckId = 1011;
constexpr int kRankingCheckId = 1012;
