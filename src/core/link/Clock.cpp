// SPDX-License-Identifier: MIT
#include "link/Clock.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace ps {

namespace {
int64_t MonotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

timespec ToTimespec(int64_t ns) {
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}
}  // namespace

void Clock::SleepUntilUs(int64_t us) {
    const int64_t left = us - NowUs();
    if (left > 0) SleepMs((left + 999) / 1000);
}

void Clock::SleepUntilUsOrReadable(int64_t us, const std::vector<int>&) {
    SleepUntilUs(us);
}

int PollReadable(const std::vector<int>& fds, int64_t timeoutUs, short* firstEvents) {
    std::vector<pollfd> set;
    set.reserve(fds.size());
    for (int fd : fds) set.push_back({fd, POLLIN, 0});
    timespec limit{};
    const timespec* limitPtr = nullptr;
    if (timeoutUs != NoDeadlineUs) {
        limit = ToTimespec(timeoutUs > 0 ? timeoutUs * 1000 : 0);
        limitPtr = &limit;
    }
    const int r = ::ppoll(set.data(), set.size(), limitPtr, nullptr);
    if (firstEvents != nullptr) *firstEvents = set.empty() || r <= 0 ? 0 : set[0].revents;
    return r;
}

RealClock::RealClock() : originNs_(MonotonicNs()) {
    // The kernel may let a sleep of this thread run 50 us past its end by default, to
    // group wake-ups; a station that sleeps to the end of every prescribed wait asks for
    // its deadlines to be kept as they are.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

int64_t RealClock::NowMs() {
    return (MonotonicNs() - originNs_) / 1000000;
}

int64_t RealClock::NowUs() {
    return (MonotonicNs() - originNs_) / 1000;
}

void RealClock::SleepMs(int64_t ms) {
    if (ms > 0) SleepUntilUs(NowUs() + ms * 1000 + 1);
}

void RealClock::SleepUntilUs(int64_t us) {
    if (us == NoDeadlineUs) us = NowUs() + int64_t{3600} * 1000000;
    // An absolute deadline: a signal or a late wake-up never makes the sleep longer or
    // shorter than its end.
    const timespec end = ToTimespec(originNs_ + us * 1000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}

void RealClock::SleepUntilUsOrReadable(int64_t us, const std::vector<int>& fds) {
    if (fds.empty()) return SleepUntilUs(us);
    const int64_t now = NowUs();
    if (us != NoDeadlineUs && us <= now) return;
    // ppoll takes a relative limit; it may end a little early by the clock's reading, so
    // the caller loops to its deadline (every wait does).
    PollReadable(fds, us == NoDeadlineUs ? NoDeadlineUs : us - now + 1, nullptr);
}

}  // namespace ps
