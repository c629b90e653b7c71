// SPDX-License-Identifier: MIT
// The runs of a gang as POSIX processes: fork and exec, pipes, signals, waitpid.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "production/GangProcess.h"
#include "production/GangRun.h"
#include "run/ExitStatus.h"

namespace ps {

int GangExitStatus(bool waited, int waitStatus) {
    if (!waited) return ExitRunFailed;
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return ExitRunFailed;
}

bool GangVanished() {
    static int fd = [] {
        const char* value = std::getenv(GangLifelineVariable);
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

void PrepareGangProcess() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
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
    Reset();
    auto fail = [this](int error) { return FailStart(error); };
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
    std::vector<std::string> all = PortRunCommand(args, Port);
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The run's environment, with the lifeline's number in it.
    const int watched = lifeline.ReadEnd();
    std::vector<std::string> env;
    const std::string name = std::string(GangLifelineVariable) + "=";
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, name.c_str(), name.size()) != 0) env.emplace_back(*e);
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

void PortRun::Stop() {
    if (!Running()) return;
    kill(pid_, stops_++ == 0 ? SIGINT : SIGKILL);
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
        View.Status = GangKilledText + std::to_string(WTERMSIG(status)) + " (" +
                      strsignal(WTERMSIG(status)) + ")";
        View.Error = true;
    } else if (got != pid_) {
        View.Status = GangLostText + std::string(std::strerror(errno));
        View.Error = true;
    }
    View.Waiting = false;
}

}  // namespace ps
