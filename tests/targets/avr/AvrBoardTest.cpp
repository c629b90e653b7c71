// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "sim/AvrBoard.h"
#include "sim/Boards.h"

namespace ps::sim {
namespace {

TEST(AvrBoardSpec, OptionsMakeTheBoardTheyName) {
    std::string error;
    auto board = MakeBoard("avr", error);
    ASSERT_NE(nullptr, board) << error;
    auto* avr = dynamic_cast<AvrBoard*>(board.get());
    ASSERT_NE(nullptr, avr);
    EXPECT_EQ(6, avr->Processor());
    EXPECT_EQ(32768u, avr->Flash().size());

    board = MakeBoard("avr,proc=4,eeprom=1024,silent", error);
    ASSERT_NE(nullptr, board) << error;
    avr = dynamic_cast<AvrBoard*>(board.get());
    EXPECT_EQ(4, avr->Processor());
    EXPECT_EQ(1024u, avr->Eeprom().size());
    EXPECT_TRUE(board->faults.Silent);

    board = MakeBoard("avr,proc=3,protected", error);
    ASSERT_NE(nullptr, board) << error;
    avr = dynamic_cast<AvrBoard*>(board.get());
    EXPECT_EQ(1024u, avr->Flash().size());
    EXPECT_TRUE(avr->IsProtected());

    for (const char* spec :
         {"avr,sig=1E9502", "avr,fusestuck", "avr,fusestuck=high", "avr,weakcell=0x10"}) {
        EXPECT_NE(nullptr, MakeBoard(spec, error)) << spec << ": " << error;
    }
    for (const char* spec : {"avr,proc=8", "avr,proc=", "avr,sig=1E95", "avr,sig=XX9502",
                             "avr,fusestuck=middle", "avr,protected=1", "avr,bogus"}) {
        error.clear();
        EXPECT_EQ(nullptr, MakeBoard(spec, error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}

TEST(AvrBoardSpec, ChecksumIsTheComplementOfTheWordsBytes) {
    AvrBoard board(AvrBoard::Options{});
    std::fill(board.Flash().begin(), board.Flash().end(), 0x00);
    board.Flash()[0] = 0x10;
    board.Flash()[3] = 0x20;
    board.Flash()[4] = 0x40;  // word 2, outside words 0..1
    EXPECT_EQ(0xFFFF - 0x30, board.FlashChecksum(0, 1));
    EXPECT_EQ(0xFFFF - 0x70, board.FlashChecksum(0, 2));
    EXPECT_EQ(0xFFFF, board.FlashChecksum(2, 1));
}

}  // namespace
}  // namespace ps::sim
