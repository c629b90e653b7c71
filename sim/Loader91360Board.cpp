// SPDX-License-Identifier: MIT
#include "sim/Loader91360Board.h"

#include <algorithm>

#include "link/Crc32.h"

namespace ps::sim {

namespace {
constexpr uint8_t CmdConnect = 's';
constexpr uint8_t CmdEraseFlash = 'E';
constexpr uint8_t CmdEraseSectors = 'e';  // + mask high, low
constexpr uint8_t CmdCrc = 'C';           // + first, last
constexpr uint8_t CmdWrite = 'S';         // + address, length, bytes
constexpr size_t WriteHeaderBytes = 7;    // 'S', address, length
// A CRC over more than the 16 MB the loader decodes is cut there: no request can keep the
// board busy for minutes.
constexpr uint32_t MaxCrcBytes = 0x1000000;

uint32_t LittleEndian(const std::vector<uint8_t>& bytes, size_t first, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i-- > 0;) value = value << 8 | bytes[first + i];
    return value;
}
}  // namespace

const uint32_t Loader91360Board::SectorStarts[SectorCount + 1] = {
    0x180000, 0x190000, 0x1A0000, 0x1B0000, 0x1B8000, 0x1BA000, 0x1BC000, 0x1C0000,
    0x1D0000, 0x1E0000, 0x1F0000, 0x1F8000, 0x1FA000, 0x1FC000, 0x200000};

Loader91360Board::Loader91360Board(const Options& options)
    : options_(options), flash_(FlashSize, 0xFF) {
    if (!options_.Blank)
        for (size_t i = 0; i < flash_.size(); ++i) flash_[i] = static_cast<uint8_t>(i * 11 + 0x5A);
    FillCrc32Table();
}

std::unique_ptr<Board> MakeLoader91360Board(const BoardOptions& options, std::string& error) {
    Loader91360Board::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        if (o.Key == "blank" && !o.HasValue) {
            parsed.Blank = true;
        } else if (o.Key == "refuse" && o.Value == "erase") {
            parsed.RefuseEraseFlash = true;
        } else if (o.Key == "refuse" && o.Value == "sectors") {
            parsed.RefuseEraseSectors = true;
        } else if (o.Key == "refuse" && o.Value == "write") {
            parsed.RefuseWrite = true;
        } else if (o.Key == "weakcell") {
            if (!OptionNumber(o, Loader91360Board::FlashStart,
                              Loader91360Board::FlashStart + Loader91360Board::FlashSize - 1, n,
                              error))
                return nullptr;
            parsed.WeakCell = n;
        } else {
            error = UnknownOptionError("91360-loader", o);
            return nullptr;
        }
    }
    return std::make_unique<Loader91360Board>(parsed);
}

std::string Loader91360Board::Describe() const {
    std::string text = "91360-loader";
    if (options_.RefuseEraseFlash) text += ", refuse=erase";
    if (options_.RefuseEraseSectors) text += ", refuse=sectors";
    if (options_.RefuseWrite) text += ", refuse=write";
    return text + DescribeFaults(faults);
}

int Loader91360Board::SectorOf(uint32_t address) {
    for (int i = 0; i < SectorCount; ++i)
        if (address >= SectorStarts[i] && address < SectorStarts[i + 1]) return i;
    return -1;
}

uint8_t Loader91360Board::At(uint32_t address) const {
    const uint32_t offset = address - FlashStart;
    return address >= FlashStart && offset < FlashSize ? flash_[offset] : 0xFF;
}

uint32_t Loader91360Board::RangeCrc(uint32_t first, uint32_t last) const {
    if (last < first) return 0;
    const uint32_t end = last - first >= MaxCrcBytes ? first + MaxCrcBytes - 1 : last;
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t a = first;; ++a) {
        crc = Crc32Update(crc, At(a));
        if (a == end) break;
    }
    return ~crc;
}

void Loader91360Board::EraseSector(int sector) {
    std::fill(flash_.begin() + (SectorStarts[sector] - FlashStart),
              flash_.begin() + (SectorStarts[sector + 1] - FlashStart), 0xFF);
}

void Loader91360Board::OnByte(uint8_t b) {
    if (collected_.empty()) {
        switch (b) {
            case CmdConnect:
                Send(Done);
                return;
            case CmdEraseFlash:
                needed_ = 1;
                break;
            case CmdEraseSectors:
                needed_ = 3;
                break;
            case CmdCrc:
                needed_ = 9;
                break;
            case CmdWrite:
                needed_ = WriteHeaderBytes;
                break;
            default:
                return;  // not a command: ignored
        }
    }
    collected_.push_back(b);
    if (collected_[0] == CmdWrite && collected_.size() == WriteHeaderBytes)
        needed_ = WriteHeaderBytes + LittleEndian(collected_, 5, 2);
    if (collected_.size() >= needed_) Finish();
}

void Loader91360Board::Finish() {
    const std::vector<uint8_t> c = std::move(collected_);
    collected_.clear();
    const bool negative = faults.Negative;
    switch (c[0]) {
        case CmdEraseFlash:
            if (options_.RefuseEraseFlash || negative) {
                Send(Refused);
                return;
            }
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            ++flashErases_;
            Send(Done);
            return;
        case CmdEraseSectors: {
            if (options_.RefuseEraseSectors || negative) {
                Send(Refused);
                return;
            }
            const uint16_t mask = static_cast<uint16_t>(c[1] << 8 | c[2]);
            for (int i = 0; i < SectorCount; ++i)
                if (mask >> i & 1) EraseSector(i);
            sectorErases_.push_back(mask);
            Send(Done);
            return;
        }
        case CmdCrc: {
            ++crcRequests_;
            const uint32_t crc = RangeCrc(LittleEndian(c, 1, 4), LittleEndian(c, 5, 4));
            Send(std::vector<uint8_t>{static_cast<uint8_t>(crc >> 24),
                                      static_cast<uint8_t>(crc >> 16),
                                      static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
            return;
        }
        case CmdWrite: {
            const uint32_t address = LittleEndian(c, 1, 4);
            const int length = static_cast<int>(c.size() - WriteHeaderBytes);
            const uint32_t last = address + static_cast<uint32_t>(length) - 1;
            const int sector = SectorOf(address);
            if (options_.RefuseWrite || negative || length == 0 || sector < 0 || last < address ||
                SectorOf(last) != sector) {
                Send(Refused);
                return;
            }
            for (int i = 0; i < length; ++i) {
                const uint32_t a = address + static_cast<uint32_t>(i);
                if (static_cast<long>(a) == options_.WeakCell) continue;
                flash_[a - FlashStart] &= c[WriteHeaderBytes + static_cast<size_t>(i)];
            }
            runs_.push_back({address, length});
            Send(Done);
            return;
        }
        default:
            return;
    }
}

}  // namespace ps::sim
