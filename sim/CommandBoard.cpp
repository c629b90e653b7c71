// SPDX-License-Identifier: MIT
#include "sim/CommandBoard.h"

namespace ps::sim {

namespace {
constexpr int64_t AbandonedCommandMs = 1000;
}  // namespace

void CommandBoard::Collect(size_t count) {
    need_ = count;
    args_.clear();
    if (count == 0) Collected(args_);
}

void CommandBoard::Forget() {
    if (need_ > 0) Abandoned();
    need_ = 0;
    args_.clear();
}

void CommandBoard::OnByte(uint8_t b) {
    const int64_t now = NowMs();
    if (need_ > 0 && now - lastByteMs_ > AbandonedCommandMs + faults.LateMs) Forget();
    lastByteMs_ = now;
    if (need_ == 0) {
        Command(b);
        return;
    }
    args_.push_back(b);
    if (args_.size() < need_) return;
    need_ = 0;
    const std::vector<uint8_t> bytes = std::move(args_);
    args_.clear();
    Collected(bytes);
}

}  // namespace ps::sim
