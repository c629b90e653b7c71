// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "targets/avr/FuseBits.h"

namespace ps {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(FuseStringToBits, ConvertsCompactLayoutPerProcessor) {
    struct Case {
        int processor;
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // AT90S4433: CKSEL0-2, BODEN, BODLEVEL.
        {1, "11011", "N1100001100000000"},
        // ATmega163: CKSEL0-3, then BODEN..BOOTSZ1 after two blanks.
        {2, "101010101", "N1010001010100000"},
        {3, "", "N0000000000000000"},
        {4, "1111", "N1111000000000000"},
        // ATmega323: twelve characters with gaps for SUT and CKOPT/SPIEN.
        {5, "111111111111", "N1111001111110011"},
        {6, "1010101010101010", "N1010101010101010"},
        {7, "1", "N1000000000000000"},
        // No conversion: padded input, no "N".
        {0, "101", "101" + std::string(20, '0')},
        {-1, "", std::string(20, '0')},
    };
    for (const Case& c : cases) {
        // Processors 1 to 7 give "N" and sixteen bit characters.
        if (c.processor >= 1) {
            ASSERT_EQ(17u, c.expected.size()) << c.processor;
        }
        EXPECT_EQ(c.expected, FuseStringToBits(c.processor, c.text))
            << c.processor << " " << c.text;
    }
}

TEST(FuseCommands, BytesForGivenTexts) {
    struct Case {
        int processor;
        std::string fuses;
        std::vector<Bytes> frames;
    };
    const std::vector<Case> cases = {
        // Empty text: nothing programmed, every bit written as 1.
        {6, "", {{'F', 0xA0, 0x00, 0xFF}, {'H', 0xFF}}},
        {7, "", {{'F', 0xA0, 0x00, 0xFF}, {'H', 0xFF}}},
        // CKSEL0 ticked in the common layout.
        {6, "N1000000000000000", {{'F', 0xA0, 0x00, 0xFE}, {'H', 0xFF}}},
        // OCDEN and BOOTRST ticked (common layout positions 15 and 8).
        {6, "N0000000010000001", {{'F', 0xA0, 0x00, 0xFF}, {'H', 0x7E}}},
        // Compact text of the AT90S4433: CKSEL0, CKSEL1, BODEN, BODLEVEL.
        {1, "11011", {{'F', 0xA4, 0x00, 0x00}}},
        {1, "", {{'F', 0xBF, 0x00, 0x00}}},
        // ATmega163 empty: low (0x30) ^ 0xCF, high (0xF8) ^ 0x07.
        {2, "", {{'F', 0xA0, 0x00, 0xFF}, {'H', 0xFF}}},
        // ATmega163 compact: CKSEL0..3 then BODEN, BODLEVEL, BOOTRST, BOOTSZ0, BOOTSZ1.
        {2, "111111111", {{'F', 0xA0, 0x00, 0x30}, {'H', 0xF8}}},
        // ATmega323 compact, every fuse it has ticked.
        {5, "111111111111", {{'F', 0xA0, 0x00, 0x30}, {'H', 0x30}}},
        {5, "", {{'F', 0xA0, 0x00, 0xFF}, {'H', 0xFF}}},
        {0, "1111", {}},
        {3, "1111", {}},
        {4, "1111", {}},
    };
    for (const Case& c : cases) {
        const auto commands = FuseCommands(c.processor, c.fuses);
        ASSERT_EQ(c.frames.size(), commands.size()) << c.processor << " " << c.fuses;
        for (size_t i = 0; i < commands.size(); ++i) {
            EXPECT_EQ(c.frames[i], commands[i].Frame) << c.processor << " " << c.fuses << " #" << i;
            const bool readBack = c.processor == 6 || c.processor == 7;
            EXPECT_EQ(readBack, commands[i].ReadBack);
            if (readBack) {
                EXPECT_EQ(commands[i].Frame.back(), commands[i].Expected);
            }
        }
    }
}

TEST(FuseCommands, ReadBackUsesTheMatchingReadCommand) {
    const auto commands = FuseCommands(6, "");
    ASSERT_EQ(2u, commands.size());
    EXPECT_EQ('f', commands[0].ReadCommand);
    EXPECT_EQ('h', commands[1].ReadCommand);
}

TEST(LockCommand, BytesForGivenTexts) {
    struct Case {
        int processor;
        std::string lock;
        Bytes frame;
    };
    const std::vector<Case> cases = {
        {2, "", {'L', 0xE0, 0x00, 0xFF}},
        {5, "", {'L', 0xE0, 0x00, 0xFF}},
        {6, "110000", {'L', 0xE0, 0x00, 0xFC}},
        {7, "111111", {'L', 0xE0, 0x00, 0xC0}},
        {1, "", {'L', 0xFF, 0x00, 0x00}},
        {1, "11", {'L', 0xF9, 0x00, 0x00}},
        {0, "", {'L', 0xE0, 0x00, 0x00}},
        {0, "11", {'L', 0xE6, 0x00, 0x00}},
        {4, "", {'L', 0xFF}},
        {4, "000011", {'L', 0xCF}},
        {3, "111111", {}},
        {-1, "", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.frame, LockCommand(c.processor, c.lock)) << c.processor << " " << c.lock;
    }
}

}  // namespace
}  // namespace ps
