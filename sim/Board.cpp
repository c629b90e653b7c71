// SPDX-License-Identifier: MIT
#include "sim/Board.h"

#include "sim/Wire.h"

namespace ps::sim {

// A board reaches the station only through its wire; a board without one (made but not
// yet connected) talks to nobody.

void Board::Send(const std::vector<uint8_t>& bytes, int delayMs) {
    if (wire_) wire_->BoardSend(bytes, delayMs);
}

int64_t Board::NowMs() const {
    return wire_ ? wire_->BoardNowMs() : 0;
}
bool Board::Dtr() const {
    return wire_ && wire_->BoardDtr();
}
bool Board::Rts() const {
    return wire_ && wire_->BoardRts();
}
uint32_t Board::Baud() const {
    return wire_ ? wire_->BoardBaud() : 0;
}

}  // namespace ps::sim
