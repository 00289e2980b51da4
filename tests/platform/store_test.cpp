#include "platform/store.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/store_test_support.h"

namespace {

constexpr char kKey[] = "Software\\Veltrane\\Lumivista\\";
constexpr char kGroup[] = "Software\\Veltrane\\Lumivista";
constexpr char kQueue[] = "Software\\Veltrane\\Lumivista\\Queue\\";

std::string Get(std::string_view key, std::string_view name, std::size_t bytes = 520) {
    std::string out = "<unchanged>";
    const long status = SHGetValue(key, name, &out, bytes);
    return status == ERROR_SUCCESS ? out : "<status " + std::to_string(status) + ">";
}

// The hand-edited originals the store has kept before repairing them.
std::vector<std::filesystem::path> KeptOriginals(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with("registry.ini.orig-")) out.push_back(entry.path());
    }
    return out;
}

using StoreTest = ScratchStoreTest;

TEST_F(StoreTest, WritesOneGroupPerKeyPathIntoAPrivateFile) {
    EXPECT_EQ(Get(kKey, "Timer"), "<status 2>");
    EXPECT_FALSE(std::filesystem::exists(StoreFile()));  // reading creates nothing

    ASSERT_EQ(SHSetValue(kKey, "Timer", "5"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue(kQueue, "0", "/home/u/Pictures"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue("Control Panel\\Desktop", "ScreenSaveUsePassword", "1"), ERROR_SUCCESS);

    EXPECT_EQ(StoreFilePath(), StoreFile().string());
    const std::string text = ReadWhole(StoreFile());
    EXPECT_NE(text.find("[Software\\Veltrane\\Lumivista]\nTimer=5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Software\\Veltrane\\Lumivista\\Queue]\n0=/home/u/Pictures\n"), std::string::npos);
    EXPECT_EQ(Get(kGroup, "Timer"), "5");  // with or without the trailing backslash
    EXPECT_EQ(Get("Control Panel\\Desktop", "ScreenSaveUsePassword"), "1");

    struct stat info;
    ASSERT_EQ(stat(StoreFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(StoreTest, FallsBackToHomeConfigWithoutAnAbsoluteXdgConfigHome) {
    const char* savedHome = getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    setenv("HOME", WorkDir().c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(StoreFilePath(), (WorkDir() / ".config/kaleidra/registry.ini").string());
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(StoreFilePath(), (WorkDir() / ".config/kaleidra/registry.ini").string());
    setenv("HOME", home.c_str(), 1);
}

TEST_F(StoreTest, ValueNamesAndKeysCompareWithoutCaseKeepingTheFirstSpelling) {
    ASSERT_EQ(SHSetValue(kKey, "Lines Of Metadata", "2"), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "Lines of metadata"), "2");
    EXPECT_EQ(Get("software\\VELTRANE\\lumivista", "LINES OF METADATA"), "2");

    ASSERT_EQ(SHSetValue("SOFTWARE\\Veltrane\\Lumivista", "lines of metadata", "0"), ERROR_SUCCESS);
    EXPECT_EQ(DumpStore(StoreFile()), "Software\\Veltrane\\Lumivista/Lines Of Metadata=0\n");
    EXPECT_EQ(Get(kKey, "Lines Of Metadata"), "0");

    ASSERT_EQ(SHDeleteValue(kKey, "LINES of METADATA"), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "Lines Of Metadata"), "<status 2>");
}

TEST_F(StoreTest, HandEditedDuplicatesCollapseIntoTheFirstSpelling) {
    WriteWhole(StoreFile(),
               "# my settings\n[Software\\Veltrane\\Lumivista]\nPath=/old1\nTimer=3\nPath=/old2\ntimer=4\n"
               "[software\\veltrane\\lumivista]\nTIMER=5\n");
    EXPECT_EQ(Get(kKey, "Path"), "/old1");
    EXPECT_EQ(Get(kKey, "Timer"), "3");
    ASSERT_EQ(SHSetValue(kKey, "Path", "/new"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue(kKey, "timer", "7"), ERROR_SUCCESS);
    EXPECT_EQ(DumpStore(StoreFile()),
              "Software\\Veltrane\\Lumivista/Path=/new\nSoftware\\Veltrane\\Lumivista/Timer=7\n");
}

TEST_F(StoreTest, ReadFailsWhenTheValueDoesNotFitTheBuffer) {
    const std::string nineteen(19, '7');
    ASSERT_EQ(SHSetValue(kKey, "Timer", nineteen), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "Timer", 40), nineteen);
    ASSERT_EQ(SHSetValue(kKey, "Timer", nineteen + "7"), ERROR_SUCCESS);
    std::string out = "kept";
    EXPECT_EQ(SHGetValue(kKey, "Timer", &out, 40), ERROR_MORE_DATA);
    EXPECT_EQ(out, "kept");

    // 259 units of path fit 520 bytes; a character outside the BMP takes two.
    const std::string path = "/" + std::string(258, 'p');
    ASSERT_EQ(SHSetValue(kKey, "Path", path), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "Path", 520), path);
    ASSERT_EQ(SHSetValue(kKey, "Path", path.substr(1) + "\xF0\x9D\x84\x9E"), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "Path", 520), "<status 234>");

    // 8-bit readers count bytes: 19 bytes and a terminator fill 20.
    ASSERT_EQ(SHSetValue(kKey, "QIndex", "-2147483648"), ERROR_SUCCESS);
    EXPECT_EQ(SHGetValue(kKey, "QIndex", &out, 20, StoreChars::Narrow), ERROR_SUCCESS);
    EXPECT_EQ(out, "-2147483648");
    EXPECT_EQ(SHGetValue(kKey, "QIndex", &out, 20), ERROR_MORE_DATA);
    EXPECT_EQ(SHGetValue(kKey, "QIndex", &out, 11, StoreChars::Narrow), ERROR_MORE_DATA);
}

TEST_F(StoreTest, ValuesRoundTripByteExactAndKeepTheFileUtf8) {
    const std::vector<std::string> values = {
        "",
        "/home/u/Bilder/\xFF\xFEodd name\xC3",    // not UTF-8
        "/home/u/\xC3\xA9t\xC3\xA9/\xF0\x9D\x84\x9E",
        "  leading and trailing  ",
        "line\nbreak\r\ttab",
        "back\\slash \\n \\x41 \\s and trailing \\",
        std::string("nul\0inside", 10),
        "#not a comment",
        "=[group]=",
        "\x01\x7F",
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(SHSetValue(kQueue, std::to_string(i), values[i]), ERROR_SUCCESS);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(Get(kQueue, std::to_string(i)), values[i]) << i;
    }
    const std::string text = ReadWhole(StoreFile());
    EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr));
    EXPECT_NE(DumpStore(StoreFile()), "<unparseable>");
}

TEST_F(StoreTest, PlainHandEditsReadAsWritten) {
    // As an editor may save it: a byte order mark first, lines ending in CR LF.
    WriteWhole(StoreFile(), "\xEF\xBB\xBF[Software\\Veltrane\\Lumivista]\r\nDebugOutput = 1\r\nPath=C:\\odd\\dir\\q\n");
    EXPECT_EQ(Get(kKey, "DebugOutput"), "1");
    EXPECT_EQ(Get(kKey, "Path"), "C:\\odd\\dir\\q");  // unknown escapes stay as typed
}

TEST_F(StoreTest, RefusesNamesTheFileCannotHold) {
    for (const char* name : {"", "a=b", "x[de]", " lead", "trail ", "#hash", "tab\there", "\xFF"}) {
        EXPECT_EQ(SHSetValue(kKey, name, "1"), ERROR_INVALID_PARAMETER) << name;
    }
    EXPECT_EQ(SHSetValue("", "Timer", "1"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SHSetValue("\\", "Timer", "1"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SHSetValue("Soft[ware]", "Timer", "1"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SHDeleteKey(""), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(StoreFile()));
}

TEST_F(StoreTest, DeletingAKeyTakesItsSubkeysAndNothingElse) {
    ASSERT_EQ(SHSetValue(kKey, "QIndex", "4"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue(kQueue, "0", "/a"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue(kQueue, "1", "/b"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista\\Queue\\Deeper", "x", "1"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista\\Queued", "0", "/c"), ERROR_SUCCESS);

    EXPECT_EQ(SHDeleteKey("software\\veltrane\\lumivista\\queue\\"), ERROR_SUCCESS);
    EXPECT_EQ(Get(kQueue, "0"), "<status 2>");
    EXPECT_EQ(Get("Software\\Veltrane\\Lumivista\\Queue\\Deeper", "x"), "<status 2>");
    EXPECT_EQ(Get("Software\\Veltrane\\Lumivista\\Queued", "0"), "/c");
    EXPECT_EQ(Get(kKey, "QIndex"), "4");
    EXPECT_EQ(SHDeleteKey(kQueue), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(SHDeleteValue(kKey, "QIndex"), ERROR_SUCCESS);
    EXPECT_EQ(SHDeleteValue(kKey, "QIndex"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SHDeleteValue("No\\Such\\Key", "QIndex"), ERROR_FILE_NOT_FOUND);

    // A key with only subkeys is a key too.
    EXPECT_EQ(SHDeleteKey("Software\\Veltrane"), ERROR_SUCCESS);
    EXPECT_TRUE(KeptOriginals(StoreDir()).empty());
    EXPECT_EQ(ReadWhole(StoreFile()), "");
}

TEST_F(StoreTest, LinesThatDoNotParseAreSkippedNamedOnceAndKeptAsideBeforeARewrite) {
    const std::string original =
        "# hand edited\n"
        "Stray=1\n"
        "[Software\\Veltrane\\Lumivista]\n"
        "DebugOutput 1\n"
        "Timer=3\n"
        "[Software\\Veltrane\n"
        "Path=/p\xFF\n"
        "Play Video = 0\n"
        "[Software\\Veltrane\\Lumivista\\Queue]\n"
        "0=/a\n";
    WriteWhole(StoreFile(), original);
    testing::internal::CaptureStderr();
    for (int read = 0; read < 2; ++read) {
        EXPECT_EQ(Get(kKey, "Timer"), "3");
        EXPECT_EQ(Get(kKey, "Play Video"), "<status 2>");  // meant for the key whose line was skipped
        EXPECT_EQ(Get(kQueue, "0"), "/a");
        EXPECT_EQ(Get(kKey, "DebugOutput"), "<status 2>");
        EXPECT_EQ(Get(kKey, "Path"), "<status 2>");
    }
    const std::string report = testing::internal::GetCapturedStderr();
    const std::string file = StoreFile().string();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 5) << report;
    for (const char* line : {":2: ", ":4: ", ":6: ", ":7: ", ":8: "}) {
        EXPECT_NE(report.find(file + line), std::string::npos) << line << report;
    }
    EXPECT_TRUE(KeptOriginals(StoreDir()).empty());  // reading changes nothing

    ASSERT_EQ(SHSetValue(kKey, "DebugOutput", "1"), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "DebugOutput"), "1");
    std::vector<std::filesystem::path> kept = KeptOriginals(StoreDir());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadWhole(kept[0]), original);
    EXPECT_EQ(DumpStore(StoreFile()),
              "Software\\Veltrane\\Lumivista/Timer=3\nSoftware\\Veltrane\\Lumivista/DebugOutput=1\n"
              "Software\\Veltrane\\Lumivista\\Queue/0=/a\n");

    // The repaired file needs no copy; a second bad edit in the same second
    // does not replace the first copy.
    ASSERT_EQ(SHSetValue(kKey, "Timer", "4"), ERROR_SUCCESS);
    EXPECT_EQ(KeptOriginals(StoreDir()).size(), 1u);
    WriteWhole(StoreFile(), "still garbage\n");
    ASSERT_EQ(SHSetValue(kKey, "Timer", "5"), ERROR_SUCCESS);
    EXPECT_EQ(KeptOriginals(StoreDir()).size(), 2u);
    EXPECT_EQ(DumpStore(StoreFile()), "Software\\Veltrane\\Lumivista/Timer=5\n");
}

TEST_F(StoreTest, AnUnreadableFileIsNeitherReplacedNorMovedAside) {
    std::filesystem::create_directories(StoreFile() / "in the way");
    EXPECT_EQ(Get(kKey, "Timer"), "<status 30>");
    EXPECT_EQ(SHSetValue(kKey, "Timer", "4"), ERROR_READ_FAULT);
    EXPECT_TRUE(std::filesystem::exists(StoreFile() / "in the way"));
    EXPECT_TRUE(KeptOriginals(StoreDir()).empty());
}

// Runs body in a child process; its exit status is the number of failures.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(StoreTest, ConcurrentWritersLoseNothingAndTheFileAlwaysParses) {
    constexpr int kWrites = 1000;
    const std::filesystem::path file = StoreFile();
    auto writer = [&](char tag) {
        return [&file, tag] {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                const std::string name = std::string(1, tag) + std::to_string(i);
                if (SHSetValue(kQueue, name, "value " + name) != ERROR_SUCCESS) ++failures;
                // Whatever the other writer is doing, the file parses and
                // holds at least this writer's values so far.
                const std::string dump = DumpStore(file);
                if (std::count(dump.begin(), dump.end(), '\n') < i + 1 || dump == "<unparseable>") ++failures;
            }
            return failures > 0 ? 1 : 0;
        };
    };
    const pid_t a = Spawn(writer('a'));
    const pid_t b = Spawn(writer('b'));
    EXPECT_EQ(ExitStatus(a), 0);
    EXPECT_EQ(ExitStatus(b), 0);

    const std::string dump = DumpStore(file);
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 2 * kWrites);
    for (const char* name : {"a0", "a999", "b0", "b500", "b999"}) {
        EXPECT_EQ(Get(kQueue, name), std::string("value ") + name);
    }
    EXPECT_TRUE(KeptOriginals(StoreDir()).empty());
}

// True when the file parses and holds nothing but one whole value of the
// writer below.
bool HoldsACompleteBlob(const std::filesystem::path& file, std::size_t size) {
    const std::string dump = DumpStore(file);
    const std::string prefix = std::string(kGroup) + "/Blob=";
    return dump.size() == prefix.size() + size + 1 && dump.starts_with(prefix) &&
           dump.find_first_not_of(dump[prefix.size()], prefix.size()) == dump.size() - 1;
}

TEST_F(StoreTest, AWriterStoppedOrKilledMidWriteLeavesTheLastCompleteFile) {
    constexpr std::size_t kSize = 1 << 20;  // large, so that writes take a while
    ASSERT_EQ(SHSetValue(kKey, "Blob", std::string(kSize, 'z')), ERROR_SUCCESS);
    const pid_t child = Spawn([&] {
        for (int round = 0;; ++round) SHSetValue(kKey, "Blob", std::string(kSize, static_cast<char>('a' + round % 26)));
        return 0;
    });
    // Freeze the writer at many points of its cycle and look at the file each time.
    int incomplete = 0;
    for (int sample = 0; sample < 300; ++sample) {
        std::this_thread::sleep_for(std::chrono::microseconds(100 * (sample * 7 % 23)));
        kill(child, SIGSTOP);
        int status;
        waitpid(child, &status, WUNTRACED);
        if (!HoldsACompleteBlob(StoreFile(), kSize)) ++incomplete;
        kill(child, SIGCONT);
    }
    kill(child, SIGKILL);
    EXPECT_EQ(ExitStatus(child), 128 + SIGKILL);
    EXPECT_EQ(incomplete, 0);
    EXPECT_TRUE(HoldsACompleteBlob(StoreFile(), kSize));

    // The lock died with its holder, and a stale temporary file is no obstacle.
    EXPECT_EQ(SHSetValue(kKey, "Timer", "2"), ERROR_SUCCESS);
    EXPECT_EQ(Get(kKey, "Timer"), "2");
    EXPECT_TRUE(KeptOriginals(StoreDir()).empty());
}

}  // namespace
