#include "platform/store.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace {

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

KeyFilePtr NewKeyFile() { return KeyFilePtr(g_key_file_new()); }

struct StorePaths {
    std::string dir, file, lock, temp;
};

StorePaths CurrentPaths() {
    // Read the variable on every call rather than through GLib's cached
    // lookup, so a changed environment takes effect. A relative value is
    // not a valid XDG base directory and is ignored.
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : g_get_home_dir()) + "/.config";
    }
    StorePaths paths;
    paths.dir = base + "/kaleidra";
    paths.file = paths.dir + "/registry.ini";
    paths.lock = paths.file + ".lock";
    paths.temp = paths.file + ".tmp";
    return paths;
}

long StatusFromErrno(int error, long fallback) {
    if (error == EACCES || error == EPERM || error == EROFS) return ERROR_ACCESS_DENIED;
    return fallback;
}

// ---- names ----------------------------------------------------------------

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t cut = path.find('\\');
        parts.push_back(path.substr(0, cut));
        if (cut == std::string_view::npos) break;
        path.remove_prefix(cut + 1);
    }
    return parts;
}

// True when group names keyPath itself (exact) or keyPath or one of its
// subkeys (!exact).
bool GroupMatches(std::string_view group, const std::vector<std::string_view>& key, bool exact) {
    const std::vector<std::string_view> parts = SplitKeyPath(group);
    if (parts.size() < key.size() || (exact && parts.size() != key.size())) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (!EqualsIgnoringCase(parts[i], key[i])) return false;
    }
    return true;
}

bool IsWellFormedUtf8WithoutControls(std::string_view text) {
    while (!text.empty()) {
        const Utf8Step step = DecodeUtf8(text);
        if (step.length == 0 || step.codePoint < 0x20 || step.codePoint == 0x7F) return false;
        text.remove_prefix(step.length);
    }
    return true;
}

bool IsStorableKeyPath(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return !path.empty() && IsWellFormedUtf8WithoutControls(path) &&
           path.find_first_of("[]") == std::string_view::npos;
}

// What survives a rewrite and reload of the file as a key: GKeyFile trims
// blanks around keys, reads '#' lines as comments and '[' as a locale suffix.
bool IsStorableValueName(std::string_view name) {
    return !name.empty() && name.front() != ' ' && name.back() != ' ' && name.front() != '#' &&
           IsWellFormedUtf8WithoutControls(name) &&
           name.find_first_of("=[]") == std::string_view::npos;
}

// ---- values -----------------------------------------------------------------
// GKeyFile's string accessors refuse text that is not UTF-8, so values are
// stored raw through its value accessors, escaped here: GKeyFile's own escapes
// (\s \n \t \r \\) plus \xHH for control characters and malformed bytes.

std::string EscapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size();) {
        const Utf8Step step = DecodeUtf8(value.substr(i));
        const auto byte = static_cast<unsigned char>(value[i]);
        const bool edge = i == 0 || i + 1 == value.size();
        if (step.length > 1) {
            out.append(value.substr(i, step.length));
            i += step.length;
            continue;
        }
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == ' ' && edge) {
            out += "\\s";
        } else if (step.length == 0 || byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += static_cast<char>(byte);
        }
        ++i;
    }
    return out;
}

// Unknown escapes, as a hand edit may leave them, are kept as written.
std::string UnescapeValue(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        const char code = raw[i + 1];
        const char* simple = nullptr;
        switch (code) {
            case 's': simple = " "; break;
            case 'n': simple = "\n"; break;
            case 't': simple = "\t"; break;
            case 'r': simple = "\r"; break;
            case '\\': simple = "\\"; break;
            default: break;
        }
        if (simple) {
            out += simple;
            ++i;
        } else if (code == 'x' && i + 3 < raw.size() && g_ascii_isxdigit(raw[i + 2]) &&
                   g_ascii_isxdigit(raw[i + 3])) {
            out += static_cast<char>(g_ascii_xdigit_value(raw[i + 2]) * 16 +
                                     g_ascii_xdigit_value(raw[i + 3]));
            i += 3;
        } else {
            out += '\\';
        }
    }
    return out;
}

// ---- the key file -------------------------------------------------------------

std::vector<std::string> TakeStrings(gchar** strings) {
    std::vector<std::string> out;
    for (gchar** s = strings; s && *s; ++s) out.emplace_back(*s);
    g_strfreev(strings);
    return out;
}

std::vector<std::string> Groups(GKeyFile* file) {
    return TakeStrings(g_key_file_get_groups(file, nullptr));
}

struct ValueRef {
    std::string group, key;
};

// Every stored spelling of the value, in file order; a store edited by hand
// may hold more than one.
std::vector<ValueRef> FindValue(GKeyFile* file, std::string_view keyPath, std::string_view name) {
    const std::vector<std::string_view> key = SplitKeyPath(keyPath);
    std::vector<ValueRef> found;
    for (const std::string& group : Groups(file)) {
        if (!GroupMatches(group, key, true)) continue;
        for (const std::string& stored : TakeStrings(g_key_file_get_keys(file, group.c_str(), nullptr, nullptr))) {
            if (EqualsIgnoringCase(stored, name)) found.push_back({group, stored});
        }
    }
    return found;
}

// ---- the file -----------------------------------------------------------------

// Loads the store; a missing file is an empty store. *corrupt is set, and
// *file left empty, when the contents do not parse.
long LoadFile(const StorePaths& paths, KeyFilePtr* file, bool* corrupt) {
    *file = NewKeyFile();
    *corrupt = false;
    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(paths.file.c_str(), &contents, &length, &error)) {
        const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        const long status = missing ? ERROR_SUCCESS
                                    : error->code == G_FILE_ERROR_ACCES ? ERROR_ACCESS_DENIED
                                                                        : ERROR_READ_FAULT;
        g_error_free(error);
        return status;
    }
    // Comments are not kept: GKeyFile then files the blank line between
    // groups with the group before it, and values added later land after it.
    const bool parsed = g_key_file_load_from_data(file->get(), contents, length, G_KEY_FILE_NONE, nullptr);
    g_free(contents);
    if (!parsed) {
        *file = NewKeyFile();
        *corrupt = true;
    }
    return ERROR_SUCCESS;
}

// Keeps an unparseable store for the user to inspect; never replaces an
// earlier one.
long MoveAside(const StorePaths& paths) {
    GDateTime* now = g_date_time_new_now_utc();
    gchar* stamp = g_date_time_format(now, "%Y%m%dT%H%M%SZ");
    const std::string base = paths.file + ".corrupt-" + stamp;
    g_free(stamp);
    g_date_time_unref(now);
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const std::string target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        struct stat existing;
        if (lstat(target.c_str(), &existing) == 0) continue;
        if (std::rename(paths.file.c_str(), target.c_str()) == 0) return ERROR_SUCCESS;
        return StatusFromErrno(errno, ERROR_WRITE_FAULT);
    }
    return ERROR_WRITE_FAULT;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

long WriteAtomically(const StorePaths& paths, GKeyFile* file) {
    gsize length = 0;
    gchar* data = g_key_file_to_data(file, &length, nullptr);
    // Only the lock holder writes the temporary file; one left by a killed
    // writer is stale.
    unlink(paths.temp.c_str());
    const int fd = open(paths.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        g_free(data);
        return StatusFromErrno(errno, ERROR_WRITE_FAULT);
    }
    bool ok = WriteAll(fd, data, length) && fsync(fd) == 0;
    int error = errno;
    g_free(data);
    if (close(fd) != 0 && ok) ok = false, error = errno;
    if (ok && std::rename(paths.temp.c_str(), paths.file.c_str()) != 0) ok = false, error = errno;
    if (!ok) {
        unlink(paths.temp.c_str());
        return StatusFromErrno(error, ERROR_WRITE_FAULT);
    }
    // Make the rename itself durable.
    const int dir = open(paths.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return ERROR_SUCCESS;
}

// The advisory lock every change holds from its read to its rename.
class StoreLock {
public:
    explicit StoreLock(const StorePaths& paths) {
        if (g_mkdir_with_parents(paths.dir.c_str(), 0700) != 0) {
            status_ = StatusFromErrno(errno, ERROR_WRITE_FAULT);
            return;
        }
        fd_ = open(paths.lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            status_ = StatusFromErrno(errno, ERROR_WRITE_FAULT);
            return;
        }
        int result;
        do result = flock(fd_, LOCK_EX);
        while (result != 0 && errno == EINTR);
        if (result != 0) status_ = ERROR_WRITE_FAULT;
    }
    ~StoreLock() {
        if (fd_ >= 0) close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    long status() const { return status_; }

private:
    int fd_ = -1;
    long status_ = ERROR_SUCCESS;
};

// Loads the store while holding the lock, setting a corrupt file aside.
long LoadLocked(const StorePaths& paths, KeyFilePtr* file) {
    bool corrupt = false;
    const long status = LoadFile(paths, file, &corrupt);
    return corrupt ? MoveAside(paths) : status;
}

long ReadStore(KeyFilePtr* file) {
    const StorePaths paths = CurrentPaths();
    bool corrupt = false;
    const long status = LoadFile(paths, file, &corrupt);
    if (!corrupt) return status;
    // Reads go without the lock, since renames replace the file whole; moving
    // a corrupt file aside is a change, made under the lock after loading again
    // in case a writer has replaced it meanwhile.
    StoreLock lock(paths);
    if (lock.status() != ERROR_SUCCESS) return lock.status();
    return LoadLocked(paths, file);
}

// Runs change on the current store under the lock; writes the store back when
// change reports success and a difference.
long ModifyStore(const std::function<long(GKeyFile*, bool* changed)>& change) {
    const StorePaths paths = CurrentPaths();
    StoreLock lock(paths);
    if (lock.status() != ERROR_SUCCESS) return lock.status();
    KeyFilePtr file;
    long status = LoadLocked(paths, &file);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    status = change(file.get(), &changed);
    if (status != ERROR_SUCCESS || !changed) return status;
    return WriteAtomically(paths, file.get());
}

}  // namespace

std::string StoreFilePath() { return CurrentPaths().file; }

long SHGetValue(std::string_view keyPath, std::string_view valueName, std::string* out,
                std::size_t bufferBytes, StoreChars chars) {
    KeyFilePtr file;
    const long status = ReadStore(&file);
    if (status != ERROR_SUCCESS) return status;
    const std::vector<ValueRef> found = FindValue(file.get(), keyPath, valueName);
    if (found.empty()) return ERROR_FILE_NOT_FOUND;
    gchar* raw = g_key_file_get_value(file.get(), found[0].group.c_str(), found[0].key.c_str(), nullptr);
    std::string value = UnescapeValue(raw ? raw : "");
    g_free(raw);
    const std::size_t needed =
        chars == StoreChars::Utf16 ? (Utf16Length(value) + 1) * 2 : value.size() + 1;
    if (needed > bufferBytes) return ERROR_MORE_DATA;
    *out = std::move(value);
    return ERROR_SUCCESS;
}

long SHSetValue(std::string_view keyPath, std::string_view valueName, std::string_view data) {
    if (!IsStorableKeyPath(keyPath) || !IsStorableValueName(valueName)) return ERROR_INVALID_PARAMETER;
    const std::string raw = EscapeValue(data);
    return ModifyStore([&](GKeyFile* file, bool* changed) {
        const std::vector<ValueRef> found = FindValue(file, keyPath, valueName);
        if (found.empty()) {
            // A new value goes into the key's existing group, whatever its spelling.
            const std::vector<std::string_view> key = SplitKeyPath(keyPath);
            std::string group;
            for (const std::string& existing : Groups(file)) {
                if (GroupMatches(existing, key, true)) {
                    group = existing;
                    break;
                }
            }
            if (group.empty()) {
                group = std::string(keyPath);
                while (group.back() == '\\') group.pop_back();
            }
            g_key_file_set_value(file, group.c_str(), std::string(valueName).c_str(), raw.c_str());
            *changed = true;
            return ERROR_SUCCESS;
        }
        gchar* old = g_key_file_get_value(file, found[0].group.c_str(), found[0].key.c_str(), nullptr);
        *changed = found.size() > 1 || !old || raw != old;
        g_free(old);
        g_key_file_set_value(file, found[0].group.c_str(), found[0].key.c_str(), raw.c_str());
        for (std::size_t i = 1; i < found.size(); ++i) {
            g_key_file_remove_key(file, found[i].group.c_str(), found[i].key.c_str(), nullptr);
        }
        return ERROR_SUCCESS;
    });
}

long SHDeleteKey(std::string_view keyPath) {
    const std::vector<std::string_view> key = SplitKeyPath(keyPath);
    if (key.empty()) return ERROR_INVALID_PARAMETER;
    return ModifyStore([&](GKeyFile* file, bool* changed) {
        for (const std::string& group : Groups(file)) {
            if (!GroupMatches(group, key, false)) continue;
            g_key_file_remove_group(file, group.c_str(), nullptr);
            *changed = true;
        }
        return *changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

long SHDeleteValue(std::string_view keyPath, std::string_view valueName) {
    return ModifyStore([&](GKeyFile* file, bool* changed) {
        const std::vector<ValueRef> found = FindValue(file, keyPath, valueName);
        for (const ValueRef& value : found) {
            g_key_file_remove_key(file, value.group.c_str(), value.key.c_str(), nullptr);
        }
        *changed = !found.empty();
        return *changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}
