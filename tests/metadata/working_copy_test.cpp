// Writes through a working copy change the picture's bytes and nothing else
// about it, and only the picture's, and what a write cut short leaves is put
// right by the next visit to the folder, whoever makes it.
#include "metadata/working_copy.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "metadata/picture_files.h"

namespace {

constexpr uid_t kOwner = 4242;
constexpr gid_t kFamily = 4343;
constexpr gid_t kOtherGroup = 4444;
constexpr uid_t kRelative = 4545;
constexpr gid_t kOwnersOwnGroup = 4646;

// Runs body in a child process; its exit status (128 + signal when killed).
int InChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        int status = 1;
        try {
            status = body();
        } catch (...) {
            status = 99;
        }
        _exit(status);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Takes on the identity of a family member who is not the picture's owner.
bool BecomeRelative() {
    const gid_t groups[] = {kFamily};
    return setgroups(1, groups) == 0 && setgid(kOtherGroup) == 0 && setuid(kRelative) == 0;
}

// Takes on the identity of the picture's owner, in the family too or alone.
bool BecomeOwner(bool inFamily) {
    const gid_t groups[] = {inFamily ? kFamily : kOwnersOwnGroup};
    return setgroups(1, groups) == 0 && setresgid(groups[0], groups[0], groups[0]) == 0 &&
           setresuid(kOwner, kOwner, kOwner) == 0;
}

// A write whose copy-back into picture (of fewer than 250000 bytes, and
// one the write cannot rename over) is cut short: the writer, whoever
// become makes it, dies of its file size limit halfway. Its exit status.
int WriteCutShort(const std::string& picture, const std::function<bool()>& become = [] { return true; }) {
    return InChild([&] {
        if (!become()) return 2;
        WorkingCopy copy(picture);
        WriteWhole(copy.Path(), std::string(300000, 'n'));
        signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{250000, 250000};
        setrlimit(RLIMIT_FSIZE, &limit);
        copy.ReplaceOriginal();
        return 0;
    });
}

// The errno a write through a working copy raised; 0 when it went through.
int WriteError(const std::function<void()>& write) {
    try {
        write();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

std::vector<std::string> Debris(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (IsWriteDebris(entry.path().filename().string())) names.push_back(entry.path().filename().string());
    }
    return names;
}

class WorkingCopyTest : public PictureFileTest {
protected:
    void SetUp() override {
        PictureFileTest::SetUp();
        // Others must reach the scratch folder to work in it.
        std::filesystem::permissions(WorkDir().parent_path(), std::filesystem::perms(0755));
        std::filesystem::permissions(WorkDir(), std::filesystem::perms(0755));
    }

    std::string Picture(const std::string& name, const std::string& bytes) {
        const std::string path = PathOf(name);
        WriteWhole(path, bytes);
        return path;
    }
};

TEST_F(WorkingCopyTest, FamilyMemberWhoIsNotTheOwnerWritesThePictureKeepingAllItCarries) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a family of users";
    const std::filesystem::path family = WorkDir() / "family";
    std::filesystem::create_directory(family);
    ASSERT_EQ(chown(family.c_str(), kOwner, kFamily), 0);
    ASSERT_EQ(chmod(family.c_str(), 02775), 0);
    const std::string picture = (family / "harbour.jpg").string();
    WriteWhole(picture, "old picture bytes");
    ASSERT_EQ(chown(picture.c_str(), kOwner, kFamily), 0);
    ASSERT_EQ(chmod(picture.c_str(), 0664), 0);
    ASSERT_EQ(link(picture.c_str(), (family / "harbour-album.jpg").c_str()), 0);
    const bool xattrs = setxattr(picture.c_str(), "user.test", "kept", 4, 0) == 0;
    if (!xattrs) RecordProperty("xattrs", "not supported here, left unchecked");

    EXPECT_EQ(InChild([&] {
                  if (!BecomeRelative()) return 2;
                  WorkingCopy copy(picture);
                  WriteWhole(copy.Path(), "new picture bytes");
                  copy.ReplaceOriginal();
                  return 0;
              }),
              0);

    EXPECT_EQ(ReadWhole(picture), "new picture bytes");
    struct stat status {};
    ASSERT_EQ(stat(picture.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kOwner);
    EXPECT_EQ(status.st_gid, kFamily);
    EXPECT_EQ(status.st_mode & 07777, 0664u);
    EXPECT_EQ(status.st_nlink, 2u);
    if (xattrs) {
        char value[16] = {};
        EXPECT_EQ(getxattr(picture.c_str(), "user.test", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
    EXPECT_TRUE(Debris(family).empty());
}

TEST_F(WorkingCopyTest, PictureNobodyMayWriteIsLeftAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to own a picture for another user";
    std::filesystem::permissions(WorkDir(), std::filesystem::perms(0777));
    const std::string others = Picture("others.jpg", "someone else's");
    ASSERT_EQ(chown(others.c_str(), kOwner, kFamily), 0);
    ASSERT_EQ(chmod(others.c_str(), 0644), 0);
    EXPECT_EQ(InChild([&] {
                  if (!BecomeRelative()) return 2;
                  WorkingCopy copy(others);
                  return 0;
              }),
              99);
    // Root could write it, but its owner took every write permission away.
    const std::string sealed = Picture("sealed.jpg", "sealed");
    ASSERT_EQ(chmod(sealed.c_str(), 0444), 0);
    EXPECT_THROW(WorkingCopy{sealed}, std::system_error);

    EXPECT_EQ(ReadWhole(others), "someone else's");
    EXPECT_EQ(ReadWhole(sealed), "sealed");
    EXPECT_TRUE(Debris(WorkDir()).empty());
}

TEST_F(WorkingCopyTest, CopyBackCutShortIsUndoneByTheNextVisit) {
    const std::string old(200000, 'o');
    const std::string picture = Picture("linked.png", old);
    // A second link keeps the write from replacing the file by a rename.
    ASSERT_EQ(link(picture.c_str(), PathOf("twin.png").c_str()), 0);
    for (const bool earlierBuild : {false, true}) {
        ASSERT_EQ(WriteCutShort(picture), 128 + SIGXFSZ);
        ASSERT_NE(ReadWhole(picture), old) << "the copy-back was not cut short";
        // An earlier build's note named the picture and no more.
        if (earlierBuild) WriteWhole(WorkDir() / Debris(WorkDir()).at(0) / "picture", "linked.png");

        for (const std::string& name : Debris(WorkDir())) RemoveWriteDebris(WorkDir(), name);
        EXPECT_EQ(ReadWhole(picture), old);
        EXPECT_TRUE(Debris(WorkDir()).empty());
    }
}

TEST_F(WorkingCopyTest, NameReusedAfterACutShortCopyBackKeepsItsNewPhoto) {
    const std::string old(200000, 'o');
    const std::string photo(150000, 'p');
    // The picture deleted and a new photo saved under its name, or a new
    // photo copied over it in place, as cp does, keeping its inode.
    for (const bool inPlace : {false, true}) {
        const std::string picture = Picture("reused.png", old);
        ASSERT_EQ(link(picture.c_str(), PathOf("twin.png").c_str()), 0);
        ASSERT_EQ(WriteCutShort(picture), 128 + SIGXFSZ);
        if (!inPlace) {
            ASSERT_EQ(unlink(picture.c_str()), 0);
        }
        WriteWhole(picture, photo);

        for (const std::string& name : Debris(WorkDir())) RemoveWriteDebris(WorkDir(), name);
        EXPECT_EQ(ReadWhole(picture), photo) << (inPlace ? "copied over in place" : "saved anew");
        EXPECT_TRUE(Debris(WorkDir()).empty());
        ASSERT_EQ(unlink(PathOf("twin.png").c_str()), 0);
    }
}

TEST_F(WorkingCopyTest, OwnerFinishesAFamilyMembersCutShortWriteBeforeHerOwn) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a family of users";
    const std::filesystem::path family = WorkDir() / "family";
    std::filesystem::create_directory(family);
    ASSERT_EQ(chown(family.c_str(), kOwner, kFamily), 0);
    ASSERT_EQ(chmod(family.c_str(), 02775), 0);
    const std::string old(200000, 'o');
    const std::string picture = (family / "harbour.png").string();
    WriteWhole(picture, old);
    ASSERT_EQ(chown(picture.c_str(), kOwner, kFamily), 0);
    ASSERT_EQ(chmod(picture.c_str(), 0664), 0);

    ASSERT_EQ(WriteCutShort(picture, BecomeRelative), 128 + SIGXFSZ);
    // The owner rates the picture: on the picture as it was, not as the
    // cut-short write left it.
    EXPECT_EQ(InChild([&] {
                  if (!BecomeOwner(true)) return 2;
                  WorkingCopy copy(picture);
                  if (ReadWhole(copy.Path()) != old) return 3;
                  WriteWhole(copy.Path(), "the owner's rating");
                  copy.ReplaceOriginal();
                  return 0;
              }),
              0);
    // The family member's next visit.
    EXPECT_EQ(InChild([&] {
                  if (!BecomeRelative()) return 2;
                  RemoveFolderWriteDebris(family);
                  return 0;
              }),
              0);
    EXPECT_EQ(ReadWhole(picture), "the owner's rating");
    EXPECT_TRUE(Debris(family).empty());
}

TEST_F(WorkingCopyTest, NoWriteStartsOnAPictureWhoseCutShortWriteIsPending) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make users who share no group";
    // Anyone may write here, and a stranger's private folder lets no one else in.
    std::filesystem::permissions(WorkDir(), std::filesystem::perms(0777));
    const std::string old(200000, 'o');
    const std::string picture = Picture("shared.png", old);
    ASSERT_EQ(chown(picture.c_str(), kOwner, kOwnersOwnGroup), 0);
    ASSERT_EQ(chmod(picture.c_str(), 0666), 0);
    ASSERT_EQ(WriteCutShort(picture, BecomeRelative), 128 + SIGXFSZ);
    const std::string damaged = ReadWhole(picture);

    EXPECT_EQ(InChild([&] {
                  if (!BecomeOwner(false)) return 2;
                  return WriteError([&] {
                      WorkingCopy copy(picture);
                      WriteWhole(copy.Path(), "the owner's rating");
                      copy.ReplaceOriginal();
                  });
              }),
              EBUSY);
    EXPECT_EQ(ReadWhole(picture), damaged);
    // Until the writer's own next visit puts the picture right.
    ASSERT_EQ(InChild([&] { return BecomeRelative() && RemoveFolderWriteDebris(WorkDir()).empty() ? 0 : 1; }), 0);
    EXPECT_EQ(ReadWhole(picture), old);
}

TEST_F(WorkingCopyTest, WriteRefusesAFileMovedOverTheShownPicture) {
    const std::string picture = Picture("shown.jpg", "shown");
    const FileStamp shown = *OrdinaryFile(picture);
    EXPECT_EQ(WriteError([&] { WorkingCopy{picture, &shown}; }), 0);
    WriteWhole(PathOf("other.jpg"), "other");
    ASSERT_EQ(rename(PathOf("other.jpg").c_str(), picture.c_str()), 0);
    EXPECT_EQ(WriteError([&] {
                  WorkingCopy copy(picture, &shown);
                  WriteWhole(copy.Path(), "rated");
                  copy.ReplaceOriginal();
              }),
              ESTALE);
    EXPECT_EQ(ReadWhole(picture), "other");
    EXPECT_TRUE(Debris(WorkDir()).empty());
}

TEST_F(WorkingCopyTest, NewFileNeverReplacesOneThatAppeared) {
    const std::string sidecar = PathOf("photo.jpg.xmp");
    EXPECT_EQ(WriteError([&] {
                  WorkingCopy made = WorkingCopy::ForNewFile(sidecar, 0640);
                  WriteWhole(made.Path(), "ours");
                  WriteWhole(sidecar, "another program's");
                  made.ReplaceOriginal();
              }),
              EEXIST);
    EXPECT_EQ(ReadWhole(sidecar), "another program's");

    ASSERT_EQ(unlink(sidecar.c_str()), 0);
    const auto made = std::make_unique<WorkingCopy>(WorkingCopy::ForNewFile(sidecar, 0640));
    EXPECT_EQ(ReadWhole(made->Path()), "");
    WriteWhole(made->Path(), "ours");
    made->ReplaceOriginal();
    EXPECT_EQ(ReadWhole(sidecar), "ours");
    EXPECT_EQ(Identify(sidecar).mode & 07777, 0640u);
}

TEST_F(WorkingCopyTest, VisitLeavesAWriteInProgressAlone) {
    const std::string picture = Picture("busy.jpg", "old");
    WorkingCopy copy(picture);
    for (const std::string& name : Debris(WorkDir())) RemoveWriteDebris(WorkDir(), name);
    ASSERT_TRUE(std::filesystem::exists(copy.Path()));
    WriteWhole(copy.Path(), "new");
    copy.ReplaceOriginal();
    EXPECT_EQ(ReadWhole(picture), "new");
}

TEST_F(WorkingCopyTest, AWriteRemovesOlderLeftoversWithoutFollowingLinks) {
    const std::string kept = Picture("elsewhere/keep.jpg", "keep");
    Picture(".kaleidra-a1B2c3.jpg", "an older build's copy");
    Picture(".kaleidra-a1B2c3.jpg._00_", "the toolkit's temporary");
    ASSERT_EQ(symlink(PathOf("elsewhere").c_str(), PathOf(".kaleidra-d4E5f6").c_str()), 0);
    { WorkingCopy write(Picture("photo.jpg", "picture")); }
    EXPECT_TRUE(Debris(WorkDir()).empty());
    EXPECT_EQ(ReadWhole(kept), "keep");
}

}  // namespace
