// SPDX-License-Identifier: MIT
#include "sim/Boot574Board.h"

namespace ps::sim {

namespace {
constexpr uint8_t Ready = 0x18, ReadyAnswer = 0x11, Accepted = 0x01;
constexpr uint8_t EndMark = 0x40;
constexpr size_t FrameHeader = 5;  // 0x00, address high, low, 0x00, count
constexpr int EndRest = 4;
}  // namespace

std::unique_ptr<Board> MakeBoot574Board(const BoardOptions& options, std::string& error) {
    if (!options.empty()) {
        error = UnknownOptionError("574boot", options.front());
        return nullptr;
    }
    return std::make_unique<Boot574Board>();
}

std::string Boot574Board::Describe() const {
    return "574boot: " + std::to_string(Frames.size()) + " frames, " +
           std::to_string(RefusedFrames) + " refused, " + std::to_string(Ends) + " ends" +
           DescribeFaults(faults);
}

void Boot574Board::OnByte(uint8_t b) {
    collector_.ForgetIfAbandoned(NowMs(), faults.LateMs);
    // Ready, the loader waits for a frame, which starts with 0x00; anything else is a new
    // command (another ready request, say, from a handshake that has not heard the answer).
    if (collector_.Busy() && collector_.Command() == Ready && collector_.Args().empty() &&
        b != 0x00)
        collector_.Forget();
    if (collector_.Busy()) {
        if (collector_.Take(b)) Finish();
        return;
    }
    if (b == Ready) {
        ++ReadyRequests;
        Send(ReadyAnswer);
        collector_.Start(Ready, FrameHeader);
    } else if (b == EndMark) {
        collector_.Start(EndMark, EndRest);
    }
    // Anything else is not a command of the loader: ignored.
}

void Boot574Board::Finish() {
    const std::vector<uint8_t> f = collector_.Args();
    if (collector_.Command() == EndMark) {
        collector_.Forget();
        ++Ends;
        return;
    }
    if (f.size() == FrameHeader) {
        collector_.More(size_t{f[4]} + 1);  // the data and the sum
        return;
    }
    collector_.Forget();
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < f.size(); ++i) sum = static_cast<uint8_t>(sum + f[i]);
    const auto address = static_cast<uint16_t>(f[1] << 8 | f[2]);
    const int count = f[4];
    if (sum != f.back() || f[0] != 0x00 || f[3] != 0x00) {
        ++RefusedFrames;
        Send(Refused);
        return;
    }
    for (int i = 0; i < count; ++i)
        memory_[(address + static_cast<size_t>(i)) % MemorySize] = f[FrameHeader + i];
    Frames.emplace_back(address, count);
    Send(Accepted);
}

}  // namespace ps::sim
