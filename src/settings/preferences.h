// The preferences: named string values under one key of the per-user store,
// numbers as their decimal text. Every reader passes its own default; a
// missing or unreadable value yields it. None of these operations fails
// towards its caller; failures go to the debug log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The key of all settings and of the scan's resume state. The trailing
// backslash names the same key as without it.
inline constexpr std::string_view settingsKeyPath = "Software\\Veltrane\\Lumivista\\";

// The order is fixed: the numbers are part of the behaviour.
enum class PreferenceId : int {
    PlayVideo = 0,
    MuteVideo = 1,
    IncludeSubdirectories = 2,
    ImagesPerScreen = 3,
    Timer = 4,
    LinesOfMetadata = 5,
    DebugOutput = 6,
    UseRankingForDisplay = 7,
    HideFilesLabeledPrivate = 8,
    Path = 9,
};

// The value name; "Default", with a log entry, for an identifier outside 0 to 9.
std::string_view EnumToPlatformKey(PreferenceId id);

// The leading decimal number of the value (blanks and a sign allowed, text
// after the digits ignored), limited to the signed 32-bit range; the default
// when the value is missing, longer than 19 UTF-16 units or not a number.
long ReadLongFromPreferences(PreferenceId id, long defaultValue);

// Reads the value into *buffer, whose size in bytes the caller gives. On
// failure *buffer keeps what it held and the status is logged.
void ReadStringFromPreferences(PreferenceId id, std::string* buffer, std::size_t bufferBytes);

// Stores the number, limited to the signed 32-bit range, as decimal text; a
// failure is logged.
void WriteLongToPreferences(PreferenceId id, long value);

// The debug-log switch, as the saver window handles it at creation before
// any other preference: read "DebugOutput", write it back so that a fresh
// store holds it for the user to edit, read it again and open the debug log
// when it is exactly 1.
void ApplyDebugOutputPreference();
