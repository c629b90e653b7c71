// SPDX-License-Identifier: MIT
// "SHARC-SPLIT 32b" end to end: step file, run controller, flow and the simulated bridge
// with the DSP's split-flash loader, under the virtual clock.
#include <gtest/gtest.h>

#include "run/StepResult.h"
#include "images/ImageFile.h"
#include "images/ImageReport.h"
#include "sim/SharcSplitBoard.h"
#include "targets/bootloader/sharc/SharcSplitFlow.h"
#include "targets/bootloader/sharc/SharcTexts.h"
#include "targets/sharc/SharcRig.h"

namespace {

using namespace pstest;
using ps::sim::SharcSplitBoard;
using Harness = SharcHarness<SharcSplitBoard>;
using CallKind = ps::sim::RecordingView::CallKind;

std::unique_ptr<SharcSplitBoard> Board(SharcSplitBoard::Options options = {}) {
    return std::make_unique<SharcSplitBoard>(options);
}

std::string Cat(const std::string& a, const std::string& b) {
    return a + b;
}

// Data in page 0 (over the board's old program), page 2 running into page 3, and page 7:
// with the old program in page 1, pages 0, 1, 2, 3 and 7 differ (mask 0x8F).
constexpr uint32_t ImageWords = 0x300 + 0x30 + 0x80;
Bytes SampleImage() {
    Bytes image = BlankSharcFlash();
    FillWords(image, 0x0000, 0x300, 1);
    FillWords(image, 2 * SharcPage + 0x7FF0, 0x30, 2);
    FillWords(image, 7 * SharcPage + 0x100, 0x80, 3);
    return image;
}

std::string LastLabel(const ps::sim::RecordingView& view, int index) {
    std::string text = "(none)";
    for (const auto& call : view.OfKind(CallKind::ByteLabel))
        if (call.A == index) text = call.Text;
    return text;
}

// Through the bridge no 0xC8 goes out without its partner and no 0xC9 but the last.
bool EscapedThroughout(const Bytes& sent) {
    for (size_t i = 0; i + 1 < sent.size(); ++i) {
        if (sent[i] == 0xC8 && sent[i + 1] != 0x37 && sent[i + 1] != 0x36) return false;
        if (sent[i] == 0xC9) return false;
    }
    return !sent.empty() && sent.back() == 0xC9;
}

std::vector<std::string> Step(const std::string& file, std::vector<std::string> more) {
    std::vector<std::string> lines = {"/PS=" + file, "/AUTOCONTINUE"};
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

TEST(SharcSplitFlow, ProgramsTheBoardInEveryConnectionAndEraseVariant) {
    const Bytes unlock = {'K', 'B', 'o', 'T', 'a', 'p', 's'};
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        const char* Name;
        bool Usb;
        std::vector<std::string> Lines;
        Bytes Opening;  // everything up to the loader's 'F' and its blank
        bool FullErase;
    } variants[] = {
        {"bridge", false, {}, join({{'A'}, unlock, {'P', 's'}, unlock, {'F', ' '}}), false},
        {"sinhro, simulate, full erase",
         false,
         {"/SINHRO", "/SIMULATEFLASH", "/ERASEFLASH"},
         join({{'A'}, unlock, {'p', 'P', 's'}, unlock, {'M', 'F', ' '}}),
         true},
        {"usb", true, {"/USB", "/SINHRO"}, join({{'G', 'P', 's'}, unlock, {'F', ' '}}), false},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.Name);
        SharcSplitBoard::Options options;
        options.Usb = v.Usb;
        Harness h(Board(options));
        const Bytes image = SampleImage();
        auto more = v.Lines;
        more.push_back("/CHECKSUM");
        h.StepFile(Step(h.Image("image.hex", RecordFile(image)), more));

        ASSERT_EQ(ps::ExitSuccess, h.Run()) << h.view.Dump();
        EXPECT_TRUE(h.board.Flash() == image);
        EXPECT_EQ(Cat(ps::SharcTextProgramedOk, ps::TextCheckSumOk), h.view.LastStatus());
        EXPECT_EQ(ps::StatusColorNormal, h.view.LastStatusColour());
        EXPECT_EQ(100, h.view.LastProgress());
        EXPECT_EQ(std::to_string(ImageWords), LastLabel(h.view, 0));
        EXPECT_EQ(std::to_string(0x300), LastLabel(h.view, 1));
        EXPECT_EQ(std::to_string(0x20), LastLabel(h.view, 4));  // page 3

        const Bytes sent = h.Wire().SentBytes();
        ASSERT_GE(sent.size(), v.Opening.size());
        EXPECT_EQ(v.Opening, Bytes(sent.begin(), sent.begin() + v.Opening.size()));
        EXPECT_EQ(1, h.board.ExchangesEnded());
        EXPECT_EQ(0xC9, sent.back());
        // The image's bytes C8 00 C9 FF: escaped through the bridge, as they are behind USB.
        if (v.Usb) {
            EXPECT_TRUE(Contains(sent, {0xC8, 0x00, 0xC9, 0xFF}));
        } else {
            EXPECT_TRUE(EscapedThroughout(sent));
            EXPECT_TRUE(Contains(sent, {0xC8, 0x37, 0x00, 0xC8, 0x36, 0xFF}));
        }

        if (v.FullErase) {
            EXPECT_EQ(1, h.board.FullErases());
            EXPECT_TRUE(h.board.EraseMasks().empty());
            ExpectStatusesInOrder(h.view, {Cat(ps::SharcTextErasingMemory, ps::SharcTextOk),
                                           ps::SharcTextProgramming});
        } else {
            // Pages from 7 down, then the whole flash for "/CHECKSUM".
            std::vector<std::pair<uint32_t, uint32_t>> asked;
            for (uint32_t p = 8; p-- > 0;)
                asked.emplace_back(p * SharcPage, p * SharcPage + SharcPage - 1);
            asked.emplace_back(0, SharcWords - 1);
            EXPECT_EQ(asked, h.board.CrcRanges());
            EXPECT_EQ(std::vector<uint16_t>{0x008F}, h.board.EraseMasks());
            const std::string first = v.Usb ? ps::SharcTextConnectingUsb
                                            : Cat(ps::SharcTextInitializingAtmel, ps::SharcTextOk);
            ExpectStatusesInOrder(
                h.view,
                {first, Cat(ps::SharcTextConnectingSharc, ps::SharcTextOk),
                 "erasing sectors... (5/8) ok", "programming... (5/8)", ps::SharcTextVerifying});
        }
    }
}

TEST(SharcSplitFlow, ABoardThatHoldsTheImageGetsMaskZeroAndNoRecords) {
    Harness h(Board());
    const Bytes image = SampleImage();
    h.StepFile(Step(h.Image("image.hex", RecordFile(image)), {"/CHECKSUM"}));
    ASSERT_EQ(ps::ExitSuccess, h.Run()) << h.view.Dump();
    const size_t records = h.board.Records().size();

    // The same step again: every page matches.
    h.view.ClearRecord();
    ASSERT_EQ(ps::ExitSuccess, h.Run()) << h.view.Dump();
    EXPECT_EQ(0x0000, h.board.EraseMasks().back());
    EXPECT_EQ(records, h.board.Records().size());
    EXPECT_TRUE(h.board.Flash() == image);
    EXPECT_TRUE(h.view.SawStatus("erasing sectors... (0/8) ok"));
    EXPECT_TRUE(h.view.SawStatus("programming... (0/8)"));
    EXPECT_EQ(Cat(ps::SharcTextProgramedOk, ps::TextCheckSumOk), h.view.LastStatus());
    // Every cell the image loads is shown programmed, none is left "loaded".
    int programmed = 0;
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 32; ++c) {
            EXPECT_NE(ps::LoadedColour, h.st.GetBlock(r, c)) << r << "," << c;
            programmed += h.st.GetBlock(r, c) == ps::ProgrammedColour;
        }
    }
    EXPECT_GT(programmed, 0);
}

TEST(SharcSplitFlow, SendsTheRecordsThatTouchAChangedPageOnly) {
    // The board holds the image except for one word in page 1. A record running from
    // page 0 into page 1 is sent, as are page 1's own; records wholly in pages 0 or 2 are not.
    Bytes image = BlankSharcFlash();
    FillWords(image, 0x7F00, 0x200, 5);                         // pages 0 and 1
    FillWords(image, 2 * SharcPage, 0x10, 6);                   // page 2
    const std::string file = RecordLine(image, 0x7F00, 0xF8) +  // page 0 only
                             RecordLine(image, 0x7FF8, 0x10) +  // 0x7FF8..0x8007: 0 -> 1
                             RecordLine(image, 0x8008, 0xF8) +  // page 1 only
                             RecordLine(image, 2 * SharcPage, 0x10);
    SharcSplitBoard::Options blank;
    blank.Blank = true;
    Harness h(Board(blank));
    h.board.Flash() = image;
    h.board.Flash()[4 * 0x8100] = 0x00;
    h.StepFile(Step(h.Image("image.hex", file), {}));

    ASSERT_EQ(ps::ExitSuccess, h.Run()) << h.view.Dump();
    EXPECT_EQ(std::vector<uint16_t>{0x0002}, h.board.EraseMasks());
    std::vector<uint32_t> sent;
    for (const auto& r : h.board.Records()) sent.push_back(r.FirstWord);
    EXPECT_EQ((std::vector<uint32_t>{0x7FF8, 0x8008}), sent);
    EXPECT_TRUE(h.board.Flash() == image);
}

TEST(SharcSplitFlow, FailuresEndWithTheirOwnTextAndNeverInSuccess) {
    const std::string goodFile = RecordFile(SampleImage());
    const uint32_t red = ps::StatusColorError, black = ps::StatusColorNormal;
    const struct {
        const char* Name;
        SharcSplitBoard::Options Options;
        bool Negative;
        std::string File;
        std::function<void(Harness&)> Operator;
        int Exit;
        std::string LastStatus;
        uint32_t Colour;      // of the last status
        std::string Message;  // the start of the message box, "" none
        bool Erased;          // anything erased or written
    } cases[] = {
        // clang-format off
        {"bridge refuses", {}, true, goodFile, nullptr,
         5, "initializing atmel... ERROR", red, "", false},
        {"loader refuses", {false, true, 0, false}, false, goodFile, nullptr,
         5, "connecting sharc... ok ERROR", red, "", false},
        {"record refused", {false, false, 3, false}, false, goodFile, nullptr,
         8, "ERRORS: 1", red, ps::SharcMsgRecordRefused, true},
        // A bad file is reported in its message box before the port is opened: no status.
        // (Silence, noise, a lost port, STOP at any moment and a file that is no image at
        // all are the fault matrix's, tests/e2e.)
        {"record beyond the flash", {}, false, goodFile + "S0203FFFF0102030405060708\r\n", nullptr,
         ps::ExitImageFile, "", black, std::string(ps::SharcMsgBeyondFlash) + "40000\r", false},
        {"record shorter than its count", {}, false, goodFile + "S02000010AABBCCDD\r\n", nullptr,
         ps::ExitImageFile, "", black, ps::MsgNotHexFile, false},
        {"STOP while the pages are compared", {}, false, goodFile,
         [](Harness& h) {
             h.view.When([&h] { return !h.board.CrcRanges().empty(); },
                         [&h] { ps::StopBtnClick(h.st); });
         },
         ps::ExitBreak, ps::TextBreak, red, "", false},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Harness h(Board(c.Options));
        h.board.faults.Negative = c.Negative;
        const Bytes before = h.board.Flash();
        h.StepFile(Step(h.Image("image.hex", c.File), {"/CHECKSUM"}));
        if (c.Operator) c.Operator(h);

        EXPECT_EQ(c.Exit, h.Run()) << h.view.Dump();
        EXPECT_EQ(c.LastStatus, h.view.LastStatus());
        EXPECT_EQ(c.Colour, h.view.LastStatusColour());
        EXPECT_FALSE(h.view.SawStatusContaining(ps::SharcTextProgramedOk)) << h.view.Dump();
        const auto messages = h.view.Messages();
        if (c.Message.empty()) {
            EXPECT_TRUE(messages.empty());
        } else {
            ASSERT_EQ(1u, messages.size());
            EXPECT_EQ(0u, messages[0].Text.rfind(c.Message, 0)) << messages[0].Text;
        }
        EXPECT_EQ(c.Erased, h.board.Flash() != before);
        EXPECT_TRUE(h.board.EraseMasks().empty() || c.Erased);
        EXPECT_LT(h.clock.NowMs(), StopLimitMs + 1000);
    }
}

TEST(SharcSplitFlow, ARefusedRecordStopsTheSendingAndEndsTheExchange) {
    SharcSplitBoard::Options options;
    options.RefuseRecord = 2;
    Harness h(Board(options));
    h.StepFile(Step(h.Image("image.hex", RecordFile(SampleImage())), {}));
    EXPECT_EQ(ps::RunRecordNak, h.Run());
    EXPECT_EQ(2u, h.board.Records().size());  // nothing after the refused one
    EXPECT_EQ(1, h.board.ExchangesEnded());
    EXPECT_EQ(1, h.st.ErrorCount);
}

TEST(SharcSplitRecords, DecodesWholeRecordsOnly) {
    const struct {
        std::string Line;
        bool Ok;
        uint32_t First, Last;
    } cases[] = {
        {"S0112345601020304", true, 0x123456, 0x123456},
        {"S020000FF0102030405060708", true, 0xFF, 0x100},
        {"S0112345601020304A", true, 0x123456, 0x123456},  // a lone last digit is no pair
        {"S00000010", true, 0x10, 0x10},
        {"S011234", false, 0, 0},              // header cut short
        {"S0212345601020304", false, 0, 0},    // one word for a count of two
        {"S011234560102030405", false, 0, 0},  // a byte too many
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        ps::SharcRecord rec;
        ASSERT_EQ(c.Ok, ps::DecodeSharcRecord(c.Line, rec));
        if (!c.Ok) continue;
        EXPECT_EQ(c.First, rec.FirstWord);
        EXPECT_EQ(c.Last, rec.LastWord);
        EXPECT_EQ('S', rec.Bytes[0]);
    }
    ps::SharcRecord rec;
    EXPECT_THROW(ps::DecodeSharcRecord("S01123456010203G4", rec), ps::EConvertError);
}

}  // namespace
