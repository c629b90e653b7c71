#pragma once
#include <memory>
#include <string>

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
    int LastOpenErrno() const override { return lastOpenErrno_; }
    void SetWriteTimeoutMs(int ms) override { writeTimeoutMs_ = ms; }
    int DrainOutput(int timeoutMs) override;

    // The output rate the driver runs the line at now (0 when closed or unknown).
    unsigned LineBaud() const;

private:
    int SetModemLine(int bit, bool asserted);
    bool HungUp() const;  // a zero-time poll reports hang-up or error

    std::string path_;
    std::shared_ptr<TtyCalls> tty_;
    int fd_ = -1;
    int lastOpenErrno_ = 0;
    int writeTimeoutMs_ = 1000;
};

// Sets a baud rate the termios speed table may not have (7200) through termios2/BOTHER.
// Lives apart because the kernel's termios headers clash with <termios.h>. Returns 0 or a
// negative errno.
int SetCustomBaud(TtyCalls& tty, int fd, unsigned baud);
// The driver's output rate of fd, in baud; 0 when it cannot be read.
unsigned GetLineBaud(TtyCalls& tty, int fd);

}  // namespace ps
