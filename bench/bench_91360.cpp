// SPDX-License-Identifier: MIT
// The two 91360 steps on a line paced at 115200 baud under the real clock: the boot ROM
// loading a RAM program, and the flash loader writing a flash image with "/AUTOERASE" and
// "/CHECKSUM" onto a board that holds an old program. Reports the wall time against the
// time the bytes need on the line plus the waits the protocol prescribes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "run/Station.h"
#include "display/StationView.h"
#include "link/Clock.h"
#include "link/Crc32.h"
#include "sim/Boot91360Board.h"
#include "sim/Loader91360Board.h"
#include "sim/SimPortDevice.h"
#include "sim/Wire.h"
#include "targets/bootloader/m91360/Boot91360.h"
#include "targets/bootloader/m91360/Loader91360.h"

namespace {

constexpr uint32_t LineBaud = 115200;
constexpr double WakeUpPauseS = 0.010;     // between two "V"s
constexpr double HandshakeRoundS = 0.500;  // per 's'

// S2 records of `length` varied bytes from `address`, 32 bytes a record.
std::string WriteImage(const char* name, uint32_t address, int length) {
    std::mt19937 random(91360);
    std::string text;
    char buf[16];
    for (int first = 0; first < length; first += 32) {
        const uint32_t a = address + static_cast<uint32_t>(first);
        const int n = std::min(32, length - first);
        unsigned sum =
            static_cast<unsigned>(n + 4) + (a >> 16 & 0xFF) + (a >> 8 & 0xFF) + (a & 0xFF);
        std::snprintf(buf, sizeof buf, "S2%02X%06X", n + 4, a);
        text += buf;
        for (int i = 0; i < n; ++i) {
            const unsigned b = random() & 0xFF;
            sum += b;
            std::snprintf(buf, sizeof buf, "%02X", b);
            text += buf;
        }
        std::snprintf(buf, sizeof buf, "%02X\n", ~sum & 0xFF);
        text += buf;
    }
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

struct Bench {
    explicit Bench(std::unique_ptr<ps::sim::Board> board) {
        wire = std::make_shared<ps::sim::Wire>(clock, std::move(board), "sim:91360");
        st.Comm.SetResolver(
            [w = wire](int) { return std::make_unique<ps::sim::SimPortDevice>(w); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br115200);
        st.Comm.Open();
        ps::FillCrc32Table();
        st.CurrentStep = 1;
        st.Step.AutoContinue = true;
    }
    // Seconds the bytes exchanged take on the line, both directions back to back.
    double LineSeconds() {
        const auto& t = wire->transcript();
        const auto bytes = static_cast<int64_t>(t.Sent.size() + t.Received.size());
        return static_cast<double>(ps::sim::Wire::BurstTimeUs(LineBaud, bytes)) / 1e6;
    }
    // Rounds of a wake-up or handshake: the writes of `b` alone before anything else.
    int LeadingRounds(uint8_t b) {
        int n = 0;
        for (const auto& w : wire->transcript().Writes) {
            if (w.Bytes.size() != 1 || w.Bytes[0] != b) break;
            ++n;
        }
        return n;
    }
    ps::RealClock clock;
    ps::NullView view;
    ps::Station st{clock, view};
    std::shared_ptr<ps::sim::Wire> wire;
};

// What the station adds per exchange that waits for an answer (the simulated line keeps
// microseconds, so the excess is the station's): `exchanges` says how many there were.
void Report(benchmark::State& state, double wall, double line, double waits, int exchanges) {
    state.counters["exchanges"] = exchanges;
    state.counters["excess_ms_per_exchange"] =
        exchanges > 0 ? (wall - line - waits) * 1e3 / exchanges : 0;
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["waits_s"] = waits;
    state.counters["wall_per_line_and_waits"] = line + waits > 0 ? wall / (line + waits) : 0;
}

// A 32 KB RAM program at the start address, sent in runs of 201 bytes.
void BM_Boot91360Program32K(benchmark::State& state) {
    const std::string image = WriteImage("ps-bench-91360-boot.mhx", 0x3E400, 32768);
    double wall = 0, line = 0, waits = 0;
    int exchanges = 0;
    for (auto _ : state) {
        auto board = std::make_unique<ps::sim::Boot91360Board>(ps::sim::Boot91360Board::Options{});
        const ps::sim::Boot91360Board& rom = *board;
        Bench bench(std::move(board));
        bench.st.Step.ModelIndex = 11;
        bench.st.Step.ProgramFile = image;
        bench.st.Step.AddrStart = 0x3E000;
        bench.st.Step.AddrLen = 0x10000;
        const int64_t start = bench.clock.NowMs();
        ps::Boot91360Flow(bench.st);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk) {
            state.SkipWithError("boot load failed");
            break;
        }
        line = bench.LineSeconds();
        waits = bench.LeadingRounds(0x56) * WakeUpPauseS;
        exchanges = 3 * static_cast<int>(rom.Frames().size()) + 2;  // 01, 03, frame; 01, 04
    }
    Report(state, wall, line, waits, exchanges);
}
BENCHMARK(BM_Boot91360Program32K)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 128 KB flash image (sectors 0 and 1) with "/AUTOERASE" and "/CHECKSUM": 14 sector
// CRCs, one erase, runs of 200 bytes, the window's CRC.
void BM_Loader91360AutoErase128K(benchmark::State& state) {
    const std::string image = WriteImage("ps-bench-91360-loader.mhx", 0x180000, 0x20000);
    double wall = 0, line = 0, waits = 0;
    int exchanges = 0;
    for (auto _ : state) {
        auto board =
            std::make_unique<ps::sim::Loader91360Board>(ps::sim::Loader91360Board::Options{});
        const ps::sim::Loader91360Board& flash = *board;
        Bench bench(std::move(board));
        bench.st.Step.ModelIndex = 12;
        bench.st.Step.ProgramFile = image;
        bench.st.Step.AddrStart = 0x180000;
        bench.st.Step.AddrLen = 0x80000;
        bench.st.Step.AutoErase = true;
        bench.st.Step.CheckSum = true;
        const int64_t start = bench.clock.NowMs();
        ps::Loader91360Flow(bench.st);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk) {
            state.SkipWithError("flash load failed");
            break;
        }
        line = bench.LineSeconds();
        waits = bench.LeadingRounds('s') * HandshakeRoundS;
        exchanges = static_cast<int>(flash.Runs().size() + flash.SectorErases().size()) +
                    flash.CrcRequests();
    }
    Report(state, wall, line, waits, exchanges);
}
BENCHMARK(BM_Loader91360AutoErase128K)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
