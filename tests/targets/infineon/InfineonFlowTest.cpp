// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "app/Hints.h"
#include "run/Texts.h"
#include "images/DataFolder.h"
#include "images/ImageFile.h"
#include "link/Crc32.h"
#include "targets/avr/AvrRig.h"
#include "targets/bootloader/infineon/InfineonFlow.h"
#include "targets/bootloader/infineon/InfineonImage.h"
#include "targets/bootloader/infineon/InfineonTexts.h"
#include "targets/infineon/InfineonRig.h"

namespace ps {
namespace {

using inftest::Bytes;
using inftest::ExtBase;
using inftest::FlashImage;
using inftest::HexText;
using inftest::Pattern;
using inftest::Rig;
using inftest::Segment;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

size_t Count(const Bytes& haystack, const Bytes& needle) {
    size_t n = 0;
    for (auto it = haystack.begin();
         (it = std::search(it, haystack.end(), needle.begin(), needle.end())) != haystack.end();
         ++it)
        ++n;
    return n;
}

bool HoldsImage(Rig& rig) {
    return rig.Board().InternalFlash() == FlashImage(rig.segments, 0xC00000, 0x20000) &&
           rig.Board().ExternalFlash() == FlashImage(rig.segments, ExtBase, 0x80000);
}

size_t BlocksOf(const sim::RecordingView& view, uint32_t colour) {
    size_t n = 0;
    for (const auto& b : view.Blocks()) n += b.Colour == colour ? 1 : 0;
    return n;
}

TEST(InfineonFlow, ProgramsBothFlashesWithTheProtocolsBytes) {
    Rig rig;
    ASSERT_EQ(ExitSuccess, rig.Run()) << rig.h.view.Dump();
    sim::InfineonBoard& board = rig.Board();
    EXPECT_TRUE(HoldsImage(rig));
    // The stages arrived as the stand-ins hold them, the first two at the step's 9600 baud
    // (loader1's 2016 bytes take 2.1 s there, far beyond the 500 ms its answer may take).
    EXPECT_EQ(rig.stages.Boot, board.BootProgram());
    EXPECT_EQ(Bytes(rig.stages.Loader1.begin() + 32, rig.stages.Loader1.end()), board.Loader1());
    EXPECT_EQ(rig.stages.Loader2, board.Ram(0x100000, 1536));
    EXPECT_EQ(9600u, board.BootstrapBaud());
    EXPECT_EQ(115200u, rig.h.Wire().Bauds.back().Baud);
    // Without the tests every sector is erased; 13 pages are used.
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 6}), board.InternalErases());
    EXPECT_EQ((std::vector<uint16_t>{0x07FF}), board.ExternalErases());
    EXPECT_EQ(13, board.PagesProgrammed());
    EXPECT_EQ(6, board.Fills());
    EXPECT_EQ(1, board.Starts());

    const Bytes sent = rig.h.Wire().SentBytes();
    const Bytes internal = FlashImage(rig.segments, 0xC00000, 0x20000);
    const Bytes external = FlashImage(rig.segments, ExtBase, 0x80000);
    const Bytes start = Cat({{0x00},
                             rig.stages.Boot,
                             Bytes(rig.stages.Loader1.begin() + 32, rig.stages.Loader1.end()),
                             {'S', 'F', 0x00, 0x10, 0x00, 0x00, 0x00, 0x80},
                             Bytes(rig.stages.Loader2.begin(), rig.stages.Loader2.begin() + 256),
                             {'C', 0x00, 0x10, 0x00, 0x00, 0x00, 0x80}});
    ASSERT_GE(sent.size(), start.size());
    EXPECT_EQ(start, Bytes(sent.begin(), sent.begin() + static_cast<long>(start.size())));
    EXPECT_EQ(1u, Count(sent, {'S', 'V', 'r', 'S', 'V', 'S'}));
    EXPECT_EQ(1u, Count(sent, {'X', 0x06, 'x', 0x07, 0xFF}));
    EXPECT_EQ(1u, Count(sent, Cat({{'P', 0x01, 0x24},
                                   Bytes(&internal[0x12400], &internal[0x12500]),
                                   {'C', 0x00, 0xC1, 0x24, 0x00, 0x00, 0x80}})));
    EXPECT_EQ(1u, Count(sent, Cat({{'p', 0x02, 0x34},
                                   Bytes(&external[0x23400], &external[0x23500]),
                                   {'C', 0x00, 0x42, 0x34, 0x00, 0x00, 0x80}})));
    EXPECT_EQ('g', sent.back());

    EXPECT_EQ(
        (std::vector<std::string>{
            TextInfConnecting, TextInfBootLoading, TextInfLoaderLoading, TextInfConnectingLoader2,
            TextInfConnectingLoader, TextInfErasingInternal, "Erasing External Flash (11/11)...",
            TextInfProgramingInternal, TextInfProgramingExternal, TextProgramedOkLower}),
        rig.h.view.StatusTexts());
    EXPECT_EQ(100, rig.h.view.LastProgress());
    // 40 rows of 32 cells of 512 bytes: the internal part takes the first 256 cells.
    EXPECT_EQ(ProgrammedColour, rig.h.st.GetBlock(0, 0));     // internal page 0
    EXPECT_EQ(EmptyColour, rig.h.st.GetBlock(2, 0));          // internal 0x8000, unused
    EXPECT_EQ(ProgrammedColour, rig.h.st.GetBlock(8, 0));     // external page 0
    EXPECT_EQ(InfineonGreyColour, rig.h.st.GetBlock(24, 0));  // external 0x40000, unused
}

TEST(InfineonFlow, ExampleProgramsOnceThenItsTestsFindNothingToDo) {
    const std::string example = std::string(PS_SOURCE_DIR) + "/examples/infineon";
    pstest::StationHarness h(inftest::MakeBoard("infineon"));
    avrtest::InFolder inFolder(example);
    h.st.Project.StepFile = example + "/upgrade.cfg";
    // The program is elsewhere and no data folder is named: the example's stage files are
    // found beside its step file.
    pstest::TempDir program;
    h.st.ProgramFolder = program.Path() + "/";
    ASSERT_EQ(nullptr, std::getenv(DataFolderEnv));
    ASSERT_EQ(ExitSuccess, h.Run()) << h.view.Dump();
    auto& board = h.Board<sim::InfineonBoard>();
    const int programmed = board.PagesProgrammed();
    EXPECT_GT(programmed, 0);
    EXPECT_EQ(6u, board.InternalErases().size());

    h.view.ClearRecord();
    h.st.CommandLineArgs = {"/TESTINT", "/TESTEXT"};
    ASSERT_EQ(ExitSuccess, h.Run()) << h.view.Dump();
    EXPECT_EQ(programmed, board.PagesProgrammed());
    EXPECT_EQ(6u, board.InternalErases().size());
    EXPECT_EQ(1u, board.ExternalErases().size());
    EXPECT_TRUE(h.view.SawStatus(TextInfTestingExternal));
    EXPECT_FALSE(h.view.SawStatusContaining(TextInfErasingExternal));
    EXPECT_EQ(TextProgramedOkLower, h.view.LastStatus());
    EXPECT_GT(BlocksOf(h.view, InfineonIdenticalColour), 0u);
}

// Which sectors are erased and which pages go out, by the sector tests and what the chip holds.
TEST(InfineonFlow, SectorsThatMatchAreNeitherErasedNorProgrammed) {
    struct Row {
        const char* Name;
        std::vector<std::string> Flags;
        bool OnlySector6;  // the image holds data in internal sector 6 only
        bool ChipHoldsImage;
        uint32_t ChangedExternalByte;  // 0: none
        std::vector<int> InternalErases;
        std::vector<uint16_t> ExternalErases;
        const char* ExternalStatus;  // nullptr: no external erase shown
        int Pages;
    };
    const Row rows[] = {
        {"Sector6Held", {"/TESTINT", "/TESTEXT"}, true, true, 0, {}, {}, nullptr, 0},
        {"NoTestExt",
         {"/TESTINT"},
         false,
         true,
         0,
         {},
         {0x07FF},
         "Erasing External Flash (11/11)...",
         6},
        {"OneExternalSectorDiffers",
         {"/TESTEXT"},
         false,
         true,
         0x23456,
         {1, 2, 3, 4, 5, 6},
         {0x0020},
         "Erasing External Flash (1/11)...",
         9},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        Rig rig;
        if (row.OnlySector6) {
            rig.segments = {inftest::ProjectSegments()[1]};
            rig.h.dir.Write("fw.hex", HexText(rig.segments));
        }
        if (row.ChipHoldsImage) {
            rig.Board().InternalFlash() = FlashImage(rig.segments, 0xC00000, 0x20000);
            rig.Board().ExternalFlash() = FlashImage(rig.segments, ExtBase, 0x80000);
        }
        if (row.ChangedExternalByte) rig.Board().ExternalFlash()[row.ChangedExternalByte] ^= 0x5A;
        rig.Step(row.Flags);
        ASSERT_EQ(ExitSuccess, rig.Run()) << rig.h.view.Dump();
        EXPECT_TRUE(HoldsImage(rig));
        EXPECT_EQ(row.InternalErases, rig.Board().InternalErases());
        EXPECT_EQ(row.ExternalErases, rig.Board().ExternalErases());
        EXPECT_EQ(row.Pages, rig.Board().PagesProgrammed());
        EXPECT_TRUE(rig.h.view.SawStatus(TextInfErasingInternal));
        EXPECT_EQ(row.ExternalStatus != nullptr,
                  rig.h.view.SawStatusContaining(TextInfErasingExternal));
        if (row.ExternalStatus) {
            EXPECT_TRUE(rig.h.view.SawStatus(row.ExternalStatus));
        }
        EXPECT_EQ(TextProgramedOkLower, rig.h.view.LastStatus());
        // Pages of sectors left alone are shown green.
        EXPECT_EQ(row.Pages<13, BlocksOf(rig.h.view, InfineonIdenticalColour)> 0);
    }
}

// Every row of both sector tables, written out here apart from the flow's own tables: each
// sector's CRC request covers it exactly, and an image with a byte on the first and on the
// last page of one sector (a page on each of its boundaries) erases that sector alone and
// programs both pages.
TEST(InfineonFlow, EverySectorOfBothFlashesOnBothOfItsBoundaries) {
    struct Table {
        uint32_t Base;
        std::vector<uint32_t> Starts;  // the end of the last sector last
        bool External;
    };
    const Table tables[] = {
        {0xC00000, {0x0, 0x2000, 0x4000, 0x6000, 0x8000, 0x10000, 0x20000}, false},
        {ExtBase,
         {0x0, 0x4000, 0x6000, 0x8000, 0x10000, 0x20000, 0x30000, 0x40000, 0x50000, 0x60000,
          0x70000, 0x80000},
         true},
    };
    auto be32 = [](uint32_t v) {
        return Bytes{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    };
    {
        Rig rig;
        rig.Step({"/TESTINT", "/TESTEXT"});
        ASSERT_EQ(ExitSuccess, rig.Run()) << rig.h.view.Dump();
        const Bytes sent = rig.h.Wire().SentBytes();
        size_t requests = 0;
        for (const Table& t : tables)
            for (size_t i = 0; i + 1 < t.Starts.size(); ++i) {
                SCOPED_TRACE(t.Base + t.Starts[i]);
                EXPECT_EQ(1u, Count(sent, Cat({{'c'},
                                               be32(t.Base + t.Starts[i]),
                                               be32(t.Base + t.Starts[i + 1] - 1)})));
                ++requests;
            }
        EXPECT_EQ(17u, requests);
    }
    for (const Table& t : tables) {
        for (size_t i = 0; i + 1 < t.Starts.size(); ++i) {
            const int sector = static_cast<int>(i) + 1;
            SCOPED_TRACE((t.External ? "external sector " : "internal sector ") +
                         std::to_string(sector));
            Rig rig;
            rig.segments = {{t.Base + t.Starts[i], Pattern(1, 3)},
                            {t.Base + t.Starts[i + 1] - 1, Pattern(1, 4)}};
            rig.h.dir.Write("fw.hex", HexText(rig.segments));
            std::fill(rig.Board().InternalFlash().begin(), rig.Board().InternalFlash().end(), 0xFF);
            std::fill(rig.Board().ExternalFlash().begin(), rig.Board().ExternalFlash().end(), 0xFF);
            rig.Step({"/TESTINT", "/TESTEXT"});
            ASSERT_EQ(ExitSuccess, rig.Run()) << rig.h.view.Dump();
            EXPECT_TRUE(HoldsImage(rig));
            EXPECT_EQ(t.External ? std::vector<int>{} : std::vector<int>{sector},
                      rig.Board().InternalErases());
            EXPECT_EQ(t.External ? std::vector<uint16_t>{static_cast<uint16_t>(1u << i)}
                                 : std::vector<uint16_t>{},
                      rig.Board().ExternalErases());
            EXPECT_EQ(2, rig.Board().PagesProgrammed());
        }
    }
}

TEST(InfineonFlow, SectorCrcLeavesOutErasedAndZeroBytes) {
    FillCrc32Table();
    const Bytes plain = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes mixed = {0xFF, '1',  0x00, '2', '3', 0xFF, 0xFF, '4',
                         '5',  0x00, '6',  '7', '8', '9',  0x00};
    EXPECT_EQ(0xCBF43926u, InfineonSectorCrc(plain, 0, 9));
    EXPECT_EQ(0xCBF43926u, InfineonSectorCrc(mixed, 0, static_cast<uint32_t>(mixed.size())));
    EXPECT_EQ(0u, InfineonSectorCrc(Bytes(0x2000, 0xFF), 0, 0x2000));
    EXPECT_EQ(0u, InfineonSectorCrc(Bytes(0x2000, 0x00), 0, 0x2000));
    EXPECT_EQ(0xCBF43926u, sim::InfineonBoard::SectorCrc(mixed.data(), mixed.size()));
    // Little-endian words: 0x0201 + 0x0403.
    const uint8_t page[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(0x0604, InfineonPageSum(page, 4));
}

TEST(InfineonFlow, AWrongCheckSendsThePageAgain) {
    struct Row {
        const char* Spec;
        int Fills, Pages;
    };
    for (const Row& row :
         {Row{"infineon,badcheck=fill", 7, 13}, Row{"infineon,badcheck=program", 6, 14}}) {
        SCOPED_TRACE(row.Spec);
        Rig rig(row.Spec);
        ASSERT_EQ(ExitSuccess, rig.Run()) << rig.h.view.Dump();
        EXPECT_TRUE(HoldsImage(rig));
        EXPECT_EQ(row.Fills, rig.Board().Fills());
        EXPECT_EQ(row.Pages, rig.Board().PagesProgrammed());
        // The page is shown red until it goes through.
        EXPECT_EQ(1u, BlocksOf(rig.h.view, InfineonFailedColour));
    }
}

// Every failure ends the step with its own text in red, status 2, and never a success text.
TEST(InfineonFlow, EachFailureShowsItsTextWithStatus2) {
    struct Row {
        const char* Name;
        const char* Spec;
        const char* Text;
        std::function<void(Rig&)> Arm;
    };
    const Row rows[] = {
        {"SilentChip", "infineon,silent", TextInfConnectingError, {}},
        {"BootProgramSilent", "infineon,quiet=boot", TextInfBootLoaderError, {}},
        {"Loader1NeverStarts", "infineon,quiet=loader1", TextInfLoaderError, {}},
        {"Loader1TakesNoFill", "infineon,quiet=fill", TextInfFillError, {}},
        {"Loader2Silent", "infineon,quiet=loader2", TextInfLoaderError, {}},
        {"EraseRefused", "infineon,negative", TextInfEraseError, {}},
        {"PortDoesNotReopen", "infineon", TextErrorOpeningComPort,
         [](Rig& rig) {
             rig.h.st.Comm.SetResolver([w = rig.h.wire, opens = 0](int) mutable {
                 return ++opens > 1 ? nullptr : std::make_unique<sim::SimPortDevice>(w);
             });
         }},
        // STOP inside a page the board never takes: the page did not pass.
        {"StopInsideAPage", "infineon,quiet=program", TextInfProgramError,
         [](Rig& rig) {
             rig.h.view.AtStatus(TextInfProgramingInternal, [&rig] { StopBtnClick(rig.h.st); });
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        Rig rig(row.Spec);
        if (row.Arm) row.Arm(rig);
        EXPECT_EQ(2, rig.Run()) << rig.h.view.Dump();
        EXPECT_FALSE(rig.hitLimit);
        const auto statuses = rig.h.view.Statuses();
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(row.Text, statuses.back().Text);
        EXPECT_EQ(StatusColorError, statuses.back().Colour);
        EXPECT_EQ(1, std::count_if(statuses.begin(), statuses.end(),
                                   [](const auto& s) { return s.Colour == StatusColorError; }));
        EXPECT_FALSE(rig.h.view.SawStatus(TextProgramedOkLower));
        EXPECT_EQ(0, rig.Board().Starts());
    }
}

TEST(InfineonFlow, StopBetweenPagesEndsWithBreak) {
    Rig rig;
    // STOP at the pump that follows the second internal page's progress.
    size_t seen = 0;
    int progressAfterProgramming = -1;
    rig.h.view.When(
        [&] {
            for (; seen < rig.h.view.Calls.size(); ++seen) {
                const auto& call = rig.h.view.Calls[seen];
                if (call.Kind == sim::RecordingView::CallKind::Status)
                    progressAfterProgramming = call.Text == TextInfProgramingInternal ? 0 : -1;
                else if (call.Kind == sim::RecordingView::CallKind::Progress &&
                         progressAfterProgramming >= 0)
                    ++progressAfterProgramming;
            }
            return progressAfterProgramming >= 2;
        },
        [&] { StopBtnClick(rig.h.st); });
    EXPECT_EQ(ExitBreak, rig.Run()) << rig.h.view.Dump();
    EXPECT_EQ(TextBreak, rig.h.view.LastStatus());
    EXPECT_FALSE(rig.h.view.SawStatus(TextInfProgramError));
    EXPECT_EQ(2, rig.Board().PagesProgrammed());
    EXPECT_EQ(0, rig.Board().Starts());
}

TEST(InfineonFlow, AMissingStageFileEndsTheStepBeforeAnyByte) {
    for (const char* missing : {InfineonBootFile, InfineonLoader1File, InfineonLoader2File}) {
        SCOPED_TRACE(missing);
        pstest::TempDir data;
        setenv(DataFolderEnv, data.Path().c_str(), 1);
        Rig rig;
        std::remove(rig.h.dir.File(missing).c_str());
        EXPECT_EQ(ExitImageFile, rig.Run());
        const auto messages = rig.h.view.Messages();
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ(CannotOpenMessage(rig.h.dir.File(missing)) + "\r" + data.File(missing),
                  messages[0].Text);
        EXPECT_TRUE(rig.h.Wire().SentBytes().empty());
        // The terminal station's hint names the stage program, not the project's image.
        const auto hints = RunHints(rig.h.st, HintContext{});
        ASSERT_EQ(1u, hints.size());
        EXPECT_NE(std::string::npos, hints[0].find(std::string(missing) + " is not in"));
        unsetenv(DataFolderEnv);
    }
}

// A stage program with nothing in the range it is sent from would go out as 0xFF bytes.
TEST(InfineonFlow, AStageWithoutDataInItsRangeEndsTheStepBeforeAnyByte) {
    const struct {
        const char* File;
        uint32_t Address;  // just past the stage's range
    } stages[] = {{InfineonBootFile, 0xFA60}, {InfineonLoader1File, 0xE00800},
                  {InfineonLoader2File, 0x180000}};
    for (const auto& stage : stages) {
        SCOPED_TRACE(stage.File);
        Rig rig;
        rig.h.dir.Write(stage.File, HexText({{stage.Address, Pattern(16, 5)}}));
        EXPECT_EQ(ExitImageFile, rig.Run());
        const auto messages = rig.h.view.Messages();
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ(NotHexMessage(rig.h.dir.File(stage.File), TextInfStageWithoutData),
                  messages[0].Text);
        EXPECT_TRUE(rig.h.Wire().SentBytes().empty());
    }
}

TEST(InfineonFlow, StageFilesAreFoundInTheDataFolder) {
    pstest::TempDir data;
    setenv(DataFolderEnv, data.Path().c_str(), 1);
    Rig rig;
    rig.stages.Write(data);
    for (const char* name : {InfineonBootFile, InfineonLoader1File, InfineonLoader2File})
        std::remove(rig.h.dir.File(name).c_str());
    EXPECT_EQ(ExitSuccess, rig.Run()) << rig.h.view.Dump();
    EXPECT_TRUE(HoldsImage(rig));
    unsetenv(DataFolderEnv);
}

// Every byte of a record lands where its own address says, or nowhere.
TEST(LoadInfineonHex, RecordsAreCutAtTheEndOfTheirRange) {
    struct Stored {
        int32_t Offset;    // in the image
        int First, Count;  // of the record's bytes
    };
    struct Row {
        const char* Name;
        uint32_t Address;
        uint32_t ExternalBase;
        std::vector<Stored> Bytes;
        std::vector<int> UsedPages;
    };
    const Row rows[] = {
        {"InternalTailDropped", 0xC1FFF8, ExtBase, {{0x1FFF8, 0, 8}}, {511}},
        {"InternalTailToAdjacentExternal",
         0xC1FFF8,
         0xC20000,
         {{0x1FFF8, 0, 8}, {0x20000, 8, 8}},
         {511, 512}},
        {"ExternalTailDropped", ExtBase + 0x7FFF8, ExtBase, {{0x9FFF8, 0, 8}}, {2559}},
        {"HeadBeforeInternal", 0xBFFFF8, ExtBase, {{0x00000, 8, 8}}, {0}},
        {"Nowhere", 0x300000, ExtBase, {}, {}},
    };
    const inftest::Bytes data = Pattern(16, 99);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        sim::VirtualClock clock;
        sim::RecordingView view;
        Station st(clock, view);
        pstest::TempDir dir;
        dir.Write("r.hex", HexText({{row.Address, data}}));
        ASSERT_TRUE(LoadInfineonHex(st, dir.File("r.hex"), 0xC00000, true, 0x80000,
                                    row.ExternalBase, true, 0x20000));
        inftest::Bytes expected(InfineonImageSize, 0xFF);
        for (const Stored& s : row.Bytes)
            std::copy_n(data.begin() + s.First, s.Count, expected.begin() + s.Offset);
        EXPECT_EQ(expected, st.InfineonImage);
        std::vector<int> used;
        for (int p = 0; p < InfineonPageCount; ++p)
            if (st.InfineonPageUsed[static_cast<size_t>(p)]) used.push_back(p);
        EXPECT_EQ(row.UsedPages, used);
    }
}

}  // namespace
}  // namespace ps
