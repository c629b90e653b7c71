// SPDX-License-Identifier: MIT
// How a run and a gang end when something goes wrong around them: a run record that cannot
// be written, a signal to a run or to its gang, a gang that vanishes, a port's run killed,
// ports that reach their pause at different times. Each case is a row; what is checked is
// what a factory sees: the exit status, the record file's bytes, the processes left.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>

#include "run/ExitStatus.h"
#include "projects/FileLimit.h"
#include "support/ChildProgram.h"
#include "support/StationHarness.h"

namespace ps {
namespace {

const std::string Cli = std::string(PS_BINARY_DIR) + "/progstation-cli";
constexpr const char* EarlierLine = "{\"earlier\": 1}\n";

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The program started as a script or a terminal would: its input a pipe the test holds,
// standard output and error read together as they come. A program that hangs is killed by
// the deadline, which ends its output.
class Running {
public:
    Running(const std::vector<std::string>& args, const std::string& dir,
            const std::map<std::string, std::string>& env) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            pstest::ExecProgram(Cli, args, dir, env);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        deadline_ = std::make_unique<pstest::ChildDeadline>(pid_);
    }
    ~Running() {
        CloseInput();
        if (out_ >= 0) close(out_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    const std::string& Output() const { return output_; }

    // Reads on until the output holds `text` `times` times; false when it ended first.
    bool ReadUntil(const std::string& text, int times = 1) {
        while (CountOf(output_, text) < times) {
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    void Type(const std::string& line) {
        // A program that is gone must fail the test, not end it with SIGPIPE.
        const auto old = std::signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(ssize_t(line.size()), write(in_, line.data(), line.size()));
        std::signal(SIGPIPE, old);
    }
    void CloseInput() {
        if (in_ >= 0) close(in_);
        in_ = -1;
    }
    // Reads the output to its end and waits: the raw wait status.
    int Wait() {
        ReadUntil("\x01never\x01");
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        EXPECT_FALSE(deadline_->Killed()) << "the program did not end:\n" << output_;
        deadline_->Cancel();
        return status;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool reaped_ = false;
    std::string output_;
    std::unique_ptr<pstest::ChildDeadline> deadline_;
};

int ExitOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The port runs of a gang: its children, found by their parent.
std::map<int, pid_t> PortRuns(pid_t gang) {
    std::map<int, pid_t> runs;
    DIR* proc = opendir("/proc");
    while (const dirent* e = proc ? readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::istringstream stat(Slurp("/proc/" + std::string(e->d_name) + "/stat"));
        std::string skip, state;
        pid_t parent = 0;
        // "pid (name) state ppid": the name holds no blank here.
        stat >> skip >> skip >> state >> parent;
        if (parent != gang) continue;
        std::string cmdline = Slurp("/proc/" + std::string(e->d_name) + "/cmdline");
        const std::string flag = std::string("--gang-port") + '\0';
        const size_t at = cmdline.find(flag);
        if (at != std::string::npos) runs[std::atoi(cmdline.c_str() + at + flag.size())] = pid;
    }
    if (proc) closedir(proc);
    return runs;
}

bool Alive(pid_t pid) {
    return kill(pid, 0) == 0;
}

// Orphaned port runs come to this process while it is a subreaper, so the test can see how
// each ended.
class Subreaper {
public:
    Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

TEST(RunRecordFile, AppendedWholeOrNotAtAllAndAMissingRecordIsAStatusOfItsOwn) {
    enum class Target { Fine, FullDisk, ReadOnly, FifoWithoutReader, Missing };
    struct Case {
        const char* Name;
        Target Kind;
        const char* Board;
        bool Record;  // --record given
        int Exit;
    } cases[] = {
        {"fine", Target::Fine, "sim:generic", true, ExitSuccess},
        {"full disk", Target::FullDisk, "sim:generic", true, ExitRecordNotWritten},
        {"read-only file", Target::ReadOnly, "sim:generic", true, ExitRecordNotWritten},
        {"FIFO without a reader", Target::FifoWithoutReader, "sim:generic", true,
         ExitRecordNotWritten},
        {"failed run keeps its status", Target::ReadOnly, "sim:generic,negative", true,
         ExitStepErrors},
        {"no --record", Target::Missing, "sim:generic", false, ExitSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        pstest::TempDir dir;
        dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/ERASESECTORS=1", "/AUTOCONTINUE"}));
        const std::string record = dir.File("runs.jsonl");
        if (c.Kind == Target::FifoWithoutReader) {
            ASSERT_EQ(0, mkfifo(record.c_str(), 0644));
        } else if (c.Kind != Target::Missing) {
            dir.Write("runs.jsonl", EarlierLine);
            if (c.Kind == Target::ReadOnly) chmod(record.c_str(), 0444);
        }
        std::vector<std::string> args{"--ini", "PROGRAMMER.INI"};
        if (c.Record) args.insert(args.end(), {"--record", record});
        pstest::ProgramResult p;
        {
            // Room for a few bytes more than the file holds: the line goes in part.
            std::unique_ptr<test::FileSizeLimit> disk;
            if (c.Kind == Target::FullDisk)
                disk = std::make_unique<test::FileSizeLimit>(std::string(EarlierLine).size() + 20);
            p = pstest::RunChildProgram(Cli, args, dir.Path(), {{"PROGSTATION_COM1", c.Board}},
                                        true);
        }
        EXPECT_EQ(c.Exit, p.Status) << p.Out << p.Err;
        const bool lost = c.Kind != Target::Fine && c.Kind != Target::Missing;
        EXPECT_EQ(lost ? 1 : 0, CountOf(p.Err, "run record not written")) << p.Err;
        if (c.Kind == Target::Fine) {
            const std::string bytes = Slurp(record);
            ASSERT_EQ(0u, bytes.rfind(EarlierLine, 0)) << bytes;
            const std::string added = bytes.substr(std::string(EarlierLine).size());
            EXPECT_EQ(1, CountOf(added, "\n"));
            EXPECT_EQ('{', added.front());
            EXPECT_EQ("}\n", added.substr(added.size() - 2));
        } else if (c.Kind == Target::FullDisk || c.Kind == Target::ReadOnly) {
            EXPECT_EQ(EarlierLine, Slurp(record));  // cut back, or never touched
        }
    }
}

// SIGHUP and SIGTERM are STOP, for a single run and for a gang; a gang that is killed
// outright leaves no run behind: each sees its gang gone and ends as STOP ends it.
TEST(StopSignals, EveryRunEndsAsStoppedWithItsRecordWhateverEndsIt) {
    struct Case {
        const char* Name;
        bool Gang;
        int Signal;
        int Exit;  // of the program signalled
    } cases[] = {
        {"run, SIGHUP", false, SIGHUP, ExitBreak},
        {"run, SIGTERM", false, SIGTERM, ExitBreak},
        {"gang, SIGHUP", true, SIGHUP, ExitBreak},
        {"gang, SIGTERM", true, SIGTERM, ExitBreak},
        {"gang, SIGKILL", true, SIGKILL, 128 + SIGKILL},
    };
    Subreaper reaper;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        pstest::TempDir dir;
        dir.Write("upgrade.cfg", pstest::StepLines({"/SINHRO", "/AUTOCONTINUE"}));
        const std::string record = dir.File("runs.jsonl");
        std::vector<std::string> args{"--ini", "PROGRAMMER.INI", "--record", record};
        if (c.Gang) args.insert(args.end(), {"--gang", "1,2"});
        // Silent boards: every run waits for its board until something stops it.
        Running program(args, dir.Path(),
                        {{"PROGSTATION_COM1", "sim:generic,silent"},
                         {"PROGSTATION_COM2", "sim:generic,silent"}});
        const std::string started = c.Gang ? ": FILE: " : "FILE: ";
        ASSERT_TRUE(program.ReadUntil(started, c.Gang ? 2 : 1)) << program.Output();
        const std::map<int, pid_t> runs = PortRuns(program.Pid());
        ASSERT_EQ(c.Gang ? 2u : 0u, runs.size());
        kill(program.Pid(), c.Signal);
        EXPECT_EQ(c.Exit, ExitOf(program.Wait())) << program.Output();
        for (const auto& [port, pid] : runs) {
            if (c.Signal == SIGKILL) {
                // Orphaned: it came to this process, which sees how it ended.
                pstest::ChildDeadline deadline(pid);
                int status = 0;
                EXPECT_EQ(pid, waitpid(pid, &status, 0));
                EXPECT_FALSE(deadline.Killed()) << "COM" << port << " ran on";
                deadline.Cancel();
                EXPECT_EQ(ExitBreak, ExitOf(status)) << "COM" << port;
            }
            EXPECT_FALSE(Alive(pid)) << "COM" << port;
        }
        const std::string bytes = Slurp(record);
        const int runsRecorded = c.Gang ? 2 : 1;
        EXPECT_EQ(runsRecorded, CountOf(bytes, "\n")) << bytes;
        EXPECT_EQ(runsRecorded, CountOf(bytes, "\"exit_status\":1,")) << bytes;
        // The run's own result (a step's may be BREAK or what it was doing).
        EXPECT_EQ(runsRecorded, CountOf(bytes, "\"project\":\"UPGRADE\",\"result\":\"BREAK\""))
            << bytes;
    }
}

// The gang's table and status never call a run a success that did not exit 0 by itself,
// and CONTINUE goes only to the runs that wait for it; each port traces to its own file.
TEST(GangVerdicts, KilledRunsFailAndContinueReachesOnlyTheWaiting) {
    struct Case {
        const char* Name;
        const char* Com2;       // COM1 is a good board
        bool Pause;             // the step waits for CONTINUE
        int Com2Exit, GangExit;
        const char* Com2Result;  // in the table
    } cases[] = {
        // COM2's board never answers; its run is killed while it waits.
        {"killed mid-way", "sim:generic,silent", false, 128 + SIGKILL, 128 + SIGKILL,
         "killed by signal 9"},
        // COM2's board is slow: COM1 waits for CONTINUE long before it. The line typed
        // then continues COM1 only; the end of input stops COM2 where it waits.
        {"pauses at different times", "sim:generic,late=2500", true, ExitBreak, ExitBreak,
         "BREAK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        pstest::TempDir dir;
        std::vector<std::string> lines{"/SINHRO", "/ERASESECTORS=1"};
        if (!c.Pause) lines.push_back("/AUTOCONTINUE");
        dir.Write("upgrade.cfg", pstest::StepLines(lines));
        Running gang({"--ini", "PROGRAMMER.INI", "--gang", "1,2", "--trace", "wire.txt"},
                     dir.Path(), {{"PROGSTATION_COM1", "sim:generic"}, {"PROGSTATION_COM2", c.Com2}});
        if (c.Pause) {
            ASSERT_TRUE(gang.ReadUntil("COM1: waiting for CONTINUE")) << gang.Output();
            ASSERT_EQ(std::string::npos, gang.Output().find("COM2: waiting")) << gang.Output();
            gang.Type("\n");
            ASSERT_TRUE(gang.ReadUntil("COM2: waiting for CONTINUE")) << gang.Output();
            gang.CloseInput();
        } else {
            ASSERT_TRUE(gang.ReadUntil("COM2: FILE: ")) << gang.Output();
            const auto runs = PortRuns(gang.Pid());
            ASSERT_EQ(1u, runs.count(2));
            kill(runs.at(2), SIGKILL);
        }
        EXPECT_EQ(c.GangExit, ExitOf(gang.Wait())) << gang.Output();
        const std::string& out = gang.Output();
        const size_t table = out.rfind("\nport ");
        ASSERT_NE(std::string::npos, table) << out;
        std::istringstream rows(out.substr(table + 1));
        std::map<std::string, std::string> rowOf;
        for (std::string row; std::getline(rows, row);) rowOf[row.substr(0, 4)] = row;
        EXPECT_EQ(" 0", rowOf["COM1"].substr(rowOf["COM1"].size() - 2)) << out;
        const std::string com2Exit = " " + std::to_string(c.Com2Exit);
        EXPECT_EQ(com2Exit, rowOf["COM2"].substr(rowOf["COM2"].size() - com2Exit.size())) << out;
        EXPECT_NE(std::string::npos, rowOf["COM2"].find(c.Com2Result)) << out;
        // One trace per port, none under the name given.
        EXPECT_NE(std::string::npos, Slurp(dir.File("wire.COM1.txt")).find("OPEN"));
        EXPECT_NE(std::string::npos, Slurp(dir.File("wire.COM2.txt")).find("OPEN"));
        EXPECT_FALSE(std::ifstream(dir.File("wire.txt")).good());
    }
}

}  // namespace
}  // namespace ps
