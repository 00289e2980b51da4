// A rating, label or turn changes exactly that: exiftool, reading every tag
// of every group, and ImageMagick, comparing pixels, are the judges.
#include <gtest/gtest.h>

#include "diag/debug_log.h"
#include "metadata/picture_files.h"
#include "metadata/quadrant_menu.h"
#include "metadata/xmp_metadata.h"

namespace {

class WritePreservationTest : public PictureFileTest {
protected:
    // A camera's JPEG as it comes off the card, with what a careless rewrite
    // loses first: dates ending in ":00", GPS, maker notes, IPTC keywords and
    // the Exif thumbnail.
    std::string CameraJpeg(const std::string& name) {
        const std::string path = MakePicture(name, 640, 480);
        const std::string thumbnail = MakePicture("thumbnail.jpg", 160, 120);
        const std::string makerNotes = PathOf("makernotes.bin");
        // A one-entry Nikon maker note: exiftool writes maker notes only as a whole block.
        static constexpr char kNikon[] = "Nikon\0\x02\x10\0\0MM\0*\0\0\0\x08\0\x01\0\x01\0\x07\0\0\0\x04" "0210\0\0\0\0";
        WriteWhole(makerNotes, std::string(kNikon, sizeof kNikon - 1));
        Exiftool(path, "-Make=NIKON -Model=D750 '-MakerNotes<=" + makerNotes + "' '-ThumbnailImage<=" + thumbnail +
                           "' '-DateTimeOriginal=2019:07:14 10:11:00' '-CreateDate=2019:07:14 00:00:00'"
                           " -GPSLatitude=48.1 -GPSLatitudeRef=N -GPSLongitude=11.5 -GPSLongitudeRef=E"
                           " -IPTC:Keywords=harbour -IPTC:Keywords=boat -Orientation#=6");
        return path;
    }
};

TEST_F(WritePreservationTest, ARatingLabelAndTurnChangeOnlyThoseTagsAndNoPixel) {
    std::vector<std::string> pictures = {CameraJpeg("camera.jpg")};
    pictures.push_back(MakePicture("scan.tif", 320, 240));
    Exiftool(pictures.back(), "'-DateTimeOriginal=2020:01:02 03:04:00' -XMP-dc:Subject=scan");
    pictures.push_back(MakePicture("drawing.png", 320, 240));
    Exiftool(pictures.back(), "-Orientation#=3 '-DateTimeOriginal=2021:05:06 07:08:00'");
    pictures.push_back(MakePicture("lossy.webp", 320, 240, "-quality 80"));
    pictures.push_back(MakePicture("lossless.webp", 320, 240, "-define webp:lossless=true"));
    pictures.push_back(MakePicture("alpha.webp", 320, 240, "-alpha set -channel A -evaluate set 50% +channel"));
    pictures.push_back(MakePicture("exif.webp", 320, 240, "-quality 80"));
    Exiftool(pictures.back(), "-Orientation#=8 '-DateTimeOriginal=2022:03:04 05:06:00' -XMP-dc:Subject=dusk");

    for (const std::string& path : pictures) {
        SCOPED_TRACE(path);
        const std::string original = PathOf("original-" + std::filesystem::path(path).filename().string());
        ASSERT_EQ(Shell("cp " + ShellQuote(path) + " " + original + " && echo copied"), "copied");
        const std::set<std::string> before = Tags(path);
        PictureMetadata info;
        ASSERT_NO_THROW(ScanFileForMetadata(path, info));
        const PictureMetadata chosen{
            .orientation = TurnedOrientation(info.orientation, 90), .rating = 4, .isPrivate = true};
        WriteMetadataToFile(path, chosen);

        PictureMetadata written;
        ASSERT_NO_THROW(ScanFileForMetadata(path, written));
        EXPECT_EQ(std::tuple(written.rating, written.isPrivate, written.orientation),
                  std::tuple(4, true, chosen.orientation));
        // A WebP takes XMP only in the extended form, which exiftool reports
        // as another file type with a flag for the packet, as for its own writes.
        std::set<std::string> allowed = {"Rating", "Label", "Orientation"};
        if (path.ends_with(".webp")) allowed.insert({"FileType", "WebP_Flags"});
        for (const std::string& name : ChangedTags(before, Tags(path))) EXPECT_TRUE(allowed.count(name)) << name;
        EXPECT_EQ(Shell("compare -quiet -metric AE " + ShellQuote(path) + " " + original + " null: 2>&1"), "0");
        EXPECT_EQ(Shell("exiftool -warning -s3 " + ShellQuote(path)), "");
    }
}

// What cannot be checked is not written: a JPEG whose header the decoder
// refuses (here one without a frame header) could be edited, but nothing
// could prove the edit harmless.
TEST_F(WritePreservationTest, APictureThatCannotBeVerifiedStaysByteIdenticalAndTheLogSaysWhy) {
    const std::string path = PathOf("unverifiable.jpg");
    WriteWhole(path, std::string("\xFF\xD8\xFF\xDA\x00\x02\x00\x00\xFF\xD9", 10));
    const FileIdentity before = Identify(path);
    OpenDebugLog();
    WriteMetadataToFile(path, {.rating = 4});
    CloseDebugLog();
    EXPECT_EQ(Identify(path), before);
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.starts_with(".kaleidra-")) << name;
        if (name.starts_with("VeltraneSSDebug")) log += ReadWhole(entry.path());
    }
    EXPECT_NE(log.find("left " + path + " as it was: the picture does not decode"), std::string::npos) << log;
}

}  // namespace
