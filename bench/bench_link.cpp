// SPDX-License-Identifier: MIT
// The link's cost on the host, over a real pseudo-terminal:
//  - CPU time the station spends per second of waiting for a silent board;
//  - turnaround: from a board's byte arriving to the station's next byte on the wire.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/RunController.h"
#include "app/Station.h"
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

}  // namespace

BENCHMARK_MAIN();
