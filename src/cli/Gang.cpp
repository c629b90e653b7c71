// SPDX-License-Identifier: MIT
#include "cli/Gang.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "run/ExitStatus.h"

namespace ps {

namespace {

constexpr int RedrawMs = 100;  // live lines are redrawn at most ten times a second
// The runs are this very program.
constexpr const char* SelfProgram = "/proc/self/exe";

std::atomic<int> gangSignals{0};
void OnGangSignal(int) {
    gangSignals.fetch_add(1);
}

void PrintLine(const PortRun& run, const std::string& line, RunLineKind kind) {
    const std::string com = "COM" + std::to_string(run.Port) + ": ";
    if (kind == RunLineKind::Percent)
        std::printf("%s%s %d%%\n", com.c_str(), run.View.Status.c_str(), run.View.Percent);
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

void DrawLive(const std::vector<PortRun>& runs, bool first) {
    if (!first) std::printf("\033[%zuA", runs.size());
    for (const PortRun& r : runs) {
        std::string status = r.View.Waiting ? RunWaitingText : r.View.Status;
        if (status.size() > 40) status = status.substr(0, 37) + "...";
        std::printf("\r\033[KCOM%-2d %-16.16s step %-2d %-40s %s\n", r.Port, r.Device.c_str(),
                    r.View.Step, status.c_str(), Bar(r.Over() ? -1 : r.View.Percent).c_str());
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
    const auto targets = GangPortTargets(iniPath, MaxGangPort);
    std::vector<PortRun> runs(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        runs[i].Port = ports[i];
        runs[i].Device = targets[ports[i] - 1];
    }
    struct sigaction action {};
    action.sa_handler = OnGangSignal;
    sigemptyset(&action.sa_mask);
    // A closed terminal (SIGHUP) ends the gang as SIGTERM does: STOP to every run.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
    PrepareGangProcess();
    GangLifeline lifeline;
    if (!lifeline.Ok()) {
        std::fprintf(stderr, "progstation-cli: --gang: %s\n", std::strerror(errno));
        return ExitRunFailed;
    }
    for (PortRun& r : runs) r.Start(SelfProgram, childArgs, lifeline);
    if (live) DrawLive(runs, true);
    bool stdinOpen = true;
    int signalsPassed = 0;
    int64_t lastDraw = 0;
    for (;;) {
        // Ctrl-C: STOP to every run; a second Ctrl-C ends them at once.
        for (; signalsPassed < gangSignals.load(); ++signalsPassed)
            for (PortRun& r : runs) r.Stop();
        std::vector<pollfd> fds;
        std::vector<PortRun*> owners;
        for (PortRun& r : runs) {
            if (r.OutputFd() < 0) continue;
            fds.push_back({r.OutputFd(), POLLIN, 0});
            owners.push_back(&r);
        }
        if (fds.empty()) break;
        if (stdinOpen) fds.push_back({STDIN_FILENO, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), RedrawMs);
        if (ready < 0 && errno != EINTR) break;
        for (size_t i = 0; i < owners.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            PortRun& r = *owners[i];
            r.ReadOutput([&](const std::string& line, RunLineKind kind) {
                if (!live) PrintLine(r, line, kind);
            });
        }
        if (stdinOpen && (fds.back().revents & (POLLIN | POLLHUP))) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                // The end of input: each run sees its own input end, which is STOP when it
                // waits for CONTINUE, as for a single run.
                stdinOpen = false;
                for (PortRun& r : runs) r.CloseInput();
            } else if (std::memchr(buffer, '\n', static_cast<size_t>(n))) {
                for (PortRun& r : runs) r.Continue();
            }
        }
        const int64_t now = GangClockMs();
        if (live && now - lastDraw >= RedrawMs) {
            DrawLive(runs, false);
            lastDraw = now;
        }
    }
    for (PortRun& r : runs) r.Reap();
    if (live) DrawLive(runs, false);

    std::printf("\n%-6s %-24s %-40s %9s %s\n", "port", "device", "result", "time", "exit");
    for (const PortRun& r : runs) {
        std::printf("COM%-3d %-24s %-40s %9s %d\n", r.Port, r.Device.c_str(), r.View.Status.c_str(),
                    Seconds(r.EndMs - r.StartMs).c_str(), r.ExitStatus);
    }
    std::fflush(stdout);
    return GangStatus(runs);
}

}  // namespace ps
