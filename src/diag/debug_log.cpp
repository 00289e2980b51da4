#include "diag/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

// Enough for any real directory, and an end to the search in a strange one.
constexpr long kMaxRunNumber = 100000;

// Library threads write lines too; the GUI thread's calls take the lock as well.
std::mutex logLock;
std::FILE* logStream = nullptr;
std::string spoolName;
std::string finalName;
// Whether the last byte written ended a line, and the lines held until it does.
bool atLineStart = true;
std::string heldLines;

std::string RunFileName(const char* format, long run) {
    char name[50];
    std::snprintf(name, sizeof name, format, run);
    return name;
}

bool Exists(const std::string& name) {
    struct stat info;
    return lstat(name.c_str(), &info) == 0;
}

// With logLock held.
void Write(std::string_view bytes) {
    if (!logStream || bytes.empty()) return;
    std::fwrite(bytes.data(), 1, bytes.size(), logStream);
    atLineStart = bytes.back() == '\n';
    if (atLineStart && !heldLines.empty()) {
        std::fwrite(heldLines.data(), 1, heldLines.size(), logStream);
        heldLines.clear();
    }
    // A crash must not lose what led up to it.
    std::fflush(logStream);
}

}  // namespace

void OpenDebugLog() {
    const std::lock_guard lock(logLock);
    if (logStream) return;
    for (long run = 0; run < kMaxRunNumber; ++run) {
        const std::string final = RunFileName("VeltraneSSDebug%ld.log", run);
        const std::string spool = RunFileName("VeltraneSSDebugSpool%ld.log", run);
        if (Exists(final)) continue;
        // Exclusive creation, never through a link: in a shared directory the
        // log can neither overwrite another file nor be redirected to one.
        const int fd = open(spool.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        // The umask can only take bits away; a strange one must not make the
        // file unwritable for its owner either.
        fchmod(fd, 0600);
        logStream = fdopen(fd, "w");
        if (!logStream) {
            close(fd);
            unlink(spool.c_str());
            return;
        }
        spoolName = spool;
        finalName = final;
        atLineStart = true;
        Write("Created ScreenSaverDebug.log\n");
        Write("Kaleidra Screen Saver");
        Write(" 1.4beta2");
        Write("\n");
        return;
    }
}

void LogNumber(long number) {
    const std::lock_guard lock(logLock);
    if (!logStream) return;
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx ",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(number)));
    Write(text);
}

void LogText(std::string_view text) {
    const std::lock_guard lock(logLock);
    Write(text);
}

void LogLine(std::string_view text) {
    const std::lock_guard lock(logLock);
    if (!logStream) return;
    if (!atLineStart) {
        heldLines.append(text).push_back('\n');
        return;
    }
    std::string line(text);
    line.push_back('\n');
    Write(line);
}

void CloseDebugLog() {
    const std::lock_guard lock(logLock);
    if (!logStream) return;
    // Lines still held wait for an end the run did not write.
    if (!heldLines.empty()) Write("\n");
    std::fclose(logStream);
    logStream = nullptr;
    if (renameat2(AT_FDCWD, spoolName.c_str(), AT_FDCWD, finalName.c_str(), RENAME_NOREPLACE) != 0 &&
        errno == EINVAL) {
        // The file system cannot refuse to replace; the search found the name free.
        std::rename(spoolName.c_str(), finalName.c_str());
    }
}

void LogEntry(long number, std::string_view text) {
    LogNumber(number);
    LogText(text);
    LogText("\n");
}
