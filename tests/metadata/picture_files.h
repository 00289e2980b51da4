// Test pictures, made by independent tools: ImageMagick's convert for the
// pixels, exiftool for metadata written and read back, ffmpeg for clips.
// Each test works in a fresh scratch directory.
#pragma once

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "platform/store_test_support.h"

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A small packet that rates a picture 4, as containers carry it.
inline const std::string kRatingPacket =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
    "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// Runs a shell command; its standard output without the last line break.
inline std::string Shell(const std::string& command, int* status = nullptr) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
        const int result = pclose(pipe);
        if (status) *status = result;
    } else if (status) {
        *status = -1;
    }
    if (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

// A PNG whose header claims width × height RGB pixels, followed by a few
// bytes of image data that would never fill them: a decompression bomb.
inline std::string PngClaiming(std::uint32_t width, std::uint32_t height) {
    std::string png = "\x89PNG\r\n\x1a\n";
    const auto word = [](std::uint32_t value) {
        std::string bytes;
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
        return bytes;
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        png += word(static_cast<std::uint32_t>(data.size())) + body +
               word(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                     static_cast<uInt>(body.size()))));
    };
    chunk("IHDR", word(width) + word(height) + std::string("\x08\x02\x00\x00\x00", 5));
    chunk("IDAT", std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9));
    chunk("IEND", "");
    return png;
}

// Every tag exiftool finds, unknown ones too, one "[group] name : value"
// line each, without what describes the file rather than its contents.
inline std::set<std::string> Tags(const std::string& path) {
    std::set<std::string> tags;
    std::istringstream lines(Shell("exiftool -a -G1 -s -u --System:all --ExifTool:all " + ShellQuote(path) + " 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) tags.insert(line);
    return tags;
}

// The tag names of lines present on one side only.
inline std::set<std::string> ChangedTags(const std::set<std::string>& before, const std::set<std::string>& after) {
    std::set<std::string> names;
    const auto add = [&names](const std::set<std::string>& from, const std::set<std::string>& other) {
        for (const std::string& line : from) {
            if (other.count(line)) continue;
            std::istringstream words(line.substr(line.find(']') + 1));
            std::string name;
            words >> name;
            names.insert(name);
        }
    };
    add(before, after);
    add(after, before);
    return names;
}

// A real camera file from the packages of test fixtures that
// scripts/fetch-fixtures fetches ($KALEIDRA_FIXTURES, else the checkout's
// .fixtures); empty when it is not there.
inline std::string Fixture(const std::string& relative) {
    const char* folder = std::getenv("KALEIDRA_FIXTURES");
    if (!folder) folder = KALEIDRA_FIXTURES_DIR;
    const std::filesystem::path path = std::filesystem::path(folder) / relative;
    return std::filesystem::exists(path) ? path.string() : std::string();
}

struct FileIdentity {
    std::string bytes;
    ino_t inode = 0;
    mode_t mode = 0;
    bool operator==(const FileIdentity&) const = default;
};

inline FileIdentity Identify(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return {ReadWhole(path), status.st_ino, status.st_mode};
}

class PictureFileTest : public ScratchStoreTest {
protected:
    std::string PathOf(const std::string& name) const { return (WorkDir() / name).string(); }

    // A picture with detail in it; the suffix chooses the format. extra goes
    // to convert before the output name (a colour space, a depth).
    std::string MakePicture(const std::string& name, int width, int height, const std::string& extra = "") {
        const std::string path = PathOf(name);
        int status = 0;
        Shell("convert -seed 7 -size " + std::to_string(width) + "x" + std::to_string(height) + " plasma:fractal " +
                  extra + " " + ShellQuote(path) + " 2>&1",
              &status);
        EXPECT_EQ(status, 0) << "convert failed for " << name;
        return path;
    }

    // exiftool writes tags, e.g. "-XMP-xmp:Rating=3 -Orientation#=6".
    void Exiftool(const std::string& path, const std::string& tags) {
        int status = 0;
        const std::string output =
            Shell("exiftool -q -q -overwrite_original " + tags + " " + ShellQuote(path) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << output;
    }

    // ffmpeg run on arguments (inputs, options, output), quietly.
    void Ffmpeg(const std::string& arguments) {
        int status = 0;
        const std::string output = Shell("ffmpeg -nostdin -v error -y " + arguments + " 2>&1", &status);
        EXPECT_EQ(status, 0) << output;
    }

    // One tag as exiftool reads it, numerically; empty when absent.
    std::string ExifValue(const std::string& path, const std::string& tag) {
        return Shell("exiftool -s3 -n -" + tag + " " + ShellQuote(path) + " 2>/dev/null");
    }
};
