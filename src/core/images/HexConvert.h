// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "images/ImageReport.h"  // EConvertError

namespace ps {

// Text of the conversion error; %s stands for the "$"-prefixed field text, in which control
// bytes (NUL, CR, ...) are shown as '?'.
extern const char* const MsgNotValidInteger;  // "'%s' is not a valid integer value"
std::string NotValidIntegerMessage(const std::string& text);

// The value of one hex digit of either case, -1 for any other character.
int HexDigitValue(char c);

// The lenient conversion: never fails, bad characters only give wrong bytes. Pairs are
// taken from the first character; an odd last character is ignored. clampHigh false drops
// the clamp of the high digit (the emulator loader's variant).
std::vector<uint8_t> LenientHexPairs(std::string_view text, bool clampHigh = true);

// The strict conversion: `digits` characters from 1-based `position` of the line, taken as
// hexadecimal; anything else raises EConvertError "'$..' is not a valid integer value". A
// field cut short by the line end is converted from what is there; one wholly past the end
// fails. Positions before the first character hold nothing, so only the part of the field
// from position 1 on is taken. `digits` is 1..8; the line is never read out of bounds.
uint32_t StrictHex(const std::string& line, int position, int digits);
inline uint8_t StrictHexByte(const std::string& line, int position) {
    return static_cast<uint8_t>(StrictHex(line, position, 2));
}

}  // namespace ps
