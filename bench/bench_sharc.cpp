// SPDX-License-Identifier: MIT
// The two SHARC steps through their simulated boards on a line paced at 115200 baud under
// the real clock: the board acts on a command only once its last byte has arrived, and
// answers no faster than the line carries the bytes. Each reports its wall time against
// the time the bytes need on the line plus the waits the protocol itself prescribes (the
// 500 ms handshake rounds, the pause after 'B'), and separately the board's own work
// (page erases), which no station can shorten.
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
#include "sim/SharcHostBootBoard.h"
#include "sim/SharcSplitBoard.h"
#include "sim/SimPortDevice.h"
#include "sim/Wire.h"
#include "targets/bootloader/sharc/SharcHostBootFlow.h"
#include "targets/bootloader/sharc/SharcSplitFlow.h"

namespace {

constexpr uint32_t LineBaud = 115200;
constexpr double HandshakeRoundS = 0.5;

// A typical split image: 16384 words (two pages of program and tables) in records of 32
// words, the size the tools write.
constexpr uint32_t SplitWords = 0x4000;
constexpr uint32_t WordsPerRecord = 32;
// A typical host-boot image: a 256-instruction kernel and 30 KB of code and data.
constexpr int BootBytes = 32 * 1024;

std::string TempFile(const char* name, const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

std::string SplitImage() {
    std::mt19937 random(6);
    std::string text;
    char buf[16];
    for (uint32_t first = 0; first < SplitWords; first += WordsPerRecord) {
        // Words 0..0x1FFF in page 0, the rest in page 2.
        const uint32_t address = first < 0x2000 ? first : 2 * 0x8000 + first;
        std::snprintf(buf, sizeof buf, "S%02X%06X", static_cast<unsigned>(WordsPerRecord),
                      static_cast<unsigned>(address));
        text += buf;
        for (uint32_t i = 0; i < 4 * WordsPerRecord; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(random() & 0xFF));
            text += buf;
        }
        text += "\r\n";
    }
    return TempFile("ps-bench-sharc-split.hex", text);
}

std::string BootImage() {
    std::mt19937 random(9);
    std::string bytes;
    for (int i = 0; i < BootBytes; ++i) bytes += static_cast<char>(random() & 0xFF);
    return TempFile("ps-bench-sharc-boot.bin", bytes);
}

template <class BoardType>
struct Bench {
    explicit Bench(std::unique_ptr<BoardType> made) {
        board = made.get();
        wire = std::make_shared<ps::sim::Wire>(clock, std::move(made), "sim:sharc");
        wire->SetRecording(true);
        st.Comm.SetResolver(
            [w = wire](int) { return std::make_unique<ps::sim::SimPortDevice>(w); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br115200);
        st.Comm.Open();
        st.CurrentStep = 1;
        st.Step.AutoContinue = true;
        ps::FillCrc32Table();
    }
    ps::RealClock clock;
    ps::NullView view;
    ps::Station st{clock, view};
    std::shared_ptr<ps::sim::Wire> wire;
    BoardType* board = nullptr;
};

// Seconds the bytes exchanged take on the line, both directions back to back.
double LineSeconds(ps::sim::Wire& wire) {
    const auto& t = wire.transcript();
    const auto bytes = static_cast<int64_t>(t.Sent.size() + t.Received.size());
    return static_cast<double>(ps::sim::Wire::BurstTimeUs(LineBaud, bytes)) / 1e6;
}

void Report(benchmark::State& state, double wall, double line, double waits, double board) {
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["prescribed_waits_s"] = waits;
    state.counters["board_work_s"] = board;
    state.counters["wall_per_line_and_waits"] = wall / (line + waits);
    state.counters["wall_per_line_waits_and_board"] = wall / (line + waits + board);
}

// The whole "SHARC-SPLIT 32b" step on a board that holds an older program: bridge and DSP
// (two handshakes), eight page CRCs, the erase of the pages that differ, 512 records of 32
// words each acknowledged, and the CRC of the whole flash.
void BM_SharcSplitStep(benchmark::State& state) {
    const std::string image = SplitImage();
    double wall = 0, line = 0, board = 0;
    for (auto _ : state) {
        Bench<ps::sim::SharcSplitBoard> bench(
            std::make_unique<ps::sim::SharcSplitBoard>(ps::sim::SharcSplitBoard::Options{}));
        bench.st.Step.ModelIndex = 6;
        bench.st.Step.ProgramFile = image;
        bench.st.Step.AddrLen = 0x40000;
        bench.st.Step.CheckSum = true;
        bench.st.Map = ps::SizeMap(0x40000, 1024, 32);
        const int64_t start = bench.clock.NowMs();
        ps::SharcSplitFlow(bench.st);
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk ||
            bench.board->Records().size() != SplitWords / WordsPerRecord) {
            state.SkipWithError("programming failed");
            break;
        }
        line = LineSeconds(*bench.wire);
        int pages = 0;
        for (uint16_t mask : bench.board->EraseMasks())
            for (int p = 0; p < 8; ++p) pages += (mask >> p) & 1;
        board = pages * ps::sim::SharcSplitBoard::ErasePageMs / 1e3;
    }
    Report(state, wall, line, 2 * HandshakeRoundS, board);
}
BENCHMARK(BM_SharcSplitStep)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole "SHARC-HostBoot" step: the bridge (one handshake), 'B', the 50 ms pause, the
// 32 KB stream with its escapes and the end byte, on a DSP that keeps up with the line.
void BM_SharcHostBootStep(benchmark::State& state) {
    const std::string image = BootImage();
    double wall = 0, line = 0;
    for (auto _ : state) {
        Bench<ps::sim::SharcHostBootBoard> bench(
            std::make_unique<ps::sim::SharcHostBootBoard>(ps::sim::SharcHostBootBoard::Options{}));
        bench.st.Step.ModelIndex = 9;
        bench.st.Step.ProgramFile = image;
        const int64_t start = bench.clock.NowMs();
        ps::SharcHostBootFlow(bench.st);
        // The step is over for the operator once its last byte is on the line.
        bench.wire->BytesWaiting();
        while (bench.wire->NextDueMs() >= 0) {
            bench.clock.SleepMs(1);
            bench.wire->BytesWaiting();
        }
        wall = static_cast<double>(bench.clock.NowMs() - start) / 1e3;
        if (bench.st.RunError != ps::RunOk || !bench.board->Finished() ||
            bench.board->Memory().size() != BootBytes) {
            state.SkipWithError("boot failed");
            break;
        }
        line = LineSeconds(*bench.wire);
    }
    Report(state, wall, line, HandshakeRoundS + ps::HostBootStartPauseMs / 1e3, 0);
}
BENCHMARK(BM_SharcHostBootStep)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
