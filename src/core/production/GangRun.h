// SPDX-License-Identifier: MIT
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "production/GangList.h"

namespace ps {

// Gang programming, the part both front ends share: the current project on several ports
// at once, each board in a run of its own (a child process of the terminal station with
// "--gang-port N"), so a fault, a hang or a crash on one board never disturbs another.
// The terminal gang (cli/Gang.cpp) and the gang window drive these runs; they differ only
// in how they show them and how the operator's START, STOP and CONTINUE reach them.

// A port's verdict from how its process ended (waitpid's status; on Windows the exit code):
// its exit status, 128 + the signal that killed it, and a failure when it could not be
// waited for (`waited` false) or crashed; never 0 unless it exited 0.
int GangExitStatus(bool waited, int waitStatus);

// Each port of a gang traces to a file of its own: the port's name before the extension
// ("trace.txt" -> "trace.COM2.txt", "trace" -> "trace.COM2").
std::string PortTraceFile(const std::string& file, int port);
// The arguments a gang passes on to the run of `port`: its own, with "--trace FILE" (or
// "--trace=FILE") naming the port's file.
std::vector<std::string> PortRunArgs(const std::vector<std::string>& args, int port);

// What COM1..COMcount lead to under the settings file at iniPath ("/dev/ttyUSB0",
// "sim:avr"): the environment first, then [Ports] of the settings file.
std::vector<std::string> GangPortTargets(const std::string& iniPath, int count);

// In a port's run: whether the gang that started it is gone (it ended, however: a run
// must then end as STOP ends it). Always false outside a gang.
bool GangVanished();

// Milliseconds of a clock that only goes forward, for the runs' elapsed times.
int64_t GangClockMs();

// A gang's process settings: a run that ended no longer reads its input (its pipe must not
// end the gang with SIGPIPE), and an inherited ignored SIGCHLD would make the runs'
// statuses vanish, which their verdicts need.
void PrepareGangProcess();

// Lines of a run: the file of a step begins with it; the run waits for CONTINUE.
inline constexpr const char* RunFilePrefix = "FILE: ";
inline constexpr const char* RunWaitingText = "waiting for CONTINUE";

// What a port's run has said on its standard output so far.
struct PortRunView {
    std::string Status = "starting...";
    bool Error = false;  // the status line is an error's (red)
    std::string File;    // the "FILE: ..." line of the current step
    int Step = 0;
    int Percent = -1;      // -1: no gauge in this step yet
    bool Waiting = false;  // the run waits for CONTINUE
};

enum class RunLineKind { Percent, File, Waiting, Status, Other };

// One line of a run: a status line, "45%", "FILE: ...", the CONTINUE prompt, a hint.
// An error's line comes marked red (the run colours its errors for its gang); the mark is
// taken off `line`, and the line's kind returned.
RunLineKind TakeRunLine(PortRunView& view, std::string& line);

// The pipe a gang's runs watch: its read end is named to each run, its only write end the
// gang holds. However the gang ends (SIGKILL included) the kernel closes that end and every
// run sees the pipe hang up.
class GangLifeline {
public:
    GangLifeline();
    ~GangLifeline();
    GangLifeline(const GangLifeline&) = delete;
    GangLifeline& operator=(const GangLifeline&) = delete;
    bool Ok() const { return ends_[0] >= 0; }
    int ReadEnd() const { return ends_[0]; }

private:
    int ends_[2] = {-1, -1};
};

// The run of one port: started, read line by line, continued, stopped, waited for.
class PortRun {
public:
    int Port = 0;
    std::string Device;  // what the port leads to, for the operator
    PortRunView View;
    int ExitStatus = -1;  // once waited for
    int64_t StartMs = 0, EndMs = 0;

    PortRun() = default;
    ~PortRun();
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;

    // Starts `program` (a path, or a name looked up in PATH) as the run of Port with
    // PortRunArgs(args, Port), in a process group of its own (a terminal's Ctrl-C reaches
    // only the gang, which passes one STOP to each run). A run that cannot start is over at
    // once with a failure and says why. `workDir` "" keeps the current folder.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const GangLifeline& lifeline, const std::string& workDir = "");

    // Its standard output and error; -1 once they ended.
    int OutputFd() const { return out_; }
    bool Running() const { return pid_ > 0 && !reaped_; }
    bool Over() const { return reaped_; }

    // Reads what the run has written and hands each whole line (marks taken off) to
    // `onLine`. At the end of its output the last partial line is handed on, the run is
    // waited for and its verdict taken: returns false then.
    bool ReadOutput(const std::function<void(const std::string&, RunLineKind)>& onLine);
    // CONTINUE: a line to a run that waits for it. False when it does not wait.
    bool Continue();
    // STOP: the first asks the run to stop at its next wait (SIGINT), any later ends it at
    // once (SIGKILL).
    void Stop();
    // The end of the operator's input: the run's input ends too, which is STOP when it
    // waits for CONTINUE.
    void CloseInput();
    // Waits for the run (its output has ended) and gives its verdict: a run that did not
    // exit by itself (killed by a signal, or lost) never counts as a success.
    void Reap();

private:
    // What both forms of Start do first, and how a run that cannot start ends.
    void Reset();
    bool FailStart(int error);

    pid_t pid_ = -1;
    void* process_ = nullptr;    // Windows: the run's process handle
    void* stopEvent_ = nullptr;  // Windows: the event that is its STOP
    int out_ = -1;
    int in_ = -1;
    int stops_ = 0;
    bool reaped_ = false;
    std::string partial_;
};

// A gang's status: 0 when every port succeeded, else the exit status of the first port in
// the list that did not.
int GangStatus(const std::vector<PortRun>& runs);

}  // namespace ps
