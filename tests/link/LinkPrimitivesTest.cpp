// SPDX-License-Identifier: MIT
// The link primitives against a scripted board under the virtual clock: exact bytes, the
// waits' meaning, STOP at every wait, and no spinning while a board is silent.
#include <gtest/gtest.h>

#include "link/Crc32.h"
#include "link/Link.h"
#include "run/StepEnding.h"
#include "support/StationHarness.h"

using pstest::ScriptBoard;
using pstest::StationHarness;

namespace {

struct LinkTest : ::testing::Test {
    StationHarness h{std::make_unique<ScriptBoard>()};
    ScriptBoard& board = h.Board<ScriptBoard>();
    ps::Station& st = h.st;

    void SetUp() override {
        st.Comm.SetPortNum(1);
        st.Comm.SetBaudrate(ps::br115200);
        st.Comm.Open();
    }
    std::vector<uint8_t> Sent() { return h.Wire().SentBytes(); }
    std::vector<std::vector<uint8_t>> Writes() {
        std::vector<std::vector<uint8_t>> writes;
        for (const auto& w : h.Wire().Writes) writes.push_back(w.Bytes);
        return writes;
    }
    // STOP once the clock has passed `ms`.
    void StopAt(int64_t ms) {
        h.view.AtTime(ms, [this] { ps::StopBtnClick(st); });
    }
};

TEST(Crc32, MatchesTheStandardCheckValue) {
    ps::FillCrc32Table();
    uint32_t crc = 0xFFFFFFFF;
    for (char c : std::string("123456789")) crc = ps::Crc32Update(crc, static_cast<uint8_t>(c));
    EXPECT_EQ(~crc, 0xCBF43926u);
    EXPECT_EQ(ps::Crc32Table[1], 0x77073096u);
}

TEST(KFrame, CountsItselfAndChecksLengthAndPayload) {
    EXPECT_EQ(ps::KFrame('2', std::string("\x12\x34", 2)), std::string("K2\x03\x12\x34\xB6", 6));
    EXPECT_EQ(ps::KFrame('0', ""), std::string("K0\x01\xFE", 4));
}

TEST_F(LinkTest, FramedCommandsGoOutWithTheirExactBytesAndWrites) {
    board.OnReceive = [](uint8_t b, ScriptBoard& self) {
        if (b == 0xB6 || b == 0xFE) self.Reply('i');
    };
    ps::SendEraseSectors(st, 0x1234);
    ps::StartProgram(st);
    ps::RunAtAddress32(st, 0x00012345);
    const std::vector<uint8_t> expected = {
        0x4B, 0x32, 0x03, 0x12,
        0x34, 0xB6,              // one byte a write
        0x4B, 0x30, 0x01, 0xFE,  // one write
        0x4B, 0x33, 0x05, 0x00,
        0x01, 0x23, 0x45, static_cast<uint8_t>(0xFF - (5 + 0x01 + 0x23 + 0x45))};
    EXPECT_EQ(Sent(), expected);
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 6u + 1u + 8u);
    EXPECT_EQ(writes[6], (std::vector<uint8_t>{0x4B, 0x30, 0x01, 0xFE}));
    EXPECT_EQ(st.ErrorCount, 0);
}

TEST_F(LinkTest, NegativeAnswersCountErrorsAndEraseFailIsShown) {
    board.OnReceive = [](uint8_t b, ScriptBoard& self) {
        if (b == 0xB6 || b == 0xFE) self.Reply('h');
    };
    ps::SendEraseSectors(st, 0x1234);
    ps::StartProgram(st);
    EXPECT_EQ(st.ErrorCount, 2);
    ASSERT_EQ(h.view.Messages().size(), 1u);
    EXPECT_EQ(h.view.Messages()[0].Text, "ERASE FAIL");
    EXPECT_EQ(h.view.Messages()[0].Kind, ps::MessageKind::Error);
}

TEST_F(LinkTest, HandshakeRetriesUntilTheFirstByteOfARoundIsTheAnswer) {
    int asked = 0;
    board.OnReceive = [&](uint8_t b, ScriptBoard& self) {
        if (b != 's') return;
        // First round: a wrong byte then the right one, which must not count.
        if (++asked == 1)
            self.Reply({'x', 'i'});
        else
            self.Reply('i');
    };
    const int64_t start = h.clock.NowMs();
    ps::Handshake(st, 's', 'i');
    EXPECT_EQ(asked, 2);
    EXPECT_GE(h.clock.NowMs() - start, 1000);  // two rounds of 500 ms of virtual time
    EXPECT_EQ(st.RunError, ps::RunOk);
}

TEST_F(LinkTest, BankPortSendsNothingWhenUnsetAndTheValueHighByteFirstOtherwise) {
    st.Step.BankPortValue = 0xFFFF;
    ps::SetBankPort(st);
    EXPECT_TRUE(Sent().empty());

    board.OnReceive = [&](uint8_t b, ScriptBoard& self) {
        if (b == 'x') self.Reply('y');
        if (board.Received.size() >= 3 && board.Received.back() == 0x34) self.Reply('}');
    };
    st.Step.BankPortValue = 0x1234;
    ps::SetBankPort(st);
    EXPECT_EQ(Sent(), (std::vector<uint8_t>{'x', 0x12, 0x34}));
}

TEST_F(LinkTest, BootLineAndResetPulseFollowTheSignalNames) {
    struct Case {
        const char* signal;
        std::vector<std::string> boot;   // SetBootLine(Boot) then SetBootLine(Run)
        std::vector<std::string> reset;  // PulseReset
    } cases[] = {
        {"DTR1", {"DTR 1", "DTR 0"}, {"DTR 1", "DTR 0"}},
        {"DTR0", {"DTR 0", "DTR 1"}, {"DTR 0", "DTR 1"}},
        {"RTS1", {"RTS 1", "RTS 0"}, {"RTS 1", "RTS 0"}},
        {"RTS0", {"RTS 0", "RTS 1"}, {"RTS 0", "RTS 1"}},
        {"", {}, {}},
        {"DTR2", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        st.Step.BootSignal = st.Step.ResetSignal = c.signal;
        h.Wire().Clear();
        int64_t t0 = h.clock.NowMs();
        ps::SetBootLine(st, ps::BootLevel);
        ps::SetBootLine(st, ps::RunLevel);
        EXPECT_EQ(h.Wire().LineTexts(), c.boot);
        EXPECT_EQ(h.clock.NowMs() - t0, 200);  // 100 ms each, whether or not a line moved
        h.Wire().Clear();
        t0 = h.clock.NowMs();
        ps::PulseReset(st);
        EXPECT_EQ(h.Wire().LineTexts(), c.reset);
        EXPECT_EQ(h.clock.NowMs() - t0, c.reset.empty() ? 0 : 200);
    }
}

TEST_F(LinkTest, OpenPortTakesOnlyTheKnownRateTextsAndReopensAnOpenPort) {
    const std::pair<const char*, ps::TBaudRate> cases[] = {
        {"1200", ps::br1200},    {"57600", ps::br57600}, {"115200", ps::br115200},
        {"7200", ps::br9600},    {"14400", ps::br9600},  {"", ps::br9600},
        {" 115200", ps::br9600},
    };
    for (const auto& [text, rate] : cases) {
        ps::OpenPort(st, 1, text);
        EXPECT_EQ(st.Comm.Baudrate(), rate) << text;
        EXPECT_TRUE(st.Comm.Active());
    }
    st.Comm.Close();
    ps::OpenPort(st, 1, "9600");
    EXPECT_FALSE(st.Comm.Active());  // a closed port stays closed: the caller opens it
}

TEST_F(LinkTest, IdentificationsMapTheirCodes) {
    EXPECT_EQ(ps::FlashName(0x03), "AM29F010");
    EXPECT_EQ(ps::FlashName(0x00), "ERROR");
    EXPECT_EQ(ps::FlashName(0x09), "ERROR");
    EXPECT_EQ(ps::AvrFromSignature(0x1E, 0x95, 0x02).Index, 6);
    EXPECT_EQ(ps::AvrFromSignature(0x1E, 0x95, 0x02).Name, "ATmega32");
    EXPECT_EQ(ps::AvrFromSignature(0x00, 0x01, 0x02).Index, 999);
    EXPECT_EQ(ps::AvrFromSignature(0x4C, 0x4F, 0x41).Name, "AT_LOADER");
    EXPECT_EQ(ps::AvrFromSignature(0x1E, 0x95, 0x03).Index, -1);

    board.OnReceive = [](uint8_t b, ScriptBoard& self) {
        if (b == 'P') self.Reply('O');
        if (b == 'I') self.Reply({0x1E, 0x94, 0x03});
        if (b == '(') self.Reply({')', 0x07});
    };
    const ps::AvrIdentity avr = ps::IdentifyAvr(st);
    EXPECT_EQ(avr.Name, "ATmega16");
    EXPECT_EQ(avr.Index, 7);
    EXPECT_EQ(ps::IdentifyFlash(st), "V29C51001T");
}

TEST_F(LinkTest, RangeEraseAndShortRunWaitForTheirAnswers) {
    board.OnReceive = [&](uint8_t, ScriptBoard& self) {
        const auto& r = board.Received;
        if (r.size() == 5 && r[0] == 0x0A) self.Reply(0x0F);
        if (r.size() == 8 && r[5] == 0x1E) self.Reply('#');
    };
    ps::EraseRange(st, 0x8000, 0x1234);
    ps::RunAtAddress16(st, 0xABCD);
    EXPECT_EQ(Sent(), (std::vector<uint8_t>{0x0A, 0x80, 0x00, 0x12, 0x34, 0x1E, 0xAB, 0xCD}));
}

TEST_F(LinkTest, StopEndsEveryWaitOnASilentBoard) {
    const std::vector<std::pair<const char*, std::function<void()>>> waits = {
        {"ReadByte", [&] { ps::ReadByte(st); }},
        {"ExpectByte", [&] { ps::ExpectByte(st, 'O'); }},
        {"ExpectAck", [&] { EXPECT_FALSE(ps::ExpectAck(st, 'i', 'h')); }},
        {"Handshake", [&] { ps::Handshake(st, 's', 'i'); }},
        {"IdentifyAvr", [&] { ps::IdentifyAvr(st); }},
        {"SetBankPort",
         [&] {
             st.Step.BankPortValue = 1;
             ps::SetBankPort(st);
         }},
        {"WaitForContinue", [&] { EXPECT_FALSE(ps::WaitForContinue(st)); }},
    };
    for (const auto& [name, wait] : waits) {
        SCOPED_TRACE(name);
        st.RunError = ps::RunOk;
        const int64_t stopAt = h.clock.NowMs() + 3000;
        const long pumpsBefore = h.view.Pumps;
        StopAt(stopAt);
        wait();
        EXPECT_EQ(st.RunError, ps::RunStopped);
        // Given up within a slice or two of STOP (a handshake round may be under way) ...
        EXPECT_LE(h.clock.NowMs() - stopAt, 2 * ps::WaitSliceMs);
        // ... and never spinning: about one pump per slice of waiting.
        EXPECT_LE(h.view.Pumps - pumpsBefore, 3000 / ps::WaitSliceMs * 3 + 20);
    }
}

TEST_F(LinkTest, ReadByteOnAClosedPortWaitsForStopWithoutSpinning) {
    st.Comm.Close();
    StopAt(1000);
    ps::ReadByte(st);
    EXPECT_EQ(st.RunError, ps::RunStopped);
    EXPECT_LE(h.view.Pumps, 1000 / ps::WaitSliceMs + 5);
}

TEST_F(LinkTest, DrainInputDiscardsEverythingWaiting) {
    board.OnReceive = [](uint8_t, ScriptBoard& self) {
        self.Reply(std::vector<uint8_t>(2000, 0x55));
    };
    ps::SendByte(st, 1);
    h.clock.SleepMs(500);  // all 2000 bytes have arrived at 115200 baud
    ps::DrainInput(st);
    EXPECT_EQ(st.Comm.InputCount(), 0);
}

}  // namespace
