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

// The far side of an "INTEL - EMULATOR" step: an emulator with 64 KB of program memory.
// 'A', address high, low, count and the data write the memory; 'R' starts the program;
// 's' is answered 'i'. It acknowledges no record, but chatters: after each record it sends
// '.' (unless quiet), which the station must read and drop. Memory starts with an old
// program.
class EmulatorBoard : public Board {
public:
    static constexpr size_t MemorySize = 0x10000;
    static constexpr uint8_t Chatter = '.';

    // The station's port holds what a serial driver holds on its way out; a longer image is
    // paced by the line, as it is on a real port.
    static constexpr long DriverQueueBytes = 4096;

    explicit EmulatorBoard(bool quiet) : quiet_(quiet), memory_(OldProgram(MemorySize)) {
        StationQueueBytes = DriverQueueBytes;
    }
    std::string Kind() const override { return "emulator"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"memory", 0, memory_}}; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;

    const std::vector<uint8_t>& Memory() const { return memory_; }
    std::vector<std::pair<uint16_t, int>> Records;  // address and count of each record
    int Runs = 0;                                   // 'R'

private:
    void Finish();

    bool quiet_;
    std::vector<uint8_t> memory_;
    CommandCollector collector_;
};

// Options after "emulator,": quiet.
std::unique_ptr<Board> MakeEmulatorBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
