// SPDX-License-Identifier: MIT
// The image transfers of the four models the run controller programs itself (MOTOROLA,
// 574-BOOT, SHARC-Boot flash, INTEL - EMULATOR), each with a typical image, over a simulated
// line paced at 115200 baud under the real clock: every byte takes ten bit times each way
// and a board acts on a command only once its last byte has arrived. Reports the wall time
// against the time the bytes need on the line plus the waits the protocol prescribes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/Boot574Transfer.h"
#include "app/EmulatorTransfer.h"
#include "app/MotorolaLoader.h"
#include "app/SharcBootFlashTransfer.h"
#include "run/Station.h"
#include "display/StationView.h"
#include "link/Clock.h"
#include "link/Link.h"
#include "sim/Boards.h"
#include "sim/Boot574Board.h"
#include "sim/EmulatorBoard.h"
#include "sim/MotorolaBoard.h"
#include "sim/SharcBootFlashBoard.h"
#include "sim/SimPortDevice.h"
#include "sim/Wire.h"

namespace {

constexpr uint32_t LineBaud = 115200;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char d[3];
    for (uint8_t b : bytes) {
        std::snprintf(d, sizeof d, "%02X", b);
        out += d;
    }
    return out;
}

// An image of `size` bytes from `start` as lines of `line` bytes: S-records of the given
// kind (1: S1, 2: S2) or Intel HEX (kind 0).
std::string WriteImage(const char* name, int kind, uint32_t start, size_t size, size_t line) {
    std::mt19937 random(kind + 7);
    std::string text;
    for (size_t off = 0; off < size; off += line) {
        std::vector<uint8_t> body;
        const auto address = static_cast<uint32_t>(start + off);
        const int addressBytes = kind == 0 ? 2 : kind + 1;
        body.push_back(static_cast<uint8_t>(kind == 0 ? line : line + addressBytes + 1));
        for (int i = addressBytes - 1; i >= 0; --i)
            body.push_back(static_cast<uint8_t>(address >> (8 * i)));
        if (kind == 0) body.push_back(0x00);
        for (size_t i = 0; i < line; ++i) body.push_back(static_cast<uint8_t>(random()));
        uint8_t sum = 0;
        for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
        body.push_back(kind == 0 ? static_cast<uint8_t>(0x100 - sum) : static_cast<uint8_t>(~sum));
        text += (kind == 0 ? ":" : "S" + std::to_string(kind)) + Hex(body) + "\r\n";
    }
    text += kind == 0 ? ":00000001FF\r\n" : "S9030000FC\r\n";
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

struct Bench {
    explicit Bench(const std::string& spec) {
        std::string error;
        auto board = ps::sim::MakeBoard(spec, error);
        wire = std::make_shared<ps::sim::Wire>(clock, std::move(board), "sim:" + spec);
        wire->SetRecording(true);
        st.Comm.SetResolver(
            [w = wire](int) { return std::make_unique<ps::sim::SimPortDevice>(w); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br115200);
        st.Comm.Open();
        st.CurrentStep = 1;
        st.Step.AddrLen = 0x10000;
        st.RangeStart = 0;
        st.RangeEnd = 0xFFFF;
        st.Step.AutoContinue = true;
    }
    // Runs the transfer and returns its wall time in seconds, until the board has every byte.
    double Time(const std::function<void()>& transfer) {
        wire->transcript().Clear();
        const auto start = std::chrono::steady_clock::now();
        transfer();
        // A transfer that awaits no answer returns before its bytes have crossed the line:
        // the time runs until the board has the last one (what the board says meanwhile is
        // read and dropped, so only bytes still on their way are waited for).
        for (;;) {
            uint8_t dropped[512];
            while (wire->Read(dropped, sizeof dropped) > 0) {
            }
            const int64_t due = wire->NextDueMs();
            if (due < 0) break;
            const int64_t left = due - clock.NowMs();
            if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    double LineSeconds(bool bothWays) {
        const auto& t = wire->transcript();
        const int64_t bytes = static_cast<int64_t>(t.Sent.size()) +
                              (bothWays ? static_cast<int64_t>(t.Received.size()) : 0);
        return static_cast<double>(ps::sim::Wire::BurstTimeUs(LineBaud, bytes)) / 1e6;
    }

    ps::RealClock clock;
    ps::NullView view;
    ps::Station st{clock, view};
    std::shared_ptr<ps::sim::Wire> wire;
};

void Report(benchmark::State& state, double wall, double line, double waits) {
    state.counters["wall_s"] = wall;
    state.counters["line_s"] = line;
    state.counters["waits_s"] = waits;
    state.counters["wall_per_line_and_waits"] = line + waits > 0 ? wall / (line + waits) : 0;
}

// 32 KB of "S2" lines of 32 bytes, joined into records of 128 bytes, each acknowledged.
void BM_Motorola32K(benchmark::State& state) {
    const std::string image = WriteImage("ps-bench-motorola.mhx", 2, 0, 0x8000, 32);
    double wall = 0, line = 0;
    for (auto _ : state) {
        Bench bench("motorola,memory=0x10000");
        wall = bench.Time([&] { ps::LoadMotorolaImage(bench.st, image); });
        if (bench.st.RunError != ps::RunOk || bench.st.ErrorCount != 0) {
            state.SkipWithError("transfer failed");
            break;
        }
        line = bench.LineSeconds(true);
    }
    Report(state, wall, line, 0);
}
BENCHMARK(BM_Motorola32K)->Iterations(1)->Unit(benchmark::kMillisecond);

// 8 KB of "S1" lines of 16 bytes: a ready handshake, the frame, its answer and the loader's
// 5 ms per record.
void BM_Boot574_8K(benchmark::State& state) {
    const std::string image = WriteImage("ps-bench-574.mhx", 1, 0x8000, 0x2000, 16);
    double wall = 0, line = 0, waits = 0;
    for (auto _ : state) {
        Bench bench("574boot");
        wall = bench.Time([&] { ps::TransferBoot574Image(bench.st, image); });
        const auto& board = bench.wire->BoardAs<ps::sim::Boot574Board>();
        if (bench.st.RunError != ps::RunOk || board.Frames.size() != 0x2000 / 16) {
            state.SkipWithError("transfer failed");
            break;
        }
        line = bench.LineSeconds(true);
        waits = static_cast<double>(board.Frames.size()) * ps::Boot574RecordGapMs / 1e3;
    }
    Report(state, wall, line, waits);
}
BENCHMARK(BM_Boot574_8K)->Iterations(1)->Unit(benchmark::kMillisecond);

// 32 KB of Intel HEX records of 32 bytes to the bridge, escaped, each acknowledged.
void BM_SharcBootFlash32K(benchmark::State& state) {
    const std::string image = WriteImage("ps-bench-sharc-boot.hex", 0, 0, 0x8000, 32);
    double wall = 0, line = 0;
    for (auto _ : state) {
        Bench bench("sharcboot");
        // Bridge, DSP and the flash mode first, outside the timing.
        ps::Station& st = bench.st;
        ps::Handshake(st, 'A', 'a');
        ps::SendText(st, "KBoTaps");
        ps::ExpectByte(st, 'O');
        ps::SendByte(st, 'P');
        ps::Handshake(st, 's', 'i');
        ps::SendText(st, "KBoTaps");
        ps::ExpectByte(st, 'O');
        ps::SendText(st, std::string("F\x08", 2));
        ps::ExpectByte(st, 'i');
        wall = bench.Time([&] { ps::TransferSharcBootFlashImage(st, image); });
        const auto& board = bench.wire->BoardAs<ps::sim::SharcBootFlashBoard>();
        if (st.RunError != ps::RunOk || board.Records.size() != 0x8000 / 32) {
            state.SkipWithError("transfer failed");
            break;
        }
        line = bench.LineSeconds(true);
    }
    Report(state, wall, line, 0);
}
BENCHMARK(BM_SharcBootFlash32K)->Iterations(1)->Unit(benchmark::kMillisecond);

// 32 KB of Intel HEX records of 16 bytes to the emulator, no answers awaited (its chatter
// comes back while the records go out, so only the outgoing bytes count).
void BM_Emulator32K(benchmark::State& state) {
    const std::string image = WriteImage("ps-bench-emulator.hex", 0, 0, 0x8000, 16);
    double wall = 0, line = 0;
    for (auto _ : state) {
        Bench bench("emulator");
        wall = bench.Time([&] { ps::TransferEmulatorImage(bench.st, image); });
        const auto& board = bench.wire->BoardAs<ps::sim::EmulatorBoard>();
        if (bench.st.RunError != ps::RunOk || board.Runs != 1) {
            state.SkipWithError("transfer failed");
            break;
        }
        line = bench.LineSeconds(false);
    }
    Report(state, wall, line, 0);
}
BENCHMARK(BM_Emulator32K)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
