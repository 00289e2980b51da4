#include "platform/paths.h"

#include <glib.h>
#include <glib/gstdio.h>

#include "platform/text.h"

bool SHGetSpecialFolderPath(int csidl, std::string* path, bool create) {
    GUserDirectory which;
    const char* fallback;
    if (csidl == CSIDL_PERSONAL) {
        which = G_USER_DIRECTORY_DOCUMENTS;
        fallback = "Documents";
    } else if (csidl == CSIDL_MYPICTURES) {
        which = G_USER_DIRECTORY_PICTURES;
        fallback = "Pictures";
    } else {
        return false;
    }
    const char* dir = g_get_user_special_dir(which);
    std::string result;
    if (dir && *dir) {
        result = dir;
    } else {
        gchar* joined = g_build_filename(g_get_home_dir(), fallback, nullptr);
        result = joined;
        g_free(joined);
    }
    if (create && !g_file_test(result.c_str(), G_FILE_TEST_IS_DIR) && g_mkdir_with_parents(result.c_str(), 0700) != 0)
        return false;
    if (!create && !g_file_test(result.c_str(), G_FILE_TEST_IS_DIR)) return false;
    *path = result;
    return true;
}

std::string PathStripPath(std::string_view path) {
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
    std::size_t slash = trimmed.rfind('/');
    if (slash == std::string_view::npos || trimmed.size() == 1) return std::string(path);
    return std::string(path.substr(slash + 1));
}

std::string BoundedPath(std::string_view path) { return CutToUtf16Units(path, kMaxPathUnits); }
