// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

#include "link/Clock.h"

namespace ps::sim {

// Time for tests: sleeping advances it at once, so a run that waits 500 ms per handshake
// round takes microseconds. The simulated port delivers a board's answers at its times.
class VirtualClock : public Clock {
public:
    int64_t NowMs() override { return nowUs_ / 1000; }
    void SleepMs(int64_t ms) override {
        if (ms > 0) nowUs_ += ms * 1000;
    }
    int64_t NowUs() override { return nowUs_; }
    void SleepUntilUs(int64_t us) override {
        // No deadline under a virtual clock would never return: the caller's slice bounds it.
        if (us > nowUs_ && us != NoDeadlineUs) nowUs_ = us;
    }

private:
    int64_t nowUs_ = 0;
};

}  // namespace ps::sim
