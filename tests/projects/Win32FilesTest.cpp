// SPDX-License-Identifier: MIT
// The POSIX layer of the Windows build: what POSIX code expects of open, rename, stat and
// flock, on a system where an open file normally cannot be renamed or replaced, and of the
// station's sleeps.
#include <gtest/gtest.h>
#include <windows.h>

#include <sys/file.h>

#include <cstring>
#include <ctime>
#include <string>

#include "TempDir.h"
#include "link/Clock.h"
#include "projects/AtomicFile.h"

namespace ps::test {
namespace {

TEST(Win32Files, ReservedDeviceNamesAreRefusedWithAnyExtension) {
    const std::pair<const char*, bool> cases[] = {
        {"NUL", true},          {"nul.hex", true},    {"C:/work/Com1.mhx", true},
        {"dir\\LPT9.cfg", true}, {"con", true},        {"aux.txt.bin", true},
        {"COM10.hex", false},   {"console.hex", false}, {"NULL", false},
        {"firmware.hex", false}, {"COM0", false},
    };
    TempDir dir;
    for (const auto& [name, reserved] : cases) {
        EXPECT_EQ(ps_IsReservedDeviceName(name), reserved) << name;
        if (!reserved) continue;
        struct stat st {};
        ASSERT_EQ(stat(name, &st), 0) << name;
        EXPECT_FALSE(S_ISREG(st.st_mode)) << name << " must fail every regular-file check";
        errno = 0;
        EXPECT_LT(open((dir.Path() + "/" + name).c_str(), O_RDONLY), 0) << name;
        EXPECT_EQ(errno, EINVAL) << name;
    }
}

TEST(Win32Files, AReplacedFileIsWholeOldOrWholeNewAndUtf8NamesWork) {
    TempDir dir;
    const std::string path = dir.Write("nastavitve-čšž.ini", "old\r\n");
    struct Case {
        const char* what;
        bool heldOpen;
    } cases[] = {{"nobody reads it", false}, {"another station holds it open", true}};
    for (const Case& c : cases) {
        const int reader = c.heldOpen ? open(path.c_str(), O_RDONLY) : -1;
        if (c.heldOpen) ASSERT_GE(reader, 0);
        const std::string before = ReadBytes(path);
        AtomicFile file(path);
        ASSERT_TRUE(file.Open()) << c.what;
        ASSERT_TRUE(file.Write("new\r\n", 5)) << c.what;
        const bool committed = file.Commit();
        if (reader >= 0) close(reader);
        // Windows 10 replaces a file held open (POSIX rename semantics); where the system
        // cannot (Wine), the commit fails and the old file stays as it was.
        if (!c.heldOpen) EXPECT_TRUE(committed) << c.what;
        EXPECT_EQ(ReadBytes(path), committed ? "new\r\n" : before) << c.what;
        EXPECT_EQ(dir.Entries().size(), 1u) << c.what << ": no temporary file is left";
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(Win32Files, OneLockHolderAtATimeAndReadsAreNotBlocked) {
    TempDir dir;
    const std::string path = dir.Write("locked", "data");
    const int a = open(path.c_str(), O_RDWR), b = open(path.c_str(), O_RDWR);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(flock(a, LOCK_EX | LOCK_NB), 0);
    EXPECT_NE(flock(b, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    char text[4] = {};
    EXPECT_EQ(read(b, text, 4), 4);  // the lock is past the data
    EXPECT_EQ(flock(a, LOCK_UN), 0);
    EXPECT_EQ(flock(b, LOCK_EX | LOCK_NB), 0);
    close(a);
    close(b);
    // A folder has its lock file.
    const int folder = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(flock(folder, LOCK_EX | LOCK_NB), 0);
    close(folder);
}

TEST(Win32Files, TheTimeZoneIsAnOffset) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16] = {};
    ASSERT_EQ(std::strftime(text, sizeof text, "%z", &local), 5u);
    EXPECT_TRUE(text[0] == '+' || text[0] == '-') << text;
    for (int i = 1; i < 5; ++i) EXPECT_TRUE(text[i] >= '0' && text[i] <= '9') << text;
}

// Every wait of the station sleeps on the monotonic clock to an absolute end: a sleep that
// returned at once would make each wait a busy loop.
TEST(Win32Files, SleepsOnTheMonotonicClockLastTheirTime) {
    RealClock clock;
    const auto userTime100ns = [] {
        FILETIME created, exited, kernel, user;
        GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
        return (static_cast<int64_t>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
    };
    for (int64_t us : {1000, 20000, 100000}) {
        const int64_t start = clock.NowUs();
        const int64_t cpu = userTime100ns();
        clock.SleepUntilUs(start + us);
        EXPECT_GE(clock.NowUs(), start + us) << us;
        // Its own CPU time, which a busy machine does not add to: a sleep, not a loop.
        if (us == 100000) EXPECT_LT((userTime100ns() - cpu) / 10, us / 2) << us;
    }
}

}  // namespace
}  // namespace ps::test
