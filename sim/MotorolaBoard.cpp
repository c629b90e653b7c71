// SPDX-License-Identifier: MIT
#include "sim/MotorolaBoard.h"

#include <algorithm>
#include <cstdio>

namespace ps::sim {

namespace {

constexpr uint8_t Sync = 's', SyncAnswer = 'i';
constexpr uint8_t SimulateFlash = 'M';
constexpr uint8_t FlashId = '(', FlashIdAnswer = ')';
constexpr uint8_t ChipErase = '2', ChipEraseDone = '7';
constexpr uint8_t RangeErase = 0x0A, RangeEraseDone = 0x0F;  // + start, length (16 bits)
constexpr uint8_t Frame = 'K';
constexpr uint8_t Record = 'S', S2 = '2';
constexpr uint8_t ReadLock = 'l', WriteLock = 'L';  // + 3
constexpr uint8_t AvrMode = 'P', AvrIdentify = 'I';
constexpr uint8_t WriteFuses = 'F', WriteHighFuse = 'H';  // + 3, + 1
constexpr uint8_t Ack = 'i', Nak = 'h', AvrAck = 'O';
constexpr uint8_t FrameStart = '0', FrameEraseSectors = '2', FrameRun = '3', FrameChecksum = '4';
constexpr uint8_t LockByte = 0xFF;

uint32_t Be32(const std::vector<uint8_t>& p, size_t i) {
    return static_cast<uint32_t>(p[i]) << 24 | static_cast<uint32_t>(p[i + 1]) << 16 |
           static_cast<uint32_t>(p[i + 2]) << 8 | p[i + 3];
}

}  // namespace

MotorolaBoard::MotorolaBoard(const Options& options)
    : options_(options), memory_(OldProgram(options.MemorySize)) {}

std::unique_ptr<Board> MakeMotorolaBoard(const BoardOptions& options, std::string& error) {
    MotorolaBoard::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        std::vector<uint8_t> bytes;
        if (o.Key == "memory") {
            if (!OptionNumber(o, 1, 0x1000000, n, error)) return nullptr;
            parsed.MemorySize = static_cast<size_t>(n);
        } else if (o.Key == "flash") {
            if (!OptionNumber(o, 0, 255, n, error)) return nullptr;
            parsed.FlashCode = static_cast<uint8_t>(n);
        } else if (o.Key == "sig") {
            if (!OptionHexBytes(o, 3, bytes, error)) return nullptr;
            parsed.Signature = {bytes[0], bytes[1], bytes[2]};
        } else if (o.Key == "weakcell") {
            if (!OptionNumber(o, 0, 0xFFFFFF, n, error)) return nullptr;
            parsed.WeakCell = n;
        } else {
            error = UnknownOptionError("motorola", o);
            return nullptr;
        }
    }
    return std::make_unique<MotorolaBoard>(parsed);
}

std::string MotorolaBoard::Describe() const {
    return "motorola: " + std::to_string(memory_.size()) + " bytes of flash, " +
           std::to_string(Records.size()) + " records (" + std::to_string(RefusedRecords) +
           " refused)" + DescribeFaults(faults);
}

uint16_t MotorolaBoard::Checksum(uint32_t first, uint32_t last) const {
    uint16_t sum = 0;
    const uint64_t end = std::min<uint64_t>(last, memory_.size() - 1);
    for (uint64_t a = first; a <= end; ++a)
        if (memory_[a] != 0xFF) sum = static_cast<uint16_t>(sum + (memory_[a] ^ (a & 0xFF)));
    return sum;
}

void MotorolaBoard::Erase(uint32_t first, uint32_t count) {
    const uint64_t end = std::min<uint64_t>(uint64_t{first} + count, memory_.size());
    for (uint64_t a = first; a < end; ++a) memory_[a] = 0xFF;
}

void MotorolaBoard::OnByte(uint8_t b) {
    collector_.ForgetIfAbandoned(NowMs(), faults.LateMs);
    if (!collector_.Busy()) {
        Command(b);
        return;
    }
    if (collector_.Take(b)) Finish();
}

void MotorolaBoard::Command(uint8_t b) {
    switch (b) {
        case Sync:
            Send(SyncAnswer);
            break;
        case SimulateFlash:
            SimulatedFlash = true;
            Send(SyncAnswer);
            break;
        case FlashId:
            Send({FlashIdAnswer, options_.FlashCode});
            break;
        case ChipErase:
            ++ChipErases;
            Erase(0, static_cast<uint32_t>(memory_.size()));
            Send(ChipEraseDone, EraseMs);
            break;
        case ReadLock:
            Send(LockByte);
            break;
        case AvrMode:
            Send(AvrAck);
            break;
        case AvrIdentify:
            Send({options_.Signature[0], options_.Signature[1], options_.Signature[2]});
            break;
        case RangeErase:
        case WriteLock:
        case WriteFuses:
            collector_.Start(b, b == RangeErase ? 4 : 3);
            break;
        case WriteHighFuse:
            collector_.Start(b, 1);
            break;
        case Record:
        case Frame:
            collector_.Start(b, 2);  // type and count; command and length
            break;
        default:
            break;  // bytes that start no command are ignored, as the loader does
    }
}

void MotorolaBoard::Finish() {
    const int command = collector_.Command();
    const std::vector<uint8_t> args = collector_.Args();
    // Records and frames carry their length in their first bytes: collect the rest.
    if (command == Record && args.size() == 2 && args[1] > 0) {
        collector_.More(args[1]);  // address, data and checksum
        return;
    }
    if (command == Frame && args.size() == 2) {
        collector_.More(args[1] > 0 ? args[1] : 1);  // payload and check byte
        return;
    }
    collector_.Forget();
    switch (command) {
        case Record:
            FinishRecord(args);
            break;
        case Frame:
            FinishFrame(args[0], std::vector<uint8_t>(args.begin() + 1, args.end()));
            break;
        case RangeErase: {
            const auto start = static_cast<uint16_t>(args[0] << 8 | args[1]);
            const auto length = static_cast<uint16_t>(args[2] << 8 | args[3]);
            RangeErases.emplace_back(start, length);
            Erase(start, length);
            Send(RangeEraseDone);
            break;
        }
        default:  // fuse and lock writes
            FuseAndLockWrites.push_back({static_cast<uint8_t>(command)});
            FuseAndLockWrites.back().insert(FuseAndLockWrites.back().end(), args.begin(),
                                            args.end());
            Send(AvrAck);
            break;
    }
}

void MotorolaBoard::FinishRecord(const std::vector<uint8_t>& r) {
    // r: type, count, three address bytes, data, checksum.
    if (r.size() < 6) {  // too short to hold an address and a checksum
        Records.emplace_back(0, 0);
        ++RefusedRecords;
        Send(Nak);
        return;
    }
    const int count = r[1];
    const int data = count - 4;
    uint8_t sum = 0;
    for (size_t i = 1; i + 1 < r.size(); ++i) sum = static_cast<uint8_t>(sum + r[i]);
    const uint32_t address = static_cast<uint32_t>(r[2]) << 16 | r[3] << 8 | r[4];
    const bool fits = data >= 0 && address + static_cast<uint32_t>(data) <= memory_.size();
    const bool good = r[0] == S2 && static_cast<uint8_t>(~sum) == r.back() && fits;
    Records.emplace_back(address, data);
    if (!good || faults.Negative) {
        ++RefusedRecords;
        Send(Nak);
        return;
    }
    for (int i = 0; i < data; ++i) {
        const uint32_t cell = address + static_cast<uint32_t>(i);
        if (static_cast<long>(cell) != options_.WeakCell)
            memory_[cell] &= r[5 + static_cast<size_t>(i)];
    }
    Send(Ack);
}

void MotorolaBoard::FinishFrame(uint8_t command, const std::vector<uint8_t>& body) {
    // body: length, payload, check.
    const uint8_t length = body[0];
    const std::vector<uint8_t> payload(body.begin() + 1, body.end() - 1);
    uint8_t sum = length;
    for (uint8_t p : payload) sum = static_cast<uint8_t>(sum + p);
    const bool checkOk = static_cast<uint8_t>(0xFF - sum) == body.back();
    const bool good = checkOk && !faults.Negative;
    switch (command) {
        case FrameStart:
            if (good) ++Starts;
            Send(good ? Ack : Nak);
            break;
        case FrameEraseSectors:
            if (good && payload.size() == 2) {
                const auto mask = static_cast<uint16_t>(payload[0] << 8 | payload[1]);
                SectorErases.push_back(mask);
                for (uint32_t k = 0; k < 16; ++k)
                    if (mask & (1u << k)) Erase(k * SectorBytes, SectorBytes);
            }
            Send(good && payload.size() == 2 ? Ack : Nak, EraseMs);
            break;
        case FrameRun:
            if (checkOk && payload.size() == 4) RunAddresses.push_back(Be32(payload, 0));
            break;
        case FrameChecksum:
            // No "no" exists for the checksum: a bad frame goes unanswered.
            if (checkOk && payload.size() == 8) {
                ChecksumRanges.emplace_back(Be32(payload, 0), Be32(payload, 4));
                const uint16_t s = Checksum(Be32(payload, 0), Be32(payload, 4));
                Send({static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s), 0x00});
            }
            break;
        default:
            break;
    }
}

}  // namespace ps::sim
