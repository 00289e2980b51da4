// The menu's write: the chosen properties edited into the packet text of a
// private copy, the copy verified against the picture, then put in its place.
#include <exempi/xmpconsts.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "diag/debug_log.h"
#include "metadata/sidecar.h"
#include "metadata/working_copy.h"
#include "metadata/write_fault.h"
#include "metadata/write_verify.h"
#include "metadata/xmp_metadata.h"
#include "metadata/xmp_metadata_internal.h"
#include "metadata/xmp_packet_edit.h"

namespace {

constexpr int kFreeFileAttempts = 500;
// Room a new packet brings for later edits, so that they keep the file's size.
constexpr std::size_t kNewPacketPadding = 2048;
constexpr char kSidecarSuffix[] = ".xmp";

WriteFault& InjectedFault() {
    static WriteFault fault;
    return fault;
}

// Another program may still be writing the file. Without sharing modes an
// open for reading and writing only fails on a file that cannot be written,
// which the write then reports itself.
void WaitForFileToBeFree(const std::string& path) {
    for (int attempt = 0; attempt < kFreeFileAttempts; ++attempt) {
        if (std::FILE* file = std::fopen(path.c_str(), "r+be")) {
            std::fclose(file);
            return;
        }
    }
}

// Why a file was left as it was, for the log and for the caller's choice of
// what else may take the change.
class Refusal : public std::runtime_error {
public:
    // Whether the rating and label may go into a sidecar instead: the
    // picture itself could not take them safely.
    Refusal(const std::string& why, bool sidecarMayTakeIt = false)
        : std::runtime_error(why), sidecarMayTakeIt_(sidecarMayTakeIt) {}
    bool SidecarMayTakeIt() const { return sidecarMayTakeIt_; }

private:
    bool sidecarMayTakeIt_;
};

void LogLeft(const std::string& file, const std::string& why) {
    LogEntry(0, "WriteMetadataToFile left " + file + " as it was: " + why);
}

PacketProperty RatingProperty(std::int32_t rating) { return {NS_XAP, "Rating", std::to_string(rating)}; }
PacketProperty LabelProperty(bool isPrivate) { return {NS_XAP, "Label", isPrivate ? kPrivateLabel : kClearedLabel}; }
PacketProperty OrientationProperty(std::int32_t orientation) {
    return {NS_TIFF, "Orientation", std::to_string(orientation)};
}

// A file's new bytes; none when it already holds the choice.
struct PictureEdit {
    std::optional<std::string> bytes;
    ContainerMetadata before;
    std::vector<PacketProperty> properties;
};

PictureEdit EditPicture(ContainerFormat format, const std::string& bytes, const PictureMetadata& info,
                        unsigned fields) {
    PictureEdit edit;
    edit.before = ReadContainer(format, bytes);
    XmpMeta meta;
    if (edit.before.hasPacket) meta.Parse(edit.before.packet);
    PictureMetadata holds;
    FillChoices(meta, holds);
    std::int32_t packetOrientation = 1;
    const bool packetHasOrientation = meta.GetInt(NS_TIFF, "Orientation", packetOrientation);
    // Viewers follow the native value, as the saver's own reading does but
    // for PNG, where the toolkit reads only the packet's; JPEG and TIFF gain
    // a native value where they lack it, PNG and WebP only keep theirs.
    const bool nativeRead = format != ContainerFormat::Png;
    const std::int32_t orientation =
        edit.before.exifOrientation != 0 && nativeRead ? edit.before.exifOrientation : packetOrientation;
    const bool native =
        edit.before.exifOrientation != 0 || format == ContainerFormat::Jpeg || format == ContainerFormat::Tiff;

    if ((fields & kRatingField) && info.rating != holds.rating) edit.properties.push_back(RatingProperty(info.rating));
    if ((fields & kLabelField) && info.isPrivate != holds.isPrivate) {
        edit.properties.push_back(LabelProperty(info.isPrivate));
    }
    const bool turned = (fields & kOrientationField) && info.orientation != orientation;
    // The packet's own copy follows the native value where it has one; a
    // packet is never made only to hold what the Exif block already says.
    if (turned && (packetHasOrientation || !native || !nativeRead)) {
        edit.properties.push_back(OrientationProperty(info.orientation));
    }
    if (edit.properties.empty() && !(turned && native)) return edit;

    std::string packet = edit.before.packet;
    if (!edit.properties.empty()) {
        packet = EditPacket(edit.before.hasPacket ? edit.before.packet : NewPacket(kNewPacketPadding),
                            edit.properties, true);
    }
    edit.bytes = RewriteContainer(format, bytes, packet, turned && native ? info.orientation : 0);
    return edit;
}

// The chosen fields as the copy reads back, against the choice.
void RequireReadBack(const std::string& path, const PictureMetadata& info, unsigned fields) {
    PictureMetadata written;
    ScanOwnMetadata(path, written);
    if (((fields & kRatingField) && written.rating != info.rating) ||
        ((fields & kLabelField) && written.isPrivate != info.isPrivate) ||
        ((fields & kOrientationField) && written.orientation != info.orientation)) {
        throw std::runtime_error("the copy reads back other metadata");
    }
}

// Raises when the copy holds anything but the original with the change:
// every structure outside the packet and the orientation value, every
// embedded image, the pixels, and every other property of the packet.
void VerifyPicture(const WorkingCopy& copy, ContainerFormat format, const std::string& original,
                   const PictureEdit& edit, const PictureMetadata& info, unsigned fields) {
    const std::string written = ReadFileBytes(copy.Path());
    if (std::string why = StructureDifference(format, original, written); !why.empty()) {
        throw std::runtime_error(why);
    }
    if (std::string why = PixelDifference(copy.PicturePath(), copy.Path()); !why.empty()) {
        throw std::runtime_error(why);
    }
    const ContainerMetadata after = ReadContainer(format, written);
    if (after.hasPacket || edit.before.hasPacket) {
        const std::string before = edit.before.hasPacket ? edit.before.packet : std::string();
        if (std::string why = PacketDifference(before, after.packet, edit.properties); !why.empty()) {
            throw std::runtime_error("the copy's packet differs: " + why);
        }
    }
    RequireReadBack(copy.Path(), info, fields);
}

// The picture's copy with the change made and verified, to put in its
// place (with the very bytes it has when it already holds the choice).
struct PreparedPicture {
    std::unique_ptr<WorkingCopy> copy;
    // The rating and label could not go in without moving what offsets point
    // at: the copy holds only the turn, and a sidecar must take the rest.
    bool choicesToSidecar = false;
};

// Raises Refusal, or std::system_error when nothing may be written for the
// picture anywhere: another file has its name, or a write cut short there is
// not yet put right.
PreparedPicture PreparePicture(const std::string& path, const PictureMetadata& info, unsigned fields,
                               const FileStamp* shown) {
    PreparedPicture prepared;
    try {
        prepared.copy = std::make_unique<WorkingCopy>(path, shown);
    } catch (const std::system_error& error) {
        if (error.code().value() == ESTALE || error.code().value() == EBUSY) throw;
        throw Refusal(error.what());
    }
    try {
        const std::string original = ReadFileBytes(prepared.copy->Path());
        const ContainerFormat format = SniffContainer(original);
        if (format == ContainerFormat::Unknown) throw Refusal("no writer for the picture's format", true);
        PictureEdit edit;
        try {
            edit = EditPicture(format, original, info, fields);
        } catch (const ContainerMoveError& error) {
            // A turn alone patches the native value where it stands.
            if ((fields & kOrientationField) == 0 || (fields & ~kOrientationField) == 0) throw;
            edit = EditPicture(format, original, info, kOrientationField);
            fields = kOrientationField;
            prepared.choicesToSidecar = true;
            LogEntry(0, std::string("WriteMetadataToFile leaves the rating and label of ") + path +
                            " to a sidecar: " + error.what());
        }
        if (!edit.bytes) return prepared;
        WriteFileBytes(prepared.copy->Path(), *edit.bytes);
        if (InjectedFault()) InjectedFault()(prepared.copy->Path());
        VerifyPicture(*prepared.copy, format, original, edit, info, fields);
    } catch (const Refusal&) {
        throw;
    } catch (const ContainerMoveError& error) {
        throw Refusal(error.what(), (fields & ~kOrientationField) != 0);
    } catch (const std::exception& error) {
        throw Refusal(error.what());
    }
    return prepared;
}

// What the sidecar must say for a reader that takes fallback where the
// sidecar is silent: photo managers read it on its own (fallback: no
// rating, no label), the saver over the picture (fallback: the picture's).
void AddSidecarProperties(const XmpMeta& meta, const PictureMetadata& fallback, const PictureMetadata& info,
                          unsigned fields, std::vector<PacketProperty>& properties) {
    PictureMetadata reads = fallback;
    FillChoices(meta, reads);
    const auto has = [&properties](const char* name) {
        for (const PacketProperty& property : properties)
            if (property.name == name) return true;
        return false;
    };
    if ((fields & kRatingField) && reads.rating != info.rating && !has("Rating")) {
        properties.push_back(RatingProperty(info.rating));
    }
    if ((fields & kLabelField) && reads.isPrivate != info.isPrivate && !has("Label")) {
        properties.push_back(LabelProperty(info.isPrivate));
    }
}

// The sidecar's copy with the rating and label set and verified; null when
// it already says them. An absent sidecar is made (NAME.EXT.xmp) with the
// picture's permissions. Raises with the reason.
std::unique_ptr<WorkingCopy> PrepareSidecar(const std::string& sidecar, const std::string& picture,
                                            const PictureMetadata& info, unsigned fields, bool create) {
    PictureMetadata pictureHolds;
    ScanOwnMetadata(picture, pictureHolds);
    std::unique_ptr<WorkingCopy> copy;
    std::string original;
    if (create) {
        struct stat status;
        if (stat(picture.c_str(), &status) != 0) throw std::system_error(errno, std::generic_category(), "stat");
        copy = std::make_unique<WorkingCopy>(WorkingCopy::ForNewFile(sidecar, status.st_mode & 0666));
        original = NewPacket(0);
    } else {
        WaitForFileToBeFree(sidecar);
        copy = std::make_unique<WorkingCopy>(sidecar);
        original = ReadFileBytes(copy->Path());
    }
    XmpMeta meta;
    ParseSidecar(original, meta);
    std::vector<PacketProperty> properties;
    for (const PictureMetadata& fallback : {PictureMetadata{}, pictureHolds}) {
        AddSidecarProperties(meta, fallback, info, fields, properties);
    }
    if (properties.empty()) return nullptr;
    WriteFileBytes(copy->Path(), EditPacket(original, properties, false));
    if (std::string why = PacketDifference(create ? std::string() : original, ReadFileBytes(copy->Path()), properties);
        !why.empty()) {
        throw std::runtime_error("the sidecar's copy differs: " + why);
    }
    for (PictureMetadata written : {PictureMetadata{}, pictureHolds}) {
        XmpMeta back;
        ParseSidecar(ReadFileBytes(copy->Path()), back);
        FillChoices(back, written);
        if (((fields & kRatingField) && written.rating != info.rating) ||
            ((fields & kLabelField) && written.isPrivate != info.isPrivate)) {
            throw std::runtime_error("the sidecar's copy reads back other metadata");
        }
    }
    return copy;
}

// Whether the sidecar found for a picture reads, and so wins over it.
bool SidecarReads(const std::string& sidecar) {
    try {
        PictureMetadata read;
        ReadSidecarChoices(sidecar, read);
        return true;
    } catch (...) {
        return false;
    }
}

bool Write(const std::string& path, const PictureMetadata& info, unsigned fields, FileStamp* shown) {
    RequireToolkit();
    WaitForFileToBeFree(path);
    PreparedPicture picture;
    std::optional<Refusal> pictureRefused;
    try {
        picture = PreparePicture(path, info, fields, shown);
    } catch (const Refusal& refusal) {
        pictureRefused = refusal;
    } catch (const std::exception& error) {
        LogLeft(path, error.what());
        return false;
    }
    // A turn has nowhere else to go.
    if (pictureRefused && (fields & kOrientationField)) {
        PictureMetadata holds;
        try {
            ScanOwnMetadata(path, holds);
        } catch (...) {
            holds.orientation = 0;  // unknown: no code the menu writes
        }
        if (holds.orientation != info.orientation) {
            LogLeft(path, pictureRefused->what());
            return false;
        }
    }

    // The rating and label go where the saver and photo managers read them:
    // a sidecar that reads wins over the picture, so it must take them, and
    // one is made when the picture cannot take them safely.
    const unsigned sidecarFields = fields & (kRatingField | kLabelField);
    const std::string found = FindSidecar(path);
    const bool sidecarWins = !found.empty() && SidecarReads(found);
    const bool pictureLeavesChoices =
        picture.choicesToSidecar || (pictureRefused && pictureRefused->SidecarMayTakeIt());
    const bool makeSidecar = sidecarFields != 0 && pictureLeavesChoices && found.empty();
    if ((pictureRefused || pictureLeavesChoices) && sidecarFields != 0 && !sidecarWins && !makeSidecar) {
        LogLeft(path, pictureRefused ? pictureRefused->what() : "it cannot take the rating and label in place");
        return false;
    }
    const std::string sidecarPath = makeSidecar ? path + kSidecarSuffix : found;
    if (sidecarFields != 0 && (sidecarWins || makeSidecar)) {
        try {
            if (auto sidecar = PrepareSidecar(sidecarPath, path, info, sidecarFields, makeSidecar)) {
                sidecar->ReplaceOriginal();
            }
        } catch (const std::exception& error) {
            LogLeft(sidecarPath, error.what());
            if (!pictureRefused) LogLeft(path, "its sidecar " + sidecarPath + " could not take the choice");
            return false;
        }
    }
    if (pictureRefused) {
        LogLeft(path, std::string(pictureRefused->what()) + "; " + sidecarPath + " holds the choice");
        return true;
    }
    try {
        picture.copy->ReplaceOriginal();
    } catch (const std::exception& error) {
        LogLeft(path, error.what());
        // A sidecar that wins holds the rating and label: they stand.
        return (sidecarWins || makeSidecar) && (fields & kOrientationField) == 0;
    }
    if (shown) {
        if (const auto now = OrdinaryFile(path)) *shown = *now;
    }
    return true;
}

}  // namespace

void SetWriteFaultForTesting(WriteFault fault) { InjectedFault() = std::move(fault); }

bool WriteMetadataToFile(const std::string& path, const PictureMetadata& info, unsigned fields, FileStamp* shown) {
    try {
        return Write(path, info, fields, shown);
    } catch (const std::exception& error) {
        LogLeft(path, error.what());
    } catch (...) {
        LogLeft(path, "unknown failure");
    }
    return false;
}
