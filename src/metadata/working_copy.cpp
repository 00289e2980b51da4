#include "metadata/working_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace {

[[noreturn]] void Fail(const char* what, int error = errno) {
    throw std::system_error(error, std::generic_category(), what);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

void CopyAll(int from, int to) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got == 0) return;
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail("read");
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                Fail("write");
            }
            done += put;
        }
    }
}

// The copy keeps the picture's suffix, in case a handler goes by it; a
// suffix too long to be one is left off, so the copy's name always fits.
std::string Suffix(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) return {};
    return name.substr(dot);
}

}  // namespace

WorkingCopy::WorkingCopy(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) Fail("realpath");
    picturePath_ = resolved;
    std::free(resolved);

    const Descriptor original(open(picturePath_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (original.Get() < 0) Fail("open");
    struct stat status;
    if (fstat(original.Get(), &status) != 0) Fail("fstat");
    if (!S_ISREG(status.st_mode)) Fail("not a regular file", EINVAL);
    // Whoever took every write permission away meant the picture to stay as
    // it is, even for a saver that runs with the power to override that.
    if ((status.st_mode & 0222) == 0) Fail("read-only picture", EACCES);
    mode_ = status.st_mode & 07777;
    owner_ = status.st_uid;
    group_ = status.st_gid;

    const auto slash = picturePath_.rfind('/');
    const std::string suffix = Suffix(picturePath_.substr(slash + 1));
    // Hidden, so that the folder walk never shows a copy a crash left behind.
    std::string name = picturePath_.substr(0, slash + 1) + ".kaleidra-XXXXXX" + suffix;
    const Descriptor copy(mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC));
    if (copy.Get() < 0) Fail("mkostemps");
    copyPath_ = name;
    try {
        CopyAll(original.Get(), copy.Get());
    } catch (...) {
        unlink(copyPath_.c_str());
        throw;
    }
}

WorkingCopy::~WorkingCopy() {
    if (!replaced_) unlink(copyPath_.c_str());
}

void WorkingCopy::ReplaceOriginal() {
    // The editor may have replaced the copy by a new file of its own making.
    const Descriptor copy(open(copyPath_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (copy.Get() < 0) Fail("open");
    struct stat status;
    if (fstat(copy.Get(), &status) != 0) Fail("fstat");
    if (status.st_uid != owner_ || status.st_gid != group_) {
        if (fchown(copy.Get(), status.st_uid != owner_ ? owner_ : static_cast<uid_t>(-1),
                   status.st_gid != group_ ? group_ : static_cast<gid_t>(-1)) != 0) {
            Fail("fchown");
        }
    }
    if (fchmod(copy.Get(), mode_) != 0) Fail("fchmod");
    if (fsync(copy.Get()) != 0) Fail("fsync");
    if (rename(copyPath_.c_str(), picturePath_.c_str()) != 0) Fail("rename");
    replaced_ = true;
    // The rename itself reaches the disk with the folder.
    const Descriptor folder(open(picturePath_.substr(0, picturePath_.rfind('/') + 1).c_str(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0) fsync(folder.Get());
}

bool IsWriteDebris(std::string_view name) { return name.starts_with(".kaleidra-"); }

void RemoveWriteDebris(const std::string&, const std::string&) {}
