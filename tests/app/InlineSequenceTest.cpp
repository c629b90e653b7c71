// SPDX-License-Identifier: MIT
// The inline step sequence against the simulated boards: every error code with its text,
// negative answers counted, STOP in every wait, bad image files. (The faults of the line are
// rows of the fault matrix, tests/e2e/FaultMatrixTest.cpp.)
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "app/InlineRig.h"
#include "run/Texts.h"
#include "images/ImageFile.h"
#include "sim/Boot574Board.h"
#include "sim/EmulatorBoard.h"
#include "sim/MotorolaBoard.h"
#include "sim/SharcBootFlashBoard.h"
#include "targets/bootloader/sharc/SharcTexts.h"

namespace inlinetest {
namespace {

// A small image per model, and how to tell that the board holds it.
struct Model {
    const char* Name;
    const char* Board;
    std::string Key;  // the step's model key
    Chunks Image;
    int Kind;  // ImageFileText: 2 "S2", 1 "S1", 0 Intel HEX
    std::vector<std::string> Lines;
    std::function<bool(Rig&, const Chunks&)> Holds;
};

std::vector<Model> Models() {
    // Bytes 0x01..0x40: nothing that the bridge or a trigger below could mistake.
    Bytes plain(64);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i + 1);
    return {
        {"MOTOROLA",
         "motorola,memory=0x1000",
         "/P=",
         {{0x100, plain}},
         2,
         {"/ADDRLEN=$1000", "/ERASEFLASH"},
         [](Rig& r, const Chunks& c) {
             return r.Board<ps::sim::MotorolaBoard>().Memory() == Overlay(Bytes(0x1000, 0xFF), c);
         }},
        {"574-BOOT",
         "574boot",
         "/PAB=",
         {{0x1000, plain}},
         1,
         {},
         [](Rig& r, const Chunks& c) {
             return r.Board<ps::sim::Boot574Board>().Memory() ==
                    Overlay(ps::sim::OldProgram(0x10000), c);
         }},
        {"SHARC-Boot flash",
         "sharcboot",
         "/PSB=",
         {{0x0000, plain}},
         0,
         {"/ADDRLEN=$10000"},
         [](Rig& r, const Chunks& c) {
             return r.Board<ps::sim::SharcBootFlashBoard>().Flash() ==
                    Overlay(Bytes(0x10000, 0xFF), c);
         }},
        {"INTEL - EMULATOR",
         "emulator",
         "/PE=",
         {{0x0200, plain}},
         0,
         {"/SINHRO"},
         [](Rig& r, const Chunks& c) {
             return r.Board<ps::sim::EmulatorBoard>().Memory() ==
                    Overlay(ps::sim::OldProgram(0x10000), c);
         }},
    };
}

// The model's step with its image written, plus `extra` lines.
void ModelStep(Rig& rig, const Model& m, std::vector<std::string> extra = {}) {
    std::vector<std::string> lines = {m.Key +
                                      rig.Image("image.img", ImageFileText(m.Image, 32, m.Kind))};
    lines.insert(lines.end(), m.Lines.begin(), m.Lines.end());
    lines.insert(lines.end(), extra.begin(), extra.end());
    rig.Step(lines);
}

const Model& ModelNamed(const std::vector<Model>& models, const std::string& name) {
    for (const Model& m : models)
        if (name == m.Name) return m;
    return models.front();
}

TEST(InlineSequence, EveryErrorCodeEndsTheRunWithItsTextAndNothingLooksLikeSuccess) {
    const auto models = Models();
    struct Case {
        const char* Board;
        const char* Model;  // "" for a step without a model
        std::vector<std::string> Lines;
        int Exit;
        std::string Text;
        bool NothingSent;
    } cases[] = {
        {"generic,flash=0", "", {"/FLASHID"}, 2, ps::TextFlashIdError, false},
        {"generic,sig=123456", "", {"/DEVCHECK", "/ATMEL=6"}, 23, ps::TextAtmelIdError, false},
        {"generic,sig=1E9403", "", {"/DEVCHECK", "/ATMEL=6"}, 24, ps::TextWrongAtmel, false},
        {"generic,sig=000102", "", {"/DEVCHECK", "/ATMEL=6"}, 25, ps::TextAtmelProtected, false},
        {"sharcboot,negative",
         "SHARC-Boot flash",
         {},
         5,
         std::string(ps::SharcTextInitializingAtmel) + ps::SharcTextRefused,
         false},
        {"sharcboot,dsprefuses",
         "SHARC-Boot flash",
         {},
         5,
         std::string(ps::SharcTextConnectingSharc) + ps::TextOk + ps::SharcTextRefused,
         false},
        {"574boot",
         "574-BOOT",
         {"/CHECKSUM"},
         ps::ExitStepFile,
         std::string(ps::TextNoCheckSumFor) + "574-BOOT",
         true},
        {"emulator",
         "INTEL - EMULATOR",
         {"/CHECKSUM"},
         ps::ExitStepFile,
         std::string(ps::TextNoCheckSumFor) + "INTEL - EMULATOR",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Board);
        Rig rig(c.Board);
        if (*c.Model)
            ModelStep(rig, ModelNamed(models, c.Model), c.Lines);
        else
            rig.Step(c.Lines);
        EXPECT_EQ(rig.Run(), c.Exit) << rig.view.Dump();
        EXPECT_EQ(rig.view.LastStatus(), c.Text);
        EXPECT_EQ(rig.view.LastStatusColour(), ps::StatusColorError);
        EXPECT_FALSE(rig.SawSuccess());
        if (c.NothingSent) {
            EXPECT_TRUE(rig.Sent().empty());
        }
    }
}

TEST(InlineSequence, NegativeAnswersAreCountedIntoErrorsAndEveryOneOfThemIsShown) {
    // Sector erase, three records that cannot be joined, the start: five refusals.
    Rig rig("motorola,memory=0x1000,negative");
    const Chunks chunks = {
        {0x000, SampleBytes(16, 1)}, {0x100, SampleBytes(16, 2)}, {0x200, SampleBytes(16, 3)}};
    rig.Step({"/P=" + rig.Image("n.hex", ImageFileText(chunks, 32, 2)), "/ERASESECTORS=1"});
    EXPECT_EQ(rig.Run(), ps::ExitStepErrors) << rig.view.Dump();
    EXPECT_EQ(rig.view.LastStatus(), "ERRORS: 5");
    EXPECT_EQ(rig.view.LastStatusColour(), ps::StatusColorError);
    EXPECT_FALSE(rig.SawSuccess());
    ASSERT_EQ(rig.view.Messages().size(), 1u);
    EXPECT_EQ(rig.view.Messages()[0].Text, ps::TextEraseFail);
}

TEST(InlineSequence, StopInEveryWaitEndsWithBreakAndNoSuccess) {
    const auto models = Models();
    struct Case {
        const char* Model;
        std::vector<std::string> Lines;
        Bytes Sent;  // STOP once the station has sent this (Count times)
        int Count;
        Bytes Tail;  // what the station still sends after STOP, last
    } cases[] = {
        {"MOTOROLA", {"/SINHRO"}, {'s'}, 1, {}},
        {"MOTOROLA", {"/SIMULATEFLASH"}, {'M'}, 1, {}},
        {"MOTOROLA", {"/DEVCHECK", "/ATMEL=4"}, {'P'}, 1, {}},
        {"MOTOROLA", {"/DEVCHECK", "/ATMEL=4"}, {'I'}, 1, {}},
        {"MOTOROLA", {"/FUSESSET", "/ATMEL=6"}, {'F', 0xA0}, 1, {}},
        {"MOTOROLA", {"/FLASHID"}, {'('}, 1, {}},
        {"MOTOROLA", {"/ERASERAM"}, {0x0A, 0x00, 0x00, 0x10, 0x00}, 1, {}},
        {"MOTOROLA", {"/ERASESECTORS=1"}, {'K', '2'}, 1, {}},
        {"MOTOROLA", {}, {'2'}, 1, {}},  // the chip erase of "/ERASEFLASH"
        {"MOTOROLA", {"/UNLOCK"}, {'l'}, 1, {}},
        {"MOTOROLA", {"/UNLOCK"}, {'L', 0xE0}, 1, {}},
        {"MOTOROLA", {}, {'S', '2'}, 1, {}},
        {"MOTOROLA", {"/CHECKSUM"}, {'K', '4'}, 1, {}},
        {"MOTOROLA", {"/LOCKSET", "/ATMEL=6"}, {'L', 0xE0, 0x00}, 1, {}},
        {"MOTOROLA", {}, {'K', '0'}, 1, {}},
        {"574-BOOT", {"/SINHRO"}, {0x18}, 1, {}},
        // STOP while waiting for the ready answer: the frame still goes, then the end frame.
        {"574-BOOT", {}, {0x18}, 1, {0x40, 0x00, 0x00, 0x00, 0x00}},
        {"574-BOOT", {}, {0x00, 0x10, 0x00, 0x00, 0x20}, 1, {0x40, 0x00, 0x00, 0x00, 0x00}},
        {"SHARC-Boot flash", {}, {'A'}, 1, {}},
        {"SHARC-Boot flash", {}, {'K', 'B'}, 1, {}},
        {"SHARC-Boot flash", {}, {'P', 's'}, 1, {}},
        {"SHARC-Boot flash", {}, {'K', 'B'}, 2, {}},
        {"SHARC-Boot flash", {"/SIMULATEFLASH"}, {'M'}, 1, {}},
        {"SHARC-Boot flash", {}, {'F', 0x08}, 1, {}},
        {"SHARC-Boot flash", {}, {'S', 0x20, 0x00}, 1, {}},
        {"SHARC-Boot flash", {"/CHECKSUM"}, {'C', 0x00, 0x00, 0x00, 0x00}, 1, {}},
        {"INTEL - EMULATOR", {}, {'s'}, 1, {}},
        // No answer is awaited in the transfer; STOP between records still sends 'R'.
        {"INTEL - EMULATOR", {}, {'A'}, 1, {'R'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Model) + " after " + HexText(c.Sent));
        const Model& m = ModelNamed(models, c.Model);
        Rig rig(m.Board);
        ModelStep(rig, m, c.Lines);
        rig.view.When(
            [&] {
                const Bytes sent = rig.Sent();
                int n = 0;
                for (auto at = sent.begin();
                     (at = std::search(at, sent.end(), c.Sent.begin(), c.Sent.end())) != sent.end();
                     ++at)
                    ++n;
                return n >= c.Count;
            },
            [&] { ps::StopBtnClick(rig.st); });
        EXPECT_EQ(rig.Run(), ps::ExitBreak) << rig.view.Dump();
        EXPECT_EQ(rig.view.LastStatus(), ps::TextBreak);
        EXPECT_FALSE(rig.SawSuccess());
        EXPECT_LT(rig.clock.NowMs(), 10000);  // STOP acted at once, not at a time limit
        const Bytes sent = rig.Sent();
        if (!c.Tail.empty()) {
            ASSERT_GE(sent.size(), c.Tail.size());
            EXPECT_EQ(Bytes(sent.end() - static_cast<long>(c.Tail.size()), sent.end()), c.Tail);
        }
    }
}

TEST(InlineSequence, StopWhileTheSharcBootFlashSessionEndsShowsBreakAloneWithoutAPause) {
    const auto models = Models();
    const Model& m = ModelNamed(models, "SHARC-Boot flash");
    Rig rig(m.Board);
    rig.StepFile(
        {m.Key + rig.Image("boot.hex", ImageFileText(m.Image, 32, m.Kind)), "/ADDRLEN=$10000"});
    // The bridge never says 'O' to the closing 0xC9; the operator stops.
    auto& board = rig.Board<ps::sim::SharcBootFlashBoard>();
    rig.view.When([&] { return !rig.Sent().empty() && rig.Sent().back() == 0xC9; },
                  [&] { board.faults.Silent = true; });
    rig.view.AtTime(60000, [&] { ps::StopBtnClick(rig.st); });
    EXPECT_EQ(rig.Run(), ps::ExitBreak);
    EXPECT_TRUE(m.Holds(rig, m.Image));
    EXPECT_EQ(rig.view.LastStatus(), ps::TextBreak);
    EXPECT_FALSE(rig.SawSuccess());
    for (const auto& call : rig.view.OfKind(ps::sim::RecordingView::CallKind::Panels))
        EXPECT_EQ(call.C, 0) << "the CONTINUE panel was shown after STOP";
}

TEST(InlineSequence, ABadImageFileEndsTheRunWithItsMessageBeforeAnythingIsSent) {
    const auto models = Models();
    struct Case {
        const char* Model;
        std::string Text;  // "" for a file that does not exist
        std::string Message;
    } cases[] = {
        {"MOTOROLA", "", ps::MsgCannotOpenFile},
        {"MOTOROLA", "S2080000000102030405EB\r\n:10000000\r\n", ps::MsgNotHexFile},
        {"MOTOROLA", "S2100000000102\r\n", ps::MsgNotHexFile},  // shorter than its count
        {"574-BOOT", "", ps::MsgCannotOpenFile},
        {"574-BOOT", "S1051000AABB8F\r\nX\r\n", ps::MsgNotHexFile},
        {"574-BOOT", "S1051000AAZZ8F\r\n", "'$ZZ' is not a valid integer value"},
        {"SHARC-Boot flash", "", ps::MsgCannotOpenFile},
        {"SHARC-Boot flash", "S1051000AABB8F\r\n", ps::MsgNotHexFile},
        {"SHARC-Boot flash", ":0200000011GG00\r\n", "'$GG' is not a valid integer value"},
        {"INTEL - EMULATOR", "", ps::MsgCannotOpenFile},
        {"INTEL - EMULATOR", ":100000000102\r\n", ps::MsgNotHexFile},
        {"MOTOROLA", "S2" + std::string(ps::ImageLineLimit, '0') + "\r\n", ps::MsgNotHexFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Model) + " " + c.Text);
        const Model& m = ModelNamed(models, c.Model);
        Rig rig(m.Board);
        std::vector<std::string> lines = {
            m.Key + (c.Text.empty() ? rig.dir.File("missing.img") : rig.Image("bad.img", c.Text))};
        lines.insert(lines.end(), {"/SINHRO", "/ERASEFLASH"});
        rig.Step(lines);
        EXPECT_EQ(rig.Run(), ps::ExitImageFile) << rig.view.Dump();
        ASSERT_FALSE(rig.view.Messages().empty());
        EXPECT_EQ(rig.view.Messages()[0].Text.rfind(c.Message, 0), 0u)
            << rig.view.Messages()[0].Text;
        EXPECT_FALSE(rig.SawSuccess());
        EXPECT_TRUE(rig.Sent().empty()) << HexText(rig.Sent());
    }
}

TEST(InlineSequence, SaveCopiesTheImageTheLoaderReadAndAChecksumIsNeverStale) {
    const auto models = Models();
    const Model& m = ModelNamed(models, "MOTOROLA");
    Rig rig(m.Board);
    // Step 1 leaves a checksum behind; step 2 ("None") has no image: it compares with 0,
    // which a blank range gives, and never with step 1's value.
    const std::string image = rig.Image("fw.hex", ImageFileText(m.Image, 32, 2));
    rig.StepFile({"/P=" + image, "/ADDRLEN=$1000", "/ERASEFLASH", "/CHECKSUM", "/SAVE",
                  "/AUTOCONTINUE", "*** NEXT ***", "/ADDRSTART=$800", "/ADDRLEN=$100", "/CHECKSUM",
                  "/AUTOCONTINUE"});
    InFolder here(rig.dir.Path());
    EXPECT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
    EXPECT_EQ(rig.view.LastStatus(), std::string(ps::TextProgramedOkLower) + ps::TextCheckSumOk);
    std::ifstream copy(rig.dir.File("MEM 1.BIN"), std::ios::binary);
    const Bytes bin((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bin, Overlay(Bytes(0x1000, 0xFF), m.Image));
}

}  // namespace
}  // namespace inlinetest
