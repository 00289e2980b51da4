// JPEG and TIFF files rewritten with a new XMP packet and orientation, judged
// by exiftool and ImageMagick: nothing but the packet and the orientation
// may change, and broken files are refused without harm.
#include "metadata/xmp_container.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <sstream>

#include "metadata/picture_files.h"
#include "metadata/tiff_structure.h"

namespace {

class JpegTiffContainerTest : public PictureFileTest {
protected:
    // The file rewritten through the containers into a sibling file.
    std::string Rewritten(const std::string& path, const std::string& packet = kRatingPacket) {
        const std::string bytes = ReadWhole(path);
        const std::string out = PathOf("rewritten-" + std::filesystem::path(path).filename().string());
        WriteWhole(out, RewriteContainer(SniffContainer(bytes), bytes, packet, 8));
        return out;
    }

    // All that exiftool sees in the file except what a rewrite may change.
    std::string UntouchedMetadata(const std::string& path) {
        std::istringstream lines(Shell("exiftool -validate -a -G1 -s " + ShellQuote(path)));
        std::string kept;
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("[XMP-") || line.starts_with("[System]") || line.find(" Orientation ") != line.npos) {
                continue;
            }
            kept += line + "\n";
        }
        return kept;
    }

    // Every page or frame, so a lost second page shows.
    void ExpectSamePixels(const std::string& before, const std::string& after) {
        std::istringstream frames(Shell("identify -format '%p ' " + ShellQuote(before)));
        for (std::string frame; frames >> frame;) {
            const auto pixels = [&frame](const std::string& path) { return ShellQuote(path + "[" + frame + "]"); };
            EXPECT_EQ(Shell("compare -metric AE " + pixels(before) + " " + pixels(after) + " null: 2>&1"), "0")
                << "frame " << frame;
        }
    }

    void ExpectOnlyPacketAndOrientationChanged(const std::string& before, const std::string& after,
                                               const std::string& packet = kRatingPacket) {
        EXPECT_EQ(UntouchedMetadata(after), UntouchedMetadata(before));
        EXPECT_EQ(ExifValue(after, "XMP-xmp:Rating"), "4");
        EXPECT_EQ(ExifValue(after, "IFD0:Orientation"), "8");
        ExpectSamePixels(before, after);
        const std::string bytes = ReadWhole(after);
        const ContainerMetadata read = ReadContainer(SniffContainer(bytes), bytes);
        EXPECT_EQ(read.packet, packet);
        EXPECT_EQ(read.exifOrientation, 8);
    }
};

TEST_F(JpegTiffContainerTest, CameraJpegKeepsItsExifIptcAndThumbnail) {
    const std::string thumbnail = MakePicture("thumb.jpg", 16, 12);
    const std::string path = MakePicture("camera.jpg", 64, 48);
    Exiftool(path,
             "'-DateTimeOriginal=2019:07:14 10:11:00' '-CreateDate=2019:07:14 10:11:00' -GPSLatitude=48.85 "
             "-GPSLatitudeRef=N -GPSLongitude=2.35 -GPSLongitudeRef=E -IPTC:Keywords=beach -IPTC:Keywords=summer "
             "'-ThumbnailImage<=" + thumbnail + "' -Make=Canon -Model=EOS -Orientation#=6 -XMP-dc:Subject=old");
    const std::string out = Rewritten(path);
    ExpectOnlyPacketAndOrientationChanged(path, out);
    EXPECT_EQ(ExifValue(out, "XMP-dc:Subject"), "");  // replaced, not joined by a second packet
}

TEST_F(JpegTiffContainerTest, JpegWithoutPacketOrOrientationGainsBothAfterJfifAndExif) {
    const std::string path = MakePicture("plain.jpg", 64, 48);
    Exiftool(path, "-Make=Canon '-DateTimeOriginal=2019:07:14 10:11:00' -Orientation#=1");
    Exiftool(path, "-Orientation=");
    ASSERT_EQ(ReadContainer(ContainerFormat::Jpeg, ReadWhole(path)).exifOrientation, 0);
    const std::string out = Rewritten(path);
    ExpectOnlyPacketAndOrientationChanged(path, out);
    EXPECT_EQ(ReadWhole(out).substr(0, 4), "\xFF\xD8\xFF\xE0");  // JFIF stays first
}

TEST_F(JpegTiffContainerTest, JpegWithoutExifGainsABlockHoldingTheOrientation) {
    const std::string path = MakePicture("bare.jpg", 64, 48);
    const std::string out = Rewritten(path);
    EXPECT_EQ(ExifValue(out, "IFD0:Orientation"), "8");
    EXPECT_EQ(ExifValue(out, "IFD0:XResolution"), ExifValue(path, "JFIF:XResolution"));  // the same print size
    EXPECT_EQ(Shell("exiftool -s3 -validate -warning " + ShellQuote(out)), "OK");
    ExpectSamePixels(path, out);
    const std::string bytes = ReadWhole(out);
    EXPECT_EQ(bytes.substr(0, 4), "\xFF\xD8\xFF\xE0");
    EXPECT_LT(bytes.find("Exif"), bytes.find("http://ns.adobe.com/xap/1.0/"));
}

TEST_F(JpegTiffContainerTest, TiffPacketIsReplacedInPlaceOrMovedWhenLarger) {
    const std::string larger = std::string(kRatingPacket).insert(kRatingPacket.find("<?xpacket end"), 4000, ' ');
    for (const std::string& packet : {kRatingPacket, larger}) {
        SCOPED_TRACE(packet.size());
        const std::string path = MakePicture("xmp.tif", 64, 48);
        // Without an orientation the entry moves to a directory copy.
        Exiftool(path, "-IFD0:Orientation= -XMP-dc:Subject=one -XMP-dc:Subject=two -XMP-dc:Subject=three");
        const std::string out = Rewritten(path, packet);
        ExpectOnlyPacketAndOrientationChanged(path, out, packet);
        EXPECT_EQ(ExifValue(out, "XMP-dc:Subject"), "");
    }
}

TEST_F(JpegTiffContainerTest, TiffWithoutPacketGainsADirectoryEntryInEitherByteOrder) {
    // With an orientation and without, when IFD0 gains both entries.
    for (const auto& [endian, orientation] : {std::pair{"LSB", "#=3"}, std::pair{"MSB", "="}}) {
        SCOPED_TRACE(endian);
        // Two pages: the second directory must stay reachable from the first.
        const std::string page = MakePicture("page.png", 32, 24);
        const std::string path = MakePicture(endian + std::string(".tif"), 64, 48, page + " -endian " + endian);
        Exiftool(path, "-IFD0:Orientation" + std::string(orientation) + " -IFD0:Artist=Someone");
        ASSERT_FALSE(ReadContainer(ContainerFormat::Tiff, ReadWhole(path)).hasPacket);
        const std::string out = Rewritten(path);
        ExpectOnlyPacketAndOrientationChanged(path, out);
    }
}

TEST(ContainerSniffTest, FormatComesFromTheLeadingBytes) {
    using namespace std::string_view_literals;
    EXPECT_EQ(SniffContainer("\xFF\xD8\xFF\xE1"sv), ContainerFormat::Jpeg);
    EXPECT_EQ(SniffContainer("II*\0\x08\0\0\0"sv), ContainerFormat::Tiff);
    EXPECT_EQ(SniffContainer("MM\0*\0\0\0\x08"sv), ContainerFormat::Tiff);
    EXPECT_EQ(SniffContainer("\x89PNG\r\n\x1A\n"sv), ContainerFormat::Png);
    EXPECT_EQ(SniffContainer("RIFF\x10\0\0\0WEBPVP8 "sv), ContainerFormat::WebP);
    EXPECT_EQ(SniffContainer("RIFF\x10\0\0\0WAVEfmt "sv), ContainerFormat::Unknown);
    EXPECT_EQ(SniffContainer("RIFF"sv), ContainerFormat::Unknown);
    EXPECT_EQ(SniffContainer("II+\0"sv), ContainerFormat::Unknown);
}

TEST(ContainerRefusalTest, BrokenOrUnwritableFilesRaiseContainerError) {
    using namespace std::string_literals;
    const std::string jpegStart = "\xFF\xD8\xFF\xE0\x00\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0"s;
    const std::string tiff = "II*\0\x08\0\0\0\x01\0\xBC\x02\x07\0\x40\0\0\0\x1A\0\0\0\0\0\0\0"s + std::string(64, 'x');
    const struct {
        const char* what;
        ContainerFormat format;
        std::string bytes;
    } cases[] = {
        {"garbage", ContainerFormat::Unknown, "not a picture"},
        {"jpeg cut short", ContainerFormat::Jpeg, jpegStart.substr(0, 12)},
        {"jpeg without scan", ContainerFormat::Jpeg, jpegStart},
        {"jpeg segment beyond end", ContainerFormat::Jpeg, jpegStart + "\xFF\xE1\xFF\xF0" "Exif"s},
        {"jpeg length field cut", ContainerFormat::Jpeg, jpegStart + "\xFF\xE1\x01"s},
        {"tiff directory beyond end", ContainerFormat::Tiff, "II*\0\xFF\xFF\0\0"s + tiff.substr(8)},
        {"tiff cut before its next-directory offset", ContainerFormat::Tiff,
         "II*\0\x08\0\0\0\x01\0\0\x01\x03\0\x01\0\0\0\x40\0\0\0"s},
        {"tiff packet beyond end", ContainerFormat::Tiff, tiff.substr(0, 40)},
        {"bigtiff", ContainerFormat::Tiff, "II+\0\x08\0\0\0\0\0\0\0\0\0\0\0"s},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(ReadContainer(c.format, c.bytes), ContainerError) << c.what;
        EXPECT_THROW(RewriteContainer(c.format, c.bytes, kRatingPacket, 8), ContainerError) << c.what;
    }
    EXPECT_EQ(ReadContainer(ContainerFormat::Tiff, tiff).packet, std::string(64, 'x'));  // the cases' control
    const std::string jpeg = jpegStart + "\xFF\xDA"s;
    EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, jpeg, std::string(65505, ' '), 0), ContainerError);
    EXPECT_NO_THROW(RewriteContainer(ContainerFormat::Jpeg, jpeg, std::string(65504, ' '), 0));
}

TEST(ContainerRefusalTest, ExifDirectoryRunningPastItsBlockIsNotLookedInto) {
    using namespace std::string_literals;
    // The segment after the Exif block holds what reads as a directory with
    // an Orientation entry.
    const std::string next = "\xFF\xE2\0\x14\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"s;
    const std::string exifBlocks[] = {
        "\xFF\xE1\0\x10" "Exif\0\0MM\0*\0\0\0\x0C"s,                         // IFD0 starts past the block
        "\xFF\xE1\0\x1A" "Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01"s,  // its value does
    };
    for (const std::string& exif : exifBlocks) {
        const std::string jpeg = "\xFF\xD8"s + exif + next + "\xFF\xDA"s;
        EXPECT_EQ(ReadContainer(ContainerFormat::Jpeg, jpeg).exifOrientation, 0);
        EXPECT_NE(RewriteContainer(ContainerFormat::Jpeg, jpeg, kRatingPacket, 0).find(next), std::string::npos);
        EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, jpeg, kRatingPacket, 8), ContainerError);
    }
}

// Camera raw files are read in place through their descriptor, and may be
// cut short by another program while they are.
TEST(TiffReaderTest, FileReadsAsMemoryDoesUntilItShrinks) {
    using namespace std::string_literals;
    // IFD0 holding an XMP entry whose sixteen bytes lie after the directory.
    const std::string tiff =
        "MM\0*\0\0\0\x08\0\x01\x02\xBC\0\x07\0\0\0\x10\0\0\0\x1A\0\0\0\0"s + std::string(16, 'x');
    const int file = memfd_create("tiff", 0);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, tiff.data(), tiff.size()), static_cast<ssize_t>(tiff.size()));
    const TiffStructure read = TiffStructure::OfFile(file);
    const std::vector<TiffEntry> entries = read.Entries(read.FirstDirectory());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].tag, kTiffXmpTag);
    ASSERT_EQ(read.ValueAt(entries[0]), 26u);
    std::string value(16, '\0');
    read.Read(26, value.size(), value.data());
    EXPECT_EQ(value, std::string(16, 'x'));
    ASSERT_EQ(ftruncate(file, 30), 0);
    EXPECT_THROW(read.Read(26, value.size(), value.data()), ContainerError);
    close(file);
}

TEST(ContainerRefusalTest, OrientationNotGainedWhereItCannotBeOrFitsNowhere) {
    using namespace std::string_literals;
    // IFD0 holding the tag as a LONG: a second, SHORT one would leave
    // readers to pick either.
    const std::string longTag = "MM\0*\0\0\0\x08\0\x01\x01\x12\0\x04\0\0\0\x01\0\0\0\x06\0\0\0\0"s;
    const auto exif = [](const std::string& tiff) {
        const std::size_t length = 8 + tiff.size();
        return "\xFF\xD8\xFF\xE1"s + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) +
               "Exif\0\0"s + tiff + "\xFF\xDA"s;
    };
    EXPECT_THROW(RewriteContainer(ContainerFormat::Tiff, longTag, kRatingPacket, 8), ContainerError);
    EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, exif(longTag), kRatingPacket, 8), ContainerError);
    // An Exif block whose directory copy would not fit in its segment.
    const std::string empty = "MM\0*\0\0\0\x08\0\0\0\0\0\0"s;
    EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, exif(empty + std::string(65500, '\0')), kRatingPacket, 8),
                 ContainerError);
}

}  // namespace

namespace {

using namespace std::string_literals;

std::string Segment(const std::string& marker, const std::string& payload) {
    const std::size_t length = 2 + payload.size();
    return marker + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + payload;
}

TEST(ContainerMoveTest, LengthChangesOnlyWhereNoOffsetNamesWhatFollows) {
    // IFD0 with an orientation, pointing at an Exif IFD that holds a maker note.
    const std::string makerNote = Segment(
        "\xFF\xE1"s, "Exif\0\0MM\0*\0\0\0\x08\0\x02\x01\x12\0\x03\0\0\0\x01\0\x01\0\0"
                     "\x87\x69\0\x04\0\0\0\x01\0\0\0\x26\0\0\0\0\0\x01\x92\x7C\0\x07\0\0\0\x04SONY\0\0\0\0"s);
    const std::string plainExif = Segment("\xFF\xE1"s, "Exif\0\0MM\0*\0\0\0\x08\0\0\0\0\0\0"s);
    const std::string mpf = Segment("\xFF\xE2"s, "MPF\0MM\0*\0\0\0\x08\0\0\0\0\0\0"s);
    const std::string xmp = Segment("\xFF\xE1"s, "http://ns.adobe.com/xap/1.0/\0"s + kRatingPacket);
    const std::string scan = "\xFF\xDA"s;
    const std::string longer = kRatingPacket + " ";
    EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, "\xFF\xD8"s + makerNote + scan, kRatingPacket, 0),
                 ContainerMoveError);
    EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, "\xFF\xD8"s + makerNote + xmp + scan, longer, 0),
                 ContainerMoveError);
    EXPECT_NO_THROW(RewriteContainer(ContainerFormat::Jpeg, "\xFF\xD8"s + makerNote + xmp + scan, kRatingPacket, 6));
    // A turn alone, without a packet to add, patches the value in place.
    EXPECT_EQ(RewriteContainer(ContainerFormat::Jpeg, "\xFF\xD8"s + makerNote + scan, "", 6).size(),
              2 + makerNote.size() + scan.size());
    // MPF offsets count from the index itself: growth before it moves the
    // index and its images together, growth after it does not.
    EXPECT_NO_THROW(RewriteContainer(ContainerFormat::Jpeg, "\xFF\xD8"s + plainExif + mpf + scan, kRatingPacket, 8));
    EXPECT_THROW(RewriteContainer(ContainerFormat::Jpeg, "\xFF\xD8"s + plainExif + mpf + xmp + scan, longer, 0),
                 ContainerMoveError);
}

}  // namespace
