// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "projects/StepFile.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

using test::TempDir;

struct Loaded {
    int Result = -1;
    StepSettings Settings;
    MapGeometry Map;
};

class StepFileTest : public ::testing::Test {
protected:
    // Loads step n of a step file holding exactly these bytes.
    Loaded Load(const std::string& bytes, int n = 1, const std::string& extra = "",
                const std::vector<std::string>& args = {}) {
        Loaded l;
        ResetRunSettings(l.Settings, 1);
        l.Result = LoadInto(bytes, n, l.Settings, l.Map, extra, args);
        return l;
    }
    int LoadInto(const std::string& bytes, int n, StepSettings& s, MapGeometry& map,
                 const std::string& extra = "", const std::vector<std::string>& args = {}) {
        CurrentProject project;
        project.StepFile = dir_.Write("upgrade.cfg", bytes);
        project.ExtraParameters = extra;
        return LoadStep(n, project, args, s, map);
    }
    TempDir dir_;
};

TEST_F(StepFileTest, LineEndsAreCrOrCrLfAndSubEndsTheFile) {
    Loaded l = Load("/RESET\r\n/BOOT\r/SINHRO\n/USB\r\n/ERASERAM\x1A\r\n/FLASHID\r\n");
    EXPECT_EQ(l.Result, StepLoaded);
    EXPECT_TRUE(l.Settings.Reset);
    EXPECT_TRUE(l.Settings.Boot);
    // A lone LF stays in the line: "/SINHRO\n/USB" is one unknown line.
    EXPECT_FALSE(l.Settings.Sinhro);
    EXPECT_FALSE(l.Settings.Usb);
    // The line before 0x1A still counts; nothing after it is read.
    EXPECT_TRUE(l.Settings.EraseRam);
    EXPECT_FALSE(l.Settings.FlashId);

    // An LF-only file is one long line: step 1 exists but no key matches.
    Loaded lf = Load("/RESET\n/BOOT\n");
    EXPECT_EQ(lf.Result, StepLoaded);
    EXPECT_FALSE(lf.Settings.Reset);
    EXPECT_FALSE(lf.Settings.Boot);

    // CR CR LF is two line ends: the empty line between them is a line of step 2.
    EXPECT_EQ(Load("*** NEXT ***\r\r\n", 2).Result, StepLoaded);
    EXPECT_EQ(Load("", 1).Result, StepMissing);
    EXPECT_EQ(Load("\r\n", 1).Result, StepLoaded);
    EXPECT_EQ(Load("\x1A/RESET\r\n", 1).Result, StepMissing);
}

TEST_F(StepFileTest, CrLfSplitAcrossReadBuffersIsOneLineEnd) {
    // The CR is the last byte of the first 64 KB read, the LF the first of the next.
    std::string bytes(65535, 'x');
    bytes += "\r\n/RESET\r\n";
    ASSERT_EQ(bytes[65535], '\r');
    Loaded l = Load(bytes);
    EXPECT_TRUE(l.Settings.Reset);
}

TEST_F(StepFileTest, NormalisationUpperCasesAndTurnsSpaceDashIntoSlash) {
    EXPECT_EQ(NormaliseStepLine("/p=a.hex -x"), "/P=A.HEX /X");
    EXPECT_EQ(NormaliseStepLine("-RESET"), "-RESET");
    EXPECT_EQ(NormaliseStepLine("x -rESET"), "X /RESET");
    EXPECT_EQ(NormaliseStepLine("a--b  -c"), "A--B  /C");
    EXPECT_EQ(NormaliseStepLine("\xe8\xfc-q"), "\xe8\xfc-Q");  // bytes above 127 stay

    EXPECT_TRUE(Load("/reset").Settings.Reset);
    EXPECT_TRUE(Load("/Reset").Settings.Reset);
    EXPECT_FALSE(Load("/RESET ").Settings.Reset);
    EXPECT_FALSE(Load("x -rESET").Settings.Reset);
    EXPECT_FALSE(Load("-RESET").Settings.Reset);
    EXPECT_FALSE(Load(" /RESET").Settings.Reset);

    Loaded l = Load("/BootSignal=dtr1\r\n/Fuses=ab -cd\r\n");
    EXPECT_EQ(l.Settings.BootSignal, "DTR1");
    EXPECT_EQ(l.Settings.FuseBits, "AB /CD");
}

TEST_F(StepFileTest, ValueKeysMatchPrefixesAndFlagsWholeLines) {
    Loaded l = Load("/RESETSIGNAL=DTR0\r\n/LOCKSET\r\n/BAUDRATE= 9600 \r\n");
    EXPECT_EQ(l.Settings.ResetSignal, "DTR0");
    EXPECT_FALSE(l.Settings.Reset);
    EXPECT_TRUE(l.Settings.LockSet);
    EXPECT_EQ(l.Settings.LockBits, "");
    EXPECT_EQ(l.Settings.BaudRate, " 9600 ");  // nothing is trimmed

    Loaded lock = Load("/LOCK=1100\r\n/S\r\n");
    EXPECT_EQ(lock.Settings.LockBits, "1100");
    EXPECT_FALSE(lock.Settings.LockSet);
    EXPECT_TRUE(lock.Settings.SkipStep);
    EXPECT_FALSE(lock.Settings.SaveImage);
    EXPECT_FALSE(lock.Settings.Sinhro);

    Loaded save = Load("/SAVE\r\n/RESET=\r\n/BOOTSIGNAL\r\n");
    EXPECT_TRUE(save.Settings.SaveImage);
    EXPECT_FALSE(save.Settings.SkipStep);
    EXPECT_FALSE(save.Settings.Reset);        // a flag with "=" is another line
    EXPECT_EQ(save.Settings.BootSignal, "");  // a value key without "=" is ignored

    struct {
        const char* Line;
        int Port;
    } ports[] = {{"/COM1", 1},  {"/COM3", 3}, {"/COM10", 10}, {"/com7", 7},
                 {"/COM11", 4}, {"/COM0", 4}, {"/COM1 ", 4},  {"/COM", 4}};
    for (const auto& p : ports) {
        Loaded c;
        ResetRunSettings(c.Settings, 4);
        LoadInto(p.Line, 1, c.Settings, c.Map);
        EXPECT_EQ(c.Settings.ComPortNo, p.Port) << p.Line;
    }
}

TEST_F(StepFileTest, EveryFlagKeySetsItsOwnField) {
    struct {
        const char* Line;
        bool StepSettings::*Flag;
    } flags[] = {
        {"/RESET", &StepSettings::Reset},
        {"/BOOT", &StepSettings::Boot},
        {"/SINHRO", &StepSettings::Sinhro},
        {"/DEVCHECK", &StepSettings::DevCheck},
        {"/ERASERAM", &StepSettings::EraseRam},
        {"/SIMULATEFLASH", &StepSettings::SimulateFlash},
        {"/ERASEFLASH", &StepSettings::EraseFlash},
        {"/AUTOERASE", &StepSettings::AutoErase},
        {"/FLASHID", &StepSettings::FlashId},
        {"/CHECKSUM", &StepSettings::CheckSum},
        {"/TESTINT", &StepSettings::TestInt},
        {"/TESTEXT", &StepSettings::TestExt},
        {"/USB", &StepSettings::Usb},
        {"/AUTORESET", &StepSettings::AutoReset},
        {"/AUTOCONTINUE", &StepSettings::AutoContinue},
        {"/SAVE", &StepSettings::SaveImage},
        {"/S", &StepSettings::SkipStep},
        {"/UNLOCK", &StepSettings::Unlock},
        {"/FUSESSET", &StepSettings::FusesSet},
        {"/LOCKSET", &StepSettings::LockSet},
    };
    for (const auto& f : flags) {
        Loaded l = Load(f.Line);
        for (const auto& other : flags) {
            EXPECT_EQ(l.Settings.*(other.Flag), other.Flag == f.Flag)
                << f.Line << " vs " << other.Line;
        }
    }
}

TEST_F(StepFileTest, StepsAreSeparatedAndStepFieldsDoNotLeak) {
    const std::string file =
        "/PA=ONE.HEX\r\n/RESET\r\n/ADDRLEN=100\r\n/SAVE\r\n"
        "*** NEXT ***\r\n/PB=TWO.HEX\r\n"
        "*** next ***\r\n";
    StepSettings s;
    MapGeometry map;
    ResetRunSettings(s, 1);
    ASSERT_EQ(LoadInto(file, 1, s, map), StepLoaded);
    EXPECT_EQ(s.ProgramFile, "ONE.HEX");
    EXPECT_TRUE(s.Reset);

    ASSERT_EQ(LoadInto(file, 2, s, map), StepLoaded);
    EXPECT_EQ(s.ProgramFile, "TWO.HEX");
    EXPECT_EQ(s.ModelIndex, 2);
    EXPECT_FALSE(s.Reset);      // "step" field
    EXPECT_EQ(s.AddrLen, 100);  // "run" field carries over
    EXPECT_TRUE(s.SaveImage);   // "run" field carries over

    // A separator at the end of the file still makes a step, without a model key.
    ASSERT_EQ(LoadInto(file, 3, s, map), StepLoaded);
    EXPECT_EQ(s.ProgramFile, "");
    EXPECT_EQ(s.ModelIndex, -1);
    EXPECT_EQ(LoadInto(file, 4, s, map), StepMissing);

    // A first line that is the separator leaves no step 1; a separator with a trailing
    // blank is no separator.
    EXPECT_EQ(Load("*** NEXT ***\r\n/PA=X.HEX\r\n", 1).Result, StepMissing);
    EXPECT_EQ(Load("*** NEXT *** \r\n/PA=X.HEX\r\n", 2).Result, StepMissing);
    EXPECT_EQ(Load("/PA=X.HEX\r\n", 0).Result, StepMissing);
}

TEST_F(StepFileTest, StepNumber255IsAStepLikeAnyOther) {
    // 255 is also the "every step" marker of extra parameters; a file with that many steps
    // must still load step 255 alone.
    std::string file;
    for (int k = 1; k <= 300; ++k) {
        if (k > 1) file += "*** NEXT ***\r\n";
        file += "/PB=S" + std::to_string(k) + ".HEX\r\n";
    }
    EXPECT_EQ(Load(file, 255).Settings.ProgramFile, "S255.HEX");
    EXPECT_EQ(Load(file, 256).Settings.ProgramFile, "S256.HEX");
    EXPECT_EQ(Load(file, 300).Settings.ProgramFile, "S300.HEX");
    EXPECT_EQ(Load(file, 301).Result, StepMissing);
}

TEST_F(StepFileTest, NumberSyntax) {
    struct {
        const char* Text;
        int32_t Value;
        bool Whole;
    } cases[] = {
        {"32768", 32768, true},
        {"$8000", 32768, true},
        {"0X8000", 32768, true},
        {"X8000", 32768, true},
        {"0x8000", 32768, true},
        {"  -5", -5, true},
        {"+7", 7, true},
        {"-$10", -16, true},
        {"12AB", 12, false},
        {"12 ", 12, false},
        {" 1 2", 1, false},
        {"", 0, false},
        {"-", 0, false},
        {"$", 0, false},
        {"0X", 0, false},
        {"0", 0, true},
        {"2147483647", INT32_MAX, true},
        {"-2147483648", INT32_MIN, true},
        {"2147483648", 214748364, false},
        {"99999999999", 999999999, false},
        {"$FFFFFFFF", -1, true},
        {"$80000000", INT32_MIN, true},
        {"$123456789", 0x12345678, false},
        {"$0000000012", 0, false},
        {"--5", 0, false},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(ParseStepNumber(c.Text, value), c.Whole) << c.Text;
        EXPECT_EQ(value, c.Value) << c.Text;
        // The same through a numeric key of the step file (" -" aside, see below).
        if (std::string(c.Text).find(" -") == std::string::npos) {
            EXPECT_EQ(Load(std::string("/ADDRSTART=") + c.Text).Settings.AddrStart, c.Value)
                << c.Text;
        }
    }
    // In a step line a blank before a minus turns it into "/", which is no number.
    EXPECT_EQ(Load("/ADDRSTART=  -5").Settings.AddrStart, 0);
    EXPECT_EQ(Load("/ADDRSTART=-5").Settings.AddrStart, -5);
}

TEST_F(StepFileTest, EveryNumericKeyStoresItsField) {
    Loaded l = Load(
        "/ADDREXTFLASH=1\r\n/ADDRSTART=2\r\n/AT_PROG_EE=3\r\n/ADDRLEN=4\r\n/BLOCKLEN=5\r\n"
        "/BLOCKSONROW=6\r\n/RUNADDR=7\r\n/ERASESECTORS=8\r\n/SPEEDSET=9\r\n/ATMEL=10\r\n"
        "/BANKPORT=11\r\n");
    const StepSettings& s = l.Settings;
    EXPECT_EQ(s.AddrExtFlash, 1);
    EXPECT_EQ(s.AddrStart, 2);
    EXPECT_EQ(s.AtProgEe, 3);
    EXPECT_EQ(s.AddrLen, 4);
    EXPECT_EQ(s.BlockLen, 5);
    EXPECT_EQ(s.BlocksOnRow, 6);
    EXPECT_EQ(s.RunAddr, 7);
    EXPECT_EQ(s.EraseSectors, 8);
    EXPECT_EQ(s.SpeedSet, 9);
    EXPECT_EQ(s.AtmelDevice, 10);
    EXPECT_EQ(s.BankPortValue, 11);
    EXPECT_TRUE(s.LoadError.empty());
}

TEST_F(StepFileTest, BankPortKeepsTheLow16Bits) {
    EXPECT_EQ(Load("").Settings.BankPortValue, 0xFFFF);
    EXPECT_EQ(Load("/BANKPORT=65535").Settings.BankPortValue, 0xFFFF);
    EXPECT_EQ(Load("/BANKPORT=$12345").Settings.BankPortValue, 0x2345);
    EXPECT_EQ(Load("/BANKPORT=-2").Settings.BankPortValue, 0xFFFE);
    EXPECT_EQ(Load("/BANKPORT=0").Settings.BankPortValue, 0);
}

TEST_F(StepFileTest, ModelKeys) {
    const char* keys[] = {"/P=",   "/PB=",  "/PL=",  "/PF=",  "/PE=",  "/PS=", "/PA=",
                          "/PSB=", "/PSH=", "/PAB=", "/PFB=", "/PFL=", "/P13="};
    for (int i = 0; i < 13; ++i) {
        Loaded l = Load(std::string(keys[i]) + "img.hex");
        EXPECT_EQ(l.Settings.ModelIndex, i + 1) << keys[i];
        EXPECT_EQ(l.Settings.ProgramFile, "IMG.HEX") << keys[i];
    }
    Loaded first = Load("/P=a.hex\r\n/PB=b.hex\r\n");
    EXPECT_EQ(first.Settings.ModelIndex, 1);
    EXPECT_EQ(first.Settings.ProgramFile, "A.HEX");
    Loaded same = Load("/PB=b.hex\r\n/PB=c.hex\r\n");
    EXPECT_EQ(same.Settings.ModelIndex, 2);
    EXPECT_EQ(same.Settings.ProgramFile, "C.HEX");

    Loaded none = Load("/RESET\r\n");
    EXPECT_EQ(none.Settings.ModelIndex, -1);
    EXPECT_EQ(none.Settings.ProgramFile, "");

    std::string longName(250, 'n');
    Loaded cut = Load("/PA=" + longName);
    EXPECT_EQ(cut.Settings.ProgramFile, std::string(ProgramFileLimit, 'N'));
}

TEST_F(StepFileTest, ExtraParametersAndArgumentsApplyToEveryStepAfterTheFile) {
    const std::string file =
        "/PA=ONE.HEX\r\n/BAUDRATE=1200\r\n*** NEXT ***\r\n/PB=TWO.HEX\r\n*** NEXT ***\r\n";
    const std::string extra = "  /AUTOCONTINUE    /BAUDRATE=9600 ";
    for (int step = 1; step <= 3; ++step) {
        Loaded l = Load(file, step, extra);
        EXPECT_TRUE(l.Settings.AutoContinue) << step;
        EXPECT_EQ(l.Settings.BaudRate, "9600") << step;
    }
    // Arguments come after the extra parameters; "AUTO=3" is an unknown line.
    Loaded args = Load(file, 1, extra, {"AUTO=3", "/baudrate=38400", "/RESET"});
    EXPECT_EQ(args.Settings.BaudRate, "38400");
    EXPECT_TRUE(args.Settings.Reset);

    // A model key from outside the file only acts where it does not contradict the step.
    EXPECT_EQ(Load(file, 1, "", {"/PA=X.HEX"}).Settings.ProgramFile, "X.HEX");
    EXPECT_EQ(Load(file, 2, "", {"/PA=X.HEX"}).Settings.ProgramFile, "TWO.HEX");
    Loaded third = Load(file, 3, "", {"/PA=X.HEX"});
    EXPECT_EQ(third.Settings.ModelIndex, 7);
    EXPECT_EQ(third.Settings.ProgramFile, "X.HEX");

    // Applied even when the step is missing, but not when the file cannot be opened.
    Loaded missing = Load(file, 9, extra);
    EXPECT_EQ(missing.Result, StepMissing);
    EXPECT_TRUE(missing.Settings.AutoContinue);

    Loaded l;
    ResetRunSettings(l.Settings, 1);
    l.Map.Rows = 77;
    CurrentProject project{dir_.File("absent.cfg"), "X", extra};
    EXPECT_EQ(LoadStep(1, project, {"/RESET"}, l.Settings, l.Map), StepFileNotOpened);
    EXPECT_FALSE(l.Settings.AutoContinue);
    EXPECT_FALSE(l.Settings.Reset);
    EXPECT_EQ(l.Map.Rows, 77);  // the map is not sized
}

TEST_F(StepFileTest, ExtraParameterWords) {
    EXPECT_EQ(ExtraParameterCount(""), 0);
    EXPECT_EQ(ExtraParameterCount("    "), 0);
    const std::string text = "  /A\t/B   /C ";
    EXPECT_EQ(ExtraParameterCount(text), 2);
    EXPECT_EQ(ExtraParameterWord(text, 1), "/A\t/B");  // a tab is part of a word
    EXPECT_EQ(ExtraParameterWord(text, 2), "/C");
    EXPECT_EQ(ExtraParameterWord(text, 3), "");
    EXPECT_EQ(ExtraParameterWord(text, 0), "");
    EXPECT_EQ(ExtraParameterWord("one", 1), "one");
}

TEST_F(StepFileTest, ModelsSixAndNineForceTheirValues) {
    Loaded six = Load("/PS=S.HEX\r\n/ADDRLEN=100\r\n/BAUDRATE=9600\r\n/ADDRSTART=5\r\n");
    EXPECT_EQ(six.Settings.AddrLen, 262144);
    EXPECT_EQ(six.Settings.AddrStart, 0);
    EXPECT_EQ(six.Settings.BlockLen, 1024);
    EXPECT_EQ(six.Settings.BlocksOnRow, 32);
    EXPECT_EQ(six.Settings.BaudRate, "115200");
    EXPECT_EQ(six.Map.Cols, 32);
    EXPECT_EQ(six.Map.Rows, 8);

    Loaded nine = Load("/PSH=H.BIN\r\n/ADDRLEN=100\r\n", 1, "", {"/BAUDRATE=9600"});
    EXPECT_EQ(nine.Settings.BaudRate, "115200");
    EXPECT_EQ(nine.Settings.AddrLen, 100);
}

TEST_F(StepFileTest, LoadStepSizesTheMap) {
    Loaded l = Load("/ADDRLEN=10000\r\n/BLOCKLEN=2048\r\n/BLOCKSONROW=16\r\n");
    EXPECT_EQ(l.Map.Rows, 1);
    EXPECT_EQ(l.Map.Cols, 16);
    Loaded big = Load("/ADDRLEN=$20000\r\n/BLOCKLEN=256\r\n/BLOCKSONROW=16\r\n");
    EXPECT_EQ(big.Map.Rows, 32);
}

// Values that would wrap where they are sent: the 16-bit sector mask, and the external
// flash's 512 KB that must lie in 32 bits apart from the internal flash at 0xC00000.
TEST_F(StepFileTest, ValuesThatWouldWrapAreBadValues) {
    struct {
        const char* Lines;
        bool Ok;
    } cases[] = {
        {"/ERASESECTORS=0", true},  // a zero mask is a mask
        {"/ERASESECTORS=$FFFF", true},
        {"/ERASESECTORS=$10000", false},
        {"/ERASESECTORS=-1", true},  // not set
        {"/ERASESECTORS=-2", false},
        {"/P13=x.hex\r\n/ADDREXTFLASH=0", true},
        {"/P13=x.hex\r\n/ADDREXTFLASH=-1", false},
        {"/P13=x.hex\r\n/ADDREXTFLASH=$B80000", true},   // ends where the internal flash starts
        {"/P13=x.hex\r\n/ADDREXTFLASH=$B80001", false},  // its last byte in the internal flash
        {"/P13=x.hex\r\n/ADDREXTFLASH=$C1FFFF", false},
        {"/P13=x.hex\r\n/ADDREXTFLASH=$C20000", true},
        {"/P13=x.hex\r\n/ADDREXTFLASH=$7FF80000", true},
        {"/PA=x.hex\r\n/ADDREXTFLASH=-1", true},  // no other model uses it
    };
    for (const auto& c : cases) {
        const std::string text = c.Lines;
        Loaded l = Load(text + "\r\n/ADDRLEN=1024\r\n");
        const std::string last = text.substr(text.rfind('\n') + 1);
        EXPECT_EQ(l.Settings.LoadError, c.Ok ? "" : TextBadValue + last) << text;
    }
}

TEST_F(StepFileTest, MalformedAtProgEeIsReportedNotGuessed) {
    struct {
        const char* Value;
        int32_t Expected;
        bool Ok;
    } cases[] = {{"2", 2, true},    {"$1", 1, true}, {" 0", 0, true},   {"ABC", -1, false},
                 {"1X", -1, false}, {"", -1, false}, {"1 ", -1, false}, {"99999999999", -1, false},
                 {"-", -1, false}};
    for (const auto& c : cases) {
        std::string line = std::string("/AT_PROG_EE=") + c.Value;
        Loaded l = Load(line + "\r\n");
        EXPECT_EQ(l.Settings.AtProgEe, c.Expected) << line;
        if (c.Ok) {
            EXPECT_EQ(l.Settings.LoadError, "") << line;
        } else {
            EXPECT_EQ(l.Settings.LoadError, TextBadValue + line) << line;
        }
    }
    Loaded lower = Load("/at_prog_ee=abc\r\n");
    EXPECT_EQ(lower.Settings.LoadError, std::string(TextBadValue) + "/AT_PROG_EE=ABC");

    // A later good line does not hide the bad one; the step still must not run.
    Loaded both = Load("/AT_PROG_EE=Q\r\n/AT_PROG_EE=1\r\n");
    EXPECT_EQ(both.Settings.LoadError, std::string(TextBadValue) + "/AT_PROG_EE=Q");

    // From the command line too, and the error does not leak into the next load.
    StepSettings s;
    MapGeometry map;
    ResetRunSettings(s, 1);
    LoadInto("/PA=A.HEX\r\n", 1, s, map, "", {"/AT_PROG_EE=1.5"});
    EXPECT_EQ(s.LoadError, std::string(TextBadValue) + "/AT_PROG_EE=1.5");
    LoadInto("/PA=A.HEX\r\n", 1, s, map);
    EXPECT_EQ(s.LoadError, "");

    // The error names the line in a form a status line can show.
    std::string hostile = "/AT_PROG_EE=\x01\n" + std::string(1000, 'Z');
    Loaded h = Load(hostile);
    ASSERT_FALSE(h.Settings.LoadError.empty());
    EXPECT_EQ(h.Settings.LoadError.find('\n'), std::string::npos);
    EXPECT_EQ(h.Settings.LoadError.rfind(std::string(TextBadValue) + "/AT_PROG_EE=??ZZ", 0), 0u);
    EXPECT_LE(h.Settings.LoadError.size(),
              std::string(TextBadValue).size() + LoadErrorLineLimit + 3);
}

TEST_F(StepFileTest, HugeLinesAndBinaryContent) {
    // A 3 MB line is read whole, and the line after it is still a line of its own.
    std::string huge = "/PA=" + std::string(3 * 1024 * 1024, 'a') + "\r\n/RESET\r\n";
    Loaded l = Load(huge);
    EXPECT_EQ(l.Settings.ProgramFile, std::string(ProgramFileLimit, 'A'));
    EXPECT_TRUE(l.Settings.Reset);
    Loaded noEnd = Load(std::string(3 * 1024 * 1024, '-'));
    EXPECT_EQ(noEnd.Result, StepLoaded);
    // Past the size limit a file is refused whole.
    EXPECT_EQ(Load(std::string(StepFileLimit + 1, '-')).Result, StepFileNotOpened);

    // NUL bytes are ordinary bytes of a line, but no value holds one: the step must not run.
    Loaded nul = Load(std::string("/PA=A\0B.hex\r\n/RE\0SET\r\n", 22));
    EXPECT_EQ(nul.Settings.ProgramFile, std::string("A\0B.HEX", 7));
    EXPECT_EQ(nul.Settings.LoadError, std::string(TextBadValue) + "/PA=A?B.HEX");
    EXPECT_FALSE(nul.Settings.Reset);

    // Binary garbage loads without harm: whatever it gives, the values stay in range.
    uint32_t seed = 12345;
    for (int round = 0; round < 20; ++round) {
        std::string bytes;
        for (int i = 0; i < 4096; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes += static_cast<char>(seed >> 24);
        }
        if (round % 2) bytes = "/PA=" + bytes;  // half of them with a value key in front
        for (int step = 1; step <= 3; ++step) {
            Loaded g = Load(bytes, step, "\x01\xff /S", {std::string("\0\0", 2)});
            EXPECT_TRUE(g.Result == StepLoaded || g.Result == StepMissing);
            EXPECT_LE(g.Settings.ProgramFile.size(), ProgramFileLimit);
            EXPECT_GE(g.Map.Rows, 1);
            EXPECT_GE(g.Map.Cols, 1);
        }
    }
}

TEST_F(StepFileTest, AFolderIsNoStepFile) {
    Loaded l;
    CurrentProject project{dir_.Path(), "X", ""};
    EXPECT_EQ(LoadStep(1, project, {}, l.Settings, l.Map), StepFileNotOpened);
    project.StepFile = "";
    EXPECT_EQ(LoadStep(1, project, {}, l.Settings, l.Map), StepFileNotOpened);
}

TEST(StepLineParserTest, CounterAndMembership) {
    StepSettings s;
    StepLineParser parser(s);
    parser.ResetCounter();
    EXPECT_TRUE(parser.ParseStepLine("/RESET", 1));
    EXPECT_FALSE(parser.ParseStepLine("/BOOT", 2));
    EXPECT_TRUE(s.Reset);
    EXPECT_FALSE(s.Boot);
    // The separator opens step 2 and belongs to it.
    EXPECT_TRUE(parser.ParseStepLine("*** NEXT ***", 2));
    EXPECT_EQ(parser.Counter(), 2);
    EXPECT_FALSE(parser.ParseStepLine("/SINHRO", 1));
    EXPECT_FALSE(s.Sinhro);
    EXPECT_TRUE(parser.ParseStepLine("/SINHRO", AllSteps));
    EXPECT_TRUE(s.Sinhro);
    // A flag is never cleared by a line.
    EXPECT_TRUE(parser.ParseStepLine("garbage", AllSteps));
    EXPECT_TRUE(s.Reset);
}

TEST(StepSettingsTest, RunResetLeavesStepAndNeverFieldsAlone) {
    StepSettings s;
    s.AddrExtFlash = 5;
    s.SpeedSet = 2;
    s.Reset = true;
    s.SaveImage = true;
    s.AddrLen = 9;
    s.BaudRate = "9600";
    ResetRunSettings(s, 3);
    EXPECT_EQ(s.ComPortNo, 3);
    EXPECT_EQ(s.AddrExtFlash, 5);
    EXPECT_EQ(s.SpeedSet, 2);
    EXPECT_TRUE(s.Reset);
    EXPECT_FALSE(s.SaveImage);
    EXPECT_EQ(s.AddrLen, 0);
    EXPECT_EQ(s.BaudRate, "115200");
    ResetStepSettings(s);
    EXPECT_FALSE(s.Reset);
    EXPECT_EQ(s.AddrExtFlash, 5);
}

}  // namespace
}  // namespace ps
