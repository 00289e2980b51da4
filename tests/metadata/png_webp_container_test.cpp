#include <gtest/gtest.h>

#include <string>

#include "metadata/container_formats.h"
#include "picture_files.h"

namespace {

const std::string kPacket =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
    "</rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";  // odd-sized: WebP pads it
const std::string kAlpha = "\\( +clone -fill black -colorize 100 -fill white -draw \"circle 24,16 24,2\" \\) -alpha off "
                           "-compose copy_opacity -composite ";
const std::string kExif = "-Orientation#=6 -DateTimeOriginal='2021:03:04 05:06:07'";

struct Picture {
    std::string name;
    std::string convertOptions;
    std::string exiftoolTags;  // written before the rewrite; empty for none
};

void PrintTo(const Picture& picture, std::ostream* out) { *out << picture.name; }

class PngWebPContainerTest : public PictureFileTest {
protected:
    std::string Make(const Picture& picture) {
        const std::string path = MakePicture(picture.name, 48, 32, picture.convertOptions);
        if (!picture.exiftoolTags.empty()) Exiftool(path, picture.exiftoolTags);
        return path;
    }
    static bool IsPng(const std::string& path) { return path.ends_with(".png"); }
    static ContainerMetadata Read(const std::string& path) {
        return IsPng(path) ? ReadPngContainer(ReadWhole(path)) : ReadWebPContainer(ReadWhole(path));
    }
    static void Rewrite(const std::string& path, int orientation) {
        const auto write = IsPng(path) ? RewritePngContainer : RewriteWebPContainer;
        WriteWhole(path, write(ReadWhole(path), kPacket, orientation));
    }
    // All exiftool sees, warnings included, but for what a rewrite may change.
    std::string Dump(const std::string& path) {
        return Shell("exiftool -a -G1 -s -all -validate -warning " + ShellQuote(path) +
                     " | grep -Ev '^\\[(System|File|Composite|XMP-[a-z]+)\\]|ExifToolVersion|WebP_Flags'"
                     " | sort -u");
    }
    // A signature of every frame's pixels, after ImageMagick's warnings. Its WebP
    // reader calls any XMP chunk corrupt, exiftool's own included.
    static std::string Pixels(const std::string& path) {
        return Shell("identify -format '%#,' " + path + " 2>&1 | grep -v 'CorruptImageProfile.*(XMP)'");
    }
};

class ContainerRoundTrip : public PngWebPContainerTest, public ::testing::WithParamInterface<Picture> {};

TEST_P(ContainerRoundTrip, OnlyThePacketChanges) {
    const std::string path = Make(GetParam());
    const std::string original = PathOf("original-" + GetParam().name);
    WriteWhole(original, ReadWhole(path));
    Rewrite(path, 0);

    EXPECT_EQ(Dump(path), Dump(original));
    EXPECT_EQ(Shell("exiftool -s3 -XMP:all " + path), "4");  // an old packet gone, not left beside
    EXPECT_EQ(Pixels(path), Pixels(original));
    if (!IsPng(path)) {  // decoders trusting the extended header must find the packet and the alpha
        const std::string flags = Shell("exiftool -s3 -WebP_Flags " + path);
        EXPECT_NE(flags.find("XMP"), std::string::npos) << flags;
        EXPECT_EQ(flags.find("Alpha") != std::string::npos,
                  Shell("identify -format %A, " + original + " 2>/dev/null").starts_with("True"))
            << flags;
    }
    EXPECT_EQ(Read(path).packet, kPacket);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ContainerRoundTrip,
    ::testing::Values(Picture{"lossy.webp", "-quality 80", ""},
                      Picture{"lossless.webp", "-define webp:lossless=true", ""},
                      Picture{"alpha-lossless.webp", kAlpha + "-define webp:lossless=true", ""},
                      Picture{"alpha-lossy.webp", kAlpha + "-quality 80", ""},
                      Picture{"exif.webp", "-quality 80", kExif},
                      Picture{"xmp.webp", "-quality 80", "-XMP-xmp:Rating=1 -XMP-dc:Title=Old"},
                      Picture{"animated.webp", "\\( +clone -negate \\) -delay 10", ""}, Picture{"plain.png", "", ""},
                      Picture{"xmp.png", "", "-XMP-xmp:Rating=1 -XMP-dc:Title=Old"},
                      Picture{"exif.png", "", kExif}));

// Some writers put the APP1 identifier before the TIFF header of a WebP's
// Exif, as in a JPEG; the exiftool at hand does not.
std::string WithExifPrefix(std::string webp) {
    const auto exif = webp.find("EXIF");
    webp.insert(exif + 8, std::string("Exif\0\0", 6));
    for (const std::size_t size : {std::size_t{4}, exif + 4}) {
        std::uint32_t value = 6;
        for (int i = 0; i < 4; ++i, value >>= 8) {
            value += static_cast<unsigned char>(webp[size + i]);
            webp[size + i] = static_cast<char>(value & 0xFF);
        }
    }
    return webp;
}

TEST_F(PngWebPContainerTest, ExifOrientationIsSetInPlace) {
    const std::string png = Make({"exif.png", "", kExif});
    const std::string webp = Make({"exif.webp", "-quality 80", kExif});
    const std::string prefixed = PathOf("prefixed.webp");
    WriteWhole(prefixed, WithExifPrefix(ReadWhole(webp)));
    for (const std::string& path : {png, webp, prefixed}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Read(path).exifOrientation, 6);
        Rewrite(path, 8);
        EXPECT_EQ(Read(path).exifOrientation, 8);
        EXPECT_EQ(ExifValue(path, "DateTimeOriginal"), "2021:03:04 05:06:07");
    }
    EXPECT_EQ(ExifValue(png, "Orientation"), "8");
    EXPECT_EQ(ExifValue(webp, "Orientation"), "8");
    const std::string kept = ReadWhole(prefixed);
    EXPECT_EQ(kept.substr(kept.find("EXIF") + 8, 6), std::string("Exif\0\0", 6));
}

TEST_F(PngWebPContainerTest, MalformedFilesAreRefused) {
    const std::string png = ReadWhole(Make({"plain.png", "", ""}));
    const std::string webp = ReadWhole(Make({"lossy.webp", "-quality 80", ""}));
    const auto patched = [](std::string bytes, std::size_t at, std::string_view with) {
        return bytes.replace(at, with.size(), with);
    };
    // A compressed packet, and two packets: replacing one would leave readers the other.
    const std::string rated = RewritePngContainer(png, kPacket, 0);
    const std::string twoPackets = std::string(rated).insert(33, rated.substr(33, 34 + kPacket.size()));
    for (const std::string& bytes : {png.substr(0, png.size() - 12), patched(png, 8, "\xFF\xFF\xFF\xF0"),
                                     patched(png, 33, "\x7F\xFF\xFF\xFF"), patched(rated, 59, "\x01"),
                                     twoPackets}) {
        EXPECT_THROW(ReadPngContainer(bytes), ContainerError);
        EXPECT_THROW(RewritePngContainer(bytes, kPacket, 0), ContainerError);
    }
    for (const std::string& bytes :
         {patched(webp, 4, "\xFF\xFF\xFF\x7F"), patched(webp, 16, "\xF0\xFF\xFF\xFF"), webp.substr(0, 24)}) {
        EXPECT_THROW(ReadWebPContainer(bytes), ContainerError);
        EXPECT_THROW(RewriteWebPContainer(bytes, kPacket, 0), ContainerError);
    }
    // Intact chunks around an image header too short to give the canvas.
    EXPECT_THROW(RewriteWebPContainer(std::string("RIFF\x0e\0\0\0WEBPVP8 \x02\0\0\0\x10\x02", 22), kPacket, 0),
                 ContainerError);
}

}  // namespace
