// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// The flash loader running on a 91360 board: two 256 KB flash devices at 0x180000-0x1FFFFF
// in fourteen sectors (64, 64, 64, 32, 8, 8, 16 KB per device). Its commands:
//   's'                      -> 'i'
//   'E'                      erases the whole flash -> 'i'
//   'e', mask high, low      erases sector i for each bit i of the mask -> 'i'
//   'C', first, last         (4 bytes each, low byte first) -> CRC-32 of the range, high
//                            byte first; addresses outside the flash read as 0xFF
//   'S', address (4), length (2), bytes (both low byte first)
//                            writes a run -> 'i'; a run that leaves its sector or the
//                            flash is refused with 'h' and nothing is written
// The flash behaves like flash: a write only clears bits, so a run into a sector that was
// not erased leaves a mix of old and new. The board starts with an old program in every
// sector so that such a mix shows.
class Loader91360Board : public Board {
public:
    static constexpr uint32_t FlashStart = 0x180000;
    static constexpr uint32_t FlashSize = 0x80000;
    static constexpr int SectorCount = 14;
    static const uint32_t SectorStarts[SectorCount + 1];
    static constexpr uint8_t Done = 'i';
    static constexpr uint8_t Refused = 'h';

    struct Options {
        bool Blank = false;               // starts erased instead of with an old program
        bool RefuseEraseFlash = false;    // refuse=erase
        bool RefuseEraseSectors = false;  // refuse=sectors
        bool RefuseWrite = false;         // refuse=write
        long WeakCell = -1;               // weakcell=ADDR: this flash byte never programs
    };
    struct Run {
        uint32_t Address;
        int Length;
    };

    explicit Loader91360Board(const Options& options);
    std::string Kind() const override { return "91360-loader"; }
    std::vector<MemoryRegion> MemoryRegions() const override {
        return {{"flash", FlashStart, flash_}};
    }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnOpen() override { collected_.clear(); }

    // What a test looks at (and sets up) around a run.
    std::vector<uint8_t>& Flash() { return flash_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    uint8_t At(uint32_t address) const;
    int FlashErases() const { return flashErases_; }
    const std::vector<uint16_t>& SectorErases() const { return sectorErases_; }
    const std::vector<Run>& Runs() const { return runs_; }
    int CrcRequests() const { return crcRequests_; }

    // CRC-32 of the flash from first to last; 0 (nothing) when last < first.
    uint32_t RangeCrc(uint32_t first, uint32_t last) const;
    static int SectorOf(uint32_t address);  // 0..13, -1 outside the flash

private:
    void Finish();
    void EraseSector(int sector);

    Options options_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> collected_;  // the command being collected, its letter first
    size_t needed_ = 0;               // bytes the command has in all
    int flashErases_ = 0;
    std::vector<uint16_t> sectorErases_;
    std::vector<Run> runs_;
    int crcRequests_ = 0;
};

// Makes the board from its options (after "91360-loader,"): blank, refuse=erase,
// refuse=sectors, refuse=write, weakcell=ADDR; the "negative" fault refuses all three.
std::unique_ptr<Board> MakeLoader91360Board(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
