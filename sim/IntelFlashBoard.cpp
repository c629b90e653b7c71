// SPDX-License-Identifier: MIT
#include "sim/IntelFlashBoard.h"

#include <algorithm>
#include <cstdio>

namespace ps::sim {

namespace {
constexpr uint8_t FlashIdAsk = '(', FlashIdReady = ')';  // then the chip code
constexpr uint8_t EraseAsk = '2', EraseDone = '7';
constexpr uint8_t FirstBlock = 'F', FirstBlockDone = 'K';
constexpr uint8_t LaterBlock = 'Z', LaterBlockReady = '[', LaterBlockDone = '_';
constexpr uint8_t ProgramEnd = 'P', ProgramEndDone = 'U';
constexpr uint8_t FrameLead = 'K';
constexpr uint8_t FrameRun = '3';       // four address bytes, no answer
constexpr uint8_t NegativeCode = 0x00;  // a code no chip table knows
constexpr size_t BlockTail = 3;         // bank, address high, address low
constexpr uint32_t BankWindow = 0x4000, CommonWindow = 0xC000, WindowSize = 0x4000;
constexpr uint8_t DefaultCode = 0x05;  // AM28F020A, 256 KB
}  // namespace

int IntelFlashBoard::ChipBanks(uint8_t code) {
    switch (code) {
        case 0x02:  // AT29C010A
        case 0x03:  // AM29F010
        case 0x04:  // AM28F010A
        case 0x07:  // V29C51001T
        case 0x08:  // V29C51001B
            return 8;
        default:
            return 16;
    }
}

IntelFlashBoard::IntelFlashBoard(uint8_t code, int banks) : code_(code) {
    if (banks < 1 || banks > 16) banks = ChipBanks(code);
    flash_.resize(static_cast<size_t>(banks) * BankSize);
    for (size_t i = 0; i < flash_.size(); ++i) flash_[i] = static_cast<uint8_t>(i * 11 + 0x5C);
}

void IntelFlashBoard::Command(uint8_t b) {
    switch (b) {
        case FlashIdAsk:
            Send({FlashIdReady, faults.Negative ? NegativeCode : code_});
            break;
        case EraseAsk:
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            ++erases_;
            Send(EraseDone, EraseMs);
            break;
        case FirstBlock:
            phase_ = Phase::FirstBlock;
            Collect(BlockLen + BlockTail);
            break;
        case LaterBlock:
            phase_ = Phase::LaterBlock;
            Send(LaterBlockReady);
            Collect(BlockLen + BlockTail);
            break;
        case ProgramEnd:
            ++ends_;
            Send(ProgramEndDone);
            break;
        case FrameLead:
            phase_ = Phase::FrameHead;
            Collect(2);  // command, length
            break;
        default:
            break;  // the loader ignores what starts no command
    }
}

void IntelFlashBoard::Program(const std::vector<uint8_t>& block) {
    const int bank = block[BlockLen];
    const uint32_t address = static_cast<uint32_t>(block[BlockLen + 1] << 8 | block[BlockLen + 2]);
    bankSwitches_.push_back(bank);
    const int banks = Banks();
    for (size_t i = 0; i < BlockLen; ++i) {
        const uint32_t a = address + static_cast<uint32_t>(i);
        long offset = -1;
        if (a >= BankWindow && a < BankWindow + WindowSize && bank < banks)
            offset = static_cast<long>(bank) * BankSize + (a - BankWindow);
        else if (a >= CommonWindow && a < CommonWindow + WindowSize)
            offset = static_cast<long>(banks - 1) * BankSize + (a - CommonWindow);
        if (offset < 0) {
            ++misplaced_;
            continue;
        }
        flash_[static_cast<size_t>(offset)] &= block[i];  // programming only clears bits
    }
}

void IntelFlashBoard::Collected(const std::vector<uint8_t>& bytes) {
    const Phase phase = phase_;
    phase_ = Phase::None;
    switch (phase) {
        case Phase::FirstBlock:
            Program(bytes);
            ++firstBlocks_;
            Send(FirstBlockDone);
            break;
        case Phase::LaterBlock:
            Program(bytes);
            ++laterBlocks_;
            Send(LaterBlockDone);
            break;
        case Phase::FrameHead:
            // The length counts itself and the payload; the check byte follows.
            frameCommand_ = bytes[0];
            phase_ = Phase::FrameBody;
            Collect(bytes[1] > 0 ? bytes[1] : 1u);
            break;
        case Phase::FrameBody: {
            const size_t payload = bytes.size() - 1;
            uint8_t sum = static_cast<uint8_t>(payload + 1);
            for (size_t i = 0; i < payload; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
            if (frameCommand_ == FrameRun && payload == 4 &&
                static_cast<uint8_t>(0xFF - sum) == bytes.back()) {
                starts_.push_back(static_cast<uint32_t>(bytes[0]) << 24 |
                                  static_cast<uint32_t>(bytes[1]) << 16 |
                                  static_cast<uint32_t>(bytes[2]) << 8 | bytes[3]);
            }
            break;
        }
        case Phase::None:
            break;
    }
}

std::string IntelFlashBoard::Describe() const {
    char text[96];
    std::snprintf(text, sizeof text, "intelflash: code 0x%02X, %d banks, %d blocks", code_, Banks(),
                  firstBlocks_ + laterBlocks_);
    return text + DescribeFaults(faults);
}

std::unique_ptr<Board> MakeIntelFlashBoard(const BoardOptions& options, std::string& error) {
    uint8_t code = DefaultCode;
    int banks = 0;
    for (const BoardOption& o : options) {
        long n = 0;
        if (o.Key == "flash") {
            if (!OptionNumber(o, 0, 255, n, error)) return nullptr;
            code = static_cast<uint8_t>(n);
        } else if (o.Key == "banks") {
            if (!OptionNumber(o, 1, 16, n, error)) return nullptr;
            banks = static_cast<int>(n);
        } else {
            error = UnknownOptionError("intelflash", o);
            return nullptr;
        }
    }
    return std::make_unique<IntelFlashBoard>(code, banks);
}

}  // namespace ps::sim
