// SPDX-License-Identifier: MIT
#pragma once
// Bounds for every test that runs a station or a program: a run that does not end fails its
// test within seconds of wall time, saying what it was waiting for, instead of hanging until
// the test driver's time-out.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "link/Clock.h"
#include "sim/RecordingView.h"

namespace ps::sim {
struct Transcript;
}

namespace pstest {

// No run of a test project comes near this on the station's clock (virtual time). A test
// whose run is meant to take longer says so with Arm(its own limit).
inline constexpr int64_t RunLimitMs = 10 * 60 * 1000;
// Wall time after which a run is stopped even though the station's clock has not reached
// the limit (a loop that pumps without letting time pass, or a real clock).
inline constexpr std::chrono::milliseconds WallLimit{15000};
// Further wall time after which a run that does not even pump any more ends the test
// program (nothing else can end it).
inline constexpr std::chrono::milliseconds WallGrace{10000};
// Wall time a child program (the terminal station, boardsim) may run in a test.
inline constexpr std::chrono::milliseconds ProgramLimit{20000};

// Runs an action on a thread of its own once a wall-clock deadline passes, unless disarmed
// first. Arming again moves the deadline.
class WallAlarm {
public:
    explicit WallAlarm(std::function<void()> action);
    ~WallAlarm();
    WallAlarm(const WallAlarm&) = delete;
    WallAlarm& operator=(const WallAlarm&) = delete;

    void Arm(std::chrono::milliseconds after);
    void Disarm();
    bool Fired() const;

private:
    void Loop();

    std::function<void()> action_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool fired_ = false;
    bool quit_ = false;
    std::thread thread_;
};

// Raised from a pump when a run ignored the STOP its guard pressed: nothing else ends it.
class RunDidNotEnd : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A recording view that does not let a run go on for ever. Once armed, the first pump past
// the run limit on the station's clock, or past WallLimit of wall time, fails the test with
// the state the run was waiting in (Describe) and presses STOP (Stop). A run that goes on
// pumping for another run limit after that is ended with RunDidNotEnd; one that stops
// pumping altogether ends the test program after WallGrace, naming the test.
class GuardedView : public ps::sim::RecordingView {
public:
    explicit GuardedView(ps::Clock& clock);

    std::function<void()> Stop;
    std::function<std::string()> Describe;

    // Starts the bounds from now (again).
    void Arm(int64_t limitMs = RunLimitMs);
    void Disarm();
    // True once this view has stopped a run.
    bool Tripped() const { return stoppedAtMs_ >= 0; }

    void PumpMessages() override;

private:
    ps::Clock& clock_;
    bool armed_ = false;
    int64_t startMs_ = 0;
    int64_t limitMs_ = RunLimitMs;
    int64_t stoppedAtMs_ = -1;
    std::string testName_;
    std::atomic<bool> wallPassed_{false};
    WallAlarm soft_;
    WallAlarm hard_;
};

// "status "connecting..." in red at 600010 ms; last sent 73 73 73; last received (none)":
// what a stuck run was waiting in, for failure messages. transcript may be nullptr.
std::string DescribeRun(const ps::sim::RecordingView& view, const ps::sim::Transcript* transcript,
                        int64_t nowMs);

// Kills a child process that is still running when a deadline passes, so a test that reads
// its output or waits for it cannot hang. Cancel (or destruction) before the deadline
// leaves the child alone.
class ChildDeadline {
public:
    ChildDeadline(int pid, std::chrono::milliseconds limit = ProgramLimit);
    void Cancel() { alarm_.Disarm(); }
    // True when the child had to be killed.
    bool Killed() const { return alarm_.Fired(); }

private:
    int pid_;
    WallAlarm alarm_;
};

}  // namespace pstest
