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

// The far side of a "SHARC-Boot flash" step: the board's AVR bridge and the DSP behind it,
// with the DSP's 64 KB boot flash.
//
// The bridge answers 'A' with 'a' and the text "KBoTaps" with 'O' ('E' with the negative
// fault); 'p' restarts the DSP, 'P' (once unlocked) passes everything on to the DSP. The
// DSP answers 's' with 'i', "KBoTaps" with 'O' ('E' with dsprefuses), 'M' with 'i', and
// 'F' 0x08 (after the operator has moved the jumper) by erasing the boot flash and answering
// 'i'. Records come as 'S', count, 0x00, then address, data and checksum with every byte
// 0xFA and above escaped as 0xFF and its complement; a good record is written and answered
// 'i', a bad one (checksum, or no 'F' 0x08 before it) gets no answer. 'C' with two
// addresses (0xC8 and 0xC9 escaped as 0xC8 and the complement) answers four bytes whose low
// half is 0xFFFF minus the 16-bit sum of the flash bytes other than 0xFF from the first
// address to the last. A lone 0xC9 ends the DSP's session: 'O', back to the bridge.
class SharcBootFlashBoard : public Board {
public:
    static constexpr size_t FlashSize = 0x10000;
    static constexpr int EraseMs = 30;

    explicit SharcBootFlashBoard(bool dspRefuses)
        : dspRefuses_(dspRefuses), flash_(OldProgram(FlashSize)) {}
    std::string Kind() const override { return "sharcboot"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"flash", 0, flash_}}; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;

    uint16_t RangeSum(uint32_t first, uint32_t last) const;
    const std::vector<uint8_t>& Flash() const { return flash_; }

    // What the board saw.
    bool BridgeUnlocked = false;
    bool DspUnlocked = false;
    bool FlashMode = false;  // after 'F' 0x08: the flash was erased and takes records
    bool SimulatedFlash = false;
    int DspRestarts = 0;                            // 'p'
    std::vector<std::pair<uint16_t, int>> Records;  // address, count of each good record
    int BadRecords = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ChecksumRanges;
    int Ends = 0;  // 0xC9

private:
    enum Phase { Bridge, Dsp };
    void Command(uint8_t b);
    void Finish();
    uint8_t EscapeFor(int command) const;

    bool dspRefuses_;
    std::vector<uint8_t> flash_;
    Phase phase_ = Bridge;
    CommandCollector collector_;
    bool escaped_ = false;  // the last byte was the escape byte
};

// Options after "sharcboot,": dsprefuses.
std::unique_ptr<Board> MakeSharcBootFlashBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
