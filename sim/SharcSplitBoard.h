// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Board.h"
#include "sim/Boards.h"

namespace ps::sim {

// The far side of a "SHARC-SPLIT 32b" step: the board's AVR bridge and, behind it, the
// DSP's split-flash loader. The flash is 0x40000 32-bit words in eight pages of 0x8000
// words, kept as four bytes a word in the order the records carry them.
//
// The bridge is found with 'A' ('a') and unlocked with "KBoTaps" ('O', or 'E' when it
// refuses); "P" passes the line through to the loader ("p" before it is a sync and does
// nothing here). With the usb option the board sits behind a USB serial bridge instead: 'G'
// ('g') and "P", and record bytes travel without escapes. The loader answers 's' with 'i'
// and wants "KBoTaps" before anything else; then: 'M' simulate ('i'), 'F' and a flash kind
// byte ('i'), '2' erase all ('7'), 'E' and a 16-bit page mask ('e'), 'C' and two escaped
// word addresses (the CRC-32, high byte first, of the bytes other than 0xFF of those
// words), 'S' records ('i' written, 'h' refused). A lone 0xC9 between commands ends the
// exchange: 'O', and the bridge takes the line again.
//
// Flash behaves like flash: writing only clears bits, so a page that was not erased keeps
// a mix of the old data and the new. Fresh boards hold an older program in pages 0 and 1.
class SharcSplitBoard : public Board {
public:
    struct Options {
        bool Usb = false;        // usb: behind a USB serial bridge ('G'), records unescaped
        bool RefuseDsp = false;  // refuse=sharc: the loader answers 'E' to "KBoTaps"
        int RefuseRecord = 0;    // nak=N: the N-th record of a run is refused ('h')
        bool Blank = false;      // blank: the flash starts erased
    };
    struct Record {
        uint32_t FirstWord;
        int Count;
        bool Written;
    };

    static constexpr uint32_t PageWords = 0x8000;
    static constexpr int Pages = 8;
    static constexpr uint32_t FlashWords = PageWords * Pages;
    static constexpr int EraseAllMs = 800;
    static constexpr int ErasePageMs = 100;

    explicit SharcSplitBoard(const Options& options);
    std::string Kind() const override { return "sharcsplit"; }
    std::vector<MemoryRegion> MemoryRegions() const override { return {{"flash", 0, flash_}}; }
    std::string Describe() const override;
    void OnByte(uint8_t b) override;
    void OnOpen() override;

    // The flash: word w is bytes 4w..4w+3.
    const std::vector<uint8_t>& Flash() const { return flash_; }
    std::vector<uint8_t>& Flash() { return flash_; }
    // CRC-32 of the bytes other than 0xFF of words first..last, as the loader answers 'C'.
    uint32_t RangeCrc(uint32_t first, uint32_t last) const;

    // What the board saw.
    bool InDsp() const { return inDsp_; }
    bool Simulating() const { return simulating_; }
    int FlashKind() const { return flashKind_; }  // the byte after 'F', -1 none
    int FullErases() const { return fullErases_; }
    const std::vector<uint16_t>& EraseMasks() const { return eraseMasks_; }
    const std::vector<std::pair<uint32_t, uint32_t>>& CrcRanges() const { return crcRanges_; }
    const std::vector<Record>& Records() const { return records_; }
    int ExchangesEnded() const { return exchangesEnded_; }

private:
    enum class Field { None, UnlockText, FlashKind, Mask, CrcArgs, RecordHeader, RecordData };
    void BridgeByte(uint8_t b);
    void DspByte(uint8_t b);
    void Collect(Field field, size_t count, bool escaped);
    void FieldDone();
    void Unlocked(bool refuse);
    void WriteRecord();
    void EndExchange();
    void Reset();

    Options options_;
    std::vector<uint8_t> flash_;
    bool bridgeUnlocked_ = false;
    bool inDsp_ = false;
    bool dspUnlocked_ = false;
    bool simulating_ = false;
    int flashKind_ = -1;
    int fullErases_ = 0;
    int recordsThisRun_ = 0;
    int exchangesEnded_ = 0;
    std::vector<uint16_t> eraseMasks_;
    std::vector<std::pair<uint32_t, uint32_t>> crcRanges_;
    std::vector<Record> records_;

    // The field being collected: its bytes, how many more, whether they come escaped.
    Field field_ = Field::None;
    size_t need_ = 0;
    bool escaped_ = false;
    bool escapePending_ = false;
    std::vector<uint8_t> args_;
    int64_t lastByteMs_ = 0;
};

// Makes the board from its options (after "sharcsplit,"): usb, refuse=sharc, nak=N, blank.
std::unique_ptr<Board> MakeSharcSplitBoard(const BoardOptions& options, std::string& error);

}  // namespace ps::sim
