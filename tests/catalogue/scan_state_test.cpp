// The stored walk: written at the end of a run, resumed once at the next.
#include <gtest/gtest.h>

#include "walk_fixture.h"

namespace {

const std::string kQueue = std::string(settingsKeyPath) + "Queue";

std::string Stored(std::string_view key, const std::string& name) {
    std::string value;
    return SHGetValue(key, name, &value, 520, StoreChars::Narrow) == ERROR_SUCCESS ? value : "<none>";
}

class ScanStateTest : public WalkTest {
protected:
    void Store(const std::vector<std::string>& queue, const std::string& index) {
        for (std::size_t n = 0; n < queue.size(); ++n)
            ASSERT_EQ(SHSetValue(kQueue, std::to_string(n), queue[n]), ERROR_SUCCESS);
        ASSERT_EQ(SHSetValue(settingsKeyPath, "QIndex", index), ERROR_SUCCESS);
    }
    // A new run: the walk state is fresh and the graphics machinery up again.
    void NewRun() {
        ResetWalk();
        StartGdiplus();
    }
    bool StateGone() { return Stored(kQueue, "0") == "<none>" && Stored(settingsKeyPath, "QIndex") == "<none>"; }
};

TEST_F(ScanStateTest, RunStoppedInItsThirdQueuedFolderResumesAtTheNextEntry) {
    Picture(top / "top.png");
    for (const char* folder : {"Aaaa", "Bbbb", "Cccc"}) {
        Picture(top / folder / "one.png");
        Picture(top / folder / "two.png");
    }
    Picture(top / "Cccc/three.png");
    Picture(top / "Cccc/Dddd/four.png");
    std::vector<std::string> uninterrupted;
    for (int i = 0; i < 9; ++i) uninterrupted.push_back(Step());

    NewRun();
    std::vector<std::string> before;
    for (int i = 0; i < 6; ++i) before.push_back(Step());
    ASSERT_EQ(fs::path(CurrentFolder).parent_path(), top);
    ASSERT_TRUE(FolderQueue->empty() || FolderQueue->size() == 1) << "inside the last folder queued by the top";
    std::vector<std::string> queued(FolderQueue->begin(), FolderQueue->end());
    std::string folder = CurrentFolder;
    long position = SearchPosition;
    SaveScanState(hwnd);
    EXPECT_EQ(gFindFileHandle, nullptr);
    EXPECT_EQ(FolderQueue, nullptr);
    EXPECT_EQ(Stored(kQueue, "0"), folder);
    EXPECT_EQ(Stored(settingsKeyPath, "QIndex"), std::to_string(position));
    for (std::size_t n = 0; n < queued.size(); ++n) EXPECT_EQ(Stored(kQueue, std::to_string(n + 1)), queued[n]);

    NewRun();
    SetPath(WorkDir());  // a loaded walk does not consult "Path"
    EXPECT_EQ(Step(), uninterrupted[6]);
    EXPECT_TRUE(StateGone()) << "the stored walk is used once";
    EXPECT_EQ(Step(), uninterrupted[7]);
}

TEST_F(ScanStateTest, IllegalEntriesAreDroppedOneByOne) {
    fs::create_directories(top / "Aaaa");
    fs::create_directories(top / "Bbbb");
    Store({top.string(), (top / "Aaaa").string(), "", (top / "Bbbb").string(), "\\\\server\\share"}, "1");
    std::string trace = TraceOf([&] {
        std::string folder;
        long position = -1;
        ASSERT_TRUE(ReadScanResumeState(&folder, &position));
        EXPECT_EQ(folder, top.string());
        EXPECT_EQ(position, 1);
        EXPECT_EQ(std::vector<std::string>(FolderQueue->begin(), FolderQueue->end()),
                  (std::vector<std::string>{(top / "Aaaa").string(), (top / "Bbbb").string()}));
    });
    EXPECT_NE(trace.find("Read illegal queue entry:\n"), std::string::npos);
    EXPECT_NE(trace.find("Read illegal queue entry:\\\\server\\share\n"), std::string::npos);
    EXPECT_TRUE(StateGone());
}

TEST_F(ScanStateTest, UnusableStatesAreDeletedAndTheWalkStartsAtPath) {
    Picture(top / "top.png");
    Picture(top / "Old/old.png");
    struct Case {
        std::vector<std::string> queue;
        const char* index;
        bool loads;
    };
    const Case cases[] = {
        {{"\\\\server\\share"}, "3", false},        // network path
        {{""}, "0", false},                         // a run closed before its first tick
        {{(top / "Old").string()}, nullptr, false}, // no QIndex
        {{(top / "Old").string()}, "abc", true},    // non-numeric index: the folder's first entry
    };
    for (const Case& c : cases) {
        NewRun();
        for (std::size_t n = 0; n < c.queue.size(); ++n) ASSERT_EQ(SHSetValue(kQueue, std::to_string(n), c.queue[n]), ERROR_SUCCESS);
        if (c.index) {
            ASSERT_EQ(SHSetValue(settingsKeyPath, "QIndex", c.index), ERROR_SUCCESS);
        }
        StartScan();
        EXPECT_EQ(CurrentFolder, c.loads ? (top / "Old").string() : top.string()) << c.queue[0];
        EXPECT_EQ(SearchPosition, 1);
        EXPECT_TRUE(StateGone());
    }
}

TEST_F(ScanStateTest, StoredPositionPastTheEndStopsAtTheLastEntry) {
    Picture(top / "Old/only.png");
    Store({(top / "Old").string()}, "9999");
    StartScan();
    EXPECT_EQ(SearchPosition, 3) << "\".\", \"..\" and the picture";
}

TEST_F(ScanStateTest, SavingSkipsIllegalQueuedFoldersWithoutAGap) {
    CurrentFolder = top.string();
    SearchPosition = 4;
    *FolderQueue = {"/a/b", "", "\\\\srv\\x", "/c/d"};
    std::string trace = TraceOf([&] { SaveScanState(hwnd); });
    EXPECT_EQ(Stored(kQueue, "1"), "/a/b");
    EXPECT_EQ(Stored(kQueue, "2"), "/c/d");
    EXPECT_EQ(Stored(kQueue, "3"), "<none>");
    EXPECT_EQ(Stored(settingsKeyPath, "QIndex"), "4");
    EXPECT_NE(trace.find("Output to Software\\Veltrane\\Lumivista\\Queue\\\n/a/b\n*** Atempted to output:\n"
                         "*** Atempted to output:\\\\srv\\x\n/c/d\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("0x0 WM_DESTROY called\n\n"), std::string::npos) << "the log closes last";
}

}  // namespace
