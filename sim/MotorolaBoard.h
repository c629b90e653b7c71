// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"
#include "sim/CommandCollector.h"

namespace ps::sim {

// The far side of a "MOTOROLA" step: the resident S-record loader of the board. It takes
// "S2" records as raw bytes ('S', '2', count, three address bytes, data, checksum) into its
// flash and answers 'i' ('h' for a record whose checksum is wrong or that does not fit),
// and answers the inline sequence's other exchanges: 's' -> 'i', 'M' -> 'i', flash id
// '(' -> ')' and a chip code, chip erase '2' -> '7', range erase 0x0A -> 0x0F, the "K"
// frames '0' start -> 'i', '2' erase sectors (bit k: the 64 KB sector k) -> 'i', '3' run
// (no answer) and '4' checksum -> high, low and a spare byte computed from its memory, the
// AVR identification 'P' -> 'O', 'I' -> three bytes, fuse and lock writes -> 'O'.
//
// Flash behaves like flash: a write only clears bits, and the board starts with an old
// program, so a step that forgets the erase leaves a mix. The negative fault answers 'h' to
// every record and frame that has an answer.
class MotorolaBoard : public Board {
public:
    struct Options {
        size_t MemorySize = 0x80000;
        uint8_t FlashCode = 0x03;  // AM29F010
        std::array<uint8_t, 3> Signature{0x4C, 0x4F, 0x41};
        long WeakCell = -1;  // this flash byte never programs
    };
    static constexpr int EraseMs = 40;
    static constexpr uint32_t SectorBytes = 0x10000;

    explicit MotorolaBoard(const Options& options);
    std::string Kind() const override { return "motorola"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"memory", 0, memory_}}; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;

    // The checksum of '4': over [first, last], every byte other than 0xFF XOR the low byte of
    // its address, summed in 16 bits.
    uint16_t Checksum(uint32_t first, uint32_t last) const;

    const std::vector<uint8_t>& Memory() const { return memory_; }
    std::vector<uint8_t>& Memory() { return memory_; }
    // What the board saw: every record's address and data count, in order.
    std::vector<std::pair<uint32_t, int>> Records;
    int RefusedRecords = 0;
    int ChipErases = 0;
    std::vector<uint16_t> SectorErases;
    std::vector<std::pair<uint16_t, uint16_t>> RangeErases;
    int Starts = 0;
    std::vector<uint32_t> RunAddresses;
    std::vector<std::pair<uint32_t, uint32_t>> ChecksumRanges;
    bool SimulatedFlash = false;
    std::vector<std::vector<uint8_t>> FuseAndLockWrites;  // 'F', 'H', 'L' with their bytes

private:
    void Command(uint8_t b);
    void Finish();
    void FinishRecord(const std::vector<uint8_t>& r);
    void FinishFrame(uint8_t command, const std::vector<uint8_t>& body);
    void Erase(uint32_t first, uint32_t count);

    Options options_;
    std::vector<uint8_t> memory_;
    CommandCollector collector_;
};

// Options after "motorola,": memory=N bytes, flash=N chip code, sig=HHHHHH, weakcell=N.
std::unique_ptr<Board> MakeMotorolaBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
