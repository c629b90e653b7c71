// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <vector>

namespace ps {

// The station's only source of time. Every wait of the protocol goes through a Clock so
// that tests run under a virtual clock that advances instantly, while the programs use
// the real one. A Clock only tells and passes time: pumping the view while waiting is
// done by the waits themselves (link/Link.h).
//
// Waits are kept in microseconds on a monotonic clock and sleep to an absolute deadline:
// a wait computed from a millisecond clock can end up to a millisecond early, and one that
// sleeps in whole slices ends up to a slice late.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the clock was made (the program's start for the real clock).
    virtual int64_t NowMs() = 0;
    // Lets `ms` milliseconds pass (0 or less returns at once).
    virtual void SleepMs(int64_t ms) = 0;
    // Microseconds on the same scale as NowMs. A clock that keeps only milliseconds may
    // leave the default.
    virtual int64_t NowUs() { return NowMs() * 1000; }
    // Lets time pass until NowUs() has reached `us` (at once when it already has).
    virtual void SleepUntilUs(int64_t us);
    // The NowUs() reading at which `us` microseconds from now have passed for certain.
    virtual int64_t DeadlineUs(int64_t us) { return NowUs() + us; }
    // The same, but returns as soon as one of `fds` is readable (a view's standard input
    // or signal pipe). A clock whose time is not the machine's ignores them.
    virtual void SleepUntilUsOrReadable(int64_t us, const std::vector<int>& fds);
};

class RealClock : public Clock {
public:
    RealClock();
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;
    int64_t NowUs() override;
    void SleepUntilUs(int64_t us) override;
    void SleepUntilUsOrReadable(int64_t us, const std::vector<int>& fds) override;
    // One microsecond more: the reading drops the fraction of the present microsecond.
    int64_t DeadlineUs(int64_t us) override { return NowUs() + us + 1; }

private:
    int64_t originNs_;
};

// No deadline: a wait that only STOP or an answer ends.
constexpr int64_t NoDeadlineUs = INT64_MAX;

// Waits for file descriptors to become readable, at most `timeoutUs` (NoDeadlineUs: no
// limit), to the microsecond. Returns what ppoll does (-1 with errno, 0 when the time
// passed, else the count of ready ones) and the events of fds[0] in firstEvents (may be
// nullptr). Shared by the real clock and the POSIX port device.
int PollReadable(const std::vector<int>& fds, int64_t timeoutUs, short* firstEvents);

}  // namespace ps
