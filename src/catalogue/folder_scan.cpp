#include "catalogue/folder_scan.h"

#include <array>
#include <string_view>
#include <utility>

#include "catalogue/scan_state.h"
#include "diag/debug_log.h"
#include "display/quadrant.h"
#include "display/saver_state.h"
#include "metadata/extract_preview.h"
#include "metadata/sidecar.h"
#include "metadata/working_copy.h"
#include "platform/paths.h"
#include "platform/store.h"
#include "platform/text.h"
#include "settings/preferences.h"

DirectorySearch* gFindFileHandle = nullptr;
long SearchPosition = 0;
std::string CurrentFolder;
std::unique_ptr<std::deque<std::string>> FolderQueue;

namespace {


WIN32_FIND_DATA searchBuffer;  // the entry most recently delivered and not yet examined

constexpr std::array<std::string_view, 16> kVideoSuffixes = {
    ".avi", ".AVI", ".mpg", ".MPG", ".asf", ".ASF", ".WMA", ".wma",
    ".wmv", ".WMV", ".MPEG", ".mpeg", ".MPE", ".mpe", ".3gp", ".3GP"};
constexpr std::array<std::string_view, 8> kEditableSuffixes = {"JPG",  "JPEG",  ".jpg", ".jpeg",
                                                               ".tif", ".tiff", ".TIF", ".TIFF"};

template <std::size_t N>
bool EndsWithAny(std::string_view path, const std::array<std::string_view, N>& suffixes) {
    for (std::string_view s : suffixes)
        if (path.ends_with(s)) return true;
    return false;
}

void Log(std::string_view text) { LogEntry(0, text); }

// The pattern "folder/*" in a buffer of 260 units; false when it does not fit.
bool BuildPattern(const std::string& folder, std::string* pattern) {
    *pattern = folder + "/*";
    return Utf16Length(*pattern) <= kMaxPathUnits;
}

void OpenNextQueuedFolder(bool* moreFiles) {
    if (FolderQueue->empty()) return;
    CurrentFolder = FolderQueue->front();
    // A queued path is at most 259 units, so its pattern is cut, never refused.
    std::string pattern = BoundedPath(CurrentFolder + "/*");
    searchBuffer.cFileName.clear();
    Log(pattern);
    Log("Calling FindFirstFile\n");
    gFindFileHandle = FindFirstFile(pattern, &searchBuffer);
    Log("returned from FindFirstFile\n");
    FolderQueue->pop_front();
    SearchPosition = 1;
    *moreFiles = true;
}

// Examines the entry in the search buffer, found under path; true when it
// put a picture into the quadrant. The quadrant's path, record and picture
// change only together, when something new is shown: the band and the menu
// must never name a file other than the one on screen.
bool Examine(HWND hwnd, Quadrant* q, const std::string& path, int targetWidth, int targetHeight) {
    const std::string& name = searchBuffer.cFileName;
    if (Utf16Length(name) <= 3) return false;
    if (searchBuffer.hidden) {
        // What a write killed in this folder left behind goes on this visit.
        if (IsWriteDebris(name)) RemoveWriteDebris(CurrentFolder, name);
        return false;
    }
    if (searchBuffer.directory) {
        LogText(CurrentFolder);
        LogText(" has child dir ");
        LogText(name);
        LogText("\n");
        if (includeSubdirectories) FolderQueue->push_back(path);
        return false;
    }
    // Read with the picture it belongs to; the toolkit takes none on its own.
    if (IsSidecarName(name)) return false;
    if (IsVideoName(path)) {
        if (!playVideo || gSmallWindow) return false;
        std::string shown = std::exchange(q->path, path);
        if (IsDynamicMedia(hwnd, q)) {
            ClearQuadrant(q);
            videoStartedThisTick = true;
        } else {
            q->path = std::move(shown);
        }
        return false;
    }
    PictureHolder picture;
    PictureMetadata info;
    FileStamp shown;
    ExtractPreview(path, targetWidth, targetHeight, picture, info, &shown);
    if (!picture.HasPicture()) return false;
    ClearQuadrant(q);
    q->picture.Swap(picture);
    q->info = info;
    q->shown = shown;
    q->path = path;
    q->editable = EndsWithAny(path, kEditableSuffixes);
    return true;
}

}  // namespace

bool IsVideoName(const std::string& path) { return EndsWithAny(path, kVideoSuffixes); }

bool IsDynamicMedia(HWND hwnd, Quadrant* q) {
    Log("BEGIN IsDynamicMedia ");
    bool opened = false;
    if (!q->video.IsMediaOpen())
        opened = q->video.OpenAsDynamicMedia(hwnd, q->path, q->top, q->left, q->bottom - metadataBandHeight, q->right,
                                             muteVideo);
    Log("END IsDynamicMedia");
    return opened;
}

void StartScan() {
    Log("WM_TIMER gFindFileHandle == NULL");
    long position = 0;
    if (!ReadScanResumeState(&CurrentFolder, &position)) {
        position = 0;
        if (SHGetValue(settingsKeyPath, "Path", &CurrentFolder, kPathBufferBytes) != ERROR_SUCCESS) {
            std::string documents;
            if (SHGetSpecialFolderPath(CSIDL_PERSONAL, &documents, true))
                CurrentFolder = BoundedPath(documents);
            else
                LogEntry(1, "SHGetSpecialFolderPath");
            SHSetValue(settingsKeyPath, "Path", CurrentFolder);
        }
    }
    std::string pattern;
    if (!BuildPattern(CurrentFolder, &pattern)) return;
    searchBuffer.cFileName.clear();
    gFindFileHandle = FindFirstFile(pattern, &searchBuffer);
    SearchPosition = 1;
    while (SearchPosition < position && FindNextFile(gFindFileHandle, &searchBuffer)) ++SearchPosition;
}

void ScreenSaverTimer(HWND hwnd, Quadrant* q) {
    Log("Begin ScreenSaverTimer");
    if (q->video.IsMediaOpen()) return;
    if (!gFindFileHandle) StartScan();
    if (!gFindFileHandle) return;
    if (!FolderQueue) FolderQueue = std::make_unique<std::deque<std::string>>();
    int targetWidth = q->right - q->left;
    int targetHeight = q->bottom - metadataBandHeight - q->top;
    for (;;) {
        const std::string path = BoundedPath(CurrentFolder + "/" + searchBuffer.cFileName);
        if (Utf16Length(searchBuffer.cFileName) > 3) Log(path);
        bool found = Examine(hwnd, q, path, targetWidth, targetHeight);
        // A close decided during the decode ends the walk here: the entry,
        // never seen, stays the next one, so the next start shows it.
        if (closePending) return;

        searchBuffer.cFileName.clear();
        bool moreFiles = FindNextFile(gFindFileHandle, &searchBuffer);
        ++SearchPosition;
        if (!moreFiles) {
            Log("WM_TIMER moreFiles == false");
            FindClose(gFindFileHandle);
            gFindFileHandle = nullptr;
            OpenNextQueuedFolder(&moreFiles);
            Log("Done with WM_TIMER moreFiles == false");
        }
        Rect rect{q->left, q->top, q->right, q->bottom};
        if (found || q->video.IsMediaOpen()) {
            InvalidateRect(hwnd, &rect, false);
            return;
        }
        if (!moreFiles) return;
    }
}
