// The per-user store: registry-style keys holding string values, kept in one
// INI file, $XDG_CONFIG_HOME/kaleidra/registry.ini (default
// ~/.config/kaleidra/registry.ini). Each key path is one group, written
// without its trailing backslash; subkeys are the groups below it.
//
// Value names, and the components of key paths, compare without regard to
// case; a value keeps the spelling it was first stored under. Values are
// byte-exact: text that is not UTF-8 survives a round trip.
//
// Every change is a read-modify-write under an advisory lock, written to a
// temporary file, flushed to disk and renamed over the store, so concurrent
// processes never lose each other's writes and a crash never leaves a torn
// file.
//
// A hand-edited file is read leniently: a line that does not parse is skipped
// and named once on stderr, and a name set twice in a key means its first
// value, the one a write then replaces. Before the store first rewrites a
// file it had to repair, it keeps the original as registry.ini.orig-TIME.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Status codes, with the registry's numbers.
constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_WRITE_FAULT = 29;
constexpr long ERROR_READ_FAULT = 30;
constexpr long ERROR_INVALID_PARAMETER = 87;
constexpr long ERROR_MORE_DATA = 234;

// How a reader's buffer counts characters: UTF-16 units of two bytes each
// (the wide calls), or one byte each (the 8-bit calls). Both count a
// terminator.
enum class StoreChars { Utf16, Narrow };

// Reads the string value into *out. ERROR_FILE_NOT_FOUND when the key or the
// value is missing; ERROR_MORE_DATA when the value and its terminator do not
// fit in bufferBytes. *out changes only on success.
long SHGetValue(std::string_view keyPath, std::string_view valueName, std::string* out,
                std::size_t bufferBytes, StoreChars chars = StoreChars::Utf16);

// Stores the string value, creating the key. ERROR_INVALID_PARAMETER for an
// empty value name or a name the file cannot hold ('=', '[', ']', control
// characters, blanks at either end, malformed UTF-8).
long SHSetValue(std::string_view keyPath, std::string_view valueName, std::string_view data);

// Deletes the key with all its values and subkeys.
long SHDeleteKey(std::string_view keyPath);

// Deletes one value of the key.
long SHDeleteValue(std::string_view keyPath, std::string_view valueName);

// The location of the store file, as the operations above use it.
std::string StoreFilePath();
