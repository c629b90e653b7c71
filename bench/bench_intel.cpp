// SPDX-License-Identifier: MIT
// The three Intel steps over a line paced at 115200 baud under the real clock: the boards
// answer no faster than the line carries the bytes. Each benchmark reports the wall time
// against the time the bytes need on the line plus the pauses the protocol prescribes (the
// 1 ms after a block command, the 2 ms after a range erase or a run command) and, where the
// board itself takes time (the flash erase), that too.
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
#include "sim/IntelBootBoard.h"
#include "sim/IntelFlashBoard.h"
#include "sim/IntelRamBoard.h"
#include "sim/SimPortDevice.h"
#include "sim/Wire.h"
#include "targets/bootloader/intel/IntelFlows.h"

namespace {

constexpr uint32_t LineBaud = 115200;
using Bytes = std::vector<uint8_t>;

struct Segment {
    int Bank;  // -1: no type 02 record
    uint32_t Address;
    Bytes Data;
};

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(random());
    return out;
}

std::string WriteImage(const std::string& name, const std::vector<Segment>& segments) {
    std::string text;
    char buf[8];
    auto record = [&](unsigned type, uint32_t address, const uint8_t* data, size_t n) {
        unsigned sum = static_cast<unsigned>(n + (address >> 8 & 0xFF) + (address & 0xFF) + type);
        std::snprintf(buf, sizeof buf, ":%02zX", n);
        text += buf;
        std::snprintf(buf, sizeof buf, "%04X%02X", address & 0xFFFF, type);
        text += buf;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", data[i]);
            text += buf;
            sum += data[i];
        }
        std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += buf;
    };
    for (const Segment& s : segments) {
        if (s.Bank >= 0) {
            const uint8_t bank[2] = {static_cast<uint8_t>(s.Bank << 4), 0};
            record(2, 0, bank, 2);
        }
        for (size_t first = 0; first < s.Data.size(); first += 16)
            record(0, s.Address + static_cast<uint32_t>(first), s.Data.data() + first,
                   std::min<size_t>(16, s.Data.size() - first));
    }
    text += ":00000001FF\n";
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

template <class B>
struct Bench {
    explicit Bench(std::unique_ptr<B> made) {
        board = made.get();
        wire = std::make_shared<ps::sim::Wire>(clock, std::move(made), "sim:intel");
        st.Comm.SetResolver(
            [w = wire](int) { return std::make_unique<ps::sim::SimPortDevice>(w); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br115200);
        st.Comm.Open();
        st.CurrentStep = 1;
        st.Step.AutoContinue = true;
        st.AllocateImageBuffers();
    }
    // Seconds the bytes exchanged take on the line, both directions one after the other.
    double LineSeconds() {
        const auto& t = wire->transcript();
        const auto bytes = static_cast<int64_t>(t.Sent.size() + t.Received.size());
        return static_cast<double>(ps::sim::Wire::BurstTimeUs(LineBaud, bytes)) / 1e6;
    }
    ps::RealClock clock;
    ps::NullView view;
    ps::Station st{clock, view};
    std::shared_ptr<ps::sim::Wire> wire;
    B* board = nullptr;
};

void Report(benchmark::State& state, double wall, double line, double waits, double board) {
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["prescribed_waits_s"] = waits;
    state.counters["board_s"] = board;
    state.counters["wall_per_line_and_waits"] = line > 0 ? wall / (line + waits) : 0;
    state.counters["wall_per_line_waits_and_board"] = line > 0 ? wall / (line + waits + board) : 0;
}

// A full 256 KB banked flash: fifteen banks through the bank window and the last one through
// the common window, 2048 blocks, after the erase.
void BM_IntelLoaderFlash256K(benchmark::State& state) {
    std::vector<Segment> segments;
    Bytes image;
    for (int bank = 0; bank < 15; ++bank) {
        segments.push_back({bank, 0x4000, Random(0x4000, 40u + bank)});
        image.insert(image.end(), segments.back().Data.begin(), segments.back().Data.end());
    }
    segments.push_back({-1, 0xC000, Random(0x4000, 60)});
    image.insert(image.end(), segments.back().Data.begin(), segments.back().Data.end());
    const std::string file = WriteImage("ps-bench-intel-flash.hex", segments);
    double wall = 0, line = 0, waits = 0, board = 0;
    for (auto _ : state) {
        Bench<ps::sim::IntelFlashBoard> bench(std::make_unique<ps::sim::IntelFlashBoard>(5, 16));
        bench.st.Step.ModelIndex = 4;
        bench.st.Step.ProgramFile = file;
        bench.st.Step.AddrLen = 0x40000;
        bench.st.Step.EraseFlash = true;
        const int64_t start = bench.clock.NowMs();
        ps::IntelLoaderFlash(bench.st);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk || bench.board->Flash() != image) {
            state.SkipWithError("programming failed");
            break;
        }
        line = bench.LineSeconds();
        waits = 2 * 1e-3;  // after 'F' and after 'P'
        board = ps::sim::IntelFlashBoard::EraseMs / 1e3;
    }
    Report(state, wall, line, waits, board);
}
BENCHMARK(BM_IntelLoaderFlash256K)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 32 KB program in the RAM window 0x8000-0xFFFF: range erase, 256 blocks, run.
void BM_IntelLoaderRam32K(benchmark::State& state) {
    const Bytes image = Random(0x8000, 70);
    const std::string file = WriteImage("ps-bench-intel-ram.hex", {{-1, 0x8000, image}});
    double wall = 0, line = 0, waits = 0;
    for (auto _ : state) {
        Bench<ps::sim::IntelRamBoard> bench(std::make_unique<ps::sim::IntelRamBoard>());
        bench.st.Step.ModelIndex = 3;
        bench.st.Step.ProgramFile = file;
        bench.st.Step.AddrStart = 0x8000;
        bench.st.Step.AddrLen = 0x8000;
        bench.st.Step.EraseRam = true;
        bench.st.Step.RunAddr = 0x8000;
        const int64_t start = bench.clock.NowMs();
        ps::IntelLoaderRam(bench.st);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        const Bytes& ram = bench.board->Memory();
        if (bench.st.RunError != ps::RunOk || Bytes(ram.begin() + 0x8000, ram.end()) != image) {
            state.SkipWithError("loading failed");
            break;
        }
        line = bench.LineSeconds();
        waits = (bench.board->BlocksWritten() * 1 + 2 + 2) * 1e-3;
    }
    Report(state, wall, line, waits, 0);
}
BENCHMARK(BM_IntelLoaderRam32K)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 64 KB program for the boot monitor: 256 bare blocks back to back. Nothing answers; the
// step waits until the last byte has left the port.
void BM_IntelBoot64K(benchmark::State& state) {
    const Bytes image = Random(0x10000, 80);
    const std::string file = WriteImage("ps-bench-intel-boot.hex", {{-1, 0, image}});
    double wall = 0, line = 0;
    for (auto _ : state) {
        Bench<ps::sim::IntelBootBoard> bench(std::make_unique<ps::sim::IntelBootBoard>());
        bench.st.Step.ModelIndex = 2;
        bench.st.Step.ProgramFile = file;
        bench.st.Step.AddrLen = 0x10000;
        const int64_t start = bench.clock.NowMs();
        ps::IntelBoot(bench.st);  // returns once the last block has left the port
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        const Bytes& memory = bench.board->Memory();
        if (bench.st.RunError != ps::RunOk ||
            Bytes(memory.begin(), memory.begin() + 0x10000) != image) {
            state.SkipWithError("loading failed");
            break;
        }
        line = bench.LineSeconds();
    }
    Report(state, wall, line, 0, 0);
}
BENCHMARK(BM_IntelBoot64K)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
