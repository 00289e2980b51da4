// The walk over real folder trees made by the tests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "metadata/quadrant_menu.h"
#include "metadata/xmp_metadata.h"
#include "platform/headless/headless.h"
#include "walk_fixture.h"

namespace {

std::set<std::string> AsSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

TEST_F(WalkTest, ShortNamesHiddenEntriesAndBreadthFirstOrder) {
    Picture(top / "a.jpg");        // five characters: shown
    Picture(top / "b.j");          // three: never examined
    Picture(top / ".secret.png");  // hidden
    Picture(top / "abc/deep.png");          // a three-letter folder is never entered
    Picture(top / ".hidden/inside.png");    // nor is a hidden one
    Picture(top / "2019/first.png");
    Picture(top / "2019/2020/second.png");  // found in 2019, queued behind "Late"
    Picture(top / "Late/third.png");
    std::string trace = TraceOf([&] {
        std::vector<std::string> shown = Pass();
        ASSERT_EQ(shown.size(), 4u);
        EXPECT_EQ(shown[0], "a.jpg");
        EXPECT_EQ(AsSet({shown[1], shown[2]}), (std::set<std::string>{"2019/first.png", "Late/third.png"}));
        EXPECT_EQ(shown[3], "2019/2020/second.png") << "a folder's subfolders come after every folder queued before";
    });
    EXPECT_NE(trace.find(" has child dir 2019\n"), std::string::npos);
    EXPECT_EQ(trace.find("has child dir .hidden"), std::string::npos) << "hidden folders are not even logged";
    EXPECT_EQ(trace.find("b.j\n"), std::string::npos) << "short names are not examined";
    EXPECT_EQ(trace.find("has child dir abc"), std::string::npos);
}

TEST_F(WalkTest, WithoutSubdirectoriesFoldersAreLoggedNotEnteredAndTheWalkStartsOver) {
    includeSubdirectories = false;
    Picture(top / "only.png");
    Picture(top / "Sub1/never.png");
    std::string trace = TraceOf([&] {
        EXPECT_EQ(Pass(), (std::vector<std::string>{"only.png"}));
        EXPECT_EQ(Step(), "only.png") << "the next step starts over at the top folder";
    });
    EXPECT_NE(trace.find(" has child dir Sub1\n"), std::string::npos);
}

TEST_F(WalkTest, VideoSuffixesAreCaseSensitiveAndVideosFollowTheSettings) {
    Picture(top / "clip.Avi");  // not a video suffix: a picture candidate
    Picture(top / "clip.avi");  // a video: never handed to the picture loader
    EXPECT_TRUE(IsVideoName("/x/a.MPEG"));
    EXPECT_FALSE(IsVideoName("/x/a.Mpeg"));
    for (auto [play, small] : {std::pair{false, false}, {true, true}}) {
        playVideo = play;
        gSmallWindow = small;
        ResetWalk();
        videoStartedThisTick = false;
        EXPECT_EQ(Pass(), std::vector<std::string>{"clip.Avi"}) << play << small;
        EXPECT_FALSE(videoStartedThisTick) << "no video in a small window or with video off";
        EXPECT_FALSE(q.video.IsMediaOpen());
    }
    // With video on, the ".avi" file is started in the quadrant and the walk stops there.
    playVideo = true;
    gSmallWindow = false;
    ResetWalk();
    bool started = false;
    for (int i = 0; i < 3 && !started; ++i) {
        Step();
        started = videoStartedThisTick;
    }
    EXPECT_TRUE(started);
    EXPECT_TRUE(q.video.IsMediaOpen());
    EXPECT_EQ(fs::path(q.path).filename(), "clip.avi");
    q.path.clear();
    ScreenSaverTimer(hwnd, &q);
    EXPECT_TRUE(q.path.empty()) << "a quadrant playing a video is left alone";
    q.video.CloseDynamicMedia();
    videoStartedThisTick = false;
}

TEST_F(WalkTest, EditableOnlyForTheJpegAndTiffSpellings) {
    Picture(top / "one.jpg");
    Picture(top / "two.Jpg");
    Picture(top / "three.TIFF");
    Picture(top / "fourJPG");
    std::map<std::string, bool> editable;
    for (int i = 0; i < 4; ++i) {
        std::string shown = Step();
        editable[shown] = q.editable;
    }
    EXPECT_EQ(editable, (std::map<std::string, bool>{
                            {"one.jpg", true}, {"two.Jpg", false}, {"three.TIFF", true}, {"fourJPG", true}}));
}

TEST_F(WalkTest, LastEntryStepReturnsNothingAndTheNextStartsOver) {
    // The last folder holds no picture, so whatever the directory order, its
    // last entry is not one and the picture is found again only from the top.
    Picture(top / "solo.png");
    Text(top / "Last/notes.txt");
    EXPECT_EQ(Step(), "solo.png");
    EXPECT_EQ(Step(), "") << "the end of the tree is a step of its own";
    EXPECT_EQ(Step(), "solo.png") << "the step after it reopens the top folder";
}

// A menu left open on the shown picture, its rating and its label must not
// outlive it: the band, the frame and the menu would describe another file.
TEST_F(WalkTest, ANewPictureComesWithItsOwnRecordAndClosedMenu) {
    hideFilesLabeledPrivate = false;
    RatedJpeg(top / "rated.jpg", 4, true);
    Picture(top / "Next/plain.png");
    ASSERT_EQ(Step(), "rated.jpg");
    ASSERT_EQ(q.info.rating, 4);
    ASSERT_TRUE(q.info.isPrivate);
    ASSERT_TRUE(q.editable);
    q.menuOpen = true;

    ScreenSaverTimer(hwnd, &q);
    EXPECT_EQ(fs::path(q.path).filename(), "plain.png");
    EXPECT_EQ(q.info.rating, 0);
    EXPECT_FALSE(q.info.isPrivate);
    EXPECT_FALSE(q.editable);
    EXPECT_FALSE(q.menuOpen);
}

TEST_F(WalkTest, AStartedVideoTakesTheQuadrantFromThePicture) {
    hideFilesLabeledPrivate = false;
    RatedJpeg(top / "rated.jpg", 4, true);
    Picture(top / "Next/clip.avi");
    ASSERT_EQ(Step(), "rated.jpg");
    q.menuOpen = true;

    videoStartedThisTick = false;
    ScreenSaverTimer(hwnd, &q);
    ASSERT_TRUE(videoStartedThisTick);
    EXPECT_EQ(fs::path(q.path).filename(), "clip.avi");
    EXPECT_FALSE(q.picture.HasPicture());
    EXPECT_EQ(q.info.rating, 0);
    EXPECT_FALSE(q.info.isPrivate);
    EXPECT_FALSE(q.editable);
    EXPECT_FALSE(q.menuOpen);
    q.video.CloseDynamicMedia();
    videoStartedThisTick = false;
}

TEST_F(WalkTest, MissingPathFallsBackToTheDocumentsFolderAndStoresIt) {
    ASSERT_EQ(SHDeleteValue(settingsKeyPath, "Path"), ERROR_SUCCESS);
    Step();
    std::string stored;
    ASSERT_EQ(SHGetValue(settingsKeyPath, "Path", &stored, 520), ERROR_SUCCESS);
    EXPECT_TRUE(fs::is_directory(stored)) << stored;
    EXPECT_EQ(stored, CurrentFolder);
}

TEST_F(WalkTest, SymbolicLinkLoopAndAPipeNamedLikeAPictureDoNotBlock) {
    Picture(top / "Album/real.png");
    ASSERT_EQ(symlink("..", (top / "Album/back").c_str()), 0);
    ASSERT_EQ(symlink(top.c_str(), (top / "Album/loop").c_str()), 0);
    ASSERT_EQ(mkfifo((top / "x.jpg").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/nonexistent/target", (top / "dangling.png").c_str()), 0);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Pass(), (std::vector<std::string>{"Album/real.png"}));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
}

TEST_F(WalkTest, LeftoversOfAKilledWriteGoWhenTheWalkPasses) {
    Picture(top / "shown.png");
    WriteWhole(top / ".kaleidra-a1B2c3.jpg", "a killed write's copy");
    EXPECT_EQ(Pass(), (std::vector<std::string>{"shown.png"}));
    EXPECT_FALSE(fs::exists(top / ".kaleidra-a1B2c3.jpg"));
}

TEST_F(WalkTest, UnopenableQueuedFolderIsPassedOver) {
    Picture(top / "Gone/a1.png");
    Picture(top / "Kept/b1.png");
    includeSubdirectories = true;
    // Queue both, then take one away before the walk reaches it.
    Picture(top / "first.png");
    ASSERT_EQ(Step(), "first.png");
    fs::remove_all(top / "Gone");
    EXPECT_EQ(Step(), "Kept/b1.png");
}

// A step that passes a folder, a video it may not play and a hidden file
// finds nothing: the quadrant keeps its picture, and the menu acts on it.
TEST_F(WalkTest, AStepThatFindsNothingLeavesTheShownPictureInCharge) {
    playVideo = false;
    const fs::path shown = top / "shown.jpg";
    ASSERT_EQ(std::system(("convert -size 64x48 xc:tomato '" + shown.string() + "'").c_str()), 0);
    fs::create_directories(top / "Clips");
    WriteWhole(top / "movie.avi", "RIFF....AVI LIST");
    Picture(top / ".hidden.png");
    ASSERT_EQ(Step(), "shown.jpg");
    ScreenSaverTimer(hwnd, &q);  // the rest of the tree: nothing to show
    ASSERT_TRUE(q.picture.HasPicture());
    EXPECT_EQ(q.path, shown.string());
    EXPECT_TRUE(q.editable);

    std::string menuPath;
    headless::OnMenu([&](const std::vector<MenuItem>& items, Point) {
        menuPath = items.at(1).text;
        return static_cast<UINT>(kNoRanking + 4);
    });
    ShowQuadrantMenu(hwnd, &q, 10, 10);
    headless::OnMenu(nullptr);
    TerminateXmpToolkit();
    EXPECT_EQ(menuPath, shown.string());
    EXPECT_EQ(ReadWhole(top / "movie.avi"), "RIFF....AVI LIST");
    PictureMetadata written;
    ScanFileForMetadata(shown.string(), written);
    EXPECT_EQ(written.rating, 4);
}

}  // namespace
