// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>

#include "run/StepResult.h"
#include "images/ImageFile.h"
#include "images/ImageReport.h"
#include "link/Link.h"
#include "targets/avr/AvrFlow.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/AvrRig.h"
#include "targets/avr/FuseBits.h"

namespace ps {
namespace {

using avrtest::IntelHex;
using avrtest::Rig;
using avrtest::SampleImage;
using avrtest::TempDir;
using Bytes = std::vector<uint8_t>;

Bytes FlashPrefix(const sim::AvrBoard& board, size_t length) {
    return Bytes(board.Flash().begin(), board.Flash().begin() + static_cast<long>(length));
}

TEST(AvrFlow, ProgramsAnAtmega32WithChecksumFusesAndLockBits) {
    TempDir dir;
    const std::string file = dir.File("firmware.hex");
    const Bytes image = SampleImage(6000);
    avrtest::WriteFile(file, IntelHex(image, image.size()));

    Rig rig(AvrATmega32);
    rig.FlashStep(file, 32768);
    rig.st.Step.CheckSum = true;
    rig.st.Step.FusesSet = true;
    rig.st.Step.FuseBits = "N0100000000000001";  // CKSEL1 and OCDEN programmed
    rig.st.Step.LockSet = true;
    rig.st.Step.LockBits = "110000";
    rig.Run();

    EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    Bytes expected = image;
    expected.resize(32768, 0xFF);
    EXPECT_EQ(expected, rig.board->Flash());
    EXPECT_EQ(std::string(MsgProgramed) + MsgResultOk + MsgChecksumOk, rig.view.LastStatus());
    EXPECT_EQ(StatusColorNormal, rig.view.LastStatusColour());
    EXPECT_EQ(rig.st.ImageChecksum, rig.st.TargetChecksum);
    EXPECT_EQ(0xFD, rig.board->LowFuse());
    EXPECT_EQ(0x7F, rig.board->HighFuse());
    EXPECT_EQ(0xFC, rig.board->Lock());
    EXPECT_EQ(1, rig.board->EraseCount());
    EXPECT_EQ(100, rig.view.LastProgress());
    EXPECT_EQ("ATmega32", rig.st.DeviceName);
    // No "/RUNADDR=": nothing is started.
    rig.Settle();
    EXPECT_EQ(0, rig.CountWrites({'K'}));
    EXPECT_EQ(0u, rig.board->StartedAt());
    // The status line went through the steps in order.
    const auto texts = rig.view.StatusTexts();
    const std::vector<std::string> steps = {std::string(MsgConnecting) + MsgOk,
                                            std::string(MsgSearchingAtmel) + MsgOk,
                                            std::string(MsgErasing) + MsgOk + MsgOk, MsgVerifying};
    auto at = texts.begin();
    for (const auto& text : steps) {
        at = std::find(at, texts.end(), text);
        EXPECT_NE(texts.end(), at) << text << "\n" << rig.view.Dump();
    }
}

TEST(AvrFlow, EveryProcessorProgramsAndVerifies) {
    // The device parameters the programmer gets for each processor (none for the loader).
    const Bytes parameters[] = {
        {'A', 0x00, 0x7F}, {'A', 0x00, 0xFF}, {'A', 0x02, 0xFF}, {'A', 0x00, 0xFF}, {},
        {'A', 0x02, 0xFF}, {'A', 0x02, 0xFF}, {'A', 0x02, 0xFF}};
    TempDir dir;
    for (int processor = 0; processor <= 7; ++processor) {
        SCOPED_TRACE(processor);
        const int flashSize = sim::AvrBoard::FlashSize(processor);
        // The loader cannot erase the chip: it erases the pages it writes, so its image
        // leaves no page blank.
        const bool loader = processor == AvrLoader;
        const Bytes image = SampleImage(static_cast<size_t>(flashSize), 7u + processor, !loader);
        const std::string file = dir.File("p" + std::to_string(processor) + ".hex");
        avrtest::WriteFile(file, IntelHex(image, image.size()));

        Rig rig(processor);
        rig.FlashStep(file, flashSize);
        rig.st.Step.CheckSum = true;
        rig.Run();

        EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
        EXPECT_EQ(image, FlashPrefix(*rig.board, image.size()));
        EXPECT_EQ(std::string(MsgProgramed) + MsgResultOk + MsgChecksumOk, rig.view.LastStatus());
        // The loader keeps itself: no chip erase, no device parameters.
        EXPECT_EQ(loader ? 0 : 1, rig.board->EraseCount());
        int parameterWrites = 0;
        for (const Bytes& command : rig.Commands())
            parameterWrites += !command.empty() && command[0] == 'A';
        EXPECT_EQ(loader ? 0 : 1, parameterWrites);
        if (!loader) {
            EXPECT_EQ(1, rig.CountWrites(parameters[processor]));
        }
    }
}

TEST(AvrFlow, WireBytesOfASparseImage) {
    // Data only in 0x200..0x27F of a 2048-byte range: one page, "S" 01 00 80 and its bytes.
    TempDir dir;
    const std::string file = dir.File("one-page.hex");
    Bytes image(2048, 0xFF);
    for (int i = 0x200; i < 0x280; ++i) image[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    avrtest::WriteFile(file, IntelHex(image, image.size()));

    Rig rig(AvrATmega16);
    rig.FlashStep(file, 2048);
    rig.st.Step.SpeedSet = 7;  // out of range: speed byte 4
    rig.st.Step.FusesSet = true;
    rig.st.Step.FuseBits = "";
    rig.st.Step.LockSet = true;
    rig.st.Step.RunAddr = 0x1234;
    rig.st.Step.BlockLen = 256;
    rig.Run();
    ASSERT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();

    // The page lies in block 0x200 / 256 = 2, marked once; the byte column counts the
    // bytes of the file.
    const auto blocks = rig.view.Blocks();
    ASSERT_EQ(1u, blocks.size());
    EXPECT_EQ(0, blocks[0].A);
    EXPECT_EQ(2, blocks[0].B);
    EXPECT_EQ(ProgrammedColour, blocks[0].Colour);
    EXPECT_EQ(128, rig.st.RowByteCounts[0]);
    EXPECT_EQ(100, rig.view.LastProgress());

    const auto writes = rig.Writes();
    const auto header = std::find(writes.begin(), writes.end(), Bytes{'S', 0x01, 0x00, 0x80});
    ASSERT_NE(writes.end(), header);
    ASSERT_GE(writes.end() - header, 129);
    for (int i = 0; i < 128; ++i) {
        EXPECT_EQ(Bytes{static_cast<uint8_t>(0x200 + i)}, *(header + 1 + i)) << i;
    }
    EXPECT_EQ(1, rig.PageHeaders());
    EXPECT_EQ(1, rig.CountWrites({'M', 4}));
    EXPECT_EQ(1, rig.CountWrites({'A', 0x02, 0xFF}));
    EXPECT_EQ(1, rig.CountWrites({'F', 0xA0, 0x00, 0xFF}));
    EXPECT_EQ(1, rig.CountWrites({'H', 0xFF}));
    EXPECT_EQ(1, rig.CountWrites({'f'}));
    EXPECT_EQ(1, rig.CountWrites({'h'}));
    EXPECT_EQ(1, rig.CountWrites({'L', 0xE0, 0x00, 0xFF}));
    EXPECT_EQ(1, rig.CountWrites({'2'}));
    const Bytes sent = rig.wire->transcript().SentBytes();
    const Bytes runAt = {'K', '3', 0x05, 0x00, 0x00, 0x12, 0x34, 0xB4};
    EXPECT_NE(sent.end(), std::search(sent.begin(), sent.end(), runAt.begin(), runAt.end()));
    rig.Settle();
    EXPECT_EQ(0x1234u, rig.board->StartedAt());
    EXPECT_EQ(image, FlashPrefix(*rig.board, 2048));
}

TEST(AvrFlow, RecordsThatAreNotDataLoadNothing) {
    // Extended address records with base 0 and start address records carry no flash bytes.
    // Loaded as data, each would land its payload at address 0, over the first record's.
    TempDir dir;
    const std::string file = dir.File("records.hex");
    const Bytes image = SampleImage(512, 5, false);
    std::string text;
    for (uint16_t first = 0; first < image.size(); first += 16) {
        text += avrtest::HexRecord(0x00, first,
                                   Bytes(image.begin() + first, image.begin() + first + 16));
        if (first == 0) {
            text += avrtest::HexRecord(0x02, 0, {0x00, 0x00});  // extended segment address
            text += avrtest::HexRecord(0x04, 0, {0x00, 0x00});  // extended linear address
            text += avrtest::HexRecord(0x03, 0, {0x12, 0x34, 0x56, 0x78});  // start segment
            text += avrtest::HexRecord(0x05, 0, {0x00, 0x00, 0x01, 0xF0});  // start linear
        }
    }
    avrtest::WriteFile(file, text + ":00000001FF\n");
    ASSERT_NE(0x00, image[0]);
    ASSERT_NE(0x12, image[0]);

    Rig rig(AvrATmega32);
    rig.FlashStep(file, 1024);
    rig.st.Step.CheckSum = true;
    rig.Run();

    EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    EXPECT_EQ(std::string(MsgProgramed) + MsgResultOk + MsgChecksumOk, rig.view.LastStatus());
    Bytes expected = image;
    expected.resize(1024, 0xFF);
    EXPECT_EQ(expected, FlashPrefix(*rig.board, 1024));
    // The byte column counts the data bytes of the file and nothing else.
    EXPECT_EQ(512, rig.st.RowByteCounts[0]);
    const auto labels = rig.view.OfKind(sim::RecordingView::CallKind::ByteLabel);
    ASSERT_FALSE(labels.empty());
    EXPECT_EQ("512", labels.back().Text);
}

TEST(AvrFlow, BlankImageSendsParametersButNoPage) {
    TempDir dir;
    // Data records that hold only erased bytes (a file without any data record at all is
    // malformed: see HostileInputTest).
    const std::string file = dir.File("blank.hex");
    avrtest::WriteFile(file, ":04000000FFFFFFFF00\n:00000001FF\n");
    Rig rig(AvrATmega32);
    rig.FlashStep(file, 4096);
    rig.Run();
    EXPECT_EQ(RunOk, rig.st.RunError);
    EXPECT_EQ(1, rig.CountWrites({'A', 0x02, 0xFF}));
    EXPECT_EQ(0, rig.board->PagesWritten());
    EXPECT_EQ(0, rig.view.LastProgress());
}

TEST(AvrFlow, IdentificationErrorsEndTheStepBeforeAnyErase) {
    struct Case {
        std::string name;
        sim::AvrBoard::Options board;
        int32_t step;
        const char* text;
        int32_t code;
    };
    sim::AvrBoard::Options unknown = Rig::OptionsFor(AvrATmega32);
    unknown.HasSignature = true;
    unknown.Signature = {0x1E, 0x97, 0x02};
    sim::AvrBoard::Options locked = Rig::OptionsFor(AvrATmega32);
    locked.Protected = true;
    const std::vector<Case> cases = {
        {"unknown signature", unknown, AvrATmega32, MsgAtmelIdError, RunAvrId},
        {"another processor", Rig::OptionsFor(AvrATmega16), AvrATmega32, MsgWrongAtmel,
         RunWrongAvr},
        {"no /ATMEL=", Rig::OptionsFor(AvrATmega32), -1, MsgWrongAtmel, RunWrongAvr},
        {"protected", locked, AvrATmega32, MsgAtmelProtected, RunAvrProtected},
    };
    TempDir dir;
    const std::string file = dir.File("image.hex");
    avrtest::WriteFile(file, IntelHex(SampleImage(512), 512));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.board);
        rig.FlashStep(file, 512);
        rig.st.Step.AtmelDevice = c.step;
        const Bytes before = rig.board->Flash();
        rig.Run();
        EXPECT_EQ(c.code, rig.st.RunError);
        EXPECT_EQ(c.text, rig.view.LastStatus());
        EXPECT_EQ(StatusColorError, rig.view.LastStatusColour());
        EXPECT_EQ(0, rig.board->EraseCount());
        EXPECT_EQ(before, rig.board->Flash());
    }
}

TEST(AvrFlow, ProtectedDeviceWithUnlockIsErasedAndProgrammed) {
    TempDir dir;
    const std::string file = dir.File("image.hex");
    const Bytes image = SampleImage(1024);
    avrtest::WriteFile(file, IntelHex(image, image.size()));
    sim::AvrBoard::Options options = Rig::OptionsFor(AvrATmega32);
    options.Protected = true;
    Rig rig(options);
    rig.FlashStep(file, 1024);
    rig.st.Step.Unlock = true;
    rig.Run();

    EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    EXPECT_TRUE(rig.view.SawStatus(MsgAtmelProtected));
    EXPECT_FALSE(rig.board->IsProtected());
    EXPECT_EQ(image, FlashPrefix(*rig.board, image.size()));
    EXPECT_EQ(std::string(MsgProgramed) + MsgResultOk, rig.view.LastStatus());
    // The unlock exchange: lock read, then "L" E0 00 00.
    EXPECT_EQ(1, rig.CountWrites({'l'}));
    EXPECT_EQ(1, rig.CountWrites({'L', 0xE0, 0x00, 0x00}));
}

TEST(AvrFlow, ChecksumMismatchShowsTheBoxAndEndsWithoutRunError) {
    TempDir dir;
    const std::string file = dir.File("image.hex");
    const Bytes image = SampleImage(2048);
    avrtest::WriteFile(file, IntelHex(image, image.size()));
    sim::AvrBoard::Options options = Rig::OptionsFor(AvrATmega32);
    options.WeakCell = 10;  // image[10] is not 0xFF, so this cell reads wrong
    ASSERT_NE(0xFF, image[10]);
    Rig rig(options);
    rig.FlashStep(file, 2048);
    rig.st.Step.CheckSum = true;
    rig.Run();

    EXPECT_EQ(RunOk, rig.st.RunError);
    EXPECT_NE(rig.st.ImageChecksum, rig.st.TargetChecksum);
    const std::string text = CheckSumFailText(rig.st.ImageChecksum, rig.st.TargetChecksum);
    const auto boxes = rig.view.Messages();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(MessageKind::Error, boxes[0].Kind);
    EXPECT_EQ(text, boxes[0].Text);
    EXPECT_EQ(text, rig.view.LastStatus());
    EXPECT_EQ(StatusColorError, rig.view.LastStatusColour());
    EXPECT_EQ("CHECK SUM FAIL (1,65535)", CheckSumFailText(1, 65535));
}

TEST(AvrFlow, FuseThatDoesNotStickEndsWithFuseWriteError) {
    sim::AvrBoard::Options options = Rig::OptionsFor(AvrATmega32);
    options.FuseStuck = true;
    Rig rig(options);
    rig.FlashStep("", 0);
    rig.st.Step.FusesSet = true;
    rig.st.Step.FuseBits = "N1000000000000000";
    rig.Run();
    EXPECT_EQ(RunFlashOrFlow, rig.st.RunError);
    EXPECT_EQ(MsgFuseWriteError, rig.view.LastStatus());
    EXPECT_EQ(StatusColorError, rig.view.LastStatusColour());
    EXPECT_EQ(0, rig.CountWrites({'H', 0xFF}));  // the high fuse is never reached
}

TEST(AvrFlow, StopDuringAPageEndsTheStepWithoutFurtherPages) {
    TempDir dir;
    const std::string file = dir.File("image.hex");
    const Bytes image(8192, 0x5A);
    avrtest::WriteFile(file, IntelHex(image, image.size()));
    Rig rig(AvrATmega32);
    rig.FlashStep(file, 8192);
    // The operator presses STOP while the programmer writes the third page.
    rig.view.When([&] { return rig.board->PagesWritten() == 2; },
                  [&] { rig.st.RunError = RunStopped; });
    rig.Run();

    EXPECT_EQ(RunStopped, rig.st.RunError);
    EXPECT_FALSE(rig.view.SawStatusContaining(MsgResultOk));
    EXPECT_LE(rig.PageHeaders(), 3);
    EXPECT_LT(rig.board->PagesWritten(), 64);
}

TEST(AvrFlow, BadImageIsFoundBeforeTheBoardIsErased) {
    TempDir dir;
    const std::string notHex = dir.File("text.hex");
    avrtest::WriteFile(notHex, ":10000000000102030405060708090A0B0C0D0E0F78\nhello\n");
    const std::string missing = dir.File("missing.hex");
    struct Case {
        std::string file;
        std::string message;
    };
    for (const Case& c :
         {Case{missing, CannotOpenMessage(missing)}, Case{notHex, NotHexMessage(notHex)}}) {
        SCOPED_TRACE(c.file);
        Rig rig(AvrATmega32);
        rig.FlashStep(c.file, 2048);
        const Bytes before = rig.board->Flash();
        rig.Run();
        EXPECT_EQ(RunImageFile, rig.st.RunError);
        ASSERT_EQ(1u, rig.view.Messages().size());
        EXPECT_EQ(c.message, rig.view.Messages()[0].Text);
        EXPECT_EQ(1, rig.view.TerminateRequests);
        EXPECT_FALSE(rig.view.SawStatusContaining(MsgResultOk));
        EXPECT_EQ(0, rig.board->EraseCount());
        EXPECT_EQ(before, rig.board->Flash());
    }
}

TEST(AvrFlow, FieldThatIsNotHexRaisesBeforeTheErase) {
    TempDir dir;
    const std::string file = dir.File("bad.hex");
    avrtest::WriteFile(file, ":10000000000102030405060708090A0B0C0D0EZZ78\n");
    Rig rig(AvrATmega32);
    rig.FlashStep(file, 2048);
    EXPECT_THROW(rig.Run(), EConvertError);
    EXPECT_EQ(0, rig.board->EraseCount());
}

TEST(AvrFlow, PausesForContinueAndResetsAfterwards) {
    Rig rig(AvrATmega32);
    rig.FlashStep("", 0);
    rig.st.Step.AutoContinue = false;
    rig.st.Step.AutoReset = true;
    rig.st.Step.ResetSignal = "RTS1";
    int continues = 0;
    rig.view.OnContinueShown([&] {
        ++continues;
        rig.st.ContinueRequested = 1;
    });
    rig.Run();
    EXPECT_EQ(RunOk, rig.st.RunError);
    EXPECT_EQ(1, continues);
    // The reset pulse after CONTINUE: RTS asserted, then negated.
    const auto lines = rig.wire->transcript().LineTexts();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("RTS 1", lines[lines.size() - 2]);
    EXPECT_EQ("RTS 0", lines.back());
}

TEST(AvrFlow, LoaderShowsItsVersionUnlocksAndLeavesOnAutoReset) {
    TempDir dir;
    const std::string file = dir.File("app.hex");
    const Bytes image = SampleImage(1024, 1, false);
    avrtest::WriteFile(file, IntelHex(image, image.size()));
    Rig rig(AvrLoader);
    rig.FlashStep(file, 1024);
    rig.st.Step.AutoReset = true;
    rig.st.Step.LockSet = true;
    rig.Run();
    EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    EXPECT_TRUE(rig.view.SawStatus(std::string(MsgLoaderVersion) + sim::AvrBoard::LoaderVersion()));
    EXPECT_TRUE(rig.board->LeftLoader());
    EXPECT_EQ(1, rig.CountWrites({'k', 'B', 'o', 'T', 'a', 'p', 's'}));
    EXPECT_EQ(1, rig.CountWrites({'L', 0xFF}));
    EXPECT_EQ(0, rig.CountWrites({'2'}));
    EXPECT_EQ(image, FlashPrefix(*rig.board, image.size()));
}

TEST(AvrFlow, ALoaderVersionWithoutItsEndIsCutAndTheStepGoesOn) {
    TempDir dir;
    const std::string file = dir.File("app.hex");
    const Bytes image = SampleImage(512, 3, false);
    avrtest::WriteFile(file, IntelHex(image, image.size()));
    sim::AvrBoard::Options options = Rig::OptionsFor(AvrLoader);
    options.VersionRunOn = 1000;
    Rig rig(options);
    rig.FlashStep(file, 512);
    rig.view.AtTime(600000, [&] { rig.st.RunError = RunStopped; });  // never a hang
    rig.Run();
    EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    EXPECT_TRUE(rig.view.SawStatus(std::string(MsgLoaderVersion) + std::string(256, '7')));
    EXPECT_TRUE(rig.board->LoaderUnlocked());
    EXPECT_EQ(image, FlashPrefix(*rig.board, image.size()));
}

TEST(AvrFlow, ExampleFirmwareProgramsAnAtmega32) {
    const std::string file = std::string(PS_SOURCE_DIR) + "/examples/atmel/firmware.hex";
    bool ok = false;
    const Bytes image = avrtest::ParseIntelHex(avrtest::ReadFile(file), 32768, ok);
    ASSERT_TRUE(ok);
    Rig rig(AvrATmega32);
    rig.FlashStep(file, 32768);
    rig.st.Step.CheckSum = true;
    rig.Run();
    EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
    EXPECT_EQ(image, rig.board->Flash());
    EXPECT_EQ(std::string(MsgProgramed) + MsgResultOk + MsgChecksumOk, rig.view.LastStatus());
}

TEST(AvrFlow, SilentProgrammerWaitsUntilStopAndLateOneStillPrograms) {
    {
        Rig rig(AvrATmega32);
        rig.board->faults.Silent = true;
        rig.FlashStep("", 0);
        rig.view.AtTime(3000, [&] { rig.st.RunError = RunStopped; });
        rig.Run();
        EXPECT_EQ(RunStopped, rig.st.RunError);
        EXPECT_EQ(MsgConnecting, rig.view.LastStatus());
        // The handshake kept asking, one 's' per 500 ms round, and nothing else was sent.
        const auto commands = rig.Commands();
        EXPECT_GE(commands.size(), 5u);
        EXPECT_EQ(static_cast<long>(commands.size()), rig.CountWrites({'s'}));
    }
    {
        TempDir dir;
        const std::string file = dir.File("image.hex");
        const Bytes image = SampleImage(1024);
        avrtest::WriteFile(file, IntelHex(image, image.size()));
        Rig rig(AvrATmega32);
        rig.board->faults.LateMs = 300;  // every answer late, within a handshake round
        rig.FlashStep(file, 1024);
        rig.st.Step.CheckSum = true;
        rig.Run();
        EXPECT_EQ(RunOk, rig.st.RunError) << rig.view.Dump();
        EXPECT_EQ(image, FlashPrefix(*rig.board, image.size()));
    }
}

}  // namespace
}  // namespace ps
