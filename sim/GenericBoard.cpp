// SPDX-License-Identifier: MIT
#include "sim/GenericBoard.h"

#include <cstdio>
#include <cstring>

namespace ps::sim {

using namespace generic;

namespace {
// A command whose argument bytes stop coming for this long was abandoned by the station.
constexpr int64_t AbandonedCommandMs = 1000;
}  // namespace

void GenericBoard::Reset() {
    collecting_ = Collecting::Nothing;
    need_ = 0;
    args_.clear();
}

void GenericBoard::Collect(Collecting what, size_t count) {
    collecting_ = what;
    need_ = count;
    args_.clear();
    if (count == 0) Finish();
}

void GenericBoard::OnLines(bool dtr, bool rts) {
    LineLog.push_back(std::string("DTR ") + (dtr ? "1" : "0") + " RTS " + (rts ? "1" : "0") + " @" +
                      std::to_string(NowMs()));
}

void GenericBoard::OnByte(uint8_t b) {
    const int64_t now = NowMs();
    if (collecting_ != Collecting::Nothing &&
        now - lastByteMs_ > AbandonedCommandMs + faults.LateMs)
        Reset();
    lastByteMs_ = now;
    if (collecting_ == Collecting::Nothing) {
        Command(b);
        return;
    }
    args_.push_back(b);
    if (args_.size() >= need_) Finish();
}

void GenericBoard::Command(uint8_t b) {
    switch (b) {
        case SyncS:
            Send(SyncSAnswer);
            break;
        case Sync18:
            Send(Sync18Answer);
            break;
        case SyncA:
            Send(SyncAAnswer);
            break;
        case AvrSync:
            Send(AvrSyncAnswer);
            break;
        case AvrSignature:
            Send({Signature[0], Signature[1], Signature[2]});
            break;
        case FlashId:
            Send({FlashIdAnswer, FlashCode});
            break;
        case BankPort:
            Send(BankPortAnswer);
            Collect(Collecting::BankValue, 2);
            break;
        case Erase:
            ++Erases;
            Send(EraseDone);
            break;
        case EraseRange:
            Collect(Collecting::Range, 4);
            break;
        case Run16:
            Collect(Collecting::Run16, 2);
            break;
        case FrameLead:
            Collect(Collecting::FrameCommand, 1);
            break;
        default:
            Unknown.push_back(b);
            break;
    }
}

void GenericBoard::Finish() {
    const Collecting what = collecting_;
    collecting_ = Collecting::Nothing;
    auto word = [&](size_t i) { return static_cast<uint16_t>(args_[i] << 8 | args_[i + 1]); };
    switch (what) {
        case Collecting::Nothing:
            break;
        case Collecting::BankValue:
            BankPortSet = true;
            BankPortValue = word(0);
            Send(BankPortDone);
            break;
        case Collecting::Range:
            RangeErases.emplace_back(word(0), word(2));
            Send(EraseRangeDone);
            break;
        case Collecting::Run16:
            RunAddresses16.push_back(word(0));
            Send(Run16Done);
            break;
        case Collecting::FrameCommand:
            frameCommand_ = args_[0];
            if (frameCommand_ == TextCommand)
                Collect(Collecting::Text, std::strlen(TextRest));
            else
                Collect(Collecting::FrameLength, 1);
            break;
        case Collecting::FrameLength:
            // The length counts itself: a zero cannot be right, read it as "no payload".
            frameLength_ = args_[0];
            Collect(Collecting::FrameBody, (frameLength_ > 0 ? frameLength_ - 1u : 0u) + 1u);
            break;
        case Collecting::FrameBody:
            FinishFrame();
            break;
        case Collecting::Text: {
            const bool ok = std::string(args_.begin(), args_.end()) == TextRest;
            if (!ok) ++BadFrames;
            Send(ok && !faults.Negative ? TextAck : TextNak);
            break;
        }
    }
}

void GenericBoard::FinishFrame() {
    Frame f;
    f.Command = frameCommand_;
    f.Payload.assign(args_.begin(), args_.end() - 1);
    uint8_t sum = frameLength_;
    for (uint8_t p : f.Payload) sum = static_cast<uint8_t>(sum + p);
    f.CheckOk = static_cast<uint8_t>(0xFF - sum) == args_.back();
    Frames.push_back(f);
    const std::vector<uint8_t>& p = f.Payload;
    auto long32 = [&](size_t i) {
        return static_cast<uint32_t>(p[i]) << 24 | static_cast<uint32_t>(p[i + 1]) << 16 |
               static_cast<uint32_t>(p[i + 2]) << 8 | p[i + 3];
    };
    const bool good = f.CheckOk && !faults.Negative;
    if (!f.CheckOk) ++BadFrames;
    switch (f.Command) {
        case FrameEraseSectors:
            if (f.CheckOk && p.size() == 2)
                SectorErases.push_back(static_cast<uint16_t>(p[0] << 8 | p[1]));
            Send(good && p.size() == 2 ? FrameAck : FrameNak);
            break;
        case FrameRun32:
            if (f.CheckOk && p.size() == 4) RunAddresses32.push_back(long32(0));
            break;
        case FrameStart:
            if (f.CheckOk) ++Starts;
            Send(good ? FrameAck : FrameNak);
            break;
        case FrameChecksum:
            // A checksum frame with a bad check or size gets no answer: there is no "no".
            if (f.CheckOk && p.size() == 8) {
                ChecksumRanges.emplace_back(long32(0), long32(4));
                Send({static_cast<uint8_t>(Checksum >> 8), static_cast<uint8_t>(Checksum), 0x00});
            }
            break;
        default:
            break;
    }
}

std::string GenericBoard::Describe() const {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "generic: flash code 0x%02X, signature %02X %02X %02X, checksum 0x%04X",
                  FlashCode, Signature[0], Signature[1], Signature[2], Checksum);
    std::string out = buf;
    if (BankPortSet) {
        std::snprintf(buf, sizeof buf, ", bank port 0x%04X", BankPortValue);
        out += buf;
    }
    if (Erases) out += ", erased " + std::to_string(Erases) + "x";
    if (!Frames.empty()) out += ", " + std::to_string(Frames.size()) + " frames";
    if (BadFrames) out += " (" + std::to_string(BadFrames) + " bad)";
    return out + DescribeFaults(faults);
}

std::unique_ptr<Board> MakeGenericBoard(const BoardOptions& options, std::string& error) {
    auto board = std::make_unique<GenericBoard>();
    for (const BoardOption& o : options) {
        long n = 0;
        std::vector<uint8_t> bytes;
        if (o.Key == "flash") {
            if (!OptionNumber(o, 0, 255, n, error)) return nullptr;
            board->FlashCode = static_cast<uint8_t>(n);
        } else if (o.Key == "sig") {
            if (!OptionHexBytes(o, 3, bytes, error)) return nullptr;
            board->Signature = {bytes[0], bytes[1], bytes[2]};
        } else if (o.Key == "sum") {
            if (!OptionHexBytes(o, 2, bytes, error)) return nullptr;
            board->Checksum = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
        } else {
            error = UnknownOptionError("generic", o);
            return nullptr;
        }
    }
    return board;
}

}  // namespace ps::sim
