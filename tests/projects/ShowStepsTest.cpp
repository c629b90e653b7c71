// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "projects/ShowSteps.h"
#include "projects/StepFile.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

using test::TempDir;

// The lines every block has after ProgramFile..BlocksOnRow, with default values.
const char* DefaultTail =
    "RunAddr=-1\nEraseSectors=-1\nSpeedSet=0\nBootSignal=\nResetSignal=\n"
    "BankPortValue=65535\nAtmelDevice=-1\nAtProgEe=-1\nFuseBits=\nLockBits=\n"
    "Reset=0\nBoot=0\nSinhro=0\nDevCheck=0\nEraseRam=0\nSimulateFlash=0\nEraseFlash=0\n"
    "AutoErase=0\nFlashId=0\nCheckSum=0\nTestInt=0\nTestExt=0\nUsb=0\nAutoReset=0\n"
    "AutoContinue=0\nSaveImage=0\nSkipStep=0\nUnlock=0\nFusesSet=0\nLockSet=0\n";

TEST(ShowStepsTest, ReportsEveryStepUpToTheEnd) {
    TempDir dir;
    CurrentProject project;
    project.StepFile = dir.Write("upgrade.cfg",
                                 "/PA=a.hex\r\n/ADDRLEN=10000\r\n*** NEXT ***\r\n"
                                 "/PB=b.hex\r\n/RESET\r\n/COM2\r\n");
    ShowStepsReport r = ShowSteps(project, {"/AUTOCONTINUE"});
    EXPECT_EQ(r.ExitStatus, 0);
    std::string step1 = std::string("[step 1]\nResult=0\nProgramFile=A.HEX\nModelIndex=7\n") +
                        "BaudRate=115200\nComPortNo=1\nAddrStart=0\nAddrLen=10000\n" +
                        "AddrExtFlash=0\nBlockLen=2048\nBlocksOnRow=16\n" + DefaultTail +
                        "Rows=1\nCols=16\n";
    std::string step2 = "[step 2]\nResult=0\nProgramFile=B.HEX\nModelIndex=2\n";
    std::string step3 = "[step 3]\nResult=2\nProgramFile=\nModelIndex=-1\n";
    // Argument applied everywhere; the run-wide AddrLen carries into step 2.
    std::string expected1 = step1;
    expected1.replace(expected1.find("AutoContinue=0"), 14, "AutoContinue=1");
    ASSERT_EQ(r.Text.substr(0, expected1.size()), expected1);
    EXPECT_EQ(r.Text.substr(expected1.size(), 1 + step2.size()), "\n" + step2);
    EXPECT_NE(r.Text.find("[step 2]\n"), std::string::npos);
    size_t second = r.Text.find("[step 2]");
    EXPECT_NE(r.Text.find("ComPortNo=2\nAddrStart=0\nAddrLen=10000\n", second), std::string::npos);
    EXPECT_NE(r.Text.find("Reset=1\n", second), std::string::npos);
    // Step 3 does not exist: it is shown with Result=2 and ends the report.
    EXPECT_NE(r.Text.find("\n\n" + step3), std::string::npos);
    EXPECT_EQ(r.Text.find("[step 4]"), std::string::npos);
    EXPECT_EQ(r.Text.back(), '\n');
}

TEST(ShowStepsTest, StopsAfterAStepWithoutImage) {
    TempDir dir;
    CurrentProject project;
    project.StepFile = dir.Write("upgrade.cfg", "/RESET\r\n*** NEXT ***\r\n/PA=A.HEX\r\n");
    ShowStepsReport r = ShowSteps(project, {});
    EXPECT_EQ(r.ExitStatus, 0);
    EXPECT_NE(r.Text.find("[step 1]\nResult=0\nProgramFile=\n"), std::string::npos);
    EXPECT_EQ(r.Text.find("[step 2]"), std::string::npos);
}

TEST(ShowStepsTest, BadValueAndMissingFileFail) {
    TempDir dir;
    CurrentProject project;
    project.StepFile = dir.Write("upgrade.cfg", "/PA=A.HEX\r\n/AT_PROG_EE=ABC\r\n");
    ShowStepsReport bad = ShowSteps(project, {});
    EXPECT_EQ(bad.ExitStatus, ShowStepsFailed);
    EXPECT_NE(bad.Text.find(std::string("[step 1]\nResult=0\nError=") + TextBadValue +
                            "/AT_PROG_EE=ABC\nProgramFile=A.HEX\n"),
              std::string::npos);

    project.StepFile = dir.File("absent.cfg");
    ShowStepsReport missing = ShowSteps(project, {});
    EXPECT_EQ(missing.ExitStatus, ShowStepsFailed);
    EXPECT_EQ(missing.Text, std::string(TextErrorOpeningFile) + "\n");
}

}  // namespace
}  // namespace ps
