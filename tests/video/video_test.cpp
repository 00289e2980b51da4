// Video placement, and real clips played to their end on the offscreen display.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/headless_window_test_support.h"
#include "video/placement.h"
#include "video/video_graph.h"

namespace {

namespace fs = std::filesystem;

TEST(VideoPlacement, WholeFactorsUpAndWholePercentagesDown) {
    EXPECT_EQ(PlaceVideo(100, 50, 700, 850, 352, 288), (Rect{50 + 48, 100 + 12, 50 + 48 + 704, 100 + 12 + 576}));
    EXPECT_EQ(PlaceVideo(0, 0, 300, 400, 1280, 720), (Rect{2, 38, 2 + 396, 38 + 223}));
    EXPECT_EQ(PlaceVideo(0, 0, 500, 700, 0, 0), PlaceVideo(0, 0, 500, 700, 320, 240)) << "unknown size";
    EXPECT_EQ(PlaceVideo(0, 0, 500, 700, 640, 0), PlaceVideo(0, 0, 500, 700, 320, 240)) << "a size of 0";
}

class VideoTest : public HeadlessWindowTest {
protected:
    static void SetUpTestSuite() {
        clips_ = fs::temp_directory_path() / ("kaleidra-clips-" + std::to_string(getpid()));
        fs::create_directories(clips_);
        // Neither size is the fallback one, so a size the player failed to report shows.
        MakeClip("1280x720", "-c:v mpeg4 -c:a mp2", "wide.avi");
        MakeClip("352x288", "-c:v mpeg1video -c:a mp2 -f mpeg", "cif.mpg");
        WriteWhole(clips_ / "notes.avi", "this is not a video\n");
    }
    static void TearDownTestSuite() { fs::remove_all(clips_); }

    static void MakeClip(const std::string& size, const std::string& codecs, const std::string& name) {
        std::string make = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                           ":rate=25 -f lavfi -i sine=frequency=440 -t 0.5 " + codecs + " " + (clips_ / name).string();
        ASSERT_EQ(std::system(make.c_str()), 0);
    }

    // Polls as the collage tick does, with a real-time limit.
    static bool EndsWithin(VideoGraph& video, std::chrono::seconds limit) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end)
            if (video.HasMediaEnded()) return true;
        return false;
    }

    static fs::path clips_;
};

fs::path VideoTest::clips_;

TEST_F(VideoTest, ClipPlaysFittedToItsOwnSizeAndKeepsThatPlaceAtItsEnd) {
    // In 700 × 500 at (50, 100): 1280 × 720 (16:9) at 54 %, 352 × 288 (11:9)
    // as it is; the fallback size would take 640 × 480 at (80, 110).
    for (auto [name, placed] : {std::pair{"wide.avi", Rect{54, 156, 54 + 691, 156 + 388}},
                                {"cif.mpg", Rect{224, 206, 224 + 352, 206 + 288}}}) {
        VideoGraph video;
        ASSERT_TRUE(video.OpenAsDynamicMedia(hwnd, (clips_ / name).string(), 100, 50, 600, 750, false));
        EXPECT_TRUE(video.IsMediaOpen());
        EXPECT_FALSE(video.HasMediaEnded()) << name << ": half a second of video is still playing";
        EXPECT_FALSE(video.Muted()) << "the volume is not touched";
        ASSERT_TRUE(EndsWithin(video, std::chrono::seconds(10))) << name;
        // An ended clip shows its last frame where it played until the tick replaces it.
        Rect client;
        ASSERT_TRUE(GetClientRect(video.VideoWindow(), &client));
        Point origin;
        ClientToScreen(video.VideoWindow(), &origin);
        EXPECT_EQ((Rect{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom}), placed) << name;
        video.CloseDynamicMedia();
        EXPECT_FALSE(video.IsMediaOpen());
        EXPECT_TRUE(video.HasMediaEnded()) << "a closed graph has ended";
        video.CloseDynamicMedia();  // a second close does nothing
    }
}

TEST_F(VideoTest, FileThatIsNoVideoIsRunAndThenEnds) {
    VideoGraph video;
    ASSERT_TRUE(video.OpenAsDynamicMedia(hwnd, (clips_ / "notes.avi").string(), 0, 0, 300, 400, true));
    EXPECT_TRUE(video.Muted());
    EXPECT_TRUE(EndsWithin(video, std::chrono::seconds(10)));
}

TEST_F(VideoTest, ClosingWhilePlayingReleasesTheWindow) {
    VideoGraph video;
    ASSERT_TRUE(video.OpenAsDynamicMedia(hwnd, (clips_ / "wide.avi").string(), 0, 0, 300, 400, false));
    HWND window = video.VideoWindow();
    EXPECT_TRUE(IsWindow(window));
    video.CloseDynamicMedia();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(video.VideoWindow(), nullptr);
}

}  // namespace
