// Pictures decoded at the size they are shown at: sizes, colours, camera
// raw files, frames of phone clips, and hostile files (decompression bombs,
// truncated and corrupt pictures).
#include "metadata/picture_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "metadata/jpeg_decoder.h"
#include "metadata/picture_files.h"

namespace {

using Bitmap = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

struct Decoded {
    Bitmap bitmap{nullptr, cairo_surface_destroy};
    long status = 0;
    std::string failure;
};

Decoded Decode(const std::string& path, int maxWidth, int maxHeight) {
    const DecodeOutcome outcome = DecodePicture(path, maxWidth, maxHeight);
    return {Bitmap(outcome.bitmap, cairo_surface_destroy), outcome.status, outcome.failure ? outcome.failure : ""};
}

std::uint32_t PixelAt(cairo_surface_t* surface, int x, int y) {
    const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<const std::uint32_t*>(row)[x];
}

// Channels within a tolerance, for lossy formats.
void ExpectColour(std::uint32_t pixel, std::uint32_t expected, int tolerance = 12) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int got = static_cast<int>((pixel >> shift) & 0xFF);
        const int want = static_cast<int>((expected >> shift) & 0xFF);
        EXPECT_NEAR(got, want, tolerance) << std::hex << "pixel 0x" << pixel << " expected 0x" << expected;
    }
}

using PictureDecoderTest = PictureFileTest;

TEST(FitWithinTest, KeepsProportionsNeverEnlargesAndKeepsAPixel) {
    const struct {
        int width, height, maxWidth, maxHeight, fittedWidth, fittedHeight;
    } cases[] = {
        {4000, 3000, 373, 280, 373, 280}, {300, 200, 400, 280, 300, 200}, {6000, 4000, 640, 360, 540, 360},
        {4256, 2832, 541, 360, 541, 360}, {10000, 1, 100, 100, 100, 1},   {1, 10000, 100, 100, 1, 100},
    };
    for (const auto& c : cases) {
        const PixelSize fitted = FitWithin(c.width, c.height, c.maxWidth, c.maxHeight);
        EXPECT_EQ(fitted.width, c.fittedWidth) << c.width << "x" << c.height;
        EXPECT_EQ(fitted.height, c.fittedHeight) << c.width << "x" << c.height;
    }
}

TEST(JpegScaleNumeratorTest, SmallestScalingThatStillCovers) {
    EXPECT_EQ(JpegScaleNumerator(6000, 4000, 540, 360), 1);
    EXPECT_EQ(JpegScaleNumerator(1728, 1152, 540, 360), 3);  // 648 × 432; 2/8 gives 432 × 288
    EXPECT_EQ(JpegScaleNumerator(4256, 2832, 541, 360), 2);
    EXPECT_EQ(JpegScaleNumerator(300, 200, 300, 200), 8);
}

TEST_F(PictureDecoderTest, EveryFormatComesOutFittedAndInItsColours) {
    // Left half red, right half blue: channel order and placement both show.
    for (const char* name : {"halves.jpg", "halves.png", "halves.gif", "halves.tif", "halves.webp", "halves.heic",
                             "cmyk.jpg", "deep.png"}) {
        std::string extra;
        if (std::string(name) == "cmyk.jpg") extra = "-colorspace CMYK";
        if (std::string(name) == "deep.png") extra = "-depth 16";
        const std::string path = PathOf(name);
        Shell("convert -size 400x300 xc:red -size 400x300 xc:blue +append " + extra + " " + ShellQuote(path));
        const Decoded decoded = Decode(path, 373, 280);
        ASSERT_TRUE(decoded.bitmap) << name << ": " << decoded.failure;
        EXPECT_EQ(cairo_image_surface_get_width(decoded.bitmap.get()), 373) << name;
        EXPECT_EQ(cairo_image_surface_get_height(decoded.bitmap.get()), 140) << name;
        ExpectColour(PixelAt(decoded.bitmap.get(), 40, 70), 0xFFFF0000);
        ExpectColour(PixelAt(decoded.bitmap.get(), 330, 70), 0xFF0000FF);
    }
}

TEST_F(PictureDecoderTest, FormatsOnlyUntrustedLoadersReadAreRefused) {
    for (const char* name : {"layers.psd", "plain.bmp"}) {
        const std::string path = PathOf(name);
        Shell("convert -size 64x48 xc:red " + ShellQuote(path));
        const Decoded decoded = Decode(path, 64, 48);
        EXPECT_FALSE(decoded.bitmap) << name;
        EXPECT_EQ(decoded.failure, "vips_image_new_from_source") << name;
    }
}

TEST_F(PictureDecoderTest, GreyJpegAndTranslucentPngComeOutAsCairoExpects) {
    const std::string grey = PathOf("grey.jpg");
    Shell("convert -size 64x64 xc:gray50 -colorspace Gray " + ShellQuote(grey));
    Decoded decoded = Decode(grey, 64, 64);
    ASSERT_TRUE(decoded.bitmap) << decoded.failure;
    ExpectColour(PixelAt(decoded.bitmap.get(), 10, 10), 0xFF7F7F7F, 3);

    // Premultiplied: half-transparent red is 0x80 alpha over 0x80 red.
    const std::string glass = PathOf("glass.png");
    Shell("convert -size 64x64 'xc:rgba(255,0,0,0.5)' " + ShellQuote(glass));
    decoded = Decode(glass, 64, 64);
    ASSERT_TRUE(decoded.bitmap) << decoded.failure;
    ExpectColour(PixelAt(decoded.bitmap.get(), 10, 10), 0x80800000, 2);
}

TEST_F(PictureDecoderTest, ScaledJpegMatchesAResampleOfTheFullDecode) {
    // Detail everywhere, so that rows taken from the wrong place would show.
    const std::string path = MakePicture("detail.jpg", 1728, 1152);
    const std::string reference = PathOf("reference.png");
    Shell("convert " + ShellQuote(path) + " -resize 540x360 " + ShellQuote(reference));
    const Decoded ours = Decode(path, 540, 360);
    const Decoded theirs = Decode(reference, 540, 360);
    ASSERT_TRUE(ours.bitmap && theirs.bitmap);
    ASSERT_EQ(cairo_image_surface_get_width(ours.bitmap.get()), 540);
    ASSERT_EQ(cairo_image_surface_get_height(ours.bitmap.get()), 360);
    double difference = 0;
    for (int y = 0; y < 360; ++y) {
        for (int x = 0; x < 540; ++x) {
            const std::uint32_t a = PixelAt(ours.bitmap.get(), x, y);
            const std::uint32_t b = PixelAt(theirs.bitmap.get(), x, y);
            for (int shift = 0; shift < 24; shift += 8) {
                difference += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
            }
        }
    }
    EXPECT_LT(difference / (540 * 360 * 3), 4.0);
}

// Scaled JPEGs are decoded through rows kept for the next picture: the
// bitmap handed out must not be them.
TEST_F(PictureDecoderTest, AScaledJpegKeepsItsPixelsWhenTheNextOneDecodes) {
    const std::string red = PathOf("red.jpg");
    const std::string blue = PathOf("blue.jpg");
    Shell("convert -size 400x300 xc:red " + ShellQuote(red) + " && convert -size 400x300 xc:blue " + ShellQuote(blue));
    const Decoded first = Decode(red, 280, 210);
    const Decoded second = Decode(blue, 280, 210);
    ASSERT_TRUE(first.bitmap && second.bitmap);
    ExpectColour(PixelAt(first.bitmap.get(), 150, 110), 0xFFFF0000);
    ExpectColour(PixelAt(second.bitmap.get(), 150, 110), 0xFF0000FF);
}

TEST_F(PictureDecoderTest, PicturesOverThePixelLimitAreRefusedBeforeDecoding) {
    WriteWhole(PathOf("bomb.png"), PngClaiming(30000, 30000));

    // A real JPEG whose frame header claims 65,000 × 65,000.
    const std::string jpeg = MakePicture("bomb.jpg", 64, 48);
    std::string bytes = ReadWhole(jpeg);
    const auto frame = bytes.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    for (const std::size_t at : {frame + 5, frame + 7}) {
        bytes[at] = static_cast<char>(0xFD);
        bytes[at + 1] = static_cast<char>(0xE8);
    }
    WriteWhole(jpeg, bytes);

    for (const char* name : {"bomb.png", "bomb.jpg"}) {
        const Decoded decoded = Decode(PathOf(name), 400, 280);
        EXPECT_FALSE(decoded.bitmap) << name;
        EXPECT_EQ(decoded.failure, kPixelLimitFailure) << name;
        EXPECT_EQ(decoded.status, 0) << name;
    }
}

TEST_F(PictureDecoderTest, CameraRawFilesShowTheirLargestPictureNotTheirThumbnailNorTheirRawData) {
    // As cameras lay them out: a 160 × 120 thumbnail first, the sensor's data
    // (larger still) in a SubIFD, and a full-size preview, red above blue:
    // in a DNG an image in a SubIFD of its own, in a NEF a JPEG stream a
    // SubIFD points at (its offset patched in once the writer has placed it).
    const std::string preview = PathOf("preview.jpg");
    Shell("convert -size 1200x450 xc:red -size 1200x450 xc:blue -append " + ShellQuote(preview));
    const std::string dng = PathOf("camera.dng");
    const std::string nef = PathOf("camera.nef");
    int status = 0;
    const std::string output =
        Shell("/usr/bin/python3 - " + ShellQuote(preview) + " " + ShellQuote(dng) + " " + ShellQuote(nef) + R"( 2>&1 <<'END'
import struct, sys, numpy, tifffile
jpeg = open(sys.argv[1], 'rb').read()
thumbnail = numpy.zeros((120, 160, 3), numpy.uint8); thumbnail[..., 1] = 255
preview = numpy.zeros((900, 1200, 3), numpy.uint8); preview[:450, :, 0] = 255; preview[450:, :, 2] = 255
raw = numpy.full((916, 1216), 1000, numpy.uint16)
cfa = [(33421, 'H', 2, (2, 2), True), (33422, 'B', 4, (0, 1, 1, 2), True)]
with tifffile.TiffWriter(sys.argv[2]) as tiff:
    tiff.write(thumbnail, photometric='rgb', subfiletype=1, subifds=2,
               extratags=[(50706, 'B', 4, (1, 4, 0, 0), True), (50708, 's', 0, 'Test camera', True)])
    tiff.write(raw, photometric=32803, subfiletype=0, extratags=cfa)
    tiff.write(preview, photometric='rgb', subfiletype=1, compression='zlib')
with tifffile.TiffWriter(sys.argv[3]) as tiff:
    tiff.write(thumbnail, photometric='rgb', subfiletype=1, subifds=2,
               extratags=[(271, 's', 0, 'NIKON CORPORATION', True)])
    tiff.write(numpy.zeros((8, 8, 3), numpy.uint8), photometric='rgb', subfiletype=1,
               extratags=[(513, 'I', 1, 0xDEADBEEF, True), (514, 'I', 1, len(jpeg), True),
                          (65000, 'B', len(jpeg), jpeg, True)])
    tiff.write(raw, photometric=32803, subfiletype=0, extratags=cfa)
data = bytearray(open(sys.argv[3], 'rb').read())
at = data.index(struct.pack('<HHII', 513, 4, 1, 0xDEADBEEF))
data[at + 8:at + 12] = struct.pack('<I', data.index(jpeg))
open(sys.argv[3], 'wb').write(data)
END
)",
              &status);
    ASSERT_EQ(status, 0) << output;
    ASSERT_EQ(Shell("exiftool -s3 -FileType " + ShellQuote(dng)), "DNG");
    ASSERT_EQ(Shell("exiftool -b -JpgFromRaw " + ShellQuote(nef)), ReadWhole(preview)) << "exiftool finds the preview";
    for (const std::string& path : {dng, nef}) {
        const Decoded decoded = Decode(path, 400, 300);
        ASSERT_TRUE(decoded.bitmap) << path << ": " << decoded.failure;
        EXPECT_EQ(cairo_image_surface_get_width(decoded.bitmap.get()), 400) << path;
        EXPECT_EQ(cairo_image_surface_get_height(decoded.bitmap.get()), 300) << path;
        ExpectColour(PixelAt(decoded.bitmap.get(), 200, 70), 0xFFFF0000);
        ExpectColour(PixelAt(decoded.bitmap.get(), 200, 230), 0xFF0000FF);
    }
}

TEST_F(PictureDecoderTest, PhoneClipsGiveAnUprightFrameFromATenthIn) {
    // Upright, the picture is red and white above blue, 240 × 320. Filmed
    // as phones film, it is stored turned on its side, with a display matrix
    // that turns it back. The first 0.4 s of each 5 s clip are green, and its
    // only key frame is the first.
    const std::string upright = PathOf("upright.png");
    Shell("convert -size 120x160 xc:red -size 120x160 xc:white +append -size 240x160 xc:blue -append " +
          ShellQuote(upright));
    const struct {
        const char* name;
        const char* stored;  // how the upright picture is turned in the file
        const char* tag;
        const char* rotation;  // the clockwise turn that shows it, as exiftool reads the matrix
    } clips[] = {{"phone.mov", "clock", "90", "270"}, {"phone.mp4", "cclock", "270", "90"}};
    for (const auto& clip : clips) {
        const std::string plain = PathOf(std::string("plain-") + clip.name);
        Ffmpeg("-f lavfi -i color=green:s=320x240:r=25:d=0.4 -loop 1 -r 25 -t 4.6 -i " + ShellQuote(upright) +
               " -filter_complex '[1]transpose=" + clip.stored +
               ",setsar=1[side];[0][side]concat' -c:v libx264 -x264-params keyint=250:scenecut=0 -pix_fmt yuv420p " +
               ShellQuote(plain));
        const std::string path = PathOf(clip.name);
        Ffmpeg("-i " + ShellQuote(plain) + " -c copy -metadata:s:v:0 rotate=" + clip.tag + " " + ShellQuote(path));
        ASSERT_EQ(ExifValue(path, "Rotation"), clip.rotation) << clip.name;
        const Decoded decoded = Decode(path, 200, 200);
        ASSERT_TRUE(decoded.bitmap) << clip.name << ": " << decoded.failure;
        EXPECT_EQ(cairo_image_surface_get_width(decoded.bitmap.get()), 150) << clip.name;
        EXPECT_EQ(cairo_image_surface_get_height(decoded.bitmap.get()), 200) << clip.name;
        ExpectColour(PixelAt(decoded.bitmap.get(), 30, 40), 0xFFFF0000, 16);
        ExpectColour(PixelAt(decoded.bitmap.get(), 120, 40), 0xFFFFFFFF, 16);
        ExpectColour(PixelAt(decoded.bitmap.get(), 75, 160), 0xFF0000FF, 16);
    }
}

TEST_F(PictureDecoderTest, AClipCutShortBeforeItsTenthShowsItsFirstFrame) {
    // An interrupted copy: the index up front promises 5 s with a key frame
    // every 0.2 s, the data stops after the first frame.
    const std::string whole = PathOf("whole.mp4");
    Ffmpeg("-f lavfi -i color=green:s=320x240:r=25:d=5 -c:v libx264 -g 5 -pix_fmt yuv420p -movflags +faststart " +
           ShellQuote(whole));
    const std::string second = Shell("ffprobe -v error -show_entries packet=pos -of csv=p=0 " + ShellQuote(whole) +
                                     " | sed -n 2p");
    ASSERT_FALSE(second.empty());
    const std::string path = PathOf("cut.mp4");
    WriteWhole(path, ReadWhole(whole).substr(0, std::stoul(second)));
    const Decoded decoded = Decode(path, 320, 240);
    ASSERT_TRUE(decoded.bitmap) << decoded.failure;
    ExpectColour(PixelAt(decoded.bitmap.get(), 160, 120), 0xFF008000, 16);
}

TEST_F(PictureDecoderTest, DamagedPicturesAreSkippedOrShownPartly) {
    const std::string jpeg = ReadWhole(MakePicture("whole.jpg", 640, 480));
    const std::string png = ReadWhole(MakePicture("whole.png", 640, 480));
    WriteWhole(PathOf("truncated.jpg"), jpeg.substr(0, jpeg.size() / 2));
    WriteWhole(PathOf("truncated.png"), png.substr(0, png.size() / 2));
    std::string scrambled = jpeg;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size(); i += 7) scrambled[i] = static_cast<char>(i * 31);
    WriteWhole(PathOf("scrambled.jpg"), scrambled);
    WriteWhole(PathOf("header-only.jpg"), jpeg.substr(0, 200));
    WriteWhole(PathOf("not-a-picture.png"), "plain text, not a picture\n");

    // A truncated JPEG keeps what arrived; the rest comes out grey.
    const Decoded truncated = Decode(PathOf("truncated.jpg"), 320, 240);
    ASSERT_TRUE(truncated.bitmap) << truncated.failure;
    EXPECT_EQ(cairo_image_surface_get_width(truncated.bitmap.get()), 320);

    for (const char* name : {"truncated.png", "scrambled.jpg", "header-only.jpg", "not-a-picture.png"}) {
        const Decoded decoded = Decode(PathOf(name), 320, 240);
        if (!decoded.bitmap) {
            EXPECT_FALSE(decoded.failure.empty()) << name;
        }
    }
    EXPECT_FALSE(Decode(PathOf("not-a-picture.png"), 320, 240).bitmap);
    EXPECT_EQ(Decode(PathOf("nowhere.jpg"), 320, 240).failure, "fopen");
}

// A close request while a picture decodes: each way of decoding stops at
// its first chance and shows nothing.
TEST_F(PictureDecoderTest, ACancelledDecodeStopsWithoutAPicture) {
    const std::string baseline = MakePicture("baseline.jpg", 640, 480);
    const std::string progressive = PathOf("progressive.jpg");
    Shell("convert " + ShellQuote(baseline) + " -interlace Plane " + ShellQuote(progressive));
    const std::atomic<bool> cancelled{true};

    // A progressive file is read whole before its first row.
    ScaledJpeg scans(std::fopen(progressive.c_str(), "rb"), &cancelled);
    EXPECT_FALSE(scans.Start(320, 240));
    EXPECT_STREQ(scans.Failure(), kCancelledFailure);
    ScaledJpeg rows(std::fopen(baseline.c_str(), "rb"), &cancelled);
    ASSERT_TRUE(rows.Start(320, 240));
    EXPECT_FALSE(rows.Decode());
    EXPECT_STREQ(rows.Failure(), kCancelledFailure);

    const DecodeOutcome png = DecodePicture(MakePicture("whole.png", 640, 480), 320, 240, &cancelled);
    EXPECT_EQ(png.bitmap, nullptr);
    EXPECT_STREQ(png.failure, kCancelledFailure);
}

}  // namespace
