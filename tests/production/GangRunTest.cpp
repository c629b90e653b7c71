// SPDX-License-Identifier: MIT
// What a gang makes of its runs' lines and arguments, shared by the terminal's gang and the
// gang window.
#include <gtest/gtest.h>

#include "production/GangRun.h"

namespace ps {
namespace {

// Each row: the lines a run printed, in order, and what its panel must then show.
TEST(GangRunLines, TheViewFollowsTheRunsLines) {
    struct Case {
        const char* Name;
        std::vector<std::string> Lines;
        std::string Status;
        bool Error;
        std::string File;
        int Step, Percent;
        bool Waiting;
    } cases[] = {
        {"nothing yet", {}, "starting...", false, "", 0, -1, false},
        {"a step under way",
         {"Project 1", "FILE: a.hex", "Erasing...", "40%"},
         "Erasing...",
         false,
         "a.hex",
         1,
         40,
         false},
        // The run marks its errors red for its gang; the mark never reaches the operator.
        {"an error in red",
         {"FILE: a.hex", "\033[31mERROR : no answer.\033[0m"},
         "ERROR : no answer.",
         true,
         "a.hex",
         1,
         -1,
         false},
        {"a new step clears the gauge",
         {"FILE: a.hex", "100%", "FILE: b.hex"},
         "starting...",
         false,
         "b.hex",
         2,
         -1,
         false},
        {"waiting, then on",
         {"FILE: a.hex", "waiting for CONTINUE", "Programming..."},
         "Programming...",
         false,
         "a.hex",
         1,
         -1,
         false},
        {"waiting",
         {"Verify ok", "waiting for CONTINUE (Enter)"},
         "Verify ok",
         false,
         "",
         0,
         -1,
         true},
        // Hints and the upgrade banner are not status lines; "5 %" and "x%" are no gauge.
        {"not status lines",
         {"Programed ok!", "hint: check the cable", "UPGRADE: v2"},
         "Programed ok!",
         false,
         "",
         0,
         -1,
         false},
        {"no gauge", {"x%"}, "x%", false, "", 0, -1, false},
        {"error then good",
         {"\033[31mBREAK\033[0m", "Programed ok!"},
         "Programed ok!",
         false,
         "",
         0,
         -1,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        PortRunView view;
        for (std::string line : c.Lines) TakeRunLine(view, line);
        EXPECT_EQ(c.Status, view.Status);
        EXPECT_EQ(c.Error, view.Error);
        EXPECT_EQ(c.File, view.File);
        EXPECT_EQ(c.Step, view.Step);
        EXPECT_EQ(c.Percent, view.Percent);
        EXPECT_EQ(c.Waiting, view.Waiting);
    }
}

TEST(GangRunArgs, ListsAndTraceNames) {
    struct ListCase {
        const char* Text;
        bool Ok;
        std::vector<int> Ports;
    } lists[] = {
        {"1,2,3,4", true, {1, 2, 3, 4}},
        {"10", true, {10}},
        {"4,1", true, {4, 1}},
        {"", false, {}},
        {"1,,2", false, {}},
        {"1,1", false, {}},
        {"0", false, {}},
        {"11", false, {}},
        {"1, 2", false, {}},
        {"001", false, {}},
    };
    for (const ListCase& c : lists) {
        std::vector<int> ports;
        EXPECT_EQ(c.Ok, ParseGangList(c.Text, ports)) << c.Text;
        if (c.Ok) EXPECT_EQ(c.Ports, ports) << c.Text;
    }
    const std::vector<std::string> args{"--trace", "run/t.txt", "--trace=.trace", "AUTO"};
    EXPECT_EQ(
        (std::vector<std::string>{"--trace", "run/t.COM3.txt", "--trace=.trace.COM3", "AUTO"}),
        PortRunArgs(args, 3));
}

}  // namespace
}  // namespace ps
