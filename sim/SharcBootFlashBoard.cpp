// SPDX-License-Identifier: MIT
#include "sim/SharcBootFlashBoard.h"

#include <algorithm>
#include <cstring>

namespace ps::sim {

namespace {
constexpr uint8_t BridgeSync = 'A', BridgeSyncAnswer = 'a';
constexpr uint8_t Unlock = 'K';
constexpr char UnlockRest[] = "BoTaps";
constexpr uint8_t UnlockAck = 'O', UnlockNak = 'E';
constexpr uint8_t DspRestart = 'p', DspSelect = 'P';
constexpr uint8_t DspSync = 's', DspSyncAnswer = 'i';
constexpr uint8_t SimulateFlash = 'M';
constexpr uint8_t FlashModeAsk = 'F', FlashModeArg = 0x08;
constexpr uint8_t Record = 'S', RecordAck = 'i';
constexpr uint8_t RangeSumAsk = 'C';
constexpr uint8_t SessionEnd = 0xC9, SessionEndAck = 'O';
constexpr uint8_t RecordEscape = 0xFF, RangeEscape = 0xC8;
constexpr size_t RecordHeader = 2;  // count, 0x00: not escaped
constexpr size_t RangeBytes = 8;
// The collector stage of a record's escaped part (address, data, checksum).
constexpr int RecordBody = 0x100 | Record;

uint32_t Be32(const std::vector<uint8_t>& p, size_t i) {
    return static_cast<uint32_t>(p[i]) << 24 | static_cast<uint32_t>(p[i + 1]) << 16 |
           static_cast<uint32_t>(p[i + 2]) << 8 | p[i + 3];
}
}  // namespace

std::unique_ptr<Board> MakeSharcBootFlashBoard(const BoardOptions& options, std::string& error) {
    bool dspRefuses = false;
    for (const BoardOption& o : options) {
        if (o.Key == "dsprefuses" && !o.HasValue) {
            dspRefuses = true;
        } else {
            error = UnknownOptionError("sharcboot", o);
            return nullptr;
        }
    }
    return std::make_unique<SharcBootFlashBoard>(dspRefuses);
}

std::string SharcBootFlashBoard::Describe() const {
    return std::string("sharcboot: ") + (phase_ == Dsp ? "DSP" : "bridge") + ", " +
           std::to_string(Records.size()) + " records, " + std::to_string(BadRecords) + " bad" +
           (dspRefuses_ ? ", dsprefuses" : "") + DescribeFaults(faults);
}

uint16_t SharcBootFlashBoard::RangeSum(uint32_t first, uint32_t last) const {
    uint16_t sum = 0;
    const uint64_t end = std::min<uint64_t>(last, FlashSize - 1);
    for (uint64_t a = first; a <= end; ++a)
        if (flash_[a] != 0xFF) sum = static_cast<uint16_t>(sum + flash_[a]);
    return static_cast<uint16_t>(0xFFFF - sum);
}

uint8_t SharcBootFlashBoard::EscapeFor(int command) const {
    if (command == RecordBody) return RecordEscape;
    if (command == RangeSumAsk) return RangeEscape;
    return 0;  // not escaped
}

void SharcBootFlashBoard::OnByte(uint8_t b) {
    collector_.ForgetIfAbandoned(NowMs(), faults.LateMs);
    if (!collector_.Busy()) {
        escaped_ = false;
        Command(b);
        return;
    }
    const uint8_t escape = EscapeFor(collector_.Command());
    if (escape != 0) {
        if (escaped_) {
            escaped_ = false;
            b = static_cast<uint8_t>(~b);
        } else if (b == escape) {
            escaped_ = true;
            return;
        }
    }
    if (collector_.Take(b)) Finish();
}

void SharcBootFlashBoard::Command(uint8_t b) {
    if (b == SessionEnd) {
        if (phase_ == Dsp) ++Ends;
        phase_ = Bridge;
        FlashMode = false;
        Send(SessionEndAck);
        return;
    }
    if (b == Unlock) {
        collector_.Start(Unlock, std::strlen(UnlockRest));
        return;
    }
    if (phase_ == Bridge) {
        if (b == BridgeSync) Send(BridgeSyncAnswer);
        if (b == DspRestart) {
            ++DspRestarts;
            DspUnlocked = false;
        }
        if (b == DspSelect && BridgeUnlocked) phase_ = Dsp;
        return;
    }
    switch (b) {
        case DspSync:
            Send(DspSyncAnswer);
            break;
        case SimulateFlash:
            SimulatedFlash = true;
            Send(DspSyncAnswer);
            break;
        case FlashModeAsk:
            collector_.Start(FlashModeAsk, 1);
            break;
        case Record:
            collector_.Start(Record, RecordHeader);
            break;
        case RangeSumAsk:
            collector_.Start(RangeSumAsk, RangeBytes);
            break;
        default:
            break;  // not a command of the DSP's loader
    }
}

void SharcBootFlashBoard::Finish() {
    const int command = collector_.Command();
    const std::vector<uint8_t> args = collector_.Args();
    if (command == Record) {
        // Address, data and checksum follow, escaped.
        collector_.Start(RecordBody, 2 + size_t{args[0]} + 1);
        collector_.Take(args[0]);
        collector_.More(2 + size_t{args[0]} + 1);
        return;
    }
    collector_.Forget();
    switch (command) {
        case Unlock: {
            const bool text = std::string(args.begin(), args.end()) == UnlockRest;
            const bool refuse = phase_ == Bridge ? faults.Negative : dspRefuses_;
            const bool ok = text && !refuse;
            if (phase_ == Bridge)
                BridgeUnlocked = ok;
            else
                DspUnlocked = ok;
            Send(ok ? UnlockAck : UnlockNak);
            break;
        }
        case FlashModeAsk:
            if (args[0] == FlashModeArg && DspUnlocked) {
                std::fill(flash_.begin(), flash_.end(), 0xFF);
                FlashMode = true;
                Send(RecordAck, EraseMs);
            }
            break;
        case RecordBody: {
            // args: count, address high, low, data, checksum (the Intel HEX line's own).
            const int count = args[0];
            uint8_t sum = 0;
            for (uint8_t x : args) sum = static_cast<uint8_t>(sum + x);  // type 00 adds nothing
            const auto address = static_cast<uint16_t>(args[1] << 8 | args[2]);
            if (sum != 0 || !FlashMode) {
                ++BadRecords;
                break;  // no answer: the bridge has no "no"
            }
            for (int i = 0; i < count; ++i)
                flash_[(address + static_cast<size_t>(i)) % FlashSize] &=
                    args[3 + static_cast<size_t>(i)];
            Records.emplace_back(address, count);
            Send(RecordAck);
            break;
        }
        case RangeSumAsk: {
            const uint32_t first = Be32(args, 0), last = Be32(args, 4);
            ChecksumRanges.emplace_back(first, last);
            const uint16_t s = RangeSum(first, last);
            Send({0x00, 0x00, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)});
            break;
        }
        default:
            break;
    }
}

}  // namespace ps::sim
