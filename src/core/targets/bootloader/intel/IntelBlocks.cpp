// SPDX-License-Identifier: MIT
#include "targets/bootloader/intel/IntelBlocks.h"

#include <algorithm>
#include <cmath>

#include "run/Station.h"
#include "link/Link.h"
#include "targets/bootloader/intel/BankWindow.h"
#include "targets/bootloader/intel/IntelImage.h"

namespace ps {

namespace {

bool HoldsData(const uint8_t* block, int n) {
    return std::any_of(block, block + n, [](uint8_t b) { return b != 0xFF; });
}

// The map and the gauge as the blocks go out. A value is passed on only when it changes.
class Marker {
public:
    explicit Marker(Station& st)
        : st_(st),
          addrLen_(st.Step.AddrLen),
          rows_(st.Map.ShownRows()),
          cols_(st.Map.ShownCols()) {}

    // The map cell of image offset o: trunc(o / ADDRLEN * rows * columns).
    void Cell(int64_t o) {
        if (addrLen_ <= 0) return;
        const double exact = static_cast<double>(o) / addrLen_ * rows_ * cols_;
        const auto c = static_cast<int64_t>(std::trunc(exact));
        st_.SetBlock(static_cast<int>(c / cols_), static_cast<int>(c % cols_), ProgrammedColour);
    }

    // round(part / whole * 100), halves to even (the default rounding mode).
    void Progress(double part, double whole) {
        const int percent = static_cast<int>(std::nearbyint(part / whole * 100.0));
        if (percent == shown_) return;
        shown_ = percent;
        st_.Progress(percent);
    }

private:
    Station& st_;
    int32_t addrLen_;
    int rows_;
    int cols_;
    int shown_ = -1;
};

void SendBankPlace(Station& st, int32_t offset) {
    BankWindow window;
    window.LastBank = LastBank(st.Step.AddrLen);
    const BankWindow::Place place = window.FromOffset(offset);
    SendByte(st, place.Bank);
    SendByte(st, static_cast<uint8_t>(place.Address >> 8));
    SendByte(st, static_cast<uint8_t>(place.Address & 0xFF));
}

bool Stopped(const Station& st) {
    return st.RunError != RunOk;
}

}  // namespace

int SendIntelBlocks(Station& st, int32_t model, int n) {
    const int32_t end = IntelWindowEnd(st.Step);
    const int32_t addrStart = st.Step.AddrStart;
    Marker marker(st);

    // Blocks never straddle two ImageBuffers: n divides their size.
    int blocks = 0;
    for (int32_t start = 0; start < end; start += n)
        if (HoldsData(&IntelImageByte(st, start), n)) ++blocks;

    int sent = 0;
    for (int32_t start = 0; start < end && !Stopped(st); start += n) {
        const uint8_t* data = &IntelImageByte(st, start);
        if (!HoldsData(data, n)) continue;
        switch (model) {
            case ModelIntelBoot:
                SendByte(st, BootBlockLead);
                for (int j = 0; j < n; ++j) {
                    SendByte(st, data[j]);
                    marker.Cell(static_cast<int64_t>(start) + j - addrStart);
                    marker.Progress(j + 1, n);
                }
                ++sent;
                PumpMessages(st);  // no answer to wait for: STOP is seen between blocks
                continue;
            case ModelIntelLoaderRam: {
                const auto address = static_cast<uint16_t>(addrStart + start);
                SendByte(st, RamBlockAsk);
                WaitMs(st, IntelCommandGapMs);
                SendByte(st, static_cast<uint8_t>(address >> 8));
                SendByte(st, static_cast<uint8_t>(address & 0xFF));
                SendByte(st, static_cast<uint8_t>(n >> 8));
                SendByte(st, static_cast<uint8_t>(n & 0xFF));
                SendChars(st, data, n);
                ExpectByte(st, RamBlockDone);
                break;
            }
            default:
                if (sent == 0) {
                    SendByte(st, FlashFirstBlock);
                    WaitMs(st, IntelCommandGapMs);
                    SendChars(st, data, n);
                    SendBankPlace(st, start);
                    ExpectByte(st, FlashFirstDone);
                } else {
                    SendByte(st, FlashNextBlock);
                    ExpectByte(st, FlashNextReady);
                    if (Stopped(st)) break;
                    SendBlock(st, data, n);  // one write: the block lies in one buffer
                    SendBankPlace(st, start);
                    ExpectByte(st, FlashNextDone);
                }
                break;
        }
        if (Stopped(st)) break;
        ++sent;
        marker.Cell(start);
        marker.Cell(static_cast<int64_t>(start) + n - 1);
        marker.Progress(sent, blocks);
    }

    // The boot monitor answers nothing: the blocks are the board's only once they have left
    // the port, not when the last one was handed to it (a reset right after the step, or
    // the port's close, which gives pending bytes a second and then discards them, would
    // otherwise cut them off).
    if (model == ModelIntelBoot && sent > 0 && !Stopped(st)) WaitUntilSent(st);
    if (model == ModelIntelLoaderFlash && sent > 0 && !Stopped(st)) {
        SendByte(st, FlashProgramEnd);
        WaitMs(st, IntelCommandGapMs);
        ExpectByte(st, FlashProgramEndDone);
    }
    return sent;
}

}  // namespace ps
