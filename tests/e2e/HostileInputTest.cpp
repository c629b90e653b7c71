// SPDX-License-Identifier: MIT
// Hostile input against the whole station, an "ATMEL" step on a simulated AVR whose flash
// holds an old program. Each row is an image, a value or an operator action that once ended
// in "ok" on a board that did not hold the image; the expected result is what the operator
// and the board see: exit status, status text, whether the chip was erased, the flash.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "images/ImageAccount.h"
#include "images/ImageFile.h"
#include "projects/StepFile.h"
#include "sim/AvrBoard.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrFlow.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/AvrRig.h"

namespace ps {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes OldProgram = avrtest::SampleImage(2048, 3, false);
const Bytes NewImage = avrtest::SampleImage(1024, 5);
const std::string NewHex = avrtest::IntelHex(NewImage, NewImage.size());
const std::string OkText = std::string(MsgProgramed) + MsgResultOk + MsgChecksumOk;
const std::string Name = "IMAGE.HEX";  // as the step line is read

struct Outcome {
    int Exit = -1;
    std::string LastStatus;
    uint32_t Colour = 0;
    bool Erased = false;
    Bytes Flash;  // the first 2048 bytes
    std::vector<std::string> Messages, Warnings;
    size_t BytesSent = 0;
    size_t FileLines = 0;  // "FILE: " lines shown
    int32_t StepsLoaded = 0;
    std::string Dump;
};

std::vector<std::string> AvrStep(const std::vector<std::string>& extra) {
    std::vector<std::string> lines = {"/PA=image.hex", "/ATMEL=6", "/CHECKSUM", "/AUTOCONTINUE"};
    lines.insert(lines.end(), extra.begin(), extra.end());
    return lines;
}

// Runs a project on a board that holds OldProgram; `arm` may script the operator.
Outcome RunProject(const std::vector<std::string>& step, const std::string& image,
                   const std::function<void(pstest::StationHarness&)>& arm = {}) {
    pstest::StationHarness h(std::make_unique<sim::AvrBoard>(avrtest::Rig::OptionsFor(6)));
    avrtest::InFolder inFolder(h.dir.Path());
    auto& board = h.Board<sim::AvrBoard>();
    std::copy(OldProgram.begin(), OldProgram.end(), board.Flash().begin());
    h.StepFile(step);
    h.dir.Write("image.hex", image);
    h.view.AtTime(10 * 60 * 1000, [&h] { StopBtnClick(h.st); });  // never a hung test
    if (arm) arm(h);
    Outcome out;
    out.Exit = h.Run();
    out.LastStatus = h.view.LastStatus();
    out.Colour = h.view.LastStatusColour();
    out.Erased = board.EraseCount() > 0;
    out.Flash.assign(board.Flash().begin(), board.Flash().begin() + 2048);
    for (const auto& m : h.view.Messages()) out.Messages.push_back(m.Text);
    out.Warnings = h.view.Warnings();
    out.BytesSent = h.Wire().SentBytes().size();
    out.FileLines = h.view.FileNames().size();
    out.StepsLoaded = h.st.CurrentStep - 1;
    out.Dump = h.view.Dump();
    return out;
}

Bytes Programmed(const Bytes& image) {
    Bytes flash = image;
    flash.resize(2048, 0xFF);
    return flash;
}

TEST(HostileInput, ImagesNeverEndInOkUnlessTheBoardHoldsThem) {
    struct Row {
        const char* Name;
        std::string Image;
        std::string Message;  // "" = programmed: no message box, the new image in the flash
        std::string Warning;  // start of the one warning expected, "" = none
        bool ReplacedDuringTheStep = false;
    };
    const std::string data = ":0400000001020304F2\n";
    const char* const Unreached = "4 data bytes will not be programmed, the first at 0x10000 ";
    std::string badChecksum = NewHex;
    char& digit = badChecksum[badChecksum.find('\n', badChecksum.find('\n') + 1) - 1];
    digit = digit == '0' ? '1' : '0';  // the last digit of line 2
    const std::vector<Row> rows = {
        {"empty file", "", NotHexMessage(Name, ReasonNoDataRecords), ""},
        {"blank lines only", "\n\r\n\n", NotHexMessage(Name, ReasonNoDataRecords), ""},
        {"end record only", ":00000001FF\n", NotHexMessage(Name, ReasonNoDataRecords), ""},
        {"data above 64 KB (type 04)", ":020000040001F9\n" + data,
         NotHexMessage(Name, std::string(Unreached) + "(line 2): " + LostExtendedAddress), ""},
        {"data in a segment (type 02)", ":020000021000EC\n\n" + data,
         NotHexMessage(Name, std::string(Unreached) + "(line 3): " + LostExtendedAddress), ""},
        {"a line longer than any record", data + ":" + std::string(ImageLineLimit, '0'),
         NotHexMessage(Name, std::string(ReasonLongLine) + "2"), ""},
        {"a base of 0 is harmless", ":020000040000FA\n" + NewHex, "", ""},
        {"wrong record checksum", badChecksum, "", WarnRecordChecksum + Name + " line 2: "},
        // A build writes the next firmware while the step runs: the board still gets the
        // image the step began with, and the checksum agrees with it.
        {"replaced during the step", NewHex, "", "", true},
    };
    const Bytes next = avrtest::SampleImage(1024, 99);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const Outcome out = RunProject(AvrStep({"/ADDRLEN=2048"}), row.Image, [&](auto& h) {
            if (!row.ReplacedDuringTheStep) return;
            h.view.AtStatus(MsgErasing, [&h, &next] {
                h.dir.Write("image.hex", avrtest::IntelHex(next, next.size()));
            });
        });
        if (row.Message.empty()) {
            EXPECT_EQ(ExitSuccess, out.Exit) << out.Dump;
            EXPECT_EQ(OkText, out.LastStatus);
            EXPECT_EQ(Programmed(NewImage), out.Flash);
        } else {
            EXPECT_EQ(ExitImageFile, out.Exit) << out.Dump;
            EXPECT_EQ(std::vector<std::string>{row.Message}, out.Messages);
            EXPECT_FALSE(out.Erased);
            EXPECT_EQ(OldProgram, out.Flash);
            EXPECT_EQ(0u, out.BytesSent);  // not even connected
        }
        ASSERT_EQ(row.Warning.empty() ? 0u : 1u, out.Warnings.size());
        if (!row.Warning.empty()) {
            EXPECT_EQ(0u, out.Warnings[0].rfind(row.Warning, 0)) << out.Warnings[0];
        }
    }
}

TEST(HostileInput, ValuesThatGiveNoUsableRangeAreRefusedBeforeAnythingIsSent) {
    const std::string bad = TextBadValue;
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"/ADDRLEN=$FFFFFFFFF"}, bad + "/ADDRLEN=$FFFFFFFFF"},  // wraps to -1
        {{"/ADDRLEN=$80000000"}, bad + "/ADDRLEN=$80000000"},
        {{"/ADDRSTART=2147483647", "/ADDRLEN=2147483647"}, bad + "/ADDRLEN=2147483647"},
        {{"/ADDRSTART=-1", "/ADDRLEN=2048"}, bad + "/ADDRSTART=-1"},
        {{"/ADDRLEN=0"}, bad + "/ADDRLEN=0"},            // an empty range
        {{}, bad + KeyAddrLen + "0"},                    // no length at all: the same
        {{"/ADDRLEN=$30000"}, bad + "/ADDRLEN=$30000"},  // past the flash
        {{"/ADDRSTART=$FF00", "/ADDRLEN=1024"}, bad + "/ADDRLEN=1024"},  // checksum words
        {{"/ADDRLEN=1"}, bad + "/ADDRLEN=1"},                            // a checksum over no word
        {{std::string("/PA=image\0.hex", 14), "/ADDRLEN=2048"}, bad + "/PA=IMAGE?.HEX"},
    };
    for (const auto& [lines, status] : rows) {
        SCOPED_TRACE(status);
        const Outcome out = RunProject(AvrStep(lines), NewHex);
        EXPECT_EQ(ExitStepFile, out.Exit) << out.Dump;
        EXPECT_EQ(status, out.LastStatus);
        EXPECT_EQ(StatusColorError, out.Colour);
        EXPECT_EQ(0u, out.BytesSent);
        EXPECT_FALSE(out.Erased);
        EXPECT_EQ(OldProgram, out.Flash);
    }
}

TEST(HostileInput, StopEndsTheRunWhereverItIs) {
    std::vector<std::string> longRun;  // many steps passed over, then the real one
    for (int i = 0; i < 2000; ++i)
        longRun.insert(longRun.end(), {"/PA=image.hex", "/S", "*** NEXT ***"});
    const auto real = AvrStep({"/ADDRLEN=2048"});
    longRun.insert(longRun.end(), real.begin(), real.end());
    std::string longImage;
    for (int i = 0; i < 300; ++i) longImage += NewHex;
    struct Row {
        const char* Name;
        std::vector<std::string> Step;
        std::string Image;
        std::function<void(pstest::StationHarness&)> Stop;
        int32_t MaxSteps;  // steps loaded before the run ended
        bool BeforeTheFileLine = false;
    };
    const std::vector<Row> rows = {
        {"between passed-over steps", longRun, NewHex,
         [](auto& h) { h.view.AfterPumps(5, [&h] { StopBtnClick(h.st); }); }, 10},
        // The image account reads the file before the step's setup shows its name.
        {"while the image account reads a long image", real, longImage,
         [](auto& h) { h.view.AfterPumps(3, [&h] { StopBtnClick(h.st); }); }, 1, true},
        {"while a long image is read (the flow reads it first)", real, longImage,
         [](auto& h) {
             h.view.When([&h] { return !h.view.FileNames().empty(); },
                         [&h] { h.view.AfterPumps(5, [&h] { StopBtnClick(h.st); }); });
         },
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const Outcome out = RunProject(row.Step, row.Image, row.Stop);
        EXPECT_EQ(ExitBreak, out.Exit) << out.Dump;
        EXPECT_EQ(TextBreak, out.LastStatus);
        EXPECT_LE(out.StepsLoaded, row.MaxSteps);
        if (row.BeforeTheFileLine) {
            EXPECT_EQ(0u, out.FileLines) << out.Dump;
        }
        EXPECT_FALSE(out.Erased);
        EXPECT_EQ(OldProgram, out.Flash);
    }
    // Without STOP the same long run goes through its 2001 steps.
    const Outcome through = RunProject(longRun, NewHex);
    EXPECT_EQ(ExitSuccess, through.Exit) << through.Dump;
    EXPECT_EQ(Programmed(NewImage), through.Flash);
}

}  // namespace
}  // namespace ps
