// SPDX-License-Identifier: MIT
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "sim/Boards.h"
#include "sim/CommandBoard.h"

namespace ps::sim {

// The far side of an "INTEL - BOOT" step: a boot monitor that takes bare 256-byte blocks,
// each after a 0xFF, and answers nothing. It has no addresses: every block goes to the next
// 256 bytes of its memory from the start, so the blocks the station skips (all 0xFF) leave
// no gap. A new load starts when the port is opened. Memory that no block reached keeps
// whatever was there before (not 0xFF), so a block that went missing shows.
class IntelBootBoard : public CommandBoard {
public:
    static constexpr int BlockLen = 256;
    static constexpr int MemorySize = 0x40000;

    IntelBootBoard();
    std::string Kind() const override { return "intelboot"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"memory", 0, memory_}}; }
    std::string Describe() const override;
    void OnOpen() override;

    const std::vector<uint8_t>& Memory() const { return memory_; }
    int BlocksLoaded() const { return blocks_; }        // since the port was opened
    int BlocksAbandoned() const { return abandoned_; }  // cut short by the station
    int StrayBytes() const { return stray_; }           // bytes outside any block

protected:
    void Command(uint8_t b) override;
    void Collected(const std::vector<uint8_t>& block) override;
    void Abandoned() override { ++abandoned_; }

private:
    std::vector<uint8_t> memory_;
    size_t next_ = 0;  // where the next block goes
    int blocks_ = 0;
    int abandoned_ = 0;
    int stray_ = 0;
};

std::unique_ptr<Board> MakeIntelBootBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
