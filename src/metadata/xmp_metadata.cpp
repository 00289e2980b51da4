#include "metadata/xmp_metadata.h"

#include <exempi/xmpconsts.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "diag/debug_log.h"
#include "metadata/sidecar.h"
#include "metadata/xmp_metadata_internal.h"

namespace {

enum class XmpInitState { NotTried, Failed, Ready };
XmpInitState xmpInitState = XmpInitState::NotTried;

// Every XMP document declares it; an empty file or another kind of XML
// parses as XMP without a single property.
constexpr char kRdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

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

}  // namespace

void RequireToolkit() {
    if (!InitializeXmpToolkit()) throw XmpToolkitError("InitializeXmpToolkit", 0);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("the file could not be opened");
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

ContainerFormat SniffFile(const std::string& path) {
    char head[16] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(head, sizeof head);
    return SniffContainer(std::string_view(head, static_cast<std::size_t>(in.gcount())));
}

void FillChoices(const XmpMeta& meta, PictureMetadata& info) {
    meta.GetInt(NS_XAP, "Rating", info.rating);
    std::string label;
    if (meta.GetText(NS_XAP, "Label", label)) info.isPrivate = label == kPrivateLabel;
}

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

// The orientation stays the picture's, since raw converters keep their own
// edits under it.
void ReadSidecarChoices(const std::string& sidecar, PictureMetadata& info) {
    XmpMeta meta;
    ParseSidecar(ReadFileBytes(sidecar), meta);
    PictureMetadata read = info;
    FillChoices(meta, read);
    info = read;
}

void ParseSidecar(const std::string& text, XmpMeta& meta) {
    if (text.find(kRdfNamespace) == std::string::npos) throw std::runtime_error("the sidecar is no XMP document");
    meta.Parse(text);
}

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
