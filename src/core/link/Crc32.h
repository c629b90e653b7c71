// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>

namespace ps {

// Reflected CRC-32, polynomial 0xEDB88320. Callers start from 0xFFFFFFFF and complement
// the final value.
extern std::array<uint32_t, 256> Crc32Table;
void FillCrc32Table();
inline uint32_t Crc32Update(uint32_t crc, uint8_t byte) {
    return (crc >> 8) ^ Crc32Table[(crc ^ byte) & 0xFF];
}

}  // namespace ps
