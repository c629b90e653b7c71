// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace ps {

// The station's only source of time. Every wait of the protocol goes through a Clock so
// that tests run under a virtual clock that advances instantly, while the programs use
// the real one. A Clock only tells and passes time: pumping the view while waiting is
// done by the waits themselves (link/Link.h), in short slices.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the clock was made (the program's start for the real clock).
    virtual int64_t NowMs() = 0;
    // Lets `ms` milliseconds pass (0 or less returns at once).
    virtual void SleepMs(int64_t ms) = 0;
};

class RealClock : public Clock {
public:
    RealClock();
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;

private:
    int64_t originNs_;
};

}  // namespace ps
