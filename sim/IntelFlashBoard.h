// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Boards.h"
#include "sim/CommandBoard.h"

namespace ps::sim {

// The far side of an "INTEL - LOADER FLASH" step: a loader that programs a banked flash of
// 16 KB banks. The target's CPU sees one bank at a time at 0x4000-0x7FFF (chosen by the bank
// byte of each block) and the last bank of the flash always at 0xC000-0xFFFF. It answers the
// flash identification ('(' -> ')' and the chip code), erases the whole flash ('2' -> '7'),
// takes the first block ('F', 128 bytes, bank, address -> 'K') and every later one ('Z' ->
// '[', 128 bytes, bank, address -> '_'), the end of programming ('P' -> 'U') and the start
// of the program ("K" frame '3' with a 32-bit address, no answer).
//
// Flash behaves like flash: programming only clears bits, so a step that forgets the erase
// leaves a mix of the old and the new program; the board starts with an old program.
class IntelFlashBoard : public CommandBoard {
public:
    static constexpr int BankSize = 0x4000;
    static constexpr int BlockLen = 128;
    static constexpr int EraseMs = 50;

    // code: the chip code answered after ')'; banks: 1..16, 0 for the chip's own size
    // (AM28F020A, code 5, and codes outside the table: 16 banks, 256 KB; the others 8).
    IntelFlashBoard(uint8_t code, int banks);
    std::string Kind() const override { return "intelflash"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"flash", 0, flash_}}; }
    std::string Describe() const override;

    const std::vector<uint8_t>& Flash() const { return flash_; }
    int Banks() const { return static_cast<int>(flash_.size() / BankSize); }
    uint8_t Code() const { return code_; }
    int Erases() const { return erases_; }
    int FirstBlocks() const { return firstBlocks_; }  // 'F' blocks taken
    int LaterBlocks() const { return laterBlocks_; }  // 'Z' blocks taken
    int ProgramEnds() const { return ends_; }         // 'P' taken
    int Misplaced() const { return misplaced_; }      // block bytes with no place in the flash
    const std::vector<int>& BankSwitches() const { return bankSwitches_; }  // bank bytes in order
    const std::vector<uint32_t>& Starts() const { return starts_; }         // run addresses

    static int ChipBanks(uint8_t code);

protected:
    void Command(uint8_t b) override;
    void Collected(const std::vector<uint8_t>& bytes) override;
    void Abandoned() override { phase_ = Phase::None; }

private:
    enum class Phase { None, FirstBlock, LaterBlock, FrameHead, FrameBody };
    void Program(const std::vector<uint8_t>& block);

    uint8_t code_;
    std::vector<uint8_t> flash_;
    Phase phase_ = Phase::None;
    uint8_t frameCommand_ = 0;
    int erases_ = 0;
    int firstBlocks_ = 0;
    int laterBlocks_ = 0;
    int ends_ = 0;
    int misplaced_ = 0;
    std::vector<int> bankSwitches_;
    std::vector<uint32_t> starts_;
};

// Options after "intelflash,": flash=N (chip code), banks=N (1..16).
std::unique_ptr<Board> MakeIntelFlashBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
