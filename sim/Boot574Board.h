// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"
#include "sim/CommandCollector.h"

namespace ps::sim {

// The far side of a "574-BOOT" step: the board's boot loader. 0x18 asks whether it is
// ready and it answers 0x11; the frame that follows (0x00, address high, low, 0x00, count,
// data, the 8-bit sum of the frame's bytes) goes into its 64 KB of memory and is answered
// 0x01; 0x40 and four zero bytes end the transfer. It has no "no" (the negative fault changes
// nothing): a frame whose sum is wrong is answered 0x15, which the station does not wait
// for, and is not stored. Memory starts with an old program.
class Boot574Board : public Board {
public:
    static constexpr size_t MemorySize = 0x10000;
    static constexpr uint8_t Refused = 0x15;

    Boot574Board() : memory_(OldProgram(MemorySize)) {}
    std::string Kind() const override { return "574boot"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"memory", 0, memory_}}; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;

    const std::vector<uint8_t>& Memory() const { return memory_; }
    // What the board saw: each accepted frame's address and count, refusals, end frames.
    std::vector<std::pair<uint16_t, int>> Frames;
    int RefusedFrames = 0;
    int ReadyRequests = 0;
    int Ends = 0;

private:
    void Finish();

    std::vector<uint8_t> memory_;
    CommandCollector collector_;
};

std::unique_ptr<Board> MakeBoot574Board(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
