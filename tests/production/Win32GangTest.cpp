// SPDX-License-Identifier: MIT
// A gang on Windows: its runs started as processes with pipes, CONTINUE and STOP reaching
// them, verdicts that never call a failure a success, and runs that end as STOP ends them
// when their gang is killed outright. The programs run as a factory's script runs them.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <fstream>
#include <algorithm>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "production/GangProcess.h"
#include "production/GangRun.h"
#include "run/ExitStatus.h"
#include "support/StationHarness.h"

namespace ps {
namespace {

const std::string Cli = std::string(PS_BINARY_DIR) + "/progstation-cli.exe";

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// The environment every run of a row inherits from this process.
class Environment {
public:
    explicit Environment(const std::map<std::string, std::string>& vars) : vars_(vars) {
        for (const auto& [k, v] : vars_) SetEnvironmentVariableA(k.c_str(), v.c_str());
    }
    ~Environment() {
        for (const auto& [k, v] : vars_) SetEnvironmentVariableA(k.c_str(), nullptr);
    }

private:
    std::map<std::string, std::string> vars_;
};

std::vector<DWORD> ChildrenOf(DWORD parent) {
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

// A run that hangs fails its row within seconds, not at ctest's time limit: once the limit
// passes, every child of this test is ended, which ends their output and their runs.
class Watchdog {
public:
    Watchdog() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this] {
            if (WaitForSingleObject(done_, LimitMs) != WAIT_TIMEOUT) return;
            for (DWORD id : ChildrenOf(GetCurrentProcessId()))
                if (HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
                    TerminateProcess(h, 99);
                    CloseHandle(h);
                }
        });
    }
    ~Watchdog() {
        SetEvent(done_);
        thread_.join();
        CloseHandle(done_);
    }
    static constexpr DWORD LimitMs = 20000;

private:
    HANDLE done_;
    std::thread thread_;
};

// Reads a run until a line starting with `text` (its `count`th) or the end of its output.
bool ReadUntil(PortRun& run, const std::string& text, std::string& seen, int count = 1) {
    int found = 0;
    while (run.ReadOutput([&](const std::string& line, RunLineKind) {
        seen += line + "\n";
        if (line.rfind(text, 0) == 0) ++found;
    })) {
        if (found >= count) return true;
    }
    return found >= count;
}

void ReadToEnd(PortRun& run, std::string& seen) {
    while (run.ReadOutput([&](const std::string& line, RunLineKind) { seen += line + "\n"; })) {
    }
}

TEST(Win32Gang, ArgumentsReachTheRunAsGiven) {
    const std::pair<const char*, const char*> rows[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\no space\\", "\"C:\\no space\\\\\""},
        {"C:\\dir\\", "C:\\dir\\"},
        {"a\\\"b", "\"a\\\\\\\"b\""},
    };
    for (const auto& [arg, quoted] : rows) EXPECT_EQ(quoted, WindowsCommandLineArgument(arg)) << arg;
}

// One port's run, as the gang drives it.
TEST(Win32Gang, ARunsVerdictComesFromHowItEnded) {
    enum class Drive { ToTheEnd, StopAtFirstWait, ContinueWhenWaiting, EndInputWhenWaiting };
    struct Case {
        const char* Name;
        const char* Board;
        bool Pause;  // the step waits for CONTINUE
        Drive How;
        int Exit;
    } cases[] = {
        {"a good board", "sim:generic", false, Drive::ToTheEnd, ExitSuccess},
        {"a board that refuses", "sim:generic,negative", false, Drive::ToTheEnd, ExitStepErrors},
        {"STOP on a silent board", "sim:generic,silent", false, Drive::StopAtFirstWait, ExitBreak},
        {"CONTINUE to a waiting run", "sim:generic", true, Drive::ContinueWhenWaiting, ExitSuccess},
        {"the input ends while it waits", "sim:generic", true, Drive::EndInputWhenWaiting, ExitBreak},
    };
    GangLifeline lifeline;
    ASSERT_TRUE(lifeline.Ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        pstest::TempDir dir;
        std::vector<std::string> lines{"/SINHRO", "/ERASESECTORS=1"};
        if (!c.Pause) lines.push_back("/AUTOCONTINUE");
        dir.Write("upgrade.cfg", pstest::StepLines(lines));
        Environment env(std::map<std::string, std::string>{{"PROGSTATION_COM3", c.Board}});
        Watchdog watchdog;
        PortRun run;
        run.Port = 3;
        // A trace name with a blank in it: the run's command line must keep it one argument.
        ASSERT_TRUE(run.Start(Cli, {"--ini", "PROGRAMMER.INI", "--trace", "wire trace.txt"},
                              lifeline, dir.Path()))
            << run.View.Status;
        std::string seen;
        switch (c.How) {
            case Drive::ToTheEnd:
                break;
            case Drive::StopAtFirstWait:
                ASSERT_TRUE(ReadUntil(run, RunFilePrefix, seen)) << seen;
                run.Stop();
                break;
            case Drive::ContinueWhenWaiting:
            case Drive::EndInputWhenWaiting:
                ASSERT_TRUE(ReadUntil(run, RunWaitingText, seen)) << seen;
                EXPECT_TRUE(run.View.Waiting);
                if (c.How == Drive::ContinueWhenWaiting)
                    EXPECT_TRUE(run.Continue());
                else
                    run.CloseInput();
                break;
        }
        ReadToEnd(run, seen);
        EXPECT_TRUE(run.Over());
        EXPECT_EQ(c.Exit, run.ExitStatus) << seen;
        EXPECT_EQ(c.Exit != 0, run.View.Error) << seen;
        EXPECT_NE(std::string::npos, Slurp(dir.File("wire trace.COM3.txt")).find("OPEN")) << seen;
    }
}

TEST(Win32Gang, ARunThatCannotStartOrIsKilledIsNeverASuccess) {
    GangLifeline lifeline;
    PortRun missing;
    missing.Port = 1;
    EXPECT_FALSE(missing.Start(PS_BINARY_DIR "/no-such-program.exe", {}, lifeline));
    EXPECT_TRUE(missing.Over());
    EXPECT_EQ(ExitRunFailed, missing.ExitStatus);
    EXPECT_EQ(0u, missing.View.Status.rfind("cannot start: ", 0)) << missing.View.Status;

    // A run that does not stop at the first STOP ends at the second.
    pstest::TempDir dir;
    dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/AUTOCONTINUE"}));
    Environment env(std::map<std::string, std::string>{{"PROGSTATION_COM1", "sim:generic,silent"}});
    // A pipe this process holds open for inheritance, as a script's pipe to the gang is.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE scriptRead = nullptr, scriptWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&scriptRead, &scriptWrite, &inherit, 0));
    Watchdog watchdog;
    PortRun run;
    run.Port = 1;
    ASSERT_TRUE(run.Start(Cli, {"--ini", "PROGRAMMER.INI"}, lifeline, dir.Path()));
    std::string seen;
    ASSERT_TRUE(ReadUntil(run, RunFilePrefix, seen)) << seen;
    // The run holds no copy of it: with this process's end closed, the pipe has ended.
    CloseHandle(scriptWrite);
    DWORD waiting = 0;
    EXPECT_FALSE(PeekNamedPipe(scriptRead, nullptr, 0, nullptr, &waiting, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), GetLastError());
    CloseHandle(scriptRead);
    run.Stop();
    run.Stop();
    ReadToEnd(run, seen);
    // Which of the two ended it is a race; either way the verdict is a failure's.
    EXPECT_TRUE(run.ExitStatus == ExitBreak || run.ExitStatus == 128 + SIGKILL) << run.ExitStatus;
    EXPECT_TRUE(run.View.Error);
}

// A process of this test's own: the terminal station, its output read as it comes.
class Program {
public:
    Program(const std::vector<std::string>& args, const std::string& dir) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, &inherit, 0)) return;
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        std::string line = WindowsCommandLineArgument(Cli);
        for (const auto& a : args) line += " " + WindowsCommandLineArgument(a);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = startup.hStdError = write;
        PROCESS_INFORMATION info{};
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                           &startup, &info)) {
            process_ = info.hProcess;
            id_ = info.dwProcessId;
            CloseHandle(info.hThread);
        }
        CloseHandle(write);
        reader_ = std::thread([this, read] {
            char buffer[4096];
            DWORD n = 0;
            while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                out_.append(buffer, n);
            }
            CloseHandle(read);
        });
    }
    ~Program() {
        if (process_ != nullptr) {
            TerminateProcess(process_, 1);
            CloseHandle(process_);
        }
        if (reader_.joinable()) reader_.join();
    }
    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    std::string Output() {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    // Waits (at most 20 s) for `text` to appear `count` times.
    bool WaitFor(const std::string& text, int count) {
        for (int i = 0; i < 2000; ++i) {
            const std::string out = Output();
            int n = 0;
            for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
            if (n >= count) return true;
            Sleep(10);
        }
        return false;
    }
    int Wait() {
        if (WaitForSingleObject(process_, 20000) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        if (reader_.joinable()) reader_.join();
        return static_cast<int>(code);
    }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::string out_;
};

// The whole gang: its table and status, and its runs when it is killed outright.
TEST(Win32Gang, TheGangsTableAndARunOutlivingItsGang) {
    pstest::TempDir dir;
    dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/ERASESECTORS=1", "/AUTOCONTINUE"}));
    {
        Environment env({{"PROGSTATION_COM1", "sim:generic"},
                         {"PROGSTATION_COM2", "sim:generic,negative"}});
        Program gang({"--ini", "PROGRAMMER.INI", "--gang", "1,2"}, dir.Path());
        ASSERT_TRUE(gang.Started());
        EXPECT_EQ(ExitStepErrors, gang.Wait()) << gang.Output();
        const std::string out = gang.Output();
        const size_t table = out.rfind("\nport ");
        ASSERT_NE(std::string::npos, table) << out;
        std::istringstream rows(out.substr(table + 1));
        std::map<std::string, std::string> rowOf;
        for (std::string row; std::getline(rows, row);) rowOf[row.substr(0, 4)] = row;
        EXPECT_EQ(" 0", rowOf["COM1"].substr(rowOf["COM1"].size() - 2)) << out;
        EXPECT_EQ(" 3", rowOf["COM2"].substr(rowOf["COM2"].size() - 2)) << out;
    }
    {
        // Silent boards: the runs wait until something stops them. The gang is killed
        // outright; each run sees its gang gone, stops, and writes its record.
        Environment env({{"PROGSTATION_COM1", "sim:generic,silent"},
                         {"PROGSTATION_COM2", "sim:generic,silent"}});
        const std::string record = dir.File("runs.jsonl");
        Program gang({"--ini", "PROGRAMMER.INI", "--gang", "1,2", "--record", record}, dir.Path());
        ASSERT_TRUE(gang.Started());
        ASSERT_TRUE(gang.WaitFor(": FILE: ", 2)) << gang.Output();
        std::vector<HANDLE> runs;
        for (DWORD id : ChildrenOf(gang.Id()))
            if (HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id))
                runs.push_back(h);
        ASSERT_EQ(2u, runs.size());
        TerminateProcess(gang.Handle(), 128 + SIGKILL);
        for (HANDLE h : runs) {
            if (WaitForSingleObject(h, 20000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "a run went on without its gang";
                TerminateProcess(h, 99);
            }
            DWORD code = 0;
            GetExitCodeProcess(h, &code);
            EXPECT_EQ(static_cast<DWORD>(ExitBreak), code);
            CloseHandle(h);
        }
        const std::string bytes = Slurp(record);
        EXPECT_EQ(2, std::count(bytes.begin(), bytes.end(), '\n')) << bytes;
    }
}

}  // namespace
}  // namespace ps
