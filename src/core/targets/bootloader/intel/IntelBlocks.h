// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace ps {

class Station;

// Wire bytes of the Intel boot monitor and loaders.
constexpr uint8_t BootBlockLead = 0xFF;  // before each bare block of the boot monitor
constexpr uint8_t RamBlockAsk = 0x14;    // + address, length, data -> RamBlockDone
constexpr uint8_t RamBlockDone = 0x19;
constexpr uint8_t FlashFirstBlock = 0x46;      // 'F' + data, bank, address -> FlashFirstDone
constexpr uint8_t FlashFirstDone = 0x4B;       // 'K'
constexpr uint8_t FlashNextBlock = 0x5A;       // 'Z' -> FlashNextReady, then data, bank, address
constexpr uint8_t FlashNextReady = 0x5B;       // '['
constexpr uint8_t FlashNextDone = 0x5F;        // '_'
constexpr uint8_t FlashProgramEnd = 0x50;      // 'P' -> FlashProgramEndDone
constexpr uint8_t FlashProgramEndDone = 0x55;  // 'U'
// The pause after a command byte before its data.
constexpr int IntelCommandGapMs = 1;

// Sends the blocks of n bytes of the image that hold data (any byte not 0xFF), from offset 0
// up to "/ADDRLEN=", in the model's exchange, marking the map and the progress as they are
// taken. Stops after the block under way when RunError is set. Returns the blocks sent.
int SendIntelBlocks(Station& st, int32_t model, int n);

}  // namespace ps
