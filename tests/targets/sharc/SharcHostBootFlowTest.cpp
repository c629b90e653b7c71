// SPDX-License-Identifier: MIT
// "SHARC-HostBoot" end to end: step file, run controller, flow and the simulated bridge
// taking the boot stream with XOFF/XON, under the virtual clock.
#include <gtest/gtest.h>

#include "images/ImageFile.h"
#include "sim/SharcHostBootBoard.h"
#include "targets/bootloader/sharc/SharcHostBootFlow.h"
#include "targets/bootloader/sharc/SharcTexts.h"
#include "targets/sharc/SharcRig.h"

namespace {

using namespace pstest;
using ps::sim::SharcHostBootBoard;
using Harness = SharcHarness<SharcHostBootBoard>;

std::unique_ptr<SharcHostBootBoard> Board(SharcHostBootBoard::Options options = {}) {
    return std::make_unique<SharcHostBootBoard>(options);
}

// A boot image that starts with the words 0x1234 and 0x01FE and holds every byte value.
Bytes BootImage(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 37 + i / 256);
    const Bytes start = {0x34, 0x12, 0xFE, 0x01};
    std::copy(start.begin(), start.begin() + static_cast<long>(std::min(size, start.size())),
              image.begin());
    return image;
}

std::string AsText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

std::vector<std::string> Step(const std::string& file) {
    return {"/PSH=" + file, "/ADDRLEN=4096", "/AUTOCONTINUE"};
}

TEST(SharcHostBootFlow, StreamsTheBootImageWordByWordWithEscapes) {
    const struct {
        const char* Name;
        size_t Size;
    } cases[] = {{"even", 3000}, {"odd: padded", 3001}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Harness h(Board());
        const Bytes image = BootImage(c.Size);
        h.StepFile(Step(h.Image("boot.bin", AsText(image))));

        ASSERT_EQ(ps::ExitSuccess, h.Run()) << h.view.Dump();
        Bytes expected = image;
        if (expected.size() % 2) expected.push_back(ps::HostBootPadByte);
        EXPECT_TRUE(expected == h.board.Memory());
        EXPECT_TRUE(h.board.Finished());
        EXPECT_EQ(0, h.board.Lost());
        EXPECT_EQ(ps::SharcTextProgramedOk, h.view.LastStatus());
        EXPECT_EQ(ps::StatusColorNormal, h.view.LastStatusColour());
        EXPECT_EQ(static_cast<int32_t>(c.Size), h.st.RowByteCounts[0]);
        ExpectStatusesInOrder(h.view, {"initializing atmel... ok", ps::SharcTextProgramming});

        // 'B', then 0x34 0x12 as 0x12 0x34 and 0xFE 0x01 as 0x01 0xFF 0x01, ..., 0xFE.
        const Bytes sent = h.Wire().SentBytes();
        const Bytes stream = {'K', 'B', 'o', 'T', 'a', 'p', 's', 'B'};
        auto at = std::search(sent.begin(), sent.end(), stream.begin(), stream.end());
        ASSERT_NE(sent.end(), at);
        const Bytes body(at + static_cast<long>(stream.size()), sent.end());
        EXPECT_EQ((Bytes{0x12, 0x34, 0x01, 0xFF, 0x01}), Bytes(body.begin(), body.begin() + 5));
        EXPECT_EQ(0xFE, body.back());
        for (size_t i = 0; i + 1 < body.size(); ++i) {
            if (body[i] == 0xFF)
                EXPECT_LE(body[++i], 0x05) << i;  // escaped 0xFA..0xFF
            else
                EXPECT_LT(body[i], 0xFA) << i;
        }
    }
}

// Every byte written between an XOFF read and the XON after it.
int WrittenWhileHeld(const ps::sim::Transcript& t) {
    bool held = false;
    int written = 0;
    for (const auto& e : t.Events) {
        if (e.Text.rfind("RX", 0) == 0) {
            if (e.Text.find("13") != std::string::npos) held = true;
            if (e.Text.find("11") != std::string::npos) held = false;
        } else if (held && e.Text.rfind("TX", 0) == 0) {
            ++written;
        }
    }
    return written;
}

// An empty binary would end in "programed ok!" with nothing booted: refused, nothing sent.
TEST(SharcHostBootFlow, AnEmptyBootImageIsRefusedBeforeAnythingIsSent) {
    Harness h(Board());
    h.StepFile(Step(h.Image("boot.bin", "")));
    EXPECT_EQ(ps::ExitImageFile, h.Run());
    EXPECT_TRUE(h.Wire().SentBytes().empty());
    EXPECT_FALSE(h.board.Finished());
}

TEST(SharcHostBootFlow, XoffHoldsTheStreamUntilXon) {
    // The DSP takes 4000 bytes a second of a line that brings 11520: the bridge's buffer
    // fills, and the stream goes in bursts between XOFF and XON.
    SharcHostBootBoard::Options slow;
    slow.Rate = 4000;
    slow.XoffLevel = 512;
    slow.XonLevel = 128;
    slow.Capacity = 1024;
    Harness h(Board(slow));
    const Bytes image = BootImage(20000);
    h.StepFile(Step(h.Image("boot.bin", AsText(image))));

    ASSERT_EQ(ps::ExitSuccess, h.Run()) << h.view.Dump();
    EXPECT_TRUE(image == h.board.Memory());
    EXPECT_GE(h.board.Xoffs(), 3);
    EXPECT_EQ(0, h.board.Lost());
    EXPECT_EQ(0, WrittenWhileHeld(h.Wire()));
    EXPECT_LE(h.board.PeakFill(), slow.Capacity);
}

TEST(SharcHostBootFlow, FailuresEndWithTheirOwnTextAndNeverInSuccess) {
    const std::string good = AsText(BootImage(6000));
    const struct {
        const char* Name;
        bool Negative;
        bool NoXon;
        int Exit;
        std::string LastStatus;
        bool Started;  // 'B' sent
    } cases[] = {
        // (Silence, noise, a lost port, STOP at other moments and a missing file are the
        // fault matrix's, tests/e2e.)
        {"bridge refuses", true, false, 5, "initializing atmel... ERROR", false},
        {"STOP while XOFF holds the stream", false, true, ps::ExitBreak, ps::TextBreak, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SharcHostBootBoard::Options options;
        if (c.NoXon) {
            options.Rate = 2000;
            options.XoffLevel = 512;
            options.XonLevel = 128;
            options.Capacity = 1024;
            options.NoXon = true;
        }
        Harness h(Board(options));
        h.board.faults.Negative = c.Negative;
        h.StepFile(Step(h.Image("boot.bin", good)));
        if (c.NoXon) {
            // The operator gives up a while after the board said XOFF.
            h.view.When(
                [&h] { return h.board.Xoffs() > 0; },
                [&h] { h.view.AtTime(h.clock.NowMs() + 3000, [&h] { ps::StopBtnClick(h.st); }); });
        }

        EXPECT_EQ(c.Exit, h.Run()) << h.view.Dump();
        EXPECT_EQ(c.LastStatus, h.view.LastStatus());
        EXPECT_FALSE(h.view.SawStatusContaining(ps::SharcTextProgramedOk)) << h.view.Dump();
        EXPECT_EQ(c.Started, h.board.Started());
        EXPECT_FALSE(h.board.Finished());  // no end byte after a failure
        EXPECT_TRUE(h.view.Messages().empty());
        if (c.NoXon) {
            EXPECT_EQ(0, WrittenWhileHeld(h.Wire()));
        }
        EXPECT_LT(h.clock.NowMs(), StopLimitMs + 1000);
    }
}

}  // namespace
