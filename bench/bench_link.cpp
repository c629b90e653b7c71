// SPDX-License-Identifier: MIT
// The link's cost on the host, over a real pseudo-terminal:
//  - CPU time the station spends per second of waiting for a silent board;
//  - turnaround: from a board's byte arriving to the station's next byte on the wire;
//  - wake-ups per second of an idle terminal station (progstation-cli waiting for CONTINUE,
//    and waiting for a silent board on a pseudo-terminal): its voluntary context switches.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <chrono>
#include <thread>

#include "app/RunController.h"
#include "run/Station.h"
#include "link/Clock.h"
#include "link/Link.h"
#include "link/PosixPortDevice.h"

namespace {

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slave = ptsname(master);
    }
    ~Pty() { close(master); }
};

// A view that presses STOP once a deadline has passed.
struct DeadlineView : ps::NullView {
    ps::Station* st = nullptr;
    ps::Clock* clock = nullptr;
    int64_t stopAtMs = 0;
    void PumpMessages() override {
        if (clock->NowMs() >= stopAtMs) ps::StopBtnClick(*st);
    }
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void OpenOnPty(ps::Station& st, const Pty& pty) {
    const std::string path = pty.slave;
    st.Comm.SetResolver([path](int) { return std::make_unique<ps::PosixPortDevice>(path); });
    st.Comm.SetPortNum(1);
    st.Comm.SetBaudrate(ps::br115200);
    st.Comm.Open();
}

// ReadByte on a board that never answers, for one second of wall time, then STOP.
void BM_SilentBoardWait(benchmark::State& state) {
    Pty pty;
    ps::RealClock clock;
    DeadlineView view;
    ps::Station st(clock, view);
    view.st = &st;
    view.clock = &clock;
    OpenOnPty(st, pty);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        st.RunError = ps::RunOk;
        view.stopAtMs = clock.NowMs() + 1000;
        const double cpu0 = CpuSeconds();
        const int64_t t0 = clock.NowMs();
        ps::ReadByte(st);
        cpu += CpuSeconds() - cpu0;
        wall += (clock.NowMs() - t0) / 1000.0;
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["stop_latency_ms"] =
        benchmark::Counter(static_cast<double>(clock.NowMs() - view.stopAtMs));
}
BENCHMARK(BM_SilentBoardWait)->Iterations(3)->Unit(benchmark::kMillisecond);

// The board answers each station byte at once; the station waits for the answer with
// ExpectByte and sends the next byte. Measured on the board's side: from writing its
// answer to reading the station's next byte.
void BM_Turnaround(benchmark::State& state) {
    Pty pty;
    ps::RealClock clock;
    ps::NullView view;
    ps::Station st(clock, view);
    OpenOnPty(st, pty);
    constexpr int Rounds = 500;
    std::atomic<bool> done{false};
    double totalUs = 0;
    int measured = 0;
    std::thread board([&] {
        using Steady = std::chrono::steady_clock;
        Steady::time_point answered{};
        bool waiting = false;
        pollfd p{pty.master, POLLIN, 0};
        while (!done) {
            if (poll(&p, 1, 50) <= 0) continue;
            uint8_t b;
            if (read(pty.master, &b, 1) != 1) continue;
            if (waiting) {
                totalUs +=
                    std::chrono::duration<double, std::micro>(Steady::now() - answered).count();
                ++measured;
            }
            const uint8_t answer = 'O';
            answered = Steady::now();
            waiting = true;
            (void)!write(pty.master, &answer, 1);
        }
    });
    for (auto _ : state) {
        for (int i = 0; i < Rounds; ++i) {
            ps::SendByte(st, 'S');
            ps::ExpectByte(st, 'O');
        }
    }
    ps::SendByte(st, 'E');
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done = true;
    board.join();
    state.counters["turnaround_us"] = measured ? totalUs / measured : 0;
}
BENCHMARK(BM_Turnaround)->Iterations(2)->Unit(benchmark::kMillisecond);

// Voluntary context switches of a process's main thread so far (-1 when unreadable).
long VoluntarySwitches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    return -1;
}

// progstation-cli idle for 5 s in a project folder of its own: arg 0 waits for CONTINUE
// after a step on a simulated board, arg 1 waits for a board on a pseudo-terminal that
// never answers (the handshake's own rounds, two a second, are the protocol's).
void BM_IdleTerminalWakeUps(benchmark::State& state) {
    const bool silentBoard = state.range(0) == 1;
    const auto self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string cli = (self / "progstation-cli").string();
    const auto dir = std::filesystem::temp_directory_path() / "ps-bench-idle";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "upgrade.cfg")
        << (silentBoard ? "/PA=none.hex\r\n/ATMEL=6\r\n/BaudRate=115200\r\n/AddrStart=0\r\n"
                          "/AddrLen=32768\r\n/BlockLen=1024\r\n/BlocksOnRow=32\r\n"
                        : "/SINHRO\r\n");
    std::ofstream(dir / "none.hex") << ":0100000000FF\r\n:00000001FF\r\n";
    Pty pty;
    const std::string port = silentBoard ? pty.slave : "sim:generic";
    constexpr int IdleSeconds = 5;
    double perSecond = 0;
    for (auto _ : state) {
        int input[2];
        if (pipe(input) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(input[0], STDIN_FILENO);
            close(input[1]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            if (chdir(dir.c_str()) != 0) _exit(127);
            setenv("PROGSTATION_COM1", port.c_str(), 1);
            execl(cli.c_str(), cli.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(input[0]);
        // Past the step's setup (its pauses are the protocol's), into the idle wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const long before = VoluntarySwitches(pid);
        std::this_thread::sleep_for(std::chrono::seconds(IdleSeconds));
        const long after = VoluntarySwitches(pid);
        int status = 0;
        const bool ended = waitpid(pid, &status, WNOHANG) == pid;  // not idle: it had stopped
        kill(pid, SIGTERM);
        close(input[1]);
        if (!ended) waitpid(pid, &status, 0);
        if (ended || before < 0 || after < 0) {
            state.SkipWithError("the station ended before it was idle");
            break;
        }
        perSecond = static_cast<double>(after - before) / IdleSeconds;
    }
    std::filesystem::remove_all(dir);
    state.counters["wakeups_per_s"] = perSecond;
}
BENCHMARK(BM_IdleTerminalWakeUps)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
