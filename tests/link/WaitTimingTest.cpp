// SPDX-License-Identifier: MIT
// How long the station's waits last: never shorter than their time on the real clock,
// exactly their time on the virtual one, and no wake-ups of their own for a view that names
// what it waits on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "run/Station.h"
#include "link/Clock.h"
#include "link/Link.h"
#include "link/PosixPortDevice.h"
#include "link/PseudoTerminal.h"
#include "sim/VirtualClock.h"

namespace ps {
namespace {

// Counts pumps; names `wake` as its descriptors to wake on (none: it is pumped in slices).
struct CountingView : NullView {
    long Pumps = 0;
    std::vector<int> Wake;
    void PumpMessages() override { ++Pumps; }
    std::vector<int> WakeFds() override { return Wake; }
};

enum class Kind { Fixed, LineTime, Split, Answer };

struct WaitCase {
    const char* Name;
    Kind What;
    int64_t Us;
};

// Every kind of prescribed wait: the fixed pauses, a command's line time, a pause split
// around the next command's work, and the time limit of an answer that never comes.
const WaitCase Cases[] = {
    {"1 ms", Kind::Fixed, 1000},           {"2 ms", Kind::Fixed, 2000},
    {"5 ms", Kind::Fixed, 5000},           {"10 ms", Kind::Fixed, 10000},
    {"11 ms", Kind::Fixed, 11000},         {"50 ms", Kind::Fixed, 50000},
    {"1 byte", Kind::LineTime, 87},        {"16 bytes", Kind::LineTime, 1389},
    {"120 bytes", Kind::LineTime, 10417},  {"5 ms split", Kind::Split, 5000},
    {"answer 3 ms", Kind::Answer, 3000},   {"answer 15 ms", Kind::Answer, 15000},
    {"answer 50 ms", Kind::Answer, 50000},
};

void RunWait(Station& st, const WaitCase& c) {
    switch (c.What) {
        case Kind::Fixed:
            WaitMs(st, static_cast<int>(c.Us / 1000));
            break;
        case Kind::LineTime:
            PauseUsUnlessStopped(st, c.Us);
            break;
        case Kind::Split: {
            const int64_t end = DeadlineAfterMs(st, static_cast<int>(c.Us / 1000));
            st.Progress(50);  // the next command's work, done while the pause runs
            WaitUntil(st, end, false);
            break;
        }
        case Kind::Answer:
            EXPECT_FALSE(AwaitInput(st, c.Us)) << c.Name;
            break;
    }
}

void OpenOn(Station& st, const std::string& path) {
    st.Comm.SetResolver([path](int) { return std::make_unique<PosixPortDevice>(path); });
    st.Comm.SetPortNum(1);
    st.Comm.SetBaudrate(br115200);
    st.Comm.Open();
}

// Over many waits, none ends before its time: measured on the machine's monotonic clock,
// apart from the station's, with a view pumped in slices and with one that wakes only on
// its descriptors (the terminal station), which is pumped only around the one block.
TEST(Waits, NoneEndsBeforeItsTimeOnTheRealClock) {
    test::PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    int wakePipe[2];
    ASSERT_EQ(0, pipe(wakePipe));
    constexpr int Repeats = 12;
    for (bool wakes : {false, true}) {
        RealClock clock;
        CountingView view;
        if (wakes) view.Wake = {wakePipe[0]};
        Station st(clock, view);
        OpenOn(st, pty.SlavePath());
        int early = 0;
        for (const WaitCase& c : Cases) {
            for (int i = 0; i < Repeats; ++i) {
                const long pumpsBefore = view.Pumps;
                const auto start = std::chrono::steady_clock::now();
                RunWait(st, c);
                const auto lasted = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count();
                if (lasted < c.Us * 1000) {
                    ++early;
                    ADD_FAILURE() << c.Name << " lasted " << lasted << " ns";
                }
                if (wakes) {
                    EXPECT_LE(view.Pumps - pumpsBefore, 4) << c.Name;
                }
            }
        }
        EXPECT_EQ(0, early);
        st.Comm.Close();
    }
    close(wakePipe[0]);
    close(wakePipe[1]);
}

// The virtual clock passes exactly the wait's time: no slice, no rounding to milliseconds.
TEST(Waits, TakeExactlyTheirTimeOnTheVirtualClock) {
    for (const WaitCase& c : Cases) {
        sim::VirtualClock clock;
        CountingView view;
        Station st(clock, view);  // a closed port: an answer never comes
        const int64_t start = clock.NowUs();
        RunWait(st, c);
        EXPECT_EQ(c.Us, clock.NowUs() - start) << c.Name;
    }
}

}  // namespace
}  // namespace ps
