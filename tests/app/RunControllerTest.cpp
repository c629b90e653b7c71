// SPDX-License-Identifier: MIT
// The run controller end to end against scripted boards under the virtual clock: the step
// loop, the port and line setup, the end of a step, STOP and CONTINUE, and the exit status
// a script sees.
#include <gtest/gtest.h>
#include <termios.h>

#include "app/InlineSequence.h"
#include "app/StartUp.h"
#include "run/StepResult.h"
#include "run/Texts.h"
#include "link/PosixPortDevice.h"
#include "link/PseudoTerminal.h"
#include "projects/StepFile.h"
#include "sim/AvrBoard.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrFlow.h"

using pstest::ScriptBoard;
using pstest::StationHarness;

namespace {

// Answers the exchanges a "None" step can ask for.
void AnswerLink(uint8_t b, ScriptBoard& self) {
    const auto& r = self.Received;
    if (b == 'x') self.Reply('y');
    if (r.size() >= 3 && r[r.size() - 3] == 'x') self.Reply('}');
    if (b == 's') self.Reply('i');
}

struct RunTest : ::testing::Test {
    StationHarness h{std::make_unique<ScriptBoard>()};
    ScriptBoard& board = h.Board<ScriptBoard>();
    ps::Station& st = h.st;
    void SetUp() override { board.OnReceive = AnswerLink; }
};

TEST_F(RunTest, NoneStepsDriveTheLinesAndBankPortAndEndInSuccess) {
    h.StepFile({"/BOOTSIGNAL=DTR1", "/RESETSIGNAL=RTS0", "/BOOT", "/RESET", "/BANKPORT=$1234",
                "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.view.LastStatus(), ps::TextProgramedOkLower);
    // Both lines are asserted when the port opens; then boot, the reset pulse, and the boot
    // line released at the end of the run.
    EXPECT_EQ(h.Wire().LineTexts(),
              (std::vector<std::string>{"DTR 1", "RTS 1", "DTR 1", "RTS 0", "RTS 1", "DTR 0"}));
    EXPECT_EQ(h.Wire().SentBytes(), (std::vector<uint8_t>{'x', 0x12, 0x34}));
    EXPECT_EQ(h.Wire().Opens, 1);
    EXPECT_EQ(h.Wire().Closes, 1);
    EXPECT_TRUE(h.view.StartShown());
    EXPECT_FALSE(h.view.StopShown());
    EXPECT_EQ(h.view.FileNames().back(), "FILE: ");
}

// The line as the board's side sees it while a step waits: the station's own port settings,
// with nothing set by the test. A board that does not drive CTS must still hear every byte.
TEST_F(RunTest, TheStationsPortRunsRaw8N1WithoutFlowControl) {
    ps::test::PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    const std::string path = pty.SlavePath();
    st.Comm.SetResolver([path](int) { return std::make_unique<ps::PosixPortDevice>(path); });
    EXPECT_EQ(st.Comm.ReadBufSize(), 40960);
    EXPECT_EQ(st.Comm.WriteBufSize(), 4096);
    // As another program may have left the line: both kinds of flow control, 7E2.
    termios left{};
    ASSERT_EQ(tcgetattr(pty.Master(), &left), 0);
    left.c_cflag = (left.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    left.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &left), 0);
    h.StepFile({"/BAUDRATE=57600"});
    termios seen{};
    bool read = false;
    h.view.OnContinueShown([&] {
        read = tcgetattr(pty.Master(), &seen) == 0;
        ps::StopBtnClick(st);
    });
    EXPECT_EQ(h.Run(), ps::ExitBreak);
    ASSERT_TRUE(read);
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B57600));
    EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B57600));
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(seen.c_iflag & (IXON | IXOFF | IXANY), 0u);
}

TEST_F(RunTest, StepsCarryRunWideSettingsAndTheLoopEndsAtTheFirstStepWithoutImage) {
    // Step 1 is skipped (so its model does not matter) but names an image, so the run goes
    // on; step 2 keeps step 1's run-wide baud rate and, naming no image, ends the run.
    h.StepFile({"/BAUDRATE=7200", "/S", "/P=x.s19", "*** NEXT ***", "/AUTOCONTINUE", "*** NEXT ***",
                "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    ASSERT_FALSE(h.Wire().Bauds.empty());
    EXPECT_EQ(h.Wire().Bauds.back().Baud, 7200u);
    EXPECT_EQ(h.Wire().Opens, 1);
    EXPECT_EQ(st.CurrentStep, 3);
}

TEST_F(RunTest, AMissingStepFileEndsTheRunAtOnce) {
    EXPECT_EQ(h.Run(), ps::ExitStepFile);
    EXPECT_EQ(h.view.LastStatus(), ps::TextErrorOpeningFile);
    EXPECT_EQ(h.view.LastStatusColour(), ps::StatusColorError);
    EXPECT_EQ(h.Wire().Opens, 0);
    EXPECT_TRUE(h.view.StartShown());
    EXPECT_FALSE(st.Running);
}

TEST_F(RunTest, APortThatCannotBeOpenedEndsTheRunAtOnceAndTheWindowChoiceWins) {
    h.StepFile({"/COM1", "/AUTOCONTINUE"});
    st.SelectedPort = 2;  // only COM1 exists here
    EXPECT_EQ(h.Run(), ps::ExitComPort);
    EXPECT_EQ(h.view.LastStatus(), ps::TextErrorOpeningComPort);
    EXPECT_NE(st.LastPortError.find("COM2"), std::string::npos);

    h.StepFile({"/COM3", "/AUTOCONTINUE"});
    st.SelectedPort = 1;
    EXPECT_EQ(h.Run(), ps::ExitSuccess);  // "/COM3" in the file does not matter
}

TEST_F(RunTest, ContinueGoesOnAndStopDuringThePauseEndsWithBreakWithoutAutoReset) {
    h.StepFile({"/RESETSIGNAL=RTS1", "/AUTORESET"});
    h.ContinueWhenAsked();
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.Wire().LineTexts(), (std::vector<std::string>{"DTR 1", "RTS 1", "RTS 1", "RTS 0"}));

    h.Wire().Clear();
    h.view.ClearReactions();
    h.view.OnContinueShown([&] { ps::StopBtnClick(st); });
    EXPECT_EQ(h.Run(), ps::ExitBreak);
    EXPECT_EQ(h.view.LastStatus(), ps::TextBreak);
    EXPECT_EQ(h.view.LastStatusColour(), ps::StatusColorError);
    EXPECT_EQ(h.Wire().LineTexts(), (std::vector<std::string>{"DTR 1", "RTS 1"}));  // the open
}

TEST_F(RunTest, StopWhileTheFinishedRunReleasesTheBootLineLeavesItsOutcome) {
    h.StepFile({"/AUTOCONTINUE"});
    h.view.AtStatus(ps::TextProgramedOkLower, [&] { ps::StopBtnClick(st); });
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.view.LastStatus(), ps::TextProgramedOkLower);
}

TEST_F(RunTest, ASilentBoardIsLeftWithStop) {
    board.OnReceive = nullptr;
    h.StepFile({"/SINHRO", "/AUTOCONTINUE"});
    h.view.AtTime(60000, [&] { ps::StopBtnClick(st); });
    EXPECT_EQ(h.Run(), ps::ExitBreak);
    EXPECT_EQ(h.view.LastStatus(), ps::TextBreak);
    EXPECT_LE(h.clock.NowMs(), 60000 + 500);
}

TEST_F(RunTest, APortThatVanishesEndsTheRunWithAnErrorNotASilentWait) {
    board.OnReceive = nullptr;
    board.faults.DropAfterBytes = 2;
    h.StepFile({"/SINHRO", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitComPort);
    EXPECT_EQ(h.view.LastStatus().rfind(ps::TextPortLost, 0), 0u) << h.view.LastStatus();
    EXPECT_EQ(h.view.LastStatusColour(), ps::StatusColorError);
    EXPECT_FALSE(st.Comm.Active());
    EXPECT_LT(h.clock.NowMs(), 10000);
}

TEST_F(RunTest, EveryModelHasItsFlowAndNoStepIsRefusedAsUnavailable) {
    // The refusal ("ERROR : model not available in this station: ", exit 13) stays for a
    // station built without a model; this one has them all.
    const char* keys[] = {"/P=",   "/PB=",  "/PL=",  "/PF=",  "/PE=",  "/PS=", "/PA=",
                          "/PSB=", "/PSH=", "/PAB=", "/PFB=", "/PFL=", "/P13="};
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        h.StepFile({std::string(key) + "image.hex", "/AUTOCONTINUE"});
        h.view.ClearReactions();
        h.view.AtTime(h.clock.NowMs() + 60000, [&] { ps::StopBtnClick(st); });
        EXPECT_NE(h.Run(), ps::ExitModelUnavailable);
        EXPECT_FALSE(h.view.SawStatusContaining(ps::TextModelUnavailable));
        h.view.ClearRecord();
    }
}

TEST_F(RunTest, AMalformedValueRefusesTheStepBeforeAnythingIsSent) {
    h.StepFile({"/AT_PROG_EE=1X", "/SINHRO", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitStepFile);
    EXPECT_EQ(h.view.LastStatus().rfind(ps::TextBadValue, 0), 0u) << h.view.LastStatus();
    EXPECT_TRUE(h.Wire().SentBytes().empty());
}

TEST_F(RunTest, SkipAndImageForEveryStepFromTheCommandLineStillEnd) {
    // "/S" and a model key applied to every step would otherwise skip missing steps forever.
    h.StepFile({"/AUTOCONTINUE"});
    st.CommandLineArgs = {"/S", "/P=x.s19"};
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.Wire().Opens, 0);
}

TEST_F(RunTest, AChecksumMismatchIsShownAndFailsTheStepWithoutEndingTheRun) {
    board.OnReceive = [](uint8_t, ScriptBoard& self) {
        if (self.Received.size() == 12) self.Reply({0x12, 0x34, 0x00});
    };
    h.StepFile({"/CHECKSUM", "/ADDRSTART=$100", "/ADDRLEN=$200", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitStepErrors);
    EXPECT_EQ(h.view.LastStatus(), "CHECK SUM FAIL (0,4660)");
    EXPECT_FALSE(h.view.SawStatus(ps::TextProgramedOkLower));  // never a success line first
    ASSERT_EQ(h.view.Messages().size(), 1u);
    EXPECT_EQ(h.view.Messages()[0].Text, "CHECK SUM FAIL (0,4660)");
    const auto sent = h.Wire().SentBytes();
    ASSERT_EQ(sent.size(), 12u);
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 11),
              (std::vector<uint8_t>{'K', '4', 0x09, 0, 0, 1, 0, 0, 0, 2, 0xFF}));
}

TEST_F(RunTest, AnUnknownFlashEndsTheRunWithCode2) {
    board.OnReceive = [](uint8_t b, ScriptBoard& self) {
        if (b == '(') self.Reply({')', 0x00});
    };
    h.StepFile({"/FLASHID", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), 2);
    EXPECT_EQ(h.view.LastStatus(), ps::TextFlashIdError);
    EXPECT_EQ(h.view.LastStatusColour(), ps::StatusColorError);
}

TEST_F(RunTest, AProtectedAvrWithoutUnlockEndsWith25AndWithUnlockGoesOn) {
    board.OnReceive = [](uint8_t b, ScriptBoard& self) {
        if (b == 'P') self.Reply('O');
        if (b == 'I') self.Reply({0x00, 0x01, 0x02});
        if (b == 'l') self.Reply(0xFF);
        if (self.Received.size() >= 4 && self.Received[self.Received.size() - 4] == 'L')
            self.Reply('O');
    };
    h.StepFile({"/DEVCHECK", "/ATMEL=6", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), 25);
    EXPECT_EQ(h.view.LastStatus(), ps::TextAtmelProtected);

    h.StepFile({"/DEVCHECK", "/ATMEL=6", "/UNLOCK", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_TRUE(h.view.SawStatus(ps::TextAtmelProtected));
    EXPECT_EQ(h.view.LastStatus(), ps::TextProgramedOkLower);
}

TEST_F(RunTest, ARefusedSectorEraseIsCountedAndShown) {
    board.OnReceive = [](uint8_t, ScriptBoard& self) {
        if (self.Received.size() == 6) self.Reply('h');
    };
    h.StepFile({"/ERASESECTORS=3", "/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitStepErrors);
    EXPECT_EQ(h.view.LastStatus(), "ERRORS: 1");
    ASSERT_FALSE(h.view.Messages().empty());
    EXPECT_EQ(h.view.Messages().back().Text, ps::TextEraseFail);

    // The next run's clean step does not inherit the count.
    h.StepFile({"/AUTOCONTINUE"});
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.view.LastStatus(), ps::TextProgramedOkLower);
}

TEST(InlineCommands, FuseAndLockBytes) {
    EXPECT_EQ(ps::InlineFuseCommand(0, "1111", false), "");
    EXPECT_EQ(ps::InlineFuseCommand(2, "", false), std::string("F\xA0\x00\xFF", 4));
    EXPECT_EQ(ps::InlineFuseCommand(2, "", true), std::string("H\xFF", 2));
    EXPECT_EQ(ps::InlineFuseCommand(1, "1", false), std::string("F\xBE\x00\x00", 4));
    EXPECT_EQ(ps::InlineLockCommand(4, ""), std::string("L\xFF", 2));
    EXPECT_EQ(ps::InlineLockCommand(2, ""), std::string("L\xE0\x00\xFF", 4));
    EXPECT_EQ(ps::InlineLockCommand(1, ""), std::string("L\xFF\x00\x00", 4));
    EXPECT_EQ(ps::InlineLockCommand(0, ""), std::string("L\xE0\x00\x00", 4));
    EXPECT_EQ(ps::InlineLockCommand(3, "11"), "");
    EXPECT_EQ(ps::ImageCopyName(3), "MEM 3.BIN");
    EXPECT_EQ(ps::ImageCopyName(12), "MEM12.BIN");
}

TEST(AutoArgument, ReadsAutoInAnyCaseAndItsProjectNumber) {
    struct Case {
        const char* arg;
        bool automatic;
        int number;
    } cases[] = {
        {"AUTO", true, 0},       {"auto", true, 0},     {"AuToMaTiC", true, 0},
        {"AUTO=12ab", true, 12}, {"AUTO=abc", true, 0}, {"AUTO= $1F", true, 31},
        {"AUTO=0x10", true, 16}, {"AUT", false, 0},     {"/AUTOCONTINUE", false, 0},
    };
    for (const auto& c : cases) {
        const ps::AutoArgument a = ps::ParseAutoArgument(c.arg);
        EXPECT_EQ(a.AutoMode, c.automatic) << c.arg;
        EXPECT_EQ(a.ProjectNumber, c.number) << c.arg;
    }
}

TEST_F(RunTest, AutomaticModeRunsOnceAndEndsTheProgramWithTheRunsStatus) {
    h.StepFile({"/AUTOCONTINUE"});
    st.CommandLineArgs = {"auto"};
    bool first = true;
    ASSERT_TRUE(ps::ActivateStation(st, first));
    EXPECT_EQ(st.Project.Name, "UPGRADE");
    st.Project.StepFile = h.dir.File("upgrade.cfg");  // the test's folder, not the cwd
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.view.TerminateRequests, 1);
    // A later activation (a dialog closed) must not start the project again.
    EXPECT_FALSE(ps::ActivateStation(st, first));
}

TEST_F(RunTest, ActivationDuringARunNeverStartsASecondRunNorChangesThePort) {
    h.StepFile({"/AUTOCONTINUE"});
    std::vector<int> opened;
    st.Comm.SetResolver([&](int port) -> std::unique_ptr<ps::PortDevice> {
        opened.push_back(port);
        return std::make_unique<ps::sim::SimPortDevice>(h.wire);
    });
    st.CommandLineArgs = {"AUTO"};
    st.SelectedPort = 2;
    bool first = true;
    bool startedInside = true;
    // A message box closed before the step opens its port activates the window again.
    h.view.AfterPumps(1, [&] { startedInside = ps::ActivateStation(st, first); });
    ps::StartBtnClick(st);
    EXPECT_FALSE(startedInside);
    EXPECT_EQ(opened, std::vector<int>{2});
    EXPECT_EQ(st.SelectedPort, 2);
    // Outside a run an activation selects COM1 again.
    ps::ActivateStation(st, first);
    EXPECT_EQ(st.SelectedPort, 1);
}

TEST(RunEnd, StopBeforeAMalformedImageLineEndsWithBreak) {
    ps::sim::AvrBoard::Options options;
    options.Processor = 6;
    StationHarness h(std::make_unique<ps::sim::AvrBoard>(options));
    const std::string good = ":0400000001020304F2\n:00000001FF\n";
    h.dir.Write("image.hex", good);
    h.StepFile({"/PA=image.hex", "/ATMEL=6", "/ADDRLEN=256", "/AUTOCONTINUE"});
    // The file is checked before the erase; it is rewritten while the board is programmed
    // and STOP comes while the programming pass clears the map, before its first line.
    bool programming = false;
    h.view.OnStatus = [&](const std::string& text, uint32_t) {
        if (text != ps::MsgProgramming || programming) return;
        programming = true;
        h.dir.Write("image.hex", ":04000000010203ZZF2\n");
    };
    h.view.When(
        [&] {
            return programming && !h.view.Calls.empty() &&
                   h.view.Calls.back().Kind == ps::sim::RecordingView::CallKind::ClearBlocks;
        },
        [&] { ps::StopBtnClick(h.st); });
    EXPECT_EQ(h.Run(), ps::ExitBreak);
    EXPECT_TRUE(programming);
    EXPECT_EQ(h.view.LastStatus(), ps::TextBreak);
    EXPECT_TRUE(h.view.Messages().empty());
}

TEST_F(RunTest, AFailureNoFlowReportsEndsTheRunAndStartWorksAgain) {
    h.StepFile({"/AUTOCONTINUE"});
    st.Comm.SetResolver([](int) -> std::unique_ptr<ps::PortDevice> {
        throw std::runtime_error("no memory for the port");
    });
    EXPECT_EQ(h.Run(), ps::ExitRunFailed);
    EXPECT_EQ(h.view.LastStatus(), std::string(ps::TextRunFailed) + "no memory for the port");
    EXPECT_EQ(h.view.LastStatusColour(), ps::StatusColorError);
    EXPECT_FALSE(st.Running);
    EXPECT_TRUE(h.view.StartShown());
    EXPECT_FALSE(h.view.StopShown());

    st.Comm.SetResolver([&](int) { return std::make_unique<ps::sim::SimPortDevice>(h.wire); });
    EXPECT_EQ(h.Run(), ps::ExitSuccess);
    EXPECT_EQ(h.view.LastStatus(), ps::TextProgramedOkLower);
}

}  // namespace
