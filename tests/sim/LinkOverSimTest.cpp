// SPDX-License-Identifier: MIT
// The link primitives against the generic board, through the real serial port component
// and the simulated line: what a flow's end-to-end test stands on.
#include <gtest/gtest.h>

#include "app/RunController.h"
#include "run/Station.h"
#include "run/Texts.h"
#include "link/Link.h"
#include "sim/Boards.h"
#include "sim/GenericBoard.h"
#include "sim/RecordingView.h"
#include "sim/VirtualClock.h"
#include "support/RunGuard.h"

namespace ps::sim {
namespace {

using Bytes = std::vector<uint8_t>;

struct Rig {
    VirtualClock clock;
    pstest::GuardedView view{clock};
    SimPortPool pool{clock};
    Station st{clock, view};
    std::string spec;

    explicit Rig(std::string boardSpec) : spec(std::move(boardSpec)) {
        st.Comm.SetResolver([this](int) { return pool.MakeDevice(spec); });
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(br115200);
        st.Comm.Open();
        view.Stop = [this] { StopBtnClick(st); };
        view.Describe = [this] { return pstest::DescribeRun(view, &transcript(), clock.NowMs()); };
        view.Arm();
    }
    GenericBoard& board() { return pool.Find(spec)->BoardAs<GenericBoard>(); }
    Transcript& transcript() { return pool.Find(spec)->transcript(); }
};

TEST(LinkOverSim, SharedExchangesReachTheBoard) {
    Rig rig("generic,flash=7,sig=1E9502");
    Station& st = rig.st;
    st.Step.BankPortValue = 0x1234;
    SetBankPort(st);
    EXPECT_EQ(IdentifyFlash(st), "V29C51001T");
    AvrIdentity avr = IdentifyAvr(st);
    EXPECT_EQ(avr.Name, "ATmega32");
    EXPECT_EQ(avr.Index, 6);
    EraseMemory(st);
    EraseRange(st, 0x1234, 0x0010);
    RunAtAddress16(st, 0xABCD);
    rig.transcript().Clear();
    SendEraseSectors(st, 0x1234);
    RunAtAddress32(st, 0x00018000);
    StartProgram(st);
    EXPECT_EQ(st.RunError, 0);
    EXPECT_EQ(st.ErrorCount, 0);

    GenericBoard& b = rig.board();
    EXPECT_EQ(b.BankPortValue, 0x1234);
    EXPECT_EQ(b.Erases, 1);
    EXPECT_EQ(b.RangeErases.at(0), (std::pair<uint16_t, uint16_t>{0x1234, 0x0010}));
    EXPECT_EQ(b.RunAddresses16, std::vector<uint16_t>{0xABCD});
    EXPECT_EQ(b.SectorErases, std::vector<uint16_t>{0x1234});
    EXPECT_EQ(b.RunAddresses32, std::vector<uint32_t>{0x00018000});
    EXPECT_EQ(b.Starts, 1);
    EXPECT_EQ(b.BadFrames, 0);
    EXPECT_TRUE(b.Unknown.empty());

    // The erase-sectors frame goes one byte per write; the start frame in one write.
    const auto& writes = rig.transcript().Writes;
    ASSERT_GE(writes.size(), 7u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(writes[i].Bytes.size(), 1u);
    EXPECT_EQ(rig.transcript().SentBytes(),
              (Bytes{0x4B, 0x32, 0x03, 0x12, 0x34, 0xB6, 0x4B, 0x33, 0x05, 0x00, 0x01, 0x80, 0x00,
                     0x79, 0x4B, 0x30, 0x01, 0xFE}));
    EXPECT_EQ(writes.back().Bytes, (Bytes{0x4B, 0x30, 0x01, 0xFE}));
}

TEST(LinkOverSim, NegativeBoardCountsErrorsAndShowsEraseFail) {
    Rig rig("generic,negative");
    SendEraseSectors(rig.st, 0x0001);
    EXPECT_EQ(rig.st.ErrorCount, 1);
    ASSERT_EQ(rig.view.Messages().size(), 1u);
    EXPECT_EQ(rig.view.Messages()[0].Text, TextEraseFail);
    EXPECT_EQ(rig.view.Messages()[0].Kind, MessageKind::Error);
}

TEST(LinkOverSim, StopEndsTheHandshakeWithASilentBoard) {
    Rig rig("generic,silent");
    rig.view.AtTime(3000, [&] { StopBtnClick(rig.st); });
    Handshake(rig.st, 0x73, 0x69);
    EXPECT_EQ(rig.st.RunError, RunStopped);
    // A round every 500 ms until STOP, and the waiting passed in virtual time.
    const Bytes sent = rig.transcript().SentBytes();
    EXPECT_GE(sent.size(), 6u);
    EXPECT_LE(sent.size(), 8u);
    for (uint8_t b : sent) EXPECT_EQ(b, 0x73);
    EXPECT_GE(rig.clock.NowMs(), 3000);
    EXPECT_LT(rig.clock.NowMs(), 4000);
}

TEST(LinkOverSim, LateAndNoisyBoardsStillAnswer) {
    Rig late("generic,late=700");
    Handshake(late.st, 0x73, 0x69);
    EXPECT_EQ(late.st.RunError, 0);
    EXPECT_GT(late.transcript().SentBytes().size(), 1u);  // caught in a later round

    // Noise: ExpectByte skips the stray bytes; a signature read with noise in it is an
    // error, never another device (stray bytes come from a range no signature uses).
    Rig noisy("generic,noise");
    int errors = 0;
    for (int i = 0; i < 8; ++i) {
        EraseMemory(noisy.st);
        const int index = IdentifyAvr(noisy.st).Index;
        EXPECT_TRUE(index == 6 || index == -1) << index;
        errors += index == -1;
    }
    EXPECT_EQ(noisy.board().Erases, 8);
    EXPECT_GT(errors, 0);
    EXPECT_EQ(noisy.st.RunError, 0);
}

TEST(LinkOverSim, VanishedPortRaisesInsteadOfWaitingForever) {
    Rig rig("generic,drop=1");
    EXPECT_THROW(
        {
            Handshake(rig.st, 0x73, 0x69);
            Handshake(rig.st, 0x73, 0x69);
        },
        ESerialPortError);
    EXPECT_EQ(rig.transcript().SentBytes().size(), 1u);
}

}  // namespace
}  // namespace ps::sim
