#include "metadata/xmp_metadata.h"

#include <exempi/xmpconsts.h>

#include <cstdint>
#include <cstdio>

#include "metadata/png_xmp_padding.h"
#include "metadata/working_copy.h"
#include "metadata/xmp_toolkit.h"

namespace {

enum class XmpInitState { NotTried, Failed, Ready };
XmpInitState xmpInitState = XmpInitState::NotTried;

constexpr char kPrivateLabel[] = "private";
constexpr char kClearedLabel[] = "none";
constexpr int kFreeFileAttempts = 500;

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
    RequireToolkit();
    XmpMeta meta;
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
    meta.GetInt(NS_TIFF, "Orientation", info.orientation);
    meta.GetInt(NS_TIFF, "ImageWidth", info.width);
    meta.GetInt(NS_TIFF, "ImageHeight", info.height);
    if (info.width == 0) {
        meta.GetInt(NS_EXIF, "PixelXDimension", info.width);
        meta.GetInt(NS_EXIF, "PixelYDimension", info.height);
    }
    meta.GetInt(NS_XAP, "Rating", info.rating);
    std::string label;
    if (meta.GetText(NS_XAP, "Label", label) && label == kPrivateLabel) info.isPrivate = true;
}

void WriteMetadataToFile(const std::string& path, const PictureMetadata& info) {
    try {
        RequireToolkit();
        WaitForFileToBeFree(path);
        // The toolkit edits a copy; the picture is replaced whole, or not at all.
        WorkingCopy copy(path);
        XmpMeta meta;
        XmpFile file;  // released before the copy, which removes itself unless it replaced the picture
        file.Open(copy.Path(), kXmpOpenForUpdate);
        XmpFileInfo fileInfo;
        if (!file.GetFileInfo(fileInfo)) return;
        // Without metadata an empty packet goes in, if the format takes one.
        if (!file.GetXmp(meta) && !(fileInfo.handlerFlags & XMP_FMT_CAN_INJECT_XMP)) return;

        std::int32_t rating = 0;
        std::int32_t orientation = 1;
        std::string label;
        meta.GetInt(NS_XAP, "Rating", rating);
        meta.GetText(NS_XAP, "Label", label);
        meta.GetInt(NS_TIFF, "Orientation", orientation);

        // Only what differs is set, so that nothing the user did not choose
        // is added to the file.
        if (info.rating != rating) meta.SetInt(NS_XAP, "Rating", info.rating);
        if (info.isPrivate != (label == kPrivateLabel)) {
            meta.SetText(NS_XAP, "Label", info.isPrivate ? kPrivateLabel : kClearedLabel);
        }
        if (info.orientation != orientation) meta.SetInt(NS_TIFF, "Orientation", info.orientation);

        file.PutXmp(meta);
        file.Close(XMP_CLOSE_NOOPTION);
        if (fileInfo.format == XMP_FT_PNG) RepairPngXmpPadding(copy.Path());
        copy.ReplaceOriginal();
    } catch (...) {
        // A write that fails changes nothing and tells no one: the quadrant
        // keeps showing the user's choice.
    }
}
