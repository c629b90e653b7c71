// SPDX-License-Identifier: MIT
#include "sim/EmulatorBoard.h"

namespace ps::sim {

namespace {
constexpr uint8_t Record = 'A', Run = 'R', Sync = 's', SyncAnswer = 'i';
constexpr size_t RecordHeader = 3;  // address high, low, count
}  // namespace

std::unique_ptr<Board> MakeEmulatorBoard(const BoardOptions& options, std::string& error) {
    bool quiet = false;
    for (const BoardOption& o : options) {
        if (o.Key == "quiet" && !o.HasValue) {
            quiet = true;
        } else {
            error = UnknownOptionError("emulator", o);
            return nullptr;
        }
    }
    return std::make_unique<EmulatorBoard>(quiet);
}

std::string EmulatorBoard::Describe() const {
    return "emulator: " + std::to_string(Records.size()) + " records, " + std::to_string(Runs) +
           " runs" + (quiet_ ? ", quiet" : "") + DescribeFaults(faults);
}

void EmulatorBoard::OnByte(uint8_t b) {
    collector_.ForgetIfAbandoned(NowMs(), faults.LateMs);
    if (collector_.Busy()) {
        if (collector_.Take(b)) Finish();
        return;
    }
    if (b == Record) collector_.Start(Record, RecordHeader);
    if (b == Run) ++Runs;
    if (b == Sync) Send(SyncAnswer);
}

void EmulatorBoard::Finish() {
    const std::vector<uint8_t> r = collector_.Args();
    if (r.size() == RecordHeader && r[2] > 0) {
        collector_.More(r[2]);
        return;
    }
    collector_.Forget();
    const auto address = static_cast<uint16_t>(r[0] << 8 | r[1]);
    const int count = r[2];
    for (int i = 0; i < count; ++i)
        memory_[(address + static_cast<size_t>(i)) % MemorySize] = r[RecordHeader + i];
    Records.emplace_back(address, count);
    if (!quiet_) Send(Chatter);
}

}  // namespace ps::sim
