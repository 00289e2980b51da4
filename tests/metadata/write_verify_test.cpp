// The check a rewritten copy passes before it replaces its picture: camera
// files damaged on purpose are reported, clean rewrites of every container
// format pass, and structures that cannot be read are refused.
#include "metadata/write_verify.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "metadata/picture_files.h"

namespace {

class WriteVerifyTest : public PictureFileTest {
protected:
    // The bytes of a camera file from the fixture packages; empty when absent.
    static std::string CameraFile(const std::string& fixture) {
        const std::string path = Fixture(fixture);
        return path.empty() ? std::string() : ReadWhole(path);
    }

    std::string Saved(const std::string& name, const std::string& bytes) {
        WriteWhole(PathOf(name), bytes);
        return PathOf(name);
    }
};

TEST_F(WriteVerifyTest, DamagedCameraJpegsAreReported) {
    const std::string sony = CameraFile("exif/test/sony-alpha-6000.jpg");  // maker notes, an MPF preview last
    const std::string apple = CameraFile("exif/test/test1.jpg");
    if (sony.empty() || apple.empty()) GTEST_SKIP() << "camera fixtures absent";
    const std::string cut = apple.substr(0, apple.size() - 2);
    std::string make = apple;
    make[make.find("Apple")] = '.';
    // An XMP segment after the Exif block moves the preview that the maker
    // note's offset names.
    ASSERT_EQ(sony.substr(0, 4), "\xFF\xD8\xFF\xE1");
    const std::size_t exifEnd = 4 + (static_cast<std::uint8_t>(sony[4]) << 8 | static_cast<std::uint8_t>(sony[5]));
    const std::string xmp = std::string("\xFF\xE1\x01\x00http://ns.adobe.com/xap/1.0/", 33) + std::string(225, ' ');
    const struct {
        const char* what;
        const std::string& original;
        std::string copy;
    } cases[] = {
        {"sony without its end marker", sony, sony.substr(0, sony.size() - 2)},
        {"sony with a hole in its preview", sony, std::string(sony).erase(sony.size() - 400000, 300000)},
        {"sony with a packet inserted", sony, std::string(sony).insert(exifEnd, xmp)},
        {"apple without its end marker", apple, cut},
        {"apple made by .pple", apple, make},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(StructureDifference(ContainerFormat::Jpeg, c.original, c.original), "") << c.what;
        EXPECT_NE(StructureDifference(ContainerFormat::Jpeg, c.original, c.copy), "") << c.what;
    }
    // libvips only warns about the missing end of the main image.
    const std::string picture = Saved("apple.jpg", apple);
    ASSERT_EQ(PixelDifference(picture, picture), "");
    EXPECT_NE(PixelDifference(picture, Saved("cut.jpg", cut)), "");
    // A picture that was cut short already stays writable: the copy draws
    // the same complaint and nothing else.
    const std::string damaged = Saved("damaged.jpg", cut);
    const std::string rewritten = RewriteContainer(ContainerFormat::Jpeg, cut, kRatingPacket, 6);
    EXPECT_EQ(PixelDifference(damaged, Saved("rewritten.jpg", rewritten)), "");
}

TEST_F(WriteVerifyTest, CleanRewriteOfEachFormatPassesAndAFlippedPixelByteDoesNot) {
    const std::string thumbnail = MakePicture("thumb.jpg", 16, 12);
    const std::string page = MakePicture("page.png", 32, 24);
    std::vector<std::string> pictures = {MakePicture("exif.jpg", 96, 64), MakePicture("pages.tif", 96, 64, page),
                                         MakePicture("exif.png", 96, 64), MakePicture("simple.webp", 96, 64)};
    // Without an orientation, so that IFD0 is copied to gain one.
    Exiftool(pictures[0], "-Make=Canon '-ThumbnailImage<=" + thumbnail + "' -Orientation=");
    Exiftool(pictures[1], "-IFD0:Artist=Someone");
    Exiftool(pictures[2], "-Orientation#=3");
    if (const std::string apple = CameraFile("exif/test/test1.jpg"); !apple.empty()) {
        pictures.push_back(Saved("apple.jpg", apple));
    }
    for (const std::string& path : pictures) {
        SCOPED_TRACE(path);
        const std::string original = ReadWhole(path);
        const ContainerFormat format = SniffContainer(original);
        std::string copy = RewriteContainer(format, original, kRatingPacket, 6);
        EXPECT_EQ(StructureDifference(format, original, copy), "");
        EXPECT_EQ(PixelDifference(path, Saved("copy", copy)), "");
        copy[copy.size() / 2] = static_cast<char>(~copy[copy.size() / 2]);
        EXPECT_NE(StructureDifference(format, original, copy), "");
    }
}

}  // namespace

namespace {

using namespace std::string_literals;

std::string App(char marker, const std::string& payload) {
    const std::size_t length = 2 + payload.size();
    return "\xFF"s + marker + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + payload;
}

// What a structure names but cannot hold is a reason to refuse, never a pass,
// even where the copy is the picture byte for byte.
TEST(StructureDifferenceTest, WhatCannotBeReadIsRefused) {
    const std::string scan = "\xFF\xDA\0\x02\x12\x34\xFF\xD9"s;
    // IFD1 names a thumbnail past the Exif block's end.
    const std::string thumbnail = "\xFF\xD8"s +
                                  App('\xE1', "Exif\0\0MM\0*\0\0\0\x08\0\0\0\0\0\x0E\0\x02\x02\x01\0\x04\0\0\0\x01"
                                              "\0\0\x10\0\x02\x02\0\x04\0\0\0\x01\0\0\0\x10\0\0\0\0"s) +
                                  scan;
    // The MPF index names a second image past the file's end.
    const std::string mpf = "\xFF\xD8"s +
                            App('\xE2', "MPF\0MM\0*\0\0\0\x08\0\x01\xB0\x02\0\x07\0\0\0\x20\0\0\0\x1A\0\0\0\0"s +
                                            std::string(16, '\0') + "\0\0\0\0\0\0\x01\0\0\x01\0\0\0\0\0\0"s) +
                            scan;
    const std::string png = PngClaiming(4, 4);
    const struct {
        ContainerFormat format;
        std::string bytes;
    } cases[] = {
        {ContainerFormat::Jpeg, thumbnail},
        {ContainerFormat::Jpeg, mpf},
        {ContainerFormat::Tiff, "II*\0\x08\0\0\0\0\0\xFF\xFF\0\0"s},  // the next page's directory past the end
        {ContainerFormat::Png, png.substr(0, png.size() - 12)},       // without IEND
        {ContainerFormat::WebP, "RIFF\x10\0\0\0WEBPVP8 \0\x01\0\0\x9d\x01\x2a\0"s},  // a chunk past the RIFF end
    };
    for (const auto& c : cases) EXPECT_NE(StructureDifference(c.format, c.bytes, c.bytes), "") << c.bytes.size();
}

}  // namespace
