// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/Models.h"
#include "projects/StepEditor.h"
#include "projects/StepFile.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

using Lines = std::vector<std::string>;
using test::ReadBytes;
using test::TempDir;

StepEditor EditorWith(Lines lines, int step = 1) {
    StepEditor e;
    e.SetLines(std::move(lines));
    e.SetCurrentStep(step);
    e.Refresh();
    return e;
}

TEST(StepEditorTest, LoadKeepsStepLinesAndSaveWritesCrLf) {
    TempDir dir;
    std::string path = dir.Write("a.cfg",
                                 "; comment\r\n/PA=a.hex\r\n\r\nfree text\n/Reset\r*** NEXT ***\n"
                                 " /indented\r\n*x\r\n/AUTOCONTINUE\x1A/AFTER.EOF\r\n");
    StepEditor e;
    ASSERT_TRUE(e.Load(path));
    EXPECT_EQ(e.Lines(), (Lines{"; comment", "/PA=a.hex", "", "free text", "/Reset",
                                "*** NEXT ***", " /indented", "*x", "/AUTOCONTINUE"}));
    std::string message;
    ASSERT_TRUE(e.Save(path, message));
    EXPECT_EQ(ReadBytes(path),
              "; comment\r\n/PA=a.hex\r\n\r\nfree text\r\n/Reset\r\n*** NEXT ***\r\n"
              " /indented\r\n*x\r\n/AUTOCONTINUE\r\n");

    // A file that cannot be opened is an empty list: no steps, nothing to navigate.
    EXPECT_FALSE(e.Load(dir.File("absent.cfg")));
    EXPECT_FALSE(e.Load(dir.Path()));
    StepView v = e.Refresh();
    EXPECT_EQ(v.StepCount, 0);
    EXPECT_EQ(v.CurrentStep, 0);
    EXPECT_FALSE(v.StepNavigation);
}

TEST(StepEditorTest, SaveThatCannotCreateTheFileSaysSoAndKeepsTheOldFile) {
    TempDir dir;
    StepEditor e = EditorWith({"/PB=b.hex"});
    std::string message;
    for (const std::string& bad : {dir.File("no/such/folder/x.cfg"), dir.Path(), std::string()}) {
        message.clear();
        EXPECT_FALSE(e.Save(bad, message));
        EXPECT_EQ(message, std::string(TextErrorCreatingFile) + "\n" + bad);
    }
    EXPECT_TRUE(dir.Entries().empty());  // no temporary file left behind
}

TEST(StepEditorTest, AddStepAndClearStep) {
    StepEditor e;
    e.AddStep();  // an empty list gets an empty line: one step
    StepView v = e.Refresh();
    EXPECT_EQ(e.Lines(), Lines{""});
    EXPECT_EQ(v.StepCount, 1);
    EXPECT_EQ(v.CurrentStep, 1);
    EXPECT_TRUE(v.StepNavigation);
    e.AddStep();
    EXPECT_EQ(e.Lines(), (Lines{"", StepSeparator}));
    EXPECT_EQ(e.Refresh().StepCount, 2);

    struct Case {
        const char* What;
        int Step;
        Lines Before;
        Lines After;
    };
    const Lines three = {"/PB=1", "/RESET", "*** NEXT ***", "/PB=2", "*** NEXT ***", "/PB=3"};
    const Case cases[] = {
        {"step 1 of three leaves no separator on top",
         1,
         three,
         {"/PB=2", "*** NEXT ***", "/PB=3"}},
        {"step 2 goes with its separator", 2, three, {"/PB=1", "/RESET", "*** NEXT ***", "/PB=3"}},
        {"the last step", 3, three, {"/PB=1", "/RESET", "*** NEXT ***", "/PB=2"}},
        {"an empty first step disappears with the separator",
         2,
         {"*** NEXT ***", "/PA=2", "*** NEXT ***", "/PA=3"},
         {"/PA=3"}},
        {"a lower-case separator is a separator, as for the station",
         1,
         {"/PA=1", "*** next ***", "/PA=2"},
         {"/PA=2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        StepEditor ed = EditorWith(c.Before, c.Step);
        ed.ClearStep();
        EXPECT_EQ(ed.Lines(), c.After);
        EXPECT_LE(ed.Refresh().CurrentStep, ed.StepCount());
    }
}

TEST(StepEditorTest, LinesGoToTheCurrentStepOnly) {
    StepEditor e = EditorWith(
        {"/PB=a.hex", "*** NEXT ***", "/PL=b.hex", "/baudrate=9600", "*** NEXT ***", "/PL=c.hex"},
        2);
    StepView v = e.Refresh();
    EXPECT_EQ(v.Model, 3);
    EXPECT_EQ(v.FileName, "B.HEX");
    EXPECT_EQ(v.Controls[CtlBaudRate].Index, 4);  // found without regard to case
    // A new line goes first in the step, right after its separator.
    e.SetChecked(CtlBoot, true);
    // A value replaces its line in place.
    e.Choose(CtlBaudRate, 8);
    EXPECT_EQ(e.Lines(), (Lines{"/PB=a.hex", "*** NEXT ***", "/Boot", "/PL=b.hex",
                                "/BaudRate=115200", "*** NEXT ***", "/PL=c.hex"}));
    // Unticking deletes; an emptied field deletes its line.
    e.SetChecked(CtlBoot, false);
    e.SetText(CtlStartAddr, "$8000");
    EXPECT_EQ(e.Lines()[2], "/AddrStart=$8000");
    e.SetText(CtlStartAddr, "");
    EXPECT_EQ(e.Lines(), (Lines{"/PB=a.hex", "*** NEXT ***", "/PL=b.hex", "/BaudRate=115200",
                                "*** NEXT ***", "/PL=c.hex"}));
    // A key the step holds twice keeps one line: the station would read the later one.
    e = EditorWith({"/BAUDRATE=1200", "/Reset", "/BaudRate=2400"});
    EXPECT_EQ(e.Refresh().Controls[CtlBaudRate].Index, 0);
    e.Choose(CtlBaudRate, 4);
    EXPECT_EQ(e.Lines(), (Lines{"/BaudRate=9600", "/Reset"}));
}

TEST(StepEditorTest, ModelChoiceReplacesTheModelLineInPlace) {
    StepEditor e = EditorWith({"/Reset", "/P=a.hex", "/PB=b.hex", "/CheckSum"});
    StepView v = e.Refresh();
    EXPECT_EQ(v.Model, 1);
    EXPECT_EQ(v.FileName, "A.HEX");
    // "INTEL - BOOT" with the file name field, which shows the name in upper case: the line
    // keeps the name as it was written.
    e.SetModel(2, v.FileName);
    EXPECT_EQ(e.Lines(), (Lines{"/Reset", "/PB=a.hex", "/CheckSum"}));
    e.SetFileName("new.hex");
    EXPECT_EQ(e.Lines()[1], "/PB=new.hex");
    e.Refresh();  // INTEL - BOOT hides CheckSum; its line stays
    EXPECT_EQ(e.Lines(), (Lines{"/Reset", "/PB=new.hex", "/CheckSum"}));
    e.SetModel(0, "new.hex");  // "None" leaves no model line
    EXPECT_EQ(e.Lines(), (Lines{"/Reset", "/CheckSum"}));
    e.SetFileName("ignored.hex");  // no model line: the file name writes nothing
    EXPECT_EQ(e.Lines(), (Lines{"/Reset", "/CheckSum"}));
    e.SetModel(13, "x.hex");  // no model line before: at the insertion point
    EXPECT_EQ(e.Lines(), (Lines{"/P13=x.hex", "/Reset", "/CheckSum"}));
    v = e.Refresh();
    EXPECT_FALSE(v.Controls[CtlBeforeProgramming].Visible);
    EXPECT_FALSE(v.Controls[CtlResetS].Checked);  // hidden, so shown unticked
    EXPECT_EQ(e.Lines(), (Lines{"/P13=x.hex", "/Reset", "/CheckSum"}));
}

TEST(StepEditorTest, ShowingAStepKeepsTheLinesOfHiddenControls) {
    // Lines the run needs although the model hides their control, and lines of boxes no
    // model shows: the step is shown, and the lines stay as they are.
    const Lines cases[] = {
        {"/PA=x.hex", "/Boot", "/Reset", "/AutoReset", "/AutoContinue"},
        {"/UNLOCK", "/DevCheck", "/SimulateFlash", "/Reset"},
        {"/PB=x", "/BankPort=$10", "/RunAddr=5", "/Boot"},
        {"/PA=x", "/ATMEL=4", "/FUSESSET", "/FUSES=N1", "/LOCKSET"},
        {"/PA=x", "/ATMEL=4", "/AT_PROG_EE=2", "/CheckSum"},
        {"/P13=x", "/BOOT", "/RESET", "; the boot line is DTR", "/SAVE"},
        {"/PFB=x.mhx", "/AddrStart=$3E000", "/AddrLen=$2000"},
    };
    for (const Lines& lines : cases) {
        SCOPED_TRACE(lines.front());
        StepEditor e = EditorWith(lines);
        const StepView v = e.Refresh();
        EXPECT_EQ(e.Lines(), lines);
        for (const ControlView& cv : v.Controls) {
            if (!cv.Visible) EXPECT_FALSE(cv.Checked);
        }
    }
    // Model 11's address space is fixed: it is written when the model is chosen for a step
    // without one, and the fields cannot be edited.
    StepEditor e = EditorWith({"/BlockLen=256"});
    e.SetModel(11, "x.mhx");
    EXPECT_EQ(e.Lines(), (Lines{"/AddrLen=$3000", "/AddrStart=$3D000", "/PFB=x.mhx",
                                "/BlockLen=256"}));
    StepView v = e.Refresh();
    EXPECT_FALSE(v.Controls[CtlStartAddr].Enabled);
    EXPECT_FALSE(v.Controls[CtlLenAddr].Enabled);
}

TEST(StepEditorTest, VisibilityPerModel) {
    // Model, then the controls shown (+) or hidden (-) that tell the rows apart.
    struct Case {
        int Model;
        int Processor;
        int Eeprom;
        std::vector<EditorControl> Shown;
        std::vector<EditorControl> Hidden;
    };
    const Case cases[] = {
        {0,
         -1,
         -1,
         {CtlBaudRate, CtlResetSign, CtlBoot, CtlAutoReset, CtlCheckSum},
         {CtlFile, CtlStartAddr, CtlSinhro}},
        {1, -1, -1, {CtlSinhro, CtlEraseSec, CtlRunAddr, CtlCheckSum}, {CtlRamErase, CtlUsb}},
        {3, -1, -1, {CtlRamErase, CtlRunAddr}, {CtlCheckSum, CtlFlashId}},
        {4, -1, -1, {CtlFlashId, CtlFlashErase, CtlBankPort, CtlRunAddr}, {CtlCheckSum}},
        {5,
         -1,
         -1,
         {CtlBaudRate, CtlStartAddr, CtlAutoCont, CtlSignalGroups},
         {CtlResetSign, CtlBoot, CtlAutoReset, CtlCheckSum}},
        {6, -1, -1, {CtlUsb, CtlCheckSum, CtlFile}, {CtlBaudRate, CtlSignalGroups, CtlStartAddr}},
        {7,
         6,
         -1,
         {CtlAtmelBox, CtlFuses, CtlFusesSet, CtlLock, CtlSpeedSet, CtlCheckSum},
         {CtlEeprom, CtlAutoReset, CtlBoot}},
        {7,
         4,
         0,
         {CtlEeprom, CtlAutoReset, CtlCheckSum, CtlLock},
         {CtlFuses, CtlFusesSet, CtlSpeedSet}},
        {7, 4, 1, {CtlEeprom}, {CtlCheckSum}},
        {9, -1, -1, {CtlFile, CtlAutoCont}, {CtlSignalGroups, CtlCheckSum}},
        {10, -1, -1, {CtlSinhro}, {CtlStartAddr, CtlCheckSum}},
        {12, -1, -1, {CtlFlashErase, CtlEraseSec, CtlAutoErase, CtlCheckSum}, {CtlRunAddr}},
        {13,
         -1,
         -1,
         {CtlInfineon, CtlTestInt, CtlTestExt, CtlStartExtFlashAddr},
         {CtlBeforeProgramming, CtlAutoCont, CtlCheckSum}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Model);
        auto shown = ShownControls(c.Model, c.Processor, c.Eeprom);
        for (EditorControl s : c.Shown) EXPECT_TRUE(shown.test(s)) << s;
        for (EditorControl h : c.Hidden) EXPECT_FALSE(shown.test(h)) << h;
        EXPECT_TRUE(shown.test(CtlComPort));
        for (EditorControl never : {CtlDeviceCheck, CtlUnLock, CtlSimulateFlash}) {
            EXPECT_FALSE(shown.test(never));
        }
    }
}

TEST(StepEditorTest, ProcessorWritesItsAddressSpace) {
    StepEditor e = EditorWith({"/PA=x.hex", "/AddrLen=1"});
    e.SetProcessor(7);  // ATmega16
    EXPECT_EQ(e.Lines(), (Lines{"/AddrStart=0", "/ATMEL=7", "/PA=x.hex", "/AddrLen=16384"}));
    StepView v = e.Refresh();
    EXPECT_EQ(v.Processor, 7);
    EXPECT_FALSE(v.Controls[CtlStartAddr].Enabled);
    EXPECT_TRUE(v.Controls[CtlLenAddr].Enabled);
    EXPECT_FALSE(v.FuseEnabled[FuseItemSpien]);
    EXPECT_TRUE(v.FuseChecked[FuseItemSpien]);
}

TEST(StepEditorTest, ValuesThatAreNoWholeNumberShowTheStepWithoutThem) {
    for (const char* atmel : {"/ATMEL=abc", "/ATMEL=7x", "/ATMEL=8", "/ATMEL=-1", "/ATMEL="}) {
        StepEditor e = EditorWith({"/PA=x.hex", atmel, "/AT_PROG_EE=1x", "/FUSES=N1"});
        StepView v = e.Refresh();
        EXPECT_EQ(v.Processor, -1) << atmel;
        EXPECT_EQ(v.Controls[CtlEeprom].Index, -1);
        EXPECT_FALSE(v.FuseEnabled[0]);
        EXPECT_TRUE(v.FuseComment.empty());
        e.SetFuse(0, true);  // no processor: the list writes nothing
        EXPECT_EQ(e.Lines(), (Lines{"/PA=x.hex", atmel, "/AT_PROG_EE=1x", "/FUSES=N1"}));
    }
    StepEditor e = EditorWith({"/PA=x.hex", "/ATMEL=4", "/AT_PROG_EE=7", "/SpeedSet=$1"});
    EXPECT_EQ(e.Refresh().Controls[CtlEeprom].Index, -1);
    e = EditorWith({"/PA=x.hex", "/ATMEL=$6", "/SpeedSet=$1", "/COM9"});
    StepView v = e.Refresh();
    EXPECT_EQ(v.Processor, 6);  // the station's number syntax
    EXPECT_EQ(v.Controls[CtlSpeedSet].Index, 1);
    EXPECT_EQ(v.Controls[CtlComPort].Index, 5);  // "/COM7" .. "/COM10" show as "COM 6"
}

TEST(StepEditorTest, FuseAndLockLists) {
    StepEditor e = EditorWith({"/PA=x.hex", "/ATMEL=6", "/FUSESSET"});
    e.SetFuse(0, true);
    EXPECT_EQ(e.Lines()[0], "/FUSES=N1000000000000100");  // 17 characters, SPIEN ticked
    EXPECT_EQ(e.Lines()[0].size(), std::string("/FUSES=").size() + 17);
    e.SetFuse(FuseItemSpien, false);  // never enabled: nothing changes
    EXPECT_EQ(e.Lines()[0], "/FUSES=N1000000000000100");
    StepView v = e.Refresh();
    EXPECT_TRUE(v.FuseListEnabled);
    EXPECT_FALSE(v.LockListEnabled);
    EXPECT_TRUE(v.FuseChecked[0]);

    e.SetLock(0, true);
    e.SetLock(1, true);
    EXPECT_EQ(e.Lines()[0], "/LOCK=110000");
    v = e.Refresh();
    EXPECT_EQ(v.LockComment, (std::vector<std::string>{"SER.PROG.: R,W disabled, FUSE lock",
                                                       "APPL.SEC.: NO restrictions",
                                                       "BOOT SEC.: NO restrictions"}));

    // A compact fuse text is shown in the common layout; disabled lock items are unticked.
    e = EditorWith({"/PA=x", "/ATMEL=1", "/FUSES=11011", "/LOCK=111111"});
    v = e.Refresh();
    const std::array<bool, FuseItemCount> ticked = {true,  true, false, false, false, false,
                                                    true,  true, false, false, false, false,
                                                    false, true, false, false};
    EXPECT_EQ(v.FuseChecked, ticked);
    EXPECT_EQ(v.LockChecked,
              (std::array<bool, LockItemCount>{true, true, false, false, false, false}));
    EXPECT_EQ(v.LockComment, std::vector<std::string>{"SER.PROG.: R,W disabled, FUSE lock"});
}

TEST(StepEditorTest, FuseCommentTexts) {
    auto items = [](std::initializer_list<int> on) {
        std::array<bool, FuseItemCount> a{};
        for (int i : on) a[i] = true;
        return a;
    };
    const auto all = items({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15});
    struct Case {
        int Processor;
        std::array<bool, FuseItemCount> Checked;
        std::vector<std::string> Comment;
    };
    const Case cases[] = {
        {6,
         items({}),
         {"Ext. Crystal/Resonator HF ; 16384CK ; 64ms", "NO Reset on U<2.7V",
          "Reset on PROGRAM ($0000)", "BOOT size = 512 Bytes"}},
        {7,
         items({}),
         {"Ext. Crystal/Resonator HF ; 16384CK ; 64ms", "NO Reset on U<2.7V",
          "Reset on PROGRAM ($0000)", "BOOT size = 256 Bytes"}},
        {6,
         items({0, 1, 2, 3}),  // clock 0 with start-up 3: no such start-up
         {"XTAL ERROR", "NO Reset on U<2.7V", "Reset on PROGRAM ($0000)", "BOOT size = 512 Bytes"}},
        {6,
         items({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15}),
         {"Int. RC Osc. 1MHz ; 6CK ; 0ms", "Reset on U<4.0V", "Reset on BOOT",
          "BOOT size = 4096 Bytes", "SAVE EEPROM (on erase)", "XTAL \"HI\" SIGNAL", "JTAG ENABLED",
          "On Chip Debug ENABLED"}},
        {2,
         items({2, 3, 4, 6}),  // clock 3, start-up 2
         {"Int. RC Osc. 4MHz ; 6CK ; 64ms", "Reset on U<2.7V", "Reset on PROGRAM ($0000)",
          "BOOT size = 256 Bytes"}},
        {1,
         items({0, 7}),  // AT90S4433: clock and BOD only; clock 14 (even), start-up 3
         {"Ext. Crystal/Resonator HF ; 1024CK ; 4ms", "NO Reset on U<4.0V"}},
        {0, all, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Processor);
        std::array<bool, FuseItemCount> enabled{};
        for (int i = 0; i < FuseItemCount; ++i) {
            enabled[i] = (Processor(c.Processor).FuseItems >> i) & 1;
        }
        EXPECT_EQ(FuseComment(c.Processor, enabled, c.Checked), c.Comment);
    }
    // The lock pairs.
    std::array<bool, LockItemCount> on{};
    on.fill(true);
    EXPECT_EQ(LockComment(on, {false, true, true, false, true, true}),
              (std::vector<std::string>{"ERROR", "APPL.SEC.: W disabled",
                                        "BOOT SEC.: W,R(from appl.) disabled, Int.Boot dis."}));
    EXPECT_EQ(
        LockComment(on, {false, false, false, true, false, true}),
        (std::vector<std::string>{"SER.PROG.: NO restrictions", "APPL.SEC.: R(from boot) disabled",
                                  "BOOT SEC.: R(from appl) disabled, Int.Boot dis."}));
}

TEST(StepEditorTest, PortAndPairedBoxes) {
    StepEditor e = EditorWith({"/PF=f.hex", "/COM2", "/COM3"});
    EXPECT_EQ(e.Refresh().Controls[CtlComPort].Index, 1);
    e.Choose(CtlComPort, 3);
    EXPECT_EQ(e.Lines(), (Lines{"/COM4", "/PF=f.hex"}));
    // A paired box writes its edit's text; the edit changes the line only while ticked.
    e.SetText(CtlBankPort, "$12");
    EXPECT_EQ(e.Lines().size(), 2u);
    e.SetChecked(CtlBankPort, true, "$12");
    e.SetText(CtlBankPort, "$34");
    StepView v = e.Refresh();
    EXPECT_TRUE(v.Controls[CtlBankPort].Checked);
    EXPECT_EQ(v.Controls[CtlBankPort].Text, "$34");
    e.SetText(CtlBankPort, "");  // still ticked: the line stays, empty
    EXPECT_TRUE(e.Refresh().Controls[CtlBankPort].Checked);
    e.SetChecked(CtlBankPort, false);
    EXPECT_EQ(e.Lines(), (Lines{"/COM4", "/PF=f.hex"}));
}

// Every control the editor shows ends up in the station's settings as the operator chose it:
// one step per model (and per AVR processor and EEPROM operation) in one file, each loaded
// back through the step loader.
TEST(StepEditorTest, EveryModelsStepLoadsBackAsChosen) {
    struct Variant {
        int Model;
        int Processor = -1;
        int Eeprom = -1;
    };
    std::vector<Variant> variants;
    for (int m = 0; m <= 13; ++m) {
        if (m != 7) variants.push_back({m});
    }
    for (int p = 0; p < ProcessorCount; ++p) variants.push_back({7, p});
    for (int ee = 0; ee < 3; ++ee) variants.push_back({7, ProcessorLoader, ee});

    StepEditor e;
    std::vector<StepView> chosen;
    for (size_t k = 0; k < variants.size(); ++k) {
        const Variant& var = variants[k];
        e.AddStep();
        e.SetCurrentStep(static_cast<int>(k) + 1);
        e.Refresh();
        e.SetModel(var.Model, "IMG" + std::to_string(k) + ".HEX");
        e.Refresh();
        if (var.Processor >= 0) e.SetProcessor(var.Processor);
        e.Refresh();
        if (var.Eeprom >= 0) e.Choose(CtlEeprom, var.Eeprom);
        StepView v = e.Refresh();
        // The operator sets every control that is shown and enabled, refreshing after each
        // as the window does.
        for (int c = 0; c < CtlCount; ++c) {
            const auto ctl = static_cast<EditorControl>(c);
            const ControlView& cv = v.Controls[c];
            if (!cv.Visible || !cv.Enabled || ctl == CtlEeprom) continue;
            const std::string text = "$" + std::to_string(100 + c);
            switch (Control(ctl).Kind) {
                case ControlKind::Flag:
                    e.SetChecked(ctl, true);
                    break;
                case ControlKind::Paired:
                    e.SetChecked(ctl, true, text);
                    break;
                case ControlKind::Field:
                    e.SetText(ctl, text);
                    break;
                case ControlKind::Choice:
                    e.Choose(ctl, 1);
                    break;
                case ControlKind::Group:
                    break;
            }
            v = e.Refresh();
        }
        for (int i = 0; i < FuseItemCount; i += 3) {
            if (v.FuseEnabled[i]) e.SetFuse(i, true);
        }
        for (int i = 0; i < LockItemCount; i += 2) {
            if (v.LockEnabled[i]) e.SetLock(i, true);
        }
        chosen.push_back(e.Refresh());
    }
    TempDir dir;
    std::string message;
    ASSERT_TRUE(e.Save(dir.File("all.cfg"), message));

    CurrentProject project;
    project.StepFile = dir.File("all.cfg");
    auto number = [](const std::string& text) {
        int32_t n = 0;
        EXPECT_TRUE(ParseStepNumber(text, n)) << text;
        return n;
    };
    for (size_t k = 0; k < variants.size(); ++k) {
        const Variant& var = variants[k];
        const StepView& v = chosen[k];
        SCOPED_TRACE("model " + std::to_string(var.Model) + " processor " +
                     std::to_string(var.Processor) + " eeprom " + std::to_string(var.Eeprom));
        StepSettings s;
        MapGeometry map;
        ASSERT_EQ(LoadStep(static_cast<int>(k) + 1, project, {}, s, map), StepLoaded);
        EXPECT_TRUE(s.LoadError.empty()) << s.LoadError;
        EXPECT_EQ(s.ModelIndex, var.Model == 0 ? -1 : var.Model);
        EXPECT_EQ(s.ProgramFile, var.Model == 0 ? "" : "IMG" + std::to_string(k) + ".HEX");

        const std::pair<EditorControl, bool StepSettings::*> flags[] = {
            {CtlBoot, &StepSettings::Boot},
            {CtlResetS, &StepSettings::Reset},
            {CtlRamErase, &StepSettings::EraseRam},
            {CtlFlashId, &StepSettings::FlashId},
            {CtlFlashErase, &StepSettings::EraseFlash},
            {CtlSinhro, &StepSettings::Sinhro},
            {CtlDeviceCheck, &StepSettings::DevCheck},
            {CtlUnLock, &StepSettings::Unlock},
            {CtlSimulateFlash, &StepSettings::SimulateFlash},
            {CtlAutoErase, &StepSettings::AutoErase},
            {CtlUsb, &StepSettings::Usb},
            {CtlTestInt, &StepSettings::TestInt},
            {CtlTestExt, &StepSettings::TestExt},
            {CtlAutoReset, &StepSettings::AutoReset},
            {CtlAutoCont, &StepSettings::AutoContinue},
            {CtlCheckSum, &StepSettings::CheckSum},
            {CtlFusesSet, &StepSettings::FusesSet},
            {CtlLockSet, &StepSettings::LockSet},
        };
        for (const auto& [ctl, field] : flags) {
            EXPECT_EQ(s.*field, v.Controls[ctl].Visible) << "flag " << Control(ctl).Key;
        }
        const std::pair<EditorControl, int32_t StepSettings::*> values[] = {
            {CtlEraseSec, &StepSettings::EraseSectors},
            {CtlRunAddr, &StepSettings::RunAddr},
            {CtlStartAddr, &StepSettings::AddrStart},
            {CtlLenAddr, &StepSettings::AddrLen},
            {CtlLenBlock, &StepSettings::BlockLen},
            {CtlBlocksOnRow, &StepSettings::BlocksOnRow},
            {CtlStartExtFlashAddr, &StepSettings::AddrExtFlash},
        };
        for (const auto& [ctl, field] : values) {
            if (v.Controls[ctl].Visible) {
                EXPECT_EQ(s.*field, number(v.Controls[ctl].Text)) << Control(ctl).Key;
            }
        }
        if (v.Controls[CtlBankPort].Visible) {
            EXPECT_EQ(s.BankPortValue, static_cast<uint16_t>(number(v.Controls[CtlBankPort].Text)));
        }
        const std::pair<EditorControl, std::string StepSettings::*> texts[] = {
            {CtlBaudRate, &StepSettings::BaudRate},
            {CtlResetSign, &StepSettings::ResetSignal},
            {CtlBootSign, &StepSettings::BootSignal},
        };
        for (const auto& [ctl, field] : texts) {
            if (v.Controls[ctl].Visible) {
                EXPECT_EQ(s.*field, Control(ctl).Items[v.Controls[ctl].Index]) << Control(ctl).Key;
            }
        }
        EXPECT_EQ(s.ComPortNo, v.Controls[CtlComPort].Index + 1);
        if (v.Controls[CtlSpeedSet].Visible) {
            EXPECT_EQ(s.SpeedSet, v.Controls[CtlSpeedSet].Index);
        }
        EXPECT_EQ(s.AtmelDevice, var.Processor);
        EXPECT_EQ(s.AtProgEe, var.Eeprom);
        if (var.Processor >= 0) {
            std::string fuses = "N";
            for (bool t : v.FuseChecked) fuses += t ? '1' : '0';
            std::string lock;
            for (bool t : v.LockChecked) lock += t ? '1' : '0';
            if (v.Controls[CtlFuses].Visible && fuses != "N0000000000000100") {
                EXPECT_EQ(s.FuseBits, fuses);
            }
            EXPECT_EQ(s.LockBits, lock);
        }
    }
}


// The step file of every example project, each with a comment and an empty line added so
// that those are held to the same rule.
std::vector<std::pair<std::string, std::string>> ExampleStepFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(PS_SOURCE_DIR) + "/examples")) {
        const auto cfg = entry.path() / "upgrade.cfg";
        if (std::filesystem::exists(cfg)) {
            files.emplace_back(entry.path().filename().string(),
                               "; " + entry.path().filename().string() + " example\r\n\r\n" +
                                   ReadBytes(cfg.string()));
        }
    }
    EXPECT_GE(files.size(), 13u);
    return files;
}

std::vector<StepSettings> LoadAllSteps(const std::string& path, int steps) {
    CurrentProject project;
    project.StepFile = path;
    std::vector<StepSettings> all;
    for (int n = 1; n <= steps; ++n) {
        StepSettings s;
        MapGeometry map;
        EXPECT_EQ(LoadStep(n, project, {}, s, map), StepLoaded) << path << " step " << n;
        all.push_back(s);
    }
    return all;
}

// Looking at a step, or at another model and back, and saving gives the file back as it
// was: hidden controls, keys without a control and comments keep their lines.
TEST(StepEditorTest, EveryExampleSavesBackUnchanged) {
    enum class Visit { Look, EveryModelAndBack };
    for (const auto& [name, text] : ExampleStepFiles()) {
        for (Visit visit : {Visit::Look, Visit::EveryModelAndBack}) {
            SCOPED_TRACE(name + (visit == Visit::Look ? " looked at" : " every model"));
            TempDir dir;
            const std::string original = dir.Write("upgrade.cfg", text);
            StepEditor e;
            ASSERT_TRUE(e.Load(original));
            const int steps = e.StepCount();
            for (int step = 1; step <= steps; ++step) {
                e.SetCurrentStep(step);
                const StepView shown = e.Refresh();
                if (visit == Visit::EveryModelAndBack) {
                    for (int m = 0; m < ModelCount; ++m) {
                        e.SetModel(m, e.Refresh().FileName);
                        e.Refresh();
                    }
                    e.SetModel(shown.Model, e.Refresh().FileName);
                }
            }
            std::string message;
            const std::string copy = dir.File("saved.cfg");
            ASSERT_TRUE(e.Save(copy, message)) << message;
            EXPECT_TRUE(LoadAllSteps(copy, steps) == LoadAllSteps(original, steps))
                << ReadBytes(copy);
            // "None" takes the model line out; choosing the model again puts it first.
            if (visit == Visit::Look) EXPECT_EQ(ReadBytes(copy), text);
        }
    }
}


TEST(StepEditorTest, BrowseNamesImagesBelowTheStepFileRelatively) {
    TempDir dir;
    const std::string top = dir.Path();
    std::filesystem::create_directories(top + "/proj/img");
    std::filesystem::create_directory_symlink(top + "/proj", top + "/link");
    struct Case {
        std::string StepFile, Image, Written;
    };
    const Case cases[] = {
        {top + "/proj/upgrade.cfg", top + "/proj/a.hex", "a.hex"},
        {top + "/proj/upgrade.cfg", top + "/proj/img/b.hex", "img/b.hex"},
        {top + "/proj/upgrade.cfg", top + "/proj/img/../c.hex", "c.hex"},
        {top + "/proj/upgrade.cfg", top + "/other.hex", top + "/other.hex"},
        {top + "/proj/upgrade.cfg", top + "/projx/d.hex", top + "/projx/d.hex"},
        {top + "/link/upgrade.cfg", top + "/proj/img/e.hex", "img/e.hex"},
        {top + "/proj/upgrade.cfg", top + "/link/f.hex", "f.hex"},
        {"", top + "/proj/a.hex", top + "/proj/a.hex"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImagePathForStep(c.StepFile, c.Image), c.Written) << c.StepFile << " " << c.Image;
    }
}


TEST(StepEditorTest, NumericFieldsTakeNumbersInTheirRange) {
    const struct {
        EditorControl Control;
        const char* Text;
        FieldCheck Expected;
    } rows[] = {
        {CtlStartAddr, "", FieldCheck::Empty},
        {CtlStartAddr, "0", FieldCheck::Number},
        {CtlStartAddr, "$8000", FieldCheck::Number},
        {CtlStartAddr, "0x8000", FieldCheck::Number},
        {CtlStartAddr, "x1f", FieldCheck::Number},
        {CtlStartAddr, "$", FieldCheck::Partial},
        {CtlStartAddr, "0x", FieldCheck::Partial},
        {CtlStartAddr, "2147483647", FieldCheck::Number},
        {CtlStartAddr, "2147483648", FieldCheck::Refused},
        {CtlStartAddr, "$80000000", FieldCheck::Refused},
        {CtlStartAddr, "12a", FieldCheck::Refused},
        {CtlStartAddr, "-1", FieldCheck::Refused},
        {CtlStartAddr, " 1", FieldCheck::Refused},
        {CtlLenAddr, "0", FieldCheck::Partial},  // may still become 0x...
        {CtlBlocksOnRow, "200", FieldCheck::Number},
        {CtlBlocksOnRow, "201", FieldCheck::Refused},
        {CtlBankPort, "$FFFF", FieldCheck::Number},
        {CtlBankPort, "$10000", FieldCheck::Refused},
        {CtlRunAddr, "$FFFFFFFF", FieldCheck::Number},
        {CtlEraseSec, "$1FFFFFFFF", FieldCheck::Refused},
        {CtlStartExtFlashAddr, "0x400000", FieldCheck::Number},
        {CtlBaudRate, "anything", FieldCheck::Number},  // not a numeric field
    };
    for (const auto& row : rows) {
        std::string why;
        EXPECT_EQ(CheckNumericField(row.Control, row.Text, why), row.Expected)
            << Control(row.Control).Key << row.Text;
        if (row.Expected == FieldCheck::Refused) EXPECT_EQ(why.rfind(TextNumberFrom, 0), 0u);
    }
}

}  // namespace
}  // namespace ps
