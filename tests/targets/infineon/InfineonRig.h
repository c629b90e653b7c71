// SPDX-License-Identifier: MIT
#pragma once
// A station wired to a simulated XC161CJ under the virtual clock, the stand-in stage programs
// and a project image over both flashes.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/InfineonBoard.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrRig.h"

namespace ps::inftest {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t ExtBase = 0x400000;

struct Segment {
    uint32_t Address;
    Bytes Data;
};

// Intel HEX of the segments: 16-byte records with a type 04 record whenever bits 16-23 of
// the address change, then the end record.
inline std::string HexText(const std::vector<Segment>& segments) {
    std::string text;
    int upper = -1;
    auto record = [&](int count, unsigned address, int type, const uint8_t* data) {
        text += avrtest::HexRecord(static_cast<uint8_t>(type), static_cast<uint16_t>(address),
                                   Bytes(data, data + count), "\r\n");
    };
    for (const Segment& s : segments) {
        for (size_t at = 0; at < s.Data.size(); at += 16) {
            const uint32_t address = s.Address + static_cast<uint32_t>(at);
            if (static_cast<int>(address >> 16) != upper) {
                upper = static_cast<int>(address >> 16);
                const uint8_t high[2] = {0x00, static_cast<uint8_t>(upper)};
                record(2, 0, 4, high);
            }
            const int n = static_cast<int>(std::min<size_t>(16, s.Data.size() - at));
            record(n, address, 0, s.Data.data() + at);
        }
    }
    return text + ":00000001FF\r\n";
}

// Varied bytes that are never all erased.
inline Bytes Pattern(size_t length, uint32_t seed) {
    Bytes out(length);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return out;
}

// The stand-ins for the three stage programs the board maker supplies.
struct Stages {
    Bytes Boot = Pattern(32, 1);
    Bytes Loader1 = Pattern(2048, 2);
    Bytes Loader2 = Pattern(1536, 3);  // six pages
    void Write(const pstest::TempDir& dir, const std::string& skip = "") const {
        if (skip != "boot32C.hex") dir.Write("boot32C.hex", HexText({{0xFA40, Boot}}));
        if (skip != "loader1.hex") dir.Write("loader1.hex", HexText({{0xE00000, Loader1}}));
        if (skip != "loader2.hex") dir.Write("loader2.hex", HexText({{0x100000, Loader2}}));
    }
};

// The project image: parts of internal sectors 1 and 6 and of external sectors 1 and 6.
inline std::vector<Segment> ProjectSegments() {
    return {{0xC00000, Pattern(1000, 10)},
            {0xC12340, Pattern(600, 11)},
            {ExtBase, Pattern(800, 12)},
            {ExtBase + 0x23456, Pattern(300, 13)}};
}

// What the flashes hold once the image is programmed: the segments over erased flash.
inline Bytes FlashImage(const std::vector<Segment>& segments, uint32_t base, uint32_t size) {
    Bytes out(size, 0xFF);
    for (const Segment& s : segments)
        for (size_t i = 0; i < s.Data.size(); ++i)
            if (s.Address + i >= base && s.Address + i < base + size)
                out[s.Address + i - base] = s.Data[i];
    return out;
}

inline std::unique_ptr<sim::Board> MakeBoard(const std::string& spec) {
    std::string error;
    auto board = sim::MakeBoard(spec, error);
    if (!board) ADD_FAILURE() << error;
    return board;
}

struct Rig {
    explicit Rig(const std::string& spec = "infineon") : h(MakeBoard(spec)) {
        stages.Write(h.dir);
        h.dir.Write("fw.hex", HexText(segments));
        // No run of these projects comes near this on the board's clock: a run still going
        // then fails its test instead of hanging it.
        h.view.AtTime(RunLimitMs, [this] {
            hitLimit = true;
            StopBtnClick(h.st);
        });
    }
    static constexpr int64_t RunLimitMs = 30 * 60 * 1000;

    sim::InfineonBoard& Board() { return h.Board<sim::InfineonBoard>(); }
    void Step(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> lines = {"/P13=" + h.dir.File("fw.hex"), "/BaudRate=9600",
                                          "/ADDREXTFLASH=0x400000", "/RESETSIGNAL=RTS0", "/RESET"};
        lines.insert(lines.end(), extra.begin(), extra.end());
        h.StepFile(lines);
        stepWritten = true;
    }
    int Run() {
        if (!stepWritten) Step();
        return h.Run();
    }

    pstest::StationHarness h;
    Stages stages;
    std::vector<Segment> segments = ProjectSegments();
    bool hitLimit = false;
    bool stepWritten = false;
};

}  // namespace ps::inftest
