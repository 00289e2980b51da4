#include "platform/store.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
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

// The value under any spelling of its key and name. A loaded store holds each
// value once: Tidy drops the repeats a hand edit may leave.
std::optional<ValueRef> FindValue(GKeyFile* file, std::string_view keyPath, std::string_view name) {
    const std::vector<std::string_view> key = SplitKeyPath(keyPath);
    for (const std::string& group : Groups(file)) {
        if (!GroupMatches(group, key, true)) continue;
        for (const std::string& stored : TakeStrings(g_key_file_get_keys(file, group.c_str(), nullptr, nullptr))) {
            if (EqualsIgnoringCase(stored, name)) return ValueRef{group, stored};
        }
    }
    return std::nullopt;
}

// ---- reading a hand-edited file -------------------------------------------------
// GKeyFile refuses a whole file over one line it cannot parse, and a name set
// twice leaves it with two entries that reads and writes resolve differently.
// The text is therefore tidied first, line by line, into what GKeyFile reads
// without surprise: only well-formed groups and values, each value once.

// Two spellings of a key path or value name mean the same exactly when these
// agree; the text is well-formed UTF-8.
std::string FoldCase(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const Utf8Step step = DecodeUtf8(text);
        gchar encoded[8];
        out.append(encoded, g_unichar_to_utf8(g_unichar_toupper(step.codePoint), encoded));
        text.remove_prefix(step.length);
    }
    return out;
}

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

std::string_view DropTrailingBlanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

struct Problem {
    std::size_t line;
    std::string what;
};

struct TidyText {
    std::string text;
    std::vector<Problem> problems;
};

// Why the line cannot be read as it stands, or nullptr. The store writes
// control characters escaped, so a raw one other than a tab is damage.
const char* LineFault(std::string_view line) {
    while (!line.empty()) {
        const Utf8Step step = DecodeUtf8(line);
        if (step.length == 0) return "it is not UTF-8 text";
        if ((step.codePoint < 0x20 && step.codePoint != '\t') || step.codePoint == 0x7F) {
            return "it holds a control character";
        }
        line.remove_prefix(step.length);
    }
    return nullptr;
}

TidyText Tidy(std::string_view contents) {
    // Editors on some systems begin a UTF-8 file with a byte order mark.
    if (contents.starts_with("\xEF\xBB\xBF")) contents.remove_prefix(3);
    TidyText tidy;
    std::string groupFold;
    bool inGroup = false;
    bool skippedGroup = false;
    std::unordered_map<std::string, std::size_t> seen;  // group and name folded, to line
    std::size_t number = 0;
    while (!contents.empty()) {
        const std::size_t end = contents.find('\n');
        std::string_view line = contents.substr(0, end);
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        ++number;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (const char* fault = LineFault(line)) {
            tidy.problems.push_back({number, fault});
            if (SkipBlanks(line).starts_with('[')) {
                inGroup = false;  // as for any [key] line that cannot be read
                skippedGroup = true;
            }
            continue;
        }
        line = SkipBlanks(line);
        // Comments and blank lines are not kept: GKeyFile would file them with
        // the group before them, and values added later would land after them.
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            const std::string_view bracketed = DropTrailingBlanks(line);
            const std::string_view name = bracketed.substr(1, bracketed.find(']') - 1);
            if (name.size() + 2 != bracketed.size() || name.empty() ||
                name.find_first_of("[\t") != std::string_view::npos) {
                tidy.problems.push_back({number, "it is not a [key] line"});
                // Its values belong to no key that can be named: filed under
                // the key before, they would change that key's meaning.
                inGroup = false;
                skippedGroup = true;
                continue;
            }
            skippedGroup = false;
            std::string_view path = name;
            while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
            groupFold = FoldCase(path);
            inGroup = true;
            tidy.text.append(bracketed).append("\n");
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            tidy.problems.push_back({number, "it is neither a [key] nor a name=value line"});
            continue;
        }
        const std::string_view name = DropTrailingBlanks(line.substr(0, equals));
        if (!IsStorableValueName(name)) {
            tidy.problems.push_back({number, "it has no valid name before its '='"});
            continue;
        }
        if (!inGroup) {
            tidy.problems.push_back(
                {number, skippedGroup ? "it belongs to a [key] line that was skipped" : "it comes before the first [key] line"});
            continue;
        }
        const auto [first, fresh] = seen.try_emplace(groupFold + '\n' + FoldCase(name), number);
        if (!fresh) {
            tidy.problems.push_back({number, "it sets \"" + std::string(name) + "\" again; line " +
                                                 std::to_string(first->second) + " is the one used"});
            continue;
        }
        tidy.text.append(name).append("=").append(SkipBlanks(line.substr(equals + 1))).append("\n");
    }
    return tidy;
}

// ---- the file -----------------------------------------------------------------

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

// Says once per process, for each content of the file, which lines a read
// skips: a hand edit that went wrong should not go unnoticed, nor fill the
// log of a saver that reads the store again and again.
void ReportProblems(const StorePaths& paths, std::string_view contents, const std::vector<Problem>& problems) {
    if (problems.empty()) return;
    static std::mutex mutex;
    static std::unordered_set<std::size_t> reported;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const std::string identity = paths.file + '\0' + std::string(contents);
        if (!reported.insert(std::hash<std::string>()(identity)).second) return;
    }
    constexpr std::size_t kShown = 10;  // more than a slip of the hand: not a store at all
    for (std::size_t i = 0; i < problems.size() && i < kShown; ++i) {
        std::fprintf(stderr, "kaleidra: %s:%zu: line ignored: %s\n", paths.file.c_str(), problems[i].line,
                     problems[i].what.c_str());
    }
    if (problems.size() > kShown) {
        std::fprintf(stderr, "kaleidra: %s: %zu more lines ignored\n", paths.file.c_str(),
                     problems.size() - kShown);
    }
}

struct LoadedStore {
    KeyFilePtr file;
    std::string original;  // the file's bytes, when it had to be repaired
    bool repaired = false;
};

// Loads the store; a missing file is an empty store.
long LoadFile(const StorePaths& paths, LoadedStore* store) {
    store->file = NewKeyFile();
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
    const std::string_view text(contents, length);
    const TidyText tidy = Tidy(text);
    ReportProblems(paths, text, tidy.problems);
    store->repaired = !tidy.problems.empty();
    if (store->repaired) store->original.assign(text);
    g_free(contents);
    // Tidy leaves nothing GKeyFile refuses; should it still refuse, no write
    // may replace a file the store could not read.
    const bool parsed = g_key_file_load_from_data(store->file.get(), tidy.text.data(), tidy.text.size(),
                                                  G_KEY_FILE_NONE, nullptr);
    return parsed ? ERROR_SUCCESS : ERROR_READ_FAULT;
}

// Keeps a repaired file as it was before the store first rewrites it, for the
// user to take back what the repair left out; never replaces an earlier copy.
long KeepOriginal(const StorePaths& paths, const std::string& original) {
    GDateTime* now = g_date_time_new_now_utc();
    gchar* stamp = g_date_time_format(now, "%Y%m%dT%H%M%SZ");
    const std::string base = paths.file + ".orig-" + stamp;
    g_free(stamp);
    g_date_time_unref(now);
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const std::string target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return StatusFromErrno(errno, ERROR_WRITE_FAULT);
        bool ok = WriteAll(fd, original.data(), original.size()) && fsync(fd) == 0;
        const int error = errno;
        if (close(fd) != 0) ok = false;
        if (!ok) {
            unlink(target.c_str());
            return StatusFromErrno(error, ERROR_WRITE_FAULT);
        }
        std::fprintf(stderr, "kaleidra: %s: repaired; the original is kept as %s\n", paths.file.c_str(),
                     target.c_str());
        return ERROR_SUCCESS;
    }
    return ERROR_WRITE_FAULT;
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

// Runs change on the current store under the lock; writes the store back when
// change reports success and a difference. Reads go without the lock, since
// renames replace the file whole.
long ModifyStore(const std::function<long(GKeyFile*, bool* changed)>& change) {
    const StorePaths paths = CurrentPaths();
    StoreLock lock(paths);
    if (lock.status() != ERROR_SUCCESS) return lock.status();
    LoadedStore store;
    long status = LoadFile(paths, &store);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    status = change(store.file.get(), &changed);
    if (status != ERROR_SUCCESS || !changed) return status;
    if (store.repaired) {
        status = KeepOriginal(paths, store.original);
        if (status != ERROR_SUCCESS) return status;
    }
    return WriteAtomically(paths, store.file.get());
}

}  // namespace

std::string StoreFilePath() { return CurrentPaths().file; }

long SHGetValue(std::string_view keyPath, std::string_view valueName, std::string* out,
                std::size_t bufferBytes, StoreChars chars) {
    LoadedStore store;
    const long status = LoadFile(CurrentPaths(), &store);
    if (status != ERROR_SUCCESS) return status;
    const std::optional<ValueRef> found = FindValue(store.file.get(), keyPath, valueName);
    if (!found) return ERROR_FILE_NOT_FOUND;
    gchar* raw = g_key_file_get_value(store.file.get(), found->group.c_str(), found->key.c_str(), nullptr);
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
        const std::optional<ValueRef> found = FindValue(file, keyPath, valueName);
        if (!found) {
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
        gchar* old = g_key_file_get_value(file, found->group.c_str(), found->key.c_str(), nullptr);
        *changed = !old || raw != old;
        g_free(old);
        g_key_file_set_value(file, found->group.c_str(), found->key.c_str(), raw.c_str());
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
        const std::optional<ValueRef> found = FindValue(file, keyPath, valueName);
        if (found) g_key_file_remove_key(file, found->group.c_str(), found->key.c_str(), nullptr);
        *changed = found.has_value();
        return *changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}
