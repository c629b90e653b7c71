// SPDX-License-Identifier: MIT
#include "support/RunGuard.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/Wire.h"

namespace pstest {

namespace {

constexpr size_t ShownBytes = 16;  // the last bytes each way a failure message shows

std::string LastBytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return "(none)";
    const size_t from = bytes.size() > ShownBytes ? bytes.size() - ShownBytes : 0;
    std::string text = from > 0 ? "... " : "";
    return text + ps::sim::HexBytes(bytes.data() + from, bytes.size() - from);
}

std::string CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info == nullptr) return "(outside a test)";
    return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace

// ---- WallAlarm ----

WallAlarm::WallAlarm(std::function<void()> action)
    : action_(std::move(action)), thread_([this] { Loop(); }) {}

WallAlarm::~WallAlarm() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void WallAlarm::Arm(std::chrono::milliseconds after) {
    {
        std::lock_guard lock(mutex_);
        deadline_ = std::chrono::steady_clock::now() + after;
        fired_ = false;
    }
    wake_.notify_all();
}

void WallAlarm::Disarm() {
    {
        std::lock_guard lock(mutex_);
        deadline_.reset();
    }
    wake_.notify_all();
}

bool WallAlarm::Fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
}

void WallAlarm::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (quit_) return;
        if (!deadline_) {
            wake_.wait(lock);
            continue;
        }
        if (wake_.wait_until(lock, *deadline_) == std::cv_status::timeout && deadline_ &&
            std::chrono::steady_clock::now() >= *deadline_ && !quit_) {
            deadline_.reset();
            fired_ = true;
            lock.unlock();
            action_();
            lock.lock();
        }
    }
}

// ---- GuardedView ----

GuardedView::GuardedView(ps::Clock& clock)
    : RecordingView(clock), clock_(clock), soft_([this] { wallPassed_ = true; }), hard_([this] {
          std::fprintf(stderr,
                       "%s: a run went on for %lld s of wall time and stopped answering; "
                       "ending the test program\n",
                       testName_.c_str(),
                       static_cast<long long>((WallLimit + WallGrace).count() / 1000));
          std::fflush(stderr);
          std::abort();
      }) {}

void GuardedView::Arm(int64_t limitMs) {
    // The hard alarm reads the name from its own thread: set it before arming.
    testName_ = CurrentTestName();
    armed_ = true;
    startMs_ = clock_.NowMs();
    limitMs_ = limitMs;
    stoppedAtMs_ = -1;
    soft_.Arm(WallLimit);
    wallPassed_ = false;  // after the new deadline, so an old one cannot leave it set
    hard_.Arm(WallLimit + WallGrace);
}

void GuardedView::Disarm() {
    armed_ = false;
    soft_.Disarm();
    hard_.Disarm();
}

void GuardedView::PumpMessages() {
    RecordingView::PumpMessages();
    if (!armed_) return;
    const int64_t now = clock_.NowMs();
    if (stoppedAtMs_ < 0) {
        const bool wall = wallPassed_;
        if (!wall && now - startMs_ <= limitMs_) return;
        stoppedAtMs_ = now;
        ADD_FAILURE() << "the run did not end within "
                      << (wall ? std::to_string(WallLimit.count()) + " ms of wall time"
                               : std::to_string(limitMs_) + " ms on the station's clock")
                      << "; it was waiting in: "
                      << (Describe ? Describe() : DescribeRun(*this, nullptr, now))
                      << "\nSTOP pressed.";
        if (Stop) Stop();
        return;
    }
    if (now - stoppedAtMs_ > limitMs_) {
        Disarm();
        throw RunDidNotEnd("the run went on " + std::to_string(limitMs_) +
                           " ms after STOP was pressed");
    }
}

std::string DescribeRun(const ps::sim::RecordingView& view, const ps::sim::Transcript* transcript,
                        int64_t nowMs) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "%06X", view.LastStatusColour());
    const std::string status = view.LastStatus();
    std::string text = status.empty() ? std::string("no status yet")
                                      : "status \"" + status + "\" [" + colour + "]";
    text += " at " + std::to_string(nowMs) + " ms";
    if (transcript != nullptr) {
        text += "; last sent " + LastBytes(transcript->SentBytes());
        text += "; last received " + LastBytes(transcript->Received);
    }
    return text;
}

// ---- ChildDeadline ----

ChildDeadline::ChildDeadline(int pid, std::chrono::milliseconds limit)
    : pid_(pid), alarm_([this] { ::kill(pid_, SIGKILL); }) {
    alarm_.Arm(limit);
}

}  // namespace pstest
