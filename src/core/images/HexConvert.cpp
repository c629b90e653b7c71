// SPDX-License-Identifier: MIT
#include "images/HexConvert.h"

#include <algorithm>
#include <stdexcept>

#include "images/ImageReport.h"

namespace ps {

const char* const MsgNotValidInteger = "'%s' is not a valid integer value";

std::string NotValidIntegerMessage(const std::string& text) {
    // A field from a binary file may hold NUL or other control bytes; a NUL would cut the
    // message short and a CR would break the message box, so they are shown as '?'.
    std::string shown = text;
    for (char& c : shown) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) c = '?';
    }
    const std::string format = MsgNotValidInteger;
    const auto at = format.find("%s");
    return format.substr(0, at) + shown + format.substr(at + 2);
}

namespace {

// One character of the lenient conversion, in 8-bit unsigned arithmetic on purpose: the
// wrap-around is what makes characters below '0' fall into the letter branch. Lower-case
// digits are legal in both formats and read as the digits they are (the bare arithmetic
// would make "ff" 0x2F, another byte at another address).
uint8_t LenientDigit(char c, bool clamp) {
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    const auto code = static_cast<uint8_t>(c);
    auto v = static_cast<uint8_t>(code - 0x30);
    if (v > 9) v = static_cast<uint8_t>(code - 0x37);
    if (clamp && v > 15) v = 0;
    return v;
}

}  // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<uint8_t> LenientHexPairs(std::string_view text, bool clampHigh) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    // A pair is taken while its first character is not the last one, so an odd tail is
    // left out.
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const uint8_t high = LenientDigit(text[i], clampHigh);
        const uint8_t low = LenientDigit(text[i + 1], false);
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

uint32_t StrictHex(const std::string& line, int position, int digits) {
    if (digits < 1 || digits > 8) throw std::invalid_argument("StrictHex: digits must be 1..8");
    // Work in 64 bits so that no position given by a hostile count can overflow.
    int64_t first = static_cast<int64_t>(position) - 1;
    int64_t last = first + digits;  // one past the field
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, static_cast<int64_t>(line.size()));
    std::string field;
    if (first < last)
        field = line.substr(static_cast<size_t>(first), static_cast<size_t>(last - first));

    if (field.empty()) throw EConvertError(NotValidIntegerMessage("$"));
    uint32_t value = 0;
    for (char c : field) {
        const int digit = HexDigitValue(c);
        if (digit < 0) throw EConvertError(NotValidIntegerMessage("$" + field));
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

}  // namespace ps
