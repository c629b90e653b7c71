// SPDX-License-Identifier: MIT
#include "sim/InfineonBoard.h"

#include <algorithm>
#include <cstdio>

namespace ps::sim {

namespace {

// The bootstrap loader and the stage programs.
constexpr uint8_t BootstrapStart = 0x00;
constexpr uint8_t BootstrapId = 0xD5;
constexpr uint8_t BootReady = 0x11;
constexpr uint8_t Loader1Ready = 0x22;
// Loader commands, with the bytes that follow the letter.
constexpr uint8_t CmdSync = 'S';             // -> 's'
constexpr uint8_t CmdFill = 'F';             // + address 4, words 2, 2 x words bytes -> 'k'
constexpr uint8_t CmdCheck = 'C';            // + address 4, words 2 -> sum high, low
constexpr uint8_t CmdVersion = 'V';          // -> version byte
constexpr uint8_t CmdRun = 'r';              // loader1: -> 'r', then loader2 runs
constexpr uint8_t CmdSectorCrc = 'c';        // + first 4, last 4 -> CRC-32 high first
constexpr uint8_t CmdEraseInternal = 'X';    // + sector -> 'O'
constexpr uint8_t CmdEraseExternal = 'x';    // + mask high, low -> 'O'
constexpr uint8_t CmdProgramInternal = 'P';  // + page high, low, 256 bytes -> 'O'
constexpr uint8_t CmdProgramExternal = 'p';  // the same in the external flash
constexpr uint8_t CmdGo = 'g';
constexpr uint8_t SyncAnswer = 's';
constexpr uint8_t FillDone = 'k';
constexpr uint8_t Ack = 'O';
constexpr uint8_t Refused = 'E';  // an erase or a page the loader will not do
constexpr uint8_t Loader1Version = '1';
constexpr uint8_t Loader2Version = '2';
constexpr int PageBytes = 256;

struct Sector {
    uint32_t Offset, Length;
};
// The chip's flash sectors, from the data sheets of its flash.
constexpr Sector InternalSectors[] = {{0x00000, 0x2000}, {0x02000, 0x2000}, {0x04000, 0x2000},
                                      {0x06000, 0x2000}, {0x08000, 0x8000}, {0x10000, 0x10000}};
constexpr Sector ExternalSectors[] = {{0x00000, 0x4000},  {0x04000, 0x2000},  {0x06000, 0x2000},
                                      {0x08000, 0x8000},  {0x10000, 0x10000}, {0x20000, 0x10000},
                                      {0x30000, 0x10000}, {0x40000, 0x10000}, {0x50000, 0x10000},
                                      {0x60000, 0x10000}, {0x70000, 0x10000}};

uint32_t Be32(const std::vector<uint8_t>& a, size_t at) {
    return uint32_t{a[at]} << 24 | uint32_t{a[at + 1]} << 16 | uint32_t{a[at + 2]} << 8 | a[at + 3];
}

}  // namespace

uint16_t InfineonBoard::WordSum(const uint8_t* bytes, int length) {
    uint16_t sum = 0;
    for (int i = 0; i + 1 < length; i += 2)
        sum = static_cast<uint16_t>(sum + (bytes[i] | bytes[i + 1] << 8));
    return sum;
}

uint32_t InfineonBoard::SectorCrc(const uint8_t* bytes, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] == 0x00 || bytes[i] == 0xFF) continue;
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

InfineonBoard::InfineonBoard(const Options& options)
    : options_(options), internal_(InternalSize), external_(ExternalSize), ram_(RamSize, 0xFF) {
    // An old program in both flashes: whatever was there before the station came along.
    for (size_t i = 0; i < internal_.size(); ++i) internal_[i] = static_cast<uint8_t>(i * 7 + 0x35);
    for (size_t i = 0; i < external_.size(); ++i)
        external_[i] = static_cast<uint8_t>(i * 11 + 0x5A);
}

std::unique_ptr<Board> MakeInfineonBoard(const BoardOptions& options, std::string& error) {
    InfineonBoard::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        if (o.Key == "ext") {
            if (!OptionNumber(o, 0, 0xFF80000, n, error)) return nullptr;
            parsed.ExternalBase = static_cast<uint32_t>(n);
        } else if (o.Key == "quiet" && o.Value == "boot") {
            parsed.QuietAt = InfineonBoard::Quiet::Boot;
        } else if (o.Key == "quiet" && o.Value == "loader1") {
            parsed.QuietAt = InfineonBoard::Quiet::Loader1;
        } else if (o.Key == "quiet" && o.Value == "fill") {
            parsed.QuietAt = InfineonBoard::Quiet::Fill;
        } else if (o.Key == "quiet" && o.Value == "loader2") {
            parsed.QuietAt = InfineonBoard::Quiet::Loader2;
        } else if (o.Key == "quiet" && o.Value == "program") {
            parsed.QuietAt = InfineonBoard::Quiet::Program;
        } else if (o.Key == "badcheck" && (o.Value == "fill" || o.Value == "program")) {
            parsed.Bad = o.Value == "fill" ? InfineonBoard::BadCheck::Fill
                                           : InfineonBoard::BadCheck::Program;
        } else {
            error = UnknownOptionError("infineon", o);
            return nullptr;
        }
    }
    return std::make_unique<InfineonBoard>(parsed);
}

std::string InfineonBoard::Describe() const {
    static const char* const stages[] = {
        "bootstrap", "boot program", "loading loader1", "loader1", "loader2", "running", "hung"};
    char ext[16];
    std::snprintf(ext, sizeof ext, "0x%X", options_.ExternalBase);
    return std::string("infineon ext=") + ext + " (" + stages[static_cast<int>(stage_)] + ")";
}

std::vector<uint8_t> InfineonBoard::Ram(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out;
    for (uint32_t a = address; a < address + length; ++a)
        out.push_back(a >= RamBase && a - RamBase < RamSize ? ram_[a - RamBase] : 0xFF);
    return out;
}

void InfineonBoard::Restart() {
    stage_ = Dtr() ? Stage::Bootstrap : Stage::Running;
    std::fill(ram_.begin(), ram_.end(), 0xFF);
    fills_ = 0;
    cmd_ = 0;
    needed_ = 0;
    args_.clear();
}

void InfineonBoard::OnLines(bool /*dtr*/, bool rts) {
    if (rts && !rts_) Restart();
    rts_ = rts;
}

void InfineonBoard::Answer(const std::vector<uint8_t>& bytes, int delayMs) {
    Send(bytes, delayMs);
}

uint8_t* InfineonBoard::Memory(uint32_t address, uint32_t length) {
    auto inside = [&](uint32_t base, uint32_t size) {
        return address >= base && address - base <= size && length <= size - (address - base);
    };
    if (stage_ == Stage::Loader1)
        return inside(RamBase, RamSize) ? ram_.data() + (address - RamBase) : nullptr;
    if (inside(InternalBase, InternalSize)) return internal_.data() + (address - InternalBase);
    if (inside(options_.ExternalBase, ExternalSize))
        return external_.data() + (address - options_.ExternalBase);
    return nullptr;
}

void InfineonBoard::OnByte(uint8_t b) {
    if (!rts_) return;  // held in reset
    switch (stage_) {
        case Stage::Bootstrap:
            // The bootstrap loader measures the rate on the zero byte and keeps it.
            if (b != BootstrapStart) return;
            bootBaud_ = Baud();
            boot_.clear();
            loader1_.clear();
            stage_ = Stage::BootProgram;
            Answer(BootstrapId);
            return;
        case Stage::BootProgram:
            if (Baud() != bootBaud_) return;  // garbled at another rate
            boot_.push_back(b);
            if (static_cast<int>(boot_.size()) < BootBytes) return;
            if (options_.QuietAt == Quiet::Boot) {
                stage_ = Stage::Hung;
                return;
            }
            stage_ = Stage::Loader1Load;
            Answer(BootReady);
            return;
        case Stage::Loader1Load:
            if (Baud() != bootBaud_) return;
            loader1_.push_back(b);
            if (static_cast<int>(loader1_.size()) < Loader1Bytes) return;
            if (options_.QuietAt == Quiet::Loader1) {
                stage_ = Stage::Hung;
                return;
            }
            stage_ = Stage::Loader1;  // from now on at LoaderBaud
            Answer(Loader1Ready);
            return;
        case Stage::Loader1:
        case Stage::Loader2:
            if (Baud() != LoaderBaud) return;
            if (needed_ > 0) {
                args_.push_back(b);
                if (--needed_ == 0) Finish();
                return;
            }
            Command(b);
            return;
        case Stage::Running:
        case Stage::Hung:
            return;
    }
}

void InfineonBoard::Command(uint8_t b) {
    cmd_ = b;
    args_.clear();
    const bool loader2 = stage_ == Stage::Loader2;
    switch (b) {
        case CmdFill:
        case CmdCheck:
            needed_ = 6;
            break;
        case CmdSectorCrc:
            needed_ = loader2 ? 8 : 0;
            break;
        case CmdEraseInternal:
            needed_ = loader2 ? 1 : 0;
            break;
        case CmdEraseExternal:
        case CmdProgramInternal:
        case CmdProgramExternal:
            needed_ = loader2 ? 2 : 0;
            break;
        default:
            needed_ = 0;
            break;
    }
    if (needed_ == 0) Finish();
}

void InfineonBoard::Finish() {
    const uint8_t cmd = cmd_;
    const bool loader2 = stage_ == Stage::Loader2;
    if (AwaitsData(loader2)) return;
    cmd_ = 0;
    switch (cmd) {
        case CmdSync:
            Answer(SyncAnswer);
            break;
        case CmdVersion:
            Answer(loader2 ? Loader2Version : Loader1Version);
            break;
        case CmdRun:
            if (loader2) break;
            Answer(CmdRun);
            // Loader2 runs only from RAM that holds it.
            stage_ =
                fills_ > 0 && options_.QuietAt != Quiet::Loader2 ? Stage::Loader2 : Stage::Hung;
            break;
        case CmdFill:
            if (loader2 || options_.QuietAt == Quiet::Fill) break;
            FillRam();
            break;
        case CmdCheck:
            AnswerCheck(loader2);
            break;
        case CmdSectorCrc:
            if (loader2) AnswerSectorCrc();
            break;
        case CmdEraseInternal:
            if (loader2) EraseInternalSector();
            break;
        case CmdEraseExternal:
            if (loader2) EraseExternalSectors();
            break;
        case CmdProgramInternal:
        case CmdProgramExternal:
            if (!loader2 || options_.QuietAt == Quiet::Program) break;
            ProgramPage(cmd == CmdProgramInternal ? internal_ : external_);
            break;
        case CmdGo:
            if (!loader2) break;
            ++starts_;
            stage_ = Stage::Running;
            break;
        default:
            break;  // unknown bytes are ignored, as the loaders do
    }
    args_.clear();
}

bool InfineonBoard::AwaitsData(bool loader2) {
    // Data follows the headers of a fill and of a page.
    if (cmd_ == CmdFill && args_.size() == 6) {
        needed_ = 2 * (args_[4] << 8 | args_[5]);
        if (needed_ > 0) return true;
    }
    if ((cmd_ == CmdProgramInternal || cmd_ == CmdProgramExternal) && loader2 &&
        args_.size() == 2) {
        needed_ = PageBytes;
        return true;
    }
    return false;
}

void InfineonBoard::FillRam() {
    const uint32_t length = static_cast<uint32_t>(args_.size() - 6);
    if (uint8_t* at = Memory(Be32(args_, 0), length)) std::copy(args_.begin() + 6, args_.end(), at);
    ++fills_;
    Answer(FillDone);
}

void InfineonBoard::AnswerCheck(bool loader2) {
    const uint32_t length = 2u * (args_[4] << 8 | args_[5]);
    const uint8_t* at = Memory(Be32(args_, 0), length);
    uint16_t sum = at ? WordSum(at, static_cast<int>(length)) : 0;
    const BadCheck mine = loader2 ? BadCheck::Program : BadCheck::Fill;
    if (options_.Bad == mine && !badCheckDone_) {
        badCheckDone_ = true;
        sum = static_cast<uint16_t>(sum ^ 0x0100);
    }
    Answer({static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum & 0xFF)});
}

void InfineonBoard::AnswerSectorCrc() {
    const uint32_t first = Be32(args_, 0), last = Be32(args_, 4);
    const uint32_t length = last >= first ? last - first + 1 : 0;
    const uint8_t* at = Memory(first, length);
    const uint32_t crc = at ? SectorCrc(at, length) : 0;
    Answer({static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
            static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
}

void InfineonBoard::EraseInternalSector() {
    const int s = args_[0];
    if (faults.Negative || s < 1 || s > 6) {
        Answer(Refused);
        return;
    }
    const Sector& sector = InternalSectors[s - 1];
    std::fill_n(internal_.begin() + sector.Offset, sector.Length, 0xFF);
    internalErases_.push_back(s);
    busyMs_ += SectorEraseMs;
    Answer(Ack, SectorEraseMs);
}

void InfineonBoard::EraseExternalSectors() {
    if (faults.Negative) {
        Answer(Refused);
        return;
    }
    const uint16_t mask = static_cast<uint16_t>(args_[0] << 8 | args_[1]);
    EraseExternal(mask);
    int count = 0;
    for (int s = 0; s < 11; ++s) count += (mask >> s) & 1;
    busyMs_ += int64_t{count} * SectorEraseMs;
    Answer(Ack, count * SectorEraseMs);
}

void InfineonBoard::ProgramPage(std::vector<uint8_t>& flash) {
    const uint32_t page = args_[0] << 8 | args_[1];
    if ((page + 1) * PageBytes > flash.size()) {
        Answer(Refused);
        return;
    }
    // Flash cells only ever go from 1 to 0 when programmed.
    for (int i = 0; i < PageBytes; ++i) flash[page * PageBytes + i] &= args_[2 + i];
    ++pagesProgrammed_;
    busyMs_ += PageProgramMs;
    Answer(Ack, PageProgramMs);
}

void InfineonBoard::EraseExternal(uint16_t mask) {
    for (int s = 0; s < 11; ++s) {
        if (((mask >> s) & 1) == 0) continue;
        std::fill_n(external_.begin() + ExternalSectors[s].Offset, ExternalSectors[s].Length, 0xFF);
    }
    externalErases_.push_back(mask);
}

}  // namespace ps::sim
