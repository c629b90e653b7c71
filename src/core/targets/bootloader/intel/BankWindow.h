// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace ps {

// The banked flash as the LOADER FLASH target's CPU sees it: 16 KB banks, one of them at a
// time in the bank window 0x4000-0x7FFF, and the last bank of the flash always in the common
// window 0xC000-0xFFFF. Image offsets run through the banks in order: bank b holds offsets
// b * 0x4000 to b * 0x4000 + 0x3FFF.
constexpr uint32_t BankSize = 0x4000;
constexpr uint32_t BankWindowStart = 0x4000;
constexpr uint32_t CommonWindowStart = 0xC000;
constexpr uint32_t CommonWindowSize = 0x4000;
constexpr int MaxBanks = 16;  // a type 02 record names the bank in four bits

// The last bank L of a flash of addrLen bytes: ceil(addrLen / 0x4000) - 1 (-1 for none).
int LastBank(int32_t addrLen);

struct BankWindow {
    int LastBank = 0;

    // The image offset of CPU address `address` with `bank` switched in. A byte in the common
    // window belongs to the last bank, so `bank` becomes LastBank for it. False for an
    // address outside both windows: the byte has no place in the flash and is dropped.
    bool ToOffset(uint32_t address, int& bank, int32_t& offset) const;

    // Where the loader writes image offset `offset`: the bank byte and the CPU address. The
    // last bank is written through the common window, with bank byte 0.
    struct Place {
        uint8_t Bank;
        uint16_t Address;
    };
    Place FromOffset(int32_t offset) const;
};

}  // namespace ps
