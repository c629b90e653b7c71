// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// The far side of an "ATMEL" step: an AVR programmer with its target AVR, or (processor 4)
// the AVR loader running in the target itself. It answers the programmer's one-letter
// commands, keeps the flash in 128-byte pages, the EEPROM, the fuses and the lock byte.
//
// Flash behaves like flash: a page write can only clear bits, so a flow that forgets the
// erase leaves a mix of the old and the new program. The board starts with an old program
// in its flash so that such a mix is seen. The loader has no chip erase: it erases each
// page it writes, so pages the station skips (all 0xFF) keep what was there.
class AvrBoard : public Board {
public:
    struct Options {
        int Processor = 6;          // 0..7 as "/ATMEL=" numbers them
        bool HasSignature = false;  // sig=XXXXXX: answer this signature instead
        std::array<uint8_t, 3> Signature{};
        bool Protected = false;      // reads 00 01 02 as signature until erased
        bool FuseStuck = false;      // fusestuck: writes of the low fuse do not stick
        bool HighFuseStuck = false;  // fusestuck=high: the same for the high fuse
        int EepromSize = 4096;
        int WeakCell = -1;  // weakcell=N: this flash byte never programs
        // Loader: the version text runs on for this many bytes and never gets its closing
        // 0x00 (set by tests; 0 sends the real text).
        int VersionRunOn = 0;
    };

    explicit AvrBoard(const Options& options);
    std::string Kind() const override { return "avr"; }
    std::vector<MemoryRegion> MemoryRegions() const override {
        return {{"flash", 0, flash_}, {"eeprom", 0, eeprom_}};
    }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnOpen() override;
    void OnLines(bool dtr, bool rts) override;

    // What a test looks at after a run.
    int Processor() const { return options_.Processor; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    std::vector<uint8_t>& Flash() { return flash_; }
    const std::vector<uint8_t>& Eeprom() const { return eeprom_; }
    std::vector<uint8_t>& Eeprom() { return eeprom_; }
    uint8_t LowFuse() const { return lowFuse_; }
    uint8_t HighFuse() const { return highFuse_; }
    uint8_t Lock() const { return lock_; }
    bool IsProtected() const { return protected_; }
    bool LoaderUnlocked() const { return unlocked_; }
    bool LeftLoader() const { return leftLoader_; }
    int EraseCount() const { return eraseCount_; }
    int PagesWritten() const { return pagesWritten_; }
    uint32_t StartedAt() const { return startedAt_; }  // last "K" '3' address, 0 none
    const std::array<uint8_t, 2>& DeviceParameters() const { return deviceParameters_; }
    uint8_t SpeedByte() const { return speed_; }

    // The checksum the programmer answers to 'C': 0xFFFF minus the 16-bit sum of the bytes
    // of words start..end of the flash.
    uint16_t FlashChecksum(uint16_t startWord, uint16_t endWord) const;

    // Timing of the programmer, in board milliseconds.
    static constexpr int PageWriteMs = 5;
    static constexpr int EraseMs = 20;
    static constexpr int EepromWriteMs = 4;

    static int FlashSize(int processor);
    static const char* LoaderVersion();

private:
    void Command(uint8_t cmd);
    void Finish();  // the current command has all its bytes
    bool AwaitsRest();  // a header is in and its data follows: collect that first
    // The bigger commands, once all their bytes are in and the loader is unlocked.
    void SendVersion();
    void FuseOrLock(uint8_t cmd);  // the fuse and lock reads and writes
    void WritePage();
    void SendChecksum();
    void RunFrame();
    bool IsLoader() const { return options_.Processor == 4; }
    std::array<uint8_t, 3> SignatureBytes() const;
    void Erase();
    void Reset();

    Options options_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> eeprom_;
    uint8_t lowFuse_ = 0xE1;
    uint8_t highFuse_ = 0x99;
    uint8_t lock_ = 0xFF;
    bool protected_ = false;
    bool unlocked_ = false;    // loader: "kBoTaps" received
    bool leftLoader_ = false;  // loader: 'X' received; deaf until reset or reopen
    int eraseCount_ = 0;
    int pagesWritten_ = 0;
    uint32_t startedAt_ = 0;
    std::array<uint8_t, 2> deviceParameters_{};
    uint8_t speed_ = 0;

    // The command being collected: its letter, how many more bytes it needs, and those.
    uint8_t cmd_ = 0;
    int needed_ = 0;
    std::vector<uint8_t> args_;
    bool lastLines_[2] = {false, false};
};

// Makes the board from its options (after "avr,"): proc=N (0..7), sig=HHHHHH, protected,
// fusestuck or fusestuck=high, weakcell=N, eeprom=N.
std::unique_ptr<Board> MakeAvrBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
