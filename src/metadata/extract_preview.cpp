#include "metadata/extract_preview.h"

#include <algorithm>

#include "diag/debug_log.h"
#include "display/saver_state.h"
#include "metadata/file_check.h"
#include "metadata/xmp_metadata.h"
#include "platform/crt_random.h"
#include "platform/worker.h"

namespace {

// 1 star: never shown; 2 stars: about one time in ten; 3 stars: about one
// time in two; anything else always, without a draw.
bool PassesRatingFilter(std::int32_t rating) {
    switch (rating) {
        case 1: return false;
        case 2: return CrtRand() % 10 == 0;
        case 3: return CrtRand() % 2 == 0;
        default: return true;
    }
}

}  // namespace

PixelSize RequestedSize(std::int32_t targetWidth, std::int32_t targetHeight, const PictureMetadata& info) {
    PixelSize requested{targetWidth, targetHeight};
    // A negative size is no size: scaling by it would request nonsense.
    if (info.width > 0 && info.height > 0) {
        const float scale = std::min(static_cast<float>(targetWidth) / static_cast<float>(info.width),
                                     static_cast<float>(targetHeight) / static_cast<float>(info.height));
        if (scale < 1.0f) {
            requested = {static_cast<int>(static_cast<float>(info.width) * scale),
                         static_cast<int>(static_cast<float>(info.height) * scale)};
        }
    }
    return requested;
}

void ExtractPreview(const std::string& path, std::int32_t targetWidth, std::int32_t targetHeight,
                    PictureHolder& picture, PictureMetadata& info, FileStamp* shown) {
    LogEntry(0, "Begin ExtractPreview");
    LogEntry(0, path);
    info = PictureMetadata{};
    if (path.ends_with(".db")) return;
    // No library sees what cannot be read as a file, nor again a file it
    // already failed on: both cost descriptors or memory inside the toolkit.
    const std::optional<FileStamp> stamp = OrdinaryFile(path);
    if (!stamp || KnownUnreadable(path, *stamp)) return;
    if (shown) *shown = *stamp;

    long lastStatus = 0;
    bool gotBitmap = false;
    try {
        LogEntry(0, "Calling ScanFileForExif");
        try {
            ScanFileForMetadata(path, info);
        } catch (...) {
            RememberUnreadable(path, *stamp);
            throw;
        }
        LogEntry(info.orientation, "Returned from ScanFileForMetadata");
        if (HideFilesLabeledPrivate() && info.isPrivate) return;
        if (UseRankingForDisplay() && !PassesRatingFilter(info.rating)) return;

        const PixelSize requested = RequestedSize(targetWidth, targetHeight, info);
        // A quadrant with no room left beside its band still gets a picture,
        // a pixel of it, rather than sending the walk through every file.
        // The decode is what can take long: the GUI thread answers meanwhile.
        DecodeOutcome decoded;
        RunOffGuiThread([&](const std::atomic<bool>& cancelled) {
            decoded = DecodePicture(path, std::max(1, requested.width), std::max(1, requested.height), &cancelled);
        });
        if (decoded.failure) {
            lastStatus = decoded.status;
            LogEntry(decoded.status, decoded.failure);
        }
        gotBitmap = decoded.bitmap != nullptr;
        picture.SetBitmap(decoded.bitmap);
        if (const std::int32_t degrees = OrientationToDegrees(info.orientation); degrees != 0) {
            picture.RotateBy(degrees);
        }
    } catch (...) {
        LogEntry(lastStatus, "ExtractPreview threw!!!");
    }
    LogEntry(gotBitmap ? 1 : 0, "End ExtractPreview");
}
