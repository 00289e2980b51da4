#include "metadata/png_xmp_padding.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
constexpr std::string_view kXmpKeyword{"XML:com.adobe.xmp\0", 18};
constexpr std::string_view kTrailerStart = "<?xpacket end=";
// Packets are a few kilobytes; anything far larger is not one exempi wrote.
constexpr std::uint32_t kLargestPacket = 1 << 24;

class File {
public:
    explicit File(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        if (fd_ < 0) Fail("open");
    }
    ~File() { close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // False at the end of the file.
    bool Read(off_t at, std::string& bytes) const {
        const ssize_t got = pread(fd_, bytes.data(), bytes.size(), at);
        if (got < 0) Fail("pread");
        return static_cast<std::size_t>(got) == bytes.size();
    }
    void Write(off_t at, std::string_view bytes) const {
        if (pwrite(fd_, bytes.data(), bytes.size(), at) != static_cast<ssize_t>(bytes.size())) Fail("pwrite");
    }

private:
    [[noreturn]] static void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }
    int fd_;
};

std::uint32_t BigEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (const char byte : bytes.substr(0, 4)) value = value << 8 | static_cast<unsigned char>(byte);
    return value;
}

std::string BigEndianBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 3; i >= 0; --i, value >>= 8) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    return bytes;
}

// The chunk's text with its trailer moved to the end; unchanged when the
// trailer already ends it or is not found.
std::string Repaired(const std::string& data) {
    const auto trailer = data.find(kTrailerStart);
    if (trailer == std::string::npos) return data;
    const auto trailerEnd = data.find("?>", trailer + kTrailerStart.size());
    if (trailerEnd == std::string::npos || trailerEnd + 2 == data.size()) return data;
    const std::string trailerText = data.substr(trailer, trailerEnd + 2 - trailer);
    return data.substr(0, trailer) + std::string(data.size() - trailer - trailerText.size(), ' ') + trailerText;
}

}  // namespace

void RepairPngXmpPadding(const std::string& path) {
    const File file(path);
    std::string header(kSignature.size(), '\0');
    if (!file.Read(0, header) || header != kSignature) return;
    std::string chunkHeader(8, '\0');
    for (off_t at = static_cast<off_t>(kSignature.size()); file.Read(at, chunkHeader);) {
        const std::uint32_t length = BigEndian(chunkHeader);
        const std::string_view type = std::string_view(chunkHeader).substr(4);
        if (type == "IEND") return;
        if (type == "iTXt" && length <= kLargestPacket) {
            std::string data(length, '\0');
            if (!file.Read(at + 8, data)) return;
            // Keyword, then uncompressed (flag 0): the only form XMP takes.
            if (data.starts_with(kXmpKeyword) && data.size() > kXmpKeyword.size() && data[kXmpKeyword.size()] == 0) {
                const std::string repaired = Repaired(data);
                if (repaired == data) return;
                const std::string typed = "iTXt" + repaired;
                const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
                file.Write(at + 8, repaired);
                file.Write(at + 8 + length, BigEndianBytes(static_cast<std::uint32_t>(crc)));
                return;
            }
        }
        at += 12 + static_cast<off_t>(length);
    }
}
