// The TIFF reader on any bytes, as an Exif block or a TIFF file would hand
// them over, and the writers that locate what they change through it.
// Input: the TIFF structure itself.
//
// The reader may refuse only with ContainerError, and every offset it
// reports lies within the bytes; read through a file it finds what it finds
// in memory. A turn set in place or an Orientation entry added must read
// back, and the verifiers must accept such a change as the only one.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "metadata/exif_orientation.h"
#include "metadata/tiff_structure.h"
#include "metadata/xmp_container.h"

namespace {

int memoryFile = -1;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "reader lied: %s\n", what);
        std::abort();
    }
}

bool SameEntries(const std::vector<TiffEntry>& a, const std::vector<TiffEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TiffEntry& x, const TiffEntry& y) {
        return x.at == y.at && x.tag == y.tag && x.type == y.type && x.count == y.count;
    });
}

// Every directory the chain and the directory tags reach, each entry's
// value asked for.
void Walk(const TiffStructure& tiff) {
    const std::size_t size = tiff.Bytes().size();
    std::vector<std::size_t> pending = {tiff.FirstDirectory()};
    std::set<std::size_t> named(pending.begin(), pending.end());
    while (!pending.empty() && named.size() <= kTiffMostDirectories) {
        const std::size_t directory = pending.back();
        pending.pop_back();
        std::vector<TiffEntry> entries;
        try {
            entries = tiff.EntriesWithin(directory);
        } catch (const ContainerError&) {
            continue;
        }
        for (const TiffEntry& entry : entries) {
            Require(entry.at >= directory && entry.at <= size && size - entry.at >= kTiffEntrySize,
                    "an entry lies outside the bytes");
            try {
                const std::size_t at = tiff.ValueAt(entry);
                Require(at <= size && tiff.ValueSize(entry) <= size - at, "a value lies outside the bytes");
                if (entry.tag != 0x8769 && entry.tag != 0x014A) continue;  // Exif IFD, SubIFDs
                for (const std::uint32_t inner : tiff.Numbers(entry)) {
                    if (named.insert(inner).second) pending.push_back(inner);
                }
            } catch (const ContainerError&) {
            }
        }
        try {
            const std::vector<TiffEntry> whole = tiff.Entries(directory);
            Require(SameEntries(whole, entries), "a whole directory reads otherwise than its entries");
            Require(directory + tiff.DirectorySize(directory) <= size, "a whole directory runs past the bytes");
            if (const std::size_t next = tiff.NextDirectory(directory); named.insert(next).second) {
                pending.push_back(next);
            }
        } catch (const ContainerError&) {
        }
    }
}

// The structure read through a file: the same entries in IFD0.
void CompareWithFile(const TiffStructure& tiff, std::string_view bytes) {
    Require(ftruncate(memoryFile, 0) == 0 && pwrite(memoryFile, bytes.data(), bytes.size(), 0) ==
                                                  static_cast<ssize_t>(bytes.size()),
            "the memory file cannot be written");
    const TiffStructure file = TiffStructure::OfFile(memoryFile);
    Require(file.Size() == bytes.size() && file.BigEndian() == tiff.BigEndian(), "a file reads another header");
    try {
        const auto entries = tiff.EntriesWithin(tiff.FirstDirectory());
        Require(SameEntries(file.EntriesWithin(file.FirstDirectory()), entries), "a file reads other entries");
    } catch (const ContainerError&) {
        bool refused = false;
        try {
            file.EntriesWithin(file.FirstDirectory());
        } catch (const ContainerError&) {
            refused = true;
        }
        Require(refused, "a file reads what memory refuses");
    }
}

void TurnAndCheck(std::string_view bytes, int value) {
    std::string turned(bytes);
    bool added = false;
    if (const auto where = FindTiffOrientation(bytes)) {
        Require(where->offset <= bytes.size() && bytes.size() - where->offset >= 2, "the orientation lies outside");
        SetTiffOrientation(turned.data(), *where, value);
    } else {
        try {
            AddTiffOrientation(turned, value);
        } catch (const ContainerError&) {
            return;
        }
        added = true;
    }
    const auto back = FindTiffOrientation(turned);
    Require(back && back->value == value, "a turn does not read back");
    try {
        Require(ExifBlockDifference(bytes, turned, added).empty(), "a turn alone counts as another change");
    } catch (const ContainerError&) {
        Require(false, "a turned Exif block is refused");
    }
    try {
        if (!TiffFileDifference(bytes, bytes).empty()) Require(false, "a TIFF file differs from itself");
    } catch (const ContainerError&) {
        return;  // the verifier refuses the original: no write would be checked against it
    }
    try {
        Require(TiffFileDifference(bytes, turned).empty(), "a turned TIFF file counts as changed");
    } catch (const ContainerError&) {
        Require(false, "a turned TIFF file is refused");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    memoryFile = memfd_create("tiff", 0);
    Require(memoryFile >= 0, "no memory file");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ExifHasMakerNote(bytes);
    try {
        const std::string_view thumbnail = ExifThumbnail(bytes);
        Require(thumbnail.empty() || (thumbnail.data() >= bytes.data() &&
                                      thumbnail.data() + thumbnail.size() <= bytes.data() + bytes.size()),
                "the thumbnail lies outside the bytes");
    } catch (const ContainerError&) {
    }
    try {
        const TiffStructure tiff(bytes);
        CompareWithFile(tiff, bytes);
        Walk(tiff);
    } catch (const ContainerError&) {
        return 0;
    }
    TurnAndCheck(bytes, size % 8 + 1);
    return 0;
}
