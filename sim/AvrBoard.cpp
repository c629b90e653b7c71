// SPDX-License-Identifier: MIT
#include "sim/AvrBoard.h"

#include <algorithm>
#include <cstdlib>

namespace ps::sim {

namespace {

// Commands of the programmer, with the number of bytes that follow the letter.
constexpr uint8_t CmdConnect = 's';       // -> 'i'
constexpr uint8_t CmdSpeed = 'M';         // + speed -> 'O'
constexpr uint8_t CmdProgMode = 'P';      // -> 'O'
constexpr uint8_t CmdIdentify = 'I';      // -> three signature bytes
constexpr uint8_t CmdErase = '2';         // -> '7'
constexpr uint8_t CmdWriteFuses = 'F';    // + 3 -> 'O'
constexpr uint8_t CmdWriteHigh = 'H';     // + 1 -> 'O'
constexpr uint8_t CmdReadFuses = 'f';     // -> byte
constexpr uint8_t CmdReadHigh = 'h';      // -> byte
constexpr uint8_t CmdReadLock = 'l';      // -> byte
constexpr uint8_t CmdWriteLock = 'L';     // + 3 (loader: + 1) -> 'O'
constexpr uint8_t CmdDeviceParams = 'A';  // + 2 -> 'O'
constexpr uint8_t CmdWritePage = 'S';     // + hi, lo, count, count bytes -> 'O'
constexpr uint8_t CmdChecksum = 'C';      // + 4 -> two bytes
constexpr uint8_t CmdWriteEeprom = 'W';   // + 3 -> 'O'
constexpr uint8_t CmdReadEeprom = 'R';    // + 2 -> byte
constexpr uint8_t CmdLeave = 'X';         // -> 'O'
constexpr uint8_t CmdFrame = 'K';         // + command, length, payload and check
constexpr uint8_t CmdVersion = 'v';       // loader: text ending in 0x00
constexpr uint8_t CmdUnlock = 'k';        // loader: "kBoTaps" -> 'O'

constexpr uint8_t Ack = 'O';
constexpr uint8_t ConnectAnswer = 'i';
constexpr uint8_t EraseAnswer = '7';
constexpr const char* UnlockRest = "BoTaps";  // after the 'k'
constexpr uint8_t FrameRunAt = '3';

struct Chip {
    const char* Name;
    std::array<uint8_t, 3> Signature;
    int FlashBytes;
};

// One row per processor index, as the station's signature table has them.
//                      name          signature            flash
constexpr Chip Chips[] = {
    {"AT90S2313", {0x1E, 0x91, 0x01}, 2048},  {"AT90S4433", {0x1E, 0x92, 0x03}, 4096},
    {"ATmega163", {0x1E, 0x94, 0x02}, 16384}, {"ATtiny12", {0x1E, 0x90, 0x05}, 1024},
    {"AT_LOADER", {0x4C, 0x4F, 0x41}, 32768}, {"ATmega323", {0x1E, 0x95, 0x01}, 32768},
    {"ATmega32", {0x1E, 0x95, 0x02}, 32768},  {"ATmega16", {0x1E, 0x94, 0x03}, 16384}};
constexpr std::array<uint8_t, 3> ProtectedSignature = {0x00, 0x01, 0x02};

}  // namespace

int AvrBoard::FlashSize(int processor) {
    return processor >= 0 && processor < 8 ? Chips[processor].FlashBytes : 32768;
}

const char* AvrBoard::LoaderVersion() {
    return "AVR LOADER 2.1";
}

AvrBoard::AvrBoard(const Options& options) : options_(options) {
    if (options_.Processor < 0 || options_.Processor > 7) options_.Processor = 6;
    if (options_.EepromSize < 1) options_.EepromSize = 1;
    flash_.resize(static_cast<size_t>(FlashSize(options_.Processor)));
    // An old program: whatever was there before this station came along.
    for (size_t i = 0; i < flash_.size(); ++i) flash_[i] = static_cast<uint8_t>(i * 7 + 0x35);
    eeprom_.resize(static_cast<size_t>(options_.EepromSize));
    for (size_t i = 0; i < eeprom_.size(); ++i) {
        eeprom_[i] = i % 5 == 4 ? 0xFF : static_cast<uint8_t>(i * 13 + 5);
    }
    protected_ = options_.Protected;
    if (protected_) lock_ = 0xFC;
}

std::unique_ptr<Board> MakeAvrBoard(const BoardOptions& options, std::string& error) {
    AvrBoard::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        std::vector<uint8_t> bytes;
        if (o.Key == "proc") {
            if (!OptionNumber(o, 0, 7, n, error)) return nullptr;
            parsed.Processor = static_cast<int>(n);
        } else if (o.Key == "sig") {
            if (!OptionHexBytes(o, 3, bytes, error)) return nullptr;
            parsed.HasSignature = true;
            parsed.Signature = {bytes[0], bytes[1], bytes[2]};
        } else if (o.Key == "protected" && !o.HasValue) {
            parsed.Protected = true;
        } else if (o.Key == "fusestuck" && (!o.HasValue || o.Value == "low")) {
            parsed.FuseStuck = true;
        } else if (o.Key == "fusestuck" && o.Value == "high") {
            parsed.HighFuseStuck = true;
        } else if (o.Key == "weakcell") {
            if (!OptionNumber(o, 0, 0x1FFFF, n, error)) return nullptr;
            parsed.WeakCell = static_cast<int>(n);
        } else if (o.Key == "eeprom") {
            if (!OptionNumber(o, 1, 0x10000, n, error)) return nullptr;
            parsed.EepromSize = static_cast<int>(n);
        } else {
            error = UnknownOptionError("avr", o);
            return nullptr;
        }
    }
    return std::make_unique<AvrBoard>(parsed);
}

std::string AvrBoard::Describe() const {
    std::string text = "avr proc=" + std::to_string(options_.Processor) + " (" +
                       Chips[options_.Processor].Name + ")";
    if (protected_) text += " protected";
    return text;
}

std::array<uint8_t, 3> AvrBoard::SignatureBytes() const {
    if (protected_) return ProtectedSignature;
    if (options_.HasSignature) return options_.Signature;
    return Chips[options_.Processor].Signature;
}

uint16_t AvrBoard::FlashChecksum(uint16_t startWord, uint16_t endWord) const {
    uint16_t sum = 0;
    const size_t size = flash_.size();
    if (endWord < startWord) return 0xFFFF;
    for (uint32_t a = 2u * startWord; a <= 2u * endWord + 1u; ++a) {
        sum = static_cast<uint16_t>(sum + flash_[a % size]);
    }
    return static_cast<uint16_t>(0xFFFF - sum);
}

void AvrBoard::Erase() {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    lock_ = 0xFF;
    protected_ = false;
    ++eraseCount_;
}

void AvrBoard::Reset() {
    cmd_ = 0;
    needed_ = 0;
    args_.clear();
    unlocked_ = false;
    leftLoader_ = false;
}

void AvrBoard::OnOpen() {
    Reset();
}

void AvrBoard::OnLines(bool dtr, bool rts) {
    // Any change of the control lines reaches the target's reset: the loader starts again.
    if (dtr != lastLines_[0] || rts != lastLines_[1]) {
        if (IsLoader()) Reset();
    }
    lastLines_[0] = dtr;
    lastLines_[1] = rts;
}

void AvrBoard::OnByte(uint8_t b) {
    if (IsLoader() && leftLoader_) return;  // the target runs its own program now
    if (needed_ > 0) {
        args_.push_back(b);
        if (--needed_ == 0) Finish();
        return;
    }
    Command(b);
}

void AvrBoard::Command(uint8_t cmd) {
    cmd_ = cmd;
    args_.clear();
    switch (cmd) {
        case CmdSpeed:
        case CmdWriteHigh:
            needed_ = 1;
            break;
        case CmdDeviceParams:
        case CmdReadEeprom:
        case CmdFrame:  // command and length first
            needed_ = 2;
            break;
        case CmdWriteFuses:
        case CmdWritePage:  // address and count first
        case CmdWriteEeprom:
            needed_ = 3;
            break;
        case CmdWriteLock:
            needed_ = IsLoader() ? 1 : 3;
            break;
        case CmdChecksum:
            needed_ = 4;
            break;
        case CmdUnlock:
            needed_ = IsLoader() ? 6 : 0;
            break;
        default:
            needed_ = 0;
            break;
    }
    if (needed_ == 0) Finish();
}

void AvrBoard::Finish() {
    const uint8_t cmd = cmd_;
    if (AwaitsRest()) return;
    cmd_ = 0;
    // The loader does nothing useful until it has been unlocked.
    const bool locked = IsLoader() && !unlocked_;
    switch (cmd) {
        case CmdConnect:
            Send(ConnectAnswer);
            break;
        case CmdSpeed:
            speed_ = args_[0];
            Send(Ack);
            break;
        case CmdProgMode:
            Send(Ack);
            break;
        case CmdIdentify: {
            const auto sig = SignatureBytes();
            Send(std::vector<uint8_t>(sig.begin(), sig.end()));
            break;
        }
        case CmdVersion:
            SendVersion();
            break;
        case CmdUnlock:
            if (IsLoader() && std::string(args_.begin(), args_.end()) == UnlockRest) {
                unlocked_ = true;
                Send(Ack);
            }
            break;
        case CmdErase:
            if (locked) break;
            Erase();
            Send(EraseAnswer, EraseMs);
            break;
        case CmdWriteFuses:
        case CmdWriteHigh:
        case CmdReadFuses:
        case CmdReadHigh:
        case CmdReadLock:
        case CmdWriteLock:
            if (!locked) FuseOrLock(cmd);
            break;
        case CmdDeviceParams:
            if (locked) break;
            deviceParameters_ = {args_[0], args_[1]};
            Send(Ack);
            break;
        case CmdWritePage:
            if (!locked) WritePage();
            break;
        case CmdChecksum:
            if (!locked) SendChecksum();
            break;
        case CmdWriteEeprom:
            if (locked) break;
            eeprom_[(args_[0] * 256u + args_[1]) % eeprom_.size()] = args_[2];
            Send(Ack, EepromWriteMs);
            break;
        case CmdReadEeprom:
            if (locked) break;
            Send(eeprom_[(args_[0] * 256u + args_[1]) % eeprom_.size()]);
            break;
        case CmdLeave:
            Send(Ack);
            if (IsLoader()) leftLoader_ = true;
            break;
        case CmdFrame:
            RunFrame();
            break;
        default:
            break;  // unknown bytes are ignored, as the programmer does
    }
    args_.clear();
}

bool AvrBoard::AwaitsRest() {
    // Two-stage commands: a page's data and a frame's payload follow their headers.
    if (cmd_ == CmdWritePage && args_.size() == 3 && args_[2] > 0) {
        needed_ = args_[2];
        return true;
    }
    if (cmd_ == CmdFrame && args_.size() == 2) {
        needed_ = args_[1] > 0 ? args_[1] : 1;  // payload (length - 1) and the check byte
        return true;
    }
    return false;
}

void AvrBoard::SendChecksum() {
    const uint16_t sum = FlashChecksum(static_cast<uint16_t>(args_[0] * 256 + args_[1]),
                                       static_cast<uint16_t>(args_[2] * 256 + args_[3]));
    Send(std::vector<uint8_t>{static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)});
}

void AvrBoard::SendVersion() {
    if (!IsLoader()) return;  // the programmer itself does not answer 'v'
    if (options_.VersionRunOn > 0) {
        Send(std::vector<uint8_t>(static_cast<size_t>(options_.VersionRunOn), '7'));
        return;
    }
    std::string text = LoaderVersion();
    text += '\0';
    Send(std::vector<uint8_t>(text.begin(), text.end()));
}

void AvrBoard::FuseOrLock(uint8_t cmd) {
    switch (cmd) {
        case CmdWriteFuses:
            // The AT90S4433 carries its fuse byte first, the megas last.
            if (!options_.FuseStuck) lowFuse_ = options_.Processor == 1 ? args_[0] : args_[2];
            Send(Ack);
            break;
        case CmdWriteHigh:
            if (!options_.HighFuseStuck) highFuse_ = args_[0];
            Send(Ack);
            break;
        case CmdReadFuses:
            Send(lowFuse_);
            break;
        case CmdReadHigh:
            Send(highFuse_);
            break;
        case CmdReadLock:
            Send(lock_);
            break;
        case CmdWriteLock:
            if (IsLoader()) {
                lock_ = args_[0];
            } else {
                lock_ = options_.Processor <= 1 ? args_[0] : args_[2];
            }
            Send(Ack);
            break;
        default:
            break;
    }
}

void AvrBoard::WritePage() {
    const uint32_t byteAddress = 2u * (args_[0] * 256u + args_[1]);
    // A locked device takes no new program; flash only ever clears bits. The loader
    // erases each page itself before it writes it.
    if (!protected_) {
        if (IsLoader()) {
            for (size_t i = 3; i < args_.size(); ++i) {
                flash_[(byteAddress + i - 3) % flash_.size()] = 0xFF;
            }
        }
        for (size_t i = 3; i < args_.size(); ++i) {
            const size_t cell = (byteAddress + i - 3) % flash_.size();
            if (static_cast<int>(cell) != options_.WeakCell) flash_[cell] &= args_[i];
        }
        ++pagesWritten_;
    }
    Send(Ack, PageWriteMs);
}

void AvrBoard::RunFrame() {
    // 'K', command, length, payload, check: only "run at address" is known here.
    if (args_.size() >= 2 && args_[0] == FrameRunAt) {
        uint32_t address = 0;
        for (size_t i = 2; i + 1 < args_.size(); ++i) address = address * 256 + args_[i];
        startedAt_ = address;
    }
}

}  // namespace ps::sim
