// Rating, label and orientation read from and written to picture files, with
// exiftool as the independent witness of what the files hold.
#include "metadata/xmp_metadata.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "metadata/picture_files.h"
#include "metadata/xmp_toolkit.h"

namespace {

using XmpMetadataTest = PictureFileTest;

// Every chunk's checksum matches its contents.
bool PngChunksIntact(const std::string& path) {
    const std::string png = ReadWhole(path);
    const auto word = [&png](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(png[at + i]);
        return value;
    };
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = word(at);
        if (at + 12 + length > png.size()) return false;
        const auto* typed = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        if (crc32(0, typed, length + 4) != word(at + 8 + length)) return false;
        at += 12 + length;
    }
    return at == png.size();
}

// The record's fields, comparable in one expectation.
auto Fields(const PictureMetadata& info) {
    return std::tuple(info.orientation, info.height, info.width, info.rating, info.isPrivate);
}

PictureMetadata Scan(const std::string& path) {
    PictureMetadata info;
    ScanFileForMetadata(path, info);
    return info;
}

TEST_F(XmpMetadataTest, ExifOrientationAndPixelSizeArriveWithoutAnXmpPacket) {
    const std::string path = MakePicture("camera.jpg", 64, 48);
    Exiftool(path, "-Orientation#=6 -ExifImageWidth=4000 -ExifImageHeight=3000");
    ASSERT_EQ(ExifValue(path, "XMP:all"), "");

    EXPECT_EQ(Fields(Scan(path)), Fields({.orientation = 6, .height = 3000, .width = 4000}));
}

TEST_F(XmpMetadataTest, ImageWidthWithoutImageHeightKeepsHeightZeroAndIgnoresExifSize) {
    const std::string png = MakePicture("width.png", 64, 48);
    Exiftool(png, "-XMP-tiff:ImageWidth=500 -XMP-exif:ExifImageWidth=4000 -XMP-exif:ExifImageHeight=3000");
    EXPECT_EQ(Fields(Scan(png)), Fields({.height = 0, .width = 500}));

    // A TIFF names its height ImageLength: every TIFF arrives this way.
    EXPECT_EQ(Fields(Scan(MakePicture("plain.tif", 64, 48))), Fields({.height = 0, .width = 64}));
}

TEST_F(XmpMetadataTest, NoOrientationStaysOneAndARatingOnlyWriteAddsNone) {
    const std::string path = MakePicture("plain.jpg", 64, 48);
    PictureMetadata info = Scan(path);
    EXPECT_EQ(info.orientation, 1);

    info.rating = 3;
    WriteMetadataToFile(path, info);
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Rating"), "3");
    EXPECT_EQ(ExifValue(path, "Orientation"), "");
    EXPECT_EQ(ExifValue(path, "Label"), "");
}

TEST_F(XmpMetadataTest, OrientationWrittenReachesExifInStepWithTiffOrientation) {
    const std::string path = MakePicture("turned.jpg", 64, 48);
    Exiftool(path, "-Orientation#=1");
    PictureMetadata info = Scan(path);
    info.orientation = 6;
    WriteMetadataToFile(path, info);

    EXPECT_EQ(ExifValue(path, "IFD0:Orientation"), "6");
    EXPECT_EQ(Scan(path).orientation, 6);
}

TEST_F(XmpMetadataTest, RatingOutsideTheMenuIsKeptAndANonIntegerRatingBlocksEverything) {
    const std::string negative = MakePicture("negative.jpg", 64, 48);
    Exiftool(negative, "-XMP-xmp:Rating=-1");
    PictureMetadata info = Scan(negative);
    EXPECT_EQ(info.rating, -1);
    info.orientation = 3;
    WriteMetadataToFile(negative, info);
    EXPECT_EQ(ExifValue(negative, "XMP-xmp:Rating"), "-1");
    EXPECT_EQ(ExifValue(negative, "IFD0:Orientation"), "3");

    const std::string fraction = MakePicture("fraction.jpg", 64, 48);
    Exiftool(fraction, "-Orientation#=8 -XMP-xmp:Rating=2.5");
    PictureMetadata partial;
    EXPECT_THROW(ScanFileForMetadata(fraction, partial), XmpToolkitError);
    EXPECT_EQ(partial.orientation, 8);  // read before the rating failed

    const FileIdentity before = Identify(fraction);
    for (const std::int32_t rating : {0, 2, 5}) {
        WriteMetadataToFile(fraction, PictureMetadata{.rating = rating});
        EXPECT_EQ(Identify(fraction), before);
    }
}

TEST_F(XmpMetadataTest, OnlyTheExactLabelPrivateIsPrivate) {
    const struct {
        const char* label;
        bool isPrivate;
    } cases[] = {{"private", true}, {"Private", false}, {"private ", false}, {"Red", false}};
    for (const auto& c : cases) {
        const std::string path = MakePicture("label.jpg", 16, 16);
        Exiftool(path, "'-XMP-xmp:Label=" + std::string(c.label) + "'");
        EXPECT_EQ(Scan(path).isPrivate, c.isPrivate) << '"' << c.label << '"';
    }
}

TEST_F(XmpMetadataTest, PrivateReplacesAnyLabelAndClearingWritesNone) {
    const std::string path = MakePicture("red.jpg", 64, 48);
    Exiftool(path, "-XMP-xmp:Label=Red");

    PictureMetadata info = Scan(path);
    WriteMetadataToFile(path, info);  // not private on either side: the label stays
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Label"), "Red");

    info.isPrivate = true;
    WriteMetadataToFile(path, info);
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Label"), "private");
    EXPECT_TRUE(Scan(path).isPrivate);

    info.isPrivate = false;
    WriteMetadataToFile(path, info);
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Label"), "none");
}

TEST_F(XmpMetadataTest, AnUnchangedRecordStillRewritesTheFileWithNothingChanged) {
    const std::string path = MakePicture("same.jpg", 64, 48);
    Exiftool(path, "-XMP-xmp:Rating=4 -XMP-xmp:Label=Blue -Orientation#=8 -XMP-dc:Title=Harbour");
    const std::string tags = "-XMP-xmp:Rating -XMP-xmp:Label -IFD0:Orientation -XMP-dc:Title";
    const std::string before = Shell("exiftool -s -n " + tags + " " + ShellQuote(path));
    const FileIdentity original = Identify(path);

    WriteMetadataToFile(path, Scan(path));
    EXPECT_NE(Identify(path).inode, original.inode);  // rewritten
    EXPECT_EQ(Shell("exiftool -s -n " + tags + " " + ShellQuote(path)), before);
}

TEST_F(XmpMetadataTest, PngWithoutMetadataReadsAsDefaultsAndTakesAPacket) {
    const std::string path = MakePicture("plain.png", 64, 48);
    EXPECT_EQ(Fields(Scan(path)), Fields({}));

    const PictureMetadata chosen{.orientation = 8, .rating = 5, .isPrivate = true};
    WriteMetadataToFile(path, chosen);
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Rating"), "5");
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Label"), "private");
    EXPECT_EQ(ExifValue(path, "XMP-tiff:Orientation"), "8");
    EXPECT_EQ(Fields(Scan(path)), Fields(chosen));
}

TEST_F(XmpMetadataTest, PngPacketThatShrinksStaysReadable) {
    // exempi rewrites a shorter packet in place over a longer one.
    const std::string path = MakePicture("described.png", 64, 48);
    Exiftool(path, "-XMP-xmp:Label=private -XMP-xmp:Rating=15 '-XMP-dc:Description=Harbour at dusk'");
    for (const std::int32_t rating : {1, 15, 2}) {
        PictureMetadata info = Scan(path);
        info.isPrivate = !info.isPrivate;
        info.rating = rating;
        WriteMetadataToFile(path, info);
        EXPECT_EQ(Fields(Scan(path)), Fields(info));
        EXPECT_TRUE(PngChunksIntact(path));
        EXPECT_EQ(ExifValue(path, "XMP-dc:Description"), "Harbour at dusk");
    }
}

TEST_F(XmpMetadataTest, FilesWithoutASmartHandlerFailToReadAndAreNeverWritten) {
    const std::string bmp = MakePicture("plain.bmp", 64, 48);
    const std::string missing = PathOf("missing.jpg");
    // The toolkit leaks on compressed XML longer than its first read;
    // LeakSanitizer watches this one.
    const std::string compressed = PathOf("notes.xml.gz");
    gzFile out = gzopen(compressed.c_str(), "wb");
    gzputs(out, "<?xml version=\"1.0\"?><notes>");
    for (int i = 0; i < 1000; ++i) gzprintf(out, "<n i=\"%d\"/>", i);
    gzputs(out, "</notes>");
    gzclose(out);
    for (const std::string& path : {bmp, missing, compressed}) {
        PictureMetadata info;
        EXPECT_THROW(ScanFileForMetadata(path, info), XmpToolkitError) << path;
    }
    const FileIdentity before = Identify(bmp);
    WriteMetadataToFile(bmp, {.rating = 3});
    WriteMetadataToFile(missing, {.rating = 3});
    EXPECT_EQ(Identify(bmp), before);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(XmpMetadataTest, WriteKeepsPermissionsFollowsLinksAndLeavesNoCopyBehind) {
    const std::string path = MakePicture("kept.jpg", 64, 48);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string link = PathOf("link.jpg");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);

    WriteMetadataToFile(link, {.rating = 2});
    EXPECT_EQ(ExifValue(path, "XMP-xmp:Rating"), "2");
    EXPECT_EQ(Identify(path).mode & 07777, 0640u);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(WorkDir())) ++entries;
    EXPECT_EQ(entries, 2);
}

TEST_F(XmpMetadataTest, ReadOnlyPictureIsLeftAlone) {
    const std::string path = MakePicture("locked.jpg", 64, 48);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const FileIdentity before = Identify(path);
    WriteMetadataToFile(path, {.rating = 5});
    EXPECT_EQ(Identify(path), before);
}

TEST_F(XmpMetadataTest, ToolkitComesBackAfterTermination) {
    const std::string path = MakePicture("again.jpg", 16, 16);
    Exiftool(path, "-XMP-xmp:Rating=4");
    EXPECT_TRUE(InitializeXmpToolkit());
    TerminateXmpToolkit();
    EXPECT_EQ(Scan(path).rating, 4);
    WriteMetadataToFile(path, {.rating = 1});
    TerminateXmpToolkit();
    EXPECT_EQ(Scan(path).rating, 1);
}

}  // namespace
