// SPDX-License-Identifier: MIT
#include "targets/bootloader/intel/BankWindow.h"

namespace ps {

int LastBank(int32_t addrLen) {
    const int64_t banks = (static_cast<int64_t>(addrLen) + BankSize - 1) / BankSize;
    return static_cast<int>(addrLen > 0 ? banks - 1 : -1);
}

bool BankWindow::ToOffset(uint32_t address, int& bank, int32_t& offset) const {
    if (address >= BankWindowStart && address < BankWindowStart + BankSize) {
        offset =
            static_cast<int32_t>(address - BankWindowStart) + bank * static_cast<int32_t>(BankSize);
        return true;
    }
    if (address >= CommonWindowStart && address < CommonWindowStart + CommonWindowSize) {
        bank = LastBank;
        offset = static_cast<int32_t>(address - CommonWindowStart) +
                 LastBank * static_cast<int32_t>(BankSize);
        return true;
    }
    return false;
}

BankWindow::Place BankWindow::FromOffset(int32_t offset) const {
    const int bank = offset / static_cast<int32_t>(BankSize);
    const auto rest = static_cast<uint32_t>(offset % static_cast<int32_t>(BankSize));
    if (bank == LastBank) return {0, static_cast<uint16_t>(CommonWindowStart + rest)};
    return {static_cast<uint8_t>(bank), static_cast<uint16_t>(BankWindowStart + rest)};
}

}  // namespace ps
