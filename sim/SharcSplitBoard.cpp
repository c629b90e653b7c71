// SPDX-License-Identifier: MIT
#include "sim/SharcSplitBoard.h"

#include <algorithm>

namespace ps::sim {

namespace {

// The bridge.
constexpr uint8_t CmdBridgeFind = 'A';  // -> 'a'
constexpr uint8_t BridgeFound = 'a';
constexpr uint8_t CmdUsbFind = 'G';  // -> 'g' (USB serial bridge)
constexpr uint8_t UsbFound = 'g';
constexpr uint8_t CmdUnlock = 'K';  // "KBoTaps" -> 'O' / 'E'
constexpr uint8_t CmdPassThrough = 'P';
constexpr const char* UnlockRest = "BoTaps";
constexpr uint8_t UnlockYes = 'O';
constexpr uint8_t UnlockNo = 'E';

// The DSP's loader.
constexpr uint8_t CmdFind = 's';  // -> 'i'
constexpr uint8_t Ready = 'i';
constexpr uint8_t CmdSimulate = 'M';     // -> 'i'
constexpr uint8_t CmdFlashKind = 'F';    // + 1 -> 'i'
constexpr uint8_t CmdEraseAll = '2';     // -> '7'
constexpr uint8_t EraseAllDone = '7';    //
constexpr uint8_t CmdErasePages = 'E';   // + mask high, low -> 'e'
constexpr uint8_t ErasePagesDone = 'e';  //
constexpr uint8_t CmdRangeCrc = 'C';     // + 8 escaped -> 4 bytes
constexpr uint8_t CmdRecord = 'S';       // + count, address (3), 4 x count data
constexpr uint8_t RecordRefused = 'h';   //
constexpr uint8_t Escape = 0xC8;         // + the byte inverted
constexpr uint8_t End = 0xC9;            // lone: the exchange ends
constexpr uint8_t EndAnswer = 'O';       //
constexpr int64_t ForgetAfterMs = 1000;  // a command left unfinished this long is dropped
constexpr size_t RecordHeaderBytes = 4;  // count and address after the 'S'

uint32_t Crc32(uint32_t crc, uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    return crc;
}

uint32_t Be(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}

}  // namespace

SharcSplitBoard::SharcSplitBoard(const Options& options)
    : options_(options), flash_(static_cast<size_t>(FlashWords) * 4, 0xFF) {
    if (options_.Blank) return;
    // An older program in pages 0 and 1, with erased stretches in it.
    uint32_t x = 0x12345678;
    for (size_t i = 0; i < 2 * PageWords * 4; ++i) {
        x = x * 1664525u + 1013904223u;
        if ((i / 4096) % 3 != 2) flash_[i] = static_cast<uint8_t>(x >> 24);
    }
}

std::unique_ptr<Board> MakeSharcSplitBoard(const BoardOptions& options, std::string& error) {
    SharcSplitBoard::Options parsed;
    for (const BoardOption& o : options) {
        long n = 0;
        if (o.Key == "usb" && !o.HasValue) {
            parsed.Usb = true;
        } else if (o.Key == "refuse" && o.Value == "sharc") {
            parsed.RefuseDsp = true;
        } else if (o.Key == "nak") {
            if (!OptionNumber(o, 1, 1000000, n, error)) return nullptr;
            parsed.RefuseRecord = static_cast<int>(n);
        } else if (o.Key == "blank" && !o.HasValue) {
            parsed.Blank = true;
        } else {
            error = UnknownOptionError("sharcsplit", o);
            return nullptr;
        }
    }
    return std::make_unique<SharcSplitBoard>(parsed);
}

std::string SharcSplitBoard::Describe() const {
    std::string text = "sharcsplit";
    if (options_.Usb) text += " usb";
    if (options_.RefuseDsp) text += " refuse=sharc";
    if (options_.RefuseRecord > 0) text += " nak=" + std::to_string(options_.RefuseRecord);
    return text + DescribeFaults(faults);
}

uint32_t SharcSplitBoard::RangeCrc(uint32_t first, uint32_t last) const {
    uint32_t crc = 0xFFFFFFFF;
    last = std::min(last, FlashWords - 1);
    for (uint32_t w = first; w <= last && w < FlashWords; ++w) {
        for (size_t k = 0; k < 4; ++k) {
            const uint8_t b = flash_[4 * static_cast<size_t>(w) + k];
            if (b != 0xFF) crc = Crc32(crc, b);
        }
    }
    return ~crc;
}

void SharcSplitBoard::Reset() {
    bridgeUnlocked_ = false;
    inDsp_ = false;
    dspUnlocked_ = false;
    field_ = Field::None;
    escapePending_ = false;
    args_.clear();
    recordsThisRun_ = 0;
}

void SharcSplitBoard::OnOpen() {
    // The operator starts every run on a board that waits for its bridge to be found.
    Reset();
}

void SharcSplitBoard::Collect(Field field, size_t count, bool escaped) {
    field_ = field;
    need_ = count;
    escaped_ = escaped;
    escapePending_ = false;
    if (field != Field::RecordData) args_.clear();
    if (need_ == 0) FieldDone();
}

void SharcSplitBoard::OnByte(uint8_t b) {
    const int64_t now = NowMs();
    if (field_ != Field::None && now - lastByteMs_ > ForgetAfterMs) field_ = Field::None;
    lastByteMs_ = now;
    if (inDsp_)
        DspByte(b);
    else
        BridgeByte(b);
}

void SharcSplitBoard::BridgeByte(uint8_t b) {
    if (field_ == Field::UnlockText) {
        args_.push_back(b);
        if (--need_ == 0) FieldDone();
        return;
    }
    if (!options_.Usb && b == CmdBridgeFind) {
        Send(BridgeFound);
    } else if (options_.Usb && b == CmdUsbFind) {
        Send(UsbFound);
    } else if (!options_.Usb && b == CmdUnlock) {
        Collect(Field::UnlockText, 6, false);
    } else if (b == CmdPassThrough && (options_.Usb || bridgeUnlocked_)) {
        inDsp_ = true;
        dspUnlocked_ = false;
    }
}

void SharcSplitBoard::DspByte(uint8_t b) {
    if (field_ != Field::None) {
        if (escaped_) {
            if (escapePending_) {
                escapePending_ = false;
                b = static_cast<uint8_t>(~b);
            } else if (b == Escape) {
                escapePending_ = true;
                return;
            } else if (b == End && !options_.Usb) {
                // The bridge ends the exchange on a lone 0xC9, whatever the loader was
                // in the middle of.
                field_ = Field::None;
                EndExchange();
                return;
            }
        }
        args_.push_back(b);
        if (--need_ == 0) FieldDone();
        return;
    }
    if (b == End) {
        EndExchange();
    } else if (b == CmdFind) {
        Send(Ready);
    } else if (b == CmdUnlock) {
        Collect(Field::UnlockText, 6, false);
    } else if (!dspUnlocked_) {
        return;  // a locked loader ignores everything else
    } else if (b == CmdSimulate) {
        simulating_ = true;
        Send(Ready);
    } else if (b == CmdFlashKind) {
        Collect(Field::FlashKind, 1, false);
    } else if (b == CmdEraseAll) {
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        ++fullErases_;
        Send(EraseAllDone, EraseAllMs);
    } else if (b == CmdErasePages) {
        Collect(Field::Mask, 2, false);
    } else if (b == CmdRangeCrc) {
        Collect(Field::CrcArgs, 8, true);  // always escaped, also behind USB
    } else if (b == CmdRecord) {
        Collect(Field::RecordHeader, RecordHeaderBytes, !options_.Usb);
    }
}

void SharcSplitBoard::Unlocked(bool refuse) {
    const bool right = std::equal(args_.begin(), args_.end(), UnlockRest) && args_.size() == 6;
    const bool yes = right && !refuse;
    Send(yes ? UnlockYes : UnlockNo);
    if (inDsp_)
        dspUnlocked_ = yes;
    else
        bridgeUnlocked_ = yes;
}

void SharcSplitBoard::FieldDone() {
    const Field done = field_;
    field_ = Field::None;
    switch (done) {
        case Field::UnlockText:
            // "negative" refuses at the bridge (behind USB, at the loader).
            Unlocked(inDsp_ ? options_.RefuseDsp || (options_.Usb && faults.Negative)
                            : faults.Negative);
            break;
        case Field::FlashKind:
            flashKind_ = args_[0];
            Send(Ready);
            break;
        case Field::Mask: {
            const uint16_t mask = static_cast<uint16_t>(Be(args_, 0, 2));
            eraseMasks_.push_back(mask);
            int erased = 0;
            for (int p = 0; p < Pages; ++p) {
                if (!(mask & (1u << p))) continue;
                auto first = flash_.begin() + static_cast<long>(p) * PageWords * 4;
                std::fill(first, first + PageWords * 4, 0xFF);
                ++erased;
            }
            Send(ErasePagesDone, erased * ErasePageMs);
            break;
        }
        case Field::CrcArgs: {
            const uint32_t first = Be(args_, 0, 4), last = Be(args_, 4, 4);
            crcRanges_.emplace_back(first, last);
            const uint32_t crc = RangeCrc(first, last);
            Send({static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                  static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
            break;
        }
        case Field::RecordHeader:
            Collect(Field::RecordData, 4 * static_cast<size_t>(args_[0]), escaped_);
            break;
        case Field::RecordData:
            WriteRecord();
            break;
        case Field::None:
            break;
    }
}

void SharcSplitBoard::WriteRecord() {
    const int count = args_[0];
    const uint32_t first = Be(args_, 1, 3);
    ++recordsThisRun_;
    const bool fits = first + static_cast<uint32_t>(count) <= FlashWords;
    const bool refused = !fits || recordsThisRun_ == options_.RefuseRecord;
    records_.push_back({first, count, !refused});
    if (refused) {
        Send(RecordRefused);
        return;
    }
    for (size_t i = 0; i < 4 * static_cast<size_t>(count); ++i)
        flash_[4 * static_cast<size_t>(first) + i] &= args_[RecordHeaderBytes + i];
    Send(Ready);
}

void SharcSplitBoard::EndExchange() {
    ++exchangesEnded_;
    inDsp_ = false;
    dspUnlocked_ = false;
    bridgeUnlocked_ = false;
    Send(EndAnswer);
}

}  // namespace ps::sim
