#include "settings/preferences.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "diag/debug_log.h"
#include "platform/store.h"

namespace {

// 20 UTF-16 units with the terminator.
constexpr std::size_t kNumberBufferBytes = 40;

long ClampToInt32(long value) {
    constexpr long lowest = std::numeric_limits<std::int32_t>::min();
    constexpr long highest = std::numeric_limits<std::int32_t>::max();
    return value < lowest ? lowest : value > highest ? highest : value;
}

}  // namespace

std::string_view EnumToPlatformKey(PreferenceId id) {
    switch (id) {
        case PreferenceId::PlayVideo: return "Play Video";
        case PreferenceId::MuteVideo: return "Mute Video";
        case PreferenceId::IncludeSubdirectories: return "Include Subdirectories";
        case PreferenceId::ImagesPerScreen: return "ImagesPerScreen";
        case PreferenceId::Timer: return "Timer";
        case PreferenceId::LinesOfMetadata: return "Lines of metadata";
        case PreferenceId::DebugOutput: return "DebugOutput";
        case PreferenceId::UseRankingForDisplay: return "UseRankingForDisplay";
        case PreferenceId::HideFilesLabeledPrivate: return "HideFilesLabeledPrivate";
        case PreferenceId::Path: return "Path";
    }
    LogNumber(999);
    LogText("EnumToPlatformKey default reached!!!");
    LogText("\n");
    return "Default";
}

long ReadLongFromPreferences(PreferenceId id, long defaultValue) {
    std::string text;
    if (SHGetValue(settingsKeyPath, EnumToPlatformKey(id), &text, kNumberBufferBytes) != ERROR_SUCCESS) {
        return defaultValue;
    }
    // strtol reads as "%ld" does: blanks, a sign, digits, and stops at the
    // first other character (an embedded NUL ends the text, as it would).
    const char* start = text.c_str();
    char* end = nullptr;
    const long value = std::strtol(start, &end, 10);
    if (end == start) return defaultValue;
    // Out of range saturates rather than wrapping into a surprising value.
    return ClampToInt32(value);
}

void ReadStringFromPreferences(PreferenceId id, std::string* buffer, std::size_t bufferBytes) {
    const long status = SHGetValue(settingsKeyPath, EnumToPlatformKey(id), buffer, bufferBytes);
    if (status != ERROR_SUCCESS) {
        LogNumber(status);
        LogText("\n");
    }
}

void WriteLongToPreferences(PreferenceId id, long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%ld", ClampToInt32(value));
    const long status = SHSetValue(settingsKeyPath, EnumToPlatformKey(id), text);
    if (status != ERROR_SUCCESS) {
        LogNumber(status);
        LogText("SHSetValue WriteLongToPreferences");
        LogText("\n");
    }
}

void ApplyDebugOutputPreference() {
    WriteLongToPreferences(PreferenceId::DebugOutput, ReadLongFromPreferences(PreferenceId::DebugOutput, 0));
    if (ReadLongFromPreferences(PreferenceId::DebugOutput, 0) == 1) OpenDebugLog();
}
