// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "projects/AtomicFile.h"
#include "projects/FileLimit.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

using test::ReadBytes;
using test::TempDir;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(AtomicFileTest, ReplacesTheFileOnlyOnCommitAndKeepsItsPermissions) {
    TempDir dir;
    std::string path = dir.Write("data.bin", "old content");
    chmod(path.c_str(), 0640);
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("new", 3));
        EXPECT_EQ(ReadBytes(path), "old content");  // nothing in place before Commit
        EXPECT_EQ(dir.Entries().size(), 2u);        // the target and the temporary file
        ASSERT_TRUE(file.Commit());
    }
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(AtomicFileTest, NewFileGetsTheUsualModeUnderTheUmask) {
    TempDir dir;
    mode_t old = umask(027);
    AtomicFile file(dir.File("fresh.ini"));
    bool ok = file.Open() && file.Write("x", 1) && file.Commit();
    umask(old);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ModeOf(dir.File("fresh.ini")), 0640u);
}

TEST(AtomicFileTest, UncommittedFileLeavesNoTrace) {
    TempDir dir;
    std::string path = dir.Write("keep.bin", "keep");
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.Open());
        ASSERT_TRUE(file.Write("partial", 7));
    }  // e.g. STOP in the middle: the destructor discards
    EXPECT_EQ(ReadBytes(path), "keep");
    EXPECT_EQ(dir.Entries().size(), 1u);

    AtomicFile discarded(path);
    ASSERT_TRUE(discarded.Open());
    discarded.Discard();
    EXPECT_FALSE(discarded.Commit());
    EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(AtomicFileTest, WriteAtFillsHolesWithZeros) {
    TempDir dir;
    std::string path = dir.File("mem.bin");
    AtomicFile file(path);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.WriteAt(4, "CD", 2));
    ASSERT_TRUE(file.WriteAt(0, "AB", 2));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadBytes(path), std::string("AB\0\0CD", 6));

    AtomicFile huge(dir.File("huge.bin"));
    ASSERT_TRUE(huge.Open());
    EXPECT_FALSE(huge.WriteAt(UINT64_MAX - 1, "x", 1));
    EXPECT_EQ(huge.Errno(), EFBIG);
    EXPECT_FALSE(huge.Commit());  // a failed write is never committed
}

TEST(AtomicFileTest, FailedWriteNeverReplacesTheOldFile) {
    TempDir dir;
    std::string path = dir.Write("keep.bin", "good data");
    std::string big(4096, 'z');
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.Open());
        bool wrote;
        {
            test::FileSizeLimit limit(100);  // as a full disk would do
            ASSERT_TRUE(limit.Active());
            wrote = file.Write(big.data(), big.size());
        }
        EXPECT_FALSE(wrote);
        EXPECT_EQ(file.Errno(), EFBIG);
        EXPECT_FALSE(file.Commit());
    }
    EXPECT_EQ(ReadBytes(path), "good data");
    EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(AtomicFileTest, FailedRenameLeavesTargetAndRemovesTemporary) {
    TempDir dir;
    std::string target = dir.File("occupied");
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    dir.Write("occupied/inside", "x");
    AtomicFile file(target);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("data", 4));
    EXPECT_FALSE(file.Commit());
    EXPECT_NE(file.Errno(), 0);
    EXPECT_EQ(dir.Entries().size(), 1u);
    EXPECT_EQ(ReadBytes(dir.File("occupied/inside")), "x");

    AtomicFile nowhere(dir.File("no/such/folder/file"));
    EXPECT_FALSE(nowhere.Open());
    EXPECT_EQ(nowhere.Errno(), ENOENT);
    EXPECT_FALSE(nowhere.Write("x", 1));
}


// Sees every call the file layer makes and fails the one it is told to.
class RecordingCalls : public FileCalls {
public:
    std::string FailAt;  // "write", "fsync file", "rename", "open folder", "fsync folder"
    std::vector<std::string> Log;

    ssize_t Pwrite(int fd, const void* data, size_t count, off_t offset) override {
        if (Note("write")) return -1;
        return FileCalls::Pwrite(fd, data, count, offset);
    }
    int Fsync(int fd) override {
        if (Note(fd == folder_ ? "fsync folder" : "fsync file")) return -1;
        return FileCalls::Fsync(fd);
    }
    int Rename(const char* from, const char* to) override {
        if (Note("rename")) return -1;
        return FileCalls::Rename(from, to);
    }
    int OpenFolder(const char* path) override {
        if (Note("open folder")) return -1;
        return folder_ = FileCalls::OpenFolder(path);
    }

private:
    bool Note(const std::string& call) {
        if (Log.empty() || Log.back() != call) Log.push_back(call);  // one entry per run of writes
        if (call != FailAt) return false;
        errno = EIO;
        return true;
    }
    int folder_ = -1;
};

// A power cut can come between any two calls: the data must be on the disk before the new
// name points at it, and the folder synced after the rename so the name itself survives.
TEST(AtomicFileTest, DurableOrderAndEveryFailedCallKeepsTheOldFile) {
    const std::vector<std::string> all = {"write", "fsync file", "rename", "open folder",
                                          "fsync folder"};
    struct Case {
        const char* FailAt;
        bool Committed;
        size_t Calls;  // how many of `all` were made, in that order
    } cases[] = {
        {"", true, 5},
        {"write", false, 1},
        {"fsync file", false, 2},
        {"rename", false, 3},
        {"open folder", true, 4},   // the new file is in place; only its name's sync is lost
        {"fsync folder", true, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.FailAt);
        TempDir dir;
        const std::string path = dir.Write("PROGRAMMER.INI", "old");
        auto calls = std::make_shared<RecordingCalls>();
        calls->FailAt = c.FailAt;
        AtomicFile file(path, calls);
        ASSERT_TRUE(file.Open());
        const bool written = file.Write("new", 3);
        const bool committed = file.Commit();  // refused after a failed write
        EXPECT_EQ(c.Committed, written && committed);
        EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + c.Calls), calls->Log);
        EXPECT_EQ(c.Committed ? "new" : "old", ReadBytes(path));
        EXPECT_EQ(1u, dir.Entries().size());  // no temporary file left either way
    }
}

}  // namespace
}  // namespace ps
