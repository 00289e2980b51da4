#include "diag/debug_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "platform/store_test_support.h"

namespace {

constexpr char kHeader[] = "Created ScreenSaverDebug.log\nKaleidra Screen Saver 1.4beta2\n";

class DebugLogTest : public ScratchStoreTest {
protected:
    void TearDown() override {
        CloseDebugLog();
        ScratchStoreTest::TearDown();
    }
    static bool Exists(const char* name) { return std::filesystem::exists(std::filesystem::symlink_status(name)); }
};

TEST_F(DebugLogTest, ClosedLogIgnoresEveryCall) {
    LogNumber(1);
    LogText("dropped\n");
    CloseDebugLog();
    EXPECT_TRUE(std::filesystem::is_empty(WorkDir()));
}

TEST_F(DebugLogTest, TakesTheLowestNumberFreeOfFinishedAndSpoolFiles) {
    WriteWhole(WorkDir() / "VeltraneSSDebug0.log", "old run\n");
    WriteWhole(WorkDir() / "VeltraneSSDebugSpool1.log", "interrupted run\n");

    OpenDebugLog();
    OpenDebugLog();  // already open: neither a second file nor a second header
    LogNumber(1);
    LogText("Begin WM_CREATE");
    LogText("\n");
    ASSERT_TRUE(Exists("VeltraneSSDebugSpool2.log"));
    EXPECT_FALSE(Exists("VeltraneSSDebugSpool3.log"));
    // Every write is flushed: the spool file holds it while the run goes on.
    EXPECT_EQ(ReadWhole("VeltraneSSDebugSpool2.log"), std::string(kHeader) + "0x1 Begin WM_CREATE\n");

    CloseDebugLog();
    LogText("after close\n");
    EXPECT_FALSE(Exists("VeltraneSSDebugSpool2.log"));
    EXPECT_EQ(ReadWhole("VeltraneSSDebug2.log"), std::string(kHeader) + "0x1 Begin WM_CREATE\n");
    EXPECT_EQ(ReadWhole("VeltraneSSDebug0.log"), "old run\n");
    EXPECT_EQ(ReadWhole("VeltraneSSDebugSpool1.log"), "interrupted run\n");
}

TEST_F(DebugLogTest, NumbersAsUnsigned32BitHexAndTextUnchanged) {
    OpenDebugLog();
    LogNumber(999);
    LogNumber(0);
    LogNumber(-1);
    LogNumber(0x80004005L);
    LogText("100%s done, %d%% of %n\n");
    CloseDebugLog();
    EXPECT_EQ(ReadWhole("VeltraneSSDebug0.log"),
              std::string(kHeader) + "0x3e7 0x0 0xffffffff 0x80004005 100%s done, %d%% of %n\n");
}

TEST_F(DebugLogTest, OnlyItsOwnerMayReadIt) {
    const mode_t usual = umask(022);
    OpenDebugLog();
    umask(usual);
    struct stat info;
    ASSERT_EQ(stat("VeltraneSSDebugSpool0.log", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(DebugLogTest, LinesFromOtherThreadsWaitForTheLineBegunToEnd) {
    OpenDebugLog();
    LogNumber(5);
    std::thread([] { LogLine("ALSA: no card"); }).join();
    LogText("Begin\n");
    LogLine("exempi: bad");
    CloseDebugLog();
    EXPECT_EQ(ReadWhole("VeltraneSSDebug0.log"), std::string(kHeader) + "0x5 Begin\nALSA: no card\nexempi: bad\n");
}

TEST_F(DebugLogTest, NeverWritesThroughALink) {
    WriteWhole(WorkDir() / "victim.txt", "precious\n");
    std::filesystem::create_symlink("victim.txt", "VeltraneSSDebugSpool0.log");
    std::filesystem::create_symlink("nowhere.txt", "VeltraneSSDebugSpool1.log");

    OpenDebugLog();
    LogText("trace\n");
    EXPECT_EQ(ReadWhole("victim.txt"), "precious\n");
    EXPECT_FALSE(Exists("nowhere.txt"));
    EXPECT_TRUE(Exists("VeltraneSSDebugSpool2.log"));
}

TEST_F(DebugLogTest, StaysClosedWhenTheFileCannotBeCreated) {
    const std::filesystem::path gone = WorkDir() / "gone";
    std::filesystem::create_directory(gone);
    std::filesystem::current_path(gone);
    std::filesystem::remove(gone);  // files can no longer be created here

    OpenDebugLog();
    LogText("dropped\n");
    CloseDebugLog();

    std::filesystem::current_path(WorkDir());
    OpenDebugLog();  // and a later attempt still works
    EXPECT_TRUE(Exists("VeltraneSSDebugSpool0.log"));
    EXPECT_EQ(ReadWhole("VeltraneSSDebugSpool0.log"), kHeader);
}

TEST_F(DebugLogTest, KeepsTheSpoolNameWhenTheFinalNameWasTakenMeanwhile) {
    OpenDebugLog();
    LogText("mine\n");
    WriteWhole(WorkDir() / "VeltraneSSDebug0.log", "theirs\n");
    CloseDebugLog();
    EXPECT_EQ(ReadWhole("VeltraneSSDebug0.log"), "theirs\n");
    EXPECT_EQ(ReadWhole("VeltraneSSDebugSpool0.log"), std::string(kHeader) + "mine\n");
}

}  // namespace
