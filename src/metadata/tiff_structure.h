// The one reader of TIFF structures (a TIFF file, a camera raw file, an Exif
// block, an MPF index), all of them untrusted bytes: every offset and count
// is checked against the structure's end before it is followed, and what
// cannot be read raises ContainerError. Walks over many directories bound
// themselves with the limits below, so a loop or a bomb ends them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The TIFF field types the readers and writers meet.
inline constexpr std::uint16_t kTiffByteType = 1;
inline constexpr std::uint16_t kTiffShortType = 3;
inline constexpr std::uint16_t kTiffLongType = 4;
inline constexpr std::uint16_t kTiffRationalType = 5;
inline constexpr std::uint16_t kTiffUndefinedType = 7;
inline constexpr std::uint16_t kTiffIfdType = 13;

inline constexpr std::uint16_t kTiffOrientationTag = 0x0112;
inline constexpr std::uint16_t kTiffXmpTag = 700;
inline constexpr std::size_t kTiffHeaderSize = 8;  // byte order, version, first directory
inline constexpr std::size_t kTiffEntrySize = 12;
// A structure that names more directories is hostile; no camera or scanner
// writes so many.
inline constexpr std::size_t kTiffMostDirectories = 4096;

struct TiffEntry {
    std::size_t at = 0;  // of the entry's twelve bytes
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
};

class TiffStructure {
public:
    // Raises where bytes do not start with a classic TIFF header.
    explicit TiffStructure(std::string_view bytes);
    // The structure read in place through descriptor, for files too large to
    // hold whole (camera raw files); Bytes() is then empty.
    static TiffStructure OfFile(int descriptor);

    std::string_view Bytes() const { return bytes_; }
    std::uint64_t Size() const { return size_; }
    bool BigEndian() const { return bigEndian_; }
    // Whether size bytes at at lie within the structure.
    bool Within(std::uint64_t at, std::uint64_t size) const { return at <= size_ && size <= size_ - at; }
    // size bytes at at, copied to into.
    void Read(std::uint64_t at, std::size_t size, void* into) const;
    // An unsigned number of size (1 to 4) bytes in the structure's byte order.
    std::uint32_t Number(std::uint64_t at, int size) const;
    std::size_t FirstDirectory() const { return Number(4, 4); }

    // The directory's entries, its count and next-directory offset included
    // in the check that it lies within the structure.
    std::vector<TiffEntry> Entries(std::size_t directory) const;
    // Those entries that lie within the structure: what a forgiving reader
    // finds in a directory that runs past its end.
    std::vector<TiffEntry> EntriesWithin(std::size_t directory) const;
    std::size_t DirectorySize(std::size_t directory) const;
    std::uint32_t NextDirectory(std::size_t directory) const;

    // Where the entry's value is and how many bytes it takes, checked to lie
    // within the structure; raises for types TIFF does not define.
    std::size_t ValueAt(const TiffEntry& entry) const;
    std::size_t ValueSize(const TiffEntry& entry) const;
    // A SHORT, LONG or IFD entry's values.
    std::vector<std::uint32_t> Numbers(const TiffEntry& entry) const;

private:
    TiffStructure(std::string_view bytes, int descriptor, std::uint64_t size);
    void Require(std::uint64_t at, std::uint64_t size) const;

    std::string_view bytes_;
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
    bool bigEndian_ = false;
};

// The first entry for tag among entries.
std::optional<TiffEntry> FindTiffEntry(const std::vector<TiffEntry>& entries, std::uint16_t tag);

// Whether an Exif block holds a maker note (in IFD0 or the Exif IFD) as far
// as any reader could find one; a block no reader can follow holds none.
bool ExifHasMakerNote(std::string_view tiff);

// The thumbnail an Exif block's IFD1 names; empty when it names none.
// Raises where IFD0, IFD1 or the thumbnail do not lie within the block.
std::string_view ExifThumbnail(std::string_view tiff);

// Empty when the Exif block after holds all that before holds, the
// orientation value aside; else why not ("Exif block ..."). Where
// mayCopyFirstDirectory is set, after may also have gained the tag in a
// copy of IFD0 that holds every entry of the original, the original's other
// bytes staying as they were.
std::string ExifBlockDifference(std::string_view before, std::string_view after, bool mayCopyFirstDirectory);

// Empty when the TIFF file copy holds every directory reachable from IFD0
// (the page chain, Exif, GPS, interoperability and sub-IFDs), every entry
// and the strip, tile and thumbnail data of the original unchanged, except
// for IFD0's XMP and orientation; else why not.
std::string TiffFileDifference(std::string_view original, std::string_view copy);
