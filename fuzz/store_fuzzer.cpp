// The store reading a settings file it did not write: the input is the file,
// as a hand edit or a damaged disk may leave it. Every value the file seems
// to hold is read, one value is written and deleted again, and the store
// must keep its word throughout: a write it reports as done reads back, and
// touches no other value.
//
// Input: one control byte (which value to write), then the file. The data
// written is the file's last line, so it varies with everything else.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "platform/store.h"
#include "platform/text.h"
#include "scratch_folder.h"

namespace {

// Every read loads the whole file again: a long file is checked in part.
constexpr std::size_t kMaxValues = 48;
constexpr std::size_t kMaxStrayValues = 12;
constexpr std::size_t kMaxKeys = 8;
constexpr char kMainKey[] = "Software\\Veltrane\\Lumivista";

std::string scratchBase;  // $XDG_CONFIG_HOME
std::string storeDir;     // its kaleidra folder

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "store lied: %s\n", what);
        std::abort();
    }
}

void RemoveTree(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            RemoveTree(path + "/" + name);
        }
        closedir(dir);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void RemoveScratch() { RemoveTree(scratchBase); }

// Every (group, name) the file seems to hold, found without the store's
// parser: brackets open a group, a line with '=' names a value.
struct Candidate {
    std::string key, name;
};

struct Seen {
    std::vector<std::string> keys;  // every bracketed line, in file order
    std::vector<Candidate> values;
};

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

Seen Candidates(std::string_view file) {
    Seen out;
    std::string group;
    while (!file.empty()) {
        const std::size_t end = file.find('\n');
        std::string_view line = file.substr(0, end);
        file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            const std::size_t close = trimmed.find(']');
            group = trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            out.keys.push_back(group);
        } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos && !group.empty()) {
            std::string name = Trim(line.substr(0, equals));
            if (!name.empty()) out.values.push_back({group, name});
        }
    }
    return out;
}

std::string KeyOnly(std::string key) {
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

bool SameValue(const Candidate& a, const Candidate& b) {
    return EqualsIgnoringCase(KeyOnly(a.key), KeyOnly(b.key)) && EqualsIgnoringCase(a.name, b.name);
}

struct Reading {
    long status;
    std::string value;
};

Reading Read(const Candidate& at) {
    Reading reading{0, "untouched"};
    reading.status = SHGetValue(at.key, at.name, &reading.value, std::numeric_limits<std::size_t>::max());
    if (reading.status != ERROR_SUCCESS) {
        Require(reading.value == "untouched", "a failed read changed the caller's string");
        reading.value.clear();
    }
    return reading;
}

// A read and its neighbours: the narrow buffer that just fits, the one a
// byte short, and the name spelled in another case.
Reading ReadAndCheck(const Candidate& at) {
    const Reading reading = Read(at);
    Require(reading.status == ERROR_SUCCESS || reading.status == ERROR_FILE_NOT_FOUND,
            "a read of a local file failed otherwise than not found");
    if (reading.status != ERROR_SUCCESS) return reading;
    std::string narrow = "untouched";
    Require(SHGetValue(at.key, at.name, &narrow, reading.value.size() + 1, StoreChars::Narrow) == ERROR_SUCCESS &&
                narrow == reading.value,
            "a narrow buffer that fits does not read the value");
    narrow = "untouched";
    Require(SHGetValue(at.key, at.name, &narrow, reading.value.size(), StoreChars::Narrow) == ERROR_MORE_DATA &&
                narrow == "untouched",
            "a narrow buffer a byte short is not refused");
    std::string utf16;
    Require(SHGetValue(at.key, at.name, &utf16, (Utf16Length(reading.value) + 1) * 2) == ERROR_SUCCESS &&
                utf16 == reading.value,
            "a UTF-16 buffer that fits does not read the value");
    std::string upper = at.name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const Reading shouted = Read({at.key, upper});
    Require(shouted.status == reading.status && shouted.value == reading.value,
            "a name in other case reads another value");
    return reading;
}

// A value is read only under the key whose lines hold it: one that follows a
// broken [key] line must not turn up under the key before.
void CheckNoStrayValues(const Seen& seen) {
    for (std::size_t v = 0; v < seen.values.size() && v < kMaxStrayValues; ++v) {
        const Candidate& value = seen.values[v];
        for (std::size_t k = 0; k < seen.keys.size() && k < kMaxKeys; ++k) {
            const std::string& key = seen.keys[k];
            const Candidate elsewhere{key, value.name};
            bool written = false;
            for (const Candidate& other : seen.values) written = written || SameValue(other, elsewhere);
            if (!written) Require(Read(elsewhere).status == ERROR_FILE_NOT_FOUND, "a value reads under a key it is not in");
        }
    }
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "the scratch store cannot be written");
    Require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "the scratch store cannot be written");
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratchBase = MakeScratchFolder("store");
    storeDir = scratchBase + "/kaleidra";
    setenv("XDG_CONFIG_HOME", scratchBase.c_str(), 1);
    std::atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    // Each input starts from nothing but its own file.
    RemoveTree(storeDir);
    mkdir(storeDir.c_str(), 0700);
    WriteFile(StoreFilePath(), file);

    const Seen seen = Candidates(file);
    const std::vector<Candidate> values(seen.values.begin(),
                                        seen.values.begin() + std::min(seen.values.size(), kMaxValues));
    std::vector<Reading> before;
    for (const Candidate& at : values) before.push_back(ReadAndCheck(at));
    CheckNoStrayValues(seen);

    const Candidate target =
        control % (values.size() + 1) == values.size() ? Candidate{kMainKey, "Fuzz Value"} : values[control % values.size()];
    const std::size_t lastLine = file.rfind('\n');
    const std::string written(lastLine == std::string_view::npos ? file : file.substr(lastLine + 1));

    const long status = SHSetValue(target.key, target.name, written);
    Require(status == ERROR_SUCCESS || status == ERROR_INVALID_PARAMETER, "a write to a local file failed");
    if (status != ERROR_SUCCESS) return 0;
    const Reading back = ReadAndCheck(target);
    Require(back.status == ERROR_SUCCESS && back.value == written, "a write reported done does not read back");
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (SameValue(values[i], target)) continue;
        const Reading now = Read(values[i]);
        Require(now.status == before[i].status && now.value == before[i].value, "a write changed another value");
    }

    Require(SHDeleteValue(target.key, target.name) == ERROR_SUCCESS, "a value just written cannot be deleted");
    Require(Read(target).status == ERROR_FILE_NOT_FOUND, "a deleted value still reads");
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (SameValue(values[i], target)) continue;
        const Reading now = Read(values[i]);
        Require(now.status == before[i].status && now.value == before[i].value, "a delete changed another value");
    }
    return 0;
}
