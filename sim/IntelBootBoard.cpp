// SPDX-License-Identifier: MIT
#include "sim/IntelBootBoard.h"

#include <algorithm>

namespace ps::sim {

namespace {
constexpr uint8_t BlockLead = 0xFF;
}  // namespace

IntelBootBoard::IntelBootBoard() : memory_(MemorySize) {
    for (size_t i = 0; i < memory_.size(); ++i) memory_[i] = static_cast<uint8_t>(i * 5 + 0x21);
}

void IntelBootBoard::OnOpen() {
    CommandBoard::OnOpen();
    next_ = 0;
}

void IntelBootBoard::Command(uint8_t b) {
    if (b == BlockLead)
        Collect(BlockLen);
    else
        ++stray_;
}

void IntelBootBoard::Collected(const std::vector<uint8_t>& block) {
    const size_t at = next_;
    next_ += block.size();
    if (at + block.size() <= memory_.size())
        std::copy(block.begin(), block.end(), memory_.begin() + static_cast<long>(at));
    ++blocks_;
}

std::string IntelBootBoard::Describe() const {
    return "intelboot: " + std::to_string(blocks_) + " blocks loaded" + DescribeFaults(faults);
}

std::unique_ptr<Board> MakeIntelBootBoard(const BoardOptions& options, std::string& error) {
    if (!options.empty()) {
        error = UnknownOptionError("intelboot", options.front());
        return nullptr;
    }
    return std::make_unique<IntelBootBoard>();
}

}  // namespace ps::sim
