// A write killed at any moment leaves the old picture or the new one, never
// a damaged one, once the folder has had its next visit: a child process
// rewrites the metadata of a few pictures without pause and is killed at a
// random moment, a few hundred times over. One picture has a second link, so
// that its writes copy the new bytes back into it rather than rename them
// over it, and can be cut short halfway.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>

#include "metadata/picture_files.h"
#include "metadata/working_copy.h"
#include "metadata/xmp_metadata.h"

namespace {

constexpr int kKills = 300;

// The pixels as libvips decodes them, untouched by anything of ours.
std::string Pixels(const std::string& path) {
    VipsImage* image = vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr);
    if (!image) {
        vips_error_clear();
        return "<undecodable>";
    }
    std::size_t size = 0;
    void* memory = vips_image_write_to_memory(image, &size);
    std::string pixels = memory ? std::string(static_cast<const char*>(memory), size) : "<undecodable>";
    g_free(memory);
    g_object_unref(image);
    vips_error_clear();
    return pixels;
}

// Decodes for the test in a process of its own, forked before libvips is
// loaded anywhere: a writer forked from a process whose libvips thread pool
// has started waits forever on workers it does not have, so libvips must
// never start in the process the writers are forked from.
class PixelChecker {
public:
    PixelChecker() {
        if (pipe(requests_) != 0 || pipe(answers_) != 0) return;
        child_ = fork();
        if (child_ != 0) return;
        close(requests_[1]);
        close(answers_[0]);
        if (VIPS_INIT("write_kill_test") != 0) _exit(1);
        vips_cache_set_max(0);
        std::FILE* in = fdopen(requests_[0], "r");
        std::FILE* out = fdopen(answers_[1], "w");
        char* line = nullptr;
        std::size_t capacity = 0;
        for (ssize_t length; (length = getline(&line, &capacity, in)) > 0;) {
            const std::string pixels = Pixels(std::string(line, static_cast<std::size_t>(length - 1)));
            const std::string digest =
                pixels == "<undecodable>" ? pixels : std::to_string(std::hash<std::string>{}(pixels));
            std::fprintf(out, "%s\n", digest.c_str());
            std::fflush(out);
        }
        _exit(0);
    }
    ~PixelChecker() {
        if (in_) std::fclose(in_);
        close(requests_[1]);
        if (child_ > 0) waitpid(child_, nullptr, 0);
    }

    // A digest of the pixels, or "<undecodable>".
    std::string Digest(const std::string& path) {
        if (!in_) {
            close(requests_[0]);
            close(answers_[1]);
            in_ = fdopen(answers_[0], "r");
        }
        const std::string request = path + "\n";
        if (write(requests_[1], request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
        char answer[64] = {};
        if (!std::fgets(answer, sizeof answer, in_)) return {};
        return answer;
    }

private:
    int requests_[2] = {-1, -1};
    int answers_[2] = {-1, -1};
    pid_t child_ = -1;
    std::FILE* in_ = nullptr;
};

using WriteKillTest = PictureFileTest;

TEST_F(WriteKillTest, KilledWritesLeaveEveryPictureWholeWithItsPixelsAndPermissions) {
    PixelChecker checker;
    std::vector<std::string> pictures = {MakePicture("camera.jpg", 480, 360), MakePicture("drawing.png", 320, 240),
                                         MakePicture("scan.tif", 320, 240), MakePicture("album.jpg", 640, 480),
                                         MakePicture("phone.webp", 320, 240, "-quality 80")};
    Exiftool(pictures[0], "-Orientation#=1 -XMP-xmp:Label=Red -XMP-dc:Title=Harbour");
    Exiftool(pictures[3], "-Orientation#=1 -XMP-dc:Title=Album");
    ASSERT_EQ(link(pictures[3].c_str(), PathOf("album-twin.jpg").c_str()), 0);
    std::vector<std::string> originals;
    for (const std::string& path : pictures) {
        ASSERT_EQ(chmod(path.c_str(), 0640), 0);
        originals.push_back(checker.Digest(path));
        ASSERT_NE(originals.back(), "<undecodable>\n") << path;
    }
    ASSERT_TRUE(InitializeXmpToolkit());
    const auto WriteAll = [&pictures](int i) {
        for (const std::string& path : pictures) {
            WriteMetadataToFile(path, {.orientation = i % 2 ? 6 : 1, .rating = i % 6, .isPrivate = i % 3 == 0});
        }
    };
    // Kills are spread over about two rounds of writes, however fast this
    // build writes.
    const auto start = std::chrono::steady_clock::now();
    const pid_t timed = fork();
    ASSERT_GE(timed, 0);
    if (timed == 0) {
        WriteAll(0);
        _exit(0);
    }
    waitpid(timed, nullptr, 0);
    const auto round = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);

    // Rounds of writes the children finished, counted where the parent sees them.
    auto* finished = static_cast<std::atomic<long>*>(
        mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(finished, MAP_FAILED);
    new (finished) std::atomic<long>(0);

    // What the saver's walk does when it next comes to the folder.
    const auto Visit = [this] {
        for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
            const std::string name = entry.path().filename().string();
            if (IsWriteDebris(name)) RemoveWriteDebris(WorkDir(), name);
        }
    };
    int tornUntilVisited = 0;

    std::mt19937 random(12345);
    std::uniform_int_distribution<long> wait(0, 2 * round.count());
    for (int attempt = 0; attempt < kKills; ++attempt) {
        // The child says when it starts writing, so that its slow start
        // (a copy of this process) is not counted into the wait.
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const char ready = 1;
            if (write(started[1], &ready, 1) != 1) _exit(1);
            for (int i = attempt;; ++i) {
                WriteAll(i);
                finished->fetch_add(1);
            }
        }
        char ready = 0;
        ASSERT_EQ(read(started[0], &ready, 1), 1);
        close(started[0]);
        close(started[1]);
        usleep(static_cast<useconds_t>(wait(random)));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        if (checker.Digest(pictures[3]) != originals[3]) ++tornUntilVisited;
        Visit();
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            ASSERT_EQ(checker.Digest(pictures[i]), originals[i]) << pictures[i] << " after kill " << attempt;
            ASSERT_EQ(Identify(pictures[i]).mode & 07777, 0640u) << pictures[i] << " after kill " << attempt;
            PictureMetadata info;
            ASSERT_NO_THROW(ScanFileForMetadata(pictures[i], info)) << pictures[i] << " after kill " << attempt;
        }
    }
    // The kills must have fallen among writes, not only before the first.
    EXPECT_GT(finished->load(), kKills / 4);
    RecordProperty("finished_rounds", std::to_string(finished->load()));
    RecordProperty("torn_until_visited", std::to_string(tornUntilVisited));
    munmap(finished, sizeof(std::atomic<long>));

    // The visits left nothing of the killed writes, and the copy-backs kept
    // the second link.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"album-twin.jpg", "album.jpg", "camera.jpg", "drawing.png", "phone.webp", "scan.tif"}));
    struct stat album {};
    ASSERT_EQ(stat(pictures[3].c_str(), &album), 0);
    EXPECT_EQ(album.st_nlink, 2u);
}

}  // namespace
