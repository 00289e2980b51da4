// A write killed at any moment leaves the old picture or the new one, never
// a damaged one: a child process rewrites the metadata of a few pictures
// without pause and is killed at a random moment, a few hundred times over.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <atomic>
#include <chrono>
#include <random>

#include "metadata/picture_files.h"
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

using WriteKillTest = PictureFileTest;

TEST_F(WriteKillTest, KilledWritesLeaveEveryPictureWholeWithItsPixelsAndPermissions) {
    ASSERT_EQ(VIPS_INIT("write_kill_test"), 0);
    vips_cache_set_max(0);
    std::vector<std::string> pictures = {MakePicture("camera.jpg", 480, 360), MakePicture("drawing.png", 320, 240),
                                         MakePicture("scan.tif", 320, 240)};
    Exiftool(pictures[0], "-Orientation#=1 -XMP-xmp:Label=Red -XMP-dc:Title=Harbour");
    std::vector<std::string> originals;
    for (const std::string& path : pictures) {
        ASSERT_EQ(chmod(path.c_str(), 0640), 0);
        originals.push_back(Pixels(path));
        ASSERT_NE(originals.back(), "<undecodable>") << path;
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
    WriteAll(0);
    const auto round = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);

    // Rounds of writes the children finished, counted where the parent sees them.
    auto* finished = static_cast<std::atomic<long>*>(
        mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(finished, MAP_FAILED);
    new (finished) std::atomic<long>(0);

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

        for (std::size_t i = 0; i < pictures.size(); ++i) {
            ASSERT_EQ(Pixels(pictures[i]), originals[i]) << pictures[i] << " after kill " << attempt;
            ASSERT_EQ(Identify(pictures[i]).mode & 07777, 0640u) << pictures[i] << " after kill " << attempt;
            PictureMetadata info;
            ASSERT_NO_THROW(ScanFileForMetadata(pictures[i], info)) << pictures[i] << " after kill " << attempt;
        }
    }
    // The kills must have fallen among writes, not only before the first.
    EXPECT_GT(finished->load(), kKills / 4);
    RecordProperty("finished_rounds", std::to_string(finished->load()));
    munmap(finished, sizeof(std::atomic<long>));

    // Whatever a killed write left behind is hidden from the folder walk.
    for (const auto& entry : std::filesystem::directory_iterator(WorkDir())) {
        const std::string name = entry.path().filename().string();
        const bool picture = std::find(pictures.begin(), pictures.end(), entry.path().string()) != pictures.end();
        EXPECT_TRUE(picture || name[0] == '.') << name;
    }
}

}  // namespace
