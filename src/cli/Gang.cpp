// SPDX-License-Identifier: MIT
#include "cli/Gang.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "app/ExitStatus.h"
#include "cli/PortSetup.h"
#include "cli/TerminalView.h"
#include "link/PortMap.h"

namespace ps {

namespace {

constexpr int MaxGangPort = 10;
constexpr int RedrawMs = 100;  // live lines are redrawn at most ten times a second

std::atomic<int> gangSignals{0};
void OnGangSignal(int) {
    gangSignals.fetch_add(1);
}

// Tells a port's run where to watch for its gang: the read end of a pipe whose only write
// end the gang holds. However the gang ends (SIGKILL included), the kernel closes that end
// and the run sees the pipe hang up.
constexpr const char* LifelineVariable = "PROGSTATION_GANG_LIFELINE";
constexpr const char* KilledText = "killed by signal ";
constexpr const char* LostText = "lost: ";
constexpr const char* TraceOption = "--trace";

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

bool StartChild(Child& c, const std::vector<std::string>& childArgs, int lifeline) {
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
        const int watched = dup(lifeline);  // without close-on-exec
        if (watched >= 0) setenv(LifelineVariable, std::to_string(watched).c_str(), 1);
        std::vector<std::string> args = PortRunArgs(childArgs, c.Port);
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

// Waits for a port's run and gives its verdict: a run that did not exit by itself (killed
// by a signal, or lost) never counts as a success.
void Reap(Child& c) {
    int status = 0;
    pid_t got;
    while ((got = waitpid(c.Pid, &status, 0)) < 0 && errno == EINTR) {
    }
    c.ExitStatus = GangExitStatus(got == c.Pid, status);
    if (got == c.Pid && WIFSIGNALED(status)) {
        c.Status = KilledText + std::to_string(WTERMSIG(status)) + " (" +
                   strsignal(WTERMSIG(status)) + ")";
    } else if (got != c.Pid) {
        c.Status = LostText + std::string(std::strerror(errno));
    }
}

std::string Seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
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

bool ParseGangList(const std::string& text, std::vector<int>& ports) {
    ports.clear();
    std::set<int> seen;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        if (item.empty() || item.size() > 2 ||
            item.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const int n = std::stoi(item);
        if (n < 1 || n > MaxGangPort || !seen.insert(n).second) return false;
        ports.push_back(n);
        start = comma + 1;
    }
    return !ports.empty();
}

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
    // A closed terminal (SIGHUP) ends the gang as SIGTERM does: STOP to every run.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a child that ended no longer reads its input
    // An ignored SIGCHLD (inherited from whoever started us) would make the runs' statuses
    // vanish: their verdicts need waitpid.
    signal(SIGCHLD, SIG_DFL);
    int lifeline[2] = {-1, -1};
    if (pipe2(lifeline, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "progstation-cli: --gang: %s\n", std::strerror(errno));
        return ExitRunFailed;
    }

    for (Child& c : children) {
        if (!StartChild(c, childArgs, lifeline[0])) {
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
        if (!c.Partial.empty()) TakeLine(c, c.Partial, live);
        c.Partial.clear();
        if (c.Pid > 0) {
            Reap(c);
            if (c.EndMs == 0) c.EndMs = MonotonicMs();
        }
        if (c.In >= 0) close(c.In);
        c.Done = true;
    }
    close(lifeline[0]);
    close(lifeline[1]);
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
