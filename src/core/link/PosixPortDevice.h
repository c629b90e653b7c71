// SPDX-License-Identifier: MIT
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/PortDevice.h"

struct termios;  // <termios.h>

namespace ps {

// The device's calls into the terminal driver's settings and modem lines: every ioctl and
// the termios pair go through here. The base class makes the real calls (each returns what
// the system call does: -1 with errno on failure). A test hands the device its own to see
// what a pseudo-terminal cannot show: the DTR and RTS levels, parity enable, data bits.
class TtyCalls {
public:
    virtual ~TtyCalls() = default;
    virtual int Ioctl(int fd, unsigned long request, void* arg);
    virtual int GetAttributes(int fd, termios& tio);
    virtual int SetAttributes(int fd, const termios& tio);  // at once (TCSANOW)

    // The real calls, shared by every device that is given no others.
    static std::shared_ptr<TtyCalls> Real();
};

// A serial port through POSIX termios: a real port, a USB adapter or a pseudo-terminal.
//
// Opened for exclusive use (TIOCEXCL, and an advisory flock because TIOCEXCL does not
// stop root), raw, with reads that return at once. A device without modem-control lines
// (a pseudo-terminal) takes DTR/RTS requests without effect. A device that goes away while
// open (hang-up) makes every later call fail with -EIO.
// True when the path is the terminal the kernel's console is on (unless the environment
// says PROGSTATION_ALLOW_CONSOLE=1): such a port is refused as busy.
bool IsSystemConsole(const std::string& path);

class PosixPortDevice : public PortDevice {
public:
    explicit PosixPortDevice(std::string path, std::shared_ptr<TtyCalls> tty = TtyCalls::Real());
    ~PosixPortDevice() override;
    PosixPortDevice(const PosixPortDevice&) = delete;
    PosixPortDevice& operator=(const PosixPortDevice&) = delete;

    std::string Name() const override { return path_; }
    int Open() override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    int ApplyLineSettings(const LineSettings& settings) override;
    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t count) override;
    long BytesWaiting() override;
    int Purge() override;
    int SetDtr(bool asserted) override;
    int SetRts(bool asserted) override;
    int WaitReadable(int timeoutMs) override;
    int WaitReadableOrWake(int64_t timeoutUs, const std::vector<int>& wakeFds) override;
    int LastOpenErrno() const override { return lastOpenErrno_; }
    void SetWriteTimeoutMs(int ms) override { writeTimeoutMs_ = ms; }
    int DrainOutput(int timeoutMs) override;

    // The output rate the driver runs the line at now (0 when closed or unknown).
    unsigned LineBaud() const;
    std::string TakeNotice() override { return std::exchange(notice_, {}); }
    // Where the adapter's latency timer is looked up ("/sys"); tests build a tree of their own.
    void SetSysRoot(std::string root) { sysRoot_ = std::move(root); }

private:
    int SetModemLine(int bit, bool asserted);
    void RequestLowLatency(int fd);
    bool HungUp() const;  // a zero-time poll reports hang-up or error

    std::string path_;
    std::shared_ptr<TtyCalls> tty_;
    int fd_ = -1;
    int lastOpenErrno_ = 0;
    int writeTimeoutMs_ = 1000;
    std::string notice_;
    // When the last byte written leaves the line (steady clock, ns) at the rate set, and
    // whether the board has said anything since: see DrainOutput.
    uint32_t baud_ = 9600;
    int64_t lineFreeNs_ = 0;
    bool unanswered_ = false;
    std::string sysRoot_ = "/sys";
};

// Many USB serial adapters hold received bytes up to their latency timer (16 ms for an
// FTDI chip by default) before passing them on, which makes every acknowledged block a
// round trip of that length. The text that tells the operator how to lower the timer of
// tty `name` (its file under sysRoot/class/tty/NAME/device/latency_timer), or "" when
// there is no such timer or it is 2 ms or less.
std::string LatencyNotice(const std::string& sysRoot, const std::string& name);

// Sets a baud rate the termios speed table may not have (7200) through termios2/BOTHER.
// Lives apart because the kernel's termios headers clash with <termios.h>. Returns 0 or a
// negative errno.
int SetCustomBaud(TtyCalls& tty, int fd, unsigned baud);
// The driver's output rate of fd, in baud; 0 when it cannot be read.
unsigned GetLineBaud(TtyCalls& tty, int fd);

}  // namespace ps
