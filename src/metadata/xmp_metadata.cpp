#include "metadata/xmp_metadata.h"

#include <exempi/xmpconsts.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "diag/debug_log.h"
#include "metadata/sidecar.h"
#include "metadata/working_copy.h"
#include "metadata/write_verify.h"
#include "metadata/xmp_container.h"
#include "metadata/xmp_toolkit.h"

namespace {

enum class XmpInitState { NotTried, Failed, Ready };
XmpInitState xmpInitState = XmpInitState::NotTried;

constexpr char kPrivateLabel[] = "private";
constexpr char kClearedLabel[] = "none";
constexpr int kFreeFileAttempts = 500;
// Every XMP document declares it; an empty file or another kind of XML
// parses as XMP without a single property.
constexpr char kRdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

// A toolkit that is not up is never called: what it would do is undefined,
// and refusing gives the outcome of any other toolkit failure.
void RequireToolkit() {
    if (!InitializeXmpToolkit()) throw XmpToolkitError("InitializeXmpToolkit", 0);
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

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) throw std::runtime_error("the file could not be read");
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("the copy could not be written");
}

// The leading bytes are enough to tell a container; the name is not.
ContainerFormat SniffFile(const std::string& path) {
    char head[16] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(head, sizeof head);
    return SniffContainer(std::string_view(head, static_cast<std::size_t>(in.gcount())));
}

// The choices a user makes in the menu, where meta holds them.
void FillChoices(const XmpMeta& meta, PictureMetadata& info) {
    meta.GetInt(NS_XAP, "Rating", info.rating);
    std::string label;
    if (meta.GetText(NS_XAP, "Label", label)) info.isPrivate = label == kPrivateLabel;
}

// The fields of info whose properties meta has.
void FillFromMetadata(const XmpMeta& meta, PictureMetadata& info) {
    meta.GetInt(NS_TIFF, "Orientation", info.orientation);
    meta.GetInt(NS_TIFF, "ImageWidth", info.width);
    meta.GetInt(NS_TIFF, "ImageHeight", info.height);
    if (info.width == 0) {
        meta.GetInt(NS_EXIF, "PixelXDimension", info.width);
        meta.GetInt(NS_EXIF, "PixelYDimension", info.height);
    }
    FillChoices(meta, info);
}

// Sets in meta what the record changes against what the file holds; only
// what differs, so that nothing the user did not choose is added. True when
// it set anything. held is what the file reads as where meta lacks a
// property, its orientation the file's. orientationInPacket false leaves
// the orientation to the native Exif value alone.
bool SetWhatDiffers(XmpMeta& meta, const PictureMetadata& info, PictureMetadata held, bool orientationInPacket) {
    const std::int32_t fileOrientation = held.orientation;
    FillChoices(meta, held);
    bool changed = false;
    if (info.rating != held.rating) {
        meta.SetInt(NS_XAP, "Rating", info.rating);
        changed = true;
    }
    if (info.isPrivate != held.isPrivate) {
        meta.SetText(NS_XAP, "Label", info.isPrivate ? kPrivateLabel : kClearedLabel);
        changed = true;
    }
    if (info.orientation != fileOrientation && orientationInPacket) {
        meta.SetInt(NS_TIFF, "Orientation", info.orientation);
        changed = true;
    }
    return changed;
}

// The packet and the Exif orientation edited in the container itself. The
// toolkit's file handlers would also rewrite what they map from native
// metadata: Exif dates lose their seconds, IPTC gains fields and a digest.
void EditContainer(ContainerFormat format, const std::string& copyPath, const PictureMetadata& info) {
    const std::string bytes = ReadFileBytes(copyPath);
    const ContainerMetadata held = ReadContainer(format, bytes);
    XmpMeta meta;
    if (held.hasPacket) meta.Parse(held.packet);
    std::int32_t packetOrientation = 1;
    const bool packetHasOrientation = meta.GetInt(NS_TIFF, "Orientation", packetOrientation);
    // Viewers follow the native value, as the toolkit's own reading does;
    // JPEG and TIFF gain one where they lack it, PNG and WebP only keep theirs.
    const std::int32_t orientation = held.exifOrientation != 0 ? held.exifOrientation : packetOrientation;
    const bool native = held.exifOrientation != 0 || format == ContainerFormat::Jpeg || format == ContainerFormat::Tiff;
    // A file without a packet gets one only with something in it.
    const bool packetChanged =
        SetWhatDiffers(meta, info, {.orientation = orientation}, packetHasOrientation || !native || !held.hasPacket);
    const bool turned = info.orientation != orientation && native;
    // Nothing to change leaves the file's bytes exactly as they are.
    if (!packetChanged && !turned) return;
    WriteFileBytes(copyPath, RewriteContainer(format, bytes, packetChanged ? meta.Serialize() : held.packet,
                                              turned ? info.orientation : 0));
}

// Formats without a container of ours (GIF, PSD): the toolkit's handlers,
// which map no native metadata for them.
void EditWithToolkit(const std::string& copyPath, const PictureMetadata& info) {
    XmpMeta meta;
    XmpFile file;
    file.Open(copyPath, kXmpOpenForUpdate);
    XmpFileInfo fileInfo;
    if (!file.GetFileInfo(fileInfo)) throw std::runtime_error("the toolkit holds no open file");
    // Without metadata an empty packet goes in, if the format takes one.
    if (!file.GetXmp(meta) && !(fileInfo.handlerFlags & XMP_FMT_CAN_INJECT_XMP)) {
        throw std::runtime_error("the format takes no metadata");
    }
    std::int32_t orientation = 1;
    meta.GetInt(NS_TIFF, "Orientation", orientation);
    SetWhatDiffers(meta, info, {.orientation = orientation}, true);
    file.PutXmp(meta);
    file.Close(XMP_CLOSE_NOOPTION);
}

// What the file itself holds, sidecar aside.
void ScanOwnMetadata(const std::string& path, PictureMetadata& info) {
    RequireToolkit();
    XmpMeta meta;
    // WebP goes through its own reader: the toolkit's refuses the EXIF chunk
    // that common tools write.
    if (SniffFile(path) == ContainerFormat::WebP) {
        const ContainerMetadata held = ReadContainer(ContainerFormat::WebP, ReadFileBytes(path));
        if (held.hasPacket) meta.Parse(held.packet);
        if (!held.hasPacket && held.exifOrientation == 0) return;
        FillFromMetadata(meta, info);
        if (held.exifOrientation != 0) info.orientation = held.exifOrientation;
        return;
    }
    {
        XmpFile file;
        file.Open(path, kXmpOpenForRead);
        XmpFileInfo fileInfo;
        if (!file.GetFileInfo(fileInfo)) {
            file.Close(XMP_CLOSE_NOOPTION);
            return;
        }
        const bool hasMetadata = file.GetXmp(meta);
        file.Close(XMP_CLOSE_NOOPTION);
        if (!hasMetadata) return;
    }
    FillFromMetadata(meta, info);
}

// The copy must show what the picture shows and say what was chosen;
// anything else means a writer damaged it, and it never replaces the picture.
void Verify(const WorkingCopy& copy, const PictureMetadata& info) {
    if (const std::string why = PixelDifference(copy.PicturePath(), copy.Path()); !why.empty()) {
        throw std::runtime_error(why);
    }
    PictureMetadata written;
    ScanOwnMetadata(copy.Path(), written);
    if (written.rating != info.rating || written.isPrivate != info.isPrivate ||
        written.orientation != info.orientation) {
        throw std::runtime_error("the copy reads back other metadata");
    }
}

// Raises when the sidecar is no XMP document; such a sidecar is no sidecar,
// nothing is read from it and nothing written to it.
void ParseSidecar(const std::string& text, XmpMeta& meta) {
    if (text.find(kRdfNamespace) == std::string::npos) throw std::runtime_error("the sidecar is no XMP document");
    meta.Parse(text);
}

// The sidecar's choices over those in info, each where the sidecar holds
// it; the orientation stays the picture's, since raw converters keep their
// own edits under it. Raises, info untouched, when the sidecar is unusable.
void ReadSidecarChoices(const std::string& sidecar, PictureMetadata& info) {
    XmpMeta meta;
    ParseSidecar(ReadFileBytes(sidecar), meta);
    PictureMetadata read = info;
    FillChoices(meta, read);
    info = read;
}

// The sidecar keeps its own form: the XML declaration and packet wrapper
// it had, or none.
std::string SidecarText(const std::string& original, const XmpMeta& meta) {
    std::string text = meta.SerializeAlone(original.find("<?xpacket begin") != std::string::npos);
    if (original.starts_with("<?xml")) {
        if (const std::size_t end = original.find("?>"); end != std::string::npos) {
            text.insert(0, original.substr(0, end + 2) + "\n");
        }
    }
    return text;
}

void WritePicture(const std::string& path, const PictureMetadata& info) {
    WaitForFileToBeFree(path);
    // The edits go to a copy; the picture is replaced whole, or not at all.
    WorkingCopy copy(path);
    const ContainerFormat format = SniffFile(copy.Path());
    if (format == ContainerFormat::Unknown) {
        EditWithToolkit(copy.Path(), info);
    } else {
        EditContainer(format, copy.Path(), info);
    }
    Verify(copy, info);
    copy.ReplaceOriginal();
}

// Photo managers read the choice from the sidecar, so it takes it whether
// or not the picture could; through a copy, as the picture does. It must
// read as the choice both on its own, as photo managers read it, and over
// the picture, as the saver does: where it lacks a property, each reader
// takes another value for it.
void WriteSidecar(const std::string& sidecar, const std::string& path, const PictureMetadata& info) {
    PictureMetadata pictureHolds;
    ScanOwnMetadata(path, pictureHolds);
    const PictureMetadata readers[] = {PictureMetadata{}, pictureHolds};
    WaitForFileToBeFree(sidecar);
    WorkingCopy copy(sidecar);
    const std::string original = ReadFileBytes(copy.Path());
    XmpMeta meta;
    ParseSidecar(original, meta);
    bool changed = false;
    for (const PictureMetadata& reader : readers) changed |= SetWhatDiffers(meta, info, reader, false);
    if (!changed) return;
    WriteFileBytes(copy.Path(), SidecarText(original, meta));
    for (PictureMetadata written : readers) {
        ReadSidecarChoices(copy.Path(), written);
        if (written.rating != info.rating || written.isPrivate != info.isPrivate) {
            throw std::runtime_error("the sidecar's copy reads back other metadata");
        }
    }
    copy.ReplaceOriginal();
}

// A write that fails changes nothing; the quadrant keeps showing the user's
// choice, and the log says why the file did not take it.
template <typename Write>
void WriteOrLog(const char* file, Write write) {
    const std::string left = std::string("WriteMetadataToFile left the ") + file + " as it was";
    try {
        RequireToolkit();
        write();
    } catch (const std::exception& error) {
        LogEntry(0, left + ": " + error.what());
    } catch (...) {
        LogEntry(0, left);
    }
}

}  // namespace

bool InitializeXmpToolkit() {
    if (xmpInitState != XmpInitState::NotTried) return xmpInitState == XmpInitState::Ready;
    xmpInitState = XmpInitState::Failed;
    try {
        if (StartXmpToolkit()) xmpInitState = XmpInitState::Ready;
    } catch (...) {
    }
    return xmpInitState == XmpInitState::Ready;
}

void TerminateXmpToolkit() {
    if (xmpInitState != XmpInitState::Ready) return;
    StopXmpToolkit();
    xmpInitState = XmpInitState::NotTried;
}

void ScanFileForMetadata(const std::string& path, PictureMetadata& info) {
    ScanOwnMetadata(path, info);
    const std::string sidecar = FindSidecar(path);
    if (sidecar.empty()) return;
    try {
        ReadSidecarChoices(sidecar, info);
    } catch (const std::exception& error) {
        LogEntry(0, "ScanFileForMetadata passed over the sidecar " + sidecar + ": " + error.what());
    }
}

void WriteMetadataToFile(const std::string& path, const PictureMetadata& info) {
    WriteOrLog("picture", [&] { WritePicture(path, info); });
    WriteOrLog("sidecar", [&] {
        if (const std::string sidecar = FindSidecar(path); !sidecar.empty()) WriteSidecar(sidecar, path, info);
    });
}
