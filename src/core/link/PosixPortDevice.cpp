// SPDX-License-Identifier: MIT
#include "link/PosixPortDevice.h"

#include "link/Clock.h"

#include <linux/serial.h>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>

namespace ps {

namespace {

struct SpeedEntry {
    unsigned Baud;
    speed_t Code;
};

// The rates termios names directly; any other goes through SetCustomBaud.
constexpr SpeedEntry StandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardSpeed(unsigned baud, speed_t& code) {
    for (const SpeedEntry& e : StandardSpeeds) {
        if (e.Baud == baud) {
            code = e.Code;
            return true;
        }
    }
    return false;
}

constexpr short HangUpEvents = POLLHUP | POLLERR | POLLNVAL;

// The far side of a pseudo-terminal (a simulated board, a network serial bridge) must have
// read a last command before the port is purged and closed, or Linux throws it away; a
// UART's FIFO must have shifted it out. Besides the bytes' line time it gets this much.
constexpr int64_t LastBytesMarginNs = 5000000;
constexpr int64_t BitsPerByte = 10;

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int TtyCalls::Ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

int TtyCalls::GetAttributes(int fd, termios& tio) {
    return ::tcgetattr(fd, &tio);
}

int TtyCalls::SetAttributes(int fd, const termios& tio) {
    return ::tcsetattr(fd, TCSANOW, &tio);
}

std::shared_ptr<TtyCalls> TtyCalls::Real() {
    static const std::shared_ptr<TtyCalls> real = std::make_shared<TtyCalls>();
    return real;
}

PosixPortDevice::PosixPortDevice(std::string path, std::shared_ptr<TtyCalls> tty)
    : path_(std::move(path)), tty_(tty ? std::move(tty) : TtyCalls::Real()) {}

PosixPortDevice::~PosixPortDevice() {
    Close();
}

bool IsSystemConsole(const std::string& path) {
    if (const char* allow = std::getenv("PROGSTATION_ALLOW_CONSOLE"); allow && *allow == '1')
        return false;
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
    std::ifstream active("/sys/class/tty/console/active");
    std::string name;
    while (active >> name) {
        struct stat console {};
        if (::stat(("/dev/" + name).c_str(), &console) == 0 && S_ISCHR(console.st_mode) &&
            console.st_rdev == target.st_rdev)
            return true;
    }
    return false;
}

int PosixPortDevice::Open() {
    if (fd_ >= 0) return -EBUSY;
    // The kernel's console shares the port with whoever logs in or reads boot messages: the
    // station's bytes and line changes would land there, and a board's answers would mix
    // with the console's traffic. It is never opened by mistake (an unmapped COM1 is
    // /dev/ttyS0, the console on many machines).
    if (IsSystemConsole(path_)) {
        lastOpenErrno_ = EBUSY;
        return -EBUSY;
    }
    int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastOpenErrno_ = errno;
        return -lastOpenErrno_;
    }
    auto fail = [&](int err) {
        ::close(fd);
        lastOpenErrno_ = err;
        return -err;
    };
    // Not a terminal (a plain file named by mistake): there is no port to drive.
    struct termios tio {};
    if (tty_->GetAttributes(fd, tio) != 0) return fail(errno);
    // Another program (or another station) has the port: both would read each other's
    // answers. The flock also holds against root, whom TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (tty_->Ioctl(fd, TIOCEXCL, nullptr) != 0) return fail(errno);
    RequestLowLatency(fd);
    fd_ = fd;
    lastOpenErrno_ = 0;
    unanswered_ = false;
    lineFreeNs_ = 0;
    return 0;
}

// Asks the driver to pass received bytes on at once (ASYNC_LOW_LATENCY, which the FTDI
// driver turns into a 1 ms timer). Never fails the open: where it is refused (a
// pseudo-terminal, a driver without it) the adapter's own timer is looked at and, when it
// is long, the operator is told once how to lower it.
void PosixPortDevice::RequestLowLatency(int fd) {
    struct serial_struct serial {};
    if (tty_->Ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        if (serial.flags & ASYNC_LOW_LATENCY) return;
        serial.flags |= ASYNC_LOW_LATENCY;
        if (tty_->Ioctl(fd, TIOCSSERIAL, &serial) == 0) return;
    }
    char resolved[PATH_MAX];
    const std::string device = ::realpath(path_.c_str(), resolved) ? resolved : path_;
    notice_ = LatencyNotice(sysRoot_, device.substr(device.rfind('/') + 1));
}

std::string LatencyNotice(const std::string& sysRoot, const std::string& name) {
    std::ifstream timer(sysRoot + "/class/tty/" + name + "/device/latency_timer");
    int ms = 0;
    if (!(timer >> ms) || ms <= 2) return "";
    return "/dev/" + name + " holds received bytes up to " + std::to_string(ms) +
           " ms (its latency_timer), so every answer may come that much late; lower it "
           "with: echo 1 | sudo tee /sys/bus/usb-serial/devices/" + name +
           "/latency_timer (the package's udev rule does this for FTDI adapters)";
}

void PosixPortDevice::Close() {
    if (fd_ < 0) return;
    tty_->Ioctl(fd_, TIOCNXCL, nullptr);  // the exclusive flag can outlive this descriptor
    ::close(fd_);                         // also drops the flock
    fd_ = -1;
}

int PosixPortDevice::ApplyLineSettings(const LineSettings& s) {
    if (fd_ < 0) return -EBADF;
    struct termios tio {};
    if (tty_->GetAttributes(fd_, tio) != 0) return -errno;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // Without HUPCL, closing the port leaves DTR and RTS where the run left them (the boot
    // line at run level, the reset line released); with it the driver would drop both,
    // putting a board with an inverted boot line back in boot mode and holding one with
    // an active-low reset in reset for as long as the port stays closed.
    tio.c_cflag &= ~HUPCL;
    switch (s.DataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return -EINVAL;  // 4 data bits: no termios port has them
    }
    switch (s.Parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return -EINVAL;
    }
    if (s.StopBits != 0) tio.c_cflag |= CSTOPB;  // termios has no 1.5: two is the nearest
    if (s.RtsCts) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.XonXoff) tio.c_iflag |= IXON | IXOFF;
    // DTR/DSR flow control has no termios counterpart; the station never asks for it.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    speed_t code = B38400;
    bool standard = StandardSpeed(s.Baud, code);
    ::cfsetispeed(&tio, code);
    ::cfsetospeed(&tio, code);
    if (tty_->SetAttributes(fd_, tio) != 0) return -errno;
    if (s.Baud > 0) baud_ = s.Baud;
    if (!standard) return SetCustomBaud(*tty_, fd_, s.Baud);
    return 0;
}

unsigned PosixPortDevice::LineBaud() const {
    return fd_ >= 0 ? GetLineBaud(*tty_, fd_) : 0;
}

bool PosixPortDevice::HungUp() const {
    struct pollfd p {
        fd_, POLLIN, 0
    };
    return ::poll(&p, 1, 0) > 0 && (p.revents & HangUpEvents) != 0;
}

long PosixPortDevice::Write(const uint8_t* data, size_t count) {
    if (fd_ < 0) return -EBADF;
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(writeTimeoutMs_);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, data + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -errno;
        // The driver's queue is full: wait for room, but never past the write time limit.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) break;
        struct pollfd p {
            fd_, POLLOUT, 0
        };
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno != EINTR) return -errno;
        if (r > 0 && (p.revents & HangUpEvents) != 0) return -EIO;
    }
    if (done > 0) {
        const int64_t now = SteadyNs();
        lineFreeNs_ = std::max(lineFreeNs_, now) +
                      static_cast<int64_t>(done) * BitsPerByte * 1000000000 / baud_;
        unanswered_ = true;
    }
    return static_cast<long>(done);
}

long PosixPortDevice::Read(uint8_t* data, size_t count) {
    if (fd_ < 0) return -EBADF;
    if (count == 0) return 0;
    ssize_t n = ::read(fd_, data, count);
    if (n > 0) {
        unanswered_ = false;
        return n;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        return -errno;
    }
    // With VMIN=0 an empty read is normal, but a hung-up terminal also reads as empty:
    // only poll can tell the two apart.
    return HungUp() ? -EIO : 0;
}

long PosixPortDevice::BytesWaiting() {
    if (fd_ < 0) return -EBADF;
    int n = 0;
    if (tty_->Ioctl(fd_, FIONREAD, &n) != 0) return -errno;
    if (n == 0 && HungUp()) return -EIO;
    return n;
}

int PosixPortDevice::DrainOutput(int timeoutMs) {
    if (fd_ < 0) return -EBADF;
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int queued = 0;
        if (tty_->Ioctl(fd_, TIOCOUTQ, &queued) != 0) return -errno;
        if (queued <= 0) break;
        if (Steady::now() >= deadline) return -ETIMEDOUT;
        ::poll(nullptr, 0, 1);
    }
    // The driver's queue says nothing of a UART's FIFO or of a pseudo-terminal's far side:
    // bytes the board has not answered get their line time and a margin as well.
    if (!unanswered_) return 0;
    const int64_t due = lineFreeNs_ + LastBytesMarginNs;
    const int64_t limit = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              deadline.time_since_epoch())
                              .count();
    const int64_t end = std::min(due, limit);
    for (int64_t now = SteadyNs(); now < end; now = SteadyNs()) {
        const timespec left{static_cast<time_t>((end - now) / 1000000000),
                            static_cast<long>((end - now) % 1000000000)};
        ::nanosleep(&left, nullptr);
    }
    if (SteadyNs() < due) return -ETIMEDOUT;
    unanswered_ = false;
    return 0;
}

int PosixPortDevice::WaitReadableOrWake(int64_t timeoutUs, const std::vector<int>& wakeFds) {
    if (fd_ < 0) return -EBADF;
    std::vector<int> fds{fd_};
    fds.insert(fds.end(), wakeFds.begin(), wakeFds.end());
    short events = 0;
    const int r = PollReadable(fds, timeoutUs, &events);
    if (r < 0) return errno == EINTR ? 0 : -errno;
    if ((events & HangUpEvents) != 0) return -EIO;
    return (events & POLLIN) != 0 ? 1 : 0;
}

int PosixPortDevice::Purge() {
    if (fd_ < 0) return -EBADF;
    if (::tcflush(fd_, TCIOFLUSH) != 0) return -errno;
    return 0;
}

int PosixPortDevice::SetModemLine(int bit, bool asserted) {
    if (fd_ < 0) return -EBADF;
    if (tty_->Ioctl(fd_, asserted ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
    // A pseudo-terminal has no modem lines and says so; a simulated board on one still
    // needs the request to go through.
    if (errno == ENOTTY || errno == EINVAL) return HungUp() ? -EIO : 0;
    return -errno;
}

int PosixPortDevice::SetDtr(bool asserted) {
    return SetModemLine(TIOCM_DTR, asserted);
}

int PosixPortDevice::SetRts(bool asserted) {
    return SetModemLine(TIOCM_RTS, asserted);
}

int PosixPortDevice::WaitReadable(int timeoutMs) {
    if (fd_ < 0) return -EBADF;
    struct pollfd p {
        fd_, POLLIN, 0
    };
    int r = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (r < 0) return errno == EINTR ? 0 : -errno;
    if (r == 0) return 0;
    if ((p.revents & HangUpEvents) != 0) return -EIO;
    return (p.revents & POLLIN) != 0 ? 1 : 0;
}

}  // namespace ps
