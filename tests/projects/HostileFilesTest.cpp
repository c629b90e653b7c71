// Hostile files: what the station reads (step file, PROGRAMMER.INI, images) when it is not a
// regular file or is far too large, and what it writes (settings, the .BIN copy) when the
// disk fills, STOP comes, a writer was killed or two write at once. Each row's expected
// result is what the operator sees and what is left on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Station.h"
#include "images/ImageFile.h"
#include "projects/AtomicFile.h"
#include "projects/FileLimit.h"
#include "projects/Settings.h"
#include "projects/StepFile.h"
#include "projects/TempDir.h"
#include "sim/RecordingView.h"
#include "sim/VirtualClock.h"
#include "targets/avr/SrecToBin.h"

#if defined(__SANITIZE_ADDRESS__)
#define PS_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PS_ADDRESS_SANITIZER 1
#endif
#endif

namespace ps {
namespace {

using test::ReadBytes;
using test::TempDir;

struct Reporter : ImageReporter {
    void ImageFileError(const std::string& message) override { Messages.push_back(message); }
    std::vector<std::string> Messages;
};

// Runs `body` in a child process whose address space is limited to what it has plus
// `extraBytes` (not under AddressSanitizer, which reserves far more), and which is killed
// if it runs longer than the guard. Returns what the child wrote, or why it did not end.
std::string InBoundedChild(size_t extraBytes, const std::function<std::string()>& body) {
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        alarm(60);  // a reader that blocks must fail the test, not hang it
#ifndef PS_ADDRESS_SANITIZER
        long pages = 0;
        if (std::ifstream statm("/proc/self/statm"); statm >> pages) {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max =
                static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                extraBytes;
            setrlimit(RLIMIT_AS, &limit);
        }
#endif
        // Nothing may leave the child but its report: it must never go back into the tests.
        std::string report;
        try {
            report = body();
        } catch (...) {
            report = "exception (out of memory?)";
        }
        (void)!write(out[1], report.data(), report.size());
        _exit(0);
    }
    close(out[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) report += " child killed by signal " + std::to_string(WTERMSIG(status));
    return report;
}

TEST(HostileFiles, FilesThatAreNotRegularOrFarTooLargeAreRefusedInBoundedMemory) {
    TempDir dir;
    struct Row {
        const char* Name;
        std::function<void(const std::string& path)> Make;
        const char* ImageOutcome;  // "cannot open" or "line too long"
    };
    constexpr off_t Huge = 600LL * 1024 * 1024;
    const std::vector<Row> rows = {
        {"FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0644); }, "cannot open"},
        {"link to /dev/zero", [](const std::string& p) { (void)!symlink("/dev/zero", p.c_str()); },
         "cannot open"},
        {"folder", [](const std::string& p) { mkdir(p.c_str(), 0755); }, "cannot open"},
        // 600 MB, one line (no record ever ends): sparse, so it costs no disk.
        {"600 MB file",
         [](const std::string& p) {
             const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
             (void)!write(fd, ":", 1);
             (void)!ftruncate(fd, Huge);
             close(fd);
         },
         "line too long"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::string path = dir.File(std::string("x") + std::to_string(&row - rows.data()));
        row.Make(path);
        const std::string report = InBoundedChild(64 << 20, [&]() -> std::string {
            std::string problems;
            StepSettings settings;
            MapGeometry map;
            ResetRunSettings(settings, 1);
            const CurrentProject project{path, "UPGRADE", ""};
            if (LoadStep(1, project, {}, settings, map) != StepFileNotOpened) problems += " step";
            if (ReadSetting(path, "INIT", "ExtraParameters", "default") != "default")
                problems += " settings";
            Reporter reporter;
            ImageText image;
            std::string line;
            const bool opened = OpenImageText(image, path, reporter);
            while (opened && image.ReadLine(line)) {
            }
            const std::string expected = std::string(row.ImageOutcome) == "cannot open"
                                             ? CannotOpenMessage(path)
                                             : NotHexMessage(path, std::string(ReasonLongLine) + "1");
            if (reporter.Messages != std::vector<std::string>{expected}) problems += " image";
            // Last: a write that went ahead would replace the file.
            if (WriteSetting(path, "INIT", "ExtraParameters", "x")) problems += " settings-write";
            return problems;
        });
        EXPECT_EQ("", report);
    }
    // The bounds themselves, just below and above.
    EXPECT_EQ(StepFileLimit, SettingsFileLimit);
    const std::string ini = dir.File("big.ini");
    {
        std::ofstream out(ini, std::ios::binary);
        out << "[INIT]\nExtraParameters=/S\n" << std::string(SettingsFileLimit - 40, ';') << "\n";
    }
    EXPECT_EQ("/S", ReadSetting(ini, "INIT", "ExtraParameters", "d"));
    std::ofstream(ini, std::ios::binary | std::ios::app) << std::string(64, ';');
    EXPECT_EQ("d", ReadSetting(ini, "INIT", "ExtraParameters", "d"));
}

TEST(HostileFiles, TheStepFileIsReadAgainWhenItChanges) {
    // Rewritten at once with the same size (file times may not move between the two):
    // the second load must see the new content, never a remembered one.
    TempDir dir;
    const CurrentProject project{dir.File("upgrade.cfg"), "UPGRADE", ""};
    StepSettings s;
    MapGeometry map;
    for (const char* text : {"/PA=A.HEX\r", "/PA=B.HEX\r", "/PA=C.HEX\r"}) {
        dir.Write("upgrade.cfg", text);
        ASSERT_EQ(StepLoaded, LoadStep(1, project, {}, s, map));
        EXPECT_EQ(std::string(text).substr(4, 5), s.ProgramFile);
    }
}

TEST(HostileFiles, TheSettingsWriterKeepsLinksOwnersModesAndEveryUpdate) {
    struct Row {
        const char* Name;
        std::function<std::string(TempDir&)> Make;  // returns the path written to
        bool Written;
        std::function<void(TempDir&, const std::string&)> Check;
    };
    const std::string before = "[INIT]\nExtraParameters=/S\n";
    const std::vector<Row> rows = {
        {"through a link",
         [&](TempDir& d) {
             d.Write("real.ini", before);
             (void)!symlink(d.File("real.ini").c_str(), d.File("PROGRAMMER.INI").c_str());
             return d.File("PROGRAMMER.INI");
         },
         true,
         [](TempDir& d, const std::string& path) {
             struct stat st {};
             EXPECT_TRUE(lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
             EXPECT_EQ("/NEW", ReadSetting(d.File("real.ini"), "INIT", "ExtraParameters", ""));
         }},
        {"mode and owner",
         [&](TempDir& d) {
             const std::string p = d.Write("PROGRAMMER.INI", before);
             chmod(p.c_str(), 0640);
             if (geteuid() == 0) (void)!chown(p.c_str(), 1234, 2345);
             return p;
         },
         true,
         [](TempDir&, const std::string& path) {
             struct stat st {};
             ASSERT_EQ(0, stat(path.c_str(), &st));
             EXPECT_EQ(0640u, st.st_mode & 07777);
             if (geteuid() == 0) {
                 EXPECT_EQ(1234u, st.st_uid);
                 EXPECT_EQ(2345u, st.st_gid);
             }
         }},
        {"read-only file",
         [&](TempDir& d) {
             const std::string p = d.Write("PROGRAMMER.INI", before);
             chmod(p.c_str(), 0444);
             return p;
         },
         false,
         [&](TempDir&, const std::string& path) { EXPECT_EQ(before, ReadBytes(path)); }},
        {"FIFO",
         [](TempDir& d) {
             mkfifo(d.File("PROGRAMMER.INI").c_str(), 0644);
             return d.File("PROGRAMMER.INI");
         },
         false, nullptr},
        {"value in double quotes",
         [](TempDir& d) { return d.Write("PROGRAMMER.INI", "[INIT]\nV=\"/AUTOCONTINUE\"\n"); },
         true,
         [](TempDir&, const std::string& path) {
             EXPECT_EQ("/AUTOCONTINUE", ReadSetting(path, "INIT", "V", ""));
             // Blanks and quotes at a value's ends read back as written.
             ASSERT_TRUE(WriteSetting(path, "INIT", "W", "\" /S \""));
             EXPECT_EQ("\" /S \"", ReadSetting(path, "INIT", "W", ""));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TempDir dir;
        const std::string path = row.Make(dir);
        EXPECT_EQ(row.Written, WriteSetting(path, "INIT", "ExtraParameters", "/NEW"));
        if (row.Check) row.Check(dir, path);
        // Nothing but what the row made is left in the folder.
        for (const std::string& name : dir.Entries()) {
            EXPECT_EQ(std::string::npos, name.find(TempFileMarker)) << name;
        }
    }

    // Two stations writing different keys at once: every update is kept.
    TempDir dir;
    const std::string ini = dir.Write("PROGRAMMER.INI", before);
    constexpr int Keys = 40;
    std::vector<pid_t> writers;
    for (const char* who : {"A", "B"}) {
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(60);
            for (int k = 0; k < Keys; ++k) {
                WriteSetting(ini, "INIT", who + std::to_string(k), std::to_string(k));
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) waitpid(pid, nullptr, 0);
    int kept = 0;
    for (const char* who : {"A", "B"}) {
        for (int k = 0; k < Keys; ++k) {
            kept += ReadSetting(ini, "INIT", who + std::to_string(k), "") == std::to_string(k);
        }
    }
    EXPECT_EQ(2 * Keys, kept);
}

TEST(HostileFiles, AFailedOrStoppedBinCopyKeepsTheOldCopy) {
    enum class Shown { SaveError, Saving, SaveOk };
    struct Row {
        const char* Name;
        int32_t AddrLen;
        bool FullDisk;
        bool Stop;
        int32_t RunError;
        Shown Status;
        uint32_t Colour;
    };
    const std::vector<Row> rows = {
        {"full disk", 5000, true, false, RunImageFile, Shown::SaveError, StatusColorError},
        // The run shows "BREAK" afterwards; the copy itself shows nothing more.
        {"STOP while it writes", 64 << 20, false, true, RunStopped, Shown::Saving,
         StatusColorNormal},
        {"a copy that works", 300, false, false, RunOk, Shown::SaveOk, StatusColorNormal},
    };
    const std::string tempName = std::string("MEM 2.BIN") + TempFileMarker;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TempDir dir;
        const std::string target = dir.Write("MEM 2.BIN", "old copy");
        const std::string source = dir.Write("image.mhx", "S2060000000506FF\n");
        // A copy killed earlier left its temporary file; a live writer holds another.
        dir.Write(tempName + "a1B2c3", "x");
        const int liveFd = open(dir.Write(tempName + "LiVe99", "y").c_str(), O_RDONLY);
        ASSERT_EQ(0, flock(liveFd, LOCK_EX));

        sim::VirtualClock clock;
        sim::RecordingView view{clock};
        Station st{clock, view};
        st.Step.AddrLen = row.AddrLen;
        if (row.Stop) view.AfterPumps(3, [&st] { st.RunError = RunStopped; });
        bool copied;
        {
            std::optional<test::FileSizeLimit> limit;
            if (row.FullDisk) limit.emplace(1000);
            copied = SrecToBin(st, source, target);
        }
        close(liveFd);
        EXPECT_EQ(row.RunError == RunOk, copied);
        EXPECT_EQ(row.RunError, st.RunError);
        const std::string shown[] = {MsgSaveBinError, MsgSavingBin + target + MsgSavingBinTail,
                                     MsgSaveBinOk};
        EXPECT_EQ(shown[static_cast<int>(row.Status)], view.LastStatus());
        EXPECT_EQ(row.Colour, view.LastStatusColour());
        const std::string copy = std::string("\x05\x06") + std::string(298, '\xFF');
        EXPECT_EQ(row.RunError == RunOk ? copy : "old copy", ReadBytes(target));
        std::vector<std::string> entries = dir.Entries();
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ((std::vector<std::string>{"MEM 2.BIN", tempName + "LiVe99", "image.mhx"}),
                  entries);
    }
}

}  // namespace
}  // namespace ps
