// SPDX-License-Identifier: MIT
// "91360 BOOT" end to end against the simulated boot ROM: the image in the target's
// memory, the runs and frames on the wire, the start, the refusals and STOP.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "images/ImageFile.h"
#include "sim/Boot91360Board.h"
#include "targets/bootloader/m91360/Texts91360.h"
#include "targets/m91360/Rig91360.h"

namespace {

using namespace m91360test;
using Board = ps::sim::Boot91360Board;
using Frames = std::vector<std::pair<uint32_t, int>>;
using Bytes = std::vector<uint8_t>;

const std::vector<std::string> Window = {"/ADDRSTART=$3E000", "/ADDRLEN=$2000", "/BLOCKLEN=256",
                                         "/BLOCKSONROW=16", "/AUTOCONTINUE"};

struct BootRig : Rig {
    explicit BootRig(Board::Options options = {})
        : Rig(std::make_unique<Board>(options)), rom(static_cast<Board&>(board)) {}
    int Run(const Memory& image, std::vector<std::string> lines = Window) {
        return Rig::Run("/PFB=", image, lines);
    }
    Frames SentFrames() const {
        Frames out;
        for (const auto& f : rom.Frames()) out.emplace_back(f.Address, f.Length);
        return out;
    }
    Board& rom;
};

bool SawProgramedOk(const ps::sim::RecordingView& view) {
    return view.SawStatusContaining(ps::Msg91360ProgramedOk);
}

TEST(Boot91360, LoadsTheImageInRunsOfAtMost201AndStartsIt) {
    Memory image;
    Fill(image, 0x3E400, 500);    // 201, 201, 98
    Fill(image, 0x3F000, 10, 7);  // one gap later: a run of its own
    Fill(image, 0x3F00B, 3, 9);   // a single absent byte splits
    BootRig rig;
    EXPECT_EQ(ps::ExitSuccess, rig.Run(image)) << rig.h.view.Dump();
    // Data below the window or past it has no place: the image is refused, nothing sent.
    for (uint32_t outside : {0x3DFF0u, 0x40000u}) {
        Memory more = image;
        Fill(more, outside, 16, 3);
        BootRig refused;
        EXPECT_EQ(ps::ExitImageFile, refused.Run(more));
        EXPECT_TRUE(refused.h.Wire().SentBytes().empty());
    }

    EXPECT_EQ((Frames{{0x3E400, 201}, {0x3E4C9, 201}, {0x3E592, 98}, {0x3F000, 10}, {0x3F00B, 3}}),
              rig.SentFrames());
    Memory inWindow(image.lower_bound(0x3E000), image.lower_bound(0x40000));
    EXPECT_EQ(inWindow, rig.rom.Memory());
    EXPECT_TRUE(rig.rom.Started());
    EXPECT_EQ(0x3E400u, rig.rom.StartedAt());

    // On the wire: "V" until "F", then per run 01, 03 and the frame (address and length low
    // byte first) in one write; at the end 01, 04 and the start address.
    const auto& writes = rig.h.Wire().Writes;
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(Bytes{0x56}, writes[0].Bytes);
    const auto first = std::find_if(writes.begin(), writes.end(),
                                    [](const auto& w) { return w.Bytes.size() > 4; });
    ASSERT_NE(writes.end(), first);
    EXPECT_EQ(Bytes{0x01}, (first - 2)->Bytes);
    EXPECT_EQ(Bytes{0x03}, (first - 1)->Bytes);
    EXPECT_EQ((Bytes{0x00, 0xE4, 0x03, 0x00, 0xC9, 0x00}),
              Bytes(first->Bytes.begin(), first->Bytes.begin() + 6));
    EXPECT_EQ(image.at(0x3E400), first->Bytes[6]);
    const size_t n = writes.size();
    EXPECT_EQ((Bytes{0x00, 0xE4, 0x03, 0x00}), writes[n - 1].Bytes);
    EXPECT_EQ(Bytes{0x04}, writes[n - 2].Bytes);
    EXPECT_EQ(Bytes{0x01}, writes[n - 3].Bytes);

    EXPECT_TRUE(rig.h.view.SawStatus(std::string(ps::Msg91360Connecting) + ps::Msg91360Ok));
    EXPECT_TRUE(rig.h.view.SawStatus(ps::Msg91360Programming));
    EXPECT_EQ(ps::Msg91360ProgramedOk, rig.h.view.LastStatus());
    EXPECT_EQ(100, rig.h.view.LastProgress());
    EXPECT_EQ(513, rig.h.st.RowByteCounts[0] + rig.h.st.RowByteCounts[1]);
}

// A USB adapter holds the ROM's "F" back for its latency timer (16 ms by default), so a
// second "V" is on its way before the "F" is read; a ROM that answers every "V" then leaves
// a second "F" waiting, which must never be taken for the answer to the first command.
TEST(Boot91360, SurplusWakeUpAnswersOfASlowAdapterAreDropped) {
    struct Case {
        int LatencyMs;
        bool EveryV;
    } cases[] = {{0, false}, {0, true}, {16, false}, {16, true}, {50, true}};
    Memory image;
    Fill(image, 0x3E400, 300);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.LatencyMs << " ms, every V " << c.EveryV);
        Board::Options options;
        options.AnswerEveryWakeUp = c.EveryV;
        BootRig rig(options);
        rig.rom.AdapterLatencyMs = c.LatencyMs;
        EXPECT_EQ(ps::ExitSuccess, rig.Run(image)) << rig.h.view.Dump();
        Memory inWindow(image.lower_bound(0x3E000), image.lower_bound(0x40000));
        EXPECT_EQ(inWindow, rig.rom.Memory());
        EXPECT_TRUE(rig.rom.Started());
        // A latency of several "V" periods really leaves surplus answers behind (at 16 ms
        // it depends on where the adapter's timer ticks).
        if (c.EveryV && c.LatencyMs >= 2 * 10) {
            EXPECT_GE(rig.rom.WakeUps(), 2);
        }
    }
}

// The start address awaits no answer, and the next step reopens the port right after it: a
// board on a pseudo-terminal must get it every time.
// An image without S2 records would start whatever the RAM holds and report success: it is
// refused before the board is touched.
TEST(Boot91360, AnImageWithoutDataIsRefusedBeforeTheBoardIsTouched) {
    BootRig rig;
    EXPECT_EQ(ps::ExitImageFile, rig.Run({}));
    EXPECT_TRUE(rig.rom.Frames().empty());
    EXPECT_EQ(0u, rig.rom.StartedAt());
    EXPECT_FALSE(rig.h.view.SawStatus(ps::Msg91360ProgramedOk));
}

// Every refusal shows its message box and ends the run with "BREAK", status 1, and
// "programed ok!" never appears.
TEST(Boot91360, EachRefusalShowsItsMessageAndBreaks) {
    const struct {
        uint8_t refused;
        const char* message;
        size_t frames;
    } cases[] = {{0x01, ps::Msg91360ErrorF1, 0},
                 {0x03, ps::Msg91360Error83, 0},
                 {0x04, ps::Msg91360Error84, 2}};
    Memory image;
    Fill(image, 0x3E400, 300);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        BootRig rig(Board::Options{{c.refused}});
        EXPECT_EQ(ps::ExitBreak, rig.Run(image));
        ASSERT_EQ(1u, rig.h.view.Messages().size());
        EXPECT_EQ(c.message, rig.h.view.Messages()[0].Text);
        EXPECT_EQ(ps::TextBreak, rig.h.view.LastStatus());
        EXPECT_EQ(c.frames, rig.rom.Frames().size());
        EXPECT_FALSE(rig.rom.Started());
        EXPECT_FALSE(SawProgramedOk(rig.h.view));
    }
}

// STOP at each wait: the wake-up loop of a silent ROM, and the answer after a run frame.
// No message box (a stopped read is no refusal) and no success text.
TEST(Boot91360, StopAtAnyWaitBreaksWithoutAMessage) {
    Memory image;
    Fill(image, 0x3E400, 600);
    {
        BootRig rig;
        rig.board.faults.Silent = true;
        rig.h.view.AtTime(5000, [&] { ps::StopBtnClick(rig.h.st); });
        EXPECT_EQ(ps::ExitBreak, rig.Run(image));
        for (uint8_t b : rig.h.Wire().SentBytes()) ASSERT_EQ(0x56, b);
        EXPECT_GT(rig.h.Wire().Sent.size(), 400u);  // one "V" every 10 ms
        EXPECT_EQ(ps::TextBreak, rig.h.view.LastStatus());
        EXPECT_TRUE(rig.h.view.Messages().empty());
    }
    {
        BootRig rig;
        rig.h.view.When([&] { return rig.rom.Frames().size() == 1; },
                        [&] { ps::StopBtnClick(rig.h.st); });
        EXPECT_EQ(ps::ExitBreak, rig.Run(image));
        EXPECT_EQ(1u, rig.rom.Frames().size());
        EXPECT_FALSE(rig.rom.Started());
        EXPECT_TRUE(rig.h.view.Messages().empty());
        EXPECT_FALSE(SawProgramedOk(rig.h.view));
    }
}

TEST(Boot91360, AMissingImageIsReportedAndNothingIsLoadedOrStarted) {
    BootRig rig;
    rig.h.StepFile({"/PFB=" + rig.h.dir.File("missing"), "/AUTOCONTINUE"});
    EXPECT_EQ(ps::ExitImageFile, rig.h.Run());
    ASSERT_EQ(1u, rig.h.view.Messages().size());
    EXPECT_EQ(0u, rig.h.view.Messages()[0].Text.find(ps::MsgCannotOpenFile));
    EXPECT_FALSE(rig.rom.Started());
    EXPECT_FALSE(SawProgramedOk(rig.h.view));
}

}  // namespace
