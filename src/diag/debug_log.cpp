#include "diag/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Enough for any real directory, and an end to the search in a strange one.
constexpr long kMaxRunNumber = 100000;

std::FILE* logStream = nullptr;
std::string spoolName;
std::string finalName;

std::string RunFileName(const char* format, long run) {
    char name[50];
    std::snprintf(name, sizeof name, format, run);
    return name;
}

bool Exists(const std::string& name) {
    struct stat info;
    return lstat(name.c_str(), &info) == 0;
}

void Write(std::string_view bytes) {
    if (!logStream) return;
    std::fwrite(bytes.data(), 1, bytes.size(), logStream);
    // A crash must not lose what led up to it.
    std::fflush(logStream);
}

}  // namespace

void OpenDebugLog() {
    if (logStream) return;
    for (long run = 0; run < kMaxRunNumber; ++run) {
        const std::string final = RunFileName("VeltraneSSDebug%ld.log", run);
        const std::string spool = RunFileName("VeltraneSSDebugSpool%ld.log", run);
        if (Exists(final)) continue;
        // Exclusive creation, never through a link: in a shared directory the
        // log can neither overwrite another file nor be redirected to one.
        const int fd = open(spool.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        logStream = fdopen(fd, "w");
        if (!logStream) {
            close(fd);
            unlink(spool.c_str());
            return;
        }
        spoolName = spool;
        finalName = final;
        Write("Created ScreenSaverDebug.log\n");
        Write("Kaleidra Screen Saver");
        Write(" 1.4beta2");
        Write("\n");
        return;
    }
}

void LogNumber(long number) {
    if (!logStream) return;
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx ",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(number)));
    Write(text);
}

void LogText(std::string_view text) { Write(text); }

void CloseDebugLog() {
    if (!logStream) return;
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
