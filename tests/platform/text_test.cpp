#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

const std::string kEAcute = "\xC3\xA9";           // U+00E9, one unit
const std::string kEuro = "\xE2\x82\xAC";          // U+20AC, one unit
const std::string kClef = "\xF0\x9D\x84\x9E";      // U+1D11E, a surrogate pair

TEST(Utf16LengthTest, CountsUnitsOfEachCodePoint) {
    EXPECT_EQ(Utf16Length(""), 0u);
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length(kEAcute + kEuro), 2u);
    EXPECT_EQ(Utf16Length(kClef), 2u);
    EXPECT_EQ(Utf16Length("a" + kClef + "b"), 4u);
}

TEST(Utf16LengthTest, CountsEachMalformedByteAsOneUnit) {
    EXPECT_EQ(Utf16Length("\xFF\xFE"), 2u);
    EXPECT_EQ(Utf16Length("\xC3"), 1u);                 // truncated sequence
    EXPECT_EQ(Utf16Length("\xC0\xAF"), 2u);             // overlong '/'
    EXPECT_EQ(Utf16Length("\xED\xA0\x80"), 3u);         // encoded surrogate
    EXPECT_EQ(Utf16Length("\xF4\x90\x80\x80"), 4u);     // above U+10FFFF
    EXPECT_EQ(Utf16Length("\xE2\x82" "a"), 3u);         // sequence broken by ASCII
}

TEST(CutToUtf16UnitsTest, CutsOnlyAtCodePointBoundaries) {
    EXPECT_EQ(CutToUtf16Units("abcdef", 4), "abcd");
    EXPECT_EQ(CutToUtf16Units("abc", 10), "abc");
    EXPECT_EQ(CutToUtf16Units("abc", 0), "");
    EXPECT_EQ(CutToUtf16Units("ab" + kClef, 3), "ab");  // the pair does not fit in one unit
    EXPECT_EQ(CutToUtf16Units("ab" + kClef, 4), "ab" + kClef);
    EXPECT_EQ(CutToUtf16Units(kEuro + kEuro, 1), kEuro);
    EXPECT_EQ(CutToUtf16Units("a\xFF\xFE" "b", 2), "a\xFF");
}

TEST(CutToUtf16UnitsTest, ResultFitsTheLimit) {
    const std::string path = "/home/u/" + kEAcute + kClef + "\xFF" + kEuro + "/x";
    for (std::size_t limit = 0; limit <= Utf16Length(path); ++limit) {
        const std::string cut = CutToUtf16Units(path, limit);
        EXPECT_LE(Utf16Length(cut), limit);
        EXPECT_EQ(path.compare(0, cut.size(), cut), 0);
        EXPECT_GE(Utf16Length(cut) + 1, limit);  // at most a pair's second unit is lost
    }
}

TEST(EqualsIgnoringCaseTest, MatchesAcrossCase) {
    EXPECT_TRUE(EqualsIgnoringCase("Lines Of Metadata", "Lines of metadata"));
    EXPECT_TRUE(EqualsIgnoringCase("\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"));  // Été / éTÉ
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    EXPECT_FALSE(EqualsIgnoringCase("Timer", "Timers"));
    EXPECT_FALSE(EqualsIgnoringCase("Timer", "Tamer"));
}

TEST(EqualsIgnoringCaseTest, ComparesMalformedBytesExactly) {
    EXPECT_TRUE(EqualsIgnoringCase("a\xFF", "A\xFF"));
    EXPECT_FALSE(EqualsIgnoringCase("a\xFF", "a\xFE"));
    EXPECT_FALSE(EqualsIgnoringCase("\xC3", "\xC3\xA9"));
}

}  // namespace
