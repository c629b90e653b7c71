// SPDX-License-Identifier: MIT
// The 91360 boot ROM over a pseudo-terminal: what only a real terminal driver shows.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/PosixPortDevice.h"
#include "sim/Boot91360Board.h"
#include "sim/PtyHost.h"
#include "support/StationHarness.h"
#include "targets/m91360/Rig91360.h"

namespace {

using namespace m91360test;
using Board = ps::sim::Boot91360Board;

const std::vector<std::string> Window = {"/ADDRSTART=$3E000", "/ADDRLEN=$2000", "/BLOCKLEN=256",
                                         "/BLOCKSONROW=16", "/AUTOCONTINUE"};

// A command the board does not answer, right before the port closes for the next step,
// must still reach a board on a pseudo-terminal (a close may drop what it has not read).
TEST(Boot91360, EveryStepsStartAddressReachesABoardOnAPseudoTerminal) {
    Memory image;
    Fill(image, 0x3E400, 200);
    constexpr int Runs = 10;
    for (int run = 0; run < Runs; ++run) {
        auto made = std::make_unique<Board>(Board::Options{});
        Board& rom = *made;
        ps::sim::PtyHost host(std::move(made), nullptr);
        std::string error;
        ASSERT_TRUE(host.Open(error)) << error;
        std::atomic<bool> stop{false};
        std::thread far([&] { host.Run(stop); });
        const std::string path = host.SlavePath();
        pstest::StationHarness h([path](int port) -> std::unique_ptr<ps::PortDevice> {
            return port == 1 ? std::make_unique<ps::PosixPortDevice>(path) : nullptr;
        });
        h.dir.Write("image.mhx", SRecords(image));
        std::vector<std::string> step = Window;
        step.insert(step.begin(), "/PFB=image.mhx");
        step.push_back("/BAUDRATE=115200");
        // The second step only reopens the port: the loaded program has the line by then.
        std::vector<std::string> lines = step;
        lines.insert(lines.end(), {"*** NEXT ***", "/AUTOCONTINUE"});
        h.StepFile(lines);
        const int exit = h.Run();
        stop = true;
        far.join();
        EXPECT_EQ(ps::ExitSuccess, exit) << h.view.Dump();
        EXPECT_EQ(1, rom.Starts()) << "run " << run;
        EXPECT_EQ(0x3E400u, rom.StartedAt());
    }
}

}  // namespace
