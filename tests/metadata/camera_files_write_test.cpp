// Writes into real camera files, as the cameras, phones and photo managers
// made them (scripts/fetch-fixtures): exiftool, reading every tag, and
// ImageMagick, comparing pixels, judge what changed.
#include <gtest/gtest.h>

#include "diag/debug_log.h"
#include "metadata/picture_files.h"
#include "metadata/quadrant_menu.h"
#include "metadata/write_fault.h"
#include "metadata/xmp_metadata.h"

namespace {

// Maker notes, MPF previews, Adobe and other packets, phones and cameras.
constexpr const char* kCameraFiles[] = {
    "exif/test/sony-alpha-6000.jpg",    "exif/test/test1.jpg",           "exif/test/evil1.jpg",
    "exif/test/short-ascii-II.jpg",     "exif-parser/test/starfish.jpg", "exif-js/example/dsc_09827.jpg",
    "exif-js/example/DSCN0614_small.jpg", "goexif/sample1.jpg",          "goexif/samples/has-lens-info.jpg",
};
constexpr const char* kEmbeddedImages[] = {"PreviewImage", "MPImage2", "ThumbnailImage"};

// A packet as photo managers write it: attributes, a title in two
// languages, dates, a hierarchical keyword, a comment and padding.
constexpr char kPhotoManagerPacket[] = R"(<?xpacket begin="﻿" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/" x:xmptk="Adobe XMP Core 7.0-c000 1.000000, 0000/00/00-00:00:00        ">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:exif="http://ns.adobe.com/exif/1.0/"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:lr="http://ns.adobe.com/lightroom/1.0/"
   xmp:Rating="2"
   xmp:CreateDate="2019-07-14T10:11:00"
   exif:DateTimeDigitized="2019-07-14T10:11:00">
   <dc:title>
    <rdf:Alt>
     <rdf:li xml:lang="x-default">Harbour at dusk</rdf:li>
     <rdf:li xml:lang="de-DE">Hafen in der Dämmerung</rdf:li>
    </rdf:Alt>
   </dc:title>
   <lr:hierarchicalSubject>
    <rdf:Bag>
     <rdf:li>Places|Harbour</rdf:li>
    </rdf:Bag>
   </lr:hierarchicalSubject>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<!-- kept by the photo manager -->
                                                                                                    
<?xpacket end="w"?>)";

class CameraFilesWriteTest : public PictureFileTest {
protected:
    // A copy of the fixture to write into; skips the test without it.
    std::string Take(const std::string& fixture, const std::string& name) {
        const std::string source = Fixture(fixture);
        if (source.empty()) return {};
        const std::string path = PathOf(name);
        WriteWhole(path, ReadWhole(source));
        return path;
    }

    // A digest of each embedded image, in one exiftool run.
    std::string EmbeddedImages(const std::string& path) {
        std::string command = "exiftool -b";
        for (const char* tag : kEmbeddedImages) command += std::string(" -") + tag;
        return Shell(command + " " + ShellQuote(path) + " | md5sum");
    }

    // The picture's tags and its sidecar's, if it has one.
    std::set<std::string> AllTags(const std::string& path) {
        std::set<std::string> tags = Tags(path);
        if (std::filesystem::exists(path + ".xmp")) {
            // What exiftool says of the file as a file says nothing of its contents.
            for (const std::string& line : Tags(path + ".xmp")) {
                if (!line.starts_with("[File]")) tags.insert(line);
            }
        }
        return tags;
    }

    std::string Log() {
        std::string log;
        for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
            if (entry.path().filename().string().starts_with("VeltraneSSDebug")) log += ReadWhole(entry.path());
        }
        return log;
    }
};

TEST_F(CameraFilesWriteTest, ARatingALabelAndATurnChangeOnlyThemAndEveryEmbeddedImageStays) {
    int tried = 0;
    for (const char* fixture : kCameraFiles) {
        SCOPED_TRACE(fixture);
        const std::string path = Take(fixture, std::filesystem::path(fixture).filename().string());
        if (path.empty()) continue;
        ++tried;
        const std::string original = PathOf("original.jpg");
        WriteWhole(original, ReadWhole(path));
        const std::string images = EmbeddedImages(path);
        const std::string warnings = Shell("exiftool -warning -s3 " + ShellQuote(path));
        std::set<std::string> tags = AllTags(path);
        PictureMetadata info;
        ASSERT_NO_THROW(ScanFileForMetadata(path, info));
        const struct {
            unsigned field;
            const char* tag;
        } choices[] = {{kRatingField, "Rating"}, {kLabelField, "Label"}, {kOrientationField, "Orientation"}};
        for (const auto& choice : choices) {
            SCOPED_TRACE(choice.tag);
            if (choice.field == kRatingField) info.rating = 4;
            if (choice.field == kLabelField) info.isPrivate = true;
            if (choice.field == kOrientationField) info.orientation = TurnedOrientation(info.orientation, 90);
            EXPECT_TRUE(WriteMetadataToFile(path, info, choice.field));
            std::set<std::string> after = AllTags(path);
            for (const std::string& name : ChangedTags(tags, after)) EXPECT_EQ(name, choice.tag);
            tags = std::move(after);
            EXPECT_EQ(EmbeddedImages(path), images);
        }
        PictureMetadata read;
        ASSERT_NO_THROW(ScanFileForMetadata(path, read));
        EXPECT_EQ(std::tuple(read.rating, read.isPrivate, read.orientation),
                  std::tuple(4, true, info.orientation));
        EXPECT_EQ(Shell("compare -quiet -metric AE " + ShellQuote(path) + " " + original + " null: 2>&1"), "0");
        EXPECT_EQ(Shell("exiftool -warning -s3 " + ShellQuote(path)), warnings);
        std::filesystem::remove(path);
        std::filesystem::remove(path + ".xmp");
    }
    if (tried == 0) GTEST_SKIP() << "no camera files: run scripts/fetch-fixtures";
}

// The packet is edited, not written anew: with room in its padding the file
// keeps its size, and every byte but the value stays.
TEST_F(CameraFilesWriteTest, APhotoManagersPacketKeepsEveryByteButTheValue) {
    const std::string path = Take("exif/test/test1.jpg", "managed.jpg");
    if (path.empty()) GTEST_SKIP() << "no camera files: run scripts/fetch-fixtures";
    WriteWhole(PathOf("packet.xmp"), kPhotoManagerPacket);
    Exiftool(path, "'-XMP<=" + PathOf("packet.xmp") + "'");
    const auto size = std::filesystem::file_size(path);
    EXPECT_TRUE(WriteMetadataToFile(path, {.rating = 4}, kRatingField));
    std::string expected = kPhotoManagerPacket;
    expected.replace(expected.find("xmp:Rating=\"2\""), 14, "xmp:Rating=\"4\"");
    EXPECT_EQ(Shell("exiftool -b -XMP " + ShellQuote(path)), expected);
    EXPECT_EQ(std::filesystem::file_size(path), size);
}

// A sidecar in a photo manager's own layout keeps all of it.
TEST_F(CameraFilesWriteTest, ASidecarKeepsItsLanguagesDatesAndComment) {
    const std::string path = Take("exif/test/sony-alpha-6000.jpg", "DSC01234.JPG");
    if (path.empty()) GTEST_SKIP() << "no camera files: run scripts/fetch-fixtures";
    std::string sidecar = kPhotoManagerPacket;
    sidecar = sidecar.substr(sidecar.find("<x:xmpmeta"), sidecar.find("<!--") - sidecar.find("<x:xmpmeta"));
    sidecar = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + sidecar + "<!-- written by the photo manager -->\n";
    WriteWhole(PathOf("DSC01234.xmp"), sidecar);
    const std::string picture = ReadWhole(path);
    EXPECT_TRUE(WriteMetadataToFile(path, {.rating = 5}, kRatingField));
    std::string expected = sidecar;
    expected.replace(expected.find("xmp:Rating=\"2\""), 14, "xmp:Rating=\"5\"");
    EXPECT_EQ(ReadWhole(PathOf("DSC01234.xmp")), expected);
    // Its maker notes name data by absolute offsets: the picture stays as it was.
    EXPECT_EQ(ReadWhole(path), picture);
}

// What a faulty writer would make never replaces the picture.
TEST_F(CameraFilesWriteTest, ADamagedCopyIsRefusedAndThePictureStaysByteIdentical) {
    const std::string path = Take("exif/test/sony-alpha-6000.jpg", "sony.jpg");
    if (path.empty()) GTEST_SKIP() << "no camera files: run scripts/fetch-fixtures";
    // With room for the rating in place, the write reaches the copy's verify.
    WriteWhole(PathOf("packet.xmp"), kPhotoManagerPacket);
    Exiftool(path, "'-XMP<=" + PathOf("packet.xmp") + "'");
    const FileIdentity before = Identify(path);
    const std::size_t size = before.bytes.size();
    const std::pair<const char*, WriteFault> faults[] = {
        {"end marker cut", [](const std::string& copy) { std::filesystem::resize_file(copy, std::filesystem::file_size(copy) - 2); }},
        {"preview cut",
         [size](const std::string& copy) {
             std::string bytes = ReadWhole(copy);
             bytes.erase(size - 400000, 300000);
             WriteWhole(copy, bytes);
         }},
        {"maker flipped",
         [](const std::string& copy) {
             std::string bytes = ReadWhole(copy);
             bytes[bytes.find("SONY")] = '.';
             WriteWhole(copy, bytes);
         }},
    };
    OpenDebugLog();
    for (const auto& [what, fault] : faults) {
        SCOPED_TRACE(what);
        SetWriteFaultForTesting(fault);
        EXPECT_FALSE(WriteMetadataToFile(path, {.rating = 4}, kRatingField));
        EXPECT_EQ(Identify(path), before);
    }
    SetWriteFaultForTesting(nullptr);
    CloseDebugLog();
    EXPECT_NE(Log().find("WriteMetadataToFile left " + path + " as it was"), std::string::npos) << Log();
    EXPECT_FALSE(std::filesystem::exists(path + ".xmp"));
}

}  // namespace
