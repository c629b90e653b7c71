// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

#include "link/Clock.h"

namespace ps::sim {

// Time for tests: SleepMs advances it at once, so a run that waits 500 ms per handshake
// round takes microseconds. The simulated port delivers a board's answers at its times.
class VirtualClock : public Clock {
public:
    int64_t NowMs() override { return now_; }
    void SleepMs(int64_t ms) override {
        if (ms > 0) now_ += ms;
    }

private:
    int64_t now_ = 0;
};

}  // namespace ps::sim
