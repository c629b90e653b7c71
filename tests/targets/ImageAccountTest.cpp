// SPDX-License-Identifier: MIT
// The image account of every model: which data bytes of a file a step's loader programs at
// their own address, and why the others are not. One table per model family, the kinds of
// loss as rows, each window tried on both sides of each of its ends.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/InlineRig.h"
#include "images/ImageAccount.h"
#include "projects/StepFile.h"
#include "support/ChildProgram.h"
#include "support/StationHarness.h"
#include "targets/ImageRules.h"

namespace ps {
namespace {

using Bytes = std::vector<uint8_t>;
using inlinetest::IntelLine;
using inlinetest::SrecLine;

struct Row {
    const char* name;
    int32_t model;
    std::function<void(StepSettings&)> set;
    std::string text;
    int64_t lost;                  // -1: the file is malformed
    uint64_t first = 0;            // the first byte lost
    const char* reason = nullptr;  // the reason of the first loss (or the malformed one)
};

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return text;
}

std::string Ihex(uint16_t address, const Bytes& data) {
    return IntelLine(address, 0, data);
}
std::string Base(uint8_t type, uint16_t value) {
    return IntelLine(0, type, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}
std::string S(int kind, uint32_t address, const Bytes& data) {
    return SrecLine(kind, address, data, kind + 1);
}

void RunTable(const std::vector<Row>& rows) {
    pstest::TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        StepSettings s;
        ResetRunSettings(s, 1);
        ResetStepSettings(s);
        s.ModelIndex = r.model;
        s.ProgramFile = dir.File("image.img");
        if (r.set) r.set(s);
        dir.Write("image.img", r.text);
        MapGeometry map;
        map.Rows = 1;
        int64_t listed = 0;
        const StepImageAccount got = AccountStepImage(
            s, map, [&](int64_t, int64_t count, uint64_t, const char*) { listed += count; });
        ASSERT_TRUE(got.Applies);
        const ImageAccount& a = got.Account;
        if (r.lost < 0) {
            EXPECT_EQ(r.reason, a.Malformed) << a.Problem();
            EXPECT_FALSE(a.Programmable());
            continue;
        }
        EXPECT_EQ("", a.Malformed);
        EXPECT_EQ(r.lost, a.Lost) << a.Problem();
        EXPECT_EQ(r.lost, listed);  // the checker's list adds up to the same account
        EXPECT_EQ(r.lost == 0, a.Programmable());
        if (r.lost > 0) {
            EXPECT_EQ(r.first, a.FirstLostAddress);
            EXPECT_STREQ(r.reason, a.LostReason);
            EXPECT_NE(std::string::npos, a.Problem().find(r.reason)) << a.Problem();
        }
    }
}

auto Window(int32_t start, int32_t length) {
    return [=](StepSettings& s) {
        s.AddrStart = start;
        s.AddrLen = length;
    };
}

const Bytes one = {0x5A};
const Bytes erased = {0xFF, 0xFF};

TEST(ImageAccount, IntelLoaders) {
    const auto flash = Window(0, 0x10000);  // four banks: 0, 1, 2 and the last in the common window
    RunTable({
        {"BOOT: last byte of the window", 2, Window(0, 0x1000), Lines({Ihex(0x0FFF, one)}), 0},
        {"BOOT: first byte past it", 2, Window(0, 0x1000), Lines({Ihex(0x0FFF, {1, 2})}), 1, 0x1000,
         LostOutsideWindow},
        {"BOOT: erased bytes past it are no loss", 2, Window(0, 0x1000),
         Lines({Ihex(0x0FF0, one), Ihex(0x2000, erased)}), 0},
        {"BOOT: under a segment base", 2, Window(0, 0x10000),
         Lines({Base(2, 0x1000), Ihex(0x0010, one)}), 1, 0x10010, LostExtendedAddress},
        {"RAM: byte below /ADDRSTART=", 3, Window(0x8000, 0x1000), Lines({Ihex(0x7FFF, {1, 2})}), 1,
         0x7FFF, LostOutsideWindow},
        {"RAM: both ends inside", 3, Window(0x8000, 0x1000),
         Lines({Ihex(0x8000, one), Ihex(0x8FFF, one)}), 0},
        {"RAM: first byte past the end", 3, Window(0x8000, 0x1000), Lines({Ihex(0x9000, one)}), 1,
         0x9000, LostOutsideWindow},
        {"RAM: under a linear base", 3, Window(0x8000, 0x1000),
         Lines({Base(4, 1), Ihex(0x8000, one)}), 1, 0x18000, LostExtendedAddress},
        {"FLASH: plain image at 0x0000", 4, flash, Lines({Ihex(0x0000, {1, 2, 3})}), 3, 0x0000,
         LostBankWindows},
        {"FLASH: below the bank window", 4, flash, Lines({Ihex(0x3FFF, one)}), 1, 0x3FFF,
         LostBankWindows},
        {"FLASH: both ends of the bank window", 4, flash,
         Lines({Ihex(0x4000, one), Ihex(0x7FFF, one)}), 0},
        {"FLASH: first CPU address past the bank window", 4, flash, Lines({Ihex(0x8000, one)}), 1,
         0x8000, LostBankWindows},
        {"FLASH: both ends of the common window", 4, flash,
         Lines({Ihex(0xC000, one), Ihex(0xFFFF, one)}), 0},
        {"FLASH: bank 2 by its segment", 4, flash, Lines({Base(2, 0x2000), Ihex(0x4000, one)}), 0},
        {"FLASH: a bank past /ADDRLEN=", 4, Window(0, 0x8000),
         Lines({Base(2, 0x3000), Ihex(0x4000, one)}), 1, 0x34000, LostOutsideWindow},
        {"FLASH: common window past /ADDRLEN=", 4, Window(0, 0x6000), Lines({Ihex(0xE000, one)}), 1,
         0xE000, LostOutsideWindow},
        {"FLASH: linear addresses are not banks", 4, flash, Lines({Base(4, 1), Ihex(0x4000, one)}),
         1, 0x14000, LostExtendedAddress},
        {"FLASH: a segment that is no bank", 4, flash, Lines({Base(2, 0x0800), Ihex(0x4000, one)}),
         1, 0xC000, LostExtendedAddress},
        {"data after the end record counts", 2, Window(0, 0x1000),
         Lines({":00000001FF", Ihex(0x1000, one)}), 1, 0x1000, LostOutsideWindow},
        {"lower-case digits are digits", 2, Window(0, 0x1000), Lines({":01000000aa55"}), 0},
        {"a letter that is no digit", 2, Window(0, 0x1000), Lines({":01000000GA55"}), -1, 0,
         BadHexDigit},
        {"record cut short", 2, Window(0, 0x1000), Lines({":0400000001020304"}), -1, 0,
         BadShortRecord},
    });
}

TEST(ImageAccount, InlineTransfersAndAvr) {
    RunTable({
        {"MOTOROLA: S2 records", 1, {}, Lines({S(2, 0x10000, one)}), 0},
        {"MOTOROLA: S1 records", 1, {}, Lines({S(1, 0x1000, {1, 2})}), 2, 0x1000, LostS1OnlyS2},
        {"MOTOROLA: an erased S1 record", 1, {}, Lines({S(2, 0, one), S(1, 0, erased)}), 0},
        {"MOTOROLA: lower case", 1, {}, Lines({"S2050000001ae0"}), 0},
        {"MOTOROLA: count too small", 1, {}, Lines({"S203000000FC"}), -1, 0, BadCountTooSmall},
        {"574-BOOT: S1 records", 10, {}, Lines({S(1, 0x8000, one)}), 0},
        {"574-BOOT: S2 records", 10, {}, Lines({S(2, 0x8000, one)}), 1, 0x8000, LostS2OnlyS1},
        {"EMULATOR: 16-bit data", 5, {}, Lines({Ihex(0xFFFF, one)}), 0},
        {"EMULATOR: under a segment",
         5,
         {},
         Lines({Base(2, 0x1000), Ihex(0, one)}),
         1,
         0x10000,
         LostExtendedAddress},
        {"SHARC-Boot flash: under a linear base",
         8,
         {},
         Lines({Base(4, 2), Ihex(4, one)}),
         1,
         0x20004,
         LostExtendedAddress},
        {"ATMEL: last byte of a 32 KB step", 7, Window(0, 0x8000), Lines({Ihex(0x7FFF, one)}), 0},
        {"ATMEL: a boot loader above it", 7, Window(0, 0x8000), Lines({Ihex(0x8000, {1, 2})}), 2,
         0x8000, LostOutsideWindow},
        {"ATMEL: the last page is written whole", 7, Window(0, 0x7F01), Lines({Ihex(0x7F7F, one)}),
         0},
        {"ATMEL: EEPROM past its end", 7,
         [](StepSettings& s) {
             s.AtmelDevice = 4;
             s.AtProgEe = 1;
             s.AddrStart = 0;
             s.AddrLen = 0x200;
         },
         Lines({Ihex(0x1FF, one), Ihex(0x200, one)}), 1, 0x200, LostOutsideWindow},
    });
}

TEST(ImageAccount, Models91360AndInfineon) {
    const auto boot = Window(0x3E000, 0x2000);
    const auto ext = [](StepSettings& s) { s.AddrExtFlash = 0x400000; };
    RunTable({
        {"91360 BOOT: both ends of the window", 11, boot,
         Lines({S(2, 0x3E000, one), S(2, 0x3FFFF, one)}), 0},
        {"91360 BOOT: below /ADDRSTART=", 11, boot, Lines({S(2, 0x3DFFF, one)}), 1, 0x3DFFF,
         LostOutsideWindow},
        {"91360 BOOT: past /ADDRLEN=", 11, boot, Lines({S(2, 0x3FFFF, {1, 2})}), 1, 0x40000,
         LostOutsideWindow},
        {"91360 BOOT: S1 records", 11, boot, Lines({S(1, 0xE000, one)}), 1, 0xE000, LostS1OnlyS2},
        {"91360 BOOT: a zero length holds nothing", 11, Window(0x3E000, 0),
         Lines({S(2, 0x3E000, one)}), 1, 0x3E000, LostOutsideWindow},
        {"91360 BOOT: a window at address 0", 11, Window(0, 0x100),
         Lines({S(2, 0, one), S(2, 0xFF, one)}), 0},
        {"91360 LOADER: past 512 KB of /ADDRLEN=", 12, Window(0x180000, 0x100000),
         Lines({S(2, 0x1FFFFF, one), S(2, 0x200000, one)}), 1, 0x200000, LostOutsideWindow},
        {"91360 LOADER: above the last sector", 12, Window(0x1C0000, 0x80000),
         Lines({S(2, 0x1FFFFF, one), S(2, 0x200000, one)}), 1, 0x200000,
         "above the flash's last sector"},
        {"91360 LOADER: S3 records", 12, Window(0x180000, 0x80000), Lines({S(3, 0x180000, one)}), 1,
         0x180000, LostS3OnlyS2},
        {"INFINEON: no base is the internal flash", 13, ext, Lines({Ihex(0, one)}), 0},
        {"INFINEON: both ends of the internal flash", 13, ext,
         Lines({Base(4, 0xC0), Ihex(0, one), Base(4, 0xC1), Ihex(0xFFFF, one)}), 0},
        {"INFINEON: first byte past the internal flash", 13, ext,
         Lines({Base(4, 0xC2), Ihex(0, one)}), 1, 0xC20000, LostNeitherFlash},
        {"INFINEON: both ends of the external flash", 13, ext,
         Lines({Base(4, 0x40), Ihex(0, one), Base(4, 0x47), Ihex(0xFFFF, one)}), 0},
        {"INFINEON: past the external flash", 13, ext, Lines({Base(4, 0x48), Ihex(0, one)}), 1,
         0x480000, LostNeitherFlash},
        {"INFINEON: a segment base is not read", 13, ext, Lines({Base(2, 0x4000), Ihex(0, one)}), 1,
         0x40000, LostExtendedAddress},
        {"INFINEON: an upper address of two bytes", 13, ext, Lines({Base(4, 0x01C0), Ihex(0, one)}),
         1, 0x1C00000, LostNeitherFlash},
    });
}

// The same account, end to end on the terminal station: the run refuses the step before
// the port is opened and says why on a hint line and in its record; --check-images and
// --show-steps list it; --strict-images refuses exactly what the run would.
TEST(ImageAccount, TheRunTheChecksAndTheRecordTellTheSameAccount) {
    const std::string cli = std::string(PS_BINARY_DIR) + "/progstation-cli";
    pstest::TempDir dir;
    dir.Write("upgrade.cfg", pstest::StepLines({"/PA=a.hex", "/ATMEL=6", "/ADDRSTART=0",
                                                "/ADDRLEN=32768", "/AUTOCONTINUE"}));
    const std::map<std::string, std::string> env{{"PROGSTATION_COM1", "sim:avr,proc=6"}};
    const std::string reason = "2 data bytes will not be programmed, the first at 0x9000";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string image;
        int status;
        std::vector<std::string> said;  // in the output, in any order
        bool programmed = false;
    };
    const std::string good = Lines({Ihex(0, {1, 2, 3}), ":00000001FF"});
    const std::string lost = good + Lines({Ihex(0x9000, {4, 5})});
    const std::vector<Case> cases = {
        {"the run",
         {"--record", "runs.jsonl"},
         lost,
         12,
         {"hint: step 1 was refused before the port was opened, nothing sent: A.HEX: " + reason +
          " (line 3): " + LostOutsideWindow}},
        {"--check-images",
         {"--check-images"},
         lost,
         12,
         {"A.HEX:3: 2 data bytes from 0x9000 will not be programmed: " +
          std::string(LostOutsideWindow)}},
        {"--show-steps",
         {"--show-steps"},
         lost,
         0,
         {"Image warning: A.HEX:3: 2 data bytes from 0x9000"}},
        {"--strict-images",
         {"--strict-images", "--trace", "trace.txt"},
         lost,
         12,
         {"--strict-images: 1 finding(s); nothing was sent"}},
        {"--strict-images, a good image", {"--strict-images"}, good, 0, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("a.hex", c.image);
        std::vector<std::string> args = {"--ini", "PROGRAMMER.INI"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const pstest::ProgramResult p = pstest::RunChildProgram(cli, args, dir.Path(), env);
        EXPECT_EQ(c.status, p.Status) << p.Out;
        for (const std::string& text : c.said)
            EXPECT_NE(std::string::npos, p.Out.find(text)) << p.Out;
        // A refused image: no success, and the board was never even connected.
        EXPECT_EQ(c.programmed, p.Out.find("Programed ok!") != std::string::npos) << p.Out;
        if (c.status != 0) {
            EXPECT_EQ(std::string::npos, p.Out.find("connecting")) << p.Out;
        }
    }
    std::ifstream record(dir.File("runs.jsonl"));
    std::stringstream json;
    json << record.rdbuf();
    EXPECT_NE(std::string::npos, json.str().find(reason)) << json.str();
}

}  // namespace
}  // namespace ps
