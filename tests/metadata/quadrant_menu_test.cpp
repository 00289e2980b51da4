// The quadrant menu on the offscreen display, writing into real JPEG files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "metadata/quadrant_menu.h"
#include "metadata/xmp_metadata.h"
#include "platform/headless_window_test_support.h"

namespace {

namespace fs = std::filesystem;

// What exiftool, an independent reader, finds in the file.
std::string Exif(const fs::path& file, const char* tag) {
    std::string command = std::string("exiftool -s3 -n -") + tag + " '" + file.string() + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (pipe) pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

class QuadrantMenuTest : public HeadlessWindowTest {
protected:
    void SetUp() override {
        HeadlessWindowTest::SetUp();
        file = WorkDir() / "photo.jpg";
        ASSERT_EQ(std::system(("convert -size 64x48 xc:tomato '" + file.string() + "'").c_str()), 0);
        q.left = 100, q.top = 50, q.right = 500, q.bottom = 350;
        q.path = file.string();
        q.editable = true;
        q.shown = *OrdinaryFile(q.path);
    }
    void TearDown() override {
        headless::OnMenu(nullptr);
        TerminateXmpToolkit();
        HeadlessWindowTest::TearDown();
    }

    // Opens the menu and picks `id` (0 dismisses); keeps the items as built.
    void Choose(UINT id) {
        ValidateRect(hwnd, nullptr);
        headless::OnMenu([this, id](const std::vector<MenuItem>& built, Point at) {
            items = built;
            shownAt = at;
            return id;
        });
        ShowQuadrantMenu(hwnd, &q, 10, 20);
    }

    bool Repainted() {
        Rect update;
        return GetUpdateRect(hwnd, &update) && update == (Rect{q.left, q.top, q.right, q.bottom});
    }

    fs::path file;
    Quadrant q;
    std::vector<MenuItem> items;
    Point shownAt;
};

TEST_F(QuadrantMenuTest, ItemsInTheirOrderWithTheCurrentStateChecked) {
    q.info.rating = 3;
    q.info.isPrivate = true;
    Choose(0);
    std::vector<std::string> texts;
    for (auto& item : items) texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Press ESC to exit", file.string(), "Ranking", " No Ranking", " *", " **",
                                               " ***", " ****", " *****", "", "Label", " Private", "", "Rotate 90",
                                               "Rotate -90"}));
    ASSERT_EQ(items.size(), 15u);
    EXPECT_EQ(items[0].flags, MF_GRAYED | MF_DISABLED);
    EXPECT_EQ(items[6].flags, MF_CHECKED);
    EXPECT_EQ(items[6].id, 1004u);
    EXPECT_EQ(items[5].flags, MF_STRING);
    EXPECT_EQ(items[9].flags, MF_SEPARATOR);
    EXPECT_EQ(items[11].flags, MF_CHECKED);
    EXPECT_EQ(shownAt, (Point{10, 20})) << "the click point on a window at the screen's origin";
    EXPECT_FALSE(Repainted()) << "a dismissed menu repaints nothing";

    q.info.rating = 7;  // taken over from a file: no rating item is checked
    q.info.isPrivate = false;
    Choose(0);
    for (auto& item : items) EXPECT_FALSE(item.flags & MF_CHECKED) << item.text;
}

TEST_F(QuadrantMenuTest, RotateWritesTheTurnedOrientation) {
    std::vector<std::string> written;
    for (int i = 0; i < 4; ++i) {
        Choose(kRotate90);
        EXPECT_TRUE(Repainted());
        written.push_back(Exif(file, "Orientation"));
    }
    EXPECT_EQ(written, (std::vector<std::string>{"6", "3", "8", "1"}));
    EXPECT_EQ(q.info.orientation, 1);
    q.info.orientation = 6;
    Choose(kRotateMinus90);
    EXPECT_EQ(q.info.orientation, 1);
    EXPECT_EQ(Exif(file, "Orientation"), "1");
}

TEST_F(QuadrantMenuTest, MirroredOrientationLosesItsMirror) {
    EXPECT_EQ(TurnedOrientation(2, 90), 6);
    EXPECT_EQ(TurnedOrientation(2, 270), 8);
    EXPECT_EQ(TurnedOrientation(3, 90), 8);
    EXPECT_EQ(TurnedOrientation(8, 270), 3);
}

TEST_F(QuadrantMenuTest, RatingAndPrivateAreWrittenIntoTheFile) {
    Choose(kNoRanking + 4);
    EXPECT_EQ(q.info.rating, 4);
    EXPECT_EQ(Exif(file, "XMP-xmp:Rating"), "4");
    Choose(kPrivate);
    EXPECT_TRUE(q.info.isPrivate);
    EXPECT_EQ(Exif(file, "XMP-xmp:Label"), "private");
    Choose(kPrivate);
    EXPECT_EQ(Exif(file, "XMP-xmp:Label"), "none");
}

TEST_F(QuadrantMenuTest, CommandsAreGrayedForOddSpellingsAndVideos) {
    auto allGrayed = [&] {
        for (std::size_t i = 3; i < items.size(); ++i)
            if (!(items[i].flags & MF_SEPARATOR) && (items[i].flags & (MF_GRAYED | MF_DISABLED)) != (MF_GRAYED | MF_DISABLED))
                return false;
        return true;
    };
    q.editable = false;  // a name ending in "Jpg"
    Choose(kNoRanking + 5);
    EXPECT_TRUE(allGrayed());
    EXPECT_EQ(q.info.rating, 0) << "a grayed item cannot be chosen";
    EXPECT_FALSE(Repainted());
    EXPECT_EQ(Exif(file, "XMP-xmp:Rating"), "");

    q.editable = true;  // a JPEG, but the quadrant plays a video
    ASSERT_TRUE(q.video.OpenAsDynamicMedia(hwnd, (WorkDir() / "clip.avi").string(), q.top, q.left, q.bottom, q.right,
                                           false));
    Choose(kPrivate);
    EXPECT_TRUE(allGrayed());
    EXPECT_FALSE(q.info.isPrivate);
    q.video.CloseDynamicMedia();
}

TEST_F(QuadrantMenuTest, DismissedMenuLeavesTheFileUntouched) {
    auto before = fs::last_write_time(file);
    std::string bytes = ReadWhole(file);
    Choose(0);
    EXPECT_EQ(fs::last_write_time(file), before);
    EXPECT_EQ(ReadWhole(file), bytes);
    EXPECT_EQ(q.info.rating, 0);
}

// Another program moved a picture over the shown one's name while the menu
// was up: the choice was meant for the shown one and goes nowhere.
TEST_F(QuadrantMenuTest, AChoiceForAPictureReplacedMeanwhileIsRefusedAndTheQuadrantSaysSo) {
    const fs::path other = WorkDir() / "other.jpg";
    ASSERT_EQ(std::system(("convert -size 64x48 xc:navy '" + other.string() + "'").c_str()), 0);
    const std::string otherBytes = ReadWhole(other);
    q.info = {.orientation = 6, .isPrivate = true};
    headless::OnMenu([&](const std::vector<MenuItem>&, Point) {
        fs::rename(other, file);
        return static_cast<UINT>(kNoRanking + 3);
    });
    ValidateRect(hwnd, nullptr);
    ShowQuadrantMenu(hwnd, &q, 10, 20);
    EXPECT_EQ(ReadWhole(file), otherBytes);
    EXPECT_EQ(std::tuple(q.info.rating, q.info.orientation, q.info.isPrivate), std::tuple(0, 6, true));
    EXPECT_NE(q.refusedNoticeUntil, 0u);
    EXPECT_TRUE(Repainted());
}

}  // namespace
