// SPDX-License-Identifier: MIT
// One matrix of faults run over every model: each row is a model with a project that
// programs its simulated board cleanly; each column a way the board, the line or the
// operator can spoil the run. Whatever the fault, a run that ends in a success text with
// exit status 0 must leave the image in the board, and a run that does not must say so:
// never a success text after a failure, never a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/ExitStatus.h"
#include "app/InlineRig.h"
#include "images/ImageFile.h"
#include "sim/AvrBoard.h"
#include "sim/Board.h"
#include "sim/Boot574Board.h"
#include "sim/Boot91360Board.h"
#include "sim/EmulatorBoard.h"
#include "sim/IntelBootBoard.h"
#include "sim/IntelFlashBoard.h"
#include "sim/IntelRamBoard.h"
#include "sim/Loader91360Board.h"
#include "sim/MotorolaBoard.h"
#include "sim/SharcBootFlashBoard.h"
#include "sim/SharcHostBootBoard.h"
#include "sim/SharcSplitBoard.h"
#include "support/StationHarness.h"
#include "targets/avr/AvrRig.h"
#include "targets/bootloader/infineon/InfineonTexts.h"
#include "targets/infineon/InfineonRig.h"
#include "targets/intel/IntelRig.h"
#include "targets/m91360/Rig91360.h"
#include "targets/sharc/SharcRig.h"

namespace ps {
namespace {

using Bytes = std::vector<uint8_t>;

// A model's clean project: what the board is, the step file, the images it needs, and how
// to tell that the board holds the image after a run.
struct ModelRow {
    const char* Name;
    std::string BoardSpec;  // as after "sim:", without fault options
    std::vector<std::string> Step;
    // Writes the images the step names into the test's folder.
    std::function<void(pstest::TempDir&)> WriteImages;
    // True when the board holds the image.
    std::function<bool(sim::Board&)> HoldsImage;
    // A run that waits at most this long for an answer (a flow with time-outs) may end in
    // its own error when the board answers late; every other model just waits.
    bool LateAnswersMayFail = false;
    // The board's protocol has a "no" on this project's path, so "negative" must fail the
    // run; otherwise the option changes nothing and the run must simply stay truthful.
    bool NegativeFails = true;
    // The image is a raw binary, which any bytes make: a bad image is a missing one.
    bool BinaryImage = false;
    // The protocol waits for the board somewhere, so a silent board can only be stopped;
    // a board that never answers (a boot monitor taking bare blocks) is loaded all the same.
    bool WaitsForAnswers = true;
    // A flow with time-outs ends a silent board with its own error before anyone presses STOP.
    bool SilentFailsByItself = false;
    // A text other than "BREAK" that STOP may end in, with status 2: the flow reports a page
    // that STOP cut short as a failed page.
    const char* StopMayEndIn = nullptr;
};

// The image of the ATMEL row: 3000 bytes of program with erased stretches.
const Bytes& AtmelImage() {
    static const Bytes image = avrtest::SampleImage(3000, 7);
    return image;
}

// The images of the Intel rows: 16 KB for the boot monitor from 0; 8 KB at 0x8000 in RAM;
// 8 KB in a 64 KB banked flash (two banks and the common window).
const Bytes& IntelBootImage() {
    static const Bytes image = inteltest::Pattern(0x4000, 11);
    return image;
}
const Bytes& IntelRamImage() {
    static const Bytes image = inteltest::Pattern(0x2000, 12);
    return image;
}
const std::vector<inteltest::Segment>& IntelFlashSegments() {
    static const std::vector<inteltest::Segment> segments = {
        {0, 0x4000, inteltest::Pattern(0x1000, 13)},
        {2, 0x4000, inteltest::Pattern(0x800, 14)},
        {-1, 0xC000, inteltest::Pattern(0x800, 15)}};
    return segments;
}

bool HasAt(const Bytes& memory, size_t at, const Bytes& image) {
    return memory.size() >= at + image.size() &&
           std::equal(image.begin(), image.end(), memory.begin() + static_cast<long>(at));
}

// The images of the SHARC rows: records in pages 0 and 3 (over the board's older program),
// and a boot stream.
const Bytes& SharcSplitImage() {
    static const Bytes image = [] {
        Bytes flash = pstest::BlankSharcFlash();
        pstest::FillWords(flash, 0x0000, 0x100, 11);
        pstest::FillWords(flash, 3 * pstest::SharcPage + 0x40, 0x40, 12);
        return flash;
    }();
    return image;
}
const Bytes& SharcBootImage() {
    static const Bytes image = [] {
        Bytes boot(3000);
        for (size_t i = 0; i < boot.size(); ++i) boot[i] = static_cast<uint8_t>(i * 151 + 7);
        return boot;
    }();
    return image;
}

// The 91360 rows: a RAM program of thirty runs (so that a late STOP still falls inside the
// step), and a flash image across a sector boundary.
const m91360test::Memory& Boot91360Image() {
    static const m91360test::Memory image = [] {
        m91360test::Memory m;
        m91360test::Fill(m, 0x3E400, 6000);
        return m;
    }();
    return image;
}
const m91360test::Memory& Loader91360Image() {
    static const m91360test::Memory image = [] {
        m91360test::Memory m;
        m91360test::Fill(m, 0x180000, 1000);
        m91360test::Fill(m, 0x1B7F00, 512, 3);
        return m;
    }();
    return image;
}

std::vector<ModelRow> Models() {
    std::vector<ModelRow> rows;
    rows.push_back({
        "ATMEL",
        "avr,proc=6",
        {"/PA=image.hex", "/ATMEL=6", "/BaudRate=115200", "/AddrStart=0", "/AddrLen=32768",
         "/BlockLen=1024", "/BlocksOnRow=32", "/CHECKSUM", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.hex", avrtest::IntelHex(AtmelImage(), AtmelImage().size()));
        },
        [](sim::Board& board) {
            const auto& flash = dynamic_cast<sim::AvrBoard&>(board).Flash();
            const Bytes& image = AtmelImage();
            return flash.size() >= image.size() &&
                   std::equal(image.begin(), image.end(), flash.begin());
        },
        false,
        false,  // the AVR programmer has no negative answer on a plain flash step
    });
    rows.push_back({
        "SHARC-SPLIT 32b",
        "sharcsplit",
        {"/PS=image.hex", "/CHECKSUM", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) { dir.Write("image.hex", pstest::RecordFile(SharcSplitImage())); },
        [](sim::Board& board) {
            return dynamic_cast<sim::SharcSplitBoard&>(board).Flash() == SharcSplitImage();
        },
    });
    rows.push_back({
        "SHARC-HostBoot",
        "sharchost",
        {"/PSH=boot.bin", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            const Bytes& boot = SharcBootImage();
            dir.Write("boot.bin", std::string(boot.begin(), boot.end()));
        },
        [](sim::Board& board) {
            auto& b = dynamic_cast<sim::SharcHostBootBoard&>(board);
            return b.Finished() && b.Memory() == SharcBootImage();
        },
        false,
        true,
        true,
    });
    // The models the run controller programs itself. Each image is a little over 2 KB.
    using inlinetest::Chunks;
    using inlinetest::Overlay;
    using inlinetest::SampleBytes;
    static const Chunks motorola = {{0x0000, SampleBytes(2048, 21)},
                                    {0x4000, SampleBytes(512, 22)}};
    static const Chunks boot574 = {{0x8000, SampleBytes(2048, 23)}};
    static const Chunks bootFlash = {{0x0000, SampleBytes(2048, 24)}};
    static const Chunks emulator = {{0x0000, SampleBytes(2048, 25)}};
    rows.push_back({
        "MOTOROLA",
        "motorola,memory=0x10000",
        {"/P=image.mhx", "/ADDRLEN=$10000", "/SINHRO", "/ERASEFLASH", "/CHECKSUM", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.mhx", inlinetest::ImageFileText(motorola, 32, 2));
        },
        [](sim::Board& board) {
            return dynamic_cast<sim::MotorolaBoard&>(board).Memory() ==
                   Overlay(Bytes(0x10000, 0xFF), motorola);
        },
    });
    rows.push_back({
        "574-BOOT",
        "574boot",
        {"/PAB=image.mhx", "/SINHRO", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.mhx", inlinetest::ImageFileText(boot574, 16, 1));
        },
        [](sim::Board& board) {
            return dynamic_cast<sim::Boot574Board&>(board).Memory() ==
                   Overlay(sim::OldProgram(0x10000), boot574);
        },
        false,
        false,  // the 574 boot loader has no negative answer
    });
    rows.push_back({
        "SHARC-Boot flash",
        "sharcboot",
        {"/PSB=image.hex", "/ADDRLEN=$10000", "/CHECKSUM", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.hex", inlinetest::ImageFileText(bootFlash, 32, 0));
        },
        [](sim::Board& board) {
            return dynamic_cast<sim::SharcBootFlashBoard&>(board).Flash() ==
                   Overlay(Bytes(0x10000, 0xFF), bootFlash);
        },
    });
    rows.push_back({
        "INTEL - EMULATOR",
        "emulator",
        {"/PE=image.hex", "/SINHRO", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.hex", inlinetest::ImageFileText(emulator, 16, 0));
        },
        [](sim::Board& board) {
            auto& b = dynamic_cast<sim::EmulatorBoard&>(board);
            return b.Runs > 0 && b.Memory() == Overlay(sim::OldProgram(0x10000), emulator);
        },
        false,
        false,  // the emulator answers nothing
    });
    rows.push_back({
        "91360 BOOT",
        "91360-boot",
        {"/PFB=image.mhx", "/BaudRate=115200", "/AddrStart=$3E000", "/AddrLen=$2000",
         "/BlockLen=256", "/BlocksOnRow=16", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.mhx", m91360test::SRecords(Boot91360Image()));
        },
        [](sim::Board& board) {
            const auto& rom = dynamic_cast<sim::Boot91360Board&>(board);
            return rom.Started() && rom.Memory() == Boot91360Image();
        },
    });
    rows.push_back({
        "91360 LOADER",
        "91360-loader",
        {"/PFL=image.mhx", "/BaudRate=115200", "/AddrStart=$180000", "/AddrLen=$80000",
         "/BlockLen=$2000", "/BlocksOnRow=16", "/AUTOERASE", "/CHECKSUM", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("image.mhx", m91360test::SRecords(Loader91360Image()));
        },
        [](sim::Board& board) {
            const auto& flash = dynamic_cast<sim::Loader91360Board&>(board);
            for (uint32_t i = 0; i < sim::Loader91360Board::FlashSize; ++i) {
                const uint32_t a = sim::Loader91360Board::FlashStart + i;
                const auto it = Loader91360Image().find(a);
                if (flash.At(a) != (it == Loader91360Image().end() ? 0xFF : it->second))
                    return false;
            }
            return true;
        },
    });
    rows.push_back({
        "INTEL - BOOT",
        "intelboot",
        {"/PB=boot.hex", "/BaudRate=115200", "/AddrLen=$4000", "/BlockLen=256", "/BlocksOnRow=16",
         "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("boot.hex", inteltest::HexText({{-1, 0, IntelBootImage()}}));
        },
        [](sim::Board& board) {
            return HasAt(dynamic_cast<sim::IntelBootBoard&>(board).Memory(), 0, IntelBootImage());
        },
        false,
        false,  // the boot monitor answers nothing at all
        false,
        false,
    });
    rows.push_back({
        "INTEL - LOADER RAM",
        "intelram",
        {"/PL=ram.hex", "/BaudRate=115200", "/AddrStart=$8000", "/AddrLen=$2000", "/BlockLen=128",
         "/BlocksOnRow=16", "/ERASERAM", "/RUNADDR=$8000", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("ram.hex", inteltest::HexText({{-1, 0x8000, IntelRamImage()}}));
        },
        [](sim::Board& board) {
            return HasAt(dynamic_cast<sim::IntelRamBoard&>(board).Memory(), 0x8000,
                         IntelRamImage());
        },
        false,
        false,  // the RAM loader has no negative answer
    });
    rows.push_back({
        "INTEL - LOADER FLASH",
        "intelflash,banks=4",
        {"/PF=flash.hex", "/BaudRate=115200", "/AddrLen=$10000", "/BlockLen=$1000",
         "/BlocksOnRow=4", "/FLASHID", "/ERASEFLASH", "/AUTOCONTINUE"},
        [](pstest::TempDir& dir) {
            dir.Write("flash.hex", inteltest::HexText(IntelFlashSegments()));
        },
        [](sim::Board& board) {
            const Bytes& flash = dynamic_cast<sim::IntelFlashBoard&>(board).Flash();
            const auto& s = IntelFlashSegments();
            return HasAt(flash, 0x0000, s[0].Data) && HasAt(flash, 0x8000, s[1].Data) &&
                   HasAt(flash, 0xC000, s[2].Data);
        },
        false,
        true,  // a negative flash identification ends the step
    });
    rows.push_back({
        "INFINEON XC161CJ",
        "infineon",
        {"/P13=image.hex", "/BaudRate=57600", "/ADDREXTFLASH=0x400000", "/RESETSIGNAL=RTS0",
         "/RESET"},
        [](pstest::TempDir& dir) {
            inftest::Stages().Write(dir);  // the program's folder holds the stage programs
            dir.Write("image.hex", inftest::HexText(inftest::ProjectSegments()));
        },
        [](sim::Board& board) {
            auto& chip = dynamic_cast<sim::InfineonBoard&>(board);
            const auto segments = inftest::ProjectSegments();
            return chip.InternalFlash() == inftest::FlashImage(segments, 0xC00000, 0x20000) &&
                   chip.ExternalFlash() == inftest::FlashImage(segments, inftest::ExtBase, 0x80000);
        },
        true,   // every answer has its time limit
        true,   // the loader refuses the erase
        false,  // an Intel HEX image
        true,   // it waits for answers
        true,
        TextInfProgramError,
    });
    return rows;
}

enum class Fault {
    None,
    Silent,
    Negative,
    Noise,
    Late,
    Unplugged,
    StopEarly,
    StopMid,
    StopLate,
    BadImage,
    EmptyImage,
    UnprogrammableImage,
    ReadFailsHalfway,
    SilenceLimit
};

const char* FaultName(Fault f) {
    switch (f) {
        case Fault::None:
            return "Clean";
        case Fault::Silent:
            return "Silent";
        case Fault::Negative:
            return "Negative";
        case Fault::Noise:
            return "Noise";
        case Fault::Late:
            return "Late";
        case Fault::Unplugged:
            return "Unplugged";
        case Fault::StopEarly:
            return "StopEarly";
        case Fault::StopMid:
            return "StopMid";
        case Fault::StopLate:
            return "StopLate";
        case Fault::BadImage:
            return "BadImage";
        case Fault::EmptyImage:
            return "EmptyImage";
        case Fault::UnprogrammableImage:
            return "UnprogrammableImage";
        case Fault::ReadFailsHalfway:
            return "ReadFailsHalfway";
        case Fault::SilenceLimit:
            return "SilenceLimit";
    }
    return "?";
}

// No run of these projects takes anywhere near this long on the board's clock; a run still
// going then is stopped and fails the test.
constexpr int64_t RunLimitMs = 10 * 60 * 1000;
// A silent board is left with STOP, as an operator would.
constexpr int64_t SilentStopMs = 30 * 1000;
// The --silence-limit column's limit.
constexpr int64_t SilenceLimitMs = 2 * 1000;

bool IsSuccessText(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find("programed ok") != std::string::npos;
}

struct Outcome {
    int Exit = -1;
    bool SawSuccess = false;
    bool SuccessBeforeFailure = false;  // a success text shown, then a failure
    bool HoldsImage = false;
    bool HitLimit = false;
    long Pumps = 0;
    long BytesSent = 0;
    int64_t EndMs = 0;  // the station's clock when the run had ended
    std::string LastStatus;
    std::string Dump;
};

// Runs the row's project with `extraSpec` appended to the board spec; `arm` may set
// reactions on the harness before the run.
Outcome RunRow(const ModelRow& row, const std::string& extraSpec,
               const std::function<void(pstest::StationHarness&)>& arm = {},
               const std::function<void(pstest::TempDir&)>& spoil = {}) {
    std::string error;
    auto board = sim::MakeBoard(row.BoardSpec + extraSpec, error);
    EXPECT_TRUE(board) << error;
    if (!board) return {};
    pstest::StationHarness h(std::move(board));
    // Image names are taken from the project's folder, as the programs run in it.
    avrtest::InFolder inFolder(h.dir.Path());
    h.StepFile(row.Step);
    row.WriteImages(h.dir);
    if (spoil) spoil(h.dir);
    h.ContinueWhenAsked();
    Outcome out;
    h.view.AtTime(RunLimitMs, [&] {
        out.HitLimit = true;
        StopBtnClick(h.st);
    });
    if (arm) arm(h);
    out.Exit = h.Run();
    bool failureAfterSuccess = false;
    for (const auto& s : h.view.Statuses()) {
        if (IsSuccessText(s.Text)) {
            out.SawSuccess = true;
        } else if (out.SawSuccess && s.Colour == StatusColorError) {
            failureAfterSuccess = true;
        }
    }
    out.SuccessBeforeFailure = failureAfterSuccess;
    out.HoldsImage = row.HoldsImage(h.wire->board());
    out.Pumps = h.view.Pumps;
    out.BytesSent = static_cast<long>(h.Wire().SentBytes().size());
    out.LastStatus = h.view.LastStatus();
    out.EndMs = h.clock.NowMs();
    out.Dump = h.view.Dump();
    return out;
}

// The image files the row's step names, by its model keys.
std::vector<std::string> ImageNames(const ModelRow& row) {
    static const char* const keys[] = {"/P=",   "/PB=",  "/PL=",  "/PF=",  "/PE=",  "/PS=", "/PA=",
                                       "/PSB=", "/PSH=", "/PAB=", "/PFB=", "/PFL=", "/P13="};
    std::vector<std::string> names;
    for (const auto& line : row.Step) {
        std::string key = line.substr(0, line.find('=') + 1);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (std::find(std::begin(keys), std::end(keys), key) != std::end(keys))
            names.push_back(line.substr(key.size()));
    }
    return names;
}

// Records each row's loader cannot program at their own address, appended to its image
// (after the end record, which loaders read past). A raw binary has no such bytes: its
// unprogrammable image is an empty one.
std::string UnprogrammableRecords(const ModelRow& row) {
    using inlinetest::IntelLine;
    using inlinetest::SrecLine;
    const Bytes data = {0x12, 0x34};
    const std::string name = row.Name;
    auto base = [](uint8_t type, uint16_t v) {
        return IntelLine(0, type, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}) + "\r\n";
    };
    if (name == "ATMEL") return IntelLine(0x9000, 0, data) + "\r\n";  // past /AddrLen=32768
    if (name == "SHARC-SPLIT 32b")
        return "S01040000" + std::string(8, 'A') + "\r\n";  // past the flash
    if (name == "MOTOROLA") return SrecLine(1, 0x1000, data, 2) + "\r\n";
    if (name == "574-BOOT") return SrecLine(2, 0x8100, data, 3) + "\r\n";
    if (name == "SHARC-Boot flash") return base(4, 1) + IntelLine(0, 0, data) + "\r\n";
    if (name == "INTEL - EMULATOR") return base(2, 0x1000) + IntelLine(0, 0, data) + "\r\n";
    if (name == "91360 BOOT") return SrecLine(2, 0x40000, data, 3) + "\r\n";
    if (name == "91360 LOADER") return SrecLine(2, 0x17FFFE, data, 3) + "\r\n";
    if (name == "INTEL - BOOT") return IntelLine(0x4000, 0, data) + "\r\n";
    if (name == "INTEL - LOADER RAM") return IntelLine(0x7FFE, 0, data) + "\r\n";
    if (name == "INTEL - LOADER FLASH") return IntelLine(0x0000, 0, data) + "\r\n";
    if (name == "INFINEON XC161CJ") return base(4, 0x20) + IntelLine(0, 0, data) + "\r\n";
    return {};
}

// The file layer's read as a disk that fails half-way: the first read of a file gets the
// whole lines of its first few hundred bytes (what was read looks like a shorter file of
// good records), every later one fails with EIO.
size_t FailingRead(void* into, size_t size, std::FILE* file, bool& failed) {
    if (std::ftell(file) == 0) {
        failed = false;
        const size_t n = std::fread(into, 1, std::min<size_t>(size, 300), file);
        size_t lines = n;
        while (lines > 0 && static_cast<const char*>(into)[lines - 1] != '\n') --lines;
        return lines > 0 ? lines : n;
    }
    errno = EIO;
    failed = true;
    return 0;
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<size_t, Fault>> {};

TEST_P(FaultMatrix, NeverOkUnlessTheBoardHoldsTheImage) {
    const auto rows = Models();
    const ModelRow& row = rows[std::get<0>(GetParam())];
    const Fault fault = std::get<1>(GetParam());

    // The clean run is the yardstick: it must succeed, and its length places the faults.
    const Outcome clean = RunRow(row, "");
    ASSERT_EQ(ExitSuccess, clean.Exit) << clean.Dump;
    ASSERT_TRUE(clean.SawSuccess && clean.HoldsImage) << clean.Dump;

    Outcome out;
    switch (fault) {
        case Fault::None:
            out = clean;
            break;
        case Fault::Silent:
            out = RunRow(row, ",silent", [](pstest::StationHarness& h) {
                h.view.AtTime(SilentStopMs, [&h] { StopBtnClick(h.st); });
            });
            if (row.SilentFailsByItself) {
                EXPECT_NE(ExitSuccess, out.Exit) << out.Dump;
            } else {
                EXPECT_EQ(row.WaitsForAnswers ? ExitBreak : ExitSuccess, out.Exit) << out.Dump;
            }
            break;
        case Fault::Negative:
            out = RunRow(row, ",negative");
            if (row.NegativeFails) {
                EXPECT_NE(ExitSuccess, out.Exit) << out.Dump;
            }
            break;
        case Fault::Noise:
            out = RunRow(row, ",noise");
            break;
        case Fault::Late:
            out = RunRow(row, ",late=300");
            if (!row.LateAnswersMayFail) {
                EXPECT_EQ(ExitSuccess, out.Exit) << out.Dump;
            }
            break;
        case Fault::Unplugged:
            out = RunRow(row, ",drop=" + std::to_string(clean.BytesSent / 2));
            EXPECT_EQ(ExitComPort, out.Exit) << out.Dump;
            break;
        case Fault::StopEarly:
        case Fault::StopMid:
        case Fault::StopLate: {
            const long at = fault == Fault::StopEarly ? clean.Pumps / 10
                            : fault == Fault::StopMid ? clean.Pumps / 2
                                                      : clean.Pumps * 9 / 10;
            out = RunRow(row, "", [at](pstest::StationHarness& h) {
                h.view.AfterPumps(std::max(at, 1L), [&h] { StopBtnClick(h.st); });
            });
            if (row.StopMayEndIn && out.LastStatus == row.StopMayEndIn) {
                EXPECT_EQ(2, out.Exit) << out.Dump;
            } else {
                EXPECT_EQ(ExitBreak, out.Exit) << out.Dump;
                EXPECT_EQ("BREAK", out.LastStatus) << out.Dump;
            }
            break;
        }
        case Fault::BadImage:
            out = RunRow(row, "", {}, [&row](pstest::TempDir& dir) {
                // Every image becomes text that is no image at all (a raw binary is gone).
                for (const std::string& name : ImageNames(row)) {
                    if (row.BinaryImage)
                        std::filesystem::remove(dir.File(name));
                    else
                        dir.Write(name, "this is not an image\r\n");
                }
            });
            EXPECT_EQ(ExitImageFile, out.Exit) << out.Dump;
            break;
        case Fault::EmptyImage:
            // An image with an end record and nothing else: erasing the board and writing
            // nothing must never pass for programming. (Any bytes are a raw binary.)
            if (row.BinaryImage) return;
            out = RunRow(row, "", {}, [&row](pstest::TempDir& dir) {
                for (const std::string& name : ImageNames(row)) {
                    std::string lower = name;
                    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
                        return static_cast<char>(std::tolower(c));
                    });
                    const bool intelHex =
                        lower.size() >= 4 && lower.substr(lower.size() - 4) == ".hex";
                    dir.Write(name, intelHex ? ":00000001FF\r\n" : "S9030000FC\r\n");
                }
            });
            EXPECT_EQ(ExitImageFile, out.Exit) << out.Dump;
            break;
        case Fault::UnprogrammableImage:
            // The image holds data the step cannot program: refused before the port is
            // opened, the board untouched.
            out = RunRow(row, "", {}, [&row](pstest::TempDir& dir) {
                const std::string name = ImageNames(row).front();
                if (row.BinaryImage) {
                    dir.Write(name, "");
                    return;
                }
                std::ofstream(dir.File(name), std::ios::binary | std::ios::app)
                    << UnprogrammableRecords(row);
            });
            EXPECT_EQ(ExitImageFile, out.Exit) << out.Dump;
            EXPECT_EQ(0, out.BytesSent) << out.Dump;
            EXPECT_FALSE(out.SawSuccess) << out.Dump;
            break;
        case Fault::ReadFailsHalfway: {
            // What was read before the error is not the image: never programmed as if it were.
            if (row.BinaryImage) return;
            SetImageReadCall(&FailingRead);
            out = RunRow(row, "");
            SetImageReadCall(nullptr);
            EXPECT_EQ(ExitImageFile, out.Exit) << out.Dump;
            EXPECT_EQ(0, out.BytesSent) << out.Dump;
            break;
        }
        case Fault::SilenceLimit:
            // No STOP: every wait of every flow counts towards the limit, so the run ends
            // by itself soon after it (a flow with time-outs may end first, in its own error).
            out = RunRow(row, ",silent", [](pstest::StationHarness& h) {
                h.st.SilenceLimitMs = SilenceLimitMs;
                h.view.AtTime(SilenceLimitMs * 5, [&h] { StopBtnClick(h.st); });
            });
            if (row.SilentFailsByItself) {
                EXPECT_NE(ExitSuccess, out.Exit) << out.Dump;
            } else if (row.WaitsForAnswers) {
                EXPECT_EQ(RunBoardSilent, out.Exit) << out.Dump;
                EXPECT_EQ("ERROR : no answer from the board for 2 s", out.LastStatus) << out.Dump;
            } else {
                EXPECT_EQ(ExitSuccess, out.Exit) << out.Dump;
            }
            EXPECT_LT(out.EndMs, SilenceLimitMs * 5) << "the limit did not end the run\n" << out.Dump;
            break;
    }
    EXPECT_FALSE(out.HitLimit) << "the run did not end by itself\n" << out.Dump;
    // The promise every fault must keep.
    if (out.Exit == ExitSuccess) {
        EXPECT_TRUE(out.HoldsImage) << "exit 0 but the board does not hold the image\n" << out.Dump;
    } else {
        EXPECT_FALSE(out.SawSuccess) << "a success text after a failure\n" << out.Dump;
    }
    EXPECT_FALSE(out.SuccessBeforeFailure) << out.Dump;
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<size_t, Fault>>& info) {
    std::string model = Models()[std::get<0>(info.param)].Name;
    std::string name;
    for (char c : model)
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    return name + "_" + FaultName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, FaultMatrix,
    ::testing::Combine(::testing::Range<size_t>(0, Models().size()),
                       ::testing::Values(Fault::None, Fault::Silent, Fault::Negative, Fault::Noise,
                                         Fault::Late, Fault::Unplugged, Fault::StopEarly,
                                         Fault::StopMid, Fault::StopLate, Fault::BadImage,
                                         Fault::EmptyImage, Fault::UnprogrammableImage,
                                         Fault::ReadFailsHalfway, Fault::SilenceLimit)),
    CaseName);

}  // namespace
}  // namespace ps
