// SPDX-License-Identifier: MIT
// Programming a full 32 KB ATmega32 image through the simulated programmer on a line paced
// at 115200 baud under the real clock: the board answers no faster than the line carries
// the bytes. Reports the wall time against the time the bytes need on the line.
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
#include "link/Link.h"
#include "sim/AvrBoard.h"
#include "sim/SimPortDevice.h"
#include "sim/Wire.h"
#include "targets/avr/AvrFlow.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/FuseBits.h"

namespace {

constexpr uint32_t LineBaud = 115200;
constexpr int FlashBytes = 32768;

std::string WriteImage() {
    std::mt19937 random(32);
    std::string text;
    char buf[80];
    for (int first = 0; first < FlashBytes; first += 16) {
        unsigned sum = 16u + (first >> 8) + (first & 0xFF);
        std::snprintf(buf, sizeof buf, ":10%04X00", first);
        text += buf;
        for (int i = 0; i < 16; ++i) {
            const unsigned b = random() & 0xFF;
            sum += b;
            std::snprintf(buf, sizeof buf, "%02X", b);
            text += buf;
        }
        std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += buf;
    }
    text += ":00000001FF\n";
    const auto path = std::filesystem::temp_directory_path() / "ps-bench-atmega32.hex";
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

struct Bench {
    explicit Bench(const std::string& image) {
        ps::sim::AvrBoard::Options options;
        options.Processor = ps::AvrATmega32;
        auto made = std::make_unique<ps::sim::AvrBoard>(options);
        board = made.get();
        wire = std::make_shared<ps::sim::Wire>(clock, std::move(made), "sim:avr");
        st.Comm.SetResolver(
            [w = wire](int) { return std::make_unique<ps::sim::SimPortDevice>(w); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br115200);
        st.Comm.Open();
        st.CurrentStep = 1;
        st.Step.ModelIndex = 7;
        st.Step.AtmelDevice = ps::AvrATmega32;
        st.Step.ProgramFile = image;
        st.Step.AddrLen = FlashBytes;
        st.Step.AutoContinue = true;
    }
    ps::RealClock clock;
    ps::NullView view;
    ps::Station st{clock, view};
    std::shared_ptr<ps::sim::Wire> wire;
    ps::sim::AvrBoard* board = nullptr;
};

// Seconds the bytes exchanged take on the line, both directions back to back.
double LineSeconds(ps::sim::Wire& wire) {
    const auto& t = wire.transcript();
    const auto bytes = static_cast<int64_t>(t.Sent.size() + t.Received.size());
    return static_cast<double>(ps::sim::Wire::BurstTimeUs(LineBaud, bytes)) / 1e6;
}

// The image operation alone: device parameters and 256 pages, each acknowledged. The
// argument is the latency timer of a USB adapter in the line (0: none, 1: lowered, 16: an
// FTDI adapter as it comes), which delays every acknowledgement to its next tick.
void BM_ProgramAtmega32Flash(benchmark::State& state) {
    const std::string image = WriteImage();
    double line = 0, board = 0, wall = 0;
    for (auto _ : state) {
        Bench bench(image);
        bench.board->AdapterLatencyMs = static_cast<int>(state.range(0));
        ps::AvrLoadCounts counts;
        if (!ps::LoadAvrHex(bench.st, image, bench.st.AvrImage, counts)) {
            state.SkipWithError("image not loaded");
            break;
        }
        const int64_t start = bench.clock.NowMs();
        ps::ProgramAvrFlash(bench.st, counts);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk || bench.board->PagesWritten() != FlashBytes / 128) {
            state.SkipWithError("programming failed");
            break;
        }
        line = LineSeconds(*bench.wire);
        board = bench.board->PagesWritten() * ps::sim::AvrBoard::PageWriteMs / 1e3;
    }
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["page_writes_s"] = board;
    state.counters["wall_per_line"] = line > 0 ? wall / line : 0;
    state.counters["wall_per_line_and_writes"] = line > 0 ? wall / (line + board) : 0;
}
BENCHMARK(BM_ProgramAtmega32Flash)->Arg(0)->Arg(1)->Arg(16)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole "ATMEL" step: connect (one handshake round of 500 ms), identify, erase, the
// image, and the checksum.
void BM_AtmelStepAtmega32(benchmark::State& state) {
    const std::string image = WriteImage();
    double line = 0, wall = 0;
    for (auto _ : state) {
        Bench bench(image);
        bench.st.Step.CheckSum = true;
        const int64_t start = bench.clock.NowMs();
        ps::RunAtmelFlow(bench.st);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk) {
            state.SkipWithError("step failed");
            break;
        }
        line = LineSeconds(*bench.wire);
    }
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["wall_per_line"] = line > 0 ? wall / line : 0;
}
BENCHMARK(BM_AtmelStepAtmega32)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
