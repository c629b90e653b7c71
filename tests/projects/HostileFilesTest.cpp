// SPDX-License-Identifier: MIT
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

#include "run/Station.h"
#include "images/ImageFile.h"
#include "production/ImageCheck.h"
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
std::string InBoundedChild([[maybe_unused]] size_t extraBytes,
                           const std::function<std::string()>& body) {
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
    // Each file stands for the step file, PROGRAMMER.INI and an image in turn: "ERROR :
    // opening file.", the defaults (and no write over it), the image's own message.
    TempDir dir;
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> rows = {
        {"FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0644); }},
        {"link to /dev/zero", [](const std::string& p) { (void)!symlink("/dev/zero", p.c_str()); }},
        {"folder", [](const std::string& p) { mkdir(p.c_str(), 0755); }},
        {"600 MB, one line",  // sparse: it costs no disk
         [](const std::string& p) {
             std::ofstream(p) << ':';
             (void)!truncate(p.c_str(), 600LL << 20);
         }},
    };
    int files = 0;
    for (const auto& [name, make] : rows) {
        SCOPED_TRACE(name);
        const std::string path = dir.File("file" + std::to_string(++files));
        make(path);
        const std::string report = InBoundedChild(64 << 20, [&, name = std::string(name)] {
            std::string problems;
            StepSettings settings;
            MapGeometry map;
            if (LoadStep(1, {path, "UPGRADE", ""}, {}, settings, map) != StepFileNotOpened)
                problems += " step";
            if (ReadSetting(path, "INIT", "K", "default") != "default") problems += " settings";
            Reporter reporter;
            ImageText image;
            std::string line;
            for (bool open = OpenImageText(image, path, reporter); open && image.ReadLine(line);) {
            }
            const std::string message = name[0] == '6'
                                            ? NotHexMessage(path, std::string(ReasonLongLine) + "1")
                                            : CannotOpenMessage(path);
            if (reporter.Messages != std::vector<std::string>{message}) problems += " image";
            // Last: a write that went ahead would replace the file.
            if (WriteSetting(path, "INIT", "K", "x")) problems += " settings-write";
            return problems;
        });
        EXPECT_EQ("", report);
    }
    // The size bound, just below and just above.
    const std::string ini = dir.File("big.ini");
    std::ofstream(ini) << "[INIT]\nK=/S\n" << std::string(SettingsFileLimit - 13, ';') << "\n";
    EXPECT_EQ("/S", ReadSetting(ini, "INIT", "K", "d"));
    std::ofstream(ini, std::ios::app) << ';';
    EXPECT_EQ("d", ReadSetting(ini, "INIT", "K", "d"));
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
    TempDir d;
    const std::string before = "[INIT]\nK=/S\n";
    // A link stays; the file it points to is written.
    (void)!symlink(d.Write("real.ini", before).c_str(), d.File("link.ini").c_str());
    EXPECT_TRUE(WriteSetting(d.File("link.ini"), "INIT", "K", "/NEW"));
    EXPECT_EQ("/NEW", ReadSetting(d.File("real.ini"), "INIT", "K", ""));
    struct stat st {};
    EXPECT_TRUE(lstat(d.File("link.ini").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    // Mode, owner and group stay.
    const std::string owned = d.Write("owned.ini", before);
    chmod(owned.c_str(), 0640);
    if (geteuid() == 0) (void)!chown(owned.c_str(), 1234, 2345);
    EXPECT_TRUE(WriteSetting(owned, "INIT", "K", "/NEW"));
    ASSERT_EQ(0, stat(owned.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_TRUE(geteuid() != 0 || (st.st_uid == 1234 && st.st_gid == 2345));
    // A read-only file is not replaced.
    const std::string readOnly = d.Write("ro.ini", before);
    chmod(readOnly.c_str(), 0444);
    EXPECT_FALSE(WriteSetting(readOnly, "INIT", "K", "/NEW"));
    EXPECT_EQ(before, ReadBytes(readOnly));
    // One pair of double quotes is not part of a value; blanks and quotes at a value's ends
    // read back as written.
    const std::string quoted = d.Write("q.ini", "[INIT]\nV=\"/AUTOCONTINUE\"\n");
    EXPECT_EQ("/AUTOCONTINUE", ReadSetting(quoted, "INIT", "V", ""));
    ASSERT_TRUE(WriteSetting(quoted, "INIT", "W", "\" /S \""));
    EXPECT_EQ("\" /S \"", ReadSetting(quoted, "INIT", "W", ""));
    EXPECT_EQ(5u, d.Entries().size());  // no temporary file left

    // Two stations writing different keys at once: every update is kept.
    constexpr int Keys = 40;
    std::vector<pid_t> writers;
    for (const char* who : {"A", "B"}) {
        if (const pid_t pid = fork(); pid != 0) {
            writers.push_back(pid);
            continue;
        }
        alarm(60);
        for (int k = 0; k < Keys; ++k) WriteSetting(owned, "INIT", who + std::to_string(k), "v");
        _exit(0);
    }
    for (pid_t pid : writers) waitpid(pid, nullptr, 0);
    int kept = 0;
    for (const char* who : {"A", "B"}) {
        for (int k = 0; k < Keys; ++k) {
            kept += ReadSetting(owned, "INIT", who + std::to_string(k), "") == "v";
        }
    }
    EXPECT_EQ(2 * Keys, kept);
}

TEST(HostileFiles, AFailedOrStoppedBinCopyKeepsTheOldCopy) {
    struct Row {
        const char* Name;
        int32_t AddrLen;
        bool FullDisk, Stop;
        int32_t RunError;
        int Status;  // index into the texts below
        uint32_t Colour;
    };
    // STOP: the run shows "BREAK" afterwards; the copy itself shows nothing more.
    const std::vector<Row> rows = {
        {"full disk", 5000, true, false, RunImageFile, 0, StatusColorError},
        {"STOP while it writes", 64 << 20, false, true, RunStopped, 1, StatusColorNormal},
        {"a copy that works", 300, false, false, RunOk, 2, StatusColorNormal},
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
        std::optional<test::FileSizeLimit> limit;
        if (row.FullDisk) limit.emplace(1000);
        EXPECT_EQ(row.RunError == RunOk, SrecToBin(st, source, target));
        limit.reset();
        close(liveFd);
        EXPECT_EQ(row.RunError, st.RunError);
        const std::string texts[] = {MsgSaveBinError, MsgSavingBin + target + MsgSavingBinTail,
                                     MsgSaveBinOk};
        EXPECT_EQ(texts[row.Status], view.LastStatus());
        EXPECT_EQ(row.Colour, view.LastStatusColour());
        const std::string copy = std::string("\x05\x06") + std::string(298, '\xFF');
        EXPECT_EQ(row.RunError == RunOk ? copy : "old copy", ReadBytes(target));
        std::vector<std::string> entries = dir.Entries();
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ((std::vector<std::string>{"MEM 2.BIN", tempName + "LiVe99", "image.mhx"}),
                  entries);
    }
}

// A million damaged records: the check lists the first of them and counts the rest in
// the memory of a few, never collecting them all (which would not fit the child's limit).
TEST(HostileFiles, AnImageCheckOverAMillionDamagedRecordsStreams) {
    TempDir dir;
    constexpr int Damaged = 1000000;
    {
        std::ofstream image(dir.File("huge.hex"), std::ios::binary);
        image << ":0100000055AA\n";                                  // one good record
        for (int i = 0; i < Damaged; ++i) image << ":0000000001\n";  // checksum 01, not 00
    }
    std::ofstream(dir.File("upgrade.cfg"), std::ios::binary)
        << "/PA=" << dir.File("huge.hex") << "\r\n/ADDRLEN=32768\r\n";
    const CurrentProject project{dir.File("upgrade.cfg"), "UPGRADE", ""};
    const std::string report = InBoundedChild(48u << 20, [&] {
        const ImageCheckReport r = CheckProjectImages(project, {});
        return std::to_string(r.Findings.size()) + " listed, " + std::to_string(r.Total) + " found";
    });
    EXPECT_EQ(std::to_string(MaxListedFindings) + " listed, " + std::to_string(Damaged) + " found",
              report);
}

}  // namespace
}  // namespace ps
