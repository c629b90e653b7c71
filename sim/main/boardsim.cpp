// SPDX-License-Identifier: MIT
// boardsim: a simulated board on a pseudo-terminal, for a station without hardware.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Version.h"
#include "sim/Boards.h"
#include "sim/PtyHost.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) {
    stopRequested = true;
}

constexpr int ExitUsage = 64;
constexpr int ExitFailure = 1;

// "  name       text..." with the text wrapped under itself at 79 columns.
void PrintEntry(std::FILE* out, const std::string& name, const std::string& text) {
    constexpr size_t Indent = 13, Width = 79;
    std::string line = "  " + name;
    line.resize(std::max(line.size() + 1, Indent), ' ');
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!first && line.size() + 1 + word.size() > Width) {
            std::fprintf(out, "%s\n", line.c_str());
            line = std::string(Indent, ' ');
            first = true;
        }
        line += (first ? "" : " ") + word;
        first = false;
        start = end + 1;
    }
    std::fprintf(out, "%s\n", line.c_str());
}

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "usage: boardsim [--log FILE] BOARD[,OPTION...]\n"
                 "\n"
                 "Runs a simulated board on a pseudo-terminal and prints the port to use:\n"
                 "  port: /dev/pts/N\n"
                 "Map a COM port of the station to it (PROGSTATION_COM1=/dev/pts/N, or\n"
                 "COM1=/dev/pts/N in section [Ports] of PROGRAMMER.INI). The board answers\n"
                 "at the baud rate the station sets. A pseudo-terminal has no DTR or RTS\n"
                 "lines: the board never sees them change (the station's --trace shows what\n"
                 "it asked for). Ends on Ctrl-C or SIGTERM.\n"
                 "\n"
                 "  --log FILE  log the bytes in and out (hex, with milliseconds), baud\n"
                 "              changes and the board's state to FILE instead of stderr\n"
                 "  --version   print the version and exit\n"
                 "  --help      this text\n"
                 "\n"
                 "Boards:\n");
    for (const auto& [name, help] : ps::sim::BoardHelp()) PrintEntry(out, name, help);
    std::fprintf(out, "\nOptions every board takes:\n");
    for (const auto& [name, help] : ps::sim::FaultOptionHelp()) PrintEntry(out, name, help);
    std::fprintf(out,
                 "\nExample: boardsim generic,late=300\n"
                 "In-process, without a pseudo-terminal: PROGSTATION_COM1=sim:generic,late=300\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string logPath;
    std::string spec;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("boardsim %s\n", ps::VersionText().c_str());
            return 0;
        }
        if (arg == "--log") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "boardsim: --log needs a file name\n");
                return ExitUsage;
            }
            logPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "boardsim: unknown option %s (see boardsim --help)\n",
                         arg.c_str());
            return ExitUsage;
        } else if (spec.empty()) {
            spec = arg;
        } else {
            std::fprintf(stderr, "boardsim: one board only (see boardsim --help)\n");
            return ExitUsage;
        }
    }
    if (spec.empty()) {
        PrintHelp(stderr);
        return ExitUsage;
    }
    // "sim:generic" is accepted too, as the port map writes it.
    if (spec.rfind("sim:", 0) == 0) spec = spec.substr(4);

    std::string error;
    std::unique_ptr<ps::sim::Board> board = ps::sim::MakeBoard(spec, error);
    if (!board) {
        std::fprintf(stderr, "boardsim: %s\n", error.c_str());
        return ExitUsage;
    }
    std::FILE* log = stderr;
    if (!logPath.empty()) {
        log = std::fopen(logPath.c_str(), "w");
        if (!log) {
            std::fprintf(stderr, "boardsim: cannot write %s: %s\n", logPath.c_str(),
                         std::strerror(errno));
            return ExitFailure;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a signal cuts the host's wait short
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        ps::sim::PtyHost host(std::move(board), log);
        if (!host.Open(error)) {
            std::fprintf(stderr, "boardsim: %s\n", error.c_str());
            status = ExitFailure;
        } else {
            std::printf("port: %s\n", host.SlavePath().c_str());
            std::fflush(stdout);
            host.Run(stopRequested);
            if (host.Gone()) status = ExitFailure;
        }
    }
    if (log != stderr) std::fclose(log);
    return status;
}
