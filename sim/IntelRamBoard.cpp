// SPDX-License-Identifier: MIT
#include "sim/IntelRamBoard.h"

namespace ps::sim {

namespace {
constexpr uint8_t EraseAsk = 0x0A, EraseDone = 0x0F;  // + start, length
constexpr uint8_t BlockAsk = 0x14, BlockDone = 0x19;  // + address, length, data
constexpr uint8_t RunAsk = 0x1E, RunDone = 0x23;      // + address -> '#'

uint16_t Word(const std::vector<uint8_t>& b, size_t i) {
    return static_cast<uint16_t>(b[i] << 8 | b[i + 1]);
}
}  // namespace

IntelRamBoard::IntelRamBoard() : memory_(MemorySize) {
    for (size_t i = 0; i < memory_.size(); ++i) memory_[i] = static_cast<uint8_t>(i * 3 + 0x47);
}

void IntelRamBoard::Command(uint8_t b) {
    switch (b) {
        case EraseAsk:
            phase_ = Phase::Erase;
            Collect(4);
            break;
        case BlockAsk:
            phase_ = Phase::BlockHeader;
            Collect(4);
            break;
        case RunAsk:
            phase_ = Phase::Run;
            Collect(2);
            break;
        default:
            break;  // the loader ignores what starts no command
    }
}

void IntelRamBoard::Collected(const std::vector<uint8_t>& bytes) {
    const Phase phase = phase_;
    phase_ = Phase::None;
    switch (phase) {
        case Phase::Erase: {
            const uint16_t start = Word(bytes, 0), length = Word(bytes, 2);
            for (uint32_t i = 0; i < length; ++i) memory_[(start + i) % MemorySize] = 0xFF;
            erases_.emplace_back(start, length);
            Send(EraseDone);
            break;
        }
        case Phase::BlockHeader:
            blockAddress_ = Word(bytes, 0);
            phase_ = Phase::BlockData;
            Collect(Word(bytes, 2));
            break;
        case Phase::BlockData:
            // 16-bit addresses: a block that runs past the top wraps to the bottom.
            for (size_t i = 0; i < bytes.size(); ++i)
                memory_[(blockAddress_ + i) % MemorySize] = bytes[i];
            ++blocks_;
            Send(BlockDone);
            break;
        case Phase::Run:
            starts_.push_back(Word(bytes, 0));
            Send(RunDone);
            break;
        case Phase::None:
            break;
    }
}

std::string IntelRamBoard::Describe() const {
    return "intelram: " + std::to_string(blocks_) + " blocks written" + DescribeFaults(faults);
}

std::unique_ptr<Board> MakeIntelRamBoard(const BoardOptions& options, std::string& error) {
    if (!options.empty()) {
        error = UnknownOptionError("intelram", options.front());
        return nullptr;
    }
    return std::make_unique<IntelRamBoard>();
}

}  // namespace ps::sim
