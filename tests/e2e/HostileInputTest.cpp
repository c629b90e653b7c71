// Hostile input against the whole station, an "ATMEL" step on a simulated AVR whose flash
// holds an old program. Each row is a file, a value or an operator action that once ended
// in "ok" on a board that did not hold the image; the expected result is what the
// operator and the board see: exit status, status text, whether the chip was erased and
// what the flash holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/StepResult.h"
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

const Bytes& OldProgram() {
    static const Bytes old = avrtest::SampleImage(2048, 3, false);
    return old;
}
const Bytes& NewImage() {
    static const Bytes image = avrtest::SampleImage(1024, 5);
    return image;
}
std::string NewHex() {
    return avrtest::IntelHex(NewImage(), NewImage().size());
}
const std::string OkText = std::string(MsgProgramed) + MsgResultOk + MsgChecksumOk;

struct Outcome {
    int Exit = -1;
    std::string LastStatus;
    uint32_t Colour = 0;
    bool Erased = false;
    Bytes Flash;  // the first 2048 bytes
    std::vector<std::string> Messages;
    std::vector<std::string> Warnings;
    size_t BytesSent = 0;
    int32_t StepsLoaded = 0;
    std::string Dump;
};

std::vector<std::string> AvrStep(const std::vector<std::string>& extra) {
    std::vector<std::string> lines = {"/PA=image.hex", "/ATMEL=6", "/CHECKSUM", "/AUTOCONTINUE"};
    lines.insert(lines.end(), extra.begin(), extra.end());
    return lines;
}

// Runs a project on a board that holds OldProgram(); `image` is image.hex, `arm` may
// script the operator.
Outcome RunProject(const std::vector<std::string>& step, const std::string& image,
                   const std::function<void(pstest::StationHarness&)>& arm = {}) {
    pstest::StationHarness h(std::make_unique<sim::AvrBoard>(avrtest::Rig::OptionsFor(6)));
    avrtest::InFolder inFolder(h.dir.Path());
    auto& board = h.Board<sim::AvrBoard>();
    std::copy(OldProgram().begin(), OldProgram().end(), board.Flash().begin());
    h.StepFile(step);
    h.dir.Write("image.hex", image);
    // A run that never ends fails the test instead of hanging it.
    h.view.AtTime(10 * 60 * 1000, [&h] { StopBtnClick(h.st); });
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
    out.StepsLoaded = h.st.CurrentStep - 1;
    out.Dump = h.view.Dump();
    return out;
}

Bytes Programmed(const Bytes& image) {
    Bytes flash = image;
    flash.resize(2048, 0xFF);
    return flash;
}

// A record of the image with its checksum spoiled.
std::string WithBadChecksum(std::string hex, size_t line) {
    size_t begin = 0;
    for (size_t i = 0; i < line; ++i) begin = hex.find('\n', begin) + 1;
    const size_t end = hex.find('\n', begin);
    char& digit = hex[end - 1];
    digit = digit == '0' ? '1' : '0';
    return hex;
}

TEST(HostileInput, ImagesNeverEndInOkUnlessTheBoardHoldsThem) {
    const std::string name = "IMAGE.HEX";  // as the step line is read
    struct Row {
        const char* Name;
        std::string Image;
        int Exit;
        std::string Message;  // "" = no message box
        bool Programmed;      // else the old program is untouched and the chip not erased
        std::string Warning;  // start of the one warning expected, "" = none
    };
    const std::string data = ":0400000001020304F2\n";
    const std::string longLine = ":" + std::string(ImageLineLimit, '0') + "\n";
    const std::vector<Row> rows = {
        {"empty file", "", ExitImageFile, NotHexMessage(name, ReasonNoDataRecords), false, ""},
        {"blank lines only", "\n\r\n\n", ExitImageFile, NotHexMessage(name, ReasonNoDataRecords),
         false, ""},
        {"end record only", ":00000001FF\n", ExitImageFile,
         NotHexMessage(name, ReasonNoDataRecords), false, ""},
        {"data above 64 KB (type 04)", ":020000040001F9\n" + data, ExitImageFile,
         NotHexMessage(name, std::string(ReasonExtendedAddress) + "2"), false, ""},
        {"data in a segment (type 02)", ":020000021000EC\n\n" + data, ExitImageFile,
         NotHexMessage(name, std::string(ReasonExtendedAddress) + "3"), false, ""},
        {"a base of 0 is harmless", ":020000040000FA\n" + NewHex(), ExitSuccess, "", true, ""},
        {"wrong record checksum loads, with a warning", WithBadChecksum(NewHex(), 2),
         ExitSuccess, "", true, std::string(WarnRecordChecksum) + name + " line 3: "},
        {"a line longer than any record", data + longLine, ExitImageFile,
         NotHexMessage(name, std::string(ReasonLongLine) + "2"), false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const Outcome out = RunProject(AvrStep({"/ADDRLEN=2048"}), row.Image);
        EXPECT_EQ(row.Exit, out.Exit) << out.Dump;
        if (row.Programmed) {
            EXPECT_EQ(OkText, out.LastStatus);
            EXPECT_EQ(Programmed(NewImage()), out.Flash);
        } else {
            EXPECT_FALSE(out.Erased);
            EXPECT_EQ(OldProgram(), out.Flash);
            EXPECT_EQ(0u, out.BytesSent);  // not even connected
            ASSERT_EQ(1u, out.Messages.size());
            EXPECT_EQ(row.Message, out.Messages[0]);
        }
        ASSERT_EQ(row.Warning.empty() ? 0u : 1u, out.Warnings.size());
        if (!row.Warning.empty()) {
            EXPECT_EQ(0u, out.Warnings[0].rfind(row.Warning, 0)) << out.Warnings[0];
        }
    }
}

TEST(HostileInput, TheImageIsReadOnceBeforeTheBoardIsTouched) {
    // A build writes the next firmware while the step runs: the board still gets the image
    // the step began with, whole, and the checksum agrees with it.
    const Bytes next = avrtest::SampleImage(1024, 99);
    const Outcome out = RunProject(AvrStep({"/ADDRLEN=2048"}), NewHex(), [&](auto& h) {
        h.view.AtStatus(MsgErasing, [&h, &next] {
            h.dir.Write("image.hex", avrtest::IntelHex(next, next.size()));
        });
    });
    EXPECT_EQ(ExitSuccess, out.Exit) << out.Dump;
    EXPECT_EQ(OkText, out.LastStatus);
    EXPECT_EQ(Programmed(NewImage()), out.Flash);
}

TEST(HostileInput, ValuesThatGiveNoUsableRangeAreRefusedBeforeAnythingIsSent) {
    struct Row {
        std::vector<std::string> Lines;
        std::string Status;
    };
    const std::string bad = TextBadValue;
    const std::vector<Row> rows = {
        {{"/ADDRLEN=$FFFFFFFFF"}, bad + "/ADDRLEN=$FFFFFFFFF"},  // wraps to -1
        {{"/ADDRLEN=$80000000"}, bad + "/ADDRLEN=$80000000"},
        {{"/ADDRSTART=2147483647", "/ADDRLEN=2147483647"}, bad + "/ADDRLEN=2147483647"},
        {{"/ADDRSTART=-1", "/ADDRLEN=2048"}, bad + "/ADDRSTART=-1"},
        {{"/ADDRLEN=0"}, bad + "/ADDRLEN=0"},  // an empty range
        {{}, bad + KeyAddrLen + "0"},          // no length at all: the same
        {{"/ADDRLEN=$30000"}, bad + "/ADDRLEN=$30000"},  // past the 128 KB flash
        {{"/ADDRSTART=$FF00", "/ADDRLEN=1024"}, bad + "/ADDRLEN=1024"},  // checksum words
        {{"/ADDRLEN=1"}, bad + "/ADDRLEN=1"},  // a checksum over no word
        {{std::string("/PA=image\0.hex", 14), "/ADDRLEN=2048"}, bad + "/PA=IMAGE?.HEX"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Status);
        const Outcome out = RunProject(AvrStep(row.Lines), NewHex());
        EXPECT_EQ(ExitStepFile, out.Exit) << out.Dump;
        EXPECT_EQ(row.Status, out.LastStatus);
        EXPECT_EQ(StatusColorError, out.Colour);
        EXPECT_EQ(0u, out.BytesSent);
        EXPECT_FALSE(out.Erased);
        EXPECT_EQ(OldProgram(), out.Flash);
    }
}

TEST(HostileInput, StopEndsTheRunWhereverItIs) {
    // Many steps that are passed over, then the real one.
    std::vector<std::string> skipped;
    for (int i = 0; i < 2000; ++i) {
        skipped.insert(skipped.end(), {"/PA=image.hex", "/S", "*** NEXT ***"});
    }
    std::vector<std::string> longRun = skipped;
    const auto real = AvrStep({"/ADDRLEN=2048"});
    longRun.insert(longRun.end(), real.begin(), real.end());
    std::string longImage;
    for (int i = 0; i < 300; ++i) longImage += NewHex();

    struct Row {
        const char* Name;
        std::vector<std::string> Step;
        std::string Image;
        std::function<void(pstest::StationHarness&)> Stop;
        int32_t MaxSteps;  // steps loaded before the run ended
    };
    const std::vector<Row> rows = {
        {"between passed-over steps", longRun, NewHex(),
         [](auto& h) { h.view.AfterPumps(5, [&h] { StopBtnClick(h.st); }); }, 10},
        {"while a long image is read", AvrStep({"/ADDRLEN=2048"}), longImage,
         [](auto& h) {
             // A few pumps into the flow, which reads the image first.
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
        EXPECT_FALSE(out.Erased);
        EXPECT_EQ(OldProgram(), out.Flash);
    }
    // Without STOP the same long run goes through its 2001 steps.
    const Outcome through = RunProject(longRun, NewHex());
    EXPECT_EQ(ExitSuccess, through.Exit) << through.Dump;
    EXPECT_EQ(Programmed(NewImage()), through.Flash);
}

}  // namespace
}  // namespace ps
