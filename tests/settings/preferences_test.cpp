#include "settings/preferences.h"

#include <gtest/gtest.h>

#include <climits>

#include "diag/debug_log.h"
#include "platform/store.h"
#include "platform/store_test_support.h"

namespace {

class PreferencesTest : public ScratchStoreTest {
protected:
    void TearDown() override {
        CloseDebugLog();
        ScratchStoreTest::TearDown();
    }

    static void Store(std::string_view name, std::string_view text) {
        ASSERT_EQ(SHSetValue(settingsKeyPath, name, text), ERROR_SUCCESS);
    }

    static std::string Stored(std::string_view name) {
        std::string text = "<missing>";
        SHGetValue(settingsKeyPath, name, &text, 520);
        return text;
    }

    // The run's log so far, header lines left out.
    std::string LogBody() const {
        std::string log = ReadWhole(WorkDir() / "VeltraneSSDebugSpool0.log");
        for (int line = 0; line < 2; ++line) log.erase(0, log.find('\n') + 1);
        return log;
    }
};

TEST_F(PreferencesTest, FreshStoreHoldsExactlyDebugOutputZeroAfterCreation) {
    ApplyDebugOutputPreference();
    EXPECT_EQ(DumpStore(StoreFile()), "Software\\Veltrane\\Lumivista/DebugOutput=0\n");
    EXPECT_TRUE(std::filesystem::is_empty(WorkDir()));  // no log

    // The saver's defaults on that store.
    EXPECT_EQ(ReadLongFromPreferences(PreferenceId::ImagesPerScreen, 9), 9);
    EXPECT_EQ(ReadLongFromPreferences(PreferenceId::Timer, 1), 1);
}

TEST_F(PreferencesTest, DebugOutputOneOpensTheLogAndIsWrittenBackNormalised) {
    for (const char* text : {"1", "01", " +1"}) {
        Store("DebugOutput", text);
        ApplyDebugOutputPreference();
        EXPECT_TRUE(std::filesystem::exists(WorkDir() / "VeltraneSSDebugSpool0.log")) << text;
        EXPECT_EQ(Stored("DebugOutput"), "1");
        CloseDebugLog();
        std::filesystem::remove(WorkDir() / "VeltraneSSDebug0.log");
    }
    for (const char* text : {"2", "-1", "yes", "11"}) {
        Store("DebugOutput", text);
        ApplyDebugOutputPreference();
        EXPECT_TRUE(std::filesystem::is_empty(WorkDir())) << text;
    }
}

TEST_F(PreferencesTest, NumbersParseAsLeadingDecimalText) {
    const struct {
        const char* text;
        long expected;
    } cases[] = {
        {"9", 9},           {"12abc", 12},       {"  -7", -7},          {"+5", 5},
        {"\t42 ", 42},      {"0x10", 0},         {"abc", 77},           {"", 77},
        {"-", 77},          {" ", 77},           {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"0000000000000000019", 19},  // 19 characters still fit the 40-byte buffer
        {"00000000000000000019", 77},  // 20 do not
    };
    for (const auto& c : cases) {
        Store("Timer", c.text);
        EXPECT_EQ(ReadLongFromPreferences(PreferenceId::Timer, 77), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(ReadLongFromPreferences(PreferenceId::PlayVideo, 1), 1);  // missing
}

TEST_F(PreferencesTest, MetadataLinesWrittenUnderOtherCaseReadBack) {
    Store("Lines Of Metadata", "2");
    EXPECT_EQ(ReadLongFromPreferences(PreferenceId::LinesOfMetadata, 1), 2);
    WriteLongToPreferences(PreferenceId::LinesOfMetadata, 0);
    EXPECT_EQ(DumpStore(StoreFile()), "Software\\Veltrane\\Lumivista/Lines Of Metadata=0\n");
}

TEST_F(PreferencesTest, WritesDecimalTextWithin32Bits) {
    WriteLongToPreferences(PreferenceId::ImagesPerScreen, 16);
    WriteLongToPreferences(PreferenceId::Timer, -3);
    WriteLongToPreferences(PreferenceId::MuteVideo, LONG_MAX);
    EXPECT_EQ(Stored("ImagesPerScreen"), "16");
    EXPECT_EQ(Stored("Timer"), "-3");
    EXPECT_EQ(Stored("Mute Video"), "2147483647");
}

TEST_F(PreferencesTest, FailuresGoToTheLog) {
    OpenDebugLog();
    EXPECT_EQ(EnumToPlatformKey(static_cast<PreferenceId>(10)), "Default");
    EXPECT_EQ(EnumToPlatformKey(static_cast<PreferenceId>(-1)), "Default");
    EXPECT_EQ(LogBody(), "0x3e7 EnumToPlatformKey default reached!!!\n"
                         "0x3e7 EnumToPlatformKey default reached!!!\n");
    EXPECT_EQ(ReadLongFromPreferences(static_cast<PreferenceId>(12), 5), 5);

    // A store that cannot be written: its folder is a file.
    WriteWhole(StoreDir(), "in the way");
    WriteLongToPreferences(PreferenceId::Timer, 3);
    const std::string expected = "0x3e7 EnumToPlatformKey default reached!!!\n";
    EXPECT_EQ(LogBody(), expected + expected + expected + "0x1d SHSetValue WriteLongToPreferences\n");
}

TEST_F(PreferencesTest, StringReadsLeaveTheBufferAloneOnFailure) {
    OpenDebugLog();
    std::string path;
    ReadStringFromPreferences(PreferenceId::Path, &path, 256);
    EXPECT_EQ(path, "");
    Store("Path", "/home/u/Pictures");
    ReadStringFromPreferences(PreferenceId::Path, &path, 256);
    EXPECT_EQ(path, "/home/u/Pictures");

    Store("Path", "/" + std::string(127, 'p'));  // 128 units and a terminator exceed 256 bytes
    ReadStringFromPreferences(PreferenceId::Path, &path, 256);
    EXPECT_EQ(path, "/home/u/Pictures");
    EXPECT_EQ(LogBody(), "0x2 \n0xea \n");
}

}  // namespace
