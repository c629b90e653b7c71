// SPDX-License-Identifier: MIT
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Boards.h"
#include "sim/CommandBoard.h"

namespace ps::sim {

// The far side of an "INTEL - LOADER RAM" step: a loader in the target's 64 KB of RAM that
// erases a range (0x0A, start, length -> 0x0F; erased RAM reads 0xFF), writes blocks to a
// 16-bit address (0x14, address, length, data -> 0x19) and starts a program (0x1E, address
// -> '#'). RAM starts with what was there before (not 0xFF), so a missing erase shows.
class IntelRamBoard : public CommandBoard {
public:
    static constexpr int MemorySize = 0x10000;

    IntelRamBoard();
    std::string Kind() const override { return "intelram"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"memory", 0, memory_}}; }
    std::string Describe() const override;

    const std::vector<uint8_t>& Memory() const { return memory_; }
    const std::vector<std::pair<uint16_t, uint16_t>>& Erases() const { return erases_; }
    int BlocksWritten() const { return blocks_; }
    const std::vector<uint16_t>& Starts() const { return starts_; }  // run addresses

protected:
    void Command(uint8_t b) override;
    void Collected(const std::vector<uint8_t>& bytes) override;
    void Abandoned() override { phase_ = Phase::None; }

private:
    enum class Phase { None, Erase, BlockHeader, BlockData, Run };
    std::vector<uint8_t> memory_;
    std::vector<std::pair<uint16_t, uint16_t>> erases_;
    std::vector<uint16_t> starts_;
    int blocks_ = 0;
    Phase phase_ = Phase::None;
    uint16_t blockAddress_ = 0;
};

std::unique_ptr<Board> MakeIntelRamBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
