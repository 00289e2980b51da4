// A private folder for the files a harness hands to the code under test:
// in memory where /dev/shm exists, since the store syncs every write to disk.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string MakeScratchFolder(const char* name) {
    struct stat st;
    const bool shm = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode);
    std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/kaleidra-fuzz-" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("no scratch folder");
        std::abort();
    }
    return pattern;
}
