// A picture file becoming a quadrant's picture: the log it leaves, the
// display filters, the size it is asked for and the turn it gets.
#include "metadata/extract_preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "diag/debug_log.h"
#include "display/saver_state.h"
#include "metadata/xmp_metadata.h"
#include "metadata/picture_files.h"
#include "platform/crt_random.h"

namespace {

class ExtractPreviewTest : public PictureFileTest {
protected:
    void SetUp() override {
        PictureFileTest::SetUp();
        useRankingForDisplay = false;
        hideFilesLabeledPrivate = false;
        ResetCrtRand();
        OpenDebugLog();
    }

    void TearDown() override {
        CloseDebugLog();
        PictureFileTest::TearDown();
    }

    // The log's entries after its header, one per line.
    std::vector<std::string> LogLines() {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
            if (entry.path().filename().string().rfind("VeltraneSSDebug", 0) == 0) text = ReadWhole(entry.path());
        }
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        lines.erase(lines.begin(), lines.begin() + std::min<std::size_t>(2, lines.size()));
        return lines;
    }

    bool Shows(const std::string& path, int width = 400, int height = 280) {
        PictureHolder picture;
        PictureMetadata info;
        ExtractPreview(path, width, height, picture, info);
        return picture.HasPicture();
    }

    std::string RatedPicture(int rating) {
        const std::string path = MakePicture("rated" + std::to_string(rating) + ".jpg", 32, 24);
        Exiftool(path, "-XMP-xmp:Rating=" + std::to_string(rating));
        return path;
    }
};

TEST(RequestedSizeTest, LargerStoredPicturesAreAskedForAtTheirFittedSize) {
    const auto requested = [](const PictureMetadata& info) { return RequestedSize(400, 280, info); };
    const struct {
        PictureMetadata info;
        int width, height;
    } cases[] = {
        {{.height = 3000, .width = 4000}, 373, 280},  // scale 280 / 3000 in single precision
        {{.height = 200, .width = 300}, 400, 280},    // not larger: the whole target
        {{.orientation = 6, .height = 3000, .width = 4000}, 373, 280},  // stored size, unturned
        {{.height = 0, .width = 4000}, 400, 280},     // no size in the metadata
        {{.height = 3000, .width = 0}, 400, 280},
        {{.height = -3000, .width = 4000}, 400, 280},  // nonsense is no size
        {{.height = 280, .width = 4000}, 400, 28},
    };
    for (const auto& c : cases) {
        const PixelSize size = requested(c.info);
        EXPECT_EQ(size.width, c.width) << c.info.width << "x" << c.info.height;
        EXPECT_EQ(size.height, c.height) << c.info.width << "x" << c.info.height;
    }
}

TEST_F(ExtractPreviewTest, ShownPictureIsFittedTurnedAndLogged) {
    // The metadata says 4000 × 3000; asked for at 373 × 280, the 400 × 300
    // picture fits that, and orientation 6 then turns it to portrait.
    const std::string path = MakePicture("turned.jpg", 400, 300);
    Exiftool(path, "-Orientation#=6 -ExifImageWidth=4000 -ExifImageHeight=3000");
    PictureHolder picture;
    PictureMetadata info{.orientation = 3, .rating = 4, .isPrivate = true};
    ExtractPreview(path, 400, 280, picture, info);

    ASSERT_TRUE(picture.HasPicture());
    EXPECT_EQ(picture.GetWidth(), 280u);
    EXPECT_EQ(picture.GetHeight(), 373u);
    EXPECT_EQ(info.orientation, 6);
    EXPECT_EQ(info.rating, 0);
    EXPECT_FALSE(info.isPrivate);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"0x0 Begin ExtractPreview", "0x0 " + path,
                                                   "0x0 Calling ScanFileForExif",
                                                   "0x6 Returned from ScanFileForMetadata", "0x1 End ExtractPreview"}));
}

TEST_F(ExtractPreviewTest, SmallerPicturesAreNeverEnlarged) {
    const std::string path = MakePicture("small.png", 300, 200);
    PictureHolder picture;
    PictureMetadata info;
    ExtractPreview(path, 400, 280, picture, info);
    EXPECT_EQ(picture.GetWidth(), 300u);
    EXPECT_EQ(picture.GetHeight(), 200u);
}

TEST_F(ExtractPreviewTest, DbFilesAreSkippedBeforeTheMetadataAndOthersFailInIt) {
    const std::string lower = PathOf("Thumbs.db");
    const std::string upper = PathOf("Thumbs.DB");
    // A compound document's signature, as such thumbnail caches begin.
    WriteWhole(lower, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4088, '\0'));
    WriteWhole(upper, ReadWhole(lower));

    PictureHolder picture;
    PictureMetadata info{.orientation = 8, .rating = 5};
    ExtractPreview(lower, 400, 280, picture, info);
    EXPECT_EQ(info.orientation, 1);
    EXPECT_EQ(info.rating, 0);
    ExtractPreview(upper, 400, 280, picture, info);
    EXPECT_FALSE(picture.HasPicture());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"0x0 Begin ExtractPreview", "0x0 " + lower, "0x0 Begin ExtractPreview",
                                        "0x0 " + upper, "0x0 Calling ScanFileForExif", "0x0 ExtractPreview threw!!!",
                                        "0x0 End ExtractPreview"}));
}

// Files the toolkit cannot seek cost it a descriptor each, some corrupt
// files memory on every read: neither may reach it on every pass of the walk.
TEST_F(ExtractPreviewTest, OnlyOrdinaryFilesReachTheToolkitAndAFailedOneOnlyUntilItChanges) {
    const std::string mounts = PathOf("mounts.jpg");  // a link into proc, whose files cannot be seeked
    ASSERT_EQ(symlink("/proc/self/mounts", mounts.c_str()), 0);
    const std::string empty = PathOf("empty.jpg");
    WriteWhole(empty, "");
    const std::string fraction = MakePicture("fraction.jpg", 64, 48);
    Exiftool(fraction, "-XMP-xmp:Rating=2.5");
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = descriptors();
    for (int pass = 0; pass < 20; ++pass) {
        for (const std::string& path : {mounts, empty, fraction}) EXPECT_FALSE(Shows(path)) << path;
    }
    EXPECT_EQ(descriptors(), before);
    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "0x0 Calling ScanFileForExif"), 1);

    Exiftool(fraction, "-XMP-xmp:Rating=3");  // mended, so read again
    EXPECT_TRUE(Shows(fraction));
}

TEST_F(ExtractPreviewTest, FormatsShowAsTheToolkitReadsThem) {
    EXPECT_TRUE(Shows(MakePicture("plain.png", 64, 48)));  // a smart handler, no metadata
    EXPECT_FALSE(Shows(MakePicture("plain.bmp", 64, 48)));  // no smart handler
    const std::string fraction = MakePicture("fraction.jpg", 64, 48);
    Exiftool(fraction, "-XMP-xmp:Rating=2.5");
    EXPECT_FALSE(Shows(fraction));
}

TEST_F(ExtractPreviewTest, ClipsTheToolkitRefusesAreSkippedBeforeDecoding) {
    const std::string still = MakePicture("still.png", 64, 48);
    const std::string mp4 = PathOf("clip.mp4");
    const std::string mkv = PathOf("clip.mkv");
    for (const std::string& clip : {mp4, mkv}) {
        Ffmpeg("-loop 1 -r 25 -t 1 -i " + ShellQuote(still) + " -c:v libx264 -pix_fmt yuv420p " + ShellQuote(clip));
    }
    EXPECT_TRUE(Shows(mp4));
    const std::size_t before = LogLines().size();
    EXPECT_FALSE(Shows(mkv));
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
              (std::vector<std::string>{"0x0 Begin ExtractPreview", "0x0 " + mkv, "0x0 Calling ScanFileForExif",
                                        "0x0 ExtractPreview threw!!!", "0x0 End ExtractPreview"}));
}

TEST_F(ExtractPreviewTest, NamesAreTakenAsTheirBytes) {
    // Not UTF-8, and a name libvips would read as carrying load options.
    for (const std::string name : {"caf\xE9.jpg", "scan[1]"}) {
        const std::string path = PathOf(name);
        std::filesystem::rename(MakePicture("named.png", 64, 48), path);
        WriteMetadataToFile(path, {.rating = 4});
        PictureHolder picture;
        PictureMetadata info;
        ExtractPreview(path, 400, 280, picture, info);
        EXPECT_TRUE(picture.HasPicture()) << name;
        EXPECT_EQ(info.rating, 4) << name;
    }
}

TEST_F(ExtractPreviewTest, DecodeFailuresAreLoggedAndLeaveTheQuadrantEmpty) {
    const std::string path = PathOf("bomb.png");
    WriteWhole(path, PngClaiming(30000, 30000));
    EXPECT_FALSE(Shows(path));
    const std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "0x0 Picture exceeds the pixel limit");
    EXPECT_EQ(lines.back(), "0x0 End ExtractPreview");
}

TEST_F(ExtractPreviewTest, PrivatePicturesAreHiddenOnlyWhenTheSettingSaysSo) {
    const std::string path = MakePicture("secret.jpg", 32, 24);
    Exiftool(path, "-XMP-xmp:Label=private");
    EXPECT_TRUE(Shows(path));
    hideFilesLabeledPrivate = true;
    EXPECT_FALSE(Shows(path));
    EXPECT_EQ(LogLines().back(), "0x1 Returned from ScanFileForMetadata");  // no End entry
}

TEST_F(ExtractPreviewTest, RatingsFilterOnlyWithRankingAndDrawOnlyForTwoAndThree) {
    const std::string one = RatedPicture(1);
    const std::string two = RatedPicture(2);
    const std::string three = RatedPicture(3);
    const std::vector<std::string> always = {RatedPicture(0), RatedPicture(4), RatedPicture(5), RatedPicture(-1),
                                             RatedPicture(7)};

    for (const std::string& path : {one, two, three}) EXPECT_TRUE(Shows(path)) << path;
    ResetCrtRand();
    const int firstDraw = CrtRand();
    ResetCrtRand();

    useRankingForDisplay = true;
    for (const std::string& path : always) EXPECT_TRUE(Shows(path)) << path;
    EXPECT_FALSE(Shows(one));
    EXPECT_EQ(CrtRand(), firstDraw) << "only ratings 2 and 3 draw";

    const struct {
        const std::string& path;
        int divisor;
    } drawn[] = {{two, 10}, {three, 2}};
    for (const auto& d : drawn) {
        std::vector<bool> expected;
        ResetCrtRand();
        for (int i = 0; i < 40; ++i) expected.push_back(CrtRand() % d.divisor == 0);
        ResetCrtRand();
        std::vector<bool> shown;
        for (int i = 0; i < 40; ++i) shown.push_back(Shows(d.path));
        EXPECT_EQ(shown, expected) << d.path;
        EXPECT_NE(std::count(shown.begin(), shown.end(), true), 0);
    }
}

}  // namespace
