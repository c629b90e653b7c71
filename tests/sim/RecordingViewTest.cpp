// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "sim/RecordingView.h"
#include "sim/VirtualClock.h"

namespace ps::sim {
namespace {

// A stand-in for a flow's wait: pumps until the flag is set or the pump budget is spent.
long PumpUntil(RecordingView& view, const bool& flag, long budget = 1000) {
    long n = 0;
    while (!flag && n < budget) {
        view.PumpMessages();
        ++n;
    }
    return n;
}

TEST(RecordingView, RecordsEveryCallInOrder) {
    RecordingView view;
    view.ShowPanels(false, true, false);
    view.ShowFileName("FILE: A.HEX");
    view.ShowStatus("connecting...", StatusColorNormal);
    view.SetProgress(40);
    view.SetMapSize(8, 16);
    view.SetBlock(1, 2, ProgrammedColour);
    view.SetByteLabel(0, "1234");
    view.ShowStatus("BREAK", StatusColorError);
    view.ShowMessage(MessageKind::Error, "TO NI PRAVA .HEX DATOTEKA");
    view.RequestTerminate();
    EXPECT_EQ(view.Lines(),
              (std::vector<std::string>{
                  "panels 0 1 0", "file FILE: A.HEX", "status [000000] connecting...",
                  "progress 40", "map 8x16", "block 1 2 [80FD9F]", "label 0 1234",
                  "status [0000FF] BREAK", "error box TO NI PRAVA .HEX DATOTEKA", "terminate"}));
    EXPECT_EQ(view.LastStatus(), "BREAK");
    EXPECT_EQ(view.LastStatusColour(), StatusColorError);
    EXPECT_EQ(view.StatusTexts(), (std::vector<std::string>{"connecting...", "BREAK"}));
    EXPECT_TRUE(view.SawStatusContaining("connect"));
    EXPECT_FALSE(view.SawStatus("connect"));
    EXPECT_EQ(view.LastProgress(), 40);
    ASSERT_EQ(view.Messages().size(), 1u);
    EXPECT_EQ(view.Messages()[0].Kind, MessageKind::Error);
    EXPECT_EQ(view.TerminateRequests, 1);
    EXPECT_TRUE(view.StopShown());
    EXPECT_FALSE(view.ContinueShown());
}

TEST(RecordingView, ReactionsActAtThePumpAfterTheirCondition) {
    VirtualClock clock;
    RecordingView view(clock);
    bool stop = false;

    // A status arms the reaction; the operator acts only at the next pump.
    view.AtStatus("erasing", [&] { stop = true; });
    view.ShowStatus("erasing memory...", StatusColorNormal);
    EXPECT_FALSE(stop);
    EXPECT_EQ(PumpUntil(view, stop), 1);
    // Once only.
    stop = false;
    view.ShowStatus("erasing again...", StatusColorNormal);
    EXPECT_EQ(PumpUntil(view, stop, 5), 5);

    // A status shown before the reaction was set does not count.
    bool late = false;
    view.AtStatus("BREAK", [&] { late = true; });
    view.PumpMessages();
    EXPECT_FALSE(late);

    bool counted = false;
    view.AfterPumps(3, [&] { counted = true; });
    EXPECT_EQ(PumpUntil(view, counted), 3);

    bool timed = false;
    view.AtTime(250, [&] { timed = true; });
    long pumps = 0;
    while (!timed && pumps < 100) {
        view.PumpMessages();
        clock.SleepMs(10);
        ++pumps;
    }
    EXPECT_TRUE(timed);
    EXPECT_EQ(clock.NowMs(), 260);
    EXPECT_EQ(view.Statuses()[0].AtMs, 0);
}

TEST(RecordingView, ContinueIsPressedOncePerShowing) {
    RecordingView view;
    int presses = 0;
    view.OnContinueShown([&] { ++presses; });
    view.PumpMessages();
    EXPECT_EQ(presses, 0);
    view.ShowPanels(false, true, true);
    view.ShowPanels(false, true, true);  // still the same showing
    view.PumpMessages();
    view.PumpMessages();
    EXPECT_EQ(presses, 1);
    view.ShowPanels(false, true, false);
    view.ShowPanels(false, true, true);
    view.PumpMessages();
    EXPECT_EQ(presses, 2);

    int messages = 0;
    view.OnMessage = [&](MessageKind, const std::string&) { ++messages; };
    view.ShowMessage(MessageKind::Information, "Zamenjaj jumper");
    EXPECT_EQ(messages, 1);
    view.ClearReactions();
    view.ShowPanels(false, true, false);
    view.ShowPanels(false, true, true);
    view.PumpMessages();
    EXPECT_EQ(presses, 2);
}

}  // namespace
}  // namespace ps::sim
