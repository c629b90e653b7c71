// SPDX-License-Identifier: MIT
#include "production/GangRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "run/ExitStatus.h"
#include "link/PortMap.h"
#include "projects/Settings.h"

namespace ps {

namespace {

// Names the lifeline's read end to a port's run.
constexpr const char* LifelineVariable = "PROGSTATION_GANG_LIFELINE";
constexpr const char* TraceOption = "--trace";
constexpr const char* RunProgramName = "progstation-cli";
constexpr const char* GangPortOption = "--gang-port";
constexpr const char* KilledText = "killed by signal ";
constexpr const char* LostText = "lost: ";
constexpr const char* CannotStartText = "cannot start: ";
constexpr const char* UpgradePrefix = "UPGRADE:";
constexpr const char* HintPrefix = "hint: ";
// How a run marks its error lines for its gang (the terminal's red).
constexpr const char* RedMark = "\033[31m";
constexpr const char* PlainMark = "\033[0m";

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Takes the red mark off a line; true when it had one.
bool TakeRedMark(std::string& line) {
    const size_t red = std::strlen(RedMark), plain = std::strlen(PlainMark);
    if (!StartsWith(line, RedMark)) return false;
    line.erase(0, red);
    const size_t end = line.rfind(PlainMark);
    if (end != std::string::npos && end + plain == line.size()) line.erase(end);
    return true;
}

}  // namespace

int GangExitStatus(bool waited, int waitStatus) {
    if (!waited) return ExitRunFailed;
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return ExitRunFailed;
}

std::string PortTraceFile(const std::string& file, int port) {
    const std::string name = "COM" + std::to_string(port);
    const size_t slash = file.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = file.rfind('.');
    // A dot that begins the name (".trace") starts no extension.
    if (dot == std::string::npos || dot <= base) return file + "." + name;
    return file.substr(0, dot) + "." + name + file.substr(dot);
}

std::vector<std::string> PortRunArgs(const std::vector<std::string>& args, int port) {
    std::vector<std::string> out = args;
    const std::string joined = std::string(TraceOption) + "=";
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == TraceOption && i + 1 < out.size()) {
            out[i + 1] = PortTraceFile(out[i + 1], port);
            ++i;
        } else if (out[i].rfind(joined, 0) == 0) {
            out[i] = joined + PortTraceFile(out[i].substr(joined.size()), port);
        }
    }
    return out;
}

std::vector<std::string> GangPortTargets(const std::string& iniPath, int count) {
    PortMapConfig config;
    config.IniLookup = [iniPath](const std::string& key) {
        return ReadSetting(iniPath, PortIniSection, key, "");
    };
    std::vector<std::string> targets;
    for (int n = 1; n <= count; ++n) targets.push_back(ResolvePortTarget(n, config).Value);
    return targets;
}

bool GangVanished() {
    static int fd = [] {
        const char* value = std::getenv(LifelineVariable);
        if (value == nullptr || *value == '\0') return -1;
        char* end = nullptr;
        const long n = std::strtol(value, &end, 10);
        struct stat st {};
        if (*end != '\0' || n < 0 || n > 1 << 20 || fstat(static_cast<int>(n), &st) != 0 ||
            !S_ISFIFO(st.st_mode))
            return -1;
        fcntl(static_cast<int>(n), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(n);
    }();
    static bool vanished = false;
    if (fd < 0 || vanished) return vanished;
    pollfd p{fd, POLLIN, 0};
    // The gang never writes: anything but "nothing yet" means it is gone.
    vanished = poll(&p, 1, 0) > 0;
    return vanished;
}

int64_t GangClockMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void PrepareGangProcess() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
}

RunLineKind TakeRunLine(PortRunView& view, std::string& line) {
    const bool red = TakeRedMark(line);
    const bool percent = !line.empty() && line.back() == '%' &&
                         line.find_first_not_of("0123456789") == line.size() - 1;
    if (percent) {
        view.Percent = std::atoi(line.c_str());
        return RunLineKind::Percent;
    }
    if (StartsWith(line, RunFilePrefix)) {
        ++view.Step;
        view.Percent = -1;
        view.File = line.substr(std::strlen(RunFilePrefix));
        return RunLineKind::File;
    }
    if (StartsWith(line, RunWaitingText)) {
        view.Waiting = true;
        return RunLineKind::Waiting;
    }
    if (line.empty() || StartsWith(line, UpgradePrefix) || StartsWith(line, HintPrefix))
        return RunLineKind::Other;
    view.Status = line;
    view.Error = red;
    view.Waiting = false;
    return RunLineKind::Status;
}

GangLifeline::GangLifeline() {
    if (pipe2(ends_, O_CLOEXEC) != 0) ends_[0] = ends_[1] = -1;
}

GangLifeline::~GangLifeline() {
    for (int fd : ends_)
        if (fd >= 0) close(fd);
}

PortRun::~PortRun() {
    if (out_ >= 0) close(out_);
    if (in_ >= 0) close(in_);
    // A run must not outlive the one that holds it unwatched.
    if (Running()) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool PortRun::Start(const std::string& program, const std::vector<std::string>& args,
                    const GangLifeline& lifeline, const std::string& workDir) {
    View = PortRunView{};
    ExitStatus = -1;
    stops_ = 0;
    reaped_ = false;
    partial_.clear();
    StartMs = GangClockMs();
    EndMs = 0;
    auto fail = [this](int error) {
        View.Status = CannotStartText + std::string(std::strerror(error));
        View.Error = true;
        ExitStatus = ExitRunFailed;
        EndMs = StartMs;
        pid_ = -1;
        reaped_ = true;
        return false;
    };
    if (!lifeline.Ok()) return fail(EBADF);
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return fail(errno);
    if (pipe2(in, O_CLOEXEC) != 0) {
        const int error = errno;
        close(out[0]);
        close(out[1]);
        return fail(error);
    }
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> all = PortRunArgs(args, Port);
    all.insert(all.begin(), {RunProgramName, GangPortOption, std::to_string(Port)});
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The run's environment, with the lifeline's number in it.
    const int watched = lifeline.ReadEnd();
    std::vector<std::string> env;
    const std::string name = std::string(LifelineVariable) + "=";
    for (char** e = environ; *e != nullptr; ++e)
        if (!StartsWith(*e, name.c_str())) env.emplace_back(*e);
    env.push_back(name + std::to_string(watched));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        for (int fd : {out[0], out[1], in[0], in[1]}) close(fd);
        return fail(error);
    }
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        // The lifeline, and only it, stays open across exec.
        fcntl(watched, F_SETFD, 0);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
        execvpe(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    pid_ = pid;
    out_ = out[0];
    in_ = in[1];
    return true;
}

bool PortRun::ReadOutput(const std::function<void(const std::string&, RunLineKind)>& onLine) {
    if (out_ < 0) return false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    auto take = [&](std::string line) {
        const RunLineKind kind = TakeRunLine(View, line);
        if (onLine) onLine(line, kind);
    };
    if (n <= 0) {
        if (!partial_.empty()) take(partial_);
        partial_.clear();
        close(out_);
        out_ = -1;
        EndMs = GangClockMs();  // its run has ended: it closed its output
        Reap();
        return false;
    }
    for (ssize_t k = 0; k < n; ++k) {
        if (buffer[k] == '\n' || buffer[k] == '\r') {
            if (!partial_.empty()) take(partial_);
            partial_.clear();
        } else {
            partial_ += buffer[k];
        }
    }
    return true;
}

bool PortRun::Continue() {
    if (!View.Waiting || in_ < 0 || write(in_, "\n", 1) != 1) return false;
    View.Waiting = false;
    return true;
}

void PortRun::Stop() {
    if (!Running()) return;
    kill(pid_, stops_++ == 0 ? SIGINT : SIGKILL);
}

void PortRun::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

void PortRun::Reap() {
    if (pid_ <= 0 || reaped_) return;
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    CloseInput();
    if (EndMs == 0) EndMs = GangClockMs();
    ExitStatus = GangExitStatus(got == pid_, status);
    if (got == pid_ && WIFSIGNALED(status)) {
        View.Status = KilledText + std::to_string(WTERMSIG(status)) + " (" +
                      strsignal(WTERMSIG(status)) + ")";
        View.Error = true;
    } else if (got != pid_) {
        View.Status = LostText + std::string(std::strerror(errno));
        View.Error = true;
    }
    View.Waiting = false;
}

int GangStatus(const std::vector<PortRun>& runs) {
    for (const PortRun& r : runs)
        if (r.ExitStatus != 0) return r.ExitStatus;
    return 0;
}

}  // namespace ps
