// UTF-8 text measured the way the program's limits are given: in UTF-16
// units. Text is byte-exact: bytes that are not well-formed UTF-8 are kept
// and count as one unit each, as a lossless UTF-16 round trip would need.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The code point at the start of text and the bytes it takes; length 0 when
// the first byte does not begin a well-formed sequence (overlong forms,
// surrogates and values above U+10FFFF are not well-formed).
struct Utf8Step {
    char32_t codePoint = 0;
    std::size_t length = 0;
};
Utf8Step DecodeUtf8(std::string_view text);

// UTF-16 units the text takes, without a terminator.
std::size_t Utf16Length(std::string_view text);

// The longest prefix that takes at most maxUnits UTF-16 units, never ending
// inside a code point.
std::string CutToUtf16Units(std::string_view text, std::size_t maxUnits);

// Equal when the code points match after mapping each to upper case, the way
// the registry compares names. Malformed bytes compare as they are.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
