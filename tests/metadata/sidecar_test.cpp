// Ratings and labels in the XMP sidecars photo managers keep beside a
// picture, with exiftool as the independent witness of what each file holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <tuple>

#include "diag/debug_log.h"
#include "metadata/picture_files.h"
#include "metadata/xmp_metadata.h"

namespace {

using SidecarTest = PictureFileTest;

auto Choices(const PictureMetadata& info) { return std::tuple(info.rating, info.isPrivate, info.orientation); }

PictureMetadata Scan(const std::string& path) {
    PictureMetadata info;
    ScanFileForMetadata(path, info);
    return info;
}

// As darktable writes them: an XML declaration, no packet wrapper, its
// edit history in a namespace of its own.
constexpr char kDarktableSidecar[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/" x:xmptk="XMP Core 4.4.0-Exiv2">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:darktable="http://darktable.sf.net/"
   xmp:Rating="1"
   darktable:history_end="1">
   <darktable:history>
    <rdf:Seq>
     <rdf:li darktable:operation="exposure" darktable:enabled="1" darktable:params="0000c0bf"/>
    </rdf:Seq>
   </darktable:history>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
)";

TEST_F(SidecarTest, SidecarRatingAndLabelWinWhereItHoldsThemInConventionOrder) {
    const std::string own = MakePicture("own.jpg", 16, 16);
    Exiftool(own, "-XMP-xmp:Rating=4 -Orientation#=3");
    // The folder as the walk meets it, long after it last changed: what it
    // lists now must not hide a sidecar added later.
    const timespec longAgo[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, WorkDir().c_str(), longAgo, 0), 0);
    EXPECT_EQ(Choices(Scan(own)), std::tuple(4, false, 3));
    // Raw converters keep their own edits under tiff:Orientation.
    Exiftool(PathOf("own.jpg.xmp"), "-XMP-xmp:Label=private -XMP-tiff:Orientation#=6");
    EXPECT_EQ(Choices(Scan(own)), std::tuple(4, true, 3));

    const std::string upper = MakePicture("upper.JPG", 16, 16);
    Exiftool(upper, "-XMP-xmp:Rating=5");
    Exiftool(PathOf("upper.XMP"), "-XMP-xmp:Rating=1");
    EXPECT_EQ(Scan(upper).rating, 1);

    const std::string both = MakePicture("both.jpg", 16, 16);
    Exiftool(PathOf("both.jpg.xmp"), "-XMP-xmp:Rating=2");
    Exiftool(PathOf("both.xmp"), "-XMP-xmp:Rating=1 -XMP-xmp:Label=private");
    EXPECT_EQ(Choices(Scan(both)), std::tuple(2, false, 1));
}

TEST_F(SidecarTest, MenuWriteReachesPictureAndSidecarAndNothingElseInTheSidecarChanges) {
    const std::string dark = MakePicture("dark.jpg", 64, 48);
    WriteWhole(PathOf("dark.jpg.xmp"), kDarktableSidecar);
    // A picture that cannot take the choice: the sidecar, which photo
    // managers read, takes it in its place, where it held nothing before.
    const std::string locked = MakePicture("locked.jpg", 64, 48);
    Exiftool(locked, "-XMP-xmp:Rating=3 -XMP-xmp:Label=private");
    Exiftool(PathOf("locked.xmp"), "-XMP-dc:Subject=harbour -XMP-dc:Subject=dusk");
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    const FileIdentity lockedBefore = Identify(locked);

    const auto others = [](const std::string& sidecar) {
        return Shell("exiftool -s -n -XMP:all --XMP-xmp:Rating --XMP-xmp:Label " + ShellQuote(sidecar));
    };
    const std::string darkOthers = others(PathOf("dark.jpg.xmp"));
    const std::string lockedOthers = others(PathOf("locked.xmp"));
    ASSERT_NE(darkOthers.find("HistoryOperation"), std::string::npos);

    WriteMetadataToFile(dark, {.rating = 4, .isPrivate = true});
    for (const std::string& file : {dark, PathOf("dark.jpg.xmp")}) {
        EXPECT_EQ(ExifValue(file, "XMP-xmp:Rating"), "4") << file;
        EXPECT_EQ(ExifValue(file, "XMP-xmp:Label"), "private") << file;
    }
    const PictureMetadata cleared{.rating = 0, .isPrivate = false};
    WriteMetadataToFile(locked, cleared);
    EXPECT_EQ(Identify(locked), lockedBefore);
    EXPECT_EQ(ExifValue(PathOf("locked.xmp"), "XMP-xmp:Rating"), "0");
    EXPECT_EQ(ExifValue(PathOf("locked.xmp"), "XMP-xmp:Label"), "none");
    EXPECT_EQ(Choices(Scan(locked)), Choices(cleared));

    EXPECT_EQ(others(PathOf("dark.jpg.xmp")), darkOthers);
    EXPECT_EQ(others(PathOf("locked.xmp")), lockedOthers);
    // Each keeps its own form.
    const std::string darkText = ReadWhole(PathOf("dark.jpg.xmp"));
    EXPECT_TRUE(darkText.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<x:xmpmeta")) << darkText;
    EXPECT_EQ(darkText.find("<?xpacket"), std::string::npos);
    const std::string lockedText = ReadWhole(PathOf("locked.xmp"));
    EXPECT_NE(lockedText.find("<?xpacket begin"), std::string::npos);
    EXPECT_EQ(lockedText.find(std::string(32, ' ')), std::string::npos) << "padded";
}

TEST_F(SidecarTest, SidecarThatIsNoUsableXmpIsPassedOverAndLeftByteForByte) {
    const std::string path = MakePicture("shown.jpg", 64, 48);
    Exiftool(path, "-XMP-xmp:Rating=3");
    const std::string sidecar = PathOf("shown.jpg.xmp");
    const std::string unusable[] = {
        "garbage",
        "",
        "<html><body>notes</body></html>",
        R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">)"
        R"(<rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:Rating="2.5"/>)"
        R"(</rdf:RDF></x:xmpmeta>)",
    };
    std::int32_t rating = 3;
    for (const std::string& text : unusable) {
        WriteWhole(sidecar, text);
        EXPECT_EQ(Choices(Scan(path)), std::tuple(rating, false, 1)) << text;
        const FileIdentity before = Identify(sidecar);
        WriteMetadataToFile(path, {.rating = ++rating});
        EXPECT_EQ(Identify(sidecar), before) << text;
        EXPECT_EQ(ExifValue(path, "XMP-xmp:Rating"), std::to_string(rating)) << text;
    }
}

// The sidecar wins at the next read: a choice it cannot take is no choice
// saved, and the picture does not take it alone either.
TEST_F(SidecarTest, ASidecarThatCannotBeWrittenRefusesTheWholeWriteAndTheLogNamesIt) {
    const std::string picture = MakePicture("locked.jpg", 32, 24);
    const std::string sidecar = PathOf("locked.jpg.xmp");
    Exiftool(sidecar, "-XMP-xmp:Rating=1");
    ASSERT_EQ(chmod(sidecar.c_str(), 0444), 0);
    const FileIdentity pictureBefore = Identify(picture);
    const FileIdentity sidecarBefore = Identify(sidecar);
    OpenDebugLog();
    EXPECT_FALSE(WriteMetadataToFile(picture, {.rating = 3}, kRatingField));
    CloseDebugLog();
    EXPECT_EQ(Identify(picture), pictureBefore);
    EXPECT_EQ(Identify(sidecar), sidecarBefore);
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
        if (entry.path().filename().string().starts_with("VeltraneSSDebug")) log += ReadWhole(entry.path());
    }
    EXPECT_NE(log.find("WriteMetadataToFile left " + sidecar + " as it was"), std::string::npos) << log;
}

}  // namespace
