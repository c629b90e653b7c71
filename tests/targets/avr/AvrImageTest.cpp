// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>

#include "run/StepResult.h"
#include "images/ImageFile.h"
#include "targets/avr/AvrFlow.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/AvrRig.h"
#include "targets/avr/FuseBits.h"
#include "targets/avr/SrecToBin.h"

namespace ps {
namespace {

using avrtest::IntelHex;
using avrtest::ReadFile;
using avrtest::Rig;
using avrtest::SampleImage;
using avrtest::TempDir;
using avrtest::WriteFile;
using Bytes = std::vector<uint8_t>;

TEST(AvrImage, ChecksumCoversWholeWordsOfTheRange) {
    Bytes image(AvrImageSize, 0xFF);
    image[0] = 0x01;
    image[1] = 0x02;
    image[2] = 0x10;
    // Even length: bytes 0..3; odd length 5 still covers only 0..3.
    EXPECT_EQ(0xFFFF - (0x01 + 0x02 + 0x10 + 0xFF), AvrImageChecksum(image, 0, 4));
    EXPECT_EQ(AvrImageChecksum(image, 0, 4), AvrImageChecksum(image, 0, 5));
    EXPECT_EQ(0xFFFF, AvrImageChecksum(image, 0, 0));
    EXPECT_EQ(0xFFFF, AvrImageChecksum(image, 0, 1));
    // Past the image the flash reads erased; nothing is read beyond it.
    EXPECT_EQ(static_cast<uint16_t>(0xFFFF - 2 * 0xFF),
              AvrImageChecksum(Bytes(AvrImageSize, 0x00), AvrImageSize, 2));
}

TEST(AvrImage, PageCountAndEepromEnd) {
    EXPECT_EQ(16, AvrPageCount(0, 2048));
    EXPECT_EQ(17, AvrPageCount(0, 2049));
    EXPECT_EQ(0, AvrPageCount(0, 0));
    EXPECT_EQ(1, AvrPageCount(0, 1));
    EXPECT_EQ(AvrImageSize / AvrPageSize, AvrPageCount(0, 0x7FFFFFF0));
    EXPECT_EQ(7, AvrEepromEnd(0, 8));
    EXPECT_EQ(-1, AvrEepromEnd(0, 0));
    EXPECT_EQ(0xFFFF, AvrEepromEnd(0, 0x40000));
    const auto header = PageHeader(4);
    EXPECT_EQ((std::array<uint8_t, 4>{'S', 0x01, 0x00, 0x80}), header);
    EXPECT_EQ((Bytes{'A', 0x00, 0x7F}), DeviceParametersCommand(AvrAT90S2313));
    EXPECT_EQ((Bytes{'A', 0x00, 0xFF}), DeviceParametersCommand(AvrAT90S4433));
    EXPECT_EQ((Bytes{'A', 0x02, 0xFF}), DeviceParametersCommand(AvrATmega163));
    EXPECT_TRUE(DeviceParametersCommand(AvrLoader).empty());
}

TEST(AvrImage, EepromDumpText) {
    const Bytes data = {0x00, 0x01, 0x02, 0x03, 0xAB, 0xCD, 0xEF, 0xFF};
    EXPECT_EQ(":0800000000010203ABCDEFFF8C\r\n:00000001FF\r\n", EepromHexText(data.data(), 8));
    Bytes seventeen(17, 0x11);
    const std::string text = EepromHexText(seventeen.data(), 17);
    EXPECT_EQ(0u, text.find(":1000000011111111111111111111111111111111E0\r\n"
                            ":0100100011DE\r\n"));
    EXPECT_EQ(":00000001FF\r\n", EepromHexText(nullptr, 0));
}

TEST(AvrFlowNames, SpeedByteAndCopyName) {
    EXPECT_EQ(1, AvrSpeedByte(0));
    EXPECT_EQ(4, AvrSpeedByte(3));
    EXPECT_EQ(4, AvrSpeedByte(-1));
    EXPECT_EQ(4, AvrSpeedByte(7));
    EXPECT_EQ("MEM 3.BIN", ImageCopyName(3));
    EXPECT_EQ("MEM12.BIN", ImageCopyName(12));
}

TEST(AvrEeprom, DumpReadBackByAnotherReaderHoldsTheBoardsBytes) {
    TempDir dir;
    const std::string file = dir.File("eeprom.hex");
    WriteFile(file, "old dump\n");
    Rig rig(AvrLoader);
    rig.FlashStep(file, 100);
    rig.st.Step.AtProgEe = 2;
    rig.st.Step.CheckSum = true;  // switched off for the EEPROM
    rig.Run();

    ASSERT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    bool ok = false;
    const Bytes read = avrtest::ParseIntelHex(ReadFile(file), 100, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Bytes(rig.board->Eeprom().begin(), rig.board->Eeprom().begin() + 100), read);
    EXPECT_EQ(std::string(MsgRead) + MsgResultOk, rig.view.LastStatus());
    EXPECT_TRUE(rig.view.SawStatus(MsgReading));
    EXPECT_EQ(0, rig.CountWrites({'C', 0x00, 0x00, 0x00, 0x31}));
    EXPECT_EQ(100, rig.st.RowByteCounts[0]);
    int reads = 0;
    for (const auto& command : rig.Commands()) {
        if (command.size() == 3 && command[0] == 'R') {
            EXPECT_EQ(reads, command[1] * 256 + command[2]);  // offsets 0, 1, 2, ... in order
            ++reads;
        }
    }
    EXPECT_EQ(100, reads);
    const std::string text = ReadFile(file);
    EXPECT_EQ(std::string(IntelEndRecord) + "\r\n", text.substr(text.size() - 13));
}

TEST(AvrEeprom, StopDuringTheReadKeepsTheOldDump) {
    TempDir dir;
    const std::string file = dir.File("eeprom.hex");
    WriteFile(file, "old dump\n");
    Rig rig(AvrLoader);
    rig.FlashStep(file, 64);
    rig.st.Step.AtProgEe = 2;
    // STOP once the programmer has been asked for a few bytes.
    rig.view.When(
        [&] {
            int reads = 0;
            for (const auto& w : rig.Writes()) reads += !w.empty() && w[0] == 'R' ? 1 : 0;
            return reads >= 10;
        },
        [&] { rig.st.RunError = RunStopped; });
    rig.Run();
    EXPECT_EQ(RunStopped, rig.st.RunError);
    EXPECT_EQ("old dump\n", ReadFile(file));
    EXPECT_EQ(1u, std::distance(std::filesystem::directory_iterator(dir.Path()),
                                std::filesystem::directory_iterator()));
}

TEST(AvrEeprom, WriteStoresEveryByteIncludingErasedOnes) {
    TempDir dir;
    const std::string file = dir.File("eeprom-in.hex");
    Bytes image(64, 0xFF);
    for (int i = 0; i < 40; ++i) image[static_cast<size_t>(i)] = static_cast<uint8_t>(3 * i);
    WriteFile(file, IntelHex(image, image.size()));
    Rig rig(AvrLoader);
    rig.FlashStep(file, 64);
    rig.st.Step.AtProgEe = 1;
    rig.Run();
    ASSERT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    EXPECT_EQ(image, Bytes(rig.board->Eeprom().begin(), rig.board->Eeprom().begin() + 64));
    EXPECT_EQ(1, rig.CountWrites({'W', 0x00, 0x3F, 0xFF}));
    EXPECT_EQ(0, rig.board->PagesWritten());
    EXPECT_EQ(std::string(MsgProgramed) + MsgResultOk, rig.view.LastStatus());
}

// ---- The .BIN copy ----

struct BinRig {
    BinRig() {
        st.Step.AddrStart = 0x10000;
        st.Step.AddrLen = 300;
    }
    sim::VirtualClock clock;
    sim::RecordingView view{clock};
    Station st{clock, view};
};

TEST(SrecToBin, CopiesS2RecordsIntoAnErasedImage) {
    TempDir dir;
    avrtest::InFolder here(dir.Path());
    WriteFile("image.mhx",
              "S0030000FC\n"
              "S2080100000102030400\n"  // 01 02 03 04 at 0x10000
              "S1050000AABB00\n"        // not an S2 record: skipped
              "S2060101200506FF\n"      // 05 06 at 0x10120
              "S804000000FB\n");
    BinRig rig;
    EXPECT_TRUE(SrecToBin(rig.st, "image.mhx", "MEM 1.BIN"));
    Bytes expected(300, 0xFF);
    expected[0] = 1, expected[1] = 2, expected[2] = 3, expected[3] = 4;
    expected[0x120] = 5, expected[0x121] = 6;
    const std::string bin = ReadFile("MEM 1.BIN");
    EXPECT_EQ(expected, Bytes(bin.begin(), bin.end()));
    const auto statuses = rig.view.Statuses();
    ASSERT_EQ(2u, statuses.size());
    EXPECT_EQ(std::string(MsgSavingBin) + "MEM 1.BIN" + MsgSavingBinTail, statuses[0].Text);
    EXPECT_EQ(MsgSaveBinOk, statuses[1].Text);
    EXPECT_EQ(StatusColorNormal, statuses[1].Colour);
}

TEST(SrecToBin, FailuresLeaveAnOldCopyAsItWas) {
    // Every failed copy ends in red and with RunError 12, never in success.
    struct Case {
        std::string name;
        std::string source;  // empty: no source file
        bool message;        // a bad file is reported in a box
    };
    const std::vector<Case> cases = {
        {"record below the start address", "S2080000100102030400\n", false},
        {"record past the end", "S2080120000102030400\n", false},
        {"Intel HEX source", ":00000001FF\n", true},
        {"missing source", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        avrtest::InFolder here(dir.Path());
        WriteFile("MEM 2.BIN", "old copy");
        if (!c.source.empty()) WriteFile("image.mhx", c.source);
        BinRig rig;
        EXPECT_FALSE(SrecToBin(rig.st, "image.mhx", "MEM 2.BIN"));
        EXPECT_EQ("old copy", ReadFile("MEM 2.BIN"));
        EXPECT_EQ(c.message ? 1u : 0u, rig.view.Messages().size());
        EXPECT_EQ(c.message ? std::string(MsgSaveBinFailed) + "MEM 2.BIN" : MsgSaveBinError,
                  rig.view.LastStatus());
        EXPECT_EQ(StatusColorError, rig.view.LastStatusColour());
        EXPECT_EQ(RunImageFile, rig.st.RunError);
        // Nothing but the old copy and the source is left in the folder.
        EXPECT_EQ(c.source.empty() ? 1 : 2,
                  std::distance(std::filesystem::directory_iterator(dir.Path()),
                                std::filesystem::directory_iterator()));
    }
}

TEST(SrecToBin, ARecordCutShortIsSkipped) {
    TempDir dir;
    avrtest::InFolder here(dir.Path());
    WriteFile("image.mhx", "S20401\nS2060100000506FF\n");
    BinRig rig;
    EXPECT_TRUE(SrecToBin(rig.st, "image.mhx", "MEM 2.BIN"));
    Bytes expected(300, 0xFF);
    expected[0] = 5, expected[1] = 6;
    const std::string bin = ReadFile("MEM 2.BIN");
    EXPECT_EQ(expected, Bytes(bin.begin(), bin.end()));
    EXPECT_EQ(MsgSaveBinOk, rig.view.LastStatus());
}

TEST(SrecToBin, AtmelStepWithSaveOfAnIntelImageIsNotPassedOffAsSuccess) {
    // The copy reads S-records; an ATMEL step's image is Intel HEX, so its first line is
    // refused. The board is programmed, but the step must not end in "Programed ok!".
    TempDir dir;
    avrtest::InFolder here(dir.Path());
    const Bytes image = SampleImage(512);
    WriteFile("image.hex", IntelHex(image, image.size()));
    Rig rig(AvrATmega32);
    rig.FlashStep("image.hex", 512);
    rig.st.Step.SaveImage = true;
    rig.st.CurrentStep = 3;
    rig.Run();
    EXPECT_EQ(Bytes(rig.board->Flash().begin(), rig.board->Flash().begin() + 512), image);
    EXPECT_TRUE(rig.view.SawStatus(std::string(MsgSavingBin) + "MEM 3.BIN" + MsgSavingBinTail));
    EXPECT_EQ(RunImageFile, rig.st.RunError);
    ASSERT_EQ(1u, rig.view.Messages().size());
    EXPECT_EQ(NotHexMessage("image.hex"), rig.view.Messages()[0].Text);
    EXPECT_FALSE(rig.view.SawStatusContaining(MsgResultOk));
    EXPECT_EQ(std::string(MsgSaveBinFailed) + "MEM 3.BIN", rig.view.LastStatus());
    EXPECT_EQ(StatusColorError, rig.view.LastStatusColour());
    EXPECT_FALSE(std::filesystem::exists("MEM 3.BIN"));
}

}  // namespace
}  // namespace ps
