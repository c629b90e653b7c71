// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "images/ImageAccount.h"
#include "images/ImageFile.h"
#include "sim/Boards.h"
#include "sim/IntelBootBoard.h"
#include "sim/IntelFlashBoard.h"
#include "sim/IntelRamBoard.h"
#include "targets/avr/AvrRig.h"
#include "targets/bootloader/intel/IntelTexts.h"
#include "targets/intel/IntelRig.h"

namespace ps {
namespace {

using inteltest::Bytes;
using inteltest::HexText;
using inteltest::Lines;
using inteltest::Pattern;
using inteltest::Rig;
using inteltest::Segment;
using sim::IntelBootBoard;
using sim::IntelFlashBoard;
using sim::IntelRamBoard;

std::unique_ptr<sim::Board> MakeBoard(const std::string& spec) {
    std::string error;
    auto board = sim::MakeBoard(spec, error);
    EXPECT_TRUE(board) << error;
    return board;
}

void Append(Bytes& to, const Bytes& from, size_t first, size_t n) {
    to.insert(to.end(), from.begin() + static_cast<long>(first),
              from.begin() + static_cast<long>(first + n));
}

// The last text of byte label `index` (-1 when never set).
std::string Label(const sim::RecordingView& view, int index) {
    std::string text = "-1";
    for (const auto& c : view.OfKind(sim::RecordingView::CallKind::ByteLabel))
        if (c.A == index) text = c.Text;
    return text;
}

// The times the station wrote byte i and byte i + 1 of the wire are at least ms apart.
void ExpectGapAfter(const sim::Transcript& t, size_t i, int64_t ms) {
    ASSERT_LT(i + 1, t.Sent.size());
    EXPECT_GE(t.Sent[i + 1].AtMs - t.Sent[i].AtMs, ms) << "after byte " << i;
}

TEST(IntelBoot, SendsTheBlocksHoldingDataBackToBackAndIgnoresAStaleChecksum) {
    Rig rig(std::make_unique<IntelBootBoard>());
    Bytes image(0x600, 0xFF);
    const Bytes data = Pattern(0x600, 2);
    std::copy(data.begin(), data.begin() + 0x300, image.begin());                  // blocks 0-2
    std::copy(data.begin() + 0x400, data.begin() + 0x500, image.begin() + 0x400);  // block 4
    image[0x5F0] = 0x12;  // block 5 holds one byte; block 3 holds none
    // Checksums left by an earlier step: "/CHECKSUM" must not report on them.
    rig.h.st.ImageChecksum = 1;
    rig.h.st.TargetChecksum = 2;
    // At 9600 baud the blocks take longer on the line than closing the port waits for them.
    const int status = rig.Run(
        2, HexText({{-1, 0, image}}),
        {"/BAUDRATE=9600", "/ADDRLEN=$800", "/BLOCKLEN=$100", "/BLOCKSONROW=4", "/CHECKSUM"});

    EXPECT_EQ(0, status) << rig.h.view.Dump();
    Bytes wire, packed;
    for (size_t block : {0, 1, 2, 4, 5}) {
        wire.push_back(0xFF);
        Append(wire, image, block * 256, 256);
        Append(packed, image, block * 256, 256);
    }
    EXPECT_EQ(wire, rig.Sent());
    // Nothing answers the blocks: the step waited until they had left the port, so the
    // board holds them all when the run has ended.
    const auto& board = rig.Board<IntelBootBoard>();
    EXPECT_EQ(5, board.BlocksLoaded());
    EXPECT_EQ(packed, Bytes(board.Memory().begin(), board.Memory().begin() + 5 * 256));
    EXPECT_EQ((std::vector<std::string>{"programming...", "programed ok!"}),
              rig.h.view.StatusTexts());
    EXPECT_EQ(StatusColorNormal, rig.h.view.LastStatusColour());
    // Two rows of four cells, one per 256 bytes: the cells of the blocks sent are marked.
    for (int cell = 0; cell < 8; ++cell) {
        const bool sent = cell <= 2 || cell == 4 || cell == 5;
        EXPECT_EQ(sent ? ProgrammedColour : EmptyColour, rig.h.st.GetBlock(cell / 4, cell % 4))
            << cell;
    }
    EXPECT_EQ("1536", Label(rig.h.view, 0));
    EXPECT_EQ("1024", Label(rig.h.view, 1));
    EXPECT_EQ("512", Label(rig.h.view, 2));
    EXPECT_EQ(100, rig.h.view.LastProgress());
}

TEST(IntelLoaderRam, ErasesWritesAcknowledgedBlocksAndStartsTheProgram) {
    Rig rig(std::make_unique<IntelRamBoard>());
    const Bytes first = Pattern(0x180, 3), second = Pattern(0x40, 4);
    const int status = rig.Run(3, HexText({{-1, 0x8000, first}, {-1, 0x8400, second}}),
                               {"/ADDRSTART=$8000", "/ADDRLEN=$1000", "/BLOCKLEN=$80",
                                "/BLOCKSONROW=8", "/ERASERAM", "/RUNADDR=$8100"});
    EXPECT_EQ(0, status) << rig.h.view.Dump();

    Bytes window(0x1000, 0xFF);
    std::copy(first.begin(), first.end(), window.begin());
    std::copy(second.begin(), second.end(), window.begin() + 0x400);
    Bytes wire = {0x0A, 0x80, 0x00, 0x10, 0x00};
    for (size_t offset : {0x000, 0x080, 0x100, 0x400}) {
        const auto address = static_cast<uint16_t>(0x8000 + offset);
        wire.insert(wire.end(), {0x14, static_cast<uint8_t>(address >> 8),
                                 static_cast<uint8_t>(address & 0xFF), 0x00, 0x80});
        Append(wire, window, offset, 128);
    }
    wire.insert(wire.end(), {0x1E, 0x81, 0x00});
    EXPECT_EQ(wire, rig.Sent());
    const auto& t = rig.h.Wire();
    ExpectGapAfter(t, 0, 2);
    for (size_t block = 0; block < 4; ++block) ExpectGapAfter(t, 5 + block * 133, 1);
    ExpectGapAfter(t, wire.size() - 3, 2);

    const auto& board = rig.Board<IntelRamBoard>();
    EXPECT_EQ(window, Bytes(board.Memory().begin() + 0x8000, board.Memory().begin() + 0x9000));
    EXPECT_NE(0xFF, board.Memory()[0x7FFF]);  // outside the window: left as it was
    EXPECT_EQ(std::vector<uint16_t>{0x8100}, board.Starts());
    EXPECT_EQ((std::vector<std::string>{"Erasing...", "programming...", "programed ok!"}),
              rig.h.view.StatusTexts());
    EXPECT_EQ(100, rig.h.view.LastProgress());
}

TEST(IntelLoaderFlash, ProgramsEveryBankAndTheCommonWindow) {
    Rig rig(std::make_unique<IntelFlashBoard>(0x05, 0));
    std::vector<Segment> segments;
    Bytes flash(0x40000, 0xFF);
    auto put = [&](int bank, uint32_t address, int32_t offset, const Bytes& data) {
        segments.push_back({bank, address, data});
        std::copy(data.begin(), data.end(), flash.begin() + offset);
    };
    for (int bank = 0; bank < 15; ++bank)
        put(bank, 0x4000 + bank * 0x100u, bank * 0x4000 + bank * 0x100, Pattern(0x200, bank));
    put(-1, 0xC000, 15 * 0x4000, Pattern(0x400, 20));
    // With bank 3 switched in, the common window still holds the last bank, and bytes in the
    // bank window after it still go to bank 3.
    put(3, 0xF000, 15 * 0x4000 + 0x3000, Pattern(0x80, 21));
    put(-1, 0x4800, 3 * 0x4000 + 0x800, Pattern(0x80, 22));
    const int status = rig.Run(4, HexText(segments),
                               {"/ADDRLEN=$40000", "/BLOCKLEN=$4000", "/BLOCKSONROW=4", "/FLASHID",
                                "/ERASEFLASH", "/RUNADDR=$C000"});
    EXPECT_EQ(0, status) << rig.h.view.Dump();

    const auto& board = rig.Board<IntelFlashBoard>();
    EXPECT_EQ(flash, board.Flash());
    EXPECT_EQ(1, board.Erases());
    EXPECT_EQ(1, board.FirstBlocks());
    EXPECT_EQ(15 * 4 + 8 + 1 + 1 - 1, board.LaterBlocks());
    for (int bank = 0; bank < 15; ++bank)
        EXPECT_NE(board.BankSwitches().end(),
                  std::find(board.BankSwitches().begin(), board.BankSwitches().end(), bank));

    // Flash identification, erase, 'F' and its pause, ..., 'P' and its pause, the start frame.
    const auto& t = rig.h.Wire();
    const Bytes sent = rig.Sent();
    ASSERT_GE(sent.size(), 12u);
    EXPECT_EQ((Bytes{'(', '2', 'F'}), Bytes(sent.begin(), sent.begin() + 3));
    ExpectGapAfter(t, 2, 1);
    EXPECT_EQ((Bytes{0x00, 0x40, 0x00, 'Z'}), Bytes(sent.begin() + 131, sent.begin() + 135));
    EXPECT_EQ((Bytes{'P', 'K', '3', 0x05, 0x00, 0x00, 0xC0, 0x00, 0x3A}),
              Bytes(sent.end() - 9, sent.end()));
    ExpectGapAfter(t, sent.size() - 9, 1);
    EXPECT_EQ(std::vector<uint32_t>{0xC000}, board.Starts());

    EXPECT_EQ(
        (std::vector<std::string>{" ok", " ok ok", "erasing memory...", "erasing memory... ok",
                                  "AM28F020A:  programming...", "programed ok!"}),
        rig.h.view.StatusTexts());
    EXPECT_EQ("AM28F020A:  ", rig.h.st.DeviceName);
    EXPECT_EQ(std::to_string(15 * 0x200 + 0x400 + 0x80 + 0x80), Label(rig.h.view, 0));
    EXPECT_EQ("512", Label(rig.h.view, 1));  // one label per row: banks 0 to 3
    EXPECT_EQ(std::to_string(0x200 + 0x80), Label(rig.h.view, 4));
    EXPECT_EQ(100, rig.h.view.LastProgress());
}

TEST(IntelFlows, EdgeCasesOfTheImageAndTheSettings) {
    const Bytes data16 = Pattern(16, 7);
    // head, the data padded with 0xFF to n bytes, tail.
    auto block = [](Bytes head, const Bytes& data, size_t n, const Bytes& tail) {
        head.insert(head.end(), data.begin(), data.end());
        head.resize(head.size() + n - data.size(), 0xFF);
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    struct Case {
        std::string name;
        int32_t model;
        std::string board;
        std::string lines;
        std::string hex;
        Bytes wire;
    };
    const std::string erased = HexText({{1, 0x4000, Bytes(0x200, 0xFF)}});
    const std::string erasedRam = HexText({{-1, 0x8000, Bytes(0x200, 0xFF)}});
    const std::string common = HexText({{2, 0xC000, data16}});
    const Bytes toCommon = block({'F'}, data16, 128, {0x00, 0xC0, 0x00, 'P'});
    const std::vector<Case> cases = {
        {"0xFF only, BOOT", 2, "intelboot", "/ADDRLEN=$10000", erased, {}},
        {"0xFF only, LOADER RAM", 3, "intelram", "/ADDRSTART=$8000 /ADDRLEN=$1000", erasedRam, {}},
        {"0xFF only, LOADER FLASH: no P", 4, "intelflash", "/ADDRLEN=$10000", erased, {}},
        {"0xC000 in the last bank", 4, "intelflash,banks=4", "/ADDRLEN=$10000", common, toCommon},
        {"/RUNADDR=0, LOADER RAM", 3, "intelram", "/ADDRLEN=$100 /RUNADDR=0",
         HexText({{-1, 0x80, data16}}), block({0x14, 0x00, 0x80, 0x00, 0x80}, data16, 128, {})},
        {"/RUNADDR=0, one bank", 4, "intelflash,banks=1", "/ADDRLEN=$4000 /RUNADDR=0",
         HexText({{0, 0x4000, data16}}), toCommon},
        // A window that ends inside a block still sends that block in full.
        {"/ADDRLEN= inside the last block, BOOT", 2, "intelboot", "/ADDRLEN=$110",
         HexText({{-1, 0x100, data16}}), block({0xFF}, data16, 256, {})},
        {"/ADDRLEN= inside the last block, RAM", 3, "intelram", "/ADDRSTART=$8000 /ADDRLEN=$1010",
         HexText({{-1, 0x9000, data16}}), block({0x14, 0x90, 0x00, 0x00, 0x80}, data16, 128, {})},
        // Lower-case digits are the digits they are: one erased byte, nothing to send.
        {"lower-case digits", 2, "intelboot", "/ADDRLEN=$100", ":01000000ff00\r\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(MakeBoard(c.board));
        EXPECT_EQ(0, rig.Run(c.model, c.hex, Lines(c.lines))) << rig.h.view.Dump();
        EXPECT_EQ(c.wire, rig.Sent());
        EXPECT_EQ(IntelMsgProgramedOk, rig.h.view.LastStatus());
    }
    // The record at 0xC000 is in the board's last bank, whatever bank was switched in.
    Rig rig(MakeBoard("intelflash,banks=4"));
    rig.Run(4, common, Lines("/ADDRLEN=$10000 /ERASEFLASH"));
    const Bytes& flash = rig.Board<IntelFlashBoard>().Flash();
    EXPECT_EQ(data16, Bytes(flash.begin() + 0xC000, flash.begin() + 0xC010));
}

TEST(IntelFlows, SettingsAndImagesWithoutAPlaceAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::string name;
        int32_t model;
        std::string board;
        std::string lines;  // step lines, blank between them
        std::string hex;
        const char* text;
        std::string values;  // what follows the text
    };
    const std::string hex = HexText({{-1, 0x8000, Pattern(16, 9)}});
    const std::string bootPast =
        HexText({{-1, 0x0F00, Pattern(16, 1)}, {-1, 0x1800, {0xFF, 1, 2}}});
    const std::string ramBelow = HexText({{-1, 0x7FF0, {0xFF, 2, 3}}, {-1, 0x8000, {1}}});
    const std::string bank3 = HexText({{3, 0x4000, {5, 6}}});
    const std::string common = HexText({{-1, 0xE000, {7}}});
    const std::string at = IntelMsgBytesFirstAt, bank = IntelMsgInBank;
    const std::vector<Case> cases = {
        {"/ADDRLEN=0, BOOT", 2, "intelboot", "/ADDRLEN=0", hex, IntelMsgAddrLenBelowRows, "0 < 1"},
        {"/ADDRLEN=0, RAM", 3, "intelram", "/ADDRSTART=$8000 /ADDRLEN=0", hex,
         IntelMsgAddrLenBelowRows, "0 < 1"},
        {"past 16 banks", 4, "intelflash", "/ADDRLEN=$40001 /FLASHID", hex, IntelMsgBankedAddrLen,
         "262145"},
        {"RAM window past 64 KB", 3, "intelram", "/ADDRSTART=$F000 /ADDRLEN=$2000 /ERASERAM", hex,
         IntelMsgRamWindow, "0xF000 + 0x2000"},
        {"RAM length of 64 KB", 3, "intelram", "/ADDRSTART=0 /ADDRLEN=$10000 /ERASERAM", hex,
         IntelMsgRamWindow, "0x0 + 0x10000"},
        {"run address past 16 bits", 3, "intelram", "/ADDRLEN=$100 /RUNADDR=$12345", "",
         IntelMsgRunAddr16, "0x12345"},
        // Data without a place is a malformed image (12), named in the message box.
        {"BOOT data past /ADDRLEN=", 2, "intelboot", "/ADDRLEN=$1000", bootPast, LostOutsideWindow,
         "2 data bytes will not be programmed, the first at 0x1801"},
        {"RAM data below /ADDRSTART=", 3, "intelram", "/ADDRSTART=$8000 /ADDRLEN=$1000 /ERASERAM",
         ramBelow, LostOutsideWindow, "2 data bytes will not be programmed, the first at 0x7FF1"},
        {"flash bank past the last", 4, "intelflash", "/ADDRLEN=$8000 /FLASHID /ERASEFLASH", bank3,
         LostOutsideWindow, "2 data bytes will not be programmed, the first at 0x34000"},
        {"common window past /ADDRLEN=", 4, "intelflash", "/ADDRLEN=$6000", common,
         LostOutsideWindow, "1 data byte will not be programmed, the first at 0xE000"},
        {"CPU addresses outside both windows", 4, "intelflash,banks=4", "/ADDRLEN=$10000",
         HexText({{-1, 0x2000, Pattern(16, 7)}, {-1, 0x9000, Pattern(16, 7)}}), LostBankWindows,
         "32 data bytes will not be programmed, the first at 0x2000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(MakeBoard(c.board));
        const bool image =
            std::string(c.text) == LostOutsideWindow || std::string(c.text) == LostBankWindows;
        EXPECT_EQ(image ? 12 : 10, rig.Run(c.model, c.hex, Lines(c.lines)));
        if (image) {
            EXPECT_EQ(RunImageFile, rig.h.st.RunError);
            const auto boxes = rig.h.view.Messages();
            ASSERT_EQ(1u, boxes.size());
            EXPECT_NE(std::string::npos, boxes[0].Text.find(c.values)) << boxes[0].Text;
            EXPECT_NE(std::string::npos, boxes[0].Text.find(c.text)) << boxes[0].Text;
        } else {
            EXPECT_EQ(RunBadStepValue, rig.h.st.RunError);
            EXPECT_EQ(c.text + c.values, rig.h.view.LastStatus());
            EXPECT_EQ(StatusColorError, rig.h.view.LastStatusColour());
            EXPECT_EQ(1u, rig.h.view.StatusTexts().size());  // the refusal is the step's only text
        }
        EXPECT_EQ(Bytes{}, rig.Sent());
    }
}

// Every fault ends the step with its own text (or "BREAK"), never a success, and nothing is
// sent once the station has seen it.
TEST(IntelFlows, FaultsEndTheStepWithoutASuccessText) {
    const std::string image = HexText({{1, 0x4000, Pattern(0x600, 5)}});
    const std::string ramImage = HexText({{-1, 0x8000, Pattern(0x600, 5)}});
    const std::string ram = "/ADDRSTART=$8000 /ADDRLEN=$1000", flash = "/ADDRLEN=$10000";
    struct Case {
        std::string name;
        int32_t model;
        std::string board;
        std::string lines;
        std::string hex;
        size_t stopAfterBytes;  // STOP once this many bytes were sent; 0: at 5 s
        int exit;
        std::string status;   // the last status, "" when the step showed none
        std::string message;  // the start of the message box, "" for none
    };
    const std::string bad = ":10400000000102030405060708090A0B0C0D0E0F00\r\nhello\r\n";
    const std::string boot = HexText({{-1, 0, Pattern(0x600, 5)}});
    // Silence, negative answers, noise, a vanished port and STOP in general are rows of the
    // fault matrix; these are the waits and refusals of these protocols in particular.
    const std::vector<Case> cases = {
        {"STOP between BOOT blocks", 2, "intelboot", "/ADDRLEN=$1000", boot, 2 * 257, 1, TextBreak,
         ""},
        {"STOP waiting for a RAM block's answer", 3, "intelram", ram, ramImage, 3 * 133, 1,
         TextBreak, ""},
        {"STOP waiting for the first flash block's answer", 4, "intelflash", flash, image, 132, 1,
         TextBreak, ""},
        {"STOP waiting for '['", 4, "intelflash", flash, image, 132 + 1, 1, TextBreak, ""},
        {"STOP waiting for '_'", 4, "intelflash", flash, image, 132 + 2 * 132, 1, TextBreak, ""},
        {"flash code outside the table", 4, "intelflash,flash=9", flash + " /FLASHID /ERASEFLASH",
         image, 0, 2, IntelMsgFlashIdError, ""},
        {"missing image", 2, "intelboot", "/ADDRLEN=$1000", "", 0, 12, "", MsgCannotOpenFile},
        {"not a hex file, LOADER RAM", 3, "intelram", ram + " /ERASERAM", bad, 0, 12, "",
         MsgNotHexFile},
        {"not a hex file, LOADER FLASH", 4, "intelflash", flash + " /FLASHID /ERASEFLASH", bad, 0,
         12, "", MsgNotHexFile},
        {"/SAVE of an Intel image, BOOT", 2, "intelboot", "/ADDRLEN=$1000 /SAVE", boot, 0, 12, "",
         MsgNotHexFile},
    };
    avrtest::TempDir cwd;
    avrtest::InFolder inFolder(cwd.Path());  // where a .BIN copy would go
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(MakeBoard(c.board));
        size_t sentAtStop = 0;
        auto stop = [&] {
            sentAtStop = rig.h.Wire().Sent.size();
            rig.h.st.RunError = RunStopped;
        };
        if (c.stopAfterBytes > 0)
            rig.h.view.When([&] { return rig.h.Wire().Sent.size() >= c.stopAfterBytes; }, stop);
        const int exit = c.hex.empty() ? rig.RunFile(c.model, "missing.hex", Lines(c.lines))
                                       : rig.Run(c.model, c.hex, Lines(c.lines));
        EXPECT_EQ(c.exit, exit) << rig.h.view.Dump();
        EXPECT_FALSE(rig.SawResultOk()) << rig.h.view.Dump();
        if (!c.status.empty()) {
            EXPECT_EQ(0u, rig.h.view.LastStatus().rfind(c.status, 0)) << rig.h.view.LastStatus();
            EXPECT_EQ(StatusColorError, rig.h.view.LastStatusColour());
        }
        const auto messages = rig.h.view.Messages();
        if (c.message.empty()) {
            EXPECT_TRUE(messages.empty());
        } else {
            ASSERT_EQ(1u, messages.size());
            EXPECT_EQ(0u, messages[0].Text.rfind(c.message, 0)) << messages[0].Text;
        }
        if (c.exit == 1) {
            EXPECT_EQ(sentAtStop, rig.Sent().size()) << "sent after STOP";
        }
        // A bad image or an unknown flash never costs the board its program.
        if (c.exit == 2 || (c.exit == 12 && c.lines.find("/SAVE") == std::string::npos)) {
            for (uint8_t b : rig.Sent()) EXPECT_TRUE(b == '(') << "sent " << int{b};
        }
    }
}

}  // namespace
}  // namespace ps
