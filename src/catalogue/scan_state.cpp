#include "catalogue/scan_state.h"

#include <cstdlib>
#include <string_view>

#include "catalogue/folder_scan.h"
#include "diag/debug_log.h"
#include "display/saver_state.h"
#include "imaging/graphics_state.h"
#include "platform/paths.h"
#include "platform/store.h"
#include "settings/preferences.h"

namespace {

constexpr std::size_t kIndexBufferBytes = 20;

std::string QueueKey() { return std::string(settingsKeyPath) + "Queue"; }

// Empty paths and network paths are never resumed.
bool IsLegalEntry(std::string_view path) { return !path.empty() && path.front() != '\\'; }

void LogIllegal(const std::string& text) {
    LogText("Read illegal queue entry:");
    LogText(text);
    LogText("\n");
}

bool ReadQueueValue(long n, std::string* out) {
    return SHGetValue(QueueKey(), std::to_string(n), out, kPathBufferBytes) == ERROR_SUCCESS;
}

bool LoadState(std::string* folder, long* position) {
    std::string first;
    if (!ReadQueueValue(0, &first)) return false;
    if (!IsLegalEntry(first)) {
        LogIllegal(first);
        return false;
    }
    LogText("Read from Software\\Veltrane\\Lumivista\\Queue\\");
    LogText("\n");
    LogText(first);
    LogText("\n");
    std::string index;
    if (SHGetValue(settingsKeyPath, "QIndex", &index, kIndexBufferBytes, StoreChars::Narrow) != ERROR_SUCCESS)
        return false;
    *folder = first;
    *position = std::strtol(index.c_str(), nullptr, 10);
    if (!FolderQueue) FolderQueue = std::make_unique<std::deque<std::string>>();
    std::string queued;
    for (long n = 1; ReadQueueValue(n, &queued); ++n) {
        if (!IsLegalEntry(queued)) {
            LogIllegal(queued);
            continue;
        }
        FolderQueue->push_back(queued);
        LogText(queued);
        LogText("\n");
    }
    return true;
}

}  // namespace

bool ReadScanResumeState(std::string* folder, long* position) {
    bool loaded = LoadState(folder, position);
    DeleteScanState();
    return loaded;
}

void DeleteScanState() {
    SHDeleteKey(QueueKey());
    SHDeleteValue(settingsKeyPath, "QIndex");
}

void SaveScanState(HWND hwnd) {
    if (gFindFileHandle) {
        FindClose(gFindFileHandle);
        gFindFileHandle = nullptr;
    }
    SHSetValue(settingsKeyPath, "QIndex", std::to_string(SearchPosition));
    SHSetValue(QueueKey(), "0", CurrentFolder);
    LogText("Output to Software\\Veltrane\\Lumivista\\Queue\\");
    LogText("\n");
    long n = 1;
    while (FolderQueue && !FolderQueue->empty()) {
        const std::string& path = FolderQueue->front();
        if (IsLegalEntry(path)) {
            long status = SHSetValue(QueueKey(), std::to_string(n), path);
            ++n;
            if (status != ERROR_SUCCESS) {
                LogNumber(status);
                LogText("SHSetValue Queue n");
                LogText("\n");
            }
            LogText(path);
            LogText("\n");
        } else {
            LogText("*** Atempted to output:");
            LogText(path);
            LogText("\n");
        }
        FolderQueue->pop_front();
    }
    FolderQueue.reset();

    // The rest of the teardown; the log closes last so that everything above reaches it.
    if (saverTimerId != 0) {
        KillTimer(hwnd, saverTimerId);
        saverTimerId = 0;
    }
    StopGdiplus();
    LogEntry(0, "WM_DESTROY called\n");
    CloseDebugLog();
}
