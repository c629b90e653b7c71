// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "images/HexConvert.h"
#include "images/ImageReport.h"

namespace ps {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(LenientHexPairs, DecodesDigitsAndLettersAndNeverFails) {
    struct Case {
        const char* text;
        Bytes clamped;
        Bytes unclamped;
    };
    const Case cases[] = {
        {"00", {0x00}, {0x00}},
        {"0A1F", {0x0A, 0x1F}, {0x0A, 0x1F}},
        {"FF", {0xFF}, {0xFF}},
        {"9A", {0x9A}, {0x9A}},
        // Lower case reads as the digits it is, in either position.
        {"ff", {0xFF}, {0xFF}},
        {"1a", {0x1A}, {0x1A}},
        {"a1", {0xA1}, {0xA1}},
        // Characters below '0' wrap round in 8 bits and land in the letter branch.
        {" 0", {0x00}, {0x90}},  // ' ' gives 0xE9
        {"0 ", {0xE9}, {0xE9}},  // the low digit is never clamped
        {"G0", {0x00}, {0x00}},  // 'G' gives 16: clamped to 0; unclamped 16*16 wraps to 0
        {"H1", {0x01}, {0x11}},  // 'H' gives 17: 17*16+1 = 0x111 -> 0x11
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LenientHexPairs(c.text), c.clamped) << c.text;
        EXPECT_EQ(LenientHexPairs(c.text, false), c.unclamped) << c.text;
    }
}

TEST(LenientHexPairs, TakesWholePairsOnly) {
    EXPECT_TRUE(LenientHexPairs("").empty());
    EXPECT_TRUE(LenientHexPairs("1").empty());
    EXPECT_EQ(LenientHexPairs("123"), (Bytes{0x12}));
    EXPECT_EQ(LenientHexPairs("12345"), (Bytes{0x12, 0x34}));
    EXPECT_EQ(LenientHexPairs("1234"), (Bytes{0x12, 0x34}));
    // Binary garbage and NUL bytes give bytes, never an error.
    const std::string garbage("\x00\xff\x80\x7f\n\r", 6);
    EXPECT_EQ(LenientHexPairs(garbage).size(), 3u);
}

TEST(StrictHex, ConvertsFieldsAtOneBasedPositions) {
    const std::string line = ":10010000214601360121470136007EFE09D2190140";
    EXPECT_EQ(StrictHexByte(line, 2), 0x10);
    EXPECT_EQ(StrictHex(line, 4, 4), 0x0100u);
    EXPECT_EQ(StrictHexByte(line, 8), 0x00);
    EXPECT_EQ(StrictHexByte(line, 10), 0x21);
    EXPECT_EQ(StrictHex("S2080123456789", 5, 6), 0x012345u);
    // Both cases of letters are digits here, unlike the lenient conversion.
    EXPECT_EQ(StrictHexByte("ff", 1), 0xFF);
    EXPECT_EQ(StrictHexByte("aB", 1), 0xAB);
    EXPECT_EQ(StrictHex("FFFFFFFF", 1, 8), 0xFFFFFFFFu);
}

TEST(StrictHex, FieldCutShortByLineEndUsesWhatIsThere) {
    EXPECT_EQ(StrictHexByte(":1", 2), 0x1);
    EXPECT_EQ(StrictHex("S2081234", 5, 6), 0x1234u);
    EXPECT_EQ(StrictHexByte("ABC", 3), 0xC);
}

// The conversion error carries the "$"-prefixed text exactly.
void ExpectConvertError(const std::string& line, int position, int digits,
                        const std::string& text) {
    try {
        StrictHex(line, position, digits);
        ADD_FAILURE() << "no error for '" << line << "' at " << position;
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), NotValidIntegerMessage(text));
    }
}

TEST(StrictHex, RejectsNonDigitsAndMissingFields) {
    EXPECT_EQ(NotValidIntegerMessage("$G1"), "'$G1' is not a valid integer value");
    ExpectConvertError(":G1", 2, 2, "$G1");
    ExpectConvertError(":1G", 2, 2, "$1G");
    ExpectConvertError(": 1", 2, 2, "$ 1");
    ExpectConvertError(":-1", 2, 2, "$-1");
    ExpectConvertError(":+1", 2, 2, "$+1");
    // Control bytes are shown as '?' so that the message is neither cut nor broken.
    ExpectConvertError(std::string{':', '\0', '1'}, 2, 2, "$?1");
    EXPECT_EQ(NotValidIntegerMessage(std::string{'$', '\0', '\r'}),
              "'$\?\?' is not a valid integer value");
    // Wholly past the end: the text is "$" alone.
    ExpectConvertError(":10", 4, 2, "$");
    ExpectConvertError("", 1, 2, "$");
    ExpectConvertError(":10", 1000000, 4, "$");
}

TEST(StrictHex, NeverReadsOutsideTheLine) {
    // Positions before the start hold nothing: only the part from position 1 counts.
    EXPECT_EQ(StrictHexByte("AB", 0), 0xA);
    ExpectConvertError("AB", -5, 2, "$");
    ExpectConvertError("AB", INT32_MIN, 8, "$");
    ExpectConvertError("AB", INT32_MAX, 8, "$");
    EXPECT_THROW(StrictHex("AB", 1, 0), std::invalid_argument);
    EXPECT_THROW(StrictHex("AB", 1, 9), std::invalid_argument);
}

}  // namespace
}  // namespace ps
