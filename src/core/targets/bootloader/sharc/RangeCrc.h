// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The AVR bridge of the SHARC boards ends an exchange on a lone 0xC9, so 0xC8 and 0xC9 in
// the data travel as 0xC8 followed by the byte inverted (0xC8 0x37, 0xC8 0x36).
constexpr uint8_t SharcEscape = 0xC8;
constexpr uint8_t SharcEnd = 0xC9;
void AppendSharcEscaped(std::string& out, uint8_t b);

// Asks the DSP for the CRC-32 of the word range [first, last]: "C", both addresses high byte
// first and always escaped, then four answer bytes high first. Meaningless when RunError is
// 1 afterwards.
uint32_t RangeCrc(Station& st, uint32_t first, uint32_t last);

}  // namespace ps
