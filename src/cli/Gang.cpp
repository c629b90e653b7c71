#include "cli/Gang.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>

#include "cli/PortSetup.h"
#include "cli/TerminalView.h"
#include "link/PortMap.h"

namespace ps {

namespace {

constexpr int RedrawMs = 100;  // live lines are redrawn at most ten times a second

std::atomic<int> gangSignals{0};
void OnGangSignal(int) {
    gangSignals.fetch_add(1);
}

int64_t MonotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct Child {
    int Port = 0;
    std::string Device;
    pid_t Pid = -1;
    int Out = -1;  // its standard output and error
    int In = -1;   // its standard input
    std::string Partial;
    std::string Status = "starting...";
    int Step = 0;
    int Percent = -1;
    bool Waiting = false;
    bool Done = false;
    int ExitStatus = -1;
    int64_t StartMs = 0, EndMs = 0;
};

bool StartChild(Child& c, const std::vector<std::string>& childArgs) {
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    c.StartMs = MonotonicMs();
    c.Pid = fork();
    if (c.Pid < 0) return false;
    if (c.Pid == 0) {
        // A group of its own: the terminal's Ctrl-C reaches only the gang, which passes
        // one STOP to each run (two would end a run at once).
        setpgid(0, 0);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        std::vector<std::string> args = childArgs;
        args.insert(args.begin(), {"progstation-cli", "--gang-port", std::to_string(c.Port)});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    c.Out = out[0];
    c.In = in[1];
    return true;
}

// One line of a child: a status line, "45%", "FILE: ...", the CONTINUE prompt, a hint.
void TakeLine(Child& c, const std::string& line, bool live) {
    const bool percent = !line.empty() && line.back() == '%' &&
                         line.find_first_not_of("0123456789") == line.size() - 1;
    if (percent) {
        c.Percent = std::atoi(line.c_str());
    } else if (line.rfind("FILE: ", 0) == 0) {
        ++c.Step;
        c.Percent = -1;
    } else if (line.rfind("waiting for CONTINUE", 0) == 0) {
        c.Waiting = true;
    } else if (!line.empty() && line.rfind("UPGRADE:", 0) != 0 && line.rfind("hint: ", 0) != 0) {
        c.Status = line;
        c.Waiting = false;
    }
    if (live) return;
    const std::string com = "COM" + std::to_string(c.Port) + ": ";
    if (percent)
        std::printf("%s%s %d%%\n", com.c_str(), c.Status.c_str(), c.Percent);
    else
        std::printf("%s%s\n", com.c_str(), line.c_str());
    std::fflush(stdout);
}

std::string Bar(int percent) {
    constexpr int Width = 20;
    const int p = std::clamp(percent, 0, 100);
    const int filled = p * Width / 100;
    return "[" + std::string(filled, '#') + std::string(Width - filled, ' ') + "] " +
           (percent < 0 ? std::string("    ") : (p < 10 ? "  " : p < 100 ? " " : "") +
                                                      std::to_string(p) + "%");
}

void DrawLive(const std::vector<Child>& children, bool first) {
    if (!first) std::printf("\033[%zuA", children.size());
    for (const Child& c : children) {
        std::string status = c.Waiting ? "waiting for CONTINUE" : c.Status;
        if (status.size() > 40) status = status.substr(0, 37) + "...";
        std::printf("\r\033[KCOM%-2d %-16.16s step %-2d %-40s %s\n", c.Port, c.Device.c_str(),
                    c.Step, status.c_str(), Bar(c.Done ? -1 : c.Percent).c_str());
    }
    std::fflush(stdout);
}

std::string Seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

}  // namespace

int RunGang(const std::vector<int>& ports, const std::vector<std::string>& childArgs,
            const std::string& iniPath) {
    const bool live = isatty(STDOUT_FILENO) != 0;
    const auto targets = ComTargetsUpTo(iniPath, MaxGangPort);
    std::vector<Child> children(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        children[i].Port = ports[i];
        children[i].Device = targets[ports[i] - 1];
    }
    struct sigaction action {};
    action.sa_handler = OnGangSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a child that ended no longer reads its input

    for (Child& c : children) {
        if (!StartChild(c, childArgs)) {
            c.Done = true;
            c.ExitStatus = 1;
            c.Status = std::string("cannot start: ") + std::strerror(errno);
        }
    }
    if (live) DrawLive(children, true);
    bool stdinOpen = true;
    int signalsPassed = 0;
    int64_t lastDraw = 0;
    for (;;) {
        // Ctrl-C: STOP to every run; a second Ctrl-C ends them at once.
        for (; signalsPassed < gangSignals.load(); ++signalsPassed)
            for (const Child& c : children)
                if (!c.Done) kill(c.Pid, signalsPassed == 0 ? SIGINT : SIGKILL);
        std::vector<pollfd> fds;
        std::vector<Child*> owners;
        for (Child& c : children) {
            if (c.Out < 0) continue;
            fds.push_back({c.Out, POLLIN, 0});
            owners.push_back(&c);
        }
        if (fds.empty()) break;
        if (stdinOpen) fds.push_back({STDIN_FILENO, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), RedrawMs);
        if (ready < 0 && errno != EINTR) break;
        for (size_t i = 0; i < owners.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Child& c = *owners[i];
            char buffer[4096];
            const ssize_t n = read(c.Out, buffer, sizeof buffer);
            if (n <= 0) {
                close(c.Out);
                c.Out = -1;
                c.EndMs = MonotonicMs();  // its run has ended: it closed its output
                continue;
            }
            for (ssize_t k = 0; k < n; ++k) {
                if (buffer[k] == '\n' || buffer[k] == '\r') {
                    if (!c.Partial.empty()) TakeLine(c, c.Partial, live);
                    c.Partial.clear();
                } else {
                    c.Partial += buffer[k];
                }
            }
        }
        if (stdinOpen && (fds.back().revents & (POLLIN | POLLHUP))) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                // The end of input: each run sees its own input end, which is STOP when
                // it waits for CONTINUE, as for a single run.
                stdinOpen = false;
                for (Child& c : children)
                    if (c.In >= 0) close(c.In), c.In = -1;
            } else if (std::memchr(buffer, '\n', static_cast<size_t>(n))) {
                for (Child& c : children) {
                    if (c.Waiting && c.In >= 0 && write(c.In, "\n", 1) == 1) c.Waiting = false;
                }
            }
        }
        const int64_t now = MonotonicMs();
        if (live && now - lastDraw >= RedrawMs) {
            DrawLive(children, false);
            lastDraw = now;
        }
    }
    for (Child& c : children) {
        if (c.Pid > 0) {
            int status = 0;
            while (waitpid(c.Pid, &status, 0) < 0 && errno == EINTR) {
            }
            c.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            if (c.EndMs == 0) c.EndMs = MonotonicMs();
        }
        if (!c.Partial.empty()) TakeLine(c, c.Partial, live);
        if (c.In >= 0) close(c.In);
        c.Done = true;
    }
    if (live) DrawLive(children, false);

    std::printf("\n%-6s %-24s %-40s %9s %s\n", "port", "device", "result", "time", "exit");
    int overall = 0;
    for (const Child& c : children) {
        std::printf("COM%-3d %-24s %-40s %9s %d\n", c.Port, c.Device.c_str(), c.Status.c_str(),
                    Seconds(c.EndMs - c.StartMs).c_str(), c.ExitStatus);
        if (overall == 0 && c.ExitStatus != 0) overall = c.ExitStatus;
    }
    std::fflush(stdout);
    return overall;
}

}  // namespace ps
