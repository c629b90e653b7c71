// SPDX-License-Identifier: MIT
#include "targets/bootloader/intel/IntelImage.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "targets/bootloader/intel/BankWindow.h"
#include "targets/bootloader/intel/IntelBlocks.h"
#include "targets/bootloader/intel/IntelTexts.h"

namespace ps {

namespace {

constexpr int LinesPerPump = 64;  // keeps STOP alive while a long file is read
constexpr uint8_t RecordData = 0x00;
constexpr uint8_t RecordBank = 0x02;
constexpr size_t RecordHeader = 4;  // count, address high, address low, type

std::string Hex(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<long long>(value));
    return text;
}

void EnsureImageBuffers(Station& st) {
    for (const auto& buffer : st.ImageBuffers)
        if (!buffer) {
            st.AllocateImageBuffers();
            return;
        }
}

// Shows a refusal and ends the step; STOP pressed before keeps its meaning.
bool Refuse(Station& st, const std::string& text) {
    if (st.RunError != RunOk) return false;
    st.Status(text, StatusColorError);
    st.RunError = RunBadStepValue;
    return false;
}

// Data without a place is a malformed image (the run's image account refuses it before
// the flow runs; this keeps the flow safe on its own).
bool RefuseOutside(Station& st, const std::string& file, const IntelImageRead& read) {
    if (st.RunError != RunOk) return false;
    std::string text =
        std::to_string(read.Outside) + IntelMsgBytesFirstAt + Hex(read.FirstOutsideAddress);
    if (read.FirstOutsideBank >= 0) text += IntelMsgInBank + std::to_string(read.FirstOutsideBank);
    st.ImageFileError(NotHexMessage(ResolveImageName(file, IntelHexExtension),
                                    text + ": " + read.FirstOutsideReason));
    return false;
}

bool WindowUsable(Station& st, int32_t model) {
    const std::string problem = IntelWindowProblem(st.Step, model, st.Map.ShownRows());
    return problem.empty() || Refuse(st, problem);
}

// Puts one data byte of the file in its place.
class ImagePlacer {
public:
    ImagePlacer(Station& st, int32_t model, IntelImageRead& read)
        : st_(st), model_(model), read_(read) {
        window_.LastBank = LastBank(st.Step.AddrLen);
        const int rows = st.Map.ShownRows();
        rowBytes_ = st.Step.AddrLen / rows;
    }

    void Place(uint32_t address, int bank, uint8_t value) {
        // Where a byte may go is the image account's rule (the run refuses an image with a
        // byte that has no place before this reading; it keeps the flow safe on its own).
        ImageByte byte;
        byte.Address = address;
        byte.Value = value;
        if (model_ == ModelIntelLoaderFlash && bank != 0) {
            byte.BaseRecord = RecordBank;
            byte.BaseValue = static_cast<uint32_t>(bank) << 12;
        }
        if (const char* reason = IntelByteProblem(st_.Step, model_, byte)) {
            // An erased byte carries nothing to lose.
            if (value != 0xFF && read_.Outside++ == 0) {
                read_.FirstOutsideAddress = address;
                read_.FirstOutsideBank = model_ == ModelIntelLoaderFlash ? bank : -1;
                read_.FirstOutsideReason = reason;
            }
            return;
        }
        int64_t offset = address;
        int byteBank = bank;
        if (model_ == ModelIntelLoaderFlash) {
            int32_t banked = 0;
            window_.ToOffset(address, byteBank, banked);
            offset = banked;
        } else if (model_ == ModelIntelLoaderRam) {
            offset -= st_.Step.AddrStart;
        }
        const auto o = static_cast<int32_t>(offset);
        IntelImageByte(st_, o) = value;
        ++read_.Stored;
        const int64_t row = model_ == ModelIntelLoaderFlash ? byteBank
                            : rowBytes_ > 0                 ? o / rowBytes_
                                                            : -1;
        if (row >= 0 && row < static_cast<int64_t>(st_.RowByteCounts.size()))
            ++st_.RowByteCounts[static_cast<size_t>(row)];
    }

private:
    Station& st_;
    int32_t model_;
    IntelImageRead& read_;
    BankWindow window_;
    int32_t rowBytes_ = 0;
};

}  // namespace

int IntelBlockLen(int32_t model) {
    return model == ModelIntelBoot ? IntelBootBlockLen : IntelLoaderBlockLen;
}

int32_t IntelWindowEnd(const StepSettings& step) {
    return std::clamp(step.AddrLen, 0, IntelImageSize);
}

std::string IntelWindowProblem(const StepSettings& s, int32_t model, int rows) {
    const bool image = !s.ProgramFile.empty();
    if (model == ModelIntelLoaderRam) {
        // Start and length go out in 16 bits each (the range erase), addresses too.
        const int64_t end = static_cast<int64_t>(s.AddrStart) + s.AddrLen;
        if ((image || s.EraseRam) &&
            (s.AddrStart < 0 || s.AddrLen < 0 || s.AddrLen >= IntelRamSpace || end > IntelRamSpace))
            return IntelMsgRamWindow + Hex(s.AddrStart) + " + " + Hex(s.AddrLen);
        if (s.RunAddr >= IntelRamSpace) return IntelMsgRunAddr16 + Hex(s.RunAddr);
    }
    if (!image) return {};
    if (model == ModelIntelLoaderFlash) {
        if (s.AddrLen < 1 || s.AddrLen > IntelImageSize)
            return IntelMsgBankedAddrLen + std::to_string(s.AddrLen);
        return {};
    }
    if (s.AddrLen < rows)
        return IntelMsgAddrLenBelowRows + std::to_string(s.AddrLen) + " < " + std::to_string(rows);
    return {};
}

const char* IntelByteProblem(const StepSettings& s, int32_t model, const ImageByte& b) {
    // Only the banked loader knows a base: type 02 switches its bank (the bank number in the
    // top four bits of the segment, so bank b is the 64 KB base b x 0x10000). Any other base
    // folds the byte onto the 16-bit addresses the flows keep.
    const bool banked = model == ModelIntelLoaderFlash;
    int bank = 0;
    if (b.BaseValue != 0) {
        if (!banked || b.BaseRecord != 0x02 || (b.BaseValue & 0x0FFF) != 0)
            return LostExtendedAddress;
        bank = static_cast<int>(b.BaseValue >> 12);
    }
    int64_t offset = b.Address;
    if (banked) {
        BankWindow window;
        window.LastBank = LastBank(s.AddrLen);
        int32_t banked32 = 0;
        if (!window.ToOffset(b.Address, bank, banked32)) return LostBankWindows;
        offset = banked32;
    } else if (model == ModelIntelLoaderRam) {
        offset -= s.AddrStart;
    }
    if (offset < 0 || offset >= IntelWindowEnd(s)) return LostOutsideWindow;
    return nullptr;
}

uint8_t& IntelImageByte(Station& st, int32_t offset) {
    return st.ImageBuffers[static_cast<size_t>(offset / ImageBufferSize)][offset % ImageBufferSize];
}

IntelImageRead ReadIntelImage(Station& st, const std::string& file, int32_t model, bool show) {
    IntelImageRead read;
    EnsureImageBuffers(st);
    for (auto& buffer : st.ImageBuffers) std::fill_n(buffer.get(), ImageBufferSize, 0xFF);
    st.ErrorCount = 0;
    st.RowByteCounts.fill(0);

    const std::string name = ResolveImageName(file, IntelHexExtension);
    ImageText text;
    if (!OpenImageText(text, name, st)) return read;
    if (show && st.Step.AddrLen > 0) {
        st.ClearBlocks();
        PumpMessages(st);
    }
    ImagePlacer placer(st, model, read);
    int bank = 0;
    int lines = 0;
    std::string line;
    while (text.ReadLine(line)) {
        if (!CheckRecordMark(line, ':', name, st)) return read;
        const std::vector<uint8_t> b = LenientHexPairs(std::string_view(line).substr(1));
        // A record cut short gives the bytes it has; one without its type gives nothing.
        if (b.size() >= RecordHeader) {
            const uint8_t type = b[3];
            if (type == RecordBank && b.size() > RecordHeader) {
                bank = b[4] >> 4;
            } else if (type == RecordData) {
                const uint32_t address = b[1] * 256u + b[2];
                const size_t count = std::min<size_t>(b[0], b.size() - RecordHeader);
                for (size_t i = 0; i < count; ++i)
                    placer.Place(address + static_cast<uint32_t>(i), bank, b[RecordHeader + i]);
            }
        }
        if (++lines % LinesPerPump == 0) PumpMessages(st);
        if (st.RunError == RunStopped) return read;
    }
    if (text.ReadFailed()) {
        // Some of the file could not be read: what was read is not the image.
        st.ImageFileError(CannotOpenMessage(name));
        return read;
    }
    read.Ok = read.Outside == 0;
    return read;
}

bool IntelStepUsable(Station& st, int32_t model) {
    if (!WindowUsable(st, model)) return false;
    if (st.Step.ProgramFile.empty()) return true;
    const IntelImageRead read = ReadIntelImage(st, st.Step.ProgramFile, model, false);
    if (st.RunError != RunOk) return false;
    if (read.Outside > 0) return RefuseOutside(st, st.Step.ProgramFile, read);
    return read.Ok;
}

void LoadIntelImage(Station& st, const std::string& file, int32_t model) {
    const IntelImageRead read = ReadIntelImage(st, file, model, true);
    if (st.RunError != RunOk) return;
    if (read.Outside > 0) {
        RefuseOutside(st, file, read);
        return;
    }
    int32_t total = 0;
    for (int32_t count : st.RowByteCounts) total += count;
    st.ByteLabel(0, std::to_string(total));
    const int rows = st.Map.ShownRows();
    for (int r = 1; r <= rows; ++r)
        st.ByteLabel(r, std::to_string(st.RowByteCounts[static_cast<size_t>(r - 1)]));
    PumpMessages(st);
    SendIntelBlocks(st, model, IntelBlockLen(model));
}

void ProgramIntelImage(Station& st, int32_t model) {
    st.RowByteCounts.fill(0);
    for (int i = 0; i <= st.Map.ShownRows(); ++i) st.ByteLabel(i, "");
    LoadIntelImage(st, st.Step.ProgramFile, model);
}

}  // namespace ps
