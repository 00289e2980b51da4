// A first walk: the files of the "Path" folder in name order, round and round.
#include "catalogue/folder_scan.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "display/collage.h"
#include "display/saver_state.h"
#include "metadata/extract_preview.h"
#include "settings/preferences.h"

DirectorySearch* gFindFileHandle = nullptr;
long SearchPosition = 0;
std::unique_ptr<std::deque<std::string>> FolderQueue;

void ScreenSaverTimer(HWND hwnd, Quadrant* q) {
    std::string folder;
    ReadStringFromPreferences(PreferenceId::Path, &folder, 520);
    std::vector<std::string> files;
    std::error_code error;
    for (auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file(error) && entry.path().filename().string().size() > 3) files.push_back(entry.path());
    if (files.empty()) return;
    std::sort(files.begin(), files.end());
    for (std::size_t tries = 0; tries < files.size(); ++tries) {
        const std::string& path = files[static_cast<std::size_t>(SearchPosition++) % files.size()];
        q->picture.ReleasePicture();
        ExtractPreview(path, q->right - q->left, q->bottom - q->top - metadataBandHeight, q->picture, q->info);
        if (q->picture.HasPicture()) {
            q->path = path;
            Rect r{q->left, q->top, q->right, q->bottom};
            InvalidateRect(hwnd, &r, false);
            return;
        }
    }
}
