// SPDX-License-Identifier: MIT
#include "sim/PtyHost.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace ps::sim {

namespace {
// The board's state is logged once the line has been quiet this long after some traffic.
constexpr int64_t DescribeAfterQuietMs = 300;
}  // namespace

PtyHost::PtyHost(std::unique_ptr<Board> board, std::FILE* log) : log_(log) {
    const std::string kind = board->Kind();
    wire_ = std::make_shared<Wire>(clock_, std::move(board), "pty:" + kind);
    wire_->SetRecording(false);  // the log is the record here
}

PtyHost::~PtyHost() {
    if (slaveFd_ >= 0) ::close(slaveFd_);
    if (masterFd_ >= 0) ::close(masterFd_);
}

void PtyHost::Log(const char* format, ...) {
    if (!log_) return;
    std::fprintf(log_, "%8lld ", static_cast<long long>(clock_.NowMs()));
    va_list args;
    va_start(args, format);
    std::vfprintf(log_, format, args);
    va_end(args);
    std::fputc('\n', log_);
    std::fflush(log_);
}

void PtyHost::LogBytes(const char* tag, const uint8_t* data, size_t count) {
    if (log_ && count > 0) Log("%s %s", tag, HexBytes(data, count).c_str());
}

bool PtyHost::Open(std::string& error) {
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) {
        error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(masterFd_);
    if (!name) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slaveFd_ < 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    // Raw from the start: a terminal's echo would send the board's answers back to it, and
    // line editing would hold bytes back until a newline.
    termios t{};
    if (::tcgetattr(slaveFd_, &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slaveFd_, TCSANOW, &t);
    }
    ::fcntl(masterFd_, F_SETFL, ::fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    opened_ = true;
    wire_->Open();
    CheckBaud();
    lastDescription_ = wire_->board().Describe();
    Log("board %s", lastDescription_.c_str());
    Log("port %s", slavePath_.c_str());
    return true;
}

void PtyHost::CheckBaud() {
    const uint32_t baud = TerminalBaud(masterFd_);
    if (baud == 0 || baud == baud_) return;
    baud_ = baud;
    wire_->SetBaud(baud);
    Log("BAUD %u", baud);
}

void PtyHost::Vanish() {
    Log("board dropped off the line: closing the pseudo-terminal");
    ::close(slaveFd_);
    ::close(masterFd_);
    slaveFd_ = masterFd_ = -1;
}

void PtyHost::ReadStation() {
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(masterFd_, buf, sizeof buf);
        if (n <= 0) return;  // EAGAIN: all taken; EIO cannot happen while we hold the slave
        // The station may have changed the rate just before writing: look first.
        CheckBaud();
        LogBytes("IN ", buf, static_cast<size_t>(n));
        lastActivityMs_ = clock_.NowMs();
        if (wire_->Write(buf, static_cast<size_t>(n)) < 0 || wire_->Dead()) {
            Vanish();
            return;
        }
    }
}

void PtyHost::WriteAnswers() {
    uint8_t buf[512];
    long n = 0;
    while ((n = wire_->Read(buf, sizeof buf)) > 0) {
        LogBytes("OUT", buf, static_cast<size_t>(n));
        outbox_.insert(outbox_.end(), buf, buf + n);
        lastActivityMs_ = clock_.NowMs();
    }
    // A station that does not read lets the terminal's buffer fill: keep the rest.
    while (!outbox_.empty()) {
        const ssize_t w = ::write(masterFd_, outbox_.data(), outbox_.size());
        if (w <= 0) break;
        outbox_.erase(outbox_.begin(), outbox_.begin() + w);
    }
}

void PtyHost::Poll(int timeoutMs) {
    if (masterFd_ < 0) return;
    WriteAnswers();
    int64_t wait = timeoutMs;
    const int64_t next = wire_->NextDueMs();
    if (next >= 0) wait = std::clamp<int64_t>(next - clock_.NowMs(), 0, timeoutMs);
    if (!outbox_.empty()) wait = std::min<int64_t>(wait, 10);
    pollfd p{masterFd_, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(wait));
    CheckBaud();
    if (rc > 0 && (p.revents & POLLIN)) ReadStation();
    if (masterFd_ < 0) return;
    WriteAnswers();
    if (lastActivityMs_ >= 0 && clock_.NowMs() - lastActivityMs_ >= DescribeAfterQuietMs) {
        lastActivityMs_ = -1;
        const std::string d = wire_->board().Describe();
        if (d != lastDescription_) {
            lastDescription_ = d;
            Log("board %s", d.c_str());
        }
    }
}

void PtyHost::Run(const std::atomic<bool>& stop) {
    while (!stop && masterFd_ >= 0) Poll(PollSliceMs);
}

}  // namespace ps::sim
