// SPDX-License-Identifier: MIT
#include "link/Clock.h"

#include <chrono>
#include <thread>

namespace ps {

namespace {
int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

RealClock::RealClock() : originNs_(SteadyNs()) {}

int64_t RealClock::NowMs() {
    return (SteadyNs() - originNs_) / 1000000;
}

void RealClock::SleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace ps
