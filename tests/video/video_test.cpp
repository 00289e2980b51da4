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
    EXPECT_EQ(PlaceVideo(100, 50, 600, 750, 320, 240), (Rect{50 + 30, 100 + 10, 50 + 30 + 640, 100 + 10 + 480}));
    EXPECT_EQ(PlaceVideo(0, 0, 300, 400, 1280, 720), (Rect{2, 38, 2 + 396, 38 + 223}));
    EXPECT_EQ(PlaceVideo(0, 0, 500, 700, 0, 0), PlaceVideo(0, 0, 500, 700, 320, 240)) << "unknown size";
    EXPECT_EQ(PlaceVideo(0, 0, 500, 700, 640, 0), PlaceVideo(0, 0, 500, 700, 320, 240)) << "a size of 0";
}

class VideoTest : public HeadlessWindowTest {
protected:
    static void SetUpTestSuite() {
        clips_ = fs::temp_directory_path() / ("kaleidra-clips-" + std::to_string(getpid()));
        fs::create_directories(clips_);
        std::string make = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440 "
                           "-t 0.5 -c:v mpeg4 -c:a mp2 " + (clips_ / "clip.avi").string();
        ASSERT_EQ(std::system(make.c_str()), 0);
        WriteWhole(clips_ / "notes.avi", "this is not a video\n");
    }
    static void TearDownTestSuite() { fs::remove_all(clips_); }


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

TEST_F(VideoTest, ClipPlaysAtItsPlacedSizeToItsEnd) {
    VideoGraph video;
    ASSERT_TRUE(video.OpenAsDynamicMedia(hwnd, (clips_ / "clip.avi").string(), 100, 50, 600, 750, false));
    EXPECT_TRUE(video.IsMediaOpen());
    EXPECT_FALSE(video.HasMediaEnded()) << "half a second of video is still playing";
    EXPECT_FALSE(video.Muted()) << "the volume is not touched";
    ASSERT_TRUE(EndsWithin(video, std::chrono::seconds(10)));
    Rect client;
    ASSERT_TRUE(GetClientRect(video.VideoWindow(), &client));
    EXPECT_EQ(client, (Rect{0, 0, 640, 480}));
    Point origin;
    ClientToScreen(video.VideoWindow(), &origin);
    EXPECT_EQ(origin, (Point{80, 110}));
    video.CloseDynamicMedia();
    EXPECT_FALSE(video.IsMediaOpen());
    EXPECT_TRUE(video.HasMediaEnded()) << "a closed graph has ended";
    video.CloseDynamicMedia();  // a second close does nothing
}

TEST_F(VideoTest, FileThatIsNoVideoIsRunAndThenEnds) {
    VideoGraph video;
    ASSERT_TRUE(video.OpenAsDynamicMedia(hwnd, (clips_ / "notes.avi").string(), 0, 0, 300, 400, true));
    EXPECT_TRUE(video.Muted());
    EXPECT_TRUE(EndsWithin(video, std::chrono::seconds(10)));
}

TEST_F(VideoTest, ClosingWhilePlayingReleasesTheWindow) {
    VideoGraph video;
    ASSERT_TRUE(video.OpenAsDynamicMedia(hwnd, (clips_ / "clip.avi").string(), 0, 0, 300, 400, false));
    HWND window = video.VideoWindow();
    EXPECT_TRUE(IsWindow(window));
    video.CloseDynamicMedia();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(video.VideoWindow(), nullptr);
}

}  // namespace
