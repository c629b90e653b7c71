// SPDX-License-Identifier: MIT
// An "INFINEON XC161CJ" step through the simulated XC161CJ on a line paced at 115200 baud
// under the real clock: the three boot stages (at 57600 baud, the step's rate), loader2,
// then a typical image of 48 KB in the internal flash and 16 KB in the external flash.
// Reports the wall time against the time the bytes need on the line plus the pauses the
// protocol prescribes and the board's own erase and program times.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "run/Station.h"
#include "display/StationView.h"
#include "link/Clock.h"
#include "link/Crc32.h"
#include "sim/InfineonBoard.h"
#include "sim/SimPortDevice.h"
#include "sim/Wire.h"
#include "targets/bootloader/infineon/InfineonFlow.h"

namespace {

constexpr uint32_t StageBaud = 57600;
constexpr uint32_t LoaderBaud = 115200;
constexpr int InternalBytes = 48 * 1024;
constexpr int ExternalBytes = 16 * 1024;
constexpr uint32_t ExternalBase = 0x400000;
// Pauses every run takes whatever the board does: after each page check, before loader2
// runs, and the last wait of the drain before the step's image goes out.
constexpr double CheckPauseS = 0.050;
constexpr double Loader2SettleS = 0.300;
constexpr double DrainTimeoutS = 0.100;

std::string Hex(uint32_t address, const std::vector<uint8_t>& data) {
    std::string text;
    char buf[80];
    int upper = -1;
    for (size_t at = 0; at < data.size(); at += 16) {
        const uint32_t a = address + static_cast<uint32_t>(at);
        if (static_cast<int>(a >> 16) != upper) {
            upper = static_cast<int>(a >> 16);
            std::snprintf(buf, sizeof buf, ":02000004%04X%02X\n", upper,
                          (0x100 - ((6 + upper + (upper >> 8)) & 0xFF)) & 0xFF);
            text += buf;
        }
        const size_t n = std::min<size_t>(16, data.size() - at);
        unsigned sum = static_cast<unsigned>(n + (a >> 8 & 0xFF) + (a & 0xFF));
        std::snprintf(buf, sizeof buf, ":%02zX%04X00", n, a & 0xFFFF);
        text += buf;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", data[at + i]);
            text += buf;
            sum += data[at + i];
        }
        std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += buf;
    }
    return text;
}

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(random());
    return out;
}

std::string WriteFiles() {
    const auto folder = std::filesystem::temp_directory_path() / "ps-bench-infineon";
    std::filesystem::create_directories(folder);
    auto write = [&](const char* name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text << ":00000001FF\n";
    };
    write(ps::InfineonBootFile, Hex(0xFA40, Random(32, 1)));
    write(ps::InfineonLoader1File, Hex(0xE00000, Random(2048, 2)));
    write(ps::InfineonLoader2File, Hex(0x100000, Random(4096, 3)));
    write("image.hex",
          Hex(0xC00000, Random(InternalBytes, 4)) + Hex(ExternalBase, Random(ExternalBytes, 5)));
    return folder.string() + "/";
}

void BM_InfineonStep(benchmark::State& state) {
    const std::string folder = WriteFiles();
    ps::FillCrc32Table();
    double wall = 0, line = 0, waits = 0, board = 0;
    for (auto _ : state) {
        ps::RealClock clock;
        ps::NullView view;
        ps::Station st(clock, view);
        auto made = std::make_unique<ps::sim::InfineonBoard>(ps::sim::InfineonBoard::Options{});
        ps::sim::InfineonBoard* chip = made.get();
        auto wire = std::make_shared<ps::sim::Wire>(clock, std::move(made), "sim:infineon");
        st.Comm.SetResolver(
            [w = wire](int) { return std::make_unique<ps::sim::SimPortDevice>(w); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br57600);
        st.Comm.Open();
        st.ProgramFolder = folder;
        st.Step.ModelIndex = 13;
        st.Step.ComPortNo = 1;
        st.Step.ProgramFile = folder + "image.hex";
        st.Step.AddrExtFlash = ExternalBase;

        const int64_t start = clock.NowMs();
        ps::InfineonFlow(st);
        wall = static_cast<double>(clock.NowMs() - start) / 1e3;
        clock.SleepMs(2);  // the closing 'g' reaches the board
        wire->BytesWaiting();
        if (st.RunError != ps::RunOk || chip->Starts() != 1) {
            state.SkipWithError(("the step failed: " + st.StatusText()).c_str());
            break;
        }
        // Bytes before the switch to the loaders' rate went at the stage rate; each stage
        // answered one byte.
        const auto& t = wire->transcript();
        const int64_t switchMs = t.Bauds.back().AtMs;
        int64_t early = 3;
        for (const auto& s : t.Sent) early += s.AtMs < switchMs ? 1 : 0;
        const int64_t late = static_cast<int64_t>(t.Sent.size() + t.Received.size()) - early;
        line = static_cast<double>(ps::sim::Wire::BurstTimeUs(StageBaud, early) +
                                   ps::sim::Wire::BurstTimeUs(LoaderBaud, late)) /
               1e6;
        waits = (chip->Fills() + chip->PagesProgrammed()) * CheckPauseS + Loader2SettleS +
                DrainTimeoutS;
        board = static_cast<double>(chip->BusyMs()) / 1e3;
    }
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["prescribed_waits_s"] = waits;
    state.counters["board_s"] = board;
    state.counters["wall_per_line_waits_board"] = wall / (line + waits + board);
}
BENCHMARK(BM_InfineonStep)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
